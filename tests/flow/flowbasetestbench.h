#pragma once
// Shared set-up of the tests of the flow's bases and of the standard detect
// unit: an IO frame that records its outputs instead of sending them, a
// capture of the log lines, and helpers to run the event loop.
#include "flow/flowinstiface.h"
#include "flow/flowunit_passport.h"
#include "io/frameio.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QList>
#include <QStringList>
#include <QThread>

#include <functional>
#include <ostream>

inline void PrintTo(const IO_IndexLevel& v, std::ostream* os)
{
    *os << "{" << v.index << ", " << int(v.level) << "}";
}

namespace flowbase {

// A real IO frame (rest levels, backup) whose outputs are recorded in order.
class OutputRecorder : public FrameIO {
public:
    QList<IO_IndexLevel> sent;

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

inline IO_IndexLevel lv(int index, int level)
{
    return IO_IndexLevel{index, level ? ElectricLevel_High : ElectricLevel_Low};
}

inline FlowInstIface makeIface(FrameIO* frame, Product_Interface* product = nullptr,
                               const QStringList& cameras = {})
{
    FlowInstIface iface;
    iface.device_id = QStringLiteral("SELF");
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

inline FlowUnit_Passport passportOf(int type, const QString& uuid = QStringLiteral("P-1"))
{
    FlowWork_Condition c;
    c.cond_type = type;
    return FlowUnit_Passport(uuid, c);
}

// Runs the event loop until `done` holds; false after a generous bound (so
// that a broken flow fails instead of hanging; nothing asserts on time).
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

// Delivers what is queued now, without waiting for timers.
inline void deliverQueued()
{
    QCoreApplication::processEvents();
}

inline void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
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
