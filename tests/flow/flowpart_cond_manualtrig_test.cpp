// The manual-trigger condition: which manual snapshots it takes (absolute
// aim, or relative aim with input levels), its IO actions (always without
// delay, started after the hand-over whatever the enable flag) and its text.
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_io.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

using flowtest::out;

namespace {

// A manual snapshot as the HTTP handler makes it: all four flags set.
FlowUnit_Passport manual(int abs, int rel, int inputBits = 0, int type = CondType_ManualTrig, int procRunstate = 0)
{
    FlowUnit_Passport p = flowtest::passportOf(type, QStringLiteral("SNAP-3"));
    p.condition.cond_url = QStringLiteral("/dide/action/manual_catch");
    p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    p.condition.cond_detect_index_abs = abs;
    p.condition.cond_detect_index = rel;
    p.condition.cond_input_bits = inputBits;
    FlowProc_State ps;
    ps.proc_runstate = procRunstate;
    p.set_product_state(ps);
    return p;
}

TEST(FlowPartCondManualTrig, ConstructedForManualSnapshots)
{
    FlowPart_Cond_ManualTrig cond(nullptr);
    EXPECT_EQ(cond.get_part_type(), QStringLiteral("FlowPart_Cond_ManualTrig"));
    EXPECT_EQ(cond.get_part_cond_type(), CondType_ManualTrig);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(cond.get_cond_flag(i)) << i;
}

TEST(FlowPartCondManualTrig, AcceptsWhatIsAimedAtItsUnit)
{
    struct Case {
        const char* name;
        QList<IO_IndexLevel> inputState;
        bool allowedInNGStop;
        FlowUnit_Passport passport;
        bool accepted;
    } cases[] = {
        {"absolute aim, levels not tested", {out(0, 1)}, true, manual(5, 0, 0), true},
        {"relative aim, no levels", {}, true, manual(-1, 2), true},
        {"relative aim at another index", {}, true, manual(-1, 3), false},
        {"absolute aim at another unit, relative matches", {}, true, manual(6, 2), true},
        {"relative aim, input low", {out(0, 1)}, true, manual(-1, 2, 0b0), false},
        {"relative aim, input high", {out(0, 1)}, true, manual(-1, 2, 0b1), true},
        {"relative aim, second level off", {out(0, 1), out(3, 0)}, true, manual(-1, 2, 0b1001), false},
        {"relative aim, both levels", {out(0, 1), out(3, 0)}, true, manual(-1, 2, 0b0001), true},
        {"manual with IO trigger", {}, true, manual(5, 2, 0, 3), false},
        {"IO trigger", {}, true, manual(5, 2, 0, 1), false},
        {"NG stop with the constructed flags", {}, true, manual(5, 2, 0, 2, 2), true},
        {"NG stop with the fourth flag cleared", {}, false, manual(5, 2, 0, 2, 2), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Cond_ManualTrig cond(nullptr);
        cond.set_cond_sortindex(2, 5);
        cond.set_condwith_ioinput_state(c.inputState);
        cond.set_cond_flag(3, c.allowedInNGStop);
        EXPECT_EQ(cond.chkCondSet(c.passport), c.accepted);
    }
}

struct ManualStartFixture : ::testing::Test {
    flowtest::RecordingFrameIO frame;
    FlowPart_Cond_ManualTrig cond{nullptr};

    void SetUp() override { cond.set_inst_iface(flowtest::makeIface(&frame)); }
};

TEST_F(ManualStartFixture, HandsThePassportOnThenSetsItsOutputsEvenWhenDisabled)
{
    cond.add_action_iooutput({1}, IOState_Rel_Active, 500, 0);
    cond.set_enable(false);
    const FlowUnit_Passport p = manual(5, 2);
    cond.onStart(p);

    ASSERT_EQ(cond.get_out_passports().size(), 1);
    const FlowUnit_Passport produced = cond.get_out_passports().first();
    EXPECT_EQ(produced.uuid, p.uuid);
    EXPECT_TRUE(produced.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(1, 1)}));
}

TEST_F(ManualStartFixture, ActionsAreAddedWithoutDelay)
{
    cond.add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
    cond.add_action_iooutput({1, 2}, IOState_Rel_Active, 500, 300);
    const QList<FlowPart_IO*> ios = cond.get_list_action_iooutput();
    ASSERT_EQ(ios.size(), 3);
    EXPECT_EQ(ios[1]->get_action_io(), (QList<IO_IndexLevel>{out(1, 1)}));
    EXPECT_EQ(ios[2]->get_action_io(), (QList<IO_IndexLevel>{out(2, 1)}));
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(ios[i]->get_delay_ms(), 0);
        EXPECT_EQ(ios[i]->get_pulse_ms(), 300);
        EXPECT_EQ(ios[i]->parent(), &cond);
    }
}

TEST_F(ManualStartFixture, CopiedActionsLoseTheirDelay)
{
    FlowPart_Cond_IO source(nullptr);
    source.set_inst_iface(flowtest::makeIface(&frame));
    source.add_action_iooutput({3}, IOState_Rel_Rest, 2000, 700);

    cond.add_action_iooutput({6}, IOState_Rel_Active, 0, 0);
    QPointer<FlowPart_IO> old = cond.get_list_action_iooutput().first();
    cond.copy_list_action_iooutput_fromothers(&source);

    const QList<FlowPart_IO*> ios = cond.get_list_action_iooutput();
    ASSERT_EQ(ios.size(), 1);
    EXPECT_EQ(ios[0]->get_action_io(), (QList<IO_IndexLevel>{out(3, 0)}));
    EXPECT_EQ(ios[0]->get_delay_ms(), 0);
    EXPECT_EQ(ios[0]->get_pulse_ms(), 700);
    EXPECT_NE(ios[0]->get_part_uuid(), source.get_list_action_iooutput()[0]->get_part_uuid());
    EXPECT_EQ(source.get_list_action_iooutput()[0]->get_delay_ms(), 2000);
    flowtest::runDeferredDeletes();
    EXPECT_TRUE(old.isNull());

    // Copying from itself keeps the actions.
    cond.copy_list_action_iooutput_fromothers(&cond);
    ASSERT_EQ(cond.get_list_action_iooutput().size(), 1);
    EXPECT_EQ(cond.get_list_action_iooutput()[0]->get_action_io(), (QList<IO_IndexLevel>{out(3, 0)}));
}

TEST(FlowPartCondManualTrig, Describes)
{
    FlowPart_Cond_ManualTrig cond(nullptr);
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("手动抓拍"));
    cond.set_condwith_ioinput_state({out(0, 1), out(3, 0)});
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("手动抓拍（点位 1 = 高电平）,（点位 4 = 低电平）,"));
    cond.set_user_describe(QStringLiteral("mine"));
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("mine"));
}

TEST(FlowPartCondManualTrig, JsonHoldsOnlyTheConditionKeys)
{
    FlowPart_Cond_ManualTrig cond(nullptr);
    cond.set_condwith_ioinput_state({out(0, 1)});
    const QJsonObject o = cond.Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_Cond_ManualTrig"));
    EXPECT_EQ(o.value("cond_flags").toArray(), (QJsonArray{true, true, true, true}));
    EXPECT_FALSE(o.contains("input_with"));
    EXPECT_FALSE(o.contains("input"));
    EXPECT_FALSE(o.contains("output"));
}

}  // namespace
