// ResStatistics.db through the sqlite3 tool: schema, counter rows, hour rows,
// history readers, a failing counter update, a lock held by another program
// and a writer killed at random moments.
#include "statistics/productstatisticsdatabase.h"
#include "statistics/statisticstestbench.h"
#include "foundation/logmanager.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>

#include <glog/logging.h>

#include <atomic>
#include <csignal>
#include <sys/types.h>

using namespace statstest;

namespace {

const char* const kWriterEnv = "ORVALE_STATS_WRITER_DIR";

stru_StatisticsInfo hourRecord(const QString& key, const QString& project, int ok)
{
    stru_StatisticsInfo r;
    r.reset(key, 2, 2, project);
    r.detect_ok = ok;
    r.detect_ok_detail = {ok, ok};
    r.every_detect[0].detect_ok = ok;
    r.runtime = 3;
    return r;
}

StatisticsLive liveCounts(int ok)
{
    StatisticsLive l;
    l.detect_ok = ok;
    l.detect_ok_detail = {ok, 0};
    l.starttime = "2024-05-01 09:00:00";
    l.runtime = 7;
    return l;
}

// The same hour records of two projects in the 10 o'clock row, the counter
// defaults of a first start.
const char* const kFixture = R"SQL(
CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE statisticsparam (name TEXT PRIMARY KEY, value TEXT NOT NULL);
INSERT INTO resstatistics VALUES ('2024-05-01 10', '{"data":[
 {"detect_ok":4,"detect_ng":1,"detect_ok_detail":[4,3],"detect_ng_detail":[0,1],"every_detect":[
   {"detect_index":1,"detect_index_ok":4,"detect_index_ng":1,"detect_index_ok_detail":[4,3],"detect_index_ng_detail":[0,1]}],
  "runtime":20,"stoptime":1,"alarmtime":0,"closetime":0,"projectname":"alpha"},
 {"detect_ok":9,"detect_ng":0,"every_detect":[],"runtime":2,"projectname":"beta"}]}');
INSERT INTO resstatistics VALUES ('2024-05-01 11', '{"data":[{"detect_ok":6,"runtime":60,"projectname":"alpha"}]}');
INSERT INTO resstatistics VALUES ('2024-05-01 13', '{"data":[{"detect_ok":2,"runtime":5,"projectname":"alpha"}]}');
INSERT INTO resstatistics VALUES ('2024-05-02 08', '{"data":[{"detect_ok":1,"runtime":1,"projectname":"beta"}]}');
INSERT INTO statisticsparam VALUES ('detect_ok', 0), ('detect_ng', 0), ('starttime', '2024-05-01 09:12'),
 ('runtime', 0), ('stoptime', 0), ('alarmtime', 0), ('closetime', 0),
 ('detect_ok_detail', '{
}'), ('detect_ng_detail', '{
}');
)SQL";

QDateTime at(int day, int h, int m) { return QDateTime(QDate(2024, 5, day), QTime(h, m)); }

class DatabaseTest : public StatisticsFixture {};

TEST_F(DatabaseTest, InitCreatesTablesAndNineDefaultRowsOnce)
{
    TestClock clock;
    clock.set(9, 12, 33);
    ProductstatisticsDatabase db;
    ASSERT_TRUE(db.init());
    EXPECT_EQ(sqlite(".schema"),
              "CREATE TABLE resstatistics (name TEXT PRIMARY KEY, value TEXT NOT NULL);\n"
              "CREATE TABLE statisticsparam (name TEXT PRIMARY KEY, value TEXT NOT NULL);");
    EXPECT_EQ(sqlite("select name || '=' || value from statisticsparam order by name"),
              "alarmtime=0\nclosetime=0\ndetect_ng=0\ndetect_ng_detail={\n}\ndetect_ok=0\ndetect_ok_detail={\n}\n"
              "runtime=0\nstarttime=2024-05-01 09:12\nstoptime=0");
    sqlite("update statisticsparam set value = 41 where name = 'detect_ok'");
    ASSERT_TRUE(db.init());
    EXPECT_EQ(sqlite("select count(*) from statisticsparam"), "9");
    EXPECT_EQ(ProductstatisticsDatabase::loadParam("statisticsparam", "detect_ok").toInt(), 41);
}

TEST_F(DatabaseTest, SaveWritesTheIndentedRowOfEveryProjectAndTheCounters)
{
    ProductstatisticsDatabase probe;
    ASSERT_TRUE(probe.init());
    WriterThread w;
    ProductstatisticsDatabase::HourRecords records{{"alpha", hourRecord("2024-05-01 10", "alpha", 5)},
                                                   {"beta", hourRecord("2024-05-01 10", "beta", 8)}};
    std::atomic<QThread*> writtenOn{nullptr};
    QObject::connect(&w.db, &ProductstatisticsDatabase::committed, &w.db,
                     [&writtenOn] { writtenOn = QThread::currentThread(); }, Qt::DirectConnection);
    w.db.slotSaveRecord("2024-05-01 10", records, liveCounts(13));
    ASSERT_TRUE(w.settled());
    ASSERT_TRUE(waitFor([&writtenOn] { return writtenOn.load() != nullptr; }));
    EXPECT_EQ(writtenOn.load(), &w.thread) << "written on the caller's thread";
    const QString row = sqlite("select value from resstatistics where name = '2024-05-01 10'");
    EXPECT_TRUE(row.startsWith("{\n    \"data\": [\n")) << row.toStdString();
    const QJsonArray data = QJsonDocument::fromJson(row.toUtf8()).object().value("data").toArray();
    ASSERT_EQ(data.size(), 2);
    EXPECT_EQ(data[0].toObject().value("projectname").toString(), "alpha");
    EXPECT_EQ(data[1].toObject().value("detect_ok").toInt(), 8);
    EXPECT_EQ(sqlite("select value from statisticsparam where name = 'detect_ok'"), "13");
    EXPECT_EQ(sqlite("select value from statisticsparam where name = 'detect_ok_detail'"), "[\n    13,\n    0\n]");
    EXPECT_EQ(sqlite("pragma journal_mode"), "wal");
    EXPECT_EQ(sqlite("pragma integrity_check"), "ok");
}

TEST_F(DatabaseTest, FixtureRowsLoadPerProjectAndAsHistory)
{
    TestClock clock;
    clock.now = at(2, 9, 30);
    sqlite(kFixture);
    ProductstatisticsDatabase::HourRecords held;
    ProductstatisticsDatabase::loadCount("2024-05-01 10:30:00", held);
    ASSERT_EQ(held.keys(), (QStringList{"alpha", "beta"}));
    EXPECT_EQ(held["alpha"].every_detect.size(), 1);
    EXPECT_EQ(held["alpha"].detect_ng_detail, (QList<qint32>{0, 1}));
    EXPECT_EQ(held["alpha"].closetime, 39);
    EXPECT_EQ(held["beta"].detect_ok, 9);
    const QVariantMap params = ProductstatisticsDatabase::loadParams("statisticsparam");
    EXPECT_EQ(params.value("starttime").toString(), "2024-05-01 09:12");
    EXPECT_EQ(params.value("detect_ok_detail").toString(), "{\n}");

    struct Case {
        const char* name;
        QDateTime start, end;
        const char* project;
        QStringList keys;
        QList<qint64> ok, close;
    } cases[] = {
        {"hours with fillers", at(1, 10, 20), at(1, 13, 5), "alpha",
         {"2024-05-01 10", "2024-05-01 11", "2024-05-01 12", "2024-05-01 13"}, {4, 6, 0, 2}, {39, 0, 60, 55}},
        {"start after end", at(1, 12, 0), at(1, 11, 0), "alpha", {"2024-05-01 12"}, {0}, {60}},
        {"another project's row", at(2, 8, 0), at(2, 8, 59), "alpha", {"2024-05-02 08"}, {0}, {60}},
        {"the current hour", at(2, 9, 0), at(2, 9, 0), "alpha", {"2024-05-02 09"}, {0}, {30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QVector<stru_StatisticsInfo> list = ProductstatisticsDatabase::loadCount(c.start, c.end, c.project);
        QStringList keys;
        QList<qint64> ok, close;
        for (const stru_StatisticsInfo& r : list) {
            keys << r.hourKey;
            ok << r.detect_ok;
            close << r.closetime;
        }
        EXPECT_EQ(keys, c.keys);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(close, c.close);
    }

    QJsonObject days;
    ProductstatisticsDatabase::loadDayCount(at(1, 15, 20), QDateTime(QDate(2024, 5, 3), QTime(9, 0)), days, "alpha");
    EXPECT_EQ(days.value("detect_ok").toArray(), (QJsonArray{12, 0, 0}));
    QJsonObject sum;
    ProductstatisticsDatabase::loadCount(at(1, 10, 0), at(1, 13, 0), sum, "alpha");
    EXPECT_EQ(sum.value("detect_ok").toArray(), QJsonArray{12});
    EXPECT_EQ(sum.value("runtime").toArray(), QJsonArray{85});
}

TEST_F(DatabaseTest, RepeatedLocalHourGivesOneEntry)
{
    setZone("Europe/Berlin");
    TestClock clock;
    clock.now = QDateTime(QDate(2024, 11, 1), QTime(0, 0));
    ProductstatisticsDatabase db;
    ASSERT_TRUE(db.init());
    const QDateTime start(QDate(2024, 10, 27), QTime(1, 0)), end(QDate(2024, 10, 27), QTime(4, 0));
    QStringList keys;
    for (const stru_StatisticsInfo& r : ProductstatisticsDatabase::loadCount(start, end, "p"))
        keys << r.hourKey;
    EXPECT_EQ(keys, (QStringList{"2024-10-27 01", "2024-10-27 02", "2024-10-27 03", "2024-10-27 04"}));
}

TEST_F(DatabaseTest, EmptyNameIsAnsweredWithoutOpeningTheFile)
{
    EXPECT_FALSE(ProductstatisticsDatabase::loadParam("statisticsparam", "").isValid());
    EXPECT_FALSE(QFile::exists(ProductstatisticsDatabase::fileName()));
}

TEST_F(DatabaseTest, FailingCounterUpdateKeepsTheHourRowAndNoCounter)
{
    ProductstatisticsDatabase probe;
    ASSERT_TRUE(probe.init());
    sqlite("CREATE TRIGGER refuse BEFORE UPDATE ON statisticsparam WHEN NEW.name = 'runtime' "
           "BEGIN SELECT RAISE(ABORT, 'refused by test'); END;");
    testsupport::LogCapture log;
    WriterThread w;
    w.db.setRetryInterval(20);
    w.db.slotSaveRecord("2024-05-01 10", {{"p", hourRecord("2024-05-01 10", "p", 5)}}, liveCounts(5));
    ASSERT_TRUE(waitFor([] { return sqlite("select count(*) from resstatistics") == "1"; }));
    EXPECT_EQ(sqlite("select value from statisticsparam where name in ('detect_ok', 'runtime') order by name"), "0\n0");
    EXPECT_TRUE(log.anyContains("refused by test"));
    EXPECT_LT(w.db.committedSaves(), w.db.submittedSaves());

    sqlite("DROP TRIGGER refuse");
    ASSERT_TRUE(w.settled());
    EXPECT_EQ(sqlite("select value from statisticsparam where name in ('detect_ok', 'runtime') order by name"), "5\n7");
}

// Holds BEGIN EXCLUSIVE on the file from the sqlite3 tool until released.
class ForeignLock {
public:
    ForeignLock()
    {
        m_tool.start(QStringLiteral("sqlite3"), {ProductstatisticsDatabase::fileName()});
        m_tool.waitForStarted(5000);
        m_tool.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
        QByteArray out;
        QDeadlineTimer deadline(5000);
        while (!out.contains("held") && !deadline.hasExpired()) {
            m_tool.waitForReadyRead(100);
            out += m_tool.readAllStandardOutput();
        }
        m_held = out.contains("held");
    }
    bool held() const { return m_held; }
    void release()
    {
        m_tool.write("COMMIT;\n.quit\n");
        m_tool.closeWriteChannel();
        m_tool.waitForFinished(5000);
    }

private:
    QProcess m_tool;
    bool m_held = false;
};

TEST_F(DatabaseTest, SavesWaitOutAForeignLockWithoutHoldingTheCaller)
{
    ProductstatisticsDatabase probe;
    ASSERT_TRUE(probe.init());
    WriterThread w;
    w.db.setRetryInterval(20);
    ForeignLock lock;
    ASSERT_TRUE(lock.held());
    QElapsedTimer caller;
    caller.start();
    qint64 slowest = 0;
    for (int n = 1; n <= 200; ++n) {
        QElapsedTimer one;
        one.start();
        w.db.slotSaveRecord("2024-05-01 10", {{"p", hourRecord("2024-05-01 10", "p", n)}}, liveCounts(n));
        slowest = std::max(slowest, one.nsecsElapsed());
    }
    EXPECT_LT(slowest, 50 * 1000 * 1000) << "a save waited on the locked file";
    QThread::msleep(300);
    EXPECT_EQ(w.db.committedSaves(), 0u);
    EXPECT_TRUE(w.db.pendingHour("2024-05-01 10").has_value());
    lock.release();
    ASSERT_TRUE(w.settled());
    EXPECT_EQ(sqlite("select value from statisticsparam where name = 'detect_ok'"), "200");
    const QJsonArray data = QJsonDocument::fromJson(
        sqlite("select value from resstatistics").toUtf8()).object().value("data").toArray();
    EXPECT_EQ(data[0].toObject().value("detect_ok").toInt(), 200);
}

TEST_F(DatabaseTest, WarningOfAFailedSaveReachesTheLogFiles)
{
    ProductstatisticsDatabase probe;
    ASSERT_TRUE(probe.init());
    LogManager_Config config;
    config.app_path = QCoreApplication::applicationFilePath();
    config.glog_dir = "/userdata/log/";
    config.stdlog_dir = "/userdata/log_stdout/";
    config.log_to_stderr = false;
    LogManager::getInstance(config);
    LogManager::setLogInfoLevel({"level_1"});  // as the work stash may leave it
    sqlite("CREATE TRIGGER refuse BEFORE UPDATE ON statisticsparam BEGIN SELECT RAISE(ABORT, 'disk says no'); END;");
    WriterThread w;
    w.db.setRetryInterval(60000);
    w.db.slotSaveParams(liveCounts(1));
    bool found = false;
    waitFor([&] {
        google::FlushLogFiles(google::GLOG_INFO);
        const QString dir = platform::DataRoot::path(config.glog_dir);
        for (const QString& f : QDir(dir).entryList({"LOG_*.log"}, QDir::Files)) {
            QFile file(dir + "/" + f);
            file.open(QIODevice::ReadOnly);
            found = found || file.readAll().contains("disk says no");
        }
        return found;
    });
    EXPECT_TRUE(found);
}

// Run by the kill test as a separate process: saves rising counts and
// prints each count the file holds for sure.
TEST_F(DatabaseTest, DISABLED_WriterProcess)
{
    const QString dir = qEnvironmentVariable(kWriterEnv);
    if (dir.isEmpty())
        GTEST_SKIP();
    testsupport::WorkingDir there(dir);
    WriterThread w;
    w.db.setCheckpointInterval(50);
    int printed = 0;
    for (int n = 1;; ++n) {
        ProductstatisticsDatabase::HourRecords records{{"p", hourRecord("2024-05-01 10", "p", n)},
                                                       {"q", hourRecord("2024-05-01 10", "q", 2 * n)}};
        w.db.slotSaveRecord("2024-05-01 10", records, liveCounts(n));
        const quint64 committed = w.db.committedSaves();
        if (int(committed) > printed) {
            printed = int(committed);
            printf("commit %d\n", printed);
            fflush(stdout);
        }
        QThread::usleep(QRandomGenerator::global()->bounded(300));
    }
}

TEST_F(DatabaseTest, KilledWriterLeavesOneWholeSaveAndNoPrintedCommitLost)
{
    ProductstatisticsDatabase probe;
    ASSERT_TRUE(probe.init());
    QRandomGenerator rng(1414);
    for (int round = 0; round < 6; ++round) {
        const int killAfterMs = 30 + int(rng.bounded(120));
        SCOPED_TRACE(killAfterMs);
        QProcess writer;
        ASSERT_TRUE(startSelf(writer, "DatabaseTest.DISABLED_WriterProcess", kWriterEnv, scratch.path()));
        int lastPrinted = 0;
        QElapsedTimer since;
        bool started = false;
        while (!started || since.elapsed() < killAfterMs) {
            ASSERT_TRUE(writer.waitForReadyRead(5000)) << "writer ended early";
            while (writer.canReadLine()) {
                const QByteArray line = writer.readLine().trimmed();
                if (line.startsWith("commit ")) {
                    lastPrinted = line.mid(7).toInt();
                    if (!started)
                        since.start();
                    started = true;
                }
            }
        }
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished(-1);
        // Lines already written by the writer before it died count too.
        for (const QByteArray& line : writer.readAllStandardOutput().split('\n')) {
            if (line.startsWith("commit "))
                lastPrinted = line.mid(7).toInt();
        }

        EXPECT_EQ(sqlite("pragma integrity_check"), "ok");
        const int counter = sqlite("select value from statisticsparam where name = 'detect_ok'").toInt();
        const QJsonArray data = QJsonDocument::fromJson(
            sqlite("select value from resstatistics where name = '2024-05-01 10'").toUtf8()).object().value("data").toArray();
        ASSERT_EQ(data.size(), 2);
        EXPECT_EQ(data[0].toObject().value("detect_ok").toInt(), counter) << "hour row and counters from two saves";
        EXPECT_EQ(data[1].toObject().value("detect_ok").toInt(), 2 * counter);
        EXPECT_GE(counter, lastPrinted) << "a printed commit was lost";
    }
}

}  // namespace
