#include "inspection/customcircle.h"
#include "foundation/logmanager.h"

#include "inspection/geometry.h"
#include "inspection/processorinterface.h"

#include <QDebug>
#include <QPainter>

#include <opencv2/imgproc.hpp>

QString CustomCircle::getRoiType() const
{
    return QStringLiteral("circle");
}

QString CustomCircle::getRoiTypeDesc() const
{
    return QObject::tr("圆形");
}

bool CustomCircle::isEqual(const RoiInterface* other, QString& /*text*/) const
{
    const auto* circle = dynamic_cast<const CustomCircle*>(other);
    return circle && circle->m_centerX == m_centerX && circle->m_centerY == m_centerY &&
           circle->m_outerRadius == m_outerRadius && circle->m_innerRadius == m_innerRadius;
}

std::unique_ptr<RoiInterface> CustomCircle::snapshotCopy() const
{
    return std::make_unique<CustomCircle>(*this);
}

std::unique_ptr<ROI> CustomCircle::newOfSameClass() const
{
    return std::make_unique<CustomCircle>();
}

bool CustomCircle::readGeometry(const QJsonArray& infos)
{
    m_centerX = jsonWholeNumber(infos.at(0));
    m_centerY = jsonWholeNumber(infos.at(1));
    CheckInRange(&m_centerX, 1);
    CheckInRange(&m_centerY, 0);
    m_innerRadius = jsonWholeNumber(infos.at(2));
    m_outerRadius = jsonWholeNumber(infos.at(3));
    if (!radiiValid())
        qCWarning(level_1).noquote() << QString("circle radii %1 (inner) and %2 (outer) refused: each must lie in 0 .. %3")
                                    .arg(m_innerRadius)
                                    .arg(m_outerRadius)
                                    .arg(kMaxRadius);
    return true;
}

QJsonArray CustomCircle::writeGeometry() const
{
    return QJsonArray{m_centerX, m_centerY, m_innerRadius, m_outerRadius};
}

QRect CustomCircle::computeShapeRect() const
{
    if (!radiiValid() || isUnknownType())
        return QRect();
    return QRect(m_centerX - m_outerRadius, m_centerY - m_outerRadius, 2 * m_outerRadius, 2 * m_outerRadius);
}

void CustomCircle::drawShape(cv::Mat& mask, const cv::Point& origin) const
{
    const cv::Point center(m_centerX - origin.x, m_centerY - origin.y);
    cv::circle(mask, center, m_outerRadius, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    cv::circle(mask, center, m_innerRadius, cv::Scalar(0), cv::FILLED, cv::LINE_8);
}

void CustomCircle::drawOutline(QPainter& painter) const
{
    painter.drawEllipse(shapeRect());
}

bool CustomCircle::radiiValid() const
{
    return m_innerRadius >= 0 && m_outerRadius >= 0 && m_innerRadius <= kMaxRadius && m_outerRadius <= kMaxRadius;
}
