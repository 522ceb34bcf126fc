#pragma once
// A short H.264 stream for the video tests and benchmarks, encoded once per
// process with libx264 in the camera's shape: 1920x1080, 20 fps, Main
// profile, CABAC, no B-frames, an IDR with SPS and PPS every 30 frames,
// CBR 2,073,600 bit/s, Annex-B, one access unit per frame. The picture is a
// moving gradient with noise, so frames have realistic sizes.
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct H264TestStream {
    int width = 1920;
    int height = 1080;
    int fps = 20;
    int gop = 30;
    std::vector<std::string> frames;  // Annex-B access units, frames[0] an IDR
};

// `gops` whole groups of pictures (each starting with an IDR), so that the
// stream can be looped.
const H264TestStream& h264TestStream(int gops = 3);

}  // namespace testsupport
