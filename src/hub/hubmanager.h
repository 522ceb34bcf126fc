#pragma once
// What the hub's detection, actions and run-state report ask of the
// application manager: the snapshot for the operator application, the push
// of the camera parameters, the current statistics, the flow manager's start
// and stop and its run description, and the product interface whose
// detect_exception is the data-lost flag. The manager implements HubManager
// and publishes it with setInstance; until then the hub does without it
// (no snapshot, no push, zero counts, no flow to start or describe) and says
// so in the log where it matters.
#include "flow/flowrecords.h"

#include <QString>
#include <QVariantMap>

#include <opencv2/core.hpp>

class Product_Interface;

// The flow manager as the hub uses it.
class HubFlow {
public:
    virtual ~HubFlow();
    // True: every group's run state starts; false: pending passports are
    // dropped. Main thread.
    virtual void setStartOrStop(bool start) = 0;
    // What the flow is doing now; callable from any thread.
    virtual FlowGroup_State get_RunDescribe() = 0;
};

class HubManager {
public:
    virtual ~HubManager();
    // Hands the current frame (gImageH x gImageW, shared with the image
    // store: copy or encode before returning) for the operator application's
    // snapshot; the manager decides whether it encodes one. Main thread.
    virtual void post2app_main_snapshot(const cv::Mat& frame) = 0;
    // Pushes the current camera parameters to the operator application.
    virtual void async_back2longtcp_defaultparam(const QString& arg) = 0;
    // The current statistics of one camera (-1: all), with at least
    // "detect_ok" and "detect_ng". Any thread.
    virtual QVariantMap stat_getCur(int camera) = 0;
    // The flow manager; null when there is none.
    virtual HubFlow* flowManager() = 0;
    // The product interface (its detect_exception is the data-lost flag);
    // null when there is none.
    virtual Product_Interface* productInterface() = 0;

    // Not owned; null until the manager sets it.
    static HubManager* instance();
    static void setInstance(HubManager* manager);
};
