// Mask packing (eight pixels to a byte, as the masks travel to the operator
// application) beside a plain packing loop doing the same job, in the same
// run, with the floor of one library pass over the same pixels:
//
//   ours       MatMask01Compress2Bytes
//   reference  a plain loop: output sized once, one pixel at a time into a
//              byte, each full byte stored
//   floor      cv::countNonZero over the same mask (reads every pixel once)
//
// Masks: a result mask of a whole 1920 x 1080 frame (mostly clear, a few
// marked blobs), the same size of random 0/255 noise, and a 701 x 451 view
// cut out of a frame (an odd size whose rows start inside a byte). Each side
// is warmed up, then timed call by call; the table gives medians in
// microseconds and the ratio ours / reference.
#include "inspection/maskpacking.h"
#include "plainreference.h"

#include <QByteArray>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kWarmUp = 20;
constexpr int kIterations = 300;

double medianUs(const std::function<void()>& once)
{
    for (int i = 0; i < kWarmUp; ++i)
        once();
    std::vector<double> samples;
    samples.reserve(kIterations);
    for (int i = 0; i < kIterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        once();
        const auto end = std::chrono::steady_clock::now();
        samples.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

cv::Mat resultMask()
{
    cv::Mat mask = cv::Mat::zeros(1080, 1920, CV_8UC1);
    cv::RNG rng(11);
    for (int i = 0; i < 40; ++i)
        cv::circle(mask, {rng.uniform(0, mask.cols), rng.uniform(0, mask.rows)}, rng.uniform(3, 60),
                   cv::Scalar(255), cv::FILLED);
    return mask;
}

cv::Mat noiseMask()
{
    cv::Mat mask(1080, 1920, CV_8UC1);
    cv::randu(mask, 0, 2);
    return mask * 255;
}

}  // namespace

int main()
{
    cv::setNumThreads(1);
    const cv::Mat noise = noiseMask();
    const struct {
        std::string name;
        cv::Mat mask;
    } masks[] = {
        {"result mask 1920 x 1080", resultMask()},
        {"noise 1920 x 1080", noise},
        {"view 701 x 451 of a frame", noise(cv::Rect(333, 217, 701, 451))},
    };

    std::printf("mask packing, medians of %d calls, one core\n", kIterations);
    std::printf("%-28s %10s %12s %10s %8s\n", "mask", "ours us", "reference us", "floor us", "ratio");
    bool same = true;
    for (const auto& m : masks) {
        same = same && MatMask01Compress2Bytes(m.mask) == plainref::plainPack(m.mask);
        const double ours = medianUs([&] {
            const QByteArray packed = MatMask01Compress2Bytes(m.mask);
            benchmark::DoNotOptimize(packed.constData());
        });
        const double reference = medianUs([&] {
            const QByteArray packed = plainref::plainPack(m.mask);
            benchmark::DoNotOptimize(packed.constData());
        });
        const double floor = medianUs([&] {
            const int n = cv::countNonZero(m.mask);
            benchmark::DoNotOptimize(n);
        });
        std::printf("%-28s %10.1f %12.1f %10.1f %8.2f\n", m.name.c_str(), ours, reference, floor,
                    ours / reference);
    }
    std::printf("ours and the reference give the same bytes: %s\n", same ? "yes" : "NO");
    std::printf("aim: a whole-frame mask in 300 us or less\n");
    return same ? 0 : 1;
}
