#pragma once
// The per-camera detection sequencer: for each of the four detection steps
// it keeps the regions whose detectors run, in run order, prepares a step
// (ignore mask, training) and runs it on the current frame, deciding OK or NG
// with a result mask.
//
// Run order of a step: its regions as the parameter store lists them, the
// "location" regions left out; with the process parameter
// "s_sport_correction" on, the step's first location region runs first (or,
// when the step has none, an automatic one over the centre of the frame
// that the sequencer makes and owns), and it moves the run image for every
// later region. Every region runs, also after an NG.
//
// Results of Run: the camera's result flag and reason (true = OK: every
// region of the run order was inspected and judged OK), the parameter
// store's result mask (frame-sized, 8-bit, the OR of every region's marks
// placed at its rectangle) and mask scope (the bounding box of the
// non-location regions; x 0, y 0, width 0, height 1 when there is none).
// With "h_use_ngtemp" (templates are NG images) a flaw region's verdict is
// inverted, except when the detector could not inspect the region: that NG
// stays NG.
//
// Nothing uninspected passes: a region kept as read (no detector), a region
// whose detector throws and a region that can never answer NG (its countable
// pixels, once the step's ignore regions are taken away, cannot reach the
// area at which its detector alarms, judged with the detector's parameters
// at each run) are NG with the reason as their result text;
// a step that does not exist (outside 0 ... 3 or at or beyond gDNum) and
// every step while the parameter store is not loaded ("parameters not
// loaded", logged once per outage) are NG with an empty mask.
//
// Steps 1 and 3 are enabled, steps 0 and 2 when the process parameter
// "s_action_productdetect" is set, none beyond the detection count in use
// (gDNum); a disabled step is emptied by init, so that it never points at
// regions the store has released since.
//
// The sequencer points at the store's regions and owns only its automatic
// location regions. A step whose regions the store has replaced or re-read
// since the last build is built and prepared again before it runs.
//
// No thread and no lock: for one camera, Run, init, preprocessor and RunTest
// must not overlap (the hub and the camera facade serialise them).
#include "inspection/roisteps.h"

#include <QHash>
#include <QJsonObject>

#include <array>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

class Camera;
class CameraSingleton;
class ProcessorInterface;

class CameraRecong {
public:
    static constexpr int kSteps = 4;

    // Runs init for steps 0, 1, 2, 3. Neither pointer is owned; both outlive
    // the sequencer.
    CameraRecong(CameraSingleton* store, Camera* camera);
    ~CameraRecong();
    CameraRecong(const CameraRecong&) = delete;
    CameraRecong& operator=(const CameraRecong&) = delete;

    // Enabled step: rebuild its run order and prepare it; disabled step:
    // empty its lists.
    void init(int step);
    // Rebuilds the step's run order from the parameter store.
    void updateExecSequence(int step);
    // Clears the step's ignore mask and lets every detector of the step
    // prepare itself (ignore regions draw the mask, flaw regions train,
    // location regions build their model); a run order the store has
    // changed since is rebuilt first.
    void preprocessor(int step);
    // Runs the step on the current frame (see above).
    void Run(int step);
    // Previews one region's parameters: the regions of its "ignore_rois" are
    // drawn into a frame-size ignore mask, then the region's detector draws
    // its preview into image (8-bit, frame-size) at the region's rectangle.
    // The step argument is not used.
    void RunTest(QJsonObject region, int step, cv::Mat& image);

    // The step's run order and location regions (empty for a step outside
    // 0 ... 3).
    RoiHandles execSequence(int step) const;
    RoiHandles locationList(int step) const;
    // The automatic location region of the step, or null.
    RoiInterface* automaticLocation(int step) const;

    // Whether a run of the step inspects anything: it is enabled and the run
    // order that the store's regions and the process parameters make now
    // holds a region other than an ignore region. A location region runs
    // (and inspects) only with "s_sport_correction", which gives every step
    // one, its own or the automatic one.
    bool inspectsAnything(int step) const;

    // Why one step's regions, as an edit brings them, hold a region that
    // could never answer NG (ProcessorInterface::unreachableAlarm), with
    // the step's ignore mask drawn from its ignore regions as a preparation
    // draws it: the refusal text of the first such region, or empty.
    static QString unreachableInEdit(const RoiHandles& step);

    // Whether init prepares the step (from the hub's process parameters;
    // without a hub only step 1, as before any parameters are loaded; never
    // a step at or beyond gDNum).
    static bool stepEnabled(int step);

private:
    static bool stepValid(int step);
    void clearStep(int step);
    // True when the store still holds, for the step, the regions (and
    // detectors) the run order was built from.
    bool sequenceCurrent(int step) const;
    // Judges the step NG without inspecting anything: empty result mask and
    // scope, the reason as the camera's result reason.
    void judgeUninspected(const QString& reason);
    // A zeroed view of the shared region buffer, `size` pixels.
    cv::Mat regionMarks(cv::Size size);
    // The countable area of a region of the step (ProcessorInterface::
    // countableArea), -1 for a region its detector finds unusable (the
    // detector reports that itself); measured when the step is prepared.
    int countableArea(int step, const RoiInterface* region);

    // What a step's run order was built from: the store's regions in their
    // order, each with its detector. The weak handle tells a region that was
    // re-read or replaced (even at the same address) by its new detector.
    struct PreparedRegion {
        const RoiInterface* region;
        std::weak_ptr<ProcessorInterface> detector;
    };

    CameraSingleton* m_store;
    Camera* m_camera;
    std::array<RoiHandles, kSteps> m_execSequence;
    std::array<RoiHandles, kSteps> m_locationList;
    std::array<std::unique_ptr<RoiInterface>, kSteps> m_autoLocation;
    std::array<std::vector<PreparedRegion>, kSteps> m_builtFrom;
    // Per step, each region's countable area, measured once the step's
    // ignore mask is complete (end of preprocessor).
    std::array<QHash<const RoiInterface*, int>, kSteps> m_countable;
    std::array<bool, kSteps> m_built{};  // false while a step is emptied (disabled)
    bool m_notLoadedLogged = false;      // "parameters not loaded" said for this outage
    // The marks of the region being run: one buffer for every region of
    // every run (no region keeps its marks past the step's result mask).
    cv::Mat m_regionScratch;
};
