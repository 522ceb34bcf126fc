// The standard detect unit: its parts at construction, which condition
// answers a passport, a whole cycle from start to finish in its order, the
// after-detect parts of each result, its JSON both ways, and the builders and
// editors the layouts use.
#include "flow/flowbox_group.h"
#include "flow/flowpart_aftdect_ngstop.h"
#include "flow/flowpart_afterdetect.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowpart_cond_manualtrig.h"
#include "flow/flowpart_cond_preresult.h"
#include "flow/flowpart_detect.h"
#include "flow/flowpart_io.h"
#include "flow/flowunit_standard_detect.h"
#include "flowbasetestbench.h"
#include "support/testproductinterface.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

#include <memory>

using namespace flowbase;
using testsupport::TestProductInterface;

namespace {

// What the group saw when a unit reported its finish.
struct FinishSeen {
    FlowUnit_Passport passport;
    bool unitWorking = false;
    int outputsSent = 0;
    QStringList productCalls;
    QVariantMap stash;
    int unitWorkstate = -1;
};

class RecordingGroup : public FlowBox_Group {
public:
    QList<FinishSeen> finishes;
    std::function<FinishSeen(const FlowUnit_Passport&)> snapshot;
    QJsonObject get_FlowSerialize() override { return {}; }
    void slot_Group_DoUnitWorkFinish(FlowUnit_Passport passport) override
    {
        FinishSeen seen;
        seen.passport = passport;
        finishes << (snapshot ? snapshot(passport) : seen);
    }
};

// A group with one standard unit wired to a recording IO frame and a test
// product interface with two cameras.
struct UnitBench {
    OutputRecorder frame;
    TestProductInterface product;
    RecordingGroup group;
    FlowUnit_Standard_Detect* unit = nullptr;

    explicit UnitBench(int rel = 0, int abs = 0, bool withProduct = true)
    {
        group.inst_iface = makeIface(&frame, withProduct ? &product : nullptr, {"CAM-A", "CAM-B"});
        group.inst_iface.language = QStringLiteral("en-US");
        unit = new FlowUnit_Standard_Detect(&group);
        group.append_FlowUnit(unit);
        unit->set_detect_index(rel);
        unit->set_detect_index_abs(abs);
        unit->set_cond_sortindex(rel, abs);
        group.snapshot = [this](const FlowUnit_Passport& p) {
            FinishSeen s;
            s.passport = p;
            s.unitWorking = unit->get_isworking();
            s.outputsSent = frame.sent.size();
            s.productCalls = product.calls;
            s.stash = unit->get_Stash_LastResultMaps();
            s.unitWorkstate = unit->get_UnitReceipt().rcpt_workstate;
            return s;
        };
    }

    // Offers a passport, starts the unit with the accepted one and lets the
    // queued finish arrive. False when no condition accepted it.
    bool runCycle(FlowUnit_Passport p)
    {
        const CVariant<FlowUnit_Passport> accepted = unit->chkPassport(p);
        if (accepted.isEmpty())
            return false;
        const int before = group.finishes.size();
        unit->slot_OnStart_UnitWork(accepted.getValue());
        return waitUntil([&] { return group.finishes.size() > before; });
    }
};

FlowUnit_Passport ioPassport(int input, int level, int runnode = 0)
{
    FlowUnit_Passport p = passportOf(CondType_IOTrig, QStringLiteral("IO-1"));
    p.condition.cond_url = QStringLiteral("/dide/action/io_catch");
    p.condition.cond_trig_levels = {lv(input, level)};
    FlowGroup_State g;
    g.fgs_runnode = runnode;
    p.set_group_state(g);
    return p;
}

FlowUnit_Passport manualPassport(int abs)
{
    FlowUnit_Passport p = passportOf(CondType_ManualTrig, QStringLiteral("M-1"));
    p.condition.cond_url = QStringLiteral("/dide/action/manual_catch");
    p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    p.condition.cond_detect_index_abs = abs;
    return p;
}

QStringList partTypes(const QList<FlowPart_Base*>& parts)
{
    QStringList types;
    for (FlowPart_Base* p : parts)
        types << p->get_part_type();
    return types;
}

TEST(StandardDetectUnit, ANewUnitHasTheFourOperatorConditionsAndADetectPart)
{
    UnitBench b;
    EXPECT_EQ(b.unit->get_unit_type(), QStringLiteral("FlowUnit_Standard_Detect"));
    EXPECT_EQ(partTypes(b.unit->get_part_cond()),
              (QStringList{"FlowPart_Cond_ManualTrig", "FlowPart_Cond_Nocheck", "FlowPart_Cond_ReDetect",
                           "FlowPart_Cond_AddTemp"}));
    ASSERT_NE(b.unit->get_part_detect(), nullptr);
    EXPECT_TRUE(b.unit->get_part_after().isEmpty());
    EXPECT_EQ(b.unit->get_group(), &b.group);
    EXPECT_EQ(b.unit->parent(), &b.group);
    for (FlowPart_Base* p : b.unit->get_part_cond()) {
        EXPECT_EQ(p->get_inst_iface().frame_io.data(), &b.frame);
        EXPECT_EQ(qobject_cast<FlowPart_Condition*>(p)->get_part_unit(), nullptr);
    }
    EXPECT_EQ(b.unit->get_part_detect()->get_inst_iface().product_iface.data(), &b.product);
}

TEST(StandardDetectUnit, TheOperatorConditionsGoWithTheUnitEvenWithoutClearing)
{
    const int before = g_flowpart_base_count;
    {
        RecordingGroup group;
        auto* unit = new FlowUnit_Standard_Detect(&group);
        group.append_FlowUnit(unit);
        unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
        EXPECT_EQ(g_flowpart_base_count, before + 6);
    }
    EXPECT_EQ(g_flowpart_base_count, before);
}

TEST(StandardDetectUnit, TheLastAcceptingConditionThatProducesAPassportWins)
{
    UnitBench b(0, 0);
    FlowPart_Cond_IO* first = b.unit->create_0_Cond_TrigIO(3, ElectricLevel_High);
    FlowPart_Cond_IO* second = b.unit->create_0_Cond_TrigIO(3, ElectricLevel_High);
    second->set_cond_flag(0, true);  // its passport asks to detect at once

    for (int round = 0; round < 2; ++round) {
        const CVariant<FlowUnit_Passport> answer = b.unit->chkPassport(ioPassport(3, 1));
        ASSERT_TRUE(answer.hasValue());
        EXPECT_TRUE(answer.getValue().condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
        EXPECT_EQ(answer.getValue().uuid, QStringLiteral("IO-1"));
    }
    EXPECT_EQ(b.unit->get_historystorage(), (QStringList{first->get_part_uuid(), second->get_part_uuid()}));

    b.unit->clear_historystorage();
    EXPECT_TRUE(b.unit->get_historystorage().isEmpty());

    // A condition that accepts but produces nothing does not replace the answer.
    second->set_cond_flag(1, false);
    const CVariant<FlowUnit_Passport> answer = b.unit->chkPassport(ioPassport(3, 1));
    ASSERT_TRUE(answer.hasValue());
    EXPECT_FALSE(answer.getValue().condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately);
}

TEST(StandardDetectUnit, ConditionsWaitingForTheirTurnAreAskedOnceTheRunNodeReachesTheUnit)
{
    const struct {
        int runnode;
        bool override;
        bool accepted;
    } cases[] = {{1, false, false}, {2, false, true}, {3, false, true}, {-1, false, false}, {1, true, true}};
    for (const auto& c : cases) {
        UnitBench b(2, 5);
        FlowPart_Cond_IO* cond = b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
        cond->set_runnode_override(c.override);
        LogLines log;
        const CVariant<FlowUnit_Passport> answer = b.unit->chkPassport(ioPassport(0, 1, c.runnode));
        EXPECT_EQ(answer.hasValue(), c.accepted) << c.runnode << "/" << c.override;
        EXPECT_EQ(log.count(QStringLiteral("<chkPassport>: FlowPart_Cond Checked  ×")), c.accepted ? 0 : 1);
        if (c.accepted) {
            // The condition was started with the unit's own indexes.
            EXPECT_EQ(cond->get_part_passport().condition.cond_detect_index, 2);
            EXPECT_EQ(cond->get_part_passport().condition.cond_detect_index_abs, 5);
            EXPECT_EQ(answer.getValue().condition.cond_detect_index, 2);
        }
    }
}

TEST(StandardDetectUnit, AnAcceptingIoConditionFiresItsOutputsDuringTheCheck)
{
    UnitBench b;
    FlowPart_Cond_IO* cond = b.unit->create_0_Cond_TrigIO(1, ElectricLevel_High);
    cond->add_action_iooutput({4}, IOState_Rel_Active, 0, 0);
    ASSERT_TRUE(b.unit->chkPassport(ioPassport(1, 1)).hasValue());
    EXPECT_EQ(b.frame.sent, (QList<IO_IndexLevel>{lv(4, 1)}));
    EXPECT_FALSE(b.unit->chkPassport(ioPassport(1, 0)).hasValue());
    EXPECT_EQ(b.frame.sent.size(), 1);
}

TEST(StandardDetectUnit, StartingFillsTheUnitStateAndAsksForTheDetection)
{
    UnitBench b(1, 4);
    b.product.answer = TestProductInterface::makeAnswer(1, {"CAM-A"});
    b.unit->setRedetectTimes(2, 300);
    b.unit->update_Stash_LastResultMaps({{"CAM-A", QVariantMap{{"result", false}}}});

    int stateSignals = 0;
    QObject::connect(b.unit, &FlowUnit_Base::sig_unit_Update_Fgs_State, [&] { ++stateSignals; });

    const struct {
        int type;
        int lastType;
    } cases[] = {{CondType_ManualTrig, CondType_ManualTrig}, {CondType_NoCheck, CondType_ManualTrig},
                 {CondType_PreResult, CondType_PreResult}, {CondType_ReDetect, CondType_PreResult},
                 {CondType_IOTrig | CondType_PreResult, CondType_IOTrig | CondType_PreResult}};
    for (const auto& c : cases) {
        FlowUnit_Passport p = passportOf(c.type, QStringLiteral("S-1"));
        b.unit->slot_OnStart_UnitWork(p);
        EXPECT_TRUE(b.unit->get_isworking());
        ASSERT_TRUE(waitUntil([&] { return !b.unit->get_isworking(); }));
        EXPECT_EQ(b.unit->get_last_detect_type(), c.lastType) << c.type;
        const FlowUnit_State sent = b.product.workEvents.last().get_unit_state();
        EXPECT_EQ(sent.fus_last_detect_type, c.lastType);
        EXPECT_EQ(sent.fus_detect_index, 1);
        EXPECT_EQ(sent.fus_detect_index_abs, 4);
        EXPECT_EQ(sent.fus_redetect_times, 2);
        EXPECT_EQ(sent.fus_redetect_interval, 300);
    }
    // The first detection carried the stash as it was before it.
    EXPECT_EQ(b.product.workEvents.first().get_unit_state().fus_last_detected_info,
              (QVariantMap{{"CAM-A", QVariantMap{{"result", false}}}}));
    EXPECT_EQ(b.product.workEvents.last().get_unit_state().fus_last_detected_info,
              (QVariantMap{{"CAM-A", QVariantMap{{"result", true}}}}));
    EXPECT_EQ(stateSignals, 10);  // working on and off, per cycle
}

TEST(StandardDetectUnit, TheFinishRunsInItsOrder)
{
    UnitBench b(0, 0);
    b.product.answer = TestProductInterface::makeAnswer(1, {"CAM-A", "CAM-B"});
    b.product.answer.collectlist["CAM-B"].result = false;  // per-camera results reach the stash as they are
    b.unit->create_0_Cond_TrigIO(2, ElectricLevel_High);
    b.unit->create_3_AftIO_OK({5}, IOState_Rel_Active, 0, 0);
    b.unit->update_Stash_LastResultMaps({{"CAM-Z", QVariantMap{{"result", true}}}});
    FlowGroup_State g;
    g.fgs_runnode = 0;
    g.fgs_runstate = 1;
    FlowUnit_Passport p = ioPassport(2, 1);
    p.set_group_state(g);

    ASSERT_TRUE(b.runCycle(p));
    ASSERT_EQ(b.group.finishes.size(), 1);
    const FinishSeen& seen = b.group.finishes.first();
    // Receipt stamped and stored before the group hears of it.
    EXPECT_EQ(seen.passport.receipt.rcpt_detect_index, 0);
    EXPECT_EQ(seen.passport.receipt.rcpt_runstate, 1);
    EXPECT_EQ(seen.passport.receipt.rcpt_result, 1);
    EXPECT_EQ(seen.passport.receipt.rcpt_workstate, 1);
    EXPECT_EQ(seen.passport.receipt.rcpt_collects.keys(), (QList<QString>{"CAM-A", "CAM-B"}));
    // Stash merged, after-detect output set, unit still working, nothing pushed yet.
    EXPECT_EQ(seen.stash, (QVariantMap{{"CAM-A", QVariantMap{{"result", true}}},
                                       {"CAM-B", QVariantMap{{"result", false}}},
                                       {"CAM-Z", QVariantMap{{"result", true}}}}));
    EXPECT_EQ(seen.outputsSent, 1);
    EXPECT_TRUE(seen.unitWorking);
    EXPECT_EQ(seen.unitWorkstate, 1);
    EXPECT_EQ(seen.productCalls, (QStringList{"WorkEvent_Standard"}));
    // Then the push, the waiting stage and the end of the work.
    EXPECT_EQ(b.product.calls, (QStringList{"WorkEvent_Standard", "PushMsg2APP_OnFinishUnitWork_RunResult"}));
    EXPECT_EQ(b.product.runResults.first().uuid, QStringLiteral("IO-1"));
    EXPECT_EQ(b.product.runResults.first().receipt.rcpt_result, 1);
    EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_workstate, 2);
    EXPECT_FALSE(b.unit->get_isworking());
    EXPECT_EQ(b.frame.sent, (QList<IO_IndexLevel>{lv(5, 1)}));
}

TEST(StandardDetectUnit, OnlyTheAfterPartsOfTheResultRunInListOrder)
{
    const struct {
        int result;
        QList<IO_IndexLevel> outputs;
        bool ngstop;
        int finalStage;
    } cases[] = {
        {1, {lv(1, 1)}, false, 2},
        {0, {lv(2, 1), lv(3, 1)}, true, 1},
    };
    for (const auto& c : cases) {
        UnitBench b;
        b.product.answer = TestProductInterface::makeAnswer(c.result, {"CAM-A"});
        b.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
        b.unit->create_3_AftIO_NG({2}, IOState_Rel_Active, 0, 0);
        b.unit->create_3_NG_Stop();
        b.unit->create_3_AftIO_NG({3}, IOState_Rel_Active, 0, 0);
        ASSERT_TRUE(b.runCycle(manualPassport(0)));
        EXPECT_EQ(b.frame.sent, c.outputs) << c.result;
        EXPECT_EQ(b.group.finishes.first().passport.receipt.rcpt_ngstop, c.ngstop);
        EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_workstate, c.finalStage);
        EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_ngstop, c.ngstop);
    }
}

TEST(StandardDetectUnit, WithoutTheApplicationOnlyUnclassifiedAfterPartsRun)
{
    UnitBench b(0, 0, /*withProduct=*/false);
    b.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    FlowPart_AfterDetect* none = b.unit->create_3_AftIO_NG({6}, IOState_Rel_Active, 0, 0);
    none->set_Classify_OKNG(FlowPart_AfterDetect::Result_None);
    b.unit->update_Stash_LastResultMaps({{"CAM-A", QVariantMap{{"result", true}}}});

    ASSERT_TRUE(b.runCycle(manualPassport(0)));
    EXPECT_EQ(b.group.finishes.first().passport.receipt.rcpt_result, -1);
    EXPECT_TRUE(b.group.finishes.first().passport.receipt.rcpt_collects.isEmpty());
    EXPECT_EQ(b.frame.sent, (QList<IO_IndexLevel>{lv(6, 1)}));
    EXPECT_EQ(b.unit->get_Stash_LastResultMaps(), (QVariantMap{{"CAM-A", QVariantMap{{"result", true}}}}));
    EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_workstate, 2);
}

TEST(StandardDetectUnit, ADetectionExceptionHoldsTheCycleAtDetected)
{
    UnitBench b;
    b.product.answer = TestProductInterface::makeAnswer(1, {"CAM-A"});
    b.product.detect_exception = 1;
    b.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    ASSERT_TRUE(b.runCycle(manualPassport(0)));
    EXPECT_TRUE(b.group.finishes.first().passport.receipt.rcpt_ngstop);
    EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_workstate, 1);
    EXPECT_EQ(b.frame.sent.size(), 1);  // the OK parts still ran
}

TEST(StandardDetectUnit, TheReceiptReportsTheRemainingDelayWhileTheDetectPartWaits)
{
    UnitBench b;
    b.product.answer = TestProductInterface::makeAnswer(1);
    b.unit->set_2_DetectDelayTime(5000);
    EXPECT_EQ(b.unit->get_UnitReceipt().rcpt_remain_ms, 0);

    FlowUnit_Passport p = passportOf(CondType_IOTrig);
    b.unit->slot_OnStart_UnitWork(p);
    const FlowWork_Receipt waiting = b.unit->get_UnitReceipt();
    EXPECT_EQ(waiting.rcpt_workstate, 0);
    EXPECT_GT(waiting.rcpt_remain_ms, 0);
    EXPECT_LE(waiting.rcpt_remain_ms, 5000);
    EXPECT_TRUE(b.product.workEvents.isEmpty());
    b.unit->clear_frames();  // ends the wait: the detect part goes
    runDeferredDeletes();
}

TEST(StandardDetectUnit, AUnitWithoutDetectPartStillFinishesWithoutResult)
{
    UnitBench b;
    b.unit->clear_frames();
    runDeferredDeletes();
    EXPECT_EQ(b.unit->get_part_detect(), nullptr);
    EXPECT_TRUE(b.unit->get_part_cond().isEmpty());

    LogLines log;
    b.unit->slot_OnStart_UnitWork(passportOf(CondType_IOTrig));
    ASSERT_TRUE(waitUntil([&] { return !b.group.finishes.isEmpty(); }));
    EXPECT_EQ(b.group.finishes.first().passport.receipt.rcpt_result, -1);
    EXPECT_FALSE(b.unit->get_isworking());
    EXPECT_EQ(log.count(QStringLiteral("has no detect part")), 1);
}

TEST(StandardDetectUnit, QuickManualCheckNamesTheUnitWithoutStartingIt)
{
    UnitBench b(0, 3);
    EXPECT_EQ(b.unit->get_QuickChk_ManualTrig(manualPassport(3)), 3);
    EXPECT_EQ(b.unit->get_QuickChk_ManualTrig(manualPassport(4)), -1);
    EXPECT_EQ(b.unit->get_QuickChk_ManualTrig(passportOf(CondType_IOTrig)), -1);
    EXPECT_TRUE(b.unit->get_historystorage().isEmpty());
    EXPECT_TRUE(b.product.workEvents.isEmpty());
}

TEST(StandardDetectUnit, SerialisesItselfWithItsPartsInOrder)
{
    UnitBench b(2, 7);
    b.unit->set_user_describe(QString_TL(QStringLiteral("模具"), QStringLiteral("Mould")));
    b.unit->set_enable(false);
    b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    b.unit->create_0_Cond_PreResult(1, true);
    b.unit->set_2_DetectDelayTime(300);
    b.unit->setRedetectTimes(2, 150);
    b.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 500);
    b.unit->create_3_NG_Stop();

    const QJsonObject o = b.unit->get_FlowSerialize();
    QStringList keys = o.keys();
    EXPECT_EQ(keys, (QStringList{"enable", "index", "name", "part_after", "part_cond", "part_detect", "type"}));
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("Mould"));  // the interface's language
    EXPECT_EQ(o.value("index").toInt(), 2);
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowUnit_Standard_Detect"));
    EXPECT_FALSE(o.value("enable").toBool(true));

    QStringList condTypes;
    for (const QJsonValue& v : o.value("part_cond").toArray())
        condTypes << v.toObject().value("type").toString();
    EXPECT_EQ(condTypes, (QStringList{"FlowPart_Cond_ManualTrig", "FlowPart_Cond_Nocheck", "FlowPart_Cond_ReDetect",
                                      "FlowPart_Cond_AddTemp", "FlowPart_Cond_IO", "FlowPart_Cond_PreResult"}));
    for (const QJsonValue& v : o.value("part_cond").toArray())
        EXPECT_TRUE(v.toObject().contains("obj"));

    const QJsonObject detect = o.value("part_detect").toObject();
    EXPECT_EQ(detect.value("type").toString(), QStringLiteral("FlowPart_Detect"));
    EXPECT_EQ(detect.value("delay").toInt(), 300);
    EXPECT_EQ(detect.value("redetect_times").toInt(), 2);
    EXPECT_EQ(detect.value("redetect_interval").toInt(), 150);

    const QJsonArray after = o.value("part_after").toArray();
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after.at(0).toObject().value("type").toString(), QStringLiteral("FlowPart_AfterDetect"));
    EXPECT_EQ(after.at(0).toObject().value("classify_okng").toInt(), 1);
    EXPECT_EQ(after.at(1).toObject().value("type").toString(), QStringLiteral("FlowPart_AftDect_NGStop"));
}

TEST(StandardDetectUnit, MakesOnePartFromJsonByItsType)
{
    UnitBench b;
    const struct {
        const char* type;
        const char* made;  // empty: nothing made
    } cases[] = {
        {"FlowPart_Cond_IO", "FlowPart_Cond_IO"},
        {"FlowPart_IO", "FlowPart_Cond_IO"},
        {"FlowPart_Cond_IO_ChgOper", "FlowPart_Cond_IO_ChgOper"},
        {"FlowPart_Cond_PreResult", "FlowPart_Cond_PreResult"},
        {"FlowPart_AftDect_NGStop", "FlowPart_AftDect_NGStop"},
        {"FlowPart_Detect", "FlowPart_Detect"},
        {"FlowPart_Cond_ManualTrig", ""},
        {"FlowPart_Cond_Nocheck", ""},
        {"FlowPart_AfterDetect", ""},
        {"flowpart_detect", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::unique_ptr<FlowPart_Base> part(
            b.unit->Instance_Structure_FromJson(QJsonObject{{"type", c.type}, {"name", "Named"}}));
        if (!*c.made) {
            EXPECT_EQ(part, nullptr) << c.type;
            continue;
        }
        ASSERT_NE(part, nullptr) << c.type;
        EXPECT_EQ(part->get_part_type(), QString::fromLatin1(c.made));
        EXPECT_EQ(part->get_user_describe(), QStringLiteral("Named"));
        EXPECT_EQ(part->parent(), b.unit);
        EXPECT_EQ(part->get_inst_iface().frame_io.data(), &b.frame);
        if (auto* cond = qobject_cast<FlowPart_Condition*>(part.get())) {
            EXPECT_EQ(cond->get_part_unit(), b.unit);
        }
    }
    // Parts made here are in no list.
    EXPECT_EQ(b.unit->get_part_cond().size(), 4);
    EXPECT_TRUE(b.unit->get_part_after().isEmpty());

    // The part reads its own keys.
    std::unique_ptr<FlowPart_Base> io(b.unit->Instance_Structure_FromJson(
        QJsonObject{{"type", "FlowPart_Cond_IO"}, {"input", QJsonArray{QJsonArray{2, 1}}}}));
    EXPECT_EQ(qobject_cast<FlowPart_Condition*>(io.get())->get_trigger_list(), (QList<IO_IndexLevel>{lv(2, 1)}));
}

TEST(StandardDetectUnit, IsBuiltFromAnotherUnitsJsonAndRunsWithTheLoadedDetectPart)
{
    UnitBench source;
    source.unit->set_enable(false);
    FlowPart_Cond_IO* io = source.unit->create_0_Cond_TrigIO(2, ElectricLevel_High);
    io->set_condwith_ioinput_state({lv(0, 1)});
    source.unit->create_0_Cond_ChgIO_Operate({3, ElectricLevel_Low}, CondType_NoCheck);
    source.unit->set_2_DetectDelayTime(0);
    source.unit->setRedetectTimes(1, 200);
    source.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    const QJsonObject json = source.unit->get_FlowSerialize();

    EXPECT_EQ(FlowUnit_Standard_Detect::ignoredJsonKeys(json), (QStringList{"enable", "part_after", "input_with"}));

    UnitBench b;
    b.product.answer = TestProductInterface::makeAnswer(1, {"CAM-A"});
    QPointer<FlowPart_Detect> firstDetect = b.unit->get_part_detect();
    LogLines log;
    // The four operator conditions of the source are not made from JSON.
    EXPECT_EQ(b.unit->Structure_FromJson(json), 3);
    EXPECT_EQ(log.count(QStringLiteral("keys written but not read back: enable, part_after, input_with")), 1);

    EXPECT_EQ(partTypes(b.unit->get_part_cond()),
              (QStringList{"FlowPart_Cond_ManualTrig", "FlowPart_Cond_Nocheck", "FlowPart_Cond_ReDetect",
                           "FlowPart_Cond_AddTemp", "FlowPart_Cond_IO", "FlowPart_Cond_IO_ChgOper"}));
    auto* loadedChg = qobject_cast<FlowPart_Cond_IO_ChgOper*>(b.unit->get_part_cond().last());
    ASSERT_NE(loadedChg, nullptr);
    EXPECT_EQ(loadedChg->get_ChgIO_Operate(), CondType_NoCheck);
    EXPECT_TRUE(b.unit->get_enable());
    EXPECT_TRUE(b.unit->get_part_after().isEmpty());
    ASSERT_NE(b.unit->get_part_detect(), firstDetect.data());
    EXPECT_EQ(b.unit->get_part_detect()->get_redetect_interval(), 200);
    runDeferredDeletes();
    EXPECT_TRUE(firstDetect.isNull());

    // The loaded detect part finishes the unit like the first one would.
    b.unit->set_cond_sortindex(0, 0);
    ASSERT_TRUE(b.runCycle(manualPassport(0)));
    EXPECT_EQ(b.group.finishes.first().passport.receipt.rcpt_result, 1);
    EXPECT_EQ(b.product.workEvents.first().get_unit_state().fus_redetect_times, 1);
}

TEST(StandardDetectUnit, RefusesAndReleasesPartsOfTheWrongKind)
{
    UnitBench b;
    LogLines log;
    QPointer<FlowPart_Base> detect = b.unit->Instance_Structure_FromJson(QJsonObject{{"type", "FlowPart_Detect"}});
    EXPECT_FALSE(b.unit->addptr_2_part_cond(detect));
    QPointer<FlowPart_Base> cond = b.unit->Instance_Structure_FromJson(QJsonObject{{"type", "FlowPart_Cond_IO"}});
    EXPECT_FALSE(b.unit->addptr_2_part_detect(cond));
    QPointer<FlowPart_Base> kept = b.unit->Instance_Structure_FromJson(QJsonObject{{"type", "FlowPart_Cond_IO"}});
    EXPECT_TRUE(b.unit->addptr_2_part_cond(kept));
    EXPECT_FALSE(b.unit->addptr_2_part_cond(kept));  // already there
    EXPECT_FALSE(b.unit->addptr_2_part_cond(nullptr));
    EXPECT_EQ(b.unit->get_part_cond().size(), 5);
    EXPECT_EQ(log.count(QStringLiteral("is not a condition part")), 1);
    EXPECT_EQ(log.count(QStringLiteral("is not a detect part")), 1);
    runDeferredDeletes();
    EXPECT_TRUE(detect.isNull());
    EXPECT_TRUE(cond.isNull());
    EXPECT_FALSE(kept.isNull());
    EXPECT_NE(b.unit->get_part_detect(), nullptr);
}

TEST(StandardDetectUnit, BuildersMakeTheirConditionsFromTheIoFrameAndTheirArguments)
{
    UnitBench b(3, 9);
    b.frame.setTriggers({1, 3, 2, 0});
    EXPECT_EQ(b.unit->create_0_Cond_TrigIO(1)->get_trigger_list(), (QList<IO_IndexLevel>{lv(1, 1), lv(1, 0)}));
    EXPECT_EQ(b.unit->create_0_Cond_TrigIO(2)->get_trigger_list(), (QList<IO_IndexLevel>{lv(2, 0)}));
    EXPECT_TRUE(b.unit->create_0_Cond_TrigIO(3)->get_trigger_list().isEmpty());

    FlowPart_Cond_PreResult* pre = b.unit->create_0_Cond_PreResult(2, false);
    EXPECT_EQ(pre->get_cond_resultctrl_preindex(), 2);
    EXPECT_FALSE(pre->get_cond_resultctrl_result());
    EXPECT_EQ(pre->get_part_unit(), b.unit);

    FlowPart_Cond_IO_ChgOper* chg = b.unit->create_0_Cond_ChgIO_Operate({4, ElectricLevel_Low}, CondType_ReDetect);
    EXPECT_EQ(chg->get_trigger_list(), (QList<IO_IndexLevel>{lv(4, 0)}));
    EXPECT_EQ(chg->get_cond_sortindex(), 3);
    EXPECT_EQ(chg->get_ChgIO_Operate(), CondType_ReDetect);
    EXPECT_TRUE(b.unit->create_0_Cond_ChgIO_Operate({8, ElectricLevel_High}, CondType_NoCheck)
                    ->get_trigger_list()
                    .isEmpty());

    FlowWork_Condition ioStart;
    ioStart.cond_type = CondType_IOTrig;
    FlowPart_Cond_IO_ChgOper* special = b.unit->create_0_Cond_ChgIO_Operate({9, ElectricLevel_High}, &ioStart);
    EXPECT_EQ(special->get_trigger_list(), (QList<IO_IndexLevel>{lv(9, 1)}));
    EXPECT_EQ(special->get_ChgIO_SpecOperate().size(), 1);

    // Without an IO frame the trigger condition is still made, without inputs.
    UnitBench noFrame;
    noFrame.group.inst_iface.frame_io = nullptr;
    noFrame.unit->set_inst_iface(noFrame.group.inst_iface);
    EXPECT_TRUE(noFrame.unit->create_0_Cond_TrigIO(1)->get_trigger_list().isEmpty());
    EXPECT_EQ(noFrame.unit->get_part_cond().size(), 5);

    b.unit->set_cond_sortindex(6, 11);
    for (FlowPart_Base* p : b.unit->get_part_cond()) {
        EXPECT_EQ(qobject_cast<FlowPart_Condition*>(p)->get_cond_sortindex(), 6);
        EXPECT_EQ(qobject_cast<FlowPart_Condition*>(p)->get_cond_sortindex_abs(), 11);
    }
    EXPECT_EQ(b.unit->get_FlowPart_Cond_FromClassType(CondType_IOTrig).size(), 6);  // IO, and changed-operation
    EXPECT_EQ(b.unit->get_FlowPart_Cond_FromClassType(CondType_ManualTrig).size(), 1);
    EXPECT_EQ(b.unit->get_FlowPart_CondIO({2, 5}).size(), 1);
    EXPECT_EQ(b.unit->get_FlowPart_CondIO({1, 4}).size(), 2);
}

TEST(StandardDetectUnit, EditorsAddOutputsToTheRightConditionsAndClampTimes)
{
    UnitBench b;
    FlowPart_Cond_IO* io = b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    FlowPart_Cond_PreResult* pre = b.unit->create_0_Cond_PreResult(1, true);
    pre->set_cond_flag(1, false);  // needs no detection
    auto* manual = qobject_cast<FlowPart_Cond_ManualTrig*>(b.unit->get_part_cond().first());

    b.unit->set_2_DetectDelayTime(-50);
    EXPECT_EQ(b.unit->get_part_detect()->get_delay_ms(), 0);
    b.unit->setRedetectTimes(3, -10);
    EXPECT_EQ(b.unit->get_part_detect()->get_redetect_times(), 3);
    EXPECT_EQ(b.unit->get_part_detect()->get_redetect_interval(), 0);

    b.unit->set_2_DetectDelayTime(800);
    b.unit->add_1_PreIO_BeforeDetect({2}, IOState_Rel_Active, 300, 100);
    ASSERT_EQ(io->get_list_action_iooutput().size(), 1);
    EXPECT_EQ(io->get_list_action_iooutput().first()->get_delay_ms(), 500);
    EXPECT_TRUE(pre->get_list_action_iooutput().isEmpty());
    ASSERT_EQ(manual->get_list_action_iooutput().size(), 1);
    EXPECT_EQ(manual->get_list_action_iooutput().first()->get_delay_ms(), 0);

    b.unit->add_1_PreIO_BeforeDetect({3}, IOState_Rel_Active, 1000, 0);
    EXPECT_EQ(io->get_list_action_iooutput().last()->get_delay_ms(), 0);

    b.unit->add_all_action_iooutput({4}, IOState_Rel_Active, -5, -5);
    EXPECT_EQ(io->get_list_action_iooutput().size(), 3);
    EXPECT_EQ(io->get_list_action_iooutput().last()->get_delay_ms(), 0);
    EXPECT_EQ(pre->get_list_action_iooutput().size(), 1);
    for (FlowPart_Base* p : b.unit->get_part_cond().mid(1, 3))
        EXPECT_TRUE(qobject_cast<FlowPart_Condition*>(p)->get_list_action_iooutput().isEmpty());
}

TEST(StandardDetectUnit, TheFixedSetIsCopiedIntoTheFixedConditionsOnly)
{
    UnitBench b;
    FlowPart_Cond_IO* io = b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    FlowPart_Cond_IO* fixed = b.unit->create_0_Cond_TrigIO(1, ElectricLevel_High);
    fixed->set_cond_flag(2, true);
    fixed->add_action_iooutput({6}, IOState_Rel_Active, 0, 0);
    auto* manual = qobject_cast<FlowPart_Cond_ManualTrig*>(b.unit->get_part_cond().first());

    FlowPart_Cond_IO source(nullptr);
    source.set_inst_iface(b.unit->get_inst_iface());
    source.add_action_iooutput({1, 2}, IOState_Rel_Active, 700, 90);
    b.unit->update_CondAction_2_StaticSet(&source);

    EXPECT_TRUE(io->get_list_action_iooutput().isEmpty());  // not fixed
    ASSERT_EQ(fixed->get_list_action_iooutput().size(), 2);
    EXPECT_EQ(fixed->get_list_action_iooutput().first()->get_delay_ms(), 700);
    ASSERT_EQ(manual->get_list_action_iooutput().size(), 2);
    EXPECT_EQ(manual->get_list_action_iooutput().first()->get_delay_ms(), 0);

    // A source that is itself a fixed condition of the unit keeps its actions.
    b.unit->update_CondAction_2_StaticSet(fixed);
    EXPECT_EQ(fixed->get_list_action_iooutput().size(), 2);
}

TEST(StandardDetectUnit, RemovingOutputsDropsEmptiedPlainAfterPartsButKeepsTheNgStop)
{
    UnitBench b;
    b.frame.setRestLevels({0, 0, 0, 1});
    FlowPart_Cond_IO* io = b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    io->add_action_iooutput({3, 4}, IOState_Rel_Active, 0, 0);
    b.unit->create_3_AftIO_OK({1}, IOState_Rel_Active, 0, 0);
    b.unit->create_3_AftIO_NG({2}, IOState_Rel_Active, 0, 0);
    b.unit->create_3_NG_Stop();
    b.unit->create_3_AftIO_NG({3, 5}, IOState_Rel_Active, 0, 0);

    // Output 3 rests high: its active state is low, so only the active request matches.
    b.unit->del_IOOutput_FromList({{3, IOState_Rel_Rest}}, 1 | 16);
    EXPECT_EQ(io->get_list_action_iooutput().size(), 2);
    b.unit->del_IOOutput_FromList({{3, IOState_Rel_Active}}, 1 | 16);
    EXPECT_EQ(io->get_list_action_iooutput().size(), 1);
    EXPECT_EQ(partTypes(b.unit->get_part_after()),
              (QStringList{"FlowPart_AfterDetect", "FlowPart_AfterDetect", "FlowPart_AftDect_NGStop",
                           "FlowPart_AfterDetect"}));
    b.unit->del_IOOutput_FromList({{5, IOState_Rel_Active}}, 16);
    EXPECT_EQ(partTypes(b.unit->get_part_after()),
              (QStringList{"FlowPart_AfterDetect", "FlowPart_AfterDetect", "FlowPart_AftDect_NGStop"}));

    b.unit->del_IOOutput_All(16);
    EXPECT_EQ(partTypes(b.unit->get_part_after()), (QStringList{"FlowPart_AfterDetect", "FlowPart_AftDect_NGStop"}));
    EXPECT_EQ(qobject_cast<FlowPart_AfterDetect*>(b.unit->get_part_after().first())->get_Classify_OKNG(),
              FlowPart_AfterDetect::Result_OK);
    EXPECT_EQ(io->get_list_action_iooutput().size(), 1);
    b.unit->del_IOOutput_All(1);
    EXPECT_TRUE(io->get_list_action_iooutput().isEmpty());

    b.unit->del_Stop(4);
    EXPECT_EQ(b.unit->get_part_after().size(), 2);
    b.unit->del_Stop(16);
    EXPECT_EQ(partTypes(b.unit->get_part_after()), (QStringList{"FlowPart_AfterDetect"}));
}

TEST(StandardDetectUnit, RemovesTheChangedOperationConditionsOfOneType)
{
    UnitBench b;
    b.unit->create_0_Cond_ChgIO_Operate({1, ElectricLevel_High}, CondType_NoCheck);
    b.unit->create_0_Cond_ChgIO_Operate({2, ElectricLevel_High}, CondType_ReDetect);
    b.unit->create_0_Cond_ChgIO_Operate({3, ElectricLevel_High}, CondType_NoCheck);
    b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    b.unit->del_IOCtrl_OperType(CondType_NoCheck);
    EXPECT_EQ(partTypes(b.unit->get_part_cond()).mid(4),
              (QStringList{"FlowPart_Cond_IO_ChgOper", "FlowPart_Cond_IO"}));
    EXPECT_EQ(qobject_cast<FlowPart_Cond_IO_ChgOper*>(b.unit->get_part_cond().at(4))->get_ChgIO_Operate(),
              CondType_ReDetect);
}

TEST(StandardDetectUnit, ClearingReleasesEveryPartLater)
{
    UnitBench b;
    b.unit->create_0_Cond_TrigIO(0, ElectricLevel_High);
    b.unit->create_3_NG_Stop();
    QList<QPointer<FlowPart_Base>> parts;
    for (FlowPart_Base* p : b.unit->get_part_cond() + b.unit->get_part_after())
        parts << p;
    parts << QPointer<FlowPart_Base>(b.unit->get_part_detect());

    b.unit->clear_frames();
    EXPECT_TRUE(b.unit->get_part_cond().isEmpty());
    EXPECT_TRUE(b.unit->get_part_after().isEmpty());
    EXPECT_EQ(b.unit->get_part_detect(), nullptr);
    runDeferredDeletes();
    for (const auto& p : parts)
        EXPECT_TRUE(p.isNull());
}

}  // namespace
