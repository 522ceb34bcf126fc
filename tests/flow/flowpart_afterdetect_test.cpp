// The after-detect part: starts its IO parts together when enabled, describes
// itself from its classification and its IO parts, and reads its IO parts
// from JSON (never its classification).
#include "flow/flowpart_afterdetect.h"
#include "flow/flowpart_io.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <gtest/gtest.h>

using flowtest::out;

namespace {

struct AfterDetectFixture : ::testing::Test {
    flowtest::RecordingFrameIO frame;
    FlowPart_AfterDetect part;
    int receipts = 0;

    void SetUp() override
    {
        part.set_inst_iface(flowtest::makeIface(&frame));
        QObject::connect(&part, &FlowPart_Base::sig_update_unit_receipt, [this](FlowWork_Receipt) { ++receipts; });
    }
};

TEST_F(AfterDetectFixture, StartsEveryIoPartTogether)
{
    part.add_action_iooutput({1, 2}, IOState_Rel_Active, 0, 20);
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_OK);
    part.onStart(flowtest::passportOf(CondType_IOTrig));

    EXPECT_EQ(receipts, 1);
    EXPECT_EQ(frame.sent, (QList<IO_IndexLevel>{out(1, 1), out(2, 1)}));
    ASSERT_TRUE(flowtest::waitUntil([&] { return frame.sent.size() == 4; }));
    EXPECT_TRUE(frame.sent.mid(2).contains(out(1, 0)));
    EXPECT_TRUE(frame.sent.mid(2).contains(out(2, 0)));
}

TEST_F(AfterDetectFixture, DisabledOrEmptyPartSetsNothingButReportsTheReceipt)
{
    part.onStart(flowtest::passportOf(CondType_IOTrig));
    EXPECT_EQ(receipts, 1);
    EXPECT_TRUE(frame.sent.isEmpty());

    part.add_action_iooutput({3}, IOState_Rel_Active, 0, 0);
    part.set_enable(false);
    part.onStart(flowtest::passportOf(CondType_IOTrig));
    EXPECT_EQ(receipts, 2);
    EXPECT_TRUE(frame.sent.isEmpty());
}

TEST_F(AfterDetectFixture, IoPartsGetTheSettingsAndTheInterface)
{
    part.add_action_iooutput({0, 2}, IOState_Rel_Active, 500, 300);
    part.add_action_iooutput({5}, IOState_Rel_Rest, -20, 0);
    const QList<FlowPart_IO*> ios = part.get_list_action_iooutput();
    ASSERT_EQ(ios.size(), 3);
    EXPECT_EQ(ios[0]->get_action_io(), (QList<IO_IndexLevel>{out(0, 1)}));
    EXPECT_EQ(ios[1]->get_action_io(), (QList<IO_IndexLevel>{out(2, 1)}));
    EXPECT_EQ(ios[2]->get_action_io(), (QList<IO_IndexLevel>{out(5, 0)}));
    EXPECT_EQ(ios[0]->get_delay_ms(), 500);
    EXPECT_EQ(ios[0]->get_pulse_ms(), 300);
    EXPECT_EQ(ios[2]->get_delay_ms(), 0);  // a negative delay is stored as 0
    for (FlowPart_IO* io : ios) {
        EXPECT_EQ(io->parent(), &part);
        EXPECT_EQ(io->get_inst_iface().frame_io.data(), &frame);
    }
}

TEST_F(AfterDetectFixture, Describes)
{
    struct Case {
        int classify;
        int delay;
        int pulse;
        QString text;
    } cases[] = {
        {1, 500, 1000, QStringLiteral("检测结果OK时：延时0.5秒，（输出-4 -> 闭合），持续1.0秒。")},
        {1, 0, 0, QStringLiteral("检测结果OK时：（输出-4 -> 闭合）。")},
        {0, 1500, 0, QStringLiteral("检测结果NG时：延时1.5秒，（输出-4 -> 闭合）。")},
        {-1, 0, 2000, QStringLiteral("检测结果时：（输出-4 -> 闭合），持续2.0秒。")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        FlowPart_AfterDetect p;
        p.set_inst_iface(flowtest::makeIface(&frame));
        p.add_action_iooutput({3}, IOState_Rel_Active, c.delay, c.pulse);
        p.set_Classify_OKNG(FlowPart_AfterDetect::Result(c.classify));
        EXPECT_EQ(p.get_user_describe(), c.text);
    }
    FlowPart_AfterDetect empty;
    empty.set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    EXPECT_EQ(empty.get_user_describe(), QStringLiteral("检测结果NG时："));
    empty.set_user_describe(QStringLiteral("mine"));
    EXPECT_EQ(empty.get_user_describe(), QStringLiteral("mine"));
}

TEST_F(AfterDetectFixture, JsonWritesOutputsOnlyWhenThereAreSome)
{
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    QJsonObject o = part.Serialize_2_Json();
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_AfterDetect"));
    EXPECT_EQ(o.value("classify_okng").toInt(-9), 0);
    EXPECT_FALSE(o.contains("output"));

    part.add_action_iooutput({1, 6}, IOState_Rel_Active, 100, 0);
    o = part.Serialize_2_Json();
    const QJsonArray outputs = o.value("output").toArray();
    ASSERT_EQ(outputs.size(), 2);
    EXPECT_EQ(outputs[0].toObject().value("o_index").toInt(-1), 1);
    EXPECT_EQ(outputs[1].toObject().value("o_index").toInt(-1), 6);
    EXPECT_EQ(outputs[1].toObject().value("delay").toInt(-1), 100);
}

TEST_F(AfterDetectFixture, JsonReadsNameAndIoPartsButNotTheClassification)
{
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_OK);
    const QJsonObject io{{"type", "FlowPart_IO"}, {"o_index", 2}, {"o_level_abs", 1}, {"delay", 0}, {"pulse", 50}};
    const QJsonObject other{{"type", "FlowPart_Detect"}, {"delay", 5}};
    const QJsonObject obj{{"name", "after"}, {"classify_okng", 0}, {"output", QJsonArray{io, other, io}}};

    part.Structure_FromJson(obj);
    EXPECT_EQ(part.get_Classify_OKNG(), FlowPart_AfterDetect::Result_OK);
    EXPECT_EQ(part.get_user_describe(), QStringLiteral("after"));
    ASSERT_EQ(part.get_list_action_iooutput().size(), 2);
    EXPECT_EQ(part.get_list_action_iooutput()[0]->get_pulse_ms(), 50);
    EXPECT_EQ(part.get_list_action_iooutput()[0]->get_inst_iface().frame_io.data(), &frame);

    // Loading appends.
    part.Structure_FromJson(obj);
    EXPECT_EQ(part.get_list_action_iooutput().size(), 4);
}

TEST_F(AfterDetectFixture, ClearingAndRemovingReleaseTheIoParts)
{
    part.add_action_iooutput({0, 1, 2}, IOState_Rel_Active, 0, 0);
    QList<QPointer<FlowPart_IO>> ios;
    for (FlowPart_IO* io : part.get_list_action_iooutput())
        ios << io;

    EXPECT_TRUE(part.remove_action_iooutput(ios[1]));
    EXPECT_FALSE(part.remove_action_iooutput(ios[1]));
    EXPECT_FALSE(part.remove_action_iooutput(nullptr));
    EXPECT_EQ(part.get_list_action_iooutput(), (QList<FlowPart_IO*>{ios[0], ios[2]}));

    part.clear_action_iooutput();
    EXPECT_TRUE(part.get_list_action_iooutput().isEmpty());
    EXPECT_FALSE(ios[0].isNull());  // released by the event loop, not at once
    flowtest::runDeferredDeletes();
    for (const auto& io : ios)
        EXPECT_TRUE(io.isNull());
}

}  // namespace
