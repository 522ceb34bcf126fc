#include "flow/flowpart_cond_preresult.h"

#include <QJsonValue>

FlowPart_Cond_PreResult::FlowPart_Cond_PreResult(FlowUnit_Base* unit) : FlowPart_Cond_IO(unit)
{
    part_type = QStringLiteral("FlowPart_Cond_PreResult");
    part_cond_type = CondType_PreResult;
    set_cond_flags(false, true, false, false);
}

FlowPart_Cond_PreResult::~FlowPart_Cond_PreResult() = default;

void FlowPart_Cond_PreResult::set_cond_resultctrl(int preindex, bool result)
{
    cond_resultctrl_preindex = preindex;
    cond_resultctrl_result = result;
}

bool FlowPart_Cond_PreResult::chkCondSet(FlowUnit_Passport passport) const
{
    if (!FlowPart_Condition::chkCondSet(passport))
        return false;
    const FlowWork_Condition& cond = passport.condition;
    if (cond.cond_type != CondType_PreResult)
        return false;
    // A unit never takes the result of its own detection.
    if (cond.cond_resultctrl_preindex == cond_sortindex)
        return false;
    return cond.cond_resultctrl_preindex == cond_resultctrl_preindex
           && cond.cond_resultctrl_result == cond_resultctrl_result;
}

QString FlowPart_Cond_PreResult::get_user_describe() const
{
    if (!user_describe.isEmpty())
        return user_describe;
    return tr("前一个检测（index = %1）检测结果 = %2 后")
        .arg(cond_resultctrl_preindex)
        .arg(cond_resultctrl_result ? QStringLiteral("OK") : QStringLiteral("NG"));
}

QJsonObject FlowPart_Cond_PreResult::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_Condition::Serialize_2_Json();
    o.insert(QStringLiteral("name"), get_user_describe());
    o.insert(QStringLiteral("cond_resultctrl_preindex"), cond_resultctrl_preindex);
    o.insert(QStringLiteral("cond_resultctrl_result"), cond_resultctrl_result);
    return o;
}

void FlowPart_Cond_PreResult::Structure_FromJson(const QJsonObject& obj)
{
    FlowPart_Condition::Structure_FromJson(obj);
    const int preindex = obj.value(QStringLiteral("cond_resultctrl_preindex")).toInt(0);
    const QJsonValue r = obj.value(QStringLiteral("cond_resultctrl_result"));
    const bool result = r.isBool() ? r.toBool() : (r.isDouble() && r.toDouble() != 0.0);
    set_cond_resultctrl(preindex, result);
}
