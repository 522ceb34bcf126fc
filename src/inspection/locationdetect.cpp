#include "inspection/locationdetect.h"

#include "foundation/logmanager.h"
#include "inspection/detectormasks.h"
#include "inspection/geometry.h"
#include "inspection/hubservices.h"
#include "inspection/roiinterface.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kLeastMinMatch = 4;

QString regionText(const char* source, const RoiInterface* region)
{
    return QObject::tr(source).arg(region->getDetectIndex() + 1).arg(region->getRoiIndex() + 1);
}

}  // namespace

void LocationDetect::initjs(QJsonArray& params)
{
    if (!params.isEmpty())
        m_minMatch = jsonWholeNumber(params.at(0));
    m_minMatch = std::max(m_minMatch, kLeastMinMatch);
}

void LocationDetect::savejs(QJsonArray& params)
{
    m_minMatch = std::max(m_minMatch, kLeastMinMatch);
    params.append(m_minMatch);
}

void LocationDetect::initSystemParam(QJsonObject& system)
{
    if (system.contains(QStringLiteral("h_mostskewing")))
        m_mostSkewing = jsonWholeNumber(system.value(QStringLiteral("h_mostskewing")));
    if (system.contains(QStringLiteral("h_rotatecorrect")))
        m_rotateCorrect = jsonWholeNumber(system.value(QStringLiteral("h_rotatecorrect")));
}

std::unique_ptr<ProcessorInterface> LocationDetect::createNewObj() const
{
    return std::make_unique<LocationDetect>();
}

QString LocationDetect::getName() const
{
    return QStringLiteral("location");
}

QString LocationDetect::getProcessorDesc(bool nameOnly) const
{
    QString text = QObject::tr("目标定位");
    if (!nameOnly)
        text += QObject::tr("，最少匹配%1").arg(m_minMatch);
    return text;
}

bool LocationDetect::campare(ProcessorInterface* other, QString& text)
{
    if (!other)
        return false;
    QJsonArray theirs;
    other->savejs(theirs);
    const int value = jsonWholeNumber(theirs.at(0));
    if (value == m_minMatch)
        return true;
    text += QObject::tr("，最少匹配从%1改为%2").arg(m_minMatch).arg(value);
    return false;
}

int LocationDetect::modelPrecision(int mostSkewing)
{
    if (mostSkewing == 5000)
        return 255;
    if (mostSkewing > 7000 && mostSkewing < 7255)
        return mostSkewing - 7000;
    return 30;
}

int LocationDetect::modelMatch(int mostSkewing, int minMatch)
{
    return mostSkewing == 5000 ? minMatch : minMatch - 7;
}

cv::Rect LocationDetect::searchArea(const cv::Rect& rect, int margin, int frameWidth, int frameHeight)
{
    // 64-bit sums: a margin near the int limits must not wrap.
    const int64_t left = std::max<int64_t>(int64_t(rect.x) - margin, 0);
    const int64_t top = std::max<int64_t>(int64_t(rect.y) - margin, 0);
    const int64_t right = int64_t(rect.x) + rect.width + margin;
    const int64_t bottom = int64_t(rect.y) + rect.height + margin;
    const int64_t width = std::min<int64_t>(right, frameWidth) - left;
    const int64_t height = std::min<int64_t>(bottom, frameHeight) - top;
    if (width <= 0 || height <= 0)
        return cv::Rect();
    return cv::Rect(int(left), int(top), int(width), int(height));
}

void LocationDetect::preprocessor(RoiInterface* region)
{
    m_searchRect = cv::Rect();
    if (!region)
        return;
    const cv::Rect rect = region->getImageRect();
    const cv::Mat first = region->getFirstTemplateImage();
    // Without a master template that covers the region there is nothing to
    // learn: the search area stays empty, so execute leaves the image alone.
    if (!regionUsable(region) || !detectormasks::rectInside(rect, first)) {
        qInfo().noquote() << unusableInitText(region);
        return;
    }

    m_templateCenter = cv::Point(rect.x + rect.width / 2, rect.y + rect.height / 2);
    m_shapeFinder.CreateShape(first(rect), 0.0, 0, m_rotateCorrect, m_templateCenter.x,
                              m_templateCenter.y, false, modelPrecision(m_mostSkewing),
                              region->getMask(), 0, modelMatch(m_mostSkewing, m_minMatch));
    m_searchRect = searchArea(rect, m_mostSkewing, gImageW, gImageH);
    if (!m_shapeFinder.IsValid())
        HubServices::record(regionText(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域初始化失败"), region), QStringLiteral("system"));
}

void LocationDetect::paramChange(RoiInterface* /*region*/, cv::Mat& /*preview*/, cv::Mat /*ignoreMask*/)
{
    // Nothing to preview: the correction moves the image, it marks nothing.
}

void LocationDetect::execute(RoiInterface* region, cv::Mat& /*regionMask*/)
{
    m_lastCorrection = Correction();
    if (!region)
        return;
    region->setResult(true);

    cv::Mat run = region->getRunImage();
    // The search area was worked out for the frame size; a run image of
    // another size is only searched where the two overlap.
    const cv::Rect search = m_searchRect & cv::Rect(0, 0, run.cols, run.rows);
    if (search.width <= 0 || search.height <= 0) {
        qCInfo(level_1).noquote() << regionText(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域搜索区域无效，未进行检测"), region);
        return;
    }
    if (!m_shapeFinder.IsValid()) {
        qCInfo(level_1).noquote() << regionText(QT_TRANSLATE_NOOP("QObject", "%1号检测%2号区域初始化失败，未进行检测"), region);
        return;
    }

    // The finder only reads the search image, so a view of the run image is
    // enough; the run image is rewritten only after the search.
    cv::Mat searchImage = run(search);
    qInfo().noquote() << "+ 3-1:" << search.x << search.y << search.width << search.height;
    int x = 0;
    int y = 0;
    double angle = 0.0;
    double score = 0.0;
    if (!m_shapeFinder.Find(searchImage, 0, &x, &y, &angle, &score)) {
        qInfo().noquote() << "+ 3-1-finish";
        return;
    }
    qInfo().noquote() << "+ 3-2";
    qInfo().noquote() << "finish";

    const cv::Point shift(x - search.x, y - search.y);
    const bool rotate = rotationOn();
    m_lastCorrection = Correction{true, shift, rotate ? angle : 0.0};
    if (shift == cv::Point() && (!rotate || angle == 0.0))
        return;  // already in place: the image would be rewritten unchanged
    // Both functions work from their own copy of the source, so the run
    // image can be source and destination at once.
    if (rotate)
        TransformImage(run, run, shift, m_templateCenter, angle);
    else
        MoveImage(run, run, shift.x, shift.y);
}
