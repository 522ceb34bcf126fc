#pragma once
// Shared pieces of the statistics tests: a scratch working directory in UTC
// (or a zone a test names), the sqlite3 tool on the statistics file, a
// settable wall clock and a database writer on a thread of its own.
#include "statistics/productstatisticsdatabase.h"
#include "statistics/statisticsclock.h"
#include "support/scratchdir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>

namespace statstest {

inline void setZone(const char* tz)
{
    qputenv("TZ", tz);
    tzset();
}

// Runs the sqlite3 tool on the statistics file of the working directory.
inline QString sqlite(const QString& sql)
{
    QProcess p;
    // Waits for a lock the writer holds rather than failing at once.
    p.start(QStringLiteral("sqlite3"), {"-cmd", ".timeout 5000", ProductstatisticsDatabase::fileName(), sql});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Spins the event loop until `done` or 5 s passed.
inline bool waitFor(const std::function<bool()>& done, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Starts this test program again, running only the disabled test `test`,
// with `envName` set to `dir`: a writer process a test can kill.
inline bool startSelf(QProcess& p, const char* test, const char* envName, const QString& dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(envName, dir);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=%1").arg(test), "--gtest_also_run_disabled_tests"});
    return p.waitForStarted(-1);
}

// A wall clock the test moves by hand.
struct TestClock {
    QDateTime now = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 20));
    TestClock() { statistics::setWallClock([this] { return now; }); }
    ~TestClock() { statistics::setWallClock({}); }
    void set(int h, int m, int s = 0) { now = QDateTime(now.date(), QTime(h, m, s)); }
};

class StatisticsFixture : public ::testing::Test {
protected:
    void SetUp() override { setZone("UTC"); }
    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd{scratch.path()};
};

// A writer moved to a thread of its own, as the front end runs it.
struct WriterThread {
    QThread thread;
    ProductstatisticsDatabase db;
    WriterThread()
    {
        db.moveToThread(&thread);
        thread.start();
    }
    ~WriterThread()
    {
        thread.quit();
        thread.wait();
    }
    bool settled() { return waitFor([this] { return db.committedSaves() == db.submittedSaves(); }); }
};

}  // namespace statstest
