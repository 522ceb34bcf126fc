// The grey-level template matcher on generated images: a moulded surface
// with shading, mottling, grain and sharp-edged features, a region cut from
// it, and run images with sensor noise, small shifts and planted blemishes.
// Each difference map goes through the flaw detector's cleaning (opening,
// shape mask, outer-contour area), so the areas are those an alarm area is
// judged on.
#include "platform/imaging/graymatch.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <functional>
#include <string>
#include <vector>

namespace {

using platform::GrayMatch;

const cv::Size kFrame(640, 480);
const cv::Rect kRegion(200, 150, 160, 120);
// Blemish places (top-left, frame coordinates) inside the region, clear of its features.
const cv::Point kSpotA(232, 244);
const cv::Point kSpotB(320, 170);
const cv::Point kSpotCentre(290, 205);
constexpr int kBlemish = 6;

// A moulded surface: shading, smooth mottling, fine grain, and features
// (a boss, a rib, a ridge) with slightly soft edges. ribDrop moves the rib down.
cv::Mat makeSurface(uint64_t seed, int ribDrop = 0)
{
    cv::RNG rng(seed);
    cv::Mat mottle(kFrame, CV_32F);
    rng.fill(mottle, cv::RNG::UNIFORM, -1.0, 1.0);
    cv::GaussianBlur(mottle, mottle, cv::Size(), 6.0);
    double peak = 0.0;
    cv::minMaxLoc(cv::abs(mottle), nullptr, &peak);
    mottle *= 30.0 / peak;

    cv::Mat features(kFrame, CV_32F, cv::Scalar(0));
    cv::circle(features, {260, 190}, 22, cv::Scalar(60), cv::FILLED, cv::LINE_AA);
    cv::rectangle(features, cv::Rect(300, 222 + ribDrop, 50, 12), cv::Scalar(-55), cv::FILLED);
    cv::rectangle(features, cv::Rect(210, 160, 12, 70), cv::Scalar(45), cv::FILLED);
    cv::GaussianBlur(features, features, cv::Size(), 0.8);

    cv::Mat surface(kFrame, CV_32F);
    for (int r = 0; r < surface.rows; ++r)
        for (int c = 0; c < surface.cols; ++c)
            surface.at<float>(r, c) = 90.0f + 60.0f * c / surface.cols + 20.0f * r / surface.rows;
    cv::Mat grain(kFrame, CV_32F);
    rng.fill(grain, cv::RNG::UNIFORM, -2.0, 2.0);
    surface += mottle + features + grain;
    cv::Mat out;
    surface.convertTo(out, CV_8U);
    return out;
}

struct Take {
    cv::Point shift;  // of the whole frame
    int noise = 0;    // uniform +-noise grey levels on every pixel
    int blemish = 0;  // grey levels added to a 6 x 6 patch; 0: none
    cv::Point spot = kSpotA;
};

cv::Mat takeImage(const cv::Mat& surface, const Take& take, uint64_t seed = 11)
{
    cv::Mat frame;
    const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, take.shift.x, 0, 1, take.shift.y);
    cv::warpAffine(surface, frame, move, surface.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    if (take.blemish != 0) {
        cv::Mat patch = frame(cv::Rect(take.spot, cv::Size(kBlemish, kBlemish)));
        if (take.blemish > 0)
            cv::add(patch, cv::Scalar(take.blemish), patch);
        else
            cv::subtract(patch, cv::Scalar(-take.blemish), patch);
    }
    if (take.noise > 0) {
        cv::Mat noise(frame.size(), CV_16S);
        cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, -take.noise, take.noise + 1);
        cv::add(frame, noise, frame, cv::noArray(), CV_8U);
    }
    return frame;
}

// Sum of the outer contours' areas of a 0/255 map.
int outerArea(const cv::Mat& map)
{
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(map.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    int area = 0;
    for (const auto& c : contours)
        area = int(area + cv::contourArea(c));
    return area;
}

struct Outcome {
    bool matched = false;
    int area = 0;
    cv::Mat cleaned;  // region-sized 0/255 map after cleaning
};

class GrayMatchTest : public ::testing::Test {
protected:
    void train(const std::vector<cv::Mat>& frames, int sensitivity = 45, const cv::Mat& mask = {},
               int cannyIgnore = 0, int diffMultiple = 0)
    {
        matcher.Create(kRegion.width, kRegion.height, mask, cannyIgnore);
        for (const cv::Mat& f : frames)
            matcher.AddTemp(f(kRegion));
        matcher.Train(sensitivity, diffMultiple, 100, 150);
        ASSERT_TRUE(matcher.IsValid());
    }

    // Match, then the flaw detector's opening, shape mask and area.
    Outcome inspect(const cv::Mat& frame, const cv::Mat& mask = {})
    {
        Outcome out;
        cv::Mat diff = cv::Mat::zeros(kRegion.size(), CV_8UC1);
        out.matched = matcher.Match(frame(kRegion), diff);
        cv::morphologyEx(diff, out.cleaned, cv::MORPH_OPEN,
                         cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3)));
        if (!mask.empty())
            cv::bitwise_and(out.cleaned, mask, out.cleaned);
        out.area = outerArea(out.cleaned);
        return out;
    }

    // The cleaned map holds the blemish at spot and nothing else.
    static void expectOnly(const Outcome& out, cv::Point spot)
    {
        const cv::Rect blemish(spot - kRegion.tl(), cv::Size(kBlemish, kBlemish));
        std::vector<cv::Point> marked;
        cv::findNonZero(out.cleaned, marked);
        ASSERT_FALSE(marked.empty());
        const cv::Rect around(blemish.x - 1, blemish.y - 1, blemish.width + 2, blemish.height + 2);
        EXPECT_EQ(cv::boundingRect(marked) & around, cv::boundingRect(marked));
        EXPECT_GE(out.area, 16);  // a solid 6 x 6 square measures 25, 23 once opened
        EXPECT_LE(out.area, 36);
    }

    const cv::Mat surface = makeSurface(7);
    GrayMatch matcher;
};

struct BlemishCase {
    std::string name;
    Take take;
    int sensitivity;
    bool found;
    int diffMultiple = 0;
};

class GrayMatchBlemishTest : public GrayMatchTest,
                             public ::testing::WithParamInterface<BlemishCase> {};

TEST_P(GrayMatchBlemishTest, FindsBlemishesAndStaysQuietOtherwise)
{
    const BlemishCase& c = GetParam();
    train({surface}, c.sensitivity, {}, 0, c.diffMultiple);
    const Outcome out = inspect(takeImage(surface, c.take));
    ASSERT_TRUE(out.matched);
    if (c.found)
        expectOnly(out, c.take.spot);
    else
        EXPECT_EQ(cv::countNonZero(out.cleaned), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Takes, GrayMatchBlemishTest,
    ::testing::Values(
        BlemishCase{"Identical", {}, 45, false},
        BlemishCase{"SensorNoise", {{0, 0}, 8}, 45, false},
        BlemishCase{"ShiftRightAndNoise", {{1, 0}, 8}, 45, false},
        BlemishCase{"ShiftUpLeftAndNoise", {{-1, -1}, 8}, 45, false},
        BlemishCase{"ShiftDownAndNoise", {{0, 1}, 8}, 45, false},
        BlemishCase{"BrightBlemish", {{0, 0}, 0, 40}, 45, true},
        BlemishCase{"DarkBlemish", {{0, 0}, 0, -40}, 45, true},
        BlemishCase{"BrightBlemishShiftedAndNoisy", {{1, 1}, 8, 40}, 45, true},
        BlemishCase{"DarkBlemishShiftedAndNoisy", {{-1, 0}, 8, -40, kSpotB}, 45, true},
        BlemishCase{"BrightBlemishElsewhereNoisy", {{0, -1}, 8, 40, kSpotB}, 45, true},
        BlemishCase{"FaintBlemishUsualSensitivity", {{0, 0}, 0, 15}, 45, false},
        BlemishCase{"FaintBlemishHighSensitivity", {{0, 0}, 0, 15}, 90, true},
        BlemishCase{"StrongBlemishLowestSensitivity", {{0, 0}, 0, -40}, 0, false},
        BlemishCase{"NoiseHighSensitivity", {{1, 0}, 8}, 75, false},
        // Slack in proportion to the templates' local range (2 to 6 grey levels there).
        BlemishCase{"BlemishWithSmallDifferenceMultiple", {{0, 0}, 0, 40}, 45, true, 10},
        BlemishCase{"BlemishHiddenByLargeDifferenceMultiple", {{0, 0}, 0, 40}, 45, false, 100}),
    [](const auto& info) { return info.param.name; });

TEST_F(GrayMatchTest, PixelExplainedByAnyTemplateIsNoDifference)
{
    // Two good states of the region: without and with a bright label.
    const cv::Rect label(330, 245, 24, 20);
    cv::Mat labelled = surface.clone();
    labelled(label) += cv::Scalar(60);
    train({surface, labelled});

    EXPECT_EQ(inspect(takeImage(surface, {{1, 0}, 8})).area, 0);
    EXPECT_EQ(inspect(takeImage(labelled, {{0, 1}, 8})).area, 0);
    expectOnly(inspect(takeImage(labelled, {{0, 0}, 8, -40})), kSpotA);

    // A dark label is like neither template.
    cv::Mat darkLabel = surface.clone();
    darkLabel(label) -= cv::Scalar(60);
    EXPECT_GT(inspect(takeImage(darkLabel, {{0, 0}, 8})).area, 300);
}

TEST_F(GrayMatchTest, OnlyTheShapeCounts)
{
    cv::Mat mask = cv::Mat::zeros(kRegion.size(), CV_8UC1);
    cv::circle(mask, {kRegion.width / 2, kRegion.height / 2}, 50, cv::Scalar(255), cv::FILLED);
    train({surface}, 45, mask);

    const Outcome outside = inspect(takeImage(surface, {{0, 0}, 8, 40, kSpotA}));
    EXPECT_EQ(cv::countNonZero(outside.cleaned), 0);
    expectOnly(inspect(takeImage(surface, {{0, 0}, 8, 40, kSpotCentre})), kSpotCentre);
}

TEST_F(GrayMatchTest, EdgeIgnoringLeavesWanderingEdgesQuiet)
{
    // The rib's edges lie two pixels lower than in the template. With edges
    // ignored the detector keeps blobs instead of opening the map, so the raw
    // map is what counts here.
    const cv::Mat ribMoved = takeImage(makeSurface(7, 2), {{0, 0}, 8});
    cv::Mat diff;
    train({surface});
    matcher.Match(ribMoved(kRegion), diff);
    EXPECT_GT(cv::countNonZero(diff), 40);

    train({surface}, 45, {}, 1);
    matcher.Match(ribMoved(kRegion), diff);
    EXPECT_EQ(cv::countNonZero(diff), 0);
    expectOnly(inspect(takeImage(makeSurface(7, 2), {{0, 0}, 8, 40, kSpotA})), kSpotA);
}

TEST_F(GrayMatchTest, MatchWritesIntoTheCallersBuffer)
{
    train({surface});
    cv::Mat regionMask = cv::Mat::zeros(kRegion.size(), CV_8UC1);
    const uchar* buffer = regionMask.data;
    ASSERT_TRUE(matcher.Match(takeImage(surface, {{0, 0}, 0, 40})(kRegion), regionMask));
    EXPECT_EQ(regionMask.data, buffer);
    EXPECT_EQ(cv::countNonZero(regionMask), kBlemish * kBlemish);
}

struct ValidityCase {
    std::string name;
    std::function<void(GrayMatch&, const cv::Mat& frame)> steps;
    bool valid;
};

class GrayMatchValidityTest : public ::testing::TestWithParam<ValidityCase> {};

TEST_P(GrayMatchValidityTest, ValidOnlyAfterASuccessfulTraining)
{
    const cv::Mat frame = makeSurface(3);
    GrayMatch matcher;
    GetParam().steps(matcher, frame);
    EXPECT_EQ(matcher.IsValid(), GetParam().valid);

    // A blemish the trained model finds; nothing at all without a model.
    cv::Mat image = frame.clone();
    image(cv::Rect(kSpotA, cv::Size(kBlemish, kBlemish))) += cv::Scalar(80);
    cv::Mat diff = cv::Mat::ones(kRegion.size(), CV_8UC1);
    EXPECT_EQ(matcher.Match(image(kRegion), diff), GetParam().valid);
    EXPECT_EQ(diff.size(), kRegion.size());
    EXPECT_EQ(cv::countNonZero(diff) > 0, GetParam().valid);
}

void createAndAdd(GrayMatch& m, const cv::Mat& frame)
{
    m.Create(kRegion.width, kRegion.height, {}, 0);
    m.AddTemp(frame(kRegion));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, GrayMatchValidityTest,
    ::testing::Values(
        ValidityCase{"Untrained", [](GrayMatch&, const cv::Mat&) {}, false},
        ValidityCase{"NoTemplates",
                     [](GrayMatch& m, const cv::Mat&) {
                         m.Create(kRegion.width, kRegion.height, {}, 0);
                         m.Train(45, 0, 100, 150);
                     },
                     false},
        ValidityCase{"EmptySize",
                     [](GrayMatch& m, const cv::Mat& f) {
                         m.Create(0, kRegion.height, {}, 0);
                         m.AddTemp(f(kRegion));
                         m.Train(45, 0, 100, 150);
                     },
                     false},
        ValidityCase{"MaskOfAnotherSize",
                     [](GrayMatch& m, const cv::Mat& f) {
                         m.Create(kRegion.width, kRegion.height,
                                  cv::Mat(10, 10, CV_8UC1, cv::Scalar(255)), 0);
                         m.AddTemp(f(kRegion));
                         m.Train(45, 0, 100, 150);
                     },
                     false},
        ValidityCase{"TemplateOfAnotherSize",
                     [](GrayMatch& m, const cv::Mat& f) {
                         m.Create(kRegion.width, kRegion.height, {}, 0);
                         m.AddTemp(f(cv::Rect(0, 0, 50, 50)));
                         m.Train(45, 0, 100, 150);
                     },
                     false},
        ValidityCase{"ColourTemplate",
                     [](GrayMatch& m, const cv::Mat& f) {
                         cv::Mat colour;
                         cv::cvtColor(f, colour, cv::COLOR_GRAY2RGBA);
                         m.Create(kRegion.width, kRegion.height, {}, 0);
                         m.AddTemp(colour(kRegion));
                         m.Train(45, 0, 100, 150);
                     },
                     false},
        ValidityCase{"Trained",
                     [](GrayMatch& m, const cv::Mat& f) {
                         createAndAdd(m, f);
                         m.Train(45, 0, 100, 150);
                     },
                     true},
        ValidityCase{"TrainedThenCleared",
                     [](GrayMatch& m, const cv::Mat& f) {
                         createAndAdd(m, f);
                         m.Train(45, 0, 100, 150);
                         m.Clear();
                     },
                     false},
        ValidityCase{"TrainedThenCreatedAnew",
                     [](GrayMatch& m, const cv::Mat& f) {
                         createAndAdd(m, f);
                         m.Train(45, 0, 100, 150);
                         createAndAdd(m, f);
                     },
                     false}),
    [](const auto& info) { return info.param.name; });

TEST(GrayMatch, CropThatDoesNotFitTheModelGivesNoDifferences)
{
    const cv::Mat frame = makeSurface(3);
    GrayMatch matcher;
    createAndAdd(matcher, frame);
    ASSERT_TRUE(matcher.Train(45, 0, 100, 150));
    cv::Mat diff;
    EXPECT_FALSE(matcher.Match(cv::Mat::zeros(40, 30, CV_8UC1), diff));
    EXPECT_EQ(diff.size(), cv::Size(30, 40));
    EXPECT_EQ(cv::countNonZero(diff), 0);
}

}  // namespace
