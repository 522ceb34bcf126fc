#include "group/rpcwork_addtemplate.h"

#include "group/workevent_passport.h"

RpcWork_AddTemplate::RpcWork_AddTemplate(const SRPC_WS_FormData& form, QObject* parent)
    : RpcWork_OperatorEvent(form, parent, QStringLiteral("RpcWork_AddTemplate"), CondType_AddTemplate)
{
}

SCollect_Unit RpcWork_AddTemplate::firstUnit(const FlowUnit_Passport& passport) const
{
    SCollect_Unit unit;
    unit.detect_model = passport.get_group_state().fgs_runstate;
    return unit;
}

SCollect_Unit RpcWork_AddTemplate::conditionWork(GroupWorkServices* hub, const FlowUnit_Passport& passport,
                                                 SCollect_Unit unit)
{
    const int step = passport.get_unit_state().fus_detect_index_abs;
    return clearOrDetect(hub, passport, get_interface().own_id, unit, [hub, step](SCollect_Unit cleared) {
        if (hub->h_temp_count() > 1)
            hub->AddTemplate(step);
        hub->ResetRun();
        cleared.is_valid = true;
        cleared.detect = step;
        cleared.result = true;
        cleared.calculate_time = 0;
        hub->SaveImageFile(step, 5, QString());
        return cleared;
    });
}

void RpcWork_AddTemplate::afterSubWork(GroupWorkServices* hub, const SCollect_Unit& unit)
{
    if (unit.detect_model == FlowRunState_Sampling)
        hub->RunTrain_Var(unit.detect);
}
