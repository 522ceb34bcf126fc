// The image store: frame conversion, the template files and their order,
// the count limit and trimming, the template and NG operations with their
// log lines, the care it takes of files it cannot use or change, and the
// alarm-image hand-over.
#include "inspection/cameraimage.h"

#include "camerafixtures.h"
#include "inspection/alarmimagesink.h"
#include "inspection/cammersingleton.h"
#include "inspection/camerastoreservices.h"
#include "support/detectorfakes.h"
#include "support/scratchdir.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

using namespace camerafixtures;

namespace {

const QString kDir1 = QStringLiteral("./cammer11");

QString step1(const QString& name)
{
    return kDir1 + QLatin1Char('/') + name;
}

// A small frame, two steps, "h_temp_count" 3, a scratch working directory.
class ImageStoreTest : public ::testing::Test {
protected:
    ImageStoreTest() : cwd(scratch.path()), frame(64, 48)
    {
        savedDNum = gDNum;
        gDNum = 2;
        hub.params.insert(QStringLiteral("h_temp_count"), 3);
    }
    ~ImageStoreTest() override { gDNum = savedDNum; }

    std::unique_ptr<CameraImage> makeStore(bool colour = false)
    {
        auto store = std::make_unique<CameraImage>(&params);
        store->initImage(colour);
        return store;
    }

    // Templates 00, 01, 02 of step 1, oldest to newest, grey 10, 20, 30.
    void writeThree()
    {
        for (int n = 0; n < 3; ++n)
            writeBmp(step1(CameraImage::templateName(n)), plainGrey(10 * (n + 1)), n * 60);
    }

    // Takes a frame of one grey as the snapshot.
    static void snapshot(CameraImage& store, int grey)
    {
        ASSERT_TRUE(feedFrame(store, plainGrey(grey)));
        store.updateShapeImage();
    }

    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd;
    detectortest::FrameSize frame;
    detectortest::FakeHub hub;
    CameraSingleton params{nullptr, 0};
    int32_t savedDNum = 0;
};

// --- names and the generated master --------------------------------------------

TEST(TemplateNames, TwoDigitNumbersInTheStepsDirectory)
{
    EXPECT_EQ(CameraImage::templateName(0), "template00.bmp");
    EXPECT_EQ(CameraImage::templateName(7), "template07.bmp");
    EXPECT_EQ(CameraImage::templateName(12), "template12.bmp");
    EXPECT_EQ(CameraImage::templatePath(0, "template00.bmp"), "./cammer11/template00.bmp");
    EXPECT_EQ(CameraImage::templatePath(3, "template05.bmp"), "./cammer14/template05.bmp");
}

TEST(GeneratedMaster, EmptyDirectoryGetsBlackWithCentredWhiteRectangle)
{
    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd(scratch.path());
    detectortest::FrameSize full(1920, 1080);
    detectortest::FakeHub hub;
    const int32_t savedDNum = gDNum;
    gDNum = 2;
    CameraSingleton params(nullptr, 0);
    CameraImage store(&params);
    store.initImage(false);
    gDNum = savedDNum;

    for (int d = 0; d < 2; ++d) {
        EXPECT_EQ(store.getTemplateNamelist(d), QStringList{"template00.bmp"});
        const QImage file(CameraImage::templatePath(d, "template00.bmp"));
        ASSERT_FALSE(file.isNull()) << d;
        EXPECT_EQ(file.format(), QImage::Format_Indexed8);
        EXPECT_EQ(file.size(), QSize(1920, 1080));
        const cv::Mat disk = readGrey(CameraImage::templatePath(d, "template00.bmp"));
        EXPECT_EQ(cv::countNonZero(disk), 960 * 540);
        EXPECT_EQ(cv::countNonZero(disk(cv::Rect(480, 270, 960, 540)) != 255), 0);
        EXPECT_TRUE(sameImage(disk, store.getFirstTemplate(d)));
    }
    EXPECT_EQ(gColorLen, 1920 * 1080);
}

TEST_F(ImageStoreTest, GeneratedMasterInColourLeavesTheFourthChannelZero)
{
    auto store = makeStore(true);
    EXPECT_EQ(gColorLen, 64 * 48 * 4);
    const cv::Mat master = store->getFirstTemplate(0);
    ASSERT_EQ(master.type(), CV_8UC4);
    EXPECT_EQ(master.at<cv::Vec4b>(24, 32), cv::Vec4b(255, 255, 255, 0));
    EXPECT_EQ(master.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 0));
    // Written as a 32-bit file, it is taken back in colour mode (the file
    // keeps no fourth channel).
    auto again = makeStore(true);
    EXPECT_EQ(again->getTemplateNamelist(0), QStringList{"template00.bmp"});
    cv::Mat before;
    cv::Mat after;
    cv::cvtColor(master, before, cv::COLOR_RGBA2RGB);
    cv::cvtColor(again->getFirstTemplate(0), after, cv::COLOR_RGBA2RGB);
    EXPECT_TRUE(sameImage(before, after));
}

// --- loading -------------------------------------------------------------------

TEST_F(ImageStoreTest, LoadPutsTheMasterFirstThenOldestToNewest)
{
    hub.params.insert(QStringLiteral("h_temp_count"), 5);
    writeBmp(step1("template03.bmp"), plainGrey(3), 0);
    writeBmp(step1("template00.bmp"), plainGrey(0), 60);
    writeBmp(step1("template01.bmp"), plainGrey(1), 120);
    auto store = makeStore();
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template03.bmp", "template01.bmp"}));
    EXPECT_EQ(store->getTemplateTimelist(0),
              (QStringList{"2023-05-01 08:01:00", "2023-05-01 08:00:00", "2023-05-01 08:02:00"}));
    EXPECT_EQ(store->getTemplateData(0, 1).at<uchar>(0, 0), 3);

    // Added since the load: at the end, under the lowest free number.
    snapshot(*store, 99);
    ASSERT_TRUE(store->addTemplate(0));
    EXPECT_EQ(store->getTemplateNamelist(0),
              (QStringList{"template00.bmp", "template03.bmp", "template01.bmp", "template02.bmp"}));
}

TEST_F(ImageStoreTest, LoadTrimsTheOldestFilesButNeverTheMaster)
{
    hub.params.insert(QStringLiteral("h_temp_count"), 2);
    writeThree();  // template00 is the oldest
    auto store = makeStore();
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template02.bmp"}));
    EXPECT_EQ(filesIn(kDir1), (QStringList{"template00.bmp", "template02.bmp"}));
}

TEST_F(ImageStoreTest, UnusableFilesAreSetAsideNeverDeleted)
{
    writeBmp(step1("template00.bmp"), plainGrey(5), 0);
    writeBmp(step1("template01.bmp"), cv::Mat(10, 10, CV_8UC1, cv::Scalar(1)), 60);      // wrong size
    writeBmp(step1("template02.bmp"), cv::Mat(48, 64, CV_8UC4, cv::Scalar(1, 2, 3, 0)), 120);  // colour
    scratch.write("cammer11/template03.bmp", QByteArray("not an image at all"));
    scratch.write("cammer11/template03.bmp.unreadable", QByteArray("set aside before"));
    detectortest::LogCapture log;
    auto store = makeStore();

    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_EQ(filesIn(kDir1), (QStringList{"template00.bmp", "template01.bmp.unreadable",
                                           "template02.bmp.unreadable", "template03.bmp.unreadable",
                                           "template03.bmp.unreadable.1"}));
    EXPECT_EQ(scratch.read("cammer11/template03.bmp.unreadable.1"), QByteArray("not an image at all"));
    EXPECT_TRUE(logged(log.messages(), "template01.bmp is 10 x 10"));
    EXPECT_TRUE(logged(log.messages(), "template03.bmp cannot be read"));

    // The next load finds only the master: nothing set aside takes part.
    auto again = makeStore();
    EXPECT_EQ(again->getTemplateNamelist(0), QStringList{"template00.bmp"});
}

TEST_F(ImageStoreTest, StepWithOnlyUnusableFilesGetsTheGeneratedMaster)
{
    scratch.write("cammer11/template00.bmp", QByteArray("broken"));
    auto store = makeStore();
    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_EQ(cv::countNonZero(store->getFirstTemplate(0)), 32 * 24);
    EXPECT_EQ(scratch.read("cammer11/template00.bmp.unreadable"), QByteArray("broken"));
}

// --- adding, the count limit and the free number -----------------------------------

TEST_F(ImageStoreTest, AddTrimsTheSecondTemplateAndReusesItsNumber)
{
    writeThree();
    auto store = makeStore();
    snapshot(*store, 77);
    ASSERT_TRUE(store->addTemplate(0));
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template02.bmp", "template01.bmp"}));
    EXPECT_EQ(store->getTemplateData(0, 2).at<uchar>(5, 5), 77);
    EXPECT_EQ(readGrey(step1("template01.bmp")).at<uchar>(5, 5), 77);
    EXPECT_EQ(readGrey(step1("template02.bmp")).at<uchar>(5, 5), 30);
    EXPECT_EQ(store->getTemplateTimelist(0).last(),
              QFileInfo(step1("template01.bmp")).lastModified().toString("yyyy-MM-dd hh:mm:ss"));
}

TEST_F(ImageStoreTest, AvailableIndexIsTheLowestFreeNumberBelowTheLimit)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    writeBmp(step1("template02.bmp"), plainGrey(2), 60);
    auto store = makeStore();
    EXPECT_EQ(store->getTemplateAvailableIndex(0), 1);
    hub.params.insert(QStringLiteral("h_temp_count"), 1);
    EXPECT_EQ(store->getTemplateAvailableIndex(0), -1);
    hub.params.insert(QStringLiteral("h_temp_count"), 0);
    EXPECT_EQ(store->getTemplateAvailableIndex(0), -1);
}

class TooFewTemplatesAllowed : public ImageStoreTest, public ::testing::WithParamInterface<QJsonValue> {};

TEST_P(TooFewTemplatesAllowed, AddIsRefusedBeforeAnythingIsTrimmed)
{
    writeThree();
    auto store = makeStore();
    if (GetParam().isUndefined())
        hub.params.remove(QStringLiteral("h_temp_count"));
    else
        hub.params.insert(QStringLiteral("h_temp_count"), GetParam());
    snapshot(*store, 50);
    detectortest::LogCapture log;
    EXPECT_FALSE(store->addTemplate(0));
    EXPECT_FALSE(store->addTemplateFromNG(0, 0));
    EXPECT_EQ(store->getTemplateCount(0), 3);
    EXPECT_EQ(filesIn(kDir1), (QStringList{"template00.bmp", "template01.bmp", "template02.bmp"}));
    EXPECT_TRUE(logged(log.messages(), "get template available index fail"));
}

INSTANTIATE_TEST_SUITE_P(Limits, TooFewTemplatesAllowed,
                         ::testing::Values(QJsonValue(0), QJsonValue(1), QJsonValue(-4),
                                           QJsonValue(QJsonValue::Undefined)));

TEST_F(ImageStoreTest, TrimWithoutAddingKeepsTheLimit)
{
    writeThree();
    auto store = makeStore();
    hub.params.insert(QStringLiteral("h_temp_count"), 1);
    EXPECT_TRUE(store->checkTemplateCount(0, false));
    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_EQ(filesIn(kDir1), QStringList{"template00.bmp"});
}

// --- index and step bounds ----------------------------------------------------------------

TEST_F(ImageStoreTest, IndexesOutsideTheListsAreRefusedWithTheirLogLines)
{
    writeThree();
    auto store = makeStore();
    snapshot(*store, 40);
    ASSERT_TRUE(store->addNGImage(0));

    struct Case {
        const char* what;
        std::function<bool()> call;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"data -1", [&] { return !store->getTemplateData(0, -1).empty(); }, "no exceeds list count"},
        {"data 3", [&] { return !store->getTemplateData(0, 3).empty(); }, "no exceeds list count"},
        {"delete -1", [&] { return store->deleteTemplate(0, -1); }, "no exceeds list count"},
        {"delete 3", [&] { return store->deleteTemplate(0, 3); }, "no exceeds list count"},
        {"ng -1", [&] { return store->addTemplateFromNG(0, -1); }, "no exceeds list count"},
        {"ng 1", [&] { return store->addTemplateFromNG(0, 1); }, "no exceeds list count"},
        {"step -1", [&] { return !store->getTemplateData(-1, 0).empty(); }, "detect exceeds gDNum"},
        {"step 2", [&] { return store->addTemplate(2); }, "detect exceeds gDNum"},
        {"ng step 2", [&] { return store->addTemplateFromNG(2, 0); }, "detect exceeds gDNum"},
        {"ng add step -1", [&] { return store->addNGImage(-1); }, "detect exceeds gDNum"},
        {"delete all step 9", [&] { return store->deleteAllTemplate(9); }, "detect exceeds gDNum"},
        {"retrain step 4", [&] { return store->SaveReTrainImage(4); }, "detect exceeds gDNum"},
        {"name", [&] { return !store->getTemplateData(0, QStringLiteral("template09.bmp")).empty(); },
         "\"template09.bmp\" template file is not find"},
    };
    for (const Case& c : cases) {
        detectortest::LogCapture log;
        EXPECT_FALSE(c.call()) << c.what;
        EXPECT_TRUE(logged(log.messages(), c.line)) << c.what;
    }
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template01.bmp", "template02.bmp"}));
    EXPECT_EQ(filesIn(kDir1).size(), 3);
}

// --- NG images ---------------------------------------------------------------------------------

TEST_F(ImageStoreTest, NgRingKeepsTheLastThreeAndFeedsTemplates)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    auto store = makeStore();
    for (int grey : {101, 102, 103, 104}) {
        snapshot(*store, grey);
        ASSERT_TRUE(store->addNGImage(0));
    }
    ASSERT_EQ(store->getNgCount(0), 3);
    EXPECT_EQ(store->getNgImage(0, 0).at<uchar>(0, 0), 102);
    EXPECT_EQ(store->getNgImage(0, 2).at<uchar>(0, 0), 104);
    EXPECT_EQ(store->getNgCount(1), 0);

    snapshot(*store, 7);  // the snapshot is not what the NG variant stores
    ASSERT_TRUE(store->addTemplateFromNG(0, 0));
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template01.bmp"}));
    EXPECT_EQ(store->getTemplateData(0, 1).at<uchar>(3, 3), 102);
    EXPECT_EQ(readGrey(step1("template01.bmp")).at<uchar>(3, 3), 102);

    store->reload_Dynamic_ImageSpace();
    EXPECT_EQ(store->getNgCount(0), 0);
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template01.bmp"}));
}

// --- deleting -------------------------------------------------------------------------------------

TEST_F(ImageStoreTest, DeletingTheMasterByNameMakesTheNextOneTheMaster)
{
    writeThree();
    auto store = makeStore();
    ASSERT_TRUE(store->deleteTemplate(0, QStringLiteral("template00.bmp")));
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template02.bmp"}));
    EXPECT_EQ(filesIn(kDir1), (QStringList{"template00.bmp", "template02.bmp"}));
    EXPECT_EQ(readGrey(step1("template00.bmp")).at<uchar>(0, 0), 20);  // formerly template01
    EXPECT_EQ(store->getFirstTemplate(0).at<uchar>(0, 0), 20);
}

TEST_F(ImageStoreTest, DeletingByNameNeverTakesTheLastTemplate)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    auto store = makeStore();
    EXPECT_FALSE(store->deleteTemplate(0, QStringLiteral("template00.bmp")));
    EXPECT_EQ(store->getTemplateCount(0), 1);
    EXPECT_TRUE(QFileInfo::exists(step1("template00.bmp")));
}

TEST_F(ImageStoreTest, DeletingAMissingNameLogsIt)
{
    writeThree();
    auto store = makeStore();
    detectortest::LogCapture log;
    EXPECT_FALSE(store->deleteTemplate(0, QStringLiteral("template07.bmp")));
    EXPECT_TRUE(logged(log.messages(), "\"template07.bmp\" template file is not find"));
    EXPECT_EQ(store->getTemplateCount(0), 3);
}

TEST_F(ImageStoreTest, DeletingByIndexGuardsAndRenamesLikeByName)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    writeBmp(step1("template03.bmp"), plainGrey(3), 60);
    auto store = makeStore();
    ASSERT_TRUE(store->deleteTemplate(0, 0));
    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_EQ(filesIn(kDir1), QStringList{"template00.bmp"});
    EXPECT_EQ(readGrey(step1("template00.bmp")).at<uchar>(0, 0), 3);

    EXPECT_FALSE(store->deleteTemplate(0, 0));  // the last one stays
    EXPECT_EQ(store->getTemplateCount(0), 1);
    EXPECT_TRUE(QFileInfo::exists(step1("template00.bmp")));
}

TEST_F(ImageStoreTest, DeletingAllKeepsTheLastAsTheMaster)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    writeBmp(step1("template02.bmp"), plainGrey(2), 60);
    writeBmp(step1("template05.bmp"), plainGrey(5), 120);
    hub.params.insert(QStringLiteral("h_temp_count"), 6);
    auto store = makeStore();
    ASSERT_TRUE(store->deleteAllTemplate(0, false));
    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_EQ(filesIn(kDir1), QStringList{"template00.bmp"});
    EXPECT_EQ(readGrey(step1("template00.bmp")).at<uchar>(0, 0), 5);
    EXPECT_EQ(store->getFirstTemplate(0).at<uchar>(0, 0), 5);
}

TEST_F(ImageStoreTest, ANewMasterWhoseFileWentMissingIsWrittenFromMemory)
{
    writeThree();
    auto store = makeStore();
    ASSERT_TRUE(QFile::remove(step1("template01.bmp")));  // gone behind the store's back
    ASSERT_TRUE(store->deleteTemplate(0, QStringLiteral("template00.bmp")));
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template02.bmp"}));
    EXPECT_EQ(filesIn(kDir1), (QStringList{"template00.bmp", "template02.bmp"}));
    EXPECT_EQ(readGrey(step1("template00.bmp")).at<uchar>(0, 0), 20);
}

TEST_F(ImageStoreTest, ADeletedTemplateStaysReadableWhileAViewHoldsIt)
{
    writeThree();
    auto store = makeStore();
    const cv::Mat held = store->getTemplateData(0, 1);
    ASSERT_TRUE(store->deleteTemplate(0, QStringLiteral("template01.bmp")));
    EXPECT_EQ(held.at<uchar>(47, 63), 20);
}

// --- files that cannot be changed -------------------------------------------------------------------

TEST_F(ImageStoreTest, AFileThatCannotBeRemovedStopsTheTrimWithMemoryAndDiskAgreeing)
{
    writeThree();
    auto store = makeStore();
    // template01.bmp becomes a folder with content: it cannot be removed.
    ASSERT_TRUE(QFile::remove(step1("template01.bmp")));
    scratch.write("cammer11/template01.bmp/keep", QByteArray("x"));
    snapshot(*store, 60);
    detectortest::LogCapture log;
    EXPECT_FALSE(store->addTemplate(0));
    EXPECT_EQ(store->getTemplateNamelist(0), (QStringList{"template00.bmp", "template01.bmp", "template02.bmp"}));
    EXPECT_TRUE(logged(log.messages(), "could not be removed"));
    EXPECT_FALSE(store->deleteTemplate(0, QStringLiteral("template01.bmp")));
    EXPECT_EQ(store->getTemplateCount(0), 3);
}

TEST_F(ImageStoreTest, ATemplateThatCannotBeSavedIsNotKept)
{
    writeBmp(step1("template00.bmp"), plainGrey(1), 0);
    auto store = makeStore();
    scratch.write("cammer11/template01.bmp/keep", QByteArray("x"));  // in the way of the new file
    snapshot(*store, 60);
    detectortest::LogCapture log;
    EXPECT_FALSE(store->addTemplate(0));
    EXPECT_EQ(store->getTemplateNamelist(0), QStringList{"template00.bmp"});
    EXPECT_TRUE(logged(log.messages(), "not written"));
}

// --- retrain -------------------------------------------------------------------------------------------

TEST_F(ImageStoreTest, RetrainWritesTheCurrentFrameOverTheFirstTemplate)
{
    writeThree();
    auto store = makeStore();
    ASSERT_TRUE(feedFrame(*store, plainGrey(123)));
    ASSERT_TRUE(store->SaveReTrainImage(0));
    EXPECT_EQ(store->getShpaeImage().at<uchar>(1, 1), 123);
    EXPECT_EQ(store->getFirstTemplate(0).at<uchar>(1, 1), 123);
    EXPECT_EQ(readGrey(step1("template00.bmp")).at<uchar>(1, 1), 123);
    EXPECT_EQ(store->getTemplateData(0, 1).at<uchar>(1, 1), 20);
}

// --- frames ----------------------------------------------------------------------------------------------

TEST_F(ImageStoreTest, GreyModeKeepsTheLumaPlane)
{
    auto store = makeStore(false);
    EXPECT_EQ(store->rawBufferLength(), 64 * 48 * 3 / 2);
    EXPECT_EQ(store->getImageDataLen(), 64 * 48 * 3 / 2);
    const cv::Mat part = detectortest::partImage(64, 48);
    ASSERT_TRUE(feedFrame(*store, part));
    EXPECT_LE(cv::norm(store->getWorkImage(), part, cv::NORM_INF), 1.0);
    // The snapshot follows only when a step runs.
    EXPECT_EQ(cv::countNonZero(store->getShpaeImage()), 0);
    store->updateShapeImage();
    EXPECT_LE(cv::norm(store->getShpaeImage(), part, cv::NORM_INF), 1.0);
}

TEST_F(ImageStoreTest, ColourModeReadsTheChromaPairsAsVThenU)
{
    auto store = makeStore(true);
    cv::Mat bgr(48, 64, CV_8UC3, cv::Scalar(0, 0, 0));
    bgr(cv::Rect(0, 0, 32, 48)).setTo(cv::Scalar(40, 60, 200));   // red-ish on the left
    bgr(cv::Rect(32, 0, 32, 48)).setTo(cv::Scalar(180, 90, 30));   // blue-ish on the right
    ASSERT_TRUE(feedFrame(*store, bgr));
    const cv::Mat work = store->getWorkImage();
    ASSERT_EQ(work.type(), CV_8UC4);
    const cv::Vec4b left = work.at<cv::Vec4b>(20, 10);
    const cv::Vec4b right = work.at<cv::Vec4b>(20, 50);
    // R, G, B, A.
    EXPECT_NEAR(left[0], 200, 4);
    EXPECT_NEAR(left[1], 60, 4);
    EXPECT_NEAR(left[2], 40, 4);
    EXPECT_EQ(left[3], 255);
    EXPECT_NEAR(right[0], 30, 4);
    EXPECT_NEAR(right[2], 180, 4);
}

TEST_F(ImageStoreTest, AnotherFormatTagIsOneGreyPlane)
{
    auto store = makeStore(false);
    store->setPixelFormat(pixelFormatTag('G', 'R', 'E', 'Y'));
    EXPECT_EQ(store->getImageDataLen(), 64 * 48);
    std::memset(store->rawBuffer(), 0, size_t(store->rawBufferLength()));
    std::memset(store->rawBuffer(), 200, 64 * 48 / 2);  // upper half bright
    detectortest::LogCapture log;
    store->updateImageData();
    EXPECT_TRUE(log.contains("<updateImageData>: V4L2_PIX_FMT_GREY false"));
    EXPECT_EQ(store->getWorkImage().at<uchar>(0, 0), 200);
    EXPECT_EQ(store->getWorkImage().at<uchar>(47, 0), 0);
}

// --- alarm images -------------------------------------------------------------------------------------------

class RecordingSink : public AlarmImageSink {
public:
    RecordingSink() { setInstance(this); }
    ~RecordingSink() override { setInstance(nullptr); }
    void save2FailImage(cv::Mat image, int camera, int detect, bool ng) override
    {
        this->image = image.clone();
        calls << QStringLiteral("image %1 %2 %3").arg(camera).arg(detect).arg(int(ng));
    }
    void save2MaskCache(cv::Mat mask, int camera, int detect, bool ng) override
    {
        this->mask = mask.clone();
        calls << QStringLiteral("mask %1 %2 %3").arg(camera).arg(detect).arg(int(ng));
    }
    void save2Roi(QVector<RoiInterface*> rois, int camera, int detect) override
    {
        regions = rois.size();
        calls << QStringLiteral("rois %1 %2").arg(camera).arg(detect);
    }
    cv::Mat image;
    cv::Mat mask;
    int regions = -1;
    QStringList calls;
};

TEST_F(ImageStoreTest, AlarmImageIsTheSnapshotInItsOwnFormatWithTheCountedMask)
{
    struct Case { bool colour; int type; };
    for (const Case& c : {Case{false, CV_8UC1}, Case{true, CV_8UC4}}) {
        auto store = makeStore(c.colour);
        snapshot(*store, 90);
        params.getIgnoreMask(1)(cv::Rect(0, 0, 8, 8)).setTo(255);
        RecordingSink sink;
        store->SaveImageMem(1, true);
        EXPECT_EQ(sink.calls, (QStringList{"image 0 1 1", "mask 0 1 1", "rois 0 1"})) << c.colour;
        ASSERT_EQ(sink.image.type(), c.type) << c.colour;
        if (!c.colour) {
            EXPECT_EQ(sink.image.at<uchar>(30, 30), 90);
        }
        EXPECT_EQ(sink.mask.at<uchar>(0, 0), 0) << c.colour;
        EXPECT_EQ(sink.mask.at<uchar>(30, 30), 255) << c.colour;
        EXPECT_EQ(sink.regions, 0) << c.colour;
    }
}

// --- Qt and OpenCV images --------------------------------------------------------------------------------------

TEST(ImageConversions, RoundTripsAndUnknownTypes)
{
    cv::Mat grey(3, 5, CV_8UC1);
    cv::randu(grey, 0, 255);
    const QImage qGrey = Mat2QImage(grey);
    EXPECT_EQ(qGrey.format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(sameImage(QImage2cvMat(qGrey), grey));

    cv::Mat bgr(4, 6, CV_8UC3, cv::Scalar(10, 20, 30));
    const QImage colour = Mat2QImage(bgr);
    EXPECT_EQ(colour.format(), QImage::Format_RGB888);
    EXPECT_EQ(colour.pixel(0, 0), qRgb(30, 20, 10));
    EXPECT_TRUE(sameImage(QImage2cvMat(colour), bgr));

    cv::Mat rgba(2, 2, CV_8UC4, cv::Scalar(1, 2, 3, 4));
    EXPECT_TRUE(sameImage(QImage2cvMat(Mat2QImage(rgba)), rgba));

    EXPECT_TRUE(Mat2QImage(cv::Mat(2, 2, CV_16UC1)).isNull());
    EXPECT_TRUE(QImage2cvMat(QImage(2, 2, QImage::Format_Mono)).empty());
    // The matrix owns its bytes: the image it came from may go.
    QImage filled(4, 4, QImage::Format_ARGB32);
    filled.fill(qRgba(1, 2, 3, 4));
    const cv::Mat kept = QImage2cvMat(filled);
    filled = QImage();
    ASSERT_EQ(kept.type(), CV_8UC4);
    EXPECT_EQ(kept.at<cv::Vec4b>(3, 3), cv::Vec4b(3, 2, 1, 4));
}

}  // namespace
