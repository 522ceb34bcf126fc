// The no-check, re-detect and add-template conditions: each accepts only its
// own operator action aimed at its unit while the group is held in the NG
// stop, and never keeps IO actions.
#include "flow/flowpart_cond_addtemp.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_cond_nocheck.h"
#include "flow/flowpart_cond_redetect.h"
#include "flow/flowpart_io.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

struct Kind {
    const char* partType;
    int condType;
    QString describe;
    QString url;
    std::function<FlowPart_Condition*()> make;
};

QList<Kind> kinds()
{
    return {
        {"FlowPart_Cond_Nocheck", CondType_NoCheck, QStringLiteral("不检测此模"),
         QStringLiteral("/dide/action/noactionmold"), [] { return new FlowPart_Cond_Nocheck(nullptr); }},
        {"FlowPart_Cond_ReDetect", CondType_ReDetect, QStringLiteral("重新检测"),
         QStringLiteral("/dide/action/redetect"), [] { return new FlowPart_Cond_ReDetect(nullptr); }},
        {"FlowPart_Cond_AddTemp", CondType_AddTemplate, QStringLiteral("添加为模板"),
         QStringLiteral("/dide/action/addtemplate"), [] { return new FlowPart_Cond_AddTemp(nullptr); }},
    };
}

// An operator action as the HTTP handler makes it.
FlowUnit_Passport action(int type, const QString& url, int abs, int groupRunstate, int rel = -1)
{
    FlowUnit_Passport p = flowtest::passportOf(type, QStringLiteral("ACT-4"));
    p.condition.cond_url = url;
    p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    p.condition.cond_detect_index_abs = abs;
    p.condition.cond_detect_index = rel;
    FlowGroup_State gs;
    gs.fgs_runstate = groupRunstate;
    p.set_group_state(gs);
    FlowProc_State ps;
    ps.proc_runstate = groupRunstate;
    p.set_product_state(ps);
    return p;
}

TEST(FlowPartCondOperatorAction, Constructed)
{
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.partType);
        std::unique_ptr<FlowPart_Condition> c(k.make());
        EXPECT_EQ(c->get_part_type(), QLatin1String(k.partType));
        EXPECT_EQ(c->get_part_cond_type(), k.condType);
        EXPECT_EQ(c->get_user_describe(), k.describe);
        for (int i = 0; i < 4; ++i)
            EXPECT_TRUE(c->get_cond_flag(i)) << i;
    }
}

TEST(FlowPartCondOperatorAction, AcceptsItsOwnActionAimedAtItsStoppedUnit)
{
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.partType);
        std::unique_ptr<FlowPart_Condition> c(k.make());
        c->set_cond_sortindex(1, 4);
        struct Case {
            const char* name;
            FlowUnit_Passport passport;
            bool accepted;
        } cases[] = {
            {"aimed while held", action(k.condType, k.url, 4, 2), true},
            {"relative index not looked at", action(k.condType, k.url, 4, 2, 9), true},
            {"group detecting", action(k.condType, k.url, 4, 0), false},
            {"group sampling", action(k.condType, k.url, 4, 1), false},
            {"another unit", action(k.condType, k.url, 3, 2, 1), false},
            {"no aim", action(k.condType, k.url, -1, 2, 1), false},
            {"two actions at once", action(CondType_NoCheck | CondType_ReDetect, k.url, 4, 2), false},
        };
        for (const Case& c2 : cases) {
            SCOPED_TRACE(c2.name);
            EXPECT_EQ(c->chkCondSet(c2.passport), c2.accepted);
        }
        for (const Kind& other : kinds()) {
            if (other.condType != k.condType) {
                EXPECT_FALSE(c->chkCondSet(action(other.condType, other.url, 4, 2))) << other.partType;
            }
        }
    }
}

TEST(FlowPartCondOperatorAction, NeverKeepsIoActions)
{
    flowtest::RecordingFrameIO frame;
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.partType);
        std::unique_ptr<FlowPart_Condition> c(k.make());
        c->set_inst_iface(flowtest::makeIface(&frame));
        const QJsonObject io{{"type", "FlowPart_IO"}, {"o_index", 1}, {"o_level_abs", 1}};
        c->Structure_FromJson(QJsonObject{{"output", QJsonArray{io}}});
        ASSERT_EQ(c->get_list_action_iooutput().size(), 1);
        QPointer<FlowPart_IO> held = c->get_list_action_iooutput().first();

        c->add_action_iooutput({0, 2}, IOState_Rel_Active, 0, 100);
        EXPECT_TRUE(c->get_list_action_iooutput().isEmpty());
        flowtest::runDeferredDeletes();
        EXPECT_TRUE(held.isNull());

        // Copying from a condition that has actions copies none.
        FlowPart_Cond_ManualTrig source(nullptr);
        source.set_inst_iface(flowtest::makeIface(&frame));
        source.add_action_iooutput({3}, IOState_Rel_Active, 0, 0);
        c->Structure_FromJson(QJsonObject{{"output", QJsonArray{io}}});
        c->copy_list_action_iooutput_fromothers(&source);
        EXPECT_TRUE(c->get_list_action_iooutput().isEmpty());
        EXPECT_EQ(source.get_list_action_iooutput().size(), 1);
    }
}

TEST(FlowPartCondOperatorAction, StartHandsThePassportOnAndSetsNoOutput)
{
    flowtest::RecordingFrameIO frame;
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.partType);
        frame.sent.clear();
        std::unique_ptr<FlowPart_Condition> c(k.make());
        c->set_inst_iface(flowtest::makeIface(&frame));
        c->set_cond_sortindex(1, 4);
        const FlowUnit_Passport p = action(k.condType, k.url, 4, 2);
        c->onStart(p);
        EXPECT_TRUE(frame.sent.isEmpty());
        const QList<FlowUnit_Passport> out = c->get_out_passports();
        ASSERT_EQ(out.size(), 1);
        EXPECT_EQ(out[0].uuid, QStringLiteral("ACT-4"));
        EXPECT_EQ(out[0].condition.cond_type, k.condType);
        EXPECT_EQ(out[0].condition.cond_url, k.url);
        EXPECT_TRUE(out[0].condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
        EXPECT_EQ(out[0].get_group_state().fgs_runstate, FlowRunState_NGStop);
        EXPECT_EQ(out[0].get_product_state().proc_runstate, FlowRunState_NGStop);
    }
}

TEST(FlowPartCondOperatorAction, Json)
{
    for (const Kind& k : kinds()) {
        SCOPED_TRACE(k.partType);
        std::unique_ptr<FlowPart_Condition> c(k.make());
        const QJsonObject o = c->Serialize_2_Json();
        EXPECT_EQ(o.value("name").toString(), k.describe);
        EXPECT_EQ(o.value("type").toString(), QLatin1String(k.partType));
        EXPECT_EQ(o.value("cond_flags").toArray(), (QJsonArray{true, true, true, true}));
        EXPECT_FALSE(o.contains("output"));
    }
}

}  // namespace
