#pragma once
// Shared pieces of the hub tests: factory databases built from their SQL text
// with the sqlite3 tool, the sqlite3 tool as an independent reader, a
// scratch working directory with PARAM.db open as "dbIn", and a stand-in for
// the hub around the parameter set.
#include "hub/wizardpara.h"
#include "inspection/camerastoreservices.h"
#include "support/scratchdir.h"
#include "support/sqlite3tool.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVector>

#include <gtest/gtest.h>

namespace hubtest {

using testsupport::sqlite3;

// Builds a database file from one of the factory SQL files.
inline void buildFromSql(const QString& db, const QString& sqlFile)
{
    QFile f(QStringLiteral(ORVALE_FACTORY_SQL_DIR "/") + sqlFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << sqlFile.toStdString();
    QDir().mkpath(QFileInfo(db).absolutePath());
    sqlite3(db, QString::fromUtf8(f.readAll()));
    ASSERT_TRUE(QFile::exists(db));
}

// A working directory with the factory files in place ("./paraGroup/default/
// PARAM.db" and "RECORDNULL.db"), made current while the object lives.
class WorkDir {
public:
    WorkDir() : m_cwd(m_dir.path())
    {
        buildFromSql(m_dir.file("paraGroup/default/PARAM.db"), QStringLiteral("PARAM.sql"));
        buildFromSql(m_dir.file("RECORDNULL.db"), QStringLiteral("RECORDNULL.sql"));
    }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.file(name); }
    const testsupport::ScratchDir& dir() const { return m_dir; }

private:
    testsupport::ScratchDir m_dir;
    testsupport::WorkingDir m_cwd;
};

// PARAM.db of the working directory (a copy of the factory file unless it
// exists) open as "dbIn" while the object lives.
class ParamConnection {
public:
    explicit ParamConnection(const QString& file)
    {
        if (!QFile::exists(file))
            QFile::copy(QFileInfo(file).absolutePath() + "/paraGroup/default/PARAM.db", file);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kParamDbConnection));
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    }
    ~ParamConnection()
    {
        {
            QSqlDatabase db = paramDatabase();
            db.close();
        }
        QSqlDatabase::removeDatabase(QLatin1String(kParamDbConnection));
    }
    void exec(const QString& sql) const
    {
        QSqlQuery q(paramDatabase());
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    }
    void put(const QString& name, const QString& value) const
    {
        QSqlQuery q(paramDatabase());
        q.prepare(QStringLiteral("delete from sysparam where name=?"));
        q.addBindValue(name);
        q.exec();
        q.prepare(QStringLiteral("insert into sysparam (name, value) values (?, ?)"));
        q.addBindValue(name);
        q.addBindValue(value);
        EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
};

// The hub around the parameter set, as far as a parameter change needs it.
class FakeParaHost : public WizardParaHost {
public:
    struct Record {
        QString text;
        QString type;
    };
    void InsertRecord(const QString& text, const QString& type) override { records.append({text, type}); }
    void applyToCamera(const QJsonObject& params, bool copyRegions) override
    {
        cameraParams.append(params);
        copies.append(copyRegions);
    }
    void restartWork() override { ++restarts; }
    void closeDatabases() override { databaseCalls << QStringLiteral("close"); }
    void reopenDatabases() override { databaseCalls << QStringLiteral("reopen"); }

    QVector<Record> records;
    QStringList databaseCalls;
    QVector<QJsonObject> cameraParams;
    QVector<bool> copies;
    int restarts = 0;
};

}  // namespace hubtest
