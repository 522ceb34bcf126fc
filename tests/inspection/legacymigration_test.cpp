#include "inspection/legacymigration.h"

#include "inspection/cammersingleton.h"
#include "paramdbfixture.h"

#include <QJsonDocument>

using paramdb::ParamDb;

namespace {

QJsonObject region(int detect, int index, const QString& type, QJsonArray infos, const QString& func,
                   QJsonArray params)
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", index}, {"roi_type", type},
                       {"roi_infos", infos},     {"func_type", func},  {"func_params", params}};
}

QJsonObject defaultRegion(int detect, int index)
{
    return region(detect, index, "rect", {50, 50, 50, 50}, "flaw", {25, 100, 3});
}

// Creates the old tables of camera 0 and fills them with `rows` of cammer0
// and `params` of sysparam.
void makeLegacyTables(const ParamDb& db, const QVector<QPair<QString, QString>>& rows,
                      const QVector<QPair<QString, QString>>& params)
{
    db.exec("CREATE TABLE cammer0 (name TEXT PRIMARY KEY, value TEXT)");
    db.exec("CREATE TABLE sysparam (name TEXT PRIMARY KEY, value TEXT)");
    for (const auto& r : rows)
        db.put("cammer0", r.first, r.second);
    for (const auto& p : params)
        db.put("sysparam", p.first, p.second);
}

}  // namespace

TEST(LegacyRegionObject, RowsBecomeStoredRegions)
{
    struct Case {
        const char* name;
        std::optional<QString> value;
        QJsonObject expected;
    };
    QJsonArray star;
    for (int i = 0; i < 3; ++i)
        star.append(QJsonArray{10 + i, 20 + i});
    const Case cases[] = {
        {"rect with a flaw detector", QString("10 20 30 0 1 0 0 5 5 105 205"),
         region(0, 4, "rect", {5, 5, 100, 200}, "flaw", {20, 30, 10})},
        {"rect corners in any order", QString("10 20 30 0 1 0 0 105 205 5 5"),
         region(0, 4, "rect", {105, 205, 100, 200}, "flaw", {20, 30, 10})},
        {"circle with packed radii", QString("0 7 0 3 4 0 0 500 400 65539"),
         region(0, 4, "circle", {500, 400, 1, 3}, "location", {7})},
        {"circle with a negative packed value", QString("0 0 0 2 4 0 0 1 2 -1"),
         region(0, 4, "circle", {1, 2, 65535, 65535}, "ignore", {})},
        {"spot with packed grey range", QString("513 9 8 1 1 0 0 0 0 10 10"),
         region(0, 4, "rect", {0, 0, 10, 10}, "spot", {9, 8, 1, 2})},
        {"polygon", QString("1 2 3 0 2 0 3 10 20 11 21 12 22"), region(0, 4, "polygon", star, "flaw", {2, 3, 1})},
        {"polygon with points missing from the row", QString("1 2 3 0 2 0 2 7"),
         region(0, 4, "polygon", QJsonArray{QJsonArray{7, 0}, QJsonArray{0, 0}}, "flaw", {2, 3, 1})},
        {"unknown detector kind", QString("1 2 3 9 1 0 0 0 0 10 10"),
         region(0, 4, "rect", {0, 0, 10, 10}, "flaw", {25, 100, 3})},
        {"words read as 0", QString("x 2 3 0 1 0 0 a 5 10 10"),
         region(0, 4, "rect", {0, 5, 10, 5}, "flaw", {2, 3, 0})},
        {"polygon without points", QString("1 2 3 0 2 0 0"), defaultRegion(0, 4)},
        {"polygon beyond the point bound", QString("1 2 3 0 2 0 8097 1 1"), defaultRegion(0, 4)},
        {"unknown shape kind", QString("1 2 3 0 3 0 0 1 1 1 1"), defaultRegion(0, 4)},
        {"empty row", QString(""), defaultRegion(0, 4)},
        {"missing row", std::nullopt, defaultRegion(0, 4)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(legacyRegionObject(c.value, 0, 4), c.expected) << c.name;

    EXPECT_EQ(legacyRegionObject(QString("10 20 30 0 1 0 0 -2147483648 0 2147483647 0"), 2, 1)
                  .value("roi_infos")
                  .toArray()
                  .at(2)
                  .toDouble(),
              4294967295.0);

    const QJsonObject big = legacyRegionObject(QString("1 2 3 0 2 0 8096"), 0, 0);
    EXPECT_EQ(big.value("roi_infos").toArray().size(), 8096);
}

TEST(LegacyListElement, SplitsAtEverySingleSpaceAndNeverReadsPastTheEnd)
{
    struct Case {
        QString value;
        int position;
        std::optional<int> expected;
    };
    const Case cases[] = {
        {"4 5 6", 2, 6}, {"4  6", 1, 0},    {"4  6", 2, 6},         {"4 x 6", 1, 0},
        {"4 5 6", 3, std::nullopt},        {"", 0, 0},             {"1 2", -1, std::nullopt},
        {"1\t2 3", 1, 3}, {"1\t2 3", 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(legacyListElement(c.value, c.position), c.expected) << c.value.toStdString() << " @" << c.position;
}

class LegacyMigrationTest : public paramdb::StoreTest {};

TEST_F(LegacyMigrationTest, StepsKeepTheirPlaceAndOversizedStepsAreLeftEmpty)
{
    ParamDb db(dbFile());
    makeLegacyTables(db,
                     {{"detect0", "2 0 0 0 0 0 0 0 0"},
                      {"ROI0-0", "10 20 30 0 1 0 0 5 5 105 205"},
                      {"detect1", "60"},
                      {"ROI1-0", "10 20 30 0 1 0 0 5 5 105 205"},
                      {"detect2", "1"},
                      {"ROI2-0", "0 40 0 3 4 0 0 500 400 65539"},
                      {"detect3", "-1"}},
                     {});
    const QVector<QJsonArray> steps = readLegacyRegions(db.db(), 0);
    ASSERT_EQ(steps.size(), 4);
    EXPECT_EQ(steps[0], (QJsonArray{region(0, 0, "rect", {5, 5, 100, 200}, "flaw", {20, 30, 10}), defaultRegion(0, 1)}));
    EXPECT_TRUE(steps[1].isEmpty()) << "60 regions: left out, its rows unread";
    EXPECT_EQ(steps[2], QJsonArray{region(2, 0, "circle", {500, 400, 1, 3}, "location", {40})});
    EXPECT_TRUE(steps[3].isEmpty()) << "a negative count is out of bounds too";

    // Another camera's table does not exist: four empty steps.
    const QVector<QJsonArray> none = readLegacyRegions(db.db(), 1);
    ASSERT_EQ(none.size(), 4);
    for (const QJsonArray& s : none)
        EXPECT_TRUE(s.isEmpty());
}

TEST_F(LegacyMigrationTest, ParameterRowsSetTheirFieldsAndShortListsLeaveThemAlone)
{
    ParamDb db(dbFile());
    makeLegacyTables(db, {},
                     {{"exposeTime", "20000 3"},
                      {"adjustPlus", "7"},
                      {"sharp", "x"},
                      {"contrast", "120"},
                      {"numAllDetect", "90 1 1"},
                      {"system2", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 5"},
                      {"numFailDetect", "0 0 0 1"},
                      {"system7", "0 1 0 0 0 0 0 1"},
                      {"system5", "1 1 1"},
                      {"system9", "1  0 0 0 0 0 0 1"}});
    CameraImageParams params;
    int32_t index = -1;
    readLegacyCameraParams(db.db(), params, index);
    EXPECT_EQ(params.exposure, 20000);
    EXPECT_EQ(index, 3);
    EXPECT_EQ(params.gain, 7);
    EXPECT_EQ(params.sharpness, 0);
    EXPECT_EQ(params.trueness, 120);
    EXPECT_EQ(params.gamma, 90);
    EXPECT_EQ(params.speedpick, 5);
    EXPECT_TRUE(params.c_autolight);
    EXPECT_TRUE(params.c_colorrepmono);
    EXPECT_TRUE(params.c_stop_optimize);
    EXPECT_FALSE(params.c_cameraouttrip) << "system5 has no element 11: unchanged";
    EXPECT_TRUE(params.c_filphorizontal);
    EXPECT_TRUE(params.c_flipverical) << "the double space keeps an empty element 1";

    // Missing rows change nothing.
    ParamDb other(scratch.file("other.db"), "other");
    other.exec("CREATE TABLE sysparam (name TEXT PRIMARY KEY, value TEXT)");
    CameraImageParams untouched;
    int32_t untouchedIndex = 8;
    readLegacyCameraParams(other.db(), untouched, untouchedIndex);
    EXPECT_TRUE(untouched == CameraImageParams());
    EXPECT_EQ(untouchedIndex, 8);
}

TEST_F(LegacyMigrationTest, AnEmptyRowIsFilledFromTheOldTablesAndSaved)
{
    gDNum = 4;
    ParamDb db(dbFile());
    makeLegacyTables(db,
                     {{"detect0", "2 0 0 0 0 0 0 0 0"},
                      {"ROI0-0", "10 20 30 0 1 0 0 5 5 105 205"},
                      {"detect1", "60"},
                      {"detect2", "1"},
                      {"ROI2-0", "513 9 8 1 1 0 0 300 300 400 400"}},
                     {{"exposeTime", "20000 3"}, {"system7", "0 1"}, {"contrast", "0"}});
    db.exec("CREATE TABLE cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)");
    db.put("cameraparam", "camera0", "");

    CameraSingleton store(nullptr, 0);
    ASSERT_TRUE(store.LoadDtafromDB());
    EXPECT_EQ(gCamareIndex, 3);
    EXPECT_EQ(store.cameraParams().exposure, 30) << "brought into range";
    EXPECT_EQ(store.cameraParams().trueness, 100);
    EXPECT_FALSE(store.cameraParams().c_colorrepmono) << "cleared by the read-back";
    ASSERT_EQ(store.stepCount(), 4);
    EXPECT_EQ(store.getRois(0).size(), 2);
    EXPECT_TRUE(store.getRois(1).isEmpty());
    ASSERT_EQ(store.getRois(2).size(), 1) << "step 2 stays step 2";
    EXPECT_EQ(store.getRois(2).at(0)->getProcessorName(), "spot");

    const QJsonObject saved = QJsonDocument::fromJson(db.cameraRow()->toUtf8()).object();
    EXPECT_EQ(saved.value("index").toInt(), 3);
    const QJsonArray rois = saved.value("rois").toArray();
    ASSERT_EQ(rois.size(), 3);
    EXPECT_EQ(rois.at(2).toObject().value("detect_index").toInt(), 2);
    EXPECT_EQ(rois.at(2).toObject().value("func_params").toArray(), (QJsonArray{9, 8, 1, 2}));
    EXPECT_TRUE(saved.value("camerainterface").toObject().value("c_colorrepmono").toBool())
        << "the migrated value is what the save wrote";
    EXPECT_TRUE(db.column("select * from cammer0 where name='ROI0-1'").isEmpty()) << "old tables are not written";
}
