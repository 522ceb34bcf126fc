// The encoder stand-in's cost: CPU seconds per second of 1080p20 video, from
// the sensor to the encoder's output callback on one thread, beside bare
// libx264 on the same frames with the same parameters, in the same run.
//   - ours:  the sensor renders a frame of the generated scene, the encoder
//            channel's per-frame work encodes it, wraps the access unit in a
//            media buffer and calls the capture controller's output callback
//            (no RTSP server: it only releases the buffer);
//   - bare:  the sensor renders the same frame, x264_encoder_encode takes it;
//   - floor: the sensor rendering alone.
// Each is measured in thread CPU time over 100 frames (5 s of video), five
// rounds alternating, and the median round is reported.
#include "capture/aiqcontrol.h"
#include "platform/media/h264encoder.h"
#include "platform/media/rkmedia.h"
#include "platform/media/sensorscene.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

extern "C" {
#include <x264.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFps = 20;
constexpr int kFramesPerRound = 100;
constexpr int kRounds = 5;

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// CPU seconds per second of video for one round of `perFrame`.
double round(const std::function<void(int)>& perFrame, int& frame)
{
    const double start = threadCpuSeconds();
    for (int i = 0; i < kFramesPerRound; ++i)
        perFrame(frame++);
    return (threadCpuSeconds() - start) / (double(kFramesPerRound) / kFps);
}

}  // namespace

int main()
{
    const platform::SensorScene scene = platform::SensorScene::generated(kWidth, kHeight);
    std::vector<uint8_t> frame(size_t(scene.frameBytes()));
    const platform::H264Encoder::Config config;  // 1920x1080, Main, GOP 30, 20 fps, 2,073,600 bit/s

    platform::H264Encoder ours;
    if (!ours.open(config)) {
        std::fprintf(stderr, "encoder_bench: the encoder stand-in did not open\n");
        return 1;
    }
    x264_param_t params;
    platform::H264Encoder::parameters(config, &params);
    x264_t* bare = x264_encoder_open(&params);
    if (!bare) {
        std::fprintf(stderr, "encoder_bench: libx264 did not open\n");
        return 1;
    }
    x264_picture_t in;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_NV12;
    in.img.i_plane = 2;
    in.img.plane[0] = frame.data();
    in.img.i_stride[0] = kWidth;
    in.img.plane[1] = frame.data() + size_t(kWidth) * kHeight;
    in.img.i_stride[1] = kWidth;

    long long oursBytes = 0;
    long long bareBytes = 0;
    const auto oursFrame = [&](int n) {
        scene.render(uint32_t(n), frame.data());
        oursBytes += platform::encodeFrameToCallback(ours, frame.data(), n, uint64_t(n) * 50000u, video_packet_cb);
    };
    const auto bareFrame = [&](int n) {
        scene.render(uint32_t(n), frame.data());
        in.i_pts = n;
        x264_picture_t out;
        x264_nal_t* nals = nullptr;
        int count = 0;
        bareBytes += x264_encoder_encode(bare, &nals, &count, &in, &out);
    };
    const auto floorFrame = [&](int n) { scene.render(uint32_t(n), frame.data()); };

    std::vector<double> oursRounds, bareRounds, floorRounds;
    int oursN = 0, bareN = 0, floorN = 0;
    for (int r = 0; r < kRounds; ++r) {
        oursRounds.push_back(round(oursFrame, oursN));
        bareRounds.push_back(round(bareFrame, bareN));
        floorRounds.push_back(round(floorFrame, floorN));
    }
    x264_encoder_close(bare);

    const double o = median(oursRounds);
    const double b = median(bareRounds);
    const double f = median(floorRounds);
    const double seconds = double(kRounds * kFramesPerRound) / kFps;
    std::printf("encoder, 1920x1080 at 20 fps, Main, CBR %d bit/s, one thread, %d rounds of %d frames (median)\n",
                config.bitRate, kRounds, kFramesPerRound);
    std::printf("  ours  (sensor -> encoder channel -> callback): %.3f CPU s per video s, %.0f bit/s\n", o,
                double(oursBytes) * 8.0 / seconds);
    std::printf("  bare  (sensor -> x264_encoder_encode):         %.3f CPU s per video s, %.0f bit/s\n", b,
                double(bareBytes) * 8.0 / seconds);
    std::printf("  floor (sensor rendering alone):                %.3f CPU s per video s\n", f);
    std::printf("  ratio ours / bare: %.3f   (aim: ours <= 0.25, ratio <= 1.10)\n", o / b);
    return 0;
}
