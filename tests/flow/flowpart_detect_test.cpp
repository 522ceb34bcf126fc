// The detect part: its delay, the synchronous call of the product
// interface's work event, the receipt with the per-camera units, the NG stop
// while the application reports a detection exception, and its JSON.
#include "flow/flowpart_detect.h"
#include "flowparttestbench.h"
#include "support/testproductinterface.h"

#include <QJsonObject>
#include <gtest/gtest.h>

#include <memory>

using testsupport::TestProductInterface;

namespace {

struct DetectFixture : ::testing::Test {
    TestProductInterface app;
    std::unique_ptr<FlowPart_Detect> part = std::make_unique<FlowPart_Detect>();
    QList<FlowWork_Receipt> updates;
    QList<FlowWork_Receipt> finishes;

    void SetUp() override { attach(part.get(), &app); }

    void attach(FlowPart_Detect* p, Product_Interface* iface)
    {
        p->set_inst_iface(flowtest::makeIface(nullptr, iface));
        QObject::connect(p, &FlowPart_Base::sig_update_unit_receipt, [this](FlowWork_Receipt r) { updates << r; });
        QObject::connect(p, &FlowPart_Detect::sig_part_finish, [this](FlowWork_Receipt r) { finishes << r; });
    }

    static FlowUnit_Passport passport(bool immediately = false)
    {
        FlowUnit_Passport p = flowtest::passportOf(CondType_IOTrig, QStringLiteral("CYCLE-7"));
        p.condition.cond_url = QStringLiteral("/dide/action/io_catch");
        p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = immediately;
        p.receipt.rcpt_detect_index = 1;
        FlowUnit_State us;
        us.fus_detect_index = 1;
        p.set_unit_state(us);
        return p;
    }
};

TEST_F(DetectFixture, NoDelayDetectsInsideStart)
{
    app.answer = TestProductInterface::makeAnswer(1, {QStringLiteral("CAM-A"), QStringLiteral("CAM-B")});
    part->set_redetect_interval(250);
    part->set_redetect_times(3);

    part->onStart(passport());

    ASSERT_EQ(app.workEvents.size(), 1);
    const FlowUnit_Passport& asked = app.workEvents.first();
    EXPECT_EQ(asked.uuid, QStringLiteral("CYCLE-7"));
    EXPECT_EQ(asked.condition.cond_url, QStringLiteral("/dide/action/io_catch"));
    EXPECT_EQ(asked.get_unit_state().fus_detect_index, 1);
    EXPECT_EQ(asked.get_unit_state().fus_redetect_interval, 250);
    EXPECT_EQ(asked.get_unit_state().fus_redetect_times, 3);
    EXPECT_EQ(asked.receipt.rcpt_workstate, FlowWorkState_Working);

    // Working, then detected; the finish carries the same receipt.
    ASSERT_EQ(updates.size(), 2);
    EXPECT_EQ(updates[0].rcpt_workstate, FlowWorkState_Working);
    EXPECT_EQ(updates[0].rcpt_result, FlowResult_None);
    EXPECT_EQ(updates[1].rcpt_workstate, FlowWorkState_Detected);
    EXPECT_EQ(updates[1].rcpt_result, FlowResult_OK);
    EXPECT_EQ(updates[1].rcpt_collects, app.answer.collectlist);
    EXPECT_EQ(updates[1].rcpt_remain_ms, 0);
    EXPECT_FALSE(updates[1].rcpt_ngstop);
    EXPECT_EQ(updates[1].rcpt_detect_index, 1);
    ASSERT_EQ(finishes.size(), 1);
    EXPECT_EQ(finishes[0].rcpt_result, FlowResult_OK);
    EXPECT_EQ(finishes[0].rcpt_collects.keys(), (QStringList{"CAM-A", "CAM-B"}));
}

TEST_F(DetectFixture, ReceiptTakesTheAnswerWhateverItsWorkError)
{
    struct Case {
        const char* name;
        int workError;
        int result;
    } cases[] = {{"NG", 0, 0}, {"failed event", 1, 0}, {"timed out", 2, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        finishes.clear();
        app.answer = TestProductInterface::makeAnswer(c.result, {QStringLiteral("CAM-A")});
        app.answer.work_error = c.workError;
        part->onStart(passport());
        ASSERT_EQ(finishes.size(), 1);
        EXPECT_EQ(finishes[0].rcpt_result, c.result);
        EXPECT_EQ(finishes[0].rcpt_workstate, FlowWorkState_Detected);
        EXPECT_EQ(finishes[0].rcpt_collects.size(), 1);
    }
}

TEST_F(DetectFixture, DelayWaitsUnlessThePassportAsksForAtOnce)
{
    part->set_delay_ms(60000);
    EXPECT_EQ(part->getReceipt().rcpt_remain_ms, 0);  // idle

    part->onStart(passport(false));
    EXPECT_TRUE(app.workEvents.isEmpty());
    EXPECT_TRUE(finishes.isEmpty());
    EXPECT_TRUE(part->isDelayRunning());
    const int remain = part->getReceipt().rcpt_remain_ms;
    EXPECT_GT(remain, 0);
    EXPECT_LE(remain, 60000);
    EXPECT_EQ(part->getReceipt().rcpt_workstate, FlowWorkState_Working);

    auto other = std::make_unique<FlowPart_Detect>();
    attach(other.get(), &app);
    other->set_delay_ms(60000);
    other->onStart(passport(true));
    EXPECT_EQ(app.workEvents.size(), 1);
    EXPECT_EQ(finishes.size(), 1);
    EXPECT_FALSE(other->isDelayRunning());
}

TEST_F(DetectFixture, DelayRunsOutThenDetectsOnce)
{
    app.answer = TestProductInterface::makeAnswer(0, {QStringLiteral("CAM-A")});
    part->set_delay_ms(20);
    part->onStart(passport());
    part->onStart(passport());  // a second start while waiting starts the wait over
    EXPECT_TRUE(part->isDelayRunning());
    EXPECT_TRUE(app.workEvents.isEmpty());

    ASSERT_TRUE(flowtest::waitUntil([&] { return !finishes.isEmpty(); }));
    EXPECT_FALSE(part->isDelayRunning());  // nothing more is pending
    EXPECT_EQ(app.workEvents.size(), 1);
    EXPECT_EQ(finishes.size(), 1);
    EXPECT_EQ(finishes[0].rcpt_result, FlowResult_NG);
    EXPECT_EQ(part->getReceipt().rcpt_remain_ms, 0);
}

TEST_F(DetectFixture, DetectionExceptionMarksTheCycleForAStop)
{
    app.answer = TestProductInterface::makeAnswer(1, {QStringLiteral("CAM-A")});
    // The application raises the flag while it answers, as it does for a
    // work event that could not be synchronised.
    app.onWorkEvent = [this](const FlowUnit_Passport&) {
        app.detect_exception = 1;
        return app.answer;
    };
    part->onStart(passport());
    ASSERT_EQ(finishes.size(), 1);
    EXPECT_TRUE(finishes[0].rcpt_ngstop);
    EXPECT_EQ(finishes[0].rcpt_result, FlowResult_OK);

    // While it stays set every detection marks its cycle.
    app.onWorkEvent = nullptr;
    part->onStart(passport());
    ASSERT_EQ(finishes.size(), 2);
    EXPECT_TRUE(finishes[1].rcpt_ngstop);

    app.detect_exception = 0;
    part->onStart(passport());
    EXPECT_FALSE(finishes[2].rcpt_ngstop);
}

TEST(FlowPartDetect, WithoutProductInterfaceTheUnitStillFinishes)
{
    FlowPart_Detect part;
    QList<FlowWork_Receipt> finishes;
    QObject::connect(&part, &FlowPart_Detect::sig_part_finish, [&](FlowWork_Receipt r) { finishes << r; });
    part.onStart(flowtest::passportOf(CondType_ManualTrig));
    ASSERT_EQ(finishes.size(), 1);
    EXPECT_EQ(finishes[0].rcpt_result, FlowResult_None);
    EXPECT_EQ(finishes[0].rcpt_workstate, FlowWorkState_Detected);
    EXPECT_TRUE(finishes[0].rcpt_collects.isEmpty());
    EXPECT_FALSE(finishes[0].rcpt_ngstop);
}

// An application that goes away while it answers, with its exception flag set.
class VanishingApp : public Product_Interface {
public:
    FlowWork_WorkEvent_Back WorkEvent_Standard(FlowUnit_Passport) override
    {
        detect_exception = 1;
        const FlowWork_WorkEvent_Back back = TestProductInterface::makeAnswer(1, {QStringLiteral("CAM-A")});
        delete this;
        return back;
    }
};

TEST(FlowPartDetect, InterfaceGoneDuringTheCallSkipsItsFlag)
{
    FlowPart_Detect part;
    part.set_inst_iface(flowtest::makeIface(nullptr, new VanishingApp));
    QList<FlowWork_Receipt> finishes;
    QObject::connect(&part, &FlowPart_Detect::sig_part_finish, [&](FlowWork_Receipt r) { finishes << r; });
    part.onStart(flowtest::passportOf(CondType_IOTrig));
    ASSERT_EQ(finishes.size(), 1);
    EXPECT_FALSE(finishes[0].rcpt_ngstop);
    EXPECT_EQ(finishes[0].rcpt_result, FlowResult_OK);
    EXPECT_TRUE(part.get_inst_iface().product_iface.isNull());
}

TEST(FlowPartDetect, FinishCrossesAQueuedConnection)
{
    TestProductInterface app;
    app.answer = TestProductInterface::makeAnswer(1, {QStringLiteral("CAM-A")});
    FlowPart_Detect part;
    part.set_inst_iface(flowtest::makeIface(nullptr, &app));
    QObject receiver;
    QList<FlowWork_Receipt> finishes;
    QObject::connect(
        &part, &FlowPart_Detect::sig_part_finish, &receiver, [&](FlowWork_Receipt r) { finishes << r; },
        Qt::QueuedConnection);
    part.onStart(flowtest::passportOf(CondType_IOTrig));
    EXPECT_TRUE(finishes.isEmpty());  // the unit finishes after the part has returned
    ASSERT_TRUE(flowtest::waitUntil([&] { return !finishes.isEmpty(); }));
    EXPECT_EQ(finishes[0].rcpt_collects.value(QStringLiteral("CAM-A")).calculate_time, 5);
}

TEST(FlowPartDetect, Json)
{
    FlowPart_Detect part;
    part.set_delay_ms(300);
    part.set_redetect_interval(150);
    part.set_redetect_times(2);
    const QJsonObject o = part.Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_Detect"));
    EXPECT_EQ(o.value("obj").toString(), part.get_part_uuid());
    EXPECT_EQ(o.value("delay").toInt(-1), 300);
    EXPECT_EQ(o.value("redetect_interval").toInt(-1), 150);
    EXPECT_EQ(o.value("redetect_times").toInt(-1), 2);

    struct Case {
        const char* name;
        QJsonObject obj;
        int delay;
        int interval;
        int times;
    } cases[] = {
        {"round trip", o, 300, 150, 2},
        {"keys missing", QJsonObject{{"delay", 40}}, 40, 0, 0},
        {"delay as text", QJsonObject{{"delay", "abc"}, {"redetect_times", 4}}, 0, 0, 4},
        {"negative times stored as 0", QJsonObject{{"delay", -100}, {"redetect_interval", -5}, {"redetect_times", 1}},
         0, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlowPart_Detect loaded;
        loaded.Structure_FromJson(c.obj);
        EXPECT_EQ(loaded.get_delay_ms(), c.delay);
        EXPECT_EQ(loaded.get_redetect_interval(), c.interval);
        EXPECT_EQ(loaded.get_redetect_times(), c.times);
        EXPECT_NE(loaded.get_part_uuid(), part.get_part_uuid());
    }
}

TEST(FlowPartDetect, NegativeDelayDoesNotLeaveTheUnitWaiting)
{
    TestProductInterface app;
    FlowPart_Detect part;
    part.set_inst_iface(flowtest::makeIface(nullptr, &app));
    part.Structure_FromJson(QJsonObject{{"delay", -1}});
    int finishes = 0;
    QObject::connect(&part, &FlowPart_Detect::sig_part_finish, [&](FlowWork_Receipt) { ++finishes; });
    part.onStart(flowtest::passportOf(CondType_IOTrig));
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(app.workEvents.size(), 1);
}

}  // namespace
