// Work events over the in-process link: a main camera and two subs in one
// process, each camera with its own main thread and link thread.
#include "group/hubgroupwork.h"
#include "hub/wizardpara.h"
#include "support/cameragroup.h"
#include "support/grouppassport.h"
#include "support/logcapture.h"
#include "support/watchdog.h"

#include <QDir>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <thread>

using testsupport::CameraGroup;
using testsupport::InProcessLink;

namespace {

const QString kCatch = QStringLiteral("/dide/action/manual_catch");

QVariantMap detectStep(int step)
{
    return testsupport::passportDatas([step](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
        us.fus_detect_index_abs = step;
    });
}

class WorkEventGroup : public ::testing::Test {
protected:
    void SetUp() override { RpcDistributed_Core::setBaseTimeoutMs(10000); }
    void TearDown() override { RpcDistributed_Core::setBaseTimeoutMs(10000); }
};

}  // namespace

TEST_F(WorkEventGroup, ReactorTable)
{
    RpcDistributed_Reactor reactor(nullptr, nullptr, nullptr);
    registerGroupWorkTopics(&reactor);
    const QStringList topics = reactor.topics();
    EXPECT_EQ(topics.size(), 20);
    for (const char* t : {"/dide/action/manual_catch", "/dide/action/noactionmold", "/dide/action/redetect",
                          "/dide/action/addtemplate", "/dide/action/resample", "/dide/action/io_catch",
                          "/dide/action/pre_result", "/dide/sync/baseinfo", "/dide/sync/subscribe",
                          "/dide/sync/savefailimageonngnostop"}) {
        EXPECT_TRUE(topics.contains(QString::fromUtf8(t))) << t;
        EXPECT_TRUE(topics.contains(QString::fromUtf8(t) + QStringLiteral("(rpc)"))) << t;
    }
}

TEST_F(WorkEventGroup, ReactorRefusals)
{
    RpcDistributed_Reactor reactor(nullptr, nullptr, nullptr);
    SRPC_WS_Interface view;
    view.own_id = QStringLiteral("S1");
    view.main_id = QStringLiteral("M1");
    reactor.connection_establishment(view);
    EXPECT_EQ(reactor.get_interface(), view);
    int ran = 0;
    reactor.register_quickmeet(QStringLiteral("/x"), [&](SRPC_WS_FormData) { ran += 1; return QVariantMap(); });
    reactor.register_quickmeet(QStringLiteral("/x"), [&](SRPC_WS_FormData) { ran += 10; return QVariantMap(); });
    EXPECT_EQ(reactor.topics().size(), 2);

    auto form = [](const QString& topic, bool valid, const QString& from) {
        SRPC_WS_FormData f;
        f.valid = valid;
        f.topic = topic;
        f.uuid = QStringLiteral("u");
        f.device_id = from;
        return f;
    };
    const QVariantMap three{{QStringLiteral("work_error"), 3}};
    const QVariantMap four{{QStringLiteral("work_error"), 4}};
    struct Case {
        const char* name;
        SRPC_WS_FormData form;
        QVariantMap answer;
        int ran;
    };
    const Case cases[] = {
        {"invalid form", form(QStringLiteral("/x(rpc)"), false, QStringLiteral("M1")), three, 0},
        {"empty topic", form(QString(), true, QStringLiteral("M1")), three, 0},
        {"unknown topic", form(QStringLiteral("/nothing"), true, QStringLiteral("M1")), four, 0},
        {"other letter case", form(QStringLiteral("/X(rpc)"), true, QStringLiteral("M1")), four, 0},
        {"request not from the main camera", form(QStringLiteral("/x(rpc)"), true, QStringLiteral("S2")), three, 0},
        {"request from the main camera", form(QStringLiteral("/x(rpc)"), true, QStringLiteral("M1")), QVariantMap(),
         10},
    };
    testsupport::LogCapture log;
    for (const Case& c : cases) {
        ran = 0;
        EXPECT_EQ(reactor.activate_workevent(c.form), c.answer) << c.name;
        EXPECT_EQ(ran, c.ran) << c.name;
    }
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("request refused, not from the main camera: /x(rpc) u sender S2")));
}

TEST_F(WorkEventGroup, ManualCatchCollectsEveryCamera)
{
    testsupport::Watchdog dog(240, "manual catch");
    CameraGroup group(2);
    group.sub(2).services.scriptResults({false});
    const QVariantMap answer = group.activate(kCatch, detectStep(1));
    EXPECT_EQ(answer.value(QStringLiteral("work_error")).toInt(), 0);
    EXPECT_EQ(answer.value(QStringLiteral("result")), QVariant(false));
    const QVariantMap detail = answer.value(QStringLiteral("result_detail")).toMap();
    EXPECT_EQ(detail.keys(), (QStringList{QStringLiteral("M1"), QStringLiteral("S1"), QStringLiteral("S2")}));
    for (const QVariant& u : detail)
        EXPECT_EQ(u.toMap().size(), 7);
    EXPECT_FALSE(detail.value(QStringLiteral("S2")).toMap().value(QStringLiteral("result")).toBool());
    const FlowWork_WorkEvent_Back back = workevent_map_2_back(answer);
    EXPECT_EQ(back.result, 0);
    EXPECT_EQ(back.collectlist.size(), 3);

    // Every seam call on its camera's main thread; the subs show the step and
    // push their run result.
    for (int i = 0; i <= 2; ++i) {
        testsupport::GroupCamera& cam = i == 0 ? group.main() : group.sub(i);
        EXPECT_EQ(cam.services.callThreads(), QSet<QThread*>{&cam.thread}) << i;
        EXPECT_EQ(cam.services.count(QStringLiteral("RunAlgorithm_New(1)")), 1) << i;
        EXPECT_EQ(cam.services.count(QStringLiteral("async_back2longtcp_runresult(pp-1,true)")), i == 0 ? 0 : 1);
        EXPECT_EQ(cam.services.count(QStringLiteral("setShownUnitIndex(1)")), i == 0 ? 0 : 1);
    }
    // Requests went out from the main camera's link thread, stamped and
    // suffixed; each sub answered on its own link thread with the same uuid.
    const QStringList sent = group.main().link.sentFrames();
    ASSERT_EQ(sent.size(), 2);
    for (const QString& f : sent) {
        const SRPC_WS_FormData form = wsbytes_2_srpcform(f);
        EXPECT_EQ(form.topic, kCatch + QStringLiteral("(rpc)"));
        EXPECT_EQ(form.device_id, QStringLiteral("M1"));
        EXPECT_EQ(form.uuid, QStringLiteral("ev-1"));
    }
    for (QThread* t : group.main().link.sendThreads())
        EXPECT_EQ(t, group.main().link.linkThread());
    for (int i = 1; i <= 2; ++i) {
        const QStringList replies = group.sub(i).link.sentFrames();
        ASSERT_EQ(replies.size(), 1);
        const SRPC_WS_FormData r = wsbytes_2_srpcform(replies.first());
        EXPECT_EQ(r.topic, kCatch + QStringLiteral("(rpc_back)"));
        EXPECT_EQ(r.uuid, QStringLiteral("ev-1"));
        EXPECT_EQ(r.device_id, group.sub(i).id);
        EXPECT_EQ(group.sub(i).link.sendThreads().first(), group.sub(i).link.linkThread());
    }
}

TEST_F(WorkEventGroup, ScriptedSubAnswers)
{
    RpcDistributed_Core::setBaseTimeoutMs(1500);
    struct Case {
        const char* name;
        InProcessLink::Reply reply;
        int delayMs;
        int work_error;
        bool result;
    };
    const Case cases[] = {
        {"normal", InProcessLink::Reply::Normal, 0, 0, true},
        {"silent", InProcessLink::Reply::Silent, 0, 1, false},
        {"late, within the limit", InProcessLink::Reply::Late, 100, 0, true},
        {"late, after the limit", InProcessLink::Reply::Late, 2500, 1, false},
        {"duplicate", InProcessLink::Reply::Duplicate, 0, 0, true},
        {"wrong uuid", InProcessLink::Reply::WrongUuid, 0, 1, false},
        {"unparsable", InProcessLink::Reply::Unparsable, 0, 1, false},
        {"foreign id", InProcessLink::Reply::ForeignId, 0, 1, false},
        {"bad passport: prompt NG", InProcessLink::Reply::BadPassport, 0, 0, false},
    };
    for (const Case& c : cases) {
        testsupport::Watchdog dog(240, c.name);
        testsupport::LogCapture log;
        CameraGroup group(2);
        group.sub(2).link.setReply(c.reply, c.delayMs);
        const QVariantMap answer = group.activate(kCatch, detectStep(0));
        EXPECT_EQ(answer.value(QStringLiteral("work_error")).toInt(), c.work_error) << c.name;
        EXPECT_EQ(workevent_map_2_back(answer).result, c.result ? 1 : 0) << c.name;
        EXPECT_EQ(answer.contains(QStringLiteral("result_detail")), c.work_error == 0) << c.name;
        if (c.reply == InProcessLink::Reply::BadPassport) {
            EXPECT_EQ(group.sub(2).services.calls(), QStringList()) << c.name;
            EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("unreadable passport"))) << c.name;
        }
        if (c.delayMs > 1500)  // let the late reply reach a finished event
            testsupport::waitFor([&] { return group.sub(2).link.sentFrames().size() == 1; });
    }
}

TEST_F(WorkEventGroup, OperatorActionsActInTheNameOfTheAskingUserOnEveryCamera)
{
    testsupport::Watchdog dog(240, "operator's user");
    CameraGroup group(2);
    for (int i = 0; i <= 2; ++i)
        (i == 0 ? group.main() : group.sub(i)).services.setTempCount(3);
    // Add a template on the main and sub 2 (both NG before), then resample
    // with the old templates removed on every camera: asked by "u7".
    const auto addTemplate = [](FlowUnit_Passport& p, FlowGroup_State&, FlowUnit_State& us) {
        p.condition.cond_type = CondType_AddTemplate;
        p.condition.cond_user_id = QStringLiteral("u7");
        p.condition.cond_action_deviceids = QStringList{QStringLiteral("M1"), QStringLiteral("S2")};
        us.fus_detect_index_abs = 1;
        for (const char* id : {"M1", "S1", "S2"})
            us.fus_last_detected_info.insert(QString::fromLatin1(id), QVariantMap{{QStringLiteral("result"), false}});
    };
    const auto resample = [](FlowUnit_Passport& p, FlowGroup_State& gs, FlowUnit_State&) {
        p.condition.cond_type = CondType_Resample;
        p.condition.cond_user_id = QStringLiteral("u7");
        p.condition.cond_resample_rm_oldtemp = true;
        gs.fgs_units_indexabs = {0, 1};
        gs.fgs_remain_trains_cameras = QStringList{QStringLiteral("M1"), QStringLiteral("S1"), QStringLiteral("S2")};
    };
    EXPECT_EQ(group.activate(QStringLiteral("/dide/action/addtemplate"), testsupport::passportDatas(addTemplate))
                  .value(QStringLiteral("work_error")).toInt(), 0);
    EXPECT_EQ(group.activate(QStringLiteral("/dide/action/resample"), testsupport::passportDatas(resample),
                             QStringLiteral("ev-2"))
                  .value(QStringLiteral("work_error")).toInt(), 0);
    // A cycle the machine asked for is nobody's.
    EXPECT_EQ(group.activate(kCatch, detectStep(1), QStringLiteral("ev-3")).value(QStringLiteral("work_error")).toInt(),
              0);

    for (int i = 0; i <= 2; ++i) {
        testsupport::GroupCamera& cam = i == 0 ? group.main() : group.sub(i);
        SCOPED_TRACE(cam.id.toStdString());
        const QStringList calls = cam.services.calls();
        const QStringList users = cam.services.callUsers();
        ASSERT_EQ(calls.size(), users.size());
        QStringList withUser;
        for (int k = 0; k < calls.size(); ++k)
            withUser << calls[k] + QStringLiteral(" by ") + (users[k].isEmpty() ? QStringLiteral("-") : users[k]);
        const bool listed = i != 1;
        EXPECT_EQ(withUser.contains(QStringLiteral("AddTemplate(1) by u7")), listed) << withUser.join('\n').toStdString();
        EXPECT_TRUE(withUser.contains(QStringLiteral("SlotTempDeleteAll(0,1) by u7"))) << withUser.join('\n').toStdString();
        EXPECT_TRUE(withUser.contains(QStringLiteral("RunAlgorithm_New(1) by -"))) << withUser.join('\n').toStdString();
        // The acting user does not outlive the event's own part.
        QString after = QStringLiteral("unread");
        cam.onMain([&] { after = OperationRecord_Interface::actingUser(); });
        EXPECT_EQ(after, QString());
    }
}

TEST_F(WorkEventGroup, BadPassportOnTheMainRunsNothing)
{
    CameraGroup group(2);
    testsupport::LogCapture log;
    const QVariantMap answer = group.activate(kCatch, {{QStringLiteral("passport"), QStringLiteral("[1,2]")}});
    EXPECT_EQ(answer, (QVariantMap{{QStringLiteral("work_error"), 3}}));
    EXPECT_EQ(group.main().services.calls(), QStringList());
    EXPECT_EQ(group.main().link.sentFrames(), QStringList());
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("unreadable passport ( main ): /dide/action/manual_catch ev-1")));
    EXPECT_EQ(group.activate(kCatch, {}), (QVariantMap{{QStringLiteral("work_error"), 3}}));
}

TEST_F(WorkEventGroup, QuickMeetFromAWorkerThreadReachesTheSubsOnly)
{
    CameraGroup group(2);
    std::thread http([&] {
        group.main().reactor->send_quickmeet(QStringLiteral("/dide/sync/baseinfo"),
                                             {{QStringLiteral("detect_ok"), 3}});
    });
    http.join();
    for (int i = 1; i <= 2; ++i) {
        testsupport::GroupCamera& cam = group.sub(i);
        ASSERT_TRUE(testsupport::waitFor([&] { return cam.services.count(QStringLiteral("stat_SaveCur")) == 1; }));
        EXPECT_EQ(cam.services.calls(), QStringList{QStringLiteral("stat_SaveCur({\"detect_ok\":3})")});
        EXPECT_EQ(cam.services.callThreads(), QSet<QThread*>{&cam.thread});
    }
    EXPECT_EQ(group.main().services.calls(), QStringList());
    for (QThread* t : group.main().link.sendThreads())
        EXPECT_EQ(t, group.main().link.linkThread());
    // A sub spreads nothing.
    SRPC_WS_FormData f;
    f.valid = true;
    f.topic = QStringLiteral("/dide/sync/baseinfo");
    EXPECT_EQ(group.sub(1).link.SpreadMessage(f), -1);
    EXPECT_EQ(group.sub(1).link.sentFrames(), QStringList());
}

TEST_F(WorkEventGroup, EventsReleaseThemselves)
{
    testsupport::Watchdog dog(240, "release");
    CameraGroup group(2);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(group.activate(kCatch, detectStep(0), QStringLiteral("ev-%1").arg(i)).value(QStringLiteral("work_error")).toInt(), 0);
    int guards = -1;
    group.main().onMain([&] { guards = group.main().reactor->guardCount(); });
    EXPECT_LE(guards, 1);
    EXPECT_TRUE(testsupport::waitFor([] { return RpcDistributed_Core::liveCount() == 0; }));
}

TEST_F(WorkEventGroup, LoneManualCatchOnTheHubIsNgUntilTheHubCanDetect)
{
    WizardPara para;
    HubGroupWork hub(&para);
    testsupport::FakeGroupServices manager;
    GroupWorkServicesJoin services(&hub, &manager);
    RpcDistributed_Reactor reactor(nullptr, nullptr, &services);
    registerGroupWorkTopics(&reactor);
    SRPC_WS_Interface view;
    view.own_id = QStringLiteral("M1");
    reactor.connection_establishment(view);
    SRPC_WS_FormData form;
    form.valid = true;
    form.topic = kCatch;
    form.uuid = QStringLiteral("ev-1");
    form.datas = detectStep(0);
    testsupport::LogCapture log;
    const QVariantMap answer = reactor.activate_workevent(form);
    EXPECT_EQ(answer.value(QStringLiteral("work_error")).toInt(), 0);
    EXPECT_EQ(answer.value(QStringLiteral("result")), QVariant(false));
    EXPECT_EQ(answer.value(QStringLiteral("result_detail")).toMap().keys(), QStringList{QStringLiteral("M1")});
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("detection not available")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

namespace {
int threadCount() { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); }
}  // namespace

TEST_F(WorkEventGroup, RepliesAtTheLimitLeakNoEventOrThread)
{
    // Replies that come just as the limit ends the wait, again and again: the
    // hand-over to an event that is being finished must be safe (run it under
    // the sanitizer too), and every event and its thread must go.
    testsupport::Watchdog dog(280, "replies at the limit");
    RpcDistributed_Core::setBaseTimeoutMs(150);
    const int before = threadCount();
    {
        CameraGroup group(2);
        for (int i = 0; i < 20; ++i) {
            group.sub(2).link.setReply(InProcessLink::Reply::Late, 140 + i % 20);
            const QVariantMap answer = group.activate(kCatch, detectStep(0), QStringLiteral("ev-%1").arg(i));
            const int code = answer.value(QStringLiteral("work_error")).toInt();
            EXPECT_TRUE(code == 0 || code == 1) << code;
            if (code == 0) {
                EXPECT_TRUE(answer.value(QStringLiteral("result")).toBool());
            }
        }
        testsupport::waitFor([&] { return group.sub(2).link.sentFrames().size() == 20; });
    }
    EXPECT_TRUE(testsupport::waitFor([] { return RpcDistributed_Core::liveCount() == 0; }));
    EXPECT_TRUE(testsupport::waitFor([&] { return threadCount() <= before; })) << threadCount() << " " << before;
}

TEST_F(WorkEventGroup, SilentSubTimesOutAtTheRealLimit)
{
    testsupport::Watchdog dog(280, "real limit");
    CameraGroup group(1);
    group.sub(1).link.setReply(InProcessLink::Reply::Silent);
    QElapsedTimer t;
    t.start();
    const QVariantMap answer = group.activate(kCatch, detectStep(0));
    EXPECT_GE(t.elapsed(), 9500);  // about 10 s
    EXPECT_EQ(answer, (QVariantMap{{QStringLiteral("work_error"), 1}}));
    EXPECT_EQ(workevent_map_2_back(answer).result, 0);
}
