// Defect area and the mask combinations the spot and flaw detectors share.
#include "inspection/detectormasks.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

namespace {

cv::Mat zeros(int rows, int cols)
{
    return cv::Mat::zeros(rows, cols, CV_8UC1);
}

// --- calArea -----------------------------------------------------------

struct AreaCase {
    const char* name;
    std::vector<cv::Rect> squares;  // filled with 255
    int expected;
};

class CalAreaTest : public ::testing::TestWithParam<AreaCase> {};

TEST_P(CalAreaTest, SumsOuterContourAreas)
{
    cv::Mat m = zeros(60, 80);
    for (const auto& r : GetParam().squares)
        m(r).setTo(255);
    EXPECT_EQ(calArea(m), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CalAreaTest,
    ::testing::Values(AreaCase{"empty", {}, 0},
                      // polygon through the outer pixel centres: 19 x 19
                      AreaCase{"square20", {cv::Rect(5, 5, 20, 20)}, 361},
                      AreaCase{"square10", {cv::Rect(30, 30, 10, 10)}, 81},
                      AreaCase{"onePixel", {cv::Rect(3, 3, 1, 1)}, 0},
                      AreaCase{"line", {cv::Rect(3, 3, 10, 1)}, 0},
                      AreaCase{"two", {cv::Rect(5, 5, 20, 20), cv::Rect(40, 30, 10, 10)}, 442},
                      AreaCase{"touchingEdge", {cv::Rect(0, 0, 11, 11)}, 100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CalArea, HolesAreNotSubtracted)
{
    cv::Mat m = zeros(40, 40);
    m(cv::Rect(5, 5, 21, 21)).setTo(255);
    m(cv::Rect(10, 10, 5, 5)).setTo(0);
    EXPECT_EQ(calArea(m), 400);
}

TEST(CalArea, TruncatesAfterEveryContour)
{
    // Two L-shaped specks of three pixels, each a triangle of area 0.5:
    // truncated one by one they add up to 0, not 1.
    cv::Mat m = zeros(20, 20);
    for (cv::Point o : {cv::Point(2, 2), cv::Point(10, 10)}) {
        m.at<uchar>(o) = 255;
        m.at<uchar>(o + cv::Point(1, 0)) = 255;
        m.at<uchar>(o + cv::Point(0, 1)) = 255;
    }
    EXPECT_EQ(calArea(m), 0);
    // A single triangle of half-integer area keeps only its whole part.
    cv::Mat t = zeros(20, 20);
    for (int i = 0; i < 4; ++i)
        t(cv::Rect(2, 2 + i, 4 - i, 1)).setTo(255);  // staircase: area 4.5
    EXPECT_EQ(calArea(t), 4);
}

TEST(CalArea, RejectsWhatIsNotAMask)
{
    EXPECT_EQ(calArea(cv::Mat()), 0);
    EXPECT_EQ(calArea(cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(255))), 0);
}

// --- markGreyBand ------------------------------------------------------

struct BandCase {
    const char* name;
    int low;
    int high;
    int marked;  // pixels of the 0..255 ramp that are marked
};

class GreyBandTest : public ::testing::TestWithParam<BandCase> {};

TEST_P(GreyBandTest, MarksTheBandInclusive)
{
    // One row per grey value, 17 columns wide (past one vector of 16).
    cv::Mat grey(256, 17, CV_8UC1);
    for (int r = 0; r < 256; ++r)
        grey.row(r).setTo(r);
    cv::Mat shape(grey.size(), CV_8UC1, cv::Scalar(255));
    cv::Mat out;
    detectormasks::markGreyBand(grey, GetParam().low, GetParam().high, shape, cv::Mat(), out);
    EXPECT_EQ(cv::countNonZero(out), GetParam().marked * 17);
    // Marked pixels are exactly 255.
    EXPECT_EQ(cv::countNonZero(out == 255), GetParam().marked * 17);
}

INSTANTIATE_TEST_SUITE_P(Bands, GreyBandTest,
                         ::testing::Values(BandCase{"defaults", 0, 50, 51},
                                           BandCase{"single", 7, 7, 1},
                                           BandCase{"top", 200, 255, 56},
                                           BandCase{"whole", 0, 255, 256},
                                           BandCase{"reversed", 60, 50, 0},
                                           BandCase{"belowZero", -10, -1, 0},
                                           BandCase{"aboveTop", 256, 300, 0},
                                           BandCase{"wideInts", -100, 1000, 256}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GreyBand, LeavesOutIgnoredAndOutsideShape)
{
    cv::Mat grey = zeros(20, 37);  // all in the band 0..50
    cv::Mat shape = zeros(20, 37);
    shape(cv::Rect(0, 0, 30, 20)).setTo(255);
    cv::Mat ignore = zeros(20, 37);
    ignore(cv::Rect(0, 0, 10, 20)).setTo(255);
    cv::Mat big = zeros(40, 60);
    cv::Mat out = big(cv::Rect(5, 5, 37, 20));  // a view is written in place
    detectormasks::markGreyBand(grey, 0, 50, shape, ignore, out);
    EXPECT_EQ(cv::countNonZero(big), 20 * 20);
    EXPECT_EQ(cv::countNonZero(big(cv::Rect(15, 5, 20, 20))), 400);
}

TEST(KeepCountedPixels, AndsShapeAndNotIgnore)
{
    cv::Mat marks(10, 40, CV_8UC1, cv::Scalar(255));
    cv::Mat shape = zeros(10, 40);
    shape(cv::Rect(0, 0, 33, 10)).setTo(255);
    cv::Mat ignore = zeros(10, 40);
    ignore(cv::Rect(30, 0, 10, 10)).setTo(255);
    detectormasks::keepCountedPixels(marks, shape, ignore);
    EXPECT_EQ(cv::countNonZero(marks), 30 * 10);
    EXPECT_EQ(cv::countNonZero(marks(cv::Rect(0, 0, 30, 10))), 300);
}

// --- cleaning ----------------------------------------------------------

TEST(OpenMarks, SpecksSmallerThanTheKernelVanish)
{
    cv::Mat m = zeros(30, 30);
    m.at<uchar>(5, 5) = 255;
    m(cv::Rect(10, 10, 8, 8)).setTo(255);
    cv::Mat small = m.clone();
    detectormasks::openMarks(small, 3);
    EXPECT_EQ(small.at<uchar>(5, 5), 0);
    EXPECT_EQ(small.at<uchar>(14, 14), 255);
    for (int side : {1, 0, -4}) {
        cv::Mat same = m.clone();
        detectormasks::openMarks(same, side);
        EXPECT_EQ(cv::countNonZero(same != m), 0) << side;
    }
}

// Side 3 opens a whole matrix by passes of its own: exactly morphologyEx's
// result, at every size (one row or column, widths around the 16-pixel
// steps), on sparse and dense marks and on grey values, with and without a
// kept scratch buffer; a view (whose surroundings morphologyEx reads too)
// keeps morphologyEx's result as well.
TEST(OpenMarks, SideThreeIsExactlyTheEllipseOpening)
{
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
    const cv::Size sizes[] = {{1, 1}, {1, 9}, {17, 1}, {2, 2}, {15, 3}, {16, 4}, {17, 5},
                              {18, 7}, {33, 12}, {64, 5}, {160, 120}, {161, 37}};
    struct Fill {
        const char* name;
        int low, high;      // uniform grey range before thresholding
        int threshold;      // -1: keep the grey values
    };
    const Fill fills[] = {{"sparse", 0, 100, 96}, {"half", 0, 100, 50}, {"dense", 0, 100, 6}, {"grey", 0, 256, -1}};
    cv::RNG rng(7);
    detectormasks::OpenScratch scratch;
    for (const cv::Size& size : sizes) {
        for (const Fill& f : fills) {
            for (bool view : {false, true}) {
                SCOPED_TRACE(testing::Message() << size.width << "x" << size.height << " " << f.name
                                                << (view ? " view" : ""));
                cv::Mat whole(size.height + 4, size.width + 6, CV_8UC1);
                rng.fill(whole, cv::RNG::UNIFORM, f.low, f.high);
                if (f.threshold >= 0)
                    cv::threshold(whole, whole, f.threshold, 255, cv::THRESH_BINARY);
                cv::Mat m = view ? whole(cv::Rect(cv::Point(3, 2), size)) : whole(cv::Rect(cv::Point(), size)).clone();
                // What the opening was: morphologyEx in place.
                cv::Mat expectedWhole = whole.clone();
                cv::Mat expected = view ? expectedWhole(cv::Rect(cv::Point(3, 2), size)) : m.clone();
                cv::morphologyEx(expected, expected, cv::MORPH_OPEN, kernel);
                const cv::Mat around = whole.clone();
                cv::Mat ours = m;  // in place, through the view when it is one
                detectormasks::openMarks(ours, 3, f.threshold == 50 ? &scratch : nullptr);
                EXPECT_EQ(cv::countNonZero(ours != expected), 0);
                if (view) {
                    // Nothing outside the view changed.
                    cv::Mat outside = whole != around;
                    outside(cv::Rect(cv::Point(3, 2), size)).setTo(0);
                    EXPECT_EQ(cv::countNonZero(outside), 0);
                }
            }
        }
    }
}

// The combination against plain OpenCV on random masks of widths around
// the 16- and 64-pixel steps, marks sparse and dense.
TEST(KeepCountedPixels, MatchesPlainBitwiseOperationsAtEveryWidth)
{
    cv::RNG rng(11);
    for (int cols : {1, 15, 16, 17, 63, 64, 65, 130, 160}) {
        for (int percent : {0, 1, 50, 100}) {
            SCOPED_TRACE(testing::Message() << cols << " columns, " << percent << " % marked");
            cv::Mat marks(9, cols, CV_8UC1), shape(9, cols, CV_8UC1), ignore(9, cols, CV_8UC1);
            rng.fill(marks, cv::RNG::UNIFORM, 0, 100);
            cv::threshold(marks, marks, 99 - percent, 255, cv::THRESH_BINARY);
            rng.fill(shape, cv::RNG::UNIFORM, 0, 2);
            shape *= 255;
            rng.fill(ignore, cv::RNG::UNIFORM, 0, 2);
            ignore *= 255;
            for (bool withIgnore : {false, true}) {
                cv::Mat expected = marks & shape;
                if (withIgnore)
                    expected &= ~ignore;
                cv::Mat ours = marks.clone();
                const bool kept = detectormasks::keepCountedPixels(ours, shape, withIgnore ? ignore : cv::Mat());
                EXPECT_EQ(cv::countNonZero(ours != expected), 0) << withIgnore;
                EXPECT_EQ(kept, cv::countNonZero(expected) > 0) << withIgnore;
            }
        }
    }
}

// Large kernels: the side is bounded to 100, and above the drawn sizes the
// opening by a disc keeps what the drawn ellipse keeps, up to its rim.
TEST(OpenMarks, LargeSidesAreBoundedAndOpenLikeTheDrawnEllipse)
{
    struct Case {
        int side;
        int usedSide;  // what the opening behaves as
    };
    const Case cases[] = {{33, 33}, {64, 64}, {100, 100}, {101, 100}, {1000000, 100}, {2147483647, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.side);
        const int d = c.usedSide;
        cv::Mat m = zeros(4 * d + 40, 4 * d + 40);
        cv::circle(m, {d, d}, (d + 8) / 2, cv::Scalar(255), cv::FILLED);            // wider than the kernel
        cv::circle(m, {3 * d, d}, (d - 8) / 2, cv::Scalar(255), cv::FILLED);        // narrower
        m(cv::Rect(10, 2 * d + 10, 2 * d, d + 6)).setTo(255);                          // a bar the kernel fits in
        m(cv::Rect(2 * d + 30, 2 * d + 10, 2 * d, d - 6)).setTo(255);                  // one it does not
        cv::Mat opened = m.clone();
        detectormasks::openMarks(opened, c.side);
        cv::Mat drawn;
        cv::morphologyEx(m, drawn, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(d, d)));
        EXPECT_EQ(opened.at<uchar>(d, d), 255);
        EXPECT_EQ(opened.at<uchar>(d, 3 * d), 0);
        EXPECT_EQ(cv::countNonZero(opened(cv::Rect(2 * d + 30, 2 * d + 10, 2 * d, d - 6))), 0);
        EXPECT_EQ(cv::countNonZero(opened(cv::Rect(2 * d + 20, 0, 2 * d + 20, 2 * d + 5))), 0);
        // Where the two differ, it is along the rim of what survives.
        cv::Mat differs = opened != drawn;
        cv::Mat rim;
        cv::morphologyEx(drawn, rim, cv::MORPH_GRADIENT, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
        EXPECT_EQ(cv::countNonZero(differs & ~rim), 0);
    }
}

TEST(KeepLargeBlobs, DropsBlobsBelowTheCountAndFillsTheRest)
{
    cv::Mat m = zeros(40, 40);
    m(cv::Rect(2, 2, 4, 2)).setTo(255);    // 8 pixels: dropped with 9
    m(cv::Rect(10, 2, 3, 3)).setTo(255);   // 9 pixels: kept
    m(cv::Rect(20, 20, 10, 10)).setTo(255);
    m(cv::Rect(23, 23, 3, 3)).setTo(0);    // hole: filled when kept
    detectormasks::keepLargeBlobs(m, 9);
    EXPECT_EQ(cv::countNonZero(m(cv::Rect(0, 0, 8, 8))), 0);
    EXPECT_EQ(cv::countNonZero(m(cv::Rect(10, 2, 3, 3))), 9);
    EXPECT_EQ(cv::countNonZero(m(cv::Rect(20, 20, 10, 10))), 100);
    EXPECT_EQ(cv::countNonZero(m), 109);
}

TEST(GreyOf, ConvertsOnlyWhatIsNotGrey)
{
    cv::Mat grey(4, 4, CV_8UC1, cv::Scalar(9));
    EXPECT_EQ(detectormasks::greyOf(grey).data, grey.data);  // shared, not copied
    cv::Mat rgba(4, 4, CV_8UC4, cv::Scalar(100, 100, 100, 255));
    cv::Mat g = detectormasks::greyOf(rgba);
    ASSERT_EQ(g.type(), CV_8UC1);
    EXPECT_EQ(g.at<uchar>(1, 1), 100);
    EXPECT_TRUE(detectormasks::greyOf(cv::Mat(4, 4, CV_16UC1)).empty());
}

TEST(RectInside, OnlyNonEmptyRectsWhollyInside)
{
    cv::Mat img = zeros(100, 200);
    EXPECT_TRUE(detectormasks::rectInside(cv::Rect(0, 0, 200, 100), img));
    EXPECT_FALSE(detectormasks::rectInside(cv::Rect(1, 0, 200, 100), img));
    EXPECT_FALSE(detectormasks::rectInside(cv::Rect(-1, 0, 10, 10), img));
    EXPECT_FALSE(detectormasks::rectInside(cv::Rect(5, 5, 0, 10), img));
    EXPECT_FALSE(detectormasks::rectInside(cv::Rect(5, 5, 10, 10), cv::Mat()));
}

}  // namespace
