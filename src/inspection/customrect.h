#pragma once
// A rectangular region: "roi_infos" [left, top, right - left, bottom - top].
#include "inspection/roi.h"

class CustomRect : public ROI {
public:
    CustomRect() = default;
    CustomRect(const CustomRect& other) = default;

    QString getRoiType() const override;
    QString getRoiTypeDesc() const override;
    bool isEqual(const RoiInterface* other, QString& text) const override;
    std::unique_ptr<RoiInterface> snapshotCopy() const override;

protected:
    std::unique_ptr<ROI> newOfSameClass() const override;
    bool checksSize() const override { return true; }
};
