#include "flow/flowpart_cond_redetect.h"

#include "flow/flowpart_cond_operatoraction.h"

FlowPart_Cond_ReDetect::FlowPart_Cond_ReDetect(FlowUnit_Base* unit) : FlowPart_Condition(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_ReDetect");
    part_cond_type = CondType_ReDetect;
    user_describe = Condition_Type_2_Str(CondType_ReDetect);
    set_cond_flags(true, true, true, true);
}

FlowPart_Cond_ReDetect::~FlowPart_Cond_ReDetect() = default;

bool FlowPart_Cond_ReDetect::chkCondSet(FlowUnit_Passport passport) const
{
    return operatoraction::accepts(*this, passport);
}

void FlowPart_Cond_ReDetect::copy_list_action_iooutput_fromothers(FlowPart_Condition*)
{
    clear_action_iooutput();
}

void FlowPart_Cond_ReDetect::add_action_iooutput(QList<int>, IOState_Rel, int, int)
{
    clear_action_iooutput();
}
