#pragma once
// A stand-in for the camera a region reads from: templates per detection
// step, a run image and frame-sized ignore masks, all set by the test. Like
// the real camera it hands out matrices that share its pixels.
#include "inspection/hubservices.h"
#include "inspection/roicameraaccess.h"

#include <map>
#include <vector>

namespace testsupport {

class FakeRoiCamera : public RoiCameraAccess {
public:
    cv::Mat ignoreMask(int detect) override
    {
        cv::Mat& mask = ignoreMasks[detect];
        if (mask.empty())
            mask = cv::Mat::zeros(gImageH, gImageW, CV_8UC1);
        return mask;
    }
    cv::Mat currentTemplate(int detect) override { return templateImage(detect, currentTemplateIndex); }
    cv::Mat templateImage(int detect, int index) override
    {
        const auto it = templates.find(detect);
        if (it == templates.end() || index < 0 || index >= int(it->second.size()))
            return cv::Mat();
        return it->second[size_t(index)];
    }
    cv::Mat firstTemplate(int detect) override { return templateImage(detect, 0); }
    int templateCount(int detect) override
    {
        const auto it = templates.find(detect);
        return it == templates.end() ? 0 : int(it->second.size());
    }
    cv::Mat runImage() override { return run; }

    std::map<int, std::vector<cv::Mat>> templates;
    std::map<int, cv::Mat> ignoreMasks;
    cv::Mat run;
    int currentTemplateIndex = 0;
};

}  // namespace testsupport
