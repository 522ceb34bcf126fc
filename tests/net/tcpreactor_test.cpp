// Sessions and reactors on loopback: where the work runs, matching of
// responses, limits on what a peer may send, and the task list.
#include "net/session.h"
#include "net/tcpreactor.h"
#include "nettestbench.h"
#include "support/logcapture.h"
#include "tools/appsim/appsimulator.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "platform/system/dataroot.h"

#include <QDirIterator>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <glog/logging.h>
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

// Under the log settings the camera program starts with (only "level_1"
// reaches the files), a refused message is in the INFO log file, not only on
// a console.
TEST(TcpReactor, ARefusedMessageReachesTheLogFiles)
{
    LogManager_Config lc;
    lc.app_path = QCoreApplication::applicationFilePath();
    lc.glog_dir = "/userdata/log/";
    lc.log_to_stderr = false;
    lc.stdlog_dir = "/userdata/log_stdout/";
    LogManager::getInstance(lc);
    LogManager::setLogInfoLevel({"level_1"});

    CLSC::TcpServReactor server;
    ASSERT_TRUE(server.reAction(QHostAddress::LocalHost, 0));
    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(c.waitForConnected(1000));
    const QString from = QStringLiteral("127.0.0.1 %1").arg(c.localPort());
    c.write("POST /refused HTTP/1.1\r\nContent-Length: -4\r\n\r\n");
    EXPECT_TRUE(waitUntil([&] { return c.state() == QAbstractSocket::UnconnectedState; }, 10000));

    google::FlushLogFiles(google::GLOG_INFO);
    QString logs;
    QDirIterator it(platform::DataRoot::path("/userdata/log"), {"LOG_*.log"}, QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            logs += QString::fromUtf8(f.readAll());
    }
    EXPECT_TRUE(logs.contains("[TCP_RECV] refused from " + from)) << logs.right(2000).toStdString();
    EXPECT_TRUE(logs.contains("Content-Length negative"));
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
    // On a worker of its own and on a shared thread alike.
    const auto shared = std::make_shared<CLSC::ReactorThread>("shared");
    for (bool onShared : {false, true}) {
        CLSC::TcpCliReactor r;
        if (onShared)
            r.useThread(shared);
        EXPECT_FALSE(r.reAction(QHostAddress::LocalHost, port)) << onShared;
        if (onShared) {
            // (A worker of its own may still be winding down here.)
            EXPECT_FALSE(r.isRunning());
        }
        EXPECT_EQ(r.workerThread(), nullptr) << onShared;
        EXPECT_TRUE(r.getAliveSession().isEmpty()) << onShared;
        CTask_FormData req, resp;
        req.url = "/x";
        EXPECT_FALSE(r.post_sync(req, resp, 100)) << onShared;
    }
}

// A client reactor whose sessions a test may look at.
struct VisibleClient : CLSC::TcpCliReactor {
    using CLSC::TcpReactor::allSessions;
};

TEST(TcpReactor, ReactorsOnASharedThreadSendThereAndKeepTheOrderOfTheirMessages)
{
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));
    const auto shared = std::make_shared<CLSC::ReactorThread>("shared");
    const int threadsBefore = nettest::threadCount();
    QMutex lock;  // before the reactors: their handlers use these to the end
    QSet<QThread*> writers;
    QSet<QThread*> responders;
    VisibleClient a, b;
    a.useThread(shared);
    b.useThread(shared);
    ASSERT_TRUE(a.reAction(QHostAddress::LocalHost, app.tcpPort()));
    ASSERT_TRUE(b.reAction(QHostAddress::LocalHost, app.tcpPort()));
    EXPECT_TRUE(a.isRunning());
    EXPECT_EQ(a.workerThread(), shared->thread());
    EXPECT_EQ(b.workerThread(), shared->thread());
    EXPECT_LE(nettest::threadCount(), threadsBefore);  // neither started a thread

    // Which thread writes: the sockets' bytes leave on the thread that
    // writes them (bytesWritten is emitted where the socket flushes).
    for (VisibleClient* r : {&a, &b}) {
        const QList<QPointer<Session>> sessions = r->allSessions();
        ASSERT_EQ(sessions.size(), 1);
        QTcpSocket* socket = sessions.first()->tcpSocket();
        EXPECT_EQ(socket->thread(), shared->thread());
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [&] {
            QMutexLocker l(&lock);
            writers.insert(QThread::currentThread());
        }, Qt::DirectConnection);
        QObject::connect(r, &CLSC::TcpReactor::sigResponse, r, [&](const CTask_FormData&, bool) {
            QMutexLocker l(&lock);
            responders.insert(QThread::currentThread());
        }, Qt::DirectConnection);
    }

    // The caller never waits for a write: messages to both, interleaved.
    CTask_FormData f;
    f.url = "/dide/initiative/runresult_info";
    for (int i = 0; i < 10; ++i) {
        for (auto* r : {static_cast<CLSC::TcpReactor*>(&a), static_cast<CLSC::TcpReactor*>(&b)}) {
            f.uuid = QStringLiteral("%1-%2").arg(r == &a ? "A" : "B").arg(i);
            f.json = QJsonObject{{"n", i}};
            EXPECT_TRUE(r->post_async(f));
        }
    }
    ASSERT_TRUE(waitUntil([&] { return app.pushes().size() == 20; }, 10000));
    // Each connection carries its messages in the order they were posted.
    QStringList fromA, fromB;
    for (const CTask_FormData& got : app.pushes())
        (got.uuid.startsWith("A-") ? fromA : fromB) << got.uuid;
    QStringList wantA, wantB;
    for (int i = 0; i < 10; ++i) {
        wantA << QStringLiteral("A-%1").arg(i);
        wantB << QStringLiteral("B-%1").arg(i);
    }
    EXPECT_EQ(fromA, wantA);
    EXPECT_EQ(fromB, wantB);
    ASSERT_TRUE(waitUntil([&] {
        QMutexLocker l(&lock);
        return !responders.isEmpty();
    }));
    {
        QMutexLocker l(&lock);
        EXPECT_EQ(writers, QSet<QThread*>{shared->thread()});
        EXPECT_EQ(responders, QSet<QThread*>{shared->thread()});
    }

    // A stop ends the reactor's connection, not the thread: the next
    // reactor runs on the same one.
    a.deinitialize();
    EXPECT_FALSE(a.isRunning());
    EXPECT_TRUE(shared->thread()->isRunning());
    VisibleClient c;
    c.useThread(shared);
    ASSERT_TRUE(c.reAction(QHostAddress::LocalHost, app.tcpPort()));
    EXPECT_EQ(c.workerThread(), shared->thread());
    EXPECT_LE(nettest::threadCount(), threadsBefore);
}

// A start with its first message on a shared thread: the message reaches
// the peer, its answer is matched on that thread (the task is listed before
// the connection opens), and a start that fails sends nothing and leaves no
// task listed.
TEST(TcpReactor, StartWithAMessageOnASharedThreadSendsThereOrNothing)
{
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = closed.serverPort();
    closed.close();
    const auto shared = std::make_shared<CLSC::ReactorThread>("shared");

    QMutex lock;
    QList<QPair<QThread*, bool>> answers;
    CLSC::TcpCliReactor r;
    r.useThread(shared);
    QObject::connect(&r, &CLSC::TcpReactor::sigResponse, &r, [&](const CTask_FormData&, bool matched) {
        QMutexLocker l(&lock);
        answers << qMakePair(QThread::currentThread(), matched);
    }, Qt::DirectConnection);
    CTask_FormData f;
    f.url = "/dide/initiative/runresult_info";
    f.uuid = "first-message";
    f.json = QJsonObject{{"n", 1}};

    EXPECT_FALSE(r.reActionAndPost(QHostAddress::LocalHost, closedPort, f));
    EXPECT_EQ(r.workerThread(), nullptr);
    EXPECT_FALSE(r.isAliveTcpTask("first-message"));

    ASSERT_TRUE(r.reActionAndPost(QHostAddress::LocalHost, app.tcpPort(), f));
    EXPECT_EQ(r.workerThread(), shared->thread());
    ASSERT_TRUE(waitUntil([&] { return app.pushes().size() == 1; }, 5000));
    EXPECT_EQ(app.pushes().first().uuid, "first-message");
    ASSERT_TRUE(waitUntil([&] {
        QMutexLocker l(&lock);
        return !answers.isEmpty();
    }));
    QMutexLocker l(&lock);
    EXPECT_EQ(answers.first().first, shared->thread());
    EXPECT_TRUE(answers.first().second) << "listed before the start, so the answer is matched";
}

}  // namespace
