// The turntable layout: the four units of the two stations for each start
// mode, the station selector, each option block (one table per block), and
// that it leaves the IO frame's trigger flags alone.
#include "flow/flowframeworkbuilder.h"
#include "flow/flowlayout_turntable.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flowlayouttestbench.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace flowlayouttest;

namespace {

struct StationCase {
    const char* name;
    QJsonObject params;  // on top of the base parameters
    QStringList LP, LM, RP, RM;
};

QJsonObject baseParams()
{
    return QJsonObject{{"s_action_productdetect", true},
                       {"s_semi_automatic", false},
                       {"i_thimble_pulse", 0.5},
                       {"i_closemold_pulse", 0.8},
                       {"i_program_logic", 2}};
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
const QStringList kLP = QStringList{"io(0H)[0A 1A]"} + kDoorP + kAfterP;
const QStringList kRP = QStringList{"io(3H)[0A 1A]"} + kDoorP + kAfterP;
const QStringList kMould = QStringList{"pre(0)[0A]"} + kDoorM + kAfterM;

// The bench with the machine's trigger flags (input 1 on both edges).
struct TurntableBench : ManagerBench {
    TurntableBench() { frame.setTriggers({1, 3, 1, 1, 1, 1, 1, 1}); }
};

void checkCases(const std::vector<StationCase>& cases)
{
    for (const StationCase& c : cases) {
        SCOPED_TRACE(c.name);
        TurntableBench bench;
        bench.services.params = merged(baseParams(), c.params);
        bench.manager->create_Frameworks(2, true);
        ASSERT_EQ(bench.groups().size(), 2);
        EXPECT_EQ(summary(bench.unit(0, 0)), c.LP);
        EXPECT_EQ(summary(bench.unit(0, 1)), c.LM);
        EXPECT_EQ(summary(bench.unit(1, 0)), c.RP);
        EXPECT_EQ(summary(bench.unit(1, 1)), c.RM);
    }
}

QList<IO_IndexLevel> manualInputs(FlowUnit_Standard_Detect* unit)
{
    const QList<FlowPart_Condition*> manual = unit->get_FlowPart_Cond_FromClassType(CondType_ManualTrig);
    auto* m = manual.isEmpty() ? nullptr : qobject_cast<FlowPart_Cond_ManualTrig*>(manual.first());
    return m ? m->get_condwith_ioinput_state() : QList<IO_IndexLevel>{IO_IndexLevel{-1, ElectricLevel_Low}};
}

}  // namespace

TEST(FlowLayoutTurntable, StartModes)
{
    struct Row {
        StationCase c;
        bool productsEnabled;
        QList<int> manual;  // LP, LM, RP, RM; -1: no input required
    };
    const std::vector<Row> rows = {
        {{"product detection, automatic", QJsonObject{}, kLP, kMould, kRP, kMould}, true, {0, 0, 3, 3}},
        {{"product detection, semi-automatic", QJsonObject{{"s_semi_automatic", true}}, kLP,
          QStringList{"io(2H)[0A]"} + kDoorM + kAfterM, kRP, QStringList{"io(2H)[0A]"} + kDoorM + kAfterM},
         true,
         {0, 0, 3, 0}},
        {{"mould only, semi-automatic", QJsonObject{{"s_action_productdetect", false}, {"s_semi_automatic", true}},
          kDoorP + kAfterP, QStringList{"io(0H)[0A]-det", "io(2H)+after"} + kDoorM + kAfterM, kDoorP + kAfterP,
          QStringList{"io(3H)[0A]-det", "io(2H)+after"} + kDoorM + kAfterM},
         false,
         {-1, 0, -1, 3}},
        {{"mould only, automatic", QJsonObject{{"s_action_productdetect", false}}, kDoorP + kAfterP,
          QStringList{"io(0H)[0A]"} + kDoorM + kAfterM, kDoorP + kAfterP, QStringList{"io(3H)[0A]"} + kDoorM + kAfterM},
         false,
         {-1, 0, -1, 0}},
    };
    for (const Row& row : rows) {
        checkCases({row.c});
        SCOPED_TRACE(row.c.name);
        TurntableBench bench;
        bench.services.params = merged(baseParams(), row.c.params);
        bench.manager->create_Frameworks(2, true);
        const QList<FlowUnit_Standard_Detect*> units = {bench.unit(0, 0), bench.unit(0, 1), bench.unit(1, 0),
                                                        bench.unit(1, 1)};
        EXPECT_EQ(units[0]->get_enable(), row.productsEnabled);
        EXPECT_EQ(units[2]->get_enable(), row.productsEnabled);
        EXPECT_TRUE(units[1]->get_enable() && units[3]->get_enable());
        for (int i = 0; i < 4; ++i) {
            const QList<IO_IndexLevel> expected =
                row.manual[i] < 0 ? QList<IO_IndexLevel>{} : QList<IO_IndexLevel>{{row.manual[i], ElectricLevel_High}};
            EXPECT_EQ(manualInputs(units[i]), expected) << "unit " << i;
        }
    }
}

TEST(FlowLayoutTurntable, StationSelector)
{
    struct Row {
        const char* name;
        QJsonValue selector;  // undefined: key missing
        bool left, right;
    };
    const std::vector<Row> rows = {
        {"missing", QJsonValue(QJsonValue::Undefined), true, true},
        {"0", 0, true, true},
        {"1: left only", 1, true, false},
        {"2: right only", 2, false, true},
        {"7", 7, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TurntableBench bench;
        bench.services.params = baseParams();
        if (!row.selector.isUndefined())
            bench.services.params.insert("i_program_turntable_type", row.selector);
        bench.manager->create_Frameworks(2, true);
        ASSERT_EQ(bench.groups().size(), 2);
        EXPECT_EQ(bench.groups().at(0)->get_enable(), row.left);
        EXPECT_EQ(bench.groups().at(1)->get_enable(), row.right);
        EXPECT_EQ(bench.unit(0, 0)->get_enable(), row.left);
        EXPECT_EQ(bench.unit(0, 1)->get_enable(), row.left);
        EXPECT_EQ(bench.unit(1, 0)->get_enable(), row.right);
        EXPECT_EQ(bench.unit(1, 1)->get_enable(), row.right);
        // A switched-off station stays numbered and serialised.
        EXPECT_EQ(bench.unit(1, 0)->get_detect_index_abs(), 2);
        EXPECT_EQ(bench.unit(1, 1)->get_detect_index_abs(), 3);
        EXPECT_EQ(bench.manager->get_Frameworks().value("units").toArray().size(), 4);
    }
}

TEST(FlowLayoutTurntable, NamesDelaysAndRedetection)
{
    TurntableBench bench;
    bench.services.params = merged(baseParams(), QJsonObject{{"s_product_delaytime", 0.4},
                                                             {"s_moulding_delaytime", 1.2},
                                                             {"s_moulding_retimes", 3}});
    bench.manager->create_Frameworks(2, true);
    const QStringList names = {"Left Proc", "Left Mold", "Right Proc", "Right Mold"};
    const QList<int> delays = {400, 1200, 400, 1200};
    const QList<int> retimes = {0, 3, 0, 3};
    for (int i = 0; i < 4; ++i) {
        FlowUnit_Standard_Detect* u = bench.unit(i / 2, i % 2);
        EXPECT_EQ(u->get_user_describe().text("en-US"), names[i]);
        EXPECT_EQ(u->get_part_detect()->get_delay_ms(), delays[i]);
        EXPECT_EQ(u->get_part_detect()->get_redetect_times(), retimes[i]);
    }
    EXPECT_EQ(bench.unit(0, 0)->get_user_describe().text("zh-CN"), "左成品");
    EXPECT_EQ(bench.groups().at(0)->parent(), bench.manager.get());
}

TEST(FlowLayoutTurntable, Block1PreCut)
{
    const QStringList mould = {"pre(0)[0A]", "io(1L)[2R]-det+ng", "chg16(1H)[0A]+ng"};
    // Both product units lose their output-0 trigger action.
    checkCases({{"lead 0.5 s, delay 0.3 s", QJsonObject{{"i_precut", 0.5}, {"s_moulding_delaytime", 0.3}},
                 QStringList{"io(0H)[1A]"} + kDoorP + kAfterP, mould + kAfterM,
                 QStringList{"io(3H)[1A]"} + kDoorP + kAfterP, mould + kAfterM}});
}

TEST(FlowLayoutTurntable, Block2To4Cuts)
{
    checkCases({
        {"close cut", QJsonObject{{"i_isCloseCut", true}}, QStringList{"io(0H)[0A]"} + kDoorP + kAfterP,
         kMould + QStringList{"ok[1A]"}, QStringList{"io(3H)[0A]"} + kDoorP + kAfterP, kMould + QStringList{"ok[1A]"}},
        {"product NG without cut", QJsonObject{{"i_isNG0NoCut", true}},
         QStringList{"io(0H)[0A]"} + kDoorP + QStringList{"stop", "ok[1R 2R]", "ng[2A]"}, kMould,
         QStringList{"io(3H)[0A]"} + kDoorP + QStringList{"stop", "ok[1R 2R]", "ng[2A]"}, kMould},
        {"product NG cuts", QJsonObject{{"i_isNG0CutT", true}},
         QStringList{"io(0H)[0A]"} + kDoorP + kAfterP + QStringList{"ng[1A]"}, kMould,
         QStringList{"io(3H)[0A]"} + kDoorP + kAfterP + QStringList{"ng[1A]"}, kMould},
        {"mould NG cuts", QJsonObject{{"i_isNG1CutT", true}}, QStringList{"io(0H)[1A]"} + kDoorP + kAfterP,
         QStringList{"pre(0)"} + kDoorM + kAfterM + QStringList{"ng[0A]"}, QStringList{"io(3H)[1A]"} + kDoorP + kAfterP,
         QStringList{"pre(0)"} + kDoorM + kAfterM + QStringList{"ng[0A]"}},
    });
}

TEST(FlowLayoutTurntable, Block5NgPulsesWithoutStop)
{
    const auto product = [](const char* in) {
        return QStringList{QString("io(%1H)[0R 1R 2R]").arg(in), "io(1L)[0R 1R 2R]-det+ng", "chg8(1H)[0R 1R 2R]+ng",
                           "ng[0A~500 2A~500]", "ok[1A~800]"};
    };
    const QStringList mould = {"pre(0)", "io(1L)-det+ng", "chg16(1H)+ng", "ng[0A~500 2A~500]", "ok[1A~800]"};
    checkCases({{"on", QJsonObject{{"i_isNG1OK2", true}}, product("0"), mould, product("3"), mould}});
}

TEST(FlowLayoutTurntable, Block6And7Pulses)
{
    const QStringList p6 = kDoorP + QStringList{"stop", "ok[2R]", "ng[1A 2A]", "ok[1R~500]"};
    const QStringList m7 = QStringList{"pre(0)[0A]"} + kDoorM + QStringList{"stop", "ok[2R]", "ng[0A 2A]", "ok[0R~800]"};
    checkCases({
        {"thimble", QJsonObject{{"i_isThimblePulse", true}}, QStringList{"io(0H)[0A 1A]"} + p6, kMould,
         QStringList{"io(3H)[0A 1A]"} + p6, kMould},
        {"close", QJsonObject{{"i_isClosePulse", true}}, kLP, m7, kRP, m7},
    });
}

TEST(FlowLayoutTurntable, Block8AllSafeDoors)
{
    const QStringList mould = QStringList{"pre(0)[0A]"} + kDoorM + QStringList{"chgIO(1H)"} + kAfterM;
    checkCases({{"on", QJsonObject{{"i_isAllSafeDoor", true}}, kLP, mould, kRP, mould}});
}

TEST(FlowLayoutTurntable, Block9And10NgPulses)
{
    const auto product9 = [](const char* in) {
        return QStringList{QString("io(%1H)[0A 1R 2R]").arg(in), "io(1L)[2R 1R 2R]-det+ng", "chg8(1H)[1R 2R]+ng",
                           "ok[1R 2R]", "ng[1A~500]"};
    };
    const auto product10 = [](const char* in) {
        return QStringList{QString("io(%1H)[1A 0R 1R 2R]").arg(in), "io(1L)[2R 0R 1R 2R]-det+ng",
                           "chg8(1H)[0R 1R 2R]+ng"} + kAfterP;
    };
    const QStringList mould10 = {"pre(0)[0R 2R]", "io(1L)[2R 0R 2R]-det+ng", "chg16(1H)[0R 2R]+ng", "ok[0R 2R]",
                                 "ng[0A]", "ng[0A~800]"};
    checkCases({
        {"product value 1", QJsonObject{{"i_isNG0Pulse_Muti", 1}}, product9("0"), kMould, product9("3"), kMould},
        {"product value 2 does nothing", QJsonObject{{"i_isNG0Pulse_Muti", 2}}, kLP, kMould, kRP, kMould},
        {"mould value 1", QJsonObject{{"i_isNG1Pulse_Muti", 1}}, product10("0"), mould10, product10("3"), mould10},
        {"mould value 2 does nothing", QJsonObject{{"i_isNG1Pulse_Muti", 2}}, kLP, kMould, kRP, kMould},
    });
}

TEST(FlowLayoutTurntable, Block11DoorReDetectsTheProducts)
{
    const QStringList door = {"io(1L)[2R]-det+ng", "chg16(1H)+ng"};
    checkCases({{"on", QJsonObject{{"i_NG0Redect_SafeDoor", true}}, QStringList{"io(0H)[0A 1A]"} + door + kAfterP,
                 kMould, QStringList{"io(3H)[0A 1A]"} + door + kAfterP, kMould}});
}

TEST(FlowLayoutTurntable, LeavesTheTriggerFlagsAndPreviewsWhatItBuilds)
{
    TurntableBench bench;
    bench.services.params = baseParams();
    const QJsonObject preview = bench.manager->create_Frameworks(2, false);
    EXPECT_TRUE(bench.groups().isEmpty());
    const QJsonObject live = bench.manager->create_Frameworks(2, true);
    const FrameIO_Params p = bench.frame.getParams();
    EXPECT_EQ(QList<int>(p.input_trig, p.input_trig + 8), (QList<int>{1, 3, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(preview.value("units").toArray().size(), 4);
    EXPECT_EQ(live.value("units").toArray().size(), 4);
}
