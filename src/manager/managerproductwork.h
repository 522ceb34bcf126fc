#pragma once
// The application's side of the flow: turns a detect part's request into a
// camera-group work event, feeds the production statistics, saves the NG
// image of a cycle that does not stop the machine and hands results to the
// pushes. It is the product interface and the host services of the flow
// manager; the application manager derives from it.
//
// Threads: lives on the main thread, where the flow calls it. The statistics
// forwarders may be called from any thread: stat_getCur answers from the
// statistics' locked copy, the others are queued to the statistics' thread
// without waiting (a work event may hold the main thread for 10 s).
#include "flow/flowhostservices.h"
#include "flow/product_interface.h"

#include <QTimer>
#include <QVariantMap>
#include <QVector>

class AppPushes;
class ManagerWorkServices;
class stage_productstatistics;

class ManagerProductWork : public Product_Interface, public FlowHostServices {
    Q_OBJECT
public:
    // How long after a work event its clock record ("VCamera_Work/RecordTime")
    // is written: after the cycle's verdict has gone out. Work events that
    // follow each other closer than this are written once, after the last.
    static constexpr int kRecordTimeDelayMs = 100;

    // None owned; all outlive the object.
    ManagerProductWork(ManagerWorkServices* services, stage_productstatistics* statistics, AppPushes* pushes,
                       QObject* parent = nullptr);
    ~ManagerProductWork() override;

    // Product_Interface
    FlowWork_WorkEvent_Back WorkEvent_Standard(FlowUnit_Passport passport) override;
    void Statistics_updateCycleRecord() override;
    void saveFailImage_OnNGNoStop(int detect_index) override;
    void PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport passport) override;
    void PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info) override;
    void Statistics_insertOnceDetectend(QMap<QString, SCollect_Unit> collects) override;
    void WorkRX_RunTrain_Var(int detect_index) override;

    // FlowHostServices
    void stat_ResetDetect(int unit_count) override;
    void reload_CameraImages() override;
    QJsonObject processParams() const override;
    void setDetectStepCount(int count) override;

    // Statistics forwarders (any thread).
    void stat_CountClear();
    void stat_SaveCur(const QVariantMap& values);
    // The live counters: of all cameras for -1, else of that camera.
    QVariantMap stat_getCur(int camera) const;
    void stat_ResetCamera(int camera);

    // The per-camera results of one step in group order, one entry per
    // camera of the group: a camera matched by device id takes its unit's
    // result, a camera without a unit counts as NG, a unit of a device that
    // is not in the group is left out (logged). `detect` gets the step (-1
    // when no unit names one). Empty when there is nothing to count.
    static QVector<bool> groupResults(const QMap<QString, SCollect_Unit>& collects, const QStringList& groupIds,
                                      int* detect);

protected:
    // For a derived class that makes its parts after the base (none owned).
    void setParts(ManagerWorkServices* services, stage_productstatistics* statistics, AppPushes* pushes)
    {
        m_services = services;
        m_statistics = statistics;
        m_pushes = pushes;
    }
    ManagerWorkServices* services() const { return m_services; }
    stage_productstatistics* statistics() const { return m_statistics; }
    AppPushes* pushes() const { return m_pushes; }

private:
    // Runs `call` on the statistics' thread: at once when already there,
    // otherwise queued without waiting.
    void onStatistics(std::function<void(stage_productstatistics*)> call);

    ManagerWorkServices* m_services;
    stage_productstatistics* m_statistics;
    AppPushes* m_pushes;
    QTimer m_recordTimeTimer;     // single shot: writes m_recordTimeSeconds
    qint64 m_recordTimeSeconds = 0;  // epoch seconds of the last work event's end
};
