#include "inspection/customrect.h"

#include <QObject>

QString CustomRect::getRoiType() const
{
    return QStringLiteral("rect");
}

QString CustomRect::getRoiTypeDesc() const
{
    return QObject::tr("矩形");
}

bool CustomRect::isEqual(const RoiInterface* other, QString& /*text*/) const
{
    const auto* rect = dynamic_cast<const CustomRect*>(other);
    if (!rect)
        return false;
    const RoiParam& a = roiParam();
    const RoiParam& b = rect->roiParam();
    return a.left() == b.left() && a.top() == b.top() && a.right() == b.right() && a.bottom() == b.bottom();
}

std::unique_ptr<RoiInterface> CustomRect::snapshotCopy() const
{
    return std::make_unique<CustomRect>(*this);
}

std::unique_ptr<ROI> CustomRect::newOfSameClass() const
{
    return std::make_unique<CustomRect>();
}
