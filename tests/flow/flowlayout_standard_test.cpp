// The standard layout: the base flow for each start mode, then each option
// block on its own (one table per block), checked part by part against the
// layout's recipe; the preview and the live build.
#include "flow/flowframeworkbuilder.h"
#include "flow/flowlayout_standard.h"
#include "flowlayouttestbench.h"
#include "foundation/zrc_workinformation_manager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using namespace flowlayouttest;

namespace {

struct LayoutCase {
    const char* name;
    QJsonObject params;  // on top of the base parameters
    QStringList product;
    QStringList mould;
};

// Product detection on, semi-automatic off, T = 500 ms, C = 800 ms.
QJsonObject baseParams()
{
    return QJsonObject{{"s_action_productdetect", true},
                       {"s_semi_automatic", false},
                       {"i_thimble_pulse", 0.5},
                       {"i_closemold_pulse", 0.8}};
}

QJsonObject merged(QJsonObject a, const QJsonObject& b)
{
    for (auto it = b.begin(); it != b.end(); ++it)
        a.insert(it.key(), it.value());
    return a;
}

const QStringList kDoorP = {"io(1L)[2R]-det+ng", "chg8(1H)+ng"};
const QStringList kDoorM = {"io(1L)[2R]-det+ng", "chg16(1H)+ng"};
const QStringList kAfterP = {"stop", "ok[1R 2R]", "ng[1A 2A]"};
const QStringList kAfterM = {"stop", "ok[0R 2R]", "ng[0A 2A]"};
const QStringList kBaseP = QStringList{"io(0H)[0A 1A]"} + kDoorP + kAfterP;
const QStringList kBaseM = QStringList{"pre(0)"} + kDoorM + kAfterM;

void checkCases(const std::vector<LayoutCase>& cases)
{
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        ManagerBench bench;
        bench.services.params = merged(baseParams(), c.params);
        bench.manager->create_Frameworks(0, true);
        ASSERT_EQ(bench.groups().size(), 1);
        ASSERT_EQ(bench.groups().at(0)->get_unit_list().size(), 2);
        EXPECT_EQ(summary(bench.unit(0, 0)), c.product);
        EXPECT_EQ(summary(bench.unit(0, 1)), c.mould);
    }
}

// The framework JSON without the parts' uuids, which differ between builds.
QJsonValue withoutUuids(const QJsonValue& v)
{
    if (v.isArray()) {
        QJsonArray out;
        for (const QJsonValue& e : v.toArray())
            out.append(withoutUuids(e));
        return out;
    }
    if (!v.isObject())
        return v;
    QJsonObject out;
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() != "obj")
            out.insert(it.key(), withoutUuids(it.value()));
    }
    return out;
}

}  // namespace

TEST(FlowLayoutStandard, BaseFlowFollowsTheStartMode)
{
    checkCases({
        {"product detection, automatic", QJsonObject{}, kBaseP, kBaseM},
        {"product detection, semi-automatic", QJsonObject{{"s_semi_automatic", true}}, kBaseP,
         QStringList{"io(2H)[0A]"} + kDoorM + kAfterM},
        {"mould only, semi-automatic", QJsonObject{{"s_action_productdetect", false}, {"s_semi_automatic", true}},
         kDoorP + kAfterP, QStringList{"io(0H)[0A]-det", "io(2H)+after"} + kDoorM + kAfterM},
        {"mould only, automatic", QJsonObject{{"s_action_productdetect", false}}, kDoorP + kAfterP,
         QStringList{"io(0H)[0A]"} + kDoorM + kAfterM},
    });
}

TEST(FlowLayoutStandard, UnitsNamesEnableDelaysAndRedetection)
{
    struct Row {
        bool productDetect;
        bool productEnabled;
    };
    for (const Row& row : {Row{true, true}, Row{false, false}}) {
        SCOPED_TRACE(row.productDetect);
        ManagerBench bench;
        bench.services.params = merged(baseParams(), QJsonObject{{"s_action_productdetect", row.productDetect},
                                                                 {"s_product_delaytime", 0.3},
                                                                 {"s_moulding_delaytime", 2.3},
                                                                 {"s_moulding_retimes", 4}});
        bench.manager->create_Frameworks(0, true);
        FlowUnit_Standard_Detect* P = bench.unit(0, 0);
        FlowUnit_Standard_Detect* M = bench.unit(0, 1);
        EXPECT_EQ(P->get_user_describe(), QString_TL("成品", "Proc"));
        EXPECT_EQ(M->get_user_describe(), QString_TL("模腔", "Mold"));
        EXPECT_EQ(P->get_enable(), row.productEnabled);
        EXPECT_TRUE(M->get_enable());
        EXPECT_EQ(P->get_detect_index_abs(), 0);
        EXPECT_EQ(M->get_detect_index_abs(), 1);
        EXPECT_EQ(P->get_part_detect()->get_delay_ms(), 300);
        EXPECT_EQ(M->get_part_detect()->get_delay_ms(), 2300);  // 2.3 s is 23 tenths, not 22
        EXPECT_EQ(M->get_part_detect()->get_redetect_times(), 4);
        EXPECT_EQ(M->get_part_detect()->get_redetect_interval(), 100);
    }
}

TEST(FlowLayoutStandard, Block1PreCut)
{
    checkCases({
        {"off", QJsonObject{{"i_precut", 0}}, kBaseP, kBaseM},
        // Lead longer than the delay: the pre-cut goes out at once.
        {"lead 0.5 s, delay 0.3 s", QJsonObject{{"i_precut", 0.5}, {"s_moulding_delaytime", 0.3}},
         QStringList{"io(0H)[1A]"} + kDoorP + kAfterP,
         QStringList{"pre(0)[0A]", "io(1L)[2R]-det+ng", "chg16(1H)[0A]+ng"} + kAfterM},
        {"lead 0.2 s, delay 0.8 s", QJsonObject{{"i_precut", 0.2}, {"s_moulding_delaytime", 0.8}},
         QStringList{"io(0H)[1A]"} + kDoorP + kAfterP,
         QStringList{"pre(0)[0A@600]", "io(1L)[2R]-det+ng", "chg16(1H)[0A@600]+ng"} + kAfterM},
    });
}

TEST(FlowLayoutStandard, Block2CloseCut)
{
    checkCases({
        {"off", QJsonObject{{"i_isCloseCut", false}}, kBaseP, kBaseM},
        {"on", QJsonObject{{"i_isCloseCut", true}}, QStringList{"io(0H)[0A]"} + kDoorP + kAfterP,
         kBaseM + QStringList{"ok[1A]"}},
        {"on, semi-automatic: the mould keeps its output-0 action",
         QJsonObject{{"i_isCloseCut", true}, {"s_semi_automatic", true}}, QStringList{"io(0H)[0A]"} + kDoorP + kAfterP,
         QStringList{"io(2H)[0A]"} + kDoorM + kAfterM + QStringList{"ok[1A]"}},
    });
}

TEST(FlowLayoutStandard, Block3ProductNgAndOutput1)
{
    checkCases({
        {"no cut", QJsonObject{{"i_isNG0NoCut", true}},
         QStringList{"io(0H)[0A]"} + kDoorP + QStringList{"stop", "ok[1R 2R]", "ng[2A]"}, kBaseM},
        {"cut on NG", QJsonObject{{"i_isNG0CutT", true}}, QStringList{"io(0H)[0A]"} + kDoorP + kAfterP + QStringList{"ng[1A]"},
         kBaseM},
        {"both", QJsonObject{{"i_isNG0NoCut", true}, {"i_isNG0CutT", true}},
         QStringList{"io(0H)[0A]"} + kDoorP + QStringList{"stop", "ok[1R 2R]", "ng[2A]", "ng[1A]"}, kBaseM},
        {"without product detection nothing changes",
         QJsonObject{{"i_isNG0NoCut", true}, {"i_isNG0CutT", true}, {"s_action_productdetect", false}},
         kDoorP + kAfterP, QStringList{"io(0H)[0A]"} + kDoorM + kAfterM},
    });
}

TEST(FlowLayoutStandard, Block4MouldNgAndOutput0)
{
    checkCases({
        {"off", QJsonObject{{"i_isNG1CutT", false}}, kBaseP, kBaseM},
        {"on", QJsonObject{{"i_isNG1CutT", true}}, QStringList{"io(0H)[1A]"} + kDoorP + kAfterP,
         kBaseM + QStringList{"ng[0A]"}},
    });
}

TEST(FlowLayoutStandard, Block5NgPulsesWithoutStop)
{
    const QStringList p5 = {"io(0H)[0R 1R 2R]", "io(1L)[0R 1R 2R]-det+ng", "chg8(1H)[0R 1R 2R]+ng",
                            "ng[0A~500 2A~500]", "ok[1A~800]"};
    const QStringList m5 = {"pre(0)", "io(1L)-det+ng", "chg16(1H)+ng", "ng[0A~500 2A~500]", "ok[1A~800]"};
    checkCases({
        {"on", QJsonObject{{"i_isNG1OK2", true}}, p5, m5},
        // Block 6 removes only output 1 at rest: block 5's active OK pulse stays.
        {"with block 6", QJsonObject{{"i_isNG1OK2", true}, {"i_isThimblePulse", true}},
         p5 + QStringList{"ok[1R~500]"}, m5},
    });
}

TEST(FlowLayoutStandard, Block6ThimblePulse)
{
    checkCases({
        {"on", QJsonObject{{"i_isThimblePulse", true}},
         QStringList{"io(0H)[0A 1A]"} + kDoorP + QStringList{"stop", "ok[2R]", "ng[1A 2A]", "ok[1R~500]"}, kBaseM},
    });
}

TEST(FlowLayoutStandard, Block7ClosePulse)
{
    checkCases({
        {"on", QJsonObject{{"i_isClosePulse", true}}, kBaseP,
         QStringList{"pre(0)"} + kDoorM + QStringList{"stop", "ok[2R]", "ng[0A 2A]", "ok[0R~800]"}},
    });
}

TEST(FlowLayoutStandard, Block8AllSafeDoorsStartTheMould)
{
    struct Row {
        bool semi;
        int input;
    };
    for (const Row& row : {Row{false, 0}, Row{true, 2}}) {
        SCOPED_TRACE(row.semi);
        ManagerBench bench;
        bench.services.params =
            merged(baseParams(), QJsonObject{{"i_isAllSafeDoor", true}, {"s_semi_automatic", row.semi}});
        bench.manager->create_Frameworks(0, true);
        const QStringList m = summary(bench.unit(0, 1));
        ASSERT_EQ(m.size(), 7);
        EXPECT_EQ(m.at(3), "chgIO(1H)");
        auto* chg = qobject_cast<FlowPart_Cond_IO_ChgOper*>(bench.unit(0, 1)->get_part_cond().at(7));
        ASSERT_NE(chg, nullptr);
        ASSERT_EQ(chg->get_ChgIO_SpecOperate().size(), 1);
        const FlowWork_Condition c = chg->get_ChgIO_SpecOperate().first();
        EXPECT_EQ(c.cond_type, 1);
        EXPECT_EQ(c.cond_url, "/dide/action/io_catch");
        EXPECT_TRUE(c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
        EXPECT_TRUE(c.cond_extra_flag1 && c.cond_extra_flag2 && c.cond_extra_flag3);
        EXPECT_EQ(c.cond_detect_index, -1);
        EXPECT_EQ(c.cond_resultctrl_preindex, -1);
        EXPECT_TRUE(c.cond_resultctrl_result);
        EXPECT_FALSE(c.cond_resample_rm_oldtemp);
        EXPECT_EQ(c.cond_trig_levels, (QList<IO_IndexLevel>{IO_IndexLevel{row.input, ElectricLevel_High}}));
        // This camera comes last.
        ASSERT_FALSE(c.cond_action_deviceids.isEmpty());
        EXPECT_EQ(c.cond_action_deviceids.last(), ZRC_WorkInformation_Manager::getInstance()->get_deviceid());
        EXPECT_EQ(summary(bench.unit(0, 0)), kBaseP);
    }
}

TEST(FlowLayoutStandard, Block9ProductNgPulse)
{
    const QStringList conds = {"io(0H)[0A 1R 2R]", "io(1L)[2R 1R 2R]-det+ng", "chg8(1H)[1R 2R]+ng"};
    checkCases({
        {"value 1", QJsonObject{{"i_isNG0Pulse_Muti", 1}}, conds + QStringList{"ok[1R 2R]", "ng[1A~500]"}, kBaseM},
        {"value 2", QJsonObject{{"i_isNG0Pulse_Muti", 2}}, conds + QStringList{"ok[1R 2R]", "ng[1A~500 2A~500]"},
         kBaseM},
        // Other values remove and add the rest actions but add no NG part.
        {"value 3", QJsonObject{{"i_isNG0Pulse_Muti", 3}}, conds + QStringList{"ok[1R 2R]"}, kBaseM},
        {"value 0", QJsonObject{{"i_isNG0Pulse_Muti", 0}}, kBaseP, kBaseM},
    });
}

TEST(FlowLayoutStandard, Block10MouldNgPulse)
{
    const QStringList conds = {"pre(0)[0R 2R]", "io(1L)[2R 0R 2R]-det+ng", "chg16(1H)[0R 2R]+ng"};
    const QStringList p = QStringList{"io(0H)[1A]"} + kDoorP + kAfterP;
    checkCases({
        {"value 1", QJsonObject{{"i_isNG1Pulse_Muti", 1}}, p, conds + QStringList{"ok[0R 2R]", "ng[0A]", "ng[0A~800]"}},
        {"value 2", QJsonObject{{"i_isNG1Pulse_Muti", 2}}, p,
         conds + QStringList{"ok[0R 2R]", "ng[0A]", "ng[0A~800 2A~800]"}},
    });
}

TEST(FlowLayoutStandard, Block11DoorReDetectsTheProduct)
{
    checkCases({
        {"on", QJsonObject{{"i_NG0Redect_SafeDoor", true}},
         QStringList{"io(0H)[0A 1A]", "io(1L)[2R]-det+ng", "chg16(1H)+ng"} + kAfterP, kBaseM},
    });
}

TEST(FlowLayoutStandard, Block12Input3ReleasesWithoutCheck)
{
    checkCases({
        {"on", QJsonObject{{"i_input3NoCheck", true}},
         QStringList{"io(0H)[0A 1A]"} + kDoorP + QStringList{"chg8(3H)+ng"} + kAfterP,
         QStringList{"pre(0)"} + kDoorM + QStringList{"chg8(3H)+ng"} + kAfterM},
    });
}

TEST(FlowLayoutStandard, Block13TriggerInNgStopReDetects)
{
    const QString redetect0 = "chg16(0H)+ng+ngstate";
    checkCases({
        {"product detection, semi-automatic", QJsonObject{{"i_ng_trig2redetect", true}, {"s_semi_automatic", true}},
         kBaseP.mid(0, 3) + QStringList{redetect0} + kAfterP,
         QStringList{"io(2H)[0A]"} + kDoorM + QStringList{"chg16(2H)+ng+ngstate"} + kAfterM},
        {"product detection, automatic", QJsonObject{{"i_ng_trig2redetect", true}},
         kBaseP.mid(0, 3) + QStringList{redetect0} + kAfterP, kBaseM},
        {"mould only", QJsonObject{{"i_ng_trig2redetect", true}, {"s_action_productdetect", false}}, kDoorP + kAfterP,
         QStringList{"io(0H)[0A]"} + kDoorM + QStringList{redetect0} + kAfterM},
    });
}

TEST(FlowLayoutStandard, Block14IndependentOutputs)
{
    checkCases({
        {"on", QJsonObject{{"i_i0i1_IndependentControl_o0o1", true}},
         QStringList{"io(0H)", "io(1L)-det+ng", "chg8(1H)+ng", "io(0H)[1A]"} + kAfterP,
         QStringList{"pre(0)", "io(1L)-det+ng", "chg16(1H)+ng", "io(2H)[0A]+free"} + kAfterM},
    });
}

TEST(FlowLayoutStandard, Block15Buzzer)
{
    const QStringList p9 = {"io(0H)[0A 1R 2R]", "io(1L)[2R 1R 2R]-det+ng", "chg8(1H)[1R 2R]+ng", "ok[1R 2R]",
                            "ng[1A~500]"};
    checkCases({
        {"1 with product pulse", QJsonObject{{"i_closeNGBuzzer_Muti", 1}, {"i_isNG0Pulse_Muti", 1}},
         p9 + QStringList{"ng[2A~500]"}, kBaseM},
        {"1 without pulses", QJsonObject{{"i_closeNGBuzzer_Muti", 1}}, kBaseP, kBaseM},
        {"2", QJsonObject{{"i_closeNGBuzzer_Muti", 2}}, QStringList{"io(0H)[0A 1A]"} + kDoorP + QStringList{"stop", "ok[1R 2R]", "ng[1A]"},
         QStringList{"pre(0)"} + kDoorM + QStringList{"stop", "ok[0R 2R]", "ng[0A]"}},
    });
}

TEST(FlowLayoutStandard, OnlyALiveBuildWritesTheTriggerFlags)
{
    ManagerBench bench;
    bench.services.params = baseParams();
    bench.frame.setTriggers({2, 2, 2, 2, 2, 2, 2, 2});

    const QJsonObject preview = bench.manager->create_Frameworks(0, false);
    FrameIO_Params p = bench.frame.getParams();
    EXPECT_EQ(QList<int>(p.input_trig, p.input_trig + 8), (QList<int>{2, 2, 2, 2, 2, 2, 2, 2}));
    EXPECT_TRUE(bench.groups().isEmpty());

    const QJsonObject live = bench.manager->create_Frameworks(0, true);
    p = bench.frame.getParams();
    EXPECT_EQ(QList<int>(p.input_trig, p.input_trig + 8), (QList<int>{1, 3, 1, 1, 1, 1, 1, 1}));

    // The preview shows what the live build makes, though the frame's flags
    // differed while it was built.
    EXPECT_EQ(withoutUuids(preview), withoutUuids(live));
    EXPECT_EQ(live.value("units").toArray().size(), 2);
}
