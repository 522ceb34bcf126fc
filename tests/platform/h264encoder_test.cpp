// The encoder stand-in's stream: Main profile, an IDR with SPS and PPS in
// band every 30 frames and only then, no B-frames, Annex-B, one access unit
// per frame, no frame larger than 300 packets of the live stream, and the
// constant bit rate it was given.
#include "platform/media/h264encoder.h"
#include "platform/media/sensorscene.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One NAL unit: its type and its bytes after the header, emulation
// prevention removed.
struct Nal {
    int type = 0;
    std::vector<uint8_t> rbsp;
};

std::vector<Nal> splitAnnexB(const uint8_t* p, int n)
{
    std::vector<int> starts;  // first byte after each start code
    for (int i = 0; i + 3 <= n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    }
    std::vector<Nal> out;
    for (size_t k = 0; k < starts.size(); ++k) {
        int end = k + 1 < starts.size() ? starts[k + 1] - 3 : n;
        while (end > starts[k] && p[end - 1] == 0)
            --end;  // the zero of a four-byte start code
        Nal nal;
        nal.type = p[starts[k]] & 0x1f;
        int zeros = 0;
        for (int i = starts[k] + 1; i < end; ++i) {
            if (zeros == 2 && p[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = p[i] == 0 ? zeros + 1 : 0;
            nal.rbsp.push_back(p[i]);
        }
        out.push_back(std::move(nal));
    }
    return out;
}

// Exp-Golomb reader for the first fields of a slice header.
struct Bits {
    const std::vector<uint8_t>& b;
    size_t pos = 0;
    int bit()
    {
        const int v = (b.at(pos / 8) >> (7 - pos % 8)) & 1;
        ++pos;
        return v;
    }
    unsigned ue()
    {
        int zeros = 0;
        while (bit() == 0)
            ++zeros;
        unsigned v = 1;
        for (int i = 0; i < zeros; ++i)
            v = (v << 1) | unsigned(bit());
        return v - 1;
    }
};

TEST(H264Encoder, StreamHasTheShapeTheLiveStreamNeeds)
{
    constexpr int kFrames = 61;
    constexpr int kSlotPayload = 1456 - 12 - 2;  // an FU-A packet's share of a frame
    const platform::SensorScene scene = platform::SensorScene::generated(1920, 1080);
    platform::H264Encoder encoder;
    platform::H264Encoder::Config config;
    ASSERT_TRUE(encoder.open(config));

    std::vector<uint8_t> frame(size_t(scene.frameBytes()));
    long long totalBytes = 0;
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(i);
        scene.render(uint32_t(i), frame.data());
        const uint8_t* unit = nullptr;
        const int bytes = encoder.encode(frame.data(), i, &unit);
        ASSERT_GT(bytes, 0) << "one access unit per frame, at once";
        if (i < kFrames - 1)
            totalBytes += bytes;
        ASSERT_GE(bytes, 4);
        EXPECT_TRUE(unit[0] == 0 && unit[1] == 0 && (unit[2] == 1 || (unit[2] == 0 && unit[3] == 1))) << "Annex-B";
        EXPECT_LE(bytes, 300 * kSlotPayload) << "fits the live stream's ring";

        const std::vector<Nal> nals = splitAnnexB(unit, bytes);
        bool sps = false, pps = false, idr = false, other = false;
        for (const Nal& nal : nals) {
            if (nal.type == 7) {
                sps = true;
                ASSERT_FALSE(nal.rbsp.empty());
                EXPECT_EQ(nal.rbsp[0], 77) << "Main profile";
            }
            pps |= nal.type == 8;
            idr |= nal.type == 5;
            other |= nal.type == 1;
            if (nal.type == 1 || nal.type == 5) {
                Bits bits{nal.rbsp};
                bits.ue();  // first_mb_in_slice
                const unsigned sliceType = bits.ue() % 5;
                EXPECT_TRUE(sliceType == 0 || sliceType == 2) << "P or I slices only, got " << sliceType;
            }
        }
        const bool keyFrame = i % 30 == 0;
        EXPECT_EQ(idr, keyFrame);
        EXPECT_EQ(sps, keyFrame);
        EXPECT_EQ(pps, keyFrame);
        EXPECT_EQ(other, !keyFrame);
    }
    // Three seconds of video at the constant rate, within the one-second
    // buffer's reach.
    const double bitsPerSecond = double(totalBytes) * 8.0 / 3.0;
    EXPECT_GT(bitsPerSecond, 0.6 * config.bitRate);
    EXPECT_LT(bitsPerSecond, 1.34 * config.bitRate);
}

TEST(H264Encoder, RefusesWhatItCannotEncode)
{
    struct Case {
        const char* name;
        int width, height, profile;
    };
    const Case cases[] = {
        {"odd width", 1921, 1080, 77}, {"no height", 1920, 0, 77}, {"unknown profile", 1920, 1080, 88}};
    for (const Case& c : cases) {
        platform::H264Encoder encoder;
        platform::H264Encoder::Config config;
        config.width = c.width;
        config.height = c.height;
        config.profileIdc = c.profile;
        EXPECT_FALSE(encoder.open(config)) << c.name;
        const uint8_t* unit = nullptr;
        const uint8_t byte = 0;
        EXPECT_EQ(encoder.encode(&byte, 0, &unit), -1) << c.name;
    }
}

}  // namespace
