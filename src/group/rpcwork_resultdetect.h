#pragma once
// The detection work event started by a flow group when one of its units has
// finished its work.
#include "group/rpcwork_normaldetect.h"

class RpcWork_ResultDetect : public RpcWork_NormalDetect {
    Q_OBJECT
public:
    explicit RpcWork_ResultDetect(const SRPC_WS_FormData& form, QObject* parent = nullptr)
        : RpcWork_NormalDetect(form, parent)
    {
        setProperty("event_type", QStringLiteral("RpcWork_ResultDetect"));
    }
};
