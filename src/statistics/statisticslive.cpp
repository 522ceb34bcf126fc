#include "statistics/statisticslive.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace {

QByteArray listText(const QList<qint32>& list, int length)
{
    QJsonArray a;
    for (int i = 0; i < length; ++i)
        a.append(i < list.size() ? list[i] : 0);
    return QJsonDocument(a).toJson(QJsonDocument::Indented);
}

QList<qint32> listOf(const QVariant& text)
{
    QList<qint32> out;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toString().toUtf8());
    if (!doc.isArray())
        return out;
    for (const QJsonValue& v : doc.array())
        out.append(v.toInt());
    return out;
}

void insertPeriod(QVariantMap& m, const StatisticsLive& live)
{
    m.insert(QStringLiteral("starttime"), live.starttime);
    m.insert(QStringLiteral("runtime"), live.runtime);
    m.insert(QStringLiteral("stoptime"), live.stoptime);
    m.insert(QStringLiteral("alarmtime"), live.alarmtime);
    m.insert(QStringLiteral("closetime"), live.closetime);
}

qint32 at(const QList<qint32>& list, int i) { return i >= 0 && i < list.size() ? list[i] : 0; }

}  // namespace

QVariantMap StatisticsLive::toParams() const
{
    const int n = std::max(detect_ok_detail.size(), detect_ng_detail.size());
    QVariantMap m;
    insertPeriod(m, *this);
    m.insert(QStringLiteral("detect_ok"), detect_ok);
    m.insert(QStringLiteral("detect_ng"), detect_ng);
    m.insert(QStringLiteral("detect_ok_detail"), listText(detect_ok_detail, n));
    m.insert(QStringLiteral("detect_ng_detail"), listText(detect_ng_detail, n));
    return m;
}

QVariantMap StatisticsLive::toParams(int camera) const
{
    QVariantMap m;
    m.insert(QStringLiteral("detect_ok"), at(detect_ok_detail, camera));
    m.insert(QStringLiteral("detect_ng"), at(detect_ng_detail, camera));
    insertPeriod(m, *this);
    return m;
}

void StatisticsLive::takeCounts(const QVariantMap& values)
{
    detect_ok = values.value(QStringLiteral("detect_ok")).toInt();
    detect_ng = values.value(QStringLiteral("detect_ng")).toInt();
    detect_ok_detail = listOf(values.value(QStringLiteral("detect_ok_detail")));
    detect_ng_detail = listOf(values.value(QStringLiteral("detect_ng_detail")));
}

void StatisticsLive::restart(const QString& start)
{
    *this = StatisticsLive();
    starttime = start;
}
