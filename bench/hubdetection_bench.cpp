// The hub's detection of one step (RunAlgorithm_New: the shared capture
// buffer copied under the frame-buffer mutex, converted, the snapshot handed
// to the manager, the step run, the result unit filled and the finish line
// logged) beside, in the same run and on the same camera, the bare step of
// detectionstep_bench without mask packing (copy, conversion, run, verdict).
//
// Rig: the 8 regions of detectionrig.h on step 1, a whole hub on a scratch
// working directory, a manager that takes the snapshot and does nothing, and
// the program's log settings ("default" info off, "level_1" lines formatted
// and dropped as a file sink would take them). One core.
#include "capture/aiqcontrol.h"
#include "detectionrig.h"
#include "flow/flowworkevent.h"
#include "flow/product_interface.h"
#include "foundation/foundationglobals.h"
#include "foundation/uitexttable.h"
#include "foundation/workstashmanager.h"
#include "hub/divuvarude.h"
#include "hub/hubmanager.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "inspection/pluginsmanager.h"
#include "io/vcam_io.h"
#include "platform/media/capturebuffer.h"
#include "platform/system/dataroot.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

using namespace detectionrig;

namespace {

constexpr int kWarmUp = 10;
constexpr int kIterations = 200;

class QuietManager : public HubManager {
public:
    void post2app_main_snapshot(const cv::Mat& frame) override { benchmark::DoNotOptimize(frame.data); }
    void async_back2longtcp_defaultparam(const QString&) override {}
    QVariantMap stat_getCur(int) override { return {}; }
    HubFlow* flowManager() override { return nullptr; }
    Product_Interface* productInterface() override { return nullptr; }
};

// A file sink's work without the file: the line is formatted, then dropped.
void dropMessage(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    const QByteArray line = qFormatLogMessage(QtInfoMsg, context, message).toUtf8();
    benchmark::DoNotOptimize(line.constData());
}

struct Figures {
    double median = 0.0;
    double p99 = 0.0;
};
Figures gHub;
Figures gBare;

template <typename Fn>
void timed(benchmark::State& state, Figures& figures, Fn once)
{
    using Clock = std::chrono::steady_clock;
    for (int i = 0; i < kWarmUp; ++i)
        once();
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        once();
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    figures.median = samples[samples.size() / 2];
    figures.p99 = samples[std::min(samples.size() - 1, size_t(double(samples.size()) * 0.99))];
    state.counters["median_ms"] = figures.median;
    state.counters["p99_ms"] = figures.p99;
}

DiVuVarude* gHubObject = nullptr;

void hubDetection(benchmark::State& state)
{
    bool ok = false;
    timed(state, gHub, [&] {
        SCollect_Unit unit;
        gHubObject->RunAlgorithm_New(kStep, unit);
        ok = unit.is_valid && unit.result;
    });
    state.counters["ok"] = ok ? 1 : 0;
}

void bareStep(benchmark::State& state)
{
    Camera& camera = *gHubObject->camera();
    CameraImage& image = *camera.cameraImage();
    bool ok = false;
    timed(state, gBare, [&] {
        {
            QMutexLocker lock(pMutex);
            std::memcpy(image.rawBuffer(), gImageThread, size_t(image.getImageDataLen()));
        }
        image.updateImageData();
        camera.cameraRecong()->Run(kStep);
        ok = camera.getResult();
    });
    state.counters["ok"] = ok ? 1 : 0;
}

// PARAM.db with the step's regions and the step's master template, in the
// current directory.
bool prepareFiles(const cv::Mat& surface)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-setup"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        if (!db.open())
            return false;
        QSqlQuery q(db);
        q.exec(QStringLiteral("CREATE TABLE sysparam (name TEXT, value TEXT)"));
        q.exec(QStringLiteral("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)"));
        q.prepare(QStringLiteral("insert into cameraparam values ('camera0', ?)"));
        q.addBindValue(QString::fromUtf8(QJsonDocument(QJsonObject{{"index", 0}, {"rois", regionsJson()}}).toJson()));
        if (!q.exec())
            return false;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-setup"));
    QDir().mkpath(QStringLiteral("./cammer12"));
    return cv::imwrite("./cammer12/template00.bmp", surface);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false\ndefault.debug=false"));
    cv::setNumThreads(1);
    PluginsManager::getInstance();

    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    platform::DataRoot::setRoot(dir.filePath(QStringLiteral("root")));
    WorkStashManager_Config config;
    config.workspace_dir = dir.filePath(QStringLiteral("workspace/"));
    config.temp_dir = dir.filePath(QStringLiteral("tmp/"));
    WorkStashManager::getInstance(config);
    InitData();
    VCam_IO io;
    g_FrameIO = &io;
    QMutex frameMutex;
    pMutex = &frameMutex;
    const cv::Mat surface = makeSurface();
    if (!prepareFiles(surface)) {
        std::fprintf(stderr, "hub detection bench: PARAM.db or the template could not be written\n");
        return 1;
    }
    std::unique_ptr<AiqControl> isp;
    DiVuVarude::setCaptureStarter([&isp] {
        isp = std::make_unique<AiqControl>(AiqControl::WithoutPipeline{}, false, kFrame.width, kFrame.height);
        gAiqControl = isp.get();
    });
    QuietManager manager;
    HubManager::setInstance(&manager);
    auto hub = std::make_unique<DiVuVarude>();
    gHubObject = hub.get();
    WizardPara& params = *hub->params();
    params.h_temp_count = 3;
    params.s_sport_correction = true;
    params.h_mostskewing = kSearchMargin;
    params.h_use_ngtemp = false;
    QJsonObject all;
    params.GetParams(all);
    hub->applyToCamera(all, false);
    hub->RunTrain_Var(kStep);

    cv::Mat shown = surface.clone();
    cv::circle(shown, cv::Point(800, 450), 8, cv::Scalar(10), cv::FILLED);
    const std::vector<uint8_t> frame = nv12Of(shown);
    if (int(frame.size()) != platform::captureBufferSize()) {
        std::fprintf(stderr, "hub detection bench: no capture buffer of the frame's size\n");
        return 1;
    }
    std::memcpy(gImageThread, frame.data(), frame.size());
    gFPS.store(20);
    if (hub->camera()->cameraSingleton()->getRois(kStep).size() != int(regions().size())) {
        std::fprintf(stderr, "hub detection bench: the step's regions were not loaded\n");
        return 1;
    }
    {
        SCollect_Unit unit;
        hub->RunAlgorithm_New(kStep, unit);
        std::printf("first run: valid %d, ok %d (%s)\n", unit.is_valid, unit.result,
                    qPrintable(hub->camera()->resultReason()));
    }
    const QtMessageHandler previous = qInstallMessageHandler(dropMessage);

    benchmark::RegisterBenchmark("hub_detection/8_regions/RunAlgorithm_New", hubDetection)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("hub_detection/8_regions/bare_step", bareStep)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    qInstallMessageHandler(previous);

    if (gHub.median > 0.0 && gBare.median > 0.0) {
        std::printf("\none detection step through the hub, 8 regions, 1920 x 1080 NV12, one core\n");
        std::printf("%-18s %12s %12s\n", "", "median ms", "p99 ms");
        std::printf("%-18s %12.3f %12.3f\n", "RunAlgorithm_New", gHub.median, gHub.p99);
        std::printf("%-18s %12.3f %12.3f\n", "bare step", gBare.median, gBare.p99);
        std::printf("hub adds: median %+.3f ms (%+.1f %%), p99 %+.3f ms (aim on medians: <= 10 %% and <= 0.5 ms)\n",
                    gHub.median - gBare.median, 100.0 * (gHub.median / gBare.median - 1.0), gHub.p99 - gBare.p99);
    }
    gHubObject = nullptr;
    hub.reset();
    HubManager::setInstance(nullptr);
    gAiqControl = nullptr;
    isp.reset();
    g_FrameIO = nullptr;
    benchmark::Shutdown();
    return 0;
}
