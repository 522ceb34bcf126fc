#pragma once
// The multipart reply of the current detection step for the operator
// application: the result with the step's regions, the mask in the form the
// application's registered version takes (MaskForApp), and for the NG info
// route also the detection info, the run state and the frame. Parts go out
// in the reply builder's order: the named fields in key order, then each
// image as its "-info" part and its pixels.
//
// Threads: fill() is a pure function of copies; it runs on any thread, so
// the main thread only copies the images and leaves packing and assembly to
// a pool thread.
#include "httpapi/ctask_formdata_mongoose.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <opencv2/core.hpp>

class DetectionImageReply {
public:
    QJsonObject detectinfo;
    QJsonObject runstate;
    QJsonArray rois;
    cv::Mat frame;  // the frame of the last detection (NG info only)
    cv::Mat mask;   // the step's region mask
    cv::Rect scope; // the rectangle of the mask that holds regions
    QString appVersion;  // the version the working application registered
    bool withFrame = false;  // NG info: also detectinfo, runstateinfo and orgmat

    void fill(CTask_FormData_Mongoose& reply) const;
};
