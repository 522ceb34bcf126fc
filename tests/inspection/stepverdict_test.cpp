// What a whole detection step answers, as the camera reports it: every way a
// step can be left uninspected answers NG with a reason, on a frame equal to
// the step's template and on one unlike it; the control rows answer as the
// frames say.
#include "camerafixtures.h"
#include "inspection/camera.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "inspection/custompolygon.h"
#include "inspection/pluginsmanager.h"
#include "inspection/processorinterface.h"
#include "support/detectorfakes.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

using namespace camerafixtures;
using detectortest::circleRegion;
using detectortest::polygonRegion;
using detectortest::rectRegion;

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
const cv::Rect kRegion(60, 40, 200, 160);
const QJsonArray kFlawParams{45, 50, 3};

// A detector whose run fails inside the library it calls.
class ThrowingDetector : public ProcessorInterface {
public:
    void initjs(QJsonArray&) override {}
    void savejs(QJsonArray&) override {}
    void initSystemParam(QJsonObject&) override {}
    std::unique_ptr<ProcessorInterface> createNewObj() const override { return std::make_unique<ThrowingDetector>(); }
    QString getName() const override { return QStringLiteral("throwing"); }
    QString getProcessorDesc(bool) const override { return getName(); }
    bool campare(ProcessorInterface*, QString&) override { return true; }
    void preprocessor(RoiInterface*) override { throw std::runtime_error("training blew up"); }
    void paramChange(RoiInterface*, cv::Mat&, cv::Mat) override {}
    void execute(RoiInterface* region, cv::Mat&) override
    {
        region->setResult(true);  // as if it had passed, then failed
        throw std::runtime_error("matcher blew up");
    }
};

enum class Store { Rows, Garbage, RoisNotArray, NotAnObject };

struct StepCase {
    const char* name;
    QJsonArray rois;
    Store store = Store::Rows;
    int step = 1;
    bool writeTemplate = true;
    bool okOnEqual = false;
    bool okOnUnlike = false;
    const char* reason = "";  // part of the NG reason (both frames) when not OK
    // Process parameters while the camera loads, and any set afterwards (as
    // a parameter change hands them to every region).
    QJsonObject params = {};
    QJsonObject paramsAfterLoad = {};
};

std::vector<cv::Point> manyPoints()
{
    std::vector<cv::Point> points;
    for (int i = 0; i <= CustomPolygon::kMaxPoints; ++i)
        points.emplace_back(60 + i % 200, 40 + (i / 200) % 160);
    return points;
}

QJsonObject withKey(QJsonObject o, const char* key, const QJsonValue& value)
{
    o.insert(QLatin1String(key), value);
    return o;
}

std::vector<StepCase> cases()
{
    const QJsonObject flaw = rectRegion(1, 0, kRegion, "flaw", kFlawParams);
    return {
        {"controlFlaw", {flaw}, Store::Rows, 1, true, true, false, "0-50/"},
        {"stepSwitchedOff", {rectRegion(0, 0, kRegion, "flaw", kFlawParams)}, Store::Rows, 0, true, true, true, ""},
        {"loadedStepWithoutRegions", {}, Store::Rows, 1, true, true, true, ""},
        {"unknownFuncType", {withKey(flaw, "func_type", "glow"), flaw}, Store::Rows, 1, true, false, false,
         "无法识别"},
        {"unknownRoiType", {withKey(flaw, "roi_type", "hexagon")}, Store::Rows, 1, true, false, false, "无法识别"},
        {"emptyRing", {circleRegion(1, 0, {160, 120}, 50, 50, "flaw", kFlawParams)}, Store::Rows, 1, true, false,
         false, "无效"},
        {"emptyRingSpot", {circleRegion(1, 0, {160, 120}, 60, 40, "spot", {0, 1000000, 0, 255})}, Store::Rows, 1,
         true, false, false, "无效"},
        {"zeroSizeAfterClipping", {rectRegion(1, 1, cv::Rect(400, 300, 50, 50), "spot", {0, 100, 0, 255}), flaw},
         Store::Rows, 1, true, false, false, "无效"},
        {"polygonOverThePointLimit", {polygonRegion(1, 0, manyPoints(), "flaw", kFlawParams)}, Store::Rows, 1, true,
         false, false, "无法识别"},
        {"failedLoad", {flaw}, Store::Garbage, 1, true, false, false, "parameters not loaded"},
        {"roisNotAnArray", {}, Store::RoisNotArray, 1, true, false, false, "parameters not loaded"},
        {"missingTemplateFile", {flaw}, Store::Rows, 1, false, false, false, "0-50/"},
        {"stepAtTheDetectionCount", {flaw}, Store::Rows, 2, true, false, false, "不存在"},
        {"stepBeyondFour", {flaw}, Store::Rows, 4, true, false, false, "不存在"},
        {"negativeStep", {flaw}, Store::Rows, -1, true, false, false, "不存在"},
        {"detectorThrowing", {rectRegion(1, 1, kRegion, "throwing"), flaw}, Store::Rows, 1, true, false, false,
         "matcher blew up"},
        {"cameraRowNotAnObject", {flaw}, Store::NotAnObject, 1, true, false, false, "parameters not loaded"},
        // A region that can never answer NG: nothing countable after its
        // step's ignore regions, or less than its alarm area.
        {"wholeFrameFlawUnderWholeFrameIgnore",
         {rectRegion(1, 0, cv::Rect(0, 0, kW, kH), "flaw", kFlawParams), rectRegion(1, 1, cv::Rect(0, 0, kW, kH), "ignore")},
         Store::Rows, 1, true, false, false, "无法达到报警面积"},
        {"flawClampedBelowItsOwnAlarmArea", {rectRegion(1, 0, cv::Rect(100, 100, 1, 1), "flaw", {45, 100, 3})},
         Store::Rows, 1, true, false, false, "无法达到报警面积", {{"c_detailarithmetic", true}}},
        {"flawBelowTheProcessAlarmArea", {rectRegion(1, 0, cv::Rect(100, 100, 40, 40), "flaw", kFlawParams)},
         Store::Rows, 1, true, false, false, "无法达到报警面积", {{"s_alarmareas", 5000}}},
        {"spotThatPassesEveryArea", {rectRegion(1, 0, kRegion, "spot", {0, 1000000, 0, 255})}, Store::Rows, 1, true,
         false, false, "无法达到报警面积"},
        {"parameterChangeLeavesStoredRegionUnableToAlarm", {flaw}, Store::Rows, 1, true, false, false,
         "无法达到报警面积", {}, {{"s_alarmareas", 100000}}},
        // Controls: the region's own alarm area is used, and a region as
        // large as its alarm area allows is inspected.
        {"controlOwnAlarmAreaOverProcessArea", {flaw}, Store::Rows, 1, true, true, false, "0-50/",
         {{"c_detailarithmetic", true}, {"s_alarmareas", 100000}}},
        {"controlProcessAlarmArea", {flaw}, Store::Rows, 1, true, true, false, "0-60/", {{"s_alarmareas", 60}}},
    };
}

class StepVerdictTest : public ::testing::TestWithParam<StepCase> {
protected:
    StepVerdictTest() : frame(kW, kH)
    {
        PluginsManager::getInstance()->addProcessor(std::make_unique<ThrowingDetector>());
        hub.params.insert("h_temp_count", 3);
        // A display larger than the frame: a region can lie wholly outside
        // the frame and be clipped to nothing.
        gShowW = 2 * kW;
        gShowH = 2 * kH;
        gDNum = 2;
    }
    ~StepVerdictTest() override { gDNum = m_savedDNum; }

    // Makes PARAM.db as the case says and the camera on it.
    Camera& make(const StepCase& c)
    {
        for (auto it = c.params.begin(); it != c.params.end(); ++it)
            hub.params.insert(it.key(), it.value());
        if (c.store == Store::Garbage)
            scratch.write("PARAM.db", QByteArray(4096, '\x5a'));
        db = std::make_unique<paramdb::ParamDb>(scratch.file("PARAM.db"));
        if (c.store != Store::Garbage) {
            db->exec("CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
            const QJsonValue rois = c.store == Store::RoisNotArray ? QJsonValue(QJsonObject{{"0", 1}})
                                                                     : QJsonValue(c.rois);
            const QJsonObject row{{"index", 0}, {"rois", rois}, {"camerainterface", CameraRig::defaultCameraParams()}};
            db->put("cameraparam", "camera0",
                    c.store == Store::NotAnObject ? QStringLiteral("{\"rois\": [ broken")
                                                  : QString::fromUtf8(QJsonDocument(row).toJson()));
        }
        if (c.writeTemplate) {
            CameraRig::writeMaster(0, part);
            CameraRig::writeMaster(1, part);
        }
        camera = std::make_unique<Camera>();
        if (!c.paramsAfterLoad.isEmpty()) {
            for (auto it = c.paramsAfterLoad.begin(); it != c.paramsAfterLoad.end(); ++it)
                hub.params.insert(it.key(), it.value());
            camera->cameraSingleton()->setSystemParam(hub.params);
        }
        return *camera;
    }

    // Runs the step on the frame; the verdict and its reason.
    std::pair<bool, QString> judge(int step, const cv::Mat& picture)
    {
        EXPECT_TRUE(feedFrame(*camera->cameraImage(), picture));
        camera->cameraRecong()->Run(step);
        return {camera->getResult(), camera->resultReason()};
    }

    detectortest::FrameSize frame;
    detectortest::FakeHub hub;
    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd{scratch.path()};
    std::unique_ptr<paramdb::ParamDb> db;
    std::unique_ptr<Camera> camera;
    const cv::Mat part = detectortest::partImage(kW, kH);
    int32_t m_savedDNum = gDNum;
};

TEST_P(StepVerdictTest, AStepPassesOnlyWhatItInspected)
{
    const StepCase& c = GetParam();
    detectortest::LogCapture log;
    make(c);
    cv::Mat unlike;
    cv::bitwise_not(part, unlike);
    const struct {
        const char* frame;
        cv::Mat picture;
        bool ok;
    } runs[] = {{"equal", detectortest::withNoise(part, 2), c.okOnEqual}, {"unlike", unlike, c.okOnUnlike}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.frame);
        const auto [ok, reason] = judge(c.step, run.picture);
        EXPECT_EQ(ok, run.ok);
        if (ok) {
            EXPECT_TRUE(reason.isEmpty());
        } else {
            EXPECT_TRUE(reason.contains(QString::fromUtf8(c.reason))) << reason.toStdString();
            if (!QString::fromUtf8(c.reason).startsWith("0-")) {  // not inspected: said in the log
                EXPECT_TRUE(log.anyContains(QString::fromUtf8(c.reason))) << log.lines().join('\n').toStdString();
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, StepVerdictTest, ::testing::ValuesIn(cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StepVerdictTest, ParametersNotLoadedIsLoggedOncePerOutage)
{
    detectortest::LogCapture log;
    StepCase c;
    c.store = Store::Garbage;
    make(c);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(judge(1, part).first);
        EXPECT_FALSE(judge(0, part).first);
    }
    EXPECT_EQ(log.count("parameters not loaded"), 1);
}

}  // namespace

namespace {

// A step in use whose runs inspect nothing keeps its OK (the operator's
// configuration), but each load and each edit that leaves it so says so in
// the log; a step switched off by its process parameter is not in use.
TEST_F(StepVerdictTest, AStepThatInspectsNothingIsLoggedAtLoadAndEdit)
{
    const QString line = "detection 2 has no region that inspects: its cycles pass without inspection";
    const QJsonObject flaw = rectRegion(1, 0, kRegion, "flaw", kFlawParams);
    const QJsonObject location = rectRegion(1, 0, kRegion, "location", {10});
    const struct {
        const char* name;
        QJsonArray rois;
        QJsonObject params;
        bool logged;
    } cases[] = {
        {"no region", {}, {}, true},
        {"only an ignore region", {rectRegion(1, 0, kRegion, "ignore")}, {}, true},
        {"a location region that never runs", {location}, {}, true},
        {"a location region that runs", {location}, {{"s_sport_correction", true}}, false},
        {"the automatic location region", {}, {{"s_sport_correction", true}}, false},
        {"a flaw region", {flaw}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        camera.reset();
        db.reset();
        hub.params = QJsonObject{{"h_temp_count", 3}};
        StepCase step;
        step.rois = c.rois;
        step.params = c.params;
        detectortest::LogCapture log;
        make(step);
        EXPECT_EQ(log.count(line), c.logged ? 1 : 0) << log.lines().join('\n').toStdString();
        EXPECT_EQ(log.count("detection 1 has no region"), 0) << "step 1 is switched off";
    }

    // The edit that takes the flaw region away says it again, once.
    detectortest::LogCapture log;
    QString reason;
    ASSERT_TRUE(camera->modifySingleton(QJsonArray{rectRegion(1, 0, kRegion, "ignore")}, &reason))
        << reason.toStdString();
    EXPECT_EQ(log.count(line), 1) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(judge(1, part).first);
}

}  // namespace

namespace {

// A camera row that is not a JSON object holds every detection until the
// operator application sends a region set; the set is then saved over the
// row (which stays kept aside) and the camera judges the frames again. An
// empty set ends the outage too: the operator has said what to inspect.
TEST_F(StepVerdictTest, ACameraRowThatIsNoObjectHoldsUntilARegionSetIsApplied)
{
    const QJsonObject flaw = rectRegion(1, 0, kRegion, "flaw", kFlawParams);
    cv::Mat unlike;
    cv::bitwise_not(part, unlike);
    for (const QJsonArray& set : {QJsonArray{flaw}, QJsonArray{}}) {
        SCOPED_TRACE(set.isEmpty() ? "empty set" : "one flaw region");
        camera.reset();
        db.reset();
        StepCase c;
        c.store = Store::NotAnObject;
        make(c);
        const QString broken = *db->cameraRow();
        EXPECT_EQ(judge(1, part), std::make_pair(false, QString("parameters not loaded")));

        QString reason;
        ASSERT_TRUE(camera->modifySingleton(set, &reason)) << reason.toStdString();
        EXPECT_TRUE(camera->cameraSingleton()->isLoaded());
        const QJsonObject saved = QJsonDocument::fromJson(db->cameraRow()->toUtf8()).object();
        EXPECT_EQ(saved.value("rois").toArray().size(), set.size());
        EXPECT_EQ(db->column("select value from cameraparam_broken where name='camera0'"), QStringList{broken});
        EXPECT_TRUE(judge(1, detectortest::withNoise(part, 2)).first);
        EXPECT_EQ(judge(1, unlike).first, set.isEmpty());
    }
}

}  // namespace
