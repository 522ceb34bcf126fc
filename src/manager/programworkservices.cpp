#include "manager/programworkservices.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "group/rpcdistributed_reactor.h"
#include "hub/divuvarude.h"
#include "inspection/camerastoreservices.h"

#include <QDebug>

namespace {
DiVuVarude* hub(const char* what)
{
    if (!gpWin)
        qCWarning(level_1) << "[Manager]" << what << ": no hub yet, nothing done";
    return gpWin;
}
}  // namespace

QVariantMap ProgramWorkServices::activateWorkEvent(const QString& topic, const QString& uuid, const QVariantMap& datas)
{
    SRPC_WS_FormData form;
    form.valid = true;
    form.topic = topic;
    form.uuid = uuid;
    form.device_id = ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
    form.datas = datas;
    return m_reactor->activate_workevent(form);
}

void ProgramWorkServices::sendQuickMeet(const QString& topic, const QVariantMap& datas)
{
    m_reactor->send_quickmeet(topic, datas);
}

void ProgramWorkServices::handlingOfExceptionalEvent()
{
    if (DiVuVarude* h = hub("data-lost alarm"))
        h->handlingOfExceptionalEvent();
}

void ProgramWorkServices::SaveImageFile(int detect, int kind, const QString& text)
{
    if (DiVuVarude* h = hub("alarm picture"))
        h->SaveImageFile(detect, kind, text);
}

void ProgramWorkServices::RunTrain_Var(int detect)
{
    if (DiVuVarude* h = hub("retraining"))
        h->RunTrain_Var(detect);
}

void ProgramWorkServices::reloadCameraImages()
{
    if (DiVuVarude* h = hub("camera images reload"))
        h->reload_CameraImages();
}

QJsonObject ProgramWorkServices::processParams() const
{
    QJsonObject out;
    if (DiVuVarude* h = hub("process parameters"))
        h->GetParams(out);
    return out;
}

void ProgramWorkServices::setDetectStepCount(int count)
{
    gDNum = count;
}
