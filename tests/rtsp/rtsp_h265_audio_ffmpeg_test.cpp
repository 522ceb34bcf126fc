// The server's carried media, which the camera itself never sends: an H.265
// video track beside an AAC or G.711 A-law audio track, fed in real time on
// the server's own thread from streams that ffmpeg encoded beforehand, and
// read by ffprobe and ffmpeg over TCP and UDP on loopback.
#include "rtsp/rtsp_codec.h"
#include "rtsp/rtsp_demo.h"
#include "rtsp/rtsp_log.h"
#include "support/rtspscriptedclient.h"
#include "support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ostream>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using testsupport::runTool;
using testsupport::ToolRun;

std::atomic<int> g_lostWarnings{0};  // "will lost ... packet" warnings seen
std::atomic<bool> g_played{false};   // a viewer has just been answered a PLAY

void watchLog(int, const char* line)
{
    if (std::strstr(line, "will lost"))
        ++g_lostWarnings;
    if (std::strstr(line, ":handle_play]"))
        g_played = true;
}

// The encoded test media: 2 s of 320x240 H.265 at 20 fps (a key frame every
// second, an access unit delimiter before each picture), a 440 Hz tone as
// AAC in ADTS frames (48 kHz, mono) and as G.711 A-law (8 kHz).
struct TestMedia {
    std::vector<std::string> videoFrames;
    std::vector<std::string> aacFrames;
    std::string alaw;
    QString error;

    static const TestMedia& get()
    {
        static const TestMedia media = make();
        return media;
    }

private:
    static TestMedia make()
    {
        TestMedia m;
        QTemporaryDir dir;
        const QString hevc = dir.filePath("v.hevc");
        const QString aac = dir.filePath("a.aac");
        const QString alaw = dir.filePath("a.alaw");
        const QList<QStringList> jobs = {
            {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=20", "-frames:v", "40", "-c:v", "libx265", "-x265-params",
             "aud=1:keyint=20:min-keyint=20:scenecut=0:bframes=0:log-level=error", "-pix_fmt", "yuv420p", "-f", "hevc",
             hevc},
            {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3", "-ac", "1", "-c:a", "aac", "-f",
             "adts", aac},
            {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000:duration=3", "-ac", "1", "-c:a", "pcm_alaw",
             "-f", "alaw", alaw},
        };
        for (const QStringList& job : jobs) {
            const ToolRun r = runTool("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + job, 60000);
            if (r.exitCode != 0) {
                m.error = "ffmpeg could not make the test media: " + r.err;
                return m;
            }
        }
        // Access units of the video: each starts at its delimiter (type 35).
        const QByteArray v = readAll(hevc);
        const auto* p = reinterpret_cast<const uint8_t*>(v.constData());
        int left = v.size();
        while (left > 0) {
            int len = 0;
            const uint8_t* nalu = rtsp_find_h264_h265_nalu(p, left, &len);
            if (!nalu)
                break;
            const int sc = nalu[2] == 1 ? 3 : 4;
            if (((nalu[sc] >> 1) & 63) == 35 || m.videoFrames.empty())
                m.videoFrames.emplace_back();
            m.videoFrames.back().append(reinterpret_cast<const char*>(nalu), size_t(len));
            left -= int(nalu - p) + len;
            p = nalu + len;
        }
        const QByteArray a = readAll(aac);
        p = reinterpret_cast<const uint8_t*>(a.constData());
        left = a.size();
        while (left > 0) {
            int len = 0;
            const uint8_t* frame = rtsp_find_aac_adts(p, left, &len);
            if (!frame)
                break;
            m.aacFrames.emplace_back(reinterpret_cast<const char*>(frame), size_t(len));
            left -= int(frame - p) + len;
            p = frame + len;
        }
        m.alaw = readAll(alaw).toStdString();
        if (m.videoFrames.size() != 40 || m.aacFrames.size() < 100 || m.alaw.size() < 20000)
            m.error = QStringLiteral("unexpected test media: %1 pictures, %2 AAC frames, %3 A-law bytes")
                          .arg(m.videoFrames.size())
                          .arg(m.aacFrames.size())
                          .arg(m.alaw.size());
        return m;
    }
    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

enum class Audio { Aac, Alaw };

// The server with one session of H.265 and the audio, fed on its own thread
// as the media clock runs: a picture every 50 ms, an AAC frame every 1024
// samples at 48 kHz or 20 ms of A-law.
class StreamingServer {
public:
    explicit StreamingServer(Audio audio) : m_audio(audio)
    {
        for (int attempt = 0; attempt < 20 && !m_demo; ++attempt) {
            port = testsupport::freeTcpPort();
            m_demo = create_rtsp_demo(port);
        }
        m_session = rtsp_new_session(m_demo, "/live/main_stream");
        m_ok = m_session && rtsp_set_video(m_session, RTSP_CODEC_ID_VIDEO_H265, nullptr, 0) == 0 &&
               rtsp_set_audio(m_session,
                              audio == Audio::Aac ? RTSP_CODEC_ID_AUDIO_AAC : RTSP_CODEC_ID_AUDIO_G711A, nullptr,
                              0) == 0;
        const uint64_t now = rtsp_get_reltime();
        const uint64_t ntp = rtsp_get_ntptime();
        rtsp_sync_video_ts(m_session, now, ntp);
        rtsp_sync_audio_ts(m_session, now, ntp);
        m_thread = std::thread([this] { feed(); });
    }
    ~StreamingServer()
    {
        m_stop = true;
        m_thread.join();
        rtsp_del_demo(m_demo);
    }
    bool ok() const { return m_demo && m_ok; }
    QString url() const { return QStringLiteral("rtsp://127.0.0.1:%1/live/main_stream").arg(port); }

    uint16_t port = 0;

private:
    void feed()
    {
        const TestMedia& media = TestMedia::get();
        const uint64_t start = rtsp_get_reltime();
        uint64_t videoDue = 0;  // µs of media time
        uint64_t audioDue = 0;
        size_t picture = 0;
        size_t audioFrame = 0;
        size_t alawAt = 0;
        const auto begin = std::chrono::steady_clock::now();
        while (!m_stop) {
            const auto elapsed = uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                                              std::chrono::steady_clock::now() - begin)
                                              .count());
            while (videoDue <= elapsed) {
                // A viewer starts at the newest data; after a PLAY the pictures
                // go on from a key frame, so any decoding error is the server's.
                if (g_played.exchange(false))
                    picture = 0;
                const std::string& f = media.videoFrames[picture];
                picture = (picture + 1) % media.videoFrames.size();
                rtsp_tx_video(m_session, reinterpret_cast<const uint8_t*>(f.data()), int(f.size()), start + videoDue);
                videoDue += 50000;
            }
            while (audioDue <= elapsed) {
                if (m_audio == Audio::Aac) {
                    const std::string& f = media.aacFrames[audioFrame];
                    audioFrame = (audioFrame + 1) % media.aacFrames.size();
                    rtsp_tx_audio(m_session, reinterpret_cast<const uint8_t*>(f.data()), int(f.size()),
                                  start + audioDue);
                    audioDue += 1024 * 1000000ULL / 48000;
                } else {
                    if (alawAt + 160 > media.alaw.size())
                        alawAt = 0;
                    rtsp_tx_audio(m_session, reinterpret_cast<const uint8_t*>(media.alaw.data() + alawAt), 160,
                                  start + audioDue);
                    alawAt += 160;
                    audioDue += 20000;
                }
            }
            rtsp_do_event(m_demo);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    Audio m_audio;
    rtsp_demo_handle m_demo = nullptr;
    rtsp_session_handle m_session = nullptr;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Param {
    const char* transport;
    Audio audio;
};

void PrintTo(const Param& p, std::ostream* os)
{
    *os << p.transport << (p.audio == Audio::Aac ? " with AAC" : " with A-law");
}

class RtspH265AudioWithFfmpeg : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        g_lostWarnings = 0;
        g_played = false;
        m_previous = rtsp_set_log_handler(&watchLog);
        ASSERT_TRUE(TestMedia::get().error.isEmpty()) << TestMedia::get().error.toStdString();
    }
    void TearDown() override { rtsp_set_log_handler(m_previous); }
    rtsp_log_handler m_previous = nullptr;
};

TEST_P(RtspH265AudioWithFfmpeg, FfprobeSeesBothTracksAndFfmpegDecodesThem)
{
    const Param param = GetParam();
    StreamingServer server(param.audio);
    ASSERT_TRUE(server.ok());

    const ToolRun probe = runTool("ffprobe", {"-v", "error", "-rtsp_transport", param.transport, "-show_entries",
                                              "stream=codec_type,codec_name,width,height,sample_rate,channels", "-of",
                                              "compact=nokey=0:print_section=0", server.url()});
    ASSERT_EQ(probe.exitCode, 0) << probe.err.toStdString();
    const QStringList streams = probe.out.split('\n', Qt::SkipEmptyParts);
    const QString audio = param.audio == Audio::Aac
                              ? "codec_name=aac|codec_type=audio|sample_rate=48000|channels=1"
                              : "codec_name=pcm_alaw|codec_type=audio|sample_rate=8000|channels=1";
    EXPECT_EQ(streams, (QStringList{"codec_name=hevc|codec_type=video|width=320|height=240", audio}))
        << probe.out.toStdString();

    const ToolRun decode = runTool("ffmpeg", {"-nostdin", "-v", "error", "-rtsp_transport", param.transport,
                                              "-buffer_size", "4000000", "-i", server.url(), "-map", "0:v", "-map",
                                              "0:a", "-frames:v", "40", "-f", "framemd5", "-"});
    ASSERT_EQ(decode.exitCode, 0) << decode.err.toStdString();
    int video = 0;
    int audioFrames = 0;
    for (const QString& line : decode.out.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('#'))
            continue;
        (line.startsWith("0,") ? video : audioFrames) += 1;
    }
    EXPECT_EQ(video, 40);
    // 2 s of pictures come with about 2 s of sound: 94 AAC frames or 100 A-law packets.
    EXPECT_GE(audioFrames, 50) << decode.out.toStdString();
    if (std::string(param.transport) == "tcp" && g_lostWarnings == 0) {
        EXPECT_TRUE(decode.err.isEmpty()) << decode.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(TransportsAndAudio, RtspH265AudioWithFfmpeg,
                         ::testing::Values(Param{"tcp", Audio::Aac}, Param{"udp", Audio::Aac},
                                           Param{"tcp", Audio::Alaw}, Param{"udp", Audio::Alaw}),
                         [](const ::testing::TestParamInfo<Param>& info) {
                             return std::string(info.param.transport) +
                                    (info.param.audio == Audio::Aac ? "_aac" : "_alaw");
                         });

}  // namespace
