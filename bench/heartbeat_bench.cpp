// CPU of the publisher's thread for the UDP heartbeat, per minute, with one
// taken and three registered applications answering, beside a bare QTimer
// and QUdpSocket on a thread of their own sending the same datagrams at the
// same rates (every 100 ms to the taken one, every second to the others) and
// reading the answers, in the same run. Runs in a private network when it
// may make one (the applications listen on the fixed port 10417 at
// 127.0.0.2..5); otherwise it says so and stops.
#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/tm_zrp_publish.h"
#include "net/udp_push2app_simple.h"
#include "platform/system/monotonicclock.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

const int kSeconds = 6;

// CPU nanoseconds a thread of this process has used.
qint64 threadCpuNs(qint64 tid)
{
    QFile f(QStringLiteral("/proc/self/task/%1/schedstat").arg(tid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    return f.readAll().split(' ').value(0).toLongLong();
}

qint64 tidOf(QObject* onThread)
{
    qint64 tid = 0;
    QMetaObject::invokeMethod(onThread, [&] { tid = qint64(::syscall(SYS_gettid)); }, Qt::BlockingQueuedConnection);
    return tid;
}

void run(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    IsolatedNetwork net;
    if (!net.ok()) {
        std::printf("heartbeat_bench: no private network (%s); not run\n", qPrintable(net.error()));
        return 0;
    }
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    qputenv("ORVALE_DEVICE_ID", "BENCHCAM");
    ZRC_WorkInformation_Manager* wim = ZRC_WorkInformation_Manager::getInstance();
    WorkStashManager_Config c;
    c.workspace_dir = dir.path() + "/workspace/";
    c.temp_dir = dir.path() + "/tmp/";
    WorkStashManager::getInstance(c);
    Udp_Push2APP_Simple::setWorkingUnitProbe([] { return 0; });  // a unit works: the clock is left alone

    const QStringList apps = {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"};
    std::vector<std::unique_ptr<AppSimulator>> sims;
    for (const QString& ip : apps) {
        sims.push_back(std::make_unique<AppSimulator>());
        sims.back()->setDoTaken(ip == apps.first());
        sims.back()->setAppVersion(QStringLiteral("V1.6.7.94"));
        if (!sims.back()->start(QHostAddress(ip))) {
            std::printf("cannot listen on %s\n", qPrintable(ip));
            return 1;
        }
    }
    QByteArray runstate(900, 'x');
    runstate = "{\"state\":0,\"pad\":\"" + runstate + "\"}";

    // ---- ours ----
    wim->update_working_info([&](ZRC_WorkInfos& w) {
        w.group_text = "(M1);(BENCHCAM,127.0.0.1);();()";
        for (const QString& ip : apps)
            w.registered_apps[ip.toStdString()] =
                AppRegiestInfo{gettimeofday_ms(), QString(), platform::MonotonicClock::nowMs()};
    });
    double oursPct = 0;
    {
        TM_ZRP_Publish publisher;
        publisher.update_p2ahb_stash_runstate(runstate);
        publisher.startwork();
        run(1000);  // the first answer takes the camera
        const qint64 tid = tidOf(&publisher);
        const qint64 cpu0 = threadCpuNs(tid);
        QElapsedTimer t;
        t.start();
        run(kSeconds * 1000);
        oursPct = double(threadCpuNs(tid) - cpu0) / double(t.nsecsElapsed()) * 100.0;
    }

    // ---- bare timer and socket ----
    double barePct = 0;
    {
        QThread th;
        QObject ctx;
        ctx.moveToThread(&th);
        th.start();
        QUdpSocket* sock = nullptr;
        QTimer* timer = nullptr;
        QMetaObject::invokeMethod(&ctx, [&] {
            sock = new QUdpSocket(&ctx);
            timer = new QTimer(&ctx);
            QObject::connect(sock, &QUdpSocket::readyRead, sock, [sock] {
                while (sock->hasPendingDatagrams())
                    sock->receiveDatagram();
            });
            auto tick = std::make_shared<int>(0);
            QObject::connect(timer, &QTimer::timeout, timer, [sock, tick, apps, runstate] {
                const int n = (*tick)++;
                for (int i = 0; i < apps.size(); ++i) {
                    if (i == 0 || n % 10 == 0)
                        sock->writeDatagram(Udp_Push2APP_Simple::heartbeatDatagram(runstate), QHostAddress(apps.at(i)),
                                            10417);
                }
            });
            timer->start(100);
        }, Qt::BlockingQueuedConnection);
        run(1000);
        const qint64 tid = tidOf(&ctx);
        const qint64 cpu0 = threadCpuNs(tid);
        QElapsedTimer t;
        t.start();
        run(kSeconds * 1000);
        barePct = double(threadCpuNs(tid) - cpu0) / double(t.nsecsElapsed()) * 100.0;
        QMetaObject::invokeMethod(&ctx, [&] { timer->stop(); delete sock; delete timer; }, Qt::BlockingQueuedConnection);
        th.quit();
        th.wait();
    }
    std::printf("heartbeat thread CPU, 1 taken + 3 registered applications, %d s each\n", kSeconds);
    std::printf("ours: %.4f %% of a core (%.1f ms CPU per minute)\n", oursPct, oursPct * 600.0);
    std::printf("bare: %.4f %% of a core (%.1f ms CPU per minute)\n", barePct, barePct * 600.0);
    std::printf("ratio: %.2f\n", barePct > 0 ? oursPct / barePct : 0.0);
    return 0;
}
