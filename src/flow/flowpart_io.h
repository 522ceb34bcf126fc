#pragma once
// One output action of the flow: after an optional delay it drives one
// machine output to an absolute level, and optionally puts it back after a
// pulse time. Condition parts and after-detect parts own lists of IO parts
// and start them when they are started themselves; an IO part is never a
// top-level part of a unit.
//
// The action is at most one {output index 0..7, level 0 or 1}. A part
// without an action does nothing when started (it describes itself with an
// error text). Times are in ms; negative times are stored as 0, because a
// timer with a negative interval never fires and an output would stay set.
//
// JSON: the part envelope plus "o_index" and "o_level_abs" (only when there
// is an action), "delay" and "pulse".
//
// Threads: main thread only; both timers belong to it. action_mutex guards
// the action and is never held across a call into the IO frame.
#include "flow/flowpart_base.h"
#include "io/iotypes.h"

#include <QList>
#include <QMutex>
#include <QTimer>

class FlowPart_IO : public FlowPart_Base {
    Q_OBJECT
public:
    explicit FlowPart_IO(QObject* parent = nullptr);
    ~FlowPart_IO() override;

    // "（输出-N -> 闭合/断开）", or an error text when there is no action.
    QString get_user_describe() const override;
    // Waits the delay (unless the passport asks to detect at once, or the
    // delay is 0), then sets the output. The passport is not kept and no
    // receipt is reported.
    void onStart(FlowUnit_Passport passport) override;
    QJsonObject Serialize_2_Json() const override;
    // Reads "delay", "pulse", "o_index" and "o_level_abs". The action is
    // taken only when "o_index" is an integer 0..7 and "o_level_abs" is 0 or
    // 1; otherwise the part is left without an action and the reason is
    // logged (a missing key must not become "drive output 0 low").
    void Structure_FromJson(const QJsonObject& obj) override;

    // Stores the absolute action for a relative output state, through the IO
    // frame's rest levels. Without an IO frame, or for an index outside
    // 0..7, nothing changes.
    void setActionIO(int index, IOState_Rel state);
    // Whether the stored action drives `index` to the level that `state`
    // means now. False without an IO frame or without an action.
    bool chkSame_IOOutput(int index, IOState_Rel state) const;
    // The action: empty, or one {index, level}.
    QList<IO_IndexLevel> get_action_io() const;
    // Drops the action.
    void clear_action_io();

    // Delay before the output is set, in ms (negative values store 0).
    void set_delay_ms(int ms);
    int get_delay_ms() const { return timer_delay.interval(); }
    // Time the output is held before it is put back, in ms; 0 = it stays
    // (negative values store 0).
    void set_pulse_ms(int ms);
    int get_pulse_ms() const { return timer_pulse.interval(); }

    bool isDelayRunning() const { return timer_delay.isActive(); }
    bool isPulseRunning() const { return timer_pulse.isActive(); }

protected slots:
    // Sets the output (when enabled and there is an action) and starts the
    // pulse time.
    void onStart_Working() override;

private:
    // The pulse time ran out: the output goes to the opposite level. Not
    // gated by the enable flag, so a pulse that has started always ends.
    void onPulseEnd();

    QList<IO_IndexLevel> action_io;
    mutable QMutex action_mutex;
    QTimer timer_delay;
    QTimer timer_pulse;
};
