// The media stand-in: a video-input channel delivers NV12 frames at 20 a
// second from a pool of three buffers; a bound encoder hands one stamped
// access unit per frame to the output callback on a thread of its own; the
// sensor shows a picture folder in a loop or the generated scene.
#include "platform/media/rkmedia.h"
#include "platform/media/sensorscene.h"
#include "platform/media/standincalls.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QThread>

#include <opencv2/imgcodecs.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Output {
    std::thread::id thread;
    uint64_t timestampUs = 0;
    bool annexB = false;
};

std::mutex g_outMutex;
std::vector<Output> g_outputs;

void collect(MEDIA_BUFFER mb)
{
    const auto* p = static_cast<const uint8_t*>(RK_MPI_MB_GetPtr(mb));
    const size_t n = RK_MPI_MB_GetSize(mb);
    Output o;
    o.thread = std::this_thread::get_id();
    o.timestampUs = RK_MPI_MB_GetTimestamp(mb);
    o.annexB = n > 4 && p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1;
    {
        std::lock_guard<std::mutex> lock(g_outMutex);
        g_outputs.push_back(o);
    }
    RK_MPI_MB_ReleaseBuffer(mb);
}

uint64_t nowUs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

TEST(RkMedia, InputAndBoundEncoderDeliverTwentyStampedFramesASecond)
{
    platform::StandInCalls::clearFailures();
    g_outputs.clear();
    ASSERT_EQ(RK_MPI_SYS_Init(), 0);
    VI_CHN_ATTR_S vi{"rkispp_scale0", 1920, 1080, IMAGE_TYPE_NV12, 3, VI_CHN_BUF_TYPE_MMAP, VI_WORK_MODE_NORMAL};
    ASSERT_EQ(RK_MPI_VI_SetChnAttr(0, 0, &vi), 0);
    ASSERT_EQ(RK_MPI_VI_EnableChn(0, 0), 0);
    VENC_CHN_ATTR_S venc{};
    venc.stVencAttr = {RK_CODEC_TYPE_H264, IMAGE_TYPE_NV12, 1920, 1080, 77, false, 1920, 1080, VENC_ROTATION_0, {}};
    venc.stRcAttr.enRcMode = VENC_RC_MODE_H264CBR;
    venc.stRcAttr.stH264Cbr = {30, 20, 1, 20, 1, 1920 * 1080};
    ASSERT_EQ(RK_MPI_VENC_CreateChn(0, &venc), 0);
    const MPP_CHN_S viChn{RK_ID_VI, 0, 0};
    const MPP_CHN_S vencChn{RK_ID_VENC, 0, 0};
    ASSERT_EQ(RK_MPI_SYS_RegisterOutCb(&vencChn, collect), 0);
    ASSERT_EQ(RK_MPI_SYS_Bind(&viChn, &vencChn), 0);
    EXPECT_NE(RK_MPI_SYS_Bind(&viChn, &vencChn), 0) << "one source per encoder";

    // Raw frames: whole NV12 pictures whose numbers advance.
    std::vector<uint32_t> numbers;
    for (int i = 0; i < 25; ++i) {
        MEDIA_BUFFER mb = RK_MPI_SYS_GetMediaBuffer(RK_ID_VI, 0, 1000);
        ASSERT_NE(mb, nullptr);
        MB_IMAGE_INFO_S info{};
        ASSERT_EQ(RK_MPI_MB_GetImageInfo(mb, &info), 0);
        EXPECT_EQ(info.u32Width, 1920u);
        EXPECT_EQ(info.u32Height, 1080u);
        EXPECT_EQ(info.enImgType, IMAGE_TYPE_NV12);
        EXPECT_EQ(RK_MPI_MB_GetSize(mb), size_t(1920 * 1080 * 3 / 2));
        const auto* p = static_cast<const uint8_t*>(RK_MPI_MB_GetPtr(mb));
        numbers.push_back(platform::SensorScene::readFrameNumber(p, 1920));
        EXPECT_EQ(platform::SensorScene::readFrameNumber(p + size_t(1079) * 1920, 1920), numbers.back());
        RK_MPI_MB_ReleaseBuffer(mb);
    }
    for (size_t i = 1; i < numbers.size(); ++i)
        EXPECT_GT(numbers[i], numbers[i - 1]);

    ASSERT_EQ(RK_MPI_SYS_UnBind(&viChn, &vencChn), 0);
    ASSERT_EQ(RK_MPI_VENC_DestroyChn(0), 0);
    ASSERT_EQ(RK_MPI_VI_DisableChn(0, 0), 0);
    EXPECT_EQ(RK_MPI_SYS_GetMediaBuffer(RK_ID_VI, 0, 10), nullptr) << "a disabled channel gives nothing";

    std::vector<Output> out;
    {
        std::lock_guard<std::mutex> lock(g_outMutex);
        out = g_outputs;
    }
    ASSERT_GE(out.size(), 5u);  // a busy machine makes the encoder skip frames
    const uint64_t now = nowUs();
    for (size_t i = 0; i < out.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(out[i].annexB);
        EXPECT_NE(out[i].thread, std::this_thread::get_id()) << "the encoder's own thread";
        EXPECT_EQ(out[i].thread, out[0].thread);
        EXPECT_LT(now - out[i].timestampUs, 5000000u) << "monotonic microseconds";
        if (i > 0) {
            const uint64_t step = out[i].timestampUs - out[i - 1].timestampUs;
            EXPECT_EQ(step % 50000, 0u) << "one period or a whole number of them";
            EXPECT_GT(step, 0u);
        }
    }
}

TEST(RkMedia, AnyCallCanBeMadeToFail)
{
    platform::StandInCalls::clearFailures();
    platform::StandInCalls::failCall("RK_MPI_VI_EnableChn", -7);
    ASSERT_EQ(RK_MPI_SYS_Init(), 0);
    VI_CHN_ATTR_S vi{"rkispp_scale0", 64, 32, IMAGE_TYPE_NV12, 3, VI_CHN_BUF_TYPE_MMAP, VI_WORK_MODE_NORMAL};
    EXPECT_EQ(RK_MPI_VI_SetChnAttr(0, 1, &vi), 0);
    EXPECT_EQ(RK_MPI_VI_EnableChn(0, 1), -7);
    EXPECT_EQ(RK_MPI_SYS_GetMediaBuffer(RK_ID_VI, 1, 10), nullptr);
    platform::StandInCalls::clearFailures();
    EXPECT_EQ(RK_MPI_VI_EnableChn(0, 1), 0);
    MEDIA_BUFFER mb = RK_MPI_SYS_GetMediaBuffer(RK_ID_VI, 1, 1000);
    ASSERT_NE(mb, nullptr);
    RK_MPI_MB_ReleaseBuffer(mb);
    EXPECT_EQ(RK_MPI_VI_DisableChn(0, 1), 0);
}

TEST(SensorScene, ShowsThePictureFolderInALoopOrTheGeneratedScene)
{
    testsupport::ScratchDir dir;
    const QString dark = dir.file("a_dark.png");
    const QString bright = dir.file("b_bright.png");
    ASSERT_TRUE(cv::imwrite(dark.toStdString(), cv::Mat(40, 80, CV_8UC3, cv::Scalar(10, 10, 10))));
    ASSERT_TRUE(cv::imwrite(bright.toStdString(), cv::Mat(40, 80, CV_8UC3, cv::Scalar(240, 240, 240))));
    dir.write("c_notes.txt", "not a picture");
    testsupport::ScratchDir empty;

    struct Case {
        const char* name;
        QString folder;
        bool fromFolder;
        const char* warning;
    };
    const Case cases[] = {
        {"folder", dir.path(), true, "skipped"},
        {"empty folder", empty.path(), false, "no readable picture"},
        {"missing folder", dir.file("nowhere"), false, "does not exist"},
        {"no folder", QString(), false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.folder.isNull())
            qunsetenv("ORVALE_SENSOR_IMAGES");
        else
            qputenv("ORVALE_SENSOR_IMAGES", c.folder.toLocal8Bit());
        testsupport::LogCapture log;
        const platform::SensorScene scene(64, 32);
        qunsetenv("ORVALE_SENSOR_IMAGES");
        EXPECT_EQ(scene.fromFolder(), c.fromFolder);
        if (c.warning) {
            EXPECT_TRUE(log.anyContains(c.warning));
        }
        std::vector<uint8_t> frame(size_t(scene.frameBytes()));
        if (c.fromFolder) {
            const int expected[] = {25, 222, 25};  // video-range luma of the pictures, in name order, looped
            for (int i = 0; i < 3; ++i) {
                scene.render(uint32_t(i), frame.data());
                EXPECT_NEAR(frame[64 * 16 + 32], expected[i], 8) << i;
            }
        } else {
            scene.render(1234567u, frame.data());
            EXPECT_EQ(platform::SensorScene::readFrameNumber(frame.data(), 64), 1234567u);
            EXPECT_EQ(platform::SensorScene::readFrameNumber(frame.data() + 31 * 64, 64), 1234567u);
        }
    }
}

}  // namespace

// The generated scene shows a part left in a cavity exactly while the file
// ORVALE_SENSOR_PART names exists: a dark blob where the cavity is bright.
TEST(SensorScene, PartFileLeavesAPartInACavityWhileItExists)
{
    testsupport::ScratchDir dir;
    const QString marker = dir.file("part");
    qputenv("ORVALE_SENSOR_PART", marker.toLocal8Bit());
    const platform::SensorScene scene(1920, 1080);
    qunsetenv("ORVALE_SENSOR_PART");
    const platform::SensorScene::Part part = scene.part();
    std::vector<uint8_t> frame(size_t(scene.frameBytes()));
    const auto centreLuma = [&](uint32_t number) {
        scene.render(number, frame.data());
        return int(frame[size_t(part.y) * 1920 + size_t(part.x)]);
    };
    EXPECT_GT(centreLuma(1), 100) << "an empty cavity";
    dir.write("part", "");
    EXPECT_LT(centreLuma(2), 60) << "a part in the cavity";
    ASSERT_TRUE(QFile::remove(marker));
    EXPECT_GT(centreLuma(3), 100) << "taken out again";
}
