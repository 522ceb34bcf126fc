// Real viewers: ffprobe and ffmpeg over UDP and TCP on loopback, against the
// in-process server fed 20 frames a second of an encoded 1080p stream on its
// own thread, as the encoder's output thread feeds it in the camera.
#include "rtsp/rtsp_demo.h"
#include "rtsp/rtsp_log.h"
#include "support/h264testsource.h"
#include "support/rtspscriptedclient.h"
#include "support/toolrun.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace {

using testsupport::runTool;
using testsupport::ToolRun;

std::mutex g_logMutex;
std::set<std::thread::id> g_clientThreads;  // threads that logged a new viewer
std::atomic<int> g_lostWarnings{0};          // "will lost video packet" warnings seen
std::atomic<bool> g_played{false};           // a viewer has just been answered a PLAY

void recordThread(int level, const char* line)
{
    if (level <= RTSP_LOG_INFO && std::strstr(line, "new rtsp client")) {
        std::lock_guard<std::mutex> lock(g_logMutex);
        g_clientThreads.insert(std::this_thread::get_id());
    }
    if (std::strstr(line, "will lost video packet"))
        ++g_lostWarnings;
    if (std::strstr(line, ":handle_play]"))
        g_played = true;
}

// The server and the thread that feeds it, frame by frame at 20 fps.
class StreamingServer {
public:
    StreamingServer()
    {
        for (int attempt = 0; attempt < 20 && !m_demo; ++attempt) {
            port = testsupport::freeTcpPort();
            m_demo = create_rtsp_demo(port);
        }
        m_session = rtsp_new_session(m_demo, "/live/main_stream");
        rtsp_set_video(m_session, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0);
        rtsp_sync_video_ts(m_session, rtsp_get_reltime(), rtsp_get_ntptime());
        m_thread = std::thread([this] { feed(); });
    }
    ~StreamingServer()
    {
        m_stop = true;
        m_thread.join();
        rtsp_del_demo(m_demo);
    }
    bool ok() const { return m_demo && m_session; }
    std::thread::id feederThread() const { return m_thread.get_id(); }
    QString url() const { return QStringLiteral("rtsp://127.0.0.1:%1/live/main_stream").arg(port); }

    uint16_t port = 0;

private:
    void feed()
    {
        const auto& stream = testsupport::h264TestStream(3);
        auto next = std::chrono::steady_clock::now();
        // Each frame carries its due time, as the sensor stamps it, not the
        // moment a loaded machine got round to sending it.
        const uint64_t start = rtsp_get_reltime();
        size_t frame = 0;
        for (size_t i = 0; !m_stop; ++i) {
            const std::string& f = stream.frames[frame];
            frame = (frame + 1) % stream.frames.size();
            rtsp_tx_video(m_session, reinterpret_cast<const uint8_t*>(f.data()), int(f.size()),
                          start + uint64_t(i) * 50000);
            rtsp_do_event(m_demo);
            // A viewer starts at the newest data, which may be the middle of a
            // group of pictures; the decoder then rightly complains of missing
            // references until the next key frame. The stream goes on from a
            // key frame after a PLAY, so that any decoding error is the server's.
            if (g_played.exchange(false))
                frame = 0;
            next += std::chrono::milliseconds(50);
            std::this_thread::sleep_until(next);
        }
    }

    rtsp_demo_handle m_demo = nullptr;
    rtsp_session_handle m_session = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class RtspWithFfmpeg : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        g_lostWarnings = 0;
        g_played = false;
        m_previous = rtsp_set_log_handler(&recordThread);
        testsupport::h264TestStream(3);  // encoded before the clock starts
    }
    void TearDown() override { rtsp_set_log_handler(m_previous); }
    rtsp_log_handler m_previous = nullptr;
};

TEST_P(RtspWithFfmpeg, FfprobeSeesTheCamerasStream)
{
    StreamingServer server;
    ASSERT_TRUE(server.ok());
    const ToolRun r = runTool("ffprobe", {"-v", "error", "-rtsp_transport", GetParam(), "-select_streams", "v:0",
                                      "-show_entries", "stream=codec_name,profile,width,height,pix_fmt,r_frame_rate",
                                      "-of", "default=noprint_wrappers=1", server.url()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{"codec_name=h264", "profile=Main", "width=1920", "height=1080", "pix_fmt=yuv420p",
                                  "r_frame_rate=20/1"}))
        << r.out.toStdString();
}

TEST_P(RtspWithFfmpeg, FfmpegDecodesSixtyFrames)
{
    StreamingServer server;
    ASSERT_TRUE(server.ok());
    const ToolRun r = runTool("ffmpeg", {"-nostdin", "-v", "error", "-rtsp_transport", GetParam(), "-buffer_size",
                                         "4000000", "-i", server.url(), "-map", "0:v", "-frames:v", "60", "-f",
                                         "framemd5", "-"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    int frames = 0;
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        frames += line.startsWith('#') ? 0 : 1;
    EXPECT_EQ(frames, 60);
    // Over TCP nothing may be lost unless the server said so: a viewer too slow
    // for the stream queue has its oldest packets overwritten, with a warning
    // (the capture never waits for a viewer). Any other decoding error is a
    // broken stream. (UDP on a loaded machine may drop a datagram.)
    if (std::string(GetParam()) == "tcp" && g_lostWarnings == 0) {
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    std::lock_guard<std::mutex> lock(g_logMutex);
    EXPECT_EQ(g_clientThreads, std::set<std::thread::id>{server.feederThread()});
}

INSTANTIATE_TEST_SUITE_P(Transports, RtspWithFfmpeg, ::testing::Values("udp", "tcp"));

}  // namespace
