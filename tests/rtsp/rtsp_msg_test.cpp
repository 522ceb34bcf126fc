// RTSP messages: the frame-size and parse outcomes as pure functions of
// bytes, the builder's exact text, and every prefix and random mutation of
// real requests (run under the sanitizer build too).
#include "rtsp/rtsp_msg.h"
#include "support/rtsplogcapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <regex>
#include <string>

namespace {

const std::string kOptions = "OPTIONS rtsp://10.0.0.5:554/live/main_stream RTSP/1.0\r\nCSeq: 1\r\n"
                             "User-Agent: Lavf59.27.100\r\n\r\n";
const std::string kDescribe = "DESCRIBE rtsp://10.0.0.5:554/live/main_stream RTSP/1.0\r\nAccept: application/sdp\r\n"
                              "CSeq: 2\r\nUser-Agent: Lavf59.27.100\r\n\r\n";
const std::string kSetup = "SETUP rtsp://10.0.0.5:554/live/main_stream/track1 RTSP/1.0\r\n"
                           "Transport: RTP/AVP/UDP;unicast;client_port=5000-5001\r\nCSeq: 3\r\n\r\n";
const std::string kSetupTcp = "SETUP rtsp://10.0.0.5/live/main_stream/track1 RTSP/1.0\r\n"
                              "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nCSeq: 3\r\n\r\n";
const std::string kPlay = "PLAY rtsp://10.0.0.5:554/live/main_stream/ RTSP/1.0\r\nRange: npt=0.000-\r\nCSeq: 4\r\n"
                          "Session: 12345678;timeout=60\r\n\r\n";
const std::string kAnswer = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nServer: rtsp_demo\r\nContent-Type: application/sdp\r\n"
                            "Content-Length: 5\r\n\r\nv=0\r\n";

std::string lines(int bytes)
{
    // Header lines of 40 bytes each, no empty line.
    std::string s = "OPTIONS rtsp://h/live/main_stream RTSP/1.0\r\n";
    while (int(s.size()) < bytes)
        s += "X-Pad: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    return s.substr(0, size_t(bytes));
}

std::string interleaved(int length, int have)
{
    std::string s = "$";
    s += char(1);
    s += char(length >> 8);
    s += char(length & 0xff);
    return s + std::string(size_t(have), 'x');
}

TEST(RtspMsgFrameSize, OutcomeOfBytes)
{
    testsupport::RtspLogCapture log;
    const std::string req = "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    const std::string withBody = "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 5\r\n\r\n";
    const std::string header1020 = lines(1016) + "\r\n\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        int expected;
    } cases[] = {
        {"empty", "", 0},
        {"start line without CR LF, 100 bytes", std::string(100, 'A'), 0},
        {"start line without CR LF, 256 bytes", std::string(256, 'A'), 0},
        {"start line without CR LF, 257 bytes", std::string(257, 'A'), -1},
        {"start line without CR LF, 300 bytes", std::string(300, 'A'), -1},
        {"no empty line yet", lines(500), 0},
        {"no empty line, 1022 bytes", lines(1022), 0},
        {"no empty line, 1023 bytes: header can never fit", lines(1023), -1},
        {"no empty line, 4000 bytes", lines(4000), -1},
        {"complete", req, int(req.size())},
        {"complete, more behind", req + req, int(req.size())},
        {"header of 1020 bytes", header1020, 1020},
        {"header of 1024 bytes", lines(1020) + "\r\n\r\n", -1},
        {"body still coming", withBody + "abc", 0},
        {"body complete", withBody + "abcde", int(withBody.size()) + 5},
        {"negative Content-Length",
         "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\nContent-Length: -1\r\n\r\n", -1},
        {"Content-Length beyond the buffer",
         "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 990\r\n\r\n", -1},
        {"huge Content-Length",
         "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\nContent-Length: 99999999999999\r\n\r\n", -1},
        {"Content-Length not a number", "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nContent-Length: abc\r\n\r\n", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rtsp_msg_frame_size(c.bytes.data(), int(c.bytes.size())), c.expected) << c.name;
}

TEST(RtspMsgParse, OutcomeAndFieldsOfBytes)
{
    testsupport::RtspLogCapture log;
    using Check = std::function<void(const rtsp_msg_s&)>;
    struct Case {
        const char* name;
        std::string bytes;
        int expected;
        Check check;
    } cases[] = {
        {"OPTIONS with port", kOptions, int(kOptions.size()),
         [](const rtsp_msg_s& m) {
             EXPECT_EQ(m.type, RTSP_MSG_TYPE_REQUEST);
             const auto& r = m.hdrs.startline.reqline;
             EXPECT_EQ(r.method, RTSP_MSG_METHOD_OPTIONS);
             EXPECT_EQ(r.uri.scheme, RTSP_MSG_URI_SCHEME_RTSP);
             EXPECT_STREQ(r.uri.ipaddr, "10.0.0.5");
             EXPECT_EQ(r.uri.port, 554);
             EXPECT_STREQ(r.uri.abspath, "/live/main_stream");
             EXPECT_EQ(r.version, RTSP_MSG_VERSION_1_0);
             char ua[64];
             ASSERT_EQ(rtsp_msg_get_user_agent(&m, ua, sizeof(ua)), 0);
             EXPECT_STREQ(ua, "Lavf59.27.100");
         }},
        {"without port", kSetupTcp, int(kSetupTcp.size()),
         [](const rtsp_msg_s& m) {
             EXPECT_EQ(m.hdrs.startline.reqline.uri.port, 0);
             EXPECT_STREQ(m.hdrs.startline.reqline.uri.abspath, "/live/main_stream/track1");
             ASSERT_TRUE(m.hdrs.transport);
             EXPECT_EQ(m.hdrs.transport->type, RTSP_MSG_TRANSPORT_TYPE_RTP_AVP_TCP);
             EXPECT_EQ(m.hdrs.transport->flags,
                       uint32_t(RTSP_MSG_TRANSPORT_FLAG_UNICAST | RTSP_MSG_TRANSPORT_FLAG_INTERLEAVED));
             EXPECT_EQ(m.hdrs.transport->interleaved, 0);
         }},
        {"UDP transport", kSetup, int(kSetup.size()),
         [](const rtsp_msg_s& m) {
             ASSERT_TRUE(m.hdrs.transport);
             EXPECT_EQ(m.hdrs.transport->type, RTSP_MSG_TRANSPORT_TYPE_RTP_AVP);
             EXPECT_EQ(m.hdrs.transport->client_port, 5000);
             EXPECT_TRUE(m.hdrs.transport->flags & RTSP_MSG_TRANSPORT_FLAG_CLIENT_PORT);
         }},
        {"Accept lists SDP", kDescribe, int(kDescribe.size()),
         [](const rtsp_msg_s& m) {
             uint32_t accept = 0;
             ASSERT_EQ(rtsp_msg_get_accept(&m, &accept), 0);
             EXPECT_EQ(accept, 1u << RTSP_MSG_CONTENT_TYPE_SDP);
         }},
        {"Session with time-out", kPlay, int(kPlay.size()),
         [](const rtsp_msg_s& m) {
             uint32_t session = 0;
             ASSERT_EQ(rtsp_msg_get_session(&m, &session), 0);
             EXPECT_EQ(session, 0x12345678u);
             uint32_t cseq = 0;
             ASSERT_EQ(rtsp_msg_get_cseq(&m, &cseq), 0);
             EXPECT_EQ(cseq, 4u);
         }},
        {"answer with body", kAnswer, int(kAnswer.size()),
         [](const rtsp_msg_s& m) {
             EXPECT_EQ(m.type, RTSP_MSG_TYPE_RESPONSE);
             EXPECT_EQ(m.hdrs.startline.resline.status, 200u);
             ASSERT_TRUE(m.body);
             EXPECT_EQ(std::string(static_cast<const char*>(m.body), 5), "v=0\r\n");
         }},
        {"CSeq twice keeps the last", "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\nCSeq: 9\r\n\r\n", 48,
         [](const rtsp_msg_s& m) {
             uint32_t cseq = 0;
             rtsp_msg_get_cseq(&m, &cseq);
             EXPECT_EQ(cseq, 9u);
         }},
        {"unknown header skipped", "OPTIONS rtsp://h/ RTSP/1.0\r\nX-Any: 1\r\nCSeq: 2\r\n\r\n", 49, nullptr},
        {"Public", "RTSP/1.0 200 OK\r\nPublic: OPTIONS, PLAY, TEARDOWN\r\n\r\n", 52,
         [](const rtsp_msg_s& m) {
             uint32_t mask = 0;
             rtsp_msg_get_public(&m, &mask);
             EXPECT_EQ(mask, (1u << RTSP_MSG_METHOD_OPTIONS) | (1u << RTSP_MSG_METHOD_PLAY) |
                                 (1u << RTSP_MSG_METHOD_TEARDOWN));
         }},
        {"interleaved, incomplete", interleaved(5, 4), 0, nullptr},
        {"interleaved, complete", interleaved(5, 6), 9,
         [](const rtsp_msg_s& m) {
             EXPECT_EQ(m.type, RTSP_MSG_TYPE_INTERLEAVED);
             EXPECT_EQ(m.hdrs.startline.interline.channel, 1);
             EXPECT_EQ(m.hdrs.startline.interline.length, 5);
         }},
        {"interleaved, 1019 bytes fit", interleaved(1019, 1019), 1023, nullptr},
        {"interleaved, 1020 bytes never fit", interleaved(1020, 0), -1, nullptr},
        {"interleaved, header only", "$\x01", 0, nullptr},
        {"Content-Type outside the table", "RTSP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n", -1, nullptr},
        {"unknown method", "FETCH rtsp://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"unknown scheme", "OPTIONS http://h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"no //", "OPTIONS rtsp:h/ RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"bad port", "OPTIONS rtsp://h:x/ RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"port out of range", "OPTIONS rtsp://h:70000/ RTSP/1.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"bad version", "OPTIONS rtsp://h/ RTSP/2.0\r\nCSeq: 1\r\n\r\n", -1, nullptr},
        {"bad CSeq", "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: x\r\n\r\n", -1, nullptr},
        {"negative CSeq", "OPTIONS rtsp://h/ RTSP/1.0\r\nCSeq: -1\r\n\r\n", -1, nullptr},
        {"Transport without RTP/AVP", "SETUP rtsp://h/ RTSP/1.0\r\nTransport: RAW/UDP\r\n\r\n", -1, nullptr},
        {"status code missing", "RTSP/1.0 OK\r\n\r\n", -1, nullptr},
        {"start line of 300 bytes", std::string(300, 'O'), -1, nullptr},
    };
    for (const Case& c : cases) {
        rtsp_msg_s msg;
        const int r = rtsp_msg_parse_from_array(&msg, c.bytes.data(), int(c.bytes.size()));
        EXPECT_EQ(r, c.expected) << c.name;
        if (r > 0 && c.check) {
            SCOPED_TRACE(c.name);
            c.check(msg);
        }
        rtsp_msg_free(&msg);
    }
}

TEST(RtspMsgParse, InvalidInputIsLoggedWithItsReason)
{
    testsupport::RtspLogCapture log;
    const std::string bad = "OPTIONS rtsp://h:x/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    rtsp_msg_s msg;
    EXPECT_EQ(rtsp_msg_parse_from_array(&msg, bad.data(), int(bad.size())), -1);
    const auto lines = log.matching("parse uri port failed. line: rtsp://h:x/ RTSP/1.0", RTSP_LOG_ERROR);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("[ERROR rtsp_msg.cpp:", 0), 0u) << lines[0];
}

TEST(RtspMsgBuild, AnswerTextIsExact)
{
    rtsp_msg_s msg;
    rtsp_msg_init(&msg);
    rtsp_msg_set_response(&msg, 200);
    rtsp_msg_set_content_length(&msg, 5);
    rtsp_msg_set_server(&msg, "rtsp_demo");
    rtsp_msg_set_content_type(&msg, RTSP_MSG_CONTENT_TYPE_SDP);
    rtsp_msg_set_public(&msg, 0x7f);
    rtsp_msg_set_accept(&msg, 3);
    rtsp_msg_set_transport_udp(&msg, 0x22345678, 5000, 49152);
    rtsp_msg_set_session(&msg, 0x12345678);
    rtsp_msg_set_date(&msg, "Thu Dec 10 20:09:10 2026");
    rtsp_msg_set_cseq(&msg, 4294967295u);
    msg.body = std::malloc(5);
    std::memcpy(msg.body, "v=0\r\n", 5);
    char buf[1024];
    const int n = rtsp_msg_build_to_array(&msg, buf, sizeof(buf));
    EXPECT_EQ(std::string(buf, size_t(n)),
              "RTSP/1.0 200 OK\r\n"
              "CSeq: 4294967295\r\n"
              "Date: Thu Dec 10 20:09:10 2026\r\n"
              "Session: 12345678\r\n"
              "Transport: RTP/AVP;ssrc=22345678;unicast;client_port=5000-5001;server_port=49152-49153\r\n"
              "Accept: application/sdp, application/rtsl\r\n"
              "Public: OPTIONS, DESCRIBE, SETUP, PLAY, RECORD, PAUSE, TEARDOWN\r\n"
              "Server: rtsp_demo\r\n"
              "Content-Type: application/sdp\r\n"
              "Content-Length: 5\r\n"
              "\r\n"
              "v=0\r\n");

    // What the builder wrote, the parser reads back.
    rtsp_msg_s back;
    ASSERT_EQ(rtsp_msg_parse_from_array(&back, buf, n), n);
    EXPECT_EQ(back.hdrs.transport->server_port, 49152);
    EXPECT_EQ(back.hdrs.transport->ssrc, 0x22345678u);
    rtsp_msg_free(&back);

    // A buffer too small is never overrun.
    for (int size = 1; size < n; size += 7) {
        std::string small(size_t(size) + 16, '\x7f');
        const int m = rtsp_msg_build_to_array(&msg, &small[0], size);
        EXPECT_LE(m, size);
        EXPECT_EQ(small.substr(size_t(size)), std::string(16, '\x7f'));
    }
    rtsp_msg_free(&msg);
}

TEST(RtspMsgBuild, StartLinesAndTransports)
{
    struct Case {
        std::function<void(rtsp_msg_s*)> set;
        std::string expected;
    } cases[] = {
        {[](rtsp_msg_s* m) { rtsp_msg_set_response(m, 999); }, "RTSP/1.0 999 Option not support\r\n\r\n"},
        {[](rtsp_msg_s* m) { rtsp_msg_set_response(m, 454); }, "RTSP/1.0 454 Session Not Found\r\n\r\n"},
        {[](rtsp_msg_s* m) { rtsp_msg_set_response(m, 461); }, "RTSP/1.0 461 Unsupported Transport\r\n\r\n"},
        {[](rtsp_msg_s* m) { rtsp_msg_set_response(m, 100); }, "RTSP/1.0 100 Continue\r\n\r\n"},
        {[](rtsp_msg_s* m) {
             rtsp_msg_set_response(m, 200);
             rtsp_msg_set_transport_tcp(m, 0x22345679, 2);
         },
         "RTSP/1.0 200 OK\r\nTransport: RTP/AVP/TCP;ssrc=22345679;interleaved=2-3\r\n\r\n"},
        {[](rtsp_msg_s* m) {
             rtsp_msg_set_request(m, RTSP_MSG_METHOD_DESCRIBE, "127.0.0.1", "/live/main_stream");
             rtsp_msg_set_cseq(m, 2);
         },
         "DESCRIBE rtsp://127.0.0.1/live/main_stream RTSP/1.0\r\nCSeq: 2\r\n\r\n"},
        {[](rtsp_msg_s* m) {
             rtsp_msg_set_request(m, RTSP_MSG_METHOD_OPTIONS, "h", "/");
             m->hdrs.startline.reqline.uri.port = 8554;
             rtsp_msg_set_user_agent(m, nullptr);
         },
         "OPTIONS rtsp://h:8554/ RTSP/1.0\r\nUser-Agent: rtsp_msg_user_agent\r\n\r\n"},
    };
    for (const Case& c : cases) {
        rtsp_msg_s msg;
        rtsp_msg_init(&msg);
        c.set(&msg);
        char buf[512];
        const int n = rtsp_msg_build_to_array(&msg, buf, sizeof(buf));
        EXPECT_EQ(std::string(buf, size_t(n)), c.expected);
        rtsp_msg_free(&msg);
    }
}

TEST(RtspMsgBuild, DateOfNowInCtimeForm)
{
    rtsp_msg_s msg;
    rtsp_msg_init(&msg);
    rtsp_msg_set_date(&msg, nullptr);
    char date[64];
    ASSERT_EQ(rtsp_msg_get_date(&msg, date, sizeof(date)), 0);
    EXPECT_TRUE(std::regex_match(date, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
                                                  "[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}")))
        << date;
    rtsp_msg_free(&msg);
}

TEST(RtspMsgSession, IdsCountFrom12345678)
{
    EXPECT_EQ(rtsp_msg_gen_session_id(), 0x12345678u);
    EXPECT_EQ(rtsp_msg_gen_session_id(), 0x12345679u);
}

// Every outcome is one of the three, a complete message is never larger than
// the data or the receive buffer, and data that fills the buffer is never
// "incomplete" (a connection could wait on it forever).
void expectSound(const std::string& bytes, const std::string& what)
{
    rtsp_msg_s msg;
    const int r = rtsp_msg_parse_from_array(&msg, bytes.data(), int(bytes.size()));
    ASSERT_GE(r, -1) << what;
    ASSERT_LE(r, int(bytes.size())) << what;
    ASSERT_LE(r, RTSP_MSG_MAX_SIZE) << what;
    if (int(bytes.size()) >= RTSP_MSG_MAX_SIZE) {
        ASSERT_NE(r, 0) << what;
    }
    rtsp_msg_free(&msg);
}

TEST(RtspMsgParse, EveryPrefixAndRandomMutationsAreSound)
{
    testsupport::RtspLogCapture log;
    const std::string examples[] = {kOptions, kDescribe, kSetup, kSetupTcp, kPlay, kAnswer,
                                    interleaved(300, 300), kOptions + kPlay};
    for (const std::string& e : examples) {
        for (size_t n = 0; n <= e.size(); ++n)
            expectSound(e.substr(0, n), "prefix " + std::to_string(n) + " of " + e.substr(0, 20));
    }
    std::mt19937 rng(20261210);
    for (int i = 0; i < 20000; ++i) {
        std::string m = examples[rng() % (sizeof(examples) / sizeof(examples[0]))];
        const int edits = 1 + int(rng() % 8);
        for (int k = 0; k < edits; ++k) {
            const size_t at = m.empty() ? 0 : rng() % m.size();
            switch (rng() % 5) {
            case 0:
                if (!m.empty())
                    m[at] = char(rng());
                break;
            case 1:
                m.insert(at, 1, "\r\n$:-0123456789 "[rng() % 16]);
                break;
            case 2:
                if (!m.empty())
                    m.erase(at, 1 + rng() % 8);
                break;
            case 3:
                m.insert(at, std::string(1 + rng() % 600, char('0' + rng() % 10)));
                break;
            default:
                m.insert(at, "Content-Length: " + std::to_string(int64_t(rng()) - (int64_t(1) << 31)) + "\r\n");
                break;
            }
        }
        expectSound(m, "mutation " + std::to_string(i));
        if (m.size() < 1500) {
            std::string filled = m + std::string(size_t(RTSP_MSG_MAX_SIZE + 1) - std::min(m.size(), size_t(1023)), 'z');
            expectSound(filled, "filled mutation " + std::to_string(i));
        }
    }
}

}  // namespace
