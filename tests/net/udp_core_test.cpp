// The UDP core in a private network: listening sockets, the received
// length, and the send, wait and resend rules of send_core.
#include "net/discovery/udp_core.h"
#include "nettestbench.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

class RecordingCore : public UDP_Core {
public:
    using UDP_Core::UDP_Core;
    QString AnalysisRecvMessage(sockaddr_in peer, const QByteArray& recvbuf) override
    {
        QMutexLocker lock(&mutex);
        datagrams.append(recvbuf);
        return UDP_Core::AnalysisRecvMessage(peer, recvbuf);
    }
    void PrintRecvMsg(QString, QString line) override
    {
        QMutexLocker lock(&mutex);
        lines.append(line);
    }
    void setCards(const QMap<QString, DeviceNetInfo_Detail>& c) { m_cards = c; }
    QList<QByteArray> received()
    {
        QMutexLocker lock(&mutex);
        return datagrams;
    }
    QStringList logged()
    {
        QMutexLocker lock(&mutex);
        return lines;
    }

    QMutex mutex;
    QList<QByteArray> datagrams;
    QStringList lines;
};

void sendTo(quint16 port, const QByteArray& data)
{
    QUdpSocket s;
    s.writeDatagram(data, QHostAddress(QStringLiteral("127.0.0.1")), port);
}

int pending(QUdpSocket& s)
{
    int n = 0;
    while (s.hasPendingDatagrams()) {
        s.receiveDatagram();
        ++n;
    }
    return n;
}

Udpsend_Cond toLocal(quint16 port, int waitMs, int resendMs)
{
    Udpsend_Cond c;
    c.dst_ip = "127.0.0.1";
    c.dst_port = port;
    c.bind_ip = "127.0.0.1";
    c.wait_ms = waitMs;
    c.resend_ms = resendMs;
    return c;
}

}  // namespace

#define NEED_NETWORK(net)                                 \
    IsolatedNetwork net;                                  \
    if (!net.ok())                                        \
        GTEST_SKIP() << net.error().toStdString();

TEST(UdpCoreTest, ListensOnEverySocketItBoundAndHandsOverTheRealLength)
{
    NEED_NETWORK(net);
    RecordingCore core;
    EXPECT_EQ(core.addListen("10.255.1.1", 47001), ZRU_ERR_BIND);  // not an address of this host
    EXPECT_EQ(core.listeningSockets(), 0);
    ASSERT_EQ(core.addListen("127.0.0.1", 47001), ZRU_OK);
    ASSERT_EQ(core.addListen("127.0.0.1", 47002), ZRU_OK);
    EXPECT_EQ(core.listeningSockets(), 2);

    sendTo(47001, "abc");
    QByteArray full(2048, 'z');
    sendTo(47002, full);
    ASSERT_TRUE(nettest::waitUntil([&] { return core.received().size() == 2; }, 10000));
    const QList<QByteArray> got = core.received();
    EXPECT_TRUE(got.contains(QByteArray("abc")));  // three bytes, not a zero-filled buffer
    EXPECT_TRUE(got.contains(full));
    const QStringList lines = core.logged();
    EXPECT_EQ(lines.filter(QStringLiteral("[UDP_RCV] 127.0.0.1/47001 <- 127.0.0.1/")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("(3): abc")).size(), 1);
    EXPECT_EQ(lines.filter(QStringLiteral("(2048): zzz")).size(), 1);
    core.stopListen();
    EXPECT_FALSE(core.isListening());
}

TEST(UdpCoreTest, SendOnceAndWaitRules)
{
    NEED_NETWORK(net);
    RecordingCore core;
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QStringLiteral("127.0.0.1")), 47010));
    std::string reply;

    // Arguments: a negative wait or resend sends nothing.
    EXPECT_EQ(core.send_core(toLocal(47010, -1, 0), "x", reply), ZRU_ERR_ARGUMENT);
    EXPECT_EQ(core.send_core(toLocal(47010, 100, -1), "x", reply), ZRU_ERR_ARGUMENT);
    EXPECT_EQ(pending(receiver), 0);

    // Fire-and-forget: one datagram, 0; also 0 when no socket could be bound.
    EXPECT_EQ(core.send_core(toLocal(47010, 0, 0), "once", reply), ZRU_OK);
    Udpsend_Cond unbindable = toLocal(47010, 0, 0);
    unbindable.bind_ip = "10.255.1.1";
    EXPECT_EQ(core.send_core(unbindable, "never", reply), ZRU_OK);
    ASSERT_TRUE(nettest::waitUntil([&] { return receiver.hasPendingDatagrams(); }));
    EXPECT_EQ(receiver.receiveDatagram().data(), QByteArray("once"));
    EXPECT_EQ(pending(receiver), 0);

    // Waiting without resend: exactly one datagram, no answer -> 16.
    EXPECT_EQ(core.send_core(toLocal(47010, 200, 0), "wait", reply), ZRU_ERR_NOANSWER);
    EXPECT_EQ(pending(receiver), 1);

    // A resend period longer than the wait sends nothing.
    EXPECT_EQ(core.send_core(toLocal(47010, 100, 200), "late", reply), ZRU_ERR_NOANSWER);
    EXPECT_EQ(pending(receiver), 0);
}

TEST(UdpCoreTest, ResendsWithinTheCappedWait)
{
    NEED_NETWORK(net);
    RecordingCore core;
    QUdpSocket receiver;
    ASSERT_TRUE(receiver.bind(QHostAddress(QStringLiteral("127.0.0.1")), 47011));
    std::string reply;

    // 300 ms resends inside a 1000 ms wait: at 300, 600 and 900 ms (a
    // starved timer may fire fewer, never more).
    EXPECT_EQ(core.send_core(toLocal(47011, 1000, 300), "again", reply), ZRU_ERR_NOANSWER);
    const int sent = pending(receiver);
    EXPECT_GE(sent, 1);
    EXPECT_LE(sent, 3);
    EXPECT_EQ(core.logged().filter(QStringLiteral("[UDP_SND] 127.0.0.1/")).size(), sent);

    // A wait above 1000 ms is capped at 1000 ms.
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(core.send_core(toLocal(47011, 5000, 0), "capped", reply), ZRU_ERR_NOANSWER);
    EXPECT_GE(t.elapsed(), 990);
    EXPECT_LT(t.elapsed(), 4500);
}

TEST(UdpCoreTest, CardLookups)
{
    RecordingCore core;
    QMap<QString, DeviceNetInfo_Detail> cards;
    DeviceNetInfo_Detail a;
    a.ifname = QStringLiteral("eth0");
    a.ip = QStringLiteral("192.168.1.10");
    a.netmask = QStringLiteral("255.255.255.0");
    a.mac = QStringLiteral("AA:00:00:00:00:01");
    DeviceNetInfo_Detail b = a;
    b.ifname = QStringLiteral("eth1");
    b.ip = QStringLiteral("10.0.0.5");
    b.netmask = QStringLiteral("255.0.0.0");
    b.mac = QStringLiteral("AA:00:00:00:00:02");
    cards.insert(a.mac, a);
    cards.insert(b.mac, b);
    core.setCards(cards);
    EXPECT_EQ(core.getSameUseNet(QStringLiteral("192.168.1.77")), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(core.getSameUseNet(QStringLiteral("10.200.1.1")), QStringLiteral("10.0.0.5"));
    EXPECT_TRUE(core.getSameUseNet(QStringLiteral("camera")).isEmpty());
    EXPECT_TRUE(core.getSameUseNet(QStringLiteral("172.16.0.1")).isEmpty());
    EXPECT_EQ(core.foundNetBaseByIP(QStringLiteral("10.0.0.5")).ifname, QStringLiteral("eth1"));
    EXPECT_TRUE(core.foundNetBaseByIP(QStringLiteral("10.0.0.6")).ifname.isEmpty());
    EXPECT_EQ(core.serviceId().size(), 32);
}
