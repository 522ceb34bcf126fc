// One detection step end to end, as the camera program runs it: PARAM.db
// with a step's regions (location, flaw, ignore, spot), the step's master
// template on disk, a 1920 x 1080 NV12 frame in the shared capture buffer
// copied into the image store, the sequencer's run, the verdict, the result
// mask and its packed bytes.
#include "camerafixtures.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "inspection/maskpacking.h"
#include "capture/aiqcontrol.h"
#include "platform/media/capturebuffer.h"
#include "support/detectorfakes.h"

#include <QMutex>
#include <QMutexLocker>

#include <gtest/gtest.h>

#include <cstring>

using namespace camerafixtures;
using detectortest::rectRegion;

namespace {

const cv::Rect kFlaw(600, 300, 700, 450);
const cv::Rect kIgnore(1100, 600, 150, 120);  // inside the flaw region
const cv::Rect kLocation(300, 200, 300, 250);
const cv::Rect kSpot(1400, 100, 200, 150);
const cv::Point kDefect(800, 450);      // in the flaw region, not ignored
const cv::Point kIgnored(1170, 660);    // in the ignored part
const int kRadius = 15;

bool bitSet(const QByteArray& packed, int x, int y)
{
    const int64_t k = int64_t(y) * gImageW + x;
    return (uchar(packed.at(int(k / 8))) >> (k % 8)) & 1;
}

class DetectionEndToEnd : public ::testing::Test {
protected:
    DetectionEndToEnd() : isp(AiqControl::WithoutPipeline{}, false, 1920, 1080)
    {
        hub.params.insert("h_temp_count", 3);
        hub.params.insert("s_sport_correction", true);
        hub.params.insert("h_mostskewing", 30);
        gAiqControl = &isp;
        part = detectortest::partImage(1920, 1080);
        CameraRig::writeMaster(1, part);
        rig.storeRegions({rectRegion(1, 0, kSpot, "spot", {0, 50, 0, 5}),
                          rectRegion(1, 1, kFlaw, "flaw", {45, 50, 3}),
                          rectRegion(1, 2, kIgnore, "ignore"),
                          rectRegion(1, 3, kLocation, "location", {10})});
        rig.make();
    }
    ~DetectionEndToEnd() override { gAiqControl = nullptr; }

    // The capture side delivers the frame; the hub copies it under the
    // frame-buffer mutex and the step runs on it.
    void detect(const cv::Mat& picture)
    {
        const std::vector<uint8_t> frame = rawFrame(picture);
        ASSERT_EQ(int(frame.size()), platform::captureBufferSize());
        CameraImage& image = *rig.camera->cameraImage();
        {
            QMutexLocker lock(&frameMutex);
            std::memcpy(gImageThread, frame.data(), frame.size());
        }
        {
            QMutexLocker lock(&frameMutex);
            std::memcpy(image.rawBuffer(), gImageThread, size_t(image.getImageDataLen()));
        }
        image.updateImageData();
        rig.camera->cameraRecong()->Run(1);
    }

    detectortest::FakeHub hub;
    AiqControl isp;
    QMutex frameMutex;
    CameraRig rig;
    cv::Mat part;
};

TEST_F(DetectionEndToEnd, PlantedDefectIsNgAndMarkedWhileTheCleanFrameIsOk)
{
    Camera& camera = *rig.camera;
    CameraSingleton& store = *camera.cameraSingleton();
    // Location first, then the stored order without it.
    const RoiHandles run = camera.cameraRecong()->execSequence(1);
    ASSERT_EQ(run.size(), 4);
    EXPECT_EQ(run[0]->getProcessorName(), "location");

    const cv::Mat clean = detectortest::withNoise(part, 2);
    detect(clean);
    EXPECT_TRUE(camera.getResult());
    EXPECT_EQ(cv::countNonZero(store.getResultMask()), 0);
    const QByteArray cleanBytes = MatMask01Compress2Bytes(store.getResultMask());
    EXPECT_EQ(cleanBytes.size(), 1920 * 1080 / 8);
    EXPECT_EQ(cleanBytes.count('\0'), cleanBytes.size());
    // The scope covers the spot, flaw and ignore regions, not the location.
    EXPECT_EQ(store.getMaskScope(), cv::Rect(600, 100, 1600 - 600, 750 - 100));

    cv::Mat defective = clean.clone();
    cv::circle(defective, kDefect, kRadius, cv::Scalar(10), cv::FILLED);
    cv::circle(defective, kIgnored, kRadius, cv::Scalar(10), cv::FILLED);
    detect(defective);
    EXPECT_FALSE(camera.getResult());
    const cv::Mat mask = store.getResultMask();
    ASSERT_EQ(mask.size(), cv::Size(1920, 1080));
    EXPECT_EQ(mask.at<uchar>(kDefect), 255);
    const cv::Rect around(kDefect.x - kRadius - 3, kDefect.y - kRadius - 3, 2 * kRadius + 7, 2 * kRadius + 7);
    EXPECT_GT(cv::countNonZero(mask(around)), 600);
    EXPECT_EQ(cv::countNonZero(mask), cv::countNonZero(mask(around)));  // nothing else, not the ignored blob
    EXPECT_EQ(mask.at<uchar>(kIgnored), 0);

    const QByteArray packed = MatMask01Compress2Bytes(mask);
    ASSERT_EQ(packed.size(), 1920 * 1080 / 8);
    EXPECT_TRUE(bitSet(packed, kDefect.x, kDefect.y));
    EXPECT_FALSE(bitSet(packed, kIgnored.x, kIgnored.y));
    EXPECT_FALSE(bitSet(packed, 0, 0));

    // The next clean frame is OK again.
    detect(clean);
    EXPECT_TRUE(camera.getResult());
    EXPECT_EQ(cv::countNonZero(store.getResultMask()), 0);
}

}  // namespace
