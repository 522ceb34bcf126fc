// The hub's capture step: the one place where the hub creates the capture
// controller and hands it the parameters it starts with.
#include "hub/divuvarude.h"

#include <QDebug>

void DiVuVarude::startCapture()
{
    // To do when the capture controller is linked into the program: create
    // it here, publish it as gAiqControl (replacing any interim one), and set
    // its image-signal-processor mode from m_params->numFailDetect_4 (set:
    // normal mode 0, clear: HDR mode 16). Until then the camera runs without
    // an image-signal processor (gAiqControl stays as start-up left it).
    qInfo() << "[HUB] capture controller: ISP mode"
            << (m_params && m_params->numFailDetect_4 ? "normal (0)" : "HDR (16)");
}
