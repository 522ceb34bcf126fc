#include "flow/flowpart_io.h"
#include "foundation/logmanager.h"

#include "io/frameio.h"

#include <QDebug>
#include <QJsonValue>
#include <QMutexLocker>

namespace {

const QString kTag = QStringLiteral("<%1>:");

// An integer JSON value within [lo, hi]; false for a missing key, another
// JSON type, a fraction or a value out of range.
bool readIntInRange(const QJsonObject& obj, const QString& key, int lo, int hi, int* out)
{
    const QJsonValue v = obj.value(key);
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != double(int(d)) || d < lo || d > hi)
        return false;
    *out = int(d);
    return true;
}

}  // namespace

FlowPart_IO::FlowPart_IO(QObject* parent) : FlowPart_Base(parent)
{
    part_type = QStringLiteral("FlowPart_IO");
    // Machine outputs are timed to the millisecond, not within a coarse timer's slack.
    timer_delay.setTimerType(Qt::PreciseTimer);
    timer_pulse.setTimerType(Qt::PreciseTimer);
    timer_delay.setSingleShot(true);
    timer_delay.setInterval(0);
    timer_pulse.setSingleShot(true);
    timer_pulse.setInterval(0);
    connect(&timer_delay, &QTimer::timeout, this, &FlowPart_IO::onStart_Working);
    connect(&timer_pulse, &QTimer::timeout, this, &FlowPart_IO::onPulseEnd);
}

FlowPart_IO::~FlowPart_IO()
{
    timer_delay.stop();
    timer_pulse.stop();
}

QString FlowPart_IO::get_user_describe() const
{
    const QList<IO_IndexLevel> action = get_action_io();
    if (action.isEmpty())
        return tr("获取FlowPart_IO信息出错");
    const IO_IndexLevel a = action.first();
    return tr("（输出-%3 -> %4）")
        .arg(QString::number(a.index + 1))
        .arg(a.level == ElectricLevel_High ? tr("闭合") : tr("断开"));
}

void FlowPart_IO::onStart(FlowUnit_Passport passport)
{
    if (!passport.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately && timer_delay.interval() != 0) {
        timer_delay.start();  // a running delay starts over
        return;
    }
    onStart_Working();
}

void FlowPart_IO::onStart_Working()
{
    if (!get_enable())
        return;
    IO_IndexLevel a;
    {
        QMutexLocker lock(&action_mutex);
        if (action_io.isEmpty())
            return;
        a = action_io.first();
    }
    if (FrameIO* frame = inst_iface.frame_io.data())
        frame->IOSetOut_Abs(QStringLiteral("flowpart_io.cpp"), __LINE__, a.index, a.level);
    // The pulse runs even without a frame, so that its end stays paired with its start.
    if (timer_pulse.interval() != 0)
        timer_pulse.start();
}

void FlowPart_IO::onPulseEnd()
{
    IO_IndexLevel a;
    {
        QMutexLocker lock(&action_mutex);
        if (action_io.isEmpty())
            return;
        a = action_io.first();
    }
    const int back = a.level == ElectricLevel_Low ? ElectricLevel_High : ElectricLevel_Low;
    if (FrameIO* frame = inst_iface.frame_io.data())
        frame->IOSetOut_Abs(QStringLiteral("flowpart_io.cpp"), __LINE__, a.index, back);
}

QJsonObject FlowPart_IO::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Base::Serialize_2_Json();
    const QList<IO_IndexLevel> action = get_action_io();
    if (!action.isEmpty()) {
        o.insert(QStringLiteral("o_index"), action.first().index);
        o.insert(QStringLiteral("o_level_abs"), int(action.first().level));
    }
    o.insert(QStringLiteral("delay"), get_delay_ms());
    o.insert(QStringLiteral("pulse"), get_pulse_ms());
    return o;
}

void FlowPart_IO::Structure_FromJson(const QJsonObject& obj)
{
    const int delay = obj.value(QStringLiteral("delay")).toInt(0);
    const int pulse = obj.value(QStringLiteral("pulse")).toInt(0);

    int index = 0;
    int level = 0;
    const bool indexOk = readIntInRange(obj, QStringLiteral("o_index"), 0, kIoPointCount - 1, &index);
    const bool levelOk = readIntInRange(obj, QStringLiteral("o_level_abs"), 0, 1, &level);
    {
        QMutexLocker lock(&action_mutex);
        action_io.clear();
        if (indexOk && levelOk)
            action_io.append(IO_IndexLevel{index, level ? ElectricLevel_High : ElectricLevel_Low});
    }
    if (!indexOk || !levelOk) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_IO::Structure_FromJson"))
                             << "IO part" << part_uuid << "has no valid output action (o_index"
                             << obj.value(QStringLiteral("o_index")).toVariant().toString() << ", o_level_abs"
                             << obj.value(QStringLiteral("o_level_abs")).toVariant().toString()
                             << "); it sets no output";
    }
    set_delay_ms(delay);
    set_pulse_ms(pulse);
}

void FlowPart_IO::setActionIO(int index, IOState_Rel state)
{
    FrameIO* frame = inst_iface.frame_io.data();
    if (!frame)
        return;
    if (index < 0 || index >= kIoPointCount) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_IO::setActionIO")) << "output index" << index
                             << "out of range 0..7; action unchanged";
        return;
    }
    const ElectricLevel level = frame->getOutput_Rel2Abs_IOLevel(index, state);
    QMutexLocker lock(&action_mutex);
    action_io = {IO_IndexLevel{index, level}};
}

bool FlowPart_IO::chkSame_IOOutput(int index, IOState_Rel state) const
{
    FrameIO* frame = inst_iface.frame_io.data();
    if (!frame)
        return false;
    IO_IndexLevel a;
    {
        QMutexLocker lock(&action_mutex);
        if (action_io.isEmpty())
            return false;
        a = action_io.first();
    }
    const ElectricLevel level = frame->getOutput_Rel2Abs_IOLevel(index, state);
    return a.index == index && a.level == level;
}

QList<IO_IndexLevel> FlowPart_IO::get_action_io() const
{
    QMutexLocker lock(&action_mutex);
    return action_io;
}

void FlowPart_IO::clear_action_io()
{
    QMutexLocker lock(&action_mutex);
    action_io.clear();
}

void FlowPart_IO::set_delay_ms(int ms)
{
    if (ms < 0) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_IO::set_delay_ms")) << "negative delay" << ms
                             << "ms stored as 0";
        ms = 0;
    }
    timer_delay.setInterval(ms);
}

void FlowPart_IO::set_pulse_ms(int ms)
{
    if (ms < 0) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_IO::set_pulse_ms")) << "negative pulse" << ms
                             << "ms stored as 0";
        ms = 0;
    }
    timer_pulse.setInterval(ms);
}
