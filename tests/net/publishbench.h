#pragma once
// A camera with its publisher and two operator applications, in a private
// network of its own (IsolatedNetwork), so the fixed ports 10416 and 10417
// can be used: the camera is 127.0.0.1, the applications 127.0.0.2 and
// 127.0.0.3. Construct it first thing in a test; skip when ok() is false.
//
// The work information is machine IO's test camera (io/iotestbench.h): a
// scratch working directory and a group in which this camera, CAMSELF at
// 127.0.0.1, is the main camera (or a sub camera); the work stash writes
// "Vistrel.ini" there; local time is UTC.
#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "io/iotestbench.h"
#include "net/tm_zrp_publish.h"
#include "net/udp_push2app_simple.h"
#include "nettestbench.h"
#include "platform/system/commandrunner.h"
#include "platform/system/monotonicclock.h"
#include "support/scratchdir.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <ctime>
#include <memory>

namespace nettest {

using iotest::kSelf;
inline const QString kApp1 = QStringLiteral("127.0.0.2");
inline const QString kApp2 = QStringLiteral("127.0.0.3");

class CameraWork {
public:
    explicit CameraWork(bool mainCamera = true)
        : m_setup(mainCamera ? iotest::Role::Main : iotest::Role::Sub)
    {
        qputenv("TZ", "UTC");
        ::tzset();
        mgr = m_setup.mgr;
        WorkStashManager_Config c;
        c.workspace_dir = m_setup.dir() + "/workspace/";
        c.temp_dir = m_setup.dir() + "/tmp/";
        stash = WorkStashManager::getInstance(c);
        platform::CommandRunner::instance().clearRecorded();
        platform::CommandRunner::instance().clearChangeExitCodes();
        Udp_Push2APP_Simple::setWorkingUnitProbe([this] { return workingUnit.load(); });
    }
    ~CameraWork()
    {
        Udp_Push2APP_Simple::setWorkingUnitProbe({});
        setWallClockOffsetForTest(0);
    }
    void setGroupText(const std::string& text)
    {
        mgr->update_working_info([&](ZRC_WorkInfos& w) { w.group_text = text; });
    }
    ZRC_WorkInfos work() const { return mgr->get_working_info(); }
    QString dir() const { return m_setup.dir(); }

    ZRC_WorkInformation_Manager* mgr = nullptr;
    WorkStashManager* stash = nullptr;
    std::atomic<int> workingUnit{-1};

private:
    iotest::CameraSetup m_setup;  // this camera in a scratch working directory, with its group
};

struct PublishBench {
    IsolatedNetwork net;  // first: everything below lives in it
    std::unique_ptr<CameraWork> camera;
    std::unique_ptr<AppSimulator> app1;
    std::unique_ptr<AppSimulator> app2;
    std::unique_ptr<TM_ZRP_Publish> publisher;

    explicit PublishBench(bool mainCamera = true)
    {
        if (!net.ok())
            return;
        camera = std::make_unique<CameraWork>(mainCamera);
        app1 = std::make_unique<AppSimulator>();
        app2 = std::make_unique<AppSimulator>();
        app1->setAppVersion(QStringLiteral("V1.6.7.94"));
        app2->setAppVersion(QStringLiteral("V1.7.0.1"));
        started = app1->start(QHostAddress(kApp1)) && app2->start(QHostAddress(kApp2));
        publisher = std::make_unique<TM_ZRP_Publish>();
        publisher->update_p2ahb_stash_runstate(R"({"state":0})");
    }
    ~PublishBench()
    {
        publisher.reset();
    }
    bool ok() const { return net.ok() && started; }
    ZRC_WorkInfos work() const { return camera->work(); }
    // Registers an application as its device-list request would.
    void registerApp(const QString& ip)
    {
        camera->mgr->update_working_info([&](ZRC_WorkInfos& w) {
            AppRegiestInfo& a = w.registered_apps[ip.toStdString()];
            a.time_ms = gettimeofday_ms();
            a.mono_ms = platform::MonotonicClock::nowMs();
        });
    }
    bool started = false;
};

}  // namespace nettest
