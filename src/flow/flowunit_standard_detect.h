#pragma once
// The concrete flow unit: one detection step of a group. It holds the start
// conditions that decide whether an offered passport starts this step,
// exactly one detect part that asks the application for the detection, and
// the after-detect parts that set outputs or stop the machine according to
// the result. It builds itself from a part list in JSON, writes itself back
// as JSON, and offers the editing operations with which the layouts assemble
// it.
//
// A new unit has four condition parts (manual trigger, no check, re-detect,
// add template) and a detect part. The finish runs in this order: receipt
// stored, last-result stash merged, after-detect parts of the matching
// result started, sig_unit_workfinish, push to the application, work stage
// back to waiting (unless the cycle stops the machine), working flag cleared.
//
// Threads: main thread only. The detect part's finish signal is queued, so
// the finish never runs inside the detect part's call stack.
#include "flow/flowunit_base.h"
#include "io/iotypes.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>
#include <QVariantMap>

class FlowBox_Group;
class FlowPart_AfterDetect;
class FlowPart_Base;
class FlowPart_Cond_IO;
class FlowPart_Cond_IO_ChgOper;
class FlowPart_Cond_PreResult;
class FlowPart_Condition;
class FlowPart_AftDect_NGStop;
class FlowPart_Detect;

class FlowUnit_Standard_Detect : public FlowUnit_Base {
    Q_OBJECT
public:
    // `group` owns the unit (QObject parent) and lends its instance interface
    // to the first parts; it may be null.
    explicit FlowUnit_Standard_Detect(FlowBox_Group* group);
    ~FlowUnit_Standard_Detect() override;

    // ---- Run (called by the group) ----
    // Asks every condition in list order; the last accepting condition that
    // produced a passport gives the answer (empty: refused).
    CVariant<FlowUnit_Passport> chkPassport(FlowUnit_Passport passport) override;
    // Releases every part (deleteLater) and empties the lists; the unit has no
    // detect part until one is set again.
    void clear_frames() override;
    // Forgets which conditions have accepted a passport.
    void clear_historystorage() override;
    // The receipt with the detect part's remaining delay brought up to date.
    FlowWork_Receipt get_UnitReceipt() override;
    // {"name", "index", "type", "enable", "part_cond", "part_detect", "part_after"}.
    QJsonObject get_FlowSerialize() override;
    // The unit's absolute detect index when one of its manual-trigger
    // conditions accepts the passport, else -1. Starts nothing.
    int get_QuickChk_ManualTrig(FlowUnit_Passport passport);

    // ---- Structure and JSON ----
    // One part made from its JSON object by its "type" ("FlowPart_Cond_IO",
    // "FlowPart_Cond_IO_ChgOper", "FlowPart_Cond_PreResult", "FlowPart_IO"
    // (an IO condition), "FlowPart_AftDect_NGStop", "FlowPart_Detect"), owned
    // by this unit but in no list; null for any other type.
    FlowPart_Base* Instance_Structure_FromJson(const QJsonObject& obj);
    // Appends a condition part; the unit owns it from then on. A part that is
    // not a condition, or is already in the list, is refused (false; a
    // refused part that is not in the list is released).
    bool addptr_2_part_cond(FlowPart_Base* part);
    // Replaces the detect part (the old one is released). A part that is not
    // a detect part is refused and released (false).
    bool addptr_2_part_detect(FlowPart_Base* part);
    // Reads the parts of a unit object: each "part_cond" element becomes a
    // condition part, "part_detect" the detect part. Keys that the
    // serialisation writes but that are not read back ("enable",
    // "part_after", and a part's "input_with", "act_cond_parambox",
    // "classify_okng") are named in one log line. Returns the number of parts
    // taken.
    int Structure_FromJson(const QJsonObject& unitObject);
    // The written keys of a unit object that Structure_FromJson does not read.
    static QStringList ignoredJsonKeys(const QJsonObject& unitObject);
    // Writes the unit's detect index and absolute detect index into every
    // condition part.
    void set_cond_sortindex(int index, int index_abs);

    // ---- Builders (each part is owned by the unit, gets a copy of the
    // unit's instance interface and is appended to its list) ----
    FlowPart_Cond_IO* create_0_Cond_TrigIO(int input);
    FlowPart_Cond_IO* create_0_Cond_TrigIO(int input, ElectricLevel level);
    FlowPart_Cond_PreResult* create_0_Cond_PreResult(int preindex, bool result);
    FlowPart_Cond_IO_ChgOper* create_0_Cond_ChgIO_Operate(QPair<int, ElectricLevel> io, Condition_Type type);
    FlowPart_Cond_IO_ChgOper* create_0_Cond_ChgIO_Operate(QPair<int, ElectricLevel> io, FlowWork_Condition* cond);
    FlowPart_AftDect_NGStop* create_3_NG_Stop();
    FlowPart_AfterDetect* create_3_AftIO_OK(QList<int> outputs, IOState_Rel state, int delay, int pulse);
    FlowPart_AfterDetect* create_3_AftIO_NG(QList<int> outputs, IOState_Rel state, int delay, int pulse);

    // ---- Editors ----
    void set_2_DetectDelayTime(int ms);
    void setRedetectTimes(int times, int interval);
    // Every condition part: add_action_iooutput(outputs, state, delay, pulse).
    void add_all_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse);
    // Every condition needing detection (flag 1): the outputs go out `before`
    // ms ahead of the detection (delay max(D - before, 0), D the detect delay).
    void add_1_PreIO_BeforeDetect(QList<int> outputs, IOState_Rel state, int before, int pulse);
    // Every condition with the fixed flag (2) copies `source`'s IO actions.
    void update_CondAction_2_StaticSet(FlowPart_Condition* source);
    // With bit 8 or 16 in `flags`: removes every NG-stop part.
    void del_Stop(int flags);
    // Removes the changed-operation conditions of operation type `type`.
    void del_IOCtrl_OperType(Condition_Type type);
    // Selection flags: bit 1 the conditions' IO actions; bit 4, 8, 16 the
    // after-detect parts classified -1, 1 (OK), 0 (NG). A plain after-detect
    // part left without outputs is removed.
    void del_IOOutput_All(int flags);
    void del_IOOutput_FromList(QMap<int, IOState_Rel> outputs, int flags);

    // ---- Queries ----
    // The condition parts whose condition type equals `type`, in list order.
    QList<FlowPart_Condition*> get_FlowPart_Cond_FromClassType(Condition_Type type) const;
    // The IO conditions (type 1) whose trigger list names one of `inputs`.
    QList<FlowPart_Condition*> get_FlowPart_CondIO(QList<int> inputs) const;

    QList<FlowPart_Base*> get_part_cond() const { return part_cond; }
    FlowPart_Detect* get_part_detect() const { return part_detect; }
    QList<FlowPart_Base*> get_part_after() const { return part_after; }
    FlowBox_Group* get_group() const { return group; }
    // The uuids of the conditions that have accepted a passport, each once.
    QStringList get_historystorage() const { return history; }
    // Per camera id, {"result": bool} of the last finished detection.
    QVariantMap get_Stash_LastResultMaps() const { return stash_lastresult; }
    // Inserts or overwrites each key of `results`; other keys stay.
    void update_Stash_LastResultMaps(const QVariantMap& results);

public slots:
    // Keeps the passport, marks the unit working, fills the passport's unit
    // state and starts the detect part. A unit without a detect part (after
    // clear_frames) finishes at once, queued, without a result, so that its
    // group is never left waiting for it.
    void slot_OnStart_UnitWork(FlowUnit_Passport passport) override;
    // The finish, in the order given at the top of this file.
    void slot_OnFinish_UnitWork(FlowWork_Receipt receipt) override;

private:
    // Gives `part` the unit's instance interface and the unit as parent.
    void adoptPart(FlowPart_Base* part);
    // Removes `part` from `list` and releases it.
    static void releasePart(QList<FlowPart_Base*>& list, FlowPart_Base* part);
    // The after-detect parts selected by bits 4, 8, 16 of `flags`.
    QList<FlowPart_AfterDetect*> selectedAfterParts(int flags) const;
    // Removes the plain after-detect parts left without outputs.
    void dropEmptyAfterParts(const QList<FlowPart_AfterDetect*>& parts);

    FlowBox_Group* group = nullptr;
    QList<FlowPart_Base*> part_cond;
    FlowPart_Detect* part_detect = nullptr;
    QList<FlowPart_Base*> part_after;
    QVariantMap stash_lastresult;
    QStringList history;
};
