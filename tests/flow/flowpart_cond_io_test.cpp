// The IO condition: which passports it accepts (pure IO trigger on one of its
// trigger inputs, input levels, pre-conditions, run states), what it does
// when started, its description and its JSON.
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_io.h"
#include "flow/flowunit_standard_detect.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using flowtest::out;

namespace {

IO_IndexLevel in(int index, int level)
{
    return out(index, level);
}

FlowUnit_Passport ioPassport(const QList<IO_IndexLevel>& fired, int inputBits = 0, int procRunstate = 0,
                             int type = CondType_IOTrig)
{
    FlowUnit_Passport p = flowtest::passportOf(type, QStringLiteral("IO-1"));
    p.condition.cond_url = QStringLiteral("/dide/action/io_catch");
    p.condition.cond_trig_levels = fired;
    p.condition.cond_input_bits = inputBits;
    FlowProc_State ps;
    ps.proc_runstate = procRunstate;
    p.set_product_state(ps);
    return p;
}

struct AcceptCase {
    const char* name;
    QList<IO_IndexLevel> triggers;
    QList<IO_IndexLevel> inputState;
    QList<ERunState> runstates;
    bool allowedInNGStop;
    int type;
    QList<IO_IndexLevel> fired;
    int inputBits;
    int procRunstate;
    bool accepted;
};

TEST(FlowPartCondIo, AcceptsPureIoTriggersOnItsInputs)
{
    const QList<IO_IndexLevel> i3h = {in(3, 1)};
    const AcceptCase cases[] = {
        {"trigger matches", i3h, {}, {}, false, 1, {in(3, 1)}, 0, 0, true},
        {"other level", {in(3, 0)}, {}, {}, false, 1, {in(3, 1)}, 0, 0, false},
        {"other input", {in(4, 1)}, {}, {}, false, 1, {in(3, 1)}, 0, 0, false},
        {"any trigger of the list", {in(3, 1), in(5, 0)}, {}, {}, false, 1, {in(1, 1), in(5, 0)}, 0, 0, true},
        {"IO with previous result", i3h, {}, {}, false, 5, {in(3, 1)}, 0, 0, false},
        {"manual snapshot", i3h, {}, {}, false, 2, {in(3, 1)}, 0, 0, false},
        {"no trigger inputs", {}, {}, {}, false, 1, {in(3, 1)}, 0, 0, false},
        {"input level low", i3h, {in(0, 1)}, {}, false, 1, {in(3, 1)}, 0b000, 0, false},
        {"input level high", i3h, {in(0, 1)}, {}, false, 1, {in(3, 1)}, 0b001, 0, true},
        {"two levels, one off", i3h, {in(0, 1), in(2, 0)}, {}, false, 1, {in(3, 1)}, 0b101, 0, false},
        {"two levels held", i3h, {in(0, 1), in(2, 0)}, {}, false, 1, {in(3, 1)}, 0b001, 0, true},
        {"NG stop refused by default", i3h, {}, {}, false, 1, {in(3, 1)}, 0, 2, false},
        {"NG stop listed and allowed", i3h, {}, {2}, true, 1, {in(3, 1)}, 0, 2, true},
        {"NG stop listed but not allowed", i3h, {}, {2}, false, 1, {in(3, 1)}, 0, 2, false},
        {"run state not listed", i3h, {}, {2}, true, 1, {in(3, 1)}, 0, 0, false},
        {"sampling listed", i3h, {}, {0, 1}, false, 1, {in(3, 1)}, 0, 1, true},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Cond_IO cond(nullptr);
        cond.set_trigger_list(c.triggers);
        cond.set_condwith_ioinput_state(c.inputState);
        cond.set_condwith_runstates(c.runstates);
        cond.set_cond_flag(3, c.allowedInNGStop);
        EXPECT_EQ(cond.chkCondSet(ioPassport(c.fired, c.inputBits, c.procRunstate, c.type)), c.accepted);
    }
}

TEST(FlowPartCondIo, ConstructedAsAnIoTrigger)
{
    FlowPart_Cond_IO cond(nullptr);
    EXPECT_EQ(cond.get_part_type(), QStringLiteral("FlowPart_Cond_IO"));
    EXPECT_EQ(cond.get_part_cond_type(), CondType_IOTrig);
    EXPECT_FALSE(cond.get_cond_flag(0));
    EXPECT_TRUE(cond.get_cond_flag(1));
    EXPECT_FALSE(cond.get_cond_flag(2));
    EXPECT_FALSE(cond.get_cond_flag(3));
}

TEST(FlowPartCondIo, PreConditionsNeedTheUnitsHistory)
{
    flowtest::RecordingFrameIO frame;
    FlowUnit_Standard_Detect unit(nullptr);
    unit.set_inst_iface(flowtest::makeIface(&frame));
    FlowPart_Cond_IO* first = unit.create_0_Cond_TrigIO(0, ElectricLevel_High);
    FlowPart_Cond_IO* second = unit.create_0_Cond_TrigIO(1, ElectricLevel_High);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    second->set_condwith_PreConditions(first->get_part_uuid());
    second->set_condwith_PreConditions(first->get_part_uuid());
    EXPECT_EQ(second->get_condwith_preconditions().size(), 1);

    const FlowUnit_Passport secondTrigger = ioPassport({in(1, 1)});
    EXPECT_FALSE(second->chkCondSet(secondTrigger));
    // Once the first condition has accepted a passport it stands in the history.
    EXPECT_TRUE(unit.chkPassport(ioPassport({in(0, 1)})).hasValue());
    ASSERT_TRUE(unit.get_historystorage().contains(first->get_part_uuid()));
    EXPECT_TRUE(second->chkCondSet(secondTrigger));

    // Without a standard detect unit there is no history and nothing to wait for.
    FlowPart_Cond_IO loose(nullptr);
    loose.set_trigger_list({in(1, 1)});
    loose.set_condwith_PreConditions(QStringLiteral("never-seen"));
    EXPECT_TRUE(loose.chkCondSet(secondTrigger));
}

TEST(FlowPartCondIo, InputStateReachesTheUnitsManualTrigger)
{
    FlowUnit_Standard_Detect unit(nullptr);
    FlowPart_Cond_IO* cond = unit.create_0_Cond_TrigIO(0, ElectricLevel_High);
    ASSERT_NE(cond, nullptr);
    const QList<FlowPart_Condition*> manuals = unit.get_FlowPart_Cond_FromClassType(CondType_ManualTrig);
    ASSERT_EQ(manuals.size(), 1);
    auto* manual = qobject_cast<FlowPart_Cond_ManualTrig*>(manuals.first());
    ASSERT_NE(manual, nullptr);

    cond->set_condwith_ioinput_state({in(2, 1), in(5, 0)});
    EXPECT_EQ(manual->get_condwith_ioinput_state(), (QList<IO_IndexLevel>{in(2, 1), in(5, 0)}));
    cond->set_condwith_ioinput_state({});  // an empty list changes nothing
    EXPECT_EQ(cond->get_condwith_ioinput_state(), (QList<IO_IndexLevel>{in(2, 1), in(5, 0)}));
    EXPECT_EQ(manual->get_condwith_ioinput_state(), (QList<IO_IndexLevel>{in(2, 1), in(5, 0)}));
}

struct CondIoStartFixture : ::testing::Test {
    flowtest::RecordingFrameIO frame;
    FlowPart_Cond_IO cond{nullptr};

    void SetUp() override
    {
        cond.set_inst_iface(flowtest::makeIface(&frame));
        cond.set_trigger_list({in(3, 1)});
    }
};

TEST_F(CondIoStartFixture, EnabledStartFiresActionsAndProducesThePassport)
{
    cond.add_action_iooutput({1}, IOState_Rel_Active, 0, 0);
    cond.add_action_iooutput({2}, IOState_Rel_Active, 60000, 0);  // waits its delay
    FlowUnit_Passport p = ioPassport({in(3, 1)});
    FlowGroup_State gs;
    gs.fgs_runnode = 4;
    p.set_group_state(gs);
    p.receipt.rcpt_result = FlowResult_OK;

    cond.onStart(p);

    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(1, 1)}));
    EXPECT_TRUE(cond.get_list_action_iooutput()[1]->isDelayRunning());
    const QList<FlowUnit_Passport> produced = cond.get_out_passports();
    ASSERT_EQ(produced.size(), 1);
    EXPECT_EQ(produced[0].uuid, p.uuid);
    EXPECT_EQ(produced[0].condition.cond_type, CondType_IOTrig);
    EXPECT_EQ(produced[0].condition.cond_trig_levels, p.condition.cond_trig_levels);
    EXPECT_FALSE(produced[0].condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_TRUE(produced[0].condition.cond_extra_flag1);
    EXPECT_FALSE(produced[0].condition.cond_extra_flag2);
    EXPECT_EQ(produced[0].get_group_state().fgs_runnode, 4);
    EXPECT_EQ(produced[0].receipt.rcpt_result, FlowResult_None);

    cond.onStart(p);  // a second start replaces the passport
    EXPECT_EQ(cond.get_out_passports().size(), 1);
}

TEST_F(CondIoStartFixture, DisabledStartSetsNothingAndProducesNothing)
{
    cond.add_action_iooutput({1}, IOState_Rel_Active, 0, 0);
    cond.set_enable(false);
    cond.onStart(ioPassport({in(3, 1)}));
    EXPECT_TRUE(frame.sent.isEmpty());
    EXPECT_TRUE(cond.get_out_passports().isEmpty());
}

TEST_F(CondIoStartFixture, Describes)
{
    cond.set_trigger_list({in(3, 1), in(4, 0)});
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("IO触发: (输入-4 -> 闭合)或(输入-5 -> 断开)时。"));

    cond.set_condwith_ioinput_state({in(0, 1), in(2, 0)});
    cond.add_action_iooutput({1}, IOState_Rel_Active, 500, 2000);
    cond.add_action_iooutput({6}, IOState_Rel_Rest, 0, 0);
    EXPECT_EQ(cond.get_user_describe(),
              QStringLiteral("IO触发: (输入-4 -> 闭合)或(输入-5 -> 断开)且 (输入-1=高电平) 且 (输入-3=) 时。"
                             "延时0.5秒，（输出-2 -> 闭合），持续2.0秒。（输出-7 -> 断开）。"));

    cond.set_user_describe(QStringLiteral("mine"));
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("mine"));
}

TEST_F(CondIoStartFixture, JsonWritesInputWithButReadsOnlyInput)
{
    cond.set_trigger_list({in(3, 1), in(4, 0)});
    cond.set_condwith_ioinput_state({in(0, 1)});
    cond.add_action_iooutput({1}, IOState_Rel_Active, 0, 100);
    const QJsonObject o = cond.Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_Cond_IO"));
    EXPECT_EQ(o.value("name").toString(), cond.get_user_describe());
    EXPECT_EQ(o.value("input").toArray(), (QJsonArray{QJsonArray{3, 1}, QJsonArray{4, 0}}));
    EXPECT_EQ(o.value("input_with").toArray(), (QJsonArray{QJsonArray{0, 1}}));
    EXPECT_EQ(o.value("output").toArray().size(), 1);
    EXPECT_EQ(o.value("cond_flags").toArray(), (QJsonArray{false, true, false, false}));

    FlowPart_Cond_IO loaded(nullptr);
    loaded.Structure_FromJson(o);
    EXPECT_EQ(loaded.get_trigger_list(), cond.get_trigger_list());
    EXPECT_TRUE(loaded.get_condwith_ioinput_state().isEmpty());
    EXPECT_EQ(loaded.get_list_action_iooutput().size(), 1);
    EXPECT_EQ(loaded.get_user_describe(), o.value("name").toString());

    FlowPart_Cond_IO bare(nullptr);
    EXPECT_FALSE(bare.Serialize_2_Json().contains("input_with"));
    EXPECT_EQ(bare.Serialize_2_Json().value("input").toArray(), QJsonArray());
}

TEST(FlowPartCondIo, JsonInputElementsMustBePairs)
{
    FlowPart_Cond_IO cond(nullptr);
    cond.Structure_FromJson(QJsonObject{
        {"input", QJsonArray{QJsonArray{2}, QJsonArray{2, 1, 0}, QJsonArray{6, 1}, "x", QJsonArray{"a", 1}}}});
    EXPECT_EQ(cond.get_trigger_list(), (QList<IO_IndexLevel>{in(6, 1), in(0, 1)}));

    // The list is replaced, so an absent "input" empties it.
    cond.Structure_FromJson(QJsonObject{});
    EXPECT_TRUE(cond.get_trigger_list().isEmpty());
}

TEST(FlowPartCondIo, ListSubset)
{
    struct Case {
        QStringList a;
        QStringList b;
        bool subset;
    } cases[] = {
        {{}, {}, true},
        {{}, {"x"}, true},
        {{"x"}, {}, false},
        {{"x", "x"}, {"x"}, true},
        {{"x", "y"}, {"y", "z", "x"}, true},
        {{"X"}, {"x"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.a.join(',').toStdString());
        EXPECT_EQ(qlist_subset<QString>(c.a, c.b), c.subset);
    }
}

}  // namespace
