// Detection on the latest frame: the result unit of a detection and of a
// training pass, the frame copy under the frame-buffer mutex, and the NG of
// every detection that cannot keep its promise (no fresh frame, a step that
// does not exist), with its warning in the log files.
#include "hub/hubrig.h"

#include "flow/flowworkevent.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "support/logcapture.h"

#include <QRegularExpression>

#include <atomic>
#include <thread>

using hubtest::HubRig;

namespace {

cv::Mat rawOf(DiVuVarude& hub)
{
    CameraImage* image = hub.camera()->cameraImage();
    return cv::Mat(1, image->getImageDataLen(), CV_8UC1, image->rawBuffer());
}

}  // namespace

TEST(HubDetectionTest, ADetectionFillsTheUnitWithTheVerdictOfTheFrameJustDelivered)
{
    HubRig rig;
    testsupport::LogCapture log;
    SCollect_Unit unit;
    unit.collect_time = 77;
    unit.detect_model = 3;
    rig.deliver(rig.part);
    rig.hub->RunAlgorithm_New(1, unit);
    EXPECT_TRUE(unit.is_valid);
    EXPECT_TRUE(unit.result) << "the clean part";
    EXPECT_EQ(unit.detect, 1);
    EXPECT_EQ(unit.calculate_times, 1);
    EXPECT_GE(unit.calculate_time, 0);
    EXPECT_EQ(unit.collect_time, 77) << "not touched";
    EXPECT_EQ(unit.detect_model, 3) << "not touched";
    ASSERT_EQ(rig.manager.snapshots.size(), 1);
    EXPECT_EQ(rig.manager.snapshots[0].rows, 1080);

    rig.deliver(rig.defective());
    rig.hub->RunAlgorithm_New(1, unit);
    EXPECT_TRUE(unit.is_valid);
    EXPECT_FALSE(unit.result) << "the defect in the flaw region";
    EXPECT_EQ(unit.calculate_times, 2);
    const QRegularExpression line("^<RunAlgorithm_New>: \\+ RunAlgorithm Finish use_time_ms: (\\d+)$");
    QStringList finished;
    for (const QString& m : log.messages())
        if (line.match(m).hasMatch())
            finished << line.match(m).captured(1);
    ASSERT_EQ(finished.size(), 2);
    EXPECT_EQ(finished.last().toInt(), unit.calculate_time) << "the second run's time";
    EXPECT_TRUE(log.reachesLogFiles("+ RunAlgorithm Finish"));
}

TEST(HubDetectionTest, TrainingStoresTheFrameAsTheFirstTemplateAndFillsOnlyItsFields)
{
    HubRig rig;
    testsupport::LogCapture log;
    cv::Mat shown(1080, 1920, CV_8UC1, cv::Scalar(60));
    rig.deliver(shown);
    SCollect_Unit unit;
    rig.hub->RunTrain_New(1, unit);
    EXPECT_FALSE(unit.is_valid) << "never filled";
    EXPECT_EQ(unit.calculate_times, 0);
    EXPECT_EQ(unit.detect, 1);
    EXPECT_TRUE(unit.result);
    EXPECT_GE(unit.calculate_time, 0);
    const cv::Mat first = cv::imread(CameraImage::templatePath(1, "template00.bmp").toStdString(), cv::IMREAD_GRAYSCALE);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(cv::countNonZero(first != 60), 0) << "the step's first template holds the frame";
    EXPECT_TRUE(log.contains(QStringLiteral("<RunTrain_New>: RunTrain Finish use_time_ms: %1").arg(unit.calculate_time)));
    EXPECT_TRUE(rig.manager.snapshots.isEmpty());
}

TEST(HubDetectionTest, WithoutAFreshFrameNothingRunsAndTheVerdictIsNGOneRecordPerOutage)
{
    HubRig rig;
    rig.deliver(rig.part);
    SCollect_Unit unit;
    rig.hub->RunAlgorithm_New(1, unit);
    ASSERT_TRUE(unit.result) << "the frozen sensor's last frame is a clean part";

    testsupport::LogCapture log;
    gFPS.store(0);
    for (int i = 0; i < 2; ++i) {
        rig.hub->RunAlgorithm_New(1, unit);
        EXPECT_FALSE(unit.is_valid);
        EXPECT_FALSE(unit.result) << "a stale frame never passes";
        EXPECT_EQ(unit.calculate_time, 0);
        EXPECT_EQ(unit.calculate_times, 1) << "unchanged";
    }
    EXPECT_EQ(rig.manager.snapshots.size(), 1) << "no snapshot of a stale frame";
    SCollect_Unit train;
    rig.hub->RunTrain_New(1, train);
    EXPECT_FALSE(train.result);
    EXPECT_EQ(log.count("no fresh frame for detection 1 (gFPS 0 ): nothing run, judged NG"), 3) << "a warning each time";
    EXPECT_TRUE(log.reachesLogFiles("no fresh frame for detection 1"));
    EXPECT_EQ(rig.records(), "相机无新画面，检测判为NG|system") << "one record for the outage";

    gFPS.store(20);
    rig.hub->RunAlgorithm_New(1, unit);
    EXPECT_TRUE(unit.is_valid);
    gFPS.store(0);
    rig.hub->RunAlgorithm_New(1, unit);
    EXPECT_EQ(rig.records(), "相机无新画面，检测判为NG|system\n相机无新画面，检测判为NG|system") << "a new outage";
}

TEST(HubDetectionTest, UntilTheFirstFrameRateAfterStartEveryDetectionIsNG)
{
    HubRig rig;
    gFPS.store(0);
    rig.deliver(rig.part);
    SCollect_Unit unit;
    rig.hub->RunAlgorithm_New(1, unit);
    EXPECT_FALSE(unit.is_valid);
    EXPECT_FALSE(unit.result);
}

TEST(HubDetectionTest, AStepThatDoesNotExistRunsNothingAndIsNG)
{
    HubRig rig;
    rig.deliver(rig.part);
    gDNum = 2;
    for (int detect : {-1, 2, 3, 4, 7}) {
        testsupport::LogCapture log;
        SCollect_Unit unit;
        unit.is_valid = true;
        unit.result = true;
        rig.hub->RunAlgorithm_New(detect, unit);
        EXPECT_FALSE(unit.is_valid) << detect;
        EXPECT_FALSE(unit.result) << detect;
        EXPECT_EQ(unit.calculate_times, 0) << detect;
        SCollect_Unit train;
        train.result = true;
        rig.hub->RunTrain_New(detect, train);
        EXPECT_FALSE(train.result) << detect;
        EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("detection %1 does not exist").arg(detect))) << detect;
    }
    EXPECT_TRUE(rig.manager.snapshots.isEmpty());
    gDNum = 6;
    SCollect_Unit unit;
    unit.result = true;
    rig.hub->RunAlgorithm_New(4, unit);
    EXPECT_FALSE(unit.result) << "the engine has four steps whatever gDNum says";
}

TEST(HubDetectionTest, TheCopyNeverMixesTwoFrames)
{
    HubRig rig;
    const int length = platform::captureBufferSize();
    {
        QMutexLocker lock(pMutex);
        std::memset(gImageThread, 0x10, size_t(length));
    }
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            QMutexLocker lock(pMutex);
            std::memset(gImageThread, i % 2 ? 0xF0 : 0x10, size_t(length));
        }
    });
    int mixed = 0;
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(rig.hub->updateImageData());
        double lo = 0, hi = 0;
        cv::minMaxLoc(rawOf(*rig.hub), &lo, &hi);
        mixed += lo != hi ? 1 : 0;
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(mixed, 0) << "copies that mix two frames";
}

TEST(HubDetectionTest, AMissingBufferOrOneOfAnotherLengthCopiesNothing)
{
    HubRig rig;
    rig.deliver(cv::Mat(1080, 1920, CV_8UC1, cv::Scalar(33)));
    ASSERT_TRUE(rig.hub->updateImageData());
    struct Case { int width; int height; };
    for (const Case c : {Case{0, 0}, Case{640, 480}}) {
        {
            QMutexLocker lock(pMutex);
            platform::allocateCaptureBuffer(c.width, c.height);
            if (gImageThread)
                std::memset(gImageThread, 200, size_t(platform::captureBufferSize()));
        }
        testsupport::LogCapture log;
        EXPECT_FALSE(rig.hub->updateImageData()) << c.width;
        double lo = 0, hi = 0;
        cv::minMaxLoc(rawOf(*rig.hub).colRange(0, 1920 * 1080), &lo, &hi);
        EXPECT_EQ(lo, 33) << "nothing copied";
        EXPECT_EQ(hi, 33) << "nothing copied";
        SCollect_Unit unit;
        rig.hub->RunAlgorithm_New(1, unit);
        EXPECT_FALSE(unit.result);
        EXPECT_TRUE(log.reachesLogFiles("no frame copied"));
    }
    QMutexLocker lock(pMutex);
    platform::allocateCaptureBuffer(1920, 1080);
}
