#pragma once
// Shared set-up of the flow-part tests.
//
// RecordingFrameIO: a real IO frame (relative-to-absolute mapping, output
// backup) without a transport; every output it would send is recorded in
// order. waitUntil runs the event loop until a condition holds, so that the
// parts' timers fire; the tests never assert on how long that took.
// LogCapture records the warnings written meanwhile.
#include "flow/flowinstiface.h"
#include "flow/flowunit_passport.h"
#include "io/frameio.h"
#include "support/logcapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QList>
#include <QStringList>
#include <QThread>

#include <functional>
#include <ostream>

// Readable IO points in test failures.
inline void PrintTo(const IO_IndexLevel& v, std::ostream* os)
{
    *os << "{" << v.index << ", " << int(v.level) << "}";
}

namespace flowtest {

class RecordingFrameIO : public FrameIO {
public:
    // Every output that went out, in order.
    QList<IO_IndexLevel> sent;

    // Rest levels of the outputs (0 low, 1 high); the active state drives the opposite.
    void setRestLevels(std::initializer_list<int> levels)
    {
        int table[kIoPointCount] = {0, 0, 0, 0, 0, 0, 0, 0};
        int i = 0;
        for (int l : levels) {
            if (i < kIoPointCount)
                table[i++] = l;
        }
        setIO_TrigOut(table);
    }
    // Trigger flags of the inputs (bit 0 high level, bit 1 low level).
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

    void updateIONoInputTip() override {}
    void sendOutPut(int index, int level) override
    {
        sent.append(IO_IndexLevel{index, level ? ElectricLevel_High : ElectricLevel_Low});
    }
    void slot_HasInput(int) override {}
    void slot_TimerIO_NoInput() override {}
    int RealTriggering() override { return -1; }
};

inline IO_IndexLevel out(int index, int level)
{
    return IO_IndexLevel{index, level ? ElectricLevel_High : ElectricLevel_Low};
}

// An instance interface that reaches `frame` (may be null) and `product`
// (may be null), with the given cameras.
inline FlowInstIface makeIface(FrameIO* frame, Product_Interface* product = nullptr,
                               const QStringList& cameras = {})
{
    FlowInstIface iface;
    iface.device_id = QStringLiteral("CAMSELF");
    iface.frame_io = frame;
    iface.product_iface = product;
    if (!cameras.isEmpty()) {
        QList<CameraBaseInfo> list;
        for (int i = 0; i < cameras.size(); ++i)
            list << CameraBaseInfo(cameras.at(i), i == 0 ? 1 : 0);
        CamDevices_Interface devices;
        devices.resetCameraBaseInfos(list);
        iface.cam_devices.setValue(devices);
    }
    return iface;
}

// A passport of condition type `type`.
inline FlowUnit_Passport passportOf(int type, const QString& uuid = QStringLiteral("P-1"))
{
    FlowWork_Condition c;
    c.cond_type = type;
    return FlowUnit_Passport(uuid, c);
}

// Runs the event loop until `done` holds; false when it did not within
// `limitMs` (a generous bound, only there so a broken part fails instead of
// hanging).
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Deletes the objects handed to deleteLater so far.
inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Records what is logged while it lives; warnings() and anyContains() look
// at the warnings only.
using LogCapture = testsupport::LogCapture;

}  // namespace flowtest
