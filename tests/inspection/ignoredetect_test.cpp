// The ignore detector: the ignore mask it builds from its regions' shapes,
// which the spot and flaw detectors then leave out, and its never-failing run.
#include "inspection/ignoredetect.h"

#include "support/detectorfakes.h"

#include <gtest/gtest.h>

using namespace detectortest;

namespace {

constexpr int kW = 320;
constexpr int kH = 240;

class IgnoreTest : public ::testing::Test {
protected:
    FrameSize frame{kW, kH};
    FakeHub hub;
    FakeCamera camera;

    std::unique_ptr<RoiInterface> region(const QJsonObject& json) { return makeRegion(camera, json); }
    void prepare(RoiInterface& r) { r.getProcessor()->preprocessor(&r); }
};

TEST(IgnoreParams, NoParametersAndFixedTexts)
{
    IgnoreDetect ignore;
    QJsonArray in{1, 2, 3};
    ignore.initjs(in);
    QJsonArray out;
    ignore.savejs(out);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(ignore.getName(), "ignore");
    EXPECT_EQ(ignore.getProcessorDesc(true), QString::fromUtf8("忽略区域"));
    EXPECT_EQ(ignore.getProcessorDesc(false), QString::fromUtf8("忽略区域"));
    IgnoreDetect other;
    QString text = "x";
    EXPECT_TRUE(ignore.campare(&other, text));
    EXPECT_EQ(text, "x");
}

struct MaskCase {
    const char* name;
    std::vector<QJsonObject> regions;
    int ignored;  // pixels of the step's ignore mask after preparation
};

class IgnoreMaskTest : public IgnoreTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(IgnoreMaskTest, PreparationOrsTheShapesIntoTheStepsMask)
{
    for (const QJsonObject& json : GetParam().regions) {
        auto r = region(json);
        ASSERT_TRUE(r && r->getProcessor());
        prepare(*r);
    }
    EXPECT_EQ(cv::countNonZero(camera.ignore[1]), GetParam().ignored);
    EXPECT_EQ(cv::countNonZero((camera.ignore[1] != 0) & (camera.ignore[1] != 255)), 0);
    EXPECT_EQ(cv::countNonZero(camera.ignore[0]), 0);  // other steps untouched
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, IgnoreMaskTest,
    ::testing::Values(
        MaskCase{"rect", {rectRegion(1, 0, cv::Rect(10, 10, 30, 20), "ignore")}, 600},
        // Two overlapping rectangles: the union, 600 + 600 - 10 x 10.
        MaskCase{"overlap",
                 {rectRegion(1, 0, cv::Rect(10, 10, 30, 20), "ignore"),
                  rectRegion(1, 1, cv::Rect(30, 20, 30, 20), "ignore")},
                 1100},
        // A disc of radius 20 with only its centre pixel cleared.
        MaskCase{"disc", {circleRegion(1, 0, {100, 100}, 0, 20, "ignore")}, [] {
                     cv::Mat m = cv::Mat::zeros(40, 40, CV_8UC1);
                     cv::circle(m, {20, 20}, 20, cv::Scalar(255), cv::FILLED);
                     return cv::countNonZero(m) - 1;
                 }()},
        // An unusable region adds nothing.
        MaskCase{"unusable", {circleRegion(1, 0, {100, 100}, 0, -3, "ignore")}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IgnoreTest, UnusableRegionIsLoggedAtPreparation)
{
    LogCapture log;
    auto r = region(polygonRegion(2, 4, {{50, 50}}, "ignore"));
    prepare(*r);
    EXPECT_TRUE(log.contains(QString::fromUtf8("3号检测5号区域无效，初始化失败")));
    EXPECT_EQ(cv::countNonZero(camera.ignore[2]), 0);
}

TEST_F(IgnoreTest, PreviewAddsToTheGivenMaskAndLeavesThePreviewAlone)
{
    auto r = region(rectRegion(0, 0, cv::Rect(10, 10, 30, 20), "ignore"));
    cv::Mat image(kH, kW, CV_8UC1, cv::Scalar(7));
    cv::Mat preview = image(r->getImageRect());
    cv::Mat mask = cv::Mat::zeros(kH, kW, CV_8UC1);
    r->getProcessor()->paramChange(r.get(), preview, mask);
    EXPECT_EQ(cv::countNonZero(mask), 600);
    EXPECT_EQ(cv::countNonZero(image != 7), 0);
    EXPECT_EQ(cv::countNonZero(camera.ignore[0]), 0);
}

TEST_F(IgnoreTest, ExecuteIsAlwaysOkAndMarksNothing)
{
    auto r = region(rectRegion(0, 0, cv::Rect(10, 10, 30, 20), "ignore"));
    r->setResult(false);
    cv::Mat mask = cv::Mat::zeros(r->getImageRect().size(), CV_8UC1);
    r->getProcessor()->execute(r.get(), mask);
    EXPECT_TRUE(r->getResult());
    EXPECT_EQ(cv::countNonZero(mask), 0);
}

// The other detectors leave out what the ignore regions built.
TEST_F(IgnoreTest, SpotAndFlawLeaveTheIgnoredPixelsOut)
{
    const cv::Rect inspected(40, 40, 200, 120);
    const cv::Rect blemish(100, 80, 20, 20);
    cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {templ};
    camera.run = templ.clone();
    camera.run(blemish).setTo(0);

    auto spot = region(rectRegion(0, 0, inspected, "spot", {0, 0, 0, 5}));
    auto flaw = region(rectRegion(0, 1, inspected, "flaw", {45, 0, 1}));
    auto ignore = region(rectRegion(0, 2, cv::Rect(95, 75, 30, 30), "ignore"));
    flaw->getProcessor()->preprocessor(flaw.get());

    // Before the ignore region is prepared both see the blemish.
    for (auto* r : {spot.get(), flaw.get()}) {
        cv::Mat mask = cv::Mat::zeros(r->getImageRect().size(), CV_8UC1);
        r->getProcessor()->execute(r, mask);
        EXPECT_FALSE(r->getResult()) << r->getProcessorName().toStdString();
        EXPECT_GT(cv::countNonZero(mask), 0);
    }
    prepare(*ignore);
    for (auto* r : {spot.get(), flaw.get()}) {
        cv::Mat mask = cv::Mat::zeros(r->getImageRect().size(), CV_8UC1);
        r->getProcessor()->execute(r, mask);
        EXPECT_TRUE(r->getResult()) << r->getProcessorName().toStdString();
        EXPECT_EQ(r->getArea(), 0);
        EXPECT_EQ(cv::countNonZero(mask), 0);
    }
}

}  // namespace
