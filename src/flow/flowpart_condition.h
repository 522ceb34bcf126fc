#pragma once
// The base of the start conditions of a standard detect unit. When a passport
// is offered, the unit asks each condition (chkCondSet); a condition that
// accepts is started with the passport and produces, in its output passport
// list, the passport the unit runs its detection with. The IO-type conditions
// also fire their list of IO output actions when started.
//
// cond_flags, by position:
//   [0] stamped into the produced passport's
//       cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately; also makes the
//       unit ask the condition whatever the group's run node;
//   [1] the start leaves the produced passport in the output list (detection
//       needed); false empties the list; stamped into cond_extra_flag1;
//   [2] the condition's IO actions follow the unit's fixed set; stamped into
//       cond_extra_flag2;
//   [3] accepted also while the flow is in the NG stop; stamped into
//       cond_extra_flag3.
//
// JSON: the part envelope plus "cond_flags" (four booleans) and "output"
// (the IO actions, written only when there are some).
//
// Threads: main thread. The output passport list is guarded by its own mutex
// because the unit reads it under that mutex.
#include "flow/flowpart_base.h"
#include "io/iotypes.h"

#include <QList>
#include <QMutex>

class FlowPart_IO;
class FlowUnit_Base;

class FlowPart_Condition : public FlowPart_Base {
    Q_OBJECT
public:
    // `unit` is the owning unit and the QObject parent; it may be null.
    explicit FlowPart_Condition(FlowUnit_Base* unit);
    ~FlowPart_Condition() override;

    // user_describe, or else the text of the condition type.
    QString get_user_describe() const override;
    QJsonObject Serialize_2_Json() const override;
    // "name" (when present), "cond_flags" (when it has at least 4 elements),
    // then every "FlowPart_IO" element of "output" appended as a new IO action.
    void Structure_FromJson(const QJsonObject& obj) override;

    // The passport's cond_type equals this condition's type exactly, and the
    // flow is not in the NG stop unless cond_flags[3] allows it.
    virtual bool chkCondSet(FlowUnit_Passport passport) const;
    // Replaces the IO actions by copies of `other`'s (new uuids, same settings).
    virtual void copy_list_action_iooutput_fromothers(FlowPart_Condition* other);
    // Appends one IO action per output index: the relative state `state`,
    // `delay` ms before the output is set, held `pulse` ms (0 = stays).
    virtual void add_action_iooutput(QList<int> outputs, IOState_Rel state, int delay, int pulse);
    // Releases every IO action (deleteLater) and empties the list.
    void clear_action_iooutput();
    // Takes `io` out of the list and releases it; false when it is not there.
    bool remove_action_iooutput(FlowPart_IO* io);

    FlowUnit_Base* get_part_unit() const { return part_unit; }
    Condition_Type get_part_cond_type() const { return part_cond_type; }

    // The owning unit's relative and absolute detect index.
    void set_cond_sortindex(int index, int index_abs);
    int get_cond_sortindex() const { return cond_sortindex; }
    int get_cond_sortindex_abs() const { return cond_sortindex_abs; }

    int get_cond_resultctrl_preindex() const { return cond_resultctrl_preindex; }
    bool get_cond_resultctrl_result() const { return cond_resultctrl_result; }

    // The trigger inputs of the IO conditions (JSON "input").
    QList<IO_IndexLevel> get_trigger_list() const { return trigger_list; }
    void set_trigger_list(const QList<IO_IndexLevel>& list) { trigger_list = list; }

    bool get_cond_flag(int position) const;
    void set_cond_flag(int position, bool value);
    void set_cond_flags(bool f0, bool f1, bool f2, bool f3);

    // The unit asks this condition whatever the group's run node.
    bool get_runnode_override() const { return runnode_override; }
    void set_runnode_override(bool value) { runnode_override = value; }

    // A copy of the output passport list, taken under its mutex.
    QList<FlowUnit_Passport> get_out_passports() const;
    // The IO actions, in list order (owned by this part).
    QList<FlowPart_IO*> get_list_action_iooutput() const { return list_action_iooutput; }

public slots:
    // Produces the passport of the last start: a new passport with the
    // started passport's uuid, its condition with the four flags replaced by
    // cond_flags, and its group and product state. Tests neither the enable
    // flag nor starts the IO actions (the subclasses do that).
    void onStart_Working() override;

protected:
    // A new IO action owned by this part with a copy of this part's instance
    // interface, not yet in the list.
    FlowPart_IO* newActionPart();
    // Replaces the output passport list, under its mutex.
    void set_out_passports(const QList<FlowUnit_Passport>& passports);

    FlowUnit_Base* part_unit = nullptr;
    Condition_Type part_cond_type = CondType_None;
    int cond_sortindex = -1;
    int cond_sortindex_abs = -1;
    int cond_resultctrl_preindex = -1;
    bool cond_resultctrl_result = true;
    QList<IO_IndexLevel> trigger_list;
    bool cond_flags[4] = {false, true, true, false};
    bool runnode_override = false;
    QList<FlowUnit_Passport> out_passports;
    mutable QMutex out_passports_mutex;
    QList<FlowPart_IO*> list_action_iooutput;
};
