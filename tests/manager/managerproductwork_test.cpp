#include "manager/managerproductwork.h"

#include "flow/flowrecords.h"
#include "manager/apppushes.h"
#include "manager/managerworkservices.h"
#include "manager/pushsources.h"
#include "net/publishbench.h"
#include "statistics/stage_productstatistics.h"
#include "statistics/statisticstestbench.h"
#include "support/logcapture.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using iotest::kSelf;
using iotest::kSub;

class FakeServices : public ManagerWorkServices {
public:
    QVariantMap answer;
    struct Event {
        QString topic, uuid;
        QVariantMap datas;
        bool busyDuring = false;
    };
    QList<Event> events;
    QList<QPair<QString, QVariantMap>> meets;
    int exceptional = 0;
    QList<QList<QVariant>> images;
    QList<int> trains;

    QVariantMap activateWorkEvent(const QString& topic, const QString& uuid, const QVariantMap& datas) override
    {
        events.append({topic, uuid, datas, ZRC_WorkInformation_Manager::getInstance()->get_working_info().busy});
        return answer;
    }
    void sendQuickMeet(const QString& topic, const QVariantMap& datas) override { meets.append({topic, datas}); }
    void handlingOfExceptionalEvent() override { ++exceptional; }
    void SaveImageFile(int detect, int kind, const QString& text) override { images.append({detect, kind, text}); }
    void RunTrain_Var(int detect) override { trains.append(detect); }
    void reloadCameraImages() override {}
    QJsonObject processParams() const override { return QJsonObject{{"i_program_logic", 0}}; }
    void setDetectStepCount(int) override {}
};

class CountingSources : public PushSources {
public:
    int roisCalls = 0;
    QJsonObject runState() override { return QJsonObject{{"state", 0}}; }
    int shownDetectIndex() override { return 0; }
    QJsonObject detectInfo(int) override { return {}; }
    QJsonArray roisResult(int) override
    {
        ++roisCalls;
        return QJsonArray{roisCalls};
    }
    cv::Mat origMask() override { return {}; }
    cv::Rect origMaskScope() override { return {}; }
    QJsonObject cameraParams() override { return {}; }
    QJsonObject picFileList() override { return {}; }
    bool colourFrames() override { return false; }
};

// The product work of the main camera CAMSELF (group CAMSELF, CAMSUB1) with
// real statistics (2 steps, 2 cameras) and real pushes to a taken application.
struct Bench {
    nettest::CameraWork camera;
    statstest::TestClock clock;
    FakeServices services;
    CountingSources sources;
    TM_ZRP_Publish publisher;
    AppPushes pushes{&sources, &publisher};
    stage_productstatistics stats;
    ManagerProductWork work{&services, &stats, &pushes};
    QList<CTask_FormData> details;

    explicit Bench(bool mainCamera = true) : camera(mainCamera)
    {
        stats.init(2, 2, "p");
        camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = nettest::kApp1.toStdString(); });
        QObject::connect(&pushes, &AppPushes::sig_Publish_Detail,
                         [this](const CTask_FormData& f, int) { details.append(f); });
    }
    stru_DetecteStatisticsInfo step(int i) { return stats.getStatisticsInfoByprojectName("p").every_detect.value(i); }
};

SCollect_Unit unit(int detect, bool ok, bool valid = true)
{
    SCollect_Unit u;
    u.is_valid = valid;
    u.detect = detect;
    u.result = ok;
    return u;
}

FlowUnit_Passport passport(int type, const QString& url = "/dide/action/io_catch")
{
    FlowWork_Condition c;
    c.cond_type = type;
    c.cond_url = url;
    return FlowUnit_Passport("P-1", c);
}

TEST(ManagerProductWork, WorkEventAnswersAreReadAndTheBusyFlagClearedEveryTime)
{
    struct Case {
        const char* name;
        QVariantMap answer;
        int workError, result, exceptional;
    };
    const QVariantMap detail{{kSelf, QVariantMap{{"is_valid", true}, {"detect", 1}, {"result", true}}}};
    const Case cases[] = {
        {"empty answer", {}, 0, 0, 0},
        {"all in", {{"work_error", 0}, {"result", 1}, {"result_detail", detail}}, 0, 1, 0},
        {"timeout", {{"work_error", 1}, {"result", 0}}, 1, 0, 1},
        {"timeout claiming OK", {{"work_error", 1}, {"result", 1}, {"result_detail", detail}}, 1, 0, 1},
        {"no handler", {{"work_error", 4}, {"result", 1}}, 4, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.services.answer = c.answer;
        b.camera.stash->setValue("VCamera_Work/RecordTime", 0);
        testsupport::LogCapture log;
        const qint64 before = gettimeofday_ms() / 1000;
        const FlowWork_WorkEvent_Back back = b.work.WorkEvent_Standard(passport(CondType_IOTrig));
        EXPECT_EQ(back.work_error, c.workError);
        EXPECT_EQ(back.result, c.result);
        EXPECT_EQ(b.services.exceptional, c.exceptional);
        EXPECT_EQ(log.reachesLogFiles("(workevent sync error) -1: not found!!"), c.exceptional == 1);
        ASSERT_EQ(b.services.events.size(), 1);
        EXPECT_TRUE(b.services.events[0].busyDuring);
        EXPECT_FALSE(b.camera.work().busy);
        EXPECT_EQ(b.services.events[0].topic, QStringLiteral("/dide/action/io_catch"));
        EXPECT_EQ(b.services.events[0].uuid, QStringLiteral("P-1"));
        EXPECT_TRUE(b.services.events[0].datas.value("passport").toString().contains("\"P-1\""));
        // The clock record is written once the cycle's verdict has gone out.
        EXPECT_EQ(b.camera.stash->value("VCamera_Work/RecordTime").toLongLong(), 0);
        QElapsedTimer waited;
        waited.start();
        while (b.camera.stash->value("VCamera_Work/RecordTime").toLongLong() == 0 && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_GE(b.camera.stash->value("VCamera_Work/RecordTime").toLongLong(), before);
        if (c.answer.contains("result_detail")) {
            ASSERT_TRUE(back.collectlist.contains(kSelf));
            const SCollect_Unit u = back.collectlist.value(kSelf);
            EXPECT_TRUE(u.is_valid);
            EXPECT_EQ(u.detect, 1);
            EXPECT_TRUE(u.result);
            // The group's one reading of a unit map: a missing key gives 0.
            EXPECT_EQ(u.collect_time, 0);
            EXPECT_EQ(u.calculate_time, 0);
        }
    }
}

TEST(ManagerProductWork, GroupResultsByDeviceIdInGroupOrder)
{
    const QStringList group{kSelf, kSub, "CAM3"};
    struct Case {
        const char* name;
        QMap<QString, SCollect_Unit> collects;
        QVector<bool> results;
        int detect;
    };
    const Case cases[] = {
        {"all OK", {{kSelf, unit(1, true)}, {kSub, unit(1, true)}, {"CAM3", unit(1, true)}}, {true, true, true}, 1},
        // The main camera (role 1) is matched too; order of keys does not matter.
        {"sub NG", {{kSub, unit(0, false)}, {kSelf, unit(0, true)}, {"CAM3", unit(0, true)}}, {true, false, true}, 0},
        {"missing camera is NG", {{kSelf, unit(1, true)}, {kSub, unit(1, true)}}, {true, true, false}, 1},
        {"unknown device skipped",
         {{kSelf, unit(1, true)}, {kSub, unit(1, true)}, {"CAM3", unit(1, true)}, {"STRANGER", unit(1, false)}},
         {true, true, true},
         1},
        {"empty map", {}, {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int detect = -7;
        EXPECT_EQ(ManagerProductWork::groupResults(c.collects, group, &detect), c.results);
        EXPECT_EQ(detect, c.detect);
    }
}

TEST(ManagerProductWork, StepStatisticsCountEveryCameraAtItsOwnPosition)
{
    Bench b;
    testsupport::LogCapture log;
    b.work.Statistics_insertOnceDetectend({{kSub, unit(1, false)}, {kSelf, unit(1, true)}});
    EXPECT_EQ(b.step(1).detect_ng, 1);
    EXPECT_EQ(b.step(1).detect_ng_detail, (QList<qint32>{0, 1}));
    EXPECT_EQ(b.step(1).detect_ok_detail, (QList<qint32>{1, 0}));
    // The sub camera did not answer: NG for it, never an OK of the step.
    b.work.Statistics_insertOnceDetectend({{kSelf, unit(0, true)}});
    EXPECT_EQ(b.step(0).detect_ok, 0);
    EXPECT_EQ(b.step(0).detect_ng, 1);
    // A device outside the group is left out, with a line in the log files.
    b.work.Statistics_insertOnceDetectend({{kSelf, unit(0, true)}, {kSub, unit(0, true)}, {"STRANGER", unit(0, false)}});
    EXPECT_EQ(b.step(0).detect_ok, 1);
    EXPECT_TRUE(log.reachesLogFiles("STRANGER which is not in the camera group"));
}

TEST(ManagerProductWork, EmptyResultMapCountsNothingAndWarns)
{
    Bench b;
    testsupport::LogCapture log;
    b.work.Statistics_insertOnceDetectend({});
    EXPECT_EQ(b.step(0).detect_ok + b.step(0).detect_ng, 0);
    EXPECT_EQ(b.step(1).detect_ok + b.step(1).detect_ng, 0);
    EXPECT_TRUE(log.reachesLogFiles("without any camera result, not counted"));
}

TEST(ManagerProductWork, SubCameraCountsNoSteps)
{
    Bench b(false);
    b.work.Statistics_insertOnceDetectend({{kSelf, unit(0, true)}, {kSub, unit(0, true)}});
    EXPECT_EQ(b.step(0).detect_ok + b.step(0).detect_ng, 0);
}

TEST(ManagerProductWork, TheOperatorWhoAskedGoesWithTheWorkEvent)
{
    Bench b;
    FlowUnit_Passport asked = passport(CondType_AddTemplate, "/dide/action/addtemplate");
    asked.condition.cond_user_id = "u7";
    b.work.WorkEvent_Standard(asked);
    b.work.WorkEvent_Standard(passport(CondType_IOTrig));
    ASSERT_EQ(b.services.events.size(), 2);
    EXPECT_EQ(b.services.events[0].datas.value("user_id"), QVariant(QStringLiteral("u7")));
    EXPECT_FALSE(b.services.events[1].datas.contains("user_id")) << "the machine's own cycle is nobody's";
    for (const auto& e : b.services.events)
        EXPECT_TRUE(e.datas.value("passport").toString().contains("\"P-1\""));
}

TEST(ManagerProductWork, RunResultReusesRegionsOnlyForAnInvalidOwnUnitOfAnOperatorAction)
{
    struct Case {
        int type;
        int ownUnit;  // -1 none, 0 invalid, 1 valid
        bool fresh;
    };
    const Case cases[] = {
        {CondType_NoCheck, 0, false},  {CondType_ReDetect, 0, false}, {CondType_AddTemplate, 0, false},
        {CondType_NoCheck, 1, true},   {CondType_ReDetect, -1, true}, {CondType_IOTrig, 0, true},
        {CondType_ManualTrig, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.ownUnit);
        Bench b;
        b.pushes.async_back2longtcp_runresult("first", true);  // fills the region stash
        const int calls = b.sources.roisCalls;
        FlowUnit_Passport p = passport(c.type);
        p.receipt.rcpt_collects.insert(kSub, unit(0, true, true));
        if (c.ownUnit >= 0)
            p.receipt.rcpt_collects.insert(kSelf, unit(0, true, c.ownUnit == 1));
        b.work.PushMsg2APP_OnFinishUnitWork_RunResult(p);
        ASSERT_EQ(b.details.size(), 2);
        EXPECT_EQ(b.details[1].uuid, QStringLiteral("P-1"));
        EXPECT_EQ(b.sources.roisCalls - calls, c.fresh ? 1 : 0);
    }
}

TEST(ManagerProductWork, CycleCountAndNoStopImageReachTheSubCameras)
{
    Bench b;
    b.work.Statistics_updateCycleRecord();
    b.work.saveFailImage_OnNGNoStop(3);
    b.work.WorkRX_RunTrain_Var(2);
    ASSERT_EQ(b.services.meets.size(), 2);
    EXPECT_EQ(b.services.meets[0].first, QStringLiteral("/dide/sync/baseinfo"));
    EXPECT_EQ(b.services.meets[0].second, b.stats.params2Map());
    EXPECT_EQ(b.services.meets[1].first, QStringLiteral("/dide/sync/savefailimageonngnostop"));
    EXPECT_EQ(b.services.meets[1].second, (QVariantMap{{"detect_index", 3}}));
    EXPECT_EQ(b.services.images, (QList<QList<QVariant>>{{3, 8, QString()}}));
    EXPECT_EQ(b.services.trains, QList<int>{2});
}

TEST(ManagerProductWork, ForwardersFromAnotherThreadNeverWaitForTheMainThread)
{
    Bench b;
    const QVariantMap counts{{"detect_ok", 7}, {"detect_ng", 2}};
    auto fromWorker = [](const std::function<void()>& call) {
        QThread* worker = QThread::create(call);
        worker->start();
        // The main thread processes no events meanwhile: a blocking forwarder
        // would never return.
        const bool returned = worker->wait(20000);
        delete worker;
        return returned;
    };
    EXPECT_TRUE(fromWorker([&] { b.work.stat_SaveCur(counts); }));
    EXPECT_EQ(b.work.stat_getCur(-1).value("detect_ok").toInt(), 0);  // queued, not yet run
    QCoreApplication::processEvents();
    EXPECT_EQ(b.work.stat_getCur(-1).value("detect_ok").toInt(), 7);

    // The live counters are read from the locked copy on the caller's thread.
    int ng = -1;
    EXPECT_TRUE(fromWorker([&] { ng = b.work.stat_getCur(-1).value("detect_ng").toInt(); }));
    EXPECT_EQ(ng, 2);

    EXPECT_TRUE(fromWorker([&] { b.work.stat_CountClear(); }));
    EXPECT_EQ(b.work.stat_getCur(-1).value("detect_ok").toInt(), 7);
    QCoreApplication::processEvents();
    EXPECT_EQ(b.work.stat_getCur(-1).value("detect_ok").toInt(), 0);
}

}  // namespace
