#pragma once
// Shared set-up of the tests of the flow's bases and of the standard detect
// unit: the flow-part bench (recording IO frame, event-loop helpers) plus a
// capture of every log line.
#include "flowparttestbench.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QList>
#include <QStringList>
#include <QThread>

#include <functional>
#include <ostream>

namespace flowbase {

// A real IO frame (rest levels, backup) whose outputs are recorded in order.
class OutputRecorder : public flowtest::RecordingFrameIO {};

using flowtest::passportOf;
using flowtest::runDeferredDeletes;
using flowtest::waitUntil;

inline IO_IndexLevel lv(int index, int level)
{
    return flowtest::out(index, level);
}

inline FlowInstIface makeIface(FrameIO* frame, Product_Interface* product = nullptr,
                               const QStringList& cameras = {})
{
    FlowInstIface iface = flowtest::makeIface(frame, product, cameras);
    iface.device_id = QStringLiteral("SELF");
    return iface;
}
// The exact match for the recorder, which argument-dependent lookup would
// otherwise pair with the part bench's own makeIface.
inline FlowInstIface makeIface(OutputRecorder* frame, Product_Interface* product = nullptr,
                               const QStringList& cameras = {})
{
    return makeIface(static_cast<FrameIO*>(frame), product, cameras);
}

// Delivers what is queued now, without waiting for timers.
inline void deliverQueued()
{
    QCoreApplication::processEvents();
}

// Records the log lines (every level) written while it lives.
using LogLines = testsupport::LogCapture;

}  // namespace flowbase
