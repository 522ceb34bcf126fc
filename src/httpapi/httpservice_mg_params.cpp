// The parameter, region and flow routes: process parameters, project groups,
// run state, flow layouts and the user flow file, regions of interest, and
// the camera and IO defaults. All their state lives on the main thread.
//
// As with the actions, every body is checked whole before anything is
// applied: a refusal answers code 1 naming the key and leaves the
// parameters, regions, files and databases as they were.
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/requestvalues.h"

#include "flow/product_manager.h"
#include "flow/userflowfile.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"
#include "inspection/camera.h"
#include "inspection/cammersingleton.h"
#include "inspection/maskforapp.h"
#include "io/frameio.h"

#include <QJsonArray>
#include <QTimer>

using namespace requestvalues;

namespace {

// The number keys the parameter set reads whatever the body holds (a
// missing one would read 0). `whole`: an integer field; otherwise a time in
// seconds or a limit with a fraction.
struct NumberKey {
    const char* key;
    bool whole;
};
const NumberKey kParamNumbers[] = {
    {"s_moulding_delaytime", false}, {"s_product_delaytime", false}, {"s_moulding_retimes", true},
    {"s_filtersize", true},          {"s_alarmareas", true},         {"i_thimble_pulse", false},
    {"i_closemold_pulse", false},    {"i_precut", false},            {"i_program_logic", true},
    {"i_program_logic_custom", true}, {"i_program_turntable_type", true}, {"i_output1_init_status", true},
    {"i_output2_init_status", true}, {"i_output3_init_status", true}, {"i_output4_init_status", true},
    {"i_backup_output_sub", true},   {"i_backup_input_sub", true},   {"i_inputtimeout", false},
    {"i_shakeerase_time", false},    {"h_mostskewing", true},        {"h_diffmultiple", true},
    {"h_minspot", true},             {"h_rotatecorrect", true},      {"h_temp_count", true},
    {"h_okres_count", true},         {"h_ngres_count", true},
};
// Number keys read only when present.
const char* const kOptionalParamInts[] = {"i_isNG0Pulse_Muti", "i_isNG1Pulse_Muti", "i_closeNGBuzzer_Muti"};
// The advanced keys whose change re-initialises the detection sequencers.
const char* const kSequencerKeys[] = {"h_mostskewing", "h_diffmultiple", "h_minspot", "h_rotatecorrect"};
// The camera parameter numbers.
const char* const kCameraNumbers[] = {"exposure", "gain", "sharpness", "trueness", "gamma", "speedpick"};

QString checkNumber(const QJsonObject& body, const QString& key, bool whole)
{
    if (!body.contains(key))
        return QStringLiteral("\"%1\" is missing: every parameter is required").arg(key);
    const QJsonValue v = body.value(key);
    int n = 0;
    if (!v.isDouble() || (whole && !wholeNumber(v, &n)) || !std::isfinite(v.toDouble())
        || std::abs(v.toDouble()) > 1e9)
        return whole ? QStringLiteral("\"%1\" must be a whole number").arg(key)
                     : QStringLiteral("\"%1\" must be a number").arg(key);
    return {};
}

QString checkParams(const QJsonObject& body)
{
    for (const NumberKey& k : kParamNumbers) {
        const QString why = checkNumber(body, QLatin1String(k.key), k.whole);
        if (!why.isEmpty())
            return why;
    }
    for (const char* key : kOptionalParamInts) {
        if (body.contains(QLatin1String(key))) {
            const QString why = checkNumber(body, QLatin1String(key), true);
            if (!why.isEmpty())
                return why;
        }
    }
    return {};
}

// The body with every number outside the parameter set's range table
// replaced by the table's value, each replacement logged. Switches are left
// as sent: turning every detector off is the operator's choice.
QJsonObject inRangeParams(const QJsonObject& body)
{
    WizardPara probe;
    probe.SetParamfromJson(body);
    QJsonObject sent;
    probe.GetParams(sent);
    WizardPara checked = probe;
    checked.CheckParamRange();
    QJsonObject kept;
    checked.GetParams(kept);
    QJsonObject out = body;
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        const QJsonValue before = sent.value(it.key());
        if (!before.isDouble() || !it.value().isDouble() || before == it.value())
            continue;
        qCWarning(level_1).noquote() << QStringLiteral("setparams: %1 = %2 is outside its range: taken as %3")
                                            .arg(it.key())
                                            .arg(body.value(it.key()).toDouble())
                                            .arg(it.value().toDouble());
        out.insert(it.key(), it.value());
    }
    return out;
}

// Trigger levels of one input as the application's code: 3 both, 1 high
// only, 2 low only, 0 none.
int trigMethod(const QList<ElectricLevel>& levels)
{
    const bool high = levels.contains(ElectricLevel_High);
    const bool low = levels.contains(ElectricLevel_Low);
    return high && low ? 3 : high ? 1 : low ? 2 : 0;
}

QJsonObject ioDescription(const FrameIO& io)
{
    const FrameIO_Params p = io.getParams();
    QJsonArray trig;
    QJsonArray outputs;
    for (int i = 0; i < kIoPointCount; ++i) {
        trig.append(trigMethod(io.getInput_AbsIOTrig(i)));
        outputs.append(p.output_init_status[i]);
    }
    return QJsonObject{{"trig_method", trig},
                       {"output_default", outputs},
                       {"backup_input", p.backup_input_sub},
                       {"backup_output", p.backup_output_sub},
                       {"de_shaking", p.shakeerase_time},
                       {"no_input_tip", p.inputtimeout}};
}

QString checkCameraParams(const QJsonObject& body)
{
    for (const char* key : kCameraNumbers) {
        const QString why = checkNumber(body, QLatin1String(key), true);
        if (!why.isEmpty())
            return why;
    }
    return {};
}

Camera* programCamera()
{
    return gpWin ? gpWin->camera() : nullptr;
}

}  // namespace

// ---- parameters ----

void HttpService_MG_Business::setParams(const CTask_FormData_Mongoose& req)
{
    const QJsonObject& body = req.data.json;
    QString why = body.isEmpty() ? QStringLiteral("the body must be the whole parameter object") : checkParams(body);
    if (why.isEmpty() && (!gpWPara || !gpWin))
        why = QStringLiteral("the camera program is not ready");
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    const QJsonObject in = inRangeParams(body);
    QJsonObject before;
    gpWPara->GetParams(before);
    gpWPara->SetParams(in);
    for (const char* key : kSequencerKeys) {
        if (before.value(QLatin1String(key)).toInt() != in.value(QLatin1String(key)).toInt()) {
            qInfo().noquote() << "setparams:" << key << "changed: the detection sequencers start again";
            if (Camera* camera = programCamera())
                camera->InitCameraRecongnize();
            break;
        }
    }
    if (!gpWPara->SaveDatatoDB())
        qCCritical(level_1) << "setparams: the parameters were applied but not stored in PARAM.db";
    if (FrameIO* io = g_FrameIO.data())
        io->updateIONoInputTip();
    answer(req);
}

void HttpService_MG_Business::changeProject(const CTask_FormData_Mongoose& req)
{
    const QString dotype = req.data.json.value(QStringLiteral("dotype")).toString();
    const QString name = req.data.json.value(QStringLiteral("operate_name")).toString();
    if (!gpWPara) {
        refuse(req, QStringLiteral("the camera program is not ready"));
        return;
    }
    bool result = false;
    if (dotype == QLatin1String("backup"))
        result = !name.isEmpty() && gpWPara->BackupProject(name);
    else if (dotype == QLatin1String("change"))
        result = !name.isEmpty() && gpWPara->ChangeProject(name);
    else if (dotype == QLatin1String("delete"))
        result = !name.isEmpty() && gpWPara->DeleteProject(name);
    const QJsonObject out{{"operate_result", result},
                          {"project_list", func_list_2_jsonarray(gpWPara->GetProjectList())}};
    answer(req, out);
    if (result && dotype == QLatin1String("change")) {
        // The databases stay closed after a change: the camera restarts on
        // the new group once the answer has left.
        QTimer::singleShot(1000, this, &HttpService_MG_Business::syncAndReboot);
    }
}

void HttpService_MG_Business::getUserflow(const CTask_FormData_Mongoose& req)
{
    int mode = 0;
    bool present = false;
    const QString why = optionalWhole(req.data.json, QStringLiteral("mode_type"), &mode, &present);
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    QJsonObject result;
    if (mode == -2) {
        result = UserFlowFile::read();
    } else if (m_flow) {
        result = mode == -1 ? m_flow->get_Frameworks() : m_flow->create_Frameworks(mode, false);
        if (FrameIO* io = g_FrameIO.data())
            result.insert(QStringLiteral("io"), ioDescription(*io));
    }
    CTask_FormData_Mongoose reply = callback_inherit(req);
    reply.addAccessControl();
    if (result.isEmpty()) {
        reply.data.body = QByteArrayLiteral("Obtaining userflow is abnormal.");
        reply.data.content_type = QStringLiteral("text/html");
    } else {
        reply.data.json = result;
    }
    m_reactor->finishWorkAction(reply);
}

// ---- regions ----

void HttpService_MG_Business::modifyRoi(const CTask_FormData_Mongoose& req)
{
    const QJsonObject& body = req.data.json;
    int detect = 0;
    QString why = requireWhole(body, QStringLiteral("detect_index"), &detect);
    if (why.isEmpty() && !DiVuVarude::isDetectStep(detect))
        why = QStringLiteral("\"detect_index\" %1 is not a detection step").arg(detect);
    Camera* camera = programCamera();
    if (why.isEmpty() && (!camera || !gpWPara))
        why = QStringLiteral("the camera program is not ready");
    if (why.isEmpty())
        why = camera->trialFault(body);
    if (!why.isEmpty()) {
        refuse(req, why);
        return;
    }
    cv::Mat mask;
    QJsonObject result;
    camera->modifySingleROI(body, mask, result);
    gpWPara->SaveDatatoDB();

    const QString version = MaskForApp::takenAppVersion(ZRC_WorkInformation_Manager::getInstance()->get_working_info());
    CTask_FormData_Mongoose reply = callback_inherit(req);
    if (!MaskForApp::takesPackedForm(version)) {
        reply.data.multipart_images.insert(QStringLiteral("maskmat"), mask);
        reply.data.multipart_fields.insert(QStringLiteral("result"), result);
        m_reactor->finishWorkAction(reply);
        return;
    }
    // An older application: the mask cut to the scope it names, clipped to
    // the mask; a scope that is not four whole numbers, has no width or
    // height, or lies outside the mask gets the whole mask alone.
    cv::Rect scope;
    bool cut = false;
    const QJsonArray infos = body.value(QStringLiteral("roi_infos")).toArray();
    if (infos.size() == 4) {
        int v[4];
        cut = true;
        for (int i = 0; i < 4; ++i)
            cut = cut && wholeNumber(infos.at(i), &v[i]);
        if (cut) {
            scope = cv::Rect(v[0], v[1], v[2], v[3]) & cv::Rect(0, 0, mask.cols, mask.rows);
            cut = v[2] != 0 && v[3] != 0 && scope.area() > 0;
        }
    }
    if (!cut) {
        reply.data.multipart_images.insert(QStringLiteral("maskmat"), mask);
        m_reactor->finishWorkAction(reply);
        return;
    }
    const MaskForApp form = MaskForApp::build(mask, scope, version);
    reply.data.multipart_fields.insert(QStringLiteral("result"), result);
    reply.data.multipart_fields.insert(QStringLiteral("maskmat-info"), form.info);
    reply.data.multipart_fields.insert(QStringLiteral("maskmat"), form.packedBytes);
    m_reactor->finishWorkAction(reply);
}

// ---- handler slots ----

void HttpService_MG_Business::DideSystem__getparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideSystem__getparams", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (!gpWPara) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        QJsonObject out;
        gpWPara->GetParams(out);
        answer(r, out);
    });
}

void HttpService_MG_Business::DideSystem__setparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideSystem__setparams", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { setParams(r); });
}

void HttpService_MG_Business::DideSystem__system_runstate(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideSystem__system_runstate", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (m_links.runStateJson) {
            answer(r, m_links.runStateJson(false));  // the manager's report, not stashed
            return;
        }
        if (!gpWin) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        answer(r, gpWin->getRunState());
    });
}

void HttpService_MG_Business::DideSystem__get_userflow(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideSystem__get_userflow", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { getUserflow(r); });
}

void HttpService_MG_Business::DideSystem__set_userflow(const CTask_FormData_Mongoose& req)
{
    runWorkerThenMain(
        "DideSystem__set_userflow", req,
        [](const CTask_FormData_Mongoose& r) {
            QJsonObject flow;
            return requireObject(r.data.json, QStringLiteral("userflow"), &flow);
        },
        [](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
            if (!UserFlowFile::write(r.data.json.value(QStringLiteral("userflow")).toObject()))
                qCCritical(level_1) << "set_userflow: the user flow file was not written";
        });
}

void HttpService_MG_Business::DideSystem__chgproj_doaction(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideSystem__chgproj_doaction", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { changeProject(r); });
}

void HttpService_MG_Business::DideRoi__getallparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideRoi__getallparams", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        Camera* camera = programCamera();
        if (!camera) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        answer(r, QJsonObject{{"rois", camera->getallROIs()}});
    });
}

// Answered after the work, on the main thread: a region set that is refused
// (and so inspects nothing new) must reach the application as a refusal.
void HttpService_MG_Business::DideRoi__setallparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideRoi__setallparams", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (!r.data.json.value(QStringLiteral("rois")).isArray()) {
            refuse(r, QStringLiteral("\"rois\" must be an array of regions"));
            return;
        }
        Camera* camera = programCamera();
        if (!camera) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        QString reason;
        if (!camera->modifySingleton(r.data.json.value(QStringLiteral("rois")).toArray(), &reason)) {
            refuse(r, QStringLiteral("setallparams: the regions were not replaced: ") + reason);
            return;
        }
        answer(r);
    });
}

void HttpService_MG_Business::DideRoi__modifyroi(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideRoi__modifyroi", req,
              [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) { modifyRoi(r); });
}

void HttpService_MG_Business::DideRoi__finish_roiset(const CTask_FormData_Mongoose& req)
{
    runWorkerThenMain(
        "DideRoi__finish_roiset", req,
        [](const CTask_FormData_Mongoose&) {
            return gpWin ? QString() : QStringLiteral("the camera program is not ready");
        },
        [](const CTask_FormData_Mongoose&, CLimit_List_WorkingUrl&) {
            if (Camera* camera = programCamera())
                camera->finishRoiset();
        });
}

void HttpService_MG_Business::DideCamera__getparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideCamera__getparams", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        Camera* camera = programCamera();
        if (!camera) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        QJsonObject out;
        camera->cameraSingleton()->getCameraParam(out);
        answer(r, out);
    });
}

void HttpService_MG_Business::DideCamera__setparams(const CTask_FormData_Mongoose& req)
{
    runWorkerThenMain(
        "DideCamera__setparams", req,
        [](const CTask_FormData_Mongoose& r) {
            const QString why = checkCameraParams(r.data.json);
            if (!why.isEmpty())
                return why;
            return gpWin ? QString() : QStringLiteral("the camera program is not ready");
        },
        [](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
            Camera* camera = programCamera();
            QString error;
            if (!camera || !camera->cameraSingleton()->setCameraParamChecked(r.data.json, &error)) {
                qCCritical(level_1).noquote() << "camera setparams: not applied:" << error;
                return;
            }
            camera->setParam();
            if (!camera->cameraSingleton()->SaveDatatoDB())
                qCCritical(level_1) << "camera setparams: applied but not stored in PARAM.db";
        });
}

void HttpService_MG_Business::DideIO__getparams(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideIO__getparams", req, [this](const CTask_FormData_Mongoose& r, CLimit_List_WorkingUrl&) {
        if (!gpWPara) {
            refuse(r, QStringLiteral("the camera program is not ready"));
            return;
        }
        QJsonObject out;
        gpWPara->GetIO_Output_Defalut(out);
        answer(r, out);
    });
}
