#pragma once
// The server side of the HTTP control API: one server thread (the HTTP
// server loop) screens every request against the queue limit, the
// one-running-request-per-URL rule, the route table and the body limit,
// streams upload bodies into cache files, and queues each accepted request
// as a shared record for three worker threads, which call the route's
// handler. Replies are built on whatever thread answers and handed to the
// server thread by connection id (finishWorkAction).
//
// Threads: constructed and configured on the main thread before reAction;
// run() is the server thread; onWorkAction runs on the three pool threads;
// finishWorkAction* and the reply builders may be called from any thread.
#include "httpapi/ctask_formdata_mongoose.h"
#include "httpserver/httpserver.h"

#include <QFuture>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QSharedPointer>
#include <QStringList>
#include <QThread>
#include <QThreadPool>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The hand-over point between reply builders and the running server; it
// outlives both (answer guards keep it).
class HttpReplyChannel {
public:
    httpserver::HttpServer::Delivery deliver(quint64 id, httpserver::Reply reply);
    bool awaitsReply(quint64 id);
    void attach(httpserver::HttpServer* server);

private:
    std::mutex m_mutex;
    httpserver::HttpServer* m_server = nullptr;
};

// Answers a request that no handler answered, when its last record copy goes.
class HttpAnswerGuard {
public:
    HttpAnswerGuard(std::shared_ptr<HttpReplyChannel> channel, quint64 id, QString url, QString userAgent,
                    QString deviceId);
    ~HttpAnswerGuard();
    HttpAnswerGuard(const HttpAnswerGuard&) = delete;
    HttpAnswerGuard& operator=(const HttpAnswerGuard&) = delete;

private:
    std::shared_ptr<HttpReplyChannel> m_channel;
    quint64 m_id;
    QString m_url;
    QString m_userAgent;
    QString m_deviceId;
};

class HttpReactor_MG : public QThread, private httpserver::RequestHandler {
    Q_OBJECT
public:
    using Handler = std::function<void(const CTask_FormData_Mongoose&)>;

    // Largest body of a normal route, exclusive.
    static constexpr qint64 kMaxRecvSize = 20971520;
    // The nice value of the service's threads (server, workers, reply
    // assembly): when the CPU is short, the main thread's detection runs
    // first and requests wait.
    static constexpr int kServiceNice = 10;
    // Gives the calling thread kServiceNice, once per thread.
    static void lowerThisThreadsPriority();

    explicit HttpReactor_MG(QObject* parent = nullptr);
    ~HttpReactor_MG() override;

    void run() override;
    virtual void set_limit_max_recvdatas(int limit);
    virtual int get_limit_max_recvdatas() const;
    virtual void set_limit_onlyurl(bool on);
    virtual bool get_limit_onlyurl() const;
    // (Re)starts the server thread and the three workers with an empty queue
    // and an empty list of running URLs. Always true; a listen failure is
    // logged by the server thread and shows in isRunning_mg().
    virtual bool reAction(const QHostAddress& host, quint16 port);

    // True while the server thread runs and its last loop turn ended less
    // than 2 s ago (monotonic clock).
    bool isRunning_mg() const;
    // Stops the server thread (closing every waiting connection) and the
    // workers; used on destruction and at program stop.
    void stopAll();

    // The upload cache folder (a device path): emptied when it exists,
    // created otherwise.
    void set_cachefile_path(const QString& path);
    // The cache folder's absolute path, or "/tmp" (under the data root) when
    // it does not exist.
    QString get_cachefile_path() const;
    // Bytes that must stay free beside an upload.
    void set_upload_reserve_bytes(qint64 bytes) { m_uploadReserve.store(bytes); }
    // The device id sent with the answers the reactor makes itself.
    void set_device_id(const QString& id) { m_deviceId = id; }
    // The port actually listened on (port 0 asks for a free one); 0 before.
    quint16 serverPort() const { return m_boundPort.load(); }
    // How the server thread's connections are handled (before reAction).
    void set_server_options(const httpserver::ServerOptions& options) { m_serverOptions = options; }

    // ---- replies (any thread, once per request) ----
    void finishWorkAction(const CTask_FormData_Mongoose& reply);
    void finishWorkAction_QuickJson(const CTask_FormData_Mongoose& req, int code, const QString& msg);
    void finishWorkAction_ParamError(const CTask_FormData_Mongoose& req, int code, const QString& text);

    static httpserver::Reply Reply_Integrality_Json(const CTask_FormData_Mongoose& reply);
    static httpserver::Reply Reply_Integrality_Empty(const CTask_FormData_Mongoose& reply);
    static httpserver::Reply Reply_Integrality_BinaryStream(const CTask_FormData_Mongoose& reply);
    // Empty optional: the file could not be opened.
    static std::optional<httpserver::Reply> Reply_Integrality_File(const CTask_FormData_Mongoose& reply);
    static httpserver::Reply Reply_Integrality_MultiPart(const CTask_FormData_Mongoose& reply);
    // The reply finishWorkAction sends for this record.
    static httpserver::Reply buildReply(const CTask_FormData_Mongoose& reply);
    static QString mimeTypeForFile(const QString& path);
    static QByteArray multipartBoundary() { return QByteArrayLiteral("------------------------tcpservreactor"); }

    // ---- immediate replies (server thread) ----
    static httpserver::Reply callback_immediately_503(const QString& text);
    static httpserver::Reply callback_immediately_404();
    static httpserver::Reply callback_immediately_400(const QString& text);
    static httpserver::Reply callback_immediately_xxx(int code, const QString& text);

    // Test hook: runs `task` on the server thread (blocking it while it runs).
    void runOnServerThread(std::function<void()> task);

    QMap<QString, Handler> routes;        // answered from the parsed request
    QMap<QString, Handler> cache_routes;  // bodies streamed into cache files
    QMutex mutex;                         // guards working_urls and the upload sets
    QStringList working_urls;

signals:
    // Emitted by a worker immediately before it calls a handler.
    void sigRecvMessage(const CTask_FormData_Mongoose& request);

private:
    friend class CLimit_List_WorkingUrl;
    struct ExchangeState;

    std::optional<httpserver::Reply> onHead(httpserver::Exchange& ex) override;
    void onBody(httpserver::Exchange& ex, const char* data, size_t size) override;
    std::optional<httpserver::Reply> onComplete(httpserver::Exchange& ex) override;
    void onEnd(httpserver::Exchange& ex, bool completed) override;

    // Under `mutex`: a refusal, or nothing when the request may be queued
    // (then `handler`, when given, receives the route's handler).
    std::optional<httpserver::Reply> preprocessRecvDatas(const QString& url, Handler* handler = nullptr);
    void parseAnd2Queue(const httpserver::Exchange& ex, const QByteArray& body, const QString& url,
                        Handler handler);
    void parseAnd2Queue_CacheFile(const httpserver::Exchange& ex, const QString& filePath);
    // `handler`: the route's handler found while screening; none: the worker
    // looks the URL up.
    void enqueue(CTask_FormData_Mongoose rec, Handler handler = Handler());
    void onWorkAction();
    void stopServer();
    void stopWorkers();

    QHostAddress host;
    quint16 port = 65535;
    std::atomic<bool> running{true};
    struct QueuedRequest {
        QSharedPointer<CTask_FormData_Mongoose> record;
        Handler handler;  // empty: looked up by the worker
    };
    // The queue for the workers, under its own lock (m_queueMutex), which the
    // screening takes inside `mutex` and nothing takes the other way round.
    // One block of queued requests (a list would allocate a node per request).
    QVector<QueuedRequest> _Queue_RecvDatas;
    std::mutex m_queueMutex;
    std::condition_variable m_queueCond;  // the queue has a request, or the workers stop
    int limit_max_recvdatas = 50;
    bool limit_onlyurl = true;
    QString cachefile_path;
    std::atomic<bool> workers_running{true};
    QSharedPointer<QThreadPool> worker_pool;
    QList<QFuture<void>> worker_futures;

    std::shared_ptr<HttpReplyChannel> m_channel;
    httpserver::ServerOptions m_serverOptions;
    std::atomic<httpserver::HttpServer*> m_server{nullptr};
    std::atomic<quint16> m_boundPort{0};
    std::atomic<qint64> m_alive{0};  // monotonic ms of the server loop's last turn (0: none)
    std::atomic<qint64> m_uploadReserve{64LL * 1024 * 1024};
    QString m_deviceId;
    QSet<QString> m_uploadUrls;    // upload routes receiving or waiting for their handler (under mutex)
    QSet<QString> m_cacheInUse;    // their cache files (under mutex)
};

// Keeps a URL in the reactor's running list while it lives.
class CLimit_List_WorkingUrl {
public:
    CLimit_List_WorkingUrl(HttpReactor_MG* reactor, const QString& url);
    ~CLimit_List_WorkingUrl();
    CLimit_List_WorkingUrl(const CLimit_List_WorkingUrl&) = delete;
    CLimit_List_WorkingUrl& operator=(const CLimit_List_WorkingUrl&) = delete;
    // Takes the URL out now (before the reply is handed over, so that an
    // immediate retry is not refused).
    void release();

private:
    HttpReactor_MG* m_reactor;
    QString m_url;
    bool m_held = false;
};
