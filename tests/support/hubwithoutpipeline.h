#pragma once
// The real hub on a camera without an image pipeline: its capture step makes
// an ISP stand-in the caller keeps, and frames count as fresh (20 a second).
#include "capture/aiqcontrol.h"
#include "hub/divuvarude.h"

#include <memory>

namespace testsupport {

inline std::unique_ptr<DiVuVarude> makeHubWithoutPipeline(std::unique_ptr<AiqControl>& isp)
{
    DiVuVarude::setCaptureStarter([&isp] {
        isp = std::make_unique<AiqControl>(AiqControl::WithoutPipeline{}, true, 1920, 1080);
        gAiqControl = isp.get();
    });
    auto hub = std::make_unique<DiVuVarude>();
    DiVuVarude::setCaptureStarter({});
    gFPS.store(20);
    return hub;
}

}  // namespace testsupport
