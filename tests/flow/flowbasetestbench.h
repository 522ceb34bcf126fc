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
class OutputRecorder : public flowtest::RecordingFrameIO {
public:
    void setTriggers(std::initializer_list<int> flags)
    {
        int table[kIoPointCount] = {0, 0, 0, 0, 0, 0, 0, 0};
        int i = 0;
        for (int f : flags) {
            if (i < kIoPointCount)
                table[i++] = f;
        }
        setIO_TrigIn(table);
    }
};

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
class LogLines {
public:
    LogLines()
    {
        store().clear();
        previous = qInstallMessageHandler(&LogLines::handler);
    }
    ~LogLines() { qInstallMessageHandler(previous); }
    QStringList lines() const { return store(); }
    int count(const QString& text) const
    {
        int n = 0;
        for (const QString& l : store())
            n += l.contains(text) ? 1 : 0;
        return n;
    }

private:
    static QStringList& store()
    {
        static QStringList s;
        return s;
    }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& msg) { store() << msg; }
    QtMessageHandler previous = nullptr;
};

}  // namespace flowbase
