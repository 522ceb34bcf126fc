#include "support/h264testsource.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

extern "C" {
#include <x264.h>
}

namespace testsupport {

namespace {

H264TestStream encode(int gops)
{
    H264TestStream out;
    x264_param_t p;
    if (x264_param_default_preset(&p, "ultrafast", "zerolatency") < 0)
        std::abort();
    p.i_width = out.width;
    p.i_height = out.height;
    p.i_csp = X264_CSP_I420;
    p.i_fps_num = uint32_t(out.fps);
    p.i_fps_den = 1;
    p.b_vfr_input = 0;
    p.i_keyint_max = out.gop;
    p.i_keyint_min = out.gop;
    p.i_scenecut_threshold = 0;
    p.b_repeat_headers = 1;
    p.b_annexb = 1;
    p.b_cabac = 1;
    p.i_bframe = 0;
    p.i_log_level = X264_LOG_NONE;
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = 2025;  // kbit/s: 2,073,600 bit/s
    p.rc.i_vbv_max_bitrate = 2025;
    p.rc.i_vbv_buffer_size = 2025;
    if (x264_param_apply_profile(&p, "main") < 0)
        std::abort();
    x264_t* enc = x264_encoder_open(&p);
    if (!enc)
        std::abort();
    x264_picture_t pic;
    if (x264_picture_alloc(&pic, X264_CSP_I420, out.width, out.height) < 0)
        std::abort();
    uint32_t seed = 7;
    auto rng = [&seed] { seed = seed * 1664525u + 1013904223u; return seed >> 24; };
    const int total = gops * out.gop;
    for (int i = 0; i < total; ++i) {
        uint8_t* y = pic.img.plane[0];
        for (int r = 0; r < out.height; ++r) {
            for (int c = 0; c < out.width; ++c)
                y[r * pic.img.i_stride[0] + c] = uint8_t((c + r + 8 * i) + (rng() & 15));
        }
        for (int pl = 1; pl < 3; ++pl) {
            for (int r = 0; r < out.height / 2; ++r) {
                for (int c = 0; c < out.width / 2; ++c)
                    pic.img.plane[pl][r * pic.img.i_stride[pl] + c] = uint8_t(128 + ((c / 32 + i) & 7) * pl);
            }
        }
        pic.i_pts = i;
        pic.i_type = (i % out.gop == 0) ? X264_TYPE_IDR : X264_TYPE_AUTO;
        x264_nal_t* nals = nullptr;
        int nnal = 0;
        x264_picture_t pic_out;
        const int size = x264_encoder_encode(enc, &nals, &nnal, &pic, &pic_out);
        if (size < 0)
            std::abort();
        if (size > 0)
            out.frames.emplace_back(reinterpret_cast<const char*>(nals[0].p_payload), size_t(size));
    }
    while (x264_encoder_delayed_frames(enc) > 0) {
        x264_nal_t* nals = nullptr;
        int nnal = 0;
        x264_picture_t pic_out;
        const int size = x264_encoder_encode(enc, &nals, &nnal, nullptr, &pic_out);
        if (size <= 0)
            break;
        out.frames.emplace_back(reinterpret_cast<const char*>(nals[0].p_payload), size_t(size));
    }
    x264_picture_clean(&pic);
    x264_encoder_close(enc);
    return out;
}

}  // namespace

const H264TestStream& h264TestStream(int gops)
{
    static std::mutex mutex;
    static std::map<int, H264TestStream> streams;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = streams.find(gops);
    if (it == streams.end())
        it = streams.emplace(gops, encode(gops)).first;
    return it->second;
}

}  // namespace testsupport
