#pragma once
// The operator's "resample" (condition 64) on every camera of the group: a
// camera that still has to train deletes the old templates of the group's
// steps when asked to. The unit is always the empty one.
#include "group/rpcdistributed_core.h"

class RpcWork_Resample : public RpcDistributed_Core {
    Q_OBJECT
public:
    explicit RpcWork_Resample(const SRPC_WS_FormData& form, QObject* parent = nullptr);

    SCollect_Unit onMainWorking() override;
};
