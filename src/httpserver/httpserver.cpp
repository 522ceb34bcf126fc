#include "httpserver/httpserver.h"

#include "platform/system/monotonicclock.h"

#include <QDebug>
#include <QLoggingCategory>

#include <microhttpd.h>

#include <algorithm>
#include <array>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <pthread.h>
#include <csignal>
#include <sys/eventfd.h>
#include <sys/select.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace httpserver {

// The program's always-on category: warnings of the server reach the log files.
Q_LOGGING_CATEGORY(lcServer, "level_1")

// ---- Reply ----------------------------------------------------------------------

Reply::Reply(Reply&& o) noexcept
    : status(o.status),
      headers(std::move(o.headers)),
      body(std::move(o.body)),
      fd(o.fd),
      fileSize(o.fileSize),
      pieces(std::move(o.pieces)),
      keep(std::move(o.keep))
{
    o.fd = -1;
}

Reply& Reply::operator=(Reply&& o) noexcept
{
    if (this != &o) {
        if (fd >= 0)
            ::close(fd);
        status = o.status;
        headers = std::move(o.headers);
        body = std::move(o.body);
        fd = o.fd;
        fileSize = o.fileSize;
        pieces = std::move(o.pieces);
        keep = std::move(o.keep);
        o.fd = -1;
    }
    return *this;
}

QByteArray Reply::joinedBody() const
{
    if (pieces.empty())
        return body;
    QByteArray all;
    size_t total = 0;
    for (const Piece& p : pieces)
        total += p.size;
    all.reserve(int(total));
    for (const Piece& p : pieces)
        all.append(p.data, int(p.size));
    return all;
}

Reply::~Reply()
{
    if (fd >= 0)
        ::close(fd);
}

Reply plainReply(int status, const QByteArray& contentType, const QByteArray& body)
{
    Reply r;
    r.status = status;
    if (!contentType.isEmpty())
        r.headers.append({QByteArrayLiteral("Content-Type"), contentType});
    r.body = body;
    return r;
}

QByteArray Exchange::path() const
{
    const int q = target.indexOf('?');
    return q < 0 ? target : target.left(q);
}

QByteArray Exchange::query() const
{
    const int q = target.indexOf('?');
    return q < 0 ? QByteArray() : target.mid(q + 1);
}

// ---- the server ---------------------------------------------------------------------

namespace {

struct ConnContext;

// An IPv4 address as inet_ntop writes it ("a.b.c.d"), without its printf
// machinery (it runs for every request). `text` holds at least 16 bytes.
void dottedQuad(const in_addr& addr, char* text)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&addr.s_addr);
    char* out = text;
    for (int i = 0; i < 4; ++i) {
        unsigned v = b[i];
        if (v >= 100)
            *out++ = char('0' + v / 100);
        if (v >= 10)
            *out++ = char('0' + v / 10 % 10);
        *out++ = char('0' + v % 10);
        *out++ = i < 3 ? '.' : '\0';
    }
}

// The method, version, header names and values nearly every request uses,
// as constant byte arrays: a copy of one allocates nothing. Anything else is
// copied.
QByteArray commonToken(const char* text, size_t size)
{
    static const QByteArray table[] = {
        QByteArrayLiteral("GET"),          QByteArrayLiteral("POST"),         QByteArrayLiteral("HTTP/1.1"),
        QByteArrayLiteral("HTTP/1.0"),     QByteArrayLiteral("Host"),         QByteArrayLiteral("User-Agent"),
        QByteArrayLiteral("Connection"),   QByteArrayLiteral("close"),        QByteArrayLiteral("keep-alive"),
        QByteArrayLiteral("Accept"),       QByteArrayLiteral("*/*"),          QByteArrayLiteral("Content-Type"),
        QByteArrayLiteral("Content-Length"), QByteArrayLiteral("application/json"), QByteArrayLiteral("User-ID"),
        QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("Transfer-Encoding"), QByteArrayLiteral("chunked"),
    };
    // The table by length: a lookup compares with one to three entries.
    constexpr size_t kLongest = 24;
    static const std::array<std::vector<const QByteArray*>, kLongest + 1> bySize = [] {
        std::array<std::vector<const QByteArray*>, kLongest + 1> buckets;
        for (const QByteArray& t : table)
            buckets[t.size()].push_back(&t);
        return buckets;
    }();
    if (size <= kLongest) {
        for (const QByteArray* t : bySize[size]) {
            if (std::memcmp(t->constData(), text, size) == 0)
                return *t;
        }
    }
    return QByteArray(text, static_cast<int>(size));
}

struct ExchangeState {
    Exchange ex;
    MHD_Connection* conn = nullptr;
    ConnContext* ctx = nullptr;
    enum class Phase { Head, Body, Suspended, Answered } phase = Phase::Head;
    bool completed = false;    // onComplete was called
    bool closing = false;      // resumed only to be closed (server stop)
    std::optional<Reply> reply;  // handed over, not yet queued
    // The hand-over from other threads, under Impl::mutex.
    bool replied = false;          // a reply was accepted for this exchange
    std::optional<Reply> handed;   // accepted, not yet taken by the server thread
};

struct ConnContext {
    ExchangeState* current = nullptr;
};

}  // namespace

struct HttpServer::Impl {
    RequestHandler* handler = nullptr;
    ServerOptions options;
    MHD_Daemon* daemon = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopRequested{false};

    // Server thread only.
    quint64 nextId = 1;
    std::unordered_map<ExchangeState*, std::unique_ptr<ExchangeState>> exchanges;
    int suspended = 0;
    in_addr lastPeer{};                     // the last IPv4 client and its text
    QString lastPeerText;
    std::vector<quint64> takenIds;          // reused by takeReplies
    std::vector<MHD_Connection*> toResume;  // reused by takeReplies

    // Hand-over from other threads.
    std::mutex mutex;
    // The open exchanges by id: changed by the server thread only, and only
    // under `mutex`; read by other threads under it.
    std::unordered_map<quint64, ExchangeState*> byId;
    std::vector<quint64> ready;
    std::vector<std::function<void()>> tasks;

    void wake()
    {
        const uint64_t one = 1;
        // A full counter already means "wake up".
        (void)!::write(wakeFd, &one, sizeof one);
    }

    void endExchange(ExchangeState* st)
    {
        auto it = exchanges.find(st);
        if (it == exchanges.end())
            return;
        std::unique_ptr<ExchangeState> owned = std::move(it->second);
        exchanges.erase(it);
        {
            std::lock_guard<std::mutex> lock(mutex);
            byId.erase(owned->ex.id);
        }
        if (owned->phase == ExchangeState::Phase::Suspended)
            --suspended;
        if (owned->ctx && owned->ctx->current == st)
            owned->ctx->current = nullptr;
        handler->onEnd(owned->ex, owned->completed);
    }

    MHD_Result queue(ExchangeState* st, Reply& reply)
    {
        MHD_Response* resp = nullptr;
        if (reply.fd >= 0) {
            resp = MHD_create_response_from_fd64(static_cast<uint64_t>(std::max<qint64>(0, reply.fileSize)), reply.fd);
            if (resp)
                reply.fd = -1;  // the library closes it with the response
        } else if (!reply.pieces.empty()) {
            // The library copies the span list and sends the spans with one
            // vectored write per turn; the holder goes with the response.
            std::vector<MHD_IoVec> spans;
            spans.reserve(reply.pieces.size());
            for (const Reply::Piece& p : reply.pieces)
                spans.push_back({p.data, p.size});
            auto* kept = new std::shared_ptr<const void>(std::move(reply.keep));
            resp = MHD_create_response_from_iovec(
                spans.data(), static_cast<unsigned>(spans.size()),
                [](void* cls) { delete static_cast<std::shared_ptr<const void>*>(cls); }, kept);
            if (!resp) {
                reply.keep = std::move(*kept);
                delete kept;
            }
        } else if (reply.body.isEmpty()) {
            resp = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        } else {
            // The response keeps the body's bytes (shared, not copied) until
            // the library lets the response go.
            auto* kept = new QByteArray(std::move(reply.body));
            resp = MHD_create_response_from_buffer_with_free_callback_cls(
                static_cast<size_t>(kept->size()), const_cast<char*>(kept->constData()),
                [](void* cls) { delete static_cast<QByteArray*>(cls); }, kept);
            if (!resp) {
                reply.body = std::move(*kept);
                delete kept;
            }
        }
        if (!resp) {
            qCWarning(lcServer) << "[HTTP] cannot build a reply for request" << st->ex.id << "- closing the connection";
            return MHD_NO;
        }
        MHD_add_response_header(resp, "Connection", "close");
        for (const auto& h : reply.headers) {
            // The library refuses an empty value.
            const QByteArray value = h.second.isEmpty() ? QByteArrayLiteral(" ") : h.second;
            if (MHD_add_response_header(resp, h.first.constData(), value.constData()) != MHD_YES)
                qCWarning(lcServer) << "[HTTP] header left out of the reply:" << h.first;
        }
        const MHD_Result ok = MHD_queue_response(st->conn, static_cast<unsigned>(reply.status), resp);
        MHD_destroy_response(resp);
        st->phase = ExchangeState::Phase::Answered;
        return ok;
    }

    void readHead(ExchangeState* st, const char* method, const char* version)
    {
        Exchange& ex = st->ex;
        ex.method = commonToken(method, std::strlen(method));
        ex.version = commonToken(version, std::strlen(version));
        ex.headers.reserve(8);  // a usual head fits
        MHD_get_connection_values_n(
            st->conn, MHD_HEADER_KIND,
            [](void* cls, MHD_ValueKind, const char* key, size_t keyLen, const char* value, size_t valueLen) {
                auto* list = static_cast<HeaderList*>(cls);
                list->append({commonToken(key, keyLen), value ? commonToken(value, valueLen) : QByteArray()});
                return MHD_YES;
            },
            &ex.headers);
        // A name shorter than the one sought cannot match (most are).
        for (const auto& h : ex.headers) {
            if (h.first.size() >= 14 && qstricmp(h.first.constData(), "Content-Length") == 0) {
                bool ok = false;
                const qint64 n = h.second.trimmed().toLongLong(&ok);
                ex.declaredLength = ok && n >= 0 ? n : -1;
            } else if (h.first.size() >= 17 && qstricmp(h.first.constData(), "Transfer-Encoding") == 0
                       && h.second.toLower().contains("chunked")) {
                ex.chunked = true;
            }
        }
        if (ex.chunked)
            ex.declaredLength = -1;
    }

    static MHD_Result access(void* cls, MHD_Connection* conn, const char*, const char* method, const char* version,
                             const char* uploadData, size_t* uploadSize, void** conCls)
    {
        auto* self = static_cast<Impl*>(cls);
        auto* st = static_cast<ExchangeState*>(*conCls);
        if (!st || !self->exchanges.count(st))
            return MHD_NO;
        switch (st->phase) {
        case ExchangeState::Phase::Head: {
            self->readHead(st, method, version);
            st->phase = ExchangeState::Phase::Body;
            std::optional<Reply> refusal = self->handler->onHead(st->ex);
            if (refusal)
                return self->queue(st, *refusal);
            return MHD_YES;
        }
        case ExchangeState::Phase::Body: {
            if (*uploadSize != 0) {
                self->handler->onBody(st->ex, uploadData, *uploadSize);
                st->ex.bodyBytes += static_cast<qint64>(*uploadSize);
                *uploadSize = 0;
                return MHD_YES;
            }
            st->completed = true;
            std::optional<Reply> reply = self->handler->onComplete(st->ex);
            if (reply)
                return self->queue(st, *reply);
            st->phase = ExchangeState::Phase::Suspended;
            ++self->suspended;
            MHD_suspend_connection(conn);
            return MHD_YES;
        }
        case ExchangeState::Phase::Suspended: {
            // Resumed: by a handed-over reply or to be closed.
            if (st->closing || !st->reply) {
                if (!st->closing) {
                    MHD_suspend_connection(conn);
                    return MHD_YES;
                }
                return MHD_NO;
            }
            --self->suspended;
            Reply reply = std::move(*st->reply);
            st->reply.reset();
            return self->queue(st, reply);
        }
        case ExchangeState::Phase::Answered:
            // Body bytes after an early refusal are discarded.
            *uploadSize = 0;
            return MHD_YES;
        }
        return MHD_NO;
    }

    static void* uriLog(void* cls, const char* uri, MHD_Connection* conn)
    {
        auto* self = static_cast<Impl*>(cls);
        auto st = std::make_unique<ExchangeState>();
        st->ex.id = self->nextId++;
        st->ex.target = QByteArray(uri ? uri : "");
        st->conn = conn;
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
            const sockaddr* sa = info->client_addr;
            char text[INET6_ADDRSTRLEN] = {0};
            if (sa && sa->sa_family == AF_INET) {
                // A client comes back again and again: its text is made once.
                const in_addr addr = reinterpret_cast<const sockaddr_in*>(sa)->sin_addr;
                if (self->lastPeerText.isNull() || addr.s_addr != self->lastPeer.s_addr) {
                    dottedQuad(addr, text);
                    self->lastPeer = addr;
                    self->lastPeerText = QString::fromLatin1(text);
                }
                st->ex.peerIp = self->lastPeerText;
            } else {
                if (sa && sa->sa_family == AF_INET6)
                    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
                st->ex.peerIp = QString::fromLatin1(text);
            }
        }
        if (const MHD_ConnectionInfo* info = MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT)) {
            auto* ctx = static_cast<ConnContext*>(info->socket_context);
            if (ctx) {
                if (ctx->current)
                    self->endExchange(ctx->current);
                ctx->current = st.get();
                st->ctx = ctx;
            }
        }
        ExchangeState* raw = st.get();
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->byId.emplace(raw->ex.id, raw);
        }
        self->exchanges.emplace(raw, std::move(st));
        return raw;
    }

    static void completed(void* cls, MHD_Connection*, void** conCls, MHD_RequestTerminationCode)
    {
        auto* self = static_cast<Impl*>(cls);
        if (*conCls)
            self->endExchange(static_cast<ExchangeState*>(*conCls));
        *conCls = nullptr;
    }

    static void connectionNotify(void* cls, MHD_Connection*, void** socketContext, MHD_ConnectionNotificationCode code)
    {
        auto* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            *socketContext = new ConnContext;
            return;
        }
        auto* ctx = static_cast<ConnContext*>(*socketContext);
        if (ctx && ctx->current)
            self->endExchange(ctx->current);
        delete ctx;
        *socketContext = nullptr;
    }

    static void libraryLog(void*, const char* fmt, va_list ap)
    {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        qDebug() << "[HTTP] library:" << QByteArray(text).trimmed();
    }

    // Moves handed-over replies to their exchanges and resumes them. True
    // when a connection was resumed.
    bool takeReplies()
    {
        std::vector<std::function<void()>> posted;
        {
            std::lock_guard<std::mutex> lock(mutex);
            takenIds.swap(ready);
            posted.swap(tasks);
        }
        for (auto& task : posted)
            task();
        if (takenIds.empty())
            return false;
        // Every reply handed over since the last turn moves to its exchange
        // under one lock; the connections are resumed together and served
        // by one library pass.
        toResume.clear();
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (quint64 id : takenIds) {
                auto it = byId.find(id);
                if (it == byId.end() || !it->second->handed)
                    continue;
                ExchangeState* st = it->second;
                st->reply = std::move(st->handed);
                st->handed.reset();
                if (st->phase == ExchangeState::Phase::Suspended)
                    toResume.push_back(st->conn);
            }
        }
        takenIds.clear();  // keeps its capacity for the next turn
        for (MHD_Connection* conn : toResume)
            MHD_resume_connection(conn);
        return !toResume.empty();
    }

    void closeSuspended()
    {
        for (auto& e : exchanges) {
            if (e.second->phase == ExchangeState::Phase::Suspended) {
                e.second->closing = true;
                MHD_resume_connection(e.second->conn);
            }
        }
        for (int i = 0; i < 100 && suspended > 0; ++i)
            MHD_run(daemon);
    }
};

HttpServer::HttpServer(RequestHandler* handler, ServerOptions options) : m_impl(std::make_shared<Impl>())
{
    m_impl->handler = handler;
    m_impl->options = options;
    m_impl->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

HttpServer::~HttpServer()
{
    if (m_impl->daemon) {
        m_impl->closeSuspended();
        MHD_stop_daemon(m_impl->daemon);
        m_impl->daemon = nullptr;
    }
    if (m_impl->wakeFd >= 0)
        ::close(m_impl->wakeFd);
}

bool HttpServer::listen(const QHostAddress& host, quint16 port)
{
    if (m_impl->daemon) {
        m_error = QStringLiteral("already listening");
        return false;
    }
    if (m_impl->wakeFd < 0) {
        m_error = QStringLiteral("no wake-up descriptor");
        return false;
    }
    sockaddr_storage addr{};
    unsigned flags = MHD_ALLOW_SUSPEND_RESUME | MHD_USE_SUPPRESS_DATE_NO_CLOCK | MHD_USE_ERROR_LOG;
    const bool v6 = host.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        const Q_IPV6ADDR raw = host.toIPv6Address();
        std::memcpy(&a->sin6_addr, &raw, sizeof raw);
        flags |= MHD_USE_IPv6;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(port);
        // The any-address (and a null address) listens on every IPv4 address.
        bool ok = false;
        const quint32 v4 = host.toIPv4Address(&ok);
        a->sin_addr.s_addr = htonl(ok ? v4 : INADDR_ANY);
    }
    const unsigned limit = std::min<unsigned>(m_impl->options.connectionLimit, FD_SETSIZE - 64);
    m_impl->daemon = MHD_start_daemon(
        flags, port, nullptr, nullptr, &Impl::access, m_impl.get(),
        // The library wants its logger first, so that what it says about the
        // other options reaches it.
        MHD_OPTION_EXTERNAL_LOGGER, &Impl::libraryLog, nullptr,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&addr),
        MHD_OPTION_URI_LOG_CALLBACK, &Impl::uriLog, m_impl.get(),
        MHD_OPTION_NOTIFY_COMPLETED, &Impl::completed, m_impl.get(),
        MHD_OPTION_NOTIFY_CONNECTION, &Impl::connectionNotify, m_impl.get(),
        MHD_OPTION_CONNECTION_LIMIT, limit,
        MHD_OPTION_CONNECTION_TIMEOUT, m_impl->options.clientTimeoutSecs,
        // serve() blocks SIGPIPE on its thread, the only one that writes to
        // the sockets: the library may then send a file reply with
        // sendfile() (without it, 4 KiB reads and sends, one per loop turn).
        MHD_OPTION_SIGPIPE_HANDLED_BY_APP, 1,
        MHD_OPTION_END);
    if (!m_impl->daemon) {
        // The caller names the address and port it asked for.
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (const MHD_DaemonInfo* info = MHD_get_daemon_info(m_impl->daemon, MHD_DAEMON_INFO_BIND_PORT))
        m_boundPort.store(info->port);
    return true;
}

namespace {

// Blocks SIGPIPE on the calling thread while it lives: a write to a socket
// the peer closed then fails with EPIPE instead of ending the program. On
// the way out a SIGPIPE left pending on the thread is taken and the former
// mask restored.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        m_active = ::pthread_sigmask(SIG_BLOCK, &m_pipe, &m_former) == 0;
    }
    ~SigpipeBlock()
    {
        if (!m_active || sigismember(&m_former, SIGPIPE) == 1)
            return;
        const timespec none{0, 0};
        while (::sigtimedwait(&m_pipe, nullptr, &none) == SIGPIPE) {
        }
        ::pthread_sigmask(SIG_SETMASK, &m_former, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_former;
    bool m_active = false;
};

}  // namespace

void HttpServer::serve()
{
    Impl& d = *m_impl;
    if (!d.daemon)
        return;
    const SigpipeBlock sigpipeBlocked;
    bool first = true;  // the first turn does not wait: liveness shows at once
    while (!d.stopRequested.load()) {
        fd_set rs, ws, es;
        FD_ZERO(&rs);
        FD_ZERO(&ws);
        FD_ZERO(&es);
        MHD_socket maxFd = -1;
        if (MHD_get_fdset2(d.daemon, &rs, &ws, &es, &maxFd, FD_SETSIZE) != MHD_YES) {
            qCWarning(lcServer) << "[HTTP] cannot collect the sockets to watch";
            maxFd = -1;
            FD_ZERO(&rs);
            FD_ZERO(&ws);
            FD_ZERO(&es);
        }
        FD_SET(d.wakeFd, &rs);
        maxFd = std::max<MHD_socket>(maxFd, d.wakeFd);
        long waitMs = first ? 0 : d.options.pollLimitMs;
        first = false;
        MHD_UNSIGNED_LONG_LONG libraryMs = 0;
        if (MHD_get_timeout(d.daemon, &libraryMs) == MHD_YES)
            waitMs = std::min<long>(waitMs, static_cast<long>(std::min<MHD_UNSIGNED_LONG_LONG>(libraryMs, 1000000)));
        timeval tv{waitMs / 1000, (waitMs % 1000) * 1000};
        const int n = ::select(maxFd + 1, &rs, &ws, &es, &tv);
        if (n < 0) {
            if (errno != EINTR)
                qCWarning(lcServer) << "[HTTP] select failed:" << std::strerror(errno);
            FD_ZERO(&rs);
            FD_ZERO(&ws);
            FD_ZERO(&es);
        } else if (FD_ISSET(d.wakeFd, &rs)) {
            uint64_t count = 0;
            (void)!::read(d.wakeFd, &count, sizeof count);
        }
        MHD_run_from_select(d.daemon, &rs, &ws, &es);
        if (d.takeReplies())
            MHD_run(d.daemon);  // queue the resumed replies before the next wait
        const qint64 now = std::max<qint64>(1, platform::MonotonicClock::nowMs());
        m_lastTurnMs.store(now);
        if (d.options.turnStamp)
            d.options.turnStamp->store(now);
    }
    d.closeSuspended();
    MHD_stop_daemon(d.daemon);
    d.daemon = nullptr;
    // Whatever the library did not report as ended ends here.
    while (!d.exchanges.empty())
        d.endExchange(d.exchanges.begin()->first);
    d.stopRequested.store(false);
}

void HttpServer::requestStop()
{
    m_impl->stopRequested.store(true);
    m_impl->wake();
}

HttpServer::Delivery HttpServer::deliver(quint64 id, Reply reply)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        auto it = m_impl->byId.find(id);
        if (it == m_impl->byId.end())
            return Delivery::Unknown;
        ExchangeState* st = it->second;
        if (st->replied)
            return Delivery::AlreadyAnswered;
        st->replied = true;
        st->handed = std::move(reply);
        // Only the first hand-over since the loop last took them wakes it;
        // the loop takes every one that came since in the same turn.
        wake = m_impl->ready.empty() && m_impl->tasks.empty();
        m_impl->ready.push_back(id);
    }
    if (wake)
        m_impl->wake();
    return Delivery::Accepted;
}

bool HttpServer::awaitsReply(quint64 id) const
{
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    auto it = m_impl->byId.find(id);
    return it != m_impl->byId.end() && !it->second->replied;
}

void HttpServer::post(std::function<void()> task)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        wake = m_impl->ready.empty() && m_impl->tasks.empty();
        m_impl->tasks.push_back(std::move(task));
    }
    if (wake)
        m_impl->wake();
}

}  // namespace httpserver
