// Reading the operator record: day names that may become file names, pages
// of rows with the type bound as a value, and the time column's two forms.
// Fixtures are written by sqlite3 from SQL text.
#include "httpapi/operaterecordquery.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"
#include "support/sqlite3tool.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using testsupport::ScratchDir;

namespace {

// 35 "operate" rows at 10:00:00.000 + i s, 5 "system" rows, one time
// without milliseconds.
QString recordFixture(const ScratchDir& dir)
{
    const QString db = dir.file("RECORD.db");
    QString sql = "CREATE TABLE RECORD(recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT);\n";
    for (int i = 0; i < 35; ++i)
        sql += QString("INSERT INTO RECORD VALUES('10.00.%1.123','op','o%2','operate');\n")
                   .arg(i, 2, 10, QChar('0'))
                   .arg(i);
    for (int i = 0; i < 5; ++i)
        sql += QString("INSERT INTO RECORD VALUES('11.00.0%1.000','','s%1','system');\n").arg(i);
    sql += "INSERT INTO RECORD VALUES('09.15.02','bob','short','other');\n";
    sql += "INSERT INTO RECORD VALUES('09.15.02.003','bob','long','other');\n";
    EXPECT_EQ(testsupport::sqlite3(db, sql), "");
    return db;
}

}  // namespace

TEST(OperateRecordQueryTest, PagesAreNewestFirstWithinTheirBounds)
{
    ScratchDir dir;
    const QString db = recordFixture(dir);
    const struct {
        qint64 start, finish;
        const char* type;
        int rows;
        const char* first;  // remarks of the first row
    } cases[] = {
        {10, 30, "", 20, "o24"},        // the 10 newest skipped
        {0, 5, "operate", 5, "o34"},
        {30, 100, "", 5, "o4"},
        {-5, 3, "", 3, "o34"},          // a negative start reads 0
        {30, 10, "", 0, nullptr},       // finish below start: nothing, never everything
        {0, 10, "system", 5, "s4"},
        {0, 10, "operate' OR '1'='1", 0, nullptr},  // a value, not SQL
        {INT64_C(-9223372036854775807), INT64_C(9223372036854775807), "system", 5, "s4"},
    };
    for (const auto& c : cases) {
        const QJsonArray rows = OperateRecordQuery::readPage(db, c.start, c.finish, c.type);
        EXPECT_EQ(rows.size(), c.rows) << c.start << " " << c.finish << " " << c.type;
        if (c.first && !rows.isEmpty()) {
            EXPECT_EQ(rows.at(0).toArray().at(2).toString(), c.first);
        }
    }
    const QJsonArray first = OperateRecordQuery::readPage(db, 0, 1, "");
    EXPECT_EQ(first.at(0).toArray(), (QJsonArray{"10:00:34", "op", "o34", "operate"}));
    const QJsonArray other = OperateRecordQuery::readPage(db, 0, 5, "other");
    ASSERT_EQ(other.size(), 2);
    EXPECT_EQ(other.at(0).toArray().at(0).toString(), "09:15:02");
    EXPECT_EQ(other.at(1).toArray().at(0).toString(), "09:15:02");
}

TEST(OperateRecordQueryTest, PageBoundsAreCutToTheIntRangeBeforeTheyAreConverted)
{
    const qint64 top = std::numeric_limits<int>::max();
    const qint64 bottom = std::numeric_limits<int>::min();
    const struct {
        QJsonValue value;
        qint64 bound;
    } cases[] = {
        {10, 10},     {-3, -3},         {2.9, 2},       {2147483648.0, top},
        {1e300, top}, {-1e300, bottom}, {"12", 0},      {"NaN", 0},
        {QJsonValue(), 0}, {true, 0},   {QJsonArray{5}, 0}, {QJsonObject{{"a", 5}}, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OperateRecordQuery::pageBound(c.value), c.bound)
            << QJsonDocument(QJsonArray{c.value}).toJson(QJsonDocument::Compact).toStdString();
    }

    // The widest page the bounds allow reads every row, and no difference of
    // two bounds overflows.
    ScratchDir dir;
    const QString db = recordFixture(dir);
    const qint64 lowest = OperateRecordQuery::pageBound(-1e300);
    const qint64 highest = OperateRecordQuery::pageBound(1e300);
    EXPECT_EQ(OperateRecordQuery::readPage(db, lowest, highest, QString()).size(), 35);
    EXPECT_TRUE(OperateRecordQuery::readPage(db, highest, lowest, QString()).isEmpty());
}

TEST(OperateRecordQueryTest, AnUnreadableDatabaseGivesNoRowsAndNoDriverText)
{
    ScratchDir dir;
    const QString junk = dir.write("junk.db", QByteArray(4096, 'x'));
    testsupport::LogCapture log;
    EXPECT_TRUE(OperateRecordQuery::readPage(junk, 0, 10, "").isEmpty());
    EXPECT_GE(log.count("[RECORD] query failed") + log.count("Failed to open database:"), 1);
}

TEST(OperateRecordQueryTest, OnlyARealDayBecomesAFileName)
{
    ScratchDir dir;
    platform::DataRoot::setRoot(dir.path());
    const QString today = "2026-12-11";
    EXPECT_EQ(OperateRecordQuery::recordFile(today, today), "./RECORD.db");
    EXPECT_EQ(OperateRecordQuery::recordFile("2024-05-01", today),
              platform::DataRoot::path("/userdata/record_history/2024-05-01.db"));
    testsupport::LogCapture log;
    for (const char* bad : {"", "../../etc/passwd", "2024-05-01/../../x", "2024-13-01", "2024-02-30", "2024-5-1",
                            "2024-05-01.db", "/2024-05-01", "2024-05-01\n", "２０２４-05-01"}) {
        EXPECT_EQ(OperateRecordQuery::recordFile(QString::fromUtf8(bad), today), "") << bad;
    }
    EXPECT_GE(log.count("[RECORD] not a record day"), 9);
}

TEST(OperateRecordQueryTest, DaysListTodayThenHistoryNewestFirst)
{
    ScratchDir dir;
    platform::DataRoot::setRoot(dir.path());
    EXPECT_EQ(OperateRecordQuery::recordDays("2026-12-11"), QStringList{"2026-12-11"});
    dir.write("userdata/record_history/2024-05-01.db", "x");
    dir.write("userdata/record_history/2024-05-03.db", "x");
    dir.write("userdata/record_history/notes.txt", "x");
    EXPECT_EQ(OperateRecordQuery::recordDays("2026-12-11"), (QStringList{"2026-12-11", "2024-05-03", "2024-05-01"}));
}
