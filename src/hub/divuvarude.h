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
#include <QJsonArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

#include <opencv2/core.hpp>

class Camera;
class RecordBook;
struct SCollect_Unit;
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
    // Appends one record ("operate" or "system") in the name of the calling
    // thread's acting user, read at the call; from another thread it is
    // queued to the hub's thread.
    Q_INVOKABLE void InsertRecord(const QString& text, const QString& type) override;

    // HubServices
    void GetParams(QJsonObject& out) const override;

    // WizardParaHost
    void applyToCamera(const QJsonObject& params, bool copyRegions) override;
    void restartWork() override;
    void closeDatabases() override;
    void reopenDatabases() override;

    // 0 starts the work (flow started, outputs reset, then the closing
    // outputs the parameters ask for), 1 stops it (flow queue emptied,
    // outputs reset, the close-allow outputs); every value resets the run.
    void startStop(int state);

    // ---- Detection on the latest frame (main thread) ----
    // A step the detection operations accept: 0 <= detect < gDNum and < 4.
    static bool isDetectStep(int detect);
    // Copies the latest frame from the shared capture buffer (under pMutex)
    // into the image store and converts it. False, and nothing copied, when
    // no frame is fresh: gFPS below 1, no capture buffer or one of another
    // length than the store's raw buffer.
    bool updateImageData();
    // Detects the step on a fresh frame and fills is_valid, calculate_times,
    // calculate_time (the detectors' run alone), result and detect. Without a
    // fresh frame, or for a step that does not exist, nothing runs: is_valid
    // and result false, calculate_time 0, calculate_times unchanged, logged.
    void RunAlgorithm_New(int detect, SCollect_Unit& unit);
    // Stores a fresh frame as the step's first template and fills result,
    // calculate_time (copy and save included) and detect. Without a fresh
    // frame, for a step that does not exist or when the template cannot be
    // written: nothing stored, result false, logged.
    void RunTrain_New(int detect, SCollect_Unit& unit);
    // Retrains the step's detectors from its templates.
    void RunTrain_Var(int detect);
    // Keeps the current frame as one of the step's NG images.
    void Update_MemNGLook(int detect);

    // ---- Operator actions (main thread); a step that does not exist is
    // refused with a log line ----
    // Adds the last detected frame as a template, retrains the step; the
    // record is written when the template was stored, a failure is logged.
    void AddTemplate(int detect);
    // With "h_temp_count" 2 or more: the step's NG image ngIndex becomes a
    // template and the camera is told that its regions' templates changed.
    // True when a template was added.
    bool AddTemplateFromNG(int detect, int ngIndex);
    // Records first (also for an empty list), then deletes the templates of
    // every listed step but the last, which becomes "template00.bmp".
    void SlotTempDeleteAll(QList<int> detects);
    // Deletes one template; recorded when something was deleted.
    void SlotTempDeleteCur(int detect, QString name);
    void SlotDeleteAllROI(int detect);
    QJsonArray roisResult(int detect);
    void reload_CameraImages();
    // The camera's verdict back to OK, every region to OK with area 0.
    void ResetRun();
    // Factory camera parameters, pushed to the ISP and to the operator
    // application.
    Q_INVOKABLE void ResetCameraParam(const QString& arg);
    // A work event could not be synchronised over the group: on the main
    // camera the data-lost flag is set and outputs 0 and 2 go active.
    void handlingOfExceptionalEvent();
    void AutogenerationRegion(int) {}
    // ---- Picture files and lists ----
    // The path of a picture: kind "template" (the current template name
    // becomes `name`; from another thread that change is queued to the
    // hub's thread), "result_ng" or "result_ok" (in the step's alarm
    // folder). "" for another kind, a step outside 0 ... 3, or a name that
    // is not one plain file name of that folder (empty, ".", "..", with
    // "/", "\\" or NUL, or an existing file whose real path leaves the
    // folder). Any thread.
    QString getPicDir(QString name, int detect, QString kind);
    // Every step's templates, template times and NG and OK alarm images
    // (newest first, at most gPicNumNG / gPicNumOK), one ";"-joined text per
    // step 0 ... gDNum - 1 (empty texts from step 4 on).
    QJsonObject getPicFileList();
    // One kind ("temp", "okresult", "ngresult") of one step as
    // {"file_name", "file_mtime"}; {} for another kind or step.
    QJsonObject getPicFileList(const QString& kind, int detect);

    // The same lists in two halves, so that the folders (thousands of files
    // when full) are read off the hub's thread: what the hub knows is taken
    // on its thread, the folders are listed on any thread.
    struct AlarmListing {
        QStringList ngFolders, okFolders;  // one per step of the list; "" past step 3
        int ngLimit = 0;
        int okLimit = 0;
        // Lists the folders into `lists` as getPicFileList() has them
        // ("okresimg_group", "ngresimg_group"). Any thread.
        void listInto(QJsonObject& lists) const;
    };
    // Hub's thread: {"tmpimg_group", "tmptime_group"} of getPicFileList(), and
    // what its other half lists.
    QJsonObject templateFileLists();
    AlarmListing alarmListing() const;
    // The folder and limit of an "okresult" or "ngresult" list of a step;
    // false for another kind or step. Any thread.
    bool alarmFolderOf(const QString& kind, int detect, QString* folder, int* limit) const;
    // One alarm folder as {"file_name", "file_mtime"}, newest first, at most
    // `limit`. Any thread.
    static QJsonObject alarmFolderList(const QString& folder, int limit);
    // NG image number % 3 of step index % gDNum held in memory; empty when
    // there is none. The pixels are never written again. Any thread.
    cv::Mat getNGPic(int index, int number);
    cv::Mat getOrigImage();
    // Changes whenever getOrigImage()'s pixels do (equal counts, equal pixels).
    quint64 origImageGeneration() const;
    cv::Mat getOrigMask();
    cv::Rect getOrigMaskScope();
    // Hands the alarm images of one event of a cycle (kind 2 OK, 3 NG held,
    // 4, 5, 7, 8 the ways an NG ends) to the alarm-image writer.
    void SaveImageFile(int detect, int kind, QString businessId);

    // ---- Run state (any thread; reads copies only) ----
    // The run-state report: IO levels, identity, warnings, state and its
    // text, current step, frame rate, duty cycle and counts.
    QJsonObject getRunState();
    // "status_code" and "status_describe" from the flow's run state.
    void getCameraState(QJsonObject& obj);
    // {"cur_detect": detect, "datatype": 0, "stop": the flow holds an NG stop}.
    QJsonObject detectInfo(int detect);

    // Whether a template was added to the step since the start.
    bool templateAdded(int detect) const { return detect >= 0 && detect < 4 && m_templateAdded[detect]; }

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

    // Logs a detection that cannot run on a fresh frame and records the
    // start of an outage once ("system").
    void noFreshFrame(const char* operation, int detect);

    Camera* m_camera = nullptr;
    bool m_frameOutage = false;
    bool m_templateAdded[4] = {};
    // The alarm-image events: the business id of the NG image waiting for
    // the operator's decision and each step's last saved kind.
    QString m_pendingBusinessId;
    int m_lastSavedKind[4] = {};
    // Guards the image store's NG lists between the hub's thread and
    // getNGPic.
    mutable QMutex m_ngMutex;  // no fresh frame since the last one recorded
    QDir m_alarmDirs[8];
    QVector<QRgb> m_greyTable;
    int m_safetyDoor = 0;
    std::unique_ptr<RecordBook> m_record;
    WizardPara* m_params = nullptr;
    SaveFailImageThread* m_writer = nullptr;
};
