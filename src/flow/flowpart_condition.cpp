#include "flow/flowpart_condition.h"

#include "flow/flowpart_io.h"
#include "flow/flowunit_base.h"

#include <QDebug>
#include <QJsonArray>
#include <QMutexLocker>

#include <algorithm>

FlowPart_Condition::FlowPart_Condition(FlowUnit_Base* unit) : FlowPart_Base(unit), part_unit(unit)
{
    part_type = QStringLiteral("FlowPart_Condition");
}

FlowPart_Condition::~FlowPart_Condition()
{
    clear_action_iooutput();
    QMutexLocker guard(&out_passports_mutex);
    out_passports.clear();
}

QString FlowPart_Condition::get_user_describe() const
{
    if (!user_describe.isEmpty())
        return user_describe;
    return Condition_Type_2_Str(part_cond_type);
}

QJsonObject FlowPart_Condition::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Base::Serialize_2_Json();
    QJsonArray flags;
    for (bool f : cond_flags)
        flags.append(f);
    o.insert(QStringLiteral("cond_flags"), flags);
    if (!list_action_iooutput.isEmpty()) {
        QJsonArray output;
        for (const FlowPart_IO* io : list_action_iooutput)
            output.append(io->Serialize_2_Json());
        o.insert(QStringLiteral("output"), output);
    }
    return o;
}

void FlowPart_Condition::Structure_FromJson(const QJsonObject& obj)
{
    if (obj.contains(QStringLiteral("name")))
        user_describe = obj.value(QStringLiteral("name")).toString();
    const QJsonArray flags = obj.value(QStringLiteral("cond_flags")).toArray();
    if (flags.size() >= 4) {
        for (int i = 0; i < 4; ++i)
            cond_flags[i] = flags.at(i).toBool();
    }
    const QJsonArray output = obj.value(QStringLiteral("output")).toArray();
    for (const QJsonValue& v : output) {
        const QJsonObject element = v.toObject();
        if (element.value(QStringLiteral("type")).toString() != QLatin1String("FlowPart_IO"))
            continue;
        FlowPart_IO* io = newActionPart();
        list_action_iooutput.append(io);
        io->Structure_FromJson(element);
    }
}

bool FlowPart_Condition::chkCondSet(FlowUnit_Passport passport) const
{
    if (passport.condition.cond_type != part_cond_type)
        return false;
    if (cond_flags[3])
        return true;
    return passport.get_product_state().proc_runstate != FlowRunState_NGStop;
}

void FlowPart_Condition::copy_list_action_iooutput_fromothers(FlowPart_Condition* other)
{
    clear_action_iooutput();
    if (!other || other == this)
        return;  // copying from itself would copy what was just released
    const QList<FlowPart_IO*> sources = other->get_list_action_iooutput();
    for (const FlowPart_IO* source : sources) {
        if (!source)
            continue;
        FlowPart_IO* io = newActionPart();
        io->Structure_FromJson(source->Serialize_2_Json());
        list_action_iooutput.append(io);
    }
}

void FlowPart_Condition::add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse)
{
    for (int index : outputs) {
        FlowPart_IO* io = newActionPart();
        io->setActionIO(index, state);
        // Negative times would leave a timer that never fires.
        io->set_delay_ms(std::max(delay, 0));
        io->set_pulse_ms(std::max(pulse, 0));
        list_action_iooutput.append(io);
    }
}

void FlowPart_Condition::clear_action_iooutput()
{
    const QList<FlowPart_IO*> parts = list_action_iooutput;
    list_action_iooutput.clear();
    for (FlowPart_IO* io : parts) {
        if (io)
            io->deleteLater();
    }
}

bool FlowPart_Condition::remove_action_iooutput(FlowPart_IO* io)
{
    if (!io || !list_action_iooutput.removeOne(io))
        return false;
    io->deleteLater();
    return true;
}

void FlowPart_Condition::set_cond_sortindex(int index, int index_abs)
{
    cond_sortindex = index;
    cond_sortindex_abs = index_abs;
}

bool FlowPart_Condition::get_cond_flag(int position) const
{
    return position >= 0 && position < 4 && cond_flags[position];
}

void FlowPart_Condition::set_cond_flag(int position, bool value)
{
    if (position >= 0 && position < 4)
        cond_flags[position] = value;
}

void FlowPart_Condition::set_cond_flags(bool f0, bool f1, bool f2, bool f3)
{
    cond_flags[0] = f0;
    cond_flags[1] = f1;
    cond_flags[2] = f2;
    cond_flags[3] = f3;
}

QList<FlowUnit_Passport> FlowPart_Condition::get_out_passports() const
{
    QMutexLocker guard(&out_passports_mutex);
    return out_passports;
}

void FlowPart_Condition::set_out_passports(const QList<FlowUnit_Passport>& passports)
{
    QMutexLocker guard(&out_passports_mutex);
    out_passports = passports;
}

void FlowPart_Condition::onStart_Working()
{
    FlowWork_Condition cond = part_passport.condition;
    cond.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = cond_flags[0];
    cond.cond_extra_flag1 = cond_flags[1];
    cond.cond_extra_flag2 = cond_flags[2];
    cond.cond_extra_flag3 = cond_flags[3];

    FlowUnit_Passport produced(part_passport.uuid, cond);
    produced.set_group_state(part_passport.get_group_state());
    produced.set_product_state(part_passport.get_product_state());

    QList<FlowUnit_Passport> out;
    if (cond_flags[1])
        out.append(produced);
    set_out_passports(out);
}

FlowPart_IO* FlowPart_Condition::newActionPart()
{
    FlowPart_IO* io = new FlowPart_IO(this);
    io->set_inst_iface(inst_iface);
    return io;
}
