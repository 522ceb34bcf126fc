#pragma once
// The HTTP server of both programs on libmicrohttpd: the only code that
// includes the library.
//
// Threads: serve() runs the whole server on the thread that calls it (the
// only thread that ever calls the library): a select loop over the library's
// sockets and an eventfd, woken at least once a second. Every callback of the
// RequestHandler runs on that thread. A request is either answered inline
// from onComplete() (the daemon's way) or the connection is suspended until
// deliver() hands its reply over by connection id, from any thread (the
// camera program's way). One reply per connection; the connection closes
// after it.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QVector>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace httpserver {

// Name and value pairs in order; one block, not a node per header line.
using HeaderList = QVector<QPair<QByteArray, QByteArray>>;

// One reply. Headers go out in list order after "Connection: close"; the
// library adds "Content-Length" itself. With fd >= 0 the body is the first
// fileSize bytes of that open file, streamed from it (the reply owns the fd).
// Otherwise, with pieces, the body is those spans in order, sent as they lie
// without being joined into one block (large images go out from the buffer
// they were copied into); `keep` holds what they point into until the
// library lets the reply go. Else the body is `body`.
struct Reply {
    struct Piece {
        const char* data;
        size_t size;
    };

    int status = 200;
    HeaderList headers;
    QByteArray body;
    int fd = -1;
    qint64 fileSize = 0;
    std::vector<Piece> pieces;
    std::shared_ptr<const void> keep;

    // The body of a reply without fd as one block: the pieces joined, or body.
    QByteArray joinedBody() const;

    Reply() = default;
    Reply(Reply&& o) noexcept;
    Reply& operator=(Reply&& o) noexcept;
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    ~Reply();
};

// A plain reply: status, one Content-Type line (none when empty), body.
Reply plainReply(int status, const QByteArray& contentType, const QByteArray& body);

// What the handler keeps with one exchange.
struct ExchangeData {
    virtual ~ExchangeData() = default;
};

// One request on one connection, from its first line to its end.
struct Exchange {
    quint64 id = 0;           // unique for the life of the server
    QByteArray target;        // the request target as sent, never decoded
    QByteArray method;
    QByteArray version;
    HeaderList headers;       // every header line in the order sent
    QString peerIp;           // dotted text
    qint64 declaredLength = -1;  // Content-Length; -1 when absent or chunked
    bool chunked = false;
    qint64 bodyBytes = 0;     // body bytes passed to onBody so far
    std::unique_ptr<ExchangeData> data;

    // The target's path (up to "?") and query (after it), raw.
    QByteArray path() const;
    QByteArray query() const;
};

class RequestHandler {
public:
    virtual ~RequestHandler() = default;
    // The head is complete. A reply refuses the request at once, before any
    // body byte is read; nothing goes on to the body.
    virtual std::optional<Reply> onHead(Exchange& ex) = 0;
    // The next piece of the body, in order.
    virtual void onBody(Exchange& ex, const char* data, size_t size) = 0;
    // The body is complete. A reply answers at once; nothing suspends the
    // connection until deliver() brings the reply for ex.id.
    virtual std::optional<Reply> onComplete(Exchange& ex) = 0;
    // The exchange is over: `completed` tells whether onComplete was reached
    // (false: refused at the head, client gone or timed out mid-request).
    virtual void onEnd(Exchange& ex, bool completed) { (void)ex; (void)completed; }
};

struct ServerOptions {
    unsigned connectionLimit = 512;          // stays below FD_SETSIZE
    unsigned clientTimeoutSecs = 30;         // a client that sends nothing for this long is dropped
    int pollLimitMs = 1000;                  // longest sleep of the loop
    // When set, also receives lastTurnMs() after every loop turn.
    std::atomic<qint64>* turnStamp = nullptr;
};

class HttpServer {
public:
    explicit HttpServer(RequestHandler* handler, ServerOptions options = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Opens the listener (port 0: any free port). False, with the reason in
    // error(), when it cannot listen. Call on the thread that will serve().
    bool listen(const QHostAddress& host, quint16 port);
    QString error() const { return m_error; }
    // The port actually bound (after listen).
    quint16 boundPort() const { return m_boundPort.load(); }

    // Runs the loop until requestStop(); then closes every suspended
    // connection and the listener. Returns at once without a listener.
    void serve();
    // Any thread: ends serve() within one loop turn.
    void requestStop();

    // Any thread: hands the reply for exchange `id` to the server thread.
    enum class Delivery { Accepted, AlreadyAnswered, Unknown };
    Delivery deliver(quint64 id, Reply reply);
    // Any thread: true while exchange `id` is open and nothing was delivered
    // for it (a reply built afterwards may still find it answered).
    bool awaitsReply(quint64 id) const;

    // Any thread: runs `task` on the server thread in the next loop turn.
    void post(std::function<void()> task);

    // Monotonic milliseconds of the end of the last loop turn (0: none yet).
    qint64 lastTurnMs() const { return m_lastTurnMs.load(); }

    struct Impl;

private:
    std::shared_ptr<Impl> m_impl;
    QString m_error;
    std::atomic<quint16> m_boundPort{0};
    std::atomic<qint64> m_lastTurnMs{0};
};

}  // namespace httpserver
