#pragma once
// The camera facade: the one object through which the camera program reaches
// a camera's inspection state. It owns the camera's parameter store
// (CameraSingleton), image store (CameraImage) and detection sequencer
// (CameraRecong), pushes the image parameters to the image signal processor
// (gAiqControl), applies the operator application's region edits, and is
// what the camera's regions read their templates, run image and ignore mask
// through (RoiCameraAccess).
//
// Construction loads the parameters and regions from PARAM.db (through the
// hub's "dbIn" connection), then the buffers and templates, then builds the
// sequencer and pushes the image parameters; the parameters come first since
// the colour mode sizes the image buffers.
//
// A region edit: any number of trial runs (modifySingleROI, nothing stored),
// then either a new region set (modifySingleton: one "operate" record per
// change; stored and re-initialised only when something changed) or the end
// of editing (finishRoiset: re-initialises only when a template was added
// from an NG image meanwhile, see setRegionsChanged).
//
// No thread and no lock of its own: the hub and the HTTP handlers serialise
// their calls into one camera. setRegionsChanged may come from any thread.
#include "inspection/roicameraaccess.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <memory>

#include <opencv2/core.hpp>

class CameraImage;
class CameraRecong;
class CameraSingleton;

class Camera : public RoiCameraAccess {
public:
    Camera();
    ~Camera() override;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Pushes the stored image parameters to the ISP, in this order: manual
    // exposure ("gain", "exposure" / 1000 s), sharpness, gamma, contrast
    // ("trueness"), mirror ("c_flipverical" to the left-right mirror,
    // "c_filphorizontal" to the up-down flip). Nothing happens while the ISP
    // does not run or does not exist.
    void setParam();
    // setParam; 0.
    int startPlay();
    int open() { return 0; }
    int stopPlay() { return 0; }
    int softwareTrig() { return 0; }
    void setAcquisitionMode(int /*mode*/) {}

    // Every region of every step as stored.
    QJsonArray getallROIs() const;
    // Trial run of one edited region: mask becomes a frame-size zero image
    // with the region's preview drawn into it; the region's "template" is
    // the template of its step to preview on ("template00.bmp" when missing
    // or not one of the step's templates). result gets "func_results": [0].
    void modifySingleROI(QJsonObject roi, cv::Mat& mask, QJsonObject& result);
    // Why a trial of one edited region is refused, empty when it is not: the
    // region or one of its "ignore_rois" is refused by RegionForm, a flaw
    // filter size lies outside 1 ... 100, or the region could never answer
    // NG with those ignore regions (CameraRecong::unreachableInEdit).
    QString trialFault(const QJsonObject& roi) const;
    // Applies a whole new region set (see above); the one path by which a
    // region set is applied. With "s_with_moulding_product" and
    // "s_action_productdetect" set, step 0's regions are copied onto step 1.
    // False, logged and with the reason in *reason, when the set was refused
    // or could not be saved; true when it was applied or nothing changed.
    // Refused: the store did not load; a flaw region's filter size lies
    // outside 1 ... 100; the set would change a step at or beyond gDNum (an
    // unchanged resend of what is stored there is accepted); a region whose
    // shape or detector this program does not know; a spot or flaw region
    // whose shape has no pixel (a ring whose inner radius is not below its
    // outer one); an element that RegionForm refuses (unknown "roi_type" or
    // "func_type", "roi_infos" that are not whole numbers of its shape, a
    // "detect_index" that is no step number); a spot or flaw region that
    // could never answer NG (CameraRecong::unreachableInEdit). While a row
    // that was not a JSON object is kept aside, a set that passes is applied
    // and saved even when it equals the (empty) defaults.
    bool modifySingleton(QJsonArray rois, QString* reason = nullptr);
    // Copies step 0's regions onto step 1 and rebuilds step 1.
    void CopyPara();
    // Logs (level_1) each enabled step in use whose runs inspect nothing
    // (CameraRecong::inspectsAnything): they pass without inspection, as
    // the operator configured. Called when the regions are loaded and after
    // each edit of them.
    void warnStepsWithoutInspection() const;
    // Rebuilds and prepares the sequencer for steps 0 ... gDNum - 1.
    void InitCameraRecongnize();
    // Re-initialises when setRegionsChanged was called since the last time.
    void finishRoiset();
    // Flags that the regions' templates changed (the hub calls it after
    // adding a template from an NG image); finishRoiset acts on it.
    void setRegionsChanged() { m_regionsChanged.store(true); }
    // Hands the step's snapshot, mask and regions to the alarm-image writer.
    void SaveImageMem(int detect, bool ng);

    // Verdict of the last detection step run (true = OK), set by the
    // sequencer, and why it is NG (empty for OK): the result text of the
    // first region that failed, or why the step could not be inspected.
    bool getResult() const { return m_result; }
    QString resultReason() const { return m_resultReason; }
    void setResult(bool ok, const QString& reason = QString())
    {
        m_result = ok;
        m_resultReason = ok ? QString() : reason;
    }
    int cameraIndex() const { return m_cameraIndex; }

    CameraImage* cameraImage() const { return m_image.get(); }
    CameraSingleton* cameraSingleton() const { return m_singleton.get(); }
    CameraRecong* cameraRecong() const { return m_recong.get(); }

    // RoiCameraAccess
    cv::Mat ignoreMask(int detect) override;
    cv::Mat currentTemplate(int detect) override;
    cv::Mat templateImage(int detect, int index) override;
    cv::Mat firstTemplate(int detect) override;
    int templateCount(int detect) override;
    cv::Mat runImage() override;

private:
    // Destroyed in reverse order: the sequencer (which points into both
    // stores) first.
    std::unique_ptr<CameraImage> m_image;
    std::unique_ptr<CameraSingleton> m_singleton;
    std::unique_ptr<CameraRecong> m_recong;
    int m_cameraIndex = 0;
    bool m_result = true;
    QString m_resultReason;
    std::atomic<bool> m_regionsChanged{false};
};
