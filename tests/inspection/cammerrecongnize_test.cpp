// The detection sequencer: the per-step run order and location lists, the
// automatic location region, location first, every region running after an
// NG, the verdict, the OR of the masks and the scope, the empty step, the NG
// template rule (never on a region the detector could not inspect), disabled
// and changed steps, and the parameter preview.
#include "inspection/cammerrecongnize.h"

#include "camerafixtures.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/cammersingleton.h"
#include "support/detectorfakes.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <functional>

using namespace camerafixtures;
using detectortest::rectRegion;

namespace {

QList<int> roiIndexes(const RoiHandles& regions)
{
    QList<int> out;
    for (const RoiInterface* r : regions)
        out << r->getRoiIndex();
    return out;
}

// A 320 x 240 camera with step 1 enabled (steps 0 and 2 need
// "s_action_productdetect"), "h_temp_count" 3.
class SequencerTest : public ::testing::Test {
protected:
    SequencerTest() : frame(320, 240)
    {
        hub.params.insert(QStringLiteral("h_temp_count"), 3);
    }

    Camera& make(const QJsonArray& rois)
    {
        rig.storeRegions(rois);
        return rig.make();
    }
    CameraRecong& seq() { return *rig.camera->cameraRecong(); }
    CameraSingleton& store() { return *rig.camera->cameraSingleton(); }

    detectortest::FrameSize frame;
    detectortest::FakeHub hub;
    CameraRig rig;
};

// A grey frame of 200 with dark (20) squares.
cv::Mat frameWithSquares(const std::vector<cv::Rect>& squares)
{
    cv::Mat image = plainGrey(200);
    for (const cv::Rect& r : squares)
        image(r).setTo(20);
    return image;
}

const QJsonArray kSpotParams{50, 500, 0, 50};  // area 50 ... 500 of greys 0 ... 50

TEST_F(SequencerTest, EmptyStepIsOkWithAnEmptyMask)
{
    Camera& camera = make({});
    camera.setResult(false);
    ASSERT_TRUE(rig.feed(plainGrey(30)));
    seq().Run(1);
    EXPECT_TRUE(camera.getResult());
    const cv::Mat mask = store().getResultMask();
    ASSERT_EQ(mask.size(), cv::Size(320, 240));
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(mask), 0);
    EXPECT_EQ(store().getMaskScope(), cv::Rect(0, 0, 0, 1));
}

TEST_F(SequencerTest, EveryRegionRunsAfterAnNgAndTheMasksAreOred)
{
    const cv::Rect a(10, 20, 40, 40), b(50, 30, 60, 60), c(150, 100, 40, 50);
    Camera& camera = make({rectRegion(1, 0, a, "spot", kSpotParams), rectRegion(1, 1, b, "spot", kSpotParams),
                           rectRegion(1, 2, c, "spot", kSpotParams)});
    const cv::Rect inA(15, 25, 10, 10), inB(60, 40, 40, 40), inC(160, 110, 10, 10);
    ASSERT_TRUE(rig.feed(frameWithSquares({inA, inB, inC})));
    seq().Run(1);

    EXPECT_FALSE(camera.getResult());  // b holds 1600 dark pixels
    const RoiHandles regions = store().getRois(1);
    EXPECT_TRUE(regions[0]->getResult());
    EXPECT_FALSE(regions[1]->getResult());
    EXPECT_TRUE(regions[2]->getResult());  // ran after the NG
    EXPECT_EQ(regions[2]->getArea(), 81);  // the contour area of a 10 x 10 square

    const cv::Mat mask = store().getResultMask();
    EXPECT_EQ(cv::countNonZero(mask(inA)), 100);
    EXPECT_EQ(cv::countNonZero(mask(inB)), 1600);
    EXPECT_EQ(cv::countNonZero(mask(inC)), 100);
    EXPECT_EQ(cv::countNonZero(mask), 1800);
    // The bounding box of the three regions: x from the first, right edge
    // from the third.
    EXPECT_EQ(store().getMaskScope(), cv::Rect(10, 20, 190 - 10, 150 - 20));
}

TEST_F(SequencerTest, VerdictIsOkWhenEveryRegionIsOk)
{
    Camera& camera = make({rectRegion(1, 0, cv::Rect(10, 20, 40, 40), "spot", kSpotParams),
                           rectRegion(1, 1, cv::Rect(50, 30, 60, 60), "spot", kSpotParams)});
    camera.setResult(false);
    ASSERT_TRUE(rig.feed(frameWithSquares({cv::Rect(15, 25, 10, 10), cv::Rect(60, 40, 10, 10)})));
    seq().Run(1);
    EXPECT_TRUE(camera.getResult());
    EXPECT_EQ(store().getMaskScope(), cv::Rect(10, 20, 100, 70));
}

struct OrderCase {
    const char* name;
    bool correction;
    QList<int> run;
};

class RunOrderTest : public SequencerTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(RunOrderTest, OnlyTheFirstLocationRegionRunsAndItRunsFirst)
{
    hub.params.insert(QStringLiteral("s_sport_correction"), GetParam().correction);
    make({rectRegion(1, 0, cv::Rect(10, 10, 40, 40), "spot", kSpotParams),
          rectRegion(1, 1, cv::Rect(60, 60, 80, 60), "location", {10}),
          rectRegion(1, 2, cv::Rect(100, 20, 40, 40), "flaw", {45, 100, 3}),
          rectRegion(1, 3, cv::Rect(150, 100, 80, 60), "location", {10})});
    EXPECT_EQ(roiIndexes(seq().execSequence(1)), GetParam().run);
    EXPECT_EQ(roiIndexes(seq().locationList(1)), (QList<int>{1, 3}));
    EXPECT_EQ(seq().automaticLocation(1), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Correction, RunOrderTest,
                         ::testing::Values(OrderCase{"on", true, {1, 0, 2}}, OrderCase{"off", false, {0, 2}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SequencerTest, WithoutCorrectionALocationRegionNeverEntersTheVerdict)
{
    hub.params.insert(QStringLiteral("s_sport_correction"), false);
    Camera& camera = make({rectRegion(1, 0, cv::Rect(60, 60, 80, 60), "location", {10})});
    ASSERT_TRUE(rig.feed(plainGrey(100)));
    store().getRois(1)[0]->setResult(false);
    seq().Run(1);
    EXPECT_TRUE(camera.getResult());
    EXPECT_FALSE(store().getRois(1)[0]->getResult());  // not run
}

TEST(SequencerFullFrame, AutomaticLocationRegionRunsFirstAndStaysOutOfTheScope)
{
    detectortest::FakeHub hub;
    hub.params.insert(QStringLiteral("s_sport_correction"), true);
    CameraRig rig;
    const cv::Rect spot(100, 100, 50, 50);
    rig.storeRegions({rectRegion(1, 0, spot, "spot", kSpotParams)});
    Camera& camera = rig.make();
    CameraRecong& seq = *camera.cameraRecong();

    const RoiHandles run = seq.execSequence(1);
    ASSERT_EQ(run.size(), 2);
    ASSERT_NE(seq.automaticLocation(1), nullptr);
    EXPECT_EQ(run[0], seq.automaticLocation(1));
    EXPECT_TRUE(seq.locationList(1).isEmpty());
    EXPECT_EQ(camera.cameraSingleton()->getRois(1).size(), 1);
    QJsonObject automatic;
    run[0]->saveToJson(automatic);
    EXPECT_EQ(automatic.value("roi_infos").toArray(), (QJsonArray{480, 270, 959, 539}));
    EXPECT_EQ(automatic.value("func_params").toArray(), QJsonArray{10});
    EXPECT_EQ(automatic.value("func_type").toString(), "location");
    EXPECT_EQ(automatic.value("roi_type").toString(), "rect");
    EXPECT_EQ(automatic.value("detect_index").toInt(), 1);
    EXPECT_EQ(automatic.value("roi_index").toInt(), -1);

    // The frame is the generated master (the spot region painted over):
    // the location region finds its pattern where it was, and it is not
    // part of the scope.
    cv::Mat master = camera.cameraImage()->getFirstTemplate(1).clone();
    master(spot).setTo(255);
    ASSERT_TRUE(rig.feed(master));
    seq.Run(1);
    EXPECT_EQ(camera.cameraSingleton()->getMaskScope(), spot);
    EXPECT_TRUE(run[0]->getResult());
}

TEST_F(SequencerTest, DisabledStepsAreEmptyAndEmptiedWhenDisabledLater)
{
    hub.params.insert(QStringLiteral("s_action_productdetect"), true);
    const QJsonArray rois{rectRegion(0, 0, cv::Rect(10, 10, 40, 40), "spot", kSpotParams),
                          rectRegion(1, 0, cv::Rect(10, 10, 40, 40), "spot", kSpotParams)};
    make(rois);
    EXPECT_EQ(seq().execSequence(0).size(), 1);

    hub.params.insert(QStringLiteral("s_action_productdetect"), false);
    seq().init(0);
    EXPECT_TRUE(seq().execSequence(0).isEmpty());
    EXPECT_EQ(seq().execSequence(1).size(), 1);

    // Built while disabled: empty from the start.
    CameraRecong fresh(&store(), rig.camera.get());
    EXPECT_TRUE(fresh.execSequence(0).isEmpty());
    EXPECT_TRUE(fresh.execSequence(2).isEmpty());
    EXPECT_EQ(fresh.execSequence(1).size(), 1);

    // The released regions of step 0 are never reached.
    QJsonArray onlyStep1{rois[1]};
    ASSERT_TRUE(store().setAllROIs(onlyStep1));
    rig.camera->setResult(false);
    ASSERT_TRUE(rig.feed(plainGrey(200)));
    seq().Run(0);
    EXPECT_TRUE(rig.camera->getResult());
}

TEST_F(SequencerTest, RegionsReplacedBehindItsBackArePreparedAgainBeforeTheRun)
{
    Camera& camera = make({rectRegion(1, 0, cv::Rect(10, 10, 40, 40), "spot", kSpotParams)});
    QJsonArray replaced{rectRegion(1, 0, cv::Rect(100, 100, 60, 60), "spot", kSpotParams)};
    ASSERT_TRUE(store().setAllROIs(replaced));
    ASSERT_TRUE(rig.feed(frameWithSquares({cv::Rect(110, 110, 30, 30)})));  // 900 dark pixels
    detectortest::LogCapture log;
    seq().Run(1);
    EXPECT_FALSE(camera.getResult());
    EXPECT_EQ(seq().execSequence(1), store().getRois(1));
    EXPECT_TRUE(logged(log.messages(), "changed since they were prepared"));
}

TEST_F(SequencerTest, RegionsAddedToAnEmptyStepOrReReadInPlaceAreBuiltBeforeTheRun)
{
    Camera& camera = make({});
    QJsonArray added{rectRegion(1, 0, cv::Rect(100, 100, 60, 60), "spot", kSpotParams)};
    ASSERT_TRUE(store().setAllROIs(added));
    ASSERT_TRUE(rig.feed(frameWithSquares({cv::Rect(110, 110, 30, 30)})));
    seq().Run(1);
    EXPECT_FALSE(camera.getResult());
    EXPECT_EQ(seq().execSequence(1), store().getRois(1));

    // The same region re-read as an ignore region: same address, new
    // detector; it must not be judged as the spot region it was.
    QJsonObject reread = rectRegion(1, 0, cv::Rect(100, 100, 60, 60), "ignore");
    ASSERT_TRUE(store().modifySingleROI(reread));
    seq().Run(1);
    EXPECT_TRUE(camera.getResult());
}

// The hub edits a step's regions and then prepares the step (after adding a
// template, or to retrain) before any run: preparing must never walk a run
// order that points at released regions (the sanitizer build catches a
// walk of freed memory here).
TEST_F(SequencerTest, PreparingAfterTheHubsEditsUsesTheRegionsStoredNow)
{
    const QJsonArray step0{rectRegion(0, 0, cv::Rect(100, 100, 60, 60), "spot", kSpotParams)};
    const QJsonArray step1{rectRegion(1, 0, cv::Rect(10, 10, 40, 40), "flaw", {45, 50, 3}),
                           rectRegion(1, 1, cv::Rect(100, 100, 40, 40), "ignore")};
    struct Case {
        const char* name;
        std::function<void(CameraSingleton&)> edit;
        int regionsAfter;
        int ignoredAfter;  // pixels of step 1's ignore mask after preparing
    };
    const Case cases[] = {
        {"all regions deleted", [](CameraSingleton& s) { ASSERT_TRUE(s.releaseROI(1)); }, 0, 0},
        {"regions replaced",
         [](CameraSingleton& s) {
             QJsonArray set{rectRegion(1, 0, cv::Rect(50, 50, 20, 20), "ignore")};
             ASSERT_TRUE(s.setAllROIs(set));
         },
         1, 20 * 20},
        {"step 0 copied onto step 1", [](CameraSingleton& s) { ASSERT_TRUE(s.paramSynac(1, 0)); }, 1, 0},
        {"one region re-read", [](CameraSingleton& s) {
             ASSERT_TRUE(s.modifySingleROI(rectRegion(1, 1, cv::Rect(100, 100, 30, 30), "ignore")));
         }, 2, 30 * 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonArray all = step0;
        for (const QJsonValue& v : step1)
            all.append(v);
        make(all);
        ASSERT_EQ(cv::countNonZero(store().getIgnoreMask(1)), 40 * 40);
        c.edit(store());
        seq().preprocessor(1);
        EXPECT_EQ(seq().execSequence(1), store().getRois(1));
        EXPECT_EQ(seq().execSequence(1).size(), c.regionsAfter);
        EXPECT_EQ(cv::countNonZero(store().getIgnoreMask(1)), c.ignoredAfter);
        ASSERT_TRUE(rig.feed(plainGrey(200)));
        seq().Run(1);
        seq().preprocessor(1);  // a retrain after the run
        EXPECT_EQ(seq().execSequence(1), store().getRois(1));
        rig.camera.reset();
    }
}

TEST_F(SequencerTest, AStepOutsideTheFourIsJudgedNg)
{
    Camera& camera = make({});
    for (int step : {-1, 4}) {
        camera.setResult(true);
        seq().Run(step);
        EXPECT_FALSE(camera.getResult()) << step;
        EXPECT_EQ(cv::countNonZero(store().getResultMask()), 0);
    }
}

// --- NG templates --------------------------------------------------------------------

struct NgTemplateCase {
    const char* name;
    bool ngTemplates;
    bool defect;     // the frame differs from the template inside the region
    bool untrained;  // the detector has no model: it cannot inspect
    bool verdict;
};

class NgTemplateTest : public SequencerTest, public ::testing::WithParamInterface<NgTemplateCase> {};

TEST_P(NgTemplateTest, FlawVerdictsAreInvertedButNeverAForcedNg)
{
    const NgTemplateCase& c = GetParam();
    hub.params.insert(QStringLiteral("h_use_ngtemp"), c.ngTemplates);
    const cv::Mat part = detectortest::partImage(320, 240);
    CameraRig::writeMaster(1, part);
    Camera& camera = make({rectRegion(1, 0, cv::Rect(60, 40, 160, 120), "flaw", {45, 30, 3})});
    if (c.untrained) {
        camera.cameraImage()->clearTemplate();
        seq().preprocessor(1);
    }
    cv::Mat shown = part.clone();
    if (c.defect)
        cv::circle(shown, cv::Point(140, 100), 12, cv::Scalar(255), cv::FILLED);
    ASSERT_TRUE(rig.feed(shown));
    seq().Run(1);
    EXPECT_EQ(camera.getResult(), c.verdict);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NgTemplateTest,
    ::testing::Values(NgTemplateCase{"sameIsOk", false, false, false, true},
                      NgTemplateCase{"defectIsNg", false, true, false, false},
                      NgTemplateCase{"sameAsNgTemplateIsNg", true, false, false, false},
                      NgTemplateCase{"differentFromNgTemplateIsOk", true, true, false, true},
                      NgTemplateCase{"notInspectedStaysNg", true, false, true, false},
                      NgTemplateCase{"notInspectedIsNg", false, false, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- preview -------------------------------------------------------------------------------

TEST_F(SequencerTest, PreviewLeavesTheIgnoredPartUnmarked)
{
    make({});
    // The generated master is black outside its centre rectangle (80, 60,
    // 160, 120): a spot region over the black top-left marks everything.
    QJsonObject region = rectRegion(1, 0, cv::Rect(10, 10, 60, 40), "spot", {0, 100000, 0, 50});
    cv::Mat image = cv::Mat::zeros(240, 320, CV_8UC1);
    seq().RunTest(region, 0, image);
    // (The preview's opening rounds off the corners.)
    EXPECT_GE(cv::countNonZero(image(cv::Rect(10, 10, 30, 40))), 30 * 40 - 4);
    EXPECT_EQ(cv::countNonZero(image), cv::countNonZero(image(cv::Rect(10, 10, 60, 40))));

    region.insert("ignore_rois", QJsonArray{rectRegion(1, 5, cv::Rect(10, 10, 30, 40), "ignore")});
    image.setTo(0);
    seq().RunTest(region, 0, image);
    EXPECT_EQ(cv::countNonZero(image(cv::Rect(10, 10, 30, 40))), 0);
    EXPECT_GE(cv::countNonZero(image(cv::Rect(40, 10, 30, 40))), 30 * 40 - 4);
    EXPECT_EQ(cv::countNonZero(image), cv::countNonZero(image(cv::Rect(40, 10, 30, 40))));
}

}  // namespace
