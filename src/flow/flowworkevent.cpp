#include "flow/flowworkevent.h"

SCollect_Unit::SCollect_Unit(const QVariantMap& map)
    : is_valid(map.value(QStringLiteral("is_valid")).toBool())
    , detect_model(map.value(QStringLiteral("detect_model")).toInt())
    , detect(map.value(QStringLiteral("detect")).toInt())
    , result(map.value(QStringLiteral("result")).toBool())
    , calculate_time(map.value(QStringLiteral("calculate_time")).toInt())
    , calculate_times(map.value(QStringLiteral("calculate_times")).toInt())
    , collect_time(map.value(QStringLiteral("collect_time")).toLongLong())
{
}

QVariantMap SCollect_Unit::toMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("is_valid"), is_valid);
    map.insert(QStringLiteral("detect_model"), detect_model);
    map.insert(QStringLiteral("detect"), detect);
    map.insert(QStringLiteral("result"), result);
    map.insert(QStringLiteral("calculate_time"), calculate_time);
    map.insert(QStringLiteral("calculate_times"), calculate_times);
    map.insert(QStringLiteral("collect_time"), collect_time);
    return map;
}

bool SCollect_Unit::operator==(const SCollect_Unit& o) const
{
    return is_valid == o.is_valid && detect_model == o.detect_model && detect == o.detect
           && result == o.result && calculate_time == o.calculate_time
           && calculate_times == o.calculate_times && collect_time == o.collect_time;
}
