#pragma once
// What the manager's product interface asks of the camera group's work-event
// reactor and of the hub. The start-up wiring hands in the real ones; tests
// a fake. Called on the main thread, where the flow, the hub and the manager
// live.
#include <QJsonObject>
#include <QString>
#include <QVariantMap>

class ManagerWorkServices {
public:
    virtual ~ManagerWorkServices() = default;

    // ---- work-event reactor ----
    // Runs the work event of `topic` on every camera of the group and returns
    // its answer: "work_error", "result" and "result_detail" (device id to
    // the map form of that camera's unit). Blocks for the event, at most
    // about 10 s on the main camera.
    virtual QVariantMap activateWorkEvent(const QString& topic, const QString& uuid, const QVariantMap& datas) = 0;
    // Sends a quick meet to every sub camera.
    virtual void sendQuickMeet(const QString& topic, const QVariantMap& datas) = 0;

    // ---- hub ----
    // A work event could not be synchronised: raises the data-lost flag and
    // sets the alarm outputs (main camera).
    virtual void handlingOfExceptionalEvent() = 0;
    // Caches the current image and queues it to the alarm-image writer.
    virtual void SaveImageFile(int detect, int kind, const QString& text) = 0;
    virtual void RunTrain_Var(int detect) = 0;
    // The flow manager's host services that the hub answers.
    virtual void reloadCameraImages() = 0;
    virtual QJsonObject processParams() const = 0;
    virtual void setDetectStepCount(int count) = 0;
};
