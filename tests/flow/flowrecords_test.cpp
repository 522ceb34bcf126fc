// The flow's value records: start reasons, defaults, the receipt map of a
// group, the run-state texts and the JSON list conversions.
#include "flow/flowrecords.h"
#include "flow/flowworkevent.h"

#include <QJsonArray>

#include <functional>
#include <gtest/gtest.h>

namespace {

TEST(ConditionType, EverySingleFlagHasItsTextAndOtherValuesAreUnknown)
{
    const struct {
        Condition_Type type;
        const char* text;
    } cases[] = {
        {CondType_IOTrig, "IO触发"},       {CondType_ManualTrig, "手动抓拍"},
        {CondType_PreResult, "前一个检测结果"}, {CondType_NoCheck, "不检测此模"},
        {CondType_ReDetect, "重新检测"},     {CondType_AddTemplate, "添加为模板"},
        {CondType_Resample, "重新取样"},     {0, "未知"},
        {5, "未知"},                        {24, "未知"},
        {128, "未知"},                      {-1, "未知"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Condition_Type_2_Str(c.type), QString::fromUtf8(c.text)) << c.type;

    EXPECT_EQ(CondType_IOTrig, 1);
    EXPECT_EQ(CondType_ManualTrig, 2);
    EXPECT_EQ(CondType_PreResult, 4);
    EXPECT_EQ(CondType_NoCheck, 8);
    EXPECT_EQ(CondType_ReDetect, 16);
    EXPECT_EQ(CondType_AddTemplate, 32);
    EXPECT_EQ(CondType_Resample, 64);
}

TEST(FlowRecords, NewRecordsHoldTheirDefaults)
{
    const FlowWork_Condition c;
    EXPECT_EQ(c.cond_type, 0);
    EXPECT_TRUE(c.cond_url.isEmpty());
    EXPECT_TRUE(c.cond_action_deviceids.isEmpty());
    EXPECT_FALSE(c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_TRUE(c.cond_extra_flag1);
    EXPECT_TRUE(c.cond_extra_flag2);
    EXPECT_TRUE(c.cond_extra_flag3);
    EXPECT_TRUE(c.cond_trig_levels.isEmpty());
    EXPECT_EQ(c.cond_input_bits, 0);
    EXPECT_EQ(c.cond_detect_index, -1);
    EXPECT_EQ(c.cond_detect_index_abs, -1);
    EXPECT_FALSE(c.cond_resample_rm_oldtemp);
    EXPECT_EQ(c.cond_resultctrl_preindex, -1);
    EXPECT_TRUE(c.cond_resultctrl_result);

    const FlowWork_Receipt r;
    EXPECT_EQ(r.rcpt_detect_index, -1);
    EXPECT_EQ(r.rcpt_runstate, 0);
    EXPECT_EQ(r.rcpt_workstate, 2);
    EXPECT_EQ(r.rcpt_result, -1);
    EXPECT_TRUE(r.rcpt_collects.isEmpty());
    EXPECT_FALSE(r.rcpt_ngstop);
    EXPECT_EQ(r.rcpt_remain_ms, 0);

    const FlowGroup_State g;
    EXPECT_TRUE(g.fgs_units_indexabs.isEmpty());
    EXPECT_EQ(g.fgs_runstate, 0);
    EXPECT_EQ(g.fgs_runnode, -1);
    EXPECT_TRUE(g.fgs_remain_detects.isEmpty());
    EXPECT_TRUE(g.fgs_remain_trains.isEmpty());
    EXPECT_TRUE(g.fgs_remain_trains_cameras.isEmpty());
    EXPECT_EQ(g.fgs_working_unitindex_abs, -1);
    EXPECT_EQ(g.period_ms, 0);
    EXPECT_TRUE(g.fgs_recycle_detectinfo.isEmpty());
    EXPECT_TRUE(g.fgs_zrp_describe.isEmpty());
    EXPECT_EQ(g.fgs_zrp_flag, 0);
    EXPECT_EQ(g.fgs_zrp_show_unitindex_abs, -1);

    const FlowUnit_State u;
    EXPECT_EQ(u.fus_detect_index, -1);
    EXPECT_EQ(u.fus_detect_index_abs, -1);
    EXPECT_TRUE(u.fus_last_detected_info.isEmpty());
    EXPECT_EQ(u.fus_last_detect_type, 0);
    EXPECT_EQ(u.fus_redetect_interval, 100);
    EXPECT_EQ(u.fus_redetect_times, 0);

    const FlowProc_State p;
    EXPECT_EQ(p.proc_group_index, -1);
    EXPECT_EQ(p.proc_runstate, 0);
    EXPECT_EQ(p.proc_running_node, -1);

    const FlowWork_DisplayArea d;
    EXPECT_EQ(d.area_unitindex_abs, -1);
    EXPECT_EQ(d.area_mode, 0);
    EXPECT_EQ(d.area_workstate, 2);
    EXPECT_EQ(d.area_result, -1);
    EXPECT_EQ(d.area_language, QStringLiteral("zh-CN"));

    const SCollect_Unit s;
    EXPECT_FALSE(s.is_valid);
    EXPECT_EQ(s.detect_model, 0);
    EXPECT_EQ(s.detect, -1);
    EXPECT_FALSE(s.result);
    EXPECT_EQ(s.calculate_time, -1);
    EXPECT_EQ(s.calculate_times, 0);
    EXPECT_EQ(s.collect_time, -1);

    const FlowWork_WorkEvent_Back b;
    EXPECT_EQ(b.work_error, 5);
    EXPECT_EQ(b.result, -1);
    EXPECT_TRUE(b.collectlist.isEmpty());
}

TEST(FlowGroupState, ComparesEveryFieldButTheReceiptMap)
{
    FlowGroup_State a;
    a.fgs_remain_detects = {0, 1};
    a.fgs_remain_trains_cameras = QStringList{QStringLiteral("A")};
    FlowGroup_State b = a;
    FlowWork_Receipt r;
    r.rcpt_result = 0;
    b.fgs_recycle_detectinfo.insert(3, r);
    EXPECT_TRUE(a == b);

    const std::function<void(FlowGroup_State&)> changes[] = {
        [](FlowGroup_State& s) { s.fgs_units_indexabs << 4; },
        [](FlowGroup_State& s) { s.fgs_runstate = 2; },
        [](FlowGroup_State& s) { s.fgs_runnode = 1; },
        [](FlowGroup_State& s) { s.fgs_remain_detects = {1, 0}; },
        [](FlowGroup_State& s) { s.fgs_remain_trains << 1; },
        [](FlowGroup_State& s) { s.fgs_remain_trains_cameras << QStringLiteral("B"); },
        [](FlowGroup_State& s) { s.fgs_working_unitindex_abs = 3; },
        [](FlowGroup_State& s) { s.period_ms = 10; },
        [](FlowGroup_State& s) { s.fgs_zrp_describe = QStringLiteral("x"); },
        [](FlowGroup_State& s) { s.fgs_zrp_flag = 1; },
        [](FlowGroup_State& s) { s.fgs_zrp_show_unitindex_abs = 0; },
    };
    int i = 0;
    for (const auto& change : changes) {
        FlowGroup_State c = a;
        change(c);
        EXPECT_FALSE(a == c) << "field change " << i;
        ++i;
    }
}

TEST(FlowGroupState, AnNgReceiptStaysUntilTheMapIsEmptied)
{
    auto receipt = [](int result) {
        FlowWork_Receipt r;
        r.rcpt_result = result;
        r.rcpt_remain_ms = result + 100;  // tells the receipts apart
        return r;
    };
    const struct {
        int stored;  // -2: nothing stored
        int offered;
        int expected;
    } cases[] = {
        {-2, 1, 1}, {-2, 0, 0}, {0, 1, 0}, {0, -1, 0}, {1, 0, 0}, {1, 1, 1}, {-1, 1, 1}, {-1, 0, 0},
    };
    for (const auto& c : cases) {
        FlowGroup_State s;
        if (c.stored != -2)
            s.fgs_recycle_detectinfo.insert(3, receipt(c.stored));
        s.update_fgs_recycle_lastresult(3, receipt(c.offered));
        ASSERT_TRUE(s.fgs_recycle_detectinfo.contains(3));
        EXPECT_EQ(s.fgs_recycle_detectinfo.value(3).rcpt_result, c.expected)
            << "stored " << c.stored << " offered " << c.offered;
        EXPECT_EQ(s.fgs_recycle_detectinfo.value(3).rcpt_remain_ms, c.expected + 100);
        EXPECT_EQ(s.fgs_recycle_detectinfo.size(), 1);
    }
}

TEST(FlowWorkDisplayArea, DescribesEachRowInBothLanguagesWithItsCode)
{
    const struct {
        int mode, workstate, result;
        const char* zh;
        const char* en;
        int code;
    } rows[] = {
        {0, 2, -1, " 等待中", " Waiting", 0},        {0, 2, 1, " 等待中", " Waiting", 0},
        {0, 0, 0, " 检测中", " Detecting", 1},       {0, 1, 1, " 检测完", " Detected", 2},
        {0, 1, 0, " 停止中", " Stopping", 3},        {0, 1, -1, " 停止中", " Stopping", 3},
        {1, 2, -1, " 取样等待中", " Wait Sampling", 4}, {1, 0, 1, " 取样中", " Sampling", 5},
        {1, 1, 0, " 取样完", " Sampling Finish", 6},  {2, 0, 1, " 停止中", " Stop", 3},
        {2, 7, -1, " 停止中", " Stop", 3},           {7, 1, 1, "", "", 0},
        {0, 5, 1, "", "", 0},                       {1, -1, 1, "", "", 0},
    };
    for (const auto& r : rows) {
        FlowWork_DisplayArea d;
        d.area_text = QStringLiteral("Unit-A");
        d.area_mode = r.mode;
        d.area_workstate = r.workstate;
        d.area_result = r.result;
        d.area_language = QStringLiteral("zh-CN");
        EXPECT_EQ(d.Describe(), QStringLiteral(" Unit-A") + QString::fromUtf8(r.zh))
            << r.mode << "/" << r.workstate << "/" << r.result;
        EXPECT_EQ(d.ZRP_Runstate(), r.code);
        d.area_language = QStringLiteral("en-US");
        EXPECT_EQ(d.Describe(), QStringLiteral(" Unit-A") + QString::fromUtf8(r.en));
        EXPECT_EQ(d.ZRP_Runstate(), r.code);
    }
}

TEST(FlowJsonLists, ConvertElementByElementKeepingOrderAndLength)
{
    const QList<int> ints = func_jsonarray_2_list<int>(QJsonArray{QStringLiteral("a"), 2, QStringLiteral("7"), true});
    EXPECT_EQ(ints, (QList<int>{0, 2, 7, 1}));

    const QList<QString> texts = func_jsonarray_2_list<QString>(QJsonArray{1, QStringLiteral("b"), QJsonValue()});
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts.at(0), QStringLiteral("1"));
    EXPECT_EQ(texts.at(1), QStringLiteral("b"));
    EXPECT_TRUE(texts.at(2).isEmpty());

    EXPECT_EQ(func_list_2_jsonarray(QList<int>{3, 1, 2}), (QJsonArray{3, 1, 2}));
    EXPECT_EQ(func_list_2_jsonarray(QList<QString>{QStringLiteral("x"), QStringLiteral("y")}),
              (QJsonArray{QStringLiteral("x"), QStringLiteral("y")}));
    EXPECT_TRUE(func_jsonarray_2_list<int>(QJsonArray()).isEmpty());
}

TEST(SCollectUnit, MapFormCarriesAllSevenKeysAndMissingKeysReadAsEmpty)
{
    SCollect_Unit u;
    u.is_valid = true;
    u.detect_model = 2;
    u.detect = 4;
    u.result = true;
    u.calculate_time = 37;
    u.calculate_times = 3;
    u.collect_time = 1700000000123LL;
    const QVariantMap map = u.toMap();
    EXPECT_EQ(map.keys(), (QStringList{"calculate_time", "calculate_times", "collect_time", "detect",
                                       "detect_model", "is_valid", "result"}));
    EXPECT_EQ(SCollect_Unit(map), u);

    const SCollect_Unit empty{QVariantMap()};
    EXPECT_EQ(empty.detect, 0);
    EXPECT_EQ(empty.calculate_time, 0);
    EXPECT_EQ(empty.collect_time, 0);
    EXPECT_FALSE(empty.result);
}

}  // namespace
