// SIGINT once capture runs: "signal 2" on standard error, capture and
// streaming stop for good, the process runs on. A program of its own: the
// stop flag is never cleared.
#include "capture/aiqcontrol.h"

#include "capturerig.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace capturetest;
using testsupport::RtspScriptedClient;

namespace {

TEST(CaptureSigint, StopsCaptureAndStreamingAndTheProcessRunsOn)
{
    CaptureRig rig;
    AiqControl control;
    ASSERT_TRUE(control.aiq_control_get_status());

    // A viewer plays over TCP.
    RtspScriptedClient viewer(nap);
    ASSERT_TRUE(viewer.connectTo(rig.port));
    const std::string url = rig.url();
    viewer.send(RtspScriptedClient::request("DESCRIBE", url, 1, {"Accept: application/sdp"}));
    ASSERT_EQ(viewer.readReply(3000).value_or(testsupport::RtspReply{}).status, 200);
    viewer.send(RtspScriptedClient::request("SETUP", url + "/track1", 2,
                                            {"Transport: RTP/AVP/TCP;unicast;interleaved=0-1"}));
    const auto setup = viewer.readReply(3000);
    ASSERT_TRUE(setup && setup->status == 200);
    viewer.send(RtspScriptedClient::request("PLAY", url, 3, {"Session: " + setup->header("Session")}));
    ASSERT_EQ(viewer.readReply(3000).value_or(testsupport::RtspReply{}).status, 200);
    ASSERT_TRUE(viewer.readInterleaved(3000).has_value()) << "the stream plays";

    FdCapture err(STDERR_FILENO);
    ASSERT_EQ(::kill(::getpid(), SIGINT), 0);
    ASSERT_TRUE(waitUntil([] { return quit.load(); }, 2000));
    err.restore();
    EXPECT_EQ(err.text(), QByteArray("signal 2\n"));

    // The capture thread ends after the frame it was copying; the counter
    // then stands still.
    QThread::msleep(200);
    const int32_t frames = gFPS_Times.load();
    QThread::msleep(500);
    EXPECT_EQ(gFPS_Times.load(), frames);

    // Whatever was on its way arrives; then nothing more.
    while (viewer.readInterleaved(300)) {
    }
    EXPECT_FALSE(viewer.readInterleaved(600).has_value());

    // The process lives, and so does the controller's ISP.
    EXPECT_TRUE(control.aiq_control_get_status());
    EXPECT_EQ(control.aiq_control_setSharpness(40), 0);
}

}  // namespace
