#pragma once
// The HTTP control API as the rest of the camera program sees it: the
// business base keeps the server configuration, owns the reactor and, on
// start, registers every route by calling each of its slots whose name
// contains "WITH_REGISTER_"; the service carries one handler slot per route
// under "/dide/".
//
// Threads: constructed and started on the main thread (the object's
// thread). Handlers are called on a worker; by the route's pattern they work
// there (W), re-post themselves to the main thread (M), or answer on the
// worker and then work on the main thread (WM).
#include "flow/flowunit_passport.h"
#include "httpapi/ctask_formdata_mongoose.h"
#include "httpapi/httpreactor_mg.h"
#include "httpapi/reusedimagecopies.h"

#include <QFuture>
#include <QJsonObject>
#include <QHostAddress>
#include <QJsonArray>
#include <QMutex>
#include <QObject>
#include <QThreadPool>
#include <QSharedPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class TM_ZRP_Publish;

struct HttpBusiness_MG_Config {
    QHostAddress host;
    quint16 port = 0;
    int limit_max_recvdatas = 50;
    bool limit_onlyurl = true;
    QString cachefile_path;  // the upload cache folder (a device path)
};

class Product_Manager;
class stage_productstatistics;

class HttpBusiness_MG : public QObject {
    Q_OBJECT
public:
    HttpBusiness_MG(HttpBusiness_MG_Config config, QObject* parent = nullptr);
    // Any address, port 0, limit 50, one request per URL, "/tmp/".
    explicit HttpBusiness_MG(QObject* parent = nullptr);
    ~HttpBusiness_MG() override;

    // Registers every route, then starts the reactor. Main thread, once.
    void start();

    QSharedPointer<HttpReactor_MG> reactor() const { return m_reactor; }
    // Handler calls re-posted to this object's thread that have not run yet.
    int callsWaitingForOwnThread() const { return m_waitingCalls.load(); }

public slots:
    void mghttpbus_demo(const CTask_FormData_Mongoose& req);
    void WITH_REGISTER_mghttpbus_demo();

protected:
    // True (and the call re-posted to this object's thread, queued by method
    // name) when called on another thread. The call waits behind every other
    // event of that thread (it is posted at low priority): a work event that
    // comes while requests queue up runs next, not after them.
    bool repostToOwnThread(const char* method, const CTask_FormData_Mongoose& req);
    bool event(QEvent* e) override;

    QSharedPointer<HttpReactor_MG> m_reactor;
    std::atomic<int> m_waitingCalls{0};
    QHostAddress host;
    quint16 port;
    int limit_max_recvdatas;
    bool limit_onlyurl;
    QString cachefile_path;
};

// What the handlers read of the application manager, which creates this
// service and hands these in after it has created them. Until then the
// routes that need them answer without them (empty results).
struct HttpServiceManagerLinks {
    TM_ZRP_Publish* publisher = nullptr;  // subscribers, the two stashes
    // The run-state report (refreshing the publisher's stash when true).
    std::function<QJsonObject(bool)> runStateJson;
    // The JPEG bytes of the last live snapshot (empty before the first).
    std::function<QByteArray()> lastSnapshot;
};

class HttpService_MG_Business : public HttpBusiness_MG {
    Q_OBJECT
public:
    explicit HttpService_MG_Business(HttpBusiness_MG_Config config);
    ~HttpService_MG_Business() override;

    // Main thread, before start().
    void setManagerLinks(HttpServiceManagerLinks links) { m_links = std::move(links); }
    // Test hook: where project exports are pushed (default 10416).
    void setExportPushPort(quint16 port) { m_exportPushPort = port; }

    // A fresh reply record for `req`: its identity, this device's id.
    CTask_FormData_Mongoose callback_inherit(const CTask_FormData_Mongoose& req) const;
    static QJsonArray func_list_2_jsonarray(const QList<QString>& list);

    // The flow manager and the statistics the handlers act on (not owned;
    // both outlive the service). Set once by the application manager before
    // start; a handler that needs one that is missing refuses.
    void setProgram(Product_Manager* flow, stage_productstatistics* statistics);
    // How long the restart hand-overs wait for the main thread before the
    // reboot goes ahead anyway (a hung main thread must not cancel a
    // restart).
    void setHandOverLimitMs(int ms) { m_handOverLimitMs = ms; }

signals:
    void sig_OnWork(FlowUnit_Passport passport);

public slots:
    void DideContext__update_system(const CTask_FormData_Mongoose& req);
    void DideDebug__restart_rpc_service(const CTask_FormData_Mongoose& req);
    void DideContext__getproject_storage(const CTask_FormData_Mongoose& req);
    void DideContext__get_stash_runstate_p2ahb(const CTask_FormData_Mongoose& req);
    void DideContext__getsyspic(const CTask_FormData_Mongoose& req);
    void DideContext__getsyspic_item(const CTask_FormData_Mongoose& req);
    void DideContext__getpicture(const CTask_FormData_Mongoose& req);
    void DideContext__heartbeat(const CTask_FormData_Mongoose& req);
    void DideContext__setcamcntstatus(const CTask_FormData_Mongoose& req);
    void DideContext__getcamerastatus(const CTask_FormData_Mongoose& req);
    void DideContext__get_shorttime_ng(const CTask_FormData_Mongoose& req);
    void DideContext__getcurnginfo(const CTask_FormData_Mongoose& req);
    void DideContext__getoperaterecord(const CTask_FormData_Mongoose& req);
    void DideContext__getoperaterecord_list(const CTask_FormData_Mongoose& req);
    void DideContext__gethistory_record(const CTask_FormData_Mongoose& req);
    void DideContext__getlastshowlive(const CTask_FormData_Mongoose& req);
    void DideContext__getrunresult_info(const CTask_FormData_Mongoose& req);
    void DideContext__getrunresult_mask(const CTask_FormData_Mongoose& req);
    void DideContext__getlan_all_devices(const CTask_FormData_Mongoose& req);
    void DideAction__act_setSystime(const CTask_FormData_Mongoose& req);
    void DideAction__act_sysRestart(const CTask_FormData_Mongoose& req);
    void DideAction__act_setStatus(const CTask_FormData_Mongoose& req);
    void DideAction__removeObject(const CTask_FormData_Mongoose& req);
    void DideAction__ManualDetect(const CTask_FormData_Mongoose& req);
    void DideAction__NoCheckDetect(const CTask_FormData_Mongoose& req);
    void DideAction__ReDetect(const CTask_FormData_Mongoose& req);
    void DideAction__AddTemplate(const CTask_FormData_Mongoose& req);
    void DideAction__ReSample(const CTask_FormData_Mongoose& req);
    void DideAction__addTemplateFromNG(const CTask_FormData_Mongoose& req);
    void DideAction__reDefault_CameraParam(const CTask_FormData_Mongoose& req);
    void DideAction__reDefault_AllParam(const CTask_FormData_Mongoose& req);
    void DideAction__countclear(const CTask_FormData_Mongoose& req);
    void DideAction__forcerestore(const CTask_FormData_Mongoose& req);
    void DideAction__clear_ioinput_warning(const CTask_FormData_Mongoose& req);
    void DideAction__shutup_alarm(const CTask_FormData_Mongoose& req);
    void DideAction__clear_WarningTip(const CTask_FormData_Mongoose& req);
    void DideSystem__getparams(const CTask_FormData_Mongoose& req);
    void DideSystem__setparams(const CTask_FormData_Mongoose& req);
    void DideSystem__system_runstate(const CTask_FormData_Mongoose& req);
    void DideSystem__get_userflow(const CTask_FormData_Mongoose& req);
    void DideSystem__set_userflow(const CTask_FormData_Mongoose& req);
    void DideSystem__chgproj_doaction(const CTask_FormData_Mongoose& req);
    void DideRoi__getallparams(const CTask_FormData_Mongoose& req);
    void DideRoi__setallparams(const CTask_FormData_Mongoose& req);
    void DideRoi__modifyroi(const CTask_FormData_Mongoose& req);
    void DideRoi__finish_roiset(const CTask_FormData_Mongoose& req);
    void DideCamera__getparams(const CTask_FormData_Mongoose& req);
    void DideCamera__setparams(const CTask_FormData_Mongoose& req);
    void DideIO__getparams(const CTask_FormData_Mongoose& req);
    void DideHttpApi__publisher_picture_detect(const CTask_FormData_Mongoose& req);
    void DideHttpApi__get_product_infos(const CTask_FormData_Mongoose& req);
    void DideHttpApi__get_get_lastresult(const CTask_FormData_Mongoose& req);
    void DideHttpApi__set_subscriber(const CTask_FormData_Mongoose& req);
    void DideWeb__getcamerainfos(const CTask_FormData_Mongoose& req);

    void WITH_REGISTER_DideContext__update_system();
    void WITH_REGISTER_DideDebug__restart_rpc_service();
    void WITH_REGISTER_DideContext__getproject_storage();
    void WITH_REGISTER_DideContext__get_stash_runstate_p2ahb();
    void WITH_REGISTER_DideContext__getsyspic();
    void WITH_REGISTER_DideContext__getsyspic_item();
    void WITH_REGISTER_DideContext__getpicture();
    void WITH_REGISTER_DideContext__heartbeat();
    void WITH_REGISTER_DideContext__setcamcntstatus();
    void WITH_REGISTER_DideContext__getcamerastatus();
    void WITH_REGISTER_DideContext__get_shorttime_ng();
    void WITH_REGISTER_DideContext__getcurnginfo();
    void WITH_REGISTER_DideContext__getoperaterecord();
    void WITH_REGISTER_DideContext__getoperaterecord_list();
    void WITH_REGISTER_DideContext__gethistory_record();
    void WITH_REGISTER_DideContext__getlastshowlive();
    void WITH_REGISTER_DideContext__getrunresult_info();
    void WITH_REGISTER_DideContext__getrunresult_mask();
    void WITH_REGISTER_DideContext__getlan_all_devices();
    void WITH_REGISTER_DideAction__act_setSystime();
    void WITH_REGISTER_DideAction__act_sysRestart();
    void WITH_REGISTER_DideAction__act_setStatus();
    void WITH_REGISTER_DideAction__removeObject();
    void WITH_REGISTER_DideAction__ManualDetect();
    void WITH_REGISTER_DideAction__NoCheckDetect();
    void WITH_REGISTER_DideAction__ReDetect();
    void WITH_REGISTER_DideAction__AddTemplate();
    void WITH_REGISTER_DideAction__ReSample();
    void WITH_REGISTER_DideAction__addTemplateFromNG();
    void WITH_REGISTER_DideAction__reDefault_CameraParam();
    void WITH_REGISTER_DideAction__reDefault_AllParam();
    void WITH_REGISTER_DideAction__countclear();
    void WITH_REGISTER_DideAction__forcerestore();
    void WITH_REGISTER_DideAction__clear_ioinput_warning();
    void WITH_REGISTER_DideAction__shutup_alarm();
    void WITH_REGISTER_DideAction__clear_WarningTip();
    void WITH_REGISTER_DideSystem__getparams();
    void WITH_REGISTER_DideSystem__setparams();
    void WITH_REGISTER_DideSystem__system_runstate();
    void WITH_REGISTER_DideSystem__get_userflow();
    void WITH_REGISTER_DideSystem__set_userflow();
    void WITH_REGISTER_DideSystem__chgproj_doaction();
    void WITH_REGISTER_DideRoi__getallparams();
    void WITH_REGISTER_DideRoi__setallparams();
    void WITH_REGISTER_DideRoi__modifyroi();
    void WITH_REGISTER_DideRoi__finish_roiset();
    void WITH_REGISTER_DideCamera__getparams();
    void WITH_REGISTER_DideCamera__setparams();
    void WITH_REGISTER_DideIO__getparams();
    void WITH_REGISTER_DideHttpApi__publisher_picture_detect();
    void WITH_REGISTER_DideHttpApi__get_product_infos();
    void WITH_REGISTER_DideHttpApi__get_get_lastresult();
    void WITH_REGISTER_DideHttpApi__set_subscriber();
    void WITH_REGISTER_DideWeb__getcamerainfos();

protected:
    // Where a handler's work goes: Answer for the whole of a W or M handler
    // and the worker half of a WM handler, Work for the main-thread half of
    // a WM handler.
    enum class HandlerStage { Answer, Work };
    // Called as a handler's stage begins, on the thread it runs on
    // (tests watch the threads).
    virtual void stageEntered(const CTask_FormData_Mongoose& req, HandlerStage stage);

    // A handler body; `guard` holds the request's URL until it goes.
    using UrlGuard = std::shared_ptr<CLimit_List_WorkingUrl>;
    using HandlerBody = std::function<void(const UrlGuard& guard)>;
    // Takes the URL out of the running list, then sends the reply (so an
    // immediate retry is not refused).
    void answer(const UrlGuard& guard, const CTask_FormData_Mongoose& reply);
    // A worker handler: nothing on the own thread; otherwise the body runs
    // with the URL guard held. An exception is logged and answered code -1
    // (nothing escapes to the reactor's worker).
    void runOnWorker(const char* name, const CTask_FormData_Mongoose& req, const HandlerBody& body);
    // A main-thread handler: re-posted by method name when called elsewhere.
    void runOnMain(const char* method, const CTask_FormData_Mongoose& req, const HandlerBody& body);
    void answerException(const char* name, const CTask_FormData_Mongoose& req, const char* what);
    // The body with the URL guard held and exceptions answered (both runners).
    void runGuarded(const char* name, const CTask_FormData_Mongoose& req, const HandlerBody& body);

private:
    // The detection step shown to the operator application.
    static int shownStep();
    // Answers a multipart image reply built from copies, off the calling thread.
    void answerDetectionImages(const CTask_FormData_Mongoose& req, const UrlGuard& guard, bool withFrame);
    // Finishes a main-thread handler on a pool thread: `fill` completes the
    // reply `base` from copies (an exception answers code -1), then the route
    // is released and the reply handed over. A copy of the request goes
    // along, so its answer guard does not answer for it meanwhile.
    void answerOnPool(const CTask_FormData_Mongoose& req, const CTask_FormData_Mongoose& base,
                      const UrlGuard& guard, std::function<void(CTask_FormData_Mongoose&)> fill);
    void runFirmwareRestart(const QString& user);

    using Body = std::function<void(const CTask_FormData_Mongoose& req, CLimit_List_WorkingUrl& guard)>;
    // A refusal text, empty when the request may go ahead.
    using Check = std::function<QString(const CTask_FormData_Mongoose& req)>;

    // The three thread patterns.
    void runOnWorker(const CTask_FormData_Mongoose& req, const Body& body);
    void runOnMain(const char* method, const CTask_FormData_Mongoose& req, const Body& body);
    // Checks on the worker: a refusal answers and ends there; otherwise
    // "OK" is answered and `work` runs on the main thread.
    void runWorkerThenMain(const char* method, const CTask_FormData_Mongoose& req, const Check& check,
                           const Body& work);

    // Replies: the empty-result "OK" (or `result`), and a refusal (code 1,
    // empty result, `why` as msg, logged).
    void answer(const CTask_FormData_Mongoose& req, const QJsonObject& result = {});
    void refuse(const CTask_FormData_Mongoose& req, const QString& why);

    // ---- operator actions ----
    void detectionAction(const CTask_FormData_Mongoose& req, int condType, const char* recordPrefix);
    void manualCatch(const CTask_FormData_Mongoose& req);
    void forceRestore(const CTask_FormData_Mongoose& req);
    void setStatus(const CTask_FormData_Mongoose& req);
    void removeObject(const CTask_FormData_Mongoose& req);
    void addTemplateFromNG(const CTask_FormData_Mongoose& req);
    void systemInitialize(const CTask_FormData_Mongoose& req);
    void sysRestart(const CTask_FormData_Mongoose& req);
    // Runs `fn` on the main thread and waits for it at most the hand-over
    // limit; false when it did not finish in time.
    bool handOverToMain(const std::function<void()>& fn);
    // "sync" then "reboot" through the command runner (recorded only in
    // simulation).
    static void syncAndReboot();

    // ---- parameters, regions, flow ----
    void setParams(const CTask_FormData_Mongoose& req);
    void changeProject(const CTask_FormData_Mongoose& req);
    void getUserflow(const CTask_FormData_Mongoose& req);
    void modifyRoi(const CTask_FormData_Mongoose& req);

    Product_Manager* m_flow = nullptr;
    stage_productstatistics* m_statistics = nullptr;
    int m_handOverLimitMs = 30000;
    QFuture<void> m_exportTask;
    // The main thread's copies of the frame and mask for the image replies.
    ReusedImageCopies m_imageCopies;
    // Where main-thread handlers finish their answers (answerOnPool): its own
    // threads, kept, so their lowered priority touches no other work.
    QThreadPool m_replyPool;
    // The last copy of the detection frame and the frame count it was taken
    // at: requests between two frames share it (main thread).
    cv::Mat m_frameCopy;
    quint64 m_frameCopyGeneration = 0;
    HttpServiceManagerLinks m_links;
    quint16 m_exportPushPort = 10416;
    // Device-list cache: the last answer and when (monotonic ms) its search ended.
    QMutex m_deviceListMutex;
    QJsonObject m_deviceList;
    qint64 m_deviceListMonoMs = -1;
};
