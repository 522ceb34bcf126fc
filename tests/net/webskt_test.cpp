// The WebSocket JSON channel against plain QWebSocket peers: the frame
// table, sending to one or all clients, a directly connected replier, the
// message cap, and the client's start and liveness.
#include "net/webskt_client.h"
#include "net/webskt_server.h"
#include "nettestbench.h"

#include <QJsonDocument>
#include <QMutex>
#include <QWebSocket>
#include <QWebSocketServer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

struct Peer {
    std::unique_ptr<QWebSocket> socket = std::make_unique<QWebSocket>();
    QStringList got;
    explicit Peer(quint16 port)
    {
        QObject::connect(socket.get(), &QWebSocket::textMessageReceived, [this](const QString& t) { got << t; });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }
    bool connected() const { return socket->state() == QAbstractSocket::ConnectedState; }
};

QJsonObject objectOf(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

struct Received {
    QMutex mutex;
    QList<CTask_FormData_WebSkt_Json> list;
    void add(const CTask_FormData_WebSkt_Json& m)
    {
        QMutexLocker l(&mutex);
        list << m;
    }
    QList<CTask_FormData_WebSkt_Json> all()
    {
        QMutexLocker l(&mutex);
        return list;
    }
};

}  // namespace

TEST(WebSktTest, FrameTable)
{
    struct Row {
        const char* text;
        int valid;
    };
    const QList<Row> rows = {
        {"{\"url\":\"/x\",\"user_agent\":\"a\",\"data\":{}}", 1},
        {"{\"url\":\"/x\",\"user_agent\":\"a\",\"data\":{\"k\":1},\"other\":2}", 1},
        {"{\"url\":\"/x\",\"user_agent\":\"a\",\"data\":5}", 0},
        {"{\"url\":\"/x\",\"data\":{}}", 0},
        {"{\"user_agent\":\"a\",\"data\":{}}", 0},
        {"[1,2]", 0},
        {"not json", 0},
        {"", 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(WebSkt_Core::analyseBuffer_Setup1_Json(QString::fromUtf8(r.text)).valid, r.valid) << r.text;
    const CTask_FormData_WebSkt_Json m = WebSkt_Core::analyseBuffer_Setup1_Json(
        QStringLiteral("{\"url\":\"/x\",\"user_agent\":\"a\",\"data\":{\"k\":1}}"));
    EXPECT_EQ(m.url, QStringLiteral("/x"));
    EXPECT_EQ(m.user_agent, QStringLiteral("a"));
    EXPECT_EQ(m.data.value(QStringLiteral("k")).toInt(), 1);
    EXPECT_EQ(WebSkt_Core::serialize_Setup2_Json(m), QStringLiteral("{\"data\":{\"k\":1},\"url\":\"/x\",\"user_agent\":\"a\"}"));
}

TEST(WebSktTest, ServerSendsToOneOrAllAndADirectReplierDoesNotBlock)
{
    WebSkt_Server server;
    ASSERT_TRUE(server.reAction(QHostAddress::LocalHost, 0));
    EXPECT_FALSE(server.initialize());  // already running
    const quint16 port = server.serverPort();
    ASSERT_NE(port, 0);
    Received received;
    QObject::connect(&server, &WebSkt_Core::sig_recv_message, &server, [&](const CTask_FormData_WebSkt_Json& m) {
        received.add(m);
        if (m.url == QLatin1String("/echo")) {
            CTask_FormData_WebSkt_Json reply = m;
            reply.url = QStringLiteral("/echoed");
            server.sendTextMessage(reply);  // on the channel's thread, directly
        }
    }, Qt::DirectConnection);

    Peer a(port), b(port), c(port);
    ASSERT_TRUE(nettest::waitUntil([&] { return a.connected() && b.connected() && c.connected() && server.clientCount() == 3; }, 30000));
    EXPECT_TRUE(server.isCnted());

    CTask_FormData_WebSkt_Json all;
    all.url = QStringLiteral("/all");
    server.sendTextMessage(all);
    ASSERT_TRUE(nettest::waitUntil([&] { return a.got.size() == 1 && b.got.size() == 1 && c.got.size() == 1; }, 30000));
    EXPECT_TRUE(objectOf(a.got[0]).value(QStringLiteral("user_agent")).toString().startsWith(QStringLiteral("vc_webskt#")));

    b.socket->sendTextMessage(QStringLiteral("{\"url\":\"/echo\",\"user_agent\":\"mine\",\"data\":{\"n\":7}}"));
    ASSERT_TRUE(nettest::waitUntil([&] { return b.got.size() == 2; }, 30000));
    const QJsonObject echoed = objectOf(b.got[1]);
    EXPECT_EQ(echoed.value(QStringLiteral("url")).toString(), QStringLiteral("/echoed"));
    EXPECT_EQ(echoed.value(QStringLiteral("user_agent")).toString(), QStringLiteral("mine"));
    nettest::spin(200);
    EXPECT_EQ(a.got.size(), 1);
    EXPECT_EQ(c.got.size(), 1);
    ASSERT_EQ(received.all().size(), 1);
    EXPECT_NE(received.all()[0].socket, 0u);

    // A message over 1 MiB is refused; the other clients go on.
    a.socket->sendTextMessage(QStringLiteral("{\"url\":\"/big\",\"user_agent\":\"a\",\"data\":{\"p\":\"%1\"}}")
                                  .arg(QString(int(WebSkt_Core::kMaxMessage), QLatin1Char('p'))));
    c.socket->sendTextMessage(QStringLiteral("{\"url\":\"/small\",\"user_agent\":\"c\",\"data\":{}}"));
    ASSERT_TRUE(nettest::waitUntil([&] { return received.all().size() == 2; }, 30000));
    nettest::spin(300);
    ASSERT_EQ(received.all().size(), 2);
    EXPECT_EQ(received.all()[1].url, QStringLiteral("/small"));

    server.deinitialize();
    EXPECT_FALSE(server.isRunning());
}

TEST(WebSktTest, ClientStartsOnlyAgainstAListenerAndLivesByPongs)
{
    WebSkt_Client lonely;
    EXPECT_FALSE(lonely.reAction(QHostAddress::LocalHost, 1));  // nothing listens on port 1
    EXPECT_FALSE(lonely.isRunning());

    QWebSocketServer plain(QStringLiteral("plain"), QWebSocketServer::NonSecureMode);
    ASSERT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
    QList<QWebSocket*> peers;
    QStringList got;
    QObject::connect(&plain, &QWebSocketServer::newConnection, [&] {
        QWebSocket* s = plain.nextPendingConnection();
        peers << s;
        QObject::connect(s, &QWebSocket::textMessageReceived, [&](const QString& t) { got << t; });
    });
    WebSkt_Client client(nullptr, 10000);  // a generous connect wait for a busy machine
    bool started = false;
    std::thread starter([&] { started = client.reAction(QHostAddress::LocalHost, plain.serverPort()); });
    ASSERT_TRUE(nettest::waitUntil([&] { return client.isRunning() && !peers.isEmpty(); }, 30000));
    starter.join();
    ASSERT_TRUE(started);
    EXPECT_TRUE(client.isCnted());

    Received received;
    QObject::connect(&client, &WebSkt_Core::sig_recv_message, &client, [&](const CTask_FormData_WebSkt_Json& m) { received.add(m); },
                     Qt::DirectConnection);
    peers[0]->sendTextMessage(QStringLiteral("{\"url\":\"/down\",\"user_agent\":\"s\",\"data\":{\"x\":1}}"));
    CTask_FormData_WebSkt_Json up;
    up.url = QStringLiteral("/up");
    up.user_agent = QStringLiteral("kept");
    client.sendTextMessage(up);
    ASSERT_TRUE(nettest::waitUntil([&] { return received.all().size() == 1 && got.size() == 1; }, 30000));
    EXPECT_EQ(received.all()[0].url, QStringLiteral("/down"));
    EXPECT_EQ(objectOf(got[0]).value(QStringLiteral("user_agent")).toString(), QStringLiteral("kept"));

    // Pongs come from this thread's event loop: without it for 2 s the client is not connected.
    QThread::msleep(2100);
    EXPECT_FALSE(client.isCnted());
    client.deinitialize();
    qDeleteAll(peers);  // accepted sockets belong to whoever took them
}
