// The statistics front end on a real database thread, with a hand-moved wall
// clock: minute buckets, cycles, hour roll-over, clock steps, count clear and
// the flow's step count.
#include "statistics/stage_productstatistics.h"
#include "statistics/statisticstestbench.h"

#include "flow/flowhostservices.h"
#include "flow/product_manager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "support/logcapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QThread>

#include <atomic>
#include <thread>

using namespace statstest;

namespace {

class RecordingWriter : public OperationRecord_Interface {
public:
    QList<QPair<QString, QString>> records;
    void InsertRecord(const QString& text, const QString& type) override { records.append({text, type}); }
};

// The project's record of a stored hour row.
QJsonObject storedHour(const QString& key, const QString& project = "p")
{
    const QJsonArray data = QJsonDocument::fromJson(
        sqlite(QString("select value from resstatistics where name = '%1'").arg(key)).toUtf8()).object().value("data").toArray();
    for (const QJsonValue& v : data) {
        if (v.toObject().value("projectname").toString() == project)
            return v.toObject();
    }
    return {};
}

class FrontEndTest : public StatisticsFixture {
protected:
    void SetUp() override
    {
        StatisticsFixture::SetUp();
        setStarted(true);
    }
    void TearDown() override
    {
        setStarted(true);
        ZRC_WorkInformation_Manager::getInstance()->setRecordWriter(nullptr);
    }
    static void setStarted(bool on)
    {
        ZRC_WorkInformation_Manager::getInstance()->update_working_info([on](ZRC_WorkInfos& w) { w.started = on; });
    }
    std::unique_ptr<stage_productstatistics> start(int steps = 2, int cameras = 2)
    {
        auto stats = std::make_unique<stage_productstatistics>();
        stats->setRunStateGetter([this] { return runState; });
        stats->init(steps, cameras, "p");
        return stats;
    }
    bool settled(stage_productstatistics& s)
    {
        ProductstatisticsDatabase& db = s.database();
        return waitFor([&db] { return db.committedSaves() == db.submittedSaves(); });
    }
    void cycle(stage_productstatistics& s, QVector<bool> step0, QVector<bool> step1)
    {
        s.updateSingleRecord(0, step0);
        s.updateSingleRecord(1, step1);
        s.updateCycleRecord();
    }

    TestClock clock;
    int runState = 0;
};

TEST_F(FrontEndTest, MinuteBucketsFollowTheStartedFlagFirst)
{
    struct Case {
        bool started;
        int runState;
        qint64 run, stop, alarm;
    } cases[] = {{true, 0, 1, 0, 0}, {true, 2, 0, 0, 1}, {false, 2, 0, 1, 0}, {false, 0, 0, 1, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.started << "/" << c.runState);
        sqlite("delete from resstatistics");
        clock.set(10, 30, 20);
        auto stats = start();
        setStarted(c.started);
        runState = c.runState;
        stats->slotMinuteTick();
        const stru_StatisticsInfo info = stats->getStatisticsInfoByprojectName("p");
        EXPECT_EQ(info.runtime, c.run);
        EXPECT_EQ(info.stoptime, c.stop);
        EXPECT_EQ(info.alarmtime, c.alarm);
        EXPECT_EQ(info.closetime, 30);
        EXPECT_EQ(stats->params2Map().value("stoptime").toLongLong(), c.stop + 0 * c.run);
        setStarted(true);
        stats->countClear();
    }
}

TEST_F(FrontEndTest, FirstTickOfTheHourStartsAFreshRecord)
{
    clock.set(9, 59, 30);
    auto stats = start();
    cycle(*stats, {true, true}, {true, true});
    clock.set(10, 0, 20);
    stats->slotMinuteTick();
    const stru_StatisticsInfo info = stats->getStatisticsInfoByprojectName("p");
    EXPECT_EQ(info.hourKey, "2024-05-01 10");
    EXPECT_EQ(info.runtime, 1);
    EXPECT_EQ(info.closetime, 0);
    EXPECT_EQ(info.detect_ok, 0);
    ASSERT_TRUE(settled(*stats));
    EXPECT_EQ(storedHour("2024-05-01 09").value("detect_ok").toInt(), 1);
    EXPECT_EQ(storedHour("2024-05-01 10").value("runtime").toInt(), 1);
}

// Shut down after saves: the last save is written, and the writer's
// connection is closed on the database thread that opened it, not by the
// thread that destroys the front end (Qt warns then, and the connection is
// used from a thread it does not belong to).
TEST_F(FrontEndTest, ShutDownClosesTheWriterOnItsOwnThread)
{
    clock.set(10, 10);
    auto stats = start();
    cycle(*stats, {true, true}, {true, false});
    ASSERT_TRUE(settled(*stats));
    cycle(*stats, {true, true}, {true, true});
    testsupport::LogCapture logs;
    stats.reset();
    EXPECT_FALSE(logs.anyContains("does not belong to the calling thread")) << logs.warnings().join('\n').toStdString();
    EXPECT_FALSE(logs.anyContains("still in use")) << logs.warnings().join('\n').toStdString();
    for (const QString& name : QSqlDatabase::connectionNames())
        EXPECT_FALSE(name.startsWith("dbStatistics_writer")) << name.toStdString();
    EXPECT_EQ(storedHour("2024-05-01 10").value("detect_ok").toInt(), 1);
    EXPECT_EQ(storedHour("2024-05-01 10").value("detect_ng").toInt(), 1);
}

TEST_F(FrontEndTest, TwoStepCycleCountsPerCameraAndPerStep)
{
    clock.set(10, 10);
    auto stats = start();
    cycle(*stats, {true, false}, {true, true});
    stats->updateSingleRecord(2, {false, false});  // no third step: nothing
    const stru_StatisticsInfo info = stats->getStatisticsInfoByprojectName("p");
    EXPECT_EQ(info.detect_ng, 1);
    EXPECT_EQ(info.detect_ok, 0);
    EXPECT_EQ(info.detect_ok_detail, (QList<qint32>{1, 0}));
    EXPECT_EQ(info.detect_ng_detail, (QList<qint32>{0, 1}));
    EXPECT_EQ(info.every_detect[0].detect_ng, 1);
    EXPECT_EQ(info.every_detect[1].detect_ok, 1);
    EXPECT_EQ(info.every_detect[0].detect_ng_detail, (QList<qint32>{0, 1}));
    ASSERT_EQ(info.every_detect.size(), 2);
    const QVariantMap live = stats->params2Map();
    EXPECT_EQ(live.value("detect_ng").toInt(), 1);
    EXPECT_EQ(live.value("detect_ng_detail").toString(), "[\n    0,\n    1\n]\n");
    ASSERT_TRUE(settled(*stats));
    EXPECT_EQ(sqlite("select value from statisticsparam where name = 'detect_ng'"), "1");
}

TEST_F(FrontEndTest, CyclesEitherSideOfTheFullHourSumExactly)
{
    clock.set(10, 58, 30);
    auto stats = start();
    for (int i = 0; i < 3; ++i)
        cycle(*stats, {true, true}, {true, true});
    clock.set(10, 59, 20);
    stats->slotMinuteTick();
    clock.set(10, 59, 50);
    cycle(*stats, {false, true}, {true, true});
    clock.set(11, 0, 5);  // before the first tick of the new hour
    stats->updateSingleRecord(0, {true, true});
    clock.set(11, 0, 7);
    stats->updateSingleRecord(1, {true, true});
    stats->updateCycleRecord();
    cycle(*stats, {true, true}, {true, true});
    clock.set(11, 0, 20);
    stats->slotMinuteTick();
    cycle(*stats, {true, true}, {true, true});
    ASSERT_TRUE(settled(*stats));
    const QJsonObject ten = storedHour("2024-05-01 10"), eleven = storedHour("2024-05-01 11");
    EXPECT_EQ(ten.value("detect_ok").toInt(), 3);
    EXPECT_EQ(ten.value("detect_ng").toInt(), 1);
    EXPECT_EQ(eleven.value("detect_ok").toInt(), 3);
    EXPECT_EQ(eleven.value("detect_ng").toInt(), 0);
    EXPECT_EQ(ten.value("every_detect").toArray()[0].toObject().value("detect_index_ng").toInt(), 1);
    EXPECT_EQ(eleven.value("every_detect").toArray()[0].toObject().value("detect_index_ok").toInt(), 3);
    EXPECT_EQ(stats->params2Map().value("detect_ok").toInt() + stats->params2Map().value("detect_ng").toInt(), 7);
}

TEST_F(FrontEndTest, ClockStepsKeepEveryStoredHour)
{
    struct Step {
        int h, m;
        int cycles;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        QStringList rows;
        QList<int> ok;
    } cases[] = {
        {"back to an earlier hour", {{10, 5, 2}, {12, 5, 1}, {10, 40, 3}}, {"2024-05-01 10", "2024-05-01 12"}, {5, 1}},
        {"forward over hours", {{10, 5, 1}, {14, 5, 2}}, {"2024-05-01 10", "2024-05-01 14"}, {1, 2}},
        {"back and forth within the save delay", {{10, 5, 1}, {11, 5, 1}, {10, 6, 1}, {11, 6, 1}},
         {"2024-05-01 10", "2024-05-01 11"}, {2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sqlite("delete from resstatistics");
        clock.set(c.steps.front().h, c.steps.front().m);
        auto stats = start();
        for (const Step& s : c.steps) {
            clock.set(s.h, s.m);
            stats->slotMinuteTick();
            for (int i = 0; i < s.cycles; ++i)
                cycle(*stats, {true, true}, {true, true});
        }
        ASSERT_TRUE(settled(*stats));
        EXPECT_EQ(sqlite("select name from resstatistics order by name").split('\n'), c.rows);
        QList<int> ok;
        for (const QString& key : c.rows)
            ok << storedHour(key).value("detect_ok").toInt();
        EXPECT_EQ(ok, c.ok);
    }
}

TEST_F(FrontEndTest, MinutesOfAnHourMayExceedSixtyButIdleTimeNeverGoesNegative)
{
    clock.set(10, 0, 10);
    auto stats = start();
    for (int i = 0; i < 3; ++i)
        stats->slotMinuteTick();  // a clock set back keeps the hour ticking
    EXPECT_EQ(stats->getStatisticsInfoByprojectName("p").closetime, 0);
    clock.set(9, 0, 0);  // before the live start time
    stats->slotMinuteTick();
    EXPECT_EQ(stats->params2Map().value("closetime").toLongLong(), 0);
}

TEST_F(FrontEndTest, CountClearRetimesTheTickAndIsRecorded)
{
    RecordingWriter writer;
    ZRC_WorkInformation_Manager::getInstance()->setRecordWriter(&writer);
    clock.set(10, 10, 0);
    auto stats = start();
    cycle(*stats, {true, true}, {true, true});
    QThread::msleep(1500);  // without a re-time the tick would be due within 58.5 s
    clock.set(10, 11, 30);
    stats->countClear();
    EXPECT_GT(stats->minuteTimer().remainingTime(), 59000);
    EXPECT_EQ(writer.records, (QList<QPair<QString, QString>>{{"检测计数已被清零", "operate"}}));
    EXPECT_EQ(stats->params2Map().value("detect_ok").toInt(), 0);
    EXPECT_EQ(stats->params2Map().value("starttime").toString(), "2024-05-01 10:11:30");
    EXPECT_EQ(stats->getStatisticsInfoByprojectName("p").detect_ok, 1);

    struct Case {
        int secondsAfterStart;
        qint64 close;
    } cases[] = {{60, 0}, {90, 1}, {89, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsAfterStart);
        clock.set(10, 11, 30);
        stats->countClear();
        clock.now = clock.now.addSecs(c.secondsAfterStart);
        stats->slotMinuteTick();
        EXPECT_EQ(stats->params2Map().value("closetime").toLongLong(), c.close);
    }
    ASSERT_TRUE(settled(*stats));
}

TEST_F(FrontEndTest, LiveCountersAsLongAsTheLongerListAndStartedAfreshWithoutSeconds)
{
    clock.set(10, 10, 10);
    {
        auto stats = start();  // an empty file: the stored start lacks seconds
        EXPECT_EQ(stats->params2Map().value("starttime").toString(), "2024-05-01 10:10:10");
        stats->countSync({{"detect_ok", 4}, {"detect_ng", 1}, {"detect_ok_detail", "[1, 2, 3]"},
                          {"detect_ng_detail", "[4]"}});
        const QVariantMap m = stats->params2Map();
        EXPECT_EQ(m.value("detect_ok_detail").toString(), "[\n    1,\n    2,\n    3\n]\n");
        EXPECT_EQ(m.value("detect_ng_detail").toString(), "[\n    4,\n    0,\n    0\n]\n");
        EXPECT_EQ(stats->params2Map(2).value("detect_ok").toInt(), 3);
        EXPECT_EQ(stats->params2Map(2).value("detect_ng").toInt(), 0);
        EXPECT_EQ(stats->params2Map(7).value("detect_ok").toInt(), 0);
    }
    clock.set(10, 20, 0);
    auto again = start();
    EXPECT_EQ(again->params2Map().value("detect_ok").toInt(), 4);
    EXPECT_EQ(again->params2Map().value("starttime").toString(), "2024-05-01 10:10:10");
}

TEST_F(FrontEndTest, AnotherProjectsRecordIsHeldAndWrittenBack)
{
    clock.set(10, 10);
    sqlite("CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
           "INSERT INTO resstatistics VALUES ('2024-05-01 10', "
           "'{\"data\":[{\"detect_ok\":9,\"runtime\":4,\"projectname\":\"other\"}]}')");
    auto stats = start();
    cycle(*stats, {true, true}, {true, true});
    ASSERT_TRUE(settled(*stats));
    EXPECT_EQ(storedHour("2024-05-01 10", "other").value("detect_ok").toInt(), 9);
    EXPECT_EQ(storedHour("2024-05-01 10", "p").value("detect_ok").toInt(), 1);
}

TEST_F(FrontEndTest, GroupWithoutCamerasStillAccumulates)
{
    clock.set(10, 10);
    auto stats = start(2, 0);
    for (int i = 0; i < 3; ++i) {
        cycle(*stats, {}, {});
        stats->slotMinuteTick();
    }
    const stru_StatisticsInfo info = stats->getStatisticsInfoByprojectName("p");
    EXPECT_EQ(info.detect_ok, 3);
    EXPECT_EQ(info.runtime, 3);
    EXPECT_EQ(info.every_detect[1].detect_ok, 3);
}

// Forwards the flow's statistics reset to the front end, as the application
// manager does.
class ForwardingHost : public FlowHostServices {
public:
    explicit ForwardingHost(stage_productstatistics* s) : stats(s) {}
    stage_productstatistics* stats;
    void stat_ResetDetect(int unit_count) override { stats->resetDetectCount(unit_count); }
    void reload_CameraImages() override {}
    QJsonObject processParams() const override
    {
        return QJsonObject{{"s_action_productdetect", true}, {"s_semi_automatic", false},
                           {"i_thimble_pulse", 0.5}, {"i_closemold_pulse", 0.8}};
    }
    void setDetectStepCount(int) override {}
};

TEST_F(FrontEndTest, FlowBuildSizesThisHourAndTheNextOnes)
{
    clock.set(10, 10);
    auto stats = start(5, 2);
    ForwardingHost host(stats.get());
    Product_Manager manager;
    manager.setHostServices(&host);
    manager.create_Frameworks(0, true);
    const int units = manager.get_UAbs_Count();
    ASSERT_GT(units, 0);
    ASSERT_NE(units, 5);
    EXPECT_EQ(stats->getStatisticsInfoByprojectName("p").every_detect.size(), units);
    clock.set(11, 0, 10);
    stats->slotMinuteTick();
    EXPECT_EQ(stats->getStatisticsInfoByprojectName("p").every_detect.size(), units);
    manager.clear_Frameworks();
}

TEST_F(FrontEndTest, StepCountBeforeStartIsOnlyStored)
{
    auto stats = std::make_unique<stage_productstatistics>();
    stats->resetDetectCount(3);
    stats->updateCycleRecord();
    stats->slotMinuteTick();
    EXPECT_FALSE(QFile::exists(ProductstatisticsDatabase::fileName()));
}

TEST_F(FrontEndTest, LiveTotalsAnswerAnotherThreadWhileTheMainThreadIsBusy)
{
    clock.set(10, 10);
    auto stats = start();
    cycle(*stats, {true, true}, {true, true});
    std::atomic<bool> answered{false};
    QVariantMap seen;
    QThread* caller = nullptr;
    std::thread reader([&] {
        seen = stats->params2Map();
        caller = QThread::currentThread();
        answered = true;
    });
    // The main thread does not return to its event loop until answered.
    for (int i = 0; i < 2000 && !answered; ++i)
        QThread::msleep(1);
    reader.join();
    EXPECT_TRUE(answered.load());
    EXPECT_NE(caller, QThread::currentThread());
    EXPECT_EQ(seen.value("detect_ok").toInt(), 1);
}

}  // namespace
