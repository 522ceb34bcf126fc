#include "flow/flowunit_passport.h"
#include "foundation/logmanager.h"

#include "flow/flowmetatypes.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMap>

FlowUnit_Passport::FlowUnit_Passport() : uuid(QString(QChar(0xFFFF))) {}

FlowUnit_Passport::FlowUnit_Passport(const QString& id, const FlowWork_Condition& cond)
    : uuid(id), condition(cond)
{
}

void FlowUnit_Passport::set_product_state(FlowProc_State state) { product_state = state; }
FlowProc_State FlowUnit_Passport::get_product_state() const { return product_state; }
void FlowUnit_Passport::set_group_state(FlowGroup_State state) { group_state = state; }
FlowGroup_State FlowUnit_Passport::get_group_state() const { return group_state; }
void FlowUnit_Passport::set_unit_state(FlowUnit_State state) { unit_state = state; }
FlowUnit_State FlowUnit_Passport::get_unit_state() const { return unit_state; }

QByteArray FlowUnit_Passport::Serialization(FlowUnit_Passport passport)
{
    const FlowWork_Condition& c = passport.condition;
    const FlowGroup_State& g = passport.group_state;
    const FlowUnit_State& u = passport.unit_state;

    QJsonObject o;
    o.insert(QStringLiteral("uuid"), passport.uuid);
    o.insert(QStringLiteral("cond_type"), c.cond_type);
    o.insert(QStringLiteral("cond_url"), c.cond_url);
    o.insert(QStringLiteral("cond_action_deviceids"), func_list_2_jsonarray(c.cond_action_deviceids));
    o.insert(QStringLiteral("cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately"),
             c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
    o.insert(QStringLiteral("cond_detect_index"), c.cond_detect_index);
    o.insert(QStringLiteral("cond_resample_rm_oldtemp"), c.cond_resample_rm_oldtemp);
    o.insert(QStringLiteral("cond_resultctrl_preindex"), c.cond_resultctrl_preindex);
    o.insert(QStringLiteral("cond_resultctrl_result"), c.cond_resultctrl_result);

    o.insert(QStringLiteral("fgs_units_indexabs"), func_list_2_jsonarray(g.fgs_units_indexabs));
    o.insert(QStringLiteral("fgs_runstate"), g.fgs_runstate);
    o.insert(QStringLiteral("fgs_runnode"), g.fgs_runnode);
    o.insert(QStringLiteral("fgs_remain_detects"), func_list_2_jsonarray(g.fgs_remain_detects));
    o.insert(QStringLiteral("fgs_remain_trains"), func_list_2_jsonarray(g.fgs_remain_trains));
    o.insert(QStringLiteral("fgs_remain_trains_cameras"),
             func_list_2_jsonarray(QList<QString>(g.fgs_remain_trains_cameras)));
    o.insert(QStringLiteral("fgs_working_unitindex_abs"), g.fgs_working_unitindex_abs);
    // The receipts stay on this camera: the key is always present and null.
    o.insert(QStringLiteral("fgs_recycle_detectinfo"), QJsonValue::Null);
    o.insert(QStringLiteral("fgs_zrp_describe"), g.fgs_zrp_describe);
    o.insert(QStringLiteral("fgs_zrp_flag"), g.fgs_zrp_flag);
    o.insert(QStringLiteral("fgs_zrp_show_unitindex_abs"), g.fgs_zrp_show_unitindex_abs);

    o.insert(QStringLiteral("fus_detect_index"), u.fus_detect_index);
    o.insert(QStringLiteral("fus_detect_index_abs"), u.fus_detect_index_abs);
    o.insert(QStringLiteral("fus_last_detected_info"), QJsonObject::fromVariantMap(u.fus_last_detected_info));
    o.insert(QStringLiteral("fus_last_detect_type"), u.fus_last_detect_type);
    o.insert(QStringLiteral("fus_redetect_interval"), u.fus_redetect_interval);
    o.insert(QStringLiteral("fus_redetect_times"), u.fus_redetect_times);

    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

FlowUnit_Passport FlowUnit_Passport::Deserialization(const QByteArray& bytes, bool* ok)
{
    if (ok)
        *ok = false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        qCWarning(level_1) << "FlowUnit_Passport::Deserialization ERROR" << error.error << error.errorString();
        return FlowUnit_Passport();
    }
    if (!doc.isObject()) {
        qCWarning(level_1) << "FlowUnit_Passport::Deserialization ERROR" << "the passport is not a JSON object";
        return FlowUnit_Passport();
    }
    const QJsonObject o = doc.object();

    FlowWork_Condition c;
    c.cond_type = o.value(QStringLiteral("cond_type")).toInt();
    c.cond_url = o.value(QStringLiteral("cond_url")).toString();
    c.cond_action_deviceids =
        func_jsonarray_2_list<QString>(o.value(QStringLiteral("cond_action_deviceids")).toArray());
    c.cond_detect_index = o.value(QStringLiteral("cond_detect_index")).toInt();
    c.cond_resample_rm_oldtemp = o.value(QStringLiteral("cond_resample_rm_oldtemp")).toBool();
    c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately =
        o.value(QStringLiteral("cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately")).toBool();
    c.cond_resultctrl_preindex = o.value(QStringLiteral("cond_resultctrl_preindex")).toInt();
    c.cond_resultctrl_result = o.value(QStringLiteral("cond_resultctrl_result")).toBool();

    FlowGroup_State g;
    g.fgs_units_indexabs = func_jsonarray_2_list<int>(o.value(QStringLiteral("fgs_units_indexabs")).toArray());
    g.fgs_runstate = o.value(QStringLiteral("fgs_runstate")).toInt();
    g.fgs_runnode = o.value(QStringLiteral("fgs_runnode")).toInt();
    g.fgs_remain_detects = func_jsonarray_2_list<int>(o.value(QStringLiteral("fgs_remain_detects")).toArray());
    g.fgs_remain_trains = func_jsonarray_2_list<int>(o.value(QStringLiteral("fgs_remain_trains")).toArray());
    g.fgs_remain_trains_cameras =
        func_jsonarray_2_list<QString>(o.value(QStringLiteral("fgs_remain_trains_cameras")).toArray());
    g.fgs_working_unitindex_abs = o.value(QStringLiteral("fgs_working_unitindex_abs")).toInt();
    g.fgs_zrp_describe = o.value(QStringLiteral("fgs_zrp_describe")).toString();
    g.fgs_zrp_flag = o.value(QStringLiteral("fgs_zrp_flag")).toInt();
    g.fgs_zrp_show_unitindex_abs = o.value(QStringLiteral("fgs_zrp_show_unitindex_abs")).toInt();

    FlowUnit_State u;
    u.fus_detect_index = o.value(QStringLiteral("fus_detect_index")).toInt();
    u.fus_detect_index_abs = o.value(QStringLiteral("fus_detect_index_abs")).toInt();
    u.fus_last_detected_info = o.value(QStringLiteral("fus_last_detected_info")).toObject().toVariantMap();
    u.fus_last_detect_type = o.value(QStringLiteral("fus_last_detect_type")).toInt();
    u.fus_redetect_interval = o.value(QStringLiteral("fus_redetect_interval")).toInt();
    u.fus_redetect_times = o.value(QStringLiteral("fus_redetect_times")).toInt();

    FlowUnit_Passport passport(o.value(QStringLiteral("uuid")).toString(), c);
    passport.set_group_state(g);
    passport.set_unit_state(u);
    if (ok)
        *ok = true;
    return passport;
}

bool FlowUnit_Passport::Merge_Passport(FlowUnit_Passport& target, FlowUnit_Passport source)
{
    if (target.condition.cond_type != CondType_IOTrig || source.condition.cond_type != CondType_IOTrig)
        return false;
    QMap<int, ElectricLevel> levels;
    for (const IO_IndexLevel& p : target.condition.cond_trig_levels)
        levels.insert(p.index, p.level);
    for (const IO_IndexLevel& p : source.condition.cond_trig_levels)
        levels.insert(p.index, p.level);
    QList<IO_IndexLevel> merged;
    for (auto it = levels.cbegin(); it != levels.cend(); ++it)
        merged.append(IO_IndexLevel{it.key(), it.value()});
    target.condition.cond_trig_levels = merged;
    return true;
}
