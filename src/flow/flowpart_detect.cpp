#include "flow/flowpart_detect.h"
#include "foundation/logmanager.h"

#include "flow/product_interface.h"

#include <QDebug>
#include <QPointer>

#include <algorithm>

namespace {
const QString kTag = QStringLiteral("<%1>:");
}

FlowPart_Detect::FlowPart_Detect(QObject* parent) : FlowPart_Base(parent)
{
    part_type = QStringLiteral("FlowPart_Detect");
    delay_timer.setSingleShot(true);
    // A coarse timer may run several percent late, and report more time
    // remaining than the delay itself.
    delay_timer.setTimerType(Qt::PreciseTimer);
    delay_timer.setInterval(0);
    connect(&delay_timer, &QTimer::timeout, this, &FlowPart_Detect::onStart_Working);
}

FlowPart_Detect::~FlowPart_Detect()
{
    delay_timer.stop();
}

void FlowPart_Detect::onStart(FlowUnit_Passport passport)
{
    part_passport = passport;
    FlowUnit_State us = part_passport.get_unit_state();
    us.fus_redetect_interval = redetect_interval;
    us.fus_redetect_times = redetect_times;
    part_passport.set_unit_state(us);

    part_passport.receipt.rcpt_workstate = FlowWorkState_Working;
    part_passport.receipt.rcpt_result = FlowResult_None;
    emit sig_update_unit_receipt(part_passport.receipt);

    if (part_passport.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately || delay_timer.interval() == 0) {
        onStart_Working();
        return;
    }
    delay_timer.start();  // a running delay starts over
}

void FlowPart_Detect::onStart_Working()
{
    FlowWork_WorkEvent_Back answer;  // work error 5, result -1, no units: nothing was asked
    QPointer<FlowPart_Detect> self(this);
    QPointer<Product_Interface> iface = inst_iface.product_iface;
    if (iface) {
        answer = iface->WorkEvent_Standard(part_passport);
        if (!self)
            return;  // the part went away while the event loop ran inside the work event
        if (iface && iface->detect_exception.load() != 0)
            part_passport.receipt.rcpt_ngstop = true;
    }
    // The work error is not read: a failed event shows in its result and units.
    FlowWork_Receipt& r = part_passport.receipt;
    r.rcpt_result = answer.result;
    r.rcpt_workstate = FlowWorkState_Detected;
    r.rcpt_remain_ms = 0;
    r.rcpt_collects = answer.collectlist;
    emit sig_update_unit_receipt(r);
    onFinish_Working();
}

void FlowPart_Detect::onFinish_Working()
{
    emit sig_part_finish(part_passport.receipt);
}

FlowWork_Receipt FlowPart_Detect::getReceipt() const
{
    FlowWork_Receipt r = part_passport.receipt;
    r.rcpt_remain_ms = delay_timer.isActive() ? std::max(0, delay_timer.remainingTime()) : 0;
    return r;
}

QJsonObject FlowPart_Detect::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Base::Serialize_2_Json();
    o.insert(QStringLiteral("redetect_interval"), get_redetect_interval());
    o.insert(QStringLiteral("redetect_times"), get_redetect_times());
    o.insert(QStringLiteral("delay"), get_delay_ms());
    return o;
}

void FlowPart_Detect::Structure_FromJson(const QJsonObject& obj)
{
    const int delay = obj.value(QStringLiteral("delay")).toInt(0);
    const int interval = obj.value(QStringLiteral("redetect_interval")).toInt(0);
    const int times = obj.value(QStringLiteral("redetect_times")).toInt(0);
    set_delay_ms(delay);
    set_redetect_interval(interval);
    set_redetect_times(times);
}

void FlowPart_Detect::set_redetect_interval(int ms)
{
    if (ms < 0) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_Detect::set_redetect_interval"))
                             << "negative re-detect interval" << ms << "ms stored as 0";
        ms = 0;
    }
    redetect_interval = ms;
}

int FlowPart_Detect::get_redetect_interval() const
{
    return redetect_interval;
}

void FlowPart_Detect::set_redetect_times(int times)
{
    redetect_times = times;
}

int FlowPart_Detect::get_redetect_times() const
{
    return redetect_times;
}

void FlowPart_Detect::set_delay_ms(int ms)
{
    if (ms < 0) {
        qCWarning(level_1).noquote() << kTag.arg(QStringLiteral("FlowPart_Detect::set_delay_ms")) << "negative delay" << ms
                             << "ms stored as 0";
        ms = 0;
    }
    delay_timer.setInterval(ms);
}
