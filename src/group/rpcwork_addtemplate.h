#pragma once
// The operator's "add template" (condition 32) on every camera of the group:
// a listed camera whose previous result was NG takes the current image as a
// further template (only when "h_temp_count" > 1), resets its regions and
// saves the alarm as cleared by a template (kind 5); a camera whose previous
// result was OK only resets; an unlisted NG camera keeps its NG; an unlisted
// camera without a previous result detects. A sub camera also retrains while
// sampling, shows the step and pushes its run result.
#include "group/rpcwork_operatorevent.h"

class RpcWork_AddTemplate : public RpcWork_OperatorEvent {
    Q_OBJECT
public:
    explicit RpcWork_AddTemplate(const SRPC_WS_FormData& form, QObject* parent = nullptr);

protected:
    SCollect_Unit conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                SCollect_Unit unit) override;
    // Carries the group's run state.
    SCollect_Unit firstUnit(const FlowUnit_Passport& passport) const override;
    // Retrains while sampling.
    void afterSubWork(GroupWorkServices* hub, const SCollect_Unit& unit) override;
};
