#include "inspection/geometry.h"

#include "inspection/hubservices.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <cstring>
#include <vector>

namespace {

// A test image whose every byte differs from its neighbours (never 0).
cv::Mat numbered(int rows, int cols, int type)
{
    cv::Mat m(rows, cols, type);
    uchar v = 1;
    for (int r = 0; r < rows; ++r) {
        uchar* p = m.ptr(r);
        for (size_t i = 0; i < size_t(cols) * m.elemSize(); ++i) {
            p[i] = v;
            v = uchar(v % 250 + 1);
        }
    }
    return m;
}

// The expected shift, pixel by pixel, as the definition reads.
cv::Mat shiftedByDefinition(const cv::Mat& src, int dx, int dy)
{
    cv::Mat out = cv::Mat::zeros(src.size(), src.type());
    for (int r = 0; r < src.rows; ++r)
        for (int c = 0; c < src.cols; ++c) {
            const int sr = r - dy, sc = c - dx;
            if (sr >= 0 && sr < src.rows && sc >= 0 && sc < src.cols)
                std::memcpy(out.ptr(r, c), src.ptr(sr, sc), src.elemSize());
        }
    return out;
}

bool same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

TEST(MoveImage, ShiftsWholePixelsOfEveryTypeAndClearsWhatItUncovers)
{
    struct Case {
        int type;
        int dx;
        int dy;
    };
    const std::vector<Case> cases = {
        {CV_8UC1, 5, 0},  {CV_8UC1, -3, 2}, {CV_8UC1, 0, -4}, {CV_8UC1, 10, 0}, {CV_8UC1, 0, 10},
        {CV_8UC4, 5, 0},  {CV_8UC4, -2, -1}, {CV_8UC4, 3, 7}, {CV_8UC3, 1, 1},  {CV_8UC4, -10, 0},
        {CV_8UC1, 0, 0},  {CV_8UC4, 0, 0},
    };
    for (const Case& c : cases) {
        const cv::Mat src = numbered(10, 10, c.type);
        cv::Mat dst(10, 10, c.type, cv::Scalar::all(77));
        ASSERT_TRUE(MoveImage(src, dst, c.dx, c.dy));
        EXPECT_TRUE(same(dst, shiftedByDefinition(src, c.dx, c.dy)))
            << "type " << c.type << " shift " << c.dx << "," << c.dy;
    }
}

TEST(MoveImage, RightShiftOfFiveClearsColumnsZeroToFour)
{
    const cv::Mat src = numbered(10, 10, CV_8UC1);
    cv::Mat dst(10, 10, CV_8UC1, cv::Scalar(77));
    MoveImage(src, dst, 5, 0);
    for (int r = 0; r < 10; ++r) {
        EXPECT_EQ(cv::countNonZero(dst.row(r).colRange(0, 5)), 0);
        EXPECT_EQ(dst.at<uchar>(r, 9), src.at<uchar>(r, 4));
    }
}

TEST(MoveImage, ExtremeShiftsClearEverything)
{
    for (int d : {10, 11, 100000, INT32_MAX, INT32_MIN}) {
        const cv::Mat src = numbered(6, 8, CV_8UC4);
        cv::Mat dx(6, 8, CV_8UC4, cv::Scalar::all(9)), dy(6, 8, CV_8UC4, cv::Scalar::all(9));
        MoveImage(src, dx, d, 0);
        MoveImage(src, dy, 0, d);
        EXPECT_EQ(cv::norm(dx, cv::NORM_INF), 0) << d;
        EXPECT_EQ(cv::norm(dy, cv::NORM_INF), 0) << d;
    }
}

TEST(MoveImage, WritesIntoAViewOfALargerBufferAndLeavesTheRestAlone)
{
    const cv::Mat src = numbered(4, 4, CV_8UC4);
    cv::Mat frame(8, 8, CV_8UC4, cv::Scalar::all(200));
    cv::Mat view = frame(cv::Rect(2, 2, 4, 4));
    ASSERT_TRUE(MoveImage(src, view, 1, 1));
    EXPECT_TRUE(same(frame(cv::Rect(2, 2, 4, 4)), shiftedByDefinition(src, 1, 1)));
    cv::Mat outside = frame.clone();
    outside(cv::Rect(2, 2, 4, 4)).setTo(cv::Scalar::all(200));
    EXPECT_EQ(cv::countNonZero(outside.reshape(1) != 200), 0);
}

TEST(MoveImage, RefusesADestinationTooSmallOrOfAnotherType)
{
    const cv::Mat src = numbered(10, 10, CV_8UC4);
    for (cv::Mat dst : {cv::Mat(10, 10, CV_8UC1, cv::Scalar(7)), cv::Mat(9, 10, CV_8UC4, cv::Scalar::all(7)),
                        cv::Mat(10, 9, CV_8UC4, cv::Scalar::all(7)), cv::Mat()}) {
        const cv::Mat before = dst.clone();
        EXPECT_FALSE(MoveImage(src, dst, 1, 1));
        EXPECT_TRUE(dst.empty() ? before.empty() : same(dst, before));
    }
}

TEST(MoveImage, ShiftWithinOneBufferReadsTheOriginalPixels)
{
    const cv::Mat original = numbered(10, 10, CV_8UC1);
    cv::Mat image = original.clone();
    ASSERT_TRUE(MoveImage(image, image, 2, 3));
    EXPECT_TRUE(same(image, shiftedByDefinition(original, 2, 3)));
}

TEST(MoveImage, EmptySourceLeavesDestinationUntouched)
{
    cv::Mat dst(4, 4, CV_8UC1, cv::Scalar(7));
    EXPECT_TRUE(MoveImage(cv::Mat(), dst, 1, 1));
    EXPECT_EQ(cv::countNonZero(dst != 7), 0);
}

TEST(TransformImage, NoShiftNoAngleGivesTheSourceBackInPlace)
{
    for (int type : {CV_8UC1, CV_8UC4}) {
        const cv::Mat src = numbered(60, 90, type);
        cv::Mat dst(60, 90, type, cv::Scalar::all(0));
        const uchar* buffer = dst.data;
        TransformImage(src, dst, cv::Point(0, 0), cv::Point(45, 30), 0.0);
        EXPECT_TRUE(same(dst, src)) << type;
        EXPECT_EQ(dst.data, buffer) << "the destination's own buffer is written";
    }
}

TEST(TransformImage, ShiftWithoutAngleMatchesMoveImage)
{
    for (int type : {CV_8UC1, CV_8UC4}) {
        const cv::Mat src = numbered(40, 50, type);
        cv::Mat dst;
        TransformImage(src, dst, cv::Point(7, -4), cv::Point(25, 20), 0.0);
        EXPECT_TRUE(same(dst, shiftedByDefinition(src, 7, -4))) << type;
    }
}

TEST(TransformImage, QuarterTurnAboutTheCentreKeepsTheCentreAndCutsTheCorners)
{
    // A 1920 x 1080 frame: padded to 2714 x 2714 on the way, so no corner of
    // the rotated content is lost before the final cut.
    cv::Mat src = cv::Mat::zeros(1080, 1920, CV_8UC1);
    cv::rectangle(src, cv::Rect(900, 500, 120, 80), cv::Scalar(255), cv::FILLED);  // around the centre
    cv::rectangle(src, cv::Rect(0, 0, 40, 40), cv::Scalar(255), cv::FILLED);      // a corner that leaves
    src.at<uchar>(540, 1200) = 255;                                                // right of the centre
    cv::Mat dst;
    TransformImage(src, dst, cv::Point(0, 0), cv::Point(960, 540), 90.0);
    ASSERT_EQ(dst.size(), src.size());
    EXPECT_EQ(dst.at<uchar>(540, 960), 255);
    // Counter-clockwise: a point right of the centre goes above it.
    EXPECT_EQ(dst.at<uchar>(540 - 240, 960), 255);
    EXPECT_EQ(dst.at<uchar>(540, 1200), 0);
    // The top-left corner block rotates out of the frame; the frame's own
    // corners are uncovered and therefore 0.
    EXPECT_EQ(cv::countNonZero(dst(cv::Rect(0, 0, 200, 200))), 0);
    EXPECT_EQ(dst.at<uchar>(1079, 1919), 0);
}

TEST(TransformImage, ShiftThenRotateBringsAPatternBackOntoItsPlace)
{
    // A cross rotated by -10 degrees about its centre and moved by (12, -5):
    // undoing the move and rotating by +10 degrees about the template centre
    // restores it.
    cv::Mat templ = cv::Mat::zeros(200, 300, CV_8UC1);
    cv::rectangle(templ, cv::Rect(100, 95, 100, 10), cv::Scalar(255), cv::FILLED);
    cv::rectangle(templ, cv::Rect(145, 50, 10, 100), cv::Scalar(255), cv::FILLED);
    const cv::Point centre(150, 100);
    cv::Mat moved;
    const cv::Mat rot = cv::getRotationMatrix2D(cv::Point2f(centre), -10.0, 1.0);
    cv::warpAffine(templ, moved, rot, templ.size());
    cv::Mat run = cv::Mat::zeros(templ.size(), CV_8UC1);
    MoveImage(moved, run, 12, -5);

    cv::Mat corrected(run.size(), run.type());
    TransformImage(run, corrected, cv::Point(-12, 5), centre, 10.0);
    cv::Mat diff;
    cv::absdiff(corrected, templ, diff);
    EXPECT_LT(cv::countNonZero(diff > 128), 150);  // of 1900 pixels: only bilinear edges differ
    EXPECT_GT(cv::countNonZero(corrected > 128), 1700);
}

TEST(CoordinateClamp, KeepsValuesInsideTheDisplayWithAMarginOfThree)
{
    struct Case {
        int value;
        int horizontal;
        int expected;
    };
    const std::vector<Case> cases = {
        {2, 1, 3},     {3, 1, 3},       {1917, 1, 1917}, {1918, 1, 1917}, {-50, 1, 3},
        {99999, 1, 1917}, {1077, 0, 1077}, {1078, 0, 1077}, {1917, 0, 1077}, {INT32_MIN, 0, 3},
        {INT32_MAX, 0, 1077}, {500, 0, 500},
    };
    for (const Case& c : cases) {
        int v = c.value;
        CheckInRange(&v, c.horizontal);
        EXPECT_EQ(v, c.expected) << c.value << (c.horizontal ? " across" : " down");
        int w = c.value;
        CheckInRange(&w, c.horizontal, 640, 480);
        EXPECT_EQ(w, c.expected) << "four-argument form ignores its sizes";
    }
    CheckInRange(static_cast<int*>(nullptr), 1);  // no target: nothing happens
}

TEST(RectangleClamp, ClampsEachSideOrMovesWithoutResizing)
{
    struct Case {
        QRect in;
        bool keepSize;
        QRect expected;
    };
    auto corners = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r, b)); };
    const std::vector<Case> cases = {
        {corners(1900, 10, 1950, 40), true, corners(1867, 10, 1917, 40)},
        {corners(1900, 10, 1950, 40), false, corners(1900, 10, 1917, 40)},
        {corners(-10, -5, 20, 15), true, corners(3, 3, 33, 23)},
        {corners(-10, -5, 20, 15), false, corners(3, 3, 20, 15)},
        {corners(50, 60, 10, 20), false, corners(10, 20, 50, 60)},  // corners normalised first
        {corners(100, 1070, 200, 1100), true, corners(100, 1047, 200, 1077)},
        {corners(0, 0, 3000, 10), true, corners(-1083, 3, 1917, 13)},  // wider than the area
    };
    for (const Case& c : cases) {
        QRect r = c.in;
        CheckInRange(&r, c.keepSize);
        EXPECT_EQ(r, c.expected) << c.in.left() << "," << c.in.top() << " keep " << c.keepSize;
        QRect r4 = c.in;
        CheckInRange(&r4, 640, 480, c.keepSize);
        EXPECT_EQ(r4, c.expected);
    }
}

TEST(TolerancePredicates, ClampTheToleranceToThreeToFifty)
{
    EXPECT_TRUE(PointAround(QPoint(10, 10), QPoint(12, 12), 0));
    EXPECT_FALSE(PointAround(QPoint(10, 10), QPoint(13, 10), 0));
    EXPECT_TRUE(PointAround(QPoint(0, 0), QPoint(49, -49), 100));
    EXPECT_FALSE(PointAround(QPoint(0, 0), QPoint(50, 0), 100));
    EXPECT_TRUE(PointAround(QPoint(0, 0), QPoint(9, 9), 10));
    EXPECT_FALSE(PointAround(QPoint(INT32_MIN, 0), QPoint(INT32_MAX, 0), 50));

    EXPECT_TRUE(LineAround(100, 98, -5));
    EXPECT_FALSE(LineAround(100, 97, -5));
    EXPECT_TRUE(LineAround(100, 51, 1000));
    EXPECT_FALSE(LineAround(100, 50, 1000));
    EXPECT_TRUE(LineAround(100, 104, 5, 0, 5, 5));
    EXPECT_FALSE(LineAround(100, 104, 6, 0, 5, 5));
    EXPECT_FALSE(LineAround(100, 110, 3, 0, 5, 5));
}
