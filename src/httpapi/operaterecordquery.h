#pragma once
// Reads the operator and system record for the HTTP API: which days have a
// record, and one page of one day's record. The day comes from a request, so
// it becomes a file name only when it is a real "yyyy-MM-dd" date, and the
// record type is bound as a value, never put into the SQL text. Database
// errors go to the log, never into a reply.
//
// Threads: any; each call opens its own named connection ("record_sqlite"),
// so two calls must not overlap (the route's one-request-per-URL rule).
#include <QJsonArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

class OperateRecordQuery {
public:
    // Today's record and the folder of earlier days (device paths).
    static QString todayFile() { return QStringLiteral("./RECORD.db"); }
    static QString historyFolder() { return QStringLiteral("/userdata/record_history/"); }

    // `today` first, then the base name of every "*.db" file of the history
    // folder, newest (greatest name) first.
    static QStringList recordDays(const QString& today);

    // The database file of `date`: today's file when it equals `today`, the
    // history file when it is a valid "yyyy-MM-dd" date, else empty (logged).
    static QString recordFile(const QString& date, const QString& today);

    // One page of rows of `type` ("operate" when empty), newest first,
    // skipping `start` rows (a negative start reads 0) and returning at most
    // finish - start rows (none when finish is not above start).
    // Each row is [time "hh:mm:ss", user, remarks, type]. An empty array
    // when the file cannot be read (logged).
    static QJsonArray readPage(const QString& file, qint64 start, qint64 finish, const QString& type);

    // A page bound ("start", "finish") as the request sends it: a number,
    // cut to the int range before it is converted (1e300 is no row number);
    // anything else reads 0.
    static qint64 pageBound(const QJsonValue& value);

    // "14.03.22.517" and "14.03.22" both give "14:03:22".
    static QString timeText(const QString& recordtime);
};
