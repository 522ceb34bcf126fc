#include "group/rpcwork_redetect.h"

#include "group/workevent_passport.h"

RpcWork_ReDetect::RpcWork_ReDetect(const SRPC_WS_FormData& form, QObject* parent)
    : RpcWork_OperatorEvent(form, parent, QStringLiteral("RpcWork_ReDetect"), CondType_ReDetect)
{
}

SCollect_Unit RpcWork_ReDetect::conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                              SCollect_Unit unit)
{
    SCollect_Unit stored;
    const bool has_stored = lastDetectedUnit(passport, get_interface().own_id, &stored);
    if (hub->h_is_recheck_only_ng_camera() && has_stored && stored.result) {
        hub->ResetRun();
        stored.is_valid = false;
        return stored;
    }
    const int step = passport.get_unit_state().fus_detect_index_abs;
    hub->RunAlgorithm_New(step, unit);
    if (unit.result)
        hub->SaveImageFile(step, 7, QString());
    return unit;
}
