#pragma once
// The abstract group of flow units. A group holds its units in a fixed order
// (each a child object of the group), keeps its run state, carries the
// instance interface it hands to each unit, and picks the next unit to run.
// The concrete group decides which unit a passport starts and what happens
// when a unit finishes.
//
// Indexes: a unit's relative index (get_detect_index) is its number within
// the group; the remain lists, the run node and get_next_unitnode use it.
// Its absolute index (get_detect_index_abs) is its number across the flow.
//
// Threads: main thread only.
#include "flow/flowinstiface.h"
#include "flow/flowrecords.h"
#include "flow/flowunit_passport.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class FlowUnit_Base;

class FlowBox_Group : public QObject {
    Q_OBJECT
public:
    explicit FlowBox_Group(QObject* parent = nullptr);
    ~FlowBox_Group() override;

    virtual void set_obj_id(QString id);
    virtual QString get_obj_id() const;
    virtual void set_group_index(int index);
    virtual int get_group_index() const;
    virtual void set_enable(bool enable);
    virtual bool get_enable() const;
    virtual void set_subunit_indexabs(QList<int> indexes);
    virtual QList<int> get_subunit_indexabs() const;
    // Base: whether the group has units; starts nothing.
    virtual bool onStart(FlowUnit_Passport passport);
    // Run state 0, run node and shown unit = the first enabled unit, remain
    // lists emptied.
    virtual void init_Fgs_RunState();
    // A copy of the run state.
    virtual FlowGroup_State get_RunDescribe();
    virtual QJsonObject get_FlowSerialize() = 0;
    // The relative index of the enabled unit to run after `current` (the
    // smallest when `current` is -1, wrapping after the last); -1 when there
    // is none, with a warning when `current` is not an enabled unit's index.
    virtual int get_next_unitnode(int current);
    // The remain list := every enabled unit's relative index in list order;
    // the period's receipts are forgotten.
    virtual void init_remain_detects();
    // The absolute index of the first unit (enabled or not) whose relative
    // index is `rel`; -1 when there is none.
    virtual int get_UiAbs_From_Rel(int rel);

    // Copies the group's instance interface into the unit, connects its
    // finish and state signals to this group, appends it (and makes the
    // group its parent when it has none).
    void append_FlowUnit(FlowUnit_Base* unit);
    // Clears every unit's parts and releases the units (deleteLater); the
    // list is empty at once. The run state is kept.
    void clear_frames();

    QList<FlowUnit_Base*> get_unit_list() const { return unit_list; }
    // The run state as it is, without the description a concrete group adds.
    const FlowGroup_State& get_fgs_state() const { return fgs_state; }

    // Device id, language, IO frame, application and camera list; the
    // builders assign it whole before appending units.
    FlowInstIface inst_iface;

signals:
    void sig_GroupPeriod_Finish();
    void sig_Update_PM_State();
    void sig_Update_StashDisplay(FlowWork_DisplayArea display);

public slots:
    virtual void slot_Group_DoUnitWorkFinish(FlowUnit_Passport passport) = 0;
    // Base: the working unit := the absolute index of the first working unit
    // (enabled or not), -1 when none works.
    virtual void slot_Update_Fgs_State();
    // Offers a passport the group made itself (chained later, queued).
    virtual void slot_OnStart(FlowUnit_Passport passport);

protected:
    QList<FlowUnit_Base*> unit_list;
    FlowGroup_State fgs_state;
    QString obj_id;
    bool enable = true;
    int group_index = -1;
    QList<int> subunit_indexabs;
};
