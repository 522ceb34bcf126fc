#include "inspection/maskpacking.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct PackCase {
    const char* name;
    int rows;
    int cols;
    std::vector<int> marked;  // pixel numbers in row-major order
    int value;                // byte value written for a marked pixel
    QByteArray expected;
};

cv::Mat maskOf(const PackCase& c)
{
    cv::Mat mask = cv::Mat::zeros(c.rows, c.cols, CV_8UC1);
    for (int k : c.marked)
        mask.at<uchar>(k / c.cols, k % c.cols) = uchar(c.value);
    return mask;
}

std::vector<int> range(int from, int to)
{
    std::vector<int> v;
    for (int k = from; k < to; ++k)
        v.push_back(k);
    return v;
}

}  // namespace

TEST(MaskPacking, PacksRowMajorLeastSignificantBitFirstWithoutRowPadding)
{
    const std::vector<PackCase> cases = {
        {"1x8 with pixel 0 set gives 01", 1, 8, {0}, 255, QByteArray::fromHex("01")},
        {"1x8 with pixel 7 set gives 80", 1, 8, {7}, 255, QByteArray::fromHex("80")},
        {"3x3 all set gives FF 01", 3, 3, range(0, 9), 255, QByteArray::fromHex("ff01")},
        {"2x5 second row set gives E0 03", 2, 5, range(5, 10), 255, QByteArray::fromHex("e003")},
        {"any non-zero value counts as marked", 1, 8, {0, 1, 2}, 1, QByteArray::fromHex("07")},
        {"1x9 with the last pixel set gives 00 01", 1, 9, {8}, 128, QByteArray::fromHex("0001")},
        {"1x16 all clear gives two zero bytes", 1, 16, {}, 255, QByteArray::fromHex("0000")},
        {"no rows gives nothing", 0, 8, {}, 255, QByteArray()},
        {"no columns gives nothing", 4, 0, {}, 255, QByteArray()},
    };
    for (const PackCase& c : cases) {
        const cv::Mat mask = (c.rows > 0 && c.cols > 0) ? maskOf(c) : cv::Mat(c.rows, c.cols, CV_8UC1);
        EXPECT_EQ(MatMask01Compress2Bytes(mask).toHex(), c.expected.toHex()) << c.name;
    }
}

TEST(MaskPacking, LengthIsPixelsOverEightRoundedUp)
{
    for (const auto& size : std::vector<cv::Size>{{1, 1}, {7, 1}, {8, 1}, {9, 1}, {13, 7}, {1920, 1080}}) {
        const cv::Mat mask(size, CV_8UC1, cv::Scalar(255));
        const int pixels = size.width * size.height;
        const QByteArray packed = MatMask01Compress2Bytes(mask);
        EXPECT_EQ(packed.size(), (pixels + 7) / 8) << size.width << "x" << size.height;
        // Every pixel set: full bytes, then the used low bits of the last.
        const int rest = pixels % 8;
        EXPECT_EQ(unsigned(uchar(packed.back())), rest == 0 ? 0xffu : (1u << rest) - 1) << size.width << "x" << size.height;
    }
}

TEST(MaskPacking, ViewIntoLargerMaskPacksOnlyTheViewThroughTheRowStride)
{
    cv::Mat big(10, 10, CV_8UC1, cv::Scalar(255));
    cv::Mat view = big(cv::Rect(3, 2, 4, 4));
    view.setTo(0);
    view.at<uchar>(0, 0) = 9;  // pixel 0
    view.at<uchar>(1, 3) = 9;  // pixel 7
    view.at<uchar>(3, 3) = 9;  // pixel 15
    EXPECT_EQ(MatMask01Compress2Bytes(view).toHex(), QByteArray("8180"));
}

TEST(MaskPacking, UnpackingGivesBackTheMask)
{
    cv::Mat mask(37, 53, CV_8UC1);
    cv::randu(mask, 0, 2);
    const QByteArray packed = MatMask01Compress2Bytes(mask);
    for (int k = 0; k < mask.rows * mask.cols; ++k) {
        const bool bit = (uchar(packed[k / 8]) >> (k % 8)) & 1;
        ASSERT_EQ(bit, mask.at<uchar>(k / mask.cols, k % mask.cols) != 0) << "pixel " << k;
    }
}

TEST(MaskPacking, RefusesMasksOfOtherTypes)
{
    EXPECT_TRUE(MatMask01Compress2Bytes(cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(255))).isEmpty());
    EXPECT_TRUE(MatMask01Compress2Bytes(cv::Mat(4, 4, CV_16UC1, cv::Scalar(1))).isEmpty());
}

namespace {

// The packing written out pixel by pixel: a bit counter and an accumulator,
// one byte appended whenever eight pixels are in.
QByteArray packedPixelByPixel(const cv::Mat& mask)
{
    QByteArray out;
    int bit = 0;
    unsigned accumulator = 0;
    for (int r = 0; r < mask.rows; ++r) {
        for (int c = 0; c < mask.cols; ++c) {
            if (mask.at<uchar>(r, c) != 0)
                accumulator |= 1u << bit;
            if (++bit == 8) {
                out.append(char(accumulator));
                accumulator = 0;
                bit = 0;
            }
        }
    }
    if (bit != 0)
        out.append(char(accumulator));
    return out;
}

}  // namespace

TEST(MaskPacking, RandomMasksOfOddSizesPackAsPixelByPixel)
{
    // Values: zero, the smallest and largest marks, and both sides of the
    // sign bit; views start at odd columns of a larger mask so that their
    // rows are neither aligned nor back to back.
    struct RandomCase {
        int rows;
        int cols;
        bool view;
    };
    const std::vector<RandomCase> cases = {
        {1, 1, false},     {1, 7, false},      {1, 15, false},     {1, 17, false},   {1, 31, false},
        {1, 33, false},    {3, 5, false},      {7, 13, false},     {17, 33, true},   {5, 47, true},
        {63, 65, false},   {101, 97, true},    {11, 1, true},      {9, 31, true},    {451, 701, true},
        {1079, 1921, false}, {1080, 1920, false}, {1077, 1913, true},
    };
    const std::vector<uchar> marks = {1, 127, 128, 129, 254, 255};
    cv::RNG rng(20261210);
    for (const RandomCase& c : cases) {
        for (double marked : {0.0, 0.03, 0.5, 0.97, 1.0}) {
            const cv::Size size(c.cols + 13, c.rows + 6);
            cv::Mat which(size, CV_8UC1);
            rng.fill(which, cv::RNG::UNIFORM, 0, int(marks.size()));
            cv::Mat big(size, CV_8UC1);
            for (size_t i = 0; i < marks.size(); ++i)
                big.setTo(marks[i], which == int(i));
            cv::Mat chance(size, CV_32FC1);
            rng.fill(chance, cv::RNG::UNIFORM, 0.0, 1.0);
            big.setTo(0, chance >= marked);
            const cv::Mat mask =
                c.view ? big(cv::Rect(5, 3, c.cols, c.rows)) : big(cv::Rect(0, 0, c.cols, c.rows)).clone();
            ASSERT_EQ(mask.isContinuous(), !c.view || c.rows == 1);
            ASSERT_EQ(MatMask01Compress2Bytes(mask).toHex(), packedPixelByPixel(mask).toHex())
                << c.rows << "x" << c.cols << (c.view ? " view" : "") << ", " << marked << " marked";
        }
    }
}
