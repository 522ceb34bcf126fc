// The spot detector: its stored parameters, texts, verdict and defect area,
// the ignore mask it leaves out and its parameter preview.
#include "inspection/spotdetect.h"

#include "support/detectorfakes.h"

#include <gtest/gtest.h>

using namespace detectortest;

namespace {

QJsonArray saved(ProcessorInterface& p)
{
    QJsonArray a;
    p.savejs(a);
    return a;
}

// --- parameters and texts ----------------------------------------------

struct ParamsCase {
    const char* name;
    QJsonArray in;
    QJsonArray out;  // [minArea, maxArea, minGray, maxGray]
};

class SpotParamsTest : public ::testing::TestWithParam<ParamsCase> {};

TEST_P(SpotParamsTest, ReadsAndWritesFuncParamsInOrder)
{
    SpotDetect spot;
    QJsonArray in = GetParam().in;
    spot.initjs(in);
    EXPECT_EQ(saved(spot), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Arrays, SpotParamsTest,
    ::testing::Values(ParamsCase{"empty", {}, {80, 500, 0, 50}},
                      ParamsCase{"leadingOnly", {10}, {10, 500, 0, 50}},
                      ParamsCase{"all", {1, 2, 3, 4}, {1, 2, 3, 4}},
                      ParamsCase{"extraIgnored", {1, 2, 3, 4, 99}, {1, 2, 3, 4}},
                      ParamsCase{"notNumbers", {"x", 2.5, true, 60}, {0, 0, 0, 60}},
                      ParamsCase{"negative", {-5, -1, -20, 300}, {-5, -1, -20, 300}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpotParams, MinSpotComesOnlyFromTheProcessParameters)
{
    SpotDetect spot;
    QJsonObject none;
    spot.initSystemParam(none);
    EXPECT_EQ(spot.minSpot(), 3);
    QJsonObject system{{"h_minspot", 7}, {"s_alarmareas", 50}};
    spot.initSystemParam(system);
    EXPECT_EQ(spot.minSpot(), 7);
    EXPECT_EQ(saved(spot), (QJsonArray{80, 500, 0, 50}));  // not stored with the region
}

TEST(SpotTexts, NameAndDescription)
{
    SpotDetect spot;
    EXPECT_EQ(spot.getName(), "spot");
    EXPECT_EQ(spot.getProcessorDesc(true), QString::fromUtf8("斑点检测"));
    EXPECT_EQ(spot.getProcessorDesc(false),
              QString::fromUtf8("斑点检测，最小灰度为0，最大灰度为50，最小面积为80，最大面积为500"));
    QJsonArray p{1, 2, 3, 4};
    spot.initjs(p);
    EXPECT_EQ(spot.getProcessorDesc(false),
              QString::fromUtf8("斑点检测，最小灰度为3，最大灰度为4，最小面积为1，最大面积为2"));
}

struct CompareCase {
    const char* name;
    QJsonArray theirs;
    const char* text;
};

class SpotCompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(SpotCompareTest, OnePhrasePerDifferenceInParameterOrder)
{
    SpotDetect mine;
    SpotDetect other;
    QJsonArray theirs = GetParam().theirs;
    other.initjs(theirs);
    QString text = "before";
    const bool same = mine.campare(&other, text);
    EXPECT_EQ(text, "before" + QString::fromUtf8(GetParam().text));
    EXPECT_EQ(same, QString::fromUtf8(GetParam().text).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SpotCompareTest,
    ::testing::Values(CompareCase{"equal", {80, 500, 0, 50}, ""},
                      CompareCase{"maxGray", {80, 500, 0, 60}, "，最大灰度从50改为60"},
                      CompareCase{"all", {1, 2, 3, 4},
                                  "，最小面积从80改为1，最大面积从500改为2，最小灰度从0改为3，最大灰度从50改为4"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- detection ---------------------------------------------------------

constexpr int kW = 320;
constexpr int kH = 240;
const cv::Rect kRegion(40, 30, 200, 150);

class SpotRunTest : public ::testing::Test {
protected:
    FrameSize frame{kW, kH};
    FakeHub hub;
    FakeCamera camera;

    SpotRunTest() { camera.run = cv::Mat(kH, kW, CV_8UC1, cv::Scalar(200)); }

    std::unique_ptr<RoiInterface> region(const QJsonObject& json) { return makeRegion(camera, json); }

    // Runs the region's detector as the sequencer does: a zero mask of the
    // region's rectangle.
    cv::Mat run(RoiInterface& r)
    {
        cv::Mat mask = cv::Mat::zeros(r.getImageRect().size(), CV_8UC1);
        r.getProcessor()->execute(&r, mask);
        return mask;
    }

    void darkSquare(cv::Rect where, int grey = 20) { camera.run(where).setTo(grey); }
};

struct VerdictCase {
    const char* name;
    QJsonArray params;
    int side;  // side of a dark square planted in the region; 0: none
    bool ok;
    int area;
    const char* text;
};

class SpotVerdictTest : public SpotRunTest, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(SpotVerdictTest, AreaOfTheMarkedShapesAgainstTheLimits)
{
    const VerdictCase& c = GetParam();
    if (c.side > 0)
        darkSquare(cv::Rect(100, 80, c.side, c.side));
    auto r = region(rectRegion(0, 0, kRegion, "spot", c.params));
    ASSERT_TRUE(r && r->getProcessor());
    const cv::Mat marks = run(*r);
    EXPECT_EQ(r->getResult(), c.ok);
    EXPECT_EQ(r->getArea(), c.area);
    EXPECT_EQ(r->getResultDescription(), QString::fromUtf8(c.text));
    // Every planted pixel is marked, whatever the verdict.
    EXPECT_EQ(cv::countNonZero(marks), c.side * c.side);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpotVerdictTest,
    ::testing::Values(VerdictCase{"nothingMarked", {}, 0, false, 0, "1:80-500/0"},
                      VerdictCase{"nothingAllowed", {0, 500, 0, 50}, 0, true, 0, "1:0-500/0"},
                      VerdictCase{"square20", {}, 20, true, 361, "1:80-500/361"},
                      VerdictCase{"tooLarge", {}, 30, false, 841, "1:80-500/841"},
                      VerdictCase{"atMinimum", {361, 361, 0, 50}, 20, true, 361, "1:361-361/361"},
                      VerdictCase{"belowMinimum", {362, 500, 0, 50}, 20, false, 361, "1:362-500/361"},
                      VerdictCase{"outOfBand", {0, 500, 21, 50}, 0, true, 0, "1:0-500/0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpotRunTest, BandBoundsAreInclusive)
{
    darkSquare(cv::Rect(60, 60, 10, 10), 20);
    darkSquare(cv::Rect(120, 60, 10, 10), 50);
    darkSquare(cv::Rect(180, 60, 10, 10), 51);
    auto r = region(rectRegion(0, 0, kRegion, "spot", {0, 1000, 20, 50}));
    EXPECT_EQ(cv::countNonZero(run(*r)), 200);
    EXPECT_EQ(r->getArea(), 162);
}

TEST_F(SpotRunTest, IgnoredPixelsAreNeitherMarkedNorCounted)
{
    darkSquare(cv::Rect(100, 80, 20, 20));
    // An ignore region over the left half of the square, built as at step
    // preparation.
    auto ignore = region(rectRegion(0, 1, cv::Rect(90, 70, 20, 40), "ignore"));
    ignore->getProcessor()->preprocessor(ignore.get());
    auto r = region(rectRegion(0, 0, kRegion, "spot", {0, 500, 0, 50}));
    const cv::Mat marks = run(*r);
    const cv::Rect rect = r->getImageRect();
    EXPECT_EQ(cv::countNonZero(marks), 10 * 20);
    EXPECT_EQ(cv::countNonZero(marks(cv::Rect(100 - rect.x, 80 - rect.y, 10, 20))), 0);
    EXPECT_EQ(r->getArea(), 9 * 19);
}

TEST_F(SpotRunTest, OnlyPixelsInsideTheShapeCount)
{
    // A dark square at the centre of a ring: the ring's hole leaves it out.
    darkSquare(cv::Rect(150, 110, 20, 20));
    auto ring = region(circleRegion(0, 0, {160, 120}, 30, 80, "spot", {0, 500, 0, 50}));
    ASSERT_TRUE(ring && ring->getProcessor());
    EXPECT_EQ(cv::countNonZero(run(*ring)), 0);
    EXPECT_TRUE(ring->getResult());
    auto disc = region(circleRegion(0, 0, {160, 120}, 0, 80, "spot", {0, 500, 0, 50}));
    EXPECT_EQ(cv::countNonZero(run(*disc)), 20 * 20 - 1);  // the disc's centre pixel is cleared
}

TEST_F(SpotRunTest, ColourFramesAreJudgedOnTheirGrey)
{
    darkSquare(cv::Rect(100, 80, 20, 20));
    camera.run = rgbaOf(camera.run);
    auto r = region(rectRegion(0, 0, kRegion, "spot"));
    EXPECT_EQ(cv::countNonZero(run(*r)), 400);
    EXPECT_EQ(r->getArea(), 361);
    EXPECT_TRUE(r->getResult());
}

struct UnusableCase {
    const char* name;
    QJsonObject json;
    bool withRunImage;
};

class SpotUnusableTest : public SpotRunTest, public ::testing::WithParamInterface<UnusableCase> {};

TEST_P(SpotUnusableTest, ARegionThatCannotBeInspectedIsNg)
{
    if (!GetParam().withRunImage)
        camera.run = cv::Mat();
    LogCapture log;
    auto r = region(GetParam().json);
    ASSERT_TRUE(r && r->getProcessor());
    cv::Mat mask = cv::Mat::zeros(std::max(1, r->getImageRect().height), std::max(1, r->getImageRect().width), CV_8UC1);
    r->getProcessor()->execute(r.get(), mask);
    EXPECT_FALSE(r->getResult());
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测3号区域无效，未进行检测"))) << log.messages().join('\n').toStdString();
    EXPECT_EQ(cv::countNonZero(mask), 0);
    // The reason, never the text of an earlier run.
    EXPECT_EQ(r->getResultDescription(), QString::fromUtf8("3:1号检测3号区域无效，未进行检测"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpotUnusableTest,
    ::testing::Values(UnusableCase{"negativeRadius", circleRegion(0, 2, {100, 100}, 0, -5, "spot"), true},
                      UnusableCase{"emptyRing", circleRegion(0, 2, {100, 100}, 30, 30, "spot"), true},
                      UnusableCase{"onePointPolygon", polygonRegion(0, 2, {{50, 50}}, "spot"), true},
                      UnusableCase{"verticalPolygon", polygonRegion(0, 2, {{50, 50}, {50, 90}}, "spot"), true},
                      UnusableCase{"noRunImage", rectRegion(0, 2, kRegion, "spot"), false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- preview -----------------------------------------------------------

TEST_F(SpotRunTest, PreviewDropsSpecksSmallerThanTheKernelButExecuteCountsThem)
{
    cv::Mat templ(kH, kW, CV_8UC1, cv::Scalar(200));
    templ(cv::Rect(100, 80, 2, 2)).setTo(10);      // a speck
    templ(cv::Rect(150, 100, 20, 20)).setTo(10);   // a spot
    camera.templates[0] = {templ};
    camera.run = templ.clone();
    auto r = region(rectRegion(0, 0, kRegion, "spot", {0, 1000, 0, 50}));
    QJsonObject system{{"h_minspot", 3}};
    r->getProcessor()->initSystemParam(system);

    // The preview lands in a view of the caller's frame-size image.
    cv::Mat image = cv::Mat::zeros(kH, kW, CV_8UC1);
    cv::Mat preview = image(r->getImageRect());
    cv::Mat ignore = cv::Mat::zeros(kH, kW, CV_8UC1);
    r->getProcessor()->paramChange(r.get(), preview, ignore);
    EXPECT_EQ(cv::countNonZero(image(cv::Rect(100, 80, 2, 2))), 0);
    // The 3 x 3 elliptic kernel is a cross: the opening also trims the
    // square's four corner pixels (and half a pixel of area at each).
    EXPECT_EQ(cv::countNonZero(image), 400 - 4);
    EXPECT_EQ(r->getArea(), 361 - 2);

    const cv::Mat marks = run(*r);
    EXPECT_EQ(cv::countNonZero(marks), 404);
    EXPECT_EQ(r->getArea(), 362);  // the speck adds its polygon area of 1
}

TEST_F(SpotRunTest, PreviewLeavesOutTheGivenIgnoreMask)
{
    cv::Mat templ(kH, kW, CV_8UC1, cv::Scalar(200));
    templ(cv::Rect(150, 100, 20, 20)).setTo(10);
    camera.templates[0] = {templ};
    auto r = region(rectRegion(0, 0, kRegion, "spot"));
    cv::Mat image = cv::Mat::zeros(kH, kW, CV_8UC1);
    cv::Mat preview = image(r->getImageRect());
    cv::Mat ignore = cv::Mat::zeros(kH, kW, CV_8UC1);
    ignore(cv::Rect(160, 100, 10, 20)).setTo(255);
    r->getProcessor()->paramChange(r.get(), preview, ignore);
    EXPECT_EQ(cv::countNonZero(image), 200 - 2);  // the opening trims the two left corners
    EXPECT_EQ(cv::countNonZero(image(cv::Rect(160, 100, 10, 20))), 0);
}

TEST_F(SpotRunTest, PreviewWithoutTemplateChangesNothing)
{
    LogCapture log;
    auto r = region(rectRegion(0, 0, kRegion, "spot"));
    r->setArea(17);
    cv::Mat image(kH, kW, CV_8UC1, cv::Scalar(3));
    cv::Mat preview = image(r->getImageRect());
    r->getProcessor()->paramChange(r.get(), preview, cv::Mat::zeros(kH, kW, CV_8UC1));
    EXPECT_EQ(cv::countNonZero(image != 3), 0);
    EXPECT_EQ(r->getArea(), 17);
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测1号区域无效，未进行检测")));
}

}  // namespace
