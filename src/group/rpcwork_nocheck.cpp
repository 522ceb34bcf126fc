#include "group/rpcwork_nocheck.h"

#include "group/workevent_passport.h"

RpcWork_NoCheck::RpcWork_NoCheck(const SRPC_WS_FormData& form, QObject* parent)
    : RpcWork_OperatorEvent(form, parent, QStringLiteral("RpcWork_NoCheck"), CondType_NoCheck)
{
}

SCollect_Unit RpcWork_NoCheck::conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                             SCollect_Unit unit)
{
    const int step = passport.get_unit_state().fus_detect_index_abs;
    return clearOrDetect(hub, passport, get_interface().own_id, unit, [hub, step](SCollect_Unit cleared) {
        hub->ResetRun();
        hub->SaveImageFile(step, 4, QString());
        cleared.is_valid = true;
        cleared.detect_model = 0;
        cleared.detect = step;
        cleared.result = true;
        cleared.calculate_time = 0;
        cleared.calculate_times = 0;
        return cleared;
    });
}
