// The detector and shape registry: every shape and detector by its type name,
// the default detector for an empty name, nothing for unknown names.
#include "inspection/pluginsmanager.h"

#include "inspection/customcircle.h"
#include "inspection/flawdetect.h"
#include "inspection/spotdetect.h"

#include "support/detectorfakes.h"

#include <gtest/gtest.h>

using namespace detectortest;

namespace {

TEST(PluginsManager, RegistersShapesAndDetectorsInOrder)
{
    PluginsManager registry;
    EXPECT_TRUE(registry.shapeTypes().isEmpty());
    EXPECT_TRUE(registry.processorNames().isEmpty());
    registry.loadPlugins();
    EXPECT_EQ(registry.shapeTypes(), (QStringList{"rect", "polygon", "circle"}));
    EXPECT_EQ(registry.processorNames(), (QStringList{"spot", "flaw", "ignore", "location"}));
    registry.loadPlugins();  // a second fill registers nothing twice
    EXPECT_EQ(registry.shapeTypes().size(), 3);
    EXPECT_EQ(registry.processorNames().size(), 4);
}

TEST(PluginsManager, ProcessWideInstanceIsMadeAndFilledOnFirstUse)
{
    PluginsManager* registry = PluginsManager::getInstance();
    ASSERT_NE(registry, nullptr);
    EXPECT_EQ(PluginsManager::instance, registry);
    EXPECT_EQ(PluginsManager::getInstance(), registry);
    EXPECT_EQ(registry->processorNames().size(), 4);
}

struct ProcessorCase {
    const char* name;
    QString asked;
    QString made;  // empty: none
};

class ProcessorByNameTest : public ::testing::TestWithParam<ProcessorCase> {};

TEST_P(ProcessorByNameTest, MakesANewDetectorByExactName)
{
    PluginsManager registry;
    registry.loadPlugins();
    std::unique_ptr<ProcessorInterface> p = registry.creatorNewProcessor(GetParam().asked);
    if (GetParam().made.isEmpty()) {
        EXPECT_EQ(p, nullptr);
        EXPECT_EQ(registry.getProcessor(GetParam().asked), nullptr);
        return;
    }
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->getName(), GetParam().made);
    EXPECT_NE(p.get(), registry.getProcessor(GetParam().made));  // a new object, not the prototype
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProcessorByNameTest,
    ::testing::Values(ProcessorCase{"spot", "spot", "spot"}, ProcessorCase{"flaw", "flaw", "flaw"},
                      ProcessorCase{"ignore", "ignore", "ignore"},
                      ProcessorCase{"location", "location", "location"},
                      ProcessorCase{"empty", "", "spot"}, ProcessorCase{"upperCase", "Flaw", ""},
                      ProcessorCase{"padded", " spot", ""}, ProcessorCase{"unknown", "edge", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginsManager, NewDetectorsHaveDefaultParametersNotThePrototypes)
{
    PluginsManager registry;
    registry.loadPlugins();
    ProcessorInterface* prototype = registry.getProcessor("flaw");
    ASSERT_NE(prototype, nullptr);
    EXPECT_EQ(registry.getProcessor("flaw"), prototype);  // the same prototype every time
    QJsonArray changed{1, 2, 3};
    prototype->initjs(changed);

    auto a = registry.creatorNewProcessor("flaw");
    auto b = registry.creatorNewProcessor("flaw");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.get(), b.get());
    QJsonArray params;
    a->savejs(params);
    EXPECT_EQ(params, (QJsonArray{45, 100, 3}));
    EXPECT_NE(dynamic_cast<FlawDetect*>(a.get()), nullptr);
}

TEST(PluginsManager, EmptyRegistryMakesNothing)
{
    PluginsManager registry;
    for (const QString& name : {QString(), QString("spot"), QString("flaw")})
        EXPECT_EQ(registry.creatorNewProcessor(name), nullptr);
    EXPECT_EQ(registry.createNewRoi("rect", nullptr, {}), nullptr);
}

struct ShapeCase {
    const char* name;
    QJsonObject json;
    cv::Rect imageRect;
};

class ShapeByTypeTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeByTypeTest, MakesARegionOnTheCameraFromItsStoredForm)
{
    FakeHub hub;
    FakeCamera camera;
    PluginsManager registry;
    registry.loadPlugins();
    const QJsonObject& json = GetParam().json;
    auto r = registry.createNewRoi(json.value("roi_type").toString(), &camera, json);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getRoiType(), json.value("roi_type").toString());
    EXPECT_EQ(r->getCamera(), &camera);
    EXPECT_EQ(r->getDetectIndex(), 1);
    EXPECT_EQ(r->getRoiIndex(), 2);
    EXPECT_EQ(r->getImageRect(), GetParam().imageRect);
    EXPECT_EQ(r->getMask().size(), GetParam().imageRect.size());
    ASSERT_NE(r->getProcessor(), nullptr);
    EXPECT_EQ(r->getProcessor()->getName(), json.value("func_type").toString());
    QJsonArray params;
    r->getProcessor()->savejs(params);
    EXPECT_EQ(params, json.value("func_params").toArray());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ShapeByTypeTest,
    ::testing::Values(ShapeCase{"rect", rectRegion(1, 2, cv::Rect(10, 20, 100, 50), "spot", {1, 2, 3, 4}),
                                cv::Rect(10, 20, 100, 50)},
                      ShapeCase{"circle", circleRegion(1, 2, {500, 400}, 0, 50, "flaw", {45, 100, 3}),
                                cv::Rect(450, 350, 100, 100)},
                      ShapeCase{"polygon",
                                polygonRegion(1, 2, {{100, 100}, {200, 100}, {150, 180}}, "location", {12}),
                                cv::Rect(100, 100, 100, 80)},
                      ShapeCase{"ignore", rectRegion(1, 2, cv::Rect(10, 20, 30, 30), "ignore", {}),
                                cv::Rect(10, 20, 30, 30)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PluginsManager, UnknownShapeTypesMakeNothing)
{
    FakeCamera camera;
    PluginsManager registry;
    registry.loadPlugins();
    const QJsonObject json = rectRegion(0, 0, cv::Rect(10, 10, 20, 20), "spot");
    for (const QString& type : {QString(), QString("Rect"), QString("ellipse")})
        EXPECT_EQ(registry.createNewRoi(type, &camera, json), nullptr) << type.toStdString();
}

TEST(PluginsManager, EmptyDetectorNameGivesASpotRegion)
{
    FakeHub hub;
    FakeCamera camera;
    auto r = makeRegion(camera, rectRegion(0, 0, cv::Rect(10, 10, 20, 20), "", {5, 6, 7, 8}));
    ASSERT_NE(r, nullptr);
    auto* spot = dynamic_cast<SpotDetect*>(r->getProcessor());
    ASSERT_NE(spot, nullptr);
    EXPECT_EQ(spot->minArea(), 5);
    EXPECT_EQ(spot->maxGray(), 8);
}

TEST(PluginsManager, UnknownDetectorNameLeavesTheRegionWithoutDetector)
{
    FakeHub hub;
    FakeCamera camera;
    auto r = makeRegion(camera, rectRegion(0, 0, cv::Rect(10, 10, 20, 20), "edge", {1}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->getProcessor(), nullptr);
    EXPECT_FALSE(r->isUsable());
    EXPECT_FALSE(r->getResult());
}

// Copies of a region for alarm images share its detector, which lives as
// long as the last of them (checked for leaks by the sanitizer build).
TEST(PluginsManager, SnapshotsShareTheDetector)
{
    FakeHub hub;
    FakeCamera camera;
    auto r = makeRegion(camera, circleRegion(0, 0, {100, 100}, 10, 40, "flaw"));
    ASSERT_NE(r, nullptr);
    std::weak_ptr<ProcessorInterface> detector = r->sharedProcessor();
    std::unique_ptr<RoiInterface> copy = r->snapshotCopy();
    EXPECT_EQ(copy->getProcessor(), r->getProcessor());
    r.reset();
    EXPECT_FALSE(detector.expired());
    EXPECT_NE(dynamic_cast<CustomCircle*>(copy.get()), nullptr);
    copy.reset();
    EXPECT_TRUE(detector.expired());
}

}  // namespace
