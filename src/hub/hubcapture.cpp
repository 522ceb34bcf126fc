// The hub's capture step: the one place where the hub creates the capture
// controller and hands it the parameters it starts with.
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"

#include "capture/capturesettings.h"

#include <QDebug>

namespace {
std::function<void()>& captureStarter()
{
    static std::function<void()> starter;
    return starter;
}
}  // namespace

void DiVuVarude::setCaptureStarter(std::function<void()> starter)
{
    captureStarter() = std::move(starter);
}

void DiVuVarude::startCapture()
{
    // The controller reads the legacy switch once, while it starts: set, the
    // ISP's normal mode (0); clear, the two-frame HDR mode (16).
    const bool normalMode = m_params && m_params->numFailDetect_4;
    capture::setNumFailDetect4Source([normalMode] { return normalMode; });
    qInfo() << "[HUB] capture controller: ISP mode" << (normalMode ? "normal (0)" : "HDR (16)");
    if (captureStarter())
        captureStarter()();
}
