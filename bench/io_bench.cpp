// Machine IO on loopback, beside a bare UDP round trip and a bare timer in
// the same run:
//   - input:  an input-state datagram leaves the IO-module simulator ->
//             the IO frame raises its trigger in the main thread (debounce 0);
//   - output: an output request on the IO frame -> the output frame arrives
//             at the simulator (includes the 1 ms window that merges requests);
//   - bare:   a datagram to an echo thread and back, Qt sockets on both sides;
//   - timer:  a 1 ms clock_nanosleep on the monotonic clock, in a thread with
//             the transport thread's timer slack (1 ns).
// Each runs 1000 cycles and reports the median and the 99th percentile. The
// summary gives the ratios to the bare round trip and sets the output path
// against what it cannot go below: a hop to the transport thread and one to
// the module (at most 2 x the bare round trip) plus the bare 1 ms timer.
//
// The camera's log goes to log files in the benchmark's working folder as in
// the running program (the "level_1" lines, so the "[IO_OUTPUT]" line of
// every output frame); the summary says how many output lines it found there.
//
// It runs in a private network (a network namespace of its own) when allowed
// to make one, so the camera's fixed ports meet nothing else on the machine;
// otherwise it uses this machine's loopback and needs ports 10410..10412 free.
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "io/ioworkinfo.h"
#include "io/tm_zru_iodevice.h"
#include "io/vcam_io.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <time.h>

namespace {

constexpr int kCycles = 1000;
constexpr int kWarmUp = 50;
const QString kSelf = QStringLiteral("CAMBENCH");

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
};
std::map<std::string, Figures> g_figures;

Figures figuresOf(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    Figures f;
    if (us.empty())
        return f;
    f.medianUs = us[us.size() / 2];
    f.p99Us = us[std::min(us.size() - 1, size_t(double(us.size()) * 0.99))];
    return f;
}

void report(benchmark::State& state, const std::string& name, const std::vector<double>& us)
{
    const Figures f = figuresOf(us);
    g_figures[name] = f;
    state.counters["median_us"] = f.medianUs;
    state.counters["p99_us"] = f.p99Us;
    state.counters["cycles"] = double(us.size());
}

// Runs the calling thread's events until `done` or the time is up.
bool spinUntil(const std::function<bool()>& done, int timeoutMs = 2000)
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(timeoutMs);
    while (!done() && guard.isActive())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

// One camera with its IO frame and link, and the IO module beside it.
struct Bench {
    Bench()
    {
        qputenv("ORVALE_DEVICE_ID", kSelf.toLatin1());
        QDir::setCurrent(work.path());
        // The program's log files (relative folders: under the working folder),
        // with the categories the running program writes.
        LogManager_Config log;
        log.log_to_stderr = false;
        LogManager::getInstance(log);
        LogManager::setLogInfoLevel({QStringLiteral("level_1")});
        auto* mgr = ZRC_WorkInformation_Manager::getInstance();
        mgr->setNetCardProbe([](DeviceNetInfo_Detail& card) {
            card.ifname = QStringLiteral("lo");
            card.ip = QStringLiteral("127.0.0.1");
            card.netmask = QStringLiteral("255.0.0.0");
            card.broadcast = QStringLiteral("127.255.255.255");
            card.mac = QStringLiteral("02:00:5E:00:00:01");
            return true;
        });
        mgr->init();
        ZRC_DeviceInfos g;
        g.machine_id = QStringLiteral("M1");
        g.io_uuid = QStringLiteral("IOM-SIM");
        g.io_address = QStringLiteral("127.0.0.2");
        g.cameras = {DeviceNetInfo(kSelf, QStringLiteral("127.0.0.1"), 1)};
        mgr->set_device_info(g);
        mgr->update_working_info([](ZRC_WorkInfos& w) {
            w.started = true;
            w.link_flags = 3;
        });
        mgr->set_mainloop_tick(curtime_qint64_2_int());

        frame = std::make_unique<VCam_IO>();
        const int bothEdges[8] = {3, 3, 3, 3, 3, 3, 3, 3};
        frame->setIO_TrigIn(bothEdges);
        frame->editParams([](FrameIO_Params& p) { p.shakeerase_time = 0; });
        link = new TM_ZRU_IODevice;
        frame->setReactor(link);
        listening = spinUntil([this] { return link->listeningPorts().size() == 2; });

        IoModuleSimulator::Config cfg;
        cfg.heartbeatMs = 0;
        module = std::make_unique<IoModuleSimulator>(cfg);
        bound = module->start();
    }

    bool ok() const { return listening && bound; }

    // "[IO_OUTPUT]" lines in the log files written so far.
    int outputLinesLogged() const
    {
        int lines = 0;
        QDirIterator files(work.filePath(QStringLiteral("log")), {QStringLiteral("LOG_*.log")}, QDir::Files);
        while (files.hasNext()) {
            QFile f(files.next());
            if (f.open(QIODevice::ReadOnly))
                lines += f.readAll().count("[IO_OUTPUT]");
        }
        return lines;
    }

    QTemporaryDir work;
    std::unique_ptr<VCam_IO> frame;
    TM_ZRU_IODevice* link = nullptr;  // owned by the frame
    std::unique_ptr<IoModuleSimulator> module;
    bool listening = false;
    bool bound = false;
};

Bench* g_bench = nullptr;

// Echoes every datagram back to its sender, in a thread of its own.
class EchoThread : public QThread {
public:
    explicit EchoThread(const QHostAddress& address) : m_address(address) {}
    quint16 port() const { return m_port.load(); }

protected:
    void run() override
    {
        QUdpSocket s;
        if (s.bind(m_address, 0))
            m_port.store(s.localPort());
        else
            m_port.store(1);  // tells the waiting side that it failed
        QObject::connect(&s, &QUdpSocket::readyRead, [&s] {
            while (s.hasPendingDatagrams()) {
                const QNetworkDatagram d = s.receiveDatagram();
                s.writeDatagram(d.makeReply(d.data()));
            }
        });
        exec();
    }

private:
    QHostAddress m_address;
    std::atomic<quint16> m_port{0};
};

void BM_BareUdpRoundTrip(benchmark::State& state)
{
    const QHostAddress lo(QStringLiteral("127.0.0.1"));
    EchoThread echo(lo);
    echo.start();
    while (echo.port() == 0)
        QThread::usleep(100);
    QUdpSocket s;
    s.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
    const QByteArray ping("<S;5;IOM-SIM;10000000>");
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kCycles + kWarmUp; ++i) {
            bool back = false;
            QMetaObject::Connection c = QObject::connect(&s, &QUdpSocket::readyRead, [&] {
                while (s.hasPendingDatagrams())
                    s.receiveDatagram();
                back = true;
            });
            const qint64 t0 = IoModuleSimulator::clockNs();
            s.writeDatagram(ping, lo, echo.port());
            spinUntil([&] { return back; });
            const qint64 t1 = IoModuleSimulator::clockNs();
            QObject::disconnect(c);
            if (i >= kWarmUp)
                us.push_back(double(t1 - t0) / 1000.0);
        }
    }
    echo.quit();
    echo.wait();
    report(state, "bare", us);
}

void BM_BareTimer(benchmark::State& state)
{
    std::vector<double> us;
    for (auto _ : state) {
        QThread* sleeper = QThread::create([&us] {
            prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
            const timespec window{0, 1000000};
            for (int i = 0; i < kCycles + kWarmUp; ++i) {
                const qint64 t0 = IoModuleSimulator::clockNs();
                clock_nanosleep(CLOCK_MONOTONIC, 0, &window, nullptr);
                const qint64 t1 = IoModuleSimulator::clockNs();
                if (i >= kWarmUp)
                    us.push_back(double(t1 - t0) / 1000.0);
            }
        });
        sleeper->start();
        sleeper->setPriority(QThread::HighestPriority);
        sleeper->wait();
        delete sleeper;
    }
    report(state, "timer", us);
}

int g_outputRequests = 0;

void BM_InputDatagramToTrigger(benchmark::State& state)
{
    Bench& b = *g_bench;
    qint64 triggeredNs = 0;
    QMetaObject::Connection c = QObject::connect(b.frame.get(), &FrameIO::sig_HasIOTrig, b.frame.get(),
                                                 [&](QMap<int, ElectricLevel>) { triggeredNs = IoModuleSimulator::clockNs(); });
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kCycles + kWarmUp; ++i) {
            triggeredNs = 0;
            const qint64 t0 = IoModuleSimulator::clockNs();
            b.module->setInputs(i % 2 == 0 ? 0b1 : 0b0);  // every edge of input 1 triggers
            if (!spinUntil([&] { return triggeredNs != 0; })) {
                state.SkipWithError("no trigger");
                break;
            }
            if (i >= kWarmUp)
                us.push_back(double(triggeredNs - t0) / 1000.0);
        }
    }
    QObject::disconnect(c);
    report(state, "input", us);
}

void BM_OutputRequestToDatagram(benchmark::State& state)
{
    Bench& b = *g_bench;
    std::vector<double> us;
    for (auto _ : state) {
        for (int i = 0; i < kCycles + kWarmUp; ++i) {
            const int frames = b.module->outputFrames();
            const int level = (i % 2 == 0) ? 1 : 0;
            const qint64 t0 = IoModuleSimulator::clockNs();
            b.frame->IOSetOut_Abs(0, level);
            ++g_outputRequests;
            if (!spinUntil([&] { return b.module->outputFrames() > frames; })) {
                state.SkipWithError("no output frame");
                break;
            }
            const qint64 t1 = b.module->received().last().atNs;
            b.module->clearReceived();
            if (i >= kWarmUp)
                us.push_back(double(t1 - t0) / 1000.0);
        }
    }
    report(state, "output", us);
}

BENCHMARK(BM_BareUdpRoundTrip)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareTimer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InputDatagramToTrigger)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OutputRequestToDatagram)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    IsolatedNetwork net;  // before any socket or thread
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    std::printf("network: %s\n", net.ok() ? "private (own namespace)"
                                          : qPrintable(QStringLiteral("this machine's loopback (%1)").arg(net.error())));
    Bench bench;
    if (!bench.ok()) {
        std::fprintf(stderr, "cannot listen on 10410/10412 or bind 127.0.0.2:10411\n");
        return 1;
    }
    g_bench = &bench;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const Figures bare = g_figures["bare"];
    const Figures timer = g_figures["timer"];
    const Figures in = g_figures["input"];
    const Figures out = g_figures["output"];
    if (bare.medianUs > 0) {
        std::printf("\n%-34s %10s %10s %14s\n", "path (1000 cycles)", "median us", "p99 us", "median/bare");
        std::printf("%-34s %10.1f %10.1f %14.2f\n", "bare UDP round trip", bare.medianUs, bare.p99Us, 1.0);
        std::printf("%-34s %10.1f %10.1f %14.2f\n", "input datagram -> trigger", in.medianUs, in.p99Us,
                    in.medianUs / bare.medianUs);
        std::printf("%-34s %10.1f %10.1f %14.2f\n", "output request -> datagram", out.medianUs, out.p99Us,
                    out.medianUs / bare.medianUs);
        std::printf("%-34s %10.1f %10.1f\n", "bare 1 ms timer", timer.medianUs, timer.p99Us);
        std::printf("%-34s %10.1f %10.1f %14.2f\n", "  output less the bare timer", out.medianUs - timer.medianUs,
                    out.p99Us - timer.p99Us, (out.medianUs - timer.medianUs) / bare.medianUs);
        const double budget = 2.0 * bare.medianUs + timer.medianUs;
        std::printf("output path (median) %.1f us against 2 x bare round trip + bare timer = %.1f us: %s (ratio %.2f)\n",
                    out.medianUs, budget, out.medianUs <= budget ? "within" : "ABOVE", out.medianUs / budget);
    }
    // The line of the last frame is written just after the frame left.
    spinUntil([&] { return bench.outputLinesLogged() >= g_outputRequests; }, 1000);
    std::printf("\"[IO_OUTPUT]\" lines in the log files: %d for %d output requests\n", bench.outputLinesLogged(),
                g_outputRequests);
    g_bench = nullptr;
    return 0;
}
