#include "flow/flowpart_cond_operatoraction.h"

#include "flow/flowpart_condition.h"

namespace operatoraction {

bool accepts(const FlowPart_Condition& cond, const FlowUnit_Passport& passport)
{
    if (!cond.FlowPart_Condition::chkCondSet(passport))
        return false;
    if (passport.condition.cond_detect_index_abs != cond.get_cond_sortindex_abs())
        return false;
    return passport.get_group_state().fgs_runstate == FlowRunState_NGStop;
}

}  // namespace operatoraction
