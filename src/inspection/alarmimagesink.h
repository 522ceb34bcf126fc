#pragma once
// What the image store hands to the alarm-image writer: the picture of a
// detection, its mask and the region shapes, which the writer saves on its
// own thread. The hub's writer implements AlarmImageSink and publishes itself
// with setInstance; until then the hand-over is dropped with a log line.
//
// Each call may come from the thread that runs a detection; the writer takes
// what it needs (a deep copy of the picture and the mask, whole-object
// copies of the regions) before it returns, since the matrices are views of
// the store's reused buffers and the regions belong to the parameter store.
#include "inspection/roiinterface.h"

#include <QVector>

#include <opencv2/core.hpp>

class AlarmImageSink {
public:
    virtual ~AlarmImageSink();

    // `slot` picks one of the step's two cache places (false: the NG image,
    // true: the OK image).
    // The picture: gImageW x gImageH, 8-bit, four channels (R, G, B, A) or
    // one grey channel.
    virtual void save2FailImage(cv::Mat image, int camera, int detect, bool slot) = 0;
    // The mask that goes with it: 8-bit, 255 where the picture counts.
    virtual void save2MaskCache(cv::Mat mask, int camera, int detect, bool slot) = 0;
    // The regions of the step, drawn on the saved picture.
    virtual void save2Roi(QVector<RoiInterface*> rois, int camera, int detect) = 0;

    // The process-wide writer; null until the hub has set it. Not owned:
    // whoever sets it keeps it alive until it clears it (setInstance(nullptr)).
    static AlarmImageSink* instance();
    static void setInstance(AlarmImageSink* sink);
};
