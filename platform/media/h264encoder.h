#pragma once
// The software stand-in for the board's H.264 encoder, on libx264: one NV12
// frame in, one Annex-B access unit out (SPS and PPS in band before every
// IDR), constant bit rate with a decoder buffer of at most one second, no
// B-frames, so every frame comes out as soon as it went in.
//
// Threads: one encoder is used from one thread at a time.
#include <cstdint>
#include <memory>

struct x264_param_t;
typedef struct x264_t x264_t;

namespace platform {

class H264Encoder {
public:
    struct Config {
        int width = 1920;
        int height = 1080;
        int profileIdc = 77;  // 66 baseline, 77 main, 100 high
        int gop = 30;         // frames from one IDR to the next
        int fps = 20;
        int bitRate = 1920 * 1080;  // bits per second
    };

    H264Encoder();
    ~H264Encoder();
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    // The libx264 parameters for config: the ultrafast preset with CABAC,
    // zerolatency tuning, one thread. False for a config that libx264 or
    // this stand-in cannot take (odd or non-positive size, unknown profile).
    static bool parameters(const Config& config, x264_param_t* out);

    bool open(const Config& config);
    bool isOpen() const { return m_encoder != nullptr; }

    // Encodes one frame (width x height NV12, tightly packed); pts counts
    // frames. Points *unit at its access unit, which stays valid until the
    // next call, and returns its byte count, or -1 when libx264 failed.
    int encode(const uint8_t* nv12, int64_t pts, const uint8_t** unit);

private:
    x264_t* m_encoder = nullptr;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace platform
