#pragma once
// The common base of the region shapes (rectangle, polygon, circle).
//
// Reading the stored form: the corner coordinates are clamped into the
// display area with a margin of 3 and a rectangle is given at least 5 pixels
// a side; that geometry is what the region writes back and compares. From it
// each shape derives its shape rectangle, and the working image rectangle is
// that rectangle clipped to the frame (gImageW x gImageH), with the mask
// cropped to match, so no caller ever takes a view outside the frame. A
// region whose clipped rectangle is empty is reported ("警告：…") and cannot
// be inspected.
//
// A stored region whose detector or shape this program does not know is kept
// as read: it writes its JSON back unchanged (only its step and index follow
// the region), has no detector and answers NG.
#include "inspection/roiinterface.h"

#include <QJsonArray>
#include <QRect>

// The region's rectangle: left, top, right, bottom, inclusive.
class RoiParam : public QRect {
public:
    using QRect::QRect;
    RoiParam() = default;
    RoiParam(const QRect& rect) : QRect(rect) {}
};

class ROI : public RoiInterface {
public:
    ROI();
    ROI(const ROI& other) = default;
    ROI& operator=(const ROI&) = delete;
    ~ROI() override;

    // A region of a shape type this program does not know, kept as read: it
    // reads its step and index, has no detector, is never usable and writes
    // `json` back as it was.
    static std::unique_ptr<ROI> createUnknownShape(RoiCameraAccess* camera, const QJsonObject& json);

    void saveToJson(QJsonObject& o) const override;
    void initFromJson(const QJsonObject& o) override;

    int getDetectIndex() const override { return m_detectIndex; }
    int getRoiIndex() const override { return m_roiIndex; }
    QString getRoiType() const override;
    QString getRoiTypeDesc() const override { return QString(); }
    QString getProcessorName() const override { return m_processorName; }
    cv::Rect getImageRect() const override;
    ProcessorInterface* getProcessor() const override { return m_processor.get(); }
    std::shared_ptr<ProcessorInterface> sharedProcessor() const override { return m_processor; }

    void setRoiDetectIndex(int detect) override { m_detectIndex = detect; }
    void setImageRect() override;
    void UpdateMask() override;
    void UpdateRunMask(cv::Mat mask) override;
    void UpdateParamChangeMask(cv::Mat mask) override;

    cv::Mat getMask() const override { return m_mask; }
    cv::Mat getIgnoreMask() const override;
    cv::Mat getRunMask() const override { return m_runMask; }
    cv::Mat getParamChangeMask() const override { return m_paramChangeMask; }
    cv::Mat getTemplateImage() const override;
    int getTemplateCount() const override;
    cv::Mat getTemplateImage(int index) const override;
    cv::Mat getFirstTemplateImage() const override;
    cv::Mat getRunImage() const override;

    bool getResult() const override;
    void setResult(bool ok) override { m_result = ok; }
    QString getResultDescription() const override { return m_resultDescription; }
    void setResultDescription(const QString& text) override;
    void setArea(int area) override { m_area = area; }
    int getArea() const override { return m_area; }

    bool getSystemParam(const QString& key, QJsonObject& out) const override;
    void drawSave(QPainter& painter, bool shortLabel) const override;
    bool isEqual(const RoiInterface* other, QString& text) const override;
    std::unique_ptr<RoiInterface> createNewROI(RoiCameraAccess* camera, bool copy) const override;
    std::unique_ptr<RoiInterface> snapshotCopy() const override;

    RoiCameraAccess* getCamera() const override { return m_camera; }
    void setCamera(RoiCameraAccess* camera) { m_camera = camera; }
    bool isUnknownType() const override { return m_keptAsRead; }
    bool isUsable() const override;

    // The base rectangle as read (clamped, at least 5 pixels a side).
    const RoiParam& roiParam() const { return m_rect; }
    // The shape's own bounding rectangle before clipping to the frame.
    QRect shapeRect() const { return m_shapeRect; }

protected:
    // A new object of the receiver's class in its construction state.
    virtual std::unique_ptr<ROI> newOfSameClass() const;
    // Reads "roi_infos" into the shape's geometry; false when the input
    // cannot be held (the region is then kept as read).
    virtual bool readGeometry(const QJsonArray& infos);
    // The geometry as "roi_infos".
    virtual QJsonArray writeGeometry() const;
    // The shape's bounding rectangle in frame pixels, before clipping.
    virtual QRect computeShapeRect() const;
    // Draws the shape (255) into mask, whose top-left pixel is frame pixel
    // `origin`; mask is zero on entry.
    virtual void drawShape(cv::Mat& mask, const cv::Point& origin) const;
    // Draws the outline of the shape on an alarm image.
    virtual void drawOutline(QPainter& painter) const;
    // Whether a read is followed by the size check (the shapes, not the base).
    virtual bool checksSize() const { return false; }

    // Reports a region whose working rectangle is empty.
    void checkImageRect() const;
    // The clipped working rectangle (left, top, right, bottom).
    const QRect& workingRect() const { return m_imageRect; }

    RoiParam m_rect;  // null until read: (0, 0, -1, -1)

private:
    int m_roiIndex = 0;
    int m_detectIndex = 0;
    int m_area = 0;
    bool m_result = true;
    QString m_resultDescription;
    QString m_processorName;
    QRect m_shapeRect;
    QRect m_imageRect;
    cv::Mat m_mask;
    cv::Mat m_runMask;
    cv::Mat m_paramChangeMask;
    std::shared_ptr<ProcessorInterface> m_processor;
    RoiCameraAccess* m_camera = nullptr;

    // Set when the stored form was not understood; m_storedJson then holds it.
    bool m_keptAsRead = false;
    bool m_unknownShape = false;
    QJsonObject m_storedJson;
};
