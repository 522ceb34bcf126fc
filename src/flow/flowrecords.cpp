#include "flow/flowrecords.h"

#include "foundation/publictools.h"
#include "foundation/qstring_tl.h"

QStringList holdReleaseRoutes(bool dataLost, bool ngStop)
{
    if (dataLost)
        return {QStringLiteral("/dide/action/forcerestore")};
    if (ngStop)
        return {QStringLiteral("/dide/action/noactionmold"), QStringLiteral("/dide/action/redetect"),
                QStringLiteral("/dide/action/addtemplate")};
    return {};
}

QString Condition_Type_2_Str(Condition_Type type)
{
    switch (type) {
    case CondType_IOTrig:
        return QStringLiteral("IO触发");
    case CondType_ManualTrig:
        return QStringLiteral("手动抓拍");
    case CondType_PreResult:
        return QStringLiteral("前一个检测结果");
    case CondType_NoCheck:
        return QStringLiteral("不检测此模");
    case CondType_ReDetect:
        return QStringLiteral("重新检测");
    case CondType_AddTemplate:
        return QStringLiteral("添加为模板");
    case CondType_Resample:
        return QStringLiteral("重新取样");
    default:
        return QStringLiteral("未知");
    }
}

bool FlowGroup_State::operator==(const FlowGroup_State& o) const
{
    return fgs_units_indexabs == o.fgs_units_indexabs && fgs_runstate == o.fgs_runstate
           && fgs_runnode == o.fgs_runnode && fgs_remain_detects == o.fgs_remain_detects
           && fgs_remain_trains == o.fgs_remain_trains
           && fgs_remain_trains_cameras == o.fgs_remain_trains_cameras
           && fgs_working_unitindex_abs == o.fgs_working_unitindex_abs && period_ms == o.period_ms
           && fgs_zrp_describe == o.fgs_zrp_describe && fgs_zrp_flag == o.fgs_zrp_flag
           && fgs_zrp_show_unitindex_abs == o.fgs_zrp_show_unitindex_abs;
}

void FlowGroup_State::update_fgs_recycle_lastresult(int detect_index, FlowWork_Receipt receipt)
{
    auto it = fgs_recycle_detectinfo.constFind(detect_index);
    if (it != fgs_recycle_detectinfo.constEnd() && it->rcpt_result == FlowResult_NG)
        return;  // an NG of this period is kept
    fgs_recycle_detectinfo.insert(detect_index, receipt);
}

namespace {

struct DisplayRow {
    QString zh;
    QString en;
    int code;
};

// The state word and code of a display area; `found` false when the
// combination has no word (code 0).
DisplayRow displayRow(const FlowWork_DisplayArea& a, bool& found)
{
    found = true;
    switch (a.area_mode) {
    case FlowRunState_Detect:
        switch (a.area_workstate) {
        case FlowWorkState_Waiting:
            return {QStringLiteral(" 等待中"), QStringLiteral(" Waiting"), 0};
        case FlowWorkState_Working:
            return {QStringLiteral(" 检测中"), QStringLiteral(" Detecting"), 1};
        case FlowWorkState_Detected:
            if (a.area_result == FlowResult_OK)
                return {QStringLiteral(" 检测完"), QStringLiteral(" Detected"), 2};
            return {QStringLiteral(" 停止中"), QStringLiteral(" Stopping"), 3};
        default:
            break;
        }
        break;
    case FlowRunState_Sampling:
        switch (a.area_workstate) {
        case FlowWorkState_Waiting:
            return {QStringLiteral(" 取样等待中"), QStringLiteral(" Wait Sampling"), 4};
        case FlowWorkState_Working:
            return {QStringLiteral(" 取样中"), QStringLiteral(" Sampling"), 5};
        case FlowWorkState_Detected:
            return {QStringLiteral(" 取样完"), QStringLiteral(" Sampling Finish"), 6};
        default:
            break;
        }
        break;
    case FlowRunState_NGStop:
        return {QStringLiteral(" 停止中"), QStringLiteral(" Stop"), 3};
    default:
        break;
    }
    found = false;
    return {QString(), QString(), 0};
}

}  // namespace

QString FlowWork_DisplayArea::Describe() const
{
    bool found = false;
    const DisplayRow row = displayRow(*this, found);
    QString text = QStringLiteral(" ") + area_text;
    if (found)
        text += TRANS_LANG(area_language, QString_TL(row.zh, row.en));
    return text;
}

int FlowWork_DisplayArea::ZRP_Runstate() const
{
    bool found = false;
    return displayRow(*this, found).code;
}
