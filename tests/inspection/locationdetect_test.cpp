// The location detector: its parameters and texts, the model's precision and
// match values, the search area, and the correction of the run image (no
// shift for an identical image, a moved or turned part brought back).
#include "inspection/locationdetect.h"

#include "support/detectorfakes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace detectortest;

namespace {

// --- parameters and texts ----------------------------------------------

struct MinMatchCase {
    const char* name;
    QJsonArray in;
    int minMatch;
};

class LocationParamsTest : public ::testing::TestWithParam<MinMatchCase> {};

TEST_P(LocationParamsTest, MinMatchIsNeverBelowFour)
{
    LocationDetect location;
    QJsonArray in = GetParam().in;
    location.initjs(in);
    EXPECT_EQ(location.minMatch(), GetParam().minMatch);
    QJsonArray out;
    location.savejs(out);
    EXPECT_EQ(out, QJsonArray{GetParam().minMatch});
}

INSTANTIATE_TEST_SUITE_P(Arrays, LocationParamsTest,
                         ::testing::Values(MinMatchCase{"empty", {}, 10}, MinMatchCase{"two", {2}, 4},
                                           MinMatchCase{"four", {4}, 4}, MinMatchCase{"twelve", {12, 99}, 12},
                                           MinMatchCase{"notANumber", {"x"}, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LocationParams, MarginAndRotationComeFromTheProcessParameters)
{
    LocationDetect location;
    QJsonObject none;
    location.initSystemParam(none);
    EXPECT_EQ(location.mostSkewing(), 8000);
    EXPECT_EQ(location.rotateCorrect(), 0);
    QJsonObject system{{"h_mostskewing", 50}, {"h_rotatecorrect", 15}};
    location.initSystemParam(system);
    EXPECT_EQ(location.mostSkewing(), 50);
    EXPECT_EQ(location.rotateCorrect(), 15);
    QJsonObject wrong{{"h_mostskewing", "50"}};
    location.initSystemParam(wrong);
    EXPECT_EQ(location.mostSkewing(), 0);
    EXPECT_EQ(location.rotateCorrect(), 15);
}

TEST(LocationTexts, NameDescriptionAndComparison)
{
    LocationDetect location;
    EXPECT_EQ(location.getName(), "location");
    EXPECT_EQ(location.getProcessorDesc(true), QString::fromUtf8("目标定位"));
    EXPECT_EQ(location.getProcessorDesc(false), QString::fromUtf8("目标定位，最少匹配10"));
    LocationDetect other;
    QString text;
    EXPECT_TRUE(location.campare(&other, text));
    EXPECT_TRUE(text.isEmpty());
    QJsonArray p{12};
    other.initjs(p);
    EXPECT_FALSE(location.campare(&other, text));
    EXPECT_EQ(text, QString::fromUtf8("，最少匹配从10改为12"));
}

struct ModelCase {
    int mostSkewing;
    int minMatch;
    int precision;
    int match;
};

class LocationModelTest : public ::testing::TestWithParam<ModelCase> {};

TEST_P(LocationModelTest, PrecisionAndMatchValues)
{
    EXPECT_EQ(LocationDetect::modelPrecision(GetParam().mostSkewing), GetParam().precision);
    EXPECT_EQ(LocationDetect::modelMatch(GetParam().mostSkewing, GetParam().minMatch), GetParam().match);
}

INSTANTIATE_TEST_SUITE_P(Values, LocationModelTest,
                         ::testing::Values(ModelCase{5000, 10, 255, 10}, ModelCase{7100, 10, 100, 3},
                                           ModelCase{7001, 4, 1, -3}, ModelCase{7254, 12, 254, 5},
                                           ModelCase{7255, 10, 30, 3}, ModelCase{7000, 10, 30, 3},
                                           ModelCase{8000, 10, 30, 3}, ModelCase{50, 20, 30, 13}));

struct SearchCase {
    const char* name;
    cv::Rect rect;
    int margin;
    cv::Rect area;
};

class LocationSearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(LocationSearchTest, RectangleGrownByTheMarginAndCutToTheFrame)
{
    EXPECT_EQ(LocationDetect::searchArea(GetParam().rect, GetParam().margin, 1920, 1080), GetParam().area);
}

INSTANTIATE_TEST_SUITE_P(
    Areas, LocationSearchTest,
    ::testing::Values(SearchCase{"margin50", {100, 100, 200, 100}, 50, {50, 50, 300, 200}},
                      SearchCase{"wholeFrame", {100, 100, 200, 100}, 8000, {0, 0, 1920, 1080}},
                      SearchCase{"rightEdge", {1800, 500, 100, 100}, 50, {1750, 450, 170, 200}},
                      SearchCase{"noMargin", {10, 20, 30, 40}, 0, {10, 20, 30, 40}},
                      SearchCase{"shrunkAway", {10, 20, 30, 40}, -20, {0, 0, 0, 0}},
                      SearchCase{"hugeMargin", {10, 20, 30, 40}, 2147483647, {0, 0, 1920, 1080}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- correction ----------------------------------------------------------

constexpr int kW = 320;
constexpr int kH = 240;
const cv::Rect kRegion(100, 70, 120, 90);

class LocationRunTest : public ::testing::Test {
protected:
    FrameSize frame{kW, kH};
    FakeHub hub;
    FakeCamera camera;
    cv::Mat templ = partImage(kW, kH);

    LocationRunTest() { camera.templates[0] = {templ}; }

    // A prepared location region with the given margin and rotation setting.
    std::unique_ptr<RoiInterface> prepared(int margin, int rotate, const QJsonObject& json)
    {
        auto r = makeRegion(camera, json);
        QJsonObject system{{"h_mostskewing", margin}, {"h_rotatecorrect", rotate}};
        r->getProcessor()->initSystemParam(system);
        r->getProcessor()->preprocessor(r.get());
        return r;
    }
    std::unique_ptr<RoiInterface> prepared(int margin, int rotate = 0)
    {
        return prepared(margin, rotate, rectRegion(0, 0, kRegion, "location"));
    }

    void run(RoiInterface& r)
    {
        cv::Mat mask = cv::Mat::zeros(r.getImageRect().size(), CV_8UC1);
        r.setResult(false);
        r.getProcessor()->execute(&r, mask);
        EXPECT_TRUE(r.getResult());  // a location region never reports NG
        EXPECT_EQ(cv::countNonZero(mask), 0);
    }

    static LocationDetect& locationOf(const RoiInterface& r) { return *dynamic_cast<LocationDetect*>(r.getProcessor()); }

    // Mean absolute grey difference between the run image and the template
    // over the middle of the region.
    double residual(const cv::Mat& image) const
    {
        const cv::Rect middle(kRegion.x + 10, kRegion.y + 10, kRegion.width - 20, kRegion.height - 20);
        cv::Mat diff;
        cv::absdiff(image(middle), templ(middle), diff);
        return cv::mean(diff)[0];
    }
};

TEST_F(LocationRunTest, PreparationSetsCentreAndSearchArea)
{
    auto r = prepared(50);
    EXPECT_EQ(locationOf(*r).templateCenter(), cv::Point(160, 115));
    EXPECT_EQ(locationOf(*r).searchRect(), cv::Rect(50, 20, 220, 190));
    EXPECT_TRUE(locationOf(*r).modelReady());
    auto whole = prepared(8000);
    EXPECT_EQ(locationOf(*whole).searchRect(), cv::Rect(0, 0, kW, kH));
}

TEST_F(LocationRunTest, IdenticalImageIsNotMoved)
{
    camera.run = templ.clone();
    const uchar* pixels = camera.run.data;
    auto r = prepared(50);
    run(*r);
    const auto c = locationOf(*r).lastCorrection();
    EXPECT_TRUE(c.found);
    EXPECT_EQ(c.shift, cv::Point(0, 0));
    EXPECT_EQ(camera.run.data, pixels);
    EXPECT_EQ(cv::norm(camera.run, templ, cv::NORM_INF), 0);
}

struct MoveCase {
    const char* name;
    int dx;
    int dy;
    int margin;
    int rotate;  // 0 and 181: shift only
};

class LocationMoveTest : public LocationRunTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(LocationMoveTest, MovedPartIsShiftedBackInPlace)
{
    const MoveCase& m = GetParam();
    camera.run = withNoise(shifted(templ, m.dx, m.dy), 4);
    const uchar* pixels = camera.run.data;
    const double before = residual(camera.run);
    auto r = prepared(m.margin, m.rotate);
    run(*r);
    const auto c = locationOf(*r).lastCorrection();
    ASSERT_TRUE(c.found);
    EXPECT_LE(std::abs(c.shift.x + m.dx), 1);
    EXPECT_LE(std::abs(c.shift.y + m.dy), 1);
    EXPECT_EQ(camera.run.data, pixels);  // corrected in place
    EXPECT_LT(residual(camera.run), 4.0) << "before " << before;
    if (m.rotate == 0 || m.rotate == 181) {
        EXPECT_EQ(c.angle, 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Moves, LocationMoveTest,
                         ::testing::Values(MoveCase{"rightUp", 7, -5, 50, 0}, MoveCase{"leftDown", -20, 12, 50, 0},
                                           MoveCase{"atTheMargin", 30, -30, 30, 0},
                                           MoveCase{"wholeFrameSearch", -40, 25, 8000, 0},
                                           MoveCase{"rotationOff181", 9, 4, 50, 181},
                                           MoveCase{"rotationOnNoTurn", 9, 4, 50, 10}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LocationRunTest, TurnedPartIsTurnedBackWhenRotationIsOn)
{
    const cv::Point2f centre(160, 115);
    camera.run = shifted(turned(templ, centre, 4.0), 5, -3);
    auto r = prepared(50, 10);
    run(*r);
    const auto c = locationOf(*r).lastCorrection();
    ASSERT_TRUE(c.found);
    EXPECT_NEAR(c.angle, -4.0, 0.5);
    EXPECT_LE(std::abs(c.shift.x + 5), 1);
    EXPECT_LE(std::abs(c.shift.y - 3), 1);
    EXPECT_LT(residual(camera.run), 6.0);
}

TEST_F(LocationRunTest, ColourFramesMoveWholePixels)
{
    camera.templates[0] = {rgbaOf(templ)};
    camera.run = rgbaOf(shifted(templ, 6, 3));
    auto r = prepared(50);
    run(*r);
    const auto c = locationOf(*r).lastCorrection();
    ASSERT_TRUE(c.found);
    EXPECT_EQ(c.shift, cv::Point(-6, -3));
    cv::Mat grey;
    cv::cvtColor(camera.run, grey, cv::COLOR_RGBA2GRAY);
    EXPECT_LT(residual(grey), 1.0);
}

TEST_F(LocationRunTest, ShapeNotFoundMovesNothing)
{
    LogCapture log;
    camera.run = withNoise(cv::Mat(kH, kW, CV_8UC1, cv::Scalar(128)), 60);
    const cv::Mat before = camera.run.clone();
    auto r = prepared(50);
    run(*r);
    EXPECT_FALSE(locationOf(*r).lastCorrection().found);
    EXPECT_EQ(cv::norm(camera.run, before, cv::NORM_INF), 0);
    EXPECT_TRUE(log.contains("+ 3-1: 50 20 220 190"));
    EXPECT_TRUE(log.contains("+ 3-1-finish"));
}

TEST_F(LocationRunTest, FeaturelessTemplateGivesNoModel)
{
    LogCapture log;
    camera.templates[2] = {cv::Mat(kH, kW, CV_8UC1, cv::Scalar(90))};
    camera.run = templ.clone();
    auto r = prepared(50, 0, rectRegion(2, 1, kRegion, "location"));
    EXPECT_FALSE(locationOf(*r).modelReady());
    ASSERT_EQ(hub.records.size(), 1u);
    EXPECT_EQ(hub.records[0].first, QString::fromUtf8("3号检测2号区域初始化失败"));
    EXPECT_EQ(hub.records[0].second, "system");
    run(*r);
    EXPECT_TRUE(log.contains(QString::fromUtf8("3号检测2号区域初始化失败，未进行检测")));
    EXPECT_EQ(cv::norm(camera.run, templ, cv::NORM_INF), 0);
}

struct NoSearchCase {
    const char* name;
    QJsonObject json;
    bool withTemplate;
};

class LocationNoSearchTest : public LocationRunTest, public ::testing::WithParamInterface<NoSearchCase> {};

TEST_P(LocationNoSearchTest, NothingToLearnLeavesTheImageAlone)
{
    LogCapture log;
    if (!GetParam().withTemplate)
        camera.templates[0].clear();
    camera.run = shifted(templ, 5, 5);
    const cv::Mat before = camera.run.clone();
    auto r = prepared(50, 0, GetParam().json);
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测1号区域无效，初始化失败")));
    EXPECT_EQ(locationOf(*r).searchRect(), cv::Rect());
    run(*r);
    EXPECT_TRUE(log.contains(QString::fromUtf8("1号检测1号区域搜索区域无效，未进行检测")));
    EXPECT_EQ(cv::norm(camera.run, before, cv::NORM_INF), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocationNoSearchTest,
                         ::testing::Values(NoSearchCase{"noMasterTemplate", rectRegion(0, 0, kRegion, "location"), false},
                                           NoSearchCase{"unusableRegion",
                                                        circleRegion(0, 0, {100, 100}, 0, -4, "location"), true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
