#pragma once
// Shared helpers of the network tests: waiting with the event loop running,
// and a raw TCP client that writes bytes and collects what comes back.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>

#include <functional>

namespace nettest {

// Runs the calling thread's event loop until `cond` holds or `ms` passed.
inline bool waitUntil(const std::function<bool()>& cond, int ms = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for `ms`.
inline void spin(int ms)
{
    waitUntil([] { return false; }, ms);
}

// Number of open file descriptors of this process.
inline int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}
// Number of threads of this process.
inline int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::NoDotAndDotDot | QDir::Dirs).size());
}

}  // namespace nettest
