// A whole mould cycle through the real camera program: the IO module's
// input datagram that opens the mould, to the output datagram that carries
// the product unit's verdict ("10000000": the mould may close as far as the
// product goes) and to the last one of the cycle ("00000000", after the
// mould unit's detection too). The program runs alone in a network
// namespace (tests/support/devicefixture.h: 8 regions on detections 1 and
// 2, 1920 x 1080, no debounce, no delays), the IO module and the operator
// application (which takes the camera, so heartbeats and pushes run) on the
// other end of a veth pair.
//
// Beside it, in the same run:
//   (a) the detection step alone: detectionstep_bench's "ours", started
//       from here, its p99;
//   (b) a bare UDP round trip over the same veth pair, to an echo on the
//       device side.
// Aim: cycle p99 <= 50 ms + (a)'s p99. Where the slowest cycles spent their
// time is read from the program's log at the end: the phases of the ten
// slowest beside the medians of all (trigger sent -> "[IO_INPUT]" on the IO
// thread -> the flow's IO condition on the main thread -> the detection's
// end -> the flow's verdict condition -> the verdict datagram received).
//
// Then the idle load: the program's CPU (utime + stime from /proc) over
// 60 s with capture, the encoder and the heartbeats to the application
// running (10 a second; the heartbeats counted in each window are printed),
// with no RTSP viewer and with one (aim < 0.35 of a core); and, with --soak N, N cycles
// more with VmRSS, open descriptors and threads at cycle 500 and at the end
// (aim: VmRSS grows < 5 %, descriptors and threads flat).
//
//   cycle_bench [--cycles 200] [--idle-seconds 60] [--soak 10000]
//
// Needs root (network namespaces).
#include "support/devicefixture.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/testlan/vethpair.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <algorithm>
#include <cstdio>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kDeviceId = "BENCHCAM01";

struct Percentiles {
    double p50 = 0;
    double p99 = 0;
};

Percentiles percentiles(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, size_t(double(v.size()) * 0.99))]};
}

bool spin(const std::function<bool()>& done, int ms)
{
    return IoModuleSimulator::waitFor(done, ms);
}

QString lastOutputWord(const IoModuleSimulator& io, qint64 afterNs, qint64* atNs)
{
    const auto frames = io.receivedStartingWith("<C;6;");
    for (int i = frames.size() - 1; i >= 0; --i) {
        if (frames.at(i).atNs < afterNs)
            break;
        if (atNs)
            *atNs = frames.at(i).atNs;
        return QString::fromLatin1(frames.at(i).data.mid(frames.at(i).data.lastIndexOf(';') + 1, 8));
    }
    return QString();
}

// The arrival time of the first output frame with `word` after `afterNs`, 0 when none.
qint64 firstWordAt(const IoModuleSimulator& io, const QString& word, qint64 afterNs)
{
    for (const IoModuleSimulator::Datagram& d : io.receivedStartingWith("<C;6;")) {
        if (d.atNs >= afterNs && d.data.mid(d.data.lastIndexOf(';') + 1, 8) == word.toLatin1())
            return d.atNs;
    }
    return 0;
}

struct ProcessFigures {
    double cpuSeconds = 0;
    qint64 rssKb = 0;
    int fds = 0;
    int threads = 0;
};

ProcessFigures readProcess(qint64 pid)
{
    ProcessFigures f;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        // After the name: field 3 is fields[0]; utime is field 14, stime 15.
        if (fields.size() > 13)
            f.cpuSeconds = double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                f.rssKb = line.mid(6).trimmed().split(' ').first().toLongLong();
            else if (line.startsWith("Threads:"))
                f.threads = line.mid(8).trimmed().toInt();
        }
    }
    f.fds = QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries |
                                                                    QDir::System)
                .size();
    return f;
}

// The machine's 1-, 5- and 15-minute load averages, for the figures.
QByteArray loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("?");
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() >= 3 ? fields.mid(0, 3).join(' ') : QByteArray("?");
}

// detectionstep_bench's own step, run beside this one: its p99 in ms, or
// -1 when it could not be run.
double detectionStepP99()
{
    QProcess p;
    p.start(QCoreApplication::applicationDirPath() + "/detectionstep_bench",
            {"--benchmark_filter=ours", "--benchmark_format=json"});
    if (!p.waitForFinished(300000) || p.exitCode() != 0)
        return -1;
    QByteArray out = p.readAllStandardOutput();
    out = out.mid(out.indexOf("{\n"));
    const QJsonArray runs = QJsonDocument::fromJson(out).object().value("benchmarks").toArray();
    for (const QJsonValue& r : runs) {
        if (r.toObject().contains("p99_ms"))
            return r.toObject().value("p99_ms").toDouble();
    }
    return -1;
}

// The machine's real-time clock in microseconds, the clock of the
// program's log lines.
qint64 wallUs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

struct LogLine {
    qint64 us = 0;  // real time of the line
    QByteArray text;
};

// The lines of the program's log files ("I20261211 13:52:16.209218 tid
// file:line] text", local time), in time order.
std::vector<LogLine> readLogLines(const QString& dir)
{
    std::vector<LogLine> lines;
    for (const QString& name : QDir(dir).entryList({QStringLiteral("LOG_*.log")}, QDir::Files, QDir::Name)) {
        QFile f(QDir(dir).filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        while (!f.atEnd()) {
            const QByteArray line = f.readLine();
            if (line.size() < 27 || line.at(9) != ' ' || line.at(18) != '.')
                continue;
            const QDate date = QDate::fromString(QString::fromLatin1(line.mid(1, 8)), QStringLiteral("yyyyMMdd"));
            const QTime time(line.mid(10, 2).toInt(), line.mid(13, 2).toInt(), line.mid(16, 2).toInt());
            if (!date.isValid() || !time.isValid())
                continue;
            lines.push_back({QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch() * 1000 + line.mid(19, 6).toLongLong(),
                             line.mid(27).trimmed()});
        }
    }
    std::stable_sort(lines.begin(), lines.end(), [](const LogLine& a, const LogLine& b) { return a.us < b.us; });
    return lines;
}

// One timed cycle: when its trigger was sent (real time) and how long its
// verdict took to come back.
struct TimedCycle {
    qint64 sentUs = 0;
    double verdictMs = 0;
};

// The phases of the cycles from the log: the line times of each marker in
// turn after the trigger was sent; printed for the slowest and as medians.
void printPhases(const std::vector<TimedCycle>& cycles, const std::vector<LogLine>& lines)
{
    const char* const markers[] = {"[IO_INPUT] trigger", "FlowPart_Cond_IO", "RunAlgorithm Finish",
                                   "FlowPart_Cond_PreResult"};
    const char* const names[] = {"IO thread", "main queue", "detection", "verdict on main", "output"};
    constexpr int kPhases = 5;
    struct Phases {
        double verdictMs = 0;
        double ms[kPhases] = {};
    };
    std::vector<Phases> found;
    for (const TimedCycle& c : cycles) {
        auto it = std::lower_bound(lines.begin(), lines.end(), c.sentUs,
                                   [](const LogLine& l, qint64 us) { return l.us < us; });
        qint64 at[5] = {c.sentUs};
        bool all = true;
        for (int m = 0; m < 4 && all; ++m) {
            while (it != lines.end() && !it->text.contains(markers[m]))
                ++it;
            all = it != lines.end();
            if (all)
                at[m + 1] = it->us;
        }
        const qint64 arrivedUs = c.sentUs + qint64(c.verdictMs * 1000.0);
        if (!all || at[4] > arrivedUs)
            continue;  // the log does not tell (a line of another cycle would be taken)
        Phases p;
        p.verdictMs = c.verdictMs;
        for (int k = 0; k < 4; ++k)
            p.ms[k] = double(at[k + 1] - at[k]) / 1000.0;
        p.ms[4] = double(arrivedUs - at[4]) / 1000.0;
        found.push_back(p);
    }
    if (found.empty()) {
        std::printf("phases: the program's log does not tell them\n");
        return;
    }
    std::printf("\nphases of the cycles (ms), from the program's log: %d of %d cycles told\n", int(found.size()),
                int(cycles.size()));
    std::printf("%-14s %9s", "", "verdict");
    for (const char* n : names)
        std::printf(" %16s", n);
    std::printf("\n");
    std::vector<double> column;
    std::printf("%-14s", "median");
    for (int k = -1; k < kPhases; ++k) {
        column.clear();
        for (const Phases& p : found)
            column.push_back(k < 0 ? p.verdictMs : p.ms[k]);
        std::printf(k < 0 ? " %9.3f" : " %16.3f", percentiles(column).p50);
    }
    std::printf("\n");
    std::sort(found.begin(), found.end(), [](const Phases& a, const Phases& b) { return a.verdictMs > b.verdictMs; });
    for (size_t i = 0; i < found.size() && i < 10; ++i) {
        std::printf("%-14s %9.3f", i == 0 ? "slowest" : "", found[i].verdictMs);
        for (double ms : found[i].ms)
            std::printf(" %16.3f", ms);
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int cycles = 200;
    int idleSeconds = 60;
    int soak = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray a = argv[i];
        if (a == "--cycles")
            cycles = std::max(1, atoi(argv[i + 1]));
        else if (a == "--idle-seconds")
            idleSeconds = std::max(0, atoi(argv[i + 1]));
        else if (a == "--soak")
            soak = std::max(0, atoi(argv[i + 1]));
    }

    // (a) first, while nothing else of ours runs.
    const double stepP99 = detectionStepP99();

    VethPair net;
    if (!net.ok()) {
        std::fprintf(stderr, "cycle bench: no network namespaces (%s); run as root\n", qPrintable(net.error()));
        return 1;
    }
    QTemporaryDir root;
    const QString appDir = root.filePath("app");
    if (!devicefixture::writeWorkingDir(appDir, {kDeviceId, net.address(1), net.address(2)}, ORVALE_FACTORY_SQL_DIR) ||
        !devicefixture::writeScene(root.filePath("scene"), false)) {
        std::fprintf(stderr, "cycle bench: the camera's files could not be written\n");
        return 1;
    }

    // (b) a bare UDP round trip over the pair.
    QUdpSocket* echo = nullptr;
    net.onDevice([&] {
        echo = new QUdpSocket;
        echo->bind(QHostAddress(net.address(1)), 17999);
        QObject::connect(echo, &QUdpSocket::readyRead, echo, [echo] {
            while (echo->hasPendingDatagrams()) {
                QHostAddress from;
                quint16 port = 0;
                QByteArray d(int(echo->pendingDatagramSize()), 0);
                echo->readDatagram(d.data(), d.size(), &from, &port);
                echo->writeDatagram(d, from, port);
            }
        });
    });
    std::vector<double> udp;
    {
        QUdpSocket peer;
        peer.bind(QHostAddress(net.address(2)), 0);
        const QByteArray ping("<S;5;IOM-SIM;11000000>");
        for (int i = 0; i < cycles + 20; ++i) {
            QElapsedTimer t;
            t.start();
            peer.writeDatagram(ping, QHostAddress(net.address(1)), 17999);
            if (!peer.waitForReadyRead(1000))
                continue;
            const qint64 ns = t.nsecsElapsed();
            while (peer.hasPendingDatagrams())
                peer.receiveDatagram();
            if (i >= 20)
                udp.push_back(double(ns) / 1e6);
        }
    }
    net.onDevice([&] { delete echo; });

    IoModuleSimulator::Config ioConfig;
    ioConfig.address = QHostAddress(net.address(2));
    ioConfig.camera = QHostAddress(net.address(1));
    ioConfig.moduleId = devicefixture::kIoModuleId;
    IoModuleSimulator io(ioConfig);
    AppSimulator operatorApp;
    operatorApp.setDoTaken(true);
    operatorApp.setAppVersion(QStringLiteral("V1.6.7.95"));
    if (!io.start() || !operatorApp.start(QHostAddress(net.address(3)))) {
        std::fprintf(stderr, "cycle bench: the peers cannot bind\n");
        return 1;
    }

    QProcess orvale;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVALE_DATA_ROOT", root.path());
    env.insert("ORVALE_DEVICE_ID", kDeviceId);
    env.insert("ORVALE_SENSOR_IMAGES", root.filePath("scene"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", root.filePath("tmp"));
    for (const char* name : {"ORVALE_DEVICE", "ORVALE_HTTP_PORT", "ORVALE_RTSP_PORT"})
        env.remove(name);
    QDir().mkpath(root.filePath("tmp"));
    orvale.setProcessEnvironment(env);
    orvale.setWorkingDirectory(appDir);
    orvale.setStandardOutputFile(root.filePath("stdout.txt"));
    orvale.setStandardErrorFile(root.filePath("stderr.txt"));
    const QStringList command = net.deviceCommand(ORVALE_BIN);
    orvale.start(command.first(), command.mid(1));
    if (!orvale.waitForStarted(10000)) {
        std::fprintf(stderr, "cycle bench: Orvale did not start\n");
        return 1;
    }
    const qint64 pid = orvale.processId();
    auto stop = [&] {
        orvale.terminate();
        if (!orvale.waitForFinished(30000))
            orvale.kill();
        orvale.waitForFinished(5000);
    };

    // The application registers by its device search and takes the camera
    // with its first heartbeat answer; from then on the camera sends it a
    // heartbeat every 100 ms, through the cycles and the idle windows.
    spin([] { return false; }, 5000);
    QProcess search;
    search.start("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d",
                          QString::fromUtf8(QJsonDocument(QJsonObject{{"app_version", "V1.6.7.95"},
                                                                      {"subip", net.address(3)}})
                                                .toJson(QJsonDocument::Compact)),
                          "http://" + net.address(1) + ":10414/dide/context/lan_all_devices"});
    const bool taken = spin(
        [&] {
            const auto hbs = operatorApp.heartbeats();
            return search.state() == QProcess::NotRunning && hbs.size() >= 5 &&
                   hbs.last().atMs - hbs.at(hbs.size() - 5).atMs < 800;
        },
        60000);
    if (!taken) {
        std::fprintf(stderr, "cycle bench: the application did not take the camera (%d heartbeats; search: %s)\n",
                     int(operatorApp.heartbeatCount()), search.readAllStandardOutput().left(300).constData());
        stop();
        return 1;
    }
    io.setInputs(0b10);  // the safety door closed
    spin([] { return false; }, 3000);

    std::vector<double> verdict;
    std::vector<double> whole;
    std::vector<TimedCycle> timedCycles;
    int failed = 0;
    auto oneCycle = [&](bool timed) {
        const qint64 sentUs = wallUs();
        const qint64 startNs = IoModuleSimulator::clockNs();
        io.setInputs(0b11);
        const bool done = spin([&] { return lastOutputWord(io, startNs, nullptr) == "00000000"; }, 10000);
        if (!done) {
            ++failed;
        } else if (timed) {
            const qint64 v = firstWordAt(io, "10000000", startNs);
            const qint64 w = firstWordAt(io, "00000000", startNs);
            if (v > 0) {
                verdict.push_back(double(v - startNs) / 1e6);
                timedCycles.push_back({sentUs, verdict.back()});
            }
            whole.push_back(double(w - startNs) / 1e6);
        }
        io.setInputs(0b10);
        spin([] { return false; }, 20);
        if (io.received().size() > 2000)
            io.clearReceived();
    };
    for (int i = 0; i < 10; ++i)
        oneCycle(false);
    for (int i = 0; i < cycles; ++i)
        oneCycle(true);

    const Percentiles v = percentiles(verdict);
    const Percentiles w = percentiles(whole);
    const Percentiles u = percentiles(udp);
    std::printf("\nwhole program, %d cycles (8 regions, 1920 x 1080, debounce 0, delay 0), %d failed\n", cycles, failed);
    std::printf("%-44s %10s %10s\n", "", "p50 ms", "p99 ms");
    std::printf("%-44s %10.3f %10.3f\n", "trigger -> product verdict output (10000000)", v.p50, v.p99);
    std::printf("%-44s %10.3f %10.3f\n", "trigger -> end of cycle (00000000)", w.p50, w.p99);
    std::printf("%-44s %10s %10.3f\n", "(a) detection step alone (detectionstep)", "", stepP99);
    std::printf("%-44s %10.3f %10.3f\n", "(b) bare UDP round trip over the pair", u.p50, u.p99);
    std::printf("load average %s\n", loadAverage().constData());
    if (stepP99 > 0)
        std::printf("aim: verdict p99 <= 50 ms + (a) p99 = %.3f ms: %s\n", 50.0 + stepP99,
                    v.p99 <= 50.0 + stepP99 ? "met" : "NOT met");

    if (idleSeconds > 0) {
        for (int viewers = 0; viewers <= 1; ++viewers) {
            QProcess viewer;
            if (viewers == 1) {
                viewer.start("ffmpeg", {"-v", "quiet", "-rtsp_transport", "tcp", "-i",
                                        "rtsp://" + net.address(1) + ":554/live/main_stream", "-c", "copy", "-f",
                                        "null", "-"});
                spin([] { return false; }, 5000);
            }
            const qint64 heartbeatsBefore = operatorApp.heartbeatCount();
            const ProcessFigures before = readProcess(pid);
            spin([] { return false; }, idleSeconds * 1000);
            const ProcessFigures after = readProcess(pid);
            const int heartbeats = int(operatorApp.heartbeatCount() - heartbeatsBefore);
            std::printf("idle, %d RTSP viewer(s), %d s, %d heartbeats to the application (%.1f/s): %.3f of a core "
                        "(aim < 0.35); load average %s\n",
                        viewers, idleSeconds, heartbeats, double(heartbeats) / double(idleSeconds),
                        (after.cpuSeconds - before.cpuSeconds) / double(idleSeconds), loadAverage().constData());
            if (viewers == 1) {
                viewer.kill();
                viewer.waitForFinished(5000);
            }
        }
    }

    if (soak > 0) {
        ProcessFigures at500;
        for (int i = 1; i <= soak; ++i) {
            oneCycle(false);
            if (i == 500)
                at500 = readProcess(pid);
        }
        const ProcessFigures end = readProcess(pid);
        std::printf("soak, %d cycles (%d failed): VmRSS %lld kB at 500, %lld kB at the end (%+.2f %%, aim < 5 %%); "
                    "fds %d -> %d; threads %d -> %d\n",
                    soak, failed, at500.rssKb, end.rssKb,
                    at500.rssKb > 0 ? 100.0 * double(end.rssKb - at500.rssKb) / double(at500.rssKb) : 0.0,
                    at500.fds, end.fds, at500.threads, end.threads);
    }
    stop();
    printPhases(timedCycles, readLogLines(root.filePath("userdata/log")));
    // What this bench holds itself (the simulated application keeps only
    // the last pushes).
    std::printf("this bench's own VmRSS at the end: %lld kB\n", readProcess(getpid()).rssKb);
    std::printf("load average at the end %s\n", loadAverage().constData());
    return failed == 0 ? 0 : 2;
}
