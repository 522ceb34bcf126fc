// The capture controller: its start-up (calls, order, printed lines, ISP
// working mode), what each start-up failure leaves running, and the ISP
// setters, which act only on a running controller with an ISP context.
#include "capture/aiqcontrol.h"

#include "capturerig.h"
#include "platform/media/capturebuffer.h"
#include "platform/media/rkaiq.h"
#include "support/logcapture.h"

#include <gtest/gtest.h>

#include <memory>

using namespace capturetest;
using platform::IspRecord;
using platform::StandInCalls;
using Setter = IspRecord::Setter;

namespace {

const std::vector<std::string> kSetterCalls = {
    "rk_aiq_uapi_setManualExp", "rk_aiq_uapi_setSharpness", "rk_aiq_uapi_setContrast",
    "rk_aiq_user_api_agamma_GetAttrib", "rk_aiq_user_api_agamma_SetAttrib", "rk_aiq_uapi_setMirroFlip"};

// Calls each setter once with recognisable values; returns their results.
std::vector<int> callAll(AiqControl& c)
{
    return {c.aiq_control_setManualExp(2.0f, 0.025f), c.aiq_control_setSharpness(61), c.aiq_control_setGamma(87),
            c.aiq_control_setContrast(120), c.aiq_control_setMirror(true, false), c.aiq_control_setInitGamma()};
}

bool anySetterCalled()
{
    for (const std::string& call : StandInCalls::trace()) {
        for (const std::string& setter : kSetterCalls) {
            if (call == setter)
                return true;
        }
    }
    return false;
}

// The lines of `text` that contain one of `wanted`, in order.
std::vector<std::string> linesWith(const QByteArray& text, const std::vector<std::string>& wanted)
{
    std::vector<std::string> out;
    for (const QByteArray& line : text.split('\n')) {
        for (const std::string& w : wanted) {
            if (line.toStdString().find(w) != std::string::npos) {
                out.push_back(line.toStdString());
                break;
            }
        }
    }
    return out;
}

TEST(AiqControl, SettersActOnlyWhenRunningWithAnIspContext)
{
    struct Case {
        const char* name;
        bool pipeline;        // the full start-up, else the test-only mode
        bool running;         // test-only mode: counts as running
        const char* failing;  // a stand-in call made to fail
        bool acts;
    };
    const Case cases[] = {
        {"test mode, not running", false, false, nullptr, false},
        {"test mode, running", false, true, nullptr, true},
        {"test mode, running, ISP not prepared", false, true, "rk_aiq_uapi_sysctl_prepare", false},
        {"whole start-up", true, false, nullptr, true},
        {"whole start-up, ISP not prepared", true, false, "rk_aiq_uapi_sysctl_prepare", false},
        {"whole start-up, ISP not started", true, false, "rk_aiq_uapi_sysctl_start", true},
        {"whole start-up, encoder not created", true, false, "RK_MPI_VENC_CreateChn", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureRig rig;
        if (c.failing)
            StandInCalls::failCall(c.failing, -1);
        std::unique_ptr<AiqControl> control =
            c.pipeline ? std::make_unique<AiqControl>(1920, 1080)
                       : std::make_unique<AiqControl>(AiqControl::WithoutPipeline{}, c.running, 64, 48);
        EXPECT_EQ(control->aiq_control_get_status(), c.acts);
        IspRecord* record = platform::ispRecord(control->context());
        const IspRecord::Settings before = record ? record->settings() : IspRecord::Settings{};
        StandInCalls::clearTrace();

        EXPECT_EQ(callAll(*control), (std::vector<int>{0, 0, 0, 0, 0, 0}));

        if (!c.acts) {
            EXPECT_FALSE(anySetterCalled());
            if (record) {
                EXPECT_TRUE(record->calls().empty());
                EXPECT_EQ(record->settings().gammaAttributes, before.gammaAttributes);
                EXPECT_EQ(record->settings().sharpness, before.sharpness);
            }
            continue;
        }
        ASSERT_NE(record, nullptr);
        const std::vector<IspRecord::Call> calls = record->calls();
        const std::vector<Setter> order = {Setter::ManualExp, Setter::Sharpness, Setter::Gamma, Setter::Contrast,
                                           Setter::Mirror};
        ASSERT_EQ(calls.size(), order.size());
        for (size_t i = 0; i < calls.size(); ++i)
            EXPECT_EQ(calls[i].setter, order[i]) << i;
        const IspRecord::Settings s = record->settings();
        EXPECT_FLOAT_EQ(s.gain, 2.0f);
        EXPECT_FLOAT_EQ(s.exposureTime, 0.025f);
        EXPECT_EQ(s.sharpness, 61u);
        EXPECT_EQ(s.contrast, 120u);
        EXPECT_TRUE(s.mirror);
        EXPECT_FALSE(s.flip);
        // Gamma: read, the seventh word replaced, written back whole.
        for (int i = 0; i < IspRecord::kGammaWords; ++i)
            EXPECT_EQ(s.gammaAttributes[size_t(i)], i == AiqControl::kGammaValueWord ? 87 : before.gammaAttributes[size_t(i)]) << i;
    }
}

TEST(AiqControl, SettersAnswerTheLibrarysResultCode)
{
    struct Case {
        const char* failing;
        std::function<int(AiqControl&)> call;
    };
    const Case cases[] = {
        {"rk_aiq_uapi_setManualExp", [](AiqControl& c) { return c.aiq_control_setManualExp(1.0f, 0.01f); }},
        {"rk_aiq_uapi_setSharpness", [](AiqControl& c) { return c.aiq_control_setSharpness(3); }},
        {"rk_aiq_uapi_setContrast", [](AiqControl& c) { return c.aiq_control_setContrast(3); }},
        {"rk_aiq_user_api_agamma_GetAttrib", [](AiqControl& c) { return c.aiq_control_setGamma(3); }},
        {"rk_aiq_user_api_agamma_SetAttrib", [](AiqControl& c) { return c.aiq_control_setGamma(3); }},
        {"rk_aiq_uapi_setMirroFlip", [](AiqControl& c) { return c.aiq_control_setMirror(true, true); }},
        {"rk_aiq_user_api_agamma_GetAttrib", [](AiqControl& c) { return c.aiq_control_setInitGamma(); }},
    };
    CaptureRig rig;
    AiqControl control(AiqControl::WithoutPipeline{}, true, 64, 48);
    ASSERT_TRUE(control.aiq_control_get_status());
    IspRecord& record = *platform::ispRecord(control.context());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        StandInCalls::clearFailures();
        StandInCalls::failCall(c.failing, -5);
        record.clearCalls();
        EXPECT_EQ(c.call(control), -5);
        EXPECT_TRUE(record.calls().empty()) << "a failed call changes nothing";
    }
    // A gamma record that could not be read is not written back.
    StandInCalls::clearFailures();
    StandInCalls::failCall("rk_aiq_user_api_agamma_GetAttrib", -5);
    StandInCalls::clearTrace();
    control.aiq_control_setGamma(9);
    for (const std::string& call : StandInCalls::trace())
        EXPECT_NE(call, "rk_aiq_user_api_agamma_SetAttrib");
}

TEST(AiqControl, StartUpMakesItsCallsAndPrintsItsLinesInOrder)
{
    struct Case {
        bool legacySwitch;
        int mode;
    };
    for (const Case& c : {Case{false, RK_AIQ_WORKING_MODE_ISP_HDR2}, Case{true, RK_AIQ_WORKING_MODE_NORMAL}}) {
        SCOPED_TRACE(c.mode);
        CaptureRig rig;
        capture::setNumFailDetect4Source([&c] { return c.legacySwitch; });
        FdCapture out(STDOUT_FILENO);
        AiqControl control;
        const std::vector<std::string> trace = StandInCalls::trace();
        out.restore();

        EXPECT_EQ(trace, (std::vector<std::string>{
                             "rk_aiq_uapi_sysctl_enumStaticMetas", "rk_aiq_uapi_sysctl_init", "rk_aiq_uapi_setExpMode",
                             "rk_aiq_uapi_sysctl_setMulCamConc", "rk_aiq_uapi_setFecEn", "rk_aiq_uapi_sysctl_prepare",
                             "rk_aiq_uapi_sysctl_start", "rk_aiq_uapi_setFrameRate", "RK_MPI_SYS_Init",
                             "RK_MPI_VI_SetChnAttr", "RK_MPI_VI_EnableChn", "RK_MPI_VENC_CreateChn",
                             "RK_MPI_SYS_RegisterOutCb", "RK_MPI_SYS_Bind"}));
        // The start-up's own lines and the server's, in this order, the
        // controller's last.
        const std::vector<std::string> marks = {
            "ID: 0, sensor_name is " + std::string(platform::kStandInSensorName),
            "rk_aiq_uapi_sysctl_start succeed",
            "rtsp server demo starting on port " + std::to_string(rig.port),
            "add session path: /live/main_stream",
            "AiqControl initial finish"};
        const std::vector<std::string> lines = linesWith(out.text(), {"ID:", "rk_aiq", "rkaiq", "rtsp server demo",
                                                                      "add session path", "initial finish", "ERROR"});
        ASSERT_EQ(lines.size(), marks.size()) << out.text().toStdString();
        for (size_t i = 0; i < marks.size(); ++i)
            EXPECT_NE(lines[i].find(marks[i]), std::string::npos) << lines[i];
        EXPECT_EQ(lines.back(), "AiqControl initial finish");
        EXPECT_EQ(qgetenv("HDR_MODE"), QByteArray::number(c.mode));

        const IspRecord::Settings isp = platform::ispRecord(control.context())->settings();
        EXPECT_EQ(isp.workingMode, c.mode);
        EXPECT_EQ(isp.exposureMode, OP_MANUAL);
        EXPECT_FALSE(isp.multiCameraConcurrency);
        EXPECT_FALSE(isp.distortionCorrection);
        EXPECT_TRUE(isp.started);
        EXPECT_FLOAT_EQ(isp.frameRate, 20.0f);
        EXPECT_TRUE(control.aiq_control_get_status());
    }
}

TEST(AiqControl, EachStartUpFailureLeavesWhatThePipelineCanStillDo)
{
    struct Case {
        const char* failing;
        const char* message;
        bool running;     // aiq_control_get_status afterwards
        bool frames;      // the capture thread counts frames
        bool streams;     // the live-stream server answers
    };
    const Case cases[] = {
        {"rk_aiq_uapi_sysctl_prepare", "rkaiq engine prepare failed !", false, true, true},
        {"rk_aiq_uapi_sysctl_start", "rk_aiq_uapi_sysctl_start  failed", true, true, true},
        {"RK_MPI_VI_SetChnAttr", "ERROR: create VI[0] error! ret=-1", false, false, false},
        {"RK_MPI_VI_EnableChn", "ERROR: create VI[0] error! ret=-1", false, false, false},
        {"RK_MPI_VENC_CreateChn", "ERROR: create VENC[0] error! ret=-1", false, false, false},
        {"RK_MPI_SYS_RegisterOutCb", "ERROR: register output callback for VENC[0] error! ret=-1", false, false, false},
        {"RK_MPI_SYS_Bind", "ERROR: Bind VI[0] and VENC[0] error! ret=-1", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        CaptureRig rig;
        StandInCalls::failCall(c.failing, -1);
        testsupport::LogCapture log;
        FdCapture out(STDOUT_FILENO);
        const int32_t framesBefore = gFPS_Times.load();
        AiqControl control;
        out.restore();

        const QByteArray printed = out.text();
        EXPECT_TRUE(printed.contains(QByteArray(c.message) + "\n")) << printed.toStdString();
        EXPECT_EQ(printed.contains("AiqControl initial finish"), c.frames);
        EXPECT_TRUE(log.anyContains(QString("[CAPTURE] ") + c.message)) << "the failure reaches the log";
        EXPECT_EQ(control.aiq_control_get_status(), c.running);

        if (c.frames) {
            EXPECT_TRUE(waitUntil([&] { return gFPS_Times.load() - framesBefore >= 3; }, 10000));
        } else {
            QThread::msleep(300);
            EXPECT_EQ(gFPS_Times.load(), framesBefore) << "no capture thread";
        }

        // The port listens either way; only a running encoder drives the server.
        testsupport::RtspScriptedClient viewer(nap);
        ASSERT_TRUE(viewer.connectTo(rig.port));
        ASSERT_TRUE(viewer.send(testsupport::RtspScriptedClient::request("OPTIONS", rig.url(), 1)));
        const auto reply = viewer.readReply(c.streams ? 15000 : 400);
        EXPECT_EQ(reply.has_value(), c.streams);
        if (c.streams) {
            EXPECT_EQ(reply->status, 200);
        }
    }
}

TEST(AiqControl, WithoutAPreparedIspTheStreamStillPlays)
{
    CaptureRig rig;
    StandInCalls::failCall("rk_aiq_uapi_sysctl_prepare", -1);
    AiqControl control;
    EXPECT_FALSE(control.aiq_control_get_status());
    EXPECT_EQ(probe(rig.url(), "tcp"), "h264|Main|1920|1080|yuv420p|20/1");
}

}  // namespace
