// The NG-stop part marks the cycle's receipt for a machine stop and reports
// it; the NG-stop record lifts a held stop only for a real OK.
#include "flow/flowpart_aftdect_ngstop.h"
#include "flow/flowpart_ng_stop.h"
#include "flowparttestbench.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

FlowUnit_Passport ngPassport()
{
    FlowUnit_Passport p = flowtest::passportOf(CondType_IOTrig);
    p.receipt.rcpt_detect_index = 3;
    p.receipt.rcpt_runstate = FlowRunState_Detect;
    p.receipt.rcpt_workstate = FlowWorkState_Detected;
    p.receipt.rcpt_result = FlowResult_NG;
    p.receipt.rcpt_remain_ms = 7;
    SCollect_Unit u;
    u.is_valid = true;
    u.calculate_time = 12;
    p.receipt.rcpt_collects.insert(QStringLiteral("CAM-A"), u);
    return p;
}

TEST(FlowPartAftDectNGStop, MarksTheReceiptAndKeepsTheRest)
{
    flowtest::RecordingFrameIO frame;
    FlowPart_AftDect_NGStop part(nullptr);
    part.set_inst_iface(flowtest::makeIface(&frame));
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    QList<FlowWork_Receipt> reported;
    QObject::connect(&part, &FlowPart_Base::sig_update_unit_receipt,
                     [&](FlowWork_Receipt r) { reported << r; });

    const FlowUnit_Passport p = ngPassport();
    part.onStart(p);

    // First the receipt as it came (the start sequence), then the marked one.
    ASSERT_EQ(reported.size(), 2);
    EXPECT_FALSE(reported[0].rcpt_ngstop);
    const FlowWork_Receipt& r = reported[1];
    EXPECT_TRUE(r.rcpt_ngstop);
    EXPECT_EQ(r.rcpt_detect_index, 3);
    EXPECT_EQ(r.rcpt_workstate, FlowWorkState_Detected);
    EXPECT_EQ(r.rcpt_result, FlowResult_NG);
    EXPECT_EQ(r.rcpt_remain_ms, 7);
    EXPECT_EQ(r.rcpt_collects, p.receipt.rcpt_collects);
    EXPECT_TRUE(frame.sent.isEmpty());
}

TEST(FlowPartAftDectNGStop, MarksWhateverItsEnableFlagAndClassification)
{
    FlowPart_AftDect_NGStop part(nullptr);
    part.set_enable(false);
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_OK);
    bool marked = false;
    QObject::connect(&part, &FlowPart_Base::sig_update_unit_receipt,
                     [&](FlowWork_Receipt r) { marked = marked || r.rcpt_ngstop; });
    part.onStart(ngPassport());
    EXPECT_TRUE(marked);
}

TEST(FlowPartAftDectNGStop, JsonNamesItAndReadsNothingBack)
{
    FlowPart_AftDect_NGStop part(nullptr);
    part.set_Classify_OKNG(FlowPart_AfterDetect::Result_NG);
    QJsonObject o = part.Serialize_2_Json();
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("停止检测"));
    EXPECT_EQ(o.value("type").toString(), QStringLiteral("FlowPart_AftDect_NGStop"));
    EXPECT_EQ(o.value("classify_okng").toInt(-9), 0);
    EXPECT_FALSE(o.contains("output"));

    const QJsonObject io{{"type", "FlowPart_IO"}, {"o_index", 2}, {"o_level_abs", 1}};
    part.Structure_FromJson(QJsonObject{{"name", "other"}, {"classify_okng", 1}, {"output", QJsonArray{io}}});
    EXPECT_EQ(part.get_user_describe(), QStringLiteral("停止检测"));
    EXPECT_EQ(part.get_Classify_OKNG(), FlowPart_AfterDetect::Result_NG);
    EXPECT_TRUE(part.get_list_action_iooutput().isEmpty());

    part.set_user_describe(QStringLiteral("hold"));
    EXPECT_EQ(part.Serialize_2_Json().value("name").toString(), QStringLiteral("hold"));
}

TEST(FlowPartNGStop, OnlyARealOkOffersToClearTheStop)
{
    struct Case {
        int result;
        bool flag;
    } cases[] = {{FlowResult_OK, true}, {FlowResult_NG, false}, {FlowResult_None, false}, {5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        FlowWork_Receipt r;
        r.rcpt_detect_index = 2;
        r.rcpt_result = c.result;
        EXPECT_EQ(FlowPart_NG_Stop::makeClearOffer(r), (FlowPart_NG_Stop{2, c.flag}));
        r.rcpt_ngstop = true;
        EXPECT_EQ(FlowPart_NG_Stop::makeStop(r), (FlowPart_NG_Stop{2, false}));
    }
}

}  // namespace
