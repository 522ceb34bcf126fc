#include "group/rpcwork_normaldetect.h"

#include "group/workevent_passport.h"

#include "foundation/logmanager.h"

#include <QDebug>

#include <QDebug>
#include <QThread>

RpcWork_NormalDetect::RpcWork_NormalDetect(const SRPC_WS_FormData& form, QObject* parent)
    : RpcDistributed_Core(form, parent, limitFor(form))
{
    setProperty("event_type", QStringLiteral("RpcWork_NormalDetect"));
}

int RpcWork_NormalDetect::clampedTimes(int times) { return qBound(0, times, 10); }
int RpcWork_NormalDetect::clampedInterval(int interval_ms) { return qBound(0, interval_ms, 1000); }

int RpcWork_NormalDetect::limitFor(const SRPC_WS_FormData& form)
{
    const FlowUnit_State us = passportOfForm(form).get_unit_state();
    return baseTimeoutMs() + clampedTimes(us.fus_redetect_times) * clampedInterval(us.fus_redetect_interval);
}

SCollect_Unit RpcWork_NormalDetect::onMainWorking() { return ownWork(); }

SCollect_Unit RpcWork_NormalDetect::ownWork()
{
    const FlowUnit_Passport passport = passportOfForm(formdata());
    const FlowGroup_State gs = passport.get_group_state();
    const FlowUnit_State us = passport.get_unit_state();
    const QString tag = QStringLiteral("<%1>:").arg(QStringLiteral("onMainWorking"));
    qInfo().noquote() << tag << "runstate/detect_index/condtype:" << gs.fgs_runstate << us.fus_detect_index_abs
                      << int(passport.condition.cond_type);
    const int n = clampedTimes(us.fus_redetect_times);
    const int t = clampedInterval(us.fus_redetect_interval);
    const int step = us.fus_detect_index_abs;

    SCollect_Unit unit;
    unit.detect_model = gs.fgs_runstate;
    GroupWorkServices* hub = services();
    if (!hub) {
        qCWarning(level_1).noquote() << tag << "no work services: NG" << formdata().uuid;
        return unit;
    }
    if (gs.fgs_runstate == FlowRunState_Detect) {
        hub->RunAlgorithm_New(step, unit);
        if (!unit.result) {
            int sum = unit.calculate_time;
            for (int i = 0; i < n && !unit.result; ++i) {
                QThread::msleep(static_cast<unsigned long>(t));
                hub->RunAlgorithm_New(step, unit);
                sum += unit.calculate_time;
                unit.calculate_time = sum;
            }
            if (!unit.result)
                hub->Update_MemNGLook(step);
        }
        qInfo().noquote() << tag << "save image before";
        hub->SaveImageFile(step, unit.result ? 2 : 3, passport.uuid);
        qInfo().noquote() << tag << "save image after";
    } else if (gs.fgs_runstate == FlowRunState_Sampling) {
        if (gs.fgs_remain_trains_cameras.contains(get_interface().own_id))
            hub->RunTrain_New(step, unit);
        else
            unit.result = true;
    }
    return unit;
}

SCollect_Unit RpcWork_NormalDetect::onSubWorking()
{
    const FlowUnit_Passport passport = passportOfForm(formdata());
    const SCollect_Unit unit = ownWork();
    GroupWorkServices* hub = services();
    if (!hub)
        return unit;
    if (unit.detect_model == FlowRunState_Sampling
        && passport.get_group_state().fgs_remain_trains_cameras.contains(get_interface().own_id))
        hub->RunTrain_Var(unit.detect);
    hub->setShownUnitIndex(passport.get_unit_state().fus_detect_index_abs);
    hub->async_back2longtcp_runresult(passport.uuid, true);
    return unit;
}
