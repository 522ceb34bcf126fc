// The UDP heartbeat: the datagram, its rates, link states, registration and
// the one clock setting from an answer.
#include "publishbench.h"

#include "foundation/logmanager.h"
#include "platform/system/dataroot.h"
#include "platform/system/monotonicclock.h"
#include "support/logcapture.h"

#include <glog/logging.h>

#include <QDirIterator>
#include <QSet>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

using namespace nettest;
using platform::MonotonicClock;

QByteArray answer(const QString& result)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"result\":" + result.toUtf8() + "}";
}

QList<qint64> gaps(const QList<AppSimulator::Heartbeat>& hbs)
{
    QList<qint64> out;
    for (int i = 1; i < hbs.size(); ++i)
        out << hbs.at(i).atMs - hbs.at(i - 1).atMs;
    std::sort(out.begin(), out.end());
    return out;
}

qint64 median(const QList<qint64>& v) { return v.isEmpty() ? -1 : v.at(v.size() / 2); }

// A camera in a group with two registered applications, the first of which
// takes it; the heartbeat timer runs. False when it was not taken.
bool startTakenByTheFirst(PublishBench& b)
{
    b.camera->setGroupText("(M1);(CAMSELF,127.0.0.1);();()");
    b.app1->setDoTaken(true);
    b.registerApp(kApp1);
    b.registerApp(kApp2);
    b.publisher->startwork();
    return waitUntil([&] { return b.work().taken_app_ip == kApp1.toStdString(); });
}

TEST(UdpHeartbeat, DatagramRatesAndTheFirstTakerWins)
{
    PublishBench b;
    if (!b.net.ok())
        GTEST_SKIP() << "no private network: " << b.net.error().toStdString();
    ASSERT_TRUE(b.ok());
    EXPECT_FALSE(b.publisher->get_UdpHB_TimerAlived());
    ASSERT_TRUE(startTakenByTheFirst(b));
    b.app2->setDoTaken(true);  // too late: the camera is taken
    b.app1->clearRecords();
    b.app2->clearRecords();
    spin(2200);
    EXPECT_EQ(b.camera->work().taken_app_ip, kApp1.toStdString());
    EXPECT_EQ(b.camera->work().registered_apps.at(kApp2.toStdString()).version, "V1.7.0.1");
    EXPECT_TRUE(b.publisher->get_UdpHB_TimerAlived());

    const auto h1 = b.app1->heartbeats();
    const auto h2 = b.app2->heartbeats();
    ASSERT_FALSE(h1.isEmpty());
    // Loose bounds: the machine may be busy; the two rates are ten times apart.
    EXPECT_LT(median(gaps(h1)), 250);
    EXPECT_GE(median(gaps(h1)), 90);
    EXPECT_GE(median(gaps(h2)), 900);
    EXPECT_LT(median(gaps(h2)), 1400);
    const QRegularExpression exact(
        "^POST /dide/initiative/runstate HTTP/1.1\r\nUser-Agent: vc_heartbeat#\\d{8}_\\d{6}_\\d{3}\r\n"
        "Content-Type: application/json\r\nContent-Length: 11\r\nDevice-ID: CAMSELF\r\n\r\n\\{\"state\":0\\}$");
    EXPECT_TRUE(exact.match(QString::fromUtf8(h1.last().raw)).hasMatch()) << h1.last().raw.constData();
    EXPECT_EQ(h1.last().from, QHostAddress("127.0.0.1"));

    const auto states = b.publisher->get_UdpHB_IsCnted();
    EXPECT_EQ(states.value(kApp1), 1);
    EXPECT_EQ(states.value(kApp2), 1);

    // Without a camera group nothing is sent, even to registered applications.
    b.camera->setGroupText("();();();()");
    spin(150);
    b.app1->clearRecords();
    spin(500);
    EXPECT_TRUE(b.app1->heartbeats().isEmpty());
}

// Ten a second to the taken application, one to the others, counted over
// 10 s of the monotonic clock while the publisher's own timer drives the
// ticks. (A tick a little early, or one late followed by one on time, used
// to cost a heartbeat: 69 to 84 arrived in 10 s.)
TEST(UdpHeartbeat, TheTakenApplicationGetsTenHeartbeatsASecond)
{
    PublishBench b;
    if (!b.net.ok())
        GTEST_SKIP() << "no private network: " << b.net.error().toStdString();
    ASSERT_TRUE(b.ok());
    ASSERT_TRUE(startTakenByTheFirst(b));
    spin(300);
    const qint64 start = MonotonicClock::nowMs();
    const qint64 taken0 = b.app1->heartbeatCount();
    const qint64 other0 = b.app2->heartbeatCount();
    spin(10000);
    const qint64 elapsed = MonotonicClock::nowMs() - start;
    const qint64 taken = b.app1->heartbeatCount() - taken0;
    const qint64 other = b.app2->heartbeatCount() - other0;
    std::printf("[figures] in %lld ms: %lld heartbeats to the taken application, %lld to the other\n",
                static_cast<long long>(elapsed), static_cast<long long>(taken), static_cast<long long>(other));
    // A tick lost to a stall of the machine longer than 100 ms is the only
    // heartbeat allowed to go missing.
    EXPECT_GE(taken, elapsed / 100 - 4);
    EXPECT_LE(taken, elapsed / 100 + 1);
    EXPECT_GE(other, elapsed / 1000 - 1);
    EXPECT_LE(other, elapsed / 1000 + 1);
}

// The due rule tick by tick, the clock moved by hand: a tick a few ms early
// sends; a late tick keeps the due times, so the next tick on time sends
// too; a tick more than an interval late starts the count again from itself.
TEST(UdpHeartbeat, EarlyAndLateTicksKeepTheTakenApplicationsRate)
{
    PublishBench b;
    if (!b.net.ok())
        GTEST_SKIP() << "no private network: " << b.net.error().toStdString();
    ASSERT_TRUE(b.ok());
    b.camera->setGroupText("(M1);(CAMSELF,127.0.0.1);();()");
    b.registerApp(kApp1);
    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = kApp1.toStdString(); });
    struct Tick {
        const char* what;
        qint64 afterMs;  // since the tick before
        bool sent;
    };
    const QList<Tick> ticks = {
        {"first", 0, true},
        {"3 ms early", 97, true},
        {"30 ms late", 130, true},
        {"back on time, 70 ms later", 70, true},
        {"50 ms after a send on time", 50, false},
        {"80 ms after it", 30, false},
        {"due", 20, true},
        {"150 ms late", 250, true},
        {"70 ms after the late one", 70, false},
        {"100 ms after the late one", 30, true},
    };
    // Only the steps below move the clock, however long the machine takes between them.
    struct Freeze {
        Freeze() { MonotonicClock::freezeForTest(true); }
        ~Freeze() { MonotonicClock::freezeForTest(false); }
    } freeze;
    qint64 expected = 0;
    for (const Tick& t : ticks) {
        MonotonicClock::advanceForTest(t.afterMs);
        b.publisher->runHeartbeatTickForTest();
        if (t.sent) {
            ++expected;
            // The answer too, so that the link counts as alive at the next tick.
            ASSERT_TRUE(waitUntil([&] {
                return b.app1->heartbeatCount() == expected && b.publisher->get_UdpHB_IsCnted().value(kApp1) == 1;
            }))
                << t.what;
        } else {
            spin(5);
            ASSERT_EQ(b.app1->heartbeatCount(), expected) << t.what;
        }
    }
}

TEST(UdpHeartbeat, ASilentApplicationIsLostRenewedEarlyAndLapses)
{
    PublishBench b;
    if (!b.net.ok())
        GTEST_SKIP() << "no private network";
    ASSERT_TRUE(b.ok());
    b.camera->setGroupText("(M1);(CAMSELF,127.0.0.1);();()");
    b.app2->setHeartbeatSilent(true);
    b.app2->setDoTaken(true);
    b.registerApp(kApp2);
    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = kApp2.toStdString(); });

    // Reading the link states while the tick renews the socket.
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (!stop) {
            b.publisher->get_UdpHB_IsCnted();
            ++reads;
        }
    });
    b.publisher->startwork();
    spin(1300);
    stop = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    // Never answered: state 0 counts as lost, so each due heartbeat renews
    // the socket and the next comes 500 ms early instead of at 100 ms.
    const auto h = b.app2->heartbeats();
    ASSERT_GE(h.size(), 2);
    QSet<quint16> ports;
    for (const auto& hb : h)
        ports << hb.port;
    EXPECT_GT(ports.size(), 1);  // sent from renewed sockets
    EXPECT_LT(median(gaps(h)), 250);  // taken: due at the next tick anyway

    // After 10000 ms without contact it lapses, and the taken role goes at
    // the following tick.
    MonotonicClock::advanceForTest(10001);
    b.publisher->runHeartbeatTickForTest();
    EXPECT_TRUE(b.camera->work().registered_apps.empty());
    b.publisher->runHeartbeatTickForTest();
    EXPECT_TRUE(b.camera->work().taken_app_ip.empty());
}

TEST(UdpHeartbeat, LinkStatesFollowAnswersOnTheMonotonicClock)
{
    CameraWork camera;
    Udp_Push2APP_Simple s;
    camera.mgr->update_working_info([](ZRC_WorkInfos& w) {
        w.registered_apps["10.0.0.1"] = AppRegiestInfo{gettimeofday_ms(), "", MonotonicClock::nowMs()};
        w.registered_apps["10.0.0.2"] = AppRegiestInfo{gettimeofday_ms(), "", MonotonicClock::nowMs()};
    });
    s.sendData(QByteArray(), "10.0.0.1", 1);  // empty body: recorded, nothing sent
    s.sendData(QByteArray(), "10.0.0.2", 1);
    s.sendData(QByteArray(), "10.0.0.9", 1);
    s.onDataReceived(answer("{}"), QHostAddress("::ffff:10.0.0.1"), 10417);
    auto states = s.getIsCnted();
    EXPECT_EQ(states.value("10.0.0.1"), 1);
    EXPECT_EQ(states.value("10.0.0.2"), 0);  // never answered
    EXPECT_EQ(states.value("10.0.0.9"), 0);  // not registered
    // The tick asks one registered target at a time: the same states, and
    // an address never sent to is not listed.
    for (const QString& a : {QString("10.0.0.1"), QString("10.0.0.2")}) {
        int state = 7;
        EXPECT_TRUE(s.linkState(a, true, &state)) << a.toStdString();
        EXPECT_EQ(state, states.value(a)) << a.toStdString();
    }
    int unlisted = 7;
    EXPECT_FALSE(s.linkState("10.0.0.5", true, &unlisted));
    // A step of the wall clock changes nothing; time passing does.
    setWallClockOffsetForTest(3600000);
    EXPECT_EQ(s.getIsCnted().value("10.0.0.1"), 1);
    MonotonicClock::advanceForTest(2001);
    s.sendData(QByteArray(), "10.0.0.1", 1);
    EXPECT_EQ(s.getIsCnted().value("10.0.0.1"), -1);
    int lost = 7;
    EXPECT_TRUE(s.linkState("10.0.0.1", true, &lost));
    EXPECT_EQ(lost, -1);
    // A junk answer or a head alone registers nothing.
    for (const QByteArray& junk : {QByteArray("HTTP/1.1 200 OK\r\n"), QByteArray("x\r\n\r\n{bad"),
                                   answer("5"), QByteArray("\r\n\r\n{\"result\":{}}")}) {
        s.onDataReceived(junk, QHostAddress("10.0.0.7"), 1);
        EXPECT_EQ(camera.work().registered_apps.count("10.0.0.7"), 0u) << junk.constData();
    }
}

// Log files of this test program: the warnings must reach them.
QString logText()
{
    google::FlushLogFiles(google::GLOG_INFO);
    QString all;
    QDirIterator it(platform::DataRoot::root() + "/userdata/log", {"LOG_*.log"}, QDir::Files);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            all += QString::fromUtf8(f.readAll());
    }
    return all;
}

TEST(UdpHeartbeat, ClockIsSetOnceFromAValidTimeWhileNoUnitWorks)
{
    LogManager_Config lc;
    lc.app_path = QCoreApplication::applicationFilePath();
    lc.glog_dir = "/userdata/log/";
    lc.log_to_stderr = false;
    lc.stdlog_dir = "/userdata/log_stdout/";
    LogManager::getInstance(lc);
    LogManager::setLogInfoLevel({"level_1"});  // what a running camera may let through

    const qint64 valid = 1893553445;  // 2030-01-02 03:04:05 UTC
    struct Case {
        const char* name;
        QString result;
        int workingUnit;
        int dateExit;  // -2: none set
        bool set;
        const char* logged;
    };
    const QList<Case> cases = {
        {"missing app_time", "{\"dotaken\":true}", -1, -2, false, "app_time missing or out of range"},
        {"zero app_time", "{\"app_time\":0}", -1, -2, false, "app_time missing or out of range"},
        {"beyond 2100", "{\"app_time\":4102444800}", -1, -2, false, "app_time missing or out of range"},
        {"text app_time", "{\"app_time\":\"1893553445\"}", -1, -2, false, "app_time missing or out of range"},
        {"unit working", QStringLiteral("{\"app_time\":%1}").arg(valid), 2, -2, false, nullptr},
        {"date fails", QStringLiteral("{\"app_time\":%1}").arg(valid), -1, 1, false, "failed, exit code 1"},
        {"valid", QStringLiteral("{\"app_time\":%1.75}").arg(valid), -1, -2, true, nullptr},
    };
    for (const Case& c : cases) {
        CameraWork camera;
        MonotonicClock::advanceForTest(60001);  // past any earlier attempt's minute
        camera.workingUnit = c.workingUnit;
        if (c.dateExit != -2)
            platform::CommandRunner::instance().setChangeExitCode("date", c.dateExit);
        Udp_Push2APP_Simple s;
        s.onDataReceived(answer(c.result), QHostAddress("10.1.1.1"), 10417);
        const auto cmds = platform::CommandRunner::instance().recorded();
        EXPECT_EQ(camera.work().clock_synced, c.set) << c.name;
        EXPECT_EQ(camera.stash->value("VCamera_Work/RecordTime").isValid(), c.set) << c.name;
        if (c.set) {
            ASSERT_EQ(cmds.size(), 2) << c.name;
            EXPECT_EQ(cmds.at(0).program, "date");
            EXPECT_EQ(cmds.at(0).args, (QStringList{"-s", "2030-01-02 03:04:05"}));
            EXPECT_EQ(cmds.at(1).program, "hwclock");
            EXPECT_EQ(cmds.at(1).args, (QStringList{"--systohc"}));
            // Once per run: later answers leave the clock alone.
            platform::CommandRunner::instance().clearRecorded();
            MonotonicClock::advanceForTest(60001);
            s.onDataReceived(answer(QStringLiteral("{\"app_time\":%1}").arg(valid + 99)), QHostAddress("10.1.1.1"), 1);
            EXPECT_TRUE(platform::CommandRunner::instance().recorded().isEmpty());
        } else if (c.dateExit != -2) {
            ASSERT_EQ(cmds.size(), 1) << c.name;  // no hwclock after a failed date
            // Retried at most once a minute.
            s.onDataReceived(answer(c.result), QHostAddress("10.1.1.1"), 1);
            EXPECT_EQ(platform::CommandRunner::instance().recorded().size(), 1) << c.name;
            MonotonicClock::advanceForTest(60001);
            s.onDataReceived(answer(c.result), QHostAddress("10.1.1.1"), 1);
            EXPECT_EQ(platform::CommandRunner::instance().recorded().size(), 2) << c.name;
        } else {
            EXPECT_TRUE(cmds.isEmpty()) << c.name;
        }
        if (c.logged) {
            EXPECT_TRUE(logText().contains(c.logged)) << c.name;
        }
        // The answer registered the application in every case.
        EXPECT_EQ(camera.work().registered_apps.count("10.1.1.1"), 1u) << c.name;
    }
    {
        // An application that never sends a usable time answers ten times a
        // second: no line for each answer, only the limited warning.
        CameraWork camera;
        camera.workingUnit = -1;
        Udp_Push2APP_Simple s;
        const int before = logText().count("update system time by");
        for (int i = 0; i < 20; ++i) {
            MonotonicClock::advanceForTest(100);
            s.onDataReceived(answer("{\"dotaken\":true}"), QHostAddress("10.1.1.1"), 10417);
        }
        EXPECT_EQ(logText().count("update system time by"), before);
    }
    LogManager::setLogInfoLevel({"default", "level_1"});
}

}  // namespace
