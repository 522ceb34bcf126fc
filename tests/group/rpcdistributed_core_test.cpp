#include "group/rpcdistributed_core.h"
#include "support/logcapture.h"
#include "support/watchdog.h"

#include <QSemaphore>
#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

const QString kTopic = QStringLiteral("/dide/action/manual_catch");

class ProbeEvent : public RpcDistributed_Core {
public:
    explicit ProbeEvent(int timeout_ms = -1, bool ok = true)
        : RpcDistributed_Core(request(), nullptr, timeout_ms)
    {
        unit.is_valid = true;
        unit.result = ok;
        unit.detect = 1;
    }
    static SRPC_WS_FormData request()
    {
        SRPC_WS_FormData f;
        f.valid = true;
        f.topic = kTopic;
        f.uuid = QStringLiteral("ev-1");
        return f;
    }
    SCollect_Unit onMainWorking() override
    {
        workThread = QThread::currentThread();
        return unit;
    }
    SCollect_Unit unit;
    QThread* workThread = nullptr;
};

SRPC_WS_Interface view(const QString& own, int subs, bool is_main)
{
    SRPC_WS_Interface v;
    v.own_id = own;
    v.main_id = QStringLiteral("M1");
    for (int i = 1; i <= subs; ++i)
        v.subs << DeviceNetInfo(QStringLiteral("S%1").arg(i), QStringLiteral("10.0.0.%1").arg(i), 0);
    v.is_main = is_main;
    return v;
}

SRPC_WS_FormData reply(const QString& from, bool ok, const QString& uuid = QStringLiteral("ev-1"))
{
    SCollect_Unit u;
    u.is_valid = true;
    u.result = ok;
    u.collect_time = 42;
    SRPC_WS_FormData f;
    f.valid = true;
    f.topic = kTopic + QStringLiteral("(rpc_back)");
    f.uuid = uuid;
    f.device_id = from;
    f.datas = u.toMap();
    return f;
}

// Hands replies in from a thread of their own, as the link thread does.
int replyFromThread(RpcDistributed_Core* ev, const SRPC_WS_FormData& f)
{
    int r = 0;
    std::thread t([&] { r = ev->onAction_recvc2C(f); });
    t.join();
    return r;
}

}  // namespace

TEST(WorkEventEngine, OutcomeByGroupAndReplies)
{
    RpcDistributed_Core::setBaseTimeoutMs(10000);
    struct Case {
        const char* name;
        SRPC_WS_Interface view;
        QStringList okReplies;
        QStringList ngReplies;
        int timeout;
        WorkEvent_Error code;
        int units;
        bool result;
    };
    const Case cases[] = {
        {"no group yet", view(QStringLiteral("M1"), 0, false), {}, {}, -1, WorkEvent_Collected, 1, true},
        {"main without subs", view(QStringLiteral("M1"), 0, true), {}, {}, -1, WorkEvent_Collected, 1, true},
        {"sub", view(QStringLiteral("S2"), 2, false), {}, {}, -1, WorkEvent_Collected, 1, true},
        {"both subs answer", view(QStringLiteral("M1"), 2, true), {QStringLiteral("S1"), QStringLiteral("S2")}, {}, -1,
         WorkEvent_Collected, 3, true},
        {"one sub NG", view(QStringLiteral("M1"), 2, true), {QStringLiteral("S1")}, {QStringLiteral("S2")}, -1,
         WorkEvent_Collected, 3, false},
        {"one of two silent", view(QStringLiteral("M1"), 2, true), {QStringLiteral("S1")}, {}, 300, WorkEvent_Timeout, 2,
         true},
        {"one of two silent, other NG", view(QStringLiteral("M1"), 2, true), {}, {QStringLiteral("S1")}, 300,
         WorkEvent_Timeout, 2, false},
    };
    for (const Case& c : cases) {
        testsupport::Watchdog dog(120, c.name);
        auto ev = std::make_unique<ProbeEvent>(c.timeout);
        ev->set_interface(c.view);
        for (const QString& s : c.okReplies)
            EXPECT_EQ(replyFromThread(ev.get(), reply(s, true)), 1) << c.name;
        for (const QString& s : c.ngReplies)
            EXPECT_EQ(replyFromThread(ev.get(), reply(s, false)), 1) << c.name;
        EXPECT_EQ(ev->start_workevent(), c.code) << c.name;
        EXPECT_EQ(ev->record().get_collectlist().size(), c.units) << c.name;
        EXPECT_EQ(ev->getResult(), c.result) << c.name;
        EXPECT_EQ(ev->record().get_collectlist().contains(c.view.own_id), true) << c.name;
        EXPECT_EQ(ev->workThread, QThread::currentThread()) << c.name;
        EXPECT_EQ(ev->endHandlerThread(), ev.get()) << c.name;  // the loop's own thread ended it
    }
}

TEST(WorkEventEngine, ReplyMatching)
{
    auto ev = std::make_unique<ProbeEvent>();
    ev->set_interface(view(QStringLiteral("M1"), 2, true));
    SRPC_WS_FormData invalid = reply(QStringLiteral("S1"), true);
    invalid.valid = false;
    SRPC_WS_FormData otherTopic = reply(QStringLiteral("S1"), true);
    otherTopic.topic = QStringLiteral("/dide/action/redetect(rpc_back)");
    struct Case {
        const char* name;
        SRPC_WS_FormData form;
        int answer;
    };
    const Case cases[] = {
        {"invalid", invalid, -1},
        {"other uuid", reply(QStringLiteral("S1"), true, QStringLiteral("ev-2")), -2},
        {"other topic", otherTopic, -2},
        {"not a sub", reply(QStringLiteral("X9"), true), -1},
        {"the own id", reply(QStringLiteral("M1"), true), -1},
        {"sub", reply(QStringLiteral("S1"), true), 1},
    };
    testsupport::LogCapture log;
    for (const Case& c : cases)
        EXPECT_EQ(replyFromThread(ev.get(), c.form), c.answer) << c.name;
    EXPECT_EQ(ev->record().get_collectlist().keys(), QStringList{QStringLiteral("S1")});
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("reply refused, not from a sub of the group: X9")));
    // A second reply replaces the first, stamped by the collecting camera.
    EXPECT_EQ(replyFromThread(ev.get(), reply(QStringLiteral("S1"), false)), 1);
    const SCollect_Unit s1 = ev->record().get_collectlist().value(QStringLiteral("S1"));
    EXPECT_FALSE(s1.result);
    EXPECT_GE(s1.collect_time, ev->record().create_time);
    ev->Close();
}

TEST(WorkEventEngine, PropertiesAndLoopBack)
{
    auto ev = std::make_unique<ProbeEvent>();
    ev->set_interface(view(QStringLiteral("M1"), 1, true));
    EXPECT_EQ(ev->property("event_type").toString(), QStringLiteral("unknow"));
    EXPECT_EQ(ev->property("loop_back").toInt(), 1);
    EXPECT_EQ(ev->loopBack(), 1);
    EXPECT_EQ(ev->record().loop_running.load(), 1);
    auto second = std::make_unique<ProbeEvent>();
    EXPECT_EQ(second->property("event_index").toUInt(), ev->property("event_index").toUInt() + 1);
    second->Close();
    std::thread quitter([&] { ev->Close(); });
    EXPECT_EQ(ev->start_workevent(), WorkEvent_Quit);
    quitter.join();
    EXPECT_EQ(ev->property("loop_back").toInt(), -2);
    EXPECT_EQ(ev->record().loop_running.load(), 0);
}

TEST(WorkEventEngine, EndAskedOnTheEventsOwnThreadDoesNotHang)
{
    testsupport::Watchdog dog(120, "own-thread end");
    for (const bool quit : {false, true}) {
        auto ev = std::make_unique<ProbeEvent>();
        ev->set_interface(view(QStringLiteral("M1"), 1, true));
        RpcDistributed_Core* raw = ev.get();
        ASSERT_TRUE(ev->invokeOnEventThread([raw, quit] {
            if (quit)
                emit raw->sigQuitLoop();
            else
                emit raw->sigCheckPerfect();
        }));
        ev->wait();
        EXPECT_EQ(ev->loopBack(), quit ? -2 : 0);
        EXPECT_EQ(ev->endHandlerThread(), raw);
    }
}

TEST(WorkEventEngine, EndsAskedBeforeTheThreadRunsAreHandledOnIt)
{
    // The constructor does not wait for the event's thread: an end asked for
    // at once (a lone camera's own unit, a quit) waits until that thread has
    // handled it, and nothing is dropped or run elsewhere.
    testsupport::Watchdog dog(240, "ends before the loop runs");
    for (int i = 0; i < 100; ++i) {
        auto ev = std::make_unique<ProbeEvent>(i % 2 ? 0 : -1);
        const bool quit = i % 3 == 0;
        ev->set_interface(view(QStringLiteral("M1"), 0, true));
        if (quit)
            ev->Close();
        else
            ev->update_collectlist(QStringLiteral("M1"), SCollect_Unit());
        ASSERT_NE(ev->endHandlerThread(), nullptr) << i;
        EXPECT_EQ(ev->endHandlerThread(), ev.get()) << i;
        const int back = ev->loopBack();
        if (i % 2)
            EXPECT_TRUE(back == -1 || back == (quit ? -2 : 0)) << i << " " << back;  // a limit of 0 may win
        else
            EXPECT_EQ(back, quit ? -2 : 0) << i;
        EXPECT_EQ(ev->record().loop_running.load(), 0) << i;
    }
}

TEST(WorkEventEngine, EmitterWaitsUntilTheLoopHandledTheEnd)
{
    testsupport::Watchdog dog(120, "blocking end");
    auto ev = std::make_unique<ProbeEvent>();
    ev->set_interface(view(QStringLiteral("M1"), 1, true));
    ev->update_collectlist(QStringLiteral("M1"), SCollect_Unit());
    EXPECT_EQ(ev->endHandlerThread(), nullptr);
    QThread* seen = nullptr;
    std::thread link([&] {
        ev->onAction_recvc2C(reply(QStringLiteral("S1"), true));
        seen = ev->endHandlerThread();  // already handled when the emission returns
    });
    link.join();
    EXPECT_EQ(seen, ev.get());
    EXPECT_EQ(ev->start_workevent(), WorkEvent_Collected);
}

TEST(WorkEventEngine, UnitCompletingAsTheLimitFires)
{
    testsupport::Watchdog dog(240, "unit at the limit");
    for (int i = 0; i < 60; ++i) {
        auto ev = std::make_unique<ProbeEvent>(i % 4);
        ev->set_interface(view(QStringLiteral("M1"), 1, true));
        std::thread link([&] { ev->onAction_recvc2C(reply(QStringLiteral("S1"), true)); });
        const WorkEvent_Error code = ev->start_workevent();
        link.join();
        EXPECT_TRUE(code == WorkEvent_Collected || code == WorkEvent_Timeout) << code;
        EXPECT_EQ(ev->endHandlerThread(), ev.get());
    }
}

TEST(WorkEventEngine, TwoUnitsCompletingAtOnce)
{
    testsupport::Watchdog dog(240, "two units at once");
    for (int i = 0; i < 60; ++i) {
        auto ev = std::make_unique<ProbeEvent>();
        ev->set_interface(view(QStringLiteral("M1"), 2, true));
        ev->update_collectlist(QStringLiteral("M1"), SCollect_Unit());
        QSemaphore go;
        std::thread a([&] { go.acquire(); ev->onAction_recvc2C(reply(QStringLiteral("S1"), true)); });
        std::thread b([&] { go.acquire(); ev->onAction_recvc2C(reply(QStringLiteral("S2"), true)); });
        go.release(2);
        a.join();
        b.join();
        ev->wait();
        EXPECT_EQ(ev->loopBack(), 0);
        EXPECT_EQ(ev->record().get_collectlist().size(), 3);
    }
}

TEST(WorkEventEngine, ReportTable)
{
    WorkEvent_Record rec;
    rec.create_time = 1000;
    rec.start_time = 1010;
    rec.finish_time = 1250;
    SCollect_Unit a;
    a.result = true;
    a.calculate_time = 45;
    a.collect_time = 1110;
    SCollect_Unit b;
    b.calculate_time = -1;
    b.collect_time = 1020;
    rec.collectlist.insert(QStringLiteral("M1"), a);
    rec.collectlist.insert(QStringLiteral("S2"), b);
    rec.collectlist.insert(QStringLiteral("X9"), a);
    testsupport::LogCapture log;
    rec.print_report(view(QStringLiteral("M1"), 2, true), -1);
    const QString stars(50, QLatin1Char('*'));
    const QStringList expected{
        stars,
        QStringLiteral("* work_state: -1 , sync_alltime(ms): 250"),
        QStringLiteral("* name            result          sync(ms)        calc(ms)       "),
        QStringLiteral("* main            ok              100             0.045          "),
        QStringLiteral("* sub_1           ng              10              -0.001         "),
        QStringLiteral("*                 ok              100             0.045          "),
        stars,
    };
    EXPECT_EQ(log.messages(), expected);
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("* work_state: -1 , sync_alltime(ms): 250")));
    // Which camera answered NG reaches them too.
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("* sub_1           ng              10")));
}

TEST(WorkEventEngine, DestroyedWhileWaitingReportsQuit)
{
    testsupport::LogCapture log;
    {
        auto ev = std::make_unique<ProbeEvent>();
        ev->set_interface(view(QStringLiteral("M1"), 1, true));
    }
    EXPECT_EQ(log.count(QStringLiteral("* work_state: -2 ,")), 1);
    EXPECT_EQ(RpcDistributed_Core::liveCount(), 0);
}
