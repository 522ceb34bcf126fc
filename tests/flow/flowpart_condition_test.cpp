// The condition base: which passports it accepts, the passport it produces,
// its flags in JSON, and its list of IO output actions.
#include "flow/flowpart_condition.h"
#include "flow/flowpart_io.h"
#include "flowbasetestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

using namespace flowbase;

namespace {

// A condition of a chosen type; the base's behaviour otherwise.
class TypedCondition : public FlowPart_Condition {
public:
    explicit TypedCondition(Condition_Type type) : FlowPart_Condition(nullptr) { part_cond_type = type; }
};

FlowUnit_Passport offered(int type, int runstate)
{
    FlowUnit_Passport p = passportOf(type);
    FlowProc_State s;
    s.proc_runstate = runstate;
    p.set_product_state(s);
    return p;
}

TEST(FlowPartCondition, AcceptsItsOwnTypeExactlyAndOutsideTheNgStopUnlessAllowed)
{
    const struct {
        int condType, passportType, runstate;
        bool allowNg;
        bool accepted;
    } cases[] = {
        {1, 1, 0, false, true},  {1, 5, 0, false, false}, {1, 4, 0, false, false}, {4, 4, 1, false, true},
        {1, 1, 2, false, false}, {1, 1, 2, true, true},   {2, 1, 2, true, false},  {0, 0, 0, false, true},
    };
    for (const auto& c : cases) {
        TypedCondition cond(c.condType);
        cond.set_cond_flag(3, c.allowNg);
        EXPECT_EQ(cond.chkCondSet(offered(c.passportType, c.runstate)), c.accepted)
            << c.condType << "/" << c.passportType << "/" << c.runstate << "/" << c.allowNg;
    }
}

TEST(FlowPartCondition, AStartProducesOnePassportStampedWithTheFlags)
{
    TypedCondition cond(CondType_IOTrig);
    EXPECT_EQ(cond.get_part_type(), QStringLiteral("FlowPart_Condition"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(cond.get_cond_flag(i), i == 1 || i == 2) << i;

    cond.set_cond_flags(true, true, false, true);
    FlowUnit_Passport p = offered(CondType_IOTrig, 1);
    p.condition.cond_url = QStringLiteral("/dide/action/io_catch");
    p.condition.cond_trig_levels = {lv(3, 1)};
    p.receipt.rcpt_result = 1;
    FlowGroup_State g;
    g.fgs_runnode = 2;
    p.set_group_state(g);
    FlowUnit_State u;
    u.fus_redetect_times = 4;
    p.set_unit_state(u);

    cond.onStart(p);
    cond.onStart(p);
    const QList<FlowUnit_Passport> out = cond.get_out_passports();
    ASSERT_EQ(out.size(), 1);
    const FlowUnit_Passport& q = out.first();
    EXPECT_EQ(q.uuid, p.uuid);
    EXPECT_EQ(q.receipt.rcpt_result, -1);
    EXPECT_EQ(q.get_unit_state().fus_redetect_times, 0);
    EXPECT_EQ(q.get_group_state().fgs_runnode, 2);
    EXPECT_EQ(q.get_product_state().proc_runstate, 1);
    EXPECT_EQ(q.condition.cond_url, QStringLiteral("/dide/action/io_catch"));
    EXPECT_EQ(q.condition.cond_trig_levels, p.condition.cond_trig_levels);
    EXPECT_TRUE(q.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_TRUE(q.condition.cond_extra_flag1);
    EXPECT_FALSE(q.condition.cond_extra_flag2);
    EXPECT_TRUE(q.condition.cond_extra_flag3);

    cond.set_cond_flag(1, false);
    cond.onStart(p);
    EXPECT_TRUE(cond.get_out_passports().isEmpty());
}

TEST(FlowPartCondition, FlagsTravelInJsonOnlyWhenAllFourAreGiven)
{
    TypedCondition cond(CondType_IOTrig);
    const QJsonObject o = cond.Serialize_2_Json();
    EXPECT_EQ(o.value("cond_flags").toArray(), (QJsonArray{false, true, true, false}));
    EXPECT_FALSE(o.contains("output"));
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("IO触发"));

    TypedCondition three(CondType_IOTrig);
    three.Structure_FromJson(QJsonObject{{"cond_flags", QJsonArray{true, false, false}}});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(three.get_cond_flag(i), i == 1 || i == 2) << i;

    TypedCondition four(CondType_IOTrig);
    four.Structure_FromJson(QJsonObject{{"cond_flags", QJsonArray{true, 1, "x", true, false}}, {"name", "In"}});
    EXPECT_TRUE(four.get_cond_flag(0));
    EXPECT_FALSE(four.get_cond_flag(1));  // not a boolean
    EXPECT_FALSE(four.get_cond_flag(2));
    EXPECT_TRUE(four.get_cond_flag(3));
    EXPECT_EQ(four.get_user_describe(), QStringLiteral("In"));

    // The composed name read back becomes the stored description.
    TypedCondition back(CondType_NoCheck);
    back.Structure_FromJson(o);
    EXPECT_EQ(back.get_user_describe(), QStringLiteral("IO触发"));
}

TEST(FlowPartCondition, AddsOneIoActionPerOutputInOrderAndCopiesFromOthers)
{
    OutputRecorder frame;
    frame.setRestLevels({0, 0, 1});
    TypedCondition cond(CondType_IOTrig);
    cond.set_inst_iface(makeIface(&frame));
    cond.add_action_iooutput({0, 2}, IOState_Rel_Active, 500, 0);
    cond.add_action_iooutput({5}, IOState_Rel_Rest, -20, -3);

    const QList<FlowPart_IO*> actions = cond.get_list_action_iooutput();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions.at(0)->get_action_io(), (QList<IO_IndexLevel>{lv(0, 1)}));
    EXPECT_EQ(actions.at(1)->get_action_io(), (QList<IO_IndexLevel>{lv(2, 0)}));  // rest high: active is low
    EXPECT_EQ(actions.at(2)->get_action_io(), (QList<IO_IndexLevel>{lv(5, 0)}));
    EXPECT_EQ(actions.at(0)->get_delay_ms(), 500);
    EXPECT_EQ(actions.at(2)->get_delay_ms(), 0);  // negative times are clamped
    EXPECT_EQ(actions.at(2)->get_pulse_ms(), 0);
    EXPECT_EQ(actions.at(0)->parent(), &cond);
    EXPECT_EQ(actions.at(0)->get_inst_iface().frame_io.data(), &frame);

    const QJsonObject json = cond.Serialize_2_Json();
    EXPECT_EQ(json.value("output").toArray().size(), 3);

    TypedCondition copy(CondType_IOTrig);
    copy.set_inst_iface(makeIface(&frame));
    copy.add_action_iooutput({7}, IOState_Rel_Active, 0, 0);
    QPointer<FlowPart_IO> replaced = copy.get_list_action_iooutput().first();
    copy.copy_list_action_iooutput_fromothers(&cond);
    const QList<FlowPart_IO*> copied = copy.get_list_action_iooutput();
    ASSERT_EQ(copied.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(copied.at(i)->get_action_io(), actions.at(i)->get_action_io());
        EXPECT_EQ(copied.at(i)->get_delay_ms(), actions.at(i)->get_delay_ms());
        EXPECT_NE(copied.at(i)->get_part_uuid(), actions.at(i)->get_part_uuid());
    }
    EXPECT_EQ(cond.get_list_action_iooutput(), actions);
    runDeferredDeletes();
    EXPECT_TRUE(replaced.isNull());
}

TEST(FlowPartCondition, LoadingTheSameJsonTwiceAppendsTheActionsAgain)
{
    OutputRecorder frame;
    TypedCondition source(CondType_IOTrig);
    source.set_inst_iface(makeIface(&frame));
    source.add_action_iooutput({1}, IOState_Rel_Active, 100, 200);
    QJsonObject json = source.Serialize_2_Json();
    QJsonArray output = json.value("output").toArray();
    output.append(QJsonObject{{"type", "FlowPart_Detect"}});  // not an IO part: skipped
    json.insert("output", output);

    TypedCondition target(CondType_IOTrig);
    target.set_inst_iface(makeIface(&frame));
    target.Structure_FromJson(json);
    target.Structure_FromJson(json);
    const QList<FlowPart_IO*> actions = target.get_list_action_iooutput();
    ASSERT_EQ(actions.size(), 2);
    for (FlowPart_IO* io : actions) {
        EXPECT_EQ(io->get_action_io(), (QList<IO_IndexLevel>{lv(1, 1)}));
        EXPECT_EQ(io->get_delay_ms(), 100);
        EXPECT_EQ(io->get_pulse_ms(), 200);
        EXPECT_EQ(io->parent(), &target);
    }
}

TEST(FlowPartCondition, ClearingReleasesTheActionsLater)
{
    OutputRecorder frame;
    TypedCondition cond(CondType_IOTrig);
    cond.set_inst_iface(makeIface(&frame));
    cond.add_action_iooutput({1, 2}, IOState_Rel_Active, 0, 0);
    QPointer<FlowPart_IO> first = cond.get_list_action_iooutput().first();
    QPointer<FlowPart_IO> second = cond.get_list_action_iooutput().last();

    EXPECT_TRUE(cond.remove_action_iooutput(second));
    EXPECT_FALSE(cond.remove_action_iooutput(second));
    cond.clear_action_iooutput();
    EXPECT_TRUE(cond.get_list_action_iooutput().isEmpty());
    EXPECT_FALSE(first.isNull());
    runDeferredDeletes();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(second.isNull());
}

}  // namespace
