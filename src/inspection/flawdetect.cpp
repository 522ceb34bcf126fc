#include "inspection/flawdetect.h"

#include "foundation/logmanager.h"
#include "inspection/detectormasks.h"
#include "inspection/hubservices.h"
#include "inspection/roiinterface.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>

namespace {

// Parameter order of "func_params".
enum FlawParam { kSensitivity, kAlarmArea, kFilterSize, kFlawParamCount };

// Training constants handed to the matcher (its edge thresholds).
constexpr int kEdgeLow = 100;
constexpr int kEdgeHigh = 150;

QString regionText(const char* source, const RoiInterface* region)
{
    return QObject::tr(source).arg(region->getDetectIndex() + 1).arg(region->getRoiIndex() + 1);
}

// Template `templ` (a full frame) at rect as grey. A grey template is handed
// over as a view, so the matcher also sees the ring of pixels around the
// patch; a colour one is converted with that ring and handed over as a view
// into the conversion. Empty when the template does not cover the rectangle.
cv::Mat greyPatch(const cv::Mat& templ, const cv::Rect& rect)
{
    if (!detectormasks::rectInside(rect, templ))
        return cv::Mat();
    if (templ.type() == CV_8UC1)
        return templ(rect);
    const cv::Rect ringed = (rect + cv::Size(2, 2) - cv::Point(1, 1)) & cv::Rect(0, 0, templ.cols, templ.rows);
    const cv::Mat grey = detectormasks::greyOf(templ(ringed));
    if (grey.empty())
        return cv::Mat();
    return grey(cv::Rect(rect.tl() - ringed.tl(), rect.size()));
}

}  // namespace

void FlawDetect::initjs(QJsonArray& params)
{
    int* fields[kFlawParamCount] = {&m_sensitivity, &m_alarmArea, &m_filterSize};
    for (int i = 0; i < kFlawParamCount && i < params.size(); ++i)
        *fields[i] = jsonWholeNumber(params.at(i));
}

void FlawDetect::savejs(QJsonArray& params)
{
    params.append(m_sensitivity);
    params.append(m_alarmArea);
    params.append(m_filterSize);
}

void FlawDetect::initSystemParam(QJsonObject& system)
{
    if (system.contains(QStringLiteral("h_diffmultiple")))
        m_diffMultiple = jsonWholeNumber(system.value(QStringLiteral("h_diffmultiple")));
    const bool perRegion = system.value(QStringLiteral("c_detailarithmetic")).toBool();
    m_cannyIgnore = system.value(QStringLiteral("c_defect_canny_ingore")).toBool();
    if (!perRegion) {
        if (system.contains(QStringLiteral("s_alarmareas")))
            m_alarmArea = jsonWholeNumber(system.value(QStringLiteral("s_alarmareas")));
        if (system.contains(QStringLiteral("s_filtersize")))
            m_filterSize = jsonWholeNumber(system.value(QStringLiteral("s_filtersize")));
    }
}

std::unique_ptr<ProcessorInterface> FlawDetect::createNewObj() const
{
    return std::make_unique<FlawDetect>();
}

QString FlawDetect::getName() const
{
    return QStringLiteral("flaw");
}

QString FlawDetect::getProcessorDesc(bool nameOnly) const
{
    QString text = QObject::tr("缺陷检测");
    if (!nameOnly) {
        text += QObject::tr("，灵敏度为%1，报警面积为%2，过滤尺寸为%3")
                    .arg(m_sensitivity)
                    .arg(m_alarmArea)
                    .arg(m_filterSize);
    }
    return text;
}

bool FlawDetect::campare(ProcessorInterface* other, QString& text)
{
    if (!other)
        return false;
    QJsonArray theirs;
    other->savejs(theirs);
    const int mine[kFlawParamCount] = {m_sensitivity, m_alarmArea, m_filterSize};
    const char* phrases[kFlawParamCount] = {"，灵敏度从%1改为%2", "，报警面积从%1改为%2",
                                            "，过滤尺寸从%1改为%2"};
    bool same = true;
    for (int i = 0; i < kFlawParamCount; ++i) {
        const int value = jsonWholeNumber(theirs.at(i));
        if (value != mine[i]) {
            text += QObject::tr(phrases[i]).arg(mine[i]).arg(value);
            same = false;
        }
    }
    return same;
}

void FlawDetect::preprocessor(RoiInterface* region)
{
    if (m_grayMatch.IsValid())
        m_grayMatch.Clear();
    if (!region)
        return;
    if (!regionInspectable(region)) {
        qCWarning(level_1).noquote() << unusableInitText(region);
        return;
    }
    const cv::Rect rect = region->getImageRect();
    m_grayMatch.Create(rect.width, rect.height, region->getMask(), m_cannyIgnore ? 1 : 0);
    const int count = region->getTemplateCount();
    for (int i = 0; i < count; ++i) {
        // Empty templates, and any that do not cover the rectangle, are skipped.
        const cv::Mat patch = greyPatch(region->getTemplateImage(i), rect);
        if (!patch.empty())
            m_grayMatch.AddTemp(patch);
    }
    m_grayMatch.Train(m_sensitivity, m_diffMultiple, kEdgeLow, kEdgeHigh);
    if (!m_grayMatch.IsValid())
        HubServices::record(regionText(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域初始化失败"), region), QStringLiteral("system"));
}

void FlawDetect::paramChange(RoiInterface* /*region*/, cv::Mat& /*preview*/, cv::Mat /*ignoreMask*/)
{
    // No preview: the difference map needs a run image to compare.
}

void FlawDetect::forceNg(RoiInterface* region, const QString& reason)
{
    region->setResult(false);
    // The text of an earlier run could show a passing area.
    region->setResultDescription(reason);
    m_verdictForced = true;
    qCWarning(level_1).noquote() << reason;
}

void FlawDetect::execute(RoiInterface* region, cv::Mat& regionMask)
{
    m_verdictForced = false;
    if (!region)
        return;
    const cv::Rect rect = region->getImageRect();
    const cv::Mat run = region->getRunImage();
    if (!regionInspectable(region) || !detectormasks::rectInside(rect, run)) {
        forceNg(region, unusableRunText(region));
        return;
    }
    const cv::Mat grey = m_grayMatch.IsValid() ? detectormasks::greyOf(run(rect)) : cv::Mat();
    // A model trained for another rectangle cannot judge this one either.
    if (grey.empty() || !m_grayMatch.Match(grey, regionMask)) {
        regionMask.setTo(0);
        forceNg(region, regionText(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域初始化，未进行检测"), region));
        return;
    }

    // A side below 1 means no cleaning; the operator's range bounds it above
    // (the cost grows with its square). A kernel wider than the region's
    // diagonal twice over acts like any larger one, so the side is cut there
    // too and never costs more memory than the region.
    const int64_t reach = 2 * (int64_t(rect.width) + rect.height) + 3;
    const int side = int(std::min<int64_t>(detectormasks::boundedKernelSide(m_filterSize), reach));
    if (m_cannyIgnore) {
        const int64_t least = std::min<int64_t>(int64_t(side) * side, int64_t(rect.area()) + 1);
        detectormasks::keepLargeBlobs(regionMask, int(least));
    } else {
        detectormasks::openMarks(regionMask, side, &m_openScratch);
    }

    const cv::Mat ignore = region->getIgnoreMask();
    const cv::Mat ignoreCrop = ignore.type() == CV_8UC1 && detectormasks::rectInside(rect, ignore)
        ? ignore(rect)
        : cv::Mat();
    const bool marked = detectormasks::keepCountedPixels(regionMask, region->getMask(), ignoreCrop);

    // Nothing left marked has no contour: an area of 0 without the contour
    // search and its buffers (the usual run of a good part).
    const int area = marked ? calArea(regionMask) : 0;
    region->setArea(area);
    region->setResult(area <= m_alarmArea);
    region->setResultDescription(QStringLiteral("0-%1/%2").arg(m_alarmArea).arg(area));
}

QString FlawDetect::unreachableAlarm(int countable) const
{
    if (countable > m_alarmArea)
        return QString();
    return QObject::tr("可检测面积%1不超过报警面积%2").arg(countable).arg(m_alarmArea);
}

QString FlawDetect::filterSizeError(const QJsonObject& region)
{
    if (region.value(QStringLiteral("func_type")).toString() != QStringLiteral("flaw"))
        return QString();
    const QJsonArray params = region.value(QStringLiteral("func_params")).toArray();
    if (params.size() <= kFilterSize)
        return QString();  // the default side is kept
    const int side = jsonWholeNumber(params.at(kFilterSize));
    if (side >= detectormasks::kLeastKernelSide && side <= detectormasks::kMostKernelSide)
        return QString();
    return QObject::tr("%1号检测%2号区域的过滤尺寸%3超出范围%4..%5")
        .arg(jsonWholeNumber(region.value(QStringLiteral("detect_index"))) + 1)
        .arg(jsonWholeNumber(region.value(QStringLiteral("roi_index"))) + 1)
        .arg(side)
        .arg(detectormasks::kLeastKernelSide)
        .arg(detectormasks::kMostKernelSide);
}

bool FlawDetect::applyNgTemplateRule(RoiInterface* region, bool useNgTemplates)
{
    if (!useNgTemplates || !region)
        return false;
    const auto* flaw = dynamic_cast<const FlawDetect*>(region->getProcessor());
    if (!flaw || flaw->verdictForced())
        return false;
    region->setResult(!region->getResult());
    return true;
}
