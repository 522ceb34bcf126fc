#pragma once
// What the pushes read on the running program: run state, detection info,
// region results, mask and pictures from the hub published in gpWin, the
// shown step from the flow manager, the camera parameters from the hub's
// camera. Without a hub every read is empty (and the run state says so).
//
// Threads: called on the pushing thread (see pushsources.h); the hub's
// run-state and picture reads answer any thread.
#include "manager/pushsources.h"

#include <functional>

class HubPushSources : public PushSources {
public:
    // The flow's shown step (-1 without a flow).
    explicit HubPushSources(std::function<int()> shownStep) : m_shownStep(std::move(shownStep)) {}

    QJsonObject runState() override;
    int shownDetectIndex() override;
    QJsonObject detectInfo(int detect) override;
    QJsonArray roisResult(int detect) override;
    cv::Mat origMask() override;
    cv::Rect origMaskScope() override;
    QJsonObject cameraParams() override;
    QJsonObject picFileList() override;
    bool colourFrames() override;

private:
    std::function<int()> m_shownStep;
};
