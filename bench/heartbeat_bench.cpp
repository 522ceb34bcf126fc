// CPU of the publisher's thread for the UDP heartbeat, per minute, with one
// taken and three registered applications answering, beside the same job
// done plainly with a bare QTimer and QUdpSocket on a thread of their own, in
// the same run. Both do the same work by the same method on every 100 ms
// tick: drop applications silent for more than 10 s; to the taken
// application every tick and to the others once a second, check the link
// (a fresh socket when it is lost) and send the same datagram, built from the
// local time text and the run state; read every answer, parse its JSON,
// register the sender and let the first "dotaken" take the camera. The
// reference keeps its applications in plain maps of its own and builds its
// datagram with QDateTime and QString (checked against ours before the run).
// The floor printed beside them is a bare 100 ms timer with nothing to do.
// Runs in a private network when it may make one (the applications listen
// on the fixed port 10417 at 127.0.0.2..5); otherwise it says so and stops.
#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/tm_zrp_publish.h"
#include "net/udp_push2app_simple.h"
#include "platform/system/monotonicclock.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <map>
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

// The heartbeat datagram built plainly: local time text, head, body.
QByteArray plainDatagram(const QByteArray& body)
{
    return QStringLiteral("POST /dide/initiative/runstate HTTP/1.1\r\nUser-Agent: vc_heartbeat#%1\r\n"
                          "Content-Type: application/json\r\nContent-Length: %2\r\nDevice-ID: %3\r\n\r\n")
               .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz")))
               .arg(body.size())
               .arg(ZRC_WorkInformation_Manager::getInstance()->get_deviceid())
               .toUtf8() +
           body;
}

// The heartbeat done plainly (lives on its own thread).
class PlainHeartbeat : public QObject {
public:
    PlainHeartbeat(const QStringList& apps, const QByteArray& runstate) : m_runstate(runstate)
    {
        for (const QString& ip : apps)
            m_answered[ip] = platform::MonotonicClock::nowMs();
    }
    void start()  // on its thread
    {
        renew();
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer->start(100);
    }
    void stop()
    {
        delete m_timer;
        delete m_sock;
    }

private:
    void renew()
    {
        delete m_sock;
        m_sock = new QUdpSocket(this);
        connect(m_sock, &QUdpSocket::readyRead, this, [this] { read(); });
    }
    void tick()
    {
        const qint64 now = platform::MonotonicClock::nowMs();
        for (auto it = m_answered.begin(); it != m_answered.end();)
            it = now - it->second > 10000 ? m_answered.erase(it) : std::next(it);
        if (m_answered.find(m_taken) == m_answered.end())
            m_taken.clear();
        for (const auto& app : m_answered) {
            const auto last = m_sent.find(app.first);
            const qint64 interval = app.first == m_taken ? 100 : 1000;
            if (last != m_sent.end() && now - last->second < interval)
                continue;
            // A link silent for 2 s after a send gets a fresh socket, as ours does.
            if (last != m_sent.end() && last->second - app.second > 2000)
                renew();
            m_sock->writeDatagram(plainDatagram(m_runstate), QHostAddress(app.first), 10417);
            m_sent[app.first] = now;
        }
    }
    void read()
    {
        while (m_sock->hasPendingDatagrams()) {
            const QNetworkDatagram d = m_sock->receiveDatagram();
            const int blank = d.data().indexOf("\r\n\r\n");
            if (blank < 0)
                continue;
            const QJsonValue result = QJsonDocument::fromJson(d.data().mid(blank + 4)).object().value("result");
            if (!result.isObject())
                continue;
            const QString from = d.senderAddress().toString();
            m_answered[from] = platform::MonotonicClock::nowMs();
            m_versions[from] = result.toObject().value("app_version").toString();
            if (m_taken.isEmpty() && result.toObject().value("dotaken").toBool())
                m_taken = from;
        }
    }

    QByteArray m_runstate;
    QUdpSocket* m_sock = nullptr;
    QTimer* m_timer = nullptr;
    std::map<QString, qint64> m_answered;  // monotonic ms of the last answer
    std::map<QString, qint64> m_sent;      // monotonic ms of the last send
    std::map<QString, QString> m_versions;
    QString m_taken;
};

// CPU share of one core used by the thread `onThread` lives on, over `ms`.
double cpuShare(QObject* onThread, int ms)
{
    const qint64 tid = tidOf(onThread);
    const qint64 cpu0 = threadCpuNs(tid);
    QElapsedTimer t;
    t.start();
    run(ms);
    return double(threadCpuNs(tid) - cpu0) / double(t.nsecsElapsed()) * 100.0;
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
    // The reference sends what ours sends (apart from the time of sending).
    const QRegularExpression stamp(QStringLiteral("vc_heartbeat#\\d{8}_\\d{6}_\\d{3}"));
    if (QString::fromUtf8(plainDatagram(runstate)).remove(stamp) !=
        QString::fromUtf8(Udp_Push2APP_Simple::heartbeatDatagram(runstate)).remove(stamp)) {
        std::printf("heartbeat_bench: the reference datagram differs from ours; not run\n");
        return 1;
    }

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
        oursPct = cpuShare(&publisher, kSeconds * 1000);
    }

    // ---- the same job done plainly ----
    double barePct = 0;
    {
        QThread th;
        PlainHeartbeat plain(apps, runstate);
        plain.moveToThread(&th);
        th.start();
        QMetaObject::invokeMethod(&plain, [&] { plain.start(); }, Qt::BlockingQueuedConnection);
        run(1000);
        barePct = cpuShare(&plain, kSeconds * 1000);
        QMetaObject::invokeMethod(&plain, [&] { plain.stop(); }, Qt::BlockingQueuedConnection);
        th.quit();
        th.wait();
    }

    // ---- floor: a bare 100 ms timer with nothing to do ----
    double floorPct = 0;
    {
        QThread th;
        QObject ctx;
        ctx.moveToThread(&th);
        th.start();
        QTimer* timer = nullptr;
        QMetaObject::invokeMethod(&ctx, [&] {
            timer = new QTimer(&ctx);
            QObject::connect(timer, &QTimer::timeout, timer, [] {});
            timer->start(100);
        }, Qt::BlockingQueuedConnection);
        floorPct = cpuShare(&ctx, kSeconds * 1000);
        QMetaObject::invokeMethod(&ctx, [&] { delete timer; }, Qt::BlockingQueuedConnection);
        th.quit();
        th.wait();
    }
    std::printf("heartbeat thread CPU, 1 taken + 3 registered applications, %d s each\n", kSeconds);
    std::printf("ours: %.4f %% of a core (%.1f ms CPU per minute)\n", oursPct, oursPct * 600.0);
    std::printf("bare: %.4f %% of a core (%.1f ms CPU per minute)\n", barePct, barePct * 600.0);
    std::printf("floor: %.4f %% of a core (a bare 100 ms timer, nothing sent)\n", floorPct);
    std::printf("ratio: %.2f\n", barePct > 0 ? oursPct / barePct : 0.0);
    return 0;
}
