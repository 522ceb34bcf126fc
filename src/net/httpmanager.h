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
    // Answers `request` at once: an empty-result envelope with `status` and,
    // when not empty, `msg`, on the session it came from.
    virtual void callback_immediately(const CTask_FormData& request, int status, QString msg);

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

private:
    QSemaphore m_workersReady;
};
