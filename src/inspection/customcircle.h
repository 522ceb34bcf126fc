#pragma once
// A circular ring region: "roi_infos" [centre x, centre y, inner radius,
// outer radius]. A negative radius, or one beyond kMaxRadius, is kept as
// stored but leaves the region without a working rectangle (not inspected).
#include "inspection/roi.h"

class CustomCircle : public ROI {
public:
    static constexpr int kMaxRadius = 65535;

    CustomCircle() = default;
    CustomCircle(const CustomCircle& other) = default;

    QString getRoiType() const override;
    QString getRoiTypeDesc() const override;
    bool isEqual(const RoiInterface* other, QString& text) const override;
    std::unique_ptr<RoiInterface> snapshotCopy() const override;

    int centerX() const { return m_centerX; }
    int centerY() const { return m_centerY; }
    int innerRadius() const { return m_innerRadius; }
    int outerRadius() const { return m_outerRadius; }

protected:
    std::unique_ptr<ROI> newOfSameClass() const override;
    bool readGeometry(const QJsonArray& infos) override;
    QJsonArray writeGeometry() const override;
    QRect computeShapeRect() const override;
    void drawShape(cv::Mat& mask, const cv::Point& origin) const override;
    void drawOutline(QPainter& painter) const override;
    bool checksSize() const override { return true; }

private:
    bool radiiValid() const;

    int m_centerX = 0;
    int m_centerY = 0;
    int m_outerRadius = 0;
    int m_innerRadius = 0;
};
