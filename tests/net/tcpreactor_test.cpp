// Sessions and reactors on loopback: where the work runs, matching of
// responses, limits on what a peer may send, and the task list.
#include "net/session.h"
#include "net/tcpreactor.h"
#include "nettestbench.h"
#include "support/logcapture.h"
#include "tools/appsim/appsimulator.h"

#include "foundation/publictools.h"

#include <QSemaphore>
#include <gtest/gtest.h>

namespace {

using nettest::waitUntil;

struct ClientBench {
    AppSimulator app;
    CLSC::TcpCliReactor reactor;
    bool started = false;
    ClientBench()
    {
        if (app.start(QHostAddress::LocalHost, 0, 0))
            started = reactor.reAction(QHostAddress::LocalHost, app.tcpPort());
    }
    CTask_FormData request(const QString& uuid = QString())
    {
        CTask_FormData f;
        f.url = "/dide/initiative/runresult_info";
        f.uuid = uuid;
        f.json = QJsonObject{{"n", 1}};
        return f;
    }
};

TEST(TcpReactor, SyncRequestIsAnsweredOnTheWorkerAndMatchedByUuid)
{
    ClientBench b;
    ASSERT_TRUE(b.started);
    ASSERT_EQ(b.reactor.getAliveSession().size(), 1);

    // Post_sync waits with the test thread's loop; the app answers from it too.
    CTask_FormData req = b.request("U-42");
    CTask_FormData resp;
    QThread* responseThread = nullptr;
    QObject::connect(&b.reactor, &CLSC::TcpReactor::sigResponse, &b.reactor,
                     [&](const CTask_FormData&, bool) { responseThread = QThread::currentThread(); },
                     Qt::DirectConnection);
    ASSERT_TRUE(b.reactor.post_sync(req, resp, 2000));
    EXPECT_EQ(resp.uuid, "U-42");
    EXPECT_TRUE(resp.json.value("result").toObject().contains("recv_time"));
    EXPECT_TRUE(resp.task_info.hasValue());
    EXPECT_EQ(resp.task_info.getValue().url, "/dide/initiative/runresult_info");
    EXPECT_EQ(responseThread, b.reactor.workerThread());
    EXPECT_NE(responseThread, QThread::currentThread());
    EXPECT_EQ(b.app.pushes().size(), 1);
    EXPECT_EQ(b.app.pushes().first().json.value("n").toInt(), 1);  // a request carries the bare JSON
}

TEST(TcpReactor, SyncRequestRefusesBadTimeoutsAndNeverMatchesAnotherUuid)
{
    ClientBench b;
    ASSERT_TRUE(b.started);
    for (int timeout : {0, 60001}) {
        CTask_FormData req = b.request("U-1"), resp;
        EXPECT_FALSE(b.reactor.post_sync(req, resp, timeout)) << timeout;
    }
    nettest::spin(100);
    EXPECT_TRUE(b.app.pushes().isEmpty());

    // An empty uuid is stamped first, so an answer under another uuid does
    // not count as the response.
    b.app.setPushMode(AppSimulator::PushMode::WrongUuid);
    CTask_FormData req = b.request(), resp;
    EXPECT_FALSE(b.reactor.post_sync(req, resp, 400));
    EXPECT_FALSE(req.uuid.isEmpty());
    EXPECT_TRUE(resp.uuid.isEmpty());
}

TEST(TcpReactor, SessionsLiveOnTheWorkerAndAForeignSendReturnsFalse)
{
    ClientBench b;
    ASSERT_TRUE(b.started);
    const QList<int> alive = b.reactor.getAliveSession();
    ASSERT_EQ(alive.size(), 1);
    Session* s = nullptr;
    QThread* sessionThread = nullptr;
    QObject::connect(&b.reactor, &CLSC::TcpReactor::sigResponse, &b.reactor,
                     [&](const CTask_FormData&, bool) {
                         sessionThread = QThread::currentThread();
                     },
                     Qt::DirectConnection);
    b.reactor.post_async(b.request("A-1"));
    ASSERT_TRUE(waitUntil([&] { return sessionThread != nullptr; }));
    EXPECT_EQ(sessionThread, b.reactor.workerThread());

    // A session object: made here on the test thread it would live here; the
    // reactor's live sessions report a never-started thread of their own.
    QTcpSocket* probe = new QTcpSocket;
    probe->connectToHost(QHostAddress::LocalHost, b.app.tcpPort());
    ASSERT_TRUE(probe->waitForConnected(1000));
    QThread other;
    other.start();
    QObject onOther;
    onOther.moveToThread(&other);
    s = new Session(&b.reactor, probe, 999);
    bool foreignResult = true;
    QMetaObject::invokeMethod(
        &onOther, [&] { foreignResult = s->SlotSendAction(SCI_ExecObj_Send(b.request("F-1"))); },
        Qt::BlockingQueuedConnection);
    EXPECT_FALSE(foreignResult);
    EXPECT_FALSE(s->isRunning());
    ASSERT_TRUE(waitUntil([&] {
        for (const CTask_FormData& f : b.app.pushes())
            if (f.uuid == "F-1")
                return true;
        return false;
    }));
    delete s;
    other.quit();
    other.wait();
}

TEST(TcpReactor, PipelinedMessagesAreReadAtOnceAndLimitsCloseTheConnection)
{
    CLSC::TcpServReactor server;
    ASSERT_TRUE(server.reAction(QHostAddress::LocalHost, 0));
    QStringList urls;
    QObject::connect(&server, &CLSC::TcpReactor::sigRequest, &server,
                     [&](const CTask_FormData& f) { urls << f.url; }, Qt::DirectConnection);
    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(c.waitForConnected(1000));
    c.write("POST /one HTTP/1.1\r\nContent-Length: 2\r\n\r\nabPOST /two HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(waitUntil([&] { return urls.size() == 2; }));
    EXPECT_EQ(urls, (QStringList{"/one", "/two"}));

    testsupport::LogCapture log;
    c.write("POST /three HTTP/1.1\r\nContent-Length: -4\r\n\r\n");
    EXPECT_TRUE(waitUntil([&] { return c.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.anyContains("Content-Length negative"));

    QTcpSocket d;
    d.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(d.waitForConnected(1000));
    d.write("POST /big HTTP/1.1\r\nX: " + QByteArray(70000, 'x'));
    EXPECT_TRUE(waitUntil([&] { return d.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(log.anyContains("head longer than 65536"));
    EXPECT_EQ(urls.size(), 2);
}

TEST(TcpReactor, TasksAreListedUpdatedAndPurgedByAge)
{
    CLSC::TcpCliReactor r;
    CTask_FormData f;
    f.uuid = "old";
    f.url = "/x";
    setWallClockOffsetForTest(-61000);
    r.append_TcpTask(f);
    setWallClockOffsetForTest(-59000);
    r.append_TcpTask(QStringLiteral("young"));
    setWallClockOffsetForTest(0);
    r.update_TcpTsk_ByUuid("young", "tskup_firstrecv_timing", {});
    r.update_TcpTsk_ByUuid("young", "tskup_recv_times", {});
    r.update_TcpTsk_ByUuid("young", "tskup_chg_recvpacklength", {QVariant(77)});
    r.update_TcpTsk_ByUuid("young", "unknown", {});
    const TcpTsk_Info y = r.getTcpTask("young").getValue();
    EXPECT_EQ(y.recv_times.load(), 2);
    EXPECT_EQ(y.recvpacklength, 77);
    EXPECT_EQ(y.url, "young");
    r.purgeTasks();
    EXPECT_FALSE(r.isAliveTcpTask("old"));
    EXPECT_TRUE(r.isAliveTcpTask("young"));
    const CVariant<TcpTsk_Info> removed = r.remove_TaskFromList("young");
    ASSERT_TRUE(removed.hasValue());
    EXPECT_GT(removed.getValue().finishact_timing.load(), 0);
    EXPECT_TRUE(r.remove_TaskFromList("young").isEmpty());
}

TEST(TcpReactor, ClientThatCannotConnectDoesNotStart)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    CLSC::TcpCliReactor r;
    EXPECT_FALSE(r.reAction(QHostAddress::LocalHost, port));
    EXPECT_TRUE(r.getAliveSession().isEmpty());
    CTask_FormData req, resp;
    req.url = "/x";
    EXPECT_FALSE(r.post_sync(req, resp, 100));
}

}  // namespace
