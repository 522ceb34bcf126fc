#pragma once
// The TCP side of the own HTTP layer: a reactor runs a client connection or
// a listening server on a worker thread of its own (a one-thread pool whose
// thread runs the event loop and does all the work of the sessions), or on a
// long-lived ReactorThread shared with other reactors (useThread), keeps the
// sessions by index, sends forms to one or all of them, lists outstanding
// tasks by uuid and matches responses to them.
//
// Threads: the reactor object, its purge timers and post_sync's wait belong
// to the thread that created it; sessions and sockets live on the worker.
// addSendQueue, post_async and post_sync may be called from any thread.
#include "net/ctask_formdata.h"
#include "net/reactorthread.h"

#include <QHostAddress>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class Session;
class SCI_ExecObj_Send;

namespace CLSC {

class CQTcpSocket : public QTcpSocket {
    Q_OBJECT
public:
    explicit CQTcpSocket(QObject* parent = nullptr) : QTcpSocket(parent) {}
    ~CQTcpSocket() override = default;
};

class CQTcpServer : public QTcpServer {
    Q_OBJECT
public:
    explicit CQTcpServer(QObject* parent = nullptr) : QTcpServer(parent) {}
    ~CQTcpServer() override = default;
};

class TcpReactor : public QObject {
    Q_OBJECT
public:
    explicit TcpReactor(QObject* parent = nullptr);
    ~TcpReactor() override;

    virtual bool isRunning() const = 0;
    // Stop, take the new peer (client) or address (server), start.
    virtual bool reAction(const QHostAddress& host, quint16 port);
    // Disconnects every receiver of sigRequest and sigResponse.
    virtual void blockAllRecvSIG();
    // Sends `request` and waits at most `timeout` ms (1..60000) for the
    // response of the same uuid (an empty uuid is stamped first); false
    // without a live session, with a bad time-out, or on time-out.
    virtual bool post_sync(CTask_FormData& request, CTask_FormData& response, int timeout);
    // Sends without waiting (an empty uuid gets "defalut#<time>#<n>") and
    // lists the task. Always true.
    virtual bool post_async(const CTask_FormData& form);
    // reAction, then post_async of `form` once connected. On a shared thread
    // both are one hand-over: the worker writes the form right after the
    // connection opened, in the same turn, while the caller learns the
    // start's result. True exactly when the start succeeded; on failure
    // nothing is sent and no task stays listed.
    bool reActionAndPost(const QHostAddress& host, quint16 port, const CTask_FormData& form);
    // Indices of the sessions whose socket is connected, in index order.
    virtual QList<int> getAliveSession();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
    // The worker of the next start: `thread` (shared with other reactors,
    // kept while this reactor lives) instead of a thread of its own; null
    // goes back to a thread of its own. Set before initialize.
    void useThread(std::shared_ptr<ReactorThread> thread);
    // Starts the worker; true exactly when onStart succeeded.
    virtual bool initialize();
    virtual void deinitialize();
    virtual void InitSession(Session* session);
    // Hands the form to its target sessions (index -1 all, -2 none).
    virtual void addSendQueue(const CTask_FormData& form);
    virtual void updateSoftCnted();

    void append_ClientSession(Session* session);
    // -1 every session, a non-negative index that one, -2 none; gone ones
    // are always dropped. Runs on the worker thread (blocks until done).
    void remove_ClientSession(int index);

    // ---- task list ----
    void append_TcpTask(const CTask_FormData& form);
    void append_TcpTask(const QString& uuid);
    bool isAliveTcpTask(const QString& uuid) const;
    CVariant<TcpTsk_Info> getTcpTask(const QString& uuid) const;
    CVariant<TcpTsk_Info> remove_TaskFromList(const QString& uuid);
    void update_TcpTsk_ByUuid(const QString& uuid, const QString& key, const QList<QVariant>& args);
    // The purges the timers run (public for tests).
    void purgeTasks();
    void purgeSessions();

    QHostAddress hostAddress() const { return host; }
    quint16 hostPort() const { return port; }
    qint64 softConnectedTime() const { return soft_connected_time.load(); }
    int aliveTick() const { return alive_tick.load(); }
    // The worker thread while it runs (null otherwise).
    QThread* workerThread() const { return m_worker.load(); }
    // Runs `fn` on the worker thread (queued); false when no worker runs.
    bool runOnWorker(std::function<void()> fn);
    // True while one of its sessions is inside a write: a file send on a
    // slow link can take minutes, each step guarded by the send itself. Any
    // thread.
    bool isSending() const { return m_sending.load() > 0; }
    // Milliseconds since a session's last write ended; -1 before the first.
    // Any thread.
    qint64 msSinceLastWrite() const
    {
        const qint64 at = m_lastWriteEndMs.load();
        return at < 0 ? -1 : steadyMs() - at;
    }
    // Sessions count their writes (worker thread).
    void noteWriteStarted() { ++m_sending; }
    void noteWriteEnded()
    {
        m_lastWriteEndMs.store(steadyMs());
        --m_sending;
    }
    // Test hook: the session counter of the process.
    static int lastSessionNumber();

signals:
    void sigRequest(CTask_FormData form);
    void sigResponse(CTask_FormData form, bool matched);
    void readyToClose();
    // A session's connection closed (emitted on the worker thread).
    void sigSessionClosed(int index);

protected:
    // On a shared thread: starts like onStart and calls `done` with the
    // result, without blocking the thread the other reactors use.
    virtual void beginStart(std::function<void(bool)> done) { done(onStart()); }
    bool onSharedThread() const { return m_shared != nullptr; }
    static int nextSessionNumber();
    Session* sessionAt(int index) const;  // worker thread only
    QList<QPointer<Session>> allSessions() const;

    // The one-thread pool of a worker of its own (created on first use).
    QThreadPool* ownPool();
    int ownPoolActive() const;
    mutable QMutex sessions_lock;
    QMap<qint32, QPointer<Session>> sessions;
    mutable QMutex tasks_lock;
    QMap<QString, TcpTsk_Info> tasks;
    QTimer task_purge_timer;
    QTimer session_purge_timer;
    QHostAddress host;
    quint16 port = 0;
    std::atomic<qint64> soft_connected_time{0};
    std::atomic<int> alive_tick{0};

private:
    // The form post_async sends: an empty uuid stamped.
    static CTask_FormData stampedForAsync(const CTask_FormData& form);
    // Hands `message` to its target sessions (-1 all); worker thread only.
    void sendHere(const SCI_ExecObj_Send& message, int target);
    void workerMain();
    // The worker's start and end on a shared thread (run there).
    void sharedStarted(bool ok);
    void finishShared(QSemaphore* done);
    bool hasBusySession() const;
    void onSessionRequest(const CTask_FormData& form);
    void onSessionResponse(const CTask_FormData& form);

    QSemaphore m_started;
    bool m_startResult = false;
    std::atomic<QThread*> m_worker{nullptr};
    std::atomic<int> m_sending{0};
    std::atomic<qint64> m_lastWriteEndMs{-1};
    static qint64 steadyMs()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    QMutex m_agentLock;
    QObject* m_agent = nullptr;  // lives on the worker; target of runOnWorker
    std::shared_ptr<ReactorThread> m_shared;
    std::atomic<QThreadPool*> m_pool{nullptr};
};

class TcpCliReactor : public TcpReactor {
    Q_OBJECT
public:
    explicit TcpCliReactor(QObject* parent = nullptr) : TcpReactor(parent) {}
    ~TcpCliReactor() override;
    bool isRunning() const override;
    // Also tries one reconnect for a session that exists but dropped.
    QList<int> getAliveSession() override;
    bool onStart() override;
    void onFinish() override;
    bool hasSession() const;

protected:
    void beginStart(std::function<void(bool)> done) override;

private:
    // A session for a socket that just connected (worker thread).
    void openSession(CQTcpSocket* socket);
};

class TcpServReactor : public TcpReactor {
    Q_OBJECT
public:
    explicit TcpServReactor(QObject* parent = nullptr) : TcpReactor(parent) {}
    ~TcpServReactor() override;
    bool isRunning() const override;
    bool onStart() override;
    void onFinish() override;
    // The port the server listens on (0 when not listening).
    quint16 serverPort() const { return m_serverPort.load(); }

private:
    std::shared_ptr<CQTcpServer> server;
    std::atomic<quint16> m_serverPort{0};
    std::atomic<bool> m_hasServer{false};
};

}  // namespace CLSC
