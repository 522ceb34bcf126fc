#pragma once
// The operator's action to detect the stopped mould again, as a start
// condition of a standard detect unit.
// It accepts a passport of its own type aimed at this unit by
// absolute detect index while the unit's group is held in the NG stop; the
// unit then runs a detection with it, and the work event named by the
// passport's cond_url does the action's real work. It sets no outputs: it
// never keeps IO actions.
//
// Every standard detect unit makes one at construction. JSON: the condition
// object only.
//
// Threads: main thread only.
#include "flow/flowpart_condition.h"

class FlowPart_Cond_ReDetect : public FlowPart_Condition {
    Q_OBJECT
public:
    // `unit` may be null: the standard detect unit owns the part through its
    // part list.
    explicit FlowPart_Cond_ReDetect(FlowUnit_Base* unit);
    ~FlowPart_Cond_ReDetect() override;

    bool chkCondSet(FlowUnit_Passport passport) const override;
    // Both only drop any IO action: this condition keeps none.
    void copy_list_action_iooutput_fromothers(FlowPart_Condition* other) override;
    void add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse) override;
};
