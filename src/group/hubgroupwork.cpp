#include "group/hubgroupwork.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"

#include <QDebug>

namespace {
void unavailable(const char* what, int step)
{
    qCWarning(level_1).noquote() << "[HubGroupWork]" << what << "not available on this camera (no hub), step" << step;
}
}  // namespace

DiVuVarude* HubGroupWork::hub() const
{
    return m_useHub ? gpWin : nullptr;
}

WizardPara* HubGroupWork::para() const
{
    if (m_para)
        return m_para;
    DiVuVarude* h = hub();
    return h ? h->params() : nullptr;
}

void HubGroupWork::RunAlgorithm_New(int detectIndexAbs, SCollect_Unit& unit)
{
    if (DiVuVarude* h = hub())
        return h->RunAlgorithm_New(detectIndexAbs, unit);
    unavailable("detection", detectIndexAbs);
    unit.detect = detectIndexAbs;
    unit.is_valid = false;
    unit.result = false;  // not inspected: NG
}

void HubGroupWork::RunTrain_New(int detectIndexAbs, SCollect_Unit& unit)
{
    if (DiVuVarude* h = hub())
        return h->RunTrain_New(detectIndexAbs, unit);
    unavailable("training", detectIndexAbs);
    unit.detect = detectIndexAbs;
    unit.result = false;
}

void HubGroupWork::RunTrain_Var(int detectIndex)
{
    if (DiVuVarude* h = hub())
        return h->RunTrain_Var(detectIndex);
    unavailable("retraining", detectIndex);
}

void HubGroupWork::Update_MemNGLook(int detectIndexAbs)
{
    if (DiVuVarude* h = hub())
        return h->Update_MemNGLook(detectIndexAbs);
    unavailable("NG look", detectIndexAbs);
}

void HubGroupWork::SaveImageFile(int detectIndexAbs, int kind, const QString& text)
{
    if (DiVuVarude* h = hub())
        return h->SaveImageFile(detectIndexAbs, kind, text);
    unavailable("picture", detectIndexAbs);
}

void HubGroupWork::ResetRun()
{
    if (DiVuVarude* h = hub())
        return h->ResetRun();
    unavailable("region reset", -1);
}

void HubGroupWork::AddTemplate(int step)
{
    if (DiVuVarude* h = hub())
        return h->AddTemplate(step);
    unavailable("add template", step);
}

void HubGroupWork::SlotTempDeleteAll(const QList<int>& steps)
{
    if (DiVuVarude* h = hub())
        return h->SlotTempDeleteAll(steps);
    unavailable("template deletion", -1);
}

bool HubGroupWork::h_is_recheck_only_ng_camera() const
{
    WizardPara* p = para();
    return p && p->h_is_recheck_only_ng_camera;
}

int HubGroupWork::h_temp_count() const
{
    WizardPara* p = para();
    return p ? p->h_temp_count : 0;
}
