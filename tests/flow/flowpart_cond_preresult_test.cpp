// The previous-result condition chains the units of a group: it accepts the
// previous-result passport of the detect index and result it waits for,
// never the result of its own unit.
#include "flow/flowpart_cond_preresult.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using flowtest::out;

namespace {

FlowUnit_Passport preResult(int preindex, bool result, int type = CondType_PreResult, int procRunstate = 0)
{
    FlowUnit_Passport p = flowtest::passportOf(type, QStringLiteral("CHAIN-1"));
    p.condition.cond_url = QStringLiteral("/dide/action/pre_result");
    p.condition.cond_resultctrl_preindex = preindex;
    p.condition.cond_resultctrl_result = result;
    FlowProc_State ps;
    ps.proc_runstate = procRunstate;
    p.set_product_state(ps);
    return p;
}

TEST(FlowPartCondPreResult, AcceptsTheResultItWaitsFor)
{
    struct Case {
        const char* name;
        int waitIndex;
        bool waitResult;
        bool allowedInNGStop;
        FlowUnit_Passport passport;
        bool accepted;
    } cases[] = {
        {"its predecessor OK", 1, true, false, preResult(1, true), true},
        {"result NG", 1, true, false, preResult(1, false), false},
        {"other predecessor", 1, true, false, preResult(0, true), false},
        {"with the IO flag", 1, true, false, preResult(1, true, 5), false},
        {"IO trigger", 1, true, false, preResult(1, true, 1), false},
        {"waits for NG", 1, false, false, preResult(1, false), true},
        {"own unit's result", 2, true, false, preResult(2, true), false},
        {"NG stop", 1, true, false, preResult(1, true, 4, 2), false},
        {"NG stop allowed", 1, true, true, preResult(1, true, 4, 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Cond_PreResult cond(nullptr);
        cond.set_cond_sortindex(2, 12);  // the unit with detect index 2
        cond.set_cond_resultctrl(c.waitIndex, c.waitResult);
        cond.set_cond_flag(3, c.allowedInNGStop);
        EXPECT_EQ(cond.chkCondSet(c.passport), c.accepted);
    }
}

TEST(FlowPartCondPreResult, ConstructedForPreviousResults)
{
    FlowPart_Cond_PreResult cond(nullptr);
    EXPECT_EQ(cond.get_part_type(), QStringLiteral("FlowPart_Cond_PreResult"));
    EXPECT_EQ(cond.get_part_cond_type(), CondType_PreResult);
    EXPECT_EQ(cond.get_cond_resultctrl_preindex(), -1);
    EXPECT_TRUE(cond.get_cond_resultctrl_result());
    EXPECT_FALSE(cond.get_cond_flag(0));
    EXPECT_TRUE(cond.get_cond_flag(1));
    EXPECT_FALSE(cond.get_cond_flag(2));
    EXPECT_FALSE(cond.get_cond_flag(3));
    // The IO tests do not apply: no trigger inputs are needed.
    cond.set_cond_resultctrl(0, true);
    EXPECT_TRUE(cond.chkCondSet(preResult(0, true)));
}

TEST(FlowPartCondPreResult, StartFiresActionsAndHandsThePassportOn)
{
    flowtest::RecordingFrameIO frame;
    FlowPart_Cond_PreResult cond(nullptr);
    cond.set_inst_iface(flowtest::makeIface(&frame));
    cond.add_action_iooutput({5}, IOState_Rel_Active, 0, 0);
    cond.onStart(preResult(0, true));
    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(5, 1)}));
    ASSERT_EQ(cond.get_out_passports().size(), 1);
    EXPECT_EQ(cond.get_out_passports()[0].uuid, QStringLiteral("CHAIN-1"));

    frame.sent.clear();
    cond.set_enable(false);
    cond.onStart(preResult(0, true));
    EXPECT_TRUE(frame.sent.isEmpty());
}

TEST(FlowPartCondPreResult, Describes)
{
    FlowPart_Cond_PreResult cond(nullptr);
    cond.set_cond_resultctrl(0, false);
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("前一个检测（index = 0）检测结果 = NG 后"));
    cond.set_cond_resultctrl(3, true);
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("前一个检测（index = 3）检测结果 = OK 后"));
    cond.set_user_describe(QStringLiteral("mine"));
    EXPECT_EQ(cond.get_user_describe(), QStringLiteral("mine"));
}

TEST(FlowPartCondPreResult, Json)
{
    FlowPart_Cond_PreResult cond(nullptr);
    cond.set_trigger_list({out(1, 1)});
    cond.set_cond_resultctrl(3, true);
    const QJsonObject o = cond.Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_Cond_PreResult"));
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("前一个检测（index = 3）检测结果 = OK 后"));
    EXPECT_EQ(o.value("cond_resultctrl_preindex").toInt(-9), 3);
    EXPECT_EQ(o.value("cond_resultctrl_result"), QJsonValue(true));
    EXPECT_FALSE(o.contains("input"));
    EXPECT_FALSE(o.contains("input_with"));

    struct Case {
        const char* name;
        QJsonObject obj;
        int preindex;
        bool result;
    } cases[] = {
        {"round trip", o, 3, true},
        {"result as a number", QJsonObject{{"cond_resultctrl_preindex", 1}, {"cond_resultctrl_result", 1}}, 1, true},
        {"result zero", QJsonObject{{"cond_resultctrl_preindex", 1}, {"cond_resultctrl_result", 0}}, 1, false},
        {"result as text", QJsonObject{{"cond_resultctrl_preindex", 1}, {"cond_resultctrl_result", "true"}}, 1, false},
        {"keys missing", QJsonObject{}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Cond_PreResult loaded(nullptr);
        loaded.Structure_FromJson(c.obj);
        EXPECT_EQ(loaded.get_cond_resultctrl_preindex(), c.preindex);
        EXPECT_EQ(loaded.get_cond_resultctrl_result(), c.result);
        EXPECT_TRUE(loaded.get_trigger_list().isEmpty());
    }
}

}  // namespace
