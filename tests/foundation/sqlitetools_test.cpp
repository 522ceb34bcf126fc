#include "foundation/sqlitetools.h"

#include "support/scratchdir.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>
#include <QVariant>

#include <gtest/gtest.h>

namespace {

// A fresh SQLite file with a RECORD table as an older program wrote it.
class SqliteToolsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_name = QStringLiteral("sqlitetools-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
            db.setDatabaseName(m_dir.file(QStringLiteral("RECORD.db")));
            ASSERT_TRUE(db.open());
        }
        exec("CREATE TABLE RECORD (id INTEGER PRIMARY KEY, time TEXT, content TEXT)");
        exec("CREATE VIEW recordview AS SELECT * FROM RECORD");
        exec("INSERT INTO RECORD (time, content) VALUES ('2024-03-15', 'start')");
    }

    void TearDown() override
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }

    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    void exec(const char* sql)
    {
        QSqlQuery q(db());
        ASSERT_TRUE(q.exec(QString::fromLatin1(sql))) << sql;
    }

    QStringList columns(const QString& table)
    {
        QStringList out;
        QSqlQuery q(db());
        q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(table));
        while (q.next())
            out << q.value(1).toString();
        return out;
    }

    testsupport::ScratchDir m_dir;
    QString m_name;
};

TEST_F(SqliteToolsTest, AddsAMissingColumnOnceThenReportsItExists)
{
    QSqlDatabase conn = db();
    EXPECT_TRUE(addColumnIfNotExists(conn, QStringLiteral("RECORD"), QStringLiteral("recordtype"),
                                     QStringLiteral("TEXT")));
    EXPECT_FALSE(addColumnIfNotExists(conn, QStringLiteral("RECORD"), QStringLiteral("recordtype"),
                                      QStringLiteral("TEXT")));
    EXPECT_EQ(columns(QStringLiteral("RECORD")),
              (QStringList{"id", "time", "content", "recordtype"}));

    // The new column is usable and the old row kept.
    exec("UPDATE RECORD SET recordtype = 'operate'");
    EXPECT_TRUE(recordExist(conn, QStringLiteral("RECORD"), QStringLiteral("recordtype"),
                            QStringLiteral("operate")));
    EXPECT_TRUE(recordExist(conn, QStringLiteral("RECORD"), QStringLiteral("content"),
                            QStringLiteral("start")));
}

struct AddCase {
    const char* name;
    const char* table;
    const char* column;
    const char* type;
    QStringList columnsAfter;
};

TEST_F(SqliteToolsTest, RefusesWithoutChangingTheTable)
{
    const QStringList original{"id", "time", "content"};
    const AddCase cases[] = {
        {"column already there", "RECORD", "content", "TEXT", original},
        {"same name in other letter case", "RECORD", "Content", "TEXT", original},
        {"no such table", "NOTHERE", "recordtype", "TEXT", original},
        {"table name with SQL in it", "RECORD; DROP TABLE RECORD", "x", "TEXT", original},
        {"column name with SQL in it", "RECORD", "x TEXT; DROP TABLE RECORD; --", "TEXT", original},
        {"type with SQL in it", "RECORD", "x", "TEXT; DROP TABLE RECORD", original},
    };
    for (const AddCase& c : cases) {
        QSqlDatabase conn = db();
        EXPECT_FALSE(addColumnIfNotExists(conn, QString::fromLatin1(c.table),
                                          QString::fromLatin1(c.column),
                                          QString::fromLatin1(c.type)))
            << c.name;
        EXPECT_EQ(columns(QStringLiteral("RECORD")), c.columnsAfter) << c.name;
    }
}

TEST_F(SqliteToolsTest, TablesRowsAndColumnsAreFoundExactly)
{
    QSqlDatabase conn = db();
    EXPECT_TRUE(tableExists(conn, QStringLiteral("RECORD")));
    EXPECT_FALSE(tableExists(conn, QStringLiteral("recordview")));  // a view is not a table
    EXPECT_FALSE(tableExists(conn, QStringLiteral("NOTHERE")));

    EXPECT_TRUE(columnExists(conn, QStringLiteral("RECORD"), QStringLiteral("time")));
    EXPECT_FALSE(columnExists(conn, QStringLiteral("RECORD"), QStringLiteral("TIME")));
    EXPECT_FALSE(columnExists(conn, QStringLiteral("NOTHERE"), QStringLiteral("time")));

    EXPECT_FALSE(recordExist(conn, QStringLiteral("RECORD"), QStringLiteral("content"),
                             QStringLiteral("stop")));
    EXPECT_FALSE(recordExist(conn, QStringLiteral("NOTHERE"), QStringLiteral("content"),
                             QStringLiteral("start")));  // an SQL error, logged

    QSqlDatabase closed;
    EXPECT_FALSE(tableExists(closed, QStringLiteral("RECORD")));
    EXPECT_FALSE(addColumnIfNotExists(closed, QStringLiteral("RECORD"), QStringLiteral("x"),
                                      QStringLiteral("TEXT")));
}

}  // namespace
