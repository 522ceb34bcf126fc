#include "group/workevent_passport.h"

#include "group/groupworkservices.h"

namespace {
const char kUserKey[] = "user_id";
}  // namespace

QVariantMap workEventDatas(const FlowUnit_Passport& passport)
{
    QVariantMap datas;
    const QByteArray serialised = FlowUnit_Passport::Serialization(passport);
    if (!serialised.isEmpty())
        datas.insert(QStringLiteral("passport"), QString::fromUtf8(serialised));
    if (!passport.condition.cond_user_id.isEmpty())
        datas.insert(QLatin1String(kUserKey), passport.condition.cond_user_id);
    return datas;
}

QString requestingUser(const SRPC_WS_FormData& form)
{
    const QVariant user = form.datas.value(QLatin1String(kUserKey));
    return user.type() == QVariant::String ? user.toString() : QString();
}

FlowUnit_Passport passportOfForm(const SRPC_WS_FormData& form, bool* ok)
{
    const QVariant value = form.datas.value(QStringLiteral("passport"));
    if (value.type() != QVariant::String) {
        if (ok)
            *ok = false;
        return FlowUnit_Passport();
    }
    return FlowUnit_Passport::Deserialization(value.toString().toUtf8(), ok);
}

bool lastDetectedUnit(const FlowUnit_Passport& passport, const QString& own_id, SCollect_Unit* unit)
{
    const QVariantMap info = passport.get_unit_state().fus_last_detected_info;
    const auto it = info.constFind(own_id);
    if (it == info.constEnd())
        return false;
    *unit = SCollect_Unit(it.value().toMap());
    return true;
}

SCollect_Unit clearOrDetect(GroupWorkServices* hub, const FlowUnit_Passport& passport, const QString& own_id,
                            SCollect_Unit unit, const std::function<SCollect_Unit(SCollect_Unit)>& clear)
{
    SCollect_Unit stored;
    const bool has_stored = lastDetectedUnit(passport, own_id, &stored);
    if (has_stored && stored.result) {
        hub->ResetRun();
        stored.is_valid = false;
        return stored;
    }
    if (passport.condition.cond_action_deviceids.contains(own_id))
        return clear(unit);
    if (has_stored) {
        stored.is_valid = false;
        return stored;
    }
    hub->RunAlgorithm_New(passport.get_unit_state().fus_detect_index_abs, unit);
    return unit;
}
