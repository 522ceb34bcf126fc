#pragma once
// The start condition through which an operator's manual snapshot reaches a
// detect unit (type exactly 2). A passport is meant for this unit when it
// names the unit's absolute detect index, or else when it names the unit's
// index within its group and the required input levels hold. When the unit
// starts it, it hands the passport on for the detection and then at once sets
// its IO actions, whatever its enable flag and without delay.
//
// Every standard detect unit makes one at construction. JSON: the condition
// object only; the input-state list is neither written nor read.
//
// Threads: main thread only.
#include "flow/flowpart_condition.h"

#include <QList>

class FlowPart_Cond_ManualTrig : public FlowPart_Condition {
    Q_OBJECT
public:
    // `unit` may be null: the standard detect unit owns the part through its
    // part list.
    explicit FlowPart_Cond_ManualTrig(FlowUnit_Base* unit);
    ~FlowPart_Cond_ManualTrig() override;

    // "手动抓拍" followed by one "（点位 N = 高电平/低电平）," per required input.
    QString get_user_describe() const override;
    bool chkCondSet(FlowUnit_Passport passport) const override;
    // Replaces the IO actions by copies of `other`'s, each without delay.
    void copy_list_action_iooutput_fromothers(FlowPart_Condition* other) override;
    // Appends one IO action per output; the delay argument is not used: the
    // outputs go out when the condition starts.
    void add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse) override;

    // The input levels that must hold when a passport reaches this unit by its
    // index within the group.
    void set_condwith_ioinput_state(QList<IO_IndexLevel> levels) { condwith_ioinput_state = levels; }
    QList<IO_IndexLevel> get_condwith_ioinput_state() const { return condwith_ioinput_state; }

public slots:
    // Produces the passport for the detection, then starts every IO action.
    void onStart_Working() override;

private:
    QList<IO_IndexLevel> condwith_ioinput_state;
};
