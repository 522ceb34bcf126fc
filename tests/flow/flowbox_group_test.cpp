// The group base: choosing the next unit, the remain list, index look-ups,
// the run-state reset, appending and clearing units.
#include "flow/flowbox_group.h"
#include "flow/flowunit_base.h"
#include "support/testproductinterface.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QStringList>
#include "support/logcapture.h"

#include <gtest/gtest.h>

namespace {

using WarningCapture = testsupport::LogCapture;

class TestUnit : public FlowUnit_Base {
public:
    TestUnit(QObject* parent, int rel, int abs, bool enabled = true) : FlowUnit_Base(parent)
    {
        detect_index = rel;
        detect_index_abs = abs;
        enable = enabled;
    }
    int clears = 0;
    CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport) override { return {}; }
    void clear_frames() override { ++clears; }
    void clear_historystorage() override {}
    void slot_OnStart_UnitWork(FlowUnit_Passport) override {}
    void finish(const FlowUnit_Passport& p)
    {
        work_passport = p;
        emit sig_unit_workfinish(work_passport);
    }
    void work(bool on)
    {
        set_isworking(on);
        emit sig_unit_Update_Fgs_State();
    }
};

class TestGroup : public FlowBox_Group {
public:
    using FlowBox_Group::FlowBox_Group;
    QList<FlowUnit_Passport> finished;
    QList<FlowUnit_Passport> started;
    QJsonObject get_FlowSerialize() override { return {}; }
    void slot_Group_DoUnitWorkFinish(FlowUnit_Passport passport) override { finished << passport; }
    bool onStart(FlowUnit_Passport passport) override
    {
        started << passport;
        return FlowBox_Group::onStart(passport);
    }
    void remember(int detect_index) { fgs_state.fgs_recycle_detectinfo.insert(detect_index, FlowWork_Receipt()); }
    TestUnit* add(int rel, int abs, bool enabled = true)
    {
        auto* u = new TestUnit(this, rel, abs, enabled);
        append_FlowUnit(u);
        return u;
    }
};

TEST(FlowBoxGroup, ANewGroupHasItsDefaults)
{
    TestGroup g;
    EXPECT_TRUE(g.get_enable());
    EXPECT_EQ(g.get_group_index(), -1);
    EXPECT_FALSE(g.get_obj_id().isEmpty());
    EXPECT_NE(g.get_obj_id(), TestGroup().get_obj_id());
    EXPECT_TRUE(g.get_subunit_indexabs().isEmpty());
    EXPECT_EQ(g.get_RunDescribe(), FlowGroup_State());
    EXPECT_EQ(g.inst_iface.language, QStringLiteral("zh-CN"));
}

TEST(FlowBoxGroup, NextUnitNodeFollowsTheSortedEnabledIndexesAndWraps)
{
    TestGroup g;
    g.add(2, 12);
    g.add(0, 10);
    g.add(1, 11);
    g.add(5, 15, false);
    const struct {
        int current;
        int next;
        bool warns;
    } cases[] = {{-1, 0, false}, {0, 1, false}, {1, 2, false}, {2, 0, false}, {5, -1, true}, {7, -1, true}};
    for (const auto& c : cases) {
        WarningCapture capture;
        EXPECT_EQ(g.get_next_unitnode(c.current), c.next) << c.current;
        EXPECT_EQ(!capture.warnings().isEmpty(), c.warns) << c.current;
        if (c.warns) {
            EXPECT_EQ(capture.warnings().first(),
                      QStringLiteral("get_next_unitnode error = -1, There might not be a job unit!"));
        }
    }
}

TEST(FlowBoxGroup, TwoUnitsWithOneIndexFollowThemselves)
{
    TestGroup g;
    g.add(1, 10);
    g.add(1, 11);
    g.add(3, 12);
    EXPECT_EQ(g.get_next_unitnode(1), 1);
    EXPECT_EQ(g.get_next_unitnode(3), 1);
}

TEST(FlowBoxGroup, RemainListIsTheEnabledUnitsInListOrderAndForgetsThePeriod)
{
    TestGroup g;
    g.add(2, 12);
    g.add(0, 10);
    g.add(4, 14, false);
    g.add(1, 11);
    g.remember(2);
    g.init_remain_detects();
    EXPECT_EQ(g.get_fgs_state().fgs_remain_detects, (QList<int>{2, 0, 1}));
    EXPECT_TRUE(g.get_fgs_state().fgs_recycle_detectinfo.isEmpty());
}

TEST(FlowBoxGroup, AbsoluteIndexLookUpAndWorkingUnitIncludeDisabledUnits)
{
    TestGroup g;
    g.add(0, 10);
    TestUnit* off = g.add(1, 11, false);
    EXPECT_EQ(g.get_UiAbs_From_Rel(1), 11);
    EXPECT_EQ(g.get_UiAbs_From_Rel(0), 10);
    EXPECT_EQ(g.get_UiAbs_From_Rel(9), -1);

    off->work(true);
    EXPECT_EQ(g.get_fgs_state().fgs_working_unitindex_abs, 11);
    off->work(false);
    EXPECT_EQ(g.get_fgs_state().fgs_working_unitindex_abs, -1);
}

TEST(FlowBoxGroup, RunStateResetTakesTheFirstEnabledUnitAndEmptiesTheRemainLists)
{
    TestGroup g;
    g.add(3, 13);
    g.add(1, 11);
    g.init_remain_detects();
    g.init_Fgs_RunState();
    const FlowGroup_State s = g.get_fgs_state();
    EXPECT_EQ(s.fgs_runstate, 0);
    EXPECT_EQ(s.fgs_runnode, 1);
    EXPECT_EQ(s.fgs_zrp_show_unitindex_abs, 1);
    EXPECT_TRUE(s.fgs_remain_detects.isEmpty());
    EXPECT_TRUE(s.fgs_remain_trains.isEmpty());

    WarningCapture capture;
    TestGroup empty;
    EXPECT_FALSE(empty.onStart(FlowUnit_Passport()));
    EXPECT_EQ(empty.get_next_unitnode(-1), -1);
    empty.init_Fgs_RunState();
    EXPECT_EQ(empty.get_fgs_state().fgs_runnode, -1);
    EXPECT_EQ(empty.get_fgs_state().fgs_zrp_show_unitindex_abs, -1);
    EXPECT_TRUE(capture.warnings().isEmpty());
}

TEST(FlowBoxGroup, AppendingHandsTheInterfaceOnAndWiresTheUnit)
{
    testsupport::TestProductInterface product;
    TestGroup g;
    g.inst_iface.device_id = QStringLiteral("SELF");
    g.inst_iface.language = QStringLiteral("en-US");
    g.inst_iface.product_iface = &product;
    CamDevices_Interface cams;
    cams.resetCameraBaseInfos({CameraBaseInfo(QStringLiteral("A"), 1)});
    g.inst_iface.cam_devices.setValue(cams);

    auto* orphan = new TestUnit(nullptr, 0, 0);
    g.append_FlowUnit(orphan);
    EXPECT_EQ(orphan->parent(), &g);
    EXPECT_EQ(orphan->get_inst_iface().device_id, QStringLiteral("SELF"));
    EXPECT_EQ(orphan->get_inst_iface().language, QStringLiteral("en-US"));
    EXPECT_EQ(orphan->get_inst_iface().product_iface.data(), &product);
    EXPECT_EQ(orphan->get_inst_iface().getCamDevices().getAllCamsIDs(), (QStringList{"A"}));
    EXPECT_TRUE(g.onStart(FlowUnit_Passport()));

    FlowWork_Condition c;
    c.cond_type = CondType_PreResult;
    orphan->finish(FlowUnit_Passport(QStringLiteral("F-1"), c));
    ASSERT_EQ(g.finished.size(), 1);  // direct: handled before finish() returns
    EXPECT_EQ(g.finished.first().uuid, QStringLiteral("F-1"));
}

TEST(FlowBoxGroup, AGroupStartsItselfLaterByNameWithAPassport)
{
    TestGroup g;
    FlowWork_Condition c;
    c.cond_type = CondType_PreResult;
    c.cond_url = QStringLiteral("/dide/action/pre_result");
    const FlowUnit_Passport p(QStringLiteral("chain-1"), c);
    ASSERT_TRUE(QMetaObject::invokeMethod(&g, "slot_OnStart", Qt::QueuedConnection, Q_ARG(FlowUnit_Passport, p)));
    EXPECT_TRUE(g.started.isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(g.started.size(), 1);
    EXPECT_EQ(g.started.first().uuid, QStringLiteral("chain-1"));
    EXPECT_EQ(g.started.first().condition.cond_url, QStringLiteral("/dide/action/pre_result"));
}

TEST(FlowBoxGroup, ClearingEmptiesTheListAtOnceAndDeletesTheUnitsLater)
{
    TestGroup g;
    QPointer<TestUnit> a = g.add(0, 0);
    QPointer<TestUnit> b = g.add(1, 1);
    g.init_Fgs_RunState();
    const FlowGroup_State before = g.get_fgs_state();

    g.clear_frames();
    EXPECT_TRUE(g.get_unit_list().isEmpty());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->clears, 1);
    EXPECT_EQ(b->clears, 1);
    EXPECT_EQ(g.get_fgs_state(), before);

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(a.isNull());
    EXPECT_TRUE(b.isNull());
}

}  // namespace
