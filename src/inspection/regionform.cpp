#include "inspection/regionform.h"

#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"

#include <QJsonArray>
#include <QObject>

#include <cmath>
#include <limits>

namespace {

// A JSON number that a stored region reads as itself (jsonWholeNumber).
bool wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    return std::isfinite(d) && d == std::trunc(d) && d >= double(std::numeric_limits<int>::min())
        && d <= double(std::numeric_limits<int>::max());
}

bool wholeNumbers(const QJsonArray& values, int count)
{
    if (values.size() != count)
        return false;
    for (const QJsonValue& v : values) {
        if (!wholeNumber(v))
            return false;
    }
    return true;
}

// Rectangle and circle: four whole numbers; polygon: one or more [x, y]
// pairs of whole numbers.
bool geometryHeld(const QString& type, const QJsonValue& infos)
{
    if (!infos.isArray())
        return false;
    const QJsonArray values = infos.toArray();
    if (type != QLatin1String("polygon"))
        return wholeNumbers(values, 4);
    if (values.isEmpty())
        return false;
    for (const QJsonValue& point : values) {
        if (!point.isArray() || !wholeNumbers(point.toArray(), 2))
            return false;
    }
    return true;
}

}  // namespace

QString RegionForm::stepNumberFault(const QJsonObject& region)
{
    const QJsonValue detectIndex = region.value(QStringLiteral("detect_index"));
    if (wholeNumber(detectIndex) && detectIndex.toDouble() >= 0)
        return QString();
    return QObject::tr("%1号检测%2号区域：\"detect_index\"不是检测序号")
        .arg(jsonWholeNumber(detectIndex) + 1)
        .arg(jsonWholeNumber(region.value(QStringLiteral("roi_index"))) + 1);
}

QString RegionForm::editFault(const QJsonObject& region)
{
    const QString stepFault = stepNumberFault(region);
    if (!stepFault.isEmpty())
        return stepFault;
    const int detect = jsonWholeNumber(region.value(QStringLiteral("detect_index"))) + 1;
    const int roi = jsonWholeNumber(region.value(QStringLiteral("roi_index"))) + 1;
    const PluginsManager* registry = PluginsManager::getInstance();
    // A name this program does not know: the text names it and the known ones.
    const auto unknown = [&](const char* text, const QString& name, const QStringList& known) {
        return QObject::tr(text).arg(detect).arg(roi).arg(name, known.join(QStringLiteral(", ")));
    };
    const QString type = region.value(QStringLiteral("roi_type")).toString();
    if (!registry->shapeTypes().contains(type)) {
        return unknown(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域：\"roi_type\"的值\"%3\"不是已知的形状（%4）"), type,
                       registry->shapeTypes());
    }
    const QString detector = region.value(QStringLiteral("func_type")).toString();
    if (!registry->processorNames().contains(detector)) {
        return unknown(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域：\"func_type\"的值\"%3\"不是已知的功能（%4）"),
                       detector, registry->processorNames());
    }
    if (!geometryHeld(type, region.value(QStringLiteral("roi_infos"))))
        return QObject::tr("%1号检测%2号区域：\"roi_infos\"不是%3形状的整数坐标").arg(detect).arg(roi).arg(type);
    return QString();
}
