// The passport: its JSON form as the cameras of a group exchange it, reading
// it back, copying, merging trigger lists, and crossing queued connections.
#include "flow/flowmetatypes.h"
#include "flow/flowunit_passport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include "support/logcapture.h"

#include <gtest/gtest.h>

namespace {

using WarningCapture = testsupport::LogCapture;

FlowUnit_Passport fullPassport()
{
    FlowWork_Condition c;
    c.cond_type = CondType_ManualTrig;
    c.cond_url = QStringLiteral("/dide/action/manual_catch");
    c.cond_action_deviceids = QStringList{QStringLiteral("CAM-A"), QStringLiteral("CAM-B")};
    c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    c.cond_extra_flag1 = false;
    c.cond_extra_flag2 = false;
    c.cond_extra_flag3 = false;
    c.cond_trig_levels = {IO_IndexLevel{2, ElectricLevel_High}};
    c.cond_input_bits = 0x15;
    c.cond_detect_index = 3;
    c.cond_detect_index_abs = 7;
    c.cond_resample_rm_oldtemp = true;
    c.cond_resultctrl_preindex = 2;
    c.cond_resultctrl_result = false;
    FlowUnit_Passport p(QStringLiteral("abc123"), c);

    FlowGroup_State g;
    g.fgs_units_indexabs = {4, 5, 6};
    g.fgs_runstate = 2;
    g.fgs_runnode = 1;
    g.fgs_remain_detects = {1, 2};
    g.fgs_remain_trains = {0};
    g.fgs_remain_trains_cameras = QStringList{QStringLiteral("CAM-B")};
    g.fgs_working_unitindex_abs = 5;
    g.period_ms = 1234;
    FlowWork_Receipt kept;
    kept.rcpt_result = 0;
    g.fgs_recycle_detectinfo.insert(1, kept);
    g.fgs_zrp_describe = QStringLiteral(" Unit 停止中");
    g.fgs_zrp_flag = 3;
    g.fgs_zrp_show_unitindex_abs = 5;
    p.set_group_state(g);

    FlowUnit_State u;
    u.fus_detect_index = 1;
    u.fus_detect_index_abs = 5;
    u.fus_last_detected_info.insert(QStringLiteral("CAM-A"), QVariantMap{{QStringLiteral("result"), true}});
    u.fus_last_detect_type = CondType_IOTrig;
    u.fus_redetect_interval = 250;
    u.fus_redetect_times = 3;
    p.set_unit_state(u);

    FlowProc_State proc;
    proc.proc_group_index = 1;
    proc.proc_runstate = 2;
    proc.proc_running_node = 5;
    p.set_product_state(proc);

    p.receipt.rcpt_detect_index = 1;
    p.receipt.rcpt_result = 1;
    p.receipt.rcpt_workstate = 1;
    p.receipt.rcpt_ngstop = true;
    p.receipt.rcpt_remain_ms = 40;
    p.receipt.rcpt_collects.insert(QStringLiteral("CAM-A"), SCollect_Unit());
    return p;
}

TEST(PassportDefaults, HoldTheRecordDefaultsAndTheNonCharacterUuid)
{
    const FlowUnit_Passport p;
    EXPECT_EQ(p.uuid, QString(QChar(0xFFFF)));
    EXPECT_EQ(p.uuid.size(), 1);
    EXPECT_EQ(p.condition.cond_type, 0);
    EXPECT_EQ(p.receipt.rcpt_workstate, 2);
    EXPECT_EQ(p.get_product_state().proc_group_index, -1);
    EXPECT_EQ(p.get_group_state().fgs_runnode, -1);
    EXPECT_EQ(p.get_unit_state().fus_redetect_interval, 100);

    FlowWork_Condition c;
    c.cond_type = CondType_IOTrig;
    const FlowUnit_Passport q(QStringLiteral("u-1"), c);
    EXPECT_EQ(q.uuid, QStringLiteral("u-1"));
    EXPECT_EQ(q.condition.cond_type, CondType_IOTrig);
    EXPECT_EQ(q.get_group_state(), FlowGroup_State());
}

TEST(PassportJson, WritesExactlyTheListedKeysIndentedByFourSpaces)
{
    const QByteArray json = FlowUnit_Passport::Serialization(fullPassport());
    EXPECT_TRUE(json.startsWith("{\n    \""));
    EXPECT_FALSE(json.contains('\t'));

    const QJsonObject o = QJsonDocument::fromJson(json).object();
    QStringList keys = o.keys();
    keys.sort();
    QStringList expected = {"uuid", "cond_type", "cond_url", "cond_action_deviceids",
                            "cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately", "cond_detect_index",
                            "cond_resample_rm_oldtemp", "cond_resultctrl_preindex", "cond_resultctrl_result",
                            "fgs_units_indexabs", "fgs_runstate", "fgs_runnode", "fgs_remain_detects",
                            "fgs_remain_trains", "fgs_remain_trains_cameras", "fgs_working_unitindex_abs",
                            "fgs_recycle_detectinfo", "fgs_zrp_describe", "fgs_zrp_flag",
                            "fgs_zrp_show_unitindex_abs", "fus_detect_index", "fus_detect_index_abs",
                            "fus_last_detected_info", "fus_last_detect_type", "fus_redetect_interval",
                            "fus_redetect_times"};
    expected.sort();
    EXPECT_EQ(keys, expected);

    // The group's receipts never leave the camera, even when it holds some.
    EXPECT_TRUE(o.value("fgs_recycle_detectinfo").isNull());
    EXPECT_EQ(o.value("uuid").toString(), QStringLiteral("abc123"));
    EXPECT_EQ(o.value("cond_type").toInt(), 2);
    EXPECT_EQ(o.value("cond_action_deviceids").toArray(), (QJsonArray{"CAM-A", "CAM-B"}));
    EXPECT_TRUE(o.value("cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately").isBool());
    EXPECT_EQ(o.value("fgs_units_indexabs").toArray(), (QJsonArray{4, 5, 6}));
    EXPECT_EQ(o.value("fus_last_detected_info").toObject().value("CAM-A").toObject().value("result"),
              QJsonValue(true));
    EXPECT_EQ(o.value("fus_redetect_interval").toInt(), 250);

    FlowUnit_Passport none;
    EXPECT_TRUE(QJsonDocument::fromJson(FlowUnit_Passport::Serialization(none)).object().value(
        "fgs_recycle_detectinfo").isNull());
}

TEST(PassportJson, ReadingBackKeepsWhatIsWrittenAndDefaultsTheRest)
{
    const FlowUnit_Passport in = fullPassport();
    bool ok = false;
    const FlowUnit_Passport out = FlowUnit_Passport::Deserialization(FlowUnit_Passport::Serialization(in), &ok);
    EXPECT_TRUE(ok);

    EXPECT_EQ(out.uuid, in.uuid);
    const FlowWork_Condition& c = out.condition;
    EXPECT_EQ(c.cond_type, in.condition.cond_type);
    EXPECT_EQ(c.cond_url, in.condition.cond_url);
    EXPECT_EQ(c.cond_action_deviceids, in.condition.cond_action_deviceids);
    EXPECT_TRUE(c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    EXPECT_EQ(c.cond_detect_index, 3);
    EXPECT_TRUE(c.cond_resample_rm_oldtemp);
    EXPECT_EQ(c.cond_resultctrl_preindex, 2);
    EXPECT_FALSE(c.cond_resultctrl_result);
    // Not written: back at their defaults.
    EXPECT_TRUE(c.cond_extra_flag1);
    EXPECT_TRUE(c.cond_extra_flag2);
    EXPECT_TRUE(c.cond_extra_flag3);
    EXPECT_TRUE(c.cond_trig_levels.isEmpty());
    EXPECT_EQ(c.cond_input_bits, 0);
    EXPECT_EQ(c.cond_detect_index_abs, -1);

    FlowGroup_State expectedGroup = in.get_group_state();
    expectedGroup.period_ms = 0;
    EXPECT_EQ(out.get_group_state(), expectedGroup);
    EXPECT_TRUE(out.get_group_state().fgs_recycle_detectinfo.isEmpty());

    const FlowUnit_State u = out.get_unit_state();
    EXPECT_EQ(u.fus_detect_index, 1);
    EXPECT_EQ(u.fus_detect_index_abs, 5);
    EXPECT_EQ(u.fus_last_detected_info, in.get_unit_state().fus_last_detected_info);
    EXPECT_EQ(u.fus_last_detect_type, CondType_IOTrig);
    EXPECT_EQ(u.fus_redetect_interval, 250);
    EXPECT_EQ(u.fus_redetect_times, 3);

    const FlowWork_Receipt r = out.receipt;
    EXPECT_EQ(r.rcpt_detect_index, -1);
    EXPECT_EQ(r.rcpt_runstate, 0);
    EXPECT_EQ(r.rcpt_workstate, 2);
    EXPECT_EQ(r.rcpt_result, -1);
    EXPECT_TRUE(r.rcpt_collects.isEmpty());
    EXPECT_FALSE(r.rcpt_ngstop);
    EXPECT_EQ(r.rcpt_remain_ms, 0);
    EXPECT_EQ(out.get_product_state().proc_group_index, -1);
    EXPECT_EQ(out.get_product_state().proc_runstate, 0);
    EXPECT_EQ(out.get_product_state().proc_running_node, -1);
}

TEST(PassportJson, MissingKeysReadAsEmptyValuesNotAsDefaults)
{
    bool ok = false;
    const FlowUnit_Passport p = FlowUnit_Passport::Deserialization(R"({"uuid":"a"})", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(p.uuid, QStringLiteral("a"));
    EXPECT_EQ(p.condition.cond_type, 0);
    EXPECT_EQ(p.condition.cond_detect_index, 0);
    EXPECT_FALSE(p.condition.cond_resultctrl_result);
    EXPECT_EQ(p.get_group_state().fgs_runnode, 0);
    EXPECT_EQ(p.get_group_state().fgs_working_unitindex_abs, 0);
    EXPECT_EQ(p.get_unit_state().fus_redetect_interval, 0);
    EXPECT_EQ(p.get_unit_state().fus_detect_index, 0);

    // A value of another JSON type reads as empty too.
    const FlowUnit_Passport q = FlowUnit_Passport::Deserialization(
        R"({"uuid":5,"cond_type":"8","cond_action_deviceids":"x","fgs_runnode":true})", &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(q.uuid.isEmpty());
    EXPECT_EQ(q.condition.cond_type, 0);
    EXPECT_TRUE(q.condition.cond_action_deviceids.isEmpty());
    EXPECT_EQ(q.get_group_state().fgs_runnode, 0);
}

TEST(PassportJson, AnUnreadableTextGivesTheDefaultPassportAWarningAndAFailure)
{
    const QByteArray texts[] = {
        R"({"uuid":"a","fgs_runnode":[1,2)",  // truncated array
        "",
        "not json at all",
        "[1, 2, 3]",  // JSON, but not a passport object
    };
    for (const QByteArray& text : texts) {
        WarningCapture capture;
        bool ok = true;
        const FlowUnit_Passport p = FlowUnit_Passport::Deserialization(text, &ok);
        EXPECT_FALSE(ok) << text.constData();
        EXPECT_EQ(p.uuid, QString(QChar(0xFFFF)));
        EXPECT_EQ(p.condition.cond_type, 0);
        EXPECT_EQ(p.condition.cond_detect_index, -1);
        EXPECT_EQ(p.get_group_state().fgs_runnode, -1);
        ASSERT_EQ(capture.warnings().size(), 1) << text.constData();
        EXPECT_TRUE(capture.warnings().first().startsWith("FlowUnit_Passport::Deserialization ERROR"));
    }
    // The flag is optional.
    EXPECT_EQ(FlowUnit_Passport::Deserialization("{").uuid, QString(QChar(0xFFFF)));
}

TEST(Passport, CopiesAreIndependentValues)
{
    FlowUnit_Passport a = fullPassport();
    FlowUnit_Passport b = a;
    b.uuid = QStringLiteral("other");
    b.condition.cond_action_deviceids << QStringLiteral("CAM-C");
    FlowGroup_State g = b.get_group_state();
    g.fgs_remain_detects.clear();
    b.set_group_state(g);
    b.receipt.rcpt_collects.clear();

    EXPECT_EQ(a.uuid, QStringLiteral("abc123"));
    EXPECT_EQ(a.condition.cond_action_deviceids.size(), 2);
    EXPECT_EQ(a.get_group_state().fgs_remain_detects, (QList<int>{1, 2}));
    EXPECT_EQ(a.receipt.rcpt_collects.size(), 1);

    FlowUnit_Passport c;
    c = a;
    EXPECT_EQ(FlowUnit_Passport::Serialization(c), FlowUnit_Passport::Serialization(a));
    EXPECT_EQ(c.receipt.rcpt_remain_ms, 40);
    EXPECT_EQ(c.get_product_state().proc_running_node, 5);
}

TEST(Passport, MergeJoinsTheTriggerListsOfTwoPureIoPassports)
{
    auto io = [](int type, QList<IO_IndexLevel> levels) {
        FlowWork_Condition c;
        c.cond_type = type;
        c.cond_trig_levels = levels;
        c.cond_url = QStringLiteral("/dide/action/io_catch");
        return FlowUnit_Passport(QStringLiteral("t"), c);
    };
    const IO_IndexLevel h0{0, ElectricLevel_High}, l3{3, ElectricLevel_Low}, h3{3, ElectricLevel_High},
        h1{1, ElectricLevel_High};

    FlowUnit_Passport target = io(1, {h0, l3});
    EXPECT_TRUE(FlowUnit_Passport::Merge_Passport(target, io(1, {h3, h1})));
    EXPECT_EQ(target.condition.cond_trig_levels, (QList<IO_IndexLevel>{h0, h1, h3}));
    EXPECT_EQ(target.uuid, QStringLiteral("t"));

    for (int other : {5, 0, 2}) {
        FlowUnit_Passport t2 = io(1, {h0, l3});
        EXPECT_FALSE(FlowUnit_Passport::Merge_Passport(t2, io(other, {h3, h1}))) << other;
        EXPECT_EQ(t2.condition.cond_trig_levels, (QList<IO_IndexLevel>{h0, l3}));
        FlowUnit_Passport t3 = io(other, {h0});
        EXPECT_FALSE(FlowUnit_Passport::Merge_Passport(t3, io(1, {h1})));
        EXPECT_EQ(t3.condition.cond_trig_levels, (QList<IO_IndexLevel>{h0}));
    }
}

TEST(PassportMetaType, TheFlowValueTypesAreRegisteredByTheirNames)
{
    registerFlowMetaTypes();
    for (const char* name : {"FlowUnit_Passport", "FlowWork_Receipt", "FlowGroup_State", "FlowUnit_State",
                             "FlowProc_State", "FlowWork_DisplayArea", "SCollect_Unit"})
        EXPECT_NE(QMetaType::type(name), int(QMetaType::UnknownType)) << name;
}

}  // namespace
