#include "hub/recordbook.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/sqlitetools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

namespace {

const char kStampKey[] = "VCamera_Work/CurRecordFile_Time";
const char kConnection[] = "dbRecord";
const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS %1RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), "
    "remarks VARCHAR(1024), recordtype TEXT);";
const char kColumns[] = "recordtime, recordpassword, remarks, recordtype";

}  // namespace

RecordBook::RecordBook(const QString& file, const QString& emptyFile, const QString& historyDir)
    : m_file(file), m_emptyFile(emptyFile), m_historyDir(historyDir), m_connection(QLatin1String(kConnection))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_file);
}

RecordBook::~RecordBook()
{
    close();
    QSqlDatabase::removeDatabase(m_connection);
}

bool RecordBook::isOpen() const
{
    return QSqlDatabase::database(m_connection, false).isOpen();
}

void RecordBook::close()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (db.isOpen())
        db.close();
}

QString RecordBook::historyFile(const QDate& day) const
{
    return QDir(m_historyDir).filePath(day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".db"));
}

bool RecordBook::createTable()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.exec(QString::fromLatin1(kCreateTable).arg(QString()))) {
        qCWarning(level_1).noquote() << QStringLiteral("创建表失败: ") + q.lastError().text();
        return false;
    }
    qDebug() << "表 RECORD 创建成功";
    return true;
}

bool RecordBook::open()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isValid())
        return false;
    if (db.isOpen())
        return true;
    if (!db.open()) {
        qCWarning(level_1) << "RECORD.db will not open:" << db.lastError().text();
        return false;
    }
    if (!createTable())
        return false;
    // The result only says whether the column was added now.
    addColumnIfNotExists(db, QStringLiteral("RECORD"), QStringLiteral("recordtype"), QStringLiteral("TEXT"));
    return true;
}

void RecordBook::setAside(const QString& why)
{
    close();
    const QString aside =
        m_file + QStringLiteral(".broken-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmsszzz"));
    const bool moved = QFile::rename(m_file, aside);
    if (QFile::exists(m_file + QStringLiteral("-journal")))
        QFile::rename(m_file + QStringLiteral("-journal"), aside + QStringLiteral("-journal"));
    if (moved)
        qCWarning(level_1).noquote() << QStringLiteral("%1 %2: moved aside as %3, a new empty record is started")
                                            .arg(m_file, why, aside);
    else
        qCWarning(level_1).noquote() << QStringLiteral("%1 %2 and could not be moved aside").arg(m_file, why);
}

bool RecordBook::hasAllColumns()
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (!q.prepare(QStringLiteral("PRAGMA table_info(RECORD);")) || !q.exec()) {
        qDebug().noquote() << QStringLiteral("查询执行失败：") + q.lastError().text();
        return false;
    }
    QStringList names;
    while (q.next())
        names << q.value(QStringLiteral("name")).toString();
    for (const char* column : {"recordtime", "recordpassword", "remarks", "recordtype"}) {
        if (!names.contains(QLatin1String(column)))
            return false;
    }
    return true;
}

bool RecordBook::openAtStart()
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (QFile::exists(m_file)) {
        if (!db.open()) {
            setAside(QStringLiteral("will not open"));
        } else {
            QSqlQuery probe(db);
            const bool readable = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
            probe.finish();
            if (!readable) {
                setAside(QStringLiteral("cannot be read (") + probe.lastError().text() + QLatin1Char(')'));
            } else if (tableExists(db, QStringLiteral("RECORD"))) {
                addColumnIfNotExists(db, QStringLiteral("RECORD"), QStringLiteral("recordtype"), QStringLiteral("TEXT"));
                if (!hasAllColumns())
                    setAside(QStringLiteral("lacks a column of its table"));
            }
        }
    }
    close();
    if (!open()) {
        qCWarning(level_1) << "no usable RECORD.db: operator and system records are lost until it opens";
        return false;
    }
    return hasAllColumns();
}

void RecordBook::trimHistory()
{
    QDir dir(m_historyDir);
    if (!dir.exists()) {
        if (QDir().mkpath(m_historyDir))
            qInfo() << "Directory created:" << m_historyDir;
        return;
    }
    const QStringList files = dir.entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (int i = kHistoryKept; i < files.size(); ++i) {
        if (!QFile::remove(dir.filePath(files.at(i))))
            qCWarning(level_1) << "old record history file" << files.at(i) << "could not be removed";
    }
}

void RecordBook::recoverJournal()
{
    // A journal left by an interrupted write belongs to this file: let SQLite
    // roll it back before the file moves without it.
    if (!QFile::exists(m_file + QStringLiteral("-journal")))
        return;
    if (open()) {
        QSqlQuery q(QSqlDatabase::database(m_connection, false));
        q.exec(QStringLiteral("SELECT count(*) FROM RECORD"));
    }
    close();
}

void RecordBook::startEmptyFile()
{
    if (!QFile::exists(m_emptyFile))
        return;  // opening creates the file and its table
    const QString part = m_file + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(m_emptyFile, part) || !QFile::rename(part, m_file)) {
        QFile::remove(part);
        qCWarning(level_1) << "could not copy" << m_emptyFile << "as the new record: an empty one is created";
    }
}

bool RecordBook::moveInto(const QString& dest)
{
    if (!QFile::exists(m_file))
        return false;
    // A rename never replaces an existing file here (checked by the caller)
    // and fails across file systems; both cases go to appendInto.
    if (std::rename(QFile::encodeName(m_file).constData(), QFile::encodeName(dest).constData()) != 0)
        return false;
    startEmptyFile();
    return true;
}

bool RecordBook::appendInto(const QString& dest)
{
    if (!open())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    bool ok = false;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("ATTACH DATABASE ? AS hist"));
        q.addBindValue(dest);
        if (!q.exec()) {
            qCWarning(level_1) << "cannot open the record history file" << dest << ":" << q.lastError().text();
            return false;
        }
        ok = q.exec(QString::fromLatin1(kCreateTable).arg(QStringLiteral("hist.")));
        if (ok && db.transaction()) {
            ok = q.exec(QStringLiteral("INSERT INTO hist.RECORD (%1) SELECT %1 FROM main.RECORD").arg(kColumns))
                 && q.exec(QStringLiteral("DELETE FROM main.RECORD"));
            if (!ok)
                qCWarning(level_1) << "cannot move the records into" << dest << ":" << q.lastError().text();
            ok = ok ? db.commit() : (db.rollback(), false);
        } else {
            ok = false;
        }
        q.finish();
        q.exec(QStringLiteral("DETACH DATABASE hist"));
    }
    return ok;
}

bool RecordBook::rotateIfDue()
{
    WorkStashManager* stash = WorkStashManager::getInstance();
    const qint64 stamp = stash->value(QLatin1String(kStampKey), 0).toLongLong();
    const QDate started = QDateTime::fromSecsSinceEpoch(stamp).date();
    if (started.daysTo(gettimeofday_date().date()) <= 0)
        return true;
    close();
    recoverJournal();
    QDir().mkpath(m_historyDir);
    const QString dest = historyFile(started);
    const bool moved = (!QFile::exists(dest) && moveInto(dest)) || appendInto(dest);
    if (!moved) {
        qCWarning(level_1) << "the record of" << started.toString(Qt::ISODate) << "could not be moved to" << dest
                           << ": its entries stay in" << m_file << "and the move is tried again with the next entry";
        return false;
    }
    stash->setValue(QLatin1String(kStampKey), gettimeofday_ms() / 1000);
    stash->sync();
    return true;
}

bool RecordBook::insert(const QString& text, const QString& type, const QString& user)
{
    rotateIfDue();
    if (!open()) {
        qCWarning(level_1).noquote() << "record not written (RECORD.db will not open):" << text;
        return false;
    }
    const QString time = gettimeofday_date().time().toString(QStringLiteral("hh.mm.ss.zzz"));
    const QString who = user.isEmpty() ? QCoreApplication::translate("DiVuVarude", "未登录") : user;
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    q.prepare(QStringLiteral("INSERT INTO RECORD(recordtime, recordpassword, remarks, recordtype) VALUES(?, ?, ?, ?)"));
    q.addBindValue(time);
    q.addBindValue(who);
    q.addBindValue(text);
    q.addBindValue(type);
    const bool written = q.exec();
    if (!written)
        qCWarning(level_1).noquote() << "record not written (" + q.lastError().text() + "):" << text;
    ZRC_WorkInformation_Manager::getInstance()->set_last_operate(text);
    return written;
}
