// The four detectors beside the least work plain OpenCV needs for the same
// job, on generated 1920 x 1080 grey frames with 1, 8 and 32 regions of
// 160 x 120 pixels, in the same run:
//   spot      SpotDetect::execute            inRange, shape mask, outer contours, area
//   flaw      FlawDetect::execute            absdiff to the template, threshold, opening,
//                                            outer contours, area
//             and once on a whole-frame region at the largest filter size
//   ignore    IgnoreDetect::preprocessor     OR of the shape into the ignore mask
//             (its per-frame execute does nothing)
//   location  LocationDetect::execute        the coarse-to-fine search of plainreference.h
//                                            (pyrDown and matchTemplate at every level, the
//                                            same depth, candidates and windows as ours),
//                                            then the frame moved back by the offset found
//             with a 64-pixel search margin, and once with the factory margin (8000:
//             the whole frame) and the half-frame region the sequencer makes
// The location frame is the template moved by (7, -5), so our detector also
// moves the run image back; it is restored, untimed, before every iteration.
//
// After the table, one line per detector and region count gives ours /
// reference (real time). OpenCV runs on one thread so that both sides do
// the same work on the same core. On a busy machine one long run of each
// side would meet different loads: by default every benchmark runs in 7
// short repetitions, all of them in random order, and the ratio is of the
// medians; the load average is printed before and after.
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"
#include "inspection/roicameraaccess.h"
#include "inspection/roiinterface.h"
#include "plainreference.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QLoggingCategory>

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const cv::Size kFrame(1920, 1080);
const cv::Size kRegionSize(160, 120);
constexpr int kSearchMargin = 64;
constexpr int kFactoryMargin = 8000;
constexpr double kFoundScore = 0.45;  // what least match 10 asks of the location
const cv::Point kLocationMove(7, -5);
const int kRegionCounts[] = {1, 8, 32};

// A moulded surface: shading, mottling, grain and sharp-edged features.
cv::Mat makeSurface(uint64_t seed)
{
    cv::RNG rng(seed);
    cv::Mat mottle(kFrame / 8, CV_32F);
    rng.fill(mottle, cv::RNG::UNIFORM, -1.0, 1.0);
    cv::resize(mottle, mottle, kFrame, 0, 0, cv::INTER_CUBIC);
    cv::GaussianBlur(mottle, mottle, cv::Size(), 4.0);
    double peak = 0.0;
    cv::minMaxLoc(cv::abs(mottle), nullptr, &peak);
    mottle *= 30.0 / peak;

    cv::Mat surface(kFrame, CV_32F);
    for (int r = 0; r < surface.rows; ++r)
        for (int c = 0; c < surface.cols; ++c)
            surface.at<float>(r, c) = 100.0f + 50.0f * c / surface.cols + 20.0f * r / surface.rows;
    cv::Mat features(kFrame, CV_32F, cv::Scalar(0));
    for (int i = 0; i < 400; ++i) {
        const cv::Point at(rng.uniform(0, kFrame.width), rng.uniform(0, kFrame.height));
        const float level = float(rng.uniform(-50, 60));
        if (i % 2)
            cv::circle(features, at, rng.uniform(6, 30), cv::Scalar(level), cv::FILLED, cv::LINE_AA);
        else
            cv::rectangle(features, cv::Rect(at, cv::Size(rng.uniform(6, 60), rng.uniform(6, 40))),
                          cv::Scalar(level), cv::FILLED);
    }
    cv::GaussianBlur(features, features, cv::Size(), 0.8);
    cv::Mat grain(kFrame, CV_32F);
    rng.fill(grain, cv::RNG::UNIFORM, -2.0, 2.0);
    surface += mottle + features + grain;
    cv::Mat out;
    surface.convertTo(out, CV_8U);
    return out;
}

cv::Mat withNoise(const cv::Mat& frame, int noise, uint64_t seed)
{
    cv::Mat n(frame.size(), CV_16S);
    cv::RNG(seed).fill(n, cv::RNG::UNIFORM, -noise, noise + 1);
    cv::Mat out;
    cv::add(frame, n, out, cv::noArray(), CV_8U);
    return out;
}

// The camera the regions read from: one template, the run image, the ignore mask.
class BenchCamera : public RoiCameraAccess {
public:
    cv::Mat ignoreMask(int) override { return ignore; }
    cv::Mat currentTemplate(int) override { return templ; }
    cv::Mat templateImage(int, int index) override { return index == 0 ? templ : cv::Mat(); }
    cv::Mat firstTemplate(int) override { return templ; }
    int templateCount(int) override { return 1; }
    cv::Mat runImage() override { return run; }

    cv::Mat templ;
    cv::Mat run;
    cv::Mat ignore = cv::Mat::zeros(kFrame, CV_8UC1);
};

// n region rectangles, one centred in each cell of a grid over the frame.
std::vector<cv::Rect> regionRects(int n)
{
    const int columns = n >= 8 ? 8 : n;
    const int rows = (n + columns - 1) / columns;
    const cv::Size cell(kFrame.width / columns, kFrame.height / rows);
    std::vector<cv::Rect> rects;
    for (int i = 0; i < n; ++i) {
        const cv::Point corner((i % columns) * cell.width, (i / columns) * cell.height);
        rects.emplace_back(corner + cv::Point(cell - kRegionSize) / 2, kRegionSize);
    }
    return rects;
}

std::unique_ptr<RoiInterface> makeRegion(BenchCamera& camera, int index, const cv::Rect& r,
                                         const QString& detector, const QJsonArray& params)
{
    const QJsonObject stored{
        {QStringLiteral("detect_index"), 0},
        {QStringLiteral("roi_index"), index},
        {QStringLiteral("roi_type"), QStringLiteral("rect")},
        {QStringLiteral("roi_infos"), QJsonArray{r.x, r.y, r.width - 1, r.height - 1}},
        {QStringLiteral("func_type"), detector},
        {QStringLiteral("func_params"), params},
    };
    return PluginsManager::getInstance()->createNewRoi(QStringLiteral("rect"), &camera, stored);
}

// One detector's regions on one camera, prepared as the sequencer prepares a step.
struct Step {
    BenchCamera camera;
    std::vector<std::unique_ptr<RoiInterface>> regions;
    cv::Mat pristineRun;  // the run image as taken, for steps whose execute changes it

    void add(const cv::Rect& r, const QString& detector, const QJsonArray& params,
             const QJsonObject& system = {})
    {
        regions.push_back(makeRegion(camera, int(regions.size()), r, detector, params));
        RoiInterface* region = regions.back().get();
        if (!region || !region->getProcessor() || !region->isUsable()) {
            std::fprintf(stderr, "region %d (%s) could not be made\n", int(regions.size()),
                         qPrintable(detector));
            std::exit(1);
        }
        QJsonObject settings = system;
        region->getProcessor()->initSystemParam(settings);
        region->getProcessor()->preprocessor(region);
    }

    // The sequencer's part of a run: a zero mask per region, then execute.
    int runOnce()
    {
        int failed = 0;
        for (const auto& region : regions) {
            const cv::Rect rect = region->getImageRect();
            cv::Mat regionMask = cv::Mat::zeros(rect.size(), CV_8UC1);
            region->getProcessor()->execute(region.get(), regionMask);
            failed += region->getResult() ? 0 : 1;
        }
        return failed;
    }
};

const cv::Mat& surface()
{
    static const cv::Mat s = makeSurface(20261210);
    return s;
}

int outerArea(const cv::Mat& map)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(map, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    int area = 0;
    for (const auto& c : contours)
        area = int(area + cv::contourArea(c));
    return area;
}

// ---- spot -------------------------------------------------------------

cv::Mat spotFrame()
{
    cv::Mat frame = withNoise(surface(), 8, 1);
    cv::RNG rng(2);
    for (int i = 0; i < 600; ++i)
        cv::circle(frame, {rng.uniform(0, kFrame.width), rng.uniform(0, kFrame.height)},
                   rng.uniform(2, 9), cv::Scalar(rng.uniform(5, 45)), cv::FILLED);
    return frame;
}

void spotOurs(benchmark::State& state)
{
    Step step;
    step.camera.templ = surface();
    step.camera.run = spotFrame();
    for (const cv::Rect& r : regionRects(int(state.range(0))))
        step.add(r, QStringLiteral("spot"), QJsonArray{80, 500, 0, 50});
    for (auto _ : state)
        benchmark::DoNotOptimize(step.runOnce());
}

void spotReference(benchmark::State& state)
{
    const cv::Mat run = spotFrame();
    const std::vector<cv::Rect> rects = regionRects(int(state.range(0)));
    const cv::Mat shape(kRegionSize, CV_8UC1, cv::Scalar(255));
    cv::Mat marked;
    for (auto _ : state) {
        int failed = 0;
        for (const cv::Rect& r : rects) {
            cv::inRange(run(r), cv::Scalar(0), cv::Scalar(50), marked);
            cv::bitwise_and(marked, shape, marked);
            const int area = outerArea(marked);
            failed += (80 <= area && area <= 500) ? 0 : 1;
        }
        benchmark::DoNotOptimize(failed);
    }
}

// ---- flaw -------------------------------------------------------------

cv::Mat flawFrame()
{
    cv::Mat frame = withNoise(surface(), 8, 3);
    cv::RNG rng(4);
    for (int i = 0; i < 60; ++i) {
        cv::Mat patch = frame(cv::Rect(rng.uniform(0, kFrame.width - 6), rng.uniform(0, kFrame.height - 6), 6, 6));
        patch += cv::Scalar(40);
    }
    return frame;
}

void flawOurs(benchmark::State& state)
{
    Step step;
    step.camera.templ = surface();
    step.camera.run = flawFrame();
    for (const cv::Rect& r : regionRects(int(state.range(0))))
        step.add(r, QStringLiteral("flaw"), QJsonArray{45, 100, 3});
    for (auto _ : state)
        benchmark::DoNotOptimize(step.runOnce());
}

void flawReference(benchmark::State& state)
{
    const cv::Mat templ = surface();
    const cv::Mat run = flawFrame();
    const std::vector<cv::Rect> rects = regionRects(int(state.range(0)));
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
    cv::Mat diff;
    for (auto _ : state) {
        int failed = 0;
        for (const cv::Rect& r : rects) {
            cv::absdiff(run(r), templ(r), diff);
            cv::threshold(diff, diff, 22, 255, cv::THRESH_BINARY);
            cv::morphologyEx(diff, diff, cv::MORPH_OPEN, kernel);
            failed += outerArea(diff) <= 100 ? 0 : 1;
        }
        benchmark::DoNotOptimize(failed);
    }
}

// The costliest region an operator can set up: the whole frame, with the
// largest filter size the parameter range allows. It must stay within one
// frame period (50 ms). The reference opens by the drawn ellipse of that
// size, as plain OpenCV would.
constexpr int kLargestFilterSize = 100;

void flawWholeFrameOurs(benchmark::State& state)
{
    Step step;
    step.camera.templ = surface();
    step.camera.run = flawFrame();
    step.add(cv::Rect(cv::Point(), kFrame), QStringLiteral("flaw"), QJsonArray{45, 100, kLargestFilterSize});
    for (auto _ : state)
        benchmark::DoNotOptimize(step.runOnce());
}

void flawWholeFrameReference(benchmark::State& state)
{
    const cv::Mat templ = surface();
    const cv::Mat run = flawFrame();
    const cv::Mat kernel =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(kLargestFilterSize, kLargestFilterSize));
    cv::Mat diff;
    for (auto _ : state) {
        cv::absdiff(run, templ, diff);
        cv::threshold(diff, diff, 22, 255, cv::THRESH_BINARY);
        cv::morphologyEx(diff, diff, cv::MORPH_OPEN, kernel);
        benchmark::DoNotOptimize(outerArea(diff) <= 100);
    }
}

// ---- ignore -----------------------------------------------------------

void ignoreOurs(benchmark::State& state)
{
    Step step;
    step.camera.templ = surface();
    step.camera.run = surface();
    for (const cv::Rect& r : regionRects(int(state.range(0))))
        step.add(r, QStringLiteral("ignore"), QJsonArray{});
    for (auto _ : state) {
        for (const auto& region : step.regions)
            region->getProcessor()->preprocessor(region.get());
        benchmark::DoNotOptimize(step.camera.ignore.data);
    }
}

void ignoreReference(benchmark::State& state)
{
    cv::Mat ignore = cv::Mat::zeros(kFrame, CV_8UC1);
    const std::vector<cv::Rect> rects = regionRects(int(state.range(0)));
    // Each region's own shape, as each of ours has (one shared shape would
    // stay in the cache where ours read a shape per region).
    std::vector<cv::Mat> shapes;
    for (size_t i = 0; i < rects.size(); ++i)
        shapes.emplace_back(kRegionSize, CV_8UC1, cv::Scalar(255));
    for (auto _ : state) {
        for (size_t i = 0; i < rects.size(); ++i) {
            cv::Mat at = ignore(rects[i]);
            cv::bitwise_or(at, shapes[i], at);
        }
        benchmark::DoNotOptimize(ignore.data);
    }
}

// ---- location ---------------------------------------------------------

cv::Mat locationFrame()
{
    cv::Mat moved;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, kLocationMove.x, 0, 1, kLocationMove.y);
    cv::warpAffine(surface(), moved, shift, kFrame, cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    return withNoise(moved, 8, 5);
}

cv::Rect searchArea(const cv::Rect& r, int margin)
{
    return cv::Rect(r.x - margin, r.y - margin, r.width + 2 * margin, r.height + 2 * margin)
           & cv::Rect(cv::Point(), kFrame);
}

// The region the sequencer makes when a step has none: the middle half of the frame.
cv::Rect halfFrame()
{
    return cv::Rect(kFrame.width / 4, kFrame.height / 4, kFrame.width / 2, kFrame.height / 2);
}

void locationRun(benchmark::State& state, const std::vector<cv::Rect>& rects, int margin)
{
    Step step;
    step.camera.templ = surface();
    step.pristineRun = locationFrame();
    step.camera.run = step.pristineRun.clone();
    const QJsonObject system{{QStringLiteral("h_mostskewing"), margin}};
    for (const cv::Rect& r : rects)
        step.add(r, QStringLiteral("location"), QJsonArray{10}, system);
    for (auto _ : state) {
        state.PauseTiming();
        step.pristineRun.copyTo(step.camera.run);
        state.ResumeTiming();
        benchmark::DoNotOptimize(step.runOnce());
    }
}

void locationReferenceRun(benchmark::State& state, const std::vector<cv::Rect>& rects, int margin)
{
    const cv::Mat templ = surface();
    const cv::Mat pristine = locationFrame();
    cv::Mat run = pristine.clone();
    std::vector<plainref::PyramidLocator> locators;
    for (const cv::Rect& r : rects)
        locators.emplace_back(templ(r));
    for (auto _ : state) {
        state.PauseTiming();
        pristine.copyTo(run);
        state.ResumeTiming();
        for (size_t i = 0; i < rects.size(); ++i) {
            const cv::Rect search = searchArea(rects[i], margin);
            cv::Point at;
            if (locators[i].find(run(search), at) >= kFoundScore)
                plainref::shiftFrame(run, rects[i].tl() - (search.tl() + at));
        }
    }
}

void locationOurs(benchmark::State& state)
{
    locationRun(state, regionRects(int(state.range(0))), kSearchMargin);
}

void locationReference(benchmark::State& state)
{
    locationReferenceRun(state, regionRects(int(state.range(0))), kSearchMargin);
}

void locationWholeFrameOurs(benchmark::State& state)
{
    locationRun(state, {halfFrame()}, kFactoryMargin);
}

void locationWholeFrameReference(benchmark::State& state)
{
    locationReferenceRun(state, {halfFrame()}, kFactoryMargin);
}

// ---- ratios -----------------------------------------------------------

// Passes every run to the console and keeps the real time per name: the
// median of the repetitions, or the one run without repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[name] = run.GetAdjustedRealTime();
            else if (run.run_type == Run::RT_Iteration)
                single[name] = run.GetAdjustedRealTime();
        }
    }
    std::map<std::string, double> times() const
    {
        std::map<std::string, double> out = single;
        for (const auto& [name, t] : medians)
            out[name] = t;
        return out;
    }

private:
    std::map<std::string, double> medians;
    std::map<std::string, double> single;
};

// The machine's 1-, 5- and 15-minute load averages.
std::string loadAverage()
{
    FILE* f = std::fopen("/proc/loadavg", "r");
    if (!f)
        return "?";
    char text[64] = {};
    const bool read = std::fgets(text, sizeof text, f) != nullptr;
    std::fclose(f);
    if (!read)
        return "?";
    std::string all(text);
    size_t end = 0;
    for (int field = 0; field < 3 && end != std::string::npos; ++field)
        end = all.find(' ', end + (field ? 1 : 0));
    return all.substr(0, end);
}

struct Pair {
    std::string ours;
    std::string reference;
    std::string label;
    double aim;
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The camera program logs only "level_1" once started; detectors' "default"
    // lines would otherwise be counted as detection time here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false\ndefault.debug=false"));
    cv::setNumThreads(1);
    PluginsManager::getInstance();

    std::vector<Pair> pairs;
    auto add = [&](const std::string& name, void (*ours)(benchmark::State&),
                   void (*reference)(benchmark::State&), int regions, double aim) {
        const std::string suffix = "/regions:" + std::to_string(regions);
        for (auto [side, fn] : {std::pair{"/ours", ours}, std::pair{"/reference", reference}}) {
            benchmark::RegisterBenchmark((name + side).c_str(), fn)
                ->Arg(regions)
                ->ArgName("regions")
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime()
                ->MinWarmUpTime(0.05)
                ->MinTime(0.1);
        }
        pairs.push_back({name + "/ours" + suffix, name + "/reference" + suffix,
                         name + ", " + std::to_string(regions) + " region(s)", aim});
    };
    for (int n : kRegionCounts)
        add("spot", spotOurs, spotReference, n, 1.5);
    for (int n : kRegionCounts)
        add("flaw", flawOurs, flawReference, n, 1.2);
    add("flaw_whole_frame_filter_100", flawWholeFrameOurs, flawWholeFrameReference, 1, 1.5);
    for (int n : kRegionCounts)
        add("ignore", ignoreOurs, ignoreReference, n, 1.5);
    for (int n : kRegionCounts)
        add("location", locationOurs, locationReference, n, 2.0);
    add("location_whole_frame", locationWholeFrameOurs, locationWholeFrameReference, 1, 2.0);

    // Defaults first, so that the same flags on the command line win.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=7";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_display_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    const std::string loadBefore = loadAverage();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::map<std::string, double> times = reporter.times();

    std::printf("\n%-36s %12s %12s %8s %6s\n", "ours / reference (real time)", "ours us",
                "reference us", "ratio", "aim");
    for (const Pair& p : pairs) {
        const auto ours = times.find(p.ours);
        const auto reference = times.find(p.reference);
        if (ours == times.end() || reference == times.end())
            continue;  // filtered out on the command line
        const double ratio = ours->second / reference->second;
        std::printf("%-36s %12.1f %12.1f %8.2f %6.1f %s\n", p.label.c_str(), ours->second,
                    reference->second, ratio, p.aim, ratio <= p.aim ? "" : "ABOVE AIM");
    }
    std::printf("load average %s before, %s after; %u hardware threads\n", loadBefore.c_str(),
                loadAverage().c_str(), std::thread::hardware_concurrency());
    benchmark::Shutdown();
    return 0;
}
