#pragma once
// The ignore detector ("ignore", "忽略区域"): turns its region into an area
// that the other detectors of the step leave alone. At step preparation it
// ORs the region's shape into the step's shared ignore mask; in a parameter
// preview it ORs it into the preview's ignore mask. It has no parameters and
// never fails: its execute always answers OK and marks nothing.
#include "inspection/processorinterface.h"

class IgnoreDetect : public ProcessorInterface {
public:
    IgnoreDetect() = default;

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

    // ORs the region's shape into `ignoreMask` (frame-sized, 8-bit) at the
    // region's rectangle, in place; false (nothing added) when the region
    // cannot be inspected or the mask does not cover its rectangle.
    static bool addShapeTo(RoiInterface* region, cv::Mat& ignoreMask);
};
