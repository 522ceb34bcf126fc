#include "flow/flowpart_cond_io_chgoper.h"

#include <QJsonArray>

FlowPart_Cond_IO_ChgOper::FlowPart_Cond_IO_ChgOper(FlowUnit_Base* unit) : FlowPart_Cond_IO(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_IO_ChgOper");
    set_cond_flags(true, true, false, false);
}

FlowPart_Cond_IO_ChgOper::~FlowPart_Cond_IO_ChgOper() = default;

void FlowPart_Cond_IO_ChgOper::set_ChgIO_SpecOperate(FlowWork_Condition condition)
{
    chgio_specoperate = {condition};
}

void FlowPart_Cond_IO_ChgOper::onStart_Working()
{
    set_out_passports({});

    if (!chgio_specoperate.isEmpty()) {
        FlowUnit_Passport produced(part_passport.uuid, chgio_specoperate.first());
        produced.set_group_state(part_passport.get_group_state());
        set_out_passports({produced});
        return;
    }

    if (chgio_operate == CondType_None)
        return;

    FlowWork_Condition cond;
    cond.cond_type = chgio_operate;
    // Without a camera list the cycle names no camera.
    cond.cond_action_deviceids = inst_iface.getCamDevices().getAllCamsIDs();
    cond.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    cond.cond_extra_flag1 = true;
    cond.cond_extra_flag2 = true;
    cond.cond_extra_flag3 = true;
    cond.cond_input_bits = 0;
    cond.cond_detect_index = part_passport.condition.cond_detect_index;
    cond.cond_detect_index_abs = -1;
    cond.cond_resample_rm_oldtemp = false;
    cond.cond_resultctrl_preindex = -1;
    cond.cond_resultctrl_result = true;
    if (chgio_operate == CondType_NoCheck)
        cond.cond_url = QStringLiteral("/dide/action/noactionmold");
    else if (chgio_operate == CondType_ReDetect)
        cond.cond_url = QStringLiteral("/dide/action/redetect");

    // Only while the group is held in the NG stop at this very unit.
    const FlowGroup_State gs = part_passport.get_group_state();
    if (gs.fgs_runstate != FlowRunState_NGStop || gs.fgs_runnode != part_passport.condition.cond_detect_index)
        return;

    FlowUnit_Passport produced(part_passport.uuid, cond);
    produced.set_group_state(gs);
    set_out_passports({produced});
}

QJsonObject FlowPart_Cond_IO_ChgOper::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Condition::Serialize_2_Json();
    o.insert(QStringLiteral("name"), get_user_describe());
    o.insert(QStringLiteral("input"), triggerListJson());
    if (chgio_specoperate.isEmpty()) {
        if (chgio_operate == CondType_NoCheck)
            o.insert(QStringLiteral("act_cond_type"), QStringLiteral("FU_NoCheck"));
        else if (chgio_operate == CondType_ReDetect)
            o.insert(QStringLiteral("act_cond_type"), QStringLiteral("FU_ReDetect"));
    } else {
        o.insert(QStringLiteral("act_cond_type"), QStringLiteral("FU_IOTrig"));
        if (chgio_specoperate.first().cond_type == CondType_IOTrig) {
            QJsonObject box;
            box.insert(QStringLiteral("do_io_trigs"), triggerListJson());
            o.insert(QStringLiteral("act_cond_parambox"), box);
        }
    }
    return o;
}

void FlowPart_Cond_IO_ChgOper::Structure_FromJson(const QJsonObject& obj)
{
    FlowPart_Condition::Structure_FromJson(obj);
    readTriggerList(obj);
    const QString act = obj.value(QStringLiteral("act_cond_type")).toString();
    if (act == QLatin1String("FU_NoCheck"))
        chgio_operate = CondType_NoCheck;
    else if (act == QLatin1String("FU_ReDetect"))
        chgio_operate = CondType_ReDetect;
    else if (act == QLatin1String("FU_IOTrig"))
        chgio_operate = CondType_IOTrig;
}
