#pragma once
// What the pushes to the operator application read of the hub and of the
// flow manager. The start-up wiring hands in the real ones; tests a fake.
//
// runState, shownDetectIndex, detectInfo, roisResult, the mask, the camera
// parameters and the picture list are called on the pushing thread (the main
// thread on the main camera, a work event's thread on a sub camera).
#include <QJsonArray>
#include <QJsonObject>

#include <opencv2/core.hpp>

class PushSources {
public:
    virtual ~PushSources() = default;

    // The hub's run-state JSON ("state" 2 is an alarm stop).
    virtual QJsonObject runState() = 0;
    // The detection step shown to the operator application (flow state).
    virtual int shownDetectIndex() = 0;
    virtual QJsonObject detectInfo(int detect) = 0;
    virtual QJsonArray roisResult(int detect) = 0;
    // The region mask of the current step (8-bit) and the rectangle of it
    // that holds regions.
    virtual cv::Mat origMask() = 0;
    virtual cv::Rect origMaskScope() = 0;
    // The camera's parameters ("exposure", "gain", ...).
    virtual QJsonObject cameraParams() = 0;
    // The template and alarm-image lists of every step.
    virtual QJsonObject picFileList() = 0;
    // Frames are colour (32-bit) rather than grey (8-bit).
    virtual bool colourFrames() = 0;
};
