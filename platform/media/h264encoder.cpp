#include "platform/media/h264encoder.h"

#include <cstring>

extern "C" {
#include <x264.h>
}

namespace platform {

H264Encoder::H264Encoder() = default;

H264Encoder::~H264Encoder()
{
    if (m_encoder)
        x264_encoder_close(m_encoder);
}

bool H264Encoder::parameters(const Config& config, x264_param_t* out)
{
    if (config.width <= 0 || config.height <= 0 || config.width % 2 || config.height % 2 || config.fps <= 0
        || config.gop <= 0 || config.bitRate < 1000)
        return false;
    const char* profile = nullptr;
    switch (config.profileIdc) {
    case 66: profile = "baseline"; break;
    case 77: profile = "main"; break;
    case 100: profile = "high"; break;
    default: return false;
    }
    x264_param_t p;
    if (x264_param_default_preset(&p, "ultrafast", "zerolatency") < 0)
        return false;
    p.b_cabac = config.profileIdc != 66;  // ultrafast alone would signal Constrained Baseline
    p.i_threads = 1;
    p.b_sliced_threads = 0;
    p.i_csp = X264_CSP_NV12;
    p.i_width = config.width;
    p.i_height = config.height;
    p.i_fps_num = uint32_t(config.fps);
    p.i_fps_den = 1;
    p.i_timebase_num = 1;
    p.i_timebase_den = uint32_t(config.fps);
    p.i_keyint_max = config.gop;
    p.i_keyint_min = config.gop;
    p.i_scenecut_threshold = 0;  // IDRs only on the GOP
    p.i_bframe = 0;
    p.b_repeat_headers = 1;      // SPS and PPS before every IDR
    p.b_annexb = 1;
    p.i_log_level = X264_LOG_NONE;
    const int kbit = config.bitRate / 1000;
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = kbit;
    p.rc.i_vbv_max_bitrate = kbit;
    p.rc.i_vbv_buffer_size = kbit;  // one second
    if (x264_param_apply_profile(&p, profile) < 0)
        return false;
    *out = p;
    return true;
}

bool H264Encoder::open(const Config& config)
{
    x264_param_t p;
    if (!parameters(config, &p))
        return false;
    if (m_encoder)
        x264_encoder_close(m_encoder);
    m_encoder = x264_encoder_open(&p);
    m_width = config.width;
    m_height = config.height;
    return m_encoder != nullptr;
}

int H264Encoder::encode(const uint8_t* nv12, int64_t pts, const uint8_t** unit)
{
    *unit = nullptr;
    if (!m_encoder || !nv12)
        return -1;
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_NV12;
    in.img.i_plane = 2;
    in.img.plane[0] = const_cast<uint8_t*>(nv12);
    in.img.i_stride[0] = m_width;
    in.img.plane[1] = const_cast<uint8_t*>(nv12) + size_t(m_width) * size_t(m_height);
    in.img.i_stride[1] = m_width;
    in.i_pts = pts;
    x264_picture_t pic;
    x264_nal_t* nals = nullptr;
    int count = 0;
    const int bytes = x264_encoder_encode(m_encoder, &nals, &count, &in, &pic);
    if (bytes < 0)
        return -1;
    // The units of one frame lie one after another in libx264's buffer.
    if (bytes > 0)
        *unit = nals[0].p_payload;
    return bytes;
}

}  // namespace platform
