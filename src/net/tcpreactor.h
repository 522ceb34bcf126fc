#pragma once
// The TCP side of the own HTTP layer: a reactor runs a client connection or
// a listening server on a worker thread of its own (a one-thread pool whose
// thread runs the event loop and does all the work of the sessions), keeps
// the sessions by index, sends forms to one or all of them, lists
// outstanding tasks by uuid and matches responses to them.
//
// Threads: the reactor object, its purge timers and post_sync's wait belong
// to the thread that created it; sessions and sockets live on the worker.
// addSendQueue, post_async and post_sync may be called from any thread.
#include "net/ctask_formdata.h"

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
#include <functional>
#include <memory>

class Session;

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
    // Indices of the sessions whose socket is connected, in index order.
    virtual QList<int> getAliveSession();
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;
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
    // Test hook: the session counter of the process.
    static int lastSessionNumber();

signals:
    void sigRequest(CTask_FormData form);
    void sigResponse(CTask_FormData form, bool matched);
    void readyToClose();
    // A session's connection closed (emitted on the worker thread).
    void sigSessionClosed(int index);

protected:
    static int nextSessionNumber();
    Session* sessionAt(int index) const;  // worker thread only
    QList<QPointer<Session>> allSessions() const;

    std::shared_ptr<QThreadPool> thread_pool;
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
    void workerMain();
    void onSessionRequest(const CTask_FormData& form);
    void onSessionResponse(const CTask_FormData& form);

    QSemaphore m_started;
    bool m_startResult = false;
    std::atomic<QThread*> m_worker{nullptr};
    QMutex m_agentLock;
    QObject* m_agent = nullptr;  // lives on the worker; target of runOnWorker
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
