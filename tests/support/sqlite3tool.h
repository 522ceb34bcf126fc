#pragma once
// The sqlite3 command-line tool as an independent reader and writer of the
// program's databases in tests.
#include <QProcess>
#include <QString>

namespace testsupport {

// Runs sqlite3 on `db` with `sql` on its standard input; returns its
// standard output, trimmed (list mode, "|" between columns). A program
// writing the same file at that moment holds it locked for a while: the
// tool waits for it up to 5 s, as the program's own connections do,
// instead of failing at once with "database is locked".
inline QString sqlite3(const QString& db, const QString& sql)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-batch"), QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"), db});
    if (!p.waitForStarted(5000))
        return QStringLiteral("<sqlite3 did not start: %1>").arg(p.errorString());
    p.write(sql.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}  // namespace testsupport
