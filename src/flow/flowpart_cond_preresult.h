#pragma once
// Chains the units of a group by result: it accepts a previous-result
// passport (type exactly 4) that names the detect index and the result this
// condition waits for, never one that names its own unit. Like every IO
// condition it fires its IO actions when started (and enabled). The IO
// condition's trigger, input-state, pre-condition and run-state tests do not
// apply.
//
// JSON: the condition object plus "cond_resultctrl_preindex" and
// "cond_resultctrl_result".
//
// Threads: main thread only.
#include "flow/flowpart_cond_io.h"

class FlowPart_Cond_PreResult : public FlowPart_Cond_IO {
    Q_OBJECT
public:
    explicit FlowPart_Cond_PreResult(FlowUnit_Base* unit);
    ~FlowPart_Cond_PreResult() override;

    // "前一个检测（index = N）检测结果 = OK 后" unless a description is set.
    QString get_user_describe() const override;
    QJsonObject Serialize_2_Json() const override;
    // The condition's keys, then "cond_resultctrl_preindex" (0 when absent)
    // and "cond_resultctrl_result" (true for true or a non-zero number).
    void Structure_FromJson(const QJsonObject& obj) override;
    bool chkCondSet(FlowUnit_Passport passport) const override;

    // The detect index whose result is waited for, and that result (true OK).
    void set_cond_resultctrl(int preindex, bool result);
};
