#include "inspection/processorinterface.h"

#include "inspection/detectormasks.h"
#include "inspection/roiinterface.h"

#include <cmath>
#include <limits>

ProcessorInterface::~ProcessorInterface() = default;

bool ProcessorInterface::regionUsable(const RoiInterface* region)
{
    if (!region || region->isUnknownType())
        return false;
    const cv::Rect rect = region->getImageRect();
    if (rect.width <= 0 || rect.height <= 0)
        return false;
    const cv::Mat mask = region->getMask();
    return !mask.empty() && mask.rows == rect.height && mask.cols == rect.width;
}

bool ProcessorInterface::regionInspectable(const RoiInterface* region)
{
    return regionUsable(region) && cv::countNonZero(region->getMask()) > 0;
}

QString ProcessorInterface::emptyMaskText(const RoiInterface* region)
{
    const int detect = region ? region->getDetectIndex() + 1 : 0;
    const int roi = region ? region->getRoiIndex() + 1 : 0;
    return QObject::tr("%1号检测%2号区域没有可检测的像素").arg(detect).arg(roi);
}

QString ProcessorInterface::unreachableAlarm(int /*countable*/) const
{
    return QString();
}

int ProcessorInterface::countableArea(const RoiInterface* region, const cv::Mat& ignoreMask)
{
    if (!regionUsable(region))
        return 0;
    const cv::Rect rect = region->getImageRect();
    cv::Mat countable = region->getMask().clone();
    const cv::Mat ignoreCrop = ignoreMask.type() == CV_8UC1 && detectormasks::rectInside(rect, ignoreMask)
        ? ignoreMask(rect)
        : cv::Mat();
    if (!ignoreCrop.empty())
        countable.setTo(0, ignoreCrop);
    return calArea(countable);
}

QString ProcessorInterface::unreachableRunText(const RoiInterface* region, const QString& why)
{
    const int detect = region ? region->getDetectIndex() + 1 : 0;
    const int roi = region ? region->getRoiIndex() + 1 : 0;
    return QObject::tr("%1号检测%2号区域无法达到报警面积，未进行检测：%3").arg(detect).arg(roi).arg(why);
}

QString ProcessorInterface::unreachableEditText(const RoiInterface* region, const QString& why)
{
    const int detect = region ? region->getDetectIndex() + 1 : 0;
    const int roi = region ? region->getRoiIndex() + 1 : 0;
    return QObject::tr("%1号检测%2号区域无法达到报警面积：%3").arg(detect).arg(roi).arg(why);
}

QString ProcessorInterface::unusableRunText(const RoiInterface* region)
{
    const int detect = region ? region->getDetectIndex() + 1 : 0;
    const int roi = region ? region->getRoiIndex() + 1 : 0;
    return QObject::tr("%1号检测%2号区域无效，未进行检测").arg(detect).arg(roi);
}

QString ProcessorInterface::unusableInitText(const RoiInterface* region)
{
    const int detect = region ? region->getDetectIndex() + 1 : 0;
    const int roi = region ? region->getRoiIndex() + 1 : 0;
    return QObject::tr("%1号检测%2号区域无效，初始化失败").arg(detect).arg(roi);
}

int jsonWholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d))
        return 0;
    if (d < double(std::numeric_limits<int>::min()) || d > double(std::numeric_limits<int>::max()))
        return 0;
    return int(d);
}
