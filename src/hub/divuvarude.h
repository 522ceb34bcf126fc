#pragma once
// The application hub: one object for the life of the program. It owns the
// two databases (PARAM.db on the connection "dbIn", RECORD.db on
// "dbRecord"), the process parameters, the camera object, the alarm-image
// writer and the operator record, prepares the alarm-image and template
// directories and sets the process-wide frame geometry. It is never shown.
//
// Threads: lives on the main thread; every operation on the databases and
// the camera runs there. InsertRecord and FLushAll may be called from any
// thread: they re-post themselves to the hub's thread and return at once.
#include "hub/wizardpara.h"
#include "inspection/hubservices.h"
#include "foundation/foundationservices.h"

#include <QDir>
#include <QObject>
#include <QRgb>
#include <QString>
#include <QVector>

#include <functional>
#include <memory>

class Camera;
class RecordBook;
class SaveFailImageThread;

// The process parameters; null until the hub has created them.
extern WizardPara* gpWPara;

class DiVuVarude : public QObject, public HubServices, public OperationRecord_Interface, public WizardParaHost {
    Q_OBJECT
public:
    // Runs the whole construction (databases, history, parameters,
    // directories, capture, camera, writer, alarm counter) in the current
    // working directory; publishes itself in gpWin.
    explicit DiVuVarude(QObject* parent = nullptr);
    // The program never destroys the hub; the tests do, and get every
    // process-wide registration undone.
    ~DiVuVarude() override;

    // Closes PARAM.db, then RECORD.db (they reopen when next used).
    Q_INVOKABLE void FLushAll();
    // Appends one record ("operate" or "system"); from another thread it is
    // queued to the hub's thread.
    Q_INVOKABLE void InsertRecord(const QString& text, const QString& type) override;

    // HubServices
    void GetParams(QJsonObject& out) const override;

    // WizardParaHost
    void applyToCamera(const QJsonObject& params, bool copyRegions) override;
    void restartWork() override;

    // Starts (state 1) or stops and restarts (state 0) work.
    void startStop(int state);

    Camera* camera() const { return m_camera; }
    WizardPara* params() const { return m_params; }
    SaveFailImageThread* imageWriter() const { return m_writer; }
    // The step's alarm folder (detect 0..3).
    QDir alarmDirectory(int detect, bool ok) const { return m_alarmDirs[detect * 2 + (ok ? 1 : 0)]; }
    const QVector<QRgb>& greyColourTable() const { return m_greyTable; }
    // While set, alarm images carry the safety-door line.
    void setSafetyDoor(bool on);

    // What the capture step runs to create the capture controller and
    // publish it as gAiqControl. The program sets it before the hub is made;
    // tests leave it empty and run without the image pipeline.
    static void setCaptureStarter(std::function<void()> starter);

private:
    void openParamDatabase();
    // Creates the capture controller and publishes it.
    void startCapture();
    int scanAlarmCounter() const;

    Camera* m_camera = nullptr;
    QDir m_alarmDirs[8];
    QVector<QRgb> m_greyTable;
    int m_safetyDoor = 0;
    std::unique_ptr<RecordBook> m_record;
    WizardPara* m_params = nullptr;
    SaveFailImageThread* m_writer = nullptr;
};
