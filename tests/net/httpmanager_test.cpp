// The HTTP manager's modes (on which thread a handler runs), its own 404 and
// 503 answers, and the server business driven by curl.
#include "net/httpmanager.h"
#include "net/tcpmn_business_server.h"
#include "nettestbench.h"

#include "foundation/zrc_workinformation_manager.h"

#include <QJsonDocument>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>

namespace {

using nettest::waitUntil;

// A client that sends raw requests to a server manager and keeps the answers.
struct Client {
    CLSC::TcpCliReactor reactor;
    QList<CTask_FormData> answers;
    explicit Client(quint16 port)
    {
        QObject::connect(&reactor, &CLSC::TcpReactor::sigResponse, &reactor,
                         [this](const CTask_FormData& f, bool) { answers << f; }, Qt::QueuedConnection);
        reactor.reAction(QHostAddress::LocalHost, port);
    }
    void send(const QString& url, const QString& uuid)
    {
        CTask_FormData f;
        f.url = url;
        f.uuid = uuid;
        f.json = QJsonObject{{"q", 1}};
        reactor.post_async(f);
    }
};

CLSC::TcpServReactor* serverOf(HttpManager& m) { return static_cast<CLSC::TcpServReactor*>(m.getReactor()); }

TEST(HttpManager, EachModeRunsHandlersOnItsThread)
{
    enum Where { Manager, Worker, Pool };
    const QList<QPair<int, Where>> cases = {{1, Manager}, {2, Worker}, {3, Pool}, {4, Manager}};
    for (const auto& c : cases) {
        HttpManager server(CLST_Server);
        std::atomic<QThread*> ran{nullptr};
        server.addRoute("/work", [&](CTask_FormData f) {
            ran = QThread::currentThread();
            server.callback_immediately(f, 200, QString());
        });
        ASSERT_TRUE(server.startReactor(QHostAddress::LocalHost, 0, c.first)) << c.first;
        Client client(serverOf(server)->serverPort());
        client.send("/work", QStringLiteral("M-%1").arg(c.first));
        ASSERT_TRUE(waitUntil([&] { return !client.answers.isEmpty(); })) << c.first;
        EXPECT_EQ(client.answers.first().uuid, QStringLiteral("M-%1").arg(c.first));
        QThread* t = ran.load();
        switch (c.second) {
        case Manager:
            EXPECT_EQ(t, QThread::currentThread()) << c.first;
            break;
        case Worker:
            EXPECT_EQ(t, server.getReactor()->workerThread()) << c.first;
            break;
        case Pool:
            EXPECT_NE(t, QThread::currentThread()) << c.first;
            EXPECT_NE(t, server.getReactor()->workerThread()) << c.first;
            break;
        }
    }
}

TEST(HttpManager, UnknownUrlGets404AndABusyUrl503)
{
    HttpManager server(CLST_Server);
    server.addRoute("/slow", [&](CTask_FormData f) {
        QThread::msleep(400);  // the manager's thread is busy with this one
        server.callback_immediately(f, 200, QString());
    });
    ASSERT_TRUE(server.startReactor(QHostAddress::LocalHost, 0, 4));
    Client client(serverOf(server)->serverPort());
    client.send("/nowhere", "N-1");
    client.send("/slow", "S-1");
    QThread::msleep(50);
    client.send("/slow", "S-2");
    ASSERT_TRUE(waitUntil([&] { return client.answers.size() == 3; }));
    QMap<QString, CTask_FormData> byUuid;
    for (const CTask_FormData& f : client.answers)
        byUuid.insert(f.uuid, f);
    // An answer without a result travels without a Content-Type: its
    // envelope is the plain body.
    auto envelope = [&](const QString& uuid) { return QJsonDocument::fromJson(byUuid.value(uuid).body).object(); };
    const QJsonObject notFound = envelope("N-1");
    EXPECT_EQ(notFound.value("code").toInt(), -1);
    EXPECT_EQ(notFound.value("msg").toString(), "no found url");
    EXPECT_EQ(envelope("S-2").value("msg").toString(), QStringLiteral("服务器忙碌中"));
    EXPECT_EQ(envelope("S-1").value("code").toInt(), 0);
    EXPECT_EQ(envelope("S-1").value("msg").toString(), "OK");
}

TEST(HttpManager, OtherRolesStartNothing)
{
    HttpManager m(static_cast<CLST_TYPE>(7));
    EXPECT_FALSE(m.startReactor(QHostAddress::LocalHost, 0, 1));
    EXPECT_EQ(m.getReactor(), nullptr);
}

TEST(TcpMNBusinessServer, AnswersCurlAndKeepsTheUser)
{
    TcpMN_Business_Server server;
    server.addRoute("/dide/ping", [&](CTask_FormData f) { server.dosync_workevent(f); });
    ASSERT_TRUE(server.startReactor(QHostAddress::LocalHost, 0, 1));
    const quint16 port = serverOf(server)->serverPort();
    struct Case {
        QString path;
        int status;
        int code;
    };
    for (const Case& c : {Case{"/dide/ping?x=1", 200, 0}, Case{"/dide/none", 404, -1}}) {
        QProcess curl;
        curl.start("curl", {"-s", "-i", "--max-time", "5", "-H", "User-ID: op7", "-H", "Content-Type: application/json",
                            "-d", "{\"a\":1}", QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(c.path)});
        ASSERT_TRUE(waitUntil([&] { return curl.state() == QProcess::NotRunning; }, 8000));
        const QByteArray out = curl.readAllStandardOutput();
        EXPECT_TRUE(out.startsWith(QStringLiteral("HTTP/1.1 %1").arg(c.status).toUtf8())) << out.constData();
        const QJsonObject body = QJsonDocument::fromJson(out.mid(out.indexOf("\r\n\r\n") + 4)).object();
        EXPECT_EQ(body.value("code").toInt(), c.code) << out.constData();
        EXPECT_TRUE(body.value("result").isObject());
    }
    EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->get_working_info().user_id, "op7");
}

}  // namespace
