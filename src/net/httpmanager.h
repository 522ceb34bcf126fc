#pragma once
// An endpoint of the own HTTP layer: one TCP reactor in the client or the
// server role, a table of routes from URL to handler, and the mode that
// decides on which thread received requests reach their handlers:
//   1  requests and responses queued to the manager's thread;
//   2  responses queued, requests on the reactor's worker thread;
//   3  requests on up to three pooled threads in parallel;
//   4  everything arrives on the worker; each request then moves to the
//      manager's thread, one running request per URL (the next gets 503).
// A URL without a route is answered with 404 by the manager itself.
//
// Threads: the manager lives on the thread that created it; answers always
// leave through the reactor, which hands them to the session's thread.
#include "net/ctask_formdata.h"
#include "net/tcpreactor.h"

#include <QFuture>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSemaphore>
#include <QThreadPool>

#include <functional>
#include <memory>

enum CLST_TYPE : int {
    CLST_Server = 0,
    CLST_Client = 1,
};

class HttpManager : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(CTask_FormData)>;

    explicit HttpManager(CLST_TYPE type, QObject* parent = nullptr);
    ~HttpManager() override;

    // Replaces the reactor and starts it; true when connected (client,
    // within 200 ms) or listening (server).
    virtual bool startReactor(const QHostAddress& host, quint16 port, int mode);
    // startReactor, then the reactor's post_async of `form` once connected,
    // in one hand-over when the reactor runs on a shared thread (see
    // TcpReactor::reActionAndPost). True when connected and the form handed
    // to the connection; false when the start failed (nothing sent).
    bool startReactorAndPost(const QHostAddress& host, quint16 port, int mode, const CTask_FormData& form);
    // Answers `request` at once: an empty-result envelope with `status` and,
    // when not empty, `msg`, on the session it came from.
    virtual void callback_immediately(const CTask_FormData& request, int status, QString msg);

    // Where the next startReactor runs its reactor: on `thread` (shared and
    // long-lived) instead of a worker thread of the reactor's own; null: its own.
    void setReactorThread(std::shared_ptr<CLSC::ReactorThread> thread) { reactor_thread = std::move(thread); }

    void addRoute(const QString& url, Handler handler);
    CLSC::TcpReactor* getReactor() const { return reactor.get(); }
    CLST_TYPE getRole() const { return role; }

public slots:
    virtual void SlotRecvResponse(CTask_FormData form, bool matched);
    virtual void SlotRecvRequest(CTask_FormData form);
    virtual void SlotRecvRequest_Pre_ThreadMold2(CTask_FormData form);
    virtual void SlotRecvRequest_ThreadMold2(CTask_FormData form);

signals:
    void new_message_arrive();
    void readyToClose();

protected:
    // Called with each new reactor before it starts (on the manager's thread).
    virtual void reactorMade(CLSC::TcpReactor*) {}
    // Stops the pooled workers and, unless `stopOnly`, starts three.
    void Reload_Future_Workfunc(bool stopOnly);
    void logTaskTiming(const char* tag, const CTask_FormData& form) const;
    void pooledWorker();
    // Calls the form's route on the calling thread, or answers 404.
    void routeOr404(const CTask_FormData& form);

    std::shared_ptr<CLSC::TcpReactor> reactor;
    CLST_TYPE role;
    QMap<QString, Handler> routes;
    QMutex queue_lock;
    QList<CTask_FormData> request_queue;
    QList<QFuture<void>> workers;
    std::shared_ptr<QThreadPool> worker_pool;
    QList<QString> busy_urls;
    std::shared_ptr<CLSC::ReactorThread> reactor_thread;

private:
    // Replaces the reactor by a new one of the role, wired for `mode`, not started.
    void makeReactor(int mode);

    QSemaphore m_workersReady;
};
