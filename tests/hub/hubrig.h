#pragma once
// A whole hub on real files for the tests of detection, actions, pictures
// and the run state: a scratch working directory and data root, PARAM.db
// with regions on detection step 1 (a flaw region and a spot region over a
// moulded part), the step's master template, the IO frame, the frame-buffer
// mutex, a capture controller without the pipeline (so the capture buffer
// and the ISP stand-in exist), the recording manager and a frame rate.
//
// deliver() writes a picture as NV12 into the shared capture buffer under
// pMutex, as the capture thread does.
#include "hub/divuvarude.h"
#include "hub/fakehubmanager.h"
#include "hub/hubtestbench.h"

#include "capture/aiqcontrol.h"
#include "flow/flowworkevent.h"
#include "foundation/foundationglobals.h"
#include "foundation/uitexttable.h"
#include "foundation/workstashmanager.h"
#include "inspection/camerafixtures.h"
#include "io/vcam_io.h"
#include "platform/media/capturebuffer.h"
#include "platform/system/dataroot.h"
#include "support/hubwithoutpipeline.h"
#include "support/detectorfakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

#include <cstring>
#include <functional>
#include <memory>

namespace hubtest {

inline const cv::Rect kFlawRect(600, 300, 700, 450);
inline const cv::Rect kSpotRect(1400, 100, 200, 150);
inline const cv::Point kDefectAt(800, 450);  // inside the flaw region

// A working directory and data root of its own, with the IO frame the hub
// expects.
class HubEnvironment {
public:
    HubEnvironment()
    {
        platform::DataRoot::setRoot(wd.file("root"));
        WorkStashManager_Config config;
        config.workspace_dir = wd.file("workspace/");
        config.temp_dir = wd.file("tmp/");
        WorkStashManager::getInstance(config);
        InitData();
        g_FrameIO = &io;
    }
    ~HubEnvironment() { g_FrameIO = nullptr; }
    QString root(const QString& devicePath) const { return platform::DataRoot::path(devicePath); }

    WorkDir wd;
    VCam_IO io;
};

// Runs the event loop until `done` or about 10 s; whether it is done.
inline bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class HubRig : public HubEnvironment {
public:
    // With regions: step 1 gets the flaw and spot regions and its master.
    explicit HubRig(bool withRegions = true)
    {
        m_savedMutex = pMutex;
        pMutex = &frameMutex;
        part = detectortest::partImage(1920, 1080);
        if (withRegions) {
            QFile::copy(wd.file("paraGroup/default/PARAM.db"), wd.file("PARAM.db"));
            const QJsonArray rois{detectortest::rectRegion(1, 0, kSpotRect, "spot", {0, 50, 0, 5}),
                                  detectortest::rectRegion(1, 1, kFlawRect, "flaw", {45, 50, 3})};
            const QJsonObject row{{"index", 0}, {"rois", rois},
                                  {"camerainterface", camerafixtures::CameraRig::defaultCameraParams()}};
            sqlite3(wd.file("PARAM.db"),
                    "CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT);"
                    "INSERT INTO cameraparam VALUES ('camera0', '"
                        + QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact)) + "');");
            camerafixtures::CameraRig::writeMaster(1, part);
        }
        hub = testsupport::makeHubWithoutPipeline(isp);
    }
    ~HubRig()
    {
        hub.reset();
        gAiqControl = nullptr;
        isp.reset();
        gFPS.store(0);
        pMutex = m_savedMutex;
        gDNum = 4;
    }

    // The picture (grey, 1920 x 1080) as the capture side's latest frame.
    void deliver(const cv::Mat& picture)
    {
        const std::vector<uint8_t> frame = camerafixtures::rawFrame(picture);
        QMutexLocker lock(pMutex);
        ASSERT_EQ(int(frame.size()), platform::captureBufferSize());
        std::memcpy(gImageThread, frame.data(), frame.size());
    }
    // Delivers the picture and detects step 1 on it.
    SCollect_Unit detect(const cv::Mat& picture)
    {
        deliver(picture);
        SCollect_Unit unit;
        hub->RunAlgorithm_New(1, unit);
        return unit;
    }
    // The part with a dark defect in the flaw region.
    cv::Mat defective() const
    {
        cv::Mat shown = part.clone();
        cv::circle(shown, kDefectAt, 15, cv::Scalar(10), cv::FILLED);
        return shown;
    }
    QString records() const
    {
        return sqlite3(wd.file("RECORD.db"), "select remarks || '|' || recordtype from RECORD order by rowid;");
    }

    QMutex frameMutex;
    FakeHubManager manager;
    cv::Mat part;
    std::unique_ptr<AiqControl> isp;
    std::unique_ptr<DiVuVarude> hub;

private:
    QMutex* m_savedMutex = nullptr;
};

}  // namespace hubtest
