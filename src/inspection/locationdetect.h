#pragma once
// The location detector ("location", "目标定位"): corrects the position of
// the part before the other regions of a step are inspected. Its preparation
// builds a shape model of the region from the step's master template; its
// execute looks for that shape in a search area of the run image around the
// region and, when found, shifts (and with rotation correction on, rotates)
// the run image in place so that the pattern comes back to where the template
// had it. It never reports NG itself: a shape not found moves nothing and the
// other regions are inspected on the uncorrected image.
//
// "func_params": [minMatch] (never below 4). From the process parameters:
// "h_mostskewing" (search margin in pixels; some values also code the model's
// precision) and "h_rotatecorrect" (1 ... 180: rotation correction on).
#include "inspection/processorinterface.h"
#include "platform/imaging/findshape.h"

class LocationDetect : public ProcessorInterface {
public:
    LocationDetect() = default;

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

    // The precision value P of the model: 255 for a margin of exactly 5000,
    // margin - 7000 for margins 7001 ... 7254, else 30.
    static int modelPrecision(int mostSkewing);
    // The match value M of the model: minMatch for a margin of exactly 5000,
    // else minMatch - 7.
    static int modelMatch(int mostSkewing, int minMatch);
    // The search area: the region rectangle grown by `margin` on every side,
    // cut to the frame (frameWidth x frameHeight); all zero when nothing is
    // left of it.
    static cv::Rect searchArea(const cv::Rect& rect, int margin, int frameWidth, int frameHeight);

    int rotateCorrect() const { return m_rotateCorrect; }
    int minMatch() const { return m_minMatch; }
    int mostSkewing() const { return m_mostSkewing; }
    cv::Point templateCenter() const { return m_templateCenter; }
    cv::Rect searchRect() const { return m_searchRect; }
    bool modelReady() const { return m_shapeFinder.IsValid(); }

    // Where and at which angle the last execute found the shape: the shift it
    // applied (dx, dy) and the angle (0 when rotation correction is off).
    // found is false when the shape was not found or not looked for.
    struct Correction {
        bool found = false;
        cv::Point shift;
        double angle = 0.0;
    };
    Correction lastCorrection() const { return m_lastCorrection; }

private:
    bool rotationOn() const { return m_rotateCorrect >= 1 && m_rotateCorrect <= 180; }

    int m_rotateCorrect = 0;
    int m_minMatch = 10;
    int m_mostSkewing = 8000;
    platform::FindShape m_shapeFinder;
    cv::Point m_templateCenter;
    cv::Rect m_searchRect;
    Correction m_lastCorrection;
};
