// The operator's actions through the hub: templates, regions, camera
// parameters, the start and stop of the work, and the reaction to a work
// event that lost the group's data.
#include "hub/divuvarude.h"

#include "flow/product_interface.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/hubmanager.h"
#include "inspection/camera.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cameraimage.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "io/frameio.h"

#include <QDebug>
#include <QMutexLocker>

namespace {

bool refuseStep(const char* operation, int detect)
{
    if (DiVuVarude::isDetectStep(detect))
        return false;
    qCWarning(level_1) << "[HUB]" << operation << ": detection" << detect << "does not exist, nothing done";
    return true;
}

void setOutputActive(int index)
{
    if (FrameIO* io = g_FrameIO.data())
        io->IOSetOut(QStringLiteral(__FILE__), __LINE__, index, 1);
}

}  // namespace

void DiVuVarude::AddTemplate(int detect)
{
    if (refuseStep("AddTemplate", detect))
        return;
    if (!m_camera->cameraImage()->addTemplate(detect)) {
        qCWarning(level_1) << "[HUB] AddTemplate: no template added to detection" << detect;
        return;
    }
    InsertRecord(tr("添加了一张模板"), QStringLiteral("operate"));
    m_camera->cameraRecong()->preprocessor(detect);
    m_templateAdded[detect] = true;
}

bool DiVuVarude::AddTemplateFromNG(int detect, int ngIndex)
{
    if (refuseStep("AddTemplateFromNG", detect))
        return false;
    if (!m_params || m_params->h_temp_count < 2) {
        qInfo() << "[HUB] AddTemplateFromNG: h_temp_count below 2, no template added";
        return false;
    }
    if (!m_camera->cameraImage()->addTemplateFromNG(detect, ngIndex)) {
        qCWarning(level_1) << "[HUB] AddTemplateFromNG: NG image" << ngIndex << "of detection" << detect
                           << "not added as a template";
        return false;
    }
    m_camera->setRegionsChanged();
    return true;
}

void DiVuVarude::SlotTempDeleteAll(QList<int> detects)
{
    InsertRecord(tr("删除了所有模板"), QStringLiteral("operate"));
    CameraImage* image = m_camera->cameraImage();
    for (int k = 0; k < gDNum && k < CameraRecong::kSteps; ++k) {
        if (!detects.contains(k))
            continue;
        if (!image->deleteAllTemplate(k))
            qCWarning(level_1) << "[HUB] SlotTempDeleteAll: the templates of detection" << k << "were not all deleted";
        image->updateCurTemplateName(QStringLiteral("template00.bmp"));
    }
}

void DiVuVarude::SlotTempDeleteCur(int detect, QString name)
{
    if (refuseStep("SlotTempDeleteCur", detect))
        return;
    CameraImage* image = m_camera->cameraImage();
    if (!image->deleteTemplate(detect, name)) {
        qCWarning(level_1).noquote() << "[HUB] SlotTempDeleteCur: template" << name << "of detection" << detect
                                     << "not deleted";
        return;
    }
    InsertRecord(tr("删除模板%1 ").arg(image->curTemplateName()), QStringLiteral("operate"));
}

void DiVuVarude::SlotDeleteAllROI(int detect)
{
    if (refuseStep("SlotDeleteAllROI", detect))
        return;
    if (!m_camera->cameraSingleton()->releaseROI(detect))
        qCWarning(level_1) << "[HUB] SlotDeleteAllROI: the regions of detection" << detect << "were not removed";
    else
        m_camera->warnStepsWithoutInspection();
}

QJsonArray DiVuVarude::roisResult(int detect)
{
    QJsonArray out;
    if (!refuseStep("roisResult", detect))
        m_camera->cameraSingleton()->roisResult(detect, out);
    return out;
}

void DiVuVarude::reload_CameraImages()
{
    QMutexLocker lock(&m_ngMutex);
    m_camera->cameraImage()->reload_Dynamic_ImageSpace();
}

void DiVuVarude::ResetRun()
{
    m_camera->setResult(true);
    m_camera->cameraSingleton()->resetROIs();
}

void DiVuVarude::ResetCameraParam(const QString& arg)
{
    m_camera->cameraSingleton()->ResetCameraParam();
    m_camera->setParam();
    if (HubManager* manager = HubManager::instance())
        manager->async_back2longtcp_defaultparam(arg);
    else
        qInfo() << "[HUB] ResetCameraParam: no manager to push the camera parameters to";
}

void DiVuVarude::startStop(int state)
{
    HubFlow* flow = HubManager::instance() ? HubManager::instance()->flowManager() : nullptr;
    FrameIO* io = g_FrameIO.data();
    if (state == 0 || state == 1) {
        if (flow)
            flow->setStartOrStop(state == 0);
        else
            qCWarning(level_1) << "[HUB] startStop" << state << ": no flow manager to start or stop";
        if (io)
            io->IOSetOut_ResetAllKeep();
        else
            qCWarning(level_1) << "[HUB] startStop" << state << ": no IO frame, outputs untouched";
    }
    if (m_params && state == 0) {
        if (m_params->i_isCloseCut)
            setOutputActive(1);
        if (m_params->i_isClosePulse)
            setOutputActive(0);
        if (m_params->i_isThimblePulse)
            setOutputActive(1);
    } else if (m_params && state == 1) {
        if (m_params->i_isCloseAllow)
            setOutputActive(0);
        if (m_params->i_isCloseAllow_thimeble)
            setOutputActive(1);
    }
    ResetRun();
}

void DiVuVarude::handlingOfExceptionalEvent()
{
    if (!ZRC_WorkInformation_Manager::getInstance()->IsMainCamera())
        return;
    qCWarning(level_1) << "do handlingOfExceptionalEvent";
    Product_Interface* product = HubManager::instance() ? HubManager::instance()->productInterface() : nullptr;
    if (product)
        product->detect_exception.store(1);
    else
        qCWarning(level_1) << "[HUB] no product interface: the data-lost flag cannot be set";
    setOutputActive(0);
    setOutputActive(2);
    qCWarning(level_1).noquote() << "[HUB] data lost: every detection stops the machine until the operator releases it"
                                 << "with" << holdReleaseRoutes(true, true).join(QStringLiteral(" or "));
}
