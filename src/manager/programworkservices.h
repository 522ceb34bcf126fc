#pragma once
// The manager's product work on the running program: work events and quick
// meets through the camera group's reactor, pictures, training, the
// data-lost alarm and the flow's host services through the hub published in
// gpWin. The manager is made before the hub, so the hub is looked up at each
// call; without one the call is logged and does nothing (the flow gets no
// parameters and counts no steps).
//
// Threads: the main thread, where the flow, the reactor and the hub live.
#include "manager/managerworkservices.h"

class RpcDistributed_Reactor;

class ProgramWorkServices : public ManagerWorkServices {
public:
    // `reactor` is not owned and outlives the services.
    explicit ProgramWorkServices(RpcDistributed_Reactor* reactor) : m_reactor(reactor) {}

    QVariantMap activateWorkEvent(const QString& topic, const QString& uuid, const QVariantMap& datas) override;
    void sendQuickMeet(const QString& topic, const QVariantMap& datas) override;
    void handlingOfExceptionalEvent() override;
    void SaveImageFile(int detect, int kind, const QString& text) override;
    void RunTrain_Var(int detect) override;
    void reloadCameraImages() override;
    QJsonObject processParams() const override;
    void setDetectStepCount(int count) override;

private:
    RpcDistributed_Reactor* m_reactor;
};
