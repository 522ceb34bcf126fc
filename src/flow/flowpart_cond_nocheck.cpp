#include "flow/flowpart_cond_nocheck.h"

#include "flow/flowpart_cond_operatoraction.h"

FlowPart_Cond_Nocheck::FlowPart_Cond_Nocheck(FlowUnit_Base* unit) : FlowPart_Condition(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_Nocheck");
    part_cond_type = CondType_NoCheck;
    user_describe = Condition_Type_2_Str(CondType_NoCheck);
    set_cond_flags(true, true, true, true);
}

FlowPart_Cond_Nocheck::~FlowPart_Cond_Nocheck() = default;

bool FlowPart_Cond_Nocheck::chkCondSet(FlowUnit_Passport passport) const
{
    return operatoraction::accepts(*this, passport);
}

void FlowPart_Cond_Nocheck::copy_list_action_iooutput_fromothers(FlowPart_Condition*)
{
    clear_action_iooutput();
}

void FlowPart_Cond_Nocheck::add_action_iooutput(QList<int>, IOState_Rel, int, int)
{
    clear_action_iooutput();
}
