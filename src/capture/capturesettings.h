#pragma once
// What the capture controller reads of the process parameters.
//
// The legacy switch numFailDetect_4 picks the ISP's working mode: set, the
// normal mode; clear, the two-frame HDR mode. Only the legacy parameter
// import fills it. The hub installs the source once the process parameters
// exist; until then the switch reads clear.
#include <functional>

namespace capture {

// The switch as the source reports it; false without a source.
bool numFailDetect_4();

// Installs the function the switch is read from (an empty function removes
// it). Call before the capture controller is created.
void setNumFailDetect4Source(std::function<bool()> source);

}  // namespace capture
