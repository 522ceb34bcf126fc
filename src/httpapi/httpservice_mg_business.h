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

#include <QFuture>
#include <QHostAddress>
#include <QJsonArray>
#include <QObject>
#include <QSharedPointer>
#include <QString>

struct HttpBusiness_MG_Config {
    QHostAddress host;
    quint16 port = 0;
    int limit_max_recvdatas = 50;
    bool limit_onlyurl = true;
    QString cachefile_path;  // the upload cache folder (a device path)
};

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

public slots:
    void mghttpbus_demo(const CTask_FormData_Mongoose& req);
    void WITH_REGISTER_mghttpbus_demo();

protected:
    // True (and the call re-posted to this object's thread, queued by method
    // name) when called on another thread.
    bool repostToOwnThread(const char* method, const CTask_FormData_Mongoose& req);

    QSharedPointer<HttpReactor_MG> m_reactor;
    QHostAddress host;
    quint16 port;
    int limit_max_recvdatas;
    bool limit_onlyurl;
    QString cachefile_path;
};

class HttpService_MG_Business : public HttpBusiness_MG {
    Q_OBJECT
public:
    explicit HttpService_MG_Business(HttpBusiness_MG_Config config);
    ~HttpService_MG_Business() override;

    // A fresh reply record for `req`: its identity, this device's id.
    CTask_FormData_Mongoose callback_inherit(const CTask_FormData_Mongoose& req) const;
    static QJsonArray func_list_2_jsonarray(const QList<QString>& list);

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
    // The body of a handler not built yet: answers code -1 "not implemented
    // yet: <route>" (nothing at the Work stage). `guard` holds the URL.
    virtual void notImplementedYet(const CTask_FormData_Mongoose& req, HandlerStage stage,
                                   CLimit_List_WorkingUrl* guard);

private:
    void onWorker(const CTask_FormData_Mongoose& req);
    void onMain(const char* method, const CTask_FormData_Mongoose& req);
    void onWorkerThenMain(const char* method, const CTask_FormData_Mongoose& req);

    QFuture<void> m_exportTask;
};
