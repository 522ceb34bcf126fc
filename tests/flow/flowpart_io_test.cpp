// The IO part: delay, then the output; a pulse puts the opposite level back;
// the immediate flag skips the delay; the action comes from the rest levels
// or from JSON, and a JSON object without a valid action drives nothing.
#include "flow/flowpart_io.h"
#include "flowparttestbench.h"

#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

#include <memory>

using flowtest::out;

namespace {

struct IoPartFixture : ::testing::Test {
    flowtest::RecordingFrameIO frame;
    std::unique_ptr<FlowPart_IO> part = std::make_unique<FlowPart_IO>();

    void SetUp() override { part->set_inst_iface(flowtest::makeIface(&frame)); }

    void actOn(int index, IOState_Rel state, int delay, int pulse)
    {
        part->setActionIO(index, state);
        part->set_delay_ms(delay);
        part->set_pulse_ms(pulse);
    }
    static FlowUnit_Passport passport(bool immediately)
    {
        FlowUnit_Passport p = flowtest::passportOf(CondType_IOTrig);
        p.condition.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = immediately;
        return p;
    }
};

struct StartCase {
    const char* name;
    int delay;
    int pulse;
    bool immediately;
    bool enabled;
    bool withAction;
    QList<IO_IndexLevel> sentAtOnce;
    bool delayRunning;
    bool pulseRunning;
};

TEST_F(IoPartFixture, StartSetsTheOutputAtOnceOrArmsTheDelay)
{
    // The long times never run out during the test: they show what is armed.
    const StartCase cases[] = {
        {"no delay", 0, 0, false, true, true, {out(2, 1)}, false, false},
        {"delay waits", 60000, 0, false, true, true, {}, true, false},
        {"immediate flag skips the delay", 60000, 0, true, true, true, {out(2, 1)}, false, false},
        {"pulse armed after the output", 0, 60000, false, true, true, {out(2, 1)}, false, true},
        {"disabled sets nothing, no pulse", 0, 60000, false, false, true, {}, false, false},
        {"no action sets nothing, no pulse", 0, 60000, false, true, false, {}, false, false},
    };
    for (const StartCase& c : cases) {
        SCOPED_TRACE(c.name);
        frame.sent.clear();
        part = std::make_unique<FlowPart_IO>();
        part->set_inst_iface(flowtest::makeIface(&frame));
        if (c.withAction)
            part->setActionIO(2, IOState_Rel_Active);
        part->set_delay_ms(c.delay);
        part->set_pulse_ms(c.pulse);
        part->set_enable(c.enabled);

        part->onStart(passport(c.immediately));

        EXPECT_EQ(frame.sent, c.sentAtOnce);
        EXPECT_EQ(part->isDelayRunning(), c.delayRunning);
        EXPECT_EQ(part->isPulseRunning(), c.pulseRunning);
    }
}

TEST_F(IoPartFixture, DelayThenOutputThatStays)
{
    actOn(2, IOState_Rel_Active, 20, 0);
    part->onStart(passport(false));
    EXPECT_TRUE(frame.sent.isEmpty());

    ASSERT_TRUE(flowtest::waitUntil([&] { return !frame.sent.isEmpty(); }));
    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(2, 1)}));
    EXPECT_FALSE(part->isPulseRunning());
}

TEST_F(IoPartFixture, PulsePutsTheOppositeLevelBack)
{
    // Rest levels: output 0 rests low, output 1 rests high.
    frame.setRestLevels({0, 1});
    struct Case {
        int index;
        int first;
        int back;
    } cases[] = {{0, 1, 0}, {1, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        frame.sent.clear();
        actOn(c.index, IOState_Rel_Active, 0, 20);
        part->onStart(passport(false));
        EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(c.index, c.first)}));
        ASSERT_TRUE(flowtest::waitUntil([&] { return frame.sent.size() == 2; }));
        EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(c.index, c.first), out(c.index, c.back)}));
    }
}

TEST_F(IoPartFixture, StartedPulseEndsEvenWhenDisabledMeanwhile)
{
    actOn(4, IOState_Rel_Active, 0, 20);
    part->onStart(passport(false));
    part->set_enable(false);
    ASSERT_TRUE(flowtest::waitUntil([&] { return frame.sent.size() == 2; }));
    EXPECT_EQ(frame.sent.last(), out(4, 0));
}

TEST_F(IoPartFixture, ActionFollowsTheRestLevels)
{
    frame.setRestLevels({0, 1});
    struct Case {
        int index;
        IOState_Rel state;
        int level;
    } cases[] = {
        {0, IOState_Rel_Active, 1},
        {0, IOState_Rel_Rest, 0},
        {1, IOState_Rel_Active, 0},
        {1, IOState_Rel_Rest, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index * 10 + c.state);
        part->setActionIO(c.index, c.state);
        EXPECT_EQ(part->get_action_io(), (QList<IO_IndexLevel>{out(c.index, c.level)}));
        EXPECT_TRUE(part->chkSame_IOOutput(c.index, c.state));
        EXPECT_FALSE(part->chkSame_IOOutput(c.index, c.state == IOState_Rel_Active ? IOState_Rel_Rest
                                                                                     : IOState_Rel_Active));
        EXPECT_FALSE(part->chkSame_IOOutput(c.index + 2, c.state));
    }
}

TEST_F(IoPartFixture, OutOfRangeIndexKeepsTheAction)
{
    part->setActionIO(3, IOState_Rel_Active);
    part->setActionIO(8, IOState_Rel_Active);
    part->setActionIO(-1, IOState_Rel_Active);
    EXPECT_EQ(part->get_action_io(), (QList<IO_IndexLevel>{out(3, 1)}));
}

TEST(FlowPartIo, WithoutFrameTheActionStaysAndNothingIsSent)
{
    FlowPart_IO part;
    part.setActionIO(2, IOState_Rel_Active);
    EXPECT_TRUE(part.get_action_io().isEmpty());
    EXPECT_FALSE(part.chkSame_IOOutput(2, IOState_Rel_Active));

    // A frame that has gone away: the weak link is tested before each use.
    auto frame = std::make_unique<flowtest::RecordingFrameIO>();
    part.set_inst_iface(flowtest::makeIface(frame.get()));
    part.setActionIO(2, IOState_Rel_Active);
    part.set_pulse_ms(60000);
    frame.reset();
    part.onStart(FlowUnit_Passport());
    EXPECT_EQ(part.get_action_io(), (QList<IO_IndexLevel>{out(2, 1)}));
    EXPECT_FALSE(part.chkSame_IOOutput(2, IOState_Rel_Active));
    EXPECT_TRUE(part.isPulseRunning());
}

TEST_F(IoPartFixture, DescribesItsAction)
{
    EXPECT_EQ(part->get_user_describe(), QStringLiteral("获取FlowPart_IO信息出错"));
    part->setActionIO(2, IOState_Rel_Active);
    EXPECT_EQ(part->get_user_describe(), QStringLiteral("（输出-3 -> 闭合）"));
    part->setActionIO(0, IOState_Rel_Rest);
    EXPECT_EQ(part->get_user_describe(), QStringLiteral("（输出-1 -> 断开）"));
    // The operator's own description is not used for an IO part.
    part->set_user_describe(QStringLiteral("mine"));
    EXPECT_EQ(part->get_user_describe(), QStringLiteral("（输出-1 -> 断开）"));
}

TEST_F(IoPartFixture, JsonRoundTrip)
{
    actOn(5, IOState_Rel_Active, 200, 300);
    const QJsonObject o = part->Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_IO"));
    EXPECT_EQ(o.value("obj").toString(), part->get_part_uuid());
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("（输出-6 -> 闭合）"));
    EXPECT_EQ(o.value("o_index").toInt(-1), 5);
    EXPECT_EQ(o.value("o_level_abs").toInt(-1), 1);
    EXPECT_EQ(o.value("delay").toInt(-1), 200);
    EXPECT_EQ(o.value("pulse").toInt(-1), 300);

    FlowPart_IO copy;  // reading JSON needs no frame
    copy.Structure_FromJson(o);
    EXPECT_EQ(copy.get_action_io(), (QList<IO_IndexLevel>{out(5, 1)}));
    EXPECT_EQ(copy.get_delay_ms(), 200);
    EXPECT_EQ(copy.get_pulse_ms(), 300);
    EXPECT_NE(copy.get_part_uuid(), part->get_part_uuid());
}

TEST_F(IoPartFixture, JsonWithoutAValidActionDrivesNothing)
{
    struct Case {
        const char* name;
        QJsonObject obj;
    } cases[] = {
        {"keys missing", QJsonObject{{"delay", 0}}},
        {"index missing", QJsonObject{{"o_level_abs", 1}}},
        {"level missing", QJsonObject{{"o_index", 0}}},
        {"index 8", QJsonObject{{"o_index", 8}, {"o_level_abs", 1}}},
        {"index -1", QJsonObject{{"o_index", -1}, {"o_level_abs", 1}}},
        {"level 2", QJsonObject{{"o_index", 3}, {"o_level_abs", 2}}},
        {"index as text", QJsonObject{{"o_index", "3"}, {"o_level_abs", 1}}},
        {"index a fraction", QJsonObject{{"o_index", 3.5}, {"o_level_abs", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frame.sent.clear();
        actOn(6, IOState_Rel_Active, 0, 0);  // an earlier action must not survive
        flowtest::LogCapture log;
        part->Structure_FromJson(c.obj);
        EXPECT_TRUE(part->get_action_io().isEmpty());
        EXPECT_TRUE(log.anyContains(QStringLiteral("no valid output action")));

        part->onStart(passport(true));
        EXPECT_TRUE(frame.sent.isEmpty());
        const QJsonObject again = part->Serialize_2_Json();
        EXPECT_FALSE(again.contains("o_index"));
        EXPECT_FALSE(again.contains("o_level_abs"));
    }
}

TEST_F(IoPartFixture, JsonEdgeValuesOfTheAction)
{
    part->Structure_FromJson(QJsonObject{{"o_index", 7}, {"o_level_abs", 0}, {"delay", 200}});
    EXPECT_EQ(part->get_action_io(), (QList<IO_IndexLevel>{out(7, 0)}));
    EXPECT_EQ(part->get_delay_ms(), 200);
    EXPECT_EQ(part->get_pulse_ms(), 0);
    part->Structure_FromJson(QJsonObject{{"o_index", 0}, {"o_level_abs", 1}, {"delay", "abc"}});
    EXPECT_EQ(part->get_action_io(), (QList<IO_IndexLevel>{out(0, 1)}));
    EXPECT_EQ(part->get_delay_ms(), 0);
}

TEST_F(IoPartFixture, NegativeTimesAreStoredAsZero)
{
    flowtest::LogCapture log;
    part->Structure_FromJson(QJsonObject{{"o_index", 1}, {"o_level_abs", 1}, {"delay", -500}, {"pulse", -10}});
    EXPECT_EQ(part->get_delay_ms(), 0);
    EXPECT_EQ(part->get_pulse_ms(), 0);
    EXPECT_GE(log.warnings().size(), 2);

    // With the delay at 0 the output goes out at once instead of never.
    part->onStart(passport(false));
    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(1, 1)}));
    EXPECT_FALSE(part->isPulseRunning());

    part->set_delay_ms(-1);
    part->set_pulse_ms(-1);
    EXPECT_EQ(part->get_delay_ms(), 0);
    EXPECT_EQ(part->get_pulse_ms(), 0);
}

TEST(FlowPartIo, StartKeepsNoPassportAndReportsNoReceipt)
{
    FlowPart_IO part;
    int receipts = 0;
    QObject::connect(&part, &FlowPart_Base::sig_update_unit_receipt, [&](FlowWork_Receipt) { ++receipts; });
    part.onStart(flowtest::passportOf(CondType_IOTrig, QStringLiteral("X-1")));
    EXPECT_EQ(receipts, 0);
    EXPECT_NE(part.get_part_passport().uuid, QStringLiteral("X-1"));
}

}  // namespace
