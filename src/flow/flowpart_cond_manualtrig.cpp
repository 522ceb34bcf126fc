#include "flow/flowpart_cond_manualtrig.h"

#include "flow/flowpart_io.h"

FlowPart_Cond_ManualTrig::FlowPart_Cond_ManualTrig(FlowUnit_Base* unit) : FlowPart_Condition(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_ManualTrig");
    part_cond_type = CondType_ManualTrig;
    set_cond_flags(true, true, true, true);
}

FlowPart_Cond_ManualTrig::~FlowPart_Cond_ManualTrig() = default;

bool FlowPart_Cond_ManualTrig::chkCondSet(FlowUnit_Passport passport) const
{
    if (!FlowPart_Condition::chkCondSet(passport))
        return false;
    const FlowWork_Condition& cond = passport.condition;
    // Aimed at this unit across the flow: no input level is tested.
    if (cond.cond_detect_index_abs == cond_sortindex_abs)
        return true;
    // Aimed by the index within a group: the unit whose inputs hold wins.
    if (cond.cond_detect_index != cond_sortindex)
        return false;
    for (const IO_IndexLevel& s : condwith_ioinput_state) {
        if (s.index < 0 || s.index > 31)
            return false;
        if (((cond.cond_input_bits >> s.index) & 1) != int(s.level))
            return false;
    }
    return true;
}

void FlowPart_Cond_ManualTrig::onStart_Working()
{
    FlowPart_Condition::onStart_Working();
    const QList<FlowPart_IO*> actions = list_action_iooutput;
    for (FlowPart_IO* io : actions)
        io->onStart(part_passport);
}

void FlowPart_Cond_ManualTrig::copy_list_action_iooutput_fromothers(FlowPart_Condition* other)
{
    // Taken before this list is cleared, so that copying from itself keeps its actions.
    const QList<FlowPart_IO*> source = other ? other->get_list_action_iooutput() : QList<FlowPart_IO*>();
    clear_action_iooutput();
    for (const FlowPart_IO* src : source) {
        if (!src)
            continue;
        FlowPart_IO* io = newActionPart();
        io->Structure_FromJson(src->Serialize_2_Json());
        io->set_delay_ms(0);
        list_action_iooutput.append(io);
    }
}

void FlowPart_Cond_ManualTrig::add_action_iooutput(QList<int> outputs, IOState_Rel state, int /*delay*/, int pulse)
{
    for (int index : qAsConst(outputs)) {
        FlowPart_IO* io = newActionPart();
        io->setActionIO(index, state);
        io->set_delay_ms(0);
        io->set_pulse_ms(pulse);
        list_action_iooutput.append(io);
    }
}

QString FlowPart_Cond_ManualTrig::get_user_describe() const
{
    if (!user_describe.isEmpty())
        return user_describe;
    QString text = Condition_Type_2_Str(CondType_ManualTrig);
    for (const IO_IndexLevel& s : condwith_ioinput_state) {
        text += QStringLiteral("（点位 %1 = %2）,")
                    .arg(s.index + 1)
                    .arg(int(s.level) != 0 ? QStringLiteral("高电平") : QStringLiteral("低电平"));
    }
    return text;
}
