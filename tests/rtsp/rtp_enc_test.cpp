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

// Packetises `unit` into slots of 1456 bytes; the packets as byte strings.
std::vector<std::string> packetise(rtp_enc& e, const std::string& unit, uint64_t ts, int slots = 8)
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
    const int n = rtp_enc_h264(&e, reinterpret_cast<const uint8_t*>(unit.data()), int(unit.size()), ts, pkts.data(),
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
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cd.sps), cd.sps_len), sps.substr(4));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cd.pps), cd.pps_len), pps.substr(3));
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
    std::memcpy(cd.sps, "abc", 3);
    cd.sps_len = 3;
    std::memcpy(cd.pps, "ab", 2);
    cd.pps_len = 2;
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
