#include "inspection/ignoredetect.h"

#include "foundation/logmanager.h"
#include "inspection/detectormasks.h"
#include "inspection/roiinterface.h"

#include <QDebug>

void IgnoreDetect::initjs(QJsonArray& /*params*/)
{
}

void IgnoreDetect::savejs(QJsonArray& /*params*/)
{
}

void IgnoreDetect::initSystemParam(QJsonObject& /*system*/)
{
}

std::unique_ptr<ProcessorInterface> IgnoreDetect::createNewObj() const
{
    return std::make_unique<IgnoreDetect>();
}

QString IgnoreDetect::getName() const
{
    return QStringLiteral("ignore");
}

QString IgnoreDetect::getProcessorDesc(bool /*nameOnly*/) const
{
    return QObject::tr("忽略区域");
}

bool IgnoreDetect::campare(ProcessorInterface* /*other*/, QString& /*text*/)
{
    return true;
}

bool IgnoreDetect::addShapeTo(RoiInterface* region, cv::Mat& ignoreMask)
{
    if (!region || region->isUnknownType())
        return false;
    // Rectangle and mask are fetched once: this runs for every ignore region
    // at every step preparation.
    const cv::Rect rect = region->getImageRect();
    const cv::Mat shape = region->getMask();
    if (shape.empty() || shape.type() != CV_8UC1 || shape.size() != rect.size())
        return false;
    if (ignoreMask.type() != CV_8UC1 || !detectormasks::rectInside(rect, ignoreMask))
        return false;
    // The view shares the mask's pixels, so the caller's mask itself changes.
    cv::Mat part = ignoreMask(rect);
    cv::bitwise_or(part, shape, part);
    return true;
}

void IgnoreDetect::preprocessor(RoiInterface* region)
{
    if (!region)
        return;
    cv::Mat ignore = region->getIgnoreMask();
    if (!addShapeTo(region, ignore))
        qCInfo(level_1).noquote() << unusableInitText(region);
}

void IgnoreDetect::paramChange(RoiInterface* region, cv::Mat& /*preview*/, cv::Mat ignoreMask)
{
    if (!region)
        return;
    if (!addShapeTo(region, ignoreMask))
        qCInfo(level_1).noquote() << unusableRunText(region);
}

void IgnoreDetect::execute(RoiInterface* region, cv::Mat& /*regionMask*/)
{
    if (region)
        region->setResult(true);
}
