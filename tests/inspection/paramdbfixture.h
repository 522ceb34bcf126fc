#pragma once
// Test fixtures for the camera parameter store: a scratch PARAM.db opened
// under the hub's connection name, a stand-in hub, and the process-wide step
// count and camera index restored afterwards.
#include "inspection/camerastoreservices.h"
#include "inspection/hubservices.h"
#include "support/fakehubservices.h"
#include "support/scratchdir.h"

#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>

#include <gtest/gtest.h>

#include <optional>

namespace paramdb {

// Opens `file` as PARAM.db on the connection "dbIn" for the lifetime of the
// object.
class ParamDb {
public:
    explicit ParamDb(const QString& file, const QString& connection = QLatin1String(kParamDbConnection))
        : m_connection(connection)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~ParamDb()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
    }
    ParamDb(const ParamDb&) = delete;
    ParamDb& operator=(const ParamDb&) = delete;

    QSqlDatabase db() const { return QSqlDatabase::database(m_connection, false); }

    // Runs one statement; fails the test when it does not run.
    void exec(const QString& sql) const
    {
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    // Inserts (or replaces) a row name/value of `table`, values bound.
    void put(const QString& table, const QString& name, const QString& value) const
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("insert or replace into %1 (name, value) values (?, ?)").arg(table));
        q.addBindValue(name);
        q.addBindValue(value);
        EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    // The value of row `name` of cameraparam; nullopt when there is none.
    std::optional<QString> cameraRow(const QString& name = QStringLiteral("camera0")) const
    {
        QSqlQuery q(db());
        q.prepare(QStringLiteral("select value from cameraparam where name=?"));
        q.addBindValue(name);
        if (!q.exec() || !q.next())
            return std::nullopt;
        return q.value(0).toString();
    }
    // All values of one column of a query, as text.
    QStringList column(const QString& sql) const
    {
        QStringList out;
        QSqlQuery q(db());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
        while (q.next())
            out << q.value(0).toString();
        return out;
    }

private:
    QString m_connection;
};

// A scratch PARAM.db (not opened), a hub, gDNum and gCamareIndex set for
// the test and restored afterwards.
class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedDNum = gDNum;
        m_savedIndex = gCamareIndex;
        gDNum = 2;
        gCamareIndex = 0;
    }
    void TearDown() override
    {
        gDNum = m_savedDNum;
        gCamareIndex = m_savedIndex;
    }
    QString dbFile() const { return scratch.file(QStringLiteral("PARAM.db")); }

    testsupport::ScratchDir scratch;
    testsupport::FakeHubServices hub;  // the process-wide hub while the test runs

private:
    int32_t m_savedDNum = 0;
    int32_t m_savedIndex = 0;
};

}  // namespace paramdb
