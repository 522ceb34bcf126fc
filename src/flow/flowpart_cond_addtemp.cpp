#include "flow/flowpart_cond_addtemp.h"

#include "flow/flowpart_cond_operatoraction.h"

FlowPart_Cond_AddTemp::FlowPart_Cond_AddTemp(FlowUnit_Base* unit) : FlowPart_Condition(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_AddTemp");
    part_cond_type = CondType_AddTemplate;
    user_describe = Condition_Type_2_Str(CondType_AddTemplate);
    set_cond_flags(true, true, true, true);
}

FlowPart_Cond_AddTemp::~FlowPart_Cond_AddTemp() = default;

bool FlowPart_Cond_AddTemp::chkCondSet(FlowUnit_Passport passport) const
{
    return operatoraction::accepts(*this, passport);
}

void FlowPart_Cond_AddTemp::copy_list_action_iooutput_fromothers(FlowPart_Condition*)
{
    clear_action_iooutput();
}

void FlowPart_Cond_AddTemp::add_action_iooutput(QList<int>, IOState_Rel, int, int)
{
    clear_action_iooutput();
}
