#pragma once
// The start condition of a standard detect unit for a cycle started by a
// machine input. It accepts a passport that is a pure IO trigger (type
// exactly 1) on one of its trigger inputs with the right level, optionally
// only while other inputs hold given levels, only after other conditions of
// the same unit have accepted, and only in given product run states. When the
// unit starts it (and it is enabled), it fires its IO output actions and
// produces the passport for the detection.
//
// JSON: the condition object plus "input" (the trigger pairs, always) and
// "input_with" (the input-state pairs, when there are some; not read back).
//
// Threads: main thread only.
#include "flow/flowpart_condition.h"

#include <QJsonArray>
#include <QList>
#include <QStringList>

// Run state of the product (FlowProc_State::proc_runstate): 0 detect,
// 1 sampling, 2 NG stop.
using ERunState = int;

// Every element of `a` occurs in `b`; an empty `a` gives true.
template <typename T>
bool qlist_subset(const QList<T>& a, const QList<T>& b)
{
    for (const T& v : a) {
        if (!b.contains(v))
            return false;
    }
    return true;
}

class FlowPart_Cond_IO : public FlowPart_Condition {
    Q_OBJECT
public:
    // `unit` is the owning unit and the QObject parent; it may be null.
    explicit FlowPart_Cond_IO(FlowUnit_Base* unit);
    ~FlowPart_Cond_IO() override;

    // "IO触发: (输入-N -> 闭合) ... 时。" followed by the actions' sentences.
    QString get_user_describe() const override;
    QJsonObject Serialize_2_Json() const override;
    // The condition's keys, then "input" (each two-element array becomes one
    // pair; it replaces the trigger list).
    void Structure_FromJson(const QJsonObject& obj) override;
    // No side effects. See the class comment for what is tested.
    bool chkCondSet(FlowUnit_Passport passport) const override;

    // Adds the uuid of another condition of the same unit that must have
    // accepted before this one may (each uuid once).
    void set_condwith_PreConditions(QString uuid);
    // The input levels that must hold at the trigger. An empty list changes
    // nothing. The unit's manual-trigger conditions get the same list.
    void set_condwith_ioinput_state(QList<IO_IndexLevel> levels);
    // The product run states in which the condition accepts; empty = any.
    void set_condwith_runstates(QList<ERunState> states) { condwith_runstates = states; }

    QList<IO_IndexLevel> get_condwith_ioinput_state() const { return condwith_ioinput_state; }
    QList<ERunState> get_condwith_runstates() const { return condwith_runstates; }
    QStringList get_condwith_preconditions() const { return condwith_preconditions; }

public slots:
    // When enabled: starts every IO action with the kept passport, then
    // produces the passport for the detection.
    void onStart_Working() override;

protected:
    // The sentence of each IO action: "延时Xs，（输出-N -> 闭合），持续Ys。".
    QString actionsDescribe() const;
    // The "input" array of the trigger list.
    QJsonArray triggerListJson() const;
    // Reads "input" into the trigger list.
    void readTriggerList(const QJsonObject& obj);

    QList<IO_IndexLevel> condwith_ioinput_state;
    QList<ERunState> condwith_runstates;
    QStringList condwith_preconditions;
};
