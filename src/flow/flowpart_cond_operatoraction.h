#pragma once
// What the three operator-action conditions (no check, re-detect, add
// template) share: they accept only a passport of their own type, aimed at
// their own unit by absolute detect index, offered while the unit's group is
// held in the NG stop; and they never carry IO actions.
#include "flow/flowunit_passport.h"

class FlowPart_Condition;

namespace operatoraction {

// The condition base test of `cond` (type and NG-stop permission), the aim
// (cond_detect_index_abs equals the condition's absolute sort index) and the
// group state (fgs_runstate is 2).
bool accepts(const FlowPart_Condition& cond, const FlowUnit_Passport& passport);

}  // namespace operatoraction
