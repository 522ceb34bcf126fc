#pragma once
// The interface of a region of interest: one area of the camera frame that
// one detection step inspects with one detector.
//
// A region serialises itself to one JSON object ("detect_index",
// "roi_index", "roi_type", "roi_infos", "func_type", "func_params") and
// rebuilds itself from one; derives from its geometry an image rectangle
// (clipped to the frame) and an 8-bit shape mask of that rectangle's size
// (255 inside the shape); hands its detector the camera's templates, run
// image and ignore mask and the hub's process parameters; and draws itself
// on alarm images.
//
// Ownership: regions are created by the registry or by createNewROI and owned
// by whoever holds the returned unique_ptr (the camera's parameter store).
// A region shares its detector (std::shared_ptr) with its snapshot copies.
// No lock: callers serialise access to a region.
#include <QJsonObject>
#include <QMetaType>
#include <QString>

#include <memory>

#include <opencv2/core.hpp>

class ProcessorInterface;
class RoiCameraAccess;
class QPainter;

class RoiInterface {
public:
    virtual ~RoiInterface();

    // Sets the six keys of the stored form into o (replacing values there).
    // A region kept as read (see isUnknownType) writes back what it read.
    virtual void saveToJson(QJsonObject& o) const = 0;
    // Rebuilds geometry, detector, image rectangle and mask from o.
    virtual void initFromJson(const QJsonObject& o) = 0;

    virtual int getDetectIndex() const = 0;
    virtual int getRoiIndex() const = 0;
    // "rect", "polygon", "circle" ("" for the base region; a region of an
    // unknown shape answers the type it was stored with).
    virtual QString getRoiType() const = 0;
    virtual QString getRoiTypeDesc() const = 0;
    // The detector name, "func_type" as read.
    virtual QString getProcessorName() const = 0;
    // The working rectangle in frame pixels, clipped to the frame; empty
    // (width or height 0 or less) for a region that cannot be inspected.
    virtual cv::Rect getImageRect() const = 0;
    // The region's detector, or null when it has none. The pointer stays
    // valid while the region lives.
    virtual ProcessorInterface* getProcessor() const = 0;
    // The same detector as a shared handle (for holders that may outlive
    // the region).
    virtual std::shared_ptr<ProcessorInterface> sharedProcessor() const = 0;

    virtual void setRoiDetectIndex(int detect) = 0;
    // Derives the image rectangle from the geometry.
    virtual void setImageRect() = 0;
    // Rebuilds the shape mask (size of the image rectangle).
    virtual void UpdateMask() = 0;
    virtual void UpdateRunMask(cv::Mat mask) = 0;
    virtual void UpdateParamChangeMask(cv::Mat mask) = 0;

    virtual cv::Mat getMask() const = 0;
    // The step's ignore mask from the camera (frame-sized, pixels shared).
    virtual cv::Mat getIgnoreMask() const = 0;
    virtual cv::Mat getRunMask() const = 0;
    virtual cv::Mat getParamChangeMask() const = 0;
    // Camera-backed reads; empty matrices (or 0) without a camera.
    virtual cv::Mat getTemplateImage() const = 0;
    virtual int getTemplateCount() const = 0;
    virtual cv::Mat getTemplateImage(int index) const = 0;
    virtual cv::Mat getFirstTemplateImage() const = 0;
    virtual cv::Mat getRunImage() const = 0;

    // Verdict of the last detection (true = OK). A region kept as read
    // always answers false.
    virtual bool getResult() const = 0;
    virtual void setResult(bool ok) = 0;
    virtual QString getResultDescription() const = 0;
    // Stores "<roi index + 1>:" followed by text.
    virtual void setResultDescription(const QString& text) = 0;
    virtual void setArea(int area) = 0;
    virtual int getArea() const = 0;

    // Copies the process parameter `key` into out; false when absent.
    virtual bool getSystemParam(const QString& key, QJsonObject& out) const = 0;
    // Draws outline and label on an alarm image; shortLabel selects
    // "<index>: <area>" instead of the result description.
    virtual void drawSave(QPainter& painter, bool shortLabel) const = 0;
    // Compares geometry only (as stored); text is not touched.
    virtual bool isEqual(const RoiInterface* other, QString& text) const = 0;
    // A new region of the receiver's own class on `camera`; with copy true it
    // is rebuilt from the receiver's stored form (with its own detector),
    // with copy false it is in its construction state (no detector).
    virtual std::unique_ptr<RoiInterface> createNewROI(RoiCameraAccess* camera, bool copy) const = 0;
    // A whole-object copy that shares this region's detector and masks: the
    // snapshot taken for an alarm image.
    virtual std::unique_ptr<RoiInterface> snapshotCopy() const = 0;

    // The camera the region reads from (not owned); may be null.
    virtual RoiCameraAccess* getCamera() const = 0;
    // True when the stored form named a shape or detector this program does
    // not know, or could not be held (a polygon beyond its point bound): the
    // region keeps its JSON as read, has no detector and answers NG. An edit
    // from the operator application that carries such a region is refused.
    virtual bool isUnknownType() const = 0;
    // True when the region can be inspected: understood, with a detector and
    // a non-empty clipped rectangle and mask.
    virtual bool isUsable() const = 0;
};

Q_DECLARE_METATYPE(RoiInterface*)
