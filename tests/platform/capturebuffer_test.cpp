// The shared capture buffer: one NV12 frame of the size it is made for.
#include "platform/media/capturebuffer.h"

#include <gtest/gtest.h>

namespace {

TEST(CaptureBuffer, HoldsOneNv12FrameOfTheGivenSize)
{
    EXPECT_EQ(platform::allocateCaptureBuffer(1920, 1080), 3110400);
    ASSERT_NE(gImageThread, nullptr);
    EXPECT_EQ(platform::captureBufferSize(), 3110400);
    gImageThread[3110400 - 1] = 9;  // the whole frame is writable
    uint8_t* const kept = gImageThread;
    EXPECT_EQ(platform::allocateCaptureBuffer(1920, 1080), 3110400);
    EXPECT_EQ(gImageThread, kept) << "a buffer of the same length is kept";

    EXPECT_EQ(platform::captureBufferLength(1920, 1080), 3110400);
    EXPECT_EQ(platform::captureBufferLength(3, 3), 13);  // truncated
    EXPECT_EQ(platform::captureBufferLength(0, 1080), 0);
    EXPECT_EQ(platform::captureBufferLength(-2, 4), 0);
    EXPECT_EQ(platform::allocateCaptureBuffer(4, 2), 12);
    EXPECT_EQ(platform::allocateCaptureBuffer(0, 0), 0);
    EXPECT_EQ(gImageThread, nullptr);
    EXPECT_EQ(platform::captureBufferSize(), 0);
}

}  // namespace
