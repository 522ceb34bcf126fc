#pragma once
// The interface of every detector ("spot", "flaw", "ignore", "location").
//
// A detector decides what one region of interest checks. It keeps its own
// parameters as plain ints; the region stores them as "func_params", a JSON
// array of whole numbers in an order that each detector fixes. Settings
// shared by every detector of the camera (the hub's process parameters, keys
// beginning "s_", "c_", "i_", "h_") are handed in through initSystemParam or
// read through RoiInterface::getSystemParam.
//
// Ownership: a region holds its detector through std::shared_ptr; the copies
// of a region made for alarm images share it, so the detector lives as long
// as the last of them. Detectors have no lock; one thread uses a detector at
// a time (the one running the camera's sequencer or parameter store).
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <memory>

#include <opencv2/core.hpp>

class RoiInterface;

class ProcessorInterface : public QObject {
public:
    ProcessorInterface() = default;
    ~ProcessorInterface() override;

    // Reads "func_params": element i sets parameter i when the array has more
    // than i elements; an element that is not a whole number reads as 0;
    // missing elements keep their current values.
    virtual void initjs(QJsonArray& params) = 0;
    // Appends every parameter, as an integer, in the same order.
    virtual void savejs(QJsonArray& params) = 0;
    // Takes the settings this detector uses from the full process-parameter
    // object; an absent key leaves its value unchanged (unless the detector
    // says otherwise).
    virtual void initSystemParam(QJsonObject& system) = 0;
    // A new detector of the same class with default parameters.
    virtual std::unique_ptr<ProcessorInterface> createNewObj() const = 0;
    // The fixed name: the registry key and the stored "func_type".
    virtual QString getName() const = 0;
    // The translated display name; with nameOnly false, followed by the
    // parameters in one sentence.
    virtual QString getProcessorDesc(bool nameOnly) const = 0;
    // Compares this detector's parameters (the old ones) with other's (the
    // new ones, same class); appends one phrase per difference to text and
    // returns true when nothing differs.
    virtual bool campare(ProcessorInterface* other, QString& text) = 0;
    // Prepares for the runs of a step (training, ignore mask).
    virtual void preprocessor(RoiInterface* region) = 0;
    // Previews the parameters on the step's template: preview is a view of
    // the caller's image at the region's rect; ignoreMask is a frame-size
    // 8-bit mask whose pixels are shared with the caller.
    virtual void paramChange(RoiInterface* region, cv::Mat& preview, cv::Mat ignoreMask) = 0;
    // Checks the region on the run image: sets its result (and, where the
    // detector has one, its result text) and marks pixels in regionMask, an
    // 8-bit zero image of the region rect's size.
    virtual void execute(RoiInterface* region, cv::Mat& regionMask) = 0;
    // Whether a region whose countable pixels measure at most `countable`
    // (countableArea) can still answer NG with this detector's parameters as
    // they are now: empty when it can (always, for a detector that judges no
    // area), else why not, the areas compared. A region that can never
    // answer NG is no inspection.
    virtual QString unreachableAlarm(int countable) const;

    // True when the region can be inspected: its (frame-clipped) rect has a
    // positive width and height, its shape mask is not empty, and its stored
    // form was understood. Detectors check this before touching any pixel.
    static bool regionUsable(const RoiInterface* region);
    // regionUsable, and the shape mask sets at least one pixel: a detector
    // that judges pixels (spot, flaw) has nothing to look at otherwise (a
    // ring whose inner radius is not below its outer one).
    static bool regionInspectable(const RoiInterface* region);
    // "%1号检测%2号区域没有可检测的像素" (detect index + 1, region index + 1):
    // why an edit bringing such a spot or flaw region is refused.
    static QString emptyMaskText(const RoiInterface* region);
    // The largest area a marking detector can measure on the region: calArea
    // of the shape's pixels that the step's ignore mask (frame-sized, 255 =
    // ignored) leaves. An ignore mask that is empty or does not cover the
    // region ignores nothing.
    static int countableArea(const RoiInterface* region, const cv::Mat& ignoreMask);
    // "%1号检测%2号区域无法达到报警面积，未进行检测：%3" (detect index + 1,
    // region index + 1, why): the result text of a region that can never
    // answer NG, judged NG at run time.
    static QString unreachableRunText(const RoiInterface* region, const QString& why);
    // "%1号检测%2号区域无法达到报警面积：%3": why an edit bringing such a
    // region is refused.
    static QString unreachableEditText(const RoiInterface* region, const QString& why);
    // "%1号检测%2号区域无效，未进行检测" (detect index + 1, region index + 1):
    // logged by execute and paramChange for an unusable region.
    static QString unusableRunText(const RoiInterface* region);
    // "%1号检测%2号区域无效，初始化失败": logged by preprocessor for an
    // unusable region.
    static QString unusableInitText(const RoiInterface* region);
};

// A JSON value read as a whole number, the way stored regions and detector
// parameters are read: a value that is missing, not a number, not whole or
// outside the int range gives 0.
int jsonWholeNumber(const QJsonValue& value);
