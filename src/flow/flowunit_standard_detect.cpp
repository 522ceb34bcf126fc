#include "flow/flowunit_standard_detect.h"

#include "flow/flowbox_group.h"
#include "flow/flowpart_aftdect_ngstop.h"
#include "flow/flowpart_afterdetect.h"
#include "flow/flowpart_base.h"
#include "flow/flowpart_cond_addtemp.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_cond_nocheck.h"
#include "flow/flowpart_cond_preresult.h"
#include "flow/flowpart_cond_redetect.h"
#include "flow/flowpart_condition.h"
#include "flow/flowpart_detect.h"
#include "flow/flowpart_io.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"

#include <QDebug>
#include <QJsonArray>
#include <QMetaObject>

#include <algorithm>

namespace {

QString tag(const char* function)
{
    return QStringLiteral("<%1>:").arg(QLatin1String(function));
}

bool isValidIoIndex(int index) { return index >= 0 && index < kIoPointCount; }

// The keys of a part object that the serialisation writes but no reader
// takes back.
const char* const kIgnoredPartKeys[] = {"input_with", "act_cond_parambox", "classify_okng"};

void addIgnoredPartKeys(const QJsonObject& part, QStringList& keys)
{
    for (const char* key : kIgnoredPartKeys) {
        const QJsonValue v = part.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            continue;
        if (v.isArray() && v.toArray().isEmpty())
            continue;
        if (!keys.contains(QLatin1String(key)))
            keys << QLatin1String(key);
    }
}

}  // namespace

FlowUnit_Standard_Detect::FlowUnit_Standard_Detect(FlowBox_Group* g) : FlowUnit_Base(g), group(g)
{
    unit_type = QStringLiteral("FlowUnit_Standard_Detect");
    const FlowInstIface groupIface = group ? group->inst_iface : FlowInstIface();

    part_detect = new FlowPart_Detect(this);
    part_detect->set_inst_iface(groupIface);
    connect(part_detect, &FlowPart_Base::sig_update_unit_receipt, this,
            &FlowUnit_Base::slot_ModifyReceipt_OnWorking);
    connect(part_detect, &FlowPart_Detect::sig_part_finish, this, &FlowUnit_Base::slot_OnFinish_UnitWork,
            Qt::QueuedConnection);

    // The four operator conditions have no owner unit (they find their unit
    // by its indexes), but the unit is their parent so that they go with it
    // even when nobody clears the unit first.
    const QList<FlowPart_Condition*> defaults = {
        new FlowPart_Cond_ManualTrig(nullptr),
        new FlowPart_Cond_Nocheck(nullptr),
        new FlowPart_Cond_ReDetect(nullptr),
        new FlowPart_Cond_AddTemp(nullptr),
    };
    for (FlowPart_Condition* cond : defaults) {
        cond->setParent(this);
        cond->set_inst_iface(groupIface);
        part_cond.append(cond);
    }
}

FlowUnit_Standard_Detect::~FlowUnit_Standard_Detect() = default;

// ---- Run ----------------------------------------------------------------------------

CVariant<FlowUnit_Passport> FlowUnit_Standard_Detect::chkPassport(FlowUnit_Passport passport)
{
    CVariant<FlowUnit_Passport> result;
    const QList<FlowPart_Base*> conditions = part_cond;
    for (FlowPart_Base* part : conditions) {
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        if (!cond)
            continue;
        // Conditions that wait for their turn are asked only once the group's
        // run node has reached this unit.
        if (!cond->get_cond_flag(0) && !cond->get_runnode_override()
            && passport.get_group_state().fgs_runnode < get_detect_index())
            continue;
        if (!cond->chkCondSet(passport))
            continue;

        if (!history.contains(cond->get_part_uuid()))
            history.append(cond->get_part_uuid());
        qCInfo(level_1).noquote() << cond->get_part_type() << "√";
        FlowUnit_Passport copy = passport;
        copy.condition.cond_detect_index = get_detect_index();
        copy.condition.cond_detect_index_abs = get_detect_index_abs();
        cond->onStart(copy);

        const QList<FlowUnit_Passport> produced = cond->get_out_passports();
        if (!produced.isEmpty())
            result.setValue(produced.first());
    }
    if (result.isEmpty())
        qInfo().noquote() << tag("chkPassport") << "FlowPart_Cond Checked " << "×";
    return result;
}

void FlowUnit_Standard_Detect::slot_OnStart_UnitWork(FlowUnit_Passport passport)
{
    work_passport = passport;
    set_isworking(true);
    emit sig_unit_Update_Fgs_State();

    FlowUnit_State state;
    state.fus_detect_index = get_detect_index();
    state.fus_detect_index_abs = get_detect_index_abs();
    state.fus_last_detected_info = stash_lastresult;
    state.fus_redetect_interval = 100;
    state.fus_redetect_times = 0;
    const Condition_Type type = work_passport.condition.cond_type;
    if (type & (CondType_IOTrig | CondType_ManualTrig | CondType_PreResult))
        set_last_detect_type(type);
    state.fus_last_detect_type = get_last_detect_type();
    work_passport.set_unit_state(state);

    if (part_detect) {
        part_detect->onStart(work_passport);
        return;
    }
    // Without a detect part no finish would ever come and the group would
    // wait for this unit for good: finish it without a result.
    qCWarning(level_1).noquote() << tag("slot_OnStart_UnitWork") << "unit" << get_detect_index_abs()
                         << "has no detect part; finished without a result";
    FlowWork_Receipt receipt = work_passport.receipt;
    receipt.rcpt_workstate = FlowWorkState_Detected;
    receipt.rcpt_result = FlowResult_None;
    receipt.rcpt_collects.clear();
    receipt.rcpt_remain_ms = 0;
    QMetaObject::invokeMethod(
        this, [this, receipt] { slot_OnFinish_UnitWork(receipt); }, Qt::QueuedConnection);
}

void FlowUnit_Standard_Detect::slot_OnFinish_UnitWork(FlowWork_Receipt receipt)
{
    // 1. The receipt, stamped with this unit and the group's run state.
    FlowWork_Receipt r = receipt;
    r.rcpt_detect_index = get_detect_index();
    r.rcpt_runstate = work_passport.get_group_state().fgs_runstate;
    work_passport.receipt = r;

    // 2. The last result of every camera.
    QVariantMap results;
    for (auto it = r.rcpt_collects.cbegin(); it != r.rcpt_collects.cend(); ++it) {
        QVariantMap entry;
        entry.insert(QStringLiteral("result"), it.value().result);
        results.insert(it.key(), entry);
    }
    update_Stash_LastResultMaps(results);

    // 3. The after-detect parts of the result's class, in list order. An
    // NG-stop part reports the flagged receipt back through
    // slot_ModifyReceipt_OnWorking, so later parts see it.
    const QList<FlowPart_Base*> afters = part_after;
    for (FlowPart_Base* part : afters) {
        auto* after = qobject_cast<FlowPart_AfterDetect*>(part);
        if (after && int(after->get_Classify_OKNG()) == r.rcpt_result)
            after->onStart(work_passport);
    }

    // 4. The group takes the finish while the unit still reports working.
    emit sig_unit_workfinish(work_passport);

    // 5. The result to the operator application.
    if (Product_Interface* product = inst_iface.product_iface.data())
        product->PushMsg2APP_OnFinishUnitWork_RunResult(work_passport);

    // 6. A cycle that stops the machine stays at "detected".
    if (!work_passport.receipt.rcpt_ngstop)
        work_passport.receipt.rcpt_workstate = FlowWorkState_Waiting;

    // 7.
    set_isworking(false);
    emit sig_unit_Update_Fgs_State();
}

FlowWork_Receipt FlowUnit_Standard_Detect::get_UnitReceipt()
{
    if (part_detect)
        work_passport.receipt.rcpt_remain_ms = part_detect->getReceipt().rcpt_remain_ms;
    return work_passport.receipt;
}

int FlowUnit_Standard_Detect::get_QuickChk_ManualTrig(FlowUnit_Passport passport)
{
    for (FlowPart_Base* part : part_cond) {
        if (!part || part->get_part_type() != QLatin1String("FlowPart_Cond_ManualTrig"))
            continue;
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        if (cond && cond->chkCondSet(passport))
            return get_detect_index_abs();
    }
    return -1;
}

void FlowUnit_Standard_Detect::clear_frames()
{
    if (part_detect) {
        part_detect->deleteLater();
        part_detect = nullptr;
    }
    for (FlowPart_Base* part : part_cond) {
        if (part)
            part->deleteLater();
    }
    part_cond.clear();
    for (FlowPart_Base* part : part_after) {
        if (part)
            part->deleteLater();
    }
    part_after.clear();
}

void FlowUnit_Standard_Detect::clear_historystorage() { history.clear(); }

void FlowUnit_Standard_Detect::update_Stash_LastResultMaps(const QVariantMap& results)
{
    for (auto it = results.cbegin(); it != results.cend(); ++it)
        stash_lastresult.insert(it.key(), it.value());
}

// ---- Structure and JSON ---------------------------------------------------------

QJsonObject FlowUnit_Standard_Detect::get_FlowSerialize()
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), TRANS_LANG(inst_iface.language, get_user_describe()));
    o.insert(QStringLiteral("index"), get_detect_index());
    o.insert(QStringLiteral("type"), unit_type);
    o.insert(QStringLiteral("enable"), get_enable());
    QJsonArray conds;
    for (const FlowPart_Base* part : part_cond) {
        if (part)
            conds.append(part->Serialize_2_Json());
    }
    o.insert(QStringLiteral("part_cond"), conds);
    o.insert(QStringLiteral("part_detect"), part_detect ? part_detect->Serialize_2_Json() : QJsonObject());
    QJsonArray afters;
    for (const FlowPart_Base* part : part_after) {
        if (part)
            afters.append(part->Serialize_2_Json());
    }
    o.insert(QStringLiteral("part_after"), afters);
    return o;
}

FlowPart_Base* FlowUnit_Standard_Detect::Instance_Structure_FromJson(const QJsonObject& obj)
{
    const QString type = obj.value(QStringLiteral("type")).toString();
    const QString name = obj.value(QStringLiteral("name")).toString();

    FlowPart_Base* part = nullptr;
    if (type == QLatin1String("FlowPart_Cond_IO") || type == QLatin1String("FlowPart_IO"))
        part = new FlowPart_Cond_IO(this);  // "FlowPart_IO" here names an IO condition
    else if (type == QLatin1String("FlowPart_Cond_IO_ChgOper"))
        part = new FlowPart_Cond_IO_ChgOper(this);
    else if (type == QLatin1String("FlowPart_Cond_PreResult"))
        part = new FlowPart_Cond_PreResult(this);
    else if (type == QLatin1String("FlowPart_AftDect_NGStop"))
        part = new FlowPart_AftDect_NGStop(this);
    else if (type == QLatin1String("FlowPart_Detect"))
        part = new FlowPart_Detect(this);
    if (!part)
        return nullptr;

    part->set_inst_iface(inst_iface);
    part->Structure_FromJson(obj);
    part->set_user_describe(name);
    return part;
}

bool FlowUnit_Standard_Detect::addptr_2_part_cond(FlowPart_Base* part)
{
    if (!part)
        return false;
    if (part_cond.contains(part))
        return false;
    if (!qobject_cast<FlowPart_Condition*>(part)) {
        qCWarning(level_1).noquote() << tag("addptr_2_part_cond") << part->get_part_type()
                             << "is not a condition part; dropped";
        if (part != part_detect && !part_after.contains(part))
            part->deleteLater();
        return false;
    }
    if (part->parent() != this)
        part->setParent(this);
    part_cond.append(part);
    return true;
}

bool FlowUnit_Standard_Detect::addptr_2_part_detect(FlowPart_Base* part)
{
    if (!part)
        return false;
    if (part == part_detect)
        return true;
    auto* detect = qobject_cast<FlowPart_Detect*>(part);
    if (!detect) {
        qCWarning(level_1).noquote() << tag("addptr_2_part_detect") << part->get_part_type()
                             << "is not a detect part; dropped";
        if (!part_cond.contains(part) && !part_after.contains(part))
            part->deleteLater();
        return false;
    }
    if (part_detect) {
        disconnect(part_detect, nullptr, this, nullptr);
        part_detect->deleteLater();
    }
    part_detect = detect;
    if (detect->parent() != this)
        detect->setParent(this);
    // The new detect part reports to the unit as the first one did, or the
    // unit would never finish its work.
    connect(detect, &FlowPart_Base::sig_update_unit_receipt, this, &FlowUnit_Base::slot_ModifyReceipt_OnWorking);
    connect(detect, &FlowPart_Detect::sig_part_finish, this, &FlowUnit_Base::slot_OnFinish_UnitWork,
            Qt::QueuedConnection);
    return true;
}

QStringList FlowUnit_Standard_Detect::ignoredJsonKeys(const QJsonObject& unitObject)
{
    QStringList keys;
    const QJsonValue enable = unitObject.value(QStringLiteral("enable"));
    if (enable.isBool() && !enable.toBool())
        keys << QStringLiteral("enable");
    if (!unitObject.value(QStringLiteral("part_after")).toArray().isEmpty())
        keys << QStringLiteral("part_after");
    for (const QJsonValue& v : unitObject.value(QStringLiteral("part_cond")).toArray())
        addIgnoredPartKeys(v.toObject(), keys);
    addIgnoredPartKeys(unitObject.value(QStringLiteral("part_detect")).toObject(), keys);
    return keys;
}

int FlowUnit_Standard_Detect::Structure_FromJson(const QJsonObject& unitObject)
{
    const QStringList ignored = ignoredJsonKeys(unitObject);
    if (!ignored.isEmpty()) {
        qCWarning(level_1).noquote() << tag("Structure_FromJson") << "unit"
                          << unitObject.value(QStringLiteral("index")).toInt()
                          << "keys written but not read back:" << ignored.join(QStringLiteral(", "));
    }
    int taken = 0;
    for (const QJsonValue& v : unitObject.value(QStringLiteral("part_cond")).toArray()) {
        FlowPart_Base* part = Instance_Structure_FromJson(v.toObject());
        if (part && addptr_2_part_cond(part))
            ++taken;
    }
    FlowPart_Base* detect = Instance_Structure_FromJson(unitObject.value(QStringLiteral("part_detect")).toObject());
    if (detect && addptr_2_part_detect(detect))
        ++taken;
    return taken;
}

void FlowUnit_Standard_Detect::set_cond_sortindex(int index, int index_abs)
{
    for (FlowPart_Base* part : part_cond) {
        if (auto* cond = qobject_cast<FlowPart_Condition*>(part))
            cond->set_cond_sortindex(index, index_abs);
    }
}

// ---- Builders -------------------------------------------------------------------

void FlowUnit_Standard_Detect::adoptPart(FlowPart_Base* part)
{
    if (part->parent() != this)
        part->setParent(this);
    part->set_inst_iface(inst_iface);
}

FlowPart_Cond_IO* FlowUnit_Standard_Detect::create_0_Cond_TrigIO(int input)
{
    auto* cond = new FlowPart_Cond_IO(this);
    adoptPart(cond);
    QList<IO_IndexLevel> levels;
    if (FrameIO* frame = inst_iface.frame_io.data()) {
        for (ElectricLevel level : frame->getInput_AbsIOTrig(input))
            levels.append(IO_IndexLevel{input, level});
    }
    if (levels != cond->get_trigger_list())
        cond->set_trigger_list(levels);
    part_cond.append(cond);
    return cond;
}

FlowPart_Cond_IO* FlowUnit_Standard_Detect::create_0_Cond_TrigIO(int input, ElectricLevel level)
{
    auto* cond = new FlowPart_Cond_IO(this);
    adoptPart(cond);
    const QList<IO_IndexLevel> levels = {IO_IndexLevel{input, level}};
    if (levels != cond->get_trigger_list())
        cond->set_trigger_list(levels);
    part_cond.append(cond);
    return cond;
}

FlowPart_Cond_PreResult* FlowUnit_Standard_Detect::create_0_Cond_PreResult(int preindex, bool result)
{
    auto* cond = new FlowPart_Cond_PreResult(this);
    adoptPart(cond);
    cond->set_cond_resultctrl(preindex, result);
    part_cond.append(cond);
    return cond;
}

FlowPart_Cond_IO_ChgOper* FlowUnit_Standard_Detect::create_0_Cond_ChgIO_Operate(QPair<int, ElectricLevel> io,
                                                                                Condition_Type type)
{
    auto* cond = new FlowPart_Cond_IO_ChgOper(this);
    adoptPart(cond);
    cond->set_cond_sortindex(get_detect_index(), cond->get_cond_sortindex_abs());
    if (isValidIoIndex(io.first)) {
        const QList<IO_IndexLevel> levels = {IO_IndexLevel{io.first, io.second}};
        if (levels != cond->get_trigger_list())
            cond->set_trigger_list(levels);
    }
    cond->set_ChgIO_Operate(type);
    part_cond.append(cond);
    return cond;
}

FlowPart_Cond_IO_ChgOper* FlowUnit_Standard_Detect::create_0_Cond_ChgIO_Operate(QPair<int, ElectricLevel> io,
                                                                                FlowWork_Condition* startCond)
{
    auto* cond = new FlowPart_Cond_IO_ChgOper(this);
    adoptPart(cond);
    if (startCond)
        cond->set_ChgIO_SpecOperate(*startCond);
    else
        qCWarning(level_1).noquote() << tag("create_0_Cond_ChgIO_Operate") << "no start condition given";
    const QList<IO_IndexLevel> levels = {IO_IndexLevel{io.first, io.second}};
    if (levels != cond->get_trigger_list())
        cond->set_trigger_list(levels);
    part_cond.append(cond);
    return cond;
}

FlowPart_AftDect_NGStop* FlowUnit_Standard_Detect::create_3_NG_Stop()
{
    auto* stop = new FlowPart_AftDect_NGStop(this);
    adoptPart(stop);
    stop->set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    connect(stop, &FlowPart_Base::sig_update_unit_receipt, this, &FlowUnit_Base::slot_ModifyReceipt_OnWorking);
    part_after.append(stop);
    return stop;
}

FlowPart_AfterDetect* FlowUnit_Standard_Detect::create_3_AftIO_OK(QList<int> outputs, IOState_Rel state,
                                                                  int delay, int pulse)
{
    auto* after = new FlowPart_AfterDetect(this);
    adoptPart(after);
    after->add_action_iooutput(outputs, state, std::max(delay, 0), std::max(pulse, 0));
    after->set_Classify_OKNG(FlowPart_AfterDetect::Result_OK);
    part_after.append(after);
    return after;
}

FlowPart_AfterDetect* FlowUnit_Standard_Detect::create_3_AftIO_NG(QList<int> outputs, IOState_Rel state,
                                                                  int delay, int pulse)
{
    auto* after = new FlowPart_AfterDetect(this);
    adoptPart(after);
    after->add_action_iooutput(outputs, state, std::max(delay, 0), std::max(pulse, 0));
    after->set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    part_after.append(after);
    return after;
}

// ---- Editors --------------------------------------------------------------------

void FlowUnit_Standard_Detect::set_2_DetectDelayTime(int ms)
{
    if (part_detect)
        part_detect->set_delay_ms(std::max(ms, 0));
}

void FlowUnit_Standard_Detect::setRedetectTimes(int times, int interval)
{
    if (!part_detect)
        return;
    part_detect->set_redetect_times(times);
    part_detect->set_redetect_interval(std::max(interval, 0));
}

void FlowUnit_Standard_Detect::add_all_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse)
{
    for (FlowPart_Base* part : part_cond) {
        if (auto* cond = qobject_cast<FlowPart_Condition*>(part))
            cond->add_action_iooutput(outputs, state, std::max(delay, 0), std::max(pulse, 0));
    }
}

void FlowUnit_Standard_Detect::add_1_PreIO_BeforeDetect(QList<int> outputs, IOState_Rel state, int before, int pulse)
{
    const int detectDelay = part_detect ? part_detect->get_delay_ms() : 0;
    const int delay = std::max(detectDelay - before, 0);
    for (FlowPart_Base* part : part_cond) {
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        if (cond && cond->get_cond_flag(1))
            cond->add_action_iooutput(outputs, state, delay, std::max(pulse, 0));
    }
}

void FlowUnit_Standard_Detect::update_CondAction_2_StaticSet(FlowPart_Condition* source)
{
    for (FlowPart_Base* part : part_cond) {
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        // The source keeps its own actions (copying into itself would only
        // empty it).
        if (cond && cond != source && cond->get_cond_flag(2))
            cond->copy_list_action_iooutput_fromothers(source);
    }
}

void FlowUnit_Standard_Detect::releasePart(QList<FlowPart_Base*>& list, FlowPart_Base* part)
{
    list.removeOne(part);
    if (part)
        part->deleteLater();
}

void FlowUnit_Standard_Detect::del_Stop(int flags)
{
    if (!(flags & 8) && !(flags & 16))
        return;
    const QList<FlowPart_Base*> afters = part_after;
    for (FlowPart_Base* part : afters) {
        if (part && part->get_part_type() == QLatin1String("FlowPart_AftDect_NGStop"))
            releasePart(part_after, part);
    }
}

void FlowUnit_Standard_Detect::del_IOCtrl_OperType(Condition_Type type)
{
    const QList<FlowPart_Base*> conditions = part_cond;
    for (FlowPart_Base* part : conditions) {
        if (!part || part->get_part_type() != QLatin1String("FlowPart_Cond_IO_ChgOper"))
            continue;
        auto* chg = qobject_cast<FlowPart_Cond_IO_ChgOper*>(part);
        if (chg && chg->get_ChgIO_Operate() == type)
            releasePart(part_cond, part);
    }
}

QList<FlowPart_AfterDetect*> FlowUnit_Standard_Detect::selectedAfterParts(int flags) const
{
    QList<FlowPart_AfterDetect*> selected;
    for (FlowPart_Base* part : part_after) {
        auto* after = qobject_cast<FlowPart_AfterDetect*>(part);
        if (!after)
            continue;
        const int c = int(after->get_Classify_OKNG());
        if (((flags & 4) && c == FlowResult_None) || ((flags & 8) && c == FlowResult_OK)
            || ((flags & 16) && c == FlowResult_NG))
            selected.append(after);
    }
    return selected;
}

void FlowUnit_Standard_Detect::dropEmptyAfterParts(const QList<FlowPart_AfterDetect*>& parts)
{
    for (FlowPart_AfterDetect* after : parts) {
        if (after->get_part_type() == QLatin1String("FlowPart_AfterDetect")
            && after->get_list_action_iooutput().isEmpty())
            releasePart(part_after, after);
    }
}

void FlowUnit_Standard_Detect::del_IOOutput_All(int flags)
{
    if (flags & 1) {
        for (FlowPart_Base* part : part_cond) {
            if (auto* cond = qobject_cast<FlowPart_Condition*>(part))
                cond->clear_action_iooutput();
        }
    }
    if (flags & (4 | 8 | 16)) {
        const QList<FlowPart_AfterDetect*> selected = selectedAfterParts(flags);
        for (FlowPart_AfterDetect* after : selected)
            after->clear_action_iooutput();
        dropEmptyAfterParts(selected);
    }
}

void FlowUnit_Standard_Detect::del_IOOutput_FromList(QMap<int, IOState_Rel> outputs, int flags)
{
    const QList<FlowPart_AfterDetect*> selected =
        (flags & (4 | 8 | 16)) ? selectedAfterParts(flags) : QList<FlowPart_AfterDetect*>();
    for (auto it = outputs.cbegin(); it != outputs.cend(); ++it) {
        if (flags & 1) {
            for (FlowPart_Base* part : part_cond) {
                auto* cond = qobject_cast<FlowPart_Condition*>(part);
                if (!cond)
                    continue;
                for (FlowPart_IO* io : cond->get_list_action_iooutput()) {
                    if (io && io->chkSame_IOOutput(it.key(), it.value()))
                        cond->remove_action_iooutput(io);
                }
            }
        }
        for (FlowPart_AfterDetect* after : selected) {
            for (FlowPart_IO* io : after->get_list_action_iooutput()) {
                if (io && io->chkSame_IOOutput(it.key(), it.value()))
                    after->remove_action_iooutput(io);
            }
        }
    }
    dropEmptyAfterParts(selected);
}

// ---- Queries --------------------------------------------------------------------

QList<FlowPart_Condition*> FlowUnit_Standard_Detect::get_FlowPart_Cond_FromClassType(Condition_Type type) const
{
    QList<FlowPart_Condition*> found;
    for (FlowPart_Base* part : part_cond) {
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        if (cond && cond->get_part_cond_type() == type)
            found.append(cond);
    }
    return found;
}

QList<FlowPart_Condition*> FlowUnit_Standard_Detect::get_FlowPart_CondIO(QList<int> inputs) const
{
    QList<FlowPart_Condition*> found;
    for (FlowPart_Condition* cond : get_FlowPart_Cond_FromClassType(CondType_IOTrig)) {
        const QList<IO_IndexLevel> triggers = cond->get_trigger_list();
        const bool names = std::any_of(triggers.cbegin(), triggers.cend(),
                                       [&inputs](const IO_IndexLevel& t) { return inputs.contains(t.index); });
        if (names)
            found.append(cond);
    }
    return found;
}
