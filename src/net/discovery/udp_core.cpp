#include "net/discovery/udp_core.h"

#include "foundation/publictools.h"

#include <QEventLoop>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <arpa/inet.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace {

constexpr int kReceiveBuffer = 2048;
constexpr int kBindAttempts = 1000;

QString dotted(const sockaddr_in& a)
{
    return QString::fromStdString(nint2string(a.sin_addr.s_addr));
}

}  // namespace

// ---- ZRU_BroadcastSocket ----------------------------------------------------

ZRU_BroadcastSocket::ZRU_BroadcastSocket(Udpsend_Cond cond) : m_cond(std::move(cond))
{
    for (int attempt = 0; attempt < kBindAttempts && m_fd < 0; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        set_socket_nonblock(fd);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(quint16(RandPort()));
        local.sin_addr.s_addr = ::inet_addr(m_cond.bind_ip.c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            m_fd = fd;
        else
            ::close(fd);
    }
    m_dst.sin_family = AF_INET;
    m_dst.sin_port = htons(quint16(m_cond.dst_port));
    m_dst.sin_addr.s_addr = ::inet_addr(m_cond.dst_ip.c_str());
}

ZRU_BroadcastSocket::~ZRU_BroadcastSocket()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int ZRU_BroadcastSocket::send(const std::string& data)
{
    if (m_fd < 0)
        return -1;
    return int(::sendto(m_fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&m_dst), sizeof m_dst));
}

int ZRU_BroadcastSocket::send(const void* data, int len)
{
    return send(std::string(static_cast<const char*>(data), size_t(qMax(0, len))));
}

// ---- UDP_Core ------------------------------------------------------------------

UDP_Core::UDP_Core(QObject* parent) : QObject(parent)
{
    qRegisterMetaType<sockaddr_in>("sockaddr_in");
    qRegisterMetaType<std::string>("std::string");
    m_serviceId = new_uuid(0);
    for (const QNetworkInterface& card : QNetworkInterface::allInterfaces()) {
        if (card.name() == QLatin1String("lo"))
            continue;
        char ip[32] = {}, mask[32] = {}, gateway[32] = {}, mac[32] = {};
        if (GetIfAddr(card.name().toLatin1().constData(), ip, mask, gateway, mac) < 0)
            continue;
        DeviceNetInfo_Detail d;
        d.ifname = card.name();
        d.ip = QString::fromLatin1(ip);
        d.netmask = QString::fromLatin1(mask);
        d.mac = QString::fromLatin1(mac);
        d.gateway = QString::fromLatin1(gateway);
        m_cards.insert(d.mac, d);
    }
    qInfo().noquote() << "UDP_Core modify:" << m_cards.keys().join(QLatin1Char(','));
}

UDP_Core::~UDP_Core()
{
    stopListen();
    QMutexLocker lock(&m_socketLock);
    for (int fd : m_sockets) {
        if (fd >= 0)
            ::close(fd);
    }
    m_sockets.clear();
}

ZRU_INTER_ERROR UDP_Core::addListen(std::string ip, int port)
{
    qInfo().noquote() << QStringLiteral("listen:%1/%2").arg(QString::fromStdString(ip)).arg(port);
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return ZRU_ERR_BROADCAST;
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        ::close(fd);
        return ZRU_ERR_BROADCAST;
    }
    if (set_socket_nonblock(fd) < 0) {
        ::close(fd);
        return ZRU_ERR_NONBLOCK;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(quint16(port));
    local.sin_addr.s_addr = ::inet_addr(ip.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return ZRU_ERR_BIND;
    }
    {
        QMutexLocker lock(&m_socketLock);
        m_sockets.append(fd);
    }
    m_running = true;
    if (!m_listener.isRunning())
        m_listener = QtConcurrent::run(this, &UDP_Core::Slot_StartListen);
    return ZRU_OK;
}

void UDP_Core::stopListen()
{
    m_running = false;
    if (m_listener.isRunning())
        m_listener.waitForFinished();
}

int UDP_Core::listeningSockets() const
{
    QMutexLocker lock(&m_socketLock);
    return m_sockets.size();
}

int UDP_Core::textLength(const QByteArray& datagram)
{
    const int zero = datagram.indexOf('\0');
    return zero < 0 ? datagram.size() : zero;
}

void UDP_Core::Slot_StartListen()
{
    while (m_running) {
        QList<int> fds;
        {
            QMutexLocker lock(&m_socketLock);
            fds = m_sockets;
        }
        if (fds.isEmpty()) {
            m_running = false;
            return;
        }
        fd_set set;
        FD_ZERO(&set);
        int top = -1;
        for (int fd : fds) {
            if (fd >= 0 && fd < FD_SETSIZE) {
                FD_SET(fd, &set);
                top = qMax(top, fd);
            }
        }
        timeval tv{0, 200000};
        if (::select(top + 1, &set, nullptr, nullptr, &tv) <= 0)
            continue;
        for (int fd : fds) {
            if (fd < 0 || fd >= FD_SETSIZE || !FD_ISSET(fd, &set))
                continue;
            sockaddr_in local{};
            socklen_t localLen = sizeof local;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen);
            char buffer[kReceiveBuffer];
            sockaddr_in peer{};
            socklen_t peerLen = sizeof peer;
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLen);
            if (n < 0)
                continue;  // nothing after all (another reader, or an error): next pass
            // The datagram's own bytes, not the whole buffer.
            const QByteArray bytes(buffer, int(n));
            QString result;
            if (QThread::currentThread() == thread()) {
                result = AnalysisRecvMessage(peer, bytes);
            } else {
                QMetaObject::invokeMethod(this, "AnalysisRecvMessage", Qt::QueuedConnection,
                                          Q_ARG(sockaddr_in, peer), Q_ARG(QByteArray, bytes));
                result = QStringLiteral("success");
            }
            const int len = textLength(bytes);
            const QString line = QStringLiteral("[UDP_RCV] %1/%2 <- %3/%4 (%5): ")
                                     .arg(dotted(local))
                                     .arg(ntohs(local.sin_port))
                                     .arg(dotted(peer))
                                     .arg(ntohs(peer.sin_port))
                                     .arg(len)
                                 + QString::fromUtf8(bytes.constData(), len);
            PrintRecvMsg(result, line);
        }
    }
}

QString UDP_Core::AnalysisRecvMessage(sockaddr_in, const QByteArray& recvbuf)
{
    emit sig_sync_send_core(QString::fromLatin1(recvbuf.constData(), textLength(recvbuf)));
    return QStringLiteral("success");
}

void UDP_Core::PrintRecvMsg(QString, QString line)
{
    qInfo().noquote() << line;
}

void UDP_Core::logSend(const ZRU_BroadcastSocket& s, const Udpsend_Cond& cond, const std::string& data)
{
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (s.descriptor() >= 0)
        ::getsockname(s.descriptor(), reinterpret_cast<sockaddr*>(&local), &len);
    const QByteArray bytes = QByteArray::fromStdString(data);
    const QString line = QStringLiteral("[UDP_SND] %1/%2 -> %3/%4 (%5): ")
                             .arg(dotted(local))
                             .arg(ntohs(local.sin_port))
                             .arg(QString::fromStdString(cond.dst_ip))
                             .arg(cond.dst_port)
                             .arg(data.size())
                         + QString::fromUtf8(bytes.constData(), textLength(bytes));
    PrintRecvMsg(line, line);
}

int UDP_Core::send_core(Udpsend_Cond cond, std::string data, std::string& reply)
{
    if (cond.wait_ms < 0 || cond.resend_ms < 0)
        return ZRU_ERR_ARGUMENT;
    // Made here, so that it belongs to the caller's network namespace
    // whatever thread of the pool sends through it.
    auto socket = std::make_shared<ZRU_BroadcastSocket>(cond);
    if (cond.wait_ms == 0) {
        socket->send(data);
        logSend(*socket, cond, data);
        return ZRU_OK;
    }
    int outcome = -1;
    QFuture<void> task = QtConcurrent::run([&, socket] {
        QEventLoop loop;
        QTimer wait;
        wait.setSingleShot(true);
        wait.setTimerType(Qt::PreciseTimer);  // a coarse timer may end the wait 5 % early
        QObject::connect(&wait, &QTimer::timeout, &loop, [&] {
            outcome = 1;
            loop.quit();
        });
        QObject::connect(
            this, &UDP_Core::sig_sync_send_core, &loop,
            [&](const QString& recv) {
                reply = recv.toStdString();
                outcome = 0;
                loop.quit();
            },
            Qt::QueuedConnection);
        QTimer resend;
        resend.setTimerType(Qt::PreciseTimer);
        QObject::connect(&resend, &QTimer::timeout, &loop, [&] {
            socket->send(data);
            logSend(*socket, cond, data);
            if (cond.resend_ms == 0)
                resend.stop();
        });
        wait.start(qMin(cond.wait_ms, 1000));
        resend.start(cond.resend_ms);
        loop.exec();
        resend.stop();
        wait.stop();
    });
    task.waitForFinished();
    return outcome == 0 ? ZRU_OK : ZRU_ERR_NOANSWER;
}

DeviceNetInfo_Detail UDP_Core::foundNetBaseByIP(const QString& ip) const
{
    for (const DeviceNetInfo_Detail& d : m_cards) {
        if (d.ip == ip)
            return d;
    }
    return DeviceNetInfo_Detail();
}

QString UDP_Core::getSameUseNet(QString ip) const
{
    QString found;
    for (const DeviceNetInfo_Detail& d : m_cards) {
        const QString mine = getSubNet(d.ip, d.netmask);
        const QString theirs = getSubNet(ip, d.netmask);
        if (!mine.isEmpty() && mine == theirs)
            found = d.ip;
    }
    return found;
}

bool UDP_Core::rereadCard(const QString& ifname, const QString& oldMac)
{
    char ip[32] = {}, mask[32] = {}, gateway[32] = {}, mac[32] = {};
    const int n = GetIfAddr(ifname.toLatin1().constData(), ip, mask, gateway, mac);
    if (n < 0) {
        m_lastError = QStringLiteral("error CasterManager::GetIfAddr %1").arg(n);
        return false;
    }
    DeviceNetInfo_Detail d;
    d.ifname = ifname;
    d.ip = QString::fromLatin1(ip);
    d.netmask = QString::fromLatin1(mask);
    d.mac = QString::fromLatin1(mac);
    d.gateway = QString::fromLatin1(gateway);
    m_cards.remove(oldMac);
    m_cards.insert(d.mac, d);
    return true;
}
