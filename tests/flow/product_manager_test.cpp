// The flow manager: passports from IO triggers and operator actions, the
// queue and its traverse (one passport per run, dropped while a unit works),
// the round-robin offer to the groups, the next group, absolute unit
// indexes, the display record, and the run-state description read from any
// thread.
#include "flow/flowgroup_standard.h"
#include "flow/flowunit_base.h"
#include "flow/flowunit_standard_detect.h"
#include "flow/product_manager.h"
#include "flowbasetestbench.h"
#include "foundation/qstring_tl.h"
#include "support/testproductinterface.h"
#include "tests/io/iotestbench.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace flowbase;
using testsupport::TestProductInterface;

namespace {

class PlainUnit : public FlowUnit_Base {
public:
    PlainUnit(QObject* parent, int rel) : FlowUnit_Base(parent) { detect_index = rel; }
    int remainMs = 0;
    CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport) override { return {}; }
    void clear_frames() override {}
    void clear_historystorage() override {}
    void slot_OnStart_UnitWork(FlowUnit_Passport) override {}
    FlowWork_Receipt get_UnitReceipt() override
    {
        FlowWork_Receipt r;
        r.rcpt_remain_ms = remainMs;
        return r;
    }
};

// A group that records what it is offered and whose answer a test sets.
class FakeGroup : public FlowBox_Group {
public:
    FakeGroup(QObject* parent, QList<int>* order) : FlowBox_Group(parent), offerOrder(order) {}
    bool accepts = false;
    QList<FlowUnit_Passport> offers;
    int remainInits = 0;
    int runStateInits = 0;

    bool onStart(FlowUnit_Passport passport) override
    {
        offers << passport;
        offerOrder->append(get_group_index());
        return accepts;
    }
    void init_remain_detects() override
    {
        ++remainInits;
        FlowBox_Group::init_remain_detects();
    }
    void init_Fgs_RunState() override
    {
        ++runStateInits;
        FlowBox_Group::init_Fgs_RunState();
    }
    QJsonObject get_FlowSerialize() override { return {}; }
    void slot_Group_DoUnitWorkFinish(FlowUnit_Passport) override {}
    void setWorking(int abs)
    {
        fgs_state.fgs_working_unitindex_abs = abs;
        emit sig_Update_PM_State();
    }
    void setRunstate(int state) { fgs_state.fgs_runstate = state; }

private:
    QList<int>* offerOrder;
};

// A standard group whose run state a test forces and which records the
// threads its description is asked on.
class ProbeGroup : public FlowGroup_Standard {
public:
    using FlowGroup_Standard::FlowGroup_Standard;
    int forcedRunstate = FlowRunState_Detect;
    QList<QThread*> askedOn;  // written from whichever thread asks
    QMutex askedLock;

    FlowGroup_State get_RunDescribe() override
    {
        {
            QMutexLocker guard(&askedLock);
            askedOn << QThread::currentThread();
        }
        FlowGroup_State s = FlowGroup_Standard::get_RunDescribe();
        s.fgs_runstate = forcedRunstate;
        return s;
    }
    QList<QThread*> threads()
    {
        QMutexLocker guard(&askedLock);
        return askedOn;
    }
};

struct ManagerBench {
    iotest::CameraSetup camera;  // main camera CAMSELF with sub camera CAMSUB1, running, links up
    OutputRecorder frame;
    TestProductInterface product;
    std::unique_ptr<Product_Manager> manager = std::make_unique<Product_Manager>();
    QList<int> offerOrder;

    ManagerBench()
    {
        manager->setProductInterface(&product);
        manager->setFrameIO(&frame);
    }
    ~ManagerBench()
    {
        manager.reset();
        runDeferredDeletes();
    }

    // A group at the end of the list, wired to the manager, with `units` units.
    FakeGroup* addGroup(bool accepts = false, int units = 0, bool enabled = true)
    {
        auto* g = new FakeGroup(manager.get(), &offerOrder);
        g->set_group_index(manager->flowGroups().size());
        g->set_enable(enabled);
        g->accepts = accepts;
        for (int i = 0; i < units; ++i)
            g->append_FlowUnit(new PlainUnit(g, i));
        manager->flowGroups().append(g);
        manager->connect_Group(g);
        return g;
    }
    ProbeGroup* addProbe(int id, int remainMs = 0)
    {
        auto* g = new ProbeGroup(manager.get());
        g->inst_iface = manager->getFlowInstIface();
        g->set_group_index(manager->flowGroups().size());
        g->set_subunit_indexabs({id});
        auto* u = new PlainUnit(g, 0);
        u->remainMs = remainMs;
        g->append_FlowUnit(u);
        g->init_Fgs_RunState();
        manager->flowGroups().append(g);
        manager->connect_Group(g);
        return g;
    }
    FlowUnit_Passport operatorPassport(int type = CondType_ReDetect, const QString& uuid = QStringLiteral("OP"))
    {
        FlowWork_Condition c;
        c.cond_type = type;
        c.cond_url = QStringLiteral("/dide/action/redetect");
        return FlowUnit_Passport(uuid, c);
    }
};

TEST(ProductManager, IoTriggerBecomesOneQueuedPassport)
{
    ManagerBench b;
    b.camera.setRunning(false);  // keeps the passport in the queue
    b.camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.input_bits = 0b1001; });

    b.manager->slot_OnWork_IOTrig({{3, ElectricLevel_High}, {0, ElectricLevel_Low}});

    const QList<FlowUnit_Passport> queue = b.manager->get_queue();
    ASSERT_EQ(queue.size(), 1);
    const FlowWork_Condition& c = queue.first().condition;
    EXPECT_EQ(c.cond_type, CondType_IOTrig);
    EXPECT_EQ(c.cond_url, QStringLiteral("/dide/action/io_catch"));
    EXPECT_EQ(c.cond_action_deviceids, (QStringList{iotest::kSub, iotest::kSelf}));
    EXPECT_EQ(c.cond_input_bits, 0b1001);
    EXPECT_EQ(c.cond_trig_levels, (QList<IO_IndexLevel>{lv(0, 0), lv(3, 1)}));
    EXPECT_FALSE(queue.first().uuid.isEmpty());
}

class ModuleStateGate : public ::testing::TestWithParam<int> {};

TEST_P(ModuleStateGate, PassportsAreTakenOnlyWithBothLinksUp)
{
    ManagerBench b;
    b.camera.setRunning(false);
    b.camera.setModuleState(GetParam());
    LogLines log;
    b.manager->slot_OnWork(b.operatorPassport());
    b.manager->slot_OnWork_IOTrig({{0, ElectricLevel_High}});
    const bool taken = GetParam() == 3;
    EXPECT_EQ(b.manager->get_queue().size(), taken ? 2 : 0);
    EXPECT_EQ(log.count(QStringLiteral("dropped: IO module or camera link not connected")), taken ? 0 : 2);
    // A cycle cut short by a lost link has no verdict: the log files say why.
    EXPECT_EQ(log.reachesLogFiles(QStringLiteral("dropped: IO module or camera link not connected")), !taken);
}

INSTANTIATE_TEST_SUITE_P(States, ModuleStateGate, ::testing::Values(0, 1, 2, 3));

TEST(ProductManager, StoppedWorkKeepsPassportsQueuedButStampsTheMainLoop)
{
    ManagerBench b;
    b.addGroup(true);
    b.camera.setRunning(false);
    b.manager->slot_OnWork(b.operatorPassport());
    b.camera.mgr->set_mainloop_tick(0);
    b.manager->slot_Traverse();
    EXPECT_NE(b.camera.mgr->mainloop_tick(), 0);
    EXPECT_EQ(b.manager->get_queue().size(), 1);
    EXPECT_TRUE(b.offerOrder.isEmpty());
}

TEST(ProductManager, OnePassportPerTraverse)
{
    ManagerBench b;
    FakeGroup* g = b.addGroup(true);
    b.camera.setRunning(false);
    for (const char* id : {"P1", "P2", "P3"})
        b.manager->slot_OnWork(b.operatorPassport(CondType_ReDetect, QString::fromLatin1(id)));
    b.camera.setRunning(true);

    b.manager->slot_Traverse();
    ASSERT_EQ(g->offers.size(), 1);
    EXPECT_EQ(g->offers.first().uuid, QStringLiteral("P1"));
    EXPECT_EQ(b.manager->get_queue().size(), 2);
    b.manager->slot_Traverse();
    EXPECT_EQ(g->offers.last().uuid, QStringLiteral("P2"));
    EXPECT_EQ(b.manager->get_queue().size(), 1);
}

TEST(ProductManager, QueueIsDroppedWhileAUnitWorks)
{
    ManagerBench b;
    FakeGroup* g = b.addGroup(true, 1);
    b.camera.setRunning(false);
    b.manager->slot_OnWork(b.operatorPassport(CondType_ReDetect, QStringLiteral("P1")));
    b.manager->slot_OnWork_IOTrig({{0, ElectricLevel_High}});
    g->setWorking(4);
    ASSERT_EQ(b.manager->get_running_node(), 4);
    b.camera.setRunning(true);

    LogLines log;
    b.manager->slot_Traverse();
    EXPECT_TRUE(b.manager->get_queue().isEmpty());
    EXPECT_TRUE(g->offers.isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("dropped: unit 4 is working")), 2);

    g->setWorking(-1);
    b.manager->slot_OnWork(b.operatorPassport(CondType_ReDetect, QStringLiteral("P2")));
    ASSERT_EQ(g->offers.size(), 1) << "a new passport is offered at once when no unit works";
    EXPECT_EQ(g->offers.first().uuid, QStringLiteral("P2"));
}

struct OfferCase {
    const char* name;
    int current;
    QList<int> accepters;
    int runState;
    QList<int> order;  // positions offered, in order
    int newCurrent;
};

class OfferOrder : public ::testing::TestWithParam<OfferCase> {};

TEST_P(OfferOrder, RoundRobinFromTheCurrentGroup)
{
    const OfferCase& c = GetParam();
    ManagerBench b;
    QList<FakeGroup*> groups;
    for (int i = 0; i < 3; ++i)
        groups << b.addGroup(c.accepters.contains(i));
    b.manager->set_current_group(c.current);
    groups[0]->setRunstate(c.runState);  // the manager takes its run state from the groups

    LogLines log;
    b.manager->slot_OnWork(b.operatorPassport());

    EXPECT_EQ(b.offerOrder, c.order);
    EXPECT_EQ(b.manager->get_current_group(), c.newCurrent);
    for (FakeGroup* g : groups) {
        for (const FlowUnit_Passport& p : g->offers) {
            EXPECT_EQ(p.get_product_state().proc_group_index, c.current);
            EXPECT_EQ(p.get_product_state().proc_runstate, c.runState);
            EXPECT_EQ(p.get_product_state().proc_running_node, -1);
        }
    }
    if (c.accepters.isEmpty()) {
        EXPECT_EQ(log.count(QStringLiteral("dropped: no group took it")), 1);
        return;
    }
    // In detect, every group but the accepter starts its remain list afresh.
    for (int i = 0; i < groups.size(); ++i) {
        const bool reset = c.runState == FlowRunState_Detect && i != c.newCurrent;
        EXPECT_EQ(groups[i]->remainInits, reset ? 1 : 0) << "group " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OfferOrder,
    ::testing::Values(OfferCase{"FromOneToTwo", 1, {2}, FlowRunState_Detect, {1, 2}, 2},
                      OfferCase{"WrapsToZero", 2, {0}, FlowRunState_Detect, {2, 0}, 0},
                      OfferCase{"FirstAccepterWins", 0, {1, 2}, FlowRunState_Detect, {0, 1}, 1},
                      OfferCase{"InNgStopNoResets", 1, {1}, FlowRunState_NGStop, {1}, 1},
                      OfferCase{"NoCurrentGroupStartsAtZero", -1, {1}, FlowRunState_Detect, {0, 1}, 1},
                      OfferCase{"CurrentPastTheListStartsAtZero", 7, {2}, FlowRunState_Detect, {0, 1, 2}, 2},
                      OfferCase{"NobodyTakesIt", 1, {}, FlowRunState_Detect, {1, 2, 0}, 1}),
    [](const ::testing::TestParamInfo<OfferCase>& i) { return std::string(i.param.name); });

TEST(ProductManager, WithoutGroupsAPassportIsDroppedWithItsReason)
{
    ManagerBench b;
    LogLines log;
    b.manager->slot_OnWork(b.operatorPassport());
    EXPECT_TRUE(b.manager->get_queue().isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("dropped: no group took it")), 1);
}

struct NextCase {
    const char* name;
    QList<bool> enabled;
    int current;
    int next;
};

class NextGroupNode : public ::testing::TestWithParam<NextCase> {};

TEST_P(NextGroupNode, NextEnabledListPosition)
{
    const NextCase& c = GetParam();
    ManagerBench b;
    for (bool e : c.enabled)
        b.addGroup(false, 0, e);
    if (c.enabled.size() > 1)
        b.manager->flowGroups().at(1)->set_group_index(5);  // positions count, not the group's own index
    EXPECT_EQ(b.manager->get_next_groupnode(c.current), c.next);
}

INSTANTIATE_TEST_SUITE_P(Cases, NextGroupNode,
                         ::testing::Values(NextCase{"FirstEnabled", {false, true}, -1, 1},
                                           NextCase{"OnlyItself", {false, true}, 1, 1},
                                           NextCase{"Wraps", {true, true, true}, 2, 0},
                                           NextCase{"SkipsDisabled", {true, false, true}, 0, 2},
                                           NextCase{"NoneEnabled", {false, false}, 0, -1},
                                           NextCase{"NoneEnabledFromMinusOne", {false, false}, -1, -1},
                                           NextCase{"BelowMinusOne", {true, true}, -2, -1},
                                           NextCase{"NoGroups", {}, -1, -1}),
                         [](const ::testing::TestParamInfo<NextCase>& i) { return std::string(i.param.name); });

TEST(ProductManager, PeriodEndMovesTheCurrentGroup)
{
    ManagerBench b;
    FakeGroup* g0 = b.addGroup();
    b.addGroup();
    b.manager->set_current_group(0);
    emit g0->sig_GroupPeriod_Finish();
    EXPECT_EQ(b.manager->get_current_group(), 1);
}

struct IndexCase {
    const char* name;
    int group;
    int unit;
    int abs;  // get_UiAbs_From_UiRel(group, unit)
};

class AbsoluteIndexes : public ::testing::TestWithParam<IndexCase> {};

TEST_P(AbsoluteIndexes, UnitCountsTwoAndThree)
{
    const IndexCase& c = GetParam();
    ManagerBench b;
    b.addGroup(false, 2);
    b.addGroup(false, 3);
    EXPECT_EQ(b.manager->get_UiAbs_From_UiRel(c.group, c.unit), c.abs);
}

INSTANTIATE_TEST_SUITE_P(Cases, AbsoluteIndexes,
                         ::testing::Values(IndexCase{"FirstOfSecond", 1, 0, 2}, IndexCase{"LastOfSecond", 1, 2, 4},
                                           IndexCase{"FirstOfFirst", 0, 0, 0}, IndexCase{"UnitPastGroup", 0, 2, -1},
                                           IndexCase{"NegativeUnit", 1, -1, -1},
                                           IndexCase{"GroupPastList", 2, 0, -1},
                                           IndexCase{"NegativeGroup", -1, 0, -1}),
                         [](const ::testing::TestParamInfo<IndexCase>& i) { return std::string(i.param.name); });

TEST(ProductManager, GroupAndUnitOfAnAbsoluteIndex)
{
    ManagerBench b;
    EXPECT_EQ(b.manager->get_UAbs_Count(), 0);
    EXPECT_EQ(b.manager->get_Gi_From_UiAbs(0), -1);
    FakeGroup* g0 = b.addGroup(false, 2);
    FakeGroup* g1 = b.addGroup(false, 3);
    EXPECT_EQ(b.manager->get_UAbs_Count(), 5);
    const QList<std::pair<int, int>> groupOf{{-1, -1}, {0, 0}, {1, 0}, {2, 1}, {4, 1}, {5, -1}};
    for (const auto& [abs, group] : groupOf)
        EXPECT_EQ(b.manager->get_Gi_From_UiAbs(abs), group) << abs;
    EXPECT_EQ(b.manager->get_UnitObj_ByUiAbs(1), g0->get_unit_list().at(1));
    EXPECT_EQ(b.manager->get_UnitObj_ByUiAbs(4), g1->get_unit_list().at(2));
    EXPECT_EQ(b.manager->get_UnitObj_ByUiAbs(5), nullptr);
    EXPECT_EQ(b.manager->get_UnitObj_ByUiAbs(-1), nullptr);
}

class DisplayKeep : public ::testing::TestWithParam<int> {};

TEST_P(DisplayKeep, TheRecordStaysOnlyInAnNgStop)
{
    ManagerBench b;
    FakeGroup* g = b.addGroup();
    FlowWork_DisplayArea area;
    area.area_text = QStringLiteral("X");
    emit g->sig_Update_StashDisplay(area);
    ASSERT_TRUE(b.manager->get_display().hasValue());
    b.manager->set_run_state(GetParam());
    b.manager->slot_DisplayTimeout();
    EXPECT_EQ(b.manager->get_display().hasValue(), GetParam() == FlowRunState_NGStop);
}

INSTANTIATE_TEST_SUITE_P(RunStates, DisplayKeep,
                         ::testing::Values(FlowRunState_Detect, FlowRunState_Sampling, FlowRunState_NGStop));

TEST(ProductManager, RunStateIsTheFirstSamplingOrStoppedGroup)
{
    ManagerBench b;
    FakeGroup* g0 = b.addGroup();
    FakeGroup* g1 = b.addGroup();
    FakeGroup* g2 = b.addGroup();
    g1->setRunstate(FlowRunState_NGStop);
    g2->setRunstate(FlowRunState_Sampling);
    g0->setWorking(-1);
    EXPECT_EQ(b.manager->get_run_state(), FlowRunState_NGStop);
    g1->setRunstate(FlowRunState_Detect);
    g2->setWorking(3);
    EXPECT_EQ(b.manager->get_run_state(), FlowRunState_Sampling);
    EXPECT_EQ(b.manager->get_running_node(), 3);
}

TEST(ProductManager, StartResetsEveryGroupStopEmptiesTheQueue)
{
    ManagerBench b;
    FakeGroup* g0 = b.addGroup();
    FakeGroup* g1 = b.addGroup();
    b.camera.setRunning(false);
    b.manager->slot_OnWork(b.operatorPassport());
    b.manager->setStartOrStop(true);
    EXPECT_EQ(g0->runStateInits, 1);
    EXPECT_EQ(g1->runStateInits, 1);
    EXPECT_EQ(b.manager->get_queue().size(), 1);
    b.manager->setStartOrStop(false);
    EXPECT_TRUE(b.manager->get_queue().isEmpty());
}

TEST(ProductManager, InstanceRecordForNewGroups)
{
    ManagerBench b;
    g_Language = QStringLiteral("en-US");
    const FlowInstIface iface = b.manager->getFlowInstIface();
    g_Language = QStringLiteral("zh-CN");
    EXPECT_EQ(iface.device_id, iotest::kSelf);
    EXPECT_EQ(iface.language, QStringLiteral("en-US"));
    EXPECT_EQ(iface.product_iface.data(), &b.product);
    EXPECT_EQ(iface.frame_io.data(), &b.frame);
    EXPECT_EQ(iface.getCamDevices().getAllCamsIDs(), (QStringList{iotest::kSelf, iotest::kSub}));
}

TEST(ProductManager, QuickCheckOfAManualPassportAsksTheStandardUnits)
{
    ManagerBench b;
    b.addGroup(true, 2);  // plain units are not asked
    for (int abs = 2; abs < 4; ++abs) {
        auto* group = new FlowGroup_Standard(b.manager.get());
        group->inst_iface = b.manager->getFlowInstIface();
        auto* unit = new FlowUnit_Standard_Detect(group);
        group->append_FlowUnit(unit);
        unit->set_detect_index(0);
        unit->set_detect_index_abs(abs);
        unit->set_cond_sortindex(0, abs);
        b.manager->flowGroups().append(group);
    }
    const QList<std::pair<int, int>> answers{{3, 3}, {2, 2}, {0, -1}, {7, -1}};
    for (const auto& [aimed, answer] : answers) {
        FlowWork_Condition c;
        c.cond_type = CondType_ManualTrig;
        c.cond_url = QStringLiteral("/dide/action/manual_catch");
        c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
        c.cond_detect_index_abs = aimed;
        EXPECT_EQ(b.manager->get_QuickChk_ManualTrig(FlowUnit_Passport(QStringLiteral("M"), c)), answer) << aimed;
    }
    EXPECT_TRUE(b.offerOrder.isEmpty()) << "a quick check starts nothing";
}

struct ChoiceCase {
    const char* name;
    QList<int> runstates;  // per group
    int current;
    int chosen;  // group id reported (fgs_units_indexabs), -1: a default state
};

class DescribeChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(DescribeChoice, StoppedThenSamplingThenCurrentGroup)
{
    const ChoiceCase& c = GetParam();
    ManagerBench b;
    for (int i = 0; i < c.runstates.size(); ++i)
        b.addProbe(10 + i)->forcedRunstate = c.runstates.at(i);
    b.manager->set_current_group(c.current);
    const FlowGroup_State s = b.manager->get_RunDescribe();
    if (c.chosen < 0) {
        EXPECT_EQ(s, FlowGroup_State());
    } else {
        EXPECT_EQ(s.fgs_units_indexabs, QList<int>{c.chosen});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescribeChoice,
    ::testing::Values(ChoiceCase{"NgStopFirst", {1, 2, 0}, 2, 11}, ChoiceCase{"SamplingNext", {0, 1, 0}, 2, 11},
                      ChoiceCase{"CurrentGroup", {0, 0, 0}, 2, 12},
                      ChoiceCase{"FirstNgStopOfTwo", {2, 2}, 0, 10},
                      ChoiceCase{"NoCurrentGroup", {0, 0}, -1, -1}),
    [](const ::testing::TestParamInfo<ChoiceCase>& i) { return std::string(i.param.name); });

TEST(ProductManager, DescriptionTakesTheDisplayRecordAndTheRemainingTime)
{
    ManagerBench b;
    b.addProbe(10, 2500);
    b.manager->set_current_group(0);
    FlowWork_DisplayArea area;
    area.area_text = QStringLiteral("Mould");
    area.area_unitindex_abs = 3;
    area.area_workstate = FlowWorkState_Detected;
    area.area_result = FlowResult_OK;
    area.area_language = QStringLiteral("en-US");
    b.manager->slot_Update_Group_StashDisplay(area);
    const FlowGroup_State s = b.manager->get_RunDescribe();
    EXPECT_EQ(s.fgs_zrp_describe, QStringLiteral(" Mould Detected 2.5"));
    EXPECT_EQ(s.fgs_zrp_flag, 2);
    EXPECT_EQ(s.fgs_zrp_show_unitindex_abs, 3);
}

TEST(ProductManager, SubCameraReportsItsOwnState)
{
    ManagerBench b;
    b.addProbe(10)->forcedRunstate = FlowRunState_NGStop;
    b.manager->set_current_group(0);
    b.camera.mgr->set_device_info(iotest::testGroup(iotest::Role::Sub));
    EXPECT_EQ(b.manager->get_RunDescribe(), b.manager->get_own_group_state());
}

// Runs get_RunDescribe on a thread of its own while the main thread keeps
// its event loop going; returns what it answered.
FlowGroup_State describeFromAnotherThread(Product_Manager& manager, QThread** caller)
{
    FlowGroup_State answer;
    std::atomic<bool> done{false};
    std::atomic<QThread*> on{nullptr};
    std::thread worker([&] {
        on = QThread::currentThread();
        answer = manager.get_RunDescribe();
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }));
    worker.join();
    *caller = on.load();
    return answer;
}

TEST(ProductManager, DescriptionFromAnotherThreadIsComputedOnTheMainThread)
{
    ManagerBench b;
    ProbeGroup* g = b.addProbe(10);
    g->forcedRunstate = FlowRunState_Sampling;
    b.manager->set_current_group(0);

    QThread* worker = nullptr;
    const FlowGroup_State s = describeFromAnotherThread(*b.manager, &worker);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(s.fgs_units_indexabs, QList<int>{10});
    EXPECT_EQ(s.fgs_runstate, FlowRunState_Sampling);
    ASSERT_FALSE(g->threads().isEmpty());
    for (QThread* t : g->threads())
        EXPECT_EQ(t, QThread::currentThread()) << "the group was asked on the worker thread";
}

TEST(ProductManager, DescriptionDuringAWorkEventIsTheLastPublished)
{
    ManagerBench b;
    ProbeGroup* g = b.addProbe(10);
    b.manager->set_current_group(0);
    g->forcedRunstate = FlowRunState_NGStop;
    b.manager->publish_RunDescribe();
    b.camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.busy = true; });

    QThread* worker = nullptr;
    const FlowGroup_State s = describeFromAnotherThread(*b.manager, &worker);
    b.camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.busy = false; });
    EXPECT_EQ(s.fgs_runstate, FlowRunState_NGStop);
    EXPECT_EQ(s.fgs_units_indexabs, QList<int>{10});
    for (QThread* t : g->threads())
        EXPECT_NE(t, worker) << "the group was read on the worker thread during a work event";
}

}  // namespace
