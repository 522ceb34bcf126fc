// The operator action routes over real HTTP on the program's own objects:
// the passports the detection actions hand to the flow, the refusals that
// leave everything as it was, the threads each pattern runs on, and the
// restart and initialisation sequences as the command runner records them.
#include "support/programfixture.h"
#include "support/logcapture.h"
#include "support/recordedcommands.h"

#include "foundation/zrc_workinformation_manager.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <future>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;
using testsupport::recordedCommandLines;

namespace {

QString ownId()
{
    return ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
}

// Waits, running events, until `cond` holds (generous: the machine is loaded).
bool eventually(ProgramFixture& f, const std::function<bool()>& cond)
{
    return hubtest::waitFor([&] {
        f.settle(10);
        return cond();
    });
}

}  // namespace

TEST(HttpActionRoutesTest, DetectionActionsHandTheirPassportToTheFlow)
{
    ProgramFixture f;
    struct Case {
        QString route;
        QJsonObject body;
        int condType;
        int abs;
        QStringList ids;
        QString record;
    };
    const QJsonArray both{ownId(), ProgramFixture::subId()};
    const QList<Case> cases = {
        {"/dide/action/redetect", {{"detect_index", 3}, {"uuids", both}}, 16, 3, {ownId(), ProgramFixture::subId()},
         QString::fromUtf8("重新检测: 相机1相机2")},
        {"/dide/action/noactionmold", {{"detect_index", "2"}, {"uuids", QJsonArray{ProgramFixture::subId()}}}, 8, 2,
         {ProgramFixture::subId()}, QString::fromUtf8("不检测此模: 相机2")},
        {"/dide/action/addtemplate", {{"detect_index", 1}, {"uuids", QJsonArray{"stranger"}}}, 32, 1, {"stranger"},
         QString::fromUtf8("添加为模板: 相机0")},
        {"/dide/action/resample", {{"remove_template", true}}, 64, -1, {ownId(), ProgramFixture::subId()},
         QString::fromUtf8("重新取样: 相机1相机2")},
        {"/dide/action/resample", {{"uuids", QJsonArray{}}}, 64, -1, {}, QString::fromUtf8("重新取样: ")},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route.toStdString() + " " + QJsonDocument(c.body).toJson(QJsonDocument::Compact).toStdString());
        const QByteArray agent = "app-" + QByteArray::number(++n);
        const HttpAnswer a = f.request(c.route, c.body, {{"User-Agent", agent}, {"User-ID", "op1"}});
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.msg, "OK");
        EXPECT_TRUE(a.result.isEmpty());
        EXPECT_EQ(a.raw.header("User-Agent"), agent);
        ASSERT_TRUE(eventually(f, [&] { return f.passports().size() == n; }));
        const FlowUnit_Passport p = f.passports().last();
        EXPECT_EQ(p.uuid, QString::fromLatin1(agent));
        EXPECT_EQ(p.condition.cond_type, c.condType);
        EXPECT_EQ(p.condition.cond_url, c.route);
        EXPECT_EQ(p.condition.cond_detect_index_abs, c.abs);
        EXPECT_EQ(p.condition.cond_detect_index, -1);
        EXPECT_EQ(p.condition.cond_action_deviceids, c.ids);
        EXPECT_TRUE(p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
        EXPECT_EQ(p.condition.cond_resample_rm_oldtemp, c.body.value("remove_template").toBool());
        EXPECT_EQ(p.condition.cond_user_id, "op1");
        ASSERT_TRUE(eventually(f, [&] { return !f.records().isEmpty() && f.records().last().startsWith(c.record + "|"); }))
            << f.records().join('\n').toStdString();
        EXPECT_EQ(f.records().last(), c.record + "|operate|op1");
    }
    // Without a "User-Agent" the passport carries the server's id, which the
    // reply echoes.
    const HttpAnswer a = f.request("/dide/action/redetect", QJsonObject{{"detect_index", 0}});
    ASSERT_TRUE(eventually(f, [&] { return f.passports().size() == n + 1; }));
    EXPECT_TRUE(a.raw.header("User-Agent").startsWith("VC_#"));
    EXPECT_EQ(f.passports().last().uuid, QString::fromLatin1(a.raw.header("User-Agent")));
    EXPECT_EQ(f.passports().last().condition.cond_user_id, QString()) << "no \"User-ID\": nobody";
}

// Every refusal: code 1, an empty result, a message naming the key; no
// passport, record, command or file change.
TEST(HttpActionRoutesTest, RefusalsLeaveEverythingAsItWas)
{
    ProgramFixture f;
    f.settle(300);
    const QStringList recordsBefore = f.records();
    const QByteArray filesBefore = f.filesDigest();
    struct Case {
        QString route;
        QByteArray body;
        QString key;
    };
    const QList<Case> cases = {
        {"/dide/action/redetect", "{}", "detect_index"},
        {"/dide/action/redetect", R"({"detect_index":3.5})", "detect_index"},
        {"/dide/action/redetect", R"({"detect_index":true})", "detect_index"},
        {"/dide/action/redetect", R"({"detect_index":2147483648})", "detect_index"},
        {"/dide/action/noactionmold", R"({"detect_index":"x"})", "detect_index"},
        {"/dide/action/addtemplate", R"({"detect_index":1,"uuids":"CAM"})", "uuids"},
        {"/dide/action/addtemplate", R"({"detect_index":1,"uuids":[1]})", "uuids"},
        {"/dide/action/resample", R"({"uuids":{}})", "uuids"},
        {"/dide/action/manual_catch", "{}", "detect_index"},
        {"/dide/action/manual_catch", R"({"detect_index":0,"fix_mold_index":1.5})", "fix_mold_index"},
        {"/dide/action/settemp_fromng", R"({"detect":0})", "index"},
        {"/dide/action/settemp_fromng", R"({"detect":1e300,"index":0})", "detect"},
        {"/dide/action/setstatus", "{}", "status"},
        {"/dide/action/setstatus", R"({"status":1})", "status"},
        {"/dide/action/removeobject", "{}", "infos"},
        {"/dide/action/removeobject",
         R"({"infos":[{"type":"template","detect_index":0,"obj_name":"template00.bmp"},)"
         R"({"type":"template","detect_index":0,"obj_name":"../PARAM.db"}]})",
         "obj_name"},
        {"/dide/action/removeobject", R"({"infos":[{"type":"template","obj_name":"template00.bmp"}]})",
         "detect_index"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.route.toStdString() + " " + c.body.toStdString());
        testsupport::LogCapture log;
        const HttpAnswer a = f.request(c.route, c.body);
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.result.isEmpty());
        EXPECT_TRUE(a.msg.contains("\"" + c.key + "\"")) << a.msg.toStdString();
        EXPECT_TRUE(log.reachesLogFiles("refused")) << "the refusal is logged";
    }
    f.settle(300);
    EXPECT_TRUE(f.passports().isEmpty());
    EXPECT_EQ(f.records(), recordsBefore);
    EXPECT_EQ(f.filesDigest(), filesBefore);
    EXPECT_TRUE(recordedCommandLines().isEmpty());
    EXPECT_TRUE(f.product.workEvents.isEmpty());
}

TEST(HttpActionRoutesTest, EachPatternRunsOnItsThreads)
{
    ProgramFixture f;
    QThread* main = QThread::currentThread();
    const QStringList worker = {"/dide/action/setsystime", "/dide/action/redetect", "/dide/debug/restart_rpc_service"};
    const QStringList onMain = {"/dide/action/countclear", "/dide/action/clear_warn", "/dide/action/setstatus"};
    for (const QString& route : worker + onMain) {
        f.service->clearStages();
        f.request(route, "{}");
        const auto stages = f.service->stages();
        ASSERT_EQ(stages.size(), 1) << route.toStdString();
        if (worker.contains(route))
            EXPECT_NE(stages[0].thread, main) << route.toStdString();
        else
            EXPECT_EQ(stages[0].thread, main) << route.toStdString();
    }
    // Worker then main: the answer on a worker, the work on main.
    for (const QString route : {"/dide/roi/finish_roiset", "/dide/system/set_userflow"}) {
        f.service->clearStages();
        const HttpAnswer a = f.request(route, R"({"userflow":{}})");
        EXPECT_EQ(a.code, 0) << route.toStdString();
        ASSERT_TRUE(eventually(f, [&] { return f.service->stages().size() == 2; })) << route.toStdString();
        const auto stages = f.service->stages();
        EXPECT_EQ(stages[0].stage, testsupport::RecordingService::HandlerStage::Answer);
        EXPECT_NE(stages[0].thread, main) << route.toStdString();
        EXPECT_EQ(stages[1].stage, testsupport::RecordingService::HandlerStage::Work);
        EXPECT_EQ(stages[1].thread, main) << route.toStdString();
    }
    // The camera-pair link restarts on its own thread.
    ASSERT_TRUE(eventually(f, [&] { return !f.link.initThreads().isEmpty(); }));
    EXPECT_EQ(f.link.initThreads().last(), f.link.linkThread());
}

// The four detection actions answer from a worker while the main thread is
// held; the flow takes their passports in once it runs again.
TEST(HttpActionRoutesTest, DetectionActionsAnswerWhileMainIsHeld)
{
    ProgramFixture f;
    const quint16 port = f.port();
    for (const QByteArray route : {"/dide/action/redetect", "/dide/action/noactionmold", "/dide/action/addtemplate",
                                   "/dide/action/resample"}) {
        const QByteArray body = R"({"detect_index":1})";
        auto reply = std::async(std::launch::async, [&] {
            return testsupport::rawHttpExchange(
                port, "POST " + route + " HTTP/1.1\r\nHost: t\r\nUser-ID: u7\r\nContent-Type: application/json\r\n"
                          + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body,
                30000);
        });
        // This (the main) thread runs no events while it waits.
        ASSERT_EQ(reply.wait_for(std::chrono::seconds(30)), std::future_status::ready) << route.toStdString();
        const auto r = testsupport::RawHttpReply::parse(reply.get());
        EXPECT_EQ(r.body, R"({"code":0,"msg":"OK","result":{}})") << route.toStdString();
    }
    // The answer goes out before the passport leaves (the application never
    // waits for the flow), so the last one may still be on its way.
    EXPECT_TRUE(eventually(f, [&] { return f.passports().size() == 4; })) << f.passports().size();
    EXPECT_TRUE(eventually(f, [&] { return !f.product.workEvents.isEmpty(); })) << "the flow took them in";
    // The flow hands the operator who asked on to the work events.
    for (const FlowUnit_Passport& p : f.product.workEvents)
        EXPECT_EQ(p.condition.cond_user_id, "u7") << p.condition.cond_url.toStdString();
}

TEST(HttpActionRoutesTest, ManualCatchByProgramLogic)
{
    struct Case {
        int logic;
        int turntable;
        QJsonObject body;
        bool accepted;
    };
    const QList<Case> cases = {
        {0, 0, {{"detect_index", 0}}, true},
        {0, 0, {{"detect_index", 99}}, false},
        {2, 0, {{"detect_index", 99}}, false},
        {2, 1, {{"detect_index", 99}}, false},
        {2, 3, {{"detect_index", 99}, {"fix_mold_index", 0}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QString("logic %1 type %2 %3")
                         .arg(c.logic)
                         .arg(c.turntable)
                         .arg(QString::fromUtf8(QJsonDocument(c.body).toJson(QJsonDocument::Compact)))
                         .toStdString());
        ProgramFixture f(testsupport::ProgramOptions{c.logic, c.turntable});
        const QStringList before = f.records();
        const HttpAnswer a = f.request("/dide/action/manual_catch", c.body, {{"User-Agent", "app-m"}});
        if (c.accepted) {
            EXPECT_EQ(a.code, 0);
            EXPECT_TRUE(a.result.isEmpty());
            ASSERT_TRUE(eventually(f, [&] { return f.passports().size() == 1; }));
            const FlowWork_Condition cond = f.passports()[0].condition;
            EXPECT_EQ(cond.cond_type, 2);
            EXPECT_EQ(cond.cond_detect_index, c.body.value("detect_index").toInt());
            EXPECT_EQ(cond.cond_detect_index_abs, c.body.value("detect_index").toInt());
            ASSERT_TRUE(eventually(f, [&] { return f.records().size() == before.size() + 1; }));
            EXPECT_TRUE(f.records().last().startsWith(QString::fromUtf8("手动抓拍: ")));
            continue;
        }
        if (c.logic == 2) {
            // The turntable's one error reply: code 0, the group's machine id.
            EXPECT_EQ(a.code, 0);
            EXPECT_EQ(a.result, (QJsonObject{{"error_type", "turntable"},
                                             {"error_string", QString::fromUtf8("未发现左右模信号")}}));
            EXPECT_EQ(a.raw.header("Device-ID"), "MACHINE-7");
        } else {
            EXPECT_EQ(a.code, 1);
            EXPECT_TRUE(a.msg.contains("detect_index"));
        }
        f.settle(200);
        EXPECT_TRUE(f.passports().isEmpty());
        EXPECT_EQ(f.records(), before);
    }
}

TEST(HttpActionRoutesTest, SetStatusStopsAndStartsWork)
{
    ProgramFixture f;
    struct Case {
        QString status;
        QString record;  // empty: none
        bool started;
    };
    const QList<Case> cases = {
        {"STOP", QString::fromUtf8("手动设置停止检测"), false},
        {"pause", QString(), false},
        {"start", QString::fromUtf8("手动设置开始检测"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.toStdString());
        const QStringList before = f.records();
        f.flowStartStops.clear();
        const HttpAnswer a = f.request("/dide/action/setstatus", QJsonObject{{"status", c.status}}, {{"User-ID", "op2"}});
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.result, (QJsonObject{{"status", c.status}}));
        EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->get_working_info().started, c.started);
        if (c.record.isEmpty()) {
            f.settle(200);
            EXPECT_EQ(f.records(), before);
            EXPECT_TRUE(f.flowStartStops.isEmpty());
        } else {
            ASSERT_TRUE(eventually(f, [&] { return f.records().size() == before.size() + 1; }));
            EXPECT_EQ(f.records().last(), c.record + "|operate|op2");
            const QStringList expected{c.started ? "start" : "stop"};
            EXPECT_EQ(f.flowStartStops, expected);
        }
    }
}

TEST(HttpActionRoutesTest, ForceRestoreClearsTheDataLostState)
{
    ProgramFixture f;
    f.product.detect_exception.store(1);
    EXPECT_EQ(f.hub->getRunState().value("state").toInt(), -2);
    const QStringList before = f.records();
    const HttpAnswer a = f.request("/dide/action/forcerestore", "{}", {{"User-Agent", "app-f"}});
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(f.product.detect_exception.load(), 0);
    EXPECT_NE(f.hub->getRunState().value("state").toInt(), -2);
    ASSERT_EQ(f.passports().size(), 1);
    const FlowUnit_Passport p = f.passports()[0];
    EXPECT_EQ(p.uuid, "app-f");
    EXPECT_EQ(p.condition.cond_type, 8);
    EXPECT_EQ(p.condition.cond_url, "/dide/action/noactionmold");
    EXPECT_EQ(p.condition.cond_action_deviceids, (QStringList{ownId(), ProgramFixture::subId()}));
    // No unit is stopped: the no-check cycle is aimed at none.
    EXPECT_EQ(p.condition.cond_detect_index_abs, -1);
    f.settle(200);
    EXPECT_EQ(f.records(), before);
}

TEST(HttpActionRoutesTest, TemplateFromNgRecordsOnlyWhatWasAdded)
{
    ProgramFixture f;
    const QStringList before = f.records();
    // No NG image is held: nothing is added, so nothing is recorded.
    const HttpAnswer a = f.request("/dide/action/settemp_fromng", QJsonObject{{"detect", 0}, {"index", 0}});
    EXPECT_EQ(a.code, 1);
    f.settle(200);
    EXPECT_EQ(f.records(), before);
}

TEST(HttpActionRoutesTest, SetSystimeLeavesTheClockAlone)
{
    ProgramFixture f;
    const HttpAnswer a = f.request("/dide/action/setsystime", R"({"time":"2020-01-01 00:00:00"})");
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.msg, "OK");
    EXPECT_TRUE(recordedCommandLines().isEmpty());
}

TEST(HttpActionRoutesTest, SystemInitialiseRestoresTheFactoryParameters)
{
    {
        // Without the factory file nothing changes and nothing reboots.
        ProgramFixture f;
        QFile::rename(f.wd.file("paraGroup/default/PARAM.db"), f.wd.file("factory.db"));
        const QByteArray files = f.filesDigest();
        const HttpAnswer a = f.request("/dide/action/system_initialize");
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.msg.contains("default/PARAM.db"));
        EXPECT_EQ(f.filesDigest(), files);
        EXPECT_TRUE(recordedCommandLines().isEmpty());
    }
    {
        // A factory file that cannot be staged: nothing changes either.
        ProgramFixture f;
        QDir().mkpath(f.wd.file(".PARAM.db.initialising/x"));
        const HttpAnswer a = f.request("/dide/action/system_initialize");
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(QFile::exists(f.wd.file("cammer11")));
        EXPECT_TRUE(recordedCommandLines().isEmpty());
    }
    ProgramFixture f;
    QDir().mkpath(f.root("/userdata/alarmimage/cammer1_ng"));
    const HttpAnswer a = f.request("/dide/action/system_initialize");
    EXPECT_EQ(a.code, 0);
    // The images go after the answer, then the restart.
    ASSERT_TRUE(hubtest::waitFor([] { return recordedCommandLines().size() == 2; }));
    EXPECT_EQ(f.wd.dir().read("PARAM.db"), f.wd.dir().read("paraGroup/default/PARAM.db"));
    EXPECT_FALSE(QFile::exists(f.wd.file("cammer11")));
    EXPECT_FALSE(QFile::exists(f.root("/userdata/alarmimage")));
    EXPECT_TRUE(QFile::exists(f.wd.file("paraGroup/mouldA/PARAM.db"))) << "groups are kept";
    EXPECT_EQ(recordedCommandLines(), (QStringList{"sync", "reboot"}));
}

TEST(HttpActionRoutesTest, SysRestartStoresRecordsAndReboots)
{
    ProgramFixture f;
    const HttpAnswer a = f.request("/dide/action/sysrestart", "{}", {{"User-ID", "op3"}});
    EXPECT_EQ(a.code, 0);
    ASSERT_TRUE(eventually(f, [&] { return recordedCommandLines().size() == 2; }));
    EXPECT_EQ(recordedCommandLines(), (QStringList{"sync", "reboot"}));
    EXPECT_EQ(f.records().last(), QString::fromUtf8("手动关闭电源|operate|op3"));
}

// A main thread that never comes back does not cancel the restart.
TEST(HttpActionRoutesTest, SysRestartRebootsWhenMainDoesNotAnswer)
{
    ProgramFixture f;
    f.service->setHandOverLimitMs(300);
    const quint16 port = f.port();
    auto reply = std::async(std::launch::async, [&] {
        return testsupport::rawHttpExchange(port, "GET /dide/action/sysrestart HTTP/1.1\r\nHost: t\r\n\r\n", 30000);
    });
    // The main thread runs no events meanwhile.
    ASSERT_EQ(reply.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(hubtest::waitFor([] { return recordedCommandLines().size() == 2; }));
    EXPECT_EQ(recordedCommandLines(), (QStringList{"sync", "reboot"}));
}

TEST(HttpActionRoutesTest, CountersWarningsAndAlarm)
{
    ProgramFixture f;
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([](ZRC_WorkInfos& w) { w.warn_tip = 1; });
    for (const char* route : {"/dide/action/countclear", "/dide/action/clear_ioinput_warning",
                              "/dide/action/shutup_alarm", "/dide/action/clear_warn",
                              "/dide/action/restoredefaultparameters"}) {
        const HttpAnswer a = f.request(route);
        EXPECT_EQ(a.code, 0) << route;
        EXPECT_TRUE(a.result.isEmpty()) << route;
    }
    EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->get_working_info().warn_tip, 0);
    EXPECT_EQ(f.defaultParamPushes, QStringList{QString()});
}
