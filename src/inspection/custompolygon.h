#pragma once
// A polygonal region: "roi_infos" is the list of vertices [[x, y], ...].
// It holds at most kMaxPoints vertices; a stored polygon with more is not
// cut (that would change the shape): it is kept as read and not inspected.
#include "inspection/roi.h"

#include <vector>

class CustomPolygon : public ROI {
public:
    static constexpr int kMaxPoints = 8096;

    CustomPolygon() = default;
    CustomPolygon(const CustomPolygon& other) = default;

    QString getRoiType() const override;
    QString getRoiTypeDesc() const override;
    bool isEqual(const RoiInterface* other, QString& text) const override;
    std::unique_ptr<RoiInterface> snapshotCopy() const override;

    const std::vector<cv::Point>& points() const { return m_points; }

protected:
    std::unique_ptr<ROI> newOfSameClass() const override;
    bool readGeometry(const QJsonArray& infos) override;
    QJsonArray writeGeometry() const override;
    QRect computeShapeRect() const override;
    void drawShape(cv::Mat& mask, const cv::Point& origin) const override;
    void drawOutline(QPainter& painter) const override;
    bool checksSize() const override { return true; }

private:
    std::vector<cv::Point> m_points;
};
