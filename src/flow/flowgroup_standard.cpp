#include "flow/flowgroup_standard.h"

#include "flow/flowunit_base.h"
#include "flow/product_interface.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"

#include <QDebug>
#include <QJsonArray>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

namespace {

QString tag(const char* function)
{
    return QStringLiteral("<%1>:").arg(QLatin1String(function));
}

// Epoch ms of the last period end of any standard group; 0 before the first.
// Main thread only, like every group.
qint64 g_lastPeriodEndMs = 0;

constexpr int kTrainDelayMs = 3000;

bool isManual(Condition_Type type)
{
    return (type & CondType_ManualTrig) != 0;
}

}  // namespace

FlowGroup_Standard::FlowGroup_Standard(QObject* parent) : FlowBox_Group(parent) {}

FlowGroup_Standard::~FlowGroup_Standard() = default;

FlowWork_DisplayArea FlowGroup_Standard::unknownDisplay(const QString& language)
{
    FlowWork_DisplayArea d;
    d.area_text = QStringLiteral("UNKNOW");
    d.area_unitindex_abs = -1;
    d.area_mode = FlowRunState_Detect;
    d.area_workstate = FlowWorkState_Waiting;
    d.area_result = FlowResult_None;
    d.area_language = language;
    return d;
}

bool FlowGroup_Standard::onStart(FlowUnit_Passport passport)
{
    passport.set_group_state(fgs_state);

    if (passport.condition.cond_type == CondType_Resample) {
        init_remain_detects();
        fgs_state.fgs_remain_trains.clear();
        for (FlowUnit_Base* unit : unit_list) {
            if (unit && unit->get_enable())
                fgs_state.fgs_remain_trains.append(unit->get_detect_index());
        }
        fgs_state.fgs_runstate = FlowRunState_Sampling;
        fgs_state.fgs_remain_trains_cameras = passport.condition.cond_action_deviceids;
        fgs_state.fgs_runnode = get_next_unitnode(-1);
        passport.set_group_state(fgs_state);
        if (Product_Interface* product = inst_iface.product_iface.data())
            product->WorkEvent_Standard(passport);  // the answer carries nothing the group keeps
        return false;
    }

    const QList<FlowUnit_Base*> units = unit_list;
    for (int i = 0; i < units.size(); ++i) {
        FlowUnit_Base* unit = units.at(i);
        if (!unit || !unit->get_enable())
            continue;
        qDebug().noquote() << tag("onStart") << "++++++++++ passport"
                           << Condition_Type_2_Str(passport.condition.cond_type) << " unit-abs"
                           << unit->get_detect_index_abs();

        const CVariant<FlowUnit_Passport> answer = unit->chkPassport(passport);
        if (answer.isEmpty())
            continue;

        qCInfo(level_1).noquote() << "===> working event i/name:" << unit->get_detect_index_abs()
                                  << TRANS_LANG(QStringLiteral("en-US"), unit->get_user_describe());
        FlowUnit_Passport p = answer.getValue();
        const int rel = unit->get_detect_index();
        fgs_state.fgs_runnode = rel;

        if (p.get_group_state().fgs_remain_trains.contains(i)) {
            // Sampling path.
            fgs_state.fgs_runstate = FlowRunState_Sampling;
            p.set_group_state(fgs_state);
            unit->slot_OnStart_UnitWork(p);
            fgs_state.fgs_runnode = rel;
            fgs_state.fgs_remain_trains.removeOne(i);
        } else {
            // Detect path.
            unit->slot_OnStart_UnitWork(p);
            fgs_state.fgs_runnode = rel;
            if (rel == get_next_unitnode(-1)) {
                // The unit opens a period, unless an operator action is
                // answering a held NG stop: then the period goes on.
                const bool operatorOnStop =
                    p.get_product_state().proc_runstate == FlowRunState_NGStop
                    && (p.condition.cond_type & (CondType_NoCheck | CondType_ReDetect | CondType_AddTemplate));
                if (!operatorOnStop) {
                    init_remain_detects();
                    for (FlowUnit_Base* u : unit_list) {
                        if (u)
                            u->clear_historystorage();
                    }
                }
            }
        }
        return true;
    }
    return false;
}

void FlowGroup_Standard::slot_Group_DoUnitWorkFinish(FlowUnit_Passport passport)
{
    onFinish_Once(passport);
    if (!ng_stops.isEmpty())
        return;  // the group holds: nothing moves until the stop is lifted

    const FlowWork_Receipt r = passport.receipt;
    if (!fgs_state.fgs_remain_detects.removeOne(r.rcpt_detect_index)) {
        // The unit was not pending in this period: nothing is chained.
        fgs_state.fgs_runnode = get_next_unitnode(r.rcpt_detect_index);
        fgs_state.fgs_working_unitindex_abs = -1;
        return;
    }

    const bool manual = isManual(passport.get_unit_state().fus_last_detect_type);
    if (fgs_state.fgs_remain_detects.isEmpty()) {
        onFinish_Period();
        Product_Interface* product = inst_iface.product_iface.data();
        if (product && !manual)
            product->Statistics_updateCycleRecord();
        fgs_state.fgs_runnode = get_next_unitnode(-1);
        fgs_state.fgs_runstate = FlowRunState_Detect;
        fgs_state.fgs_working_unitindex_abs = -1;
    } else {
        fgs_state.fgs_working_unitindex_abs = -1;
        fgs_state.fgs_runnode = fgs_state.fgs_remain_detects.first();
    }

    if (manual)
        return;  // a manual cycle chains nothing

    FlowWork_Condition cond;
    cond.cond_type = CondType_PreResult;
    cond.cond_url = QStringLiteral("/dide/action/pre_result");
    cond.cond_resultctrl_preindex = r.rcpt_detect_index;
    const FlowUnit_Passport chained(new_uuid(0), cond);
    // Queued: the next unit starts once this finish is fully handled. A group
    // deleted in between drops the passport with it.
    QMetaObject::invokeMethod(
        this, [this, chained] { slot_OnStart(chained); }, Qt::QueuedConnection);
}

void FlowGroup_Standard::onFinish_Once(FlowUnit_Passport passport)
{
    const FlowWork_Receipt r = passport.receipt;
    const FlowUnit_State u = passport.get_unit_state();
    Product_Interface* product = inst_iface.product_iface.data();

    if (ng_stops.isEmpty()) {
        if (product && !isManual(u.fus_last_detect_type)) {
            product->Statistics_insertOnceDetectend(r.rcpt_collects);
            QJsonArray last;
            for (auto it = r.rcpt_collects.cbegin(); it != r.rcpt_collects.cend(); ++it) {
                QJsonObject cam;
                cam.insert(QStringLiteral("key"), it.key());
                cam.insert(QStringLiteral("calculate_time"), it.value().calculate_time);
                cam.insert(QStringLiteral("camera_result"), it.value().result);
                last.append(cam);
            }
            QJsonObject info;
            info.insert(QStringLiteral("business_id"), passport.uuid);
            info.insert(QStringLiteral("detect_time"), gettimeofday2str("yyyy-MM-dd hh:mm:ss.zzz"));
            info.insert(QStringLiteral("detect_index"), r.rcpt_detect_index);
            info.insert(QStringLiteral("result"), r.rcpt_result);
            info.insert(QStringLiteral("last_result"), last);
            product->PushMsg2Subscriber_DetectInfoOnce(info);
        }
    } else {
        // Only a real OK of the stopped step lifts the stop; a unit that
        // finished without a result (-1) must not release the machine.
        clear_NG_Stop(FlowPart_NG_Stop::makeClearOffer(r));
    }

    if (r.rcpt_ngstop) {
        update_NG_Stop(FlowPart_NG_Stop::makeStop(r));
    } else if (r.rcpt_result == FlowResult_NG && product) {
        // Alarm images belong to NG results only.
        product->saveFailImage_OnNGNoStop(r.rcpt_detect_index);
    }

    const QString language = inst_iface.language;
    FlowWork_DisplayArea d = unknownDisplay(language);
    if (u.fus_detect_index >= 0 && u.fus_detect_index < unit_list.size() && unit_list.at(u.fus_detect_index)) {
        FlowUnit_Base* unit = unit_list.at(u.fus_detect_index);
        d.area_text = TRANS_LANG(language, unit->get_user_describe());
        d.area_unitindex_abs = get_UiAbs_From_Rel(unit->get_detect_index());
        d.area_workstate = FlowWorkState_Detected;
        d.area_result = r.rcpt_result;
        d.area_mode = r.rcpt_runstate;
        if (r.rcpt_runstate == FlowRunState_NGStop && ng_stops.isEmpty())
            d.area_mode = fgs_state.fgs_runstate;
        Update_StashDisplay(d);
    }

    if (fgs_state.fgs_remain_detects.contains(r.rcpt_detect_index))
        fgs_state.update_fgs_recycle_lastresult(r.rcpt_detect_index, r);
}

void FlowGroup_Standard::onFinish_Period()
{
    if (fgs_state.fgs_runstate == FlowRunState_Sampling) {
        for (FlowUnit_Base* unit : unit_list) {
            if (!unit || !unit->get_enable())
                continue;
            Product_Interface* product = inst_iface.product_iface.data();
            if (!product)
                continue;
            // The call keeps only what it needs, by value: the group may be
            // rebuilt (deleted) before the timer fires, and the call must
            // neither touch it nor be lost. The product interface is the
            // timer's context, so a gone interface cancels the call.
            const QPointer<Product_Interface> weak(product);
            const int index = unit->get_detect_index();
            QTimer::singleShot(kTrainDelayMs, Qt::CoarseTimer, product, [weak, index] {
                if (Product_Interface* p = weak.data())
                    p->WorkRX_RunTrain_Var(index);
            });
        }
    }

    const qint64 now = gettimeofday_ms();
    if (g_lastPeriodEndMs == 0)
        g_lastPeriodEndMs = now;
    fgs_state.period_ms = int(now - g_lastPeriodEndMs);
    g_lastPeriodEndMs = now;

    emit sig_GroupPeriod_Finish();
}

void FlowGroup_Standard::update_NG_Stop(FlowPart_NG_Stop record)
{
    ng_stops = QList<FlowPart_NG_Stop>{record};
    fgs_state.fgs_runstate = FlowRunState_NGStop;
    emit sig_Update_PM_State();
}

void FlowGroup_Standard::clear_NG_Stop(FlowPart_NG_Stop record)
{
    if (!ng_stops.isEmpty() && ng_stops.first().detect_index == record.detect_index && record.result_flag)
        ng_stops.removeFirst();
    if (ng_stops.isEmpty())
        fgs_state.fgs_runstate = FlowRunState_Detect;
    emit sig_Update_PM_State();
}

void FlowGroup_Standard::slot_Update_Fgs_State()
{
    FlowBox_Group::slot_Update_Fgs_State();
    emit sig_Update_PM_State();
}

void FlowGroup_Standard::Update_StashDisplay(const FlowWork_DisplayArea& display)
{
    emit sig_Update_StashDisplay(display);
}

FlowGroup_State FlowGroup_Standard::get_RunDescribe()
{
    FlowGroup_State s = fgs_state;
    s.fgs_units_indexabs = get_subunit_indexabs();

    // The state word follows the operator's language like the unit's name.
    const QString language = inst_iface.language;
    FlowWork_DisplayArea d = unknownDisplay(language);
    const int node = s.fgs_runnode;
    if (node >= 0 && node < unit_list.size() && unit_list.at(node)) {
        FlowUnit_Base* unit = unit_list.at(node);
        const FlowWork_Receipt receipt = unit->get_UnitReceipt();
        d.area_text = TRANS_LANG(language, unit->get_user_describe());
        d.area_unitindex_abs = get_UiAbs_From_Rel(node);
        d.area_mode = fgs_state.fgs_runstate;
        d.area_workstate = receipt.rcpt_workstate;
        d.area_result = receipt.rcpt_result;
    }
    s.fgs_zrp_describe = d.Describe();
    s.fgs_zrp_flag = d.ZRP_Runstate();
    s.fgs_zrp_show_unitindex_abs = d.area_unitindex_abs;
    return s;
}

int FlowGroup_Standard::get_RunningUnit_RemainTimems()
{
    const int node = fgs_state.fgs_runnode;
    if (node >= 0 && node < unit_list.size() && unit_list.at(node))
        return unit_list.at(node)->get_UnitReceipt().rcpt_remain_ms;
    return 0;
}

int FlowGroup_Standard::get_shownode()
{
    for (FlowUnit_Base* unit : unit_list) {
        if (!unit)
            continue;
        const FlowWork_Receipt receipt = unit->get_UnitReceipt();
        if (receipt.rcpt_workstate == FlowWorkState_Detected)
            return receipt.rcpt_detect_index;
    }
    return -1;
}

QJsonObject FlowGroup_Standard::get_FlowSerialize()
{
    QJsonArray units;
    for (FlowUnit_Base* unit : unit_list) {
        if (!unit)
            continue;
        QJsonObject obj = unit->get_FlowSerialize();
        obj.insert(QStringLiteral("groupindex"), group_index);
        units.append(obj);
    }
    QJsonObject out;
    out.insert(QStringLiteral("units"), units);
    return out;
}
