#pragma once
// What a region of interest reads of the camera it belongs to: the step's
// templates, the run image and the step's ignore mask. The camera implements
// it over its parameter store and image store; a region only points at it
// (never owns it). Every matrix returned shares its pixels with the camera's
// buffers: what a caller draws into the ignore mask lands in the camera.
#include <opencv2/core.hpp>

class RoiCameraAccess {
public:
    virtual ~RoiCameraAccess() = default;

    // The ignore mask of a detection step: frame-sized, 8-bit, one channel.
    virtual cv::Mat ignoreMask(int detect) = 0;
    // The step's current template (the one the operator chose).
    virtual cv::Mat currentTemplate(int detect) = 0;
    // The index-th template of the step; empty when there is none.
    virtual cv::Mat templateImage(int detect, int index) = 0;
    // The step's master template ("template00.bmp"); empty when missing.
    virtual cv::Mat firstTemplate(int detect) = 0;
    // How many templates the step holds.
    virtual int templateCount(int detect) = 0;
    // The frame the current detection runs on.
    virtual cv::Mat runImage() = 0;
};
