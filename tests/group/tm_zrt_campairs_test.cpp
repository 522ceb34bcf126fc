// The camera-pair link on the private test LAN: the main camera's link
// against simulated and real sub cameras, each on its own host listening on
// the real 8765. Ticks are driven by hand (the links' 800 ms timers are off).
#include "group/campairs_client.h"
#include "group/campairs_server.h"
#include "grouplan.h"
#include "platform/system/monotonicclock.h"
#include "support/logcapture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimer>
#include <QWebSocket>
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace grouptest;

namespace {

const QString kMain = QStringLiteral("MAIN-0001");
const QString kSub = QStringLiteral("SUB-0002");

SubCameraSimulator::Config simConfig(const QList<SubConnectionScript>& scripts = {})
{
    SubCameraSimulator::Config c;
    c.ownId = kSub;
    c.mainId = kMain;
    c.scripts = scripts;
    return c;
}

// A main camera's link on one host and a simulated sub on another.
struct MainWithSim {
    LanHost* mh = nullptr;
    LanHost* sh = nullptr;
    SubCameraSimulator* sim = nullptr;
    TM_ZRT_CamPairs* link = nullptr;  // null when any of them could not be made
};

MainWithSim mainWithSim(GroupLan& g, const QList<SubConnectionScript>& scripts)
{
    MainWithSim m;
    m.mh = g.host();
    m.sh = g.host();
    if (!m.mh || !m.sh)
        return m;
    m.sim = g.sim(m.sh, simConfig(scripts));
    if (m.sim)
        m.link = g.link(m.mh, mainView(kMain, {member(kSub, m.sh->address(), 0)}));
    return m;
}

QJsonObject json(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// TCP_NODELAY of every TCP connection of this process to or from `port`,
// read from the kernel: one entry per connection end.
QList<int> noDelayOfConnections(quint16 port)
{
    QList<int> out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& name : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int fd = name.toInt(&number);
        if (!number || !QFileInfo(fds.filePath(name)).symLinkTarget().contains(QLatin1String("socket:")))
            continue;
        int type = 0;
        socklen_t len = sizeof type;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM)
            continue;
        sockaddr_storage local{}, peer{};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) != 0
            || ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) != 0)
            continue;  // a listening socket has no peer
        auto portOf = [](const sockaddr_storage& a) {
            if (a.ss_family == AF_INET)
                return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
            if (a.ss_family == AF_INET6)
                return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
            return in_port_t(0);
        };
        if (portOf(local) != port && portOf(peer) != port)
            continue;
        int noDelay = -1;
        len = sizeof noDelay;
        ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &len);
        out.append(noDelay);
    }
    return out;
}

// Ticks until a check has finished after `before` checks.
bool tickAndCheck(TM_ZRT_CamPairs* link, int before)
{
    tick(link);
    return waitUntil([&] { return link->checksDone() > before; });
}

}  // namespace

TEST(CamPairsLink, PairsWithTheRightSubAndCarriesRequestsAndReplies)
{
    LAN_OR_SKIP(g);
    const MainWithSim m = mainWithSim(g, {});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;
    SignalLog log;
    log.attach(link);

    ASSERT_TRUE(tickAndCheck(link, 0));
    EXPECT_EQ(link->checksPassed(), 1);
    EXPECT_EQ(log.brokeCount(), 1);  // the first tick found no client
    EXPECT_FALSE(link->getIsCnetd());
    tick(link);
    EXPECT_EQ(log.brokeCount(), 1);  // now alive: no new breakage
    EXPECT_TRUE(link->getIsCnetd());

    // The check the sub saw: its main's id, an empty datas, a generated uuid.
    const QJsonObject check = json(sim->frames().value(0).text);
    EXPECT_EQ(check.value("topic").toString(), QStringLiteral("/dide/subcamera/checkid"));
    EXPECT_EQ(check.value("device_id").toString(), kMain);
    EXPECT_TRUE(check.value("uuid").toString().startsWith("vc_webskt#"));

    // A spread from another thread returns at once; the frame follows with
    // "(rpc)" and the main's id, and the sub's reply reaches the link thread.
    SRPC_WS_FormData req;
    req.valid = true;
    req.topic = QStringLiteral("/dide/action/manual_catch");
    req.uuid = QStringLiteral("u-42");
    req.device_id = QStringLiteral("someone");
    req.datas.insert(QStringLiteral("passport"), QStringLiteral("{}"));
    EXPECT_EQ(link->SpreadMessage(req), 0);
    // (The pairing answer went the same way before.)
    auto rpcReplies = [&] {
        QList<SRPC_WS_FormData> out;
        for (const auto& f : log.replies()) {
            if (f.topic.endsWith(QStringLiteral("(rpc_back)")))
                out.append(f);
        }
        return out;
    };
    ASSERT_TRUE(waitUntil([&] { return rpcReplies().size() == 1; }));
    ASSERT_GE(sim->frames().size(), 2);
    const QJsonObject sent = json(sim->frames().value(1).text);
    EXPECT_EQ(sent.value("topic").toString(), QStringLiteral("/dide/action/manual_catch(rpc)"));
    EXPECT_EQ(sent.value("device_id").toString(), kMain);
    EXPECT_EQ(sent.value("uuid").toString(), QStringLiteral("u-42"));
    EXPECT_EQ(sim->frames().value(1).text,
              QStringLiteral("{\"datas\":{\"passport\":\"{}\"},\"device_id\":\"MAIN-0001\",\"topic\":"
                             "\"/dide/action/manual_catch(rpc)\",\"uuid\":\"u-42\"}"));
    const SRPC_WS_FormData reply = rpcReplies().first();
    EXPECT_EQ(reply.topic, QStringLiteral("/dide/action/manual_catch(rpc_back)"));
    EXPECT_EQ(reply.uuid, QStringLiteral("u-42"));
    EXPECT_EQ(reply.device_id, kSub);
    EXPECT_TRUE(reply.datas.value("result").toBool());
    for (QThread* t : log.emittingThreads())
        EXPECT_EQ(t, link->thread());
    EXPECT_NE(link->thread(), QThread::currentThread());
}

TEST(CamPairsLink, PairingCheckTable)
{
    LAN_OR_SKIP(g);
    const MainWithSim m = mainWithSim(g, {});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;

    using Check = SubConnectionScript::Check;
    struct Row {
        const char* name;
        Check check;
        int delayMs;
        bool otherUuid;
        bool pairs;
    };
    const Row rows[] = {
        {"right id", Check::Right, 0, false, true},
        {"wrong id", Check::Wrong, 0, false, false},
        {"silent", Check::Silent, 0, false, false},
        {"right id under another uuid", Check::Right, 0, true, true},
        {"right id 250 ms late", Check::Right, 250, false, false},
    };
    for (const Row& r : rows) {
        SubConnectionScript s;
        s.check = r.check;
        s.checkDelayMs = r.delayMs;
        s.otherUuid = r.otherUuid;
        // The next connection is played by the row: end the current one.
        sh->call([&] {
            sim->setScripts({s});
            sim->die();
            sim->comeBack();
        });
        ASSERT_TRUE(waitUntil([&] {
            bool alive = false;
            onLink(link, [&] { alive = link->getBlockSubCamera().isEmpty(); });
            return !alive;
        })) << r.name;
        const int closes = sim->closeCodes().size();
        const int before = link->checksDone();
        const int passed = link->checksPassed();
        ASSERT_TRUE(tickAndCheck(link, before)) << r.name;
        EXPECT_EQ(link->checksPassed() - passed, r.pairs ? 1 : 0) << r.name;
        QStringList blocked;
        onLink(link, [&] { blocked = link->getBlockSubCamera(); });
        EXPECT_EQ(blocked.isEmpty(), r.pairs) << r.name;
        if (!r.pairs) {
            // A failed check closes the connection with 1000.
            EXPECT_TRUE(waitUntil([&] { return sim->closeCodes().size() > closes; })) << r.name;
            EXPECT_EQ(sim->closeCodes().value(closes), 1000) << r.name;
        }
    }
}

TEST(CamPairsLink, BlockedSubTickTable)
{
    LAN_OR_SKIP(g);
    LanHost* mh = g.host();
    LanHost* nobody = g.host();  // reachable, nothing listens
    ASSERT_TRUE(mh && nobody) << g.lan.error().toStdString();
    TM_ZRT_CamPairs* link = g.link(mh, mainView(kMain, {member(kSub, nobody->address(), 0)}));
    ASSERT_NE(link, nullptr);
    SignalLog log;
    log.attach(link);

    QList<int> restartTicks;
    for (int t = 1; t <= 19; ++t) {
        const int restarts = log.restartList().size();
        CamPairs_Client* before = nullptr;
        CamPairs_Client* after = nullptr;
        onLink(link, [&] {
            before = link->clients().value(kSub);
            link->heartbeatTick();
            after = link->clients().value(kSub);
        });
        EXPECT_EQ(log.brokeCount(), t);
        EXPECT_NE(after, nullptr);
        EXPECT_NE(before, after) << "a new client every blocked tick";
        if (log.restartList().size() > restarts)
            restartTicks.append(t);
        EXPECT_FALSE(link->getIsCnetd());
    }
    EXPECT_EQ(restartTicks, (QList<int>{7, 13, 19}));
    EXPECT_EQ(log.restartList(), (QStringList{kSub, kSub, kSub}));
    EXPECT_EQ(link->reconnectTimes().value(kSub), 0);
    for (QThread* t : log.emittingThreads())
        EXPECT_EQ(t, link->thread());

    // A sub removed from the record: its client is dropped, nothing blocked.
    link->set_interface(mainView(kMain, {}));
    tick(link);
    EXPECT_TRUE(link->clients().isEmpty());
    EXPECT_TRUE(link->getIsCnetd());
    EXPECT_EQ(log.brokeCount(), 19);
}

TEST(CamPairsLink, CountersSurviveARecoveryAndAChangedAddressIsBlockedUntilReplaced)
{
    LAN_OR_SKIP(g);
    LanHost* mh = g.host();
    LanHost* sh = g.host();
    LanHost* other = g.host();
    ASSERT_TRUE(mh && sh && other) << g.lan.error().toStdString();
    SubConnectionScript silent;
    silent.check = SubConnectionScript::Check::Silent;
    SubCameraSimulator* sim = g.sim(sh, simConfig({silent, silent, silent, SubConnectionScript()}));
    ASSERT_NE(sim, nullptr);
    SubCameraSimulator* moved = g.sim(other, simConfig());
    ASSERT_NE(moved, nullptr);
    TM_ZRT_CamPairs* link = g.link(mh, mainView(kMain, {member(kSub, sh->address(), 0)}));
    ASSERT_NE(link, nullptr);
    SignalLog log;
    log.attach(link);

    // Three failed connections, then the fourth pairs.
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(tickAndCheck(link, i));
    tick(link);
    EXPECT_TRUE(link->getIsCnetd());
    EXPECT_EQ(log.brokeCount(), 4);
    EXPECT_EQ(link->reconnectTimes().value(kSub), 3);  // kept after the recovery

    // The sub's address changes: blocked at once, paired again on the new one.
    link->set_interface(mainView(kMain, {member(kSub, other->address(), 0)}));
    const int before = link->checksDone();
    ASSERT_TRUE(tickAndCheck(link, before));
    EXPECT_EQ(log.brokeCount(), 5);
    EXPECT_EQ(link->reconnectTimes().value(kSub), 4);
    tick(link);
    EXPECT_TRUE(link->getIsCnetd());
    EXPECT_EQ(link->clients().value(kSub)->get_dst_session().address, other->address());
}

TEST(CamPairsLink, ASubThatStopsAnsweringPingsIsDeadAfterOneSecond)
{
    LAN_OR_SKIP(g);
    SubConnectionScript noPong;
    noPong.stopReadingAfterCheck = true;
    const MainWithSim m = mainWithSim(g, {noPong, SubConnectionScript()});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;
    ASSERT_TRUE(tickAndCheck(link, 0));
    ASSERT_EQ(link->checksPassed(), 1);
    // The TCP connection stays up but no pong comes: dead once 1 s passed
    // since the last frame (the one real-time wait of this test).
    CamPairs_Client* first = link->clients().value(kSub);
    EXPECT_TRUE(waitUntil([&] {
        bool alive = true;
        onLink(link, [&] { alive = first->isCnted(); });
        return !alive;
    }));
    bool connected = false;
    onLink(link, [&] { connected = first->state() == QAbstractSocket::ConnectedState; });
    EXPECT_TRUE(connected);
    ASSERT_TRUE(tickAndCheck(link, 1));  // replaced; the second connection answers
    EXPECT_EQ(link->checksPassed(), 2);
    tick(link);
    EXPECT_TRUE(link->getIsCnetd());
}

// A sub that hangs without closing anything: its connection stays up but
// goes quiet, and new connections get no handshake. Every tick then finds
// it blocked and replaces its client, and the counter runs on to restart
// requests; once it answers again, a new client pairs.
TEST(CamPairsLink, ASubThatHangsStaysBlockedUntilItAnswersAgain)
{
    LAN_OR_SKIP(g);
    const MainWithSim m = mainWithSim(g, {});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    LanHost* sh = m.sh;
    SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;
    SignalLog log;
    log.attach(link);
    ASSERT_TRUE(pairEventually(link));
    CamPairs_Client* paired = link->clients().value(kSub);

    sh->call([sim] { sim->block(); });
    const int connections = sim->connections();
    // Dead once 1 s passed without a pong (the one real-time wait here);
    // the TCP connection is still up.
    EXPECT_TRUE(waitUntil([&] {
        bool alive = true;
        onLink(link, [&] { alive = paired->isCnted(); });
        return !alive;
    }));
    bool connected = false;
    onLink(link, [&] { connected = paired->state() == QAbstractSocket::ConnectedState; });
    EXPECT_TRUE(connected);

    const int broke = log.brokeCount();
    for (int t = 1; t <= 12; ++t) {
        tick(link);
        EXPECT_FALSE(link->getIsCnetd()) << t;
        QThread::msleep(50);  // time for the new client to reach the hung server
    }
    EXPECT_EQ(log.brokeCount() - broke, 12);
    EXPECT_EQ(sim->connections(), connections) << "no handshake while hung";
    EXPECT_GE(log.restartList().size(), 2) << "one on every sixth blocked tick";
    for (const QString& id : log.restartList())
        EXPECT_EQ(id, kSub);

    sh->call([sim] { sim->unblock(); });
    EXPECT_TRUE(pairEventually(link));
}

TEST(CamPairsLink, AlivenessEdgesFollowTheMonotonicClock)
{
    LAN_OR_SKIP(g);
    const MainWithSim m = mainWithSim(g, {});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;
    ASSERT_TRUE(tickAndCheck(link, 0));
    ASSERT_EQ(link->checksPassed(), 1);

    // Heartbeat: alive 1990 ms after the last tick, not at 2000 ms. Client:
    // alive at 990 ms after the last frame or pong, not at 1000 ms. The clock
    // is shifted through the platform's test hook, the client's pings are
    // stopped so nothing renews the stamp meanwhile.
    bool clientAt990 = false, clientAt1000 = true, heartbeatAt1990 = false, heartbeatAt2000 = true;
    onLink(link, [&] {
        CamPairs_Client* c = link->clients().value(kSub);
        c->pingTimer()->stop();
        link->heartbeatTick();
        c->touch();
        const qint64 start = platform::MonotonicClock::nowMs();
        platform::MonotonicClock::advanceForTest(990 - (platform::MonotonicClock::nowMs() - start));
        clientAt990 = c->isCnted() || c->ageMs() > 999;  // a slow machine may have passed 999 ms
        platform::MonotonicClock::advanceForTest(1000 - c->ageMs());
        clientAt1000 = c->isCnted();
        platform::MonotonicClock::advanceForTest(1990 - c->ageMs());
        heartbeatAt1990 = link->getTimerAlived() || c->ageMs() > 1999;
        platform::MonotonicClock::advanceForTest(2000 - c->ageMs());
        heartbeatAt2000 = link->getTimerAlived();
    });
    EXPECT_TRUE(clientAt990);
    EXPECT_FALSE(clientAt1000);
    EXPECT_TRUE(heartbeatAt1990);
    EXPECT_FALSE(heartbeatAt2000);
}

TEST(CamPairsLink, ASubCameraAnswersOnlyItsMainAndHandsOnlyRequestsToTheReactor)
{
    LAN_OR_SKIP(g);
    LanHost* mainHost = g.host();
    LanHost* subHost = g.host();
    LanHost* strangerHost = g.host();
    ASSERT_TRUE(mainHost && subHost && strangerHost) << g.lan.error().toStdString();
    TM_ZRT_CamPairs* sub = g.link(subHost, subView(kSub, kMain));
    ASSERT_NE(sub, nullptr);
    SignalLog log;
    log.attach(sub);
    testsupport::LogCapture logs;

    std::unique_ptr<SimPeerClient> main, stranger;
    bool mainOpen = false, strangerOpen = false;
    mainHost->call([&] {
        main = std::make_unique<SimPeerClient>();
        mainOpen = main->open(subHost->address());
    });
    strangerHost->call([&] {
        stranger = std::make_unique<SimPeerClient>();
        strangerOpen = stranger->open(subHost->address());
    });
    ASSERT_TRUE(mainOpen && strangerOpen);

    auto send = [](LanHost* h, SimPeerClient* c, const QString& text) { h->call([&] { c->send(text); }); };
    // The stranger's check and request, the main's plain topic and an
    // invalid frame: none gets an answer or reaches the reactor.
    send(strangerHost, stranger.get(), SubCameraSimulator::frame("/dide/subcamera/checkid", "s1", "STRANGER"));
    send(strangerHost, stranger.get(), SubCameraSimulator::frame("/dide/action/addtemplate(rpc)", "s2", "STRANGER"));
    send(strangerHost, stranger.get(), SubCameraSimulator::frame("/dide/action/addtemplate(rpc)", "s3", kMain + "x"));
    send(mainHost, main.get(), SubCameraSimulator::frame("/dide/action/manual_catch", "m0", kMain));
    send(mainHost, main.get(), QStringLiteral("{\"topic\":\"/dide/action/manual_catch(rpc)\",\"uuid\":\"m1\"}"));
    // The main's check is answered; its request reaches the reactor.
    send(mainHost, main.get(), SubCameraSimulator::frame("/dide/subcamera/checkid", "m2", kMain));
    send(mainHost, main.get(), SubCameraSimulator::frame("/dide/action/manual_catch(rpc)", "m3", kMain));
    ASSERT_TRUE(waitUntil([&] { return log.requests().size() == 1; }));
    QStringList mainGot;
    ASSERT_TRUE(waitUntil([&] {
        mainHost->call([&] { mainGot = main->received(); });
        return !mainGot.isEmpty();
    }));
    EXPECT_EQ(mainGot.first(), QStringLiteral("{\"datas\":{},\"device_id\":\"SUB-0002\",\"topic\":"
                                              "\"/dide/subcamera/checkid_back\",\"uuid\":\"m2\"}"));
    const SRPC_WS_FormData req = log.requests().first();
    EXPECT_EQ(req.uuid, QStringLiteral("m3"));
    EXPECT_NE(req.session.data(), nullptr);
    EXPECT_TRUE(logs.reachesLogFiles(QStringLiteral("refused frame from 10.77.0.")));
    EXPECT_EQ(sub->SpreadMessage(req), -1);  // a sub spreads nothing

    // The reply goes back on the request's connection.
    SRPC_WS_FormData reply = req;
    reply.topic = QStringLiteral("/dide/action/manual_catch");
    reply.datas = QVariantMap{{"result", true}};
    int sentBytes = -2;
    onLink(sub, [&] { sentBytes = sub->SendMessage_RpcBack(reply); });
    EXPECT_GT(sentBytes, 0);
    ASSERT_TRUE(waitUntil([&] {
        mainHost->call([&] { mainGot = main->received(); });
        return mainGot.size() == 2;
    }));
    const QJsonObject back = json(mainGot.at(1));
    EXPECT_EQ(back.value("topic").toString(), QStringLiteral("/dide/action/manual_catch(rpc_back)"));
    EXPECT_EQ(back.value("device_id").toString(), kSub);
    EXPECT_EQ(back.value("uuid").toString(), QStringLiteral("m3"));
    QStringList strangerGot;
    strangerHost->call([&] { strangerGot = stranger->received(); });
    EXPECT_TRUE(strangerGot.isEmpty());

    // Once the main's connection is gone, a late reply is refused, not sent.
    mainHost->call([&] { main.reset(); });
    ASSERT_TRUE(waitUntil([&] {
        bool gone = false;
        onLink(sub, [&] { gone = sub->server()->sockets().size() == 1; });
        return gone;
    }));
    ASSERT_TRUE(waitUntil([&] {
        int r = 0;
        onLink(sub, [&] { r = sub->SendMessage_RpcBack(reply); });
        return r == -1;
    }));
    EXPECT_TRUE(logs.reachesLogFiles(QStringLiteral("connection is gone")));
    strangerHost->call([&] { stranger.reset(); });
}

TEST(CamPairsLink, AnEmptyMainIdAcceptsNothing)
{
    LAN_OR_SKIP(g);
    LanHost* mainHost = g.host();
    LanHost* subHost = g.host();
    ASSERT_TRUE(mainHost && subHost) << g.lan.error().toStdString();
    TM_ZRT_CamPairs* sub = g.link(subHost, subView(kSub, QString()));
    ASSERT_NE(sub, nullptr);
    SignalLog log;
    log.attach(sub);
    std::unique_ptr<SimPeerClient> peer;
    QStringList got;
    mainHost->call([&] {
        peer = std::make_unique<SimPeerClient>();
        ASSERT_TRUE(peer->open(subHost->address()));
        peer->send(SubCameraSimulator::frame("/dide/subcamera/checkid", "c", QString()));
        peer->send(SubCameraSimulator::frame("/dide/action/manual_catch(rpc)", "r", QString()));
        SubCameraSimulator::processEventsFor(300);
        got = peer->received();
        peer.reset();
    });
    EXPECT_TRUE(got.isEmpty());
    EXPECT_TRUE(log.requests().isEmpty());
}

TEST(CamPairsLink, UnpairedSocketsAreClosedAfterTheGraceAndRestartsFreeEverySocket)
{
    LAN_OR_SKIP(g);
    LanHost* peerHost = g.host();
    LanHost* subHost = g.host();
    ASSERT_TRUE(peerHost && subHost) << g.lan.error().toStdString();
    TM_ZRT_CamPairs* sub = g.link(subHost, subView(kSub, kMain));
    ASSERT_NE(sub, nullptr);
    const int liveBefore = CamPairs_Server::liveSocketObjects();

    std::unique_ptr<SimPeerClient> idle, paired;
    peerHost->call([&] {
        idle = std::make_unique<SimPeerClient>();
        paired = std::make_unique<SimPeerClient>();
        ASSERT_TRUE(idle->open(subHost->address()));
        ASSERT_TRUE(paired->open(subHost->address()));
        paired->send(SubCameraSimulator::frame("/dide/subcamera/checkid", "c", kMain));
        SubCameraSimulator::waitFor([&] { return !paired->received().isEmpty(); }, 10000);
    });
    ASSERT_TRUE(waitUntil([&] { return CamPairs_Server::liveSocketObjects() == liveBefore + 2; }));

    // Past the grace, the tick closes the silent socket only.
    platform::MonotonicClock::advanceForTest(TM_ZRT_CamPairs::kUnpairedGraceMs + 1);
    tick(sub);
    bool idleClosed = false, pairedClosed = true;
    peerHost->call([&] {
        SubCameraSimulator::waitFor([&] { return idle->closed(); }, 10000);
        idleClosed = idle->closed();
        pairedClosed = paired->closed();
    });
    EXPECT_TRUE(idleClosed);
    EXPECT_FALSE(pairedClosed);

    // A restart asked from another thread: false at once; the paired socket
    // is closed with 1000 and the server listens again.
    EXPECT_FALSE(sub->InitWsServer(true));
    int code = -1;
    bool reopened = false;
    peerHost->call([&] {
        SubCameraSimulator::waitFor([&] { return paired->closed(); }, 10000);
        code = paired->closeCode();
        idle.reset();
        paired = std::make_unique<SimPeerClient>();
        reopened = SubCameraSimulator::waitFor(
            [&] {
                if (paired->connected())
                    return true;
                paired = std::make_unique<SimPeerClient>();
                return paired->open(subHost->address(), 8765, 500);
            },
            10000);
        paired.reset();
    });
    EXPECT_EQ(code, 1000);
    EXPECT_TRUE(reopened);
    EXPECT_TRUE(waitUntil([&] { return CamPairs_Server::liveSocketObjects() == liveBefore; }));
}

TEST(CamPairsLink, AMainAndARealSubPairAndPairAgainAfterTheSubIsRemade)
{
    LAN_OR_SKIP(g);
    const MainAndSub pair = mainAndSub(g, kMain, kSub);
    ASSERT_TRUE(pair.main && pair.sub) << g.lan.error().toStdString();
    LanHost* sh = pair.subHost;
    TM_ZRT_CamPairs* main = pair.main;
    TM_ZRT_CamPairs* sub = pair.sub;
    SignalLog subLog;
    subLog.attach(sub);
    ASSERT_TRUE(tickAndCheck(main, 0));
    tick(main);
    EXPECT_TRUE(main->getIsCnetd());
    EXPECT_TRUE(sub->getIsCnetd());  // a sub always says so

    SRPC_WS_FormData req;
    req.valid = true;
    req.topic = QStringLiteral("/dide/action/redetect");
    req.uuid = QStringLiteral("r-1");
    EXPECT_EQ(main->SpreadMessage(req), 0);
    ASSERT_TRUE(waitUntil([&] { return subLog.requests().size() == 1; }));
    EXPECT_EQ(subLog.requests().first().topic, QStringLiteral("/dide/action/redetect(rpc)"));

    // The sub dies and is made again: the main sees it blocked, then pairs anew.
    g.destroy(sub);
    ASSERT_TRUE(waitUntil([&] {
        tick(main);
        return !main->getIsCnetd();
    }));
    sub = g.link(sh, subView(kSub, kMain));
    ASSERT_NE(sub, nullptr);
    int ticks = 0;
    EXPECT_TRUE(waitUntil([&] {
        ++ticks;
        const int before = main->checksDone();
        tick(main);
        waitUntil([&] { return main->checksDone() > before; }, 2000);
        tick(main);
        return main->getIsCnetd();
    }));
    EXPECT_LE(ticks, 3);
}

// A request sent shortly after a frame the sub does not answer (a spread
// notice) must not wait in the main's kernel for the sub's delayed
// acknowledgement, nor a reply in the sub's: both ends of a pair send at once.
TEST(CamPairsLink, BothEndsOfAPairSendTheirFramesAtOnce)
{
    LAN_OR_SKIP(g);
    const QList<int> before = noDelayOfConnections(8765);
    ASSERT_TRUE(before.isEmpty()) << "a connection on 8765 is left from an earlier test";
    const MainAndSub pair = mainAndSub(g, kMain, kSub);
    ASSERT_TRUE(pair.main && pair.sub) << g.lan.error().toStdString();
    ASSERT_TRUE(tickAndCheck(pair.main, 0));
    tick(pair.main);
    ASSERT_TRUE(pair.main->getIsCnetd());
    const QList<int> ends = noDelayOfConnections(8765);
    ASSERT_EQ(ends.size(), 2);  // the main's client and the sub's accepted socket
    EXPECT_EQ(ends, QList<int>({1, 1}));
}

TEST(CamPairsLink, ATickInsideTheCheckWindowReplacesTheClientSafely)
{
    LAN_OR_SKIP(g);
    SubConnectionScript late;
    late.checkDelayMs = 90;
    const MainWithSim m = mainWithSim(g, {late});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;

    // While the check waits for the held answer, a supervision pass runs in
    // its nested wait and replaces the client being checked.
    bool ranInside = false;
    QTimer* probe = nullptr;
    onLink(link, [&] {
        probe = new QTimer;
        probe->setInterval(5);
        QObject::connect(probe, &QTimer::timeout, [&, link] {
            if (!ranInside && link->checkRunning()) {
                ranInside = true;
                link->keep_heartbeat_oversubcams();
            }
        });
        probe->start();
        link->heartbeatTick();
    });
    ASSERT_TRUE(waitUntil([&] { return link->checksDone() == 1; }));
    onLink(link, [&] { delete probe; });
    EXPECT_TRUE(ranInside);
    EXPECT_FALSE(link->checkRunning());
    // The client made inside the window connected while the check ran and
    // was left unchecked; the next tick replaces it and the new one pairs.
    EXPECT_TRUE(pairEventually(link));
}

TEST(CamPairsLink, DestroyedAndRemadeOnItsHostFreesEverything)
{
    LAN_OR_SKIP(g);
    LanHost* h = g.host();
    ASSERT_NE(h, nullptr) << g.lan.error().toStdString();
    testsupport::LogCapture logs;
    for (int i = 0; i < 3; ++i) {
        TM_ZRT_CamPairs* l = g.link(h, subView(kSub, kMain));
        ASSERT_NE(l, nullptr) << "round " << i << ": 8765 must be free again";
        g.destroy(l);
    }
    EXPECT_EQ(logs.count(QStringLiteral("--- Destory TM_ZRT_CamPairs ---")), 3);
    EXPECT_EQ(logs.count(QStringLiteral("CamPairs_Server close")), 3);
}

TEST(CamPairsLink, AFailedListenIsLoggedAndReported)
{
    LAN_OR_SKIP(g);
    LanHost* h = g.host();
    ASSERT_NE(h, nullptr) << g.lan.error().toStdString();
    testsupport::LogCapture logs;
    TM_ZRT_CamPairs* first = g.link(h, subView(kSub, kMain));
    ASSERT_NE(first, nullptr);
    TM_ZRT_CamPairs* second = g.link(h, subView(kSub, kMain), false);
    bool ok = true;
    onLink(second, [&] { ok = second->InitWsServer(true); });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(logs.reachesLogFiles(QStringLiteral("listen on port 8765 failed")));
}

TEST(CamPairsLink, JunkAtASubStartsNothingAndTheLinkStillWorks)
{
    LAN_OR_SKIP(g);
    LanHost* mainHost = g.host();
    LanHost* subHost = g.host();
    LanHost* strangerHost = g.host();
    ASSERT_TRUE(mainHost && subHost && strangerHost) << g.lan.error().toStdString();
    TM_ZRT_CamPairs* sub = g.link(subHost, subView(kSub, kMain));
    ASSERT_NE(sub, nullptr);
    SignalLog log;
    log.attach(sub);

    // Junk of every kind; none of it is a request of the main camera.
    QRandomGenerator rng(16);
    QStringList junk;
    for (int i = 0; i < 400; ++i) {
        QByteArray bytes(int(rng.bounded(1, 200)), '\0');
        for (char& c : bytes)
            c = char(rng.bounded(1, 256));
        junk << QString::fromLatin1(bytes);
    }
    junk << QStringLiteral("{") << QStringLiteral("null") << QStringLiteral("[]") << QString(5000, QLatin1Char('['))
         << QStringLiteral("{\"topic\":1,\"uuid\":[],\"datas\":\"x\",\"device_id\":\"MAIN-0001\"}")
         << QStringLiteral("{\"topic\":\"/dide/action/manual_catch(rpc)\",\"uuid\":\"u\",\"datas\":[],"
                           "\"device_id\":\"MAIN-0001\"}")
         << QStringLiteral("{\"topic\":\"/dide/action/manual_catch(rpc)\",\"uuid\":\"u\",\"datas\":{},"
                           "\"device_id\":{\"a\":1}}")
         << SubCameraSimulator::frame("/dide/action/manual_catch", "u", kMain)
         << SubCameraSimulator::frame("/dide/action/manual_catch(rpc_back)", "u", kMain)
         << SubCameraSimulator::frame("", "u", kMain)
         << SubCameraSimulator::frame("/dide/action/manual_catch(rpc)", "u", QStringLiteral("main-0001"));

    std::unique_ptr<SimPeerClient> main, stranger;
    mainHost->call([&] {
        main = std::make_unique<SimPeerClient>();
        ASSERT_TRUE(main->open(subHost->address()));
        for (const QString& j : junk)
            main->send(j);
        main->sendBinary(QByteArray(1000, '\x01'));
    });
    strangerHost->call([&] {
        stranger = std::make_unique<SimPeerClient>();
        ASSERT_TRUE(stranger->open(subHost->address()));
        for (const QString& j : junk)
            stranger->send(j);
        stranger->send(SubCameraSimulator::frame("/dide/action/manual_catch(rpc)", "s", "STRANGER"));
        // Over the 1 MiB cap: the sub drops this connection.
        stranger->send(SubCameraSimulator::frame("/dide/action/manual_catch(rpc)", "big", "STRANGER",
                                                 {{"x", QString(2 * 1024 * 1024, QLatin1Char('a'))}}));
        SubCameraSimulator::waitFor([&] { return stranger->closed(); }, 20000);
    });
    bool strangerClosed = false;
    strangerHost->call([&] { strangerClosed = stranger->closed(); });
    EXPECT_TRUE(strangerClosed);

    // The main's real request still gets through, and only it.
    mainHost->call([&] { main->send(SubCameraSimulator::frame("/dide/action/redetect(rpc)", "ok", kMain)); });
    ASSERT_TRUE(waitUntil([&] { return !log.requests().isEmpty(); }));
    SubCameraSimulator::processEventsFor(100);
    ASSERT_EQ(log.requests().size(), 1);
    EXPECT_EQ(log.requests().first().uuid, QStringLiteral("ok"));
    mainHost->call([&] { main.reset(); });
    strangerHost->call([&] { stranger.reset(); });
}

TEST(CamPairsLink, AMainPassesOnOnlyRepliesOfItsOwnSub)
{
    LAN_OR_SKIP(g);
    using Reply = SubConnectionScript::Reply;
    const MainWithSim m = mainWithSim(g, {});
    ASSERT_TRUE(m.link) << g.lan.error().toStdString();
    [[maybe_unused]] LanHost* sh = m.sh;
    [[maybe_unused]] SubCameraSimulator* sim = m.sim;
    TM_ZRT_CamPairs* link = m.link;
    ASSERT_TRUE(pairEventually(link));
    SignalLog log;
    log.attach(link);

    struct Row {
        const char* name;
        Reply reply;
        int passedOn;  // "(rpc_back)" frames handed to the work events
    };
    const Row rows[] = {
        {"ok", Reply::Ok, 1}, {"ng", Reply::Ng, 1},       {"empty", Reply::Empty, 1},
        {"twice", Reply::Twice, 2}, {"junk", Reply::Junk, 0}, {"silent", Reply::Silent, 0},
    };
    int uuid = 0;
    for (const Row& r : rows) {
        SubConnectionScript s;
        s.reply = r.reply;
        sh->call([&] { sim->setScripts({s}); });
        // The script of an open connection is fixed: reconnect for each row.
        sh->call([&] {
            sim->die();
            sim->comeBack();
        });
        ASSERT_TRUE(waitUntil([&] {
            tick(link);
            return !link->getIsCnetd();
        })) << r.name;
        ASSERT_TRUE(pairEventually(link)) << r.name;
        const int before = log.replies().size();
        SRPC_WS_FormData req;
        req.valid = true;
        req.topic = QStringLiteral("/dide/action/pre_result");
        req.uuid = QStringLiteral("p-%1").arg(++uuid);
        const int frames = sim->frames().size();
        EXPECT_EQ(link->SpreadMessage(req), 0);
        ASSERT_TRUE(waitUntil([&] { return sim->frames().size() > frames; })) << r.name;
        waitUntil([&] { return log.replies().size() - before >= r.passedOn; }, 5000);
        SubCameraSimulator::processEventsFor(200);
        int passed = 0;
        for (const auto& f : log.replies().mid(before))
            passed += f.topic.endsWith(QStringLiteral("(rpc_back)")) && f.device_id == kSub ? 1 : 0;
        EXPECT_EQ(passed, r.passedOn) << r.name;
    }
}
