#include "inspection/cammersingleton.h"

#include "inspection/processorinterface.h"
#include "paramdbfixture.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

#include <functional>

#include <signal.h>
#include <sys/types.h>

using paramdb::ParamDb;

namespace {

QJsonObject rect(int detect, int index, int x, int y, const QString& func = "flaw",
                 QJsonArray params = {20, 100, 3})
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", index},   {"roi_type", "rect"},
                       {"roi_infos", QJsonArray{x, y, 100, 80}},          {"func_type", func},
                       {"func_params", params}};
}

QJsonObject circle(int detect, int index)
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", index},       {"roi_type", "circle"},
                       {"roi_infos", QJsonArray{600, 500, 120, 40}},       {"func_type", "spot"},
                       {"func_params", QJsonArray{10, 5000, 0, 60}}};
}

QJsonObject polygon(int detect, int index, int points = 5, int x0 = 300)
{
    QJsonArray infos;
    for (int i = 0; i < points; ++i)
        infos.append(QJsonArray{x0 + (i * 37) % 400, 200 + (i * 53) % 300});
    return QJsonObject{{"detect_index", detect}, {"roi_index", index}, {"roi_type", "polygon"},
                       {"roi_infos", infos},     {"func_type", "ignore"}, {"func_params", QJsonArray{}}};
}

QJsonObject parseObject(const QString& text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

QStringList typesOf(const RoiHandles& regions)
{
    QStringList types;
    for (RoiInterface* r : regions)
        types << r->getRoiType();
    return types;
}

QJsonArray allRois(const CameraSingleton& store)
{
    QJsonArray out;
    store.getAllROIs(out);
    return out;
}

CameraImageParams defaults()
{
    return CameraImageParams();
}

}  // namespace

class CameraSingletonTest : public paramdb::StoreTest {};

TEST_F(CameraSingletonTest, FreshDatabaseGetsTheTableAndTheDefaultRow)
{
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    EXPECT_TRUE(store.isLoaded());

    EXPECT_EQ(db.column("select sql from sqlite_master where name='cameraparam'"),
              QStringList{"CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)"});

    const std::optional<QString> row = db.cameraRow();
    ASSERT_TRUE(row);
    EXPECT_TRUE(row->startsWith("{\n    \"")) << "stored indented: " << row->toStdString();
    const QJsonObject expected{
        {"index", 0},
        {"rois", QJsonArray{}},
        {"camerainterface",
         QJsonObject{{"exposure", 20}, {"gain", 1}, {"sharpness", 50}, {"trueness", 100}, {"gamma", 100},
                     {"speedpick", 0}, {"c_autolight", false}, {"c_stop_optimize", false},
                     {"c_colorrepmono", false}, {"c_cameraouttrip", false}, {"c_flipverical", false},
                     {"c_filphorizontal", false}}}};
    EXPECT_EQ(parseObject(*row), expected);
    EXPECT_TRUE(store.cameraParams() == defaults());
    // The older storage always had four steps; none of them holds regions.
    EXPECT_EQ(store.stepCount(), 4);
    EXPECT_TRUE(allRois(store).isEmpty());
}

TEST_F(CameraSingletonTest, SetCameraParamReadsWholeNumbersAndJsonBooleansOnly)
{
    struct Case {
        const char* name;
        QJsonObject in;
        CameraImageParams expected;
    };
    CameraImageParams zero;
    zero.exposure = zero.gain = zero.sharpness = zero.trueness = zero.gamma = zero.speedpick = 0;

    CameraImageParams mixed = zero;
    mixed.sharpness = 7;
    mixed.gamma = -4;
    mixed.c_stop_optimize = true;
    mixed.c_flipverical = true;

    CameraImageParams plain;
    plain.exposure = 35;
    plain.gain = 4;
    plain.sharpness = 60;
    plain.trueness = 90;
    plain.gamma = 120;
    plain.speedpick = 2;
    plain.c_autolight = true;
    plain.c_cameraouttrip = true;
    plain.c_filphorizontal = true;

    const Case cases[] = {
        {"empty object: every number 0, every switch false", QJsonObject{}, zero},
        {"non-integers, texts and numbers for switches",
         QJsonObject{{"exposure", 20.5}, {"gain", "3"}, {"sharpness", 7}, {"trueness", 1e12}, {"gamma", -4},
                     {"speedpick", true}, {"c_autolight", 1}, {"c_stop_optimize", true}, {"c_colorrepmono", true},
                     {"c_cameraouttrip", "true"}, {"c_flipverical", true}, {"c_filphorizontal", false}},
         mixed},
        {"plain values",
         QJsonObject{{"exposure", 35}, {"gain", 4}, {"sharpness", 60}, {"trueness", 90}, {"gamma", 120},
                     {"speedpick", 2}, {"c_autolight", true}, {"c_colorrepmono", true}, {"c_cameraouttrip", true},
                     {"c_filphorizontal", true}},
         plain},
    };
    for (const Case& c : cases) {
        CameraSingleton store(nullptr, 0);
        store.setCameraParam(c.in);
        EXPECT_TRUE(store.cameraParams() == c.expected) << c.name;
        EXPECT_FALSE(store.cameraParams().c_colorrepmono) << c.name;
    }

    // getCameraParam reports the twelve members and leaves the others.
    CameraSingleton store(nullptr, 0);
    store.setCameraParam(cases[2].in);
    QJsonObject out{{"other", "kept"}, {"c_colorrepmono", true}};
    store.getCameraParam(out);
    EXPECT_EQ(out.size(), 13);
    EXPECT_EQ(out.value("other").toString(), "kept");
    EXPECT_EQ(out.value("exposure").toInt(), 35);
    EXPECT_FALSE(out.value("c_colorrepmono").toBool(true));
}

TEST_F(CameraSingletonTest, NetworkParametersOutsideTheRangesAreRefusedWhole)
{
    const QJsonObject good{{"exposure", 0},  {"gain", 10000}, {"sharpness", 0},       {"trueness", 1},
                           {"gamma", 10000}, {"speedpick", 9}, {"c_flipverical", true}};
    struct Case {
        const char* key;
        QJsonValue value;
    };
    const Case bad[] = {{"exposure", 10001}, {"exposure", -1}, {"gain", 10001},   {"sharpness", -5},
                        {"trueness", 0},     {"gamma", 0},     {"gamma", 10001},  {"trueness", QJsonValue()},
                        {"trueness", 12.5}};
    // A missing or non-integer value reads as 0 first, then meets the range.
    for (const Case& c : bad) {
        CameraSingleton store(nullptr, 0);
        QJsonObject request = good;
        if (c.value.isNull())
            request.remove(c.key);  // missing reads as 0
        else
            request.insert(c.key, c.value);
        QString error;
        const bool accepted = store.setCameraParamChecked(request, &error);
        EXPECT_FALSE(accepted) << c.key;
        EXPECT_TRUE(error.contains(c.key)) << error.toStdString();
        EXPECT_TRUE(store.cameraParams() == defaults()) << c.key << ": nothing applied";
    }

    CameraSingleton store(nullptr, 0);
    EXPECT_TRUE(store.setCameraParamChecked(good));
    EXPECT_EQ(store.cameraParams().gain, 10000);
    EXPECT_EQ(store.cameraParams().trueness, 1);
    EXPECT_TRUE(store.cameraParams().c_flipverical);
}

TEST_F(CameraSingletonTest, RangeRuleReplacesOutOfRangeValuesWithFixedValues)
{
    CameraSingleton store(nullptr, 0);
    store.setCameraParam(QJsonObject{{"exposure", 20000}, {"gain", -1}, {"sharpness", 10001}, {"trueness", 0},
                                     {"gamma", 0}, {"speedpick", -7}});
    store.CheckParamRange();
    const CameraImageParams& p = store.cameraParams();
    EXPECT_EQ(p.exposure, 30);
    EXPECT_EQ(p.gain, 32);
    EXPECT_EQ(p.sharpness, 0);
    EXPECT_EQ(p.trueness, 100);
    EXPECT_EQ(p.gamma, 100);
    EXPECT_EQ(p.speedpick, -7);

    store.setCameraParam(QJsonObject{{"exposure", 10000}, {"gain", 0}, {"sharpness", 5}, {"trueness", 1},
                                     {"gamma", 10000}});
    const CameraImageParams before = store.cameraParams();
    store.CheckParamRange();
    EXPECT_TRUE(store.cameraParams() == before);

    store.ResetCameraParam();
    EXPECT_TRUE(store.cameraParams() == defaults());
}

TEST_F(CameraSingletonTest, StoredValuesAreTakenAsStored)
{
    ParamDb db(dbFile());
    db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
    db.put("cameraparam", "camera0",
           R"({"index": 5, "camerainterface": {"exposure": 20000, "gain": 2, "trueness": 100, "gamma": 100}})");
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    EXPECT_EQ(store.cameraParams().exposure, 20000);
    EXPECT_EQ(store.cameraParams().sharpness, 0);  // missing inside the object: 0, not the default
    EXPECT_EQ(gCamareIndex, 5);
    // No "rois": gDNum empty steps.
    EXPECT_EQ(store.stepCount(), 2);
}

TEST_F(CameraSingletonTest, SavingAndLoadingPutEveryRegionBackInItsStepAndOrder)
{
    ParamDb db(dbFile());
    QJsonArray set{rect(1, 0, 100, 100), circle(0, 0), polygon(1, 1), rect(0, 1, 900, 400, "spot", {1, 900, 0, 40})};
    {
        CameraSingleton store(nullptr, 0);
        ASSERT_TRUE(store.LoadDtafromDB());
        ASSERT_TRUE(store.setAllROIs(set));
        gCamareIndex = 7;
        ASSERT_TRUE(store.SaveDatatoDB());
    }
    const QJsonArray saved = parseObject(*db.cameraRow()).value("rois").toArray();
    gCamareIndex = 0;

    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    EXPECT_EQ(gCamareIndex, 7);
    EXPECT_EQ(typesOf(store.getRois(0)), (QStringList{"circle", "rect"}));
    EXPECT_EQ(typesOf(store.getRois(1)), (QStringList{"rect", "polygon"}));
    for (int s = 0; s < 2; ++s) {
        for (RoiInterface* r : store.getRois(s))
            EXPECT_EQ(r->getDetectIndex(), s);
    }
    EXPECT_EQ(allRois(store), saved);
    EXPECT_EQ(saved.size(), 4);
}

TEST_F(CameraSingletonTest, RegionsOutsideTheStepsAreDroppedAndAMissingStepGoesToStepZero)
{
    gDNum = 4;
    ParamDb db(dbFile());
    QJsonObject noDetect = rect(0, 3, 50, 50);
    noDetect.remove("detect_index");
    db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
    const QJsonObject row{{"rois", QJsonArray{rect(5, 0, 50, 50), rect(-1, 1, 50, 50), noDetect, rect(1, 2, 50, 50),
                                              QJsonObject{{"detect_index", 2}, {"roi_type", ""}}}}};
    db.put("cameraparam", "camera0", QString::fromUtf8(QJsonDocument(row).toJson()));

    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    ASSERT_EQ(store.stepCount(), 4);
    ASSERT_EQ(store.getRois(0).size(), 1);
    EXPECT_EQ(store.getRois(0).at(0)->getRoiIndex(), 3);
    EXPECT_EQ(store.getRois(1).size(), 1);
    EXPECT_TRUE(store.getRois(2).isEmpty());
    EXPECT_TRUE(store.getRois(3).isEmpty());
    EXPECT_TRUE(store.getRois(4).isEmpty());
    EXPECT_TRUE(store.getRois(-1).isEmpty());
}

TEST_F(CameraSingletonTest, BrokenRowIsLoggedKeptAsideAndThenReplaced)
{
    ParamDb db(dbFile());
    const QString broken = R"({"index": 3, "rois": [{"detect_index": 0, "roi_type": "re)";
    db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
    db.put("cameraparam", "camera0", broken);
    gCamareIndex = 9;

    {
        CameraSingleton store(nullptr, 0);
        // Not loaded: which regions to inspect is unknown.
        EXPECT_FALSE(store.LoadDtafromDB());
        EXPECT_FALSE(store.isLoaded());
        EXPECT_TRUE(store.takesRegionSet());
        EXPECT_EQ(gCamareIndex, 9) << "nothing of the broken row is applied";
        EXPECT_EQ(store.stepCount(), 2);
        EXPECT_TRUE(allRois(store).isEmpty());
        EXPECT_TRUE(store.cameraParams() == defaults());
        // Nothing but a whole region set is taken, and nothing is saved
        // over the row before one.
        EXPECT_FALSE(store.releaseROI(0));
        EXPECT_FALSE(store.paramSynac(1, 0));
        EXPECT_FALSE(store.modifySingleROI(rect(0, 0, 10, 10)));
        EXPECT_FALSE(store.SaveDatatoDB());
        EXPECT_EQ(*db.cameraRow(), broken) << "loading alone never writes";
    }
    // A second start with the row still broken keeps no second copy.
    CameraSingleton store(nullptr, 0);
    EXPECT_FALSE(store.LoadDtafromDB());
    EXPECT_EQ(db.column("select value from cameraparam_broken where name='camera0'"), QStringList{broken});

    QJsonArray set{rect(0, 0, 10, 10)};
    ASSERT_TRUE(store.setAllROIs(set));
    EXPECT_TRUE(store.isLoaded());
    ASSERT_TRUE(store.SaveDatatoDB());
    EXPECT_EQ(parseObject(*db.cameraRow()).value("rois").toArray().size(), 1);
    EXPECT_EQ(db.column("select value from cameraparam_broken"), QStringList{broken});
}

// Each setup leaves a PARAM.db whose camera row cannot be read or kept: the
// store must refuse every edit and never write.
TEST_F(CameraSingletonTest, AfterAFailedLoadEditsAreRefusedAndTheRowIsNeverWritten)
{
    struct Case {
        const char* name;
        bool openDb;
        std::function<void(ParamDb&)> setup;
        int steps;
    };
    const Case cases[] = {
        {"no PARAM.db connection", false, nullptr, 0},
        {"cameraparam without a value column", true,
         [](ParamDb& db) {
             db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, other TEXT)");
             db.exec("INSERT INTO cameraparam VALUES ('camera0', 'real')");
         },
         0},
        {"broken row that cannot be kept aside", true,
         [](ParamDb& db) {
             db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
             db.exec("INSERT INTO cameraparam VALUES ('camera0', '{\"rois\": [')");
             db.exec("CREATE VIEW cameraparam_broken AS SELECT 1 AS name, 2 AS value, 3 AS keptat");
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchDir dir;
        std::unique_ptr<ParamDb> db;
        if (c.openDb) {
            db = std::make_unique<ParamDb>(dir.file("PARAM.db"));
            c.setup(*db);
        }
        const QStringList before = db ? db->column("select * from cameraparam") : QStringList();

        CameraSingleton store(nullptr, 0);
        EXPECT_FALSE(store.LoadDtafromDB());
        EXPECT_FALSE(store.isLoaded());
        EXPECT_EQ(store.stepCount(), c.steps);

        QJsonArray set{rect(0, 0, 10, 10), rect(1, 0, 10, 10)};
        RoiSteps newSet = store.genRoisFromJson(set);
        EXPECT_TRUE(store.compareRois(newSet).isEmpty());
        EXPECT_FALSE(store.setAllROIs(set));
        EXPECT_FALSE(store.modifySingleROI(rect(0, 0, 10, 10)));
        EXPECT_FALSE(store.paramSynac(1, 0));
        EXPECT_FALSE(store.releaseROI(0));
        EXPECT_TRUE(allRois(store).isEmpty());
        EXPECT_FALSE(store.SaveDatatoDB());
        EXPECT_TRUE(hub.records.isEmpty());
        if (db) {
            EXPECT_EQ(db->column("select * from cameraparam"), before);
        }
    }
}

TEST_F(CameraSingletonTest, SaveWritesAMissingRowAndKeepsQuotesUnchanged)
{
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    db.exec("DELETE FROM cameraparam");

    // A region of a shape this program does not know is kept as read, quote
    // and all.
    const QJsonObject oval{{"detect_index", 1}, {"roi_index", 0}, {"roi_type", "o'val"},
                           {"roi_infos", QJsonArray{1, 2, 3}}, {"func_type", "flaw'"},
                           {"note", "it's 'quoted'"}};
    QJsonArray set{oval, rect(0, 0, 10, 10)};
    ASSERT_TRUE(store.setAllROIs(set));
    ASSERT_TRUE(store.SaveDatatoDB());

    const std::optional<QString> row = db.cameraRow();
    ASSERT_TRUE(row);
    QJsonArray rois = parseObject(*row).value("rois").toArray();
    ASSERT_EQ(rois.size(), 2);
    EXPECT_EQ(rois.at(1).toObject(), oval);
    EXPECT_TRUE(row->contains("\"it's 'quoted'\""));
}

TEST_F(CameraSingletonTest, ParamSynacCopiesOneStepOntoAnother)
{
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    QJsonArray set{rect(0, 0, 100, 100), circle(0, 1), polygon(1, 0)};
    ASSERT_TRUE(store.setAllROIs(set));
    const RoiHandles step0 = store.getRois(0);

    ASSERT_TRUE(store.paramSynac(1, 0));
    const RoiHandles step1 = store.getRois(1);
    ASSERT_EQ(step1.size(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(step1[i], step0[i]) << "copies, not the same regions";
        EXPECT_EQ(step1[i]->getDetectIndex(), 1);
        QJsonObject original, copy;
        step0[i]->saveToJson(original);
        step1[i]->saveToJson(copy);
        original.insert("detect_index", 1);
        EXPECT_EQ(copy, original);
    }
    EXPECT_EQ(store.getRois(0), step0) << "the source step is untouched";

    // Onto itself, or from or to a step the store does not hold: nothing.
    for (auto [target, source] : {std::pair{0, 0}, std::pair{9, 0}, std::pair{1, -1}}) {
        ASSERT_TRUE(store.paramSynac(target, source));
        EXPECT_EQ(store.getRois(0), step0);
        EXPECT_EQ(store.getRois(1), step1);
    }
    EXPECT_TRUE(store.setSameParamS());
    EXPECT_EQ(store.getRois(1).size(), 2);
}

TEST_F(CameraSingletonTest, ModifySingleRoiRereadsTheLastMatchOrAppends)
{
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    QJsonArray set{rect(0, 0, 100, 100), rect(0, 1, 300, 100), rect(0, 1, 500, 100)};
    ASSERT_TRUE(store.setAllROIs(set));
    const RoiHandles before = store.getRois(0);

    ASSERT_TRUE(store.modifySingleROI(rect(0, 1, 700, 700)));
    QJsonObject o;
    before[2]->saveToJson(o);
    EXPECT_EQ(o.value("roi_infos").toArray().at(0).toInt(), 700) << "the last region with index 1";
    QJsonObject first;
    before[1]->saveToJson(first);
    EXPECT_EQ(first.value("roi_infos").toArray().at(0).toInt(), 300);

    ASSERT_TRUE(store.modifySingleROI(circle(0, 4)));
    ASSERT_EQ(store.getRois(0).size(), 4);
    EXPECT_EQ(store.getRois(0).at(3)->getRoiType(), "circle");

    ASSERT_TRUE(store.modifySingleROI(rect(7, 0, 10, 10)));
    ASSERT_TRUE(store.modifySingleROI(QJsonObject{{"detect_index", 1}, {"roi_type", "hexagon?"}, {"roi_index", 0}}));
    EXPECT_EQ(store.getRois(0).size(), 4);
}

TEST_F(CameraSingletonTest, IgnoreMasksAreFrameSizedSharedAndBounded)
{
    CameraSingleton store(nullptr, 0);
    cv::Mat mask = store.getIgnoreMask(2);
    ASSERT_EQ(mask.rows, gImageH);
    ASSERT_EQ(mask.cols, gImageW);
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(cv::countNonZero(mask), 0);
    EXPECT_EQ(store.getIgnoreMask(0).rows, gImageH) << "the steps below were created too";

    mask(cv::Rect(10, 10, 5, 4)).setTo(255);
    EXPECT_EQ(cv::countNonZero(store.getIgnoreMask(2)), 20) << "drawing lands in the store";
    EXPECT_EQ(cv::countNonZero(store.getIgnoreMask(1)), 0);
    store.resetIgnoreMask(2);
    EXPECT_EQ(cv::countNonZero(mask), 0);

    EXPECT_TRUE(store.getIgnoreMask(-1).empty());
    EXPECT_TRUE(store.getIgnoreMask(4).empty());
    EXPECT_TRUE(store.getIgnoreMask(1 << 30).empty());
    store.resetIgnoreMask(-3);
}

TEST_F(CameraSingletonTest, RegionResultsAreReportedPerStep)
{
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    QJsonArray set{rect(0, 0, 100, 100), rect(0, 1, 300, 100), rect(0, 1, 500, 100)};
    ASSERT_TRUE(store.setAllROIs(set));
    const RoiHandles regions = store.getRois(0);
    regions[0]->setArea(11);
    regions[1]->setArea(22);
    regions[2]->setArea(33);
    regions[2]->setResult(false);
    regions[2]->setResultDescription("NG");

    EXPECT_EQ(store.getResult(0, 1), 33);
    EXPECT_EQ(store.getResult(0, 0), 11);
    EXPECT_EQ(store.getResult(0, 5), -1);
    EXPECT_EQ(store.getResult(6, 0), -1);

    QJsonArray results;
    store.roisResult(0, results);
    ASSERT_EQ(results.size(), 3);
    const QJsonObject last = results.at(2).toObject();
    EXPECT_FALSE(last.value("result").toBool(true));
    EXPECT_EQ(last.value("title").toString(), regions[2]->getResultDescription());
    EXPECT_EQ(last.value("roi_type").toString(), "rect");
    QJsonArray none;
    store.roisResult(-1, none);
    EXPECT_TRUE(none.isEmpty());

    store.resetROIs();
    EXPECT_TRUE(regions[2]->getResult());
    EXPECT_EQ(store.getResult(0, 1), 0);
}

TEST_F(CameraSingletonTest, NewSetsHaveExactlyDNumStepsAndLeaveTheStoreAlone)
{
    gDNum = 3;
    ParamDb db(dbFile());
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    const QJsonArray stored = allRois(store);
    QJsonArray set{rect(0, 0, 100, 100), rect(2, 0, 100, 100), rect(3, 0, 100, 100)};
    const RoiSteps steps = store.genRoisFromJson(set);
    ASSERT_EQ(steps.size(), 3u);
    EXPECT_EQ(steps[0].size(), 1u);
    EXPECT_EQ(steps[2].size(), 1u);
    EXPECT_EQ(allRois(store), stored);
}

TEST_F(CameraSingletonTest, AReplacedSetKeepsTheRegionsOfEveryStepInUse)
{
    gDNum = 1;
    ParamDb db(dbFile());
    db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
    db.put("cameraparam", "camera0", R"({"rois": []})");
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    ASSERT_EQ(store.stepCount(), 1);

    gDNum = 3;
    QJsonArray set{rect(2, 0, 100, 100)};
    const RoiSteps newSet = store.genRoisFromJson(set);
    EXPECT_EQ(store.compareRois(newSet).size(), 1) << "the new step's region is reported";
    ASSERT_TRUE(store.setAllROIs(set));
    EXPECT_EQ(store.stepCount(), 3);
    EXPECT_EQ(store.getRois(2).size(), 1);
}

// --- crash safety ------------------------------------------------------------------

namespace {

const char kWriterEnv[] = "ORVALE_STORE_WRITER_DB";

QJsonArray bigSet()
{
    QJsonArray set;
    for (int i = 0; i < 40; ++i)
        set.append(polygon(i % 2, i / 2, 300, 100 + i * 10));
    return set;
}

QJsonArray smallSet()
{
    return QJsonArray{rect(0, 0, 100, 100), circle(1, 0)};
}

}  // namespace

// Not a test of its own: the writer process of the test below. It saves two
// different parameter sets in turn, for ever, printing one line per save.
TEST_F(CameraSingletonTest, DISABLED_WriterProcess)
{
    const QString file = qEnvironmentVariable(kWriterEnv);
    if (file.isEmpty())
        GTEST_SKIP();
    ParamDb db(file);
    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    QJsonArray big = bigSet();
    QJsonArray small = smallSet();
    for (long n = 0;; ++n) {
        const bool odd = n % 2;
        store.setCameraParam(QJsonObject{{"exposure", odd ? 111 : 222}, {"trueness", 100}, {"gamma", 100}});
        ASSERT_TRUE(store.setAllROIs(odd ? big : small));
        ASSERT_TRUE(store.SaveDatatoDB());
        printf("saved %ld\n", n);
        fflush(stdout);
    }
}

TEST_F(CameraSingletonTest, AWriterKilledInTheMiddleOfASaveLeavesTheOldOrTheNewRow)
{
    gDNum = 2;
    for (int killAfter : {2, 5, 9, 14}) {
        SCOPED_TRACE(killAfter);
        QProcess writer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kWriterEnv, dbFile());
        writer.setProcessEnvironment(env);
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start(QCoreApplication::applicationFilePath(),
                     {"--gtest_filter=CameraSingletonTest.DISABLED_WriterProcess",
                      "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(writer.waitForStarted(-1));
        int saves = 0;
        while (saves < killAfter) {
            ASSERT_TRUE(writer.waitForReadyRead(-1)) << "writer ended early";
            while (writer.canReadLine()) {
                if (writer.readLine().startsWith("saved"))
                    ++saves;
            }
        }
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished(-1);

        ParamDb db(dbFile(), "crashcheck");
        EXPECT_EQ(db.column("PRAGMA integrity_check"), QStringList{"ok"});
        const std::optional<QString> row = db.cameraRow();
        ASSERT_TRUE(row);
        const QJsonObject doc = parseObject(*row);
        const int exposure = doc.value("camerainterface").toObject().value("exposure").toInt();
        const int regions = doc.value("rois").toArray().size();
        EXPECT_TRUE((exposure == 111 && regions == 40) || (exposure == 222 && regions == 2))
            << "exposure " << exposure << " with " << regions << " regions";
    }
}
