// The shape finder on generated images: a moulded part on a textured
// background is moved (and turned) within the search margin, sensor noise is
// added, and what the finder reports must move the frame back onto the
// template as the location correction applies it: shift by the found
// position minus the search area's origin, then rotate about the region's
// centre.
#include "platform/imaging/findshape.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <string>

namespace {

using platform::FindShape;

const cv::Size kFrame(800, 600);
const cv::Rect kRegion(300, 220, 200, 150);
const cv::Point kCentre(kRegion.x + kRegion.width / 2, kRegion.y + kRegion.height / 2);
constexpr int kMargin = 50;
const cv::Rect kSearch(kRegion.x - kMargin, kRegion.y - kMargin, kRegion.width + 2 * kMargin,
                       kRegion.height + 2 * kMargin);

// A part with holes, ribs and a tab on a mottled, shaded background.
cv::Mat makeScene(uint64_t seed, bool withPart = true)
{
    cv::RNG rng(seed);
    cv::Mat mottle(kFrame, CV_32F);
    rng.fill(mottle, cv::RNG::UNIFORM, -1.0, 1.0);
    cv::GaussianBlur(mottle, mottle, cv::Size(), 5.0);
    double peak = 0.0;
    cv::minMaxLoc(cv::abs(mottle), nullptr, &peak);
    mottle *= 25.0 / peak;

    cv::Mat scene(kFrame, CV_32F);
    for (int r = 0; r < scene.rows; ++r)
        for (int c = 0; c < scene.cols; ++c)
            scene.at<float>(r, c) = 70.0f + 50.0f * c / scene.cols;
    cv::Mat part(kFrame, CV_32F, cv::Scalar(0));
    const cv::Point o = kRegion.tl();
    cv::rectangle(part, cv::Rect(o + cv::Point(30, 25), cv::Size(140, 100)), cv::Scalar(80), cv::FILLED);
    cv::circle(part, o + cv::Point(70, 60), 18, cv::Scalar(-40), cv::FILLED, cv::LINE_AA);
    cv::circle(part, o + cv::Point(135, 95), 10, cv::Scalar(-60), cv::FILLED, cv::LINE_AA);
    cv::rectangle(part, cv::Rect(o + cv::Point(100, 35), cv::Size(8, 60)), cv::Scalar(40), cv::FILLED);
    cv::rectangle(part, cv::Rect(o + cv::Point(170, 60), cv::Size(22, 30)), cv::Scalar(60), cv::FILLED);
    cv::GaussianBlur(part, part, cv::Size(), 1.0);
    scene += mottle;
    if (withPart)
        scene += part;
    cv::Mat out;
    scene.convertTo(out, CV_8U);
    return out;
}

// The scene turned by degrees about the region's centre, then moved, with noise.
cv::Mat moved(const cv::Mat& scene, cv::Point shift, double degrees, int noise, uint64_t seed)
{
    cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(kCentre), degrees, 1.0);
    turn.at<double>(0, 2) += shift.x;
    turn.at<double>(1, 2) += shift.y;
    cv::Mat out;
    cv::warpAffine(scene, out, turn, scene.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    if (noise > 0) {
        cv::Mat n(out.size(), CV_16S);
        cv::RNG(seed).fill(n, cv::RNG::UNIFORM, -noise, noise + 1);
        cv::add(out, n, out, cv::noArray(), CV_8U);
    }
    return out;
}

struct Found {
    bool found = false;
    int x = 0;
    int y = 0;
    double angle = 0.0;
    double score = 0.0;
};

Found find(FindShape& finder, const cv::Mat& frame, const cv::Rect& search = kSearch)
{
    cv::Mat area = frame(search).clone();
    Found f;
    f.found = finder.Find(area, 0, &f.x, &f.y, &f.angle, &f.score);
    return f;
}

bool create(FindShape& finder, const cv::Mat& scene, int rotateRange, const cv::Mat& mask = {})
{
    return finder.CreateShape(scene(kRegion), 0.0, 0, rotateRange, kCentre.x, kCentre.y, false, 30,
                              mask, 0, 3);
}

// Mean absolute difference over the region between the template and the
// frame corrected as the location detector does.
double residual(const cv::Mat& scene, const cv::Mat& frame, const Found& f)
{
    cv::Mat back = cv::getRotationMatrix2D(cv::Point2f(kCentre), f.angle, 1.0);
    const double dx = f.x - kSearch.x;
    const double dy = f.y - kSearch.y;
    // Shift first, then turn: fold the shift into the affine map.
    back.at<double>(0, 2) += back.at<double>(0, 0) * dx + back.at<double>(0, 1) * dy;
    back.at<double>(1, 2) += back.at<double>(1, 0) * dx + back.at<double>(1, 1) * dy;
    cv::Mat corrected;
    cv::warpAffine(frame, corrected, back, frame.size());
    cv::Mat diff;
    cv::absdiff(corrected(kRegion), scene(kRegion), diff);
    return cv::mean(diff)[0];
}

struct MoveCase {
    std::string name;
    cv::Point shift;
    double degrees;
    int rotateRange;
};

class FindShapeMoveTest : public ::testing::TestWithParam<MoveCase> {};

TEST_P(FindShapeMoveTest, FindsTheMovedPartWithinAPixel)
{
    const MoveCase& c = GetParam();
    const cv::Mat scene = makeScene(5);
    FindShape finder;
    ASSERT_TRUE(create(finder, scene, c.rotateRange));
    const cv::Mat frame = moved(scene, c.shift, c.degrees, 8, 21);

    const Found f = find(finder, frame);
    ASSERT_TRUE(f.found) << "score " << f.score;
    EXPECT_LE(std::abs(f.x - kSearch.x + c.shift.x), 1);
    EXPECT_LE(std::abs(f.y - kSearch.y + c.shift.y), 1);
    EXPECT_NEAR(f.angle, -c.degrees, 0.5);
    EXPECT_LT(residual(scene, frame, f), 7.0);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, FindShapeMoveTest,
    ::testing::Values(MoveCase{"Small", {3, -2}, 0.0, 0},
                      MoveCase{"MarginRightUp", {kMargin, -kMargin}, 0.0, 0},
                      MoveCase{"MarginLeftDown", {-kMargin, kMargin}, 0.0, 0},
                      MoveCase{"Uneven", {-23, 37}, 0.0, 0},
                      MoveCase{"TurnedLeft", {12, -9}, 4.0, 10},
                      MoveCase{"TurnedRight", {-30, 20}, -3.0, 10},
                      MoveCase{"TurnedOnly", {0, 0}, 2.5, 5},
                      MoveCase{"TurnedAtTheMargin", {-40, -40}, -6.0, 15}),
    [](const auto& info) { return info.param.name; });

TEST(FindShape, IdenticalImageGivesNoShift)
{
    const cv::Mat scene = makeScene(5);
    for (int rotateRange : {0, 10}) {
        FindShape finder;
        ASSERT_TRUE(create(finder, scene, rotateRange));
        const Found f = find(finder, scene);
        ASSERT_TRUE(f.found);
        EXPECT_EQ(f.x, kSearch.x);
        EXPECT_EQ(f.y, kSearch.y);
        EXPECT_NEAR(f.angle, 0.0, 0.1);
        EXPECT_GT(f.score, 0.99);
    }
}

TEST(FindShape, WithoutRotationTheAngleStaysZero)
{
    const cv::Mat scene = makeScene(5);
    for (int rotateRange : {0, 181}) {
        FindShape finder;
        ASSERT_TRUE(create(finder, scene, rotateRange));
        const Found f = find(finder, moved(scene, {5, 5}, 2.0, 8, 3));
        ASSERT_TRUE(f.found);
        EXPECT_EQ(f.angle, 0.0);
        EXPECT_LE(std::abs(f.x - kSearch.x + 5), 1);
    }
}

TEST(FindShape, FindsWithTheShapeMaskAndInColour)
{
    const cv::Mat scene = makeScene(9);
    cv::Mat colour;
    cv::cvtColor(scene, colour, cv::COLOR_GRAY2RGBA);
    cv::Mat mask = cv::Mat::zeros(kRegion.size(), CV_8UC1);
    cv::ellipse(mask, {kRegion.width / 2, kRegion.height / 2}, {90, 65}, 0, 0, 360, cv::Scalar(255),
                cv::FILLED);
    FindShape finder;
    ASSERT_TRUE(create(finder, colour, 8, mask));
    cv::Mat frame;
    cv::cvtColor(moved(scene, {-17, 26}, 3.0, 8, 4), frame, cv::COLOR_GRAY2RGBA);
    const Found f = find(finder, frame);
    ASSERT_TRUE(f.found);
    EXPECT_LE(std::abs(f.x - kSearch.x - 17), 1);
    EXPECT_LE(std::abs(f.y - kSearch.y + 26), 1);
    EXPECT_NEAR(f.angle, -3.0, 0.5);
}

TEST(FindShape, AbsentPartIsNotFound)
{
    const cv::Mat scene = makeScene(5);
    FindShape finder;
    ASSERT_TRUE(create(finder, scene, 10));

    int x = 7, y = 8;
    double angle = 9.0;
    cv::Mat flat(kSearch.size(), CV_8UC1, cv::Scalar(120));
    EXPECT_FALSE(finder.Find(flat, 0, &x, &y, &angle, nullptr));
    EXPECT_EQ(x, 7);  // outputs untouched when nothing is found
    EXPECT_EQ(angle, 9.0);

    // The background alone, the part taken away.
    const Found bare = find(finder, makeScene(5, false));
    EXPECT_FALSE(bare.found) << "score " << bare.score;
}

TEST(FindShape, SearchAreaSmallerThanThePatternFindsNothing)
{
    const cv::Mat scene = makeScene(5);
    FindShape finder;
    ASSERT_TRUE(create(finder, scene, 0));
    EXPECT_FALSE(find(finder, scene, cv::Rect(kRegion.tl(), cv::Size(150, 150))).found);
}

TEST(FindShape, ValidOnlyWithAUsablePattern)
{
    const cv::Mat scene = makeScene(5);
    FindShape finder;
    EXPECT_FALSE(finder.IsValid());
    cv::Mat search = scene(kSearch).clone();
    int x = 0, y = 0;
    double angle = 0.0;
    EXPECT_FALSE(finder.Find(search, 0, &x, &y, &angle, nullptr));

    EXPECT_TRUE(create(finder, scene, 0));
    EXPECT_TRUE(finder.IsValid());

    const cv::Mat flat(kFrame, CV_8UC1, cv::Scalar(90));
    EXPECT_FALSE(create(finder, flat, 0));
    EXPECT_FALSE(finder.IsValid());

    EXPECT_FALSE(finder.CreateShape(cv::Mat(), 0.0, 0, 0, 0, 0, false, 30, cv::Mat(), 0, 3));
    EXPECT_FALSE(finder.IsValid());

    EXPECT_FALSE(create(finder, scene, 0, cv::Mat(10, 10, CV_8UC1, cv::Scalar(255))));
    EXPECT_FALSE(finder.IsValid());
}

}  // namespace
