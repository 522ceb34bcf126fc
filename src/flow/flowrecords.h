#pragma once
// The plain values that travel through one detection cycle and describe the
// run state of the flow: why a cycle started (Condition_Type,
// FlowWork_Condition), the result record of one unit's work
// (FlowWork_Receipt), the run state of a group, a unit and the whole flow, and
// the record behind the run-state text shown to the operator
// (FlowWork_DisplayArea). All are copyable values.
#include "flow/flowworkevent.h"
#include "io/iotypes.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

// Why a cycle started: an integer of bit flags. A start condition normally
// carries exactly one flag; combinations occur only where noted.
using Condition_Type = int;
enum : int {
    CondType_None = 0,
    CondType_IOTrig = 1,  // a machine input fired
    CondType_ManualTrig = 2,  // manual snapshot
    CondType_PreResult = 4,  // previous detection result (chains the next unit)
    CondType_NoCheck = 8,  // no check of this mould
    CondType_ReDetect = 16,  // re-detect
    CondType_AddTemplate = 32,  // add as template
    CondType_Resample = 64,  // re-sample
};

// The operator text of a start reason; "未知" for 0 and for every
// combination of flags.
QString Condition_Type_2_Str(Condition_Type type);

// Run states of a group or of the flow.
enum : int { FlowRunState_Detect = 0, FlowRunState_Sampling = 1, FlowRunState_NGStop = 2 };

// The operator routes that release a held machine. While a work event has
// lost a camera's result (the data-lost flag of the main camera) every
// detection stops the machine again, and only the forced restore releases
// it; an NG stop alone is released by a no-check, re-detect or
// add-template action aimed at the stopped unit. Empty when nothing holds.
QStringList holdReleaseRoutes(bool dataLost, bool ngStop);
// Results of a detection.
enum : int { FlowResult_None = -1, FlowResult_NG = 0, FlowResult_OK = 1 };
// Work stages of a unit's receipt.
enum : int { FlowWorkState_Working = 0, FlowWorkState_Detected = 1, FlowWorkState_Waiting = 2 };

// Why and how a cycle started.
struct FlowWork_Condition {
    Condition_Type cond_type = CondType_None;
    QString cond_url;  // the work-event topic, e.g. "/dide/action/io_catch"
    QStringList cond_action_deviceids;  // cameras that take part
    // Detect at once: the detect part and the IO parts skip their delay.
    bool cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = false;
    bool cond_extra_flag1 = true;  // not serialised
    bool cond_extra_flag2 = true;  // not serialised
    bool cond_extra_flag3 = true;  // not serialised
    QList<IO_IndexLevel> cond_trig_levels;  // inputs that fired; not serialised
    int cond_input_bits = 0;  // all input bits at the trigger; not serialised
    int cond_detect_index = -1;  // aimed relative detect index
    int cond_detect_index_abs = -1;  // aimed absolute detect index; not serialised
    bool cond_resample_rm_oldtemp = false;
    int cond_resultctrl_preindex = -1;  // previous-result passport: whose result
    bool cond_resultctrl_result = true;  // previous-result passport: that result
    // The operator who asked for the cycle (the request's "User-ID"; empty
    // for the machine's own cycles). Not serialised: the work event carries
    // it to the other cameras in its own data.
    QString cond_user_id;
};

// The result record of one unit's work in a cycle.
struct FlowWork_Receipt {
    int rcpt_detect_index = -1;  // relative detect index of the unit
    int rcpt_runstate = FlowRunState_Detect;
    int rcpt_workstate = FlowWorkState_Waiting;
    int rcpt_result = FlowResult_None;
    QMap<QString, SCollect_Unit> rcpt_collects;  // per camera, by device id
    bool rcpt_ngstop = false;  // the cycle ends in a machine stop
    int rcpt_remain_ms = 0;  // remaining wait of the part, never below 0
};

// The run state of one group.
struct FlowGroup_State {
    QList<int> fgs_units_indexabs;
    int fgs_runstate = FlowRunState_Detect;
    int fgs_runnode = -1;  // relative index of the unit run next; -1 none
    QList<int> fgs_remain_detects;
    QList<int> fgs_remain_trains;
    QStringList fgs_remain_trains_cameras;
    int fgs_working_unitindex_abs = -1;
    int period_ms = 0;  // never serialised
    QMap<int, FlowWork_Receipt> fgs_recycle_detectinfo;  // last receipt per detect index
    QString fgs_zrp_describe;
    int fgs_zrp_flag = 0;
    int fgs_zrp_show_unitindex_abs = -1;

    // Every field but the receipt map is equal.
    bool operator==(const FlowGroup_State& o) const;
    bool operator!=(const FlowGroup_State& o) const { return !(*this == o); }

    // Stores `receipt` for `detect_index` unless an NG receipt is already
    // stored there: an NG stays until the map is emptied.
    void update_fgs_recycle_lastresult(int detect_index, FlowWork_Receipt receipt);
};

// The run state of one unit.
struct FlowUnit_State {
    int fus_detect_index = -1;
    int fus_detect_index_abs = -1;
    QVariantMap fus_last_detected_info;  // camera id -> {"result": bool}
    Condition_Type fus_last_detect_type = CondType_None;
    int fus_redetect_interval = 100;  // ms
    int fus_redetect_times = 0;
};

// The state of the whole flow handed to a group with each passport.
struct FlowProc_State {
    int proc_group_index = -1;
    int proc_runstate = FlowRunState_Detect;  // 2 = NG stop
    int proc_running_node = -1;
};

// What a group wants shown as the run state.
struct FlowWork_DisplayArea {
    QString area_text;  // the group's or unit's name (groups start from "UNKNOW")
    int area_unitindex_abs = -1;
    int area_mode = FlowRunState_Detect;  // 0 detect, 1 sampling, 2 stop
    int area_workstate = FlowWorkState_Waiting;  // 0 working, 1 detected, 2 waiting
    int area_result = FlowResult_None;  // 1 = OK
    QString area_language = QStringLiteral("zh-CN");

    // " " + area_text + the state word of the mode, work stage and result, in
    // area_language.
    QString Describe() const;
    // The run-state code of the same row: 0 waiting, 1 detecting, 2 detected,
    // 3 stopping or stopped, 4 waiting to sample, 5 sampling, 6 sampled.
    int ZRP_Runstate() const;
};

// One JSON value per element, in list order.
template <typename T>
QJsonArray func_list_2_jsonarray(const QList<T>& list)
{
    QJsonArray array;
    for (const T& v : list)
        array.append(QJsonValue::fromVariant(QVariant::fromValue(v)));
    return array;
}

// One element per array element, in array order: an element that already
// holds a T is taken as it is, any other is converted by the variant
// conversion, and one that cannot be converted gives an empty text or 0.
template <typename T>
QList<T> func_jsonarray_2_list(const QJsonArray& array)
{
    QList<T> list;
    list.reserve(array.size());
    for (const QJsonValue& e : array) {
        const QVariant v = e.toVariant();
        if (v.userType() == qMetaTypeId<T>())
            list.append(v.value<T>());
        else if (v.canConvert<T>())
            list.append(v.value<T>());
        else
            list.append(T());
    }
    return list;
}

Q_DECLARE_METATYPE(FlowWork_Condition)
Q_DECLARE_METATYPE(FlowWork_Receipt)
Q_DECLARE_METATYPE(FlowGroup_State)
Q_DECLARE_METATYPE(FlowUnit_State)
Q_DECLARE_METATYPE(FlowProc_State)
Q_DECLARE_METATYPE(FlowWork_DisplayArea)
