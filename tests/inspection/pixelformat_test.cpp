#include "inspection/pixelformat.h"

#include "inspection/hubservices.h"

#include "support/scratchdir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t word(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3 = 0)
{
    return uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
}

Bytes bytesOf(const std::vector<uint32_t>& words)
{
    Bytes out(words.size() * 4);
    for (size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 4; ++b)
            out[i * 4 + size_t(b)] = (words[i] >> (8 * b)) & 0xff;
    return out;
}

// Sets the frame size for one test and restores it afterwards.
class FrameSize {
public:
    FrameSize(int w, int h) : m_w(gImageW), m_h(gImageH)
    {
        gImageW = w;
        gImageH = h;
    }
    ~FrameSize()
    {
        gImageW = m_w;
        gImageH = m_h;
    }

private:
    int m_w;
    int m_h;
};

}  // namespace

TEST(PixelFormat, GreyThroughFourBytePixelsAndBackIsExactForEveryValue)
{
    Bytes grey(256);
    for (int g = 0; g < 256; ++g)
        grey[size_t(g)] = uchar(g);
    std::vector<uint32_t> rgba(256, 0xdeadbeef);
    Gray2RGBA(grey.data(), rgba.data(), 16, 16);
    const Bytes packed = bytesOf(rgba);
    EXPECT_EQ((Bytes{packed.begin() + 200 * 4, packed.begin() + 201 * 4}), (Bytes{200, 200, 200, 0}));

    Bytes back(256, 7);
    RGBA2Gray(back.data(), rgba.data(), 16, 16);
    EXPECT_EQ(back, grey);
}

TEST(PixelFormat, ColourToGreyWeightsTheThreeBytes)
{
    struct Case {
        std::array<unsigned char, 3> rgb;
        unsigned char grey;
    };
    const std::vector<Case> cases = {
        {{255, 255, 255}, 255}, {{255, 0, 0}, 76},  {{0, 255, 0}, 149},
        {{0, 0, 255}, 29},      {{0, 0, 0}, 0},     {{100, 150, 200}, 140},
    };
    for (const Case& c : cases) {
        const uint32_t w = word(c.rgb[0], c.rgb[1], c.rgb[2], 99);  // byte 3 is ignored
        unsigned char g = 1;
        RGB2Gray(&g, &w, 1, 1);
        EXPECT_EQ(int(g), int(c.grey)) << int(c.rgb[0]) << "," << int(c.rgb[1]) << "," << int(c.rgb[2]);
    }
}

TEST(PixelFormat, NothingIsWrittenForAnEmptySize)
{
    const Bytes src(12, 9);
    Bytes dst(12, 0);
    Gray24To8(dst.data(), src.data(), 0, 4);
    Gray24To8(dst.data(), src.data(), 4, 0);
    Gray24To8(dst.data(), src.data(), -2, -2);
    RGB2RGBA(dst.data(), src.data(), 3, 0);
    std::vector<uint32_t> words(3, 0);
    Gray2RGBA(src.data(), words.data(), 3, -1);
    EXPECT_EQ(dst, Bytes(12, 0));
    EXPECT_EQ(words, std::vector<uint32_t>(3, 0));
}

TEST(PixelFormat, ThreeBytePixelsToGreyAndToFourBytes)
{
    const Bytes rgb = {10, 20, 30, 40, 50, 60};
    Bytes grey(2);
    Gray24To8(grey.data(), rgb.data(), 2, 1);
    EXPECT_EQ(grey, (Bytes{10, 40}));

    Bytes rgba(8, 77);
    RGB2RGBA(rgba.data(), rgb.data(), 1, 2);
    EXPECT_EQ(rgba, (Bytes{30, 20, 10, 0, 60, 50, 40, 0}));
}

TEST(PixelFormat, PlanesRoundTripDropsTheFourthByte)
{
    const Bytes rgba = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    Bytes p0(4), p1(4), p2(4);
    ExtractRGBA(p0.data(), p1.data(), p2.data(), rgba.data(), 2, 2);
    EXPECT_EQ(p0, (Bytes{1, 5, 9, 13}));
    EXPECT_EQ(p1, (Bytes{2, 6, 10, 14}));
    EXPECT_EQ(p2, (Bytes{3, 7, 11, 15}));
    Bytes back(16, 77);
    GenRGBA(p0.data(), p1.data(), p2.data(), back.data(), 2, 2);
    EXPECT_EQ(back, (Bytes{1, 2, 3, 0, 5, 6, 7, 0, 9, 10, 11, 0, 13, 14, 15, 0}));
}

TEST(PixelFormat, HueIsScaledToAByte)
{
    struct Case {
        unsigned char r, g, b;
        unsigned char hue;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, 0},     {9, 9, 9, 0},       {255, 0, 0, 0},   {0, 255, 0, 85},  {0, 0, 255, 170},
        {255, 0, 1, 254}, {255, 255, 0, 42},  {0, 255, 255, 127}, {255, 0, 255, 212},
    };
    std::vector<uint32_t> words;
    for (const Case& c : cases) {
        EXPECT_EQ(int(RGB2HueByte(c.r, c.g, c.b)), int(c.hue)) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        words.push_back(word(c.r, c.g, c.b, 200));
    }
    Bytes hues(words.size());
    RGBA2Hue(hues.data(), words.data(), int(words.size()), 1);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(int(hues[i]), int(cases[i].hue));
}

TEST(PixelFormat, GreyTableIsWrittenAsSourceText)
{
    testsupport::ScratchDir dir;
    testsupport::WorkingDir cwd(dir.path());
    ASSERT_TRUE(GenRGB2Gray());
    const QString text = QString::fromLatin1(dir.read("a.c"));
    EXPECT_TRUE(text.startsWith("int gaRGB2Gray[] = {\n    0, 307, 613, ")) << text.left(60).toStdString();
    EXPECT_TRUE(text.endsWith(", };"));
    EXPECT_EQ(text.count(", "), 768);
    EXPECT_EQ(text.count("\n    "), 3 * 32);
}

TEST(PixelFormat, BayerOfAUniformColourGivesThatColourEverywhere)
{
    // Greens G, the colour of byte 0 on even rows, that of byte 2 on odd rows.
    const unsigned char red = 200, green = 120, blue = 40;
    for (const cv::Size size : {cv::Size(4, 2), cv::Size(5, 3), cv::Size(6, 4), cv::Size(7, 5), cv::Size(8, 7)}) {
        Bytes mosaic(size_t(size.area()));
        for (int r = 0; r < size.height; ++r)
            for (int c = 0; c < size.width; ++c)
                mosaic[size_t(r * size.width + c)] = (r + c) % 2 == 0 ? green : (r % 2 == 0 ? red : blue);
        Bytes rgba(size_t(size.area()) * 4, 77);
        ASSERT_TRUE(Bayer2RGBA(mosaic.data(), rgba.data(), size.width, size.height));
        for (int i = 0; i < size.area(); ++i) {
            ASSERT_EQ((Bytes{rgba.begin() + 4 * i, rgba.begin() + 4 * i + 4}), (Bytes{red, green, blue, 0}))
                << size.width << "x" << size.height << " pixel " << i;
        }
    }
}

TEST(PixelFormat, BayerAveragesTheNearestSamplesOfEachChannel)
{
    // 6 x 4 mosaic with distinct samples.
    const int w = 6;
    Bytes m(24);
    for (int i = 0; i < 24; ++i)
        m[size_t(i)] = uchar(10 + 9 * i);
    auto s = [&](int r, int c) { return int(m[size_t(r * w + c)]); };
    Bytes out(24 * 4);
    ASSERT_TRUE(Bayer2RGBA(m.data(), out.data(), w, 4));
    auto px = [&](int r, int c) { return Bytes{out.begin() + (r * w + c) * 4, out.begin() + (r * w + c) * 4 + 4}; };
    auto b = [](int v) { return uchar(v); };

    // Inner row 1 (odd: own colour to byte 2), column 2 is its colour sample.
    EXPECT_EQ(px(1, 2), (Bytes{b((s(0, 1) + s(0, 3) + s(2, 1) + s(2, 3) + 2) >> 2),
                               b((s(0, 2) + s(2, 2) + s(1, 1) + s(1, 3) + 2) >> 2), b(s(1, 2)), 0}));
    // Inner row 2 (even), column 2 is green: byte 0 from the row, byte 2 from the column.
    EXPECT_EQ(px(2, 2), (Bytes{b((s(2, 1) + s(2, 3) + 1) >> 1), b(s(2, 2)), b((s(1, 2) + s(3, 2) + 1) >> 1), 0}));
    // First column of inner row 1: its colour sample, three greens, two diagonals.
    EXPECT_EQ(px(1, 0), (Bytes{b((s(0, 1) + s(2, 1) + 1) >> 1), b((s(0, 0) + s(2, 0) + s(1, 1) + 1) / 3),
                               b(s(1, 0)), 0}));
    // Last column of inner row 2: its colour sample, three greens, two diagonals.
    EXPECT_EQ(px(2, 5), (Bytes{b(s(2, 5)), b((s(1, 5) + s(3, 5) + s(2, 4) + 1) / 3),
                               b((s(1, 4) + s(3, 4) + 1) >> 1), 0}));
    // Last column of inner row 1: green, its single row neighbour copied.
    EXPECT_EQ(px(1, 5), (Bytes{b((s(0, 5) + s(2, 5) + 1) >> 1), b(s(1, 5)), b(s(1, 4)), 0}));
    // First row, column 1 (its colour): greens of the row and below, byte 2 from below.
    EXPECT_EQ(px(0, 1), (Bytes{b(s(0, 1)), b((s(0, 0) + s(0, 2) + s(1, 1) + 1) / 3),
                               b((s(1, 0) + s(1, 2) + 1) >> 1), 0}));
    // Last row (odd), column 0 (its colour, byte 2) at the row end.
    EXPECT_EQ(px(3, 0), (Bytes{b(s(2, 1)), b((s(3, 1) + s(2, 0) + 1) >> 1), b(s(3, 0)), 0}));
}

TEST(PixelFormat, BayerReadsTheFrameSizeAndRefusesTinyMosaics)
{
    const Bytes mosaic(64, 50);
    Bytes out(64 * 4, 77);
    {
        FrameSize frame(3, 8);
        EXPECT_FALSE(Bayer2RGBA(mosaic.data(), out.data()));
    }
    {
        FrameSize frame(16, 1);
        EXPECT_FALSE(Bayer2RGBA(mosaic.data(), out.data()));
    }
    EXPECT_EQ(out, Bytes(64 * 4, 77));
    FrameSize frame(8, 8);
    EXPECT_TRUE(Bayer2RGBA(mosaic.data(), out.data()));
    EXPECT_EQ(out[4 * 63 + 1], 50);
}

TEST(PixelFormat, SemiPlanarYuvThroughOpenCv)
{
    // A 4 x 2 image: 2 luma rows then one interleaved chroma row.
    cv::Mat frame(3, 4, CV_8UC1);
    const Bytes luma = {16, 60, 120, 235, 30, 90, 150, 200};
    std::memcpy(frame.data, luma.data(), 8);
    frame.at<uchar>(2, 0) = 128;  // V
    frame.at<uchar>(2, 1) = 128;  // U
    frame.at<uchar>(2, 2) = 128;
    frame.at<uchar>(2, 3) = 128;

    Bytes grey(8, 0);
    ASSERT_TRUE(yuv420sp2gray(frame, grey.data()));
    EXPECT_EQ(grey, luma);

    Bytes rgb(8 * 3, 0), rgba(8 * 4, 0);
    ASSERT_TRUE(yuv420sp2rgb(frame, rgb.data()));
    ASSERT_TRUE(yuv420sp2rgba(frame, rgba.data()));
    for (int i = 0; i < 8; ++i) {
        // No chroma: the three colours are equal and follow the luma.
        EXPECT_EQ(rgb[size_t(3 * i)], rgb[size_t(3 * i + 1)]);
        EXPECT_EQ(rgb[size_t(3 * i)], rgb[size_t(3 * i + 2)]);
        EXPECT_EQ(rgba[size_t(4 * i)], rgb[size_t(3 * i)]);
        EXPECT_EQ(rgba[size_t(4 * i + 3)], 255);
    }
    EXPECT_LT(rgb[0], rgb[3 * 3]);

    Bytes untouched(64, 7);
    EXPECT_FALSE(yuv420sp2gray(cv::Mat(4, 4, CV_8UC1), untouched.data()));
    EXPECT_FALSE(yuv420sp2gray(cv::Mat(3, 5, CV_8UC1), untouched.data()));
    EXPECT_FALSE(yuv420sp2rgb(cv::Mat(3, 4, CV_8UC3), untouched.data()));
    EXPECT_FALSE(yuv420sp2rgba(cv::Mat(), untouched.data()));
    EXPECT_EQ(untouched, Bytes(64, 7));
}

TEST(PixelFormat, PlanarYv12ConvertsWithItsOwnArithmetic)
{
    // 2 x 2 image: four lumas, one sample in each chroma plane (C1 then C2).
    struct Case {
        unsigned char c1, c2;
        Bytes rgb;
        unsigned char grey;
    };
    const std::vector<Case> cases = {
        {128, 228, {255, 30, 100}, 76},  // u = 100: first clamps high
        {28, 128, {100, 170, 0}, 111},   // v = -100: third clamps low
    };
    for (const Case& c : cases) {
        const Bytes src = {100, 100, 100, 100, c.c1, c.c2};
        Bytes rgb(12), rgb32(16, 9), grey(4);
        ASSERT_TRUE(YV12_to_RGB24(src.data(), rgb.data(), 2, 2, false, false));
        ASSERT_TRUE(YV12_to_RGB32(src.data(), rgb32.data(), 2, 2, false, false));
        ASSERT_TRUE(YV12_to_Gray(src.data(), grey.data(), 2, 2, false, false));
        EXPECT_EQ((Bytes{rgb.begin(), rgb.begin() + 3}), c.rgb);
        EXPECT_EQ((Bytes{rgb32.begin() + 12, rgb32.end()}), (Bytes{c.rgb[0], c.rgb[1], c.rgb[2], 0}));
        EXPECT_EQ(int(grey[3]), int(c.grey));
    }
}

TEST(PixelFormat, Yv12FlipWritesTheFirstRowLast)
{
    // 2 x 4 image, grey luma per row, neutral chroma.
    const Bytes src = {10, 10, 20, 20, 30, 30, 40, 40, 128, 128, 128, 128};
    Bytes up(8), down(8);
    ASSERT_TRUE(YV12_to_Gray(src.data(), up.data(), 2, 4, false, false));
    ASSERT_TRUE(YV12_to_Gray(src.data(), down.data(), 2, 4, false, true));
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 2; ++c)
            EXPECT_EQ(down[size_t(r * 2 + c)], up[size_t((3 - r) * 2 + c)]);
    EXPECT_NEAR(up[0], 10, 1);
    EXPECT_NEAR(down[0], 40, 1);
}

TEST(PixelFormat, Yv12RefusesWhatIsNoFrame)
{
    const Bytes src(64, 100);
    Bytes dst(64 * 4, 7);
    EXPECT_FALSE(YV12_to_RGB24(src.data(), dst.data(), 1, 4, false, false));  // w / 2 is 0
    EXPECT_FALSE(YV12_to_RGB24(src.data(), dst.data(), 4, 0, false, false));  // no pixels
    EXPECT_FALSE(YV12_to_RGB32(src.data(), dst.data(), 3, 2, false, false));  // odd width
    EXPECT_FALSE(YV12_to_Gray(src.data(), dst.data(), 4, 3, false, false));   // odd height
    EXPECT_FALSE(YV12_to_Gray(nullptr, dst.data(), 4, 4, false, false));
    EXPECT_FALSE(YV12_to_Gray(src.data(), nullptr, 4, 4, false, false));
    EXPECT_EQ(dst, Bytes(64 * 4, 7));
}
