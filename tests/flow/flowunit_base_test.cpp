// The unit base: what a group relies on of every unit before any part runs.
#include "flow/flowunit_base.h"

#include <gtest/gtest.h>

namespace {

// The smallest concrete unit.
class PlainUnit : public FlowUnit_Base {
public:
    using FlowUnit_Base::FlowUnit_Base;
    CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport) override { return {}; }
    void clear_frames() override {}
    void clear_historystorage() override {}
    void slot_OnStart_UnitWork(FlowUnit_Passport passport) override { work_passport = passport; }
};

TEST(FlowUnitBase, ANewUnitWaitsWithoutResult)
{
    PlainUnit u;
    EXPECT_FALSE(u.get_unit_uuid().isEmpty());
    EXPECT_NE(u.get_unit_uuid(), PlainUnit().get_unit_uuid());
    EXPECT_TRUE(u.get_enable());
    EXPECT_FALSE(u.get_isworking());
    EXPECT_EQ(u.get_detect_index(), -1);
    EXPECT_EQ(u.get_detect_index_abs(), -1);
    EXPECT_EQ(u.get_last_detect_type(), 0);
    EXPECT_EQ(u.get_inst_iface().language, QStringLiteral("zh-CN"));

    const FlowWork_Receipt r = u.get_UnitReceipt();
    EXPECT_EQ(r.rcpt_detect_index, -1);
    EXPECT_EQ(r.rcpt_runstate, 0);
    EXPECT_EQ(r.rcpt_workstate, 2);
    EXPECT_EQ(r.rcpt_result, -1);
    EXPECT_TRUE(r.rcpt_collects.isEmpty());
    EXPECT_FALSE(r.rcpt_ngstop);
    EXPECT_EQ(r.rcpt_remain_ms, 0);

    EXPECT_TRUE(u.get_FlowSerialize().isEmpty());
}

TEST(FlowUnitBase, AReportedReceiptReplacesTheWholeReceipt)
{
    PlainUnit u;
    FlowWork_Receipt r;
    r.rcpt_detect_index = 2;
    r.rcpt_workstate = 0;
    r.rcpt_result = 0;
    r.rcpt_ngstop = true;
    r.rcpt_remain_ms = 120;
    r.rcpt_collects.insert(QStringLiteral("A"), SCollect_Unit());
    u.slot_ModifyReceipt_OnWorking(r);
    const FlowWork_Receipt got = u.get_UnitReceipt();
    EXPECT_EQ(got.rcpt_detect_index, 2);
    EXPECT_EQ(got.rcpt_workstate, 0);
    EXPECT_EQ(got.rcpt_result, 0);
    EXPECT_TRUE(got.rcpt_ngstop);
    EXPECT_EQ(got.rcpt_remain_ms, 120);
    EXPECT_EQ(got.rcpt_collects.keys(), (QList<QString>{"A"}));
}

TEST(FlowUnitBase, TheBaseFinishEmitsThePassportUnchanged)
{
    PlainUnit u;
    FlowWork_Condition c;
    c.cond_type = CondType_ManualTrig;
    FlowUnit_Passport p(QStringLiteral("P-9"), c);
    p.receipt.rcpt_result = 1;
    u.slot_OnStart_UnitWork(p);

    int finished = 0;
    FlowUnit_Passport got;
    QObject::connect(&u, &FlowUnit_Base::sig_unit_workfinish, [&](FlowUnit_Passport q) {
        got = q;
        ++finished;
    });
    FlowWork_Receipt other;
    other.rcpt_result = 0;
    u.slot_OnFinish_UnitWork(other);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(got.uuid, QStringLiteral("P-9"));
    EXPECT_EQ(got.receipt.rcpt_result, 1);
}

}  // namespace
