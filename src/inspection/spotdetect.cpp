#include "inspection/spotdetect.h"

#include "foundation/logmanager.h"
#include "inspection/detectormasks.h"
#include "inspection/roiinterface.h"

#include <QDebug>

#include <opencv2/imgproc.hpp>

namespace {

// Parameter order of "func_params".
enum SpotParam { kMinArea, kMaxArea, kMinGray, kMaxGray, kSpotParamCount };

// The step's ignore mask cut at rect, or an empty matrix when the step has
// none that covers the rectangle (then nothing is ignored).
cv::Mat ignoreCrop(const cv::Mat& ignore, const cv::Rect& rect)
{
    if (ignore.type() != CV_8UC1 || !detectormasks::rectInside(rect, ignore))
        return cv::Mat();
    return ignore(rect);
}

}  // namespace

void SpotDetect::initjs(QJsonArray& params)
{
    int* fields[kSpotParamCount] = {&m_minArea, &m_maxArea, &m_minGray, &m_maxGray};
    for (int i = 0; i < kSpotParamCount && i < params.size(); ++i)
        *fields[i] = jsonWholeNumber(params.at(i));
}

void SpotDetect::savejs(QJsonArray& params)
{
    params.append(m_minArea);
    params.append(m_maxArea);
    params.append(m_minGray);
    params.append(m_maxGray);
}

void SpotDetect::initSystemParam(QJsonObject& system)
{
    if (system.contains(QStringLiteral("h_minspot")))
        m_minSpot = jsonWholeNumber(system.value(QStringLiteral("h_minspot")));
}

std::unique_ptr<ProcessorInterface> SpotDetect::createNewObj() const
{
    return std::make_unique<SpotDetect>();
}

QString SpotDetect::getName() const
{
    return QStringLiteral("spot");
}

QString SpotDetect::getProcessorDesc(bool nameOnly) const
{
    QString text = QObject::tr("斑点检测");
    if (!nameOnly) {
        text += QObject::tr("，最小灰度为%1，最大灰度为%2，最小面积为%3，最大面积为%4")
                    .arg(m_minGray)
                    .arg(m_maxGray)
                    .arg(m_minArea)
                    .arg(m_maxArea);
    }
    return text;
}

bool SpotDetect::campare(ProcessorInterface* other, QString& text)
{
    if (!other)
        return false;
    QJsonArray theirs;
    other->savejs(theirs);
    const int mine[kSpotParamCount] = {m_minArea, m_maxArea, m_minGray, m_maxGray};
    const char* phrases[kSpotParamCount] = {QT_TRANSLATE_NOOP("QObject", "，最小面积从%1改为%2"), QT_TRANSLATE_NOOP("QObject", "，最大面积从%1改为%2"),
                                            QT_TRANSLATE_NOOP("QObject", "，最小灰度从%1改为%2"), QT_TRANSLATE_NOOP("QObject", "，最大灰度从%1改为%2")};
    bool same = true;
    for (int i = 0; i < kSpotParamCount; ++i) {
        const int value = jsonWholeNumber(theirs.at(i));
        if (value != mine[i]) {
            text += QObject::tr(phrases[i]).arg(mine[i]).arg(value);
            same = false;
        }
    }
    return same;
}

void SpotDetect::preprocessor(RoiInterface* /*region*/)
{
    // Nothing to learn: the band is applied as it is.
}

void SpotDetect::paramChange(RoiInterface* region, cv::Mat& preview, cv::Mat ignoreMask)
{
    if (!region)
        return;
    const cv::Rect rect = region->getImageRect();
    const cv::Mat templ = region->getTemplateImage();
    const bool fits = regionUsable(region) && detectormasks::rectInside(rect, templ)
        && preview.type() == CV_8UC1 && preview.size() == rect.size();
    const cv::Mat grey = fits ? detectormasks::greyOf(templ(rect)) : cv::Mat();
    if (grey.empty()) {
        qInfo().noquote() << unusableRunText(region);
        return;
    }

    cv::inRange(grey, cv::Scalar(m_minGray), cv::Scalar(m_maxGray), preview);
    // The preview shows what survives an opening, so that specks smaller than
    // the kernel do not distract while the band is being tuned.
    detectormasks::openMarks(preview, m_minSpot);
    detectormasks::keepCountedPixels(preview, region->getMask(), ignoreCrop(ignoreMask, rect));
    region->setArea(calArea(preview));
}

void SpotDetect::execute(RoiInterface* region, cv::Mat& regionMask)
{
    if (!region)
        return;
    const cv::Rect rect = region->getImageRect();
    const cv::Mat run = region->getRunImage();
    const cv::Mat grey = regionInspectable(region) && detectormasks::rectInside(rect, run)
        ? detectormasks::greyOf(run(rect))
        : cv::Mat();
    if (grey.empty()) {
        // Not inspected: never let it pass, and never show the text of an
        // earlier run.
        const QString reason = unusableRunText(region);
        region->setResult(false);
        region->setResultDescription(reason);
        qCWarning(level_1).noquote() << reason;
        return;
    }

    detectormasks::markGreyBand(grey, m_minGray, m_maxGray, region->getMask(),
                                ignoreCrop(region->getIgnoreMask(), rect), regionMask);
    const int area = calArea(regionMask);
    region->setArea(area);
    region->setResult(m_minArea <= area && area <= m_maxArea);
    region->setResultDescription(QStringLiteral("%1-%2/%3").arg(m_minArea).arg(m_maxArea).arg(area));
}

QString SpotDetect::unreachableAlarm(int countable) const
{
    // No marks at all measure 0, below a positive minimum.
    if (m_minArea > 0)
        return QString();
    // A band that misses 0 ... 255 marks nothing.
    const bool bandMarks = m_minGray <= m_maxGray && m_maxGray >= 0 && m_minGray <= 255;
    const int most = bandMarks ? countable : 0;
    if (most > m_maxArea)
        return QString();
    return QObject::tr("可检测面积%1不超过最大面积%2").arg(most).arg(m_maxArea);
}
