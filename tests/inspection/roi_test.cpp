#include "inspection/customcircle.h"
#include "inspection/custompolygon.h"
#include "inspection/customrect.h"
#include "inspection/processorinterface.h"
#include "inspection/roi.h"

#include "support/fakehubservices.h"
#include "support/fakeroicamera.h"

#include <QImage>
#include <QJsonDocument>
#include <QPainter>

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <vector>

namespace {

QJsonObject regionJson(const QString& type, const QJsonArray& infos, const QString& func = "spot",
                       const QJsonArray& params = {100, 400, 5, 60}, int detect = 0, int roi = 0)
{
    return QJsonObject{{"detect_index", detect}, {"roi_index", roi},    {"roi_type", type},
                       {"roi_infos", infos},     {"func_type", func}, {"func_params", params}};
}

template <class Shape>
std::unique_ptr<Shape> read(const QJsonObject& json, RoiCameraAccess* camera = nullptr)
{
    auto region = std::make_unique<Shape>();
    region->setCamera(camera);
    region->initFromJson(json);
    return region;
}

QJsonObject written(const RoiInterface& region)
{
    QJsonObject o;
    region.saveToJson(o);
    return o;
}

QString text(const QJsonValue& v)
{
    return QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
}

bool sameMask(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

// The ring as drawn on its own 2r x 2r matrix, before any clipping.
cv::Mat fullRing(int inner, int outer)
{
    cv::Mat m = cv::Mat::zeros(2 * outer, 2 * outer, CV_8UC1);
    cv::circle(m, cv::Point(outer, outer), outer, cv::Scalar(255), cv::FILLED, cv::LINE_8);
    cv::circle(m, cv::Point(outer, outer), inner, cv::Scalar(0), cv::FILLED, cv::LINE_8);
    return m;
}

class RoiTest : public ::testing::Test {
protected:
    testsupport::FakeHubServices hub;
    testsupport::FakeRoiCamera camera;
};

}  // namespace

TEST_F(RoiTest, RectangleWritesTheSixKeysWithWidthAndHeightMinusOne)
{
    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "spot", {100, 400, 5, 60}, 2, 4));
    EXPECT_EQ(region->roiParam(), QRect(QPoint(10, 20), QPoint(109, 69)));
    EXPECT_EQ(region->getImageRect(), cv::Rect(10, 20, 100, 50));
    EXPECT_TRUE(sameMask(region->getMask(), cv::Mat(50, 100, CV_8UC1, cv::Scalar(255))));

    const QJsonObject o = written(*region);
    EXPECT_EQ(o.keys(), (QStringList{"detect_index", "func_params", "func_type", "roi_index", "roi_infos", "roi_type"}));
    EXPECT_EQ(o.value("detect_index").toInt(), 2);
    EXPECT_EQ(o.value("roi_index").toInt(), 4);
    EXPECT_EQ(o.value("roi_type").toString(), "rect");
    EXPECT_EQ(text(o.value("roi_infos")), "[[10,20,99,49]]");
    EXPECT_EQ(o.value("func_type").toString(), "spot");
    EXPECT_EQ(text(o.value("func_params")), "[[100,400,5,60]]");
    EXPECT_TRUE(region->isUsable());
    EXPECT_TRUE(hub.records.isEmpty());
}

TEST_F(RoiTest, RectangleIsClampedNormalisedGivenAMinimumSizeAndClippedToTheFrame)
{
    struct Case {
        const char* name;
        QJsonArray infos;
        QRect stored;     // corners as read; what is written back and compared
        cv::Rect image;   // the working rectangle, inside the frame
    };
    auto corners = [](int l, int t, int r, int b) { return QRect(QPoint(l, t), QPoint(r, b)); };
    const std::vector<Case> cases = {
        {"inside", {10, 20, 99, 49}, corners(10, 20, 109, 69), cv::Rect(10, 20, 100, 50)},
        {"corners outside are clamped (margin 3)", {-100, -100, 5000, 5000}, corners(3, 3, 1917, 1077),
         cv::Rect(3, 3, 1915, 1075)},
        {"x below 3 and y at 1 become 3", {0, 1, 10, 10}, corners(3, 3, 10, 11), cv::Rect(3, 3, 8, 9)},
        {"a width of 2 gets right = left + 4", {100, 100, 2, 50}, corners(100, 100, 104, 150),
         cv::Rect(100, 100, 5, 51)},
        {"a negative size is normalised", {200, 300, -50, -60}, corners(150, 240, 200, 300),
         cv::Rect(150, 240, 51, 61)},
        {"x = 1917 ends at 1921, clipped at the frame", {1917, 500, 10, 10}, corners(1917, 500, 1921, 510),
         cv::Rect(1917, 500, 3, 11)},
        {"y = 1077 ends at 1081, clipped at the frame", {500, 1077, 10, 10}, corners(500, 1077, 510, 1081),
         cv::Rect(500, 1077, 11, 3)},
        {"not numbers read as 0", {"a", QJsonValue(), 20.5, 30}, corners(3, 3, 7, 30), cv::Rect(3, 3, 5, 28)},
        {"missing entries read as 0", {}, corners(3, 3, 7, 7), cv::Rect(3, 3, 5, 5)},
    };
    for (const Case& c : cases) {
        auto region = read<CustomRect>(regionJson("rect", c.infos));
        EXPECT_EQ(region->roiParam(), c.stored) << c.name;
        EXPECT_EQ(region->getImageRect(), c.image) << c.name;
        EXPECT_TRUE(sameMask(region->getMask(), cv::Mat(c.image.size(), CV_8UC1, cv::Scalar(255)))) << c.name;
        const QRect& s = c.stored;
        EXPECT_EQ(written(*region).value("roi_infos").toArray(),
                  (QJsonArray{s.left(), s.top(), s.right() - s.left(), s.bottom() - s.top()}))
            << c.name;
        EXPECT_TRUE(region->isUsable()) << c.name;
    }
}

TEST_F(RoiTest, CircleIsAStoredRingOfInnerAndOuterRadius)
{
    auto disc = read<CustomCircle>(regionJson("circle", {500, 400, 0, 50}));
    EXPECT_EQ(disc->getImageRect(), cv::Rect(450, 350, 100, 100));
    EXPECT_TRUE(sameMask(disc->getMask(), fullRing(0, 50)));
    EXPECT_EQ(disc->getMask().at<uchar>(50, 50), 0) << "inner radius 0 clears only the centre pixel";
    EXPECT_EQ(disc->getMask().at<uchar>(50, 51), 255);
    EXPECT_EQ(disc->getMask().at<uchar>(0, 0), 0);

    auto ring = read<CustomCircle>(regionJson("circle", {500, 400, 20, 50}));
    EXPECT_TRUE(sameMask(ring->getMask(), fullRing(20, 50)));
    EXPECT_EQ(ring->getMask().at<uchar>(50, 60), 0);
    EXPECT_EQ(ring->getMask().at<uchar>(50, 80), 255);
    EXPECT_EQ(text(written(*ring).value("roi_infos")), "[[500,400,20,50]]") << "inner radius before outer";
    EXPECT_EQ(written(*ring).value("roi_type").toString(), "circle");

    // The centre is clamped like any coordinate; the radii are not.
    auto clamped = read<CustomCircle>(regionJson("circle", {-20, 2000, 5, 10}));
    EXPECT_EQ(text(written(*clamped).value("roi_infos")), "[[3,1077,5,10]]");
}

TEST_F(RoiTest, CircleAtTheFrameEdgeIsClippedAndItsMaskCroppedToMatch)
{
    struct Case {
        QJsonArray infos;
        cv::Rect image;
        cv::Rect cropOfFullMask;
    };
    const std::vector<Case> cases = {
        {{1900, 540, 10, 50}, cv::Rect(1850, 490, 70, 100), cv::Rect(0, 0, 70, 100)},
        {{3, 3, 0, 50}, cv::Rect(0, 0, 53, 53), cv::Rect(47, 47, 53, 53)},
        {{960, 1070, 30, 60}, cv::Rect(900, 1010, 120, 70), cv::Rect(0, 0, 120, 70)},
    };
    for (const Case& c : cases) {
        auto circle = read<CustomCircle>(regionJson("circle", c.infos));
        EXPECT_EQ(circle->getImageRect(), c.image) << text(c.infos).toStdString();
        const int inner = c.infos.at(2).toInt(), outer = c.infos.at(3).toInt();
        EXPECT_TRUE(sameMask(circle->getMask(), fullRing(inner, outer)(c.cropOfFullMask)))
            << text(c.infos).toStdString();
        EXPECT_EQ(written(*circle).value("roi_infos").toArray(), c.infos) << "stored geometry stays as read";
        EXPECT_TRUE(circle->isUsable());
    }
}

TEST_F(RoiTest, RegionsWithoutAWorkingRectangleAreReportedAndUnusable)
{
    struct Case {
        const char* name;
        QString type;
        QJsonArray infos;
    };
    const std::vector<Case> cases = {
        {"negative outer radius", "circle", {500, 400, 0, -50}},
        {"negative inner radius", "circle", {500, 400, -5, 50}},
        {"outer radius 0", "circle", {500, 400, 0, 0}},
        {"one vertex", "polygon", {QJsonArray{100, 100}}},
        {"vertices on one vertical line", "polygon", {QJsonArray{100, 100}, QJsonArray{100, 200}, QJsonArray{100, 150}}},
        {"no vertices", "polygon", {}},
    };
    for (const Case& c : cases) {
        hub.records.clear();
        const QJsonObject json = regionJson(c.type, c.infos, "spot", {100, 400, 5, 60}, 1, 2);
        std::unique_ptr<ROI> region;
        if (c.type == "circle")
            region = read<CustomCircle>(json);
        else
            region = read<CustomPolygon>(json);
        const cv::Rect rect = region->getImageRect();
        EXPECT_TRUE(rect.width <= 0 || rect.height <= 0) << c.name;
        EXPECT_TRUE(region->getMask().empty()) << c.name;
        EXPECT_FALSE(region->isUsable()) << c.name;
        EXPECT_FALSE(ProcessorInterface::regionUsable(region.get())) << c.name;
        ASSERT_EQ(hub.records.size(), 1) << c.name;
        EXPECT_EQ(hub.records[0].text, QString("警告：2号检测3号区域的宽或高无效，请重新调整区域大小")) << c.name;
        EXPECT_EQ(hub.records[0].type, "system");
        EXPECT_EQ(written(*region).value("roi_infos").toArray(), c.infos) << c.name << ": kept as read";
    }
}

TEST_F(RoiTest, PolygonMaskIsFilledFromItsVerticesInsideTheImageRectangle)
{
    const QJsonArray triangle = {QJsonArray{100, 100}, QJsonArray{300, 100}, QJsonArray{100, 250}};
    auto polygon = read<CustomPolygon>(regionJson("polygon", triangle));
    // Right and bottom are one less than the largest vertex coordinate.
    EXPECT_EQ(polygon->getImageRect(), cv::Rect(100, 100, 200, 150));
    cv::Mat expected = cv::Mat::zeros(150, 200, CV_8UC1);
    const std::vector<cv::Point> shifted = {{0, 0}, {200, 0}, {0, 150}};
    cv::fillPoly(expected, std::vector<std::vector<cv::Point>>{shifted}, cv::Scalar(255), cv::LINE_8);
    EXPECT_TRUE(sameMask(polygon->getMask(), expected));
    EXPECT_EQ(text(written(*polygon).value("roi_infos")), "[[[100,100],[300,100],[100,250]]]");
    EXPECT_EQ(written(*polygon).value("roi_type").toString(), "polygon");

    // Vertices spanning two columns give a mask one column wide, no warning.
    auto thin = read<CustomPolygon>(
        regionJson("polygon", {QJsonArray{10, 10}, QJsonArray{11, 10}, QJsonArray{11, 20}, QJsonArray{10, 20}}));
    EXPECT_EQ(thin->getImageRect(), cv::Rect(10, 10, 1, 10));
    EXPECT_EQ(thin->getMask().cols, 1);
    EXPECT_GT(cv::countNonZero(thin->getMask()), 0);
    EXPECT_TRUE(hub.records.isEmpty());

    // Vertices are clamped like any coordinate.
    auto clamped = read<CustomPolygon>(regionJson("polygon", {QJsonArray{-5, 5000}, QJsonArray{2500, 1}}));
    EXPECT_EQ(text(written(*clamped).value("roi_infos")), "[[[3,1077],[1917,3]]]");
}

TEST_F(RoiTest, PolygonBeyondItsPointBoundIsKeptAsReadAndNotInspected)
{
    auto points = [](int n) {
        QJsonArray a;
        for (int i = 0; i < n; ++i)
            a.append(QJsonArray{100 + i % 500, 100 + (i / 500) * 20});
        return a;
    };
    auto atBound = read<CustomPolygon>(regionJson("polygon", points(CustomPolygon::kMaxPoints)));
    EXPECT_EQ(int(atBound->points().size()), CustomPolygon::kMaxPoints);
    EXPECT_FALSE(atBound->isUnknownType());

    const QJsonObject json = regionJson("polygon", points(CustomPolygon::kMaxPoints + 1));
    auto beyond = read<CustomPolygon>(json);
    EXPECT_TRUE(beyond->isUnknownType());
    EXPECT_FALSE(beyond->isUsable());
    EXPECT_EQ(beyond->getProcessor(), nullptr);
    EXPECT_TRUE(beyond->getMask().empty());
    beyond->setResult(true);
    EXPECT_FALSE(beyond->getResult());
    EXPECT_EQ(written(*beyond), json);
}

TEST_F(RoiTest, UnknownDetectorTypeIsKeptAsReadWithoutADetectorAndAnswersNg)
{
    QJsonObject json = regionJson("rect", {10, 20, 99, 49}, "blob", {1, 2, 3}, 1, 5);
    json.insert("from_a_newer_version", QJsonArray{"kept"});
    auto region = read<CustomRect>(json);
    EXPECT_TRUE(region->isUnknownType());
    EXPECT_FALSE(region->isUsable());
    EXPECT_EQ(region->getProcessor(), nullptr);
    EXPECT_EQ(region->sharedProcessor(), nullptr);
    EXPECT_EQ(region->getProcessorName(), "blob");
    EXPECT_FALSE(ProcessorInterface::regionUsable(region.get()));
    region->setResult(true);
    EXPECT_FALSE(region->getResult());
    EXPECT_EQ(written(*region), json);

    // Moved to another step, it follows there and keeps everything else.
    region->setRoiDetectIndex(3);
    QJsonObject moved = json;
    moved.insert("detect_index", 3);
    EXPECT_EQ(written(*region), moved);

    // A copy (store, step copy) is just as unusable and keeps the same form.
    auto copy = region->createNewROI(&camera, true);
    EXPECT_TRUE(copy->isUnknownType());
    EXPECT_EQ(written(*copy), moved);
    EXPECT_TRUE(hub.records.isEmpty()) << "not a size problem";
}

TEST_F(RoiTest, UnknownShapeIsKeptAsReadWithoutADetectorAndAnswersNg)
{
    QJsonObject json = regionJson("hexagon", {QJsonArray{1, 2}, "x"}, "spot", {1, 2}, 2, 7);
    auto region = ROI::createUnknownShape(&camera, json);
    EXPECT_TRUE(region->isUnknownType());
    EXPECT_FALSE(region->isUsable());
    EXPECT_EQ(region->getRoiType(), "hexagon");
    EXPECT_EQ(region->getDetectIndex(), 2);
    EXPECT_EQ(region->getRoiIndex(), 7);
    EXPECT_EQ(region->getProcessor(), nullptr);
    EXPECT_FALSE(region->getResult());
    const cv::Rect rect = region->getImageRect();
    EXPECT_TRUE(rect.width <= 0 || rect.height <= 0);
    EXPECT_EQ(written(*region), json);
    auto copy = region->createNewROI(&camera, true);
    EXPECT_EQ(copy->getRoiType(), "hexagon");
    EXPECT_EQ(written(*copy), json);
    QString unused;
    EXPECT_TRUE(region->isEqual(copy.get(), unused));
    EXPECT_FALSE(region->isEqual(read<CustomRect>(regionJson("rect", {1, 2, 3, 4})).get(), unused));
}

TEST_F(RoiTest, EmptyDetectorTypeGivesTheDefaultSpotDetector)
{
    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "", {}));
    ASSERT_NE(region->getProcessor(), nullptr);
    EXPECT_EQ(region->getProcessor()->getName(), "spot");
    EXPECT_FALSE(region->isUnknownType());
    EXPECT_TRUE(region->isUsable());
}

TEST_F(RoiTest, WriteThenReadKeepsGeometryAndDetectorButNotTheLastResult)
{
    const std::vector<QJsonObject> forms = {
        regionJson("rect", {10, 20, 99, 49}, "spot", {100, 400, 5, 60}, 1, 3),
        regionJson("polygon", {QJsonArray{100, 100}, QJsonArray{300, 120}, QJsonArray{150, 250}}, "flaw",
                   {30, 77, 5}, 2, 0),
        regionJson("circle", {600, 500, 10, 80}, "ignore", {}, 0, 1),
        regionJson("rect", {700, 300, 200, 100}, "location", {12}, 3, 2),
    };
    for (const QJsonObject& form : forms) {
        const QString type = form.value("roi_type").toString();
        std::unique_ptr<ROI> original;
        if (type == "rect")
            original = read<CustomRect>(form, &camera);
        else if (type == "polygon")
            original = read<CustomPolygon>(form, &camera);
        else
            original = read<CustomCircle>(form, &camera);
        original->setResult(false);
        original->setArea(1234);
        original->setResultDescription("NG");

        auto copy = original->createNewROI(&camera, true);
        EXPECT_EQ(copy->getRoiType(), type);
        EXPECT_EQ(copy->getCamera(), &camera);
        EXPECT_EQ(written(*copy), form) << type.toStdString() << " " << form.value("func_type").toString().toStdString();
        QString unused;
        EXPECT_TRUE(copy->isEqual(original.get(), unused));
        EXPECT_TRUE(copy->getResult());
        EXPECT_EQ(copy->getArea(), 0);
        EXPECT_TRUE(copy->getResultDescription().isEmpty());
        ASSERT_NE(copy->getProcessor(), nullptr);
        EXPECT_NE(copy->getProcessor(), original->getProcessor()) << "a copy gets its own detector";

        auto blank = original->createNewROI(&camera, false);
        EXPECT_EQ(blank->getRoiType(), type);
        EXPECT_EQ(blank->getProcessor(), nullptr);
        EXPECT_FALSE(blank->isUsable());
    }
}

TEST_F(RoiTest, SnapshotSharesTheDetectorAndOutlivesTheLiveRegion)
{
    auto live = read<CustomCircle>(regionJson("circle", {500, 400, 10, 50}, "spot"), &camera);
    live->setResult(false);
    live->setArea(42);
    std::unique_ptr<RoiInterface> snapshot = live->snapshotCopy();
    EXPECT_EQ(snapshot->getProcessor(), live->getProcessor());
    EXPECT_EQ(snapshot->getRoiType(), "circle");
    EXPECT_EQ(snapshot->getArea(), 42);
    EXPECT_FALSE(snapshot->getResult());

    // Re-reading the live region replaces its detector; the snapshot keeps
    // the one it shares, and still has it after the live region is gone.
    ProcessorInterface* before = live->getProcessor();
    live->initFromJson(regionJson("circle", {500, 400, 10, 50}, "flaw", {45, 100, 3}));
    EXPECT_NE(live->getProcessor(), before);
    live.reset();
    ASSERT_EQ(snapshot->getProcessor(), before);
    EXPECT_EQ(snapshot->getProcessor()->getName(), "spot");
    EXPECT_EQ(written(*snapshot).value("func_type").toString(), "spot");
}

TEST_F(RoiTest, ResultDescriptionCarriesTheRegionNumberFromOne)
{
    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "spot", {}, 0, 2));
    region->setResultDescription("NG");
    EXPECT_EQ(region->getResultDescription(), "3:NG");
    auto first = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "spot", {}, 0, 0));
    first->setResultDescription("OK");
    EXPECT_EQ(first->getResultDescription(), "1:OK");
}

TEST_F(RoiTest, GeometryComparisonTellsShapesAndPositionsApart)
{
    auto rectA = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}));
    auto rectSame = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "flaw", {1, 2, 3}));
    auto rectMoved = read<CustomRect>(regionJson("rect", {11, 20, 99, 49}));
    const QJsonArray abc = {QJsonArray{100, 100}, QJsonArray{200, 100}, QJsonArray{100, 200}};
    const QJsonArray acb = {QJsonArray{100, 100}, QJsonArray{100, 200}, QJsonArray{200, 100}};
    auto polyA = read<CustomPolygon>(regionJson("polygon", abc));
    auto polySame = read<CustomPolygon>(regionJson("polygon", abc));
    auto polyReordered = read<CustomPolygon>(regionJson("polygon", acb));
    auto emptyA = read<CustomPolygon>(regionJson("polygon", {}));
    auto emptyB = read<CustomPolygon>(regionJson("polygon", {}));
    auto circleA = read<CustomCircle>(regionJson("circle", {500, 400, 10, 50}));
    auto circleSame = read<CustomCircle>(regionJson("circle", {500, 400, 10, 50}));
    auto circleInner = read<CustomCircle>(regionJson("circle", {500, 400, 11, 50}));

    struct Case {
        const char* name;
        const RoiInterface* a;
        const RoiInterface* b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"same rectangle, other detector", rectA.get(), rectSame.get(), true},
        {"rectangle moved by one", rectA.get(), rectMoved.get(), false},
        {"same polygon", polyA.get(), polySame.get(), true},
        {"same points in another order", polyA.get(), polyReordered.get(), false},
        {"two empty polygons", emptyA.get(), emptyB.get(), true},
        {"same circle", circleA.get(), circleSame.get(), true},
        {"other inner radius", circleA.get(), circleInner.get(), false},
        {"rectangle against circle", rectA.get(), circleA.get(), false},
        {"circle against polygon", circleA.get(), polyA.get(), false},
        {"no other region", rectA.get(), nullptr, false},
    };
    for (const Case& c : cases) {
        QString note = "untouched";
        EXPECT_EQ(c.a->isEqual(c.b, note), c.equal) << c.name;
        EXPECT_EQ(note, "untouched");
    }
}

TEST_F(RoiTest, SystemParametersComeFromTheHub)
{
    hub.params = QJsonObject{{"h_minspot", 5}, {"s_sport_correction", true}};
    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}));
    QJsonObject out{{"keep", 1}};
    EXPECT_TRUE(region->getSystemParam("h_minspot", out));
    EXPECT_EQ(out, (QJsonObject{{"keep", 1}, {"h_minspot", 5}}));
    EXPECT_FALSE(region->getSystemParam("h_missing", out));
    EXPECT_EQ(out, (QJsonObject{{"keep", 1}, {"h_minspot", 5}}));

    HubServices::setInstance(nullptr);
    QJsonObject none;
    EXPECT_FALSE(region->getSystemParam("h_minspot", none));
    EXPECT_TRUE(none.isEmpty());
}

TEST_F(RoiTest, CameraReadsUseTheRegionsDetectionStep)
{
    const cv::Mat t0(gImageH, gImageW, CV_8UC1, cv::Scalar(10));
    const cv::Mat t1(gImageH, gImageW, CV_8UC1, cv::Scalar(11));
    const cv::Mat other(gImageH, gImageW, CV_8UC1, cv::Scalar(99));
    camera.templates[2] = {t0, t1};
    camera.templates[0] = {other};
    camera.currentTemplateIndex = 1;
    camera.run = cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(5));

    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}, "spot", {}, 2, 0), &camera);
    EXPECT_EQ(region->getTemplateCount(), 2);
    EXPECT_EQ(region->getFirstTemplateImage().data, t0.data);
    EXPECT_EQ(region->getTemplateImage(1).data, t1.data);
    EXPECT_EQ(region->getTemplateImage().data, t1.data);
    EXPECT_TRUE(region->getTemplateImage(2).empty());
    EXPECT_EQ(region->getRunImage().data, camera.run.data);
    // The ignore mask is the camera's own: what a detector draws lands there.
    cv::Mat ignore = region->getIgnoreMask();
    ignore(cv::Rect(0, 0, 4, 4)).setTo(255);
    EXPECT_EQ(cv::countNonZero(camera.ignoreMask(2)), 16);
    EXPECT_EQ(cv::countNonZero(camera.ignoreMask(0)), 0);

    auto detached = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}));
    EXPECT_TRUE(detached->getIgnoreMask().empty());
    EXPECT_TRUE(detached->getTemplateImage().empty());
    EXPECT_TRUE(detached->getRunImage().empty());
    EXPECT_EQ(detached->getTemplateCount(), 0);
}

TEST_F(RoiTest, RunAndParamChangeMasksShareWhatTheCallerHandsIn)
{
    auto region = read<CustomRect>(regionJson("rect", {10, 20, 99, 49}));
    cv::Mat run(5, 5, CV_8UC1, cv::Scalar(1)), preview(3, 3, CV_8UC1, cv::Scalar(2));
    region->UpdateRunMask(run);
    region->UpdateParamChangeMask(preview);
    region->UpdateRunMask(region->getRunMask());
    EXPECT_EQ(region->getRunMask().data, run.data);
    EXPECT_EQ(region->getParamChangeMask().data, preview.data);
}

TEST_F(RoiTest, DrawSaveOutlinesInGreenWhenOkAndRedWhenNg)
{
    for (bool ok : {true, false}) {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(Qt::black);
        auto rect = read<CustomRect>(regionJson("rect", {50, 60, 99, 49}));
        auto circle = read<CustomCircle>(regionJson("circle", {300, 150, 0, 40}));
        rect->setResult(ok);
        circle->setResult(ok);
        rect->setResultDescription(ok ? "OK" : "NG");
        {
            QPainter painter(&image);
            rect->drawSave(painter, false);
            circle->drawSave(painter, true);
        }
        const QColor expected = ok ? QColor(Qt::green) : QColor(Qt::red);
        EXPECT_EQ(image.pixelColor(50, 80), expected) << "left edge of the rectangle";
        EXPECT_EQ(image.pixelColor(100, 100), QColor(Qt::black)) << "inside is not filled";
        bool circled = false;
        for (int y = 147; y <= 153; ++y)
            for (int x = 258; x <= 263; ++x)
                circled = circled || image.pixelColor(x, y) == expected;
        EXPECT_TRUE(circled) << "left of the circle";
        // The label sits in the 25 pixels above the shape.
        bool labelled = false;
        for (int y = 34; y < 59 && !labelled; ++y)
            for (int x = 50; x < 90 && !labelled; ++x)
                labelled = image.pixelColor(x, y) == expected;
        EXPECT_TRUE(labelled);
    }
}
