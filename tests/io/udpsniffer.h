#pragma once
// Sees every UDP datagram delivered inside the test's private network (a raw
// socket), whoever it is for. It lets a test check a reply sent to a peer's
// port 10410 even though, on one machine, the camera itself holds that port.
// settle() waits until everything sent before it has been seen.
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QThread>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace iotest {

class UdpSniffer {
public:
    struct Packet {
        QString src;
        int srcPort = 0;
        QString dst;
        int dstPort = 0;
        QByteArray data;
        QString to() const { return QStringLiteral("%1:%2").arg(dst).arg(dstPort); }
    };

    UdpSniffer() { m_fd = ::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP); }
    ~UdpSniffer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    UdpSniffer(const UdpSniffer&) = delete;
    UdpSniffer& operator=(const UdpSniffer&) = delete;

    bool ok() const { return m_fd >= 0; }

    // Every datagram seen since the last call, up to a marker sent now.
    QList<Packet> settle(int timeoutMs = 2000)
    {
        const QByteArray marker = QByteArrayLiteral("settle-") + QByteArray::number(++m_markers);
        QUdpSocket s;
        s.writeDatagram(marker, QHostAddress(QStringLiteral("127.0.0.9")), 9);
        QList<Packet> out;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            Packet p;
            if (!next(&p)) {
                QThread::usleep(200);
                continue;
            }
            if (p.dstPort == 9 && p.data == marker)
                return out;
            out.append(p);
        }
        return out;
    }

    // Of some packets, those whose payload starts with `prefix`.
    static QList<Packet> starting(const QList<Packet>& all, const QByteArray& prefix)
    {
        QList<Packet> out;
        for (const Packet& p : all)
            if (p.data.startsWith(prefix))
                out.append(p);
        return out;
    }

private:
    bool next(Packet* p)
    {
        unsigned char buf[70000];
        const ssize_t n = ::recv(m_fd, buf, sizeof(buf), 0);
        if (n < int(sizeof(iphdr)))
            return false;
        const auto* ip = reinterpret_cast<const iphdr*>(buf);
        const size_t ihl = size_t(ip->ihl) * 4;
        if (size_t(n) < ihl + sizeof(udphdr))
            return false;
        const auto* udp = reinterpret_cast<const udphdr*>(buf + ihl);
        char a[INET_ADDRSTRLEN] = {};
        in_addr addr{};
        addr.s_addr = ip->saddr;
        p->src = QString::fromLatin1(::inet_ntop(AF_INET, &addr, a, sizeof(a)));
        addr.s_addr = ip->daddr;
        p->dst = QString::fromLatin1(::inet_ntop(AF_INET, &addr, a, sizeof(a)));
        p->srcPort = ntohs(udp->source);
        p->dstPort = ntohs(udp->dest);
        const size_t start = ihl + sizeof(udphdr);
        p->data = QByteArray(reinterpret_cast<const char*>(buf + start), int(size_t(n) - start));
        return true;
    }

    int m_fd = -1;
    int m_markers = 0;
};

}  // namespace iotest
