#include "httpapi/httpreactor_mg.h"
#include "foundation/logmanager.h"

#include "foundation/foundationservices.h"
#include "foundation/publictools.h"
#include "httpapi/httprequestparsing.h"
#include "httpapi/uploadcache.h"
#include "platform/system/dataroot.h"
#include "platform/system/monotonicclock.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const QString kQueueFull = QStringLiteral("Service _Queue_RecvDatas is full.");
const QString kSameUrl = QStringLiteral("The previous same url task has not been completed.");

httpserver::Reply tooLarge()
{
    return httpserver::plainReply(413, QByteArray(),
                                  QByteArrayLiteral("Payload Too Large, MG_MAX_RECV_SIZE is ")
                                      + QByteArray::number(HttpReactor_MG::kMaxRecvSize) + '\n');
}

httpserver::Reply noSpace()
{
    return httpserver::plainReply(413, QByteArray(),
                                  QByteArrayLiteral("Payload Too Large, not enough free space for the upload\n"));
}

// The URL the last guard made on this thread holds.
thread_local QString t_guardedUrl;

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

// ---- hand-over ------------------------------------------------------------------------

httpserver::HttpServer::Delivery HttpReplyChannel::deliver(quint64 id, httpserver::Reply reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_server)
        return httpserver::HttpServer::Delivery::Unknown;
    return m_server->deliver(id, std::move(reply));
}

bool HttpReplyChannel::awaitsReply(quint64 id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_server && m_server->awaitsReply(id);
}

void HttpReplyChannel::attach(httpserver::HttpServer* server)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_server = server;
}

HttpAnswerGuard::HttpAnswerGuard(std::shared_ptr<HttpReplyChannel> channel, quint64 id, QString url,
                                 QString userAgent, QString deviceId)
    : m_channel(std::move(channel)), m_id(id), m_url(std::move(url)), m_userAgent(std::move(userAgent)),
      m_deviceId(std::move(deviceId))
{
}

HttpAnswerGuard::~HttpAnswerGuard()
{
    // Nearly every request was answered: build the fallback reply only when
    // it can still be delivered.
    if (!m_channel->awaitsReply(m_id))
        return;
    CTask_FormData_Mongoose reply;
    reply.connection = m_id;
    reply.data.url = m_url;
    reply.data.user_agent = m_userAgent;
    reply.data.device_id = m_deviceId;
    reply.data.code = -1;
    reply.data.msg = QStringLiteral("request not answered: %1").arg(m_url);
    if (m_channel->deliver(m_id, HttpReactor_MG::buildReply(reply)) == httpserver::HttpServer::Delivery::Accepted)
        qCWarning(level_1) << "[HTTP] no handler answered" << m_url << "- answered code -1";
}

// ---- the reactor -------------------------------------------------------------------------

struct HttpReactor_MG::ExchangeState : httpserver::ExchangeData {
    QString url;
    bool upload = false;
    QByteArray body;
    bool overLimit = false;   // a chunked body passed the limit: discarded, refused at its end
    QString cacheFile;        // upload: its cache file
    int fd = -1;
    bool writeFailed = false;
    qint64 allowed = -1;      // upload: bytes the free space allows (-1: unknown)
    bool overSpace = false;
    bool holdsUrl = false;    // upload: the route is marked busy by this exchange
    bool queued = false;

    ~ExchangeState() override
    {
        if (fd >= 0)
            ::close(fd);
    }
    void dropFile()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!cacheFile.isEmpty())
            uploadcache::removeCacheFile(cacheFile);
    }
};

HttpReactor_MG::HttpReactor_MG(QObject* parent)
    : QThread(parent), worker_pool(QSharedPointer<QThreadPool>::create()), m_channel(std::make_shared<HttpReplyChannel>())
{
    qRegisterMetaType<CTask_FormData_Mongoose>("CTask_FormData_Mongoose");
    worker_pool->setMaxThreadCount(3);
    worker_pool->setExpiryTimeout(-1);
}

HttpReactor_MG::~HttpReactor_MG()
{
    stopAll();
}

void HttpReactor_MG::set_limit_max_recvdatas(int limit)
{
    QMutexLocker lock(&mutex);
    limit_max_recvdatas = limit;
}

int HttpReactor_MG::get_limit_max_recvdatas() const
{
    QMutexLocker lock(&const_cast<HttpReactor_MG*>(this)->mutex);
    return limit_max_recvdatas;
}

void HttpReactor_MG::set_limit_onlyurl(bool on)
{
    QMutexLocker lock(&mutex);
    limit_onlyurl = on;
}

bool HttpReactor_MG::get_limit_onlyurl() const
{
    QMutexLocker lock(&const_cast<HttpReactor_MG*>(this)->mutex);
    return limit_onlyurl;
}

void HttpReactor_MG::set_cachefile_path(const QString& path)
{
    const QString mapped = platform::DataRoot::path(path);
    if (QFileInfo(mapped).isDir())
        emptyDeviceFolder(path, QStringLiteral("[HTTP_UPLOAD]"));
    else if (!QDir().mkpath(mapped))
        qCWarning(level_1) << "[HTTP_UPLOAD] cannot create the upload folder" << mapped;
    cachefile_path = path;
}

QString HttpReactor_MG::get_cachefile_path() const
{
    const QFileInfo info(platform::DataRoot::path(cachefile_path));
    if (!cachefile_path.isEmpty() && info.isDir())
        return QDir::cleanPath(info.absoluteFilePath());
    return QDir::cleanPath(platform::DataRoot::path(QStringLiteral("/tmp")));
}

bool HttpReactor_MG::reAction(const QHostAddress& newHost, quint16 newPort)
{
    stopServer();
    stopWorkers();
    QVector<QueuedRequest> dropped;
    {
        QMutexLocker lock(&mutex);
        {
            std::lock_guard<std::mutex> queueLock(m_queueMutex);
            dropped.swap(_Queue_RecvDatas);
        }
        working_urls.clear();
        m_uploadUrls.clear();
        m_cacheInUse.clear();
    }
    dropped.clear();
    host = newHost;
    port = newPort;
    m_alive.store(0);
    m_boundPort.store(0);
    running.store(true);
    start();
    workers_running.store(true);
    for (int i = 0; i < worker_pool->maxThreadCount(); ++i)
        worker_futures << QtConcurrent::run(worker_pool.data(), [this] { onWorkAction(); });
    return true;
}

bool HttpReactor_MG::isRunning_mg() const
{
    const qint64 stamp = m_alive.load();
    return isRunning() && stamp != 0 && platform::MonotonicClock::ageMs(stamp) < 2000;
}

void HttpReactor_MG::stopServer()
{
    running.store(false);
    if (httpserver::HttpServer* server = m_server.load())
        server->requestStop();
    if (isRunning())
        wait();
}

void HttpReactor_MG::stopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        workers_running.store(false);
    }
    m_queueCond.notify_all();
    for (QFuture<void>& f : worker_futures)
        f.waitForFinished();
    worker_futures.clear();
}

void HttpReactor_MG::stopAll()
{
    stopServer();
    stopWorkers();
}

void HttpReactor_MG::lowerThisThreadsPriority()
{
    // Raising one's own nice value needs no privilege; a thread keeps it.
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), kServiceNice) != 0)
        qCWarning(level_1) << "[HTTP] cannot lower the priority of a service thread:" << std::strerror(errno);
}

void HttpReactor_MG::run()
{
    lowerThisThreadsPriority();
    httpserver::ServerOptions options = m_serverOptions;
    options.turnStamp = &m_alive;
    httpserver::HttpServer server(this, options);
    const QString hostText = (host.isNull() || host == QHostAddress(QHostAddress::Any))
                                 ? QStringLiteral("0.0.0.0")
                                 : host.toString();
    const QString url = QStringLiteral("http://%1:%2").arg(hostText).arg(port);
    if (!server.listen(host, port)) {
        const QString text = QStringLiteral("[HTTP] cannot listen on %1 (%2): the program runs on without its HTTP "
                                            "control API")
                                 .arg(url, server.error());
        qCWarning(level_1).noquote() << text;
        consoleLine(text);
        return;
    }
    m_boundPort.store(server.boundPort());
    const QString listening =
        QStringLiteral("[HTTP] listening on http://%1:%2").arg(hostText).arg(server.boundPort());
    qCInfo(level_1).noquote() << listening;
    consoleLine(listening);
    m_channel->attach(&server);
    m_server.store(&server);
    if (!running.load())
        server.requestStop();
    server.serve();
    m_server.store(nullptr);
    m_channel->attach(nullptr);
    m_alive.store(0);
}

void HttpReactor_MG::runOnServerThread(std::function<void()> task)
{
    if (httpserver::HttpServer* server = m_server.load())
        server->post(std::move(task));
}

// ---- screening (server thread) ---------------------------------------------------------------

std::optional<httpserver::Reply> HttpReactor_MG::onHead(httpserver::Exchange& ex)
{
    auto owned = std::make_unique<ExchangeState>();
    ExchangeState* st = owned.get();
    st->url = QString::fromUtf8(ex.path());
    ex.data = std::move(owned);
    if (!cache_routes.contains(st->url)) {
        if (ex.declaredLength >= kMaxRecvSize) {
            qCWarning(level_1) << "[MG_RECV] body of" << ex.declaredLength << "bytes refused for" << st->url;
            return tooLarge();
        }
        return std::nullopt;
    }

    st->upload = true;
    {
        QMutexLocker lock(&mutex);
        if (working_urls.contains(st->url) || m_uploadUrls.contains(st->url)) {
            qCWarning(level_1) << "[HTTP_UPLOAD] refused: an upload to" << st->url << "is still in progress";
            return callback_immediately_503(kSameUrl);
        }
        m_uploadUrls.insert(st->url);
        st->holdsUrl = true;
    }
    const QString folder = get_cachefile_path();
    const qint64 free = uploadcache::freeBytes(folder);
    st->allowed = free < 0 ? -1 : std::max<qint64>(0, free - m_uploadReserve.load());
    if (ex.declaredLength >= 0 && st->allowed >= 0 && ex.declaredLength > st->allowed) {
        qCWarning(level_1) << "[HTTP_UPLOAD] refused: upload of" << ex.declaredLength << "bytes to" << st->url << "leaves less than"
                   << m_uploadReserve.load() << "bytes free in" << folder;
        return noSpace();
    }
    if (ex.declaredLength == 0)
        return std::nullopt;  // nothing to store: queued without a cache file
    QSet<QString> inUse;
    {
        QMutexLocker lock(&mutex);
        inUse = m_cacheInUse;
    }
    uploadcache::rotate(folder, inUse);
    st->cacheFile = uploadcache::newCacheFilePath(folder);
    st->fd = uploadcache::createExclusive(folder, st->cacheFile);
    if (st->fd < 0)
        st->writeFailed = true;
    QMutexLocker lock(&mutex);
    m_cacheInUse.insert(st->cacheFile);
    return std::nullopt;
}

void HttpReactor_MG::onBody(httpserver::Exchange& ex, const char* data, size_t size)
{
    auto* st = static_cast<ExchangeState*>(ex.data.get());
    if (!st)
        return;
    const qint64 total = ex.bodyBytes + static_cast<qint64>(size);
    if (!st->upload) {
        if (st->overLimit)
            return;
        if (total >= kMaxRecvSize) {
            st->overLimit = true;
            st->body = QByteArray();
            return;
        }
        st->body.append(data, static_cast<int>(size));
        return;
    }
    if (st->overSpace)
        return;
    if (st->allowed >= 0 && total > st->allowed) {
        st->overSpace = true;
        st->dropFile();
        return;
    }
    if (st->fd < 0)
        return;
    if (!writeAll(st->fd, data, size)) {
        qCWarning(level_1) << "[HTTP_UPLOAD] cannot write the cache file" << st->cacheFile << std::strerror(errno)
                   << "- the partial file is deleted";
        st->writeFailed = true;
        st->dropFile();
    }
}

std::optional<httpserver::Reply> HttpReactor_MG::onComplete(httpserver::Exchange& ex)
{
    auto* st = static_cast<ExchangeState*>(ex.data.get());
    if (!st)
        return callback_immediately_xxx(500, QStringLiteral("Internal Server Error"));
    // Written for every request: formatted only when the log takes it.
    if (LogManager::writes("default"))
        qInfo() << "[MG_RECV]:" << "*********************************" << st->url << "body length:" << ex.bodyBytes;
    if (!st->upload) {
        if (st->overLimit) {
            qCWarning(level_1) << "[MG_RECV] chunked body past" << kMaxRecvSize << "bytes refused for" << st->url;
            return tooLarge();
        }
        Handler handler;
        {
            QMutexLocker lock(&mutex);
            if (std::optional<httpserver::Reply> refusal = preprocessRecvDatas(st->url, &handler))
                return refusal;
        }
        parseAnd2Queue(ex, st->body, st->url, std::move(handler));
        st->body = QByteArray();
        return std::nullopt;
    }
    if (st->overSpace) {
        qCWarning(level_1) << "[HTTP_UPLOAD] refused: chunked upload to" << st->url << "passed the free space";
        return noSpace();
    }
    if (st->fd >= 0) {
        ::close(st->fd);
        st->fd = -1;
    }
    QString path = st->cacheFile;
    if (ex.bodyBytes == 0) {
        st->dropFile();
        path.clear();
    }
    parseAnd2Queue_CacheFile(ex, path);
    st->queued = true;
    return std::nullopt;
}

void HttpReactor_MG::onEnd(httpserver::Exchange& ex, bool completed)
{
    auto* st = static_cast<ExchangeState*>(ex.data.get());
    if (!st || !st->upload || st->queued)
        return;
    if (!completed && (st->fd >= 0 || QFileInfo::exists(st->cacheFile)))
        qCWarning(level_1) << "[HTTP_UPLOAD] upload to" << st->url << "ended after" << ex.bodyBytes
                   << "bytes, before its body was complete; the partial file is deleted";
    st->dropFile();
    QMutexLocker lock(&mutex);
    m_cacheInUse.remove(st->cacheFile);
    if (st->holdsUrl)
        m_uploadUrls.remove(st->url);
}

std::optional<httpserver::Reply> HttpReactor_MG::preprocessRecvDatas(const QString& url, Handler* handler)
{
    int queued = 0;
    {
        std::lock_guard<std::mutex> queueLock(m_queueMutex);
        queued = _Queue_RecvDatas.size();
    }
    if (queued > limit_max_recvdatas) {
        qCWarning(level_1) << "[MG_RECV] queue full, refused" << url;
        return callback_immediately_503(kQueueFull);
    }
    if (limit_onlyurl && working_urls.contains(url)) {
        qCWarning(level_1) << "[MG_RECV] same url still running, refused" << url;
        return callback_immediately_503(kSameUrl);
    }
    const auto route = routes.constFind(url);
    if (route == routes.cend()) {
        qInfo() << "[MG_RECV] no route" << url;
        return callback_immediately_404();
    }
    if (handler)
        *handler = route.value();
    return std::nullopt;
}

void HttpReactor_MG::parseAnd2Queue(const httpserver::Exchange& ex, const QByteArray& body, const QString& url,
                                    Handler handler)
{
    enqueue(requestRecordFrom(ex, body, url), std::move(handler));
}

void HttpReactor_MG::parseAnd2Queue_CacheFile(const httpserver::Exchange& ex, const QString& filePath)
{
    CTask_FormData_Mongoose rec = requestRecordFrom(ex, QByteArray());
    rec.data.body.clear();
    rec.data.json = QJsonObject();
    rec.data.json_invalid = false;
    rec.data.file_path = filePath;
    enqueue(rec);
}

void HttpReactor_MG::enqueue(CTask_FormData_Mongoose rec, Handler handler)
{
    rec.answer_guard = QSharedPointer<HttpAnswerGuard>::create(m_channel, rec.connection, rec.data.url,
                                                               rec.data.user_agent, m_deviceId);
    auto shared = QSharedPointer<CTask_FormData_Mongoose>::create(std::move(rec));
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        _Queue_RecvDatas.append(QueuedRequest{std::move(shared), std::move(handler)});
    }
    m_queueCond.notify_one();
}

// ---- workers ----------------------------------------------------------------------------------

void HttpReactor_MG::onWorkAction()
{
    lowerThisThreadsPriority();
    for (;;) {
        QSharedPointer<CTask_FormData_Mongoose> rec;
        Handler handler;
        {
            std::unique_lock<std::mutex> lock(m_queueMutex);
            m_queueCond.wait(lock, [this] { return !workers_running.load() || !_Queue_RecvDatas.isEmpty(); });
            if (!workers_running.load())
                return;
            QueuedRequest next = _Queue_RecvDatas.takeFirst();
            rec = std::move(next.record);
            handler = std::move(next.handler);
        }
        const QString url = rec->data.url;
        bool upload = false;
        if (!handler)
            handler = routes.value(url);  // an upload, or queued without its handler
        if (!handler) {
            handler = cache_routes.value(url);
            upload = static_cast<bool>(handler);
        }
        if (upload) {
            // The route stays busy without a gap: it passes from the upload's
            // mark to the running list, which the handler's guard releases.
            QMutexLocker lock(&mutex);
            m_uploadUrls.remove(url);
            if (!working_urls.contains(url))
                working_urls.append(url);
        }
        t_guardedUrl.clear();
        if (handler) {
            OperationRecord_Interface::ActingUserScope actingUser(rec->data.user_id);
            emit sigRecvMessage(*rec);
            handler(*rec);
        }
        if (upload) {
            QMutexLocker lock(&mutex);
            if (t_guardedUrl != url)
                working_urls.removeAll(url);  // the handler held no guard of its own
            m_cacheInUse.remove(rec->data.file_path);
        }
        rec.reset();
    }
}

CLimit_List_WorkingUrl::CLimit_List_WorkingUrl(HttpReactor_MG* reactor, const QString& url)
    : m_reactor(reactor), m_url(url)
{
    if (!m_reactor)
        return;
    QMutexLocker lock(&m_reactor->mutex);
    if (!m_reactor->working_urls.contains(m_url))
        m_reactor->working_urls.append(m_url);
    m_held = true;
    t_guardedUrl = m_url;
}

CLimit_List_WorkingUrl::~CLimit_List_WorkingUrl()
{
    release();
}

void CLimit_List_WorkingUrl::release()
{
    if (!m_held)
        return;
    m_held = false;
    QMutexLocker lock(&m_reactor->mutex);
    m_reactor->working_urls.removeAll(m_url);
}
