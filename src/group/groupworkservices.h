#pragma once
// What the work events of one camera need of the program around them: the
// hub's detection and picture operations with two process parameters (the
// hub half), and the flow's shown step, the run-result push, the statistics
// and the result publisher (the manager half). One seam per camera, so that
// cameras can share a test process; the events take their own device id from
// their group view, never from here.
//
// Threads: every operation is called on the camera's main thread, where the
// hub and the manager live.
#include "flow/flowworkevent.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariantMap>

// Hub half: detection, templates, pictures and process parameters.
class GroupHubWork {
public:
    virtual ~GroupHubWork() = default;

    // Takes the latest frame and runs detection step `detectIndexAbs` into
    // `unit`: is_valid true, detect = the step, result, calculate_time (ms of
    // this run), calculate_times + 1; detect_model is left as it was. A step
    // that cannot be inspected answers NG.
    virtual void RunAlgorithm_New(int detectIndexAbs, SCollect_Unit& unit) = 0;
    // Trains step `detectIndexAbs` into `unit`: detect, result, calculate_time.
    virtual void RunTrain_New(int detectIndexAbs, SCollect_Unit& unit) = 0;
    // Retrains the step's processors from its templates.
    virtual void RunTrain_Var(int detectIndex) = 0;
    // Remembers the step's NG look (last detection of an event was NG).
    virtual void Update_MemNGLook(int detectIndexAbs) = 0;
    // Picture of the step: kinds 2 OK, 3 NG held, 4 no check, 5 template
    // added, 7 re-detected, 8 NG without stop.
    virtual void SaveImageFile(int detectIndexAbs, int kind, const QString& text) = 0;
    // The camera's last result and every region back to OK.
    virtual void ResetRun() = 0;
    // Adds the current image as a further template of the step.
    virtual void AddTemplate(int step) = 0;
    // Deletes every template of the listed steps.
    virtual void SlotTempDeleteAll(const QList<int>& steps) = 0;

    // Process parameters "h_is_recheck_only_ng_camera" and "h_temp_count".
    virtual bool h_is_recheck_only_ng_camera() const = 0;
    virtual int h_temp_count() const = 0;
};

// Manager half: flow state, pushes, statistics, publisher.
class GroupManagerWork {
public:
    virtual ~GroupManagerWork() = default;

    // The flow manager's shown step ("fgs_zrp_show_unitindex_abs").
    virtual void setShownUnitIndex(int detectIndexAbs) = 0;
    // Pushes this camera's run result of the current step to the operator
    // application; `fresh` takes the region results anew.
    virtual void async_back2longtcp_runresult(const QString& uuid, bool fresh) = 0;
    // Takes the main camera's counters ("detect_ok", "detect_ng",
    // "detect_ok_detail", "detect_ng_detail").
    virtual void stat_SaveCur(const QVariantMap& map) = 0;
    // Registers the subscribers of a subscriber request.
    virtual void Api_regiest_subscriber(const QJsonObject& obj) = 0;
};

// The whole seam, as the work events and quick meets take it.
class GroupWorkServices : public GroupHubWork, public GroupManagerWork {
};

// The seam joined from its two halves (neither owned; both outlive it).
class GroupWorkServicesJoin : public GroupWorkServices {
public:
    GroupWorkServicesJoin(GroupHubWork* hub, GroupManagerWork* manager) : m_hub(hub), m_manager(manager) {}

    void RunAlgorithm_New(int i, SCollect_Unit& u) override { m_hub->RunAlgorithm_New(i, u); }
    void RunTrain_New(int i, SCollect_Unit& u) override { m_hub->RunTrain_New(i, u); }
    void RunTrain_Var(int i) override { m_hub->RunTrain_Var(i); }
    void Update_MemNGLook(int i) override { m_hub->Update_MemNGLook(i); }
    void SaveImageFile(int i, int kind, const QString& text) override { m_hub->SaveImageFile(i, kind, text); }
    void ResetRun() override { m_hub->ResetRun(); }
    void AddTemplate(int step) override { m_hub->AddTemplate(step); }
    void SlotTempDeleteAll(const QList<int>& steps) override { m_hub->SlotTempDeleteAll(steps); }
    bool h_is_recheck_only_ng_camera() const override { return m_hub->h_is_recheck_only_ng_camera(); }
    int h_temp_count() const override { return m_hub->h_temp_count(); }

    void setShownUnitIndex(int i) override { m_manager->setShownUnitIndex(i); }
    void async_back2longtcp_runresult(const QString& uuid, bool fresh) override
    {
        m_manager->async_back2longtcp_runresult(uuid, fresh);
    }
    void stat_SaveCur(const QVariantMap& map) override { m_manager->stat_SaveCur(map); }
    void Api_regiest_subscriber(const QJsonObject& obj) override { m_manager->Api_regiest_subscriber(obj); }

private:
    GroupHubWork* m_hub;
    GroupManagerWork* m_manager;
};
