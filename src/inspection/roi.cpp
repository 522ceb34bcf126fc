#include "inspection/roi.h"
#include "foundation/logmanager.h"

#include "inspection/geometry.h"
#include "inspection/hubservices.h"
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"
#include "inspection/roicameraaccess.h"

#include <QDebug>
#include <QPainter>

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace {

// A new detector by name from the registry (made on first use); null when
// no detector answers to the name.
std::shared_ptr<ProcessorInterface> newProcessor(const QString& name)
{
    return std::shared_ptr<ProcessorInterface>(PluginsManager::getInstance()->creatorNewProcessor(name));
}

// rect clipped to the frame; (0, 0, -1, -1) when nothing of it lies inside.
QRect clipToFrame(const QRect& rect)
{
    if (rect.left() > rect.right() || rect.top() > rect.bottom() || gImageW <= 0 || gImageH <= 0)
        return QRect();
    const int left = std::max(rect.left(), 0);
    const int top = std::max(rect.top(), 0);
    const int right = std::min(rect.right(), gImageW - 1);
    const int bottom = std::min(rect.bottom(), gImageH - 1);
    if (left > right || top > bottom)
        return QRect();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

ROI::ROI() = default;

ROI::~ROI() = default;

std::unique_ptr<ROI> ROI::createUnknownShape(RoiCameraAccess* camera, const QJsonObject& json)
{
    auto region = std::make_unique<ROI>();
    region->m_camera = camera;
    region->m_detectIndex = jsonWholeNumber(json.value("detect_index"));
    region->m_roiIndex = jsonWholeNumber(json.value("roi_index"));
    region->m_processorName = json.value("func_type").toString();
    region->m_keptAsRead = true;
    region->m_unknownShape = true;
    region->m_storedJson = json;
    qCWarning(level_1).noquote() << QString("region %1 of detection %2 has the unknown shape \"%3\": kept as read, not inspected")
                                .arg(region->m_roiIndex + 1)
                                .arg(region->m_detectIndex + 1)
                                .arg(json.value("roi_type").toString());
    return region;
}

QString ROI::getRoiType() const
{
    return m_unknownShape ? m_storedJson.value("roi_type").toString() : QString();
}

void ROI::saveToJson(QJsonObject& o) const
{
    if (m_keptAsRead) {
        for (auto it = m_storedJson.begin(); it != m_storedJson.end(); ++it)
            o.insert(it.key(), it.value());
        // The region may have been moved to another step or place since.
        o.insert("detect_index", m_detectIndex);
        o.insert("roi_index", m_roiIndex);
        return;
    }
    o.insert("detect_index", m_detectIndex);
    o.insert("roi_index", m_roiIndex);
    o.insert("roi_type", getRoiType().isEmpty() ? QString("rect") : getRoiType());
    o.insert("roi_infos", writeGeometry());
    o.insert("func_type", m_processorName);
    QJsonArray params;
    if (m_processor)
        m_processor->savejs(params);
    o.insert("func_params", params);
}

void ROI::initFromJson(const QJsonObject& o)
{
    if (m_unknownShape) {
        // Nothing to rebuild: keep the new form as read.
        m_detectIndex = jsonWholeNumber(o.value("detect_index"));
        m_roiIndex = jsonWholeNumber(o.value("roi_index"));
        m_processorName = o.value("func_type").toString();
        m_storedJson = o;
        return;
    }

    m_keptAsRead = false;
    m_storedJson = QJsonObject();

    m_detectIndex = jsonWholeNumber(o.value("detect_index"));
    m_roiIndex = jsonWholeNumber(o.value("roi_index"));
    const bool geometryHeld = readGeometry(o.value("roi_infos").toArray());
    m_processorName = o.value("func_type").toString();

    // The old detector goes even when the name is unchanged; copies made for
    // alarm images keep theirs alive until they are done with it.
    m_processor.reset();
    m_processor = newProcessor(m_processorName);
    if (m_processor) {
        QJsonArray params = o.value("func_params").toArray();
        m_processor->initjs(params);
    } else {
        qCWarning(level_1).noquote() << QString("region %1 of detection %2 has the unknown detector \"%3\": kept as read, not inspected")
                                    .arg(m_roiIndex + 1)
                                    .arg(m_detectIndex + 1)
                                    .arg(m_processorName);
    }
    if (!m_processor || !geometryHeld) {
        m_processor.reset();
        m_keptAsRead = true;
        m_storedJson = o;
    }

    // Minimum size of the base rectangle (only rectangles use it).
    if (m_rect.right() - m_rect.left() <= 3)
        m_rect.setRight(m_rect.left() + 4);
    if (m_rect.bottom() - m_rect.top() <= 3)
        m_rect.setBottom(m_rect.top() + 4);

    setImageRect();
    UpdateMask();
    if (checksSize() && !m_keptAsRead)
        checkImageRect();
}

cv::Rect ROI::getImageRect() const
{
    return cv::Rect(m_imageRect.left(), m_imageRect.top(), m_imageRect.right() - m_imageRect.left() + 1,
                    m_imageRect.bottom() - m_imageRect.top() + 1);
}

void ROI::setImageRect()
{
    m_shapeRect = computeShapeRect();
    m_imageRect = clipToFrame(m_shapeRect);
}

void ROI::UpdateMask()
{
    const cv::Rect rect = getImageRect();
    if (rect.width <= 0 || rect.height <= 0) {
        m_mask = cv::Mat();
        return;
    }
    m_mask = cv::Mat::zeros(rect.height, rect.width, CV_8UC1);
    drawShape(m_mask, cv::Point(rect.x, rect.y));
}

void ROI::UpdateRunMask(cv::Mat mask)
{
    m_runMask = mask;
}

void ROI::UpdateParamChangeMask(cv::Mat mask)
{
    m_paramChangeMask = mask;
}

cv::Mat ROI::getIgnoreMask() const
{
    return m_camera ? m_camera->ignoreMask(m_detectIndex) : cv::Mat();
}

cv::Mat ROI::getTemplateImage() const
{
    return m_camera ? m_camera->currentTemplate(m_detectIndex) : cv::Mat();
}

int ROI::getTemplateCount() const
{
    return m_camera ? m_camera->templateCount(m_detectIndex) : 0;
}

cv::Mat ROI::getTemplateImage(int index) const
{
    return m_camera ? m_camera->templateImage(m_detectIndex, index) : cv::Mat();
}

cv::Mat ROI::getFirstTemplateImage() const
{
    return m_camera ? m_camera->firstTemplate(m_detectIndex) : cv::Mat();
}

cv::Mat ROI::getRunImage() const
{
    return m_camera ? m_camera->runImage() : cv::Mat();
}

bool ROI::getResult() const
{
    return m_keptAsRead ? false : m_result;
}

void ROI::setResultDescription(const QString& text)
{
    m_resultDescription = QString("%1:").arg(m_roiIndex + 1) + text;
}

bool ROI::getSystemParam(const QString& key, QJsonObject& out) const
{
    const QJsonObject params = HubServices::processParams();
    const auto it = params.constFind(key);
    if (it == params.constEnd())
        return false;
    out.insert(key, it.value());
    return true;
}

void ROI::drawSave(QPainter& painter, bool shortLabel) const
{
    painter.setPen(QColor(getResult() ? Qt::green : Qt::red));
    drawOutline(painter);
    const QString label = shortLabel ? QString("%1: %2").arg(m_roiIndex + 1).arg(m_area) : m_resultDescription;
    const QRect anchor = m_imageRect.isValid() ? m_imageRect : m_shapeRect;
    painter.drawText(QRect(anchor.left(), anchor.top() - 26, 400, 25), Qt::AlignLeft | Qt::AlignVCenter, label);
}

bool ROI::isEqual(const RoiInterface* other, QString& /*text*/) const
{
    if (!m_unknownShape)
        return true;
    const auto* same = dynamic_cast<const ROI*>(other);
    return same && same->m_unknownShape && same->m_storedJson.value("roi_type") == m_storedJson.value("roi_type") &&
           same->m_storedJson.value("roi_infos") == m_storedJson.value("roi_infos");
}

std::unique_ptr<RoiInterface> ROI::createNewROI(RoiCameraAccess* camera, bool copy) const
{
    if (m_unknownShape) {
        QJsonObject json;
        saveToJson(json);
        return createUnknownShape(camera, json);
    }
    std::unique_ptr<ROI> region = newOfSameClass();
    region->m_camera = camera;
    if (copy) {
        QJsonObject json;
        saveToJson(json);
        region->initFromJson(json);
    }
    return region;
}

std::unique_ptr<RoiInterface> ROI::snapshotCopy() const
{
    return std::make_unique<ROI>(*this);
}

bool ROI::isUsable() const
{
    return !m_keptAsRead && m_processor && !m_imageRect.isEmpty() && !m_mask.empty();
}

std::unique_ptr<ROI> ROI::newOfSameClass() const
{
    return std::make_unique<ROI>();
}

bool ROI::readGeometry(const QJsonArray& infos)
{
    int x1 = jsonWholeNumber(infos.at(0));
    int y1 = jsonWholeNumber(infos.at(1));
    // The far corner in 64 bits: x + w of two stored ints can overflow.
    const int64_t farX = int64_t(x1) + jsonWholeNumber(infos.at(2));
    const int64_t farY = int64_t(y1) + jsonWholeNumber(infos.at(3));
    int x2 = int(std::clamp<int64_t>(farX, INT32_MIN, INT32_MAX));
    int y2 = int(std::clamp<int64_t>(farY, INT32_MIN, INT32_MAX));
    CheckInRange(&x1, 1);
    CheckInRange(&y1, 0);
    CheckInRange(&x2, 1);
    CheckInRange(&y2, 0);
    m_rect.setCoords(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
    return true;
}

QJsonArray ROI::writeGeometry() const
{
    return QJsonArray{double(m_rect.left()), double(m_rect.top()), double(m_rect.right() - m_rect.left()),
                      double(m_rect.bottom() - m_rect.top())};
}

QRect ROI::computeShapeRect() const
{
    if (m_keptAsRead)
        return QRect();
    return m_rect;
}

void ROI::drawShape(cv::Mat& mask, const cv::Point& /*origin*/) const
{
    mask.setTo(255);
}

void ROI::drawOutline(QPainter& painter) const
{
    if (m_imageRect.isValid())
        painter.drawRects(&m_imageRect, 1);
}

void ROI::checkImageRect() const
{
    if (!m_imageRect.isEmpty())
        return;
    const QString text = QObject::tr("警告：%1号检测%2号区域的宽或高无效，请重新调整区域大小")
                             .arg(m_detectIndex + 1)
                             .arg(m_roiIndex + 1);
    HubServices::record(text, "system");
    qCWarning(level_1).noquote() << text;
}
