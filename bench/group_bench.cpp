// Trigger to verdict on a camera group of three beside a lone camera: the
// IO module's input datagram that opens the mould, to the output datagram
// that carries the product unit's verdict ("10000000"), at the simulator.
// The same program, files and pictures (tests/support/devicefixture.h: 8
// regions on detections 1 and 2, 1920 x 1080, OK frames, no debounce, no
// delays), each camera with its daemon on a host of its own of the private
// test LAN (tests/support/orvalegroup.h): first a main camera alone, then a
// main camera with two sub cameras, which it asks over the camera-pair link
// on every unit.
//
// Beside them, in the same run, the same round trips with bare sockets and
// no work: a UDP datagram from the simulator's end to an echo on the main
// camera's host (the lone camera's trip), and the same with the echo first
// sending a text frame to a plain QWebSocket server on each sub's host and
// waiting for both answers (the group's trip).
// Aim: group p99 <= lone p99 + 5 ms.
//
//   group_bench [--cycles 500]
//
// Each set of cycles runs twice: back to back (20 ms between a cycle's end
// and the next trigger) and 300 ms apart.
//
// Needs root (network namespaces).
#include "support/orvalegroup.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using orvalegroup::OrvaleGroup;
using orvalegroup::spinUntil;

struct Figures {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    int n = 0;
};

Figures figures(std::vector<double> v)
{
    Figures f;
    if (v.empty())
        return f;
    std::sort(v.begin(), v.end());
    f.p50 = v[v.size() / 2];
    f.p99 = v[std::min(v.size() - 1, size_t(double(v.size()) * 0.99))];
    f.max = v.back();
    f.n = int(v.size());
    return f;
}

// The arrival time of the first output frame with `word` after `afterNs`, 0 when none.
qint64 firstWordAt(const IoModuleSimulator& io, const QByteArray& word, qint64 afterNs)
{
    for (const IoModuleSimulator::Datagram& d : io.receivedStartingWith("<C;6;")) {
        if (d.atNs >= afterNs && d.data.mid(d.data.lastIndexOf(';') + 1, 8) == word)
            return d.atNs;
    }
    return 0;
}

// `cycles` mould cycles on a started group: trigger to the product verdict,
// in ms; `failed` counts cycles without one.
std::vector<double> runCycles(OrvaleGroup& group, int cycles, int gapMs, int* failed)
{
    IoModuleSimulator& io = *group.io;
    std::vector<double> verdicts;
    auto oneCycle = [&](bool timed) {
        const qint64 startNs = IoModuleSimulator::clockNs();
        io.setInputs(0b11);
        const bool done = spinUntil([&] { return firstWordAt(io, "00000000", startNs) > 0; }, 10000);
        const qint64 verdictNs = firstWordAt(io, "10000000", startNs);
        if (!done || verdictNs == 0)
            ++*failed;
        else if (timed)
            verdicts.push_back(double(verdictNs - startNs) / 1e6);
        io.setInputs(0b10);
        spinUntil([] { return false; }, gapMs);
        if (io.received().size() > 2000)
            io.clearReceived();
    };
    for (int i = 0; i < 10; ++i)
        oneCycle(false);
    for (int i = 0; i < cycles; ++i)
        oneCycle(true);
    return verdicts;
}

// The bare trip: an echo on the main camera's host that first asks a plain
// WebSocket server on each sub's host, then answers.
std::vector<double> bareTrips(OrvaleGroup& group, int trips)
{
    std::vector<QWebSocketServer*> servers;
    for (int i = 1; i < group.size(); ++i) {
        LanHost* host = group.camera(i).host;
        host->call([&] {
            auto* server = new QWebSocketServer(QStringLiteral("bare"), QWebSocketServer::NonSecureMode);
            server->listen(QHostAddress(host->address()), 18765);
            QObject::connect(server, &QWebSocketServer::newConnection, server, [server] {
                QWebSocket* s = server->nextPendingConnection();
                QObject::connect(s, &QWebSocket::textMessageReceived, s,
                                 [s](const QString& t) { s->sendTextMessage(t); });
            });
            servers.push_back(server);
        });
    }
    LanHost* mainHost = group.main().host;
    QUdpSocket* echo = nullptr;
    std::vector<QWebSocket*> clients;
    mainHost->call([&] {
        for (int i = 1; i < group.size(); ++i) {
            auto* c = new QWebSocket;
            c->open(QUrl(QStringLiteral("ws://%1:18765").arg(group.camera(i).address())));
            clients.push_back(c);
        }
        echo = new QUdpSocket;
        echo->bind(QHostAddress(mainHost->address()), 17999);
        auto pending = std::make_shared<int>(0);
        auto asker = std::make_shared<QPair<QHostAddress, quint16>>();
        for (QWebSocket* c : clients) {
            QObject::connect(c, &QWebSocket::textMessageReceived, echo, [echo, pending, asker](const QString&) {
                if (--*pending == 0)
                    echo->writeDatagram("<C;6;IOM-SIM;10000000>", asker->first, asker->second);
            });
        }
        QObject::connect(echo, &QUdpSocket::readyRead, echo, [echo, clients, pending, asker] {
            while (echo->hasPendingDatagrams()) {
                QByteArray d(int(echo->pendingDatagramSize()), 0);
                echo->readDatagram(d.data(), d.size(), &asker->first, &asker->second);
                if (clients.empty()) {
                    echo->writeDatagram("<C;6;IOM-SIM;10000000>", asker->first, asker->second);
                    continue;
                }
                *pending = int(clients.size());
                for (QWebSocket* c : clients)
                    c->sendTextMessage(QStringLiteral("{\"topic\":\"/dide/action/io_catch(rpc)\"}"));
            }
        });
    });
    std::vector<double> ms;
    if (!spinUntil(
            [&] {
                bool all = true;
                mainHost->call([&] {
                    for (QWebSocket* c : clients)
                        all = all && c->state() == QAbstractSocket::ConnectedState;
                });
                return all;
            },
            10000)) {
        std::fprintf(stderr, "group bench: the bare WebSocket servers cannot be reached\n");
    } else {
        QUdpSocket peer;
        peer.bind(QHostAddress(PrivateLan::bridgeAddress()), 0);
        for (int i = 0; i < trips + 20; ++i) {
            const qint64 startNs = IoModuleSimulator::clockNs();
            peer.writeDatagram("<S;5;IOM-SIM;11000000>", QHostAddress(mainHost->address()), 17999);
            if (!peer.waitForReadyRead(1000))
                continue;
            const qint64 ns = IoModuleSimulator::clockNs() - startNs;
            bool answered = false;
            while (peer.hasPendingDatagrams())
                answered = peer.receiveDatagram().data() == "<C;6;IOM-SIM;10000000>" || answered;
            if (answered && i >= 20)
                ms.push_back(double(ns) / 1e6);
        }
    }
    mainHost->call([&] {
        delete echo;
        qDeleteAll(clients);
    });
    for (int i = 1; i < group.size(); ++i)
        group.camera(i).host->call([&] { delete servers[size_t(i - 1)]; });
    return ms;
}

void printRow(const char* name, const Figures& f)
{
    std::printf("%-52s %6d %9.3f %9.3f %9.3f\n", name, f.n, f.p50, f.p99, f.max);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int cycles = 500;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (QByteArray(argv[i]) == "--cycles")
            cycles = std::max(1, atoi(argv[i + 1]));
    }
    // The pause between the end of a cycle and the next trigger: back to
    // back, and with room for the cameras' work after a cycle (the alarm
    // image store, the pushes), as a moulding machine leaves seconds.
    const int gaps[2] = {20, 300};

    Figures measured[2][2];  // [lone, group][gap]
    Figures bare[2];
    int failed[2] = {0, 0};
    for (int subs : {0, 2}) {
        const int k = subs == 0 ? 0 : 1;
        OrvaleGroup group(subs);
        if (!group.ok()) {
            std::fprintf(stderr, "group bench: %s; run as root\n", qPrintable(group.why()));
            return 1;
        }
        const QString why = group.start();
        const QString up = why.isEmpty() ? group.bringUp() : why;
        if (!up.isEmpty()) {
            std::fprintf(stderr, "group bench: %s\n", qPrintable(up));
            return 1;
        }
        for (int g = 0; g < 2; ++g)
            measured[k][g] = figures(runCycles(group, cycles, gaps[g], &failed[k]));
        bare[k] = figures(bareTrips(group, cycles));
    }

    std::printf("\ntrigger -> product verdict output (10000000) at the IO module, %d cycles each "
                "(8 regions, 1920 x 1080, debounce 0, delays 0, OK frames)\n",
                cycles);
    std::printf("%-52s %6s %9s %9s %9s\n", "", "n", "p50 ms", "p99 ms", "max ms");
    for (int g = 0; g < 2; ++g) {
        char name[2][80];
        std::snprintf(name[0], sizeof name[0], "lone camera, %d ms between cycles", gaps[g]);
        std::snprintf(name[1], sizeof name[1], "group of three, %d ms between cycles", gaps[g]);
        printRow(name[0], measured[0][g]);
        printRow(name[1], measured[1][g]);
    }
    printRow("bare: UDP echo on the main's host", bare[0]);
    printRow("bare: UDP echo asking two WebSocket servers", bare[1]);
    std::printf("failed cycles: lone %d, group %d\n", failed[0], failed[1]);
    for (int g = 0; g < 2; ++g) {
        const Figures& lone = measured[0][g];
        const Figures& trio = measured[1][g];
        if (lone.p50 <= 0 || trio.p50 <= 0)
            continue;
        std::printf("%d ms between cycles: ratio group / lone p50 %.2f, p99 %.2f; the group adds p50 %.3f ms "
                    "(bare: %.3f ms); aim group p99 <= lone p99 + 5 ms = %.3f ms: %s\n",
                    gaps[g], trio.p50 / lone.p50, trio.p99 / lone.p99, trio.p50 - lone.p50, bare[1].p50 - bare[0].p50,
                    lone.p99 + 5.0, trio.p99 <= lone.p99 + 5.0 ? "met" : "NOT met");
    }
    return failed[0] + failed[1] == 0 ? 0 : 2;
}
