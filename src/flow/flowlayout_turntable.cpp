#include "flow/flowlayout_turntable.h"
#include "foundation/logmanager.h"

#include "flow/flowbox_group.h"
#include "flow/flowframeworkbuilder.h"
#include "flow/flowlayoutsteps.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_cond_preresult.h"
#include "flow/flowunit_standard_detect.h"

using namespace flowlayout;

namespace {

using Unit = FlowUnit_Standard_Detect;

// The unit's manual-trigger conditions accept only while `input` is high.
void manual(Unit* u, int input)
{
    for (FlowPart_Condition* c : u->get_FlowPart_Cond_FromClassType(CondType_ManualTrig)) {
        if (auto* m = qobject_cast<FlowPart_Cond_ManualTrig*>(c))
            m->set_condwith_ioinput_state({IO_IndexLevel{input, ElectricLevel_High}});
    }
}

Unit* newUnit(FlowBox_Group* g, const char* zh, const char* en)
{
    auto* u = new Unit(g);
    g->append_FlowUnit(u);
    u->set_user_describe(QString_TL(QString::fromUtf8(zh), QString::fromUtf8(en)));
    return u;
}

// Start conditions of one station: product unit P on `procInput`, mould
// unit M, manual triggers on `manualP` and `manualM`.
void stationStart(Unit* P, Unit* M, bool PD, bool SA, int procInput, int manualP, int manualM)
{
    if (PD) {
        P->set_enable(true);
        M->set_enable(true);
        FlowPart_Cond_IO* c = P->create_0_Cond_TrigIO(procInput);
        c->add_action_iooutput({0, 1}, IOState_Rel_Active, 0, 0);
        manual(P, manualP);
        P->update_CondAction_2_StaticSet(c);
        FlowPart_Condition* m = nullptr;
        if (SA)
            m = M->create_0_Cond_TrigIO(2);
        else
            m = M->create_0_Cond_PreResult(P->get_detect_index(), true);
        m->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
        manual(M, manualM);
        M->update_CondAction_2_StaticSet(m);
        return;
    }
    P->set_enable(false);
    FlowPart_Cond_IO* c1 = M->create_0_Cond_TrigIO(procInput);
    c1->add_action_iooutput({0}, IOState_Rel_Active, 0, 0);
    if (SA) {
        c1->set_cond_flag(1, false);
        FlowPart_Cond_IO* c2 = M->create_0_Cond_TrigIO(2);
        c2->set_condwith_PreConditions(c1->get_part_uuid());
        c2->set_cond_flag(1, true);
        manual(M, manualM);
        M->update_CondAction_2_StaticSet(c2);
    } else {
        c1->set_cond_flag(1, true);
        manual(M, manualM);
        M->update_CondAction_2_StaticSet(c1);
    }
}

void afterDetect(Unit* u, bool product)
{
    const QList<int> outputs = product ? QList<int>{1, 2} : QList<int>{0, 2};
    u->create_3_NG_Stop();
    u->create_3_AftIO_OK(outputs, IOState_Rel_Rest, 0, 0);
    u->create_3_AftIO_NG(outputs, IOState_Rel_Active, 0, 0);
}

}  // namespace

QJsonObject FlowLayout_Turntable::create_QuickFrame_Turntable(FlowFrameworkBuilder& builder,
                                                               const QMap<QString, QVariant>& paras, bool build,
                                                               const QJsonObject& params)
{
    const int selector = paras.value(QStringLiteral("i_program_turntable_type")).toInt();
    QList<FlowBox_Group*> preview;
    if (build)
        builder.clear_Frameworks();
    QList<FlowBox_Group*>& list = build ? builder.liveGroups() : preview;

    // The groups are wired to the manager by chk_Frameworks, for a live build
    // only: a preview's groups never run.
    FlowBox_Group* G0 = builder.newGroup(builder.manager());
    FlowBox_Group* G1 = builder.newGroup(builder.manager());
    if (!G0 || !G1) {
        qCWarning(level_1) << "<create_QuickFrame_Turntable>: no group could be made";
        delete G0;
        delete G1;
        return FlowFrameworkBuilder::frameworkJson(list);
    }
    G0->set_group_index(0);
    list.append(G0);
    G1->set_group_index(1);
    list.append(G1);

    Unit* LP = newUnit(G0, "左成品", "Left Proc");
    Unit* LM = newUnit(G0, "左模腔", "Left Mold");
    Unit* RP = newUnit(G1, "右成品", "Right Proc");
    Unit* RM = newUnit(G1, "右模腔", "Right Mold");
    const int retimes = flowparams::toInt(params, "s_moulding_retimes");
    LM->setRedetectTimes(retimes, 100);
    RM->setRedetectTimes(retimes, 100);

    builder.chk_Frameworks(list, build);

    const bool PD = flowparams::toBool(params, "s_action_productdetect");
    const bool SA = flowparams::toBool(params, "s_semi_automatic");
    const int T = flowparams::tenthsToMs(params, "i_thimble_pulse");
    const int C = flowparams::tenthsToMs(params, "i_closemold_pulse");

    // Start conditions; the manual inputs of the right mould unit follow the
    // recipe of each mode.
    stationStart(LP, LM, PD, SA, 0, 0, 0);
    const int manualRM = PD ? (SA ? 0 : 3) : (SA ? 3 : 0);
    stationStart(RP, RM, PD, SA, 3, 3, manualRM);

    if (selector == 1) {
        G1->set_enable(false);
        RP->set_enable(false);
        RM->set_enable(false);
    } else if (selector == 2) {
        G0->set_enable(false);
        LP->set_enable(false);
        LM->set_enable(false);
    }

    const int procDelay = flowparams::tenthsToMs(params, "s_product_delaytime");
    const int mouldDelay = flowparams::tenthsToMs(params, "s_moulding_delaytime");
    LP->set_2_DetectDelayTime(procDelay);
    RP->set_2_DetectDelayTime(procDelay);
    LM->set_2_DetectDelayTime(mouldDelay);
    RM->set_2_DetectDelayTime(mouldDelay);

    for (Unit* u : {LP, LM, RP, RM})
        doorOpen(u);
    doorClose(LP, CondType_NoCheck, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，直接解除NG"));
    doorClose(LM, CondType_ReDetect, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，重新检测模腔"));
    doorClose(RP, CondType_NoCheck, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，直接解除NG"));
    doorClose(RM, CondType_ReDetect, QT_TRANSLATE_NOOP("Product_Manager", "安全门闭合，重新检测模腔"));

    afterDetect(LP, true);
    afterDetect(LM, false);
    afterDetect(RP, true);
    afterDetect(RM, false);

    // 1: pre-cut before the mould detection. Both product units lose their
    // output-0 trigger action, as the mould units do.
    const int precut = flowparams::tenthsToMs(params, "i_precut");
    if (precut > 0) {
        LP->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        LM->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        LM->add_1_PreIO_BeforeDetect({0}, IOState_Rel_Active, precut, 0);
        RP->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        RM->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        RM->add_1_PreIO_BeforeDetect({0}, IOState_Rel_Active, precut, 0);
    }
    // 2: cut on close.
    if (flowparams::toBool(params, "i_isCloseCut")) {
        LP->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        LM->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
        RP->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
        RM->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    }
    // 3: the products' NG and output 1.
    if (PD && flowparams::toBool(params, "i_isNG0NoCut")) {
        LP->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond | kWhereOK | kWhereNG);
        RP->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond | kWhereOK | kWhereNG);
    }
    if (PD && flowparams::toBool(params, "i_isNG0CutT")) {
        for (const auto& pair : {qMakePair(LP, LM), qMakePair(RP, RM)}) {
            pair.first->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
            pair.second->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
            pair.first->create_3_AftIO_NG({1}, IOState_Rel_Active, 0, 0);
        }
    }
    // 4: the moulds' NG and output 0.
    if (flowparams::toBool(params, "i_isNG1CutT")) {
        for (const auto& pair : {qMakePair(LP, LM), qMakePair(RP, RM)}) {
            pair.first->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
            pair.second->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
            pair.second->create_3_AftIO_NG({0}, IOState_Rel_Active, 0, 0);
        }
    }
    // 5: NG on outputs 0 and 2, OK pulse on output 1, no stop.
    if (flowparams::toBool(params, "i_isNG1OK2")) {
        for (const auto& pair : {qMakePair(LP, LM), qMakePair(RP, RM)}) {
            Unit* p = pair.first;
            Unit* m = pair.second;
            p->del_Stop(kWhereNG);
            m->del_Stop(kWhereNG);
            p->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
            m->del_IOOutput_All(kWhereCond | kWhereOK | kWhereNG);
            p->add_all_action_iooutput({0, 1, 2}, IOState_Rel_Rest, 0, 0);
            p->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, T);
            p->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, C);
            m->create_3_AftIO_NG({0, 2}, IOState_Rel_Active, 0, T);
            m->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, C);
        }
    }
    // 6: thimble pulse.
    if (flowparams::toBool(params, "i_isThimblePulse")) {
        for (Unit* p : {LP, RP}) {
            p->del_IOOutput_FromList({{1, IOState_Rel_Rest}}, kWhereOK);
            p->create_3_AftIO_OK({1}, IOState_Rel_Rest, 0, T);
        }
    }
    // 7: close-mould pulse.
    if (flowparams::toBool(params, "i_isClosePulse")) {
        for (Unit* m : {LM, RM}) {
            m->del_IOOutput_FromList({{0, IOState_Rel_Rest}}, kWhereOK);
            m->create_3_AftIO_OK({0}, IOState_Rel_Rest, 0, C);
        }
    }
    // 8: closing the door starts the mould detection as its trigger would.
    if (flowparams::toBool(params, "i_isAllSafeDoor")) {
        FlowWork_Condition cond = ioCatchCondition(SA ? 2 : 0);
        LM->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High), &cond);
        RM->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High), &cond);
    }
    // 9: product NG as a pulse.
    if (flowparams::toInt(params, "i_isNG0Pulse_Muti") == 1) {
        for (Unit* p : {LP, RP}) {
            p->add_all_action_iooutput({1, 2}, IOState_Rel_Rest, 0, 0);
            p->del_Stop(kWhereNG);
            p->del_IOOutput_FromList({{1, IOState_Rel_Active}}, kWhereCond);
            p->del_IOOutput_FromList({{1, IOState_Rel_Active}, {2, IOState_Rel_Active}}, kWhereNG);
            p->create_3_AftIO_NG({1}, IOState_Rel_Active, 0, T);
        }
    }
    // 10: mould NG as a pulse.
    if (flowparams::toInt(params, "i_isNG1Pulse_Muti") == 1) {
        for (const auto& pair : {qMakePair(LP, LM), qMakePair(RP, RM)}) {
            Unit* p = pair.first;
            Unit* m = pair.second;
            m->add_all_action_iooutput({0, 2}, IOState_Rel_Rest, 0, 0);
            m->del_Stop(kWhereNG);
            m->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
            m->del_IOOutput_FromList({{1, IOState_Rel_Active}, {2, IOState_Rel_Active}}, kWhereNG);
            m->create_3_AftIO_NG({0}, IOState_Rel_Active, 0, C);
            p->add_all_action_iooutput({0, 1, 2}, IOState_Rel_Rest, 0, 0);
            p->del_IOOutput_FromList({{0, IOState_Rel_Active}}, kWhereCond);
        }
    }
    // 11: closing the door re-detects the products instead of releasing them.
    if (flowparams::toBool(params, "i_NG0Redect_SafeDoor")) {
        for (Unit* p : {LP, RP}) {
            p->del_IOCtrl_OperType(CondType_NoCheck);
            FlowPart_Cond_IO_ChgOper* c = p->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High),
                                                                         Condition_Type(CondType_ReDetect));
            c->set_cond_flag(3, true);
        }
    }

    const QJsonObject result = FlowFrameworkBuilder::frameworkJson(list);
    if (!build)
        FlowFrameworkBuilder::destroyGroups(preview);
    return result;
}
