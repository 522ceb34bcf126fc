#include "flow/flowlayout_standard.h"
#include "foundation/logmanager.h"

#include "flow/flowbox_group.h"
#include "flow/flowframeworkbuilder.h"
#include "flow/flowlayoutsteps.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowpart_cond_preresult.h"
#include "flow/flowunit_standard_detect.h"
#include "io/frameio.h"

const int FlowLayout_Standard::kTriggerFlags[8] = {1, 3, 1, 1, 1, 1, 1, 1};

using namespace flowlayout;

namespace {

// An IO condition on `input` at the levels the layout's trigger flags name,
// whatever flags the IO frame holds now (a preview does not write them).
FlowPart_Cond_IO* trigIO(FlowUnit_Standard_Detect* u, int input)
{
    FlowPart_Cond_IO* c = u->create_0_Cond_TrigIO(input);
    c->set_trigger_list(levelsOfFlags(input, FlowLayout_Standard::kTriggerFlags[input]));
    return c;
}

}  // namespace

QJsonObject FlowLayout_Standard::create_QuickFrame_Standard(FlowFrameworkBuilder& builder,
                                                             const QMap<QString, QVariant>& paras, bool build,
                                                             const QJsonObject& params)
{
    Q_UNUSED(paras)
    QList<FlowBox_Group*> preview;
    if (build)
        builder.clear_Frameworks();
    QList<FlowBox_Group*>& list = build ? builder.liveGroups() : preview;

    // The trigger flags belong to the running flow: a preview leaves them.
    if (build) {
        if (FrameIO* frame = builder.frameIO())
            frame->setIO_TrigIn(kTriggerFlags);
    }

    FlowBox_Group* group = builder.newGroup(nullptr);
    if (!group) {
        qCWarning(level_1) << "<create_QuickFrame_Standard>: no group could be made";
        return FlowFrameworkBuilder::frameworkJson(list);
    }
    list.append(group);

    auto* P = new FlowUnit_Standard_Detect(group);
    group->append_FlowUnit(P);
    P->set_user_describe(QString_TL(QStringLiteral("成品"), QStringLiteral("Proc")));
    auto* M = new FlowUnit_Standard_Detect(group);
    group->append_FlowUnit(M);
    M->set_user_describe(QString_TL(QStringLiteral("模腔"), QStringLiteral("Mold")));
    M->setRedetectTimes(flowparams::toInt(params, "s_moulding_retimes"), 100);

    builder.chk_Frameworks(list, build);

    const bool PD = flowparams::toBool(params, "s_action_productdetect");
    const bool SA = flowparams::toBool(params, "s_semi_automatic");
    const int T = flowparams::tenthsToMs(params, "i_thimble_pulse");
    const int C = flowparams::tenthsToMs(params, "i_closemold_pulse");

    // Start conditions.
    if (PD) {
        P->set_enable(true);
        M->set_enable(true);
        FlowPart_Cond_IO* c = trigIO(P, 0);
        c->add_action_iooutput({0, 1}, IOState_Rel_Active, 0, 0);
        P->update_CondAction_2_StaticSet(c);
        if (SA) {
            FlowPart_Cond_IO* m = trigIO(M, 2);
            m->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
            M->update_CondAction_2_StaticSet(m);
        } else {
            M->create_0_Cond_PreResult(0, true);
        }
    } else {
        P->set_enable(false);
        if (SA) {
            FlowPart_Cond_IO* c1 = trigIO(M, 0);
            c1->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
            c1->set_cond_flag(1, false);
            FlowPart_Cond_IO* c2 = trigIO(M, 2);
            c2->set_condwith_PreConditions(c1->get_part_uuid());
            M->update_CondAction_2_StaticSet(c2);
        } else {
            FlowPart_Cond_IO* c = trigIO(M, 0);
            c->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
            c->set_cond_flag(1, true);
            M->update_CondAction_2_StaticSet(c);
        }
    }

    // Safety door.
    doorOpen(P);
    doorClose(P, CondType_NoCheck, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，直接解除NG"));
    doorOpen(M);
    doorClose(M, CondType_ReDetect, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，重新检测模腔"));

    P->set_2_DetectDelayTime(flowparams::tenthsToMs(params, "s_product_delaytime"));
    M->set_2_DetectDelayTime(flowparams::tenthsToMs(params, "s_moulding_delaytime"));

    P->create_3_NG_Stop();
    P->create_3_AftIO_OK({1, 2}, IOState_Rel_Rest, 0, 0);
    P->create_3_AftIO_NG({1, 2}, IOState_Rel_Active, 0, 0);
    M->create_3_NG_Stop();
    M->create_3_AftIO_OK({0, 2}, IOState_Rel_Rest, 0, 0);
    M->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, 0);

    // 1: pre-cut before the mould detection.
    const int precut = flowparams::tenthsToMs(params, "i_precut");
    if (precut > 0) {
        P->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        M->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        M->add_1_PreIO_BeforeDetect({0}, IOState_Rel_Active, precut, 0);
    }
    // 2: cut on close.
    if (flowparams::toBool(params, "i_isCloseCut")) {
        P->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        M->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        M->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    }
    // 3: the product's NG and output 1.
    if (PD && flowparams::toBool(params, "i_isNG0NoCut"))
        P->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond | kWhereOK | kWhereNG);
    if (PD && flowparams::toBool(params, "i_isNG0CutT")) {
        P->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        P->create_3_AftIO_NG({1}, IOState_Rel_Active, 0, 0);
    }
    // 4: the mould's NG and output 0.
    if (flowparams::toBool(params, "i_isNG1CutT")) {
        P->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        M->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        M->create_3_AftIO_NG({0}, IOState_Rel_Active, 0, 0);
    }
    // 5: NG on outputs 0 and 2, OK pulse on output 1, no stop.
    if (flowparams::toBool(params, "i_isNG1OK2")) {
        P->del_Stop(kWhereNG);
        M->del_Stop(kWhereNG);
        P->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
        M->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
        P->add_all_action_iooutput({0, 1, 2}, IOState_Rel_Rest, 0, 0);
        P->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, T);
        P->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, C);
        M->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, T);
        M->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, C);
    }
    // 6: thimble pulse.
    if (flowparams::toBool(params, "i_isThimblePulse")) {
        P->del_IOOutput_FromList({{1, IOState_Rel_Rest}}, kWhereOK);
        P->create_3_AftIO_OK({1}, IOState_Rel_Rest, 0, T);
    }
    // 7: close-mould pulse.
    if (flowparams::toBool(params, "i_isClosePulse")) {
        M->del_IOOutput_FromList({{0, IOState_Rel_Rest}}, kWhereOK);
        M->create_3_AftIO_OK({0}, IOState_Rel_Rest, 0, C);
    }
    // 8: closing the door starts the mould detection as its trigger would.
    if (flowparams::toBool(params, "i_isAllSafeDoor")) {
        FlowWork_Condition cond = ioCatchCondition(SA ? 2 : 0);
        M->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High), &cond);
    }
    // 9: product NG as a pulse.
    const int ng0 = flowparams::toInt(params, "i_isNG0Pulse_Muti");
    if (ng0 > 0) {
        P->add_all_action_iooutput({1, 2}, IOState_Rel_Rest, 0, 0);
        P->del_Stop(kWhereNG);
        P->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        P->del_IOOutput_FromList({{1, IOState_Rel_Active}, {2, IOState_Rel_Active}}, kWhereNG);
        if (ng0 == 1)
            P->create_3_AftIO_NG({1}, IOState_Rel_Active, 0, T);
        else if (ng0 == 2)
            P->create_3_AftIO_NG({1, 2}, IOState_Rel_Active, 0, T);
    }
    // 10: mould NG as a pulse.
    const int ng1 = flowparams::toInt(params, "i_isNG1Pulse_Muti");
    if (ng1 > 0) {
        M->add_all_action_iooutput({0, 2}, IOState_Rel_Rest, 0, 0);
        M->del_Stop(kWhereNG);
        M->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        M->del_IOOutput_FromList({{1, IOState_Rel_Active}, {2, IOState_Rel_Active}}, kWhereNG);
        P->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        if (ng1 == 1)
            M->create_3_AftIO_NG({0}, IOState_Rel_Active, 0, C);
        else if (ng1 == 2)
            M->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, C);
    }
    // 11: closing the door re-detects the product instead of releasing it.
    if (flowparams::toBool(params, "i_NG0Redect_SafeDoor")) {
        P->del_IOCtrl_OperType(CondType_NoCheck);
        FlowPart_Cond_IO_ChgOper* c = P->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High),
                                                                     Condition_Type(CondType_ReDetect));
        c->set_cond_flag(3, true);
    }
    // 12: input 3 releases without a check.
    if (flowparams::toBool(params, "i_input3NoCheck")) {
        for (FlowUnit_Standard_Detect* u : {P, M}) {
            FlowPart_Cond_IO_ChgOper* c = u->create_0_Cond_ChgIO_Operate(qMakePair(3, ElectricLevel_High),
                                                                         Condition_Type(CondType_NoCheck));
            c->set_cond_flag(3, true);
        }
    }
    // 13: a trigger during the NG stop re-detects.
    if (flowparams::toBool(params, "i_ng_trig2redetect")) {
        QList<QPair<FlowUnit_Standard_Detect*, int>> targets;
        if (PD && SA)
            targets = {qMakePair(P, 0), qMakePair(M, 2)};
        else if (PD)
            targets = {qMakePair(P, 0)};
        else
            targets = {qMakePair(M, 0)};
        for (const auto& t : targets) {
            FlowPart_Cond_IO_ChgOper* c = t.first->create_0_Cond_ChgIO_Operate(
                qMakePair(t.second, ElectricLevel_High), Condition_Type(CondType_ReDetect));
            c->set_condwith_runstates({FlowRunState_NGStop});
            c->set_cond_flag(3, true);
        }
    }
    // 14: inputs 0 and 1 drive outputs 1 and 0 on their own.
    if (flowparams::toBool(params, "i_i0i1_IndependentControl_o0o1")) {
        P->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
        M->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
        FlowPart_Cond_IO* c = trigIO(P, 0);
        c->add_action_iooutput({1}, IOState_Rel_Active, 0, 0);
        FlowPart_Cond_IO* m = trigIO(M, 2);
        m->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
        m->set_runnode_override(true);
        P->create_3_AftIO_OK({1, 2}, IOState_Rel_Rest, 0, 0);
        P->create_3_AftIO_NG({1, 2}, IOState_Rel_Active, 0, 0);
        M->create_3_AftIO_OK({0, 2}, IOState_Rel_Rest, 0, 0);
        M->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, 0);
    }
    // 15: the buzzer on NG.
    const int buzzer = flowparams::toInt(params, "i_closeNGBuzzer_Muti");
    if (buzzer == 1) {
        if (ng0 > 0)
            P->create_3_AftIO_NG({2}, IOState_Rel_Active, 0, T);
        if (ng1 > 0)
            M->create_3_AftIO_NG({2}, IOState_Rel_Active, 0, C);
    } else if (buzzer == 2) {
        P->del_IOOutput_FromList({{2, IOState_Rel_Active}}, kWhereNG);
        M->del_IOOutput_FromList({{2, IOState_Rel_Active}}, kWhereNG);
    }

    const QJsonObject result = FlowFrameworkBuilder::frameworkJson(list);
    if (!build)
        FlowFrameworkBuilder::destroyGroups(preview);
    return result;
}
