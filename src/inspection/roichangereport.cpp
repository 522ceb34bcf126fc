#include "inspection/roichangereport.h"

#include "inspection/processorinterface.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>

#include <algorithm>

namespace {

const RoiList kNoRegions;

const RoiList& stepOf(const RoiSteps& steps, int s)
{
    return s < int(steps.size()) ? steps[size_t(s)] : kNoRegions;
}

// The detector's name, or the stored "func_type" for a region without one.
QString detectorName(const RoiInterface& region)
{
    const ProcessorInterface* p = region.getProcessor();
    return p ? p->getName() : region.getProcessorName();
}

QString detectorDesc(const RoiInterface& region, bool nameOnly)
{
    const ProcessorInterface* p = region.getProcessor();
    return p ? p->getProcessorDesc(nameOnly) : region.getProcessorName();
}

QJsonArray storedParams(const RoiInterface& region)
{
    QJsonObject o;
    region.saveToJson(o);
    return o.value(QStringLiteral("func_params")).toArray();
}

// "<shape>区域<n>,功能是<detector>" for a region that only one set has.
QString oneSidedText(const RoiInterface& region, bool withParams)
{
    return QObject::tr("%1区域%2,功能是")
               .arg(region.getRoiTypeDesc(), QString::number(qint64(region.getRoiIndex()) + 1)) +
           detectorDesc(region, !withParams);
}

// The text for a region both sets have at the same position; empty when
// nothing about it changed.
QString modifiedText(const RoiInterface& oldRegion, const RoiInterface& newRegion)
{
    QString text = QObject::tr("修改了%1区域%2,")
                       .arg(oldRegion.getRoiTypeDesc(), QString::number(qint64(oldRegion.getRoiIndex()) + 1));
    bool changed = false;
    if (detectorName(oldRegion) != detectorName(newRegion)) {
        text += QObject::tr("功能从%1改为%2").arg(detectorDesc(oldRegion, true), detectorDesc(newRegion, false));
        changed = true;
    } else {
        text += QObject::tr("功能是%1").arg(detectorDesc(oldRegion, true));
        ProcessorInterface* oldDetector = oldRegion.getProcessor();
        ProcessorInterface* newDetector = newRegion.getProcessor();
        if (oldDetector && newDetector)
            changed = !oldDetector->campare(newDetector, text);
        else
            changed = storedParams(oldRegion) != storedParams(newRegion);
    }

    QString unused;
    if (oldRegion.getRoiType() != newRegion.getRoiType() || !oldRegion.isEqual(&newRegion, unused)) {
        text += QObject::tr("，检测位置被修改");
        return text;
    }
    return changed ? text : QString();
}

}  // namespace

QStringList describeRoiChanges(const RoiSteps& oldSteps, const RoiSteps& newSteps, int cameraNo, int stepCount)
{
    QStringList report;
    for (int s = 0; s < stepCount; ++s) {
        const RoiList& oldList = stepOf(oldSteps, s);
        const RoiList& newList = stepOf(newSteps, s);
        const QString header =
            QObject::tr("%1号相机,第%2检测").arg(QString::number(qint64(cameraNo) + 1), QString::number(s + 1));
        const size_t count = std::max(oldList.size(), newList.size());
        for (size_t i = 0; i < count; ++i) {
            const RoiInterface* oldRegion = i < oldList.size() ? oldList[i].get() : nullptr;
            const RoiInterface* newRegion = i < newList.size() ? newList[i].get() : nullptr;
            if (!oldRegion && newRegion) {
                report << header + QObject::tr("增加了") + oneSidedText(*newRegion, true);
            } else if (oldRegion && !newRegion) {
                report << header + QObject::tr("减少了") + oneSidedText(*oldRegion, false);
            } else if (oldRegion && newRegion) {
                const QString text = modifiedText(*oldRegion, *newRegion);
                if (!text.isEmpty())
                    report << header + text;
            }
        }
    }
    return report;
}
