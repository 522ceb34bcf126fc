// The standard group: which unit a passport starts and when a period opens,
// the finish of each unit (striking off, period end, the chained
// previous-result passport), NG stops and their release, what is asked of the
// product interface and when, sampling, and the run-state description.
#include "flow/flowgroup_standard.h"
#include "flow/flowunit_base.h"
#include "flowbasetestbench.h"
#include "support/testproductinterface.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace flowbase;
using testsupport::TestProductInterface;

namespace {

// Counts the emissions of one signal of a group.
struct SignalCount {
    template <typename Signal>
    SignalCount(FlowBox_Group* group, Signal signal)
    {
        QObject::connect(group, signal, group, [this] { ++count; });
    }
    int count = 0;
};

// A unit whose acceptance a test scripts and whose finish a test triggers.
class ScriptUnit : public FlowUnit_Base {
public:
    ScriptUnit(QObject* parent, int rel, int abs, bool enabled = true) : FlowUnit_Base(parent)
    {
        detect_index = rel;
        detect_index_abs = abs;
        enable = enabled;
        user_describe = QString_TL(QStringLiteral("单元%1").arg(rel), QStringLiteral("Unit%1").arg(rel));
    }

    std::function<bool(const FlowUnit_Passport&)> accepts = [](const FlowUnit_Passport&) { return true; };
    QList<FlowUnit_Passport> offered;
    QList<FlowUnit_Passport> started;
    int historyClears = 0;
    int remainMs = 0;

    CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport passport) override
    {
        offered << passport;
        if (!accepts(passport))
            return {};
        return CVariant<FlowUnit_Passport>(passport);
    }
    void clear_frames() override {}
    void clear_historystorage() override { ++historyClears; }
    FlowWork_Receipt get_UnitReceipt() override
    {
        FlowWork_Receipt r = work_passport.receipt;
        r.rcpt_remain_ms = remainMs;
        return r;
    }
    void slot_OnStart_UnitWork(FlowUnit_Passport passport) override
    {
        started << passport;
        work_passport = passport;
        set_isworking(true);
        emit sig_unit_Update_Fgs_State();
    }

    // Reports the end of work with a result, as a real unit does.
    void finish(int result, bool ngstop = false, Condition_Type type = CondType_IOTrig,
                const QStringList& cameras = {QStringLiteral("CAM-B"), QStringLiteral("CAM-A")})
    {
        FlowWork_Receipt r;
        r.rcpt_detect_index = detect_index;
        r.rcpt_workstate = FlowWorkState_Detected;
        r.rcpt_result = result;
        r.rcpt_ngstop = ngstop;
        r.rcpt_runstate = work_passport.get_group_state().fgs_runstate;
        r.rcpt_collects = TestProductInterface::makeAnswer(result == 1 ? 1 : 0, cameras).collectlist;
        work_passport.receipt = r;
        FlowUnit_State u;
        u.fus_detect_index = detect_index;
        u.fus_detect_index_abs = detect_index_abs;
        u.fus_last_detect_type = type;
        work_passport.set_unit_state(u);
        if (work_passport.uuid.size() < 2)
            work_passport.uuid = QStringLiteral("FIN-%1").arg(detect_index);
        emit sig_unit_workfinish(work_passport);
        set_isworking(false);
        emit sig_unit_Update_Fgs_State();
    }
};

// A group of `count` units (relative and absolute index = position), a
// recording IO frame and a test product interface.
struct GroupBench {
    OutputRecorder frame;
    std::unique_ptr<TestProductInterface> product = std::make_unique<TestProductInterface>();
    QPointer<FlowGroup_Standard> group = new FlowGroup_Standard;
    QList<ScriptUnit*> units;

    explicit GroupBench(int count = 2, const QString& language = QStringLiteral("en-US"))
    {
        group->inst_iface = makeIface(&frame, product.get(), {"CAM-A", "CAM-B"});
        group->inst_iface.language = language;
        group->set_group_index(0);
        QList<int> abs;
        for (int i = 0; i < count; ++i) {
            auto* u = new ScriptUnit(group, i, i);
            group->append_FlowUnit(u);
            units << u;
            abs << i;
        }
        group->set_subunit_indexabs(abs);
        group->init_Fgs_RunState();
    }
    ~GroupBench()
    {
        delete group.data();
        deliverQueued();
    }

    // Each unit accepts a previous-result passport only for its predecessor,
    // and the first unit every other passport.
    void chainInOrder()
    {
        for (ScriptUnit* u : units) {
            const int rel = u->get_detect_index();
            u->accepts = [rel](const FlowUnit_Passport& p) {
                if (p.condition.cond_type == CondType_PreResult)
                    return p.condition.cond_resultctrl_preindex == rel - 1;
                return rel == 0;
            };
        }
    }
    const FlowGroup_State& state() const { return group->get_fgs_state(); }
};

FlowUnit_Passport ioPassport(int procRunstate = FlowRunState_Detect)
{
    FlowUnit_Passport p = passportOf(CondType_IOTrig, QStringLiteral("IO-1"));
    p.condition.cond_url = QStringLiteral("/dide/action/io_catch");
    FlowProc_State proc;
    proc.proc_runstate = procRunstate;
    p.set_product_state(proc);
    return p;
}

TEST(FlowGroupStandard, FirstUnitOpensAPeriodAndTheChainRunsItToTheEnd)
{
    GroupBench b(2);
    b.chainInOrder();
    SignalCount periods(b.group.data(), &FlowBox_Group::sig_GroupPeriod_Finish);

    ASSERT_TRUE(b.group->onStart(ioPassport()));
    EXPECT_EQ(b.state().fgs_remain_detects, (QList<int>{0, 1}));
    EXPECT_EQ(b.units[0]->historyClears, 1);
    EXPECT_EQ(b.units[1]->historyClears, 1);
    ASSERT_EQ(b.units[0]->started.size(), 1);
    EXPECT_EQ(b.state().fgs_runnode, 0);

    b.units[0]->finish(FlowResult_OK);
    EXPECT_EQ(b.state().fgs_remain_detects, (QList<int>{1}));
    EXPECT_EQ(b.state().fgs_runnode, 1);
    EXPECT_TRUE(b.units[1]->started.isEmpty()) << "the chained passport is posted, not offered at once";
    deliverQueued();
    ASSERT_EQ(b.units[1]->started.size(), 1);
    const FlowUnit_Passport chained = b.units[1]->started.first();
    EXPECT_EQ(chained.condition.cond_type, CondType_PreResult);
    EXPECT_EQ(chained.condition.cond_url, QStringLiteral("/dide/action/pre_result"));
    EXPECT_EQ(chained.condition.cond_resultctrl_preindex, 0);
    EXPECT_TRUE(chained.condition.cond_resultctrl_result);
    EXPECT_FALSE(chained.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_EQ(chained.condition.cond_detect_index, -1);
    EXPECT_TRUE(chained.condition.cond_action_deviceids.isEmpty());
    EXPECT_NE(chained.uuid, b.units[0]->get_work_passport().uuid);
    EXPECT_EQ(b.units[0]->historyClears, 1) << "a unit that does not open the period clears nothing";

    b.units[1]->finish(FlowResult_OK);
    EXPECT_EQ(periods.count, 1);
    EXPECT_TRUE(b.state().fgs_remain_detects.isEmpty());
    EXPECT_EQ(b.state().fgs_runnode, 0);
    EXPECT_EQ(b.state().fgs_runstate, FlowRunState_Detect);
    EXPECT_EQ(b.product->cycleRecords, 1);
    // A previous-result passport naming the last unit is chained after the period end too.
    const int offersBefore = b.units[0]->offered.size();
    deliverQueued();
    ASSERT_GT(b.units[0]->offered.size(), offersBefore);
    EXPECT_EQ(b.units[0]->offered.last().condition.cond_resultctrl_preindex, 1);
}

TEST(FlowGroupStandard, ProductInterfaceCallsOfAWholePeriod)
{
    GroupBench b(2);
    b.chainInOrder();
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    b.units[0]->finish(FlowResult_OK);
    deliverQueued();
    b.units[1]->finish(FlowResult_NG);
    EXPECT_EQ(b.product->calls,
              (QStringList{"Statistics_insertOnceDetectend", "PushMsg2Subscriber_DetectInfoOnce",
                           "Statistics_insertOnceDetectend", "PushMsg2Subscriber_DetectInfoOnce",
                           "saveFailImage_OnNGNoStop", "Statistics_updateCycleRecord"}));
    EXPECT_EQ(b.product->failImages, QList<int>{1});
}

TEST(FlowGroupStandard, DetectionRecordForSubscribers)
{
    GroupBench b(1);
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    b.units[0]->finish(FlowResult_NG, false, CondType_IOTrig, {"CAM-B", "CAM-A"});
    ASSERT_EQ(b.product->detectInfos.size(), 1);
    const QJsonObject info = b.product->detectInfos.first();
    EXPECT_EQ(info.value("business_id").toString(), b.units[0]->get_work_passport().uuid);
    EXPECT_EQ(info.value("detect_index").toInt(-9), 0);
    EXPECT_EQ(info.value("result").toInt(-9), 0);
    EXPECT_EQ(info.value("detect_time").toString().size(), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz").size());
    const QJsonArray last = info.value("last_result").toArray();
    ASSERT_EQ(last.size(), 2);
    EXPECT_EQ(last.at(0).toObject().value("key").toString(), QStringLiteral("CAM-A"));
    EXPECT_EQ(last.at(1).toObject().value("key").toString(), QStringLiteral("CAM-B"));
    EXPECT_EQ(last.at(0).toObject().value("calculate_time").toInt(), 5);
    EXPECT_FALSE(last.at(0).toObject().value("camera_result").toBool(true));
    ASSERT_EQ(b.product->detectEnds.size(), 1);
    EXPECT_EQ(b.product->detectEnds.first().keys(), (QList<QString>{"CAM-A", "CAM-B"}));
}

struct FinishCase {
    const char* name;
    int result;
    bool ngstop;
    Condition_Type type;
    QStringList calls;  // on the product interface, in order
    bool stopHeld;
};

class FinishOnce : public ::testing::TestWithParam<FinishCase> {};

TEST_P(FinishOnce, AsksTheProductInterfaceForWhatTheResultNeeds)
{
    const FinishCase& c = GetParam();
    GroupBench b(2);
    b.units[1]->accepts = [](const FlowUnit_Passport&) { return false; };
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    b.units[0]->finish(c.result, c.ngstop, c.type);
    EXPECT_EQ(b.product->calls, c.calls);
    EXPECT_EQ(!b.group->get_ng_stops().isEmpty(), c.stopHeld);
    EXPECT_EQ(b.state().fgs_runstate, c.stopHeld ? FlowRunState_NGStop : FlowRunState_Detect);
    if (c.stopHeld) {
        EXPECT_EQ(b.group->get_ng_stops().first(), (FlowPart_NG_Stop{0, false}));
        EXPECT_EQ(b.state().fgs_remain_detects, (QList<int>{0, 1})) << "the group holds";
        deliverQueued();
        EXPECT_EQ(b.units[1]->offered.size(), 0) << "nothing is chained while the stop is held";
    }
}

const QStringList kCountAndPush{"Statistics_insertOnceDetectend", "PushMsg2Subscriber_DetectInfoOnce"};

INSTANTIATE_TEST_SUITE_P(
    Results, FinishOnce,
    ::testing::Values(FinishCase{"Ok", FlowResult_OK, false, CondType_IOTrig, kCountAndPush, false},
                      FinishCase{"NgNoStop", FlowResult_NG, false, CondType_IOTrig,
                                 kCountAndPush + QStringList{"saveFailImage_OnNGNoStop"}, false},
                      FinishCase{"NoResult", FlowResult_None, false, CondType_IOTrig, kCountAndPush, false},
                      FinishCase{"NgStop", FlowResult_NG, true, CondType_IOTrig, kCountAndPush, true},
                      FinishCase{"ChainedOk", FlowResult_OK, false, CondType_PreResult, kCountAndPush, false},
                      FinishCase{"ManualOk", FlowResult_OK, false, CondType_ManualTrig, {}, false},
                      FinishCase{"ManualNg", FlowResult_NG, false, CondType_ManualTrig,
                                 {"saveFailImage_OnNGNoStop"}, false},
                      FinishCase{"ManualNgStop", FlowResult_NG, true, CondType_ManualTrig, {}, true}),
    [](const ::testing::TestParamInfo<FinishCase>& i) { return std::string(i.param.name); });

TEST(FlowGroupStandard, ManualCycleCountsNothingAndChainsNothing)
{
    GroupBench b(1);
    SignalCount periods(b.group.data(), &FlowBox_Group::sig_GroupPeriod_Finish);
    FlowUnit_Passport manual = passportOf(CondType_ManualTrig, QStringLiteral("M-1"));
    ASSERT_TRUE(b.group->onStart(manual));
    b.units[0]->finish(FlowResult_OK, false, CondType_ManualTrig);
    EXPECT_EQ(periods.count, 1);
    EXPECT_EQ(b.product->cycleRecords, 0);
    EXPECT_TRUE(b.product->calls.isEmpty()) << b.product->calls.join(',').toStdString();
    const int offers = b.units[0]->offered.size();
    deliverQueued();
    EXPECT_EQ(b.units[0]->offered.size(), offers);
}

struct ReleaseCase {
    const char* name;
    int detectIndex;  // of the finishing unit
    int result;
    bool released;
};

class NgStopRelease : public ::testing::TestWithParam<ReleaseCase> {};

TEST_P(NgStopRelease, OnlyAnOkOfTheStoppedStepReleases)
{
    const ReleaseCase& c = GetParam();
    GroupBench b(2);
    b.chainInOrder();
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    b.units[0]->finish(FlowResult_NG, true);
    ASSERT_EQ(b.state().fgs_runstate, FlowRunState_NGStop);
    b.product->calls.clear();

    SignalCount pmState(b.group.data(), &FlowBox_Group::sig_Update_PM_State);
    // An operator action on the held stop reaches the finishing unit.
    ScriptUnit* u = b.units[c.detectIndex];
    FlowUnit_Passport redetect = passportOf(CondType_ReDetect, QStringLiteral("RD-1"));
    u->slot_OnStart_UnitWork(redetect);
    pmState.count = 0;
    u->finish(c.result, false, CondType_ReDetect);

    EXPECT_GE(pmState.count, 1);
    EXPECT_EQ(b.group->get_ng_stops().isEmpty(), c.released);
    EXPECT_EQ(b.state().fgs_runstate, c.released ? FlowRunState_Detect : FlowRunState_NGStop);
    // The finish that meets the stop is neither counted nor pushed.
    EXPECT_FALSE(b.product->calls.contains("Statistics_insertOnceDetectend"));
    EXPECT_FALSE(b.product->calls.contains("PushMsg2Subscriber_DetectInfoOnce"));
    if (c.released) {
        // The rest of that finish goes on: struck off and the next unit chained.
        EXPECT_EQ(b.state().fgs_remain_detects, QList<int>{1});
        deliverQueued();
        EXPECT_EQ(b.units[1]->started.size(), 1);
    } else {
        EXPECT_EQ(b.state().fgs_remain_detects, (QList<int>{0, 1}));
    }
}

INSTANTIATE_TEST_SUITE_P(Offers, NgStopRelease,
                         ::testing::Values(ReleaseCase{"OkOfTheStoppedStep", 0, FlowResult_OK, true},
                                           ReleaseCase{"NgOfTheStoppedStep", 0, FlowResult_NG, false},
                                           ReleaseCase{"NoResultOfTheStoppedStep", 0, FlowResult_None, false},
                                           ReleaseCase{"OkOfAnotherStep", 1, FlowResult_OK, false}),
                         [](const ::testing::TestParamInfo<ReleaseCase>& i) { return std::string(i.param.name); });

TEST(FlowGroupStandard, TwoStopsInARowLeaveTheSecond)
{
    GroupBench b(2);
    b.group->update_NG_Stop({0, false});
    b.group->update_NG_Stop({1, false});
    EXPECT_EQ(b.group->get_ng_stops(), (QList<FlowPart_NG_Stop>{{1, false}}));
}

struct OpenCase {
    const char* name;
    Condition_Type type;
    int procRunstate;
    bool opensPeriod;
};

class PeriodOpening : public ::testing::TestWithParam<OpenCase> {};

TEST_P(PeriodOpening, OperatorActionsOnAHeldStopKeepThePeriod)
{
    const OpenCase& c = GetParam();
    GroupBench b(2);
    b.group->init_remain_detects();
    b.group->slot_Group_DoUnitWorkFinish([&] {
        // unit 1 left pending from an earlier pass: remain list {1}
        FlowUnit_Passport p;
        p.receipt.rcpt_detect_index = 0;
        p.receipt.rcpt_result = FlowResult_OK;
        FlowUnit_State u;
        u.fus_last_detect_type = CondType_ManualTrig;
        p.set_unit_state(u);
        return p;
    }());
    ASSERT_EQ(b.state().fgs_remain_detects, QList<int>{1});

    FlowUnit_Passport p = passportOf(c.type, QStringLiteral("OP-1"));
    FlowProc_State proc;
    proc.proc_runstate = c.procRunstate;
    p.set_product_state(proc);
    ASSERT_TRUE(b.group->onStart(p));
    EXPECT_EQ(b.state().fgs_remain_detects, c.opensPeriod ? (QList<int>{0, 1}) : QList<int>{1});
    EXPECT_EQ(b.units[0]->historyClears, c.opensPeriod ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Passports, PeriodOpening,
    ::testing::Values(OpenCase{"IoTrigger", CondType_IOTrig, FlowRunState_Detect, true},
                      OpenCase{"IoTriggerOnStop", CondType_IOTrig, FlowRunState_NGStop, true},
                      OpenCase{"ReDetectOnStop", CondType_ReDetect, FlowRunState_NGStop, false},
                      OpenCase{"NoCheckOnStop", CondType_NoCheck, FlowRunState_NGStop, false},
                      OpenCase{"AddTemplateOnStop", CondType_AddTemplate, FlowRunState_NGStop, false},
                      OpenCase{"ReDetectWithoutStop", CondType_ReDetect, FlowRunState_Detect, true}),
    [](const ::testing::TestParamInfo<OpenCase>& i) { return std::string(i.param.name); });

TEST(FlowGroupStandard, LaterUnitAcceptingLeavesTheRemainListAlone)
{
    GroupBench b(2);
    b.units[0]->accepts = [](const FlowUnit_Passport&) { return false; };
    b.group->init_remain_detects();
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    EXPECT_EQ(b.units[1]->started.size(), 1);
    EXPECT_EQ(b.state().fgs_runnode, 1);
    EXPECT_EQ(b.state().fgs_remain_detects, (QList<int>{0, 1}));
    EXPECT_EQ(b.units[1]->historyClears, 0);
}

TEST(FlowGroupStandard, RefusedByEveryUnitAndDisabledUnitsNotAsked)
{
    GroupBench b(2);
    b.units[0]->set_enable(false);
    b.units[1]->accepts = [](const FlowUnit_Passport&) { return false; };
    EXPECT_FALSE(b.group->onStart(ioPassport()));
    EXPECT_TRUE(b.units[0]->offered.isEmpty());
    EXPECT_EQ(b.units[1]->offered.size(), 1);
    EXPECT_EQ(b.units[1]->offered.first().get_group_state(), b.state()) << "the group state travels with the offer";
}

TEST(FlowGroupStandard, ResamplePassportPutsTheGroupIntoSampling)
{
    GroupBench b(3);
    b.units[1]->set_enable(false);
    FlowUnit_Passport p = passportOf(CondType_Resample, QStringLiteral("RS-1"));
    p.condition.cond_action_deviceids = QStringList{"CAM-A"};
    EXPECT_FALSE(b.group->onStart(p));
    EXPECT_EQ(b.state().fgs_remain_trains, (QList<int>{0, 2}));
    EXPECT_EQ(b.state().fgs_runstate, FlowRunState_Sampling);
    EXPECT_EQ(b.state().fgs_runnode, 0);
    EXPECT_EQ(b.state().fgs_remain_trains_cameras, QStringList{"CAM-A"});
    ASSERT_EQ(b.product->workEvents.size(), 1);
    EXPECT_EQ(b.product->workEvents.first().get_group_state().fgs_runstate, FlowRunState_Sampling);
    for (ScriptUnit* u : b.units)
        EXPECT_TRUE(u->started.isEmpty());
}

TEST(FlowGroupStandard, SamplingPeriodTrainsEachUnitLaterEvenWhenTheGroupIsGone)
{
    GroupBench b(2);
    b.chainInOrder();
    FlowUnit_Passport resample = passportOf(CondType_Resample, QStringLiteral("RS-1"));
    b.group->onStart(resample);
    ASSERT_TRUE(b.group->onStart(ioPassport()));
    ASSERT_EQ(b.units[0]->started.first().get_group_state().fgs_runstate, FlowRunState_Sampling);
    EXPECT_EQ(b.state().fgs_remain_trains, QList<int>{1});
    int runstateAtPeriodEnd = -1;
    QObject::connect(b.group.data(), &FlowBox_Group::sig_GroupPeriod_Finish, b.group.data(),
                     [&] { runstateAtPeriodEnd = b.state().fgs_runstate; });
    b.units[0]->finish(FlowResult_OK);
    deliverQueued();
    b.units[1]->finish(FlowResult_OK);
    EXPECT_EQ(runstateAtPeriodEnd, FlowRunState_Sampling) << "the period ends before the run state returns";
    EXPECT_EQ(b.state().fgs_runstate, FlowRunState_Detect);
    EXPECT_TRUE(b.product->trainVars.isEmpty()) << "training waits";

    // The flow is rebuilt before the trainings are due: they still arrive.
    delete b.group.data();
    EXPECT_TRUE(waitUntil([&] { return b.product->trainVars.size() == 2; }, 10000));
    EXPECT_EQ(b.product->trainVars, (QList<int>{0, 1}));
}

TEST(FlowGroupStandard, DisplayRecordOfAFinishFollowsTheInterfaceLanguage)
{
    GroupBench b(2, QStringLiteral("en-US"));
    b.units[1]->accepts = [](const FlowUnit_Passport&) { return false; };
    QList<FlowWork_DisplayArea> shown;
    QObject::connect(b.group.data(), &FlowBox_Group::sig_Update_StashDisplay,
                     [&](FlowWork_DisplayArea d) { shown << d; });
    b.units[1]->set_detect_index_abs(7);
    b.group->onStart(ioPassport());
    b.units[0]->finish(FlowResult_NG, true);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].area_text, QStringLiteral("Unit0"));
    EXPECT_EQ(shown[0].area_language, QStringLiteral("en-US"));
    EXPECT_EQ(shown[0].area_unitindex_abs, 0);
    EXPECT_EQ(shown[0].area_workstate, FlowWorkState_Detected);
    EXPECT_EQ(shown[0].area_result, FlowResult_NG);
}

struct DescribeCase {
    const char* name;
    const char* language;
    int runnode;
    QString describe;
    int flag;
    int shownAbs;
};

class RunDescribe : public ::testing::TestWithParam<DescribeCase> {};

TEST_P(RunDescribe, DescribesTheRunNodeInTheInterfaceLanguage)
{
    const DescribeCase& c = GetParam();
    GroupBench b(2, QString::fromLatin1(c.language));
    b.units[1]->set_detect_index_abs(6);
    b.group->set_subunit_indexabs({0, 6});
    if (c.runnode >= 0)
        b.group->onStart(ioPassport());  // unit 0 works: its receipt is "waiting" until the finish
    if (c.runnode < 0) {
        b.units[0]->set_enable(false);
        b.units[1]->set_enable(false);
        b.group->init_Fgs_RunState();
    }
    const FlowGroup_State s = b.group->get_RunDescribe();
    EXPECT_EQ(s.fgs_zrp_describe, c.describe);
    EXPECT_EQ(s.fgs_zrp_flag, c.flag);
    EXPECT_EQ(s.fgs_zrp_show_unitindex_abs, c.shownAbs);
    EXPECT_EQ(s.fgs_units_indexabs, (QList<int>{0, 6}));
    if (c.runnode < 0) {
        EXPECT_EQ(b.group->get_RunningUnit_RemainTimems(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunDescribe,
    ::testing::Values(DescribeCase{"NoRunNode", "zh-CN", -1, QStringLiteral(" UNKNOW 等待中"), 0, -1},
                      DescribeCase{"WaitingEnglish", "en-US", 0, QStringLiteral(" Unit0 Waiting"), 0, 0},
                      DescribeCase{"WaitingChinese", "zh-CN", 0, QStringLiteral(" 单元0 等待中"), 0, 0}),
    [](const ::testing::TestParamInfo<DescribeCase>& i) { return std::string(i.param.name); });

TEST(FlowGroupStandard, RemainingTimeAndShownNode)
{
    GroupBench b(2);
    b.units[1]->accepts = [](const FlowUnit_Passport&) { return false; };
    b.units[0]->remainMs = 2500;
    b.group->onStart(ioPassport());
    EXPECT_EQ(b.group->get_RunningUnit_RemainTimems(), 2500);
    EXPECT_EQ(b.group->get_shownode(), -1);
    b.units[0]->finish(FlowResult_OK);
    EXPECT_EQ(b.group->get_shownode(), 0);
}

TEST(FlowGroupStandard, SerialisationCarriesTheGroupIndex)
{
    GroupBench b(2);
    b.group->set_group_index(3);
    const QJsonArray units = b.group->get_FlowSerialize().value("units").toArray();
    ASSERT_EQ(units.size(), 2);
    for (const QJsonValue& u : units)
        EXPECT_EQ(u.toObject().value("groupindex").toInt(-1), 3);
}

TEST(FlowGroupStandard, WorkingFlagReachesTheManagerSignal)
{
    GroupBench b(2);
    SignalCount pmState(b.group.data(), &FlowBox_Group::sig_Update_PM_State);
    b.units[1]->accepts = [](const FlowUnit_Passport&) { return false; };
    b.group->onStart(ioPassport());
    EXPECT_EQ(b.state().fgs_working_unitindex_abs, 0);
    EXPECT_GE(pmState.count, 1);
}

}  // namespace
