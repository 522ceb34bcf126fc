#pragma once
// What the operator's clearing events (re-detect, no check, add template)
// share on every camera of the group: the camera works only when the
// passport carries the event's condition and the camera has its work seam
// (else its unit is the empty one, an NG), and a sub camera then shows the
// step and pushes its run result.
#include "group/rpcdistributed_core.h"

#include "flow/flowrecords.h"

class FlowUnit_Passport;

class RpcWork_OperatorEvent : public RpcDistributed_Core {
    Q_OBJECT
public:
    SCollect_Unit onMainWorking() override;
    SCollect_Unit onSubWorking() override;

protected:
    // `type`: the event's class name; `condition`: the condition it serves.
    RpcWork_OperatorEvent(const SRPC_WS_FormData& form, QObject* parent, const QString& type,
                          Condition_Type condition);

    // The camera's work, once the condition and the seam are there; `unit`
    // is the one firstUnit gave.
    virtual SCollect_Unit conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                        SCollect_Unit unit) = 0;
    // The unit before any work (the empty one).
    virtual SCollect_Unit firstUnit(const FlowUnit_Passport& passport) const;
    // A sub camera's extra step after its work, before it shows the step.
    virtual void afterSubWork(GroupWorkServices* hub, const SCollect_Unit& unit);

private:
    SCollect_Unit ownWork(const FlowUnit_Passport& passport);

    const Condition_Type m_condition;
};
