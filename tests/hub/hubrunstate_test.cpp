// The run-state report: its keys, the IO bits as the IO module reports them,
// the state rules of the main camera, the stop of detection, the counts, the
// log throttle of the missing IO module, and the camera status.
#include "hub/hubrig.h"

#include "foundation/zrc_workinformation_manager.h"
#include "hub/hublinkbench.h"
#include "support/logcapture.h"

#include <QRegularExpression>

#include <thread>

using hubtest::HubRig;
using hubtest::waitFor;
using iotest::Role;

TEST(HubRunStateTest, TheReportCarriesItsKeysTheModulesBitsAndTheCounts)
{
    iotest::LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    HubRig rig;
    g_FrameIO = b.frame.get();
    b.analyse(iotest::kModuleIp, 10411, "<S;3;IOM-SIM;01000001;00000000>");
    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) {
        w.output_bits = 0b100;
        w.link_flags = 3;
        w.no_input_warning = 1;
    });
    rig.manager.stats = {{"detect_ng", 3}, {"detect_ok", 97}};
    rig.manager.flow.state.fgs_zrp_flag = 4;
    rig.manager.flow.state.fgs_zrp_describe = "running";
    rig.manager.flow.state.fgs_zrp_show_unitindex_abs = 1;
    rig.manager.flow.state.period_ms = 1500;
    gFPS.store(17);

    QJsonObject report;
    std::thread worker([&] { report = rig.hub->getRunState(); });  // as the HTTP API asks
    worker.join();
    EXPECT_EQ(report.keys(), (QStringList{"cur_detect", "detect_ng", "detect_number", "deviceid", "dutycycle", "fps",
                                          "input_timeout", "io_input", "io_output", "release_actions", "session", "state",
                                          "state_describe", "sys_stop", "warn_msg"}));
    EXPECT_EQ(report.value("io_input").toArray(), (QJsonArray{0, 1, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(report.value("io_output").toArray(), (QJsonArray{0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(report.value("deviceid").toString(), "CAMSELF");
    EXPECT_EQ(report.value("session").toString(),
              "<C;21;CAMSELF;" + QString::fromStdString(b.camera->work().group_text) + ">");
    EXPECT_TRUE(report.value("input_timeout").toBool());
    EXPECT_EQ(report.value("state").toInt(), 4);
    EXPECT_EQ(report.value("state_describe").toString(), "running");
    EXPECT_EQ(report.value("cur_detect").toInt(), 1);
    EXPECT_EQ(report.value("fps").toInt(), 17);
    EXPECT_DOUBLE_EQ(report.value("dutycycle").toDouble(), 1.5);
    EXPECT_EQ(report.value("detect_ng").toInt(), 3);
    EXPECT_EQ(report.value("detect_number").toInt(), 100);
    EXPECT_FALSE(report.value("sys_stop").toBool());
    EXPECT_EQ(rig.manager.statCameras, QList<int>{0});
}

TEST(HubRunStateTest, TheStateFollowsTheFirstRuleThatAppliesAndAStopOverridesIt)
{
    struct Case {
        Role role;
        int links;
        bool lost;
        bool started;
        int state;
        QString text;
    };
    const Case cases[] = {
        {Role::Main, 0, true, true, -1, "单元组异常-未发现IO"},
        {Role::Main, 1, true, true, -1, "单元组异常-丢失子相机"},
        {Role::Main, 3, true, true, -2, "检测异常-丢失数据"},
        {Role::Main, 3, false, true, 4, "running"},
        {Role::Main, 0, false, false, 7, " 停止检测"},
        {Role::Sub, 0, true, true, 4, "running"},
        {Role::Sub, 3, true, false, 7, " 停止检测"},
    };
    for (const Case& c : cases) {
        iotest::CameraSetup camera(c.role);
        HubRig rig;
        camera.setModuleState(c.links);
        camera.setRunning(c.started);
        rig.manager.product.detect_exception.store(c.lost ? 1 : 0);
        rig.manager.flow.state.fgs_zrp_flag = 4;
        rig.manager.flow.state.fgs_zrp_describe = "running";
        const QJsonObject report = rig.hub->getRunState();
        EXPECT_EQ(report.value("state").toInt(), c.state) << c.text.toStdString();
        EXPECT_EQ(report.value("state_describe").toString(), c.text);
    }
}

TEST(HubRunStateTest, AHeldMachineNamesTheActionThatReleasesIt)
{
    struct Case {
        Role role;
        bool lost;
        int runstate;
        QStringList routes;
    };
    const QStringList ngStop{"/dide/action/noactionmold", "/dide/action/redetect", "/dide/action/addtemplate"};
    const Case cases[] = {
        {Role::Main, true, 2, {"/dide/action/forcerestore"}},
        {Role::Main, true, 0, {"/dide/action/forcerestore"}},
        {Role::Main, false, 2, ngStop},
        {Role::Main, false, 0, {}},
        {Role::Sub, true, 0, {}},
    };
    for (const Case& c : cases) {
        iotest::CameraSetup camera(c.role);
        HubRig rig;
        camera.setModuleState(3);
        rig.manager.product.detect_exception.store(c.lost ? 1 : 0);
        rig.manager.flow.state.fgs_runstate = c.runstate;
        QStringList routes;
        for (const QJsonValue& v : rig.hub->getRunState().value("release_actions").toArray())
            routes << v.toString();
        EXPECT_EQ(routes, c.routes) << c.lost << " " << c.runstate;
    }
}

TEST(HubRunStateTest, TheDataLostFlagSetByTheReactionStaysInTheReport)
{
    iotest::CameraSetup camera(Role::Main);
    HubRig rig;
    rig.hub->handlingOfExceptionalEvent();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(rig.hub->getRunState().value("state").toInt(), -2);
}

TEST(HubRunStateTest, TheMissingIOModuleIsLoggedOnceAHundredReports)
{
    iotest::CameraSetup camera(Role::Main);
    HubRig rig;
    camera.setModuleState(0);
    testsupport::LogCapture log;
    for (int i = 0; i < 300; ++i)
        rig.hub->getRunState();
    const QRegularExpression line("^单元组异常-未发现IO (\\d+)$");
    QList<int> counts;
    for (const QString& m : log.messages())
        if (line.match(m).hasMatch())
            counts << line.match(m).captured(1).toInt();
    ASSERT_EQ(counts.size(), 3);
    for (int n : counts)
        EXPECT_EQ(n % 100, 1) << n;
    EXPECT_TRUE(log.reachesLogFiles("单元组异常-未发现IO"));
}

TEST(HubRunStateTest, TheCameraStatusAndTheDetectionInformation)
{
    struct Case { int runstate; int code; QString text; bool hasText; };
    const Case cases[] = {{0, 0, "正常运行", true}, {1, 2, "重新采样", true}, {2, 2, "", false}, {5, 5, "", false}};
    HubRig rig;
    for (const Case& c : cases) {
        rig.manager.flow.state.fgs_runstate = c.runstate;
        QJsonObject obj{{"keep", 1}};
        rig.hub->getCameraState(obj);
        EXPECT_EQ(obj.value("status_code").toInt(), c.code) << c.runstate;
        EXPECT_EQ(obj.contains("status_describe"), c.hasText) << c.runstate;
        EXPECT_EQ(obj.value("status_describe").toString(), c.text) << c.runstate;
        EXPECT_TRUE(obj.contains("keep"));
    }
    rig.manager.flow.state.fgs_runstate = 2;
    EXPECT_TRUE(rig.hub->getRunState().value("sys_stop").toBool());
    rig.manager.flow.state.fgs_zrp_flag = 3;
    EXPECT_EQ(rig.hub->detectInfo(2), (QJsonObject{{"cur_detect", 2}, {"datatype", 0}, {"stop", true}}));
    rig.manager.withFlow = false;
    EXPECT_EQ(rig.hub->detectInfo(1).value("stop").toBool(), false);
}
