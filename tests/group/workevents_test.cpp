// What each work event and quick meet does on one camera, through a
// recording seam.
#include "group/rpcwork_addtemplate.h"
#include "group/rpcwork_iocatch.h"
#include "group/rpcwork_nocheck.h"
#include "group/rpcwork_normaldetect.h"
#include "group/rpcwork_quickmeet.h"
#include "group/rpcwork_redetect.h"
#include "group/rpcwork_resample.h"
#include "group/rpcwork_resultdetect.h"
#include "support/fakegroupservices.h"
#include "support/grouppassport.h"
#include "support/logcapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using testsupport::FakeGroupServices;

namespace {

using Edit = std::function<void(FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State&)>;

SRPC_WS_Interface view(bool sub)
{
    SRPC_WS_Interface v;
    v.own_id = sub ? QStringLiteral("S1") : QStringLiteral("M1");
    v.main_id = QStringLiteral("M1");
    if (sub)
        v.subs << DeviceNetInfo(QStringLiteral("S1"), QStringLiteral("a"), 0);
    return v;
}

struct EventRun {
    SCollect_Unit unit;
    QStringList calls;
    WorkEvent_Error code;
    QString type;
};

template <class T>
EventRun run(const Edit& edit, FakeGroupServices& fake, bool sub = false)
{
    SRPC_WS_FormData form;
    form.valid = true;
    form.uuid = QStringLiteral("ev-1");
    form.datas = testsupport::passportDatas(edit);
    auto ev = std::make_unique<T>(form);
    ev->set_interface(view(sub));
    ev->set_services(&fake);
    EventRun r;
    r.code = ev->start_workevent();
    r.unit = ev->record().get_collectlist().value(view(sub).own_id);
    r.unit.collect_time = -1;
    r.calls = fake.calls();
    r.type = ev->property("event_type").toString();
    return r;
}

// The previous unit as the flow stores it ({"result": bool}), returned not
// valid; missing keys read as 0. Its collect time is stamped on filing.
SCollect_Unit stored(bool result)
{
    SCollect_Unit u(QVariantMap{{QStringLiteral("result"), result}});
    u.collect_time = -1;
    return u;
}

}  // namespace

TEST(DetectionWorkEvents, Detection)
{
    struct Case {
        const char* name;
        int times;
        int interval;
        QList<bool> results;
        QStringList calls;
        bool result;
        int calculate_times;
        int calculate_time;
    };
    const QString d = QStringLiteral("RunAlgorithm_New(2)");
    const QString ng = QStringLiteral("Update_MemNGLook(2)");
    const Case cases[] = {
        {"OK at once", 3, 1, {true}, {d, QStringLiteral("SaveImageFile(2,2,pp-1)")}, true, 1, 5},
        {"NG, no re-detection", 0, 1, {false}, {d, ng, QStringLiteral("SaveImageFile(2,3,pp-1)")}, false, 1, 5},
        {"NG, negative times", -4, 1, {false}, {d, ng, QStringLiteral("SaveImageFile(2,3,pp-1)")}, false, 1, 5},
        {"OK at the second re-detection", 5, 1, {false, false, true},
         {d, d, d, QStringLiteral("SaveImageFile(2,2,pp-1)")}, true, 3, 15},
        {"NG to the end, 25 clamped to 10", 25, -3, {false, false, false, false, false, false, false, false, false, false, false, false},
         {d, d, d, d, d, d, d, d, d, d, d, ng, QStringLiteral("SaveImageFile(2,3,pp-1)")}, false, 11, 55},
    };
    for (const Case& c : cases) {
        FakeGroupServices fake;
        fake.scriptResults(c.results);
        const EventRun r = run<RpcWork_NormalDetect>(
            [&](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
                us.fus_detect_index_abs = 2;
                us.fus_redetect_times = c.times;
                us.fus_redetect_interval = c.interval;
            },
            fake);
        EXPECT_EQ(r.calls, c.calls) << c.name;
        EXPECT_EQ(r.unit.result, c.result) << c.name;
        EXPECT_EQ(r.unit.calculate_times, c.calculate_times) << c.name;
        EXPECT_EQ(r.unit.calculate_time, c.calculate_time) << c.name;
        EXPECT_TRUE(r.unit.is_valid) << c.name;
        EXPECT_EQ(r.code, WorkEvent_Collected) << c.name;
    }
}

TEST(DetectionWorkEvents, TrainingAndOtherRunStates)
{
    struct Case {
        const char* name;
        int runstate;
        bool listed;
        bool sub;
        QStringList calls;
        SCollect_Unit unit;
    };
    SCollect_Unit skipped;
    skipped.detect_model = 1;
    skipped.result = true;
    SCollect_Unit trained;
    trained.detect_model = 1;
    trained.detect = 2;
    trained.result = true;
    trained.calculate_time = 7;
    SCollect_Unit idle;
    idle.detect_model = 2;
    const QStringList subTail{QStringLiteral("setShownUnitIndex(2)"),
                              QStringLiteral("async_back2longtcp_runresult(pp-1,true)")};
    const Case cases[] = {
        {"train, not listed", 1, false, false, {}, skipped},
        {"train, listed main", 1, true, false, {QStringLiteral("RunTrain_New(2)")}, trained},
        {"train, listed sub", 1, true, true,
         QStringList{QStringLiteral("RunTrain_New(2)"), QStringLiteral("RunTrain_Var(2)")} + subTail, trained},
        {"train, unlisted sub", 1, false, true, subTail, skipped},
        {"run state 2", 2, true, false, {}, idle},
    };
    for (const Case& c : cases) {
        FakeGroupServices fake;
        const EventRun r = run<RpcWork_NormalDetect>(
            [&](FlowUnit_Passport&, FlowGroup_State& gs, FlowUnit_State& us) {
                us.fus_detect_index_abs = 2;
                gs.fgs_runstate = c.runstate;
                if (c.listed)
                    gs.fgs_remain_trains_cameras << (c.sub ? QStringLiteral("S1") : QStringLiteral("M1"));
            },
            fake, c.sub);
        EXPECT_EQ(r.calls, c.calls) << c.name;
        EXPECT_EQ(r.unit, c.unit) << c.name;
    }
}

TEST(DetectionWorkEvents, ThreeClassesDifferOnlyInTheirName)
{
    const Edit edit = [](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) { us.fus_detect_index_abs = 1; };
    FakeGroupServices a, b, c;
    const EventRun n = run<RpcWork_NormalDetect>(edit, a, true);
    const EventRun i = run<RpcWork_IOCatch>(edit, b, true);
    const EventRun r = run<RpcWork_ResultDetect>(edit, c, true);
    EXPECT_EQ(n.type, QStringLiteral("RpcWork_NormalDetect"));
    EXPECT_EQ(i.type, QStringLiteral("RpcWork_IOCatch"));
    EXPECT_EQ(r.type, QStringLiteral("RpcWork_ResultDetect"));
    EXPECT_EQ(i.calls, n.calls);
    EXPECT_EQ(r.calls, n.calls);
    EXPECT_EQ(i.unit, n.unit);
}

TEST(DetectionWorkEvents, LimitCoversTheLegalReDetections)
{
    // Base limit 200 ms; ten NG re-detections 40 ms apart take 400 ms of own
    // work: a limit counted without them would time the lone camera out.
    RpcDistributed_Core::setBaseTimeoutMs(200);
    SRPC_WS_FormData form;
    form.datas = testsupport::passportDatas([](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
        us.fus_redetect_times = 10;
        us.fus_redetect_interval = 40;
    });
    EXPECT_EQ(RpcWork_NormalDetect::limitFor(form), 600);
    FakeGroupServices fake;
    fake.scriptResults(QList<bool>() << false << false << false << false << false << false << false << false
                                     << false << false << false);
    const EventRun r = run<RpcWork_NormalDetect>(
        [](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
            us.fus_redetect_times = 10;
            us.fus_redetect_interval = 40;
        },
        fake);
    RpcDistributed_Core::setBaseTimeoutMs(10000);
    EXPECT_EQ(r.code, WorkEvent_Collected);
    EXPECT_EQ(r.unit.calculate_times, 11);
    struct Clamp {
        int times, interval, limit;
    };
    for (const Clamp& c : {Clamp{25, 5000, 20000}, Clamp{-3, -100, 10000}, Clamp{2, 300, 10600}}) {
        form.datas = testsupport::passportDatas([&](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
            us.fus_redetect_times = c.times;
            us.fus_redetect_interval = c.interval;
        });
        EXPECT_EQ(RpcWork_NormalDetect::limitFor(form), c.limit) << c.times << " " << c.interval;
    }
}

TEST(OperatorWorkEvents, ReDetectAndNoCheck)
{
    SCollect_Unit okStored = stored(true);
    SCollect_Unit ngStored = stored(false);
    SCollect_Unit detected;
    detected.is_valid = true;
    detected.detect = 3;
    detected.result = true;
    detected.calculate_time = 5;
    detected.calculate_times = 1;
    SCollect_Unit released;
    released.is_valid = true;
    released.detect = 3;
    released.result = true;
    released.calculate_time = 0;
    SCollect_Unit start;
    struct Case {
        const char* name;
        bool redetect;  // else no check
        int cond;
        bool recheckOnlyNg;
        int previous;  // -1 none, 0 NG, 1 OK
        bool listed;
        QStringList calls;
        SCollect_Unit unit;
    };
    const QString det = QStringLiteral("RunAlgorithm_New(3)");
    const Case cases[] = {
        {"re-detect, only NG, previous OK", true, 16, true, 1, false, {QStringLiteral("ResetRun")}, okStored},
        {"re-detect, only NG, previous NG", true, 16, true, 0, false, {det, QStringLiteral("SaveImageFile(3,7,)")}, detected},
        {"re-detect, parameter clear, previous OK", true, 16, false, 1, false, {det, QStringLiteral("SaveImageFile(3,7,)")}, detected},
        {"re-detect, no previous", true, 16, true, -1, false, {det, QStringLiteral("SaveImageFile(3,7,)")}, detected},
        {"re-detect with condition 8", true, 8, false, 0, false, {}, start},
        {"no check, previous OK", false, 8, false, 1, true, {QStringLiteral("ResetRun")}, okStored},
        {"no check, listed, previous NG", false, 8, false, 0, true,
         {QStringLiteral("ResetRun"), QStringLiteral("SaveImageFile(3,4,)")}, released},
        {"no check, listed, no previous", false, 8, false, -1, true,
         {QStringLiteral("ResetRun"), QStringLiteral("SaveImageFile(3,4,)")}, released},
        {"no check, unlisted, previous NG", false, 8, false, 0, false, {}, ngStored},
        {"no check, unlisted, no previous", false, 8, false, -1, false, {det}, detected},
        {"no check with condition 16", false, 16, false, 0, true, {}, start},
    };
    for (const Case& c : cases) {
        FakeGroupServices fake;
        fake.setRecheckOnlyNg(c.recheckOnlyNg);
        const Edit edit = [&](FlowUnit_Passport& p, FlowGroup_State&, FlowUnit_State& us) {
            p.condition.cond_type = c.cond;
            us.fus_detect_index_abs = 3;
            if (c.previous >= 0)  // as the flow stores it: {"result": bool}
                us.fus_last_detected_info.insert(QStringLiteral("M1"), QVariantMap{{QStringLiteral("result"), c.previous == 1}});
            if (c.listed)
                p.condition.cond_action_deviceids << QStringLiteral("M1");
        };
        const EventRun r = c.redetect ? run<RpcWork_ReDetect>(edit, fake) : run<RpcWork_NoCheck>(edit, fake);
        EXPECT_EQ(r.calls, c.calls) << c.name;
        EXPECT_EQ(r.unit, c.unit) << c.name;
    }
}

TEST(OperatorWorkEvents, AddTemplateAndResample)
{
    SCollect_Unit added;
    added.is_valid = true;
    added.detect = 2;
    added.result = true;
    added.calculate_time = 0;
    SCollect_Unit okStored = stored(true);
    SCollect_Unit ngStored = stored(false);
    SCollect_Unit detected;
    detected.is_valid = true;
    detected.detect = 2;
    detected.result = true;
    detected.calculate_time = 5;
    detected.calculate_times = 1;
    struct Case {
        const char* name;
        int cond;
        int tempCount;
        int previous;
        bool listed;
        QStringList calls;
        SCollect_Unit unit;
    };
    const Case cases[] = {
        {"listed, NG, one template kept", 32, 1, 0, true,
         {QStringLiteral("ResetRun"), QStringLiteral("SaveImageFile(2,5,)")}, added},
        {"listed, no previous, templates kept", 32, 3, -1, true,
         {QStringLiteral("AddTemplate(2)"), QStringLiteral("ResetRun"), QStringLiteral("SaveImageFile(2,5,)")}, added},
        {"listed, previous OK", 32, 3, 1, true, {QStringLiteral("ResetRun")}, okStored},
        {"unlisted, previous NG", 32, 3, 0, false, {}, ngStored},
        {"unlisted, no previous", 32, 3, -1, false, {QStringLiteral("RunAlgorithm_New(2)")}, detected},
        {"condition 16", 16, 3, 0, true, {}, SCollect_Unit()},
    };
    for (const Case& c : cases) {
        FakeGroupServices fake;
        fake.setTempCount(c.tempCount);
        const EventRun r = run<RpcWork_AddTemplate>(
            [&](FlowUnit_Passport& p, FlowGroup_State&, FlowUnit_State& us) {
                p.condition.cond_type = c.cond;
                us.fus_detect_index_abs = 2;
                if (c.previous >= 0)
                    us.fus_last_detected_info.insert(QStringLiteral("M1"), QVariantMap{{QStringLiteral("result"), c.previous == 1}});
                if (c.listed)
                    p.condition.cond_action_deviceids << QStringLiteral("M1");
            },
            fake);
        EXPECT_EQ(r.calls, c.calls) << c.name;
        EXPECT_EQ(r.unit, c.unit) << c.name;
    }

    struct Resample {
        const char* name;
        int cond;
        bool remove;
        bool listed;
        QStringList calls;
    };
    const Resample rcases[] = {
        {"all three", 64, true, true, {QStringLiteral("SlotTempDeleteAll(0,2)")}},
        {"keep old templates", 64, false, true, {}},
        {"not training", 64, true, false, {}},
        {"other condition", 32, true, true, {}},
    };
    for (const bool sub : {false, true}) {
        for (const Resample& c : rcases) {
            FakeGroupServices fake;
            const EventRun r = run<RpcWork_Resample>(
                [&](FlowUnit_Passport& p, FlowGroup_State& gs, FlowUnit_State&) {
                    p.condition.cond_type = c.cond;
                    p.condition.cond_resample_rm_oldtemp = c.remove;
                    gs.fgs_units_indexabs = {0, 2};
                    if (c.listed)
                        gs.fgs_remain_trains_cameras << (sub ? QStringLiteral("S1") : QStringLiteral("M1"));
                },
                fake, sub);
            EXPECT_EQ(r.calls, c.calls) << c.name << sub;
            EXPECT_EQ(r.unit, SCollect_Unit()) << c.name;
        }
    }
}

TEST(QuickMeets, Handlers)
{
    auto form = [](const QVariantMap& datas) {
        SRPC_WS_FormData f;
        f.valid = true;
        f.datas = datas;
        return f;
    };
    {
        FakeGroupServices fake;
        RpcWork_Sync_CountDetail(form({{QStringLiteral("detect_ok"), 2}, {QStringLiteral("starttime"), QStringLiteral("t")}}),
                                 &fake);
        EXPECT_EQ(fake.calls(), QStringList{QStringLiteral("stat_SaveCur({\"detect_ok\":2,\"starttime\":\"t\"})")});
    }
    struct Sub {
        const char* name;
        QVariantMap datas;
        QStringList calls;
    };
    const Sub subs[] = {
        {"object", {{QStringLiteral("message"), QStringLiteral("{\"subscriber\":[]}")}},
         {QStringLiteral("Api_regiest_subscriber({\"subscriber\":[]})")}},
        {"array", {{QStringLiteral("message"), QStringLiteral("[1]")}}, {QStringLiteral("Api_regiest_subscriber({})")}},
        {"absent", {}, {}},
        {"not JSON", {{QStringLiteral("message"), QStringLiteral("{x")}}, {}},
    };
    for (const Sub& c : subs) {
        FakeGroupServices fake;
        RpcWork_Sync_Subscribe(form(c.datas), &fake);
        EXPECT_EQ(fake.calls(), c.calls) << c.name;
    }
    struct Save {
        QVariant index;
        QStringList calls;
    };
    const Save saves[] = {
        {0, {QStringLiteral("SaveImageFile(0,8,)")}},
        {3.0, {QStringLiteral("SaveImageFile(3,8,)")}},
        {4, {}},
        {-1, {}},
        {QStringLiteral("2"), {}},
        {1.5, {}},
        {QVariant(), {}},
    };
    testsupport::LogCapture log;
    for (const Save& c : saves) {
        FakeGroupServices fake;
        QVariantMap datas;
        if (c.index.isValid())
            datas.insert(QStringLiteral("detect_index"), c.index);
        RpcWork_Sync_SaveFailImageOnNgNoStop(form(datas), &fake);
        EXPECT_EQ(fake.calls(), c.calls) << c.index.toString().toStdString();
    }
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("detect_index refused")));
}
