// RTP packetisation of NAL units, the packet ring, parameter sets, SDP media
// lines and Base64.
#include "rtsp/rtp_enc.h"
#include "rtsp/rtsp_codec.h"
#include "rtsp/stream_queue.h"
#include "support/rtsplogcapture.h"
#include "support/rtspscriptedclient.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string nalu(int type, int bytesWithHeader, bool startCode = true)
{
    std::string n = startCode ? std::string("\0\0\0\1", 4) : std::string();
    n += char(0x60 | type);
    for (int i = 1; i < bytesWithHeader; ++i)
        n += char(i * 7);
    return n;
}

// A parameter set as text, and one set from text.
std::string bytes(const uint8_t* set, uint32_t len)
{
    return std::string(reinterpret_cast<const char*>(set), len);
}

void setBytes(uint8_t* set, uint32_t* len, const std::string& text)
{
    std::memcpy(set, text.data(), text.size());
    *len = uint32_t(text.size());
}

using Packetiser = int (*)(rtp_enc*, const uint8_t*, int, uint64_t, uint8_t*[], int[]);

// Packetises `unit` into slots of 1456 bytes; the packets as byte strings.
std::vector<std::string> packetise(rtp_enc& e, const std::string& unit, uint64_t ts, int slots = 8,
                                   Packetiser encode = rtp_enc_h264)
{
    std::vector<std::vector<uint8_t>> storage(size_t(slots), std::vector<uint8_t>(1456));
    std::vector<uint8_t*> pkts;
    std::vector<int> sizes;
    for (auto& s : storage) {
        pkts.push_back(s.data());
        sizes.push_back(1456);
    }
    pkts.push_back(nullptr);
    sizes.push_back(0);
    const int n = encode(&e, reinterpret_cast<const uint8_t*>(unit.data()), int(unit.size()), ts, pkts.data(),
                         sizes.data());
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i)
        out.emplace_back(reinterpret_cast<const char*>(pkts[size_t(i)]), size_t(sizes[size_t(i)]));
    return out;
}

TEST(RtpEncH264, PacketSizesFragmentsAndMarkers)
{
    struct Case {
        const char* name;
        int unitBytes;  // NAL header included
        bool startCode;
        std::vector<int> sizes;
    } cases[] = {
        {"fits one packet exactly", 1444, true, {1456}},
        {"one byte more: FU-A 1456 + 16", 1445, true, {1456, 16}},
        {"without start code", 1444, false, {1456}},
        {"small", 10, true, {22}},
        {"three fragments", 1 + 1442 * 2 + 5, true, {1456, 1456, 19}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rtp_enc e{96, 65534, 0, 90000};
        const std::string unit = nalu(5, c.unitBytes, c.startCode);
        const auto pkts = packetise(e, unit, 1000000);
        ASSERT_EQ(pkts.size(), c.sizes.size());
        std::string rebuilt;
        for (size_t i = 0; i < pkts.size(); ++i) {
            const auto p = testsupport::RtpPacket::parse(pkts[i]);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->size, c.sizes[i]);
            EXPECT_EQ(p->payloadType, 96);
            EXPECT_EQ(p->seq, uint16_t(65534 + i));  // wraps
            EXPECT_EQ(p->timestamp, 90000u);          // 1 s at 90 kHz
            EXPECT_EQ(p->marker, i + 1 == pkts.size());
            if (pkts.size() == 1) {
                rebuilt = p->payload;
            } else {
                const uint8_t ind = uint8_t(p->payload[0]);
                const uint8_t hdr = uint8_t(p->payload[1]);
                EXPECT_EQ(ind, 0x60 | 28);
                EXPECT_EQ(hdr & 0x1f, 5);
                EXPECT_EQ(bool(hdr & 0x80), i == 0);
                EXPECT_EQ(bool(hdr & 0x40), i + 1 == pkts.size());
                if (i == 0)
                    rebuilt = std::string(1, char((ind & 0xe0) | (hdr & 0x1f)));
                rebuilt += p->payload.substr(2);
            }
        }
        EXPECT_EQ(rebuilt, c.startCode ? unit.substr(4) : unit);
    }
}

TEST(RtpEncH264, MarkerOnEveryNalUnitOfAFrame)
{
    // SPS, PPS, IDR slice: each NAL unit ends with a marked packet.
    rtp_enc e{96, 0, 0, 90000};
    const std::string units[] = {nalu(7, 20), nalu(8, 6), nalu(5, 3000)};
    std::vector<bool> markers;
    for (const auto& u : units) {
        for (const auto& p : packetise(e, u, 50000))
            markers.push_back(testsupport::RtpPacket::parse(p)->marker);
    }
    EXPECT_EQ(markers, (std::vector<bool>{true, true, false, false, true}));
}

TEST(RtpEncH264, RefusesEmptyInputAndStopsAtSmallSlots)
{
    rtp_enc e{96, 0, 0, 90000};
    uint8_t slot[12];
    uint8_t* pkts[] = {slot, nullptr};
    int sizes[] = {12, 0};
    const uint8_t one = 0x65;
    EXPECT_EQ(rtp_enc_h264(&e, nullptr, 4, 0, pkts, sizes), -1);
    EXPECT_EQ(rtp_enc_h264(&e, &one, 0, 0, pkts, sizes), -1);
    EXPECT_EQ(rtp_enc_h264(&e, &one, 1, 0, pkts, sizes), 0);
    // Only two slots for a unit of three fragments: two packets, no overrun.
    EXPECT_EQ(packetise(e, nalu(5, 4000), 0, 2).size(), 2u);
}

// An H.265 NAL unit: start code, the 2-byte header of `type` (layer 0,
// temporal id 1), then bytes up to `bytesWithHeader`.
std::string nalu265(int type, int bytesWithHeader)
{
    std::string n("\0\0\0\1", 4);
    n += char(type << 1);
    n += char(1);
    for (int i = 2; i < bytesWithHeader; ++i)
        n += char(i * 11);
    return n;
}

// An ADTS frame: AAC LC, 48 kHz (index 3), 2 channels, no CRC, `payload` bytes.
std::string adts(int payload, uint8_t fill = 0x21)
{
    const int n = payload + 7;
    std::string f;
    f += char(0xff);
    f += char(0xf1);
    f += char((1 << 6) | (3 << 2) | (2 >> 2));
    f += char(((2 & 3) << 6) | ((n >> 11) & 3));
    f += char((n >> 3) & 0xff);
    f += char(((n & 7) << 5) | 0x1f);
    f += char(0xfc);
    f += std::string(size_t(payload), char(fill));
    return f;
}

TEST(RtpEncH265, PacketSizesFragmentsAndMarkers)
{
    struct Case {
        const char* name;
        int unitBytes;  // NAL header included
        std::vector<int> sizes;
    } cases[] = {
        {"fits one packet exactly", 1444, {1456}},
        {"one byte more: two fragments of 1441 and 2 bytes", 1445, {1456, 17}},
        {"three fragments", 2 + 1441 * 2 + 7, {1456, 1456, 22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rtp_enc e{96, 65535, 0, 90000};
        const std::string unit = nalu265(19, c.unitBytes);  // IDR_W_RADL
        const auto pkts = packetise(e, unit, 2000000, 8, rtp_enc_h265);
        ASSERT_EQ(pkts.size(), c.sizes.size());
        std::string rebuilt;
        for (size_t i = 0; i < pkts.size(); ++i) {
            const auto p = testsupport::RtpPacket::parse(pkts[i]);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->size, c.sizes[i]);
            EXPECT_EQ(p->seq, uint16_t(65535 + i));
            EXPECT_EQ(p->timestamp, 180000u);
            EXPECT_EQ(p->marker, i + 1 == pkts.size());
            if (pkts.size() == 1) {
                rebuilt = p->payload;
                continue;
            }
            // Payload header: type 49 with the unit's layer and temporal id; FU header: S, E, type.
            EXPECT_EQ(uint8_t(p->payload[0]), 49 << 1);
            EXPECT_EQ(uint8_t(p->payload[1]), 1);
            const uint8_t fu = uint8_t(p->payload[2]);
            EXPECT_EQ(fu & 0x3f, 19);
            EXPECT_EQ(bool(fu & 0x80), i == 0);
            EXPECT_EQ(bool(fu & 0x40), i + 1 == pkts.size());
            if (i == 0)
                rebuilt = std::string(1, char(19 << 1)) + char(1);
            rebuilt += p->payload.substr(3);
        }
        EXPECT_EQ(rebuilt, unit.substr(4));
    }
    rtp_enc e{96, 0, 0, 90000};
    EXPECT_EQ(packetise(e, nalu265(1, 5000), 0, 2, rtp_enc_h265).size(), 2u) << "stops at the last slot";
}

TEST(RtpEncAudio, AacOneAccessUnitWithItsHeaderInFragmentsWhenLarge)
{
    struct Case {
        const char* name;
        std::string frame;
        int auBytes;
        std::vector<int> sizes;
    } cases[] = {
        {"ADTS frame", adts(100), 100, {116}},
        {"bare access unit", std::string(200, '\x33'), 200, {216}},
        {"exactly one slot", adts(1440), 1440, {1456}},
        {"fragments", adts(3000), 3000, {1456, 1456, 136}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rtp_enc e{97, 7, 0, 48000};
        const auto pkts = packetise(e, c.frame, 500000, 8, rtp_enc_aac);
        ASSERT_EQ(pkts.size(), c.sizes.size());
        std::string rebuilt;
        for (size_t i = 0; i < pkts.size(); ++i) {
            const auto p = testsupport::RtpPacket::parse(pkts[i]);
            ASSERT_TRUE(p);
            EXPECT_EQ(p->size, c.sizes[i]);
            EXPECT_EQ(p->payloadType, 97);
            EXPECT_EQ(p->seq, 7 + i);
            EXPECT_EQ(p->timestamp, 24000u);  // 0.5 s at 48 kHz
            EXPECT_EQ(p->marker, i + 1 == pkts.size());
            // AU-headers-length 16 bits, then size (13 bits) and index 0 of the whole unit.
            ASSERT_GE(p->payload.size(), 4u);
            EXPECT_EQ(uint8_t(p->payload[0]), 0);
            EXPECT_EQ(uint8_t(p->payload[1]), 16);
            EXPECT_EQ((uint8_t(p->payload[2]) << 5) | (uint8_t(p->payload[3]) >> 3), c.auBytes);
            EXPECT_EQ(uint8_t(p->payload[3]) & 7, 0);
            rebuilt += p->payload.substr(4);
        }
        EXPECT_EQ(rebuilt, c.frame.substr(c.frame.size() - size_t(c.auBytes)));
    }
}

TEST(RtpEncAudio, G711PlainPayloadMarkedOnlyOnSequenceZero)
{
    rtp_enc e{97, 0, 0, 8000};
    struct Step {
        int bytes;
        std::vector<int> sizes;
        std::vector<bool> markers;
    } steps[] = {
        {160, {172}, {true}},                          // sequence 0
        {160, {172}, {false}},
        {3000, {1456, 1456, 124}, {false, false, false}},  // more than a packet: cut, same time stamp
    };
    uint64_t ts = 20000;
    for (const Step& step : steps) {
        const std::string frame(size_t(step.bytes), '\xd5');
        const auto pkts = packetise(e, frame, ts, 8, rtp_enc_g711);
        ASSERT_EQ(pkts.size(), step.sizes.size());
        std::string rebuilt;
        for (size_t i = 0; i < pkts.size(); ++i) {
            const auto p = testsupport::RtpPacket::parse(pkts[i]);
            EXPECT_EQ(p->size, step.sizes[i]);
            EXPECT_EQ(p->marker, step.markers[i]);
            EXPECT_EQ(p->timestamp, uint32_t(ts * 8000 / 1000000));
            rebuilt += p->payload;
        }
        EXPECT_EQ(rebuilt, frame);
        ts += 20000;
    }
    EXPECT_EQ(e.seq, 5);
    rtp_enc g726{97, 0, 0, 8000};
    EXPECT_EQ(packetise(g726, std::string(80, 'x'), 0, 8, rtp_enc_g726).size(), 1u);
    const uint8_t one = 1;
    uint8_t* none[] = {nullptr};
    int noSizes[] = {0};
    EXPECT_EQ(rtp_enc_g711(&e, nullptr, 4, 0, none, noSizes), -1);
    EXPECT_EQ(rtp_enc_aac(&e, &one, 0, 0, none, noSizes), -1);
    EXPECT_EQ(rtp_enc_h265(&e, &one, 0, 0, none, noSizes), -1);
}

TEST(H265Codec, ParameterSetsAndSdp)
{
    const std::string vps = nalu265(32, 10);
    const std::string sps = nalu265(33, 30);
    const std::string pps = nalu265(34, 8);
    const std::string idr = nalu265(19, 200);
    codec_data_h265 cd{};
    EXPECT_EQ(rtsp_codec_data_parse_from_frame_h265(reinterpret_cast<const uint8_t*>((vps + sps).data()),
                                                    int(vps.size() + sps.size()), &cd),
              0);
    char buf[512];
    rtsp_build_sdp_media_attr_h265(96, 90000, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H265/90000\r\n");
    const std::string frame = vps + sps + pps + idr;
    EXPECT_EQ(rtsp_codec_data_parse_from_user_h265(reinterpret_cast<const uint8_t*>(frame.data()), int(frame.size()),
                                                   &cd),
              1);
    EXPECT_EQ(bytes(cd.vps, cd.vps_len), vps.substr(4));
    EXPECT_EQ(bytes(cd.sps, cd.sps_len), sps.substr(4));
    EXPECT_EQ(bytes(cd.pps, cd.pps_len), pps.substr(4));
    setBytes(cd.vps, &cd.vps_len, "abc");
    setBytes(cd.sps, &cd.sps_len, "ab");
    setBytes(cd.pps, &cd.pps_len, "a");
    const int n = rtsp_build_sdp_media_attr_h265(96, 90000, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H265/90000\r\n"
                      "a=fmtp:96 sprop-vps=YWJj;sprop-sps=YWI=;sprop-pps=YQ==\r\n");
    EXPECT_EQ(n, int(std::strlen(buf)));
}

TEST(AudioCodec, AdtsFramesConfigurationsAndSdp)
{
    // Two ADTS frames behind some junk: the first is found whole; a cut one is not.
    const std::string two = std::string("\x01\x02", 2) + adts(50) + adts(60);
    const auto* data = reinterpret_cast<const uint8_t*>(two.data());
    int len = 0;
    EXPECT_EQ(rtsp_find_aac_adts(data, int(two.size()), &len), data + 2);
    EXPECT_EQ(len, 57);
    EXPECT_EQ(rtsp_find_aac_adts(data + 2 + 57, 30, &len), nullptr);

    codec_data_aac cd{};
    char buf[512];
    rtsp_build_sdp_media_attr_aac(97, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 MPEG4-GENERIC/44100/2\r\n"
                      "a=fmtp:97 profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;indexdeltalength=3\r\n");
    ASSERT_EQ(rtsp_codec_data_parse_from_frame_aac(data, int(two.size()), &cd), 1);
    EXPECT_EQ(cd.sample_rate, 48000u);
    EXPECT_EQ(cd.channels, 2u);
    ASSERT_EQ(cd.config_len, 2u);
    EXPECT_EQ(cd.config[0], 0x11);  // AAC LC, 48 kHz
    EXPECT_EQ(cd.config[1], 0x90);  // 2 channels
    rtsp_build_sdp_media_attr_aac(97, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 MPEG4-GENERIC/48000/2\r\n"
                      "a=fmtp:97 profile-level-id=1;mode=AAC-hbr;sizelength=13;indexlength=3;indexdeltalength=3;"
                      "config=1190\r\n");

    codec_data_aac user{};
    const uint8_t mono16k[] = {0x14, 0x08};  // AAC LC, 16 kHz (index 8), 1 channel
    ASSERT_EQ(rtsp_codec_data_parse_from_user_aac(mono16k, 2, &user), 1);
    EXPECT_EQ(user.sample_rate, 16000u);
    EXPECT_EQ(user.channels, 1u);
    const uint8_t explicitRate[] = {0x17, 0x80};  // index 15: not taken
    codec_data_aac refused{};
    EXPECT_EQ(rtsp_codec_data_parse_from_user_aac(explicitRate, 2, &refused), 0);
    EXPECT_EQ(rtsp_codec_data_parse_from_user_aac(mono16k, 1, &refused), 0);

    testsupport::RtspLogCapture log;
    codec_data_g726 g726{};
    const uint32_t rates[] = {32000, 40000, 24000};
    EXPECT_EQ(rtsp_codec_data_parse_from_user_g726(reinterpret_cast<const uint8_t*>(&rates[2]), 4, &g726), 0);
    EXPECT_TRUE(log.contains("bit rate invalid", RTSP_LOG_ERROR));
    rtsp_build_sdp_media_attr_g726(97, 8000, &g726, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 G726-32/8000/1\r\n");
    EXPECT_EQ(rtsp_codec_data_parse_from_user_g726(reinterpret_cast<const uint8_t*>(&rates[1]), 4, &g726), 1);
    rtsp_build_sdp_media_attr_g726(97, 8000, &g726, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 G726-40/8000/1\r\n");
    rtsp_build_sdp_media_attr_g711a(97, 8000, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 PCMA/8000/1\r\n");
    rtsp_build_sdp_media_attr_g711u(97, 8000, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=audio 0 RTP/AVP 97\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:97 PCMU/8000/1\r\n");
}

TEST(StreamQueue, HoldsOneLessThanItsSlots)
{
    stream_queue* q = streamq_alloc(1456, 601);
    ASSERT_TRUE(q);
    for (int i = 0; i < 600; ++i)
        ASSERT_EQ(streamq_push(q), (i + 1) % 601);
    EXPECT_EQ(streamq_push(q), -1);
    EXPECT_EQ(streamq_inused(q, 0), 1);
    EXPECT_EQ(streamq_inused(q, 600), 0);  // the tail
    EXPECT_EQ(streamq_pop(q), 1);
    EXPECT_EQ(streamq_push(q), 0);  // wraps
    EXPECT_EQ(streamq_inused(q, 0), 0);
    EXPECT_EQ(streamq_inused(q, 600), 1);
    char* pkt = nullptr;
    int* len = nullptr;
    EXPECT_EQ(streamq_query(q, 600, &pkt, &len), 0);
    EXPECT_EQ(streamq_query(q, 601, &pkt, &len), -1);
    while (streamq_pop(q) >= 0) {
    }
    EXPECT_EQ(streamq_head(q), streamq_tail(q));
    streamq_free(q);
    EXPECT_EQ(streamq_alloc(0, 10), nullptr);
    EXPECT_EQ(streamq_push(nullptr), -1);
}

TEST(H264Codec, FindsNalUnitsAndParameterSets)
{
    testsupport::RtspLogCapture log;
    const std::string sps = nalu(7, 20);
    const std::string pps = std::string("\0\0\1", 3) + char(0x68) + "\x01\x02";
    const std::string idr = nalu(5, 100);
    const std::string frame = sps + pps + idr;
    const auto* data = reinterpret_cast<const uint8_t*>(frame.data());
    int len = 0;
    EXPECT_EQ(rtsp_find_h264_h265_nalu(data, int(frame.size()), &len), data);
    EXPECT_EQ(len, int(sps.size()));
    EXPECT_EQ(rtsp_find_h264_h265_nalu(data + sps.size(), int(frame.size() - sps.size()), &len),
              data + sps.size());
    EXPECT_EQ(len, int(pps.size()));
    const uint8_t tail[] = {9, 9, 0, 0, 1};
    EXPECT_EQ(rtsp_find_h264_h265_nalu(tail, 5, &len), nullptr);
    EXPECT_EQ(rtsp_find_h264_h265_nalu(tail, 2, &len), nullptr);

    codec_data_h264 cd{};
    EXPECT_EQ(rtsp_codec_data_parse_from_frame_h264(data, int(frame.size()), &cd), 1);
    EXPECT_EQ(bytes(cd.sps, cd.sps_len), sps.substr(4));
    EXPECT_EQ(bytes(cd.pps, cd.pps_len), pps.substr(3));
    codec_data_h264 none{};
    EXPECT_EQ(rtsp_codec_data_parse_from_frame_h264(reinterpret_cast<const uint8_t*>(idr.data()), int(idr.size()),
                                                    &none), 0);
    codec_data_h264 big{};
    const std::string bigSps = nalu(7, 100);
    rtsp_codec_data_parse_from_frame_h264(reinterpret_cast<const uint8_t*>(bigSps.data()), int(bigSps.size()), &big);
    EXPECT_EQ(big.sps_len, 64u);
}

TEST(H264Codec, SdpMediaLines)
{
    codec_data_h264 cd{};
    char buf[512];
    rtsp_build_sdp_media_attr_h264(96, 90000, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n"
                      "a=fmtp:96 packetization-mode=1\r\n");
    setBytes(cd.sps, &cd.sps_len, "abc");
    setBytes(cd.pps, &cd.pps_len, "ab");
    const int n = rtsp_build_sdp_media_attr_h264(96, 90000, &cd, buf, sizeof(buf));
    EXPECT_STREQ(buf, "m=video 0 RTP/AVP 96\r\nc=IN IP4 0.0.0.0\r\na=rtpmap:96 H264/90000\r\n"
                      "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=YWJj,YWI=\r\n");
    EXPECT_EQ(n, int(std::strlen(buf)));
}

TEST(Base64, EncodesWithPadding)
{
    struct Case {
        std::string in;
        const char* out;
    } cases[] = {{"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"abcd", "YWJjZA=="},
                 {std::string("\xff\xfe\x00", 3), "//4A"}};
    for (const Case& c : cases) {
        char out[16];
        ASSERT_EQ(base64_encode(out, sizeof(out), reinterpret_cast<const uint8_t*>(c.in.data()), int(c.in.size())),
                  out);
        EXPECT_STREQ(out, c.out);
    }
    char tiny[4];
    EXPECT_EQ(base64_encode(tiny, 4, reinterpret_cast<const uint8_t*>("abc"), 3), nullptr);
    EXPECT_NE(base64_encode(tiny, 4, reinterpret_cast<const uint8_t*>("a"), 0), nullptr);
}

}  // namespace
