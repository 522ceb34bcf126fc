// The camera-pair link's round trip on the private test LAN (every endpoint
// on a host of its own, listening on the real 8765), each beside a bare
// QWebSocket echo of the same frame in the same program and namespaces:
//   direct  a passport request from SpreadMessage (called on this thread,
//           as the reactor calls it) to the reply at the main's receiver,
//           the sub answering on its link thread; the reference posts the
//           frame to a bare client's thread, a bare server echoes it;
//   reactor the same with the reply made by the sub's reactor on the sub's
//           main thread (one more thread hop each way);
//   spread3 one request to three subs, until all three replies are in,
//           beside three bare echoes sent at once.
// Median and p99 of 2000 round trips, and the ratio of the medians. Needs
// the right to make network namespaces; otherwise it says so and stops.
#include "group/groupworktopics.h"
#include "group/rpcdistributed_reactor.h"
#include "group/tm_zrt_campairs.h"
#include "support/grouppassport.h"
#include "tools/testlan/privatelan.h"

#include "roundstats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

const int kRounds = 2000;
const QString kMain = QStringLiteral("MAIN-B");
const QString kTopic = QStringLiteral("/dide/action/manual_catch");

using benchstats::roundStats;

void print(const char* name, const std::vector<double>& ours, const std::vector<double>& ref)
{
    const benchstats::RoundStats o = roundStats(ours);
    const benchstats::RoundStats r = roundStats(ref);
    std::printf("%-8s %12.3f %12.3f %12.3f %12.3f %8.2f\n", name, o.median, o.p99, r.median, r.p99,
                r.median > 0 ? o.median / r.median : 0.0);
    std::fflush(stdout);
}

template <class F>
void onThread(QObject* context, F f)
{
    QMetaObject::invokeMethod(context, std::move(f), Qt::BlockingQueuedConnection);
}

// Times `rounds` runs of `start`, each done when `done` has been released
// `replies` times.
std::vector<double> timeRounds(QSemaphore& done, int replies, const std::function<void(int)>& start)
{
    std::vector<double> ms;
    for (int r = 0; r < kRounds + 50; ++r) {
        QElapsedTimer t;
        t.start();
        start(r);
        if (!done.tryAcquire(replies, 10000)) {
            std::printf("campairs_bench: no reply within 10 s (round %d)\n", r);
            std::exit(1);
        }
        if (r >= 50)  // the first rounds warm up
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    QThread::msleep(50);
    if (done.available() != 0) {
        std::printf("campairs_bench: %d replies too many\n", done.available());
        std::exit(1);
    }
    return ms;
}

SRPC_WS_Interface view(const QString& own, const QList<DeviceNetInfo>& subs)
{
    SRPC_WS_Interface v;
    v.own_id = own;
    v.main_id = kMain;
    v.subs = subs;
    v.is_main = own == kMain;
    return v;
}

// A bare echo server and a bare client: the reference.
struct Echo {
    std::unique_ptr<QWebSocketServer> server;  // on the sub's host
    std::unique_ptr<QWebSocket> client;        // on the main's host
};

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(benchstats::quietMessages);
    registerGroupMetaTypes();
    PrivateLan lan;
    if (!lan.ok()) {
        std::printf("campairs_bench: no private network (%s): not run\n", qPrintable(lan.error()));
        return 0;
    }
    LanHost* mainHost = lan.addHost();
    std::vector<LanHost*> subHosts;
    for (int i = 0; i < 3; ++i)
        subHosts.push_back(lan.addHost());
    if (!mainHost || !subHosts[2]) {
        std::printf("campairs_bench: hosts: %s\n", qPrintable(lan.error()));
        return 1;
    }
    QList<DeviceNetInfo> subs;
    for (int i = 0; i < 3; ++i)
        subs << DeviceNetInfo(QStringLiteral("SUB-%1").arg(i), subHosts[size_t(i)]->address(), 0);

    // The links: a main with one sub first, three later.
    TM_ZRT_CamPairs* mainLink = nullptr;
    mainHost->call([&] { mainLink = new TM_ZRT_CamPairs(nullptr, false); });
    mainLink->set_interface(view(kMain, subs.mid(0, 1)));
    std::vector<TM_ZRT_CamPairs*> subLinks;
    for (int i = 0; i < 3; ++i) {
        TM_ZRT_CamPairs* l = nullptr;
        subHosts[size_t(i)]->call([&] { l = new TM_ZRT_CamPairs(nullptr, false); });
        l->set_interface(view(subs[i].uuid, {}));
        bool listening = false;
        onThread(l, [&] { listening = l->InitWsServer(true); });
        if (!listening) {
            std::printf("campairs_bench: sub %d does not listen\n", i);
            return 1;
        }
        subLinks.push_back(l);
    }
    // Heartbeat ticks by hand until every sub is paired (at least one pass,
    // so a new set of subs is looked at).
    auto pair = [&] {
        for (int i = 0; i < 200; ++i) {
            onThread(mainLink, [&] { mainLink->heartbeatTick(); });
            QThread::msleep(150);
            onThread(mainLink, [&] { mainLink->heartbeatTick(); });
            if (mainLink->getIsCnetd())
                return true;
        }
        return false;
    };
    if (!pair()) {
        std::printf("campairs_bench: the main does not pair with its sub\n");
        return 1;
    }

    QSemaphore done;
    std::atomic<int> replied{0};
    QObject::connect(mainLink, &CamPairsLink::sig_recvc2C_rpcmeet_part2, mainLink,
                     [&done, &replied](SRPC_WS_FormData) -> int {
                         ++replied;
                         done.release();
                         return 1;
                     },
                     Qt::DirectConnection);
    SRPC_WS_FormData request;
    request.valid = true;
    request.topic = kTopic;
    request.datas = testsupport::passportDatas([](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State&) {});
    request.uuid = QStringLiteral("bench-0");
    const QString frame = srpcform_2_wsbytes(request);
    SCollect_Unit unit;
    unit.is_valid = true;
    unit.result = true;
    const QVariantMap unitMap = unit.toMap();

    // The reference: one bare echo per sub host, its client on the main host.
    std::vector<Echo> echoes(3);
    std::atomic<int> echoed{0};
    for (int i = 0; i < 3; ++i) {
        Echo& e = echoes[size_t(i)];
        subHosts[size_t(i)]->call([&] {
            e.server = std::make_unique<QWebSocketServer>(QStringLiteral("echo"), QWebSocketServer::NonSecureMode);
            e.server->listen(QHostAddress::AnyIPv4, 8766);
            QWebSocketServer* s = e.server.get();
            QObject::connect(s, &QWebSocketServer::newConnection, s, [s] {
                while (QWebSocket* peer = s->nextPendingConnection())
                    QObject::connect(peer, &QWebSocket::textMessageReceived, peer,
                                     [peer](const QString& t) { peer->sendTextMessage(t); });
            });
        });
        mainHost->call([&] {
            e.client = std::make_unique<QWebSocket>();
            QObject::connect(e.client.get(), &QWebSocket::textMessageReceived, e.client.get(),
                             [&done, &echoed](const QString&) {
                                 ++echoed;
                                 done.release();
                             });
            e.client->open(QUrl(QStringLiteral("ws://%1:8766").arg(subs[i].address)));
        });
    }
    for (int w = 0; w < 1000; ++w) {
        bool all = true;
        for (Echo& e : echoes) {
            mainHost->call([&] { all = all && e.client->state() == QAbstractSocket::ConnectedState; });
        }
        if (all)
            break;
        QThread::msleep(10);
    }
    QWebSocket* echo0 = echoes[0].client.get();
    auto echoRound = [&](int n) {
        QMetaObject::invokeMethod(
            echo0,
            [&echoes, &frame, n] {
                for (int i = 0; i < n; ++i)
                    echoes[size_t(i)].client->sendTextMessage(frame);
            },
            Qt::QueuedConnection);
    };

    std::printf("%-8s %12s %12s %12s %12s %8s\n", "path", "ours_med_ms", "ours_p99_ms", "ref_med_ms", "ref_p99_ms",
                "ratio");
    // Direct: each sub answers on its link thread.
    std::vector<QMetaObject::Connection> direct;
    for (TM_ZRT_CamPairs* l : subLinks) {
        direct.push_back(QObject::connect(l, &CamPairsLink::sig_recvC2c_rpcmeet_part1, l,
                                          [l, unitMap](SRPC_WS_FormData f) {
                                              f.topic.remove(QStringLiteral("(rpc)"));
                                              f.datas = unitMap;
                                              l->SendMessage_RpcBack(f);
                                          },
                                          Qt::DirectConnection));
    }
    auto spreadRound = [&](int r) {
        SRPC_WS_FormData f = request;
        f.uuid = QStringLiteral("bench-%1").arg(r);
        mainLink->SpreadMessage(f);
    };
    {
        const std::vector<double> ours = timeRounds(done, 1, spreadRound);
        const std::vector<double> ref = timeRounds(done, 1, [&](int) { echoRound(1); });
        print("direct", ours, ref);
    }
    for (auto& c : direct)
        QObject::disconnect(c);

    // Through the sub's reactor on the sub's main thread.
    std::vector<std::unique_ptr<QThread>> subMains;
    std::vector<RpcDistributed_Reactor*> reactors;
    for (int i = 0; i < 3; ++i) {
        auto t = std::make_unique<QThread>();
        t->start();
        auto* ctx = new QObject;
        ctx->moveToThread(t.get());
        RpcDistributed_Reactor* reactor = nullptr;
        TM_ZRT_CamPairs* l = subLinks[size_t(i)];
        const SRPC_WS_Interface v = view(subs[i].uuid, {});
        onThread(ctx, [&] {
            reactor = new RpcDistributed_Reactor(nullptr, l, nullptr);
            reactor->register_quickmeet(kTopic, [l, unitMap](SRPC_WS_FormData f) {
                f.topic.remove(QStringLiteral("(rpc)"));
                f.datas = unitMap;
                l->SendMessage_RpcBack(f);
                return QVariantMap();
            });
            reactor->connection_establishment(v);
        });
        delete ctx;  // not used again (it has processed its one call)
        reactors.push_back(reactor);
        subMains.push_back(std::move(t));
    }
    {
        const std::vector<double> ours = timeRounds(done, 1, spreadRound);
        const std::vector<double> ref = timeRounds(done, 1, [&](int) { echoRound(1); });
        print("reactor", ours, ref);
    }

    // A spread to three subs.
    mainLink->set_interface(view(kMain, subs));
    if (!pair()) {
        std::printf("campairs_bench: the main does not pair with three subs\n");
        return 1;
    }
    {
        const std::vector<double> ours = timeRounds(done, 3, spreadRound);
        const std::vector<double> ref = timeRounds(done, 3, [&](int) { echoRound(3); });
        print("spread3", ours, ref);
    }

    for (size_t i = 0; i < reactors.size(); ++i) {
        RpcDistributed_Reactor* r = reactors[i];
        QMetaObject::invokeMethod(r, [r] { delete r; }, Qt::BlockingQueuedConnection);
        subMains[i]->quit();
        subMains[i]->wait();
    }
    for (int i = 0; i < 3; ++i) {
        Echo& e = echoes[size_t(i)];
        mainHost->call([&] { e.client.reset(); });
        subHosts[size_t(i)]->call([&] { e.server.reset(); });
        subHosts[size_t(i)]->call([&] { delete subLinks[size_t(i)]; });
    }
    mainHost->call([&] { delete mainLink; });
    std::printf("replies at the main's receiver: %d, bare echoes: %d\n", replied.load(), echoed.load());
    return 0;
}
