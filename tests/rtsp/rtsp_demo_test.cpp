// The RTSP server's requests and answers, through our scripted viewer on
// loopback: exact answers, refusals, SDP, SETUP, invalid messages.
#include "rtsp/rtsp_demo.h"
#include "rtsp/rtsp_log.h"
#include "rtspserverfixture.h"
#include "support/logcapture.h"
#include "support/rtsplogcapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

namespace {

using rtsptest::exchange;
using rtsptest::RtspServer;
using testsupport::RtspScriptedClient;

// The answer with its Date line (checked for ctime's form) replaced by "Date: *".
std::string withoutDate(const testsupport::RtspReply& r)
{
    std::smatch m;
    static const std::regex date("Date: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} "
                                 "[0-9]{4}\r\n");
    std::string raw = r.raw;
    if (std::regex_search(raw, m, date))
        raw.replace(size_t(m.position(0)), size_t(m.length(0)), "Date: *\r\n");
    return raw;
}

TEST(RtspServerAnswers, ExactText)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));

    auto r = exchange(c, "OPTIONS", s.url(), 1);
    EXPECT_EQ(withoutDate(r), "RTSP/1.0 200 OK\r\nCSeq: 1\r\nDate: *\r\n"
                              "Public: OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN\r\nServer: rtsp_demo\r\n\r\n");

    r = exchange(c, "SETUP", s.url() + "/track1", 7,
                 {"Transport: RTP/AVP/TCP;unicast;interleaved=0-1"});
    // Ids count through the process: the first viewer of a process gets 12345678 and 22345678.
    const std::string session = r.header("Session");
    const std::string ssrc = rtsptest::hexId(rtsptest::ssrcOf(r));
    EXPECT_EQ(withoutDate(r), "RTSP/1.0 200 OK\r\nCSeq: 7\r\nDate: *\r\nSession: " + session +
                                  "\r\nTransport: RTP/AVP/TCP;ssrc=" + ssrc +
                                  ";interleaved=0-1\r\nServer: rtsp_demo\r\n\r\n");
    EXPECT_TRUE(std::regex_match(session + ssrc, std::regex("[0-9A-F]{16}"))) << session << " " << ssrc;

    r = exchange(c, "PLAY", s.url() + "/", 8, {"Session: " + session + ";timeout=60"});
    EXPECT_EQ(withoutDate(r), "RTSP/1.0 200 OK\r\nCSeq: 8\r\nDate: *\r\nSession: " + session +
                                  "\r\nServer: rtsp_demo\r\n\r\n");

    r = exchange(c, "PLAY", s.url() + "/", 9);
    EXPECT_EQ(withoutDate(r), "RTSP/1.0 454 Session Not Found\r\nCSeq: 9\r\nDate: *\r\nServer: rtsp_demo\r\n\r\n");
    EXPECT_TRUE(log.contains("[WARN  rtsp_demo.cpp:", RTSP_LOG_WARN));
    EXPECT_TRUE(log.contains("Invalid Session field", RTSP_LOG_WARN));
}

struct Refusal {
    const char* name;
    std::vector<std::string> before;  // requests answered 200 first; "{S}" is the session id
    std::string request;              // "{U}" is the stream's URL
    int status;                       // 0: the connection is closed
    const char* logged;
};

std::string fill(std::string text, const std::string& url, const std::string& session)
{
    for (size_t at; (at = text.find("{U}")) != std::string::npos;)
        text.replace(at, 3, url);
    for (size_t at; (at = text.find("{S}")) != std::string::npos;)
        text.replace(at, 3, session);
    return text;
}

TEST(RtspServerAnswers, Refusals)
{
    const std::string setupTcp =
        "SETUP {U}/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n";
    const std::string describe = "DESCRIBE {U} RTSP/1.0\r\nCSeq: 1\r\nAccept: application/sdp\r\n\r\n";
    const Refusal cases[] = {
        {"no CSeq", {}, "OPTIONS {U} RTSP/1.0\r\n\r\n", 400, "No CSeq field"},
        {"RECORD", {}, "RECORD {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 501, ""},
        {"ANNOUNCE", {}, "ANNOUNCE {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 501, ""},
        {"SET_PARAMETER", {}, "SET_PARAMETER {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 501, ""},
        {"GET_PARAMETER", {}, "GET_PARAMETER {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 501, ""},
        {"REDIRECT", {}, "REDIRECT {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 501, ""},
        {"DESCRIBE without Accept", {}, "DESCRIBE {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 406,
         "client not support accept SDP"},
        {"DESCRIBE without SDP in Accept", {}, "DESCRIBE {U} RTSP/1.0\r\nCSeq: 2\r\nAccept: application/rtsl\r\n\r\n",
         406, "client not support accept SDP"},
        {"DESCRIBE of another path", {},
         "DESCRIBE rtsp://127.0.0.1/live/main RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n\r\n", 454,
         "Not found session path: /live/main"},
        {"SETUP of another path", {},
         "SETUP rtsp://127.0.0.1/live/main/track1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n\r\n",
         454, "Not found session path"},
        {"wrong Session once set up", {setupTcp}, "PLAY {U} RTSP/1.0\r\nCSeq: 2\r\nSession: 0BADF00D\r\n\r\n", 454,
         "Invalid Session field"},
        {"no Session once set up", {setupTcp}, "PLAY {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 454, "Invalid Session field"},
        {"second SETUP with a wrong Session", {setupTcp},
         "SETUP {U}/track1 RTSP/1.0\r\nCSeq: 2\r\nSession: 1\r\nTransport: RTP/AVP/TCP;interleaved=0-1\r\n\r\n", 454,
         "Invalid Session field"},
        {"another path on a bound connection", {describe},
         "DESCRIBE rtsp://127.0.0.1/other RTSP/1.0\r\nCSeq: 2\r\nAccept: application/sdp\r\n\r\n", 451,
         "path is not matched /other (old:/live/main_stream)"},
        {"PLAY before SETUP", {}, "PLAY {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 455, "rtsp status err"},
        {"PAUSE before SETUP", {}, "PAUSE {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 455, "rtsp status err"},
        {"SETUP without Transport", {}, "SETUP {U}/track1 RTSP/1.0\r\nCSeq: 2\r\n\r\n", 461, "rtsp no transport err"},
        {"TCP without interleaved", {}, "SETUP {U}/track1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP/TCP;unicast\r\n\r\n",
         461, "rtsp no interleaved err"},
        {"UDP without client_port", {}, "SETUP {U}/track1 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP;unicast\r\n\r\n",
         461, "rtsp no client_port err"},
        {"audio track", {},
         "SETUP {U}/track2 RTSP/1.0\r\nCSeq: 2\r\nTransport: RTP/AVP;unicast;client_port=5000-5001\r\n\r\n", 461,
         "rtsp urlpath:/live/main_stream/track2 err"},
        {"unknown method", {}, "FETCH {U} RTSP/1.0\r\nCSeq: 2\r\n\r\n", 0, "parse startline failed"},
        {"first line of 257 bytes without CR LF", {}, std::string(257, 'O'), 0, "Invalid frame"},
        {"header of 1024 bytes", {},
         "OPTIONS {U} RTSP/1.0\r\n" + std::string(1000, 'x') + "\r\n" + std::string(50, 'y') + "\r\n\r\n", 0,
         "Invalid frame"},
        {"header lines filling the buffer", {},
         [] {
             std::string h = "OPTIONS {U} RTSP/1.0\r\n";
             while (h.size() < 1100)
                 h += "X-Pad: 0123456789\r\n";
             return h;
         }(),
         0, "Invalid frame"},
        {"Content-Length beyond the buffer", {}, "OPTIONS {U} RTSP/1.0\r\nCSeq: 2\r\nContent-Length: 1000\r\n\r\n", 0,
         "exceeds"},
        {"negative Content-Length", {}, "OPTIONS {U} RTSP/1.0\r\nCSeq: 2\r\nContent-Length: -5\r\n\r\n", 0,
         "invalid Content-Length -5"},
        {"'$' frame over 1019 bytes", {}, std::string("$\x00\x03\xfc", 4) + std::string(100, 'r'), 0,
         "interleaved frame of 1020 bytes"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::RtspLogCapture log;
        RtspServer s;
        ASSERT_TRUE(s.ok());
        RtspScriptedClient client(s.pumper());
        ASSERT_TRUE(client.connectTo(s.port));
        std::string session;
        for (const std::string& b : c.before) {
            ASSERT_TRUE(client.send(fill(b, s.url(), session)));
            const auto r = client.readReply();
            ASSERT_TRUE(r);
            ASSERT_EQ(r->status, 200);
            if (!r->header("Session").empty())
                session = r->header("Session");
        }
        ASSERT_TRUE(client.send(fill(c.request, s.url(), session)));
        if (c.status == 0) {
            EXPECT_TRUE(client.waitClosed());
            EXPECT_TRUE(log.contains("delete client", RTSP_LOG_INFO));
        } else {
            const auto r = client.readReply();
            ASSERT_TRUE(r);
            EXPECT_EQ(r->status, c.status);
            EXPECT_EQ(r->header("Server"), "rtsp_demo");
            if (c.status != 400) {
                EXPECT_EQ(r->header("CSeq"), "2");
            }
            // The connection stays usable after a refusal.
            std::vector<std::string> headers;
            if (!session.empty())
                headers.push_back("Session: " + session);
            const auto again = exchange(client, "OPTIONS", s.url(), 3, headers);
            EXPECT_EQ(again.status, 200);
        }
        if (*c.logged) {
            EXPECT_TRUE(log.contains(c.logged, RTSP_LOG_WARN)) << c.logged;
        }
    }
}

TEST(RtspServerAnswers, SdpWithTheRequestsHostAndPort)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(s.port) + "/live/main_stream";

    auto r = exchange(c, "DESCRIBE", s.url(), 2, {"Accept: application/sdp"});
    const std::string head = "v=0\r\no=- 0 0 IN IP4 0.0.0.0\r\ns=rtsp_demo\r\nt=0 0\r\na=control:" + base +
                             "\r\na=range:npt=0-\r\nm=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\n"
                             "a=rtpmap:96 H264/90000\r\n";
    EXPECT_EQ(r.body, head + "a=fmtp:96 packetization-mode=1\r\na=control:" + base + "/track1\r\n");
    EXPECT_EQ(r.header("Content-Type"), "application/sdp");
    EXPECT_EQ(r.header("Content-Length"), std::to_string(r.body.size()));

    // Once a key frame went out, the parameter sets are in the SDP.
    s.sendFrame(rtsptest::keyFrame());
    r = exchange(c, "DESCRIBE", s.url(), 3, {"Accept: application/sdp, application/rtsl"});
    // SPS of 20 bytes 0x67 0x11..., PPS of 6 bytes 0x68 0x11...: Base64 of those bytes.
    EXPECT_EQ(r.body, head +
                          "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=ZxESExQVFhcYGRobHB0eHyAhIiM=,"
                          "aBESExQV\r\na=control:" + base + "/track1\r\n");

    // Without a port in the request, none in the SDP.
    r = exchange(c, "DESCRIBE", "rtsp://cam.local/live/main_stream", 4, {"Accept: application/sdp"});
    EXPECT_NE(r.body.find("a=control:rtsp://cam.local/live/main_stream\r\n"), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("a=control:rtsp://cam.local/live/main_stream/track1\r\n"), std::string::npos);
}

TEST(RtspServerAnswers, SetupSessionsSsrcsAndTeardown)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient a(s.pumper());
    RtspScriptedClient b(s.pumper());
    ASSERT_TRUE(a.connectTo(s.port));
    ASSERT_TRUE(b.connectTo(s.port));
    testsupport::RtpUdpReceiver rx(s.pumper());
    ASSERT_TRUE(rx.ok());
    const std::string cp = std::to_string(rx.rtpPort()) + "-" + std::to_string(rx.rtpPort() + 1);

    auto r = exchange(a, "SETUP", s.url() + "/track1", 1, {"Transport: RTP/AVP;unicast;client_port=" + cp});
    // Ids count on through the process; this test reads the first ones it is given.
    const std::string session = r.header("Session");
    ASSERT_EQ(session.size(), 8u) << session;
    const uint32_t sessionId = uint32_t(std::stoul(session, nullptr, 16));
    const uint32_t ssrc = rtsptest::ssrcOf(r);
    std::smatch m;
    const std::string transport = r.header("Transport");
    ASSERT_TRUE(std::regex_match(transport, m,
                                 std::regex("RTP/AVP;ssrc=" + rtsptest::hexId(ssrc) + ";unicast;client_port=" + cp +
                                            ";server_port=([0-9]+)-([0-9]+)")))
        << transport;
    const int sp = std::stoi(m[1]);
    EXPECT_GE(sp, 49152);
    EXPECT_EQ(sp % 2, 0);
    EXPECT_EQ(std::stoi(m[2]), sp + 1);

    // A second SETUP on the same connection: new ssrc, same session.
    r = exchange(a, "SETUP", s.url() + "/track1", 2,
                 {"Session: " + session, "Transport: RTP/AVP/TCP;unicast;interleaved=2-3"});
    EXPECT_EQ(r.header("Session"), session);
    EXPECT_EQ(r.header("Transport"), "RTP/AVP/TCP;ssrc=" + rtsptest::hexId(ssrc + 1) + ";interleaved=2-3");

    // Another viewer: the next session id.
    r = exchange(b, "SETUP", s.url() + "/track1", 1, {"Transport: RTP/AVP/TCP;interleaved=0-1"});
    EXPECT_EQ(r.header("Session"), rtsptest::hexId(sessionId + 1));
    EXPECT_EQ(r.header("Transport"), "RTP/AVP/TCP;ssrc=" + rtsptest::hexId(ssrc + 2) + ";interleaved=0-1");

    // PLAY twice keeps playing; PAUSE; TEARDOWN of the whole stream returns to init.
    EXPECT_EQ(exchange(a, "PLAY", s.url(), 3, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(a, "PLAY", s.url(), 4, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(a, "PAUSE", s.url(), 5, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(a, "TEARDOWN", s.url(), 6, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(a, "PLAY", s.url(), 7).status, 455);
    // A new SETUP after it gets a new session.
    r = exchange(a, "SETUP", s.url() + "/track1", 8, {"Transport: RTP/AVP/TCP;interleaved=0-1"});
    EXPECT_EQ(r.header("Session"), rtsptest::hexId(sessionId + 2));
}

TEST(RtspServerAnswers, AnAudioTrackIsSetUpAndTornDownOnItsOwn)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    ASSERT_EQ(rtsp_set_audio(s.session, RTSP_CODEC_ID_AUDIO_G711A, nullptr, 0), 0);
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));

    auto r = exchange(c, "DESCRIBE", s.url(), 1, {"Accept: application/sdp"});
    EXPECT_NE(r.body.find("m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 PCMA/8000/1\r\na=control:" +
                          s.url() + "/track2\r\n"),
              std::string::npos)
        << r.body;
    r = exchange(c, "SETUP", s.url() + "/track2", 2, {"Transport: RTP/AVP/TCP;interleaved=2-3"});
    ASSERT_EQ(r.status, 200);
    const std::string session = r.header("Session");
    EXPECT_TRUE(log.contains("new rtp over tcp for audio", RTSP_LOG_INFO));
    EXPECT_EQ(exchange(c, "SETUP", s.url() + "/track1", 3,
                       {"Session: " + session, "Transport: RTP/AVP/TCP;interleaved=0-1"})
                  .status,
              200);
    EXPECT_TRUE(log.contains("new rtp over tcp for video", RTSP_LOG_INFO));
    EXPECT_EQ(exchange(c, "PLAY", s.url(), 4, {"Session: " + session}).status, 200);

    // One frame of each medium reaches the viewer on its own channel.
    const std::string alaw(160, '\xd5');
    ASSERT_EQ(rtsp_tx_audio(s.session, reinterpret_cast<const uint8_t*>(alaw.data()), 160, s.ts), 160);
    s.sendFrame(rtsptest::keyFrame(500));
    std::set<int> channels;
    for (int i = 0; i < 10 && channels.size() < 4; ++i) {
        const auto f = c.readInterleaved(2000);
        if (!f)
            break;
        channels.insert(f->channel);
    }
    EXPECT_EQ(channels, (std::set<int>{0, 1, 2, 3})) << "RTP and sender reports of both tracks";

    // Tearing down the audio keeps the video; then the video: back to init.
    EXPECT_EQ(exchange(c, "TEARDOWN", s.url() + "/track2", 5, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(c, "PLAY", s.url(), 6, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(c, "TEARDOWN", s.url() + "/track1", 7, {"Session: " + session}).status, 200);
    EXPECT_EQ(exchange(c, "PLAY", s.url(), 8).status, 455);
}

TEST(RtspServerRequests, BytewisePipelinedAndSplit)
{
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient c(s.pumper());
    ASSERT_TRUE(c.connectTo(s.port));
    // The pipelined PLAY names its session before the answer to its SETUP: the
    // one after the session another viewer is given first.
    RtspScriptedClient first(s.pumper());
    ASSERT_TRUE(first.connectTo(s.port));
    const std::string taken =
        exchange(first, "SETUP", s.url() + "/track1", 1, {"Transport: RTP/AVP/TCP;interleaved=0-1"}).header("Session");
    ASSERT_FALSE(taken.empty());
    const std::string next = rtsptest::hexId(uint32_t(std::stoul(taken, nullptr, 16)) + 1);
    ASSERT_TRUE(c.sendBytewise(RtspScriptedClient::request("OPTIONS", s.url(), 1)));
    auto r = c.readReply();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->header("CSeq"), "1");

    // Three requests in one send, then one more split across sends: four answers in order.
    std::string all = RtspScriptedClient::request("OPTIONS", s.url(), 2) +
                      RtspScriptedClient::request("DESCRIBE", s.url(), 3, {"Accept: application/sdp"}) +
                      RtspScriptedClient::request("SETUP", s.url() + "/track1", 4,
                                                  {"Transport: RTP/AVP/TCP;interleaved=0-1"});
    ASSERT_TRUE(c.send(all));
    const std::string play = RtspScriptedClient::request("PLAY", s.url(), 5, {"Session: " + next});
    ASSERT_TRUE(c.send(play.substr(0, 10)));
    s.pump();
    ASSERT_TRUE(c.send(play.substr(10)));
    const int expected[] = {200, 200, 200, 200};
    for (int i = 0; i < 4; ++i) {
        r = c.readReply();
        ASSERT_TRUE(r) << i;
        EXPECT_EQ(r->header("CSeq"), std::to_string(i + 2));
        EXPECT_EQ(r->status, expected[i]);
    }
}

TEST(RtspServerRequests, ResetMidRequestLeavesOthersServed)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    RtspScriptedClient gone(s.pumper());
    RtspScriptedClient stays(s.pumper());
    ASSERT_TRUE(gone.connectTo(s.port));
    ASSERT_TRUE(stays.connectTo(s.port));
    ASSERT_TRUE(gone.send("OPTIONS rtsp://127.0.0.1/ RTS"));
    s.pump();
    gone.resetConnection();
    for (int i = 0; i < 5; ++i)
        s.pump();
    EXPECT_TRUE(log.contains("delete client", RTSP_LOG_INFO));
    EXPECT_EQ(exchange(stays, "OPTIONS", s.url(), 1).status, 200);
}

TEST(RtspServerSetup, PortFromEnvironment)
{
    testsupport::RtspLogCapture log;
    struct Case {
        const char* value;  // null: unset
        int port;
    } cases[] = {{nullptr, 554}, {"", 554},     {"8554", 8554}, {"1", 1},     {"65535", 65535},
                 {"0", 554},     {"65536", 554}, {"-1", 554},    {"85x", 554}, {"99999999999999999999", 554}};
    for (const Case& c : cases) {
        if (c.value)
            setenv("ORVALE_RTSP_PORT", c.value, 1);
        else
            unsetenv("ORVALE_RTSP_PORT");
        EXPECT_EQ(rtsp_demo_port_from_environment(), c.port) << (c.value ? c.value : "unset");
    }
    unsetenv("ORVALE_RTSP_PORT");
    EXPECT_TRUE(log.contains("ORVALE_RTSP_PORT \"85x\" is not a port", RTSP_LOG_WARN));
}

TEST(RtspServerSetup, SessionsAndCodecs)
{
    testsupport::RtspLogCapture log;
    RtspServer s;
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(rtsp_new_session(s.demo, "/live/main_stream/track1"), nullptr);
    EXPECT_EQ(rtsp_new_session(s.demo, "/live"), nullptr);
    EXPECT_TRUE(log.contains("is exist!!!", RTSP_LOG_ERROR));
    EXPECT_EQ(rtsp_new_session(s.demo, ""), nullptr);
    EXPECT_EQ(rtsp_new_session(nullptr, "/x"), nullptr);
    rtsp_session_handle other = rtsp_new_session(s.demo, "/live/main");
    ASSERT_NE(other, nullptr);
    // Each medium takes its own codecs only.
    EXPECT_EQ(rtsp_set_video(other, RTSP_CODEC_ID_VIDEO_MPEG4, nullptr, 0), -1);
    EXPECT_TRUE(log.contains("not supported codec_id 3 for video", RTSP_LOG_ERROR));
    EXPECT_EQ(rtsp_set_video(other, RTSP_CODEC_ID_AUDIO_AAC, nullptr, 0), -1);
    EXPECT_TRUE(log.contains("not supported codec_id 16388 for video", RTSP_LOG_ERROR));
    EXPECT_EQ(rtsp_set_audio(other, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0), -1);
    EXPECT_TRUE(log.contains("not supported codec_id 1 for audio", RTSP_LOG_ERROR));
    EXPECT_EQ(rtsp_set_audio(nullptr, RTSP_CODEC_ID_AUDIO_G711A, nullptr, 0), -1);
    // Without a codec nothing is sent or synchronised.
    EXPECT_EQ(rtsp_tx_video(other, reinterpret_cast<const uint8_t*>("\0\0\1e"), 4, 0), -1);
    EXPECT_EQ(rtsp_sync_video_ts(other, 0, 0), -1);
    EXPECT_EQ(rtsp_tx_audio(other, reinterpret_cast<const uint8_t*>("\xd5\xd5"), 2, 0), -1);
    EXPECT_EQ(rtsp_sync_audio_ts(other, 0, 0), -1);
    // A session keeps its first codec of each medium.
    EXPECT_EQ(rtsp_set_video(other, RTSP_CODEC_ID_VIDEO_H265, nullptr, 0), 0);
    EXPECT_EQ(rtsp_set_video(other, RTSP_CODEC_ID_VIDEO_H265, nullptr, 0), 0);
    EXPECT_EQ(rtsp_set_video(other, RTSP_CODEC_ID_VIDEO_H264, nullptr, 0), -1);
    EXPECT_EQ(rtsp_set_audio(other, RTSP_CODEC_ID_AUDIO_G711U, nullptr, 0), 0);
    EXPECT_EQ(rtsp_set_audio(other, RTSP_CODEC_ID_AUDIO_G711A, nullptr, 0), -1);
    EXPECT_EQ(rtsp_sync_video_ts(other, 0, 0), 0);
    EXPECT_EQ(rtsp_sync_audio_ts(other, 0, 0), 0);
    EXPECT_EQ(rtsp_tx_audio(other, reinterpret_cast<const uint8_t*>("\xd5\xd5"), 2, 0), 2);
    // Codec data that does not parse is only warned about.
    const uint32_t badRate = 16000;
    rtsp_session_handle third = rtsp_new_session(s.demo, "/live/third");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(rtsp_set_audio(third, RTSP_CODEC_ID_AUDIO_G726, reinterpret_cast<const uint8_t*>(&badRate), 4), 0);
    EXPECT_TRUE(log.contains("bit rate invalid", RTSP_LOG_ERROR));
    EXPECT_TRUE(log.contains("parse codec_data failed", RTSP_LOG_WARN));
    rtsp_del_session(third);
    rtsp_del_session(other);
    EXPECT_EQ(rtsp_do_event(nullptr), -1);
    EXPECT_EQ(rtsp_tx_video(nullptr, nullptr, 0, 0), -1);
    // A port that is taken.
    EXPECT_EQ(create_rtsp_demo(s.port), nullptr);
    const std::string taken = "cannot listen on RTSP port " + std::to_string(s.port);
    EXPECT_TRUE(log.contains(taken, RTSP_LOG_ERROR));
}

TEST(RtspServerLog, WarningsReachQtsLog)
{
    testsupport::LogCapture qtLog;
    rtsp_log_handler previous = rtsp_set_log_handler(&rtsp_log_to_stdout_and_qt);
    {
        RtspServer s;
        RtspScriptedClient c(s.pumper());
        ASSERT_TRUE(c.connectTo(s.port));
        EXPECT_EQ(exchange(c, "OPTIONS", s.url(), -1).status, 400);
    }
    rtsp_set_log_handler(previous);
    bool found = false;
    for (const QString& w : qtLog.warnings())
        found = found || (w.startsWith("[RTSP] [WARN  rtsp_demo.cpp:") && w.endsWith("No CSeq field"));
    EXPECT_TRUE(found) << qtLog.messages().join("\n").toStdString();
    EXPECT_EQ(qtLog.count("[DEBUG"), 0);
}

}  // namespace
