// The operator action routes: detection cycles started by hand (manual
// catch, no-check, re-detect, add template, re-sample, forced restore) and
// one-shot actions (start or stop, template deletion, template from the last
// NG image, default parameters, factory initialisation, counters, warnings,
// alarm, restart, camera-pair link restart).
//
// Every handler reads and checks the whole body before it acts: a refusal
// answers code 1 with the key at fault and changes, records and starts
// nothing.
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/requestvalues.h"

#include "flow/flowunit_base.h"
#include "flow/product_interface.h"
#include "flow/product_manager.h"
#include "foundation/foundationglobals.h"
#include "foundation/foundationservices.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "group/rpcdistributed_reactor.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"
#include "io/frameio.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "statistics/stage_productstatistics.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSemaphore>
#include <QThread>

#include <cstdio>
#include <memory>

using namespace requestvalues;

namespace {

const char kFactoryParamDb[] = "./paraGroup/default/PARAM.db";
const char kParamDb[] = "./PARAM.db";
const char kParamDbStaged[] = "./.PARAM.db.initialising";

// The condition every HTTP action starts from, in the name of the
// request's user.
FlowWork_Condition actionCondition(int condType, const QString& url, const CTask_FormData_Mongoose& req)
{
    FlowWork_Condition c;
    c.cond_user_id = req.data.user_id;
    c.cond_type = condType;
    c.cond_url = url;
    c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    c.cond_extra_flag1 = c.cond_extra_flag2 = c.cond_extra_flag3 = true;
    c.cond_input_bits = ZRC_WorkInformation_Manager::getInstance()->get_working_info().input_bits;
    c.cond_detect_index = -1;
    c.cond_detect_index_abs = -1;
    c.cond_resample_rm_oldtemp = false;
    c.cond_resultctrl_preindex = -1;
    c.cond_resultctrl_result = true;
    return c;
}

QStringList everyCamera()
{
    QStringList ids;
    for (const DeviceNetInfo& d : ZRC_WorkInformation_Manager::getInstance()->getAllCameras())
        ids << d.uuid;
    return ids;
}

// Removes the step folders "./cammer*" of the working directory and the
// alarm images under the data root.
void removeImages()
{
    const QDir work(QStringLiteral("."));
    for (const QString& name : work.entryList({QStringLiteral("cammer*")}, QDir::Dirs | QDir::Files | QDir::Hidden)) {
        QFileInfo info(work.filePath(name));
        const bool ok = info.isDir() && !info.isSymLink() ? QDir(info.filePath()).removeRecursively()
                                                           : QFile::remove(info.filePath());
        if (!ok)
            qCWarning(level_1).noquote() << "[HTTP] system_initialize: could not remove" << name;
    }
    const QString alarm = platform::DataRoot::path(QStringLiteral("/userdata/alarmimage"));
    if (QFileInfo::exists(alarm) && !QDir(alarm).removeRecursively())
        qCWarning(level_1).noquote() << "[HTTP] system_initialize: could not remove" << alarm;
}

}  // namespace

void HttpService_MG_Business::syncAndReboot()
{
    // The results do not matter here: in simulation the commands are only
    // recorded, on the device a failed "sync" must not hold back the reboot.
    for (const char* program : {"sync", "reboot"})
        platform::CommandRunner::instance().run(QString::fromLatin1(program), {},
                                                platform::CommandRunner::Effect::Change, 60000);
}

bool HttpService_MG_Business::handOverToMain(const std::function<void()>& fn)
{
    if (QThread::currentThread() == thread()) {
        fn();
        return true;
    }
    // The semaphore outlives a late run: a hung main thread that runs the
    // call after the wait gave up releases into a live object.
    auto done = std::make_shared<QSemaphore>(0);
    QMetaObject::invokeMethod(
        this,
        [fn, done] {
            fn();
            done->release();
        },
        Qt::QueuedConnection);
    return done->tryAcquire(1, m_handOverLimitMs);
}

// ---- detection actions ----

void HttpService_MG_Business::detectionAction(const CTask_FormData_Mongoose& req, int condType,
                                              const char* recordPrefix)
{
    const QJsonObject& body = req.data.json;
    const bool resample = condType == CondType_Resample;
    int detect = -1;
    QString why;
    if (!resample)
        why = requireWhole(body, QStringLiteral("detect_index"), &detect);
    QStringList uuids;
    bool hasUuids = false;
    if (why.isEmpty())
        why = optionalTextList(body, QStringLiteral("uuids"), &uuids, &hasUuids);
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    answer(req);  // the application never waits for the flow

    FlowWork_Condition c = actionCondition(condType, req.data.url, req);
    if (resample) {
        c.cond_resample_rm_oldtemp = body.value(QStringLiteral("remove_template")).toBool();
        c.cond_action_deviceids = hasUuids ? uuids : everyCamera();
    } else {
        c.cond_detect_index_abs = detect;
        c.cond_action_deviceids = uuids;
    }
    const FlowUnit_Passport passport(req.data.user_agent, c);
    emit sig_OnWork(passport);

    QString text = tr(recordPrefix);
    const ZRC_DeviceInfos group = ZRC_WorkInformation_Manager::getInstance()->get_device_info();
    for (const QString& id : c.cond_action_deviceids)
        text += tr("相机%1").arg(group.getAbsIndex_ByID(id) + 1);
    if (gpWin) {
        OperationRecord_Interface::ActingUserScope actingUser(req.data.user_id);
        gpWin->InsertRecord(text, QStringLiteral("operate"));
    }
}

void HttpService_MG_Business::manualCatch(const CTask_FormData_Mongoose& req)
{
    const QJsonObject& body = req.data.json;
    int detect = 0;
    int fixMold = 0;
    bool hasFixMold = false;
    QString why = requireWhole(body, QStringLiteral("detect_index"), &detect);
    if (why.isEmpty())
        why = optionalWhole(body, QStringLiteral("fix_mold_index"), &fixMold, &hasFixMold);
    if (why.isEmpty() && (!m_flow || !gpWPara))
        why = QStringLiteral("the flow is not ready");
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    FlowWork_Condition c = actionCondition(CondType_ManualTrig, req.data.url, req);
    c.cond_detect_index = detect;
    const int logic = gpWPara->i_program_logic;
    if (logic == 0) {
        c.cond_detect_index_abs = detect;
    } else if (logic == 2) {
        switch (gpWPara->i_program_turntable_type) {
        case 0:
            c.cond_detect_index_abs = hasFixMold ? m_flow->get_UiAbs_From_UiRel(fixMold, detect) : -1;
            break;
        case 1:
            c.cond_detect_index_abs = m_flow->get_UiAbs_From_UiRel(0, detect);
            break;
        case 2:
            c.cond_detect_index_abs = m_flow->get_UiAbs_From_UiRel(1, detect);
            break;
        default:
            c.cond_detect_index_abs = -1;
        }
    }
    const FlowUnit_Passport passport(req.data.user_agent, c);
    if (m_flow->get_QuickChk_ManualTrig(passport) < 0) {
        if (logic == 2) {
            CTask_FormData_Mongoose reply = callback_inherit(req);
            reply.data.device_id = ZRC_WorkInformation_Manager::getInstance()->get_device_info().machine_id;
            reply.data.json = QJsonObject{{"error_type", "turntable"}, {"error_string", tr("未发现左右模信号")}};
            m_reactor->finishWorkAction(reply);
            return;
        }
        refuse(req, QStringLiteral("no unit of the flow accepts a manual trigger for \"detect_index\" %1").arg(detect));
        return;
    }
    answer(req);
    emit sig_OnWork(passport);
    QString text = tr("手动抓拍: ");
    if (FlowUnit_Base* unit = m_flow->get_UnitObj_ByUiAbs(c.cond_detect_index_abs)) {
        const QString_TL describe = unit->get_user_describe();
        text += describe.contains(QString()) ? describe.text(QString()) : describe.text(QStringLiteral("zh-CN"));
    }
    if (gpWin)
        gpWin->InsertRecord(text, QStringLiteral("operate"));
}

void HttpService_MG_Business::forceRestore(const CTask_FormData_Mongoose& req)
{
    if (Product_Interface* product = m_flow ? m_flow->productInterface() : nullptr)
        product->detect_exception.store(0);
    FlowWork_Condition c = actionCondition(CondType_NoCheck, QStringLiteral("/dide/action/noactionmold"), req);
    c.cond_action_deviceids = everyCamera();
    // The no-check cycle is aimed at the unit whose NG stop holds the
    // machine: a no-check condition takes only a passport aimed at its own
    // unit, so one aimed at no unit would leave the machine held.
    c.cond_detect_index_abs = m_flow ? m_flow->get_NGStop_UiAbs() : -1;
    qCWarning(level_1).noquote() << "[HTTP] forced restore: data-lost flag cleared; no-check cycle"
                                 << (c.cond_detect_index_abs >= 0
                                         ? QStringLiteral("for the stopped unit %1").arg(c.cond_detect_index_abs)
                                         : QStringLiteral("asked, no unit is stopped"));
    emit sig_OnWork(FlowUnit_Passport(req.data.user_agent, c));
    answer(req);
}

// ---- one-shot actions ----

void HttpService_MG_Business::setStatus(const CTask_FormData_Mongoose& req)
{
    QString status;
    const QString why = requireText(req.data.json, QStringLiteral("status"), &status);
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    if (!gpWin) {
        refuse(req, QStringLiteral("the camera program is not ready"));
        return;
    }
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    if (status.compare(QLatin1String("stop"), Qt::CaseInsensitive) == 0) {
        gpWin->InsertRecord(tr("手动设置停止检测"), QStringLiteral("operate"));
        gpWin->startStop(1);
        work->update_working_info([](ZRC_WorkInfos& w) { w.started = false; });
    } else if (status.compare(QLatin1String("start"), Qt::CaseInsensitive) == 0) {
        gpWin->InsertRecord(tr("手动设置开始检测"), QStringLiteral("operate"));
        work->update_working_info([](ZRC_WorkInfos& w) { w.started = true; });
        gpWin->startStop(0);
    }
    answer(req, QJsonObject{{"status", status}});
}

void HttpService_MG_Business::removeObject(const CTask_FormData_Mongoose& req)
{
    const QJsonValue infos = req.data.json.value(QStringLiteral("infos"));
    if (!infos.isArray()) {
        refuse(req, QStringLiteral("\"infos\" must be an array of objects"));
        return;
    }
    // Every element is checked before the first deletion.
    QList<QPair<int, QString>> templates;
    for (const QJsonValue& e : infos.toArray()) {
        if (!e.isObject()) {
            refuse(req, QStringLiteral("\"infos\" must be an array of objects"));
            return;
        }
        const QJsonObject o = e.toObject();
        QString type;
        QString why = requireText(o, QStringLiteral("type"), &type);
        if (!why.isEmpty()) {
            refuse(req, QStringLiteral("\"infos\": ") + why);
            return;
        }
        if (type.compare(QLatin1String("template"), Qt::CaseInsensitive) != 0)
            continue;
        int detect = 0;
        QString name;
        why = requireWhole(o, QStringLiteral("detect_index"), &detect);
        if (why.isEmpty())
            why = requireText(o, QStringLiteral("obj_name"), &name);
        if (why.isEmpty() && !WizardPara::isPlainGroupName(name))
            why = QStringLiteral("\"obj_name\" must be a plain file name");
        if (why.isEmpty() && !DiVuVarude::isDetectStep(detect))
            why = QStringLiteral("\"detect_index\" %1 is not a detection step").arg(detect);
        if (!why.isEmpty()) {
            refuse(req, QStringLiteral("\"infos\": ") + why);
            return;
        }
        templates << qMakePair(detect, name);
    }
    if (!gpWin) {
        refuse(req, QStringLiteral("the camera program is not ready"));
        return;
    }
    for (const auto& t : templates)
        gpWin->SlotTempDeleteCur(t.first, t.second);
    answer(req);
}

void HttpService_MG_Business::addTemplateFromNG(const CTask_FormData_Mongoose& req)
{
    int detect = 0;
    int index = 0;
    QString why = requireWhole(req.data.json, QStringLiteral("detect"), &detect);
    if (why.isEmpty())
        why = requireWhole(req.data.json, QStringLiteral("index"), &index);
    if (why.isEmpty() && !gpWin)
        why = QStringLiteral("the camera program is not ready");
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    if (!gpWin->AddTemplateFromNG(detect, index)) {
        refuse(req, QStringLiteral("no template was added from NG image %1 of step %2").arg(index).arg(detect));
        return;
    }
    gpWin->InsertRecord(tr("从最近NG图中 添加了一张模板"), QStringLiteral("operate"));
    answer(req);
}

void HttpService_MG_Business::systemInitialize(const CTask_FormData_Mongoose& req)
{
    if (!QFileInfo(QLatin1String(kFactoryParamDb)).isFile()) {
        refuse(req, QStringLiteral("the factory parameters \"./paraGroup/default/PARAM.db\" are missing"));
        return;
    }
    // The factory file is staged beside PARAM.db first, so a failed copy
    // leaves the open database as it was.
    QFile::remove(QLatin1String(kParamDbStaged));
    if (!QFile::copy(QLatin1String(kFactoryParamDb), QLatin1String(kParamDbStaged))) {
        QFile::remove(QLatin1String(kParamDbStaged));
        refuse(req, QStringLiteral("the factory parameters could not be copied"));
        return;
    }
    if (!handOverToMain([] {
            if (gpWin)
                gpWin->FLushAll();
        }))
        qCWarning(level_1) << "[HTTP] system_initialize: the main thread did not close the databases in time";
    // From here the databases are closed: the program cannot go on without
    // a restart, whatever happens next.
    if (::rename(kParamDbStaged, kParamDb) != 0) {
        qCWarning(level_1) << "[HTTP] system_initialize: PARAM.db could not be replaced; restarting unchanged";
        QFile::remove(QLatin1String(kParamDbStaged));
        refuse(req, QStringLiteral("PARAM.db could not be replaced; the camera restarts unchanged"));
    } else {
        answer(req);
        removeImages();
    }
    syncAndReboot();
}

void HttpService_MG_Business::sysRestart(const CTask_FormData_Mongoose& req)
{
    answer(req);
    const QString user = req.data.user_id;
    const QString record = tr("手动关闭电源");
    if (!handOverToMain([user, record] {
            OperationRecord_Interface::ActingUserScope actingUser(user);
            if (gpWPara)
                gpWPara->SaveDatatoDB();
            if (gpWin) {
                gpWin->InsertRecord(record, QStringLiteral("operate"));
                gpWin->FLushAll();
            }
        }))
        qCWarning(level_1) << "[HTTP] sysrestart: the main thread did not store the parameters in time; restarting";
    syncAndReboot();
}

// ---- handler slots ----

void HttpService_MG_Business::DideDebug__restart_rpc_service(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        RpcDistributed_Reactor* reactor = RpcDistributed_Reactor::_instance;
        if (!reactor || !reactor->_link) {
            refuse(r, QStringLiteral("the camera-pair link is not running"));
            return;
        }
        // Re-posted to the link's own thread by the link itself.
        reactor->_link->InitWsServer(true);
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__act_setSystime(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        qInfo() << "[HTTP] setsystime: nothing set, the clock comes from the heartbeat answer";
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__act_sysRestart(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { sysRestart(r); });
}

void HttpService_MG_Business::DideAction__act_setStatus(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__act_setStatus", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { setStatus(r); });
}

void HttpService_MG_Business::DideAction__removeObject(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__removeObject", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { removeObject(r); });
}

void HttpService_MG_Business::DideAction__ManualDetect(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__ManualDetect", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { manualCatch(r); });
}

void HttpService_MG_Business::DideAction__NoCheckDetect(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        detectionAction(r, CondType_NoCheck, QT_TR_NOOP("不检测此模: "));
    });
}

void HttpService_MG_Business::DideAction__ReDetect(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        detectionAction(r, CondType_ReDetect, QT_TR_NOOP("重新检测: "));
    });
}

void HttpService_MG_Business::DideAction__AddTemplate(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        detectionAction(r, CondType_AddTemplate, QT_TR_NOOP("添加为模板: "));
    });
}

void HttpService_MG_Business::DideAction__ReSample(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        detectionAction(r, CondType_Resample, QT_TR_NOOP("重新取样: "));
    });
}

void HttpService_MG_Business::DideAction__addTemplateFromNG(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__addTemplateFromNG", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { addTemplateFromNG(r); });
}

void HttpService_MG_Business::DideAction__reDefault_CameraParam(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__reDefault_CameraParam", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (!gpWin) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        gpWin->ResetCameraParam(QString());
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__reDefault_AllParam(const CTask_FormData_Mongoose& req)
{
    runOnWorker(req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { systemInitialize(r); });
}

void HttpService_MG_Business::DideAction__countclear(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__countclear", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (!m_statistics) {
            refuse(r, QStringLiteral("the statistics are not running"));
            return;
        }
        m_statistics->countClear();
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__forcerestore(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__forcerestore", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { forceRestore(r); });
}

void HttpService_MG_Business::DideAction__clear_ioinput_warning(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__clear_ioinput_warning", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (FrameIO* io = g_FrameIO.data())
            io->updateIONoInputTip();
        else
            qCWarning(level_1) << "[HTTP] clear_ioinput_warning: no IO frame";
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__shutup_alarm(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__shutup_alarm", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (FrameIO* io = g_FrameIO.data())
            io->IOSetOut(QStringLiteral(__FILE__), __LINE__, 2, 0);
        else
            qCWarning(level_1) << "[HTTP] shutup_alarm: no IO frame";
        answer(r);
    });
}

void HttpService_MG_Business::DideAction__clear_WarningTip(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideAction__clear_WarningTip", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        ZRC_WorkInformation_Manager::getInstance()->update_working_info(
            [](ZRC_WorkInfos& w) { w.warn_tip = ZRC_WarnTip_None; });
        if (FrameIO* io = g_FrameIO.data())
            io->IOSetOut_ResetAllKeep();
        answer(r);
    });
}
