#pragma once
// The detection work event started by an IO trigger of the flow.
#include "group/rpcwork_normaldetect.h"

class RpcWork_IOCatch : public RpcWork_NormalDetect {
    Q_OBJECT
public:
    explicit RpcWork_IOCatch(const SRPC_WS_FormData& form, QObject* parent = nullptr)
        : RpcWork_NormalDetect(form, parent)
    {
        setProperty("event_type", QStringLiteral("RpcWork_IOCatch"));
    }
};
