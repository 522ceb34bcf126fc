// The operator and system record: what one entry looks like in RECORD.db
// (read with the sqlite3 tool), the daily move into the history with its
// failure cases, the start-up checks of the file and the history trim.
#include "hub/hubtestbench.h"
#include "hub/recordbook.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "support/logcapture.h"

#include <QDateTime>
#include <QRegularExpression>

using hubtest::WorkDir;
using hubtest::sqlite3;

namespace {

const char kStamp[] = "VCamera_Work/CurRecordFile_Time";
const char kSchema[] =
    "CREATE TABLE RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), remarks VARCHAR(1024), recordtype TEXT);";

// A working directory with its own work stash and a record book on it.
class RecordBench {
public:
    RecordBench()
    {
        WorkStashManager_Config config;
        config.workspace_dir = wd.file("workspace/");
        config.temp_dir = wd.file("tmp/");
        WorkStashManager::getInstance(config);
        ZRC_WorkInformation_Manager::getInstance()->update_working_info([](ZRC_WorkInfos& w) { w.user_id.clear(); });
    }
    std::unique_ptr<RecordBook> open()
    {
        auto book = std::make_unique<RecordBook>(wd.file("RECORD.db"), wd.file("RECORDNULL.db"), history());
        book->openAtStart();
        return book;
    }
    QString history() const { return wd.file("history"); }
    QString rows(const QString& db) const { return sqlite3(db, "select remarks from RECORD order by rowid;"); }
    // Moves the start of the current record file `days` back.
    QDate startDaysAgo(int days)
    {
        const QDateTime start = QDateTime::currentDateTime().addDays(-days);
        WorkStashManager::getInstance()->setValue(kStamp, start.toSecsSinceEpoch());
        return start.date();
    }
    qint64 stamp() const { return WorkStashManager::getInstance()->value(kStamp).toLongLong(); }

    WorkDir wd;
};

}  // namespace

TEST(RecordBookTest, AnEntryHasItsTimeUserTextAndType)
{
    RecordBench bench;
    auto book = bench.open();
    ASSERT_TRUE(book->insert("Ejector pulse when NG in prod, don't' alarm", "operate"));
    ASSERT_TRUE(book->insert("重启", "system", "op7"));
    book->close();

    const QString db = bench.wd.file("RECORD.db");
    EXPECT_EQ(sqlite3(db, ".schema RECORD"), kSchema);
    const QStringList rows = sqlite3(db, "select * from RECORD order by rowid;").split('\n');
    ASSERT_EQ(rows.size(), 2);
    const QRegularExpression time(R"(^\d\d\.\d\d\.\d\d\.\d{3}\|)");
    EXPECT_TRUE(time.match(rows[0]).hasMatch()) << rows[0].toStdString();
    EXPECT_EQ(rows[0].section('|', 1), "未登录|Ejector pulse when NG in prod, don't' alarm|operate");
    EXPECT_EQ(rows[1].section('|', 1), "op7|重启|system");
    EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->get_last_operate(), "重启");
}

TEST(RecordBookTest, TheFirstEntryOfANewDayMovesTheFileToTheHistory)
{
    struct Case {
        const char* name;
        bool historyExists;  // left by a move that was cut short
        QString expectedHistory;
    };
    const Case cases[] = {
        {"plain move", false, "yesterday 1\nyesterday 2"},
        {"history file already there", true, "earlier\nyesterday 1\nyesterday 2"},
    };
    for (const Case& c : cases) {
        RecordBench bench;
        const QDate started = bench.startDaysAgo(0);
        auto book = bench.open();
        ASSERT_TRUE(book->insert("yesterday 1", "operate"));
        ASSERT_TRUE(book->insert("yesterday 2", "operate"));
        const QDate day = bench.startDaysAgo(1);
        ASSERT_NE(day, started);
        const QString hist = book->historyFile(day);
        if (c.historyExists) {
            hubtest::buildFromSql(hist, "RECORDNULL.sql");
            sqlite3(hist, "insert into RECORD values ('00.00.00.000', 'x', 'earlier', 'system');");
        }
        ASSERT_TRUE(book->insert("today 1", "operate"));
        const qint64 stampAfterMove = bench.stamp();
        ASSERT_TRUE(book->insert("today 2", "operate"));
        book->close();

        EXPECT_EQ(QFileInfo(hist).fileName(), day.toString("yyyy-MM-dd") + ".db") << c.name;
        EXPECT_EQ(bench.rows(hist), c.expectedHistory) << c.name;
        EXPECT_EQ(bench.rows(bench.wd.file("RECORD.db")), "today 1\ntoday 2") << c.name;
        EXPECT_EQ(sqlite3(hist, "pragma integrity_check;"), "ok") << c.name;
        EXPECT_EQ(QDateTime::fromSecsSinceEpoch(stampAfterMove).date(), QDate::currentDate()) << c.name;
        EXPECT_EQ(bench.stamp(), stampAfterMove) << c.name << ": the second entry does not move";
        EXPECT_EQ(QDir(bench.history()).entryList({"*.db"}, QDir::Files).size(), 1) << c.name;
    }
}

TEST(RecordBookTest, AFailedMoveKeepsEveryEntryAndIsTriedAgain)
{
    RecordBench bench;
    auto book = bench.open();
    ASSERT_TRUE(book->insert("before", "operate"));
    const QDate day = bench.startDaysAgo(1);
    const qint64 stamp = bench.stamp();
    const QString hist = book->historyFile(day);
    QDir().mkpath(hist + "/blocked");  // a folder where the history file should go
    {
        testsupport::LogCapture log;
        ASSERT_TRUE(book->insert("during", "operate"));
        EXPECT_TRUE(log.anyContains("could not be moved"));
    }
    EXPECT_EQ(bench.stamp(), stamp);
    EXPECT_EQ(bench.rows(bench.wd.file("RECORD.db")), "before\nduring");

    QDir(hist).removeRecursively();
    ASSERT_TRUE(book->insert("after", "operate"));
    book->close();
    EXPECT_EQ(bench.rows(hist), "before\nduring");
    EXPECT_EQ(bench.rows(bench.wd.file("RECORD.db")), "after");
}

TEST(RecordBookTest, StartUpRepairsOrSetsAsideTheRecordFile)
{
    struct Case {
        const char* name;
        QString setup;   // SQL run on RECORD.db before the start ("" = no file, "garbage" = not a database)
        QString rowsAfter;
        bool setAside;
    };
    const Case cases[] = {
        {"no file", "", "", false},
        {"without remarks",
         "create table RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), recordtype TEXT);"
         "insert into RECORD values ('a', 'b', 'c');",
         "", true},
        {"without recordtype",
         "create table RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), remarks VARCHAR(1024));"
         "insert into RECORD values ('a', 'b', 'kept');",
         "kept", false},
        {"no table", "create table other (x);", "", false},
        {"not a database", "garbage", "", true},
    };
    for (const Case& c : cases) {
        RecordBench bench;
        const QString db = bench.wd.file("RECORD.db");
        if (c.setup == "garbage")
            bench.wd.dir().write("RECORD.db", QByteArray(4096, 'x'));
        else if (!c.setup.isEmpty())
            sqlite3(db, c.setup);
        testsupport::LogCapture log;
        auto book = bench.open();
        EXPECT_TRUE(book->isOpen()) << c.name;
        book->close();
        EXPECT_EQ(bench.rows(db), c.rowsAfter) << c.name;
        EXPECT_EQ(sqlite3(db, ".schema RECORD"), kSchema) << c.name;
        const QStringList aside = QDir(bench.wd.path()).entryList({"RECORD.db.broken-*"}, QDir::Files);
        EXPECT_EQ(aside.size(), c.setAside ? 1 : 0) << c.name;
        EXPECT_EQ(log.anyContains("moved aside"), c.setAside) << c.name;
    }
}

TEST(RecordBookTest, StartUpKeepsTheNewestFiftyHistoryFiles)
{
    RecordBench bench;
    const QDate first(2024, 1, 1);
    for (QDate d = first; d <= QDate(2024, 2, 29); d = d.addDays(1))
        bench.wd.dir().write("history/" + d.toString("yyyy-MM-dd") + ".db", "");
    bench.wd.dir().write("history/notes.txt", "");
    auto book = bench.open();
    book->trimHistory();
    const QStringList left = QDir(bench.history()).entryList({"*.db"}, QDir::Files, QDir::Name);
    ASSERT_EQ(left.size(), RecordBook::kHistoryKept);
    EXPECT_EQ(left.first(), "2024-01-11.db");
    EXPECT_EQ(left.last(), "2024-02-29.db");
    EXPECT_TRUE(QFile::exists(bench.history() + "/notes.txt"));
}
