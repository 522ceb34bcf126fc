// The changed-operation IO condition: it accepts what an IO condition
// accepts, and turns the trigger into a no-check or re-detect passport while
// the group is held at its unit (or into a given start condition).
#include "flow/flowpart_cond_io_chgoper.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using flowtest::out;

namespace {

const QStringList kCameras = {QStringLiteral("CAM-A"), QStringLiteral("CAM-B")};

// The passport as the unit hands it over: its own detect index stamped in.
FlowUnit_Passport startPassport(int runstate, int runnode, int detectIndex = 1)
{
    FlowUnit_Passport p = flowtest::passportOf(CondType_IOTrig, QStringLiteral("TRIG-9"));
    p.condition.cond_trig_levels = {out(2, 1)};
    p.condition.cond_detect_index = detectIndex;
    p.condition.cond_detect_index_abs = 7;
    FlowGroup_State gs;
    gs.fgs_runstate = runstate;
    gs.fgs_runnode = runnode;
    gs.fgs_remain_detects = {1, 2};
    gs.fgs_zrp_describe = QStringLiteral("held");
    p.set_group_state(gs);
    FlowProc_State ps;
    ps.proc_runstate = runstate;
    p.set_product_state(ps);
    return p;
}

struct ChgOperFixture : ::testing::Test {
    flowtest::RecordingFrameIO frame;
    FlowPart_Cond_IO_ChgOper cond{nullptr};

    void SetUp() override
    {
        cond.set_inst_iface(flowtest::makeIface(&frame, nullptr, kCameras));
        cond.set_trigger_list({out(2, 1)});
    }
};

TEST_F(ChgOperFixture, ConstructedToDetectAtOnce)
{
    EXPECT_EQ(cond.get_part_type(), QStringLiteral("FlowPart_Cond_IO_ChgOper"));
    EXPECT_EQ(cond.get_part_cond_type(), CondType_IOTrig);
    EXPECT_EQ(cond.get_ChgIO_Operate(), CondType_None);
    EXPECT_TRUE(cond.get_cond_flag(0));
    EXPECT_TRUE(cond.get_cond_flag(1));
    EXPECT_FALSE(cond.get_cond_flag(2));
    EXPECT_FALSE(cond.get_cond_flag(3));
}

TEST_F(ChgOperFixture, AcceptsAsAnIoCondition)
{
    FlowUnit_Passport p = startPassport(0, 1);
    EXPECT_TRUE(cond.chkCondSet(p));
    p.condition.cond_trig_levels = {out(2, 0)};
    EXPECT_FALSE(cond.chkCondSet(p));

    // In the NG stop only when the fourth flag allows it, as the layouts set it.
    const FlowUnit_Passport held = startPassport(2, 1);
    EXPECT_FALSE(cond.chkCondSet(held));
    cond.set_cond_flag(3, true);
    cond.set_condwith_runstates({2});
    EXPECT_TRUE(cond.chkCondSet(held));
    EXPECT_FALSE(cond.chkCondSet(startPassport(0, 1)));
}

TEST_F(ChgOperFixture, OperationTypeProducesOnlyWhileHeldAtItsUnit)
{
    struct Case {
        const char* name;
        int operate;
        int runstate;
        int runnode;
        bool produced;
        QString url;
    } cases[] = {
        {"no check while held here", 8, 2, 1, true, "/dide/action/noactionmold"},
        {"re-detect while held here", 16, 2, 1, true, "/dide/action/redetect"},
        {"IO trigger while held here", 1, 2, 1, true, ""},
        {"sampling", 8, 1, 1, false, ""},
        {"detecting", 8, 0, 1, false, ""},
        {"held at another unit", 8, 2, 0, false, ""},
        {"no operation", 0, 2, 1, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cond.set_ChgIO_Operate(c.operate);
        const FlowUnit_Passport p = startPassport(c.runstate, c.runnode);
        cond.onStart(p);
        const QList<FlowUnit_Passport> out = cond.get_out_passports();
        ASSERT_EQ(out.size(), c.produced ? 1 : 0);
        if (!c.produced)
            continue;
        const FlowUnit_Passport& q = out.first();
        EXPECT_EQ(q.uuid, QStringLiteral("TRIG-9"));
        EXPECT_EQ(q.condition.cond_type, c.operate);
        EXPECT_EQ(q.condition.cond_url, c.url);
        EXPECT_EQ(q.condition.cond_action_deviceids, kCameras);
        EXPECT_TRUE(q.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
        EXPECT_TRUE(q.condition.cond_extra_flag1 && q.condition.cond_extra_flag2 && q.condition.cond_extra_flag3);
        EXPECT_TRUE(q.condition.cond_trig_levels.isEmpty());
        EXPECT_EQ(q.condition.cond_input_bits, 0);
        EXPECT_EQ(q.condition.cond_detect_index, 1);
        EXPECT_EQ(q.condition.cond_detect_index_abs, -1);
        EXPECT_EQ(q.condition.cond_resultctrl_preindex, -1);
        EXPECT_TRUE(q.condition.cond_resultctrl_result);
        EXPECT_EQ(q.get_group_state(), p.get_group_state());
        EXPECT_EQ(q.get_product_state().proc_runstate, FlowRunState_Detect);  // a new passport's
        EXPECT_EQ(q.get_unit_state().fus_redetect_interval, 100);
    }
}

TEST_F(ChgOperFixture, EachStartReplacesWhatTheLastOneProduced)
{
    cond.set_ChgIO_Operate(CondType_NoCheck);
    cond.onStart(startPassport(2, 1));
    cond.onStart(startPassport(2, 1));
    EXPECT_EQ(cond.get_out_passports().size(), 1);
    cond.onStart(startPassport(0, 1));
    EXPECT_TRUE(cond.get_out_passports().isEmpty());
}

TEST_F(ChgOperFixture, SpecialConditionIsHandedOnWhateverTheGroupState)
{
    FlowWork_Condition special;
    special.cond_type = CondType_IOTrig;
    special.cond_url = QStringLiteral("/dide/action/io_catch");
    special.cond_trig_levels = {out(6, 1)};
    special.cond_detect_index = 3;
    cond.set_ChgIO_Operate(CondType_NoCheck);
    cond.set_ChgIO_SpecOperate(special);
    cond.set_ChgIO_SpecOperate(special);
    EXPECT_EQ(cond.get_ChgIO_SpecOperate().size(), 1);

    const FlowUnit_Passport p = startPassport(0, 5);
    cond.onStart(p);
    const QList<FlowUnit_Passport> out = cond.get_out_passports();
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].uuid, QStringLiteral("TRIG-9"));
    EXPECT_EQ(out[0].condition.cond_url, special.cond_url);
    EXPECT_EQ(out[0].condition.cond_trig_levels, special.cond_trig_levels);
    EXPECT_EQ(out[0].condition.cond_detect_index, 3);
    EXPECT_EQ(out[0].get_group_state(), p.get_group_state());
}

TEST_F(ChgOperFixture, SetsNoOutputsAndIgnoresItsEnableFlag)
{
    cond.add_action_iooutput({4}, IOState_Rel_Active, 0, 0);
    cond.set_enable(false);
    cond.set_ChgIO_Operate(CondType_ReDetect);
    cond.onStart(startPassport(2, 1));
    EXPECT_TRUE(frame.sent.isEmpty());
    EXPECT_EQ(cond.get_out_passports().size(), 1);
}

TEST(FlowPartCondIoChgOper, WithoutCameraListTheCycleNamesNoCamera)
{
    FlowPart_Cond_IO_ChgOper cond(nullptr);
    cond.set_ChgIO_Operate(CondType_NoCheck);
    cond.onStart(startPassport(2, 1));
    ASSERT_EQ(cond.get_out_passports().size(), 1);
    EXPECT_TRUE(cond.get_out_passports()[0].condition.cond_action_deviceids.isEmpty());
}

TEST_F(ChgOperFixture, Json)
{
    struct Case {
        const char* name;
        int operate;
        bool special;
        QString act;  // empty: no key
        bool parambox;
        int loadedOperate;
    } cases[] = {
        {"no check", 8, false, "FU_NoCheck", false, 8},
        {"re-detect", 16, false, "FU_ReDetect", false, 16},
        {"none", 0, false, "", false, 0},
        {"IO type without special", 1, false, "", false, 0},
        {"special IO trigger", 8, true, "FU_IOTrig", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Cond_IO_ChgOper part(nullptr);
        part.set_trigger_list({out(2, 1)});
        part.set_condwith_ioinput_state({out(0, 1)});
        part.set_ChgIO_Operate(c.operate);
        if (c.special) {
            FlowWork_Condition special;
            special.cond_type = CondType_IOTrig;
            part.set_ChgIO_SpecOperate(special);
        }
        const QJsonObject o = part.Serialize_2_Json();
        EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_Cond_IO_ChgOper"));
        EXPECT_EQ(o.value("input").toArray(), (QJsonArray{QJsonArray{2, 1}}));
        EXPECT_FALSE(o.contains("input_with"));
        EXPECT_EQ(o.value("act_cond_type").toString(), c.act);
        EXPECT_EQ(o.contains("act_cond_type"), !c.act.isEmpty());
        EXPECT_EQ(o.contains("act_cond_parambox"), c.parambox);
        if (c.parambox) {
            EXPECT_EQ(o.value("act_cond_parambox").toObject().value("do_io_trigs").toArray(),
                      (QJsonArray{QJsonArray{2, 1}}));
        }

        FlowPart_Cond_IO_ChgOper loaded(nullptr);
        loaded.Structure_FromJson(o);
        EXPECT_EQ(loaded.get_ChgIO_Operate(), c.loadedOperate);
        EXPECT_TRUE(loaded.get_ChgIO_SpecOperate().isEmpty());
        EXPECT_EQ(loaded.get_trigger_list(), (QList<IO_IndexLevel>{out(2, 1)}));
    }
}

TEST(FlowPartCondIoChgOper, LoadedSpecialBehavesAsTheIoOperationType)
{
    FlowPart_Cond_IO_ChgOper loaded(nullptr);
    loaded.Structure_FromJson(QJsonObject{{"act_cond_type", "FU_IOTrig"}, {"input", QJsonArray{QJsonArray{2, 1}}}});
    loaded.onStart(startPassport(0, 1));
    EXPECT_TRUE(loaded.get_out_passports().isEmpty());
    loaded.onStart(startPassport(2, 1));
    ASSERT_EQ(loaded.get_out_passports().size(), 1);
    EXPECT_EQ(loaded.get_out_passports()[0].condition.cond_type, CondType_IOTrig);
    EXPECT_TRUE(loaded.get_out_passports()[0].condition.cond_url.isEmpty());
}

TEST(FlowPartCondIoChgOper, OperationNamesAreCaseSensitive)
{
    FlowPart_Cond_IO_ChgOper part(nullptr);
    part.set_ChgIO_Operate(CondType_ReDetect);
    part.Structure_FromJson(QJsonObject{{"act_cond_type", "fu_nocheck"}});
    EXPECT_EQ(part.get_ChgIO_Operate(), CondType_ReDetect);
    part.Structure_FromJson(QJsonObject{{"act_cond_type", 8}});
    EXPECT_EQ(part.get_ChgIO_Operate(), CondType_ReDetect);
}

}  // namespace
