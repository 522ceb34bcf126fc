#pragma once
// A private LAN of several hosts inside one test process. The constructing
// thread moves into a private network namespace of its own (IsolatedNetwork)
// and creates a bridge there with the address 10.77.0.254/24. Each host is a
// thread that unshares its own network namespace and joins the bridge with a
// veth whose inner end ("eth0") carries the host's address; everything made
// on a host's thread (sockets, and threads it starts, which inherit its
// namespace) lives on that host, so endpoints on different hosts can all
// listen on the same fixed port. A program started from a host's thread runs
// on that host too.
//
// Nothing is left behind: every interface lives in a private namespace that
// goes away with its last thread and socket. Needs the right to create
// network namespaces (root); ok() tells, and tests skip when it is false.
#include "tools/iomodulesim/isolatednetwork.h"

#include <QMetaObject>
#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

class QProcess;

// One host of the LAN: a thread with its own network namespace and an event
// loop. Objects made through call() live on it.
class LanHost : public QThread {
    Q_OBJECT
public:
    LanHost(int index, const QString& address);
    ~LanHost() override;

    int index() const { return m_index; }
    QString address() const { return m_address; }
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    long tid() const { return m_tid.load(); }

    // Runs f on the host's thread and waits for it.
    template <class F>
    void call(F&& f)
    {
        QMetaObject::invokeMethod(m_context, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

    // Starts a program on this host; the process object lives on the host's
    // thread (stop it with stopProgram). Null when it could not start.
    QProcess* startProgram(const QString& program, const QStringList& arguments);
    // Kills the program (if still running) and frees its process object.
    void stopProgram(QProcess* process);

private:
    friend class PrivateLan;
    friend class VethPair;
    bool waitReady();
    bool configure(const QString& cidr);
    void run() override;

    const int m_index;
    const QString m_address;
    QSemaphore m_ready;
    std::atomic<long> m_tid{0};
    QObject* m_context = nullptr;
    bool m_ok = false;
    QString m_error;
};

class PrivateLan {
public:
    PrivateLan();
    ~PrivateLan();
    PrivateLan(const PrivateLan&) = delete;
    PrivateLan& operator=(const PrivateLan&) = delete;

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }

    // The address of the test thread's end of the LAN (on the bridge).
    static QString bridgeAddress() { return QStringLiteral("10.77.0.254"); }

    // A new host with the address 10.77.0.<n>, n counting from 1 in the
    // order of creation. Null (and error() set) when it could not be made.
    LanHost* addHost();

    // Stops and frees a host: whatever lives on it must be gone first.
    void removeHost(LanHost* host);

    // Runs "ip" with the arguments on the calling thread (so in its network
    // namespace); empty on success, else what went wrong.
    static QString ip(const QStringList& arguments);

private:
    std::unique_ptr<IsolatedNetwork> m_net;
    std::vector<std::unique_ptr<LanHost>> m_hosts;
    int m_next = 1;
    bool m_ok = false;
    QString m_error;
};
