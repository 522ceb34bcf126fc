#pragma once
// The operator's "no check of this mould" (condition 8) on every camera of
// the group: a listed camera whose previous result was NG releases its alarm
// (regions reset, picture kind 4, unit OK); a camera whose previous result
// was OK only resets; an unlisted NG camera keeps its NG; a camera with no
// previous result detects again.
#include "group/rpcwork_operatorevent.h"

class RpcWork_NoCheck : public RpcWork_OperatorEvent {
    Q_OBJECT
public:
    explicit RpcWork_NoCheck(const SRPC_WS_FormData& form, QObject* parent = nullptr);

protected:
    SCollect_Unit conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                SCollect_Unit unit) override;
};
