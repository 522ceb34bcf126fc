#pragma once
// An in-process RTSP server with the camera's one session, driven pass by
// pass from the test's thread, and synthetic H.264 frames of known shape.
#include "rtsp/rtsp_demo.h"
#include "support/rtspscriptedclient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace rtsptest {

inline std::string nalUnit(int type, int bytesWithHeader)
{
    std::string n("\0\0\0\1", 4);
    n += char(0x60 | type);
    for (int i = 1; i < bytesWithHeader; ++i)
        n += char(0x10 + (i % 200));
    return n;
}

// SPS (20 bytes), PPS (6 bytes), then an IDR slice of `sliceBytes`.
inline std::string keyFrame(int sliceBytes = 3000)
{
    return nalUnit(7, 20) + nalUnit(8, 6) + nalUnit(5, sliceBytes);
}

inline std::string deltaFrame(int sliceBytes = 2000)
{
    return nalUnit(1, sliceBytes);
}

class RtspServer {
public:
    static constexpr const char* kPath = "/live/main_stream";

    RtspServer()
    {
        for (int attempt = 0; attempt < 20 && !demo; ++attempt) {
            port = testsupport::freeTcpPort();
            demo = create_rtsp_demo(port);
        }
        session = rtsp_new_session(demo, kPath);
        rtsp_set_video(session, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0);
        syncTs = rtsp_get_reltime();
        syncNtp = rtsp_get_ntptime();
        rtsp_sync_video_ts(session, syncTs, syncNtp);
        ts = syncTs;
    }
    ~RtspServer() { rtsp_del_demo(demo); }
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    bool ok() const { return demo && session; }
    void pump() { rtsp_do_event(demo); }
    std::function<void()> pumper()
    {
        return [this] { pump(); };
    }
    // One frame with the next time stamp (50 ms on), then one pass.
    int sendFrame(const std::string& frame)
    {
        const int r = rtsp_tx_video(session, reinterpret_cast<const uint8_t*>(frame.data()), int(frame.size()), ts);
        lastTs = ts;
        ts += 50000;
        pump();
        return r;
    }
    std::string url(const std::string& path = kPath) const
    {
        return "rtsp://127.0.0.1:" + std::to_string(port) + path;
    }

    rtsp_demo_handle demo = nullptr;
    rtsp_session_handle session = nullptr;
    uint16_t port = 0;
    uint64_t syncTs = 0;
    uint64_t syncNtp = 0;
    uint64_t ts = 0;
    uint64_t lastTs = 0;
};

// Runs `method` on `url` and returns the answer; the test fails without one.
inline testsupport::RtspReply exchange(testsupport::RtspScriptedClient& c, const std::string& method,
                                       const std::string& url, int cseq, const std::vector<std::string>& headers = {})
{
    EXPECT_TRUE(c.send(testsupport::RtspScriptedClient::request(method, url, cseq, headers)));
    auto r = c.readReply();
    EXPECT_TRUE(r) << method << " " << url << " got no answer";
    return r ? *r : testsupport::RtspReply{};
}

// Session ids and ssrcs count on through the whole process, so a test reads
// the ones it was given instead of assuming it is the process's first viewer.
// The ssrc named in a SETUP answer's Transport, or 0.
inline uint32_t ssrcOf(const testsupport::RtspReply& setup)
{
    const std::string t = setup.header("Transport");
    const size_t at = t.find("ssrc=");
    return at == std::string::npos ? 0 : uint32_t(std::stoul(t.substr(at + 5), nullptr, 16));
}

// An id as the server writes it: eight upper-case hexadecimal digits.
inline std::string hexId(uint32_t id)
{
    char text[9];
    std::snprintf(text, sizeof text, "%08X", id);
    return text;
}

// SETUP over TCP (channels 0-1) and PLAY; the session id, or "" on failure;
// the stream's ssrc in `ssrc` when given.
inline std::string playOverTcp(RtspServer& s, testsupport::RtspScriptedClient& c, uint32_t* ssrc = nullptr)
{
    const auto setup = exchange(c, "SETUP", s.url() + "/track1", 1, {"Transport: RTP/AVP/TCP;unicast;interleaved=0-1"});
    const std::string session = setup.header("Session");
    if (ssrc)
        *ssrc = ssrcOf(setup);
    const auto play = exchange(c, "PLAY", s.url() + "/", 2, {"Session: " + session});
    return (setup.status == 200 && play.status == 200) ? session : std::string();
}

// SETUP over UDP to `rx` and PLAY; the SETUP answer.
inline testsupport::RtspReply playOverUdp(RtspServer& s, testsupport::RtspScriptedClient& c,
                                          const testsupport::RtpUdpReceiver& rx)
{
    const auto setup = exchange(c, "SETUP", s.url() + "/track1", 1,
                                {"Transport: RTP/AVP;unicast;client_port=" + std::to_string(rx.rtpPort()) + "-" +
                                 std::to_string(rx.rtpPort() + 1)});
    const auto play = exchange(c, "PLAY", s.url() + "/", 2, {"Session: " + setup.header("Session")});
    EXPECT_EQ(play.status, 200);
    return setup;
}

// The server's RTP port from a SETUP answer over UDP, or 0.
inline uint16_t serverPort(const testsupport::RtspReply& setup)
{
    const std::string t = setup.header("Transport");
    const size_t at = t.find("server_port=");
    return at == std::string::npos ? 0 : uint16_t(std::stoi(t.substr(at + 12)));
}

}  // namespace rtsptest
