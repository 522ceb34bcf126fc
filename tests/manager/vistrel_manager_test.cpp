// The application manager on real services: the HTTP control API, the
// publisher, the flow manager, the statistics, the reactor with an
// in-process camera-pair link, and (after startwork) the UDP IO transport in
// a private network of the test's own.
#include "manager/vistrel_manager.h"

#include "flow/flowpart_base.h"
#include "flow/product_manager.h"
#include "foundation/foundationglobals.h"
#include "foundation/qstring_tl.h"
#include "group/rpcdistributed_reactor.h"
#include "io/tm_zru_iodevice.h"
#include "io/vcam_io.h"
#include "manager/apppushes.h"
#include "net/publishbench.h"
#include "net/tm_zrp_publish.h"
#include "net/udp_push2app.h"
#include "statistics/stage_productstatistics.h"
#include "support/cameragroup.h"
#include "support/inprocesslink.h"
#include "support/logcapture.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <gtest/gtest.h>

#include <memory>

namespace {

using iotest::kCameraIp;
using iotest::kSelf;
using iotest::kSub;
using iotest::kSubIp;

using testsupport::waitFor;

// The IO frame, noting the thread of every output reset and cut-off.
class ThreadNotingIO : public VCam_IO {
public:
    void IOSetOut_ResetAllKeep() override
    {
        resetThreads.append(QThread::currentThread());
        VCam_IO::IOSetOut_ResetAllKeep();
    }
    void IOSetOut_AllCutoff() override
    {
        cutoffThreads.append(QThread::currentThread());
        VCam_IO::IOSetOut_AllCutoff();
    }
    QList<QThread*> resetThreads;  // written on the transport thread, read after a wait
    QList<QThread*> cutoffThreads;
};

// The main camera CAMSELF of the group CAMSELF, CAMSUB1 in a private network,
// with its IO frame and a manager on an in-process link.
struct ManagerBench {
    IsolatedNetwork net;  // first: the transport's and the API's sockets live in it
    nettest::CameraWork camera;
    testsupport::InProcessLink link;
    ThreadNotingIO io;
    std::unique_ptr<Vistrel_Manager> manager;

    ManagerBench()
    {
        g_FrameIO = &io;
        Vistrel_ManagerOptions options;
        options.http.port = 0;
        options.http.cachefile_path = camera.dir() + "/tmp/";
        options.link = &link;
        options.meminfoPath = camera.dir() + "/meminfo";
        manager = std::make_unique<Vistrel_Manager>(options);
    }
    ~ManagerBench()
    {
        manager.reset();
        g_FrameIO = nullptr;
        gLan = 0;
    }
    bool ok() const { return net.ok(); }
    void setGroup(const QList<DeviceNetInfo>& cameras)
    {
        ZRC_DeviceInfos g = iotest::testGroup(iotest::Role::Main);
        g.cameras = cameras;
        camera.mgr->set_device_info(g);
    }
};

#define SKIP_WITHOUT_NETWORK(bench) \
    if (!(bench).ok())              \
    GTEST_SKIP() << "no private network: " << (bench).net.error().toStdString()

}  // namespace

TEST(VistrelManager, HttpServiceTakesEveryAddressPort10414FiftyQueuedOneRequestPerUrl)
{
    const Vistrel_ManagerOptions defaults;
    EXPECT_EQ(defaults.http.host, QHostAddress(QHostAddress::Any));
    EXPECT_EQ(defaults.http.port, 10414);
    EXPECT_EQ(defaults.http.limit_max_recvdatas, 50);
    EXPECT_TRUE(defaults.http.limit_onlyurl);
    EXPECT_EQ(defaults.http.cachefile_path, QStringLiteral("/userdata/tmp/"));

    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    EXPECT_EQ(b.manager->httpService()->reactor()->get_limit_max_recvdatas(), 50);
    EXPECT_TRUE(b.manager->httpService()->reactor()->get_limit_onlyurl());
    EXPECT_EQ(Vistrel_Manager::instance(), b.manager.get());
    EXPECT_EQ(HubManager::instance(), b.manager.get());
    EXPECT_EQ(RpcDistributed_Reactor::_instance, b.manager->reactor());
    // Seven work events and three quick meets, each also with "(rpc)".
    EXPECT_EQ(b.manager->reactor()->topics().size(), 20);
}

TEST(VistrelManager, StartRecordNamesThePositionInTheGroup)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    struct Row {
        const char* name;
        QList<DeviceNetInfo> cameras;
        int position;
    };
    const std::vector<Row> rows = {
        {"main camera", {DeviceNetInfo(kSelf, kCameraIp, 1), DeviceNetInfo(kSub, kSubIp, 0)}, 0},
        {"sub camera", {DeviceNetInfo(kSub, kSubIp, 1), DeviceNetInfo(kSelf, kCameraIp, 0)}, 1},
        {"absent", {DeviceNetInfo(kSub, kSubIp, 1)}, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        b.setGroup(row.cameras);
        EXPECT_EQ(Vistrel_Manager::startRecordText(),
                  QStringLiteral("相机 %1 启动，ID：%2, IP: %3").arg(row.position).arg(kSelf, kCameraIp));
    }
}

TEST(VistrelManager, LanguageSelectsTheTextColumnOnTheManagersThreadOnly)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    struct Row {
        const char* language;
        int column;
    };
    for (const Row& row : {Row{"en-US", 1}, Row{"zh-CN", 0}, Row{"en-US", 1}, Row{"fr", 0}}) {
        SCOPED_TRACE(row.language);
        EXPECT_TRUE(b.manager->set_Language(QString::fromLatin1(row.language)));
        EXPECT_EQ(gLan.load(), row.column);
    }

    bool answer = true;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { answer = b.manager->set_Language(QStringLiteral("en-US")); }));
    worker->start();
    worker->wait();
    EXPECT_FALSE(answer);
    EXPECT_EQ(gLan.load(), 0) << "not applied on the calling thread";
    EXPECT_TRUE(waitFor([] { return gLan.load() == 1; })) << "re-posted to the manager's thread";
}

TEST(VistrelManager, TheTakenApplicationsLanguageReachesTheLanguageSwitch)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    ASSERT_EQ(Vistrel_Manager::instance(), b.manager.get());
    const QString app = QStringLiteral("127.0.0.2");
    b.camera.mgr->update_working_info([&](ZRC_WorkInfos& w) { w.taken_app_ip = app.toStdString(); });
    Udp_Push2APP client(-1);  // carried, never started: its answer slot is fed here
    CTask_FormData answer;
    answer.peer_address = app;
    answer.json = QJsonObject{{"result", QJsonObject{{"dotaken", true}, {"language", "en-US"}}}};
    // On the client's socket thread, as in the program: re-posted to the manager.
    std::unique_ptr<QThread> socketThread(QThread::create([&] { client.slot_udp_recv_rsp(answer); }));
    socketThread->start();
    socketThread->wait();
    EXPECT_EQ(g_Language.get(), QStringLiteral("en-US"));
    EXPECT_TRUE(waitFor([] { return gLan.load() == 1; })) << "the English column on the manager's thread";
    g_Language = QStringLiteral("zh-CN");
}

TEST(VistrelManager, UsedMemoryIsTotalLessAvailableInWholeMegabytes)
{
    struct Row {
        const char* name;
        QByteArray meminfo;
        QString used;
    };
    const Row rows[] = {
        {"as the kernel writes it",
         "MemTotal:        2048000 kB\nMemFree:          100000 kB\nMemAvailable:    1024000 kB\n", "1000"},
        {"other order, no colon", "MemAvailable 1000 kB\nMemTotal 4095 kB", "3"},
        {"no MemAvailable", "MemTotal: 2048000 kB\nMemFree: 1024000 kB\n", ""},
        {"a value without its unit is no line of three parts", "MemTotal: 2048000\nMemAvailable: 1024000 kB\n", ""},
        {"not a number", "MemTotal: lots kB\nMemAvailable: 1024000 kB\n", ""},
        {"empty", "", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Vistrel_Manager::usedMemoryFromMeminfo(row.meminfo), row.used) << row.name;
}

TEST(VistrelManager, RunReportsLogMemoryLivenessAndTheFlowPartCount)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    struct CountedPart : FlowPart_Base {
        void onStart_Working() override {}
    };
    CountedPart parts[3];
    const int alive = g_flowpart_base_count.load();
    ASSERT_GE(alive, 3);
    const QRegularExpression line(QStringLiteral(
        "^--- Reports --- UsedMem: (\\d*) MB; Thread-ICHU: \\[[01],[01],[01],[01]\\]; Cnted-IC: \\[[01],[01]\\]; "
        "Apps: .*Flowpart-Count: (\\d+)$"));

    auto reportLine = [](const testsupport::LogCapture& log) {
        const QStringList lines = log.messages().filter(QStringLiteral("--- Reports ---"));
        return lines.isEmpty() ? QString() : lines.last();
    };

    QFile meminfo(b.camera.dir() + "/meminfo");
    ASSERT_TRUE(meminfo.open(QIODevice::WriteOnly));
    meminfo.write("MemTotal:        2048000 kB\nMemFree:          100000 kB\nMemAvailable:    1024000 kB\n");
    meminfo.close();
    {
        testsupport::LogCapture log;
        b.manager->slot_RunReports();
        ASSERT_TRUE(log.reachesLogFiles(QStringLiteral("--- Reports --- UsedMem:")));
        const QRegularExpressionMatch m = line.match(reportLine(log));
        ASSERT_TRUE(m.hasMatch()) << reportLine(log).toStdString();
        EXPECT_EQ(m.captured(1), QStringLiteral("1000"));
        EXPECT_EQ(m.captured(2).toInt(), alive);
    }

    // An unreadable file: no figure, the report still goes out.
    ASSERT_TRUE(meminfo.remove());
    testsupport::LogCapture log;
    b.manager->slot_RunReports();
    const QRegularExpressionMatch m = line.match(reportLine(log));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(1), QString());
}

TEST(VistrelManager, AliveWhileTheRunStateRefreshIsYoungerThanTwoSeconds)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    qint64 now = 5000;
    b.manager->appPushes()->setMonotonicClock([&now] { return now; });
    b.manager->appPushes()->update_stash_runstate_json(true);
    struct Row {
        qint64 age;
        bool alive;
    };
    for (const Row& row : {Row{0, true}, Row{1990, true}, Row{1999, true}, Row{2000, false}, Row{60000, false}}) {
        now = 5000 + row.age;
        EXPECT_EQ(b.manager->getTimerAlived(), row.alive) << row.age;
    }
}

TEST(VistrelManager, StartworkStartsEveryServiceAndFollowsTheGroup)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.manager->startwork();

    TM_ZRU_IODevice* transport = b.manager->ioTransport();
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(b.io.getReactor(), transport);
    EXPECT_TRUE(waitFor([&] { return transport->listeningPorts().size() == 2; }));
    EXPECT_TRUE(b.manager->httpService()->reactor()->isRunning_mg() || waitFor([&] {
        return b.manager->httpService()->reactor()->isRunning_mg();
    }));
    EXPECT_TRUE(waitFor([&] { return b.manager->getTimerAlived(); }));
    // The 100 ms refresh keeps the publisher's run-state stash.
    EXPECT_TRUE(waitFor([&] { return !b.manager->publisher()->get_p2ahb_stash_runstate().isEmpty(); }));
    // The flow manager's traverse stamps the main loop's tick.
    const qint64 stamped = b.camera.mgr->mainloop_tick_written_ms();
    EXPECT_TRUE(waitFor([&] { return b.camera.mgr->mainloop_tick_written_ms() > stamped; }));

    // The membership record of the group.
    SRPC_WS_Interface view = b.link.get_interface();
    EXPECT_EQ(view.own_id, kSelf);
    EXPECT_EQ(view.main_id, kSelf);
    EXPECT_TRUE(view.is_main);
    ASSERT_EQ(view.subs.size(), 1);
    EXPECT_EQ(view.subs.first().uuid, kSub);

    // Two cameras become three: the statistics count three, the link sees two subs.
    const auto cameras = [&] {
        return QJsonDocument::fromJson(b.manager->stat_getCur(-1).value("detect_ok_detail").toByteArray()).array().size();
    };
    EXPECT_NE(cameras(), 3);
    b.setGroup({DeviceNetInfo(kSelf, kCameraIp, 1), DeviceNetInfo(kSub, kSubIp, 0),
                DeviceNetInfo("CAMSUB2", "127.0.0.5", 0)});
    EXPECT_TRUE(waitFor([&] { return cameras() == 3; }));
    EXPECT_EQ(b.link.get_interface().subs.size(), 2);
}

TEST(VistrelManager, LinkSupervisionHandlersRunOnTheIoTransportThread)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.manager->startwork();
    TM_ZRU_IODevice* transport = b.manager->ioTransport();
    ASSERT_NE(transport, nullptr);
    QThread* ioThread = transport->reactorThread();
    const int resetsBefore = b.io.resetThreads.size();

    emit b.manager->reactor()->sig_wscams_found_subcams_broke();
    ASSERT_TRUE(waitFor([&] { return !b.io.cutoffThreads.isEmpty(); }));
    EXPECT_EQ(b.io.cutoffThreads.last(), ioThread);

    emit b.manager->reactor()->sig_wscams_first_cnted();
    ASSERT_TRUE(waitFor([&] { return b.io.resetThreads.size() > resetsBefore; }));
    EXPECT_EQ(b.io.resetThreads.last(), ioThread);
    EXPECT_NE(ioThread, QThread::currentThread());
}

TEST(VistrelManager, RemoteRestartGoesOnlyToAKnownSubCameraAndNeverWaits)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    QTcpServer sub;
    ASSERT_TRUE(sub.listen(QHostAddress(kSubIp)));
    // The sub camera's API: accepts and reads, never answers.
    QByteArray heard;
    QList<QTcpSocket*> peers;
    QObject::connect(&sub, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* s = sub.nextPendingConnection()) {
            peers << s;
            QObject::connect(s, &QTcpSocket::readyRead, [&heard, s] { heard += s->readAll(); });
        }
    });
    // A manager whose restart requests go to the listener's port.
    b.manager.reset();
    Vistrel_ManagerOptions options;
    options.http.port = 0;
    options.link = &b.link;
    options.restartPort = sub.serverPort();
    b.manager = std::make_unique<Vistrel_Manager>(options);

    struct Row {
        const char* name;
        QString id;
        int subRole;
        bool sent;
    };
    const std::vector<Row> rows = {
        {"unknown device", "NOSUCH", 0, false},
        {"the main camera", kSelf, 0, false},
        {"sub with another state", kSub, 2, false},
        {"sub camera", kSub, 0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        b.setGroup({DeviceNetInfo(kSelf, kCameraIp, 1), DeviceNetInfo(kSub, kSubIp, row.subRole)});
        const int before = b.manager->restartRequests().size();
        QString answeredUrl;
        QMetaObject::Connection c = QObject::connect(
            b.manager.get(), &Vistrel_Manager::sig_RestartAnswered,
            [&answeredUrl](const QString& url, const QString&) { answeredUrl = url; });
        b.manager->onRestartSubCamera(row.id);
        // No local event loop ran in the handler: the listener took nothing yet.
        EXPECT_TRUE(peers.isEmpty());
        EXPECT_EQ(b.manager->restartRequests().size() - before, row.sent ? 1 : 0);
        if (row.sent) {
            const QString url = QStringLiteral("http://%1:%2/dide/debug/restart_rpc_service")
                                    .arg(kSubIp)
                                    .arg(sub.serverPort());
            EXPECT_EQ(b.manager->restartRequests().last(), url);
            // Unanswered: the transfer gives up on its own.
            EXPECT_TRUE(waitFor([&] { return answeredUrl == url; }));
            // On a loaded machine the 50 ms may run out before the request is
            // written; whatever arrived is that request.
            if (!heard.isEmpty()) {
                EXPECT_TRUE(heard.startsWith("GET /dide/debug/restart_rpc_service HTTP/1.1")) << heard.constData();
            }
        }
        QObject::disconnect(c);
    }
    qDeleteAll(peers);
}

TEST(VistrelManager, EnglishTranslatesTheStartRecordAndTheRunState)
{
    ManagerBench b;
    SKIP_WITHOUT_NETWORK(b);
    struct Row {
        const char* language;
        QString record;
        QString runState;
        QString link;
    };
    const std::vector<Row> rows = {
        {"en-US", QStringLiteral("Camera 0 started, ID: CAMSELF, IP: 127.0.0.1"), QStringLiteral("Running normally"),
         QStringLiteral("IO connection interrupted")},
        {"zh-CN", QStringLiteral("相机 0 启动，ID：CAMSELF, IP: 127.0.0.1"), QStringLiteral("正常运行"),
         QStringLiteral("IO连接出现中断")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.language);
        ASSERT_TRUE(b.manager->set_Language(QString::fromLatin1(row.language)));
        EXPECT_EQ(Vistrel_Manager::startRecordText(), row.record);
        // The run state's text and a link record, as the hub and the
        // liveness reporter translate them.
        EXPECT_EQ(QCoreApplication::translate("DiVuVarude", "正常运行"), row.runState);
        EXPECT_EQ(QCoreApplication::translate("SmartManager_Deamon", "IO连接出现中断"), row.link);
    }
}

TEST(VistrelManager, AWorkEventRunsOverTheGroupAndAnUninspectedCameraIsNg)
{
    // This camera (no hub: it cannot look) and the sub camera S1, an
    // in-process camera with its own thread, reactor and scripted seam.
    testsupport::CameraGroup others(1);
    auto bench = std::make_unique<ManagerBench>();
    ManagerBench& b = *bench;
    SKIP_WITHOUT_NETWORK(b);
    testsupport::GroupCamera& sub = others.sub(1);
    b.setGroup({DeviceNetInfo(kSelf, kCameraIp, 1), DeviceNetInfo("S1", "10.0.0.11", 0)});
    sub.onMain([&] {
        SRPC_WS_Interface view = sub.reactor->get_interface();
        view.main_id = kSelf;
        view.main_address = kCameraIp;
        sub.reactor->connection_establishment(view);
    });
    b.link.attachSub("S1", &sub.link);
    b.manager->reactor()->connection_establishment(Vistrel_Manager::membershipRecord());

    struct Row {
        const char* name;
        QList<bool> subResults;
    };
    for (const Row& row : {Row{"sub OK", {true}}, Row{"sub NG", {false}}}) {
        SCOPED_TRACE(row.name);
        sub.services.scriptResults(row.subResults);
        FlowWork_Condition cond;
        cond.cond_type = CondType_ManualTrig;
        cond.cond_url = QStringLiteral("/dide/action/manual_catch");
        FlowUnit_Passport passport(QStringLiteral("pp-%1").arg(row.name), cond);
        FlowUnit_State unit = passport.get_unit_state();
        unit.fus_detect_index = 0;
        unit.fus_detect_index_abs = 0;
        passport.set_unit_state(unit);

        const FlowWork_WorkEvent_Back back = b.manager->WorkEvent_Standard(passport);
        EXPECT_EQ(back.work_error, 0);
        EXPECT_EQ(back.result, 0) << "this camera did not look: never OK";
        ASSERT_TRUE(back.collectlist.contains("S1"));
        EXPECT_EQ(back.collectlist.value("S1").result, row.subResults.first());
        ASSERT_TRUE(back.collectlist.contains(kSelf));
        EXPECT_FALSE(back.collectlist.value(kSelf).result);
        EXPECT_FALSE(b.camera.work().busy);
    }
    EXPECT_EQ(sub.services.calls().filter("RunAlgorithm_New").size(), 2);
    // The manager's finished events go with its reactor.
    bench.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(waitFor([] { return RpcDistributed_Core::liveCount() == 0; }, 10000));
}
