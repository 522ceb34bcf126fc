#pragma once
// The flaw detector ("flaw", "缺陷检测"): compares the region's pixels of the
// run image with the step's templates through the grey-level matcher, cleans
// the difference map (an opening, or with edge ignoring on a filter that drops
// blobs smaller than filterSize x filterSize pixels), leaves out ignored
// pixels and pixels outside the region's shape, and judges the region NG when
// the remaining defect area (calArea) exceeds the alarm area.
//
// It can answer NG only when the countable area of its region (after the
// step's ignore regions) exceeds the alarm area it uses.
//
// "func_params": [sensitivity, alarmArea, filterSize]. From the process
// parameters: "h_diffmultiple", "c_defect_canny_ingore", and, unless
// "c_detailarithmetic" is set, the camera-wide "s_alarmareas" and
// "s_filtersize" in place of the region's own.
//
// A region that cannot be inspected (unusable rectangle or mask, no run
// image, no or failed training) answers NG and says so through
// verdictForced(): that NG is no comparison result, so the NG-template rule
// ("h_use_ngtemp" inverts flaw verdicts) must leave it alone; applyNgTemplateRule
// does that for the sequencer.
#include "inspection/detectormasks.h"
#include "inspection/processorinterface.h"
#include "platform/imaging/graymatch.h"

class FlawDetect : public ProcessorInterface {
public:
    FlawDetect() = default;

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

    // True when the last execute could not inspect the region and answered
    // NG on its own.
    bool verdictForced() const { return m_verdictForced; }
    // True when the matcher holds a trained model.
    bool trained() const { return m_grayMatch.IsValid(); }

    // With NG templates (useNgTemplates, the process parameter
    // "h_use_ngtemp") a flaw region's verdict is inverted: matching an NG
    // image is the failure. A verdict the detector forced is kept. Regions of
    // other detectors are left alone. Returns whether the verdict was inverted.
    static bool applyNgTemplateRule(RoiInterface* region, bool useNgTemplates);
    // Why a region's stored form (a "flaw" region's "func_params") carries a
    // filter size outside 1 ... 100; empty when it does not (or names no
    // filter size, or is no flaw region). Edits bringing such a value are
    // refused; a stored one is bounded where it is used.
    static QString filterSizeError(const QJsonObject& region);

    int sensitivity() const { return m_sensitivity; }
    int alarmArea() const { return m_alarmArea; }
    int filterSize() const { return m_filterSize; }
    int diffMultiple() const { return m_diffMultiple; }
    bool cannyIgnore() const { return m_cannyIgnore; }

private:
    // Marks the region NG without inspecting it: the reason becomes its
    // result text and a log line.
    void forceNg(RoiInterface* region, const QString& reason);

    platform::GrayMatch m_grayMatch;
    // Kept from run to run: the opening's intermediate image of this region.
    detectormasks::OpenScratch m_openScratch;
    int m_sensitivity = 45;
    int m_alarmArea = 100;
    int m_filterSize = 3;
    int m_diffMultiple = 0;
    bool m_cannyIgnore = false;
    bool m_verdictForced = false;
};
