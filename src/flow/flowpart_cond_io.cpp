#include "flow/flowpart_cond_io.h"

#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_io.h"
#include "flow/flowunit_standard_detect.h"

#include <QJsonValue>

namespace {

QString secondsText(int ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1);
}

}  // namespace

FlowPart_Cond_IO::FlowPart_Cond_IO(FlowUnit_Base* unit) : FlowPart_Condition(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_IO");
    part_cond_type = CondType_IOTrig;
    set_cond_flags(false, true, false, false);
}

FlowPart_Cond_IO::~FlowPart_Cond_IO() = default;

void FlowPart_Cond_IO::set_condwith_PreConditions(QString uuid)
{
    if (!condwith_preconditions.contains(uuid))
        condwith_preconditions.append(uuid);
}

void FlowPart_Cond_IO::set_condwith_ioinput_state(QList<IO_IndexLevel> levels)
{
    if (levels.isEmpty())
        return;
    condwith_ioinput_state = levels;
    // A manual snapshot aimed at this unit by its index within the group must
    // see the same input levels as the IO trigger.
    auto* unit = qobject_cast<FlowUnit_Standard_Detect*>(part_unit);
    if (!unit)
        return;
    for (FlowPart_Condition* c : unit->get_FlowPart_Cond_FromClassType(CondType_ManualTrig)) {
        if (auto* manual = qobject_cast<FlowPart_Cond_ManualTrig*>(c))
            manual->set_condwith_ioinput_state(levels);
    }
}

bool FlowPart_Cond_IO::chkCondSet(FlowUnit_Passport passport) const
{
    if (!FlowPart_Condition::chkCondSet(passport))
        return false;
    const FlowWork_Condition& cond = passport.condition;
    if (cond.cond_type != CondType_IOTrig)
        return false;

    if (!condwith_preconditions.isEmpty()) {
        if (auto* unit = qobject_cast<FlowUnit_Standard_Detect*>(part_unit)) {
            if (!qlist_subset(condwith_preconditions, unit->get_historystorage()))
                return false;
        }
    }

    bool fired = false;
    for (const IO_IndexLevel& t : trigger_list) {
        if (cond.cond_trig_levels.contains(t)) {
            fired = true;
            break;
        }
    }
    if (!fired)
        return false;

    for (const IO_IndexLevel& s : condwith_ioinput_state) {
        if (s.index < 0 || s.index > 31)
            return false;
        const int bit = (cond.cond_input_bits >> s.index) & 1;
        if (bit != int(s.level))
            return false;
    }

    if (!condwith_runstates.isEmpty() && !condwith_runstates.contains(passport.get_product_state().proc_runstate))
        return false;
    return true;
}

void FlowPart_Cond_IO::onStart_Working()
{
    if (!get_enable())
        return;
    const QList<FlowPart_IO*> actions = list_action_iooutput;
    for (FlowPart_IO* io : actions)
        io->onStart(part_passport);
    FlowPart_Condition::onStart_Working();
}

QString FlowPart_Cond_IO::actionsDescribe() const
{
    QString text;
    for (const FlowPart_IO* io : list_action_iooutput) {
        if (io->get_delay_ms() >= 1)
            text += tr("延时%2秒，").arg(secondsText(io->get_delay_ms()));
        text += io->get_user_describe();
        if (io->get_pulse_ms() >= 1)
            text += tr("，持续%5秒").arg(secondsText(io->get_pulse_ms()));
        text += QStringLiteral("。");
    }
    return text;
}

QString FlowPart_Cond_IO::get_user_describe() const
{
    if (!user_describe.isEmpty())
        return user_describe;
    QString text = QStringLiteral("IO触发: ");
    QStringList items;
    for (const IO_IndexLevel& t : trigger_list) {
        items << QStringLiteral("(%1 -> %2)")
                     .arg(QStringLiteral("输入-%1").arg(t.index + 1))
                     .arg(t.level == ElectricLevel_High ? tr("闭合") : tr("断开"));
    }
    text += items.join(tr("或"));
    for (const IO_IndexLevel& s : condwith_ioinput_state) {
        text += tr("且");
        text += QStringLiteral(" (输入-%1=%2) ")
                    .arg(s.index + 1)
                    .arg((int(s.level) & 1) ? QStringLiteral("高电平") : QString());
    }
    text += tr("时。");
    return text + actionsDescribe();
}

QJsonArray FlowPart_Cond_IO::triggerListJson() const
{
    QJsonArray input;
    for (const IO_IndexLevel& t : trigger_list)
        input.append(QJsonArray{t.index, int(t.level)});
    return input;
}

void FlowPart_Cond_IO::readTriggerList(const QJsonObject& obj)
{
    QList<IO_IndexLevel> list;
    const QJsonArray input = obj.value(QStringLiteral("input")).toArray();
    for (const QJsonValue& v : input) {
        if (!v.isArray())
            continue;
        const QJsonArray pair = v.toArray();
        if (pair.size() != 2)
            continue;
        list.append(IO_IndexLevel{pair.at(0).toInt(0), ElectricLevel(pair.at(1).toInt(0))});
    }
    trigger_list = list;
}

QJsonObject FlowPart_Cond_IO::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Condition::Serialize_2_Json();
    o.insert(QStringLiteral("name"), get_user_describe());
    o.insert(QStringLiteral("input"), triggerListJson());
    if (!condwith_ioinput_state.isEmpty()) {
        QJsonArray with;
        for (const IO_IndexLevel& s : condwith_ioinput_state)
            with.append(QJsonArray{s.index, int(s.level)});
        o.insert(QStringLiteral("input_with"), with);
    }
    return o;
}

void FlowPart_Cond_IO::Structure_FromJson(const QJsonObject& obj)
{
    FlowPart_Condition::Structure_FromJson(obj);
    readTriggerList(obj);
}
