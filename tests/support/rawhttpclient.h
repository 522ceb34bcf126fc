#pragma once
// A raw-socket HTTP client for the server tests: sends exactly the bytes it
// is given to 127.0.0.1 and reads until the peer closes, so a test sees the
// reply byte for byte.
#include <QByteArray>
#include <QDir>
#include <QList>
#include <QtGlobal>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

class RawHttpConnection {
public:
    explicit RawHttpConnection(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawHttpConnection() { close(); }
    RawHttpConnection(const RawHttpConnection&) = delete;
    RawHttpConnection& operator=(const RawHttpConnection&) = delete;

    bool ok() const { return m_fd >= 0; }

    bool send(const QByteArray& bytes)
    {
        const char* p = bytes.constData();
        qint64 left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::send(m_fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            p += n;
            left -= n;
        }
        return true;
    }

    // Tells the peer nothing more will come (half-close).
    void finishSending()
    {
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_WR);
    }

    // Everything received until the peer closes or `timeoutMs` passes.
    QByteArray readAll(int timeoutMs = 5000)
    {
        QByteArray out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buf[65536];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0) {
                m_closedByPeer = true;
                break;
            }
            out.append(buf, static_cast<int>(n));
        }
        return out;
    }

    // What one read brings (at most `max` bytes), waiting up to `timeoutMs`.
    QByteArray readSome(int max, int timeoutMs = 5000)
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return QByteArray();
        QByteArray out(max, Qt::Uninitialized);
        const ssize_t n = ::recv(m_fd, out.data(), static_cast<size_t>(max), 0);
        out.resize(n > 0 ? static_cast<int>(n) : 0);
        return out;
    }

    // True once readAll saw the peer close.
    bool closedByPeer() const { return m_closedByPeer; }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_closedByPeer = false;
};

// One request, its whole reply.
inline QByteArray rawHttpExchange(quint16 port, const QByteArray& request, int timeoutMs = 5000)
{
    RawHttpConnection c(port);
    if (!c.ok() || !c.send(request))
        return {};
    return c.readAll(timeoutMs);
}

// The status line, the header lines and the body of a reply.
struct RawHttpReply {
    QByteArray statusLine;
    QList<QByteArray> headerLines;
    QByteArray body;
    bool complete = false;

    static RawHttpReply parse(const QByteArray& bytes)
    {
        RawHttpReply r;
        const int end = bytes.indexOf("\r\n\r\n");
        if (end < 0)
            return r;
        const QList<QByteArray> lines = bytes.left(end).split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            if (line.endsWith('\r'))
                line.chop(1);
            if (i == 0)
                r.statusLine = line;
            else
                r.headerLines << line;
        }
        r.body = bytes.mid(end + 4);
        r.complete = true;
        return r;
    }
    QByteArray header(const QByteArray& name) const
    {
        for (const QByteArray& l : headerLines) {
            const int c = l.indexOf(':');
            if (c > 0 && l.left(c).toLower() == name.toLower())
                return l.mid(c + 1).trimmed();
        }
        return QByteArray();
    }
};

// The number of open descriptors of this process.
inline int openFdCount()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size();
}

}  // namespace testsupport
