// The route table of the HTTP control API and the thread pattern of every
// handler.
#include "httpapi/httpservice_mg_business.h"

#include "foundation/foundationservices.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"

#include <QThread>

HttpService_MG_Business::HttpService_MG_Business(HttpBusiness_MG_Config config)
    : HttpBusiness_MG(std::move(config), nullptr)
{
    m_replyPool.setMaxThreadCount(4);  // one per route that finishes there
    m_replyPool.setExpiryTimeout(-1);
    // On the worker, just before the handler: the request's user becomes the
    // work block's current user.
    connect(m_reactor.data(), &HttpReactor_MG::sigRecvMessage, m_reactor.data(),
            [](const CTask_FormData_Mongoose& req) {
                const std::string user = req.data.user_id.toUtf8().toStdString();
                ZRC_WorkInformation_Manager::getInstance()->update_working_info(
                    [&user](ZRC_WorkInfos& w) { w.user_id = user; });
            },
            Qt::DirectConnection);
}

HttpService_MG_Business::~HttpService_MG_Business() = default;

CTask_FormData_Mongoose HttpService_MG_Business::callback_inherit(const CTask_FormData_Mongoose& req) const
{
    CTask_FormData_Mongoose reply;
    reply.inherit(req);
    reply.data.device_id = ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
    return reply;
}

QJsonArray HttpService_MG_Business::func_list_2_jsonarray(const QList<QString>& list)
{
    QJsonArray out;
    for (const QString& s : list)
        out.append(s);
    return out;
}

void HttpService_MG_Business::setProgram(Product_Manager* flow, stage_productstatistics* statistics)
{
    m_flow = flow;
    m_statistics = statistics;
}

void HttpService_MG_Business::stageEntered(const CTask_FormData_Mongoose&, HandlerStage) {}

void HttpService_MG_Business::answer(const CTask_FormData_Mongoose& req, const QJsonObject& result)
{
    CTask_FormData_Mongoose reply = callback_inherit(req);
    reply.data.json = result;
    m_reactor->finishWorkAction(reply);
}

void HttpService_MG_Business::refuse(const CTask_FormData_Mongoose& req, const QString& why)
{
    qCWarning(level_1).noquote() << "[HTTP]" << req.data.url << "refused:" << why;
    CTask_FormData_Mongoose reply = callback_inherit(req);
    reply.data.code = 1;
    reply.data.msg = why;
    m_reactor->finishWorkAction(reply);
}

void HttpService_MG_Business::runOnWorker(const CTask_FormData_Mongoose& req, const Body& body)
{
    runOnWorker("", req, [&](const UrlGuard& guard) { body(req, *guard); });
}

void HttpService_MG_Business::runOnMain(const char* method, const CTask_FormData_Mongoose& req, const Body& body)
{
    runOnMain(method, req, [&](const UrlGuard& guard) { body(req, *guard); });
}

void HttpService_MG_Business::answer(const UrlGuard& guard, const CTask_FormData_Mongoose& reply)
{
    if (guard)
        guard->release();
    m_reactor->finishWorkAction(reply);
}

void HttpService_MG_Business::answerException(const char* name, const CTask_FormData_Mongoose& req, const char* what)
{
    qCWarning(level_1).noquote() << "Caught exception of type:" << (*name ? name : "handler") << what << "for"
                                 << req.data.url;
    CTask_FormData_Mongoose reply = callback_inherit(req);
    reply.data.code = -1;
    reply.data.msg = QStringLiteral("internal error");
    m_reactor->finishWorkAction(reply);
}

void HttpService_MG_Business::runGuarded(const char* name, const CTask_FormData_Mongoose& req,
                                         const HandlerBody& body)
{
    stageEntered(req, HandlerStage::Answer);
    auto guard = std::make_shared<CLimit_List_WorkingUrl>(m_reactor.data(), req.data.url);
    try {
        body(guard);
    } catch (const std::exception& e) {
        answerException(name, req, e.what());
    } catch (...) {
        answerException(name, req, "unknown");
    }
}

void HttpService_MG_Business::runOnWorker(const char* name, const CTask_FormData_Mongoose& req,
                                          const HandlerBody& body)
{
    if (QThread::currentThread() == thread())
        return;  // worker handlers never run on the main thread
    runGuarded(name, req, body);
}

void HttpService_MG_Business::runOnMain(const char* method, const CTask_FormData_Mongoose& req,
                                        const HandlerBody& body)
{
    if (repostToOwnThread(method, req))
        return;
    OperationRecord_Interface::ActingUserScope actingUser(req.data.user_id);
    runGuarded(method, req, body);
}

void HttpService_MG_Business::runWorkerThenMain(const char* method, const CTask_FormData_Mongoose& req,
                                                const Check& check, const Body& work)
{
    if (QThread::currentThread() != thread()) {
        stageEntered(req, HandlerStage::Answer);
        {
            CLimit_List_WorkingUrl guard(m_reactor.data(), req.data.url);
            const QString why = check(req);
            guard.release();
            if (!why.isEmpty()) {
                refuse(req, why);
                return;
            }
            answer(req);
        }
        repostToOwnThread(method, req);
        return;
    }
    OperationRecord_Interface::ActingUserScope actingUser(req.data.user_id);
    stageEntered(req, HandlerStage::Work);
    CLimit_List_WorkingUrl guard(m_reactor.data(), req.data.url);
    work(req, guard);
}

// ---- handlers ----

// ---- route registration ----

void HttpService_MG_Business::WITH_REGISTER_DideContext__update_system()
{
    m_reactor->cache_routes.insert(QStringLiteral("/dide/context/update_system"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__update_system(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideDebug__restart_rpc_service()
{
    m_reactor->routes.insert(QStringLiteral("/dide/debug/restart_rpc_service"),
                              [this](const CTask_FormData_Mongoose& req) { DideDebug__restart_rpc_service(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getproject_storage()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/getproject_storage"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getproject_storage(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__get_stash_runstate_p2ahb()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/get_stash_runstate_p2ahb"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__get_stash_runstate_p2ahb(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getsyspic()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/getsyspic"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getsyspic(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getsyspic_item()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/getsyspic_item"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getsyspic_item(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getpicture()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/getpicture"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getpicture(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__heartbeat()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/heartbeat"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__heartbeat(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__setcamcntstatus()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/setcamcntstatus"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__setcamcntstatus(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getcamerastatus()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/getcamera_status"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getcamerastatus(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__get_shorttime_ng()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/get_shorttime_ng"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__get_shorttime_ng(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getcurnginfo()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/get_curng_info"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getcurnginfo(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getoperaterecord()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/record"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getoperaterecord(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getoperaterecord_list()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/record_list"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getoperaterecord_list(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__gethistory_record()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/history_record"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__gethistory_record(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getlastshowlive()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/lastshowlive"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getlastshowlive(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getrunresult_info()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/runresult_info"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getrunresult_info(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getrunresult_mask()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/runresult_mask"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getrunresult_mask(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideContext__getlan_all_devices()
{
    m_reactor->routes.insert(QStringLiteral("/dide/context/lan_all_devices"),
                              [this](const CTask_FormData_Mongoose& req) { DideContext__getlan_all_devices(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__act_setSystime()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/setsystime"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__act_setSystime(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__act_sysRestart()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/sysrestart"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__act_sysRestart(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__act_setStatus()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/setstatus"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__act_setStatus(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__removeObject()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/removeobject"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__removeObject(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__ManualDetect()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/manual_catch"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__ManualDetect(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__NoCheckDetect()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/noactionmold"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__NoCheckDetect(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__ReDetect()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/redetect"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__ReDetect(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__AddTemplate()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/addtemplate"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__AddTemplate(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__ReSample()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/resample"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__ReSample(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__addTemplateFromNG()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/settemp_fromng"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__addTemplateFromNG(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__reDefault_CameraParam()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/restoredefaultparameters"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__reDefault_CameraParam(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__reDefault_AllParam()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/system_initialize"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__reDefault_AllParam(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__countclear()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/countclear"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__countclear(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__forcerestore()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/forcerestore"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__forcerestore(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__clear_ioinput_warning()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/clear_ioinput_warning"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__clear_ioinput_warning(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__shutup_alarm()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/shutup_alarm"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__shutup_alarm(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideAction__clear_WarningTip()
{
    m_reactor->routes.insert(QStringLiteral("/dide/action/clear_warn"),
                              [this](const CTask_FormData_Mongoose& req) { DideAction__clear_WarningTip(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__getparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/getparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__getparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__setparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/setparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__setparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__system_runstate()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/get_runstate"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__system_runstate(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__get_userflow()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/get_userflow"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__get_userflow(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__set_userflow()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/set_userflow"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__set_userflow(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideSystem__chgproj_doaction()
{
    m_reactor->routes.insert(QStringLiteral("/dide/system/chgproj_operate"),
                              [this](const CTask_FormData_Mongoose& req) { DideSystem__chgproj_doaction(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideRoi__getallparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/roi/getallparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideRoi__getallparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideRoi__setallparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/roi/setallparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideRoi__setallparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideRoi__modifyroi()
{
    m_reactor->routes.insert(QStringLiteral("/dide/roi/modifyroi"),
                              [this](const CTask_FormData_Mongoose& req) { DideRoi__modifyroi(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideRoi__finish_roiset()
{
    m_reactor->routes.insert(QStringLiteral("/dide/roi/finish_roiset"),
                              [this](const CTask_FormData_Mongoose& req) { DideRoi__finish_roiset(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideCamera__getparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/camera/getparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideCamera__getparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideCamera__setparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/camera/setparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideCamera__setparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideIO__getparams()
{
    m_reactor->routes.insert(QStringLiteral("/dide/io/getparams"),
                              [this](const CTask_FormData_Mongoose& req) { DideIO__getparams(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideHttpApi__publisher_picture_detect()
{
    m_reactor->routes.insert(QStringLiteral("/dide/httpapi/publisher_picture_detect"),
                              [this](const CTask_FormData_Mongoose& req) { DideHttpApi__publisher_picture_detect(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideHttpApi__get_product_infos()
{
    m_reactor->routes.insert(QStringLiteral("/dide/httpapi/get_product_infos"),
                              [this](const CTask_FormData_Mongoose& req) { DideHttpApi__get_product_infos(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideHttpApi__get_get_lastresult()
{
    m_reactor->routes.insert(QStringLiteral("/dide/httpapi/get_last_detectinfo"),
                              [this](const CTask_FormData_Mongoose& req) { DideHttpApi__get_get_lastresult(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideHttpApi__set_subscriber()
{
    m_reactor->routes.insert(QStringLiteral("/dide/httpapi/subscriber"),
                              [this](const CTask_FormData_Mongoose& req) { DideHttpApi__set_subscriber(req); });
}

void HttpService_MG_Business::WITH_REGISTER_DideWeb__getcamerainfos()
{
    m_reactor->routes.insert(QStringLiteral("/dide/web/getcamerainfos"),
                              [this](const CTask_FormData_Mongoose& req) { DideWeb__getcamerainfos(req); });
}
