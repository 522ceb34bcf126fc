#include "support/rtspscriptedclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

bool expired(Clock::time_point deadline)
{
    return Clock::now() >= deadline;
}

uint32_t be32(const std::string& b, size_t at)
{
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

sockaddr_in loopback(uint16_t port, const char* address = "127.0.0.1")
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

}  // namespace

std::string RtspReply::header(const std::string& name) const
{
    const std::string prefix = name + ": ";
    for (const std::string& line : headerLines) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    }
    return {};
}

std::optional<RtpPacket> RtpPacket::parse(const std::string& b)
{
    if (b.size() < 12 || (uint8_t(b[0]) >> 6) != 2)
        return std::nullopt;
    RtpPacket p;
    p.marker = (uint8_t(b[1]) & 0x80) != 0;
    p.payloadType = uint8_t(b[1]) & 0x7f;
    p.seq = uint16_t((uint8_t(b[2]) << 8) | uint8_t(b[3]));
    p.timestamp = be32(b, 4);
    p.ssrc = be32(b, 8);
    p.payload = b.substr(12);
    p.size = int(b.size());
    return p;
}

std::optional<RtcpSenderReport> RtcpSenderReport::parse(const std::string& b)
{
    if (b.size() != 28 || uint8_t(b[0]) != 0x80 || uint8_t(b[1]) != 200 || b[2] != 0 || b[3] != 6)
        return std::nullopt;
    RtcpSenderReport r;
    r.ssrc = be32(b, 4);
    r.ntpSeconds = be32(b, 8);
    r.ntpFraction = be32(b, 12);
    r.rtpTimestamp = be32(b, 16);
    r.packetCount = be32(b, 20);
    r.octetCount = be32(b, 24);
    return r;
}

RtspScriptedClient::~RtspScriptedClient()
{
    closeConnection();
}

bool RtspScriptedClient::connectTo(uint16_t port, const char* address)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    sockaddr_in a = loopback(port, address);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0)
        return false;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

bool RtspScriptedClient::send(const std::string& bytes)
{
    size_t off = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (off < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n > 0) {
            off += size_t(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (expired(deadline))
            return false;
        m_pump();
    }
    return true;
}

bool RtspScriptedClient::sendBytewise(const std::string& bytes)
{
    for (char c : bytes) {
        if (!send(std::string(1, c)))
            return false;
        m_pump();
    }
    return true;
}

std::string RtspScriptedClient::request(const std::string& method, const std::string& url, int cseq,
                                        const std::vector<std::string>& headers)
{
    std::string r = method + " " + url + " RTSP/1.0\r\n";
    if (cseq >= 0)
        r += "CSeq: " + std::to_string(cseq) + "\r\n";
    for (const std::string& h : headers)
        r += h + "\r\n";
    return r + "\r\n";
}

bool RtspScriptedClient::fill(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof(buf), 0);
        if (n > 0) {
            m_in.append(buf, size_t(n));
            return true;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            m_closed = true;
            return false;
        }
        if (expired(deadline))
            return false;
        m_pump();
        pollfd pfd{m_fd, POLLIN, 0};
        ::poll(&pfd, 1, 1);
    }
}

// Takes complete interleaved frames and answers off the front of the input.
std::optional<RtspReply> RtspScriptedClient::takeReply()
{
    for (;;) {
        if (m_in.empty())
            return std::nullopt;
        if (m_in[0] == '$') {
            if (m_in.size() < 4)
                return std::nullopt;
            const size_t len = (size_t(uint8_t(m_in[2])) << 8) | uint8_t(m_in[3]);
            if (m_in.size() < 4 + len)
                return std::nullopt;
            m_frames.push_back({uint8_t(m_in[1]), m_in.substr(4, len)});
            m_in.erase(0, 4 + len);
            continue;
        }
        const size_t end = m_in.find("\r\n\r\n");
        if (end == std::string::npos)
            return std::nullopt;
        RtspReply r;
        size_t pos = 0;
        size_t eol = m_in.find("\r\n");
        r.statusLine = m_in.substr(0, eol);
        pos = eol + 2;
        while (pos < end + 2) {
            eol = m_in.find("\r\n", pos);
            r.headerLines.push_back(m_in.substr(pos, eol - pos));
            pos = eol + 2;
        }
        size_t bodyLen = 0;
        const std::string cl = r.header("Content-Length");
        if (!cl.empty())
            bodyLen = size_t(std::stoul(cl));
        if (m_in.size() < end + 4 + bodyLen)
            return std::nullopt;
        r.body = m_in.substr(end + 4, bodyLen);
        r.raw = m_in.substr(0, end + 4 + bodyLen);
        if (r.statusLine.compare(0, 9, "RTSP/1.0 ") == 0)
            r.status = std::atoi(r.statusLine.c_str() + 9);
        m_in.erase(0, r.raw.size());
        return r;
    }
}

std::optional<RtspReply> RtspScriptedClient::readReply(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (auto r = takeReply())
            m_replies.push_back(*r);
        if (!m_replies.empty()) {
            RtspReply r = m_replies.front();
            m_replies.erase(m_replies.begin());
            return r;
        }
        if (expired(deadline) || m_closed)
            return std::nullopt;
        fill(int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()) + 1);
    }
}

std::optional<InterleavedFrame> RtspScriptedClient::readInterleaved(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (auto r = takeReply())
            m_replies.push_back(*r);
        if (!m_frames.empty()) {
            InterleavedFrame f = m_frames.front();
            m_frames.erase(m_frames.begin());
            return f;
        }
        if (expired(deadline) || m_closed)
            return std::nullopt;
        fill(int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()) + 1);
    }
}

bool RtspScriptedClient::waitClosed(int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!m_closed) {
        if (expired(deadline))
            return false;
        fill(int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()) + 1);
        m_in.clear();
    }
    return true;
}

void RtspScriptedClient::resetConnection()
{
    if (m_fd < 0)
        return;
    linger l{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
    closeConnection();
}

void RtspScriptedClient::closeConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void RtspScriptedClient::setReceiveBuffer(int bytes)
{
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
}

uint16_t RtspScriptedClient::localPort() const
{
    sockaddr_in a{};
    socklen_t len = sizeof(a);
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

RtpUdpReceiver::RtpUdpReceiver(std::function<void()> pump) : m_pump(std::move(pump))
{
    for (int attempt = 0; attempt < 50 && m_fd[0] < 0; ++attempt) {
        const int a = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr = loopback(0);
        socklen_t len = sizeof(addr);
        if (::bind(a, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::getsockname(a, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || (ntohs(addr.sin_port) & 1) ||
            ntohs(addr.sin_port) == 65534) {
            ::close(a);
            continue;
        }
        const uint16_t port = ntohs(addr.sin_port);
        const int b = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr2 = loopback(uint16_t(port + 1));
        if (::bind(b, reinterpret_cast<sockaddr*>(&addr2), sizeof(addr2)) != 0) {
            ::close(a);
            ::close(b);
            continue;
        }
        int big = 4 << 20;
        ::setsockopt(a, SOL_SOCKET, SO_RCVBUF, &big, sizeof(big));
        m_fd[0] = a;
        m_fd[1] = b;
        m_port = port;
    }
}

RtpUdpReceiver::~RtpUdpReceiver()
{
    for (int fd : m_fd) {
        if (fd >= 0)
            ::close(fd);
    }
}

std::optional<std::string> RtpUdpReceiver::read(int which, int timeoutMs, uint16_t* fromPort)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        char buf[65536];
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        const ssize_t n = ::recvfrom(m_fd[which], buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n >= 0) {
            if (fromPort)
                *fromPort = ntohs(from.sin_port);
            return std::string(buf, size_t(n));
        }
        if (expired(deadline))
            return std::nullopt;
        m_pump();
        pollfd pfd{m_fd[which], POLLIN, 0};
        ::poll(&pfd, 1, 1);
    }
}

bool RtpUdpReceiver::sendTo(int which, uint16_t port, const std::string& bytes)
{
    sockaddr_in to = loopback(port);
    return ::sendto(m_fd[which], bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) ==
           ssize_t(bytes.size());
}

uint16_t freeTcpPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof(a);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

}  // namespace testsupport
