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
// Aims: group p50 <= lone p50 + 5 ms, and the same at p99.
//
//   group_bench [--cycles 500] [--trace]
//
// Each set of cycles runs twice: back to back (20 ms between a cycle's end
// and the next trigger) and 300 ms apart.
//
// A cycle without a verdict within 12 s (the work event's 10 s and the
// verdict) counts as failed and the run goes on: the figures list each
// failed cycle with the main camera's warnings while it ran, and a machine
// the main camera holds is released with the action its run state names,
// as an operator would. A set ends early after 3 failed cycles in a row, so
// the run's time stays bounded.
//
// Needs root (network namespaces).
#include "support/orvalegroup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// A cycle that gave no verdict within its limit, and what the main camera's
// log files said while it ran and until its limit had passed.
struct FailedCycle {
    QString set;  // which camera set and pause
    int index = 0;  // counted from the first timed cycle; negative while warming up
    QStringList mainSaid;  // the main camera's warnings and work-event states
    QString release;  // what the bench did to release a held machine
};

// The work event waits 10 s at most; the verdict follows at once.
constexpr int kCycleLimitMs = 12000;
// A set of cycles ends early after this many failed cycles in a row: a
// group that does not come back must not keep the run going for hours.
constexpr int kFailuresInARow = 3;

// The size of the camera's INFO logs so far: where the next lines start.
qint64 logSize(const orvalegroup::Camera& c)
{
    qint64 size = 0;
    const QDir dir(c.root + "/userdata/log");
    for (const QFileInfo& f : dir.entryInfoList({"LOG_*.log"}, QDir::Files))
        size += f.size();
    return size;
}

// The main camera's lines after `from` that say what went wrong: warnings,
// and the work-event reports that did not collect every unit.
QStringList mainSaid(const orvalegroup::Camera& c, qint64 from)
{
    QStringList said;
    const QList<QByteArray> lines = c.logText().mid(int(from)).split('\n');
    for (const QByteArray& line : lines) {
        const int at = line.indexOf("] ");
        const QString text = QString::fromUtf8(at > 0 ? line.mid(at + 2) : line).left(220);
        if (line.contains("---warning---") || (line.contains("* work_state:") && !line.contains("work_state: 0 ")))
            said << QString::fromLatin1(line.mid(10, 15)) + " " + text;  // the time of day, the text
    }
    if (said.size() > 14)
        said = said.mid(0, 7) + QStringList{"..."} + said.mid(said.size() - 6);
    return said;
}

// A held machine is released as an operator would: the route that the
// run state names, aimed at the step it shows. What was done, or why not.
QString releaseHold(orvalegroup::OrvaleGroup& group)
{
    const QJsonObject state = group.main().runState();
    const QJsonArray routes = state.value("release_actions").toArray();
    if (routes.isEmpty())
        return QStringLiteral("nothing held (run state %1 \"%2\")")
            .arg(state.value("state").toInt())
            .arg(state.value("state_describe").toString());
    QJsonArray cameras;
    for (int i = 0; i < group.size(); ++i)
        cameras.append(group.camera(i).id);
    const QJsonObject body{{"detect_index", state.value("cur_detect").toInt()}, {"uuids", cameras}};
    const QString route = routes.first().toString();
    const auto answer = clientrun::runClient(
        "curl", {"-s", "-m", "10", "-H", "Content-Type: application/json", "-d",
                 QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact)),
                 "http://" + group.main().address() + ":10414" + route});
    return QStringLiteral("held (run state %1 \"%2\"), released with %3: %4")
        .arg(state.value("state").toInt())
        .arg(state.value("state_describe").toString(), route,
             answer ? QString::fromUtf8(*answer).trimmed() : QStringLiteral("no answer"));
}

// `cycles` mould cycles on a started group: trigger to the product verdict,
// in ms. A cycle without a verdict within its limit is added to `failed`
// with what the main camera said, a held machine is released, and the run
// goes on; after kFailuresInARow failed cycles in a row the set ends.
std::vector<double> runCycles(OrvaleGroup& group, const QString& set, int cycles, int gapMs,
                              std::vector<FailedCycle>* failed)
{
    IoModuleSimulator& io = *group.io;
    std::vector<double> verdicts;
    int inARow = 0;
    auto oneCycle = [&](int index) {
        const qint64 startNs = IoModuleSimulator::clockNs();
        const qint64 logFrom = logSize(group.main());
        io.setInputs(0b11);
        const bool done = spinUntil([&] { return firstWordAt(io, "00000000", startNs) > 0; }, kCycleLimitMs);
        const qint64 verdictNs = firstWordAt(io, "10000000", startNs);
        io.setInputs(0b10);
        if (done && verdictNs > 0) {
            inARow = 0;
            if (index >= 0)
                verdicts.push_back(double(verdictNs - startNs) / 1e6);
        } else {
            ++inARow;
            FailedCycle f;
            f.set = set;
            f.index = index;
            f.release = releaseHold(group);
            spinUntil([] { return false; }, 2000);  // the release's own cycle
            f.mainSaid = mainSaid(group.main(), logFrom);
            failed->push_back(f);
        }
        spinUntil([] { return false; }, gapMs);
        if (io.received().size() > 2000)
            io.clearReceived();
    };
    for (int i = -10; i < cycles && inARow < kFailuresInARow; ++i)
        oneCycle(i);
    if (inARow >= kFailuresInARow)
        std::fprintf(stderr, "group bench: %s ended early after %d failed cycles in a row\n", qPrintable(set),
                     kFailuresInARow);
    return verdicts;
}

// ---- --trace: where a group's work event spends its time ----
//
// With --trace every camera writes its detailed log lines (the log-time
// file in its workspace), and the work events of the group's 300 ms set
// are followed through the main camera's and the subs' log files (one
// clock: the hosts are namespaces of one machine). The detailed logging
// costs time of its own: the figures of a traced run are not the
// benchmark's.

struct LogLine {
    qint64 us;  // time of day
    QByteArray text;
};

std::vector<LogLine> logLines(const orvalegroup::Camera& c, qint64 from)
{
    std::vector<LogLine> out;
    for (const QByteArray& line : c.logText().mid(int(from)).split('\n')) {
        // "I20261211 13:31:39.459537 26091 file:line] text"
        if (line.size() < 26 || line.at(12) != ':' || line.at(18) != '.')
            continue;
        const qint64 us = (line.mid(10, 2).toLongLong() * 3600 + line.mid(13, 2).toLongLong() * 60 +
                           line.mid(16, 2).toLongLong()) * 1000000 + line.mid(19, 6).toLongLong();
        const int at = line.indexOf("] ");
        out.push_back({us, at > 0 ? line.mid(at + 2) : line});
    }
    return out;
}

// The time of the first line at or after `afterUs` that contains `what`
// (and ends with `end`); -1 when none.
qint64 firstAfter(const std::vector<LogLine>& lines, qint64 afterUs, const QByteArray& what,
                  const QByteArray& end = QByteArray())
{
    for (const LogLine& l : lines) {
        if (l.us >= afterUs && l.text.contains(what) && l.text.endsWith(end))
            return l.us;
    }
    return -1;
}

void writeTraceSwitch(const orvalegroup::Camera& c)
{
    QDir().mkpath(c.appDir() + "/workspace");
    QFile f(c.appDir() + "/workspace/LogRemainTime.txt");
    if (f.open(QIODevice::WriteOnly))
        f.write("7200");
}

// The phases of the work events in the logs after `from` (one offset per
// camera), p50 and p90 in ms, printed.
void printTrace(orvalegroup::OrvaleGroup& group, const std::vector<qint64>& from)
{
    std::vector<std::vector<LogLine>> logs;
    for (int i = 0; i < group.size(); ++i)
        logs.push_back(logLines(group.camera(i), from[size_t(i)]));
    const char* names[] = {"main: event created -> request handed to the sub's link (spread)",
                           "request on the way -> the sub's main thread creates its event",
                           "the sub's event -> its detection done",
                           "the sub's detection done -> its unit at the main's link",
                           "main: event created -> its own unit (its detection)",
                           "the extra: the main's own unit -> the last sub's unit",
                           "the last unit -> the main's wait ended"};
    std::vector<double> phases[7];
    for (const LogLine& l : logs[0]) {
        if (!l.text.startsWith("<<<<<<<<<< create RpcDistributed_Core"))
            continue;
        const QByteArray uuid = l.text.mid(l.text.lastIndexOf(' ') + 1);
        const qint64 t0 = l.us;
        const qint64 spread = firstAfter(logs[0], t0, "[TM_CAMS][SpreadMessage]");
        const qint64 own = firstAfter(logs[0], t0, "(flush collectlist): ---Main---");
        qint64 lastRecv = -1;
        size_t last = 0;
        for (size_t i = 1; i < logs.size(); ++i) {
            const qint64 recv = firstAfter(logs[0], t0, "[TM_CAMS][recv_c2C] " + group.camera(int(i)).id.toUtf8());
            if (recv > lastRecv) {
                lastRecv = recv;
                last = i;
            }
        }
        const qint64 subCreate = last ? firstAfter(logs[last], t0, "create RpcDistributed_Core", uuid) : -1;
        const qint64 subDetect = subCreate >= 0 ? firstAfter(logs[last], subCreate, "RunAlgorithm Finish") : -1;
        const qint64 end = lastRecv >= 0 ? firstAfter(logs[0], lastRecv, "RpcDistributed_Core::run() finish") : -1;
        if (spread < 0 || own < 0 || lastRecv < 0 || subCreate < 0 || subDetect < 0 || end < 0)
            continue;
        const qint64 marks[][2] = {{t0, spread},        {spread, subCreate}, {subCreate, subDetect},
                                   {subDetect, lastRecv}, {t0, own},         {own, lastRecv},
                                   {lastRecv, end}};
        for (int k = 0; k < 7; ++k)
            phases[k].push_back(double(marks[k][1] - marks[k][0]) / 1000.0);
    }
    std::printf("\n--trace: the group's work events of the 300 ms set, %d followed (detailed logging on)\n",
                int(phases[0].size()));
    std::printf("%-72s %9s %9s\n", "", "p50 ms", "p90 ms");
    for (int k = 0; k < 7; ++k) {
        if (phases[k].empty())
            continue;
        std::vector<double> v = phases[k];
        std::sort(v.begin(), v.end());
        std::printf("%-72s %9.3f %9.3f\n", names[k], v[v.size() / 2], v[size_t(double(v.size()) * 0.9)]);
    }
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
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        if (QByteArray(argv[i]) == "--cycles" && i + 1 < argc)
            cycles = std::max(1, atoi(argv[++i]));
        else if (QByteArray(argv[i]) == "--trace")
            trace = true;
    }
    // The pause between the end of a cycle and the next trigger: back to
    // back, and with room for the cameras' work after a cycle (the alarm
    // image store, the pushes), as a moulding machine leaves seconds.
    const int gaps[2] = {20, 300};

    double load[3];
    const bool loadKnown = getloadavg(load, 3) == 3;
    Figures measured[2][2];  // [lone, group][gap]
    Figures bare[2];
    std::vector<FailedCycle> failed;
    for (int subs : {0, 2}) {
        const int k = subs == 0 ? 0 : 1;
        OrvaleGroup group(subs);
        if (!group.ok()) {
            std::fprintf(stderr, "group bench: %s; run as root\n", qPrintable(group.why()));
            return 1;
        }
        if (trace) {
            for (int i = 0; i < group.size(); ++i)
                writeTraceSwitch(group.camera(i));
        }
        const QString why = group.start();
        const QString up = why.isEmpty() ? group.bringUp() : why;
        if (!up.isEmpty()) {
            std::fprintf(stderr, "group bench: %s\n", qPrintable(up));
            return 1;
        }
        for (int g = 0; g < 2; ++g) {
            const QString set = QStringLiteral("%1, %2 ms between cycles")
                                    .arg(subs == 0 ? QStringLiteral("lone camera") : QStringLiteral("group of three"))
                                    .arg(gaps[g]);
            std::vector<qint64> logFrom;
            for (int i = 0; i < group.size(); ++i)
                logFrom.push_back(logSize(group.camera(i)));
            measured[k][g] = figures(runCycles(group, set, cycles, gaps[g], &failed));
            if (trace && subs > 0 && gaps[g] == 300)
                printTrace(group, logFrom);
        }
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
    std::printf("failed cycles (no verdict within %d ms): %d\n", kCycleLimitMs, int(failed.size()));
    for (const FailedCycle& f : failed) {
        std::printf("  %s, cycle %d: %s\n", qPrintable(f.set), f.index, qPrintable(f.release));
        if (f.mainSaid.isEmpty())
            std::printf("    the main camera's log said nothing of it\n");
        for (const QString& line : f.mainSaid)
            std::printf("    main: %s\n", qPrintable(line));
    }
    for (int g = 0; g < 2; ++g) {
        const Figures& lone = measured[0][g];
        const Figures& trio = measured[1][g];
        if (lone.p50 <= 0 || trio.p50 <= 0)
            continue;
        std::printf("%d ms between cycles: ratio group / lone p50 %.2f, p99 %.2f; the group adds p50 %.3f ms "
                    "(bare: %.3f ms); aim group p50 <= lone p50 + 5 ms = %.3f ms: %s; aim group p99 <= lone p99 + "
                    "5 ms = %.3f ms: %s\n",
                    gaps[g], trio.p50 / lone.p50, trio.p99 / lone.p99, trio.p50 - lone.p50, bare[1].p50 - bare[0].p50,
                    lone.p50 + 5.0, trio.p50 <= lone.p50 + 5.0 ? "met" : "NOT met", lone.p99 + 5.0,
                    trio.p99 <= lone.p99 + 5.0 ? "met" : "NOT met");
    }
    double loadAfter[3];
    if (loadKnown && getloadavg(loadAfter, 3) == 3)
        std::printf("load average (1, 5, 15 min): %.2f %.2f %.2f at the start, %.2f %.2f %.2f at the end\n", load[0],
                    load[1], load[2], loadAfter[0], loadAfter[1], loadAfter[2]);
    return failed.empty() ? 0 : 2;
}
