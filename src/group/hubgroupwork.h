#pragma once
// The hub half of a camera's work seam. The program's one forwards every
// operation to the hub published in gpWin, looked up at each call (the
// manager makes the seam before the hub exists); the two process parameters
// come from the hub's WizardPara. Without a hub, or when made on parameters
// alone, a detection or training answers NG with its reason in the log (a
// mould is never released by a camera that did not look) and the others are
// logged and do nothing.
//
// Threads: the camera's main thread (the hub's).
#include "group/groupworkservices.h"

class DiVuVarude;
class WizardPara;

class HubGroupWork : public GroupHubWork {
public:
    // The program's: the hub in gpWin.
    HubGroupWork() = default;
    // Parameters only, no hub.
    explicit HubGroupWork(WizardPara* para) : m_para(para), m_useHub(false) {}

    void RunAlgorithm_New(int detectIndexAbs, SCollect_Unit& unit) override;
    void RunTrain_New(int detectIndexAbs, SCollect_Unit& unit) override;
    void RunTrain_Var(int detectIndex) override;
    void Update_MemNGLook(int detectIndexAbs) override;
    void SaveImageFile(int detectIndexAbs, int kind, const QString& text) override;
    void ResetRun() override;
    void AddTemplate(int step) override;
    void SlotTempDeleteAll(const QList<int>& steps) override;
    bool h_is_recheck_only_ng_camera() const override;
    int h_temp_count() const override;

private:
    DiVuVarude* hub() const;
    WizardPara* para() const;

    WizardPara* m_para = nullptr;
    bool m_useHub = true;
};
