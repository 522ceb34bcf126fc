// The flaw detector: its stored and process parameters, texts, training,
// verdict and defect area, the cleaning of the difference map, and the NG it
// answers for a region it cannot inspect (which NG templates do not invert).
#include "inspection/flawdetect.h"

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
    QJsonArray out;  // [sensitivity, alarmArea, filterSize]
};

class FlawParamsTest : public ::testing::TestWithParam<ParamsCase> {};

TEST_P(FlawParamsTest, ReadsAndWritesFuncParamsInOrder)
{
    FlawDetect flaw;
    QJsonArray in = GetParam().in;
    flaw.initjs(in);
    EXPECT_EQ(saved(flaw), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Arrays, FlawParamsTest,
                         ::testing::Values(ParamsCase{"empty", {}, {45, 100, 3}},
                                           ParamsCase{"leadingOnly", {60}, {60, 100, 3}},
                                           ParamsCase{"all", {10, 20, 5}, {10, 20, 5}},
                                           ParamsCase{"extraIgnored", {10, 20, 5, 7}, {10, 20, 5}},
                                           ParamsCase{"notNumbers", {"a", 1.5, 0}, {0, 0, 0}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SystemCase {
    const char* name;
    QJsonObject system;
    int alarmArea;
    int filterSize;
    int diffMultiple;
    bool cannyIgnore;
};

class FlawSystemTest : public ::testing::TestWithParam<SystemCase> {};

TEST_P(FlawSystemTest, ProcessParametersOverrideAsTheSwitchSays)
{
    // A region with its own values, edge ignoring on and a multiple of 9.
    FlawDetect flaw;
    QJsonArray own{45, 70, 2};
    flaw.initjs(own);
    QJsonObject before{{"c_defect_canny_ingore", true}, {"h_diffmultiple", 9}, {"c_detailarithmetic", true}};
    flaw.initSystemParam(before);
    ASSERT_TRUE(flaw.cannyIgnore());

    QJsonObject system = GetParam().system;
    flaw.initSystemParam(system);
    EXPECT_EQ(flaw.alarmArea(), GetParam().alarmArea);
    EXPECT_EQ(flaw.filterSize(), GetParam().filterSize);
    EXPECT_EQ(flaw.diffMultiple(), GetParam().diffMultiple);
    EXPECT_EQ(flaw.cannyIgnore(), GetParam().cannyIgnore);
    EXPECT_EQ(flaw.sensitivity(), 45);
}

INSTANTIATE_TEST_SUITE_P(
    Objects, FlawSystemTest,
    ::testing::Values(
        // Absent keys keep their values, except edge ignoring, which is off.
        SystemCase{"empty", {}, 70, 2, 9, false},
        SystemCase{"cameraWide", {{"s_alarmareas", 50}, {"s_filtersize", 5}}, 50, 5, 9, false},
        SystemCase{"cameraWideOff", {{"c_detailarithmetic", false}, {"s_alarmareas", 50}}, 50, 2, 9, false},
        SystemCase{"perRegion",
                   {{"c_detailarithmetic", true}, {"s_alarmareas", 50}, {"s_filtersize", 5}},
                   70, 2, 9, false},
        SystemCase{"multiple", {{"h_diffmultiple", 4}, {"c_defect_canny_ingore", true}}, 70, 2, 4, true},
        SystemCase{"multipleNotANumber", {{"h_diffmultiple", "4"}}, 70, 2, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlawTexts, NameDescriptionAndComparison)
{
    FlawDetect flaw;
    EXPECT_EQ(flaw.getName(), "flaw");
    EXPECT_EQ(flaw.getProcessorDesc(true), QString::fromUtf8("缺陷检测"));
    EXPECT_EQ(flaw.getProcessorDesc(false), QString::fromUtf8("缺陷检测，灵敏度为45，报警面积为100，过滤尺寸为3"));

    FlawDetect other;
    QString text;
    EXPECT_TRUE(flaw.campare(&other, text));
    EXPECT_TRUE(text.isEmpty());
    QJsonArray area{45, 200, 3};
    other.initjs(area);
    EXPECT_FALSE(flaw.campare(&other, text));
    EXPECT_EQ(text, QString::fromUtf8("，报警面积从100改为200"));
    text.clear();
    QJsonArray all{1, 2, 4};
    other.initjs(all);
    EXPECT_FALSE(flaw.campare(&other, text));
    EXPECT_EQ(text, QString::fromUtf8("，灵敏度从45改为1，报警面积从100改为2，过滤尺寸从3改为4"));
}

// --- detection ---------------------------------------------------------

constexpr int kW = 320;
constexpr int kH = 240;
const cv::Rect kRegion(40, 40, 220, 150);

class FlawRunTest : public ::testing::Test {
protected:
    FrameSize frame{kW, kH};
    FakeHub hub;
    FakeCamera camera;

    std::unique_ptr<RoiInterface> region(const QJsonObject& json) { return makeRegion(camera, json); }

    // Prepares a region as the sequencer does at step preparation.
    std::unique_ptr<RoiInterface> trained(const QJsonObject& json)
    {
        auto r = region(json);
        r->getProcessor()->preprocessor(r.get());
        return r;
    }

    cv::Mat run(RoiInterface& r)
    {
        cv::Mat mask = cv::Mat::zeros(std::max(1, r.getImageRect().height), std::max(1, r.getImageRect().width),
                                      CV_8UC1);
        r.getProcessor()->execute(&r, mask);
        return mask;
    }

    static const FlawDetect& flawOf(const RoiInterface& r) { return *dynamic_cast<FlawDetect*>(r.getProcessor()); }
};

// Blobs planted on a flat template are differences pixel for pixel, so the
// area and cleaning can be checked exactly.
struct BlobCase {
    const char* name;
    QJsonArray params;  // [sensitivity, alarmArea, filterSize]
    bool cannyIgnore;
    std::vector<cv::Rect> blobs;  // set to 200 on a template of 100
    std::vector<cv::Point> holes; // set back to 100 inside the blobs
    int marked;
    int area;
    bool ok;
};

class FlawBlobTest : public FlawRunTest, public ::testing::WithParamInterface<BlobCase> {};

TEST_P(FlawBlobTest, CleanedDefectAreaAgainstTheAlarmArea)
{
    const BlobCase& c = GetParam();
    camera.templates[0] = {cv::Mat(kH, kW, CV_8UC1, cv::Scalar(100))};
    camera.run = camera.templates[0][0].clone();
    for (const cv::Rect& b : c.blobs)
        camera.run(b).setTo(200);
    for (const cv::Point& p : c.holes)
        camera.run.at<uchar>(p) = 100;
    auto r = region(rectRegion(0, 0, kRegion, "flaw", c.params));
    QJsonObject system{{"c_detailarithmetic", true}, {"c_defect_canny_ingore", c.cannyIgnore}};
    r->getProcessor()->initSystemParam(system);
    r->getProcessor()->preprocessor(r.get());
    ASSERT_TRUE(flawOf(*r).trained());

    const cv::Mat marks = run(*r);
    EXPECT_EQ(cv::countNonZero(marks), c.marked);
    EXPECT_EQ(r->getArea(), c.area);
    EXPECT_EQ(r->getResult(), c.ok);
    EXPECT_EQ(r->getResultDescription(),
              QString("1:0-%1/%2").arg(jsonWholeNumber(c.params.at(1))).arg(c.area));
    EXPECT_FALSE(flawOf(*r).verdictForced());
}

INSTANTIATE_TEST_SUITE_P(
    Blobs, FlawBlobTest,
    ::testing::Values(
        BlobCase{"clean", {45, 100, 1}, false, {}, {}, 0, 0, true},
        BlobCase{"solid10", {45, 100, 1}, false, {{100, 100, 10, 10}}, {}, 100, 81, true},
        BlobCase{"atAlarmArea", {45, 100, 1}, false, {{100, 100, 11, 11}}, {}, 121, 100, true},
        BlobCase{"aboveAlarmArea", {45, 100, 1}, false, {{60, 100, 102, 2}}, {}, 204, 101, false},
        // The opening removes a two-pixel strip and the square's corners.
        BlobCase{"openedStrip", {45, 100, 3}, false, {{60, 100, 102, 2}}, {}, 0, 0, true},
        BlobCase{"openedSquare", {45, 100, 3}, false, {{100, 100, 10, 10}}, {}, 96, 79, true},
        // A filter size below 1 means no cleaning, not an error.
        BlobCase{"filterZero", {45, 0, 0}, false, {{100, 100, 2, 2}}, {}, 4, 1, false},
        BlobCase{"filterNegative", {45, 0, -3}, false, {{100, 100, 2, 2}}, {}, 4, 1, false},
        BlobCase{"filterHuge", {45, 0, 100000}, false, {{100, 100, 20, 20}}, {}, 0, 0, true},
        // With edge ignoring the blob filter replaces the opening: blobs of
        // fewer than 3 x 3 filled pixels vanish, the rest are filled solid.
        BlobCase{"blobOf8Dropped", {45, 0, 3}, true, {{100, 100, 4, 2}}, {}, 0, 0, true},
        BlobCase{"blobOf9Kept", {45, 0, 3}, true, {{100, 100, 3, 3}}, {}, 9, 4, false},
        BlobCase{"holeFilled", {45, 100, 3}, true, {{100, 100, 5, 5}}, {{102, 102}}, 25, 16, true},
        BlobCase{"filterHugeBlobs", {45, 0, 100000}, true, {{100, 100, 20, 20}}, {}, 0, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlawRunTest, DifferencesOutsideTheShapeDoNotCount)
{
    camera.templates[0] = {cv::Mat(kH, kW, CV_8UC1, cv::Scalar(100))};
    camera.run = camera.templates[0][0].clone();
    camera.run(cv::Rect(150, 110, 10, 10)).setTo(200);  // in the ring's hole
    camera.run(cv::Rect(60, 60, 10, 10)).setTo(200);    // outside the ring
    auto ring = trained(circleRegion(0, 0, {155, 115}, 30, 80, "flaw", {45, 0, 1}));
    EXPECT_EQ(cv::countNonZero(run(*ring)), 0);
    EXPECT_TRUE(ring->getResult());
    auto polygon = trained(polygonRegion(0, 0, {{40, 40}, {200, 40}, {40, 200}}, "flaw", {45, 0, 1}));
    const cv::Mat marks = run(*polygon);
    EXPECT_EQ(cv::countNonZero(marks), 100);  // only the square near the corner
    EXPECT_EQ(polygon->getArea(), 81);
}

// A part under a camera: sensor noise and a one-pixel shift stay quiet, a
// small dark or bright blemish is found.
struct RealCase {
    const char* name;
    int shiftX;
    int blemishDelta;  // grey levels added to a 6 x 6 patch; 0: none
    bool ok;
};

class FlawRealTest : public FlawRunTest, public ::testing::WithParamInterface<RealCase> {};

TEST_P(FlawRealTest, NoiseAndShiftStayQuietBlemishesAreFound)
{
    const cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {templ, withNoise(templ, 8, 3)};
    cv::Mat scene = withNoise(shifted(templ, GetParam().shiftX, 0), 8, 5);
    const cv::Rect blemish(130, 100, 6, 6);
    if (GetParam().blemishDelta != 0) {
        cv::Mat patch = scene(blemish);
        patch.convertTo(patch, CV_8U, 1.0, GetParam().blemishDelta);
    }
    camera.run = scene;
    auto r = trained(rectRegion(0, 0, kRegion, "flaw", {45, 10, 3}));
    const cv::Mat marks = run(*r);
    EXPECT_EQ(r->getResult(), GetParam().ok) << "area " << r->getArea();
    if (GetParam().ok) {
        EXPECT_EQ(r->getArea(), 0);
    } else {
        const cv::Rect local = blemish - kRegion.tl();
        EXPECT_GT(cv::countNonZero(marks(local)), 16);
        EXPECT_EQ(cv::countNonZero(marks) - cv::countNonZero(marks(local)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Scenes, FlawRealTest,
                         ::testing::Values(RealCase{"noise", 0, 0, true}, RealCase{"shifted", 1, 0, true},
                                           RealCase{"dark", 0, -40, false}, RealCase{"bright", 0, 40, false},
                                           RealCase{"darkShifted", 1, -40, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlawRunTest, ColourFramesAreJudgedOnTheirGrey)
{
    const cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {rgbaOf(templ)};
    cv::Mat scene = templ.clone();
    scene(cv::Rect(130, 100, 8, 8)).setTo(0);
    camera.run = rgbaOf(scene);
    auto r = trained(rectRegion(0, 0, kRegion, "flaw", {45, 10, 3}));
    ASSERT_TRUE(flawOf(*r).trained());
    run(*r);
    EXPECT_FALSE(r->getResult());
    EXPECT_GT(r->getArea(), 10);
}

TEST_F(FlawRunTest, EmptyTemplatesAreSkipped)
{
    const cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {cv::Mat(), templ};
    camera.run = templ.clone();
    auto r = trained(rectRegion(0, 0, kRegion, "flaw"));
    EXPECT_TRUE(flawOf(*r).trained());
    EXPECT_TRUE(hub.records.empty());
    run(*r);
    EXPECT_TRUE(r->getResult());
}

// --- regions that cannot be inspected ------------------------------------

TEST_F(FlawRunTest, WithoutTemplatesTrainingFailsAndTheRegionIsNg)
{
    LogCapture log;
    camera.run = partImage(kW, kH);
    auto r = trained(rectRegion(1, 3, kRegion, "flaw"));
    EXPECT_FALSE(flawOf(*r).trained());
    ASSERT_EQ(hub.records.size(), 1u);
    EXPECT_EQ(hub.records[0].first, QString::fromUtf8("2号检测4号区域初始化失败"));
    EXPECT_EQ(hub.records[0].second, "system");

    const cv::Mat marks = run(*r);
    EXPECT_FALSE(r->getResult());
    EXPECT_TRUE(flawOf(*r).verdictForced());
    EXPECT_EQ(cv::countNonZero(marks), 0);
    EXPECT_TRUE(log.contains(QString::fromUtf8("2号检测4号区域初始化，未进行检测")));
}

TEST_F(FlawRunTest, UnusableRegionIsNgAndLogged)
{
    LogCapture log;
    const cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {templ};
    camera.run = templ.clone();
    auto r = trained(circleRegion(0, 1, {100, 100}, 0, -8, "flaw"));
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测2号区域无效，初始化失败")));
    run(*r);
    EXPECT_FALSE(r->getResult());
    EXPECT_TRUE(flawOf(*r).verdictForced());
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测2号区域无效，未进行检测")));

    // A usable region without a run image cannot be inspected either; its
    // result text is the reason, not the passing area of its last real run.
    auto noRun = trained(rectRegion(0, 2, kRegion, "flaw"));
    run(*noRun);
    ASSERT_TRUE(noRun->getResult());
    camera.run = cv::Mat();
    run(*noRun);
    EXPECT_FALSE(noRun->getResult());
    EXPECT_TRUE(flawOf(*noRun).verdictForced());
    EXPECT_EQ(noRun->getResultDescription(), QString::fromUtf8("3:1号检测3号区域无效，未进行检测"));

    // A ring whose inner radius is not below its outer one has no pixel to
    // judge.
    camera.run = templ.clone();
    auto ring = trained(circleRegion(0, 3, {100, 100}, 30, 30, "flaw"));
    run(*ring);
    EXPECT_FALSE(ring->getResult());
    EXPECT_TRUE(flawOf(*ring).verdictForced());
}

// With NG templates ("h_use_ngtemp") a flaw verdict is inverted, except the
// NG of a region that was not inspected.
struct NgTemplateCase {
    const char* name;
    bool withTemplate;
    bool defect;
    bool useNgTemplates;
    bool inverted;
    bool finalOk;
};

class FlawNgTemplateTest : public FlawRunTest, public ::testing::WithParamInterface<NgTemplateCase> {};

TEST_P(FlawNgTemplateTest, ForcedNgIsNeverInverted)
{
    const NgTemplateCase& c = GetParam();
    const cv::Mat templ(kH, kW, CV_8UC1, cv::Scalar(100));
    if (c.withTemplate)
        camera.templates[0] = {templ};
    camera.run = templ.clone();
    if (c.defect)
        camera.run(cv::Rect(100, 100, 20, 20)).setTo(200);
    auto r = trained(rectRegion(0, 0, kRegion, "flaw"));
    run(*r);
    EXPECT_EQ(FlawDetect::applyNgTemplateRule(r.get(), c.useNgTemplates), c.inverted);
    EXPECT_EQ(r->getResult(), c.finalOk);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FlawNgTemplateTest,
    ::testing::Values(NgTemplateCase{"matchesNgTemplate", true, false, true, true, false},
                      NgTemplateCase{"differsFromNgTemplate", true, true, true, true, true},
                      NgTemplateCase{"untrainedStaysNg", false, false, true, false, false},
                      NgTemplateCase{"ruleOff", true, false, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlawRunTest, NgTemplateRuleLeavesOtherDetectorsAlone)
{
    camera.run = cv::Mat(kH, kW, CV_8UC1, cv::Scalar(200));
    auto spot = region(rectRegion(0, 0, kRegion, "spot", {0, 10, 0, 50}));
    run(*spot);
    ASSERT_TRUE(spot->getResult());
    EXPECT_FALSE(FlawDetect::applyNgTemplateRule(spot.get(), true));
    EXPECT_TRUE(spot->getResult());
    EXPECT_FALSE(FlawDetect::applyNgTemplateRule(nullptr, true));
}

TEST_F(FlawRunTest, RetrainingForgetsTheOldModel)
{
    const cv::Mat templ = partImage(kW, kH);
    camera.templates[0] = {templ};
    camera.run = templ.clone();
    auto r = trained(rectRegion(0, 0, kRegion, "flaw"));
    ASSERT_TRUE(flawOf(*r).trained());
    camera.templates[0].clear();
    r->getProcessor()->preprocessor(r.get());
    EXPECT_FALSE(flawOf(*r).trained());
    run(*r);
    EXPECT_FALSE(r->getResult());
    EXPECT_TRUE(flawOf(*r).verdictForced());
}

}  // namespace
