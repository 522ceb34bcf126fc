#include "net/httpmanager.h"

#include "net/netlog.h"

#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QThread>
#include <QVariant>
#include <QtConcurrent/QtConcurrentRun>

HttpManager::HttpManager(CLST_TYPE type, QObject* parent) : QObject(parent), role(type)
{
    registerNetMetaTypes();
}

HttpManager::~HttpManager()
{
    reactor.reset();
    Reload_Future_Workfunc(true);
    if (worker_pool)
        worker_pool->waitForDone();
}

void HttpManager::addRoute(const QString& url, Handler handler) { routes.insert(url, std::move(handler)); }

bool HttpManager::startReactor(const QHostAddress& host, quint16 port, int mode)
{
    makeReactor(mode);
    return reactor && reactor->reAction(host, port);
}

bool HttpManager::startReactorAndPost(const QHostAddress& host, quint16 port, int mode, const CTask_FormData& form)
{
    makeReactor(mode);
    return reactor && reactor->reActionAndPost(host, port, form);
}

void HttpManager::makeReactor(int mode)
{
    reactor.reset();
    if (role == CLST_Client)
        reactor = std::make_shared<CLSC::TcpCliReactor>();
    else if (role == CLST_Server)
        reactor = std::make_shared<CLSC::TcpServReactor>();
    else
        return;
    reactor->useThread(reactor_thread);
    const QVariant name = property("name");
    if (name.isValid())
        reactor->setProperty("name", name.toString());
    reactor->blockAllRecvSIG();
    Reload_Future_Workfunc(true);
    CLSC::TcpReactor* r = reactor.get();
    switch (mode) {
    case 1:
        connect(r, &CLSC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r, &CLSC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::QueuedConnection);
        break;
    case 2:
        connect(r, &CLSC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::QueuedConnection);
        connect(r, &CLSC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest, Qt::DirectConnection);
        break;
    case 3:
        connect(
            r, &CLSC::TcpReactor::sigRequest, this,
            [this](const CTask_FormData& form) {
                {
                    QMutexLocker lock(&queue_lock);
                    request_queue.append(form);
                }
                emit new_message_arrive();
            },
            Qt::DirectConnection);
        Reload_Future_Workfunc(false);
        break;
    case 4:
        connect(r, &CLSC::TcpReactor::sigResponse, this, &HttpManager::SlotRecvResponse, Qt::DirectConnection);
        connect(r, &CLSC::TcpReactor::sigRequest, this, &HttpManager::SlotRecvRequest_Pre_ThreadMold2,
                Qt::DirectConnection);
        break;
    default:
        break;
    }
    reactorMade(r);
}

void HttpManager::callback_immediately(const CTask_FormData& request, int status, QString msg)
{
    if (!reactor)
        return;
    CTask_FormData answer;
    answer.uuid = request.uuid;
    answer.session_index = request.session_index;
    answer.json = QJsonObject();
    answer.status = status;
    if (!msg.isEmpty())
        answer.msg = msg;
    reactor->post_async(answer);
}

void HttpManager::logTaskTiming(const char* tag, const CTask_FormData& form) const
{
    if (!form.task_info.hasValue())
        return;
    const QVariantMap r = form.task_info.getValue().getReportParam();
    qCInfo(level_1).noquote() << tag << form.url << "usetime_ms:"
                              << (r.value(QStringLiteral("_tsk_finishrecv_timing")).toLongLong() -
                                  r.value(QStringLiteral("_tsk_create_timing")).toLongLong())
                              << "packs:" << r.value(QStringLiteral("_tsk_recv_times")).toLongLong();
}

void HttpManager::SlotRecvRequest(CTask_FormData form)
{
    logTaskTiming("[Short_RCV][SlotRecvRequest] **********************", form);
    routeOr404(form);
}

void HttpManager::routeOr404(const CTask_FormData& form)
{
    auto it = routes.constFind(form.url);
    if (it == routes.cend()) {
        qCInfo(level_1).noquote() << "404 Not Found" << form.url;
        callback_immediately(form, 404, QString());
        return;
    }
    (*it)(form);
}

void HttpManager::SlotRecvRequest_Pre_ThreadMold2(CTask_FormData form)
{
    logTaskTiming("[Short_RCV][SlotRecvRequest] **********************", form);
    if (!routes.contains(form.url)) {
        qCInfo(level_1).noquote() << "404 Not Found" << form.url;
        callback_immediately(form, 404, QString());
        return;
    }
    bool busy;
    {
        QMutexLocker lock(&queue_lock);
        busy = busy_urls.contains(form.url);
        if (!busy)
            busy_urls.append(form.url);  // taken here, so a second request cannot slip in before the hop
    }
    if (busy) {
        qCInfo(level_1).noquote() << "503  Service Unavailable" << form.url;
        callback_immediately(form, 503, QString());
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, form] {
            // The URL was marked busy above; run the handler, then free it.
            auto route = routes.constFind(form.url);
            if (route != routes.cend())
                (*route)(form);
            QMutexLocker lock(&queue_lock);
            busy_urls.removeOne(form.url);
        },
        Qt::QueuedConnection);
}

void HttpManager::SlotRecvRequest_ThreadMold2(CTask_FormData form)
{
    auto it = routes.constFind(form.url);
    if (it == routes.cend())
        return;
    {
        QMutexLocker lock(&queue_lock);
        busy_urls.append(form.url);
    }
    (*it)(form);
    {
        QMutexLocker lock(&queue_lock);
        busy_urls.removeOne(form.url);
    }
}

void HttpManager::SlotRecvResponse(CTask_FormData form, bool matched)
{
    if (!matched || !form.task_info.hasValue())
        return;
    const QString url = form.task_info.getValue().url;
    auto it = routes.constFind(url);
    if (it != routes.cend())
        (*it)(form);
}

void HttpManager::Reload_Future_Workfunc(bool stopOnly)
{
    emit readyToClose();
    for (QFuture<void>& f : workers)
        f.waitForFinished();
    workers.clear();
    if (stopOnly)
        return;
    if (!worker_pool) {
        // Only the pooled mode needs workers; a push never does.
        worker_pool = std::make_shared<QThreadPool>();
        worker_pool->setMaxThreadCount(3);
    }
    for (int i = 0; i < 3; ++i)
        workers << QtConcurrent::run(worker_pool.get(), [this] { pooledWorker(); });
    m_workersReady.acquire(3);  // each worker listens before a stop can be sent
}

void HttpManager::pooledWorker()
{
    QEventLoop loop;
    connect(this, &HttpManager::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    connect(
        this, &HttpManager::new_message_arrive, &loop,
        [this] {
            CTask_FormData form;
            {
                QMutexLocker lock(&queue_lock);
                if (request_queue.isEmpty())
                    return;
                form = request_queue.takeFirst();
            }
            logTaskTiming("[Short_RCV] *********************************", form);
            routeOr404(form);
        },
        Qt::QueuedConnection);
    m_workersReady.release();
    loop.exec();
}
