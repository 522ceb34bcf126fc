#pragma once
// The operator's re-detect (condition 16) on every camera of the group: each
// camera detects its step again, except, with "h_is_recheck_only_ng_camera",
// a camera whose previous result was OK (it only resets its regions). An OK
// saves a re-detected picture (kind 7).
#include "group/rpcwork_operatorevent.h"

class RpcWork_ReDetect : public RpcWork_OperatorEvent {
    Q_OBJECT
public:
    explicit RpcWork_ReDetect(const SRPC_WS_FormData& form, QObject* parent = nullptr);

protected:
    SCollect_Unit conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                SCollect_Unit unit) override;
};
