#pragma once
// What the flow needs from the application: the image work of a detection,
// statistics, alarm images, pushes to the operator application and to
// subscribers, and template training. The application manager implements it;
// the flow reaches it only through the weak pointer in FlowInstIface and
// calls it in the main thread.
//
// Only WorkEvent_Standard must be implemented; the other operations do
// nothing by default, and none of them reports failure to the flow.
#include "flow/flowunit_passport.h"
#include "flow/flowworkevent.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>

class Product_Interface : public QObject {
    Q_OBJECT
public:
    explicit Product_Interface(QObject* parent = nullptr);
    ~Product_Interface() override;

    // Runs the cycle's detection on this camera and on every camera of the
    // group and returns when the results are in (the calling thread blocks,
    // at most about 10 s). Failure shows in the answer's work error and result.
    virtual FlowWork_WorkEvent_Back WorkEvent_Standard(FlowUnit_Passport passport) = 0;
    // Counts one mould cycle.
    virtual void Statistics_updateCycleRecord();
    // Saves the alarm images of a step whose NG did not stop the machine.
    virtual void saveFailImage_OnNGNoStop(int detect_index);
    // Pushes a finished unit's result to the operator application.
    virtual void PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport passport);
    // Pushes one unit's detection record to the subscribers.
    virtual void PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info);
    // Records one detection step's per-camera results in the statistics.
    virtual void Statistics_insertOnceDetectend(QMap<QString, SCollect_Unit> collects);
    // Hands a detect index to the hub's training routine.
    virtual void WorkRX_RunTrain_Var(int detect_index);

    // Set to 1 by the application when a work event could not be synchronised
    // across the camera group (detection exception, data lost); cleared by the
    // operator's force-restore action. While set, every detection marks its
    // cycle for a machine stop. Atomic: the run-state report reads it from
    // other threads.
    std::atomic<int> detect_exception{0};
    // Kept for the application; the flow never touches it.
    QMap<QString, QList<SCollect_Unit>> map_collects;
};
