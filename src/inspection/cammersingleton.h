#pragma once
// The per-camera parameter store: the camera's image parameters and the
// regions of interest of every detection step, kept together as one JSON
// document in the row "camera<n>" of table "cameraparam" in PARAM.db, plus
// one ignore mask per step and the result mask of the last run.
//
// Stored row: "CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY
// NOT NULL, value TEXT)"; name "camera0" for camera 0; value the indented
// JSON text of {"index": camera index, "rois": [every region of every step,
// step 0 first, each as the region writes itself], "camerainterface": the
// image parameters (cameraimageparams.h)}. A region goes back into the step
// of its own "detect_index" when the row is read.
//
// Loading reads the row once; an empty or missing row is filled from the
// older tables (legacymigration.h) and saved. When the row cannot be read
// at all (PARAM.db fails), or holds "rois" that is not an array, the load
// has failed: the store keeps its defaults, refuses region edits and never
// saves, so the real row is never overwritten by a half-loaded state (and
// the sequencer judges every detection NG meanwhile). A row that is not a
// JSON object is logged and copied, as it was, into the table
// "cameraparam_broken" (name, value, keptat); the load has failed the same
// way, except that a whole new region set (setAllROIs) is taken: it ends
// the outage, and the next save writes the row anew. When the copy cannot
// be made, not even that is taken.
//
// Saving writes the whole row with bound values (INSERT OR REPLACE) inside
// a transaction: a crash or power loss in the middle leaves the old or the
// new row, never a broken one.
//
// The store owns its regions (unique_ptr); the handle lists it gives out
// stay valid until the step is released or replaced, after which the
// holders (the sequencer) must rebuild.
//
// No thread and no lock of its own: the hub, the sequencer and the HTTP
// handlers must not call into one store from two threads at once. PARAM.db
// is used through the hub's "dbIn" connection (camerastoreservices.h).
#include "inspection/cameraimageparams.h"
#include "inspection/roisteps.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <opencv2/core.hpp>

#include <optional>

class RoiCameraAccess;

class CameraSingleton : public QObject {
public:
    // camera: the camera facade the store's regions read from (not owned);
    // cameraNo names the row ("camera<cameraNo>") and the legacy table.
    CameraSingleton(RoiCameraAccess* camera, int cameraNo, QObject* parent = nullptr);
    ~CameraSingleton() override;
    CameraSingleton(const CameraSingleton&) = delete;
    CameraSingleton& operator=(const CameraSingleton&) = delete;

    // --- PARAM.db ---------------------------------------------------------
    // Loads the row (see above); true when the store now holds what PARAM.db
    // says (or the defaults for a broken row that was kept aside). Called
    // once, right after construction.
    bool LoadDtafromDB();
    // Writes the whole row; false (logged) when the load failed or never
    // ran, or when PARAM.db refuses the write (the old row then stays).
    bool SaveDatatoDB();
    // True after a load that succeeded: region edits and saves are allowed.
    bool isLoaded() const { return m_loaded; }
    // True when a whole new region set may be applied: after a load that
    // succeeded, or while a row that was not a JSON object is kept aside.
    bool takesRegionSet() const { return m_loaded || m_brokenRowKept; }

    // --- image parameters ----------------------------------------------------
    // Sets the twelve parameter members in o; other members stay.
    void getCameraParam(QJsonObject& o) const;
    // Takes the parameters as stored: each number read as a whole int32
    // (missing or anything else gives 0), each switch as a JSON boolean
    // (anything else gives false); "c_colorrepmono" always becomes false.
    // No range check: used for the stored row.
    void setCameraParam(QJsonObject o);
    // The same for values that come over the network: when any ranged value
    // lies outside its range the request is refused (logged, the reason in
    // *error) and nothing changes. The HTTP route that sets camera
    // parameters goes through this, never through setCameraParam.
    bool setCameraParamChecked(const QJsonObject& o, QString* error = nullptr);
    // Every parameter back to its default.
    void ResetCameraParam();
    // Brings stored values into their ranges (legacy migration only).
    void CheckParamRange();
    const CameraImageParams& cameraParams() const { return m_params; }

    // --- regions -------------------------------------------------------------
    int stepCount() const { return int(m_rois.size()); }
    // Appends every region of every step (step 0 first, list order), each as
    // the object it writes of itself.
    void getAllROIs(QJsonArray& out) const;
    // Handles to every region, per step.
    QVector<RoiHandles> getAllRois() const;
    // Handles to the regions of one step; empty for a step outside the store.
    RoiHandles getRois(int step) const;
    // Replaces every region by the regions of the array, each placed into
    // the step of its "detect_index" (elements outside the steps in use are
    // dropped), in array order, with the process parameters handed to its
    // detector. The store grows to gDNum steps first so that no region of a
    // step in use is lost. Refused (false, logged) after a failed load,
    // unless takesRegionSet(): the store is then loaded.
    bool setAllROIs(QJsonArray& rois);
    // Builds the regions of the array the same way into a new set of
    // exactly gDNum steps; the store is not changed. The caller owns them.
    RoiSteps genRoisFromJson(QJsonArray& rois) const;
    // Deletes every region of the step, last first; the step stays, empty.
    // A step outside the store is ignored. Refused after a failed load.
    bool releaseROI(int step);
    // Replaces step `target` by copies of step `source` (detect index set to
    // target, process parameters handed to each copy). Nothing happens for
    // a step outside the store or when target equals source. Refused after
    // a failed load.
    bool paramSynac(int target, int source);
    // paramSynac(1, 0).
    bool setSameParamS();
    // The other store takes this camera number and, in place of all its
    // regions, copies of this store's regions step by step (made for this
    // store's camera). Parameters are not copied.
    void copyTo(CameraSingleton* other) const;
    // Re-reads the last region of its step with the same "roi_index" from
    // the object, or appends a new region made from it when none matches.
    // Nothing happens for a "detect_index" outside the store. Refused after
    // a failed load.
    bool modifySingleROI(const QJsonObject& roi);
    // Every region: result OK, area 0.
    void resetROIs();
    // Hands the process parameters to every region's detector.
    void setSystemParam(QJsonObject params);
    // Appends, for each region of the step, its object plus "title" (its
    // result description) and "result" (its verdict).
    void roisResult(int step, QJsonArray& out) const;
    // The area of the last region of the step with that region index; -1
    // when there is none.
    int getResult(int step, int roiIndex) const;
    // Describes, one operator text a line, how newSet differs from the
    // stored regions over steps 0 to gDNum - 1 (roichangereport.h); a step
    // the store does not hold yet counts as empty, so its new regions are
    // reported (and setAllROIs keeps them). Empty, and logged, after a
    // failed load: check isLoaded() first.
    QStringList compareRois(const RoiSteps& newSet) const;

    // Why the array would change regions of a step at or beyond gDNum
    // (which the steps in use neither compare nor replace): empty when every
    // such step, region by region as the regions write themselves, is the
    // same as stored.
    QString changeBeyondStepsInUse(const QJsonArray& rois) const;

    // --- masks -----------------------------------------------------------------
    // The ignore mask of a step (gImageH x gImageW, 8-bit, one channel,
    // created as zeros on first use); the returned matrix shares its pixels
    // with the store. Steps below 0 or beyond the detection steps are
    // refused (logged): nothing is reset, an empty matrix is returned.
    void resetIgnoreMask(int step);
    cv::Mat getIgnoreMask(int step);
    // The combined result mask of the last run and its scope, written by the
    // sequencer.
    cv::Mat getResultMask() const { return m_resultMask; }
    cv::Rect getMaskScope() const { return m_maskScope; }
    void setResultMask(const cv::Mat& mask, const cv::Rect& scope);

    // --- legacy migration (run by the load when the row is empty) -----------
    // Appends the four legacy steps with their regions.
    void LoadDatafromFile();
    // Takes the image parameters and the camera index from the legacy rows,
    // then brings them into range.
    void LoadCameraParam();

    int cameraNo() const { return m_cameraNo; }
    RoiCameraAccess* camera() const { return m_camera; }

private:
    // The row's text; nullopt in `text` when there is no row. False when the
    // statement failed.
    bool readRow(std::optional<QString>& text) const;
    // Copies a row that is not a JSON object into "cameraparam_broken".
    bool keepBrokenRow(const QString& text) const;
    // One region made from its stored object, with the process parameters
    // handed to its detector; null for an element that names no shape.
    std::unique_ptr<RoiInterface> makeRegion(const QJsonObject& element, QJsonObject& systemParams) const;
    // Places the array's regions into `steps` (by their "detect_index").
    void placeRegions(const QJsonArray& rois, RoiSteps& steps) const;
    void releaseStep(int step);
    void growTo(int steps);
    // Logs and answers false when region edits are not allowed.
    bool editAllowed(const char* what) const;
    // Whether an ignore mask may exist for the step.
    bool ignoreStepValid(int step) const;

    int m_cameraNo;
    RoiCameraAccess* m_camera;
    CameraImageParams m_params;
    RoiSteps m_rois;
    cv::Mat m_resultMask;
    cv::Rect m_maskScope{0, 0, 0, 0};
    std::vector<cv::Mat> m_ignoreMasks;
    bool m_loaded = false;
    bool m_brokenRowKept = false;  // the row was no JSON object and is kept aside
};
