// Building the flow framework: numbering and wiring, what a live build and
// what a preview change, the framework JSON and the flow serialisation, and
// the readable forms of a framework.
#include "flow/flowframeworkbuilder.h"
#include "flow/flowgroup_standard.h"
#include "flowlayouttestbench.h"
#include "support/scratchdir.h"

#include <QJsonArray>
#include <QPointer>
#include <gtest/gtest.h>

using namespace flowlayouttest;

namespace {

// A live list of standard groups with the given unit counts.
QList<FlowBox_Group*> makeGroups(ManagerBench& bench, const QList<int>& unitCounts)
{
    QList<FlowBox_Group*> list;
    for (int n : unitCounts) {
        auto* g = new FlowGroup_Standard(bench.manager.get());
        g->inst_iface = bench.manager->getFlowInstIface();
        for (int i = 0; i < n; ++i)
            g->append_FlowUnit(new FlowUnit_Standard_Detect(g));
        list << g;
    }
    return list;
}

FlowWork_DisplayArea someDisplay()
{
    FlowWork_DisplayArea d;
    d.area_text = "Mold";
    d.area_unitindex_abs = 1;
    d.area_mode = FlowRunState_NGStop;
    return d;
}

}  // namespace

TEST(FlowFrameworkBuilder, NumbersGroupsUnitsAndConditions)
{
    struct Row {
        const char* name;
        QList<int> unitCounts;
        bool build;
        QList<int> expectedStepCounts;
    };
    const std::vector<Row> rows = {
        {"two groups, live", {2, 3}, true, {5}},
        {"two groups, preview", {2, 3}, false, {}},
        {"no groups, live", {}, true, {0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ManagerBench bench;
        QList<FlowBox_Group*> preview = makeGroups(bench, row.unitCounts);
        QList<FlowBox_Group*>& list = row.build ? bench.groups() : preview;
        if (row.build)
            list = preview;
        bench.manager->chk_Frameworks(list, row.build);
        EXPECT_EQ(bench.services.stepCounts, row.expectedStepCounts);

        int abs = 0;
        for (int i = 0; i < list.size(); ++i) {
            EXPECT_EQ(list[i]->get_group_index(), i);
            QList<int> expectedAbs;
            const QList<FlowUnit_Base*> units = list[i]->get_unit_list();
            for (int j = 0; j < units.size(); ++j, ++abs) {
                expectedAbs << abs;
                EXPECT_EQ(units[j]->get_detect_index(), j);
                EXPECT_EQ(units[j]->get_detect_index_abs(), abs);
                for (FlowPart_Base* part : qobject_cast<FlowUnit_Standard_Detect*>(units[j])->get_part_cond()) {
                    auto* cond = qobject_cast<FlowPart_Condition*>(part);
                    EXPECT_EQ(cond->get_cond_sortindex(), j);
                    EXPECT_EQ(cond->get_cond_sortindex_abs(), abs);
                }
            }
            EXPECT_EQ(list[i]->get_subunit_indexabs(), expectedAbs);
        }
        if (!row.build)
            FlowFrameworkBuilder::destroyGroups(preview);
    }
}

TEST(FlowFrameworkBuilder, LiveBuildReplacesAndRestartsTheFlow)
{
    ManagerBench bench;
    bench.manager->create_Frameworks(2, true);  // turntable: two groups
    QPointer<FlowBox_Group> old = bench.groups().at(0);
    bench.manager->set_current_group(1);
    bench.manager->set_run_state(FlowRunState_NGStop);
    bench.manager->slot_Update_Group_StashDisplay(someDisplay());
    // A unit of the old flow is working.
    bench.unit(0, 1)->set_isworking(true);
    bench.groups().at(0)->slot_Update_Fgs_State();
    ASSERT_EQ(bench.manager->get_running_node(), 1);
    bench.services.statResets.clear();
    bench.services.stepCounts.clear();
    bench.services.reloads = 0;

    bench.manager->create_Frameworks(0, true);
    runDeferredDeletes();

    EXPECT_TRUE(old.isNull());
    ASSERT_EQ(bench.groups().size(), 1);
    EXPECT_EQ(bench.services.statResets, QList<int>{2});
    EXPECT_EQ(bench.services.stepCounts, QList<int>{2});
    EXPECT_EQ(bench.services.reloads, 1);
    EXPECT_EQ(bench.manager->get_current_group(), 0);
    EXPECT_EQ(bench.manager->get_run_state(), FlowRunState_Detect);
    EXPECT_TRUE(bench.manager->get_display().isEmpty());
    // The unit of the old flow never finishes: its running node goes with it.
    EXPECT_EQ(bench.manager->get_running_node(), -1);
}

TEST(FlowFrameworkBuilder, LiveGroupsAreWiredToTheManager)
{
    ManagerBench bench;
    bench.manager->create_Frameworks(2, true);
    ASSERT_EQ(bench.manager->get_current_group(), 0);
    emit bench.groups().at(0)->sig_GroupPeriod_Finish();
    EXPECT_EQ(bench.manager->get_current_group(), 1);

    emit bench.groups().at(1)->sig_Update_StashDisplay(someDisplay());
    ASSERT_FALSE(bench.manager->get_display().isEmpty());
    EXPECT_EQ(bench.manager->get_display().getValue().area_text, "Mold");
}

TEST(FlowFrameworkBuilder, PreviewLeavesTheRunningFlowAlone)
{
    struct Row {
        const char* name;
        Product_Model model;
        int units;
    };
    const std::vector<Row> rows = {{"standard", 5, 2}, {"turntable", 2, 4}, {"user flow", -1, 0}};
    testsupport::ScratchDir dir;
    testsupport::WorkingDir cwd(dir.path());  // no user flow file
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ManagerBench bench;
        bench.manager->create_Frameworks(2, true);
        const QList<FlowBox_Group*> live = bench.groups();
        // The machine is held in an NG stop on the right station.
        auto* right = qobject_cast<FlowGroup_Standard*>(live.at(1));
        FlowPart_NG_Stop stop;
        stop.detect_index = 1;
        stop.result_flag = false;
        right->update_NG_Stop(stop);
        bench.manager->set_current_group(1);
        bench.manager->slot_Update_Group_StashDisplay(someDisplay());
        ASSERT_EQ(bench.manager->get_run_state(), FlowRunState_NGStop);
        bench.frame.setTriggers({2, 2, 2, 2, 2, 2, 2, 2});
        const QList<int> statResets = bench.services.statResets;
        const QList<int> stepCounts = bench.services.stepCounts;
        const int reloads = bench.services.reloads;

        const QJsonObject json = bench.manager->create_Frameworks(row.model, false);
        runDeferredDeletes();

        EXPECT_EQ(json.value("units").toArray().size(), row.units);
        EXPECT_EQ(bench.groups(), live);
        EXPECT_EQ(bench.services.statResets, statResets);
        EXPECT_EQ(bench.services.stepCounts, stepCounts);
        EXPECT_EQ(bench.services.reloads, reloads);
        EXPECT_EQ(bench.manager->get_current_group(), 1);
        EXPECT_EQ(bench.manager->get_run_state(), FlowRunState_NGStop);
        EXPECT_EQ(right->get_ng_stops().size(), 1);
        EXPECT_FALSE(bench.manager->get_display().isEmpty());
        const FrameIO_Params p = bench.frame.getParams();
        EXPECT_EQ(QList<int>(p.input_trig, p.input_trig + 8), (QList<int>{2, 2, 2, 2, 2, 2, 2, 2}));
    }
}

TEST(FlowFrameworkBuilder, FrameworkJsonIsFlatAndSerialisationPerGroup)
{
    ManagerBench bench;
    bench.frame.setRestLevels({1, 0, 1, 0, 0, 0, 0, 1});
    bench.manager->create_Frameworks(2, true);

    const QJsonArray flat = bench.manager->get_Frameworks().value("units").toArray();
    ASSERT_EQ(flat.size(), 4);
    QStringList names;
    for (const QJsonValue& u : flat)
        names << u.toObject().value("name").toString();
    EXPECT_EQ(names, (QStringList{"左成品", "左模腔", "右成品", "右模腔"}));
    EXPECT_EQ(flat.at(2).toObject().value("type").toString(), "FlowUnit_Standard_Detect");
    for (const char* key : {"index", "enable", "part_cond", "part_detect", "part_after"})
        EXPECT_TRUE(flat.at(0).toObject().contains(key)) << key;

    const QJsonObject serial = bench.manager->get_FlowSerialize();
    EXPECT_EQ(serial.value("io_defalut").toArray(), (QJsonArray{1, 0, 1, 0, 0, 0, 0, 1}));
    const QJsonArray perGroup = serial.value("units").toArray();
    ASSERT_EQ(perGroup.size(), 2);
    EXPECT_EQ(perGroup.at(0).toArray().size(), 2);
    EXPECT_EQ(perGroup.at(1).toArray().size(), 2);
    EXPECT_EQ(perGroup.at(1).toArray().at(0).toObject().value("name").toString(), "右成品");
}

TEST(FlowFrameworkBuilder, EmptyFrameworkJson)
{
    ManagerBench bench;
    EXPECT_EQ(bench.manager->get_Frameworks(), (QJsonObject{{"units", QJsonArray()}}));
    const QJsonObject serial = bench.manager->get_FlowSerialize();
    EXPECT_EQ(serial.value("io_defalut").toArray().size(), 8);
    EXPECT_EQ(serial.value("units").toArray(), QJsonArray());
}

TEST(FlowFrameworkBuilder, ParseFrameworkMakesFlagsReadable)
{
    struct Row {
        const char* name;
        QJsonObject in;
        QJsonObject out;
    };
    const std::vector<Row> rows = {
        {"four flags", QJsonObject{{"cond_flags", QJsonArray{true, false, true, false}}},
         QJsonObject{{"cond_flags", "正常执行IO, 不执行检测, 固定, 禁止NG时执行"}}},
        {"other four flags", QJsonObject{{"cond_flags", QJsonArray{false, true, false, true}}},
         QJsonObject{{"cond_flags", "立即执行IO, 需要检测, 新增, 允许NG执行"}}},
        {"three flags stay", QJsonObject{{"cond_flags", QJsonArray{true, true, true}}},
         QJsonObject{{"cond_flags", QJsonArray{true, true, true}}}},
        {"nested in arrays",
         QJsonObject{{"units", QJsonArray{QJsonObject{
                                              {"part_cond", QJsonArray{QJsonObject{{"cond_flags", QJsonArray{true, true, true, true}}}, 7}}},
                                          "x"}}},
         QJsonObject{{"units", QJsonArray{QJsonObject{{"part_cond",
                                                       QJsonArray{QJsonObject{{"cond_flags", "正常执行IO, 需要检测, 固定, 允许NG执行"}}, 7}}},
                                          "x"}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Product_Manager::parse_Framworks(row.in), row.out);
    }
}

TEST(FlowFrameworkBuilder, ShowFrameworkLogsAnIndentedTree)
{
    ManagerBench bench;
    const QJsonObject framework = bench.manager->create_Frameworks(0, false);
    LogLines log;
    EXPECT_EQ(Product_Manager::show_Frameworks(framework, 0), QString());
    const QStringList lines = log.lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "units{");
    EXPECT_EQ(lines.last(), "}");
    EXPECT_GT(log.count("--"), 0);
}
