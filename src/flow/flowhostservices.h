#pragma once
// What the flow manager needs of the application around it, beyond the
// product interface: the statistics' detect count (application manager), the
// camera image space and the process parameters (hub), and the number of
// detect steps the inspection engine works over. The application wires one
// implementation into the flow manager at start-up; tests hand in a fake.
//
// Called in the main thread only.
#include <QJsonObject>

class FlowHostServices {
public:
    virtual ~FlowHostServices() = default;

    // Resets the statistics' detect count for `unit_count` detect steps.
    virtual void stat_ResetDetect(int unit_count) = 0;
    // Reloads the camera's image space (templates and results) after a live
    // build of the flow.
    virtual void reload_CameraImages() = 0;
    // The process parameters by JSON key (the layouts read them).
    virtual QJsonObject processParams() const = 0;
    // The number of detect steps of the live flow (the inspection engine's
    // step count).
    virtual void setDetectStepCount(int count) = 0;
};
