// One detection step as the camera program runs it, beside the same work in
// plain OpenCV, in the same run, on one core.
//
//   ours       the hub's frame copy from the capture buffer into the image
//              store, the NV12 conversion, the sequencer's run of a step of 8
//              regions (1 location first, 2 flaw, 3 spot, 2 ignore) with the
//              verdict, the result mask and its scope, and the packed mask
//   reference  the same frame copy and grey conversion, then per region:
//                location  the coarse-to-fine search of plainreference.h
//                          (pyrDown and matchTemplate at every level, the
//                          same depth, candidates and windows as ours), and
//                          the frame moved back when the place is off
//                flaw      absdiff to the template, threshold, opening, ignore
//                          mask, outer contours, area
//                spot      inRange, shape and ignore mask, outer contours, area
//                ignore    nothing per frame (drawn once at preparation)
//              the marks ORed into a frame-size result mask, the verdict, and
//              the result mask packed by a plain loop
//
// The frame is a generated moulded surface with one small defect in a flaw
// region, delivered as 1920 x 1080 NV12 in the shared capture buffer; the
// step's master template is the clean surface. Each side is warmed up, then
// timed iteration by iteration, phase by phase (frame: copy and conversion;
// detectors: the regions and the verdict; packing). The table gives the
// median and the 99th percentile of the whole step and the median of each
// phase, and the ratios ours / reference.
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "inspection/hubservices.h"
#include "inspection/maskpacking.h"
#include "inspection/pluginsmanager.h"
#include "capture/aiqcontrol.h"
#include "platform/media/capturebuffer.h"
#include "detectionrig.h"
#include "plainreference.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

using namespace detectionrig;

namespace {

constexpr int kWarmUp = 10;
constexpr int kIterations = 200;
constexpr int kFlawTolerance = 22;  // what sensitivity 45 allows
constexpr double kFoundScore = 0.45;  // what least match 10 asks of the location

class BenchHub : public HubServices {
public:
    void GetParams(QJsonObject& out) const override
    {
        out.insert(QStringLiteral("h_temp_count"), 3);
        out.insert(QStringLiteral("s_sport_correction"), true);
        out.insert(QStringLiteral("h_mostskewing"), kSearchMargin);
        out.insert(QStringLiteral("h_use_ngtemp"), false);
    }
    void InsertRecord(const QString&, const QString&) override {}
};

// The camera program around one camera: working directory, PARAM.db, hub,
// capture buffer, the step's master template and the camera itself.
struct Rig {
    QTemporaryDir dir;
    BenchHub hub;
    std::unique_ptr<AiqControl> isp;
    std::unique_ptr<Camera> camera;
    QMutex frameMutex;
    cv::Mat templ;

    bool setUp()
    {
        if (!dir.isValid() || !QDir::setCurrent(dir.path()))
            return false;
        HubServices::setInstance(&hub);
        gDNum = 2;
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kParamDbConnection));
        db.setDatabaseName(dir.filePath(QStringLiteral("PARAM.db")));
        if (!db.open())
            return false;
        const QJsonArray rois = regionsJson();
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)"));
        q.prepare(QStringLiteral("insert into cameraparam values ('camera0', ?)"));
        q.addBindValue(QString::fromUtf8(QJsonDocument(QJsonObject{{"index", 0}, {"rois", rois}}).toJson()));
        if (!q.exec())
            return false;

        templ = makeSurface();
        QDir().mkpath(QStringLiteral("./cammer12"));
        cv::imwrite("./cammer12/template00.bmp", templ);
        isp = std::make_unique<AiqControl>(AiqControl::WithoutPipeline{}, false, kFrame.width, kFrame.height);
        camera = std::make_unique<Camera>();

        cv::Mat shown = templ.clone();
        cv::circle(shown, cv::Point(800, 450), 8, cv::Scalar(10), cv::FILLED);
        const std::vector<uint8_t> frame = nv12Of(shown);
        if (int(frame.size()) != platform::captureBufferSize())
            return false;
        std::memcpy(gImageThread, frame.data(), frame.size());
        return camera->cameraSingleton()->getRois(kStep).size() == int(regions().size());
    }
};

Rig* gRig = nullptr;

// The phases of one step, in order.
enum Phase { kFramePhase, kDetectorsPhase, kPackingPhase, kPhases };
const char* const kPhaseNames[kPhases] = {"frame copy and conversion", "detectors and verdict", "mask packing"};

struct Figures {
    double median = 0.0;
    double p99 = 0.0;
    double phaseMedian[kPhases] = {};
};
Figures gOurs;
Figures gReference;

using Clock = std::chrono::steady_clock;

double medianOf(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Runs `once` kWarmUp times untimed, then once per benchmark iteration.
// `once` stamps the end of each phase in the array it is given; reports the
// median and the 99th percentile of the whole and the median of each phase
// (milliseconds).
template <typename Fn>
void timed(benchmark::State& state, Figures& figures, Fn once)
{
    Clock::time_point ends[kPhases];
    for (int i = 0; i < kWarmUp; ++i)
        once(ends);
    std::vector<double> samples;
    std::vector<double> phases[kPhases];
    samples.reserve(kIterations);
    for (auto _ : state) {
        const auto start = Clock::now();
        once(ends);
        auto from = start;
        for (int p = 0; p < kPhases; ++p) {
            phases[p].push_back(std::chrono::duration<double, std::milli>(ends[p] - from).count());
            from = ends[p];
        }
        samples.push_back(std::chrono::duration<double, std::milli>(ends[kPhases - 1] - start).count());
    }
    figures.median = medianOf(samples);
    std::sort(samples.begin(), samples.end());
    figures.p99 = samples[std::min(samples.size() - 1, size_t(double(samples.size()) * 0.99))];
    for (int p = 0; p < kPhases; ++p)
        figures.phaseMedian[p] = medianOf(phases[p]);
    state.counters["median_ms"] = figures.median;
    state.counters["p99_ms"] = figures.p99;
}

void detectionStep(benchmark::State& state)
{
    Camera& camera = *gRig->camera;
    CameraImage& image = *camera.cameraImage();
    bool verdict = true;
    timed(state, gOurs, [&](Clock::time_point* ends) {
        {
            QMutexLocker lock(&gRig->frameMutex);
            std::memcpy(image.rawBuffer(), gImageThread, size_t(image.getImageDataLen()));
        }
        image.updateImageData();
        ends[kFramePhase] = Clock::now();
        camera.cameraRecong()->Run(kStep);
        verdict = camera.getResult();
        ends[kDetectorsPhase] = Clock::now();
        const QByteArray packed = MatMask01Compress2Bytes(camera.cameraSingleton()->getResultMask());
        benchmark::DoNotOptimize(packed.constData());
        ends[kPackingPhase] = Clock::now();
    });
    state.counters["ok"] = verdict ? 1 : 0;
}

int outerArea(const cv::Mat& marks, std::vector<std::vector<cv::Point>>& contours)
{
    cv::findContours(marks, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    double area = 0.0;
    for (const auto& c : contours)
        area += cv::contourArea(c);
    return int(area);
}

void referencePipelines(benchmark::State& state)
{
    std::vector<uint8_t> raw(size_t(platform::captureBufferSize()));
    cv::Mat grey(kFrame, CV_8UC1);
    cv::Mat result(kFrame, CV_8UC1);
    // Prepared once, as the ignore regions are: pixels that count.
    cv::Mat counted(kFrame, CV_8UC1, cv::Scalar(255));
    for (const Region& r : regions())
        if (std::strcmp(r.detector, "ignore") == 0)
            counted(r.rect).setTo(0);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
    const cv::Rect frame(cv::Point(0, 0), kFrame);
    // Prepared once, as the location region's model is.
    std::vector<plainref::PyramidLocator> locators;
    for (const Region& r : regions())
        if (std::strcmp(r.detector, "location") == 0)
            locators.emplace_back(gRig->templ(r.rect));
    cv::Mat marks;
    std::vector<std::vector<cv::Point>> contours;
    bool verdict = true;

    timed(state, gReference, [&](Clock::time_point* ends) {
        {
            QMutexLocker lock(&gRig->frameMutex);
            std::memcpy(raw.data(), gImageThread, raw.size());
        }
        cv::cvtColor(cv::Mat(kFrame.height * 3 / 2, kFrame.width, CV_8UC1, raw.data()), grey,
                     cv::COLOR_YUV2GRAY_420);
        ends[kFramePhase] = Clock::now();
        result.setTo(0);
        verdict = true;
        size_t located = 0;
        for (const Region& r : regions()) {
            if (std::strcmp(r.detector, "location") == 0) {
                const cv::Rect window = (r.rect - cv::Point(kSearchMargin, kSearchMargin) +
                                         cv::Size(2 * kSearchMargin, 2 * kSearchMargin)) & frame;
                cv::Point at;
                if (locators[located++].find(grey(window), at) >= kFoundScore)
                    plainref::shiftFrame(grey, r.rect.tl() - (window.tl() + at));
            } else if (std::strcmp(r.detector, "flaw") == 0) {
                cv::absdiff(grey(r.rect), gRig->templ(r.rect), marks);
                cv::threshold(marks, marks, kFlawTolerance, 255, cv::THRESH_BINARY);
                cv::morphologyEx(marks, marks, cv::MORPH_OPEN, kernel);
                cv::bitwise_and(marks, counted(r.rect), marks);
                const int area = outerArea(marks, contours);
                cv::Mat target = result(r.rect);
                cv::bitwise_or(target, marks, target);
                verdict = verdict && area <= r.params.at(1).toInt();
            } else if (std::strcmp(r.detector, "spot") == 0) {
                cv::inRange(grey(r.rect), cv::Scalar(r.params.at(2).toInt()), cv::Scalar(r.params.at(3).toInt()),
                            marks);
                cv::bitwise_and(marks, counted(r.rect), marks);
                const int area = outerArea(marks, contours);
                cv::Mat target = result(r.rect);
                cv::bitwise_or(target, marks, target);
                verdict = verdict && area >= r.params.at(0).toInt() && area <= r.params.at(1).toInt();
            }
        }
        ends[kDetectorsPhase] = Clock::now();
        const QByteArray packed = plainref::plainPack(result);
        benchmark::DoNotOptimize(packed.constData());
        ends[kPackingPhase] = Clock::now();
    });
    state.counters["ok"] = verdict ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The camera program logs only "level_1" once started; "default" lines
    // would otherwise be counted as detection time here.
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false\ndefault.debug=false"));
    cv::setNumThreads(1);
    PluginsManager::getInstance();

    Rig rig;
    if (!rig.setUp()) {
        std::fprintf(stderr, "detection step bench: the camera could not be set up\n");
        return 1;
    }
    gRig = &rig;

    benchmark::RegisterBenchmark("detection_step/8_regions/ours", detectionStep)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("detection_step/8_regions/reference", referencePipelines)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    if (gOurs.median > 0.0 && gReference.median > 0.0) {
        std::printf("\none detection step, 8 regions, 1920 x 1080 NV12, one core (OpenCV on 1 thread)\n");
        std::printf("%-12s %12s %12s\n", "", "median ms", "p99 ms");
        std::printf("%-12s %12.2f %12.2f\n", "ours", gOurs.median, gOurs.p99);
        std::printf("%-12s %12.2f %12.2f\n", "reference", gReference.median, gReference.p99);
        std::printf("ratio ours / reference: median %.2f, p99 %.2f (aim 1.5)\n", gOurs.median / gReference.median,
                    gOurs.p99 / gReference.p99);
        std::printf("\n%-28s %12s %14s %8s\n", "phase (medians)", "ours ms", "reference ms", "ratio");
        for (int p = 0; p < kPhases; ++p)
            std::printf("%-28s %12.3f %14.3f %8.2f\n", kPhaseNames[p], gOurs.phaseMedian[p],
                        gReference.phaseMedian[p], gOurs.phaseMedian[p] / gReference.phaseMedian[p]);
    }
    gRig = nullptr;
    rig.camera.reset();
    HubServices::setInstance(nullptr);
    benchmark::Shutdown();
    return 0;
}
