#pragma once
// Two private networks joined by a veth pair, for services that skip the
// loopback: the calling thread in network A with "va" (192.168.2.20/24 by
// default), a worker thread with its own event loop in network B with "vb"
// (192.168.1.10/24). Objects for B are made and driven with there(), which
// keeps the calling thread's event loop running meanwhile.
//
// Needs the right to create network namespaces and links (root); ok() tells.
#include "nettestbench.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QProcess>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

#include <sys/syscall.h>
#include <unistd.h>

namespace nettest {

class NamespaceThread : public QThread {
public:
    void run() override
    {
        IsolatedNetwork net;
        QObject context;
        ok = net.ok();
        tid = int(::syscall(SYS_gettid));
        ctx = &context;
        ready.release();
        exec();
        ctx = nullptr;
    }
    QSemaphore ready;
    std::atomic<bool> ok{false};
    std::atomic<int> tid{0};
    QObject* ctx = nullptr;
};

inline bool runTool(const QStringList& args)
{
    QProcess p;
    p.start(args.first(), args.mid(1));
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

class VethBench {
public:
    explicit VethBench(const QString& addressA = QStringLiteral("192.168.2.20/24"),
                       const QString& addressB = QStringLiteral("192.168.1.10/24"))
    {
        if (!netA.ok())
            return;
        b.start();
        b.ready.acquire();
        if (!b.ok)
            return;
        const QString nsB = QStringLiteral("--net=/proc/%1/task/%2/ns/net").arg(::getpid()).arg(b.tid.load());
        m_ok = runTool({"ip", "link", "add", "va", "type", "veth", "peer", "name", "vb", "netns",
                        QString::number(b.tid.load())})
               && runTool({"ip", "addr", "add", addressA, "dev", "va"}) && runTool({"ip", "link", "set", "va", "up"})
               && runTool({"nsenter", nsB, "ip", "addr", "add", addressB, "dev", "vb"})
               && runTool({"nsenter", nsB, "ip", "link", "set", "vb", "up"});
    }
    ~VethBench()
    {
        b.quit();
        b.wait();
    }
    bool ok() const { return m_ok; }

    // Runs `fn` on B's thread; the calling thread's events go on meanwhile.
    bool there(const std::function<void()>& fn, int ms = 30000)
    {
        auto done = std::make_shared<std::atomic<bool>>(false);
        QMetaObject::invokeMethod(b.ctx, [fn, done] {
            fn();
            *done = true;
        }, Qt::QueuedConnection);
        return waitUntil([done] { return done->load(); }, ms);
    }

    IsolatedNetwork netA;  // first: the calling thread lives in A from here on
    NamespaceThread b;

private:
    bool m_ok = false;
};

}  // namespace nettest
