#pragma once
// The spot detector ("spot", "斑点检测"): marks the pixels of the run image
// that lie inside the region's shape, outside the step's ignore mask and
// within a grey band, measures the area of the marked shapes (calArea) and
// judges the region OK when that area lies within [minArea, maxArea].
//
// It can answer NG only when some area it can measure lies outside
// [minArea, maxArea]: a minArea above 0 (no marks), or a countable area above
// maxArea with a grey band that marks anything.
//
// "func_params": [minArea, maxArea, minGray, maxGray]; the kernel side of the
// preview's opening comes from the process parameter "h_minspot".
//
// A region that cannot be inspected (unusable rectangle or mask, no run
// image) answers NG: a mould guard must never pass what it did not look at.
#include "inspection/processorinterface.h"

class SpotDetect : public ProcessorInterface {
public:
    SpotDetect() = default;

    void initjs(QJsonArray& params) override;
    void savejs(QJsonArray& params) override;
    void initSystemParam(QJsonObject& system) override;
    std::unique_ptr<ProcessorInterface> createNewObj() const override;
    QString getName() const override;
    QString getProcessorDesc(bool nameOnly) const override;
    bool campare(ProcessorInterface* other, QString& text) override;
    void preprocessor(RoiInterface* region) override;
    void paramChange(RoiInterface* region, cv::Mat& preview, cv::Mat ignoreMask) override;
    void execute(RoiInterface* region, cv::Mat& regionMask) override;
    QString unreachableAlarm(int countable) const override;

    int minGray() const { return m_minGray; }
    int maxGray() const { return m_maxGray; }
    int minArea() const { return m_minArea; }
    int maxArea() const { return m_maxArea; }
    int minSpot() const { return m_minSpot; }

private:
    int m_minGray = 0;
    int m_maxGray = 50;
    int m_minArea = 80;
    int m_maxArea = 500;
    int m_minSpot = 3;
};
