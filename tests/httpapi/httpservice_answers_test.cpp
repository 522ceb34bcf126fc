// What the counter, summary, run-state stash, history and subscriber routes
// answer for a known state of the program, over real HTTP on the program's
// own objects: every key the operator application or an outside system
// reads, with its value.
#include "foundation/zrc_workinformation_manager.h"
#include "group/rpcdist_define.h"
#include "hub/wizardpara.h"
#include "statistics/productstatisticsdatabase.h"
#include "support/logcapture.h"
#include "support/programfixture.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

#include <functional>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;
using testsupport::ProgramOptions;

namespace {

QString ownId() { return ZRC_WorkInformation_Manager::getInstance()->get_deviceid(); }

// This camera as the group's main camera (first), or as a sub of another
// main camera; the group's machine id stays "MACHINE-7".
void beMain(bool main)
{
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    ZRC_DeviceInfos group = work->get_device_info();
    group.cameras.clear();
    if (main)
        group.cameras << DeviceNetInfo(ownId(), QStringLiteral("127.0.0.1"), 1)
                      << DeviceNetInfo(ProgramFixture::subId(), QStringLiteral("127.0.0.2"), 0);
    else
        group.cameras << DeviceNetInfo(QStringLiteral("CAM-OTHER"), QStringLiteral("127.0.0.3"), 1)
                      << DeviceNetInfo(ownId(), QStringLiteral("127.0.0.1"), 0);
    work->set_device_info(group);
}

ProgramOptions withPublisher()
{
    ProgramOptions o;
    o.withPublisher = true;
    return o;
}

std::string text(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString(); }

int sum(const QJsonValue& array)
{
    int n = 0;
    for (const QJsonValue& v : array.toArray())
        n += v.toInt();
    return n;
}

}  // namespace

TEST(HttpRouteAnswers, ProductInfosAreThisCamerasCountersAndTheGroupsRunState)
{
    ProgramFixture f(withPublisher());
    // This camera is the first of the group: its counts are the first of
    // each per-camera list.
    f.statistics->map2Params({{"detect_ok", 20},
                              {"detect_ng", 5},
                              {"detect_ok_detail", "[7, 13]"},
                              {"detect_ng_detail", "[3, 2]"},
                              {"runtime", 11},
                              {"stoptime", 12},
                              {"alarmtime", 13},
                              {"closetime", 14},
                              {"starttime", "2026-01-02 03:04:05"}});
    const QJsonArray ids{ownId(), ProgramFixture::subId()};
    const auto infos = [&](int workstate, bool iswork) {
        return QJsonObject{{"camera_count", 2},     {"detect_all", 10},    {"detect_ng", 3},
                           {"workstate", workstate}, {"stop", false},       {"iswork", iswork},
                           {"run_runtime", 11},     {"stop_nowork", 12},   {"run_stoptime", 13},
                           {"close_nowork", 14},    {"info_machine_name", "MACHINE-7"},
                           {"info_deviceid", ids}};
    };
    struct Case {
        const char* name;
        std::function<void()> before;
        QJsonObject result;
    };
    const Case cases[] = {
        {"main camera at work", [] {}, infos(0, true)},
        {"main camera stopped by the operator",
         [&] { ASSERT_EQ(f.request("/dide/action/setstatus", QJsonObject{{"status", "stop"}}).code, 0); },
         infos(7, false)},
        {"sub camera: no counters to give", [] { beMain(false); }, QJsonObject()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        const HttpAnswer a = f.request("/dide/httpapi/get_product_infos");
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.msg, "OK");
        EXPECT_EQ(a.result, c.result) << text(a.result);
        EXPECT_FALSE(a.result.contains("detect_ok")) << "a client derives it";
    }
}

TEST(HttpRouteAnswers, LastDetectInfoIsThePublishersSummaryOnTheMainCameraOnly)
{
    ProgramFixture f(withPublisher());
    const QJsonObject summary{{"detect_index", 1}, {"result", false}, {"business_id", "b-9"}, {"time", 1234}};
    struct Case {
        const char* name;
        bool main;
        QJsonObject stash;
        QJsonObject result;
    };
    const Case cases[] = {
        {"main camera before any detection", true, QJsonObject(), QJsonObject()},
        {"main camera", true, summary, summary},
        {"sub camera", false, summary, QJsonObject()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        beMain(c.main);
        f.publisher->set_stash_last_detectedinfo(c.stash);
        const HttpAnswer a = f.request("/dide/httpapi/get_last_detectinfo");
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.result, c.result) << text(a.result);
    }
}

TEST(HttpRouteAnswers, StashedRunStateIsAnsweredAsItsObject)
{
    ProgramFixture f(withPublisher());
    const QJsonObject state{{"state", 3}, {"state_describe", "NG"}, {"fps", 20}, {"betaken_appip", "10.1.1.9"},
                            {"package_index", 41}};
    struct Case {
        const char* name;
        QByteArray stash;
        QJsonObject result;
    };
    const Case cases[] = {
        {"the heartbeat's report", QJsonDocument(state).toJson(QJsonDocument::Compact), state},
        {"nothing stashed yet", QByteArray(), QJsonObject()},
        {"not JSON", "{\"state\":", QJsonObject()},
        {"not an object", "[1,2]", QJsonObject()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f.publisher->update_p2ahb_stash_runstate(c.stash);
        const HttpAnswer a = f.request("/dide/context/get_stash_runstate_p2ahb");
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.result, c.result) << text(a.result);
    }
}

// The statistics hold hours of three projects; the history is that of the
// project PARAM.db names, read on the route's worker thread.
TEST(HttpRouteAnswers, HistoryIsThatOfTheProjectNamedInParamDb)
{
    ProgramFixture f;
    struct Counts {
        QString project;
        int ok, ng, runtime;
    };
    const QList<Counts> stored = {{"mouldA", 40, 2, 30}, {"mouldB", 7, 5, 9}, {"", 1, 0, 1}};
    // Two hours ago: inside the day and the week, and an hour the running
    // statistics never write.
    const QString hour = QDateTime::currentDateTime().addSecs(-2 * 3600).toString("yyyy-MM-dd hh");
    ProductstatisticsDatabase::HourRecords records;
    for (const Counts& c : stored) {
        stru_StatisticsInfo r;
        r.reset(hour, 4, 2, c.project);
        r.detect_ok = c.ok;
        r.detect_ng = c.ng;
        r.runtime = c.runtime;
        records.insert(c.project, r);
    }
    StatisticsLive live;
    live.detect_ok = 9;
    live.detect_ng = 4;
    live.starttime = QStringLiteral("2026-01-02 03:04:05");
    ProductstatisticsDatabase& db = f.statistics->database();
    db.slotSaveRecord(hour, records, live);
    ASSERT_TRUE(hubtest::waitFor([&] { return db.committedSaves() >= db.submittedSaves(); }));
    f.hub->InsertRecord(QStringLiteral("history probe"), QStringLiteral("operate"));
    f.settle(100);

    for (const Counts& c : stored) {
        SCOPED_TRACE(c.project.toStdString());
        ASSERT_EQ(f.hub->params()->Replace_KeyValue("sysparam", "project_name", c.project), 0);
        testsupport::LogCapture log;
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const HttpAnswer a = f.request("/dide/context/history_record");
        const qint64 after = QDateTime::currentSecsSinceEpoch();
        ASSERT_EQ(a.code, 0);
        const QJsonObject& r = a.result;
        QStringList keys = r.keys();
        keys.sort();
        EXPECT_EQ(keys, (QStringList{"cameracount", "cur_all", "cur_ng", "cur_time", "day_all", "day_ng",
                                     "day_runtime", "day_stoptime", "last_operate", "mon_all", "mon_ng", "runtime",
                                     "stoptime", "week_all", "week_ng"}));
        EXPECT_EQ(r.value("last_operate").toString(), "history probe");
        EXPECT_GE(qint64(r.value("cur_time").toDouble()), before);
        EXPECT_LE(qint64(r.value("cur_time").toDouble()), after);
        EXPECT_EQ(r.value("cameracount").toInt(), 2);
        EXPECT_EQ(r.value("cur_ng").toInt(), 4);
        EXPECT_EQ(r.value("cur_all").toInt(), 13);
        // One entry an hour of the last day, one a day of the week.
        for (const char* key : {"day_all", "day_ng", "day_runtime", "day_stoptime"})
            EXPECT_EQ(r.value(key).toArray().size(), 24) << key;
        for (const char* key : {"week_all", "week_ng", "runtime", "stoptime"})
            EXPECT_EQ(r.value(key).toArray().size(), 7) << key;
        EXPECT_EQ(sum(r.value("day_all")), c.ok + c.ng);
        EXPECT_EQ(sum(r.value("day_ng")), c.ng);
        EXPECT_EQ(sum(r.value("day_runtime")), c.runtime);
        EXPECT_EQ(sum(r.value("week_all")), c.ok + c.ng);
        EXPECT_EQ(sum(r.value("week_ng")), c.ng);
        EXPECT_EQ(sum(r.value("runtime")), c.runtime);
        EXPECT_EQ(r.value("mon_all").toInt(), c.ok + c.ng);
        EXPECT_EQ(r.value("mon_ng").toInt(), c.ng);
        // The worker read PARAM.db on a connection of its own.
        EXPECT_FALSE(log.anyContains("does not belong to the calling thread"));
        // The answer is also kept, after it has left, in the working directory.
        EXPECT_TRUE(hubtest::waitFor([&] {
            QFile saved("./test_history.json");
            return saved.open(QIODevice::ReadOnly) && QJsonDocument::fromJson(saved.readAll()).object() == r;
        }));
    }
}

TEST(HttpRouteAnswers, SubscriberRegistersAnswersTheTableAsTheGroupAndTellsTheSubsFromTheMainOnly)
{
    const QJsonObject body{
        {"subscriber", QJsonArray{QJsonObject{{"subscriber_ip", "127.0.0.1"},
                                              {"subscriber_port", 9001},
                                              {"type", QJsonArray{"result_reports", "result_ng_picture", "other"}}}}}};
    struct Case {
        const char* name;
        bool main;
        QJsonObject request;
        QJsonObject result;
        bool told;
    };
    const Case cases[] = {
        {"main camera", true, body,
         QJsonObject{{"127.0.0.1/9001", QJsonArray{"result_reports", "result_ng_picture"}}}, true},
        {"sub camera: no reports", false, body, QJsonObject{{"127.0.0.1/9001", QJsonArray{"result_ng_picture"}}},
         false},
        {"main camera, nothing to register", true, QJsonObject{{"other", 1}}, QJsonObject(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFixture f(withPublisher());
        testsupport::InProcessLink sub;
        f.link.attachSub(ProgramFixture::subId(), &sub);
        beMain(c.main);
        const HttpAnswer a = f.request("/dide/httpapi/subscriber", c.request);
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.result, c.result) << text(a.result);
        EXPECT_EQ(a.raw.header("Device-ID"), "MACHINE-7") << "the group's machine id";
        f.settle(300);
        const QStringList frames = f.link.sentFrames();
        ASSERT_EQ(frames.size(), c.told ? 1 : 0);
        if (c.told) {
            const SRPC_WS_FormData meet = wsbytes_2_srpcform(frames.first());
            EXPECT_EQ(meet.topic, "/dide/sync/subscribe(rpc)");
            EXPECT_EQ(meet.device_id, ownId());
            EXPECT_EQ(meet.datas.keys(), QStringList{"message"});
            EXPECT_EQ(meet.datas.value("message").toString().toUtf8(),
                      QJsonDocument(c.request).toJson(QJsonDocument::Compact));
        }
    }
}
