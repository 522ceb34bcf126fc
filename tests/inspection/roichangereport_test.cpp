#include "inspection/roichangereport.h"

#include "inspection/cammersingleton.h"
#include "paramdbfixture.h"

#include <QJsonDocument>

using paramdb::ParamDb;

namespace {

QJsonObject rect(int detect, int index, int x, const QString& func = "flaw", QJsonArray params = {20, 100, 3})
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", index},   {"roi_type", "rect"},
                       {"roi_infos", QJsonArray{x, 100, 100, 80}},        {"func_type", func},
                       {"func_params", params}};
}

QJsonObject circle(int detect, int index, int x = 600)
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", index}, {"roi_type", "circle"},
                       {"roi_infos", QJsonArray{x, 500, 120, 40}},   {"func_type", "spot"},
                       {"func_params", QJsonArray{10, 5000, 0, 60}}};
}

QJsonObject circleWithFlaw(int detect, int index)
{
    QJsonObject o = circle(detect, index);
    o.insert("func_type", "flaw");
    o.insert("func_params", QJsonArray{20, 100, 3});
    return o;
}

QJsonArray baseSet()
{
    return QJsonArray{rect(0, 0, 100), rect(0, 1, 400), circle(1, 0)};
}

// The set with element i replaced by `replacement` (or removed when it is
// empty), or with `replacement` appended when i is past the end.
QJsonArray edited(QJsonArray set, int i, const QJsonObject& replacement)
{
    if (i >= set.size())
        set.append(replacement);
    else if (replacement.isEmpty())
        set.removeAt(i);
    else
        set.replace(i, replacement);
    return set;
}

}  // namespace

class RoiChangeReportTest : public paramdb::StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        db = std::make_unique<ParamDb>(dbFile());
        store = std::make_unique<CameraSingleton>(nullptr, 0);
        ASSERT_TRUE(store->LoadDtafromDB());
        QJsonArray set = baseSet();
        ASSERT_TRUE(store->setAllROIs(set));
    }
    void TearDown() override
    {
        store.reset();
        db.reset();
        StoreTest::TearDown();
    }
    QStringList compare(QJsonArray set) const { return store->compareRois(store->genRoisFromJson(set)); }

    std::unique_ptr<ParamDb> db;
    std::unique_ptr<CameraSingleton> store;
};

TEST_F(RoiChangeReportTest, IdenticalSetsGiveNoLines)
{
    EXPECT_TRUE(compare(baseSet()).isEmpty());
}

TEST_F(RoiChangeReportTest, EachKindOfChangeGivesItsLine)
{
    struct Case {
        const char* name;
        QJsonArray set;
        QStringList expected;
    };
    const QString step1 = "1号相机,第1检测";
    const QString step2 = "1号相机,第2检测";
    const Case cases[] = {
        {"detector parameters only", edited(baseSet(), 1, rect(0, 1, 400, "flaw", {25, 100, 4})),
         {step1 + "修改了矩形区域2,功能是缺陷检测，灵敏度从20改为25，过滤尺寸从3改为4"}},
        {"moved only", edited(baseSet(), 0, rect(0, 0, 150)),
         {step1 + "修改了矩形区域1,功能是缺陷检测，检测位置被修改"}},
        {"moved and parameters", edited(baseSet(), 0, rect(0, 0, 150, "flaw", {20, 90, 3})),
         {step1 + "修改了矩形区域1,功能是缺陷检测，报警面积从100改为90，检测位置被修改"}},
        {"other detector", edited(baseSet(), 0, rect(0, 0, 100, "spot", {10, 5000, 0, 60})),
         {step1 + "修改了矩形区域1,功能从缺陷检测改为斑点检测，最小灰度为0，最大灰度为60，最小面积为10，最大面积为5000"}},
        {"circle moved", edited(baseSet(), 2, circle(1, 0, 601)),
         {step2 + "修改了圆形区域1,功能是斑点检测，检测位置被修改"}},
        {"rectangle became a circle", edited(baseSet(), 0, circleWithFlaw(0, 0)),
         {step1 + "修改了矩形区域1,功能是缺陷检测，检测位置被修改"}},
        {"added", edited(baseSet(), 3, circle(1, 6)),
         {step2 + "增加了圆形区域7,功能是斑点检测，最小灰度为0，最大灰度为60，最小面积为10，最大面积为5000"}},
        {"removed", edited(baseSet(), 2, QJsonObject()), {step2 + "减少了圆形区域1,功能是斑点检测"}},
        {"first of two deleted: pairs by position",
         edited(baseSet(), 0, QJsonObject()),
         {step1 + "修改了矩形区域1,功能是缺陷检测，检测位置被修改", step1 + "减少了矩形区域2,功能是缺陷检测"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare(c.set), c.expected) << c.name;
}

TEST_F(RoiChangeReportTest, RegionsWithoutADetectorAreComparedByTheirStoredForm)
{
    QJsonArray set = edited(baseSet(), 0, rect(0, 0, 100, "glow", {1, 2}));
    ASSERT_TRUE(store->setAllROIs(set));
    ASSERT_EQ(store->getRois(0).at(0)->getProcessor(), nullptr);

    EXPECT_TRUE(compare(set).isEmpty());
    EXPECT_EQ(compare(edited(set, 0, rect(0, 0, 100, "glow", {1, 3}))),
              QStringList{"1号相机,第1检测修改了矩形区域1,功能是glow"});
    EXPECT_EQ(compare(baseSet()),
              QStringList{"1号相机,第1检测修改了矩形区域1,功能从glow改为缺陷检测，灵敏度为20，报警面积为100，过滤尺寸为3"});
}

TEST_F(RoiChangeReportTest, OnlyStepsInUseAreComparedAndTheCameraIsCountedFromOne)
{
    gDNum = 1;
    EXPECT_TRUE(compare(edited(baseSet(), 2, QJsonObject())).isEmpty()) << "step 2 is not in use";

    QJsonArray base = baseSet();
    RoiSteps oldSet = store->genRoisFromJson(base);
    QJsonArray changed = edited(baseSet(), 0, rect(0, 0, 150));
    RoiSteps newSet = store->genRoisFromJson(changed);
    EXPECT_EQ(describeRoiChanges(oldSet, newSet, 2, 1),
              QStringList{"3号相机,第1检测修改了矩形区域1,功能是缺陷检测，检测位置被修改"});
    EXPECT_TRUE(describeRoiChanges(oldSet, oldSet, 0, 1).isEmpty());
}

