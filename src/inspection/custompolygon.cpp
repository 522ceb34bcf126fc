#include "inspection/custompolygon.h"
#include "foundation/logmanager.h"

#include "inspection/geometry.h"
#include "inspection/processorinterface.h"

#include <QDebug>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

#include <opencv2/imgproc.hpp>

QString CustomPolygon::getRoiType() const
{
    return QStringLiteral("polygon");
}

QString CustomPolygon::getRoiTypeDesc() const
{
    return QObject::tr("多边形");
}

bool CustomPolygon::isEqual(const RoiInterface* other, QString& /*text*/) const
{
    const auto* polygon = dynamic_cast<const CustomPolygon*>(other);
    return polygon && polygon->m_points == m_points;
}

std::unique_ptr<RoiInterface> CustomPolygon::snapshotCopy() const
{
    return std::make_unique<CustomPolygon>(*this);
}

std::unique_ptr<ROI> CustomPolygon::newOfSameClass() const
{
    return std::make_unique<CustomPolygon>();
}

bool CustomPolygon::readGeometry(const QJsonArray& infos)
{
    m_points.clear();
    if (infos.size() > kMaxPoints) {
        qCWarning(level_1).noquote() << QString("polygon of %1 points refused: at most %2 are held").arg(infos.size()).arg(kMaxPoints);
        return false;
    }
    m_points.reserve(size_t(infos.size()));
    for (const QJsonValue& element : infos) {
        const QJsonArray xy = element.toArray();
        int x = jsonWholeNumber(xy.at(0));
        int y = jsonWholeNumber(xy.at(1));
        CheckInRange(&x, 1);
        CheckInRange(&y, 0);
        m_points.emplace_back(x, y);
    }
    return true;
}

QJsonArray CustomPolygon::writeGeometry() const
{
    QJsonArray infos;
    for (const cv::Point& p : m_points)
        infos.append(QJsonArray{double(p.x), double(p.y)});
    return infos;
}

QRect CustomPolygon::computeShapeRect() const
{
    if (m_points.empty() || isUnknownType())
        return QRect();
    if (m_points.size() < 2) {
        const cv::Point& p = m_points.front();
        return QRect(QPoint(p.x, p.y), QPoint(p.x - 1, p.y - 1));
    }
    int left = m_points.front().x, right = left;
    int top = m_points.front().y, bottom = top;
    for (const cv::Point& p : m_points) {
        left = std::min(left, p.x);
        right = std::max(right, p.x);
        top = std::min(top, p.y);
        bottom = std::max(bottom, p.y);
    }
    // One less than the largest vertex coordinate: the width is the span.
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void CustomPolygon::drawShape(cv::Mat& mask, const cv::Point& origin) const
{
    const cv::Point* contour = m_points.data();
    const int count = int(m_points.size());
    cv::fillPoly(mask, &contour, &count, 1, cv::Scalar(255), cv::LINE_8, 0, -origin);
}

void CustomPolygon::drawOutline(QPainter& painter) const
{
    QPolygon polygon;
    polygon.reserve(int(m_points.size()));
    for (const cv::Point& p : m_points)
        polygon.append(QPoint(p.x, p.y));
    painter.drawPolygon(polygon, Qt::OddEvenFill);
}
