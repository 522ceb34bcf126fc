#include "group/rpcwork_resample.h"

#include "group/workevent_passport.h"

RpcWork_Resample::RpcWork_Resample(const SRPC_WS_FormData& form, QObject* parent)
    : RpcDistributed_Core(form, parent)
{
    setProperty("event_type", QStringLiteral("RpcWork_Resample"));
}

SCollect_Unit RpcWork_Resample::onMainWorking()
{
    const FlowUnit_Passport passport = passportOfForm(formdata());
    const FlowGroup_State gs = passport.get_group_state();
    GroupWorkServices* hub = services();
    if (hub && passport.condition.cond_type == CondType_Resample && passport.condition.cond_resample_rm_oldtemp
        && gs.fgs_remain_trains_cameras.contains(get_interface().own_id))
        hub->SlotTempDeleteAll(gs.fgs_units_indexabs);
    return SCollect_Unit();
}
