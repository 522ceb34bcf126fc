#pragma once
// An IO condition that turns its trigger into a different start condition
// instead of running the unit's detection for the trigger itself. It accepts
// the same passports as an IO condition; when started it produces either a
// passport of a fixed operation type (no check: release the held machine
// without checking; re-detect) or a passport carrying a given complete start
// condition. The layouts use it to let an input release or re-detect a mould
// while the group is held in the NG stop at this unit.
//
// JSON: the condition object plus "input" and "act_cond_type" ("FU_NoCheck",
// "FU_ReDetect", "FU_IOTrig"); "act_cond_parambox" is written for a special
// IO-trigger condition and not read back.
//
// Threads: main thread only.
#include "flow/flowpart_cond_io.h"

#include <QList>

class FlowPart_Cond_IO_ChgOper : public FlowPart_Cond_IO {
    Q_OBJECT
public:
    explicit FlowPart_Cond_IO_ChgOper(FlowUnit_Base* unit);
    ~FlowPart_Cond_IO_ChgOper() override;

    QJsonObject Serialize_2_Json() const override;
    void Structure_FromJson(const QJsonObject& obj) override;

    // The operation the trigger becomes: 0 none, 8 no check, 16 re-detect,
    // 1 IO trigger.
    void set_ChgIO_Operate(Condition_Type type) { chgio_operate = type; }
    Condition_Type get_ChgIO_Operate() const { return chgio_operate; }
    // A complete start condition to hand on instead (replaces any earlier one).
    void set_ChgIO_SpecOperate(FlowWork_Condition condition);
    QList<FlowWork_Condition> get_ChgIO_SpecOperate() const { return chgio_specoperate; }

public slots:
    // Produces the changed passport into the output list (see the class
    // comment). Neither the enable flag nor the IO actions are involved.
    void onStart_Working() override;

private:
    Condition_Type chgio_operate = CondType_None;
    QList<FlowWork_Condition> chgio_specoperate;
};
