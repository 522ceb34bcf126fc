#include "group/rpcwork_operatorevent.h"

#include "group/workevent_passport.h"

#include "foundation/logmanager.h"

#include <QDebug>

RpcWork_OperatorEvent::RpcWork_OperatorEvent(const SRPC_WS_FormData& form, QObject* parent, const QString& type,
                                             Condition_Type condition)
    : RpcDistributed_Core(form, parent), m_condition(condition)
{
    setProperty("event_type", type);
}

SCollect_Unit RpcWork_OperatorEvent::firstUnit(const FlowUnit_Passport&) const { return SCollect_Unit(); }

void RpcWork_OperatorEvent::afterSubWork(GroupWorkServices*, const SCollect_Unit&) {}

SCollect_Unit RpcWork_OperatorEvent::onMainWorking() { return ownWork(passportOfForm(formdata())); }

SCollect_Unit RpcWork_OperatorEvent::ownWork(const FlowUnit_Passport& passport)
{
    const SCollect_Unit unit = firstUnit(passport);
    if (passport.condition.cond_type != m_condition)
        return unit;
    GroupWorkServices* hub = services();
    if (!hub) {
        qCWarning(level_1).noquote() << QStringLiteral("<%1>:").arg(property("event_type").toString())
                                     << "no work services: NG" << formdata().uuid;
        return unit;
    }
    return conditionWork(hub, passport, unit);
}

SCollect_Unit RpcWork_OperatorEvent::onSubWorking()
{
    const FlowUnit_Passport passport = passportOfForm(formdata());
    const SCollect_Unit unit = ownWork(passport);
    if (GroupWorkServices* hub = services()) {
        afterSubWork(hub, unit);
        hub->setShownUnitIndex(passport.get_unit_state().fus_detect_index_abs);
        hub->async_back2longtcp_runresult(passport.uuid, true);
    }
    return unit;
}
