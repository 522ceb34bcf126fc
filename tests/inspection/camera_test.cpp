// The camera facade: construction order, the image parameters it pushes to
// the image signal processor, region edits (trial runs, new region sets with
// their records, the step copy, the end of editing) and their refusals.
#include "inspection/camera.h"

#include "camerafixtures.h"
#include "inspection/cameraimage.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "capture/aiqcontrol.h"
#include "support/detectorfakes.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace camerafixtures;
using detectortest::LogCapture;
using detectortest::rectRegion;

namespace {

// Publishes a capture controller without the pipeline as gAiqControl while
// it lives; its ISP context records what reached it.
class IspStandIn {
public:
    explicit IspStandIn(bool running) : isp(AiqControl::WithoutPipeline{}, running, 64, 48)
    {
        gAiqControl = &isp;
    }
    ~IspStandIn() { gAiqControl = nullptr; }
    platform::IspRecord& record() { return *platform::ispRecord(isp.context()); }
    AiqControl isp;
};

using Setter = platform::IspRecord::Setter;

class CameraTest : public ::testing::Test {
protected:
    CameraTest() : frame(320, 240) { hub.params.insert(QStringLiteral("h_temp_count"), 3); }

    Camera& make(const QJsonArray& rois, const QJsonObject& params = CameraRig::defaultCameraParams())
    {
        rig.storeRegions(rois, params);
        return rig.make();
    }
    CameraSingleton& store() { return *rig.camera->cameraSingleton(); }
    CameraRecong& seq() { return *rig.camera->cameraRecong(); }
    QString row() { return rig.db.cameraRow().value_or(QString()); }

    detectortest::FrameSize frame;
    detectortest::FakeHub hub;
    CameraRig rig;
};

const QJsonArray kSpotParams{50, 500, 0, 50};

QJsonArray twoSteps()
{
    return {rectRegion(0, 0, cv::Rect(10, 10, 40, 40), "spot", kSpotParams),
            rectRegion(1, 0, cv::Rect(20, 20, 50, 50), "spot", kSpotParams),
            rectRegion(1, 1, cv::Rect(100, 100, 40, 40), "ignore")};
}

// --- construction and the ISP -------------------------------------------------------

TEST_F(CameraTest, ConstructionLoadsParametersThenImagesThenTheSequencer)
{
    Camera& camera = make(twoSteps());
    EXPECT_TRUE(store().isLoaded());
    EXPECT_EQ(store().getRois(1).size(), 2);
    EXPECT_EQ(camera.cameraImage()->getTemplateNamelist(1), QStringList{"template00.bmp"});
    EXPECT_TRUE(QFileInfo::exists("./cammer12/template00.bmp"));
    EXPECT_EQ(seq().execSequence(1), store().getRois(1));
    EXPECT_EQ(camera.getallROIs().size(), 3);
    // The regions read through the camera.
    EXPECT_EQ(camera.templateCount(1), 1);
    EXPECT_EQ(camera.runImage().data, camera.cameraImage()->getShpaeImage().data);
    EXPECT_EQ(camera.ignoreMask(1).data, store().getIgnoreMask(1).data);
    // The ignore region of step 1 was drawn at preparation.
    EXPECT_EQ(cv::countNonZero(store().getIgnoreMask(1)), 40 * 40);
}

TEST_F(CameraTest, StartPushesTheImageParametersInOrder)
{
    IspStandIn standIn(true);
    QJsonObject params = CameraRig::defaultCameraParams();
    params.insert("c_flipverical", true);
    params.insert("sharpness", 70);
    params.insert("trueness", 120);
    params.insert("gamma", 90);
    make({}, params);

    ASSERT_NE(standIn.isp.context(), nullptr);
    const std::vector<platform::IspRecord::Call> calls = standIn.record().calls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].setter, Setter::ManualExp);
    EXPECT_FLOAT_EQ(calls[0].gain, 1.0f);
    EXPECT_FLOAT_EQ(calls[0].time, 0.02f);
    EXPECT_EQ(calls[1].setter, Setter::Sharpness);
    EXPECT_EQ(calls[1].level, 70u);
    EXPECT_EQ(calls[2].setter, Setter::Gamma);
    EXPECT_EQ(calls[2].gamma, 90);
    EXPECT_EQ(calls[3].setter, Setter::Contrast);
    EXPECT_EQ(calls[3].level, 120u);
    EXPECT_EQ(calls[4].setter, Setter::Mirror);
    // The vertical-flip flag turns on the left-right mirror only.
    const platform::IspRecord::Settings settings = standIn.record().settings();
    EXPECT_TRUE(settings.mirror);
    EXPECT_FALSE(settings.flip);
    EXPECT_EQ(settings.gammaAttributes[AiqControl::kGammaValueWord], 90);
}

TEST_F(CameraTest, NothingReachesAnIspThatDoesNotRun)
{
    IspStandIn standIn(false);
    ASSERT_NE(standIn.isp.context(), nullptr);
    const platform::IspRecord::Settings before = standIn.record().settings();
    Camera& camera = make({});
    EXPECT_EQ(camera.startPlay(), 0);
    EXPECT_TRUE(standIn.record().calls().empty());
    EXPECT_EQ(standIn.record().settings().exposureTime, before.exposureTime);
    EXPECT_EQ(standIn.record().settings().sharpness, before.sharpness);
    EXPECT_EQ(standIn.record().settings().gammaAttributes, before.gammaAttributes);
}

TEST_F(CameraTest, WithoutAnIspTheParametersAreKept)
{
    ASSERT_EQ(gAiqControl, nullptr);
    Camera& camera = make({});
    camera.setParam();
    EXPECT_EQ(camera.open(), 0);
    EXPECT_EQ(camera.stopPlay(), 0);
    EXPECT_EQ(camera.softwareTrig(), 0);
}

// --- new region sets -----------------------------------------------------------------------

TEST_F(CameraTest, AnUnchangedSetWritesNothingAndKeepsTheSequencer)
{
    Camera& camera = make(twoSteps());
    const QString before = row();
    const RoiHandles run = seq().execSequence(1);
    store().getIgnoreMask(1).setTo(7);  // a re-initialisation would redraw it

    EXPECT_TRUE(camera.modifySingleton(twoSteps()));
    EXPECT_TRUE(hub.records.empty());
    EXPECT_EQ(row(), before);
    EXPECT_EQ(seq().execSequence(1), run);
    EXPECT_EQ(cv::countNonZero(store().getIgnoreMask(1) != 7), 0);
}

TEST_F(CameraTest, AChangedSetIsRecordedStoredAndRunAtOnce)
{
    Camera& camera = make(twoSteps());
    QJsonArray changed = twoSteps();
    changed.append(rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "spot", kSpotParams));

    EXPECT_TRUE(camera.modifySingleton(changed));
    ASSERT_EQ(hub.records.size(), 1u);
    EXPECT_EQ(hub.records[0].first, QString::fromUtf8("1号相机,第2检测增加了矩形区域3,功能是斑点检测，最小灰度为0，最大灰度为50，"
                                                     "最小面积为50，最大面积为500"));
    EXPECT_EQ(hub.records[0].second, "operate");
    EXPECT_TRUE(row().contains("\"roi_index\": 2"));
    EXPECT_EQ(store().getRois(1).size(), 3);
    EXPECT_EQ(seq().execSequence(1), store().getRois(1));
}

struct CopyCase {
    const char* name;
    bool withMouldingProduct;
    bool productDetect;
    bool copied;
};

class StepCopyTest : public CameraTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(StepCopyTest, StepZeroIsCopiedOntoStepOneOnlyWithBothSwitches)
{
    hub.params.insert("s_with_moulding_product", GetParam().withMouldingProduct);
    hub.params.insert("s_action_productdetect", GetParam().productDetect);
    Camera& camera = make({});
    ASSERT_TRUE(camera.modifySingleton(twoSteps()));
    const RoiHandles step1 = store().getRois(1);
    if (GetParam().copied) {
        ASSERT_EQ(step1.size(), 1);
        EXPECT_EQ(step1[0]->getImageRect(), cv::Rect(10, 10, 40, 40));
        EXPECT_EQ(step1[0]->getDetectIndex(), 1);
    } else {
        EXPECT_EQ(step1.size(), 2);
    }
    EXPECT_EQ(seq().execSequence(1), step1);
}

INSTANTIATE_TEST_SUITE_P(Switches, StepCopyTest,
                         ::testing::Values(CopyCase{"both", true, true, true},
                                           CopyCase{"mouldingOnly", true, false, false},
                                           CopyCase{"productDetectOnly", false, true, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CameraTest, CopyParaRebuildsStepOne)
{
    Camera& camera = make(twoSteps());
    camera.CopyPara();
    ASSERT_EQ(store().getRois(1).size(), 1);
    EXPECT_EQ(seq().execSequence(1), store().getRois(1));
    ASSERT_TRUE(rig.feed(plainGrey(200)));
    seq().Run(1);
    EXPECT_FALSE(camera.getResult());  // no dark pixels: below the least area
}

TEST_F(CameraTest, ASetWithARegionThisProgramCannotHoldIsRefused)
{
    Camera& camera = make(twoSteps());
    const QString before = row();
    QJsonArray unknown = twoSteps();
    QJsonObject odd = rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "spot", kSpotParams);
    odd.insert("roi_type", "hexagon");
    unknown.append(odd);
    EXPECT_FALSE(camera.modifySingleton(unknown));
    EXPECT_EQ(store().getRois(1).size(), 2);
    EXPECT_EQ(row(), before);
}

struct EditCase {
    const char* name;
    QJsonObject region;  // added to step 1 of twoSteps()
    bool accepted;
    const char* reason;  // part of the refusal's reason
    QJsonObject alongside = {};  // a further region of the set, when not empty
};

QJsonObject withKey(QJsonObject o, const char* key, const QJsonValue& value)
{
    o.insert(QLatin1String(key), value);
    return o;
}

const QJsonObject kSpotEdit = rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "spot", kSpotParams);

class RegionSetEditTest : public CameraTest, public ::testing::WithParamInterface<EditCase> {};

// A refused set changes nothing, says why and logs it where the log files
// see it; an accepted one is stored.
TEST_P(RegionSetEditTest, OutOfRangeOrEmptyRegionsAreRefused)
{
    Camera& camera = make(twoSteps());
    const QString before = row();
    QJsonArray set = twoSteps();
    set.append(GetParam().region);
    if (!GetParam().alongside.isEmpty())
        set.append(GetParam().alongside);
    LogCapture log;
    QString reason;
    EXPECT_EQ(camera.modifySingleton(set, &reason), GetParam().accepted);
    if (GetParam().accepted) {
        EXPECT_EQ(store().getRois(1).size(), GetParam().alongside.isEmpty() ? 3 : 4);
        EXPECT_NE(row(), before);
        return;
    }
    EXPECT_TRUE(reason.contains(QString::fromUtf8(GetParam().reason))) << reason.toStdString();
    EXPECT_TRUE(log.anyContains(reason));
    EXPECT_TRUE(hub.records.empty());
    EXPECT_EQ(row(), before);
    EXPECT_EQ(store().getRois(1).size(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegionSetEditTest,
    ::testing::Values(
        EditCase{"filterSizeZero", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "flaw", {45, 50, 0}), false, "过滤尺寸0"},
        EditCase{"filterSizeOne", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "flaw", {45, 50, 1}), true, ""},
        EditCase{"filterSizeHundred", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "flaw", {45, 50, 100}), true, ""},
        EditCase{"filterSize101", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "flaw", {45, 50, 101}), false, "101"},
        EditCase{"filterSizeIntMax", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "flaw", {45, 50, 2147483647}),
                 false, "2147483647"},
        EditCase{"emptyRingSpot", detectortest::circleRegion(1, 2, {150, 120}, 40, 40, "spot", kSpotParams), false,
                 "没有可检测的像素"},
        EditCase{"emptyRingFlaw", detectortest::circleRegion(1, 2, {150, 120}, 50, 20, "flaw", {45, 50, 3}), false,
                 "没有可检测的像素"},
        EditCase{"emptyRingIgnore", detectortest::circleRegion(1, 2, {150, 120}, 40, 40, "ignore"), true, ""},
        // What an edit sends is taken as sent, or refused naming the key.
        EditCase{"emptyRoiType", withKey(kSpotEdit, "roi_type", ""), false, "\"roi_type\""},
        EditCase{"roiTypeNotAString", withKey(kSpotEdit, "roi_type", 1), false, "\"roi_type\""},
        EditCase{"emptyFuncType", withKey(kSpotEdit, "func_type", ""), false, "\"func_type\""},
        EditCase{"coordinatesNotNumbers", withKey(kSpotEdit, "roi_infos", QJsonArray{"a", "b", "c", "d"}), false,
                 "\"roi_infos\""},
        EditCase{"coordinatesNotWhole", withKey(kSpotEdit, "roi_infos", QJsonArray{200.5, 150, 29, 29}), false,
                 "\"roi_infos\""},
        EditCase{"threeCoordinates", withKey(kSpotEdit, "roi_infos", QJsonArray{200, 150, 29}), false,
                 "\"roi_infos\""},
        EditCase{"polygonPointNotNumbers",
                 withKey(withKey(kSpotEdit, "roi_type", "polygon"), "roi_infos",
                         QJsonArray{QJsonArray{200, 150}, QJsonArray{"x", 160}, QJsonArray{230, 170}}),
                 false, "\"roi_infos\""},
        EditCase{"polygonAccepted",
                 withKey(withKey(kSpotEdit, "roi_type", "polygon"), "roi_infos",
                         QJsonArray{QJsonArray{200, 150}, QJsonArray{260, 150}, QJsonArray{230, 200}}),
                 true, ""},
        EditCase{"detectIndex99", withKey(kSpotEdit, "detect_index", 99), false, "\"detect_index\""},
        EditCase{"detectIndexNegative", withKey(kSpotEdit, "detect_index", -1), false, "\"detect_index\""},
        EditCase{"detectIndexText", withKey(kSpotEdit, "detect_index", "1"), false, "\"detect_index\""},
        // Regions that could never answer NG.
        EditCase{"flawClampedBelowItsAlarmArea", rectRegion(1, 2, cv::Rect(200, 150, 1, 1), "flaw", {45, 100, 3}),
                 false, "无法达到报警面积"},
        EditCase{"spotThatPassesEveryArea", rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "spot", {0, 1000000, 0, 255}),
                 false, "无法达到报警面积"},
        EditCase{"wholeFrameFlawUnderWholeFrameIgnore", rectRegion(1, 2, cv::Rect(0, 0, 320, 240), "flaw", {45, 50, 3}),
                 false, "无法达到报警面积", rectRegion(1, 3, cv::Rect(0, 0, 320, 240), "ignore")},
        EditCase{"wholeFrameFlaw", rectRegion(1, 2, cv::Rect(0, 0, 320, 240), "flaw", {45, 50, 3}), true, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Steps at or beyond the detection count in use are neither compared nor
// replaced: a set that would change them is refused, an unchanged resend of
// what is stored there is accepted.
TEST_F(CameraTest, EditsOfStepsBeyondTheDetectionCountAreRefused)
{
    gDNum = 4;
    QJsonArray stored = twoSteps();
    stored.append(rectRegion(3, 0, cv::Rect(30, 30, 40, 40), "spot", kSpotParams));
    // Kept as read: a shape an edit may not bring, but may resend unchanged.
    stored.append(withKey(rectRegion(3, 1, cv::Rect(50, 50, 40, 40), "spot", kSpotParams), "roi_type", "hexagon"));
    Camera& camera = make(stored);
    gDNum = 2;  // the flow now uses two steps; step 3 stays stored

    struct Case {
        const char* name;
        QJsonArray set;
        bool accepted;
    };
    QJsonArray changedBeyond = twoSteps();
    changedBeyond.append(rectRegion(3, 0, cv::Rect(35, 30, 40, 40), "spot", kSpotParams));
    QJsonArray droppedBeyond = twoSteps();
    QJsonArray addedFarBeyond = stored;
    addedFarBeyond.append(rectRegion(5, 0, cv::Rect(30, 30, 40, 40), "spot", kSpotParams));
    QJsonArray resendWithStepOneChanged = stored;
    resendWithStepOneChanged.append(rectRegion(1, 2, cv::Rect(200, 150, 30, 30), "spot", kSpotParams));
    const Case cases[] = {
        {"step 3 changed", changedBeyond, false},
        {"step 3 left out", droppedBeyond, false},
        {"a region at step 5", addedFarBeyond, false},
        {"unchanged resend", stored, true},
        {"step 1 changed, step 3 resent unchanged", resendWithStepOneChanged, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        QString reason;
        EXPECT_EQ(camera.modifySingleton(c.set, &reason), c.accepted);
        if (!c.accepted) {
            EXPECT_TRUE(log.anyContains(reason)) << reason.toStdString();
            EXPECT_TRUE(reason.contains(QString::fromUtf8("不在使用中")));
        }
        ASSERT_EQ(store().getRois(3).size(), 2);
        EXPECT_EQ(store().getRois(3)[0]->getImageRect(), cv::Rect(30, 30, 40, 40));
        EXPECT_TRUE(store().getRois(3)[1]->isUnknownType());
    }
    EXPECT_EQ(store().getRois(1).size(), 3);
}

TEST(CameraWithoutParamDb, RegionEditsAreRefusedAndNothingIsSaved)
{
    detectortest::FrameSize frame(320, 240);
    detectortest::FakeHub hub;
    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd(scratch.path());
    const int32_t saved = gDNum;
    gDNum = 2;
    {
        Camera camera;  // no "dbIn" connection: the load fails
        EXPECT_FALSE(camera.cameraSingleton()->isLoaded());
        EXPECT_FALSE(camera.modifySingleton(twoSteps()));
        EXPECT_TRUE(hub.records.empty());
        EXPECT_TRUE(camera.cameraSingleton()->getRois(1).isEmpty());
    }
    gDNum = saved;
}

// --- the end of editing ----------------------------------------------------------------------

TEST_F(CameraTest, FinishRoisetReinitialisesOnlyOnceAfterAFlag)
{
    Camera& camera = make(twoSteps());
    cv::Mat ignore = store().getIgnoreMask(1);
    ignore.setTo(7);
    camera.finishRoiset();
    EXPECT_EQ(cv::countNonZero(ignore != 7), 0);  // no flag: nothing done

    camera.setRegionsChanged();
    camera.finishRoiset();
    EXPECT_EQ(cv::countNonZero(ignore), 40 * 40);  // cleared and redrawn

    ignore.setTo(7);
    camera.finishRoiset();
    EXPECT_EQ(cv::countNonZero(ignore != 7), 0);
}

// --- trial runs -----------------------------------------------------------------------------------

TEST_F(CameraTest, TrialRunAlwaysAnswersZeroAndPreviewsOnTheChosenTemplate)
{
    // Step 1 has a black master and an all-white template01.
    CameraRig::writeMaster(1, cv::Mat::zeros(240, 320, CV_8UC1));
    writeBmp(CameraImage::templatePath(1, "template01.bmp"), plainGrey(255), 60);
    Camera& camera = make({});
    const QJsonObject region = rectRegion(1, 0, cv::Rect(10, 10, 60, 40), "spot", {0, 100000, 0, 50});

    struct Case {
        QJsonValue choice;
        QString used;
        bool marks;
    };
    const std::vector<Case> cases = {
        {QJsonValue(QJsonValue::Undefined), "template00.bmp", true},
        {"template01.bmp", "template01.bmp", false},
        {"template07.bmp", "template00.bmp", true},
        {42, "template00.bmp", true},
    };
    for (const Case& c : cases) {
        QJsonObject trial = region;
        if (!c.choice.isUndefined())
            trial.insert("template", c.choice);
        cv::Mat mask(5, 5, CV_8UC3, cv::Scalar(1, 2, 3));
        QJsonObject result{{"other", 1}};
        camera.modifySingleROI(trial, mask, result);
        EXPECT_EQ(camera.cameraImage()->curTemplateName(), c.used);
        EXPECT_EQ(result.value("func_results").toArray(), QJsonArray{0});
        EXPECT_EQ(result.value("other").toInt(), 1);
        ASSERT_EQ(mask.size(), cv::Size(320, 240));
        ASSERT_EQ(mask.type(), CV_8UC1);
        const int inside = cv::countNonZero(mask(cv::Rect(10, 10, 60, 40)));
        EXPECT_EQ(cv::countNonZero(mask), inside);
        EXPECT_EQ(inside > 0, c.marks) << c.used.toStdString();
    }
}

}  // namespace
