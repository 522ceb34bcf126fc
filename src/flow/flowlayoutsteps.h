#pragma once
// Steps shared by the standard and the turntable layout.
//
// Threads: main thread only.
#include "flow/flowrecords.h"
#include "io/iotypes.h"

#include <QList>

class FlowUnit_Standard_Detect;

namespace flowlayout {

// Where an output action is removed: the conditions' IO actions and the
// after-detect parts classified OK or NG.
constexpr int kWhereCond = 1;
constexpr int kWhereOK = 8;
constexpr int kWhereNG = 16;

// The levels at which `input` triggers under the trigger flags `flags`
// (bit 0 high, bit 1 low), high first.
QList<IO_IndexLevel> levelsOfFlags(int input, int flags);

// Opening the safety door (input 1 low) puts the alarm output 2 to rest; it
// needs no detection and is accepted in the NG stop.
void doorOpen(FlowUnit_Standard_Detect* unit);
// Closing the safety door (input 1 high) becomes the operation `type`
// (no check or re-detect); accepted in the NG stop. `text` is the Chinese
// source of the condition's name.
void doorClose(FlowUnit_Standard_Detect* unit, Condition_Type type, const char* text);

// The start condition of an IO trigger on `input` (high) as the flow manager
// makes it, for every camera of the group (the sub cameras in group order,
// then this camera), detecting at once.
FlowWork_Condition ioCatchCondition(int input);

}  // namespace flowlayout
