#include "httpapi/operaterecordquery.h"

#include "foundation/logmanager.h"
#include "platform/system/dataroot.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
const char kConnection[] = "record_sqlite";
}

QStringList OperateRecordQuery::recordDays(const QString& today)
{
    QStringList days{today};
    QDir dir(platform::DataRoot::path(historyFolder()));
    QStringList names = dir.entryList({QStringLiteral("*.db")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names)
        days << name.section(QLatin1Char('.'), 0, 0);
    return days;
}

QString OperateRecordQuery::recordFile(const QString& date, const QString& today)
{
    if (date == today)
        return todayFile();
    static const QRegularExpression form(QStringLiteral("\\A[0-9]{4}-[0-9]{2}-[0-9]{2}\\z"));
    if (!form.match(date).hasMatch() || !QDate::fromString(date, QStringLiteral("yyyy-MM-dd")).isValid()) {
        qCWarning(level_1).noquote() << "[RECORD] not a record day, nothing read:" << date.left(64);
        return QString();
    }
    return platform::DataRoot::path(historyFolder() + date + QStringLiteral(".db"));
}

qint64 OperateRecordQuery::pageBound(const QJsonValue& value)
{
    const double d = value.toDouble(0);  // not a number: 0
    if (std::isnan(d))
        return 0;
    return static_cast<qint64>(std::clamp(d, double(std::numeric_limits<int>::min()),
                                          double(std::numeric_limits<int>::max())));
}

QString OperateRecordQuery::timeText(const QString& recordtime)
{
    QStringList parts = recordtime.split(QLatin1Char('.'));
    if (parts.size() == 4)
        parts.removeLast();
    return parts.join(QLatin1Char(':'));
}

QJsonArray OperateRecordQuery::readPage(const QString& file, qint64 start, qint64 finish, const QString& type)
{
    QJsonArray records;
    const qint64 offset = std::max<qint64>(start, 0);
    // 64-bit on both sides: no overflow for any two ints a request can send.
    const qint64 limit = std::max<qint64>(finish - std::max<qint64>(start, 0), 0);
    {
        if (QSqlDatabase::contains(kConnection))
            QSqlDatabase::removeDatabase(kConnection);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            qCWarning(level_1).noquote() << "Failed to open database:" << file << db.lastError().text();
        } else {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT * FROM RECORD WHERE recordtype = ? ORDER BY recordtime DESC "
                                     "LIMIT ? OFFSET ?;"));
            q.addBindValue(type.isEmpty() ? QStringLiteral("operate") : type);
            q.addBindValue(limit);
            q.addBindValue(offset);
            if (!q.exec()) {
                qCWarning(level_1).noquote() << "[RECORD] query failed on" << file << q.lastError().text();
            } else {
                while (q.next()) {
                    if (q.record().count() != 4)
                        break;
                    records.append(QJsonArray{timeText(q.value(0).toString()), q.value(1).toString(),
                                              q.value(2).toString(), q.value(3).toString()});
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(kConnection);
    return records;
}
