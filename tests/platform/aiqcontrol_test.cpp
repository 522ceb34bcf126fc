// The image-signal-processor stand-in: it answers as the real controller
// does (every setter a no-op returning 0 until the pipeline runs), records
// every call, keeps what a running ISP was told, and allocates the shared
// capture buffer for its frame size.
#include "platform/media/aiqcontrol.h"
#include "platform/media/capturebuffer.h"

#include <gtest/gtest.h>

namespace {

using Setter = AiqControl::Setter;

// Calls each setter once with recognisable values; returns their results.
std::vector<int> callAll(AiqControl& isp)
{
    return {isp.aiq_control_setManualExp(2.0f, 0.025f), isp.aiq_control_setSharpness(61),
            isp.aiq_control_setGamma(87), isp.aiq_control_setContrast(120),
            isp.aiq_control_setMirror(true, false), isp.aiq_control_setInitGamma()};
}

TEST(AiqControl, NotStartedEverySetterIsANoOpReturningZero)
{
    AiqControl isp(64, 48);
    isp.setResultCode(-3);  // what a running ISP would answer
    EXPECT_FALSE(isp.aiq_control_get_status());
    const AiqControl::Settings before = isp.settings();
    EXPECT_EQ(callAll(isp), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    const AiqControl::Settings after = isp.settings();
    EXPECT_EQ(after.gain, before.gain);
    EXPECT_EQ(after.exposureTime, before.exposureTime);
    EXPECT_EQ(after.sharpness, before.sharpness);
    EXPECT_EQ(after.contrast, before.contrast);
    EXPECT_EQ(after.gammaAttributes, before.gammaAttributes);
    EXPECT_EQ(after.mirror, before.mirror);
    // Recorded all the same, as not applied.
    const auto calls = isp.calls();
    ASSERT_EQ(calls.size(), 5u);
    for (const auto& call : calls)
        EXPECT_FALSE(call.applied);
}

TEST(AiqControl, RunningItKeepsWhatItWasToldInOrder)
{
    AiqControl isp(64, 48);
    isp.setRunning(true);
    EXPECT_TRUE(isp.aiq_control_get_status());
    EXPECT_EQ(callAll(isp), (std::vector<int>{0, 0, 0, 0, 0, 0}));

    const auto calls = isp.calls();
    ASSERT_EQ(calls.size(), 5u);
    const std::vector<Setter> order = {Setter::ManualExp, Setter::Sharpness, Setter::Gamma, Setter::Contrast,
                                       Setter::Mirror};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].setter, order[i]) << i;
        EXPECT_TRUE(calls[i].applied) << i;
    }
    const AiqControl::Settings s = isp.settings();
    EXPECT_FLOAT_EQ(s.gain, 2.0f);
    EXPECT_FLOAT_EQ(s.exposureTime, 0.025f);
    EXPECT_EQ(s.sharpness, 61u);
    EXPECT_EQ(s.contrast, 120u);
    EXPECT_TRUE(s.mirror);
    EXPECT_FALSE(s.flip);

    isp.clearCalls();
    EXPECT_TRUE(isp.calls().empty());
}

TEST(AiqControl, GammaReplacesOnlyTheSeventhWord)
{
    AiqControl isp(64, 48);
    isp.setRunning(true);
    isp.aiq_control_setGamma(87);
    isp.aiq_control_setGamma(-5);
    const auto words = isp.settings().gammaAttributes;
    for (int i = 0; i < AiqControl::kGammaWords; ++i)
        EXPECT_EQ(words[size_t(i)], i == 6 ? -5 : 0) << i;
}

TEST(AiqControl, RunningItAnswersWithTheLibrarysResultCode)
{
    AiqControl isp(64, 48);
    isp.setRunning(true);
    isp.setResultCode(-1);
    EXPECT_EQ(callAll(isp), (std::vector<int>{-1, -1, -1, -1, -1, -1}));
    isp.setRunning(false);
    EXPECT_EQ(isp.aiq_control_setSharpness(3), 0);
}

TEST(CaptureBuffer, HoldsOneNv12FrameOfTheControllersSize)
{
    {
        AiqControl isp(1920, 1080);
        ASSERT_NE(gImageThread, nullptr);
        EXPECT_EQ(platform::captureBufferSize(), 3110400);
        gImageThread[3110400 - 1] = 9;  // the whole frame is writable
    }
    EXPECT_EQ(platform::captureBufferLength(1920, 1080), 3110400);
    EXPECT_EQ(platform::captureBufferLength(3, 3), 13);  // truncated
    EXPECT_EQ(platform::captureBufferLength(0, 1080), 0);
    EXPECT_EQ(platform::captureBufferLength(-2, 4), 0);
    EXPECT_EQ(platform::allocateCaptureBuffer(4, 2), 12);
    EXPECT_EQ(platform::allocateCaptureBuffer(0, 0), 0);
    EXPECT_EQ(gImageThread, nullptr);
    EXPECT_EQ(platform::captureBufferSize(), 0);
}

}  // namespace
