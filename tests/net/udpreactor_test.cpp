// HTTP over UDP: reassembly per sender, several messages in one datagram,
// junk and silent partials dropped, the task's start and stop, and the
// heartbeat client against the operator application simulator.
#include "net/udp_push2app.h"
#include "net/udpreactor.h"
#include "publishbench.h"
#include "support/logcapture.h"

#include <QMutex>
#include <QNetworkDatagram>
#include <QPointer>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

using nettest::waitUntil;
using platform::MonotonicClock;

struct Collected {
    QMutex mutex;
    QList<CTask_FormData> requests;
    QList<CTask_FormData> responses;
    int requestCount()
    {
        QMutexLocker l(&mutex);
        return requests.size();
    }
    int responseCount()
    {
        QMutexLocker l(&mutex);
        return responses.size();
    }
};

void collect(CLSC::UdpReactor& r, Collected& c)
{
    QObject::connect(&r, &CLSC::UdpReactor::sigRequest, &r, [&c](const CTask_FormData& f) {
        QMutexLocker l(&c.mutex);
        c.requests << f;
    }, Qt::DirectConnection);
    QObject::connect(&r, &CLSC::UdpReactor::sigResponse, &r, [&c](const CTask_FormData& f) {
        QMutexLocker l(&c.mutex);
        c.responses << f;
    }, Qt::DirectConnection);
}

QByteArray request(const QByteArray& url, const QByteArray& body)
{
    return "POST " + url + " HTTP/1.1\r\nUser-Agent: t1\r\nContent-Type: application/json\r\nContent-Length: "
           + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Starts the reactor and binds its socket by a first datagram to `sink`.
quint16 startBound(CLSC::UdpReactor& r, QUdpSocket& sink)
{
    r.sendMsg("hello", QStringLiteral("127.0.0.1"), sink.localPort());
    waitUntil([&] { return r.localPort() != 0; }, 30000);
    return r.localPort();
}

}  // namespace

TEST(UdpReactorTest, ReassemblesPerSenderUntilNoProgress)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << net.error().toStdString();
    testsupport::LogCapture log;
    CLSC::UdpReactor reactor;
    Collected got;
    collect(reactor, got);
    EXPECT_TRUE(reactor.initialize());
    EXPECT_FALSE(reactor.initialize());  // running: nothing started
    EXPECT_TRUE(reactor.reAction());
    QUdpSocket a, b;
    ASSERT_TRUE(a.bind(QHostAddress("127.0.0.1"), 0));
    ASSERT_TRUE(b.bind(QHostAddress("127.0.0.1"), 0));
    const quint16 port = startBound(reactor, a);
    ASSERT_NE(port, 0);
    const QHostAddress to("127.0.0.1");

    // One request over three datagrams, with another sender's message in between.
    const QByteArray body = "{\"n\":1,\"text\":\"abcdefghij\"}";
    const QByteArray whole = request("/dide/x", body);
    const int headEnd = whole.indexOf("\r\n\r\n") + 4;
    a.writeDatagram(whole.left(headEnd), to, port);
    ASSERT_TRUE(waitUntil([&] { return reactor.partialCount() == 1; }, 30000));
    b.writeDatagram(request("/dide/from_b", "{}"), to, port);
    ASSERT_TRUE(waitUntil([&] { return got.requestCount() == 1; }, 30000));
    a.writeDatagram(body.left(10), to, port);
    a.writeDatagram(body.mid(10), to, port);
    ASSERT_TRUE(waitUntil([&] { return got.requestCount() == 2; }, 30000));
    {
        QMutexLocker l(&got.mutex);
        EXPECT_EQ(got.requests[0].url, QStringLiteral("/dide/from_b"));
        EXPECT_EQ(got.requests[1].url, QStringLiteral("/dide/x"));
        EXPECT_EQ(got.requests[1].json.value("text").toString(), QStringLiteral("abcdefghij"));
        EXPECT_EQ(got.requests[1].peer_port, a.localPort());
    }

    // Two messages in one datagram: both, at once.
    a.writeDatagram(request("/dide/one", "{}") + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}", to, port);
    ASSERT_TRUE(waitUntil([&] { return got.requestCount() == 3 && got.responseCount() == 1; }, 30000));

    // A head without a start line is dropped; what follows is read.
    a.writeDatagram("garbage\r\nmore garbage\r\n\r\n", to, port);
    a.writeDatagram(request("/dide/after", "{}"), to, port);
    ASSERT_TRUE(waitUntil([&] { return got.requestCount() == 4; }, 30000));
    EXPECT_EQ(got.responseCount(), 1);
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("head without a start line")));

    // A huge Content-Length from b swallows nothing of a's; its partial goes after 2 s of silence.
    b.writeDatagram("POST /dide/huge HTTP/1.1\r\nContent-Length: 1000000\r\n\r\n{", to, port);
    a.writeDatagram(request("/dide/still", "{}"), to, port);
    ASSERT_TRUE(waitUntil([&] { return got.requestCount() == 5; }, 30000));
    EXPECT_EQ(reactor.partialCount(), 1);
    MonotonicClock::advanceForTest(2001);
    ASSERT_TRUE(waitUntil([&] { return reactor.partialCount() == 0; }, 30000));
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("dropped after 2000 ms of silence")));

    reactor.deinitialize();
    EXPECT_FALSE(reactor.isRunning());
    MonotonicClock::advanceForTest(2001);
    EXPECT_FALSE(reactor.getTimerAlived());
}

TEST(UdpReactorTest, SendOnAStoppedReactorStartsIt)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << net.error().toStdString();
    CLSC::UdpReactor reactor;
    QUdpSocket sink;
    ASSERT_TRUE(sink.bind(QHostAddress("127.0.0.1"), 0));
    EXPECT_FALSE(reactor.isRunning());
    EXPECT_TRUE(reactor.sendMsg("ping", QStringLiteral("127.0.0.1"), sink.localPort()));
    EXPECT_TRUE(reactor.isRunning());
    EXPECT_TRUE(reactor.getTimerAlived());
    ASSERT_TRUE(waitUntil([&] { return sink.hasPendingDatagrams(); }, 30000));
    EXPECT_EQ(sink.receiveDatagram().data(), QByteArray("ping"));
}

TEST(UdpReactorTest, HeartbeatClientTakesTheSimulatorsAnswer)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << net.error().toStdString();
    nettest::CameraWork camera;
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress(QStringLiteral("127.0.0.1")), 0, 0));
    app.setDoTaken(true);
    app.setAppVersion(QStringLiteral("V1.6.7.94"));
    app.setAppTime(std::nullopt);
    auto* client = new Udp_Push2APP(-1);
    EXPECT_FALSE(client->sendMsg(QByteArray(), QStringLiteral("127.0.0.1"), app.udpPort()));  // empty: not sent
    EXPECT_TRUE(client->sendMsg("{\"state\":0}", QStringLiteral("127.0.0.1"), app.udpPort()));
    ASSERT_TRUE(waitUntil([&] { return camera.work().taken_app_ip == "127.0.0.1"; }, 30000));
    EXPECT_EQ(camera.work().registered_apps.at("127.0.0.1").version, "V1.6.7.94");
    EXPECT_TRUE(waitUntil([&] { return client->getIsCnted().value(QStringLiteral("127.0.0.1")) == 1; }, 30000));
    ASSERT_FALSE(app.heartbeats().isEmpty());
    EXPECT_TRUE(app.heartbeats().first().raw.startsWith("POST /dide/initiative/runstate HTTP/1.1\r\n"));
    delete client;  // stops its task first
}

TEST(UdpReactorTest, AClientWithALifetimeDeletesItself)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << net.error().toStdString();
    QPointer<Udp_Push2APP> client = new Udp_Push2APP(1);
    client->sendMsg("{}", QStringLiteral("127.0.0.1"), 9);
    ASSERT_TRUE(waitUntil([&] { return client.isNull(); }, 30000));
}
