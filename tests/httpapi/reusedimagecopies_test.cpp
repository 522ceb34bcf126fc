// Copies for the image replies: never shared with the source nor with a copy
// still held elsewhere (also one held on another thread), and made into a
// released buffer again rather than into fresh memory.
#include "httpapi/reusedimagecopies.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

cv::Mat filled(int rows, int cols, int type, int seed)
{
    cv::Mat m(rows, cols, type);
    cv::randu(m, cv::Scalar::all(seed), cv::Scalar::all(seed + 50));
    return m;
}

bool same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size == b.size && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

TEST(ReusedImageCopiesTest, CopiesShareNothingWithTheSourceNorWithHeldCopies)
{
    struct Case {
        int rows, cols, type;
    };
    for (const Case c : {Case{1080, 1920, CV_8UC1}, Case{1080, 1920, CV_8UC3}, Case{3, 4, CV_8UC3}}) {
        SCOPED_TRACE(c.type);
        ReusedImageCopies copies(2);
        cv::Mat frame = filled(c.rows, c.cols, c.type, 10);
        const cv::Mat first = copies.copy(frame);
        const cv::Mat firstExpected = frame.clone();
        frame.setTo(cv::Scalar::all(200));  // the next frame overwrites the source in place
        EXPECT_TRUE(same(first, firstExpected)) << "the copy follows no later write to the source";

        // While `first` is held, further copies go elsewhere, also past the
        // number of kept buffers.
        std::vector<cv::Mat> held;
        for (int i = 0; i < 4; ++i) {
            frame = filled(c.rows, c.cols, c.type, 20 * i);
            held.push_back(copies.copy(frame));
            EXPECT_TRUE(same(held.back(), frame));
            EXPECT_TRUE(held.back().isContinuous());
        }
        EXPECT_TRUE(same(first, firstExpected)) << "a held copy is never written again";
    }
    ReusedImageCopies copies;
    EXPECT_TRUE(copies.copy(cv::Mat()).empty());
    // A view into a larger image: the copy holds the view's pixels only.
    const cv::Mat big = filled(20, 30, CV_8UC1, 0);
    const cv::Mat view = big(cv::Rect(3, 4, 10, 5));
    const cv::Mat c = copies.copy(view);
    EXPECT_TRUE(same(c, view));
    EXPECT_TRUE(c.isContinuous());
}

TEST(ReusedImageCopiesTest, ABufferReleasedOnAnotherThreadIsWrittenAgainInsteadOfNewMemory)
{
    ReusedImageCopies copies(2);
    const cv::Mat a = filled(1080, 1920, CV_8UC1, 1);
    const cv::Mat b = filled(1080, 1920, CV_8UC1, 100);
    cv::Mat first = copies.copy(a);
    const uchar* firstPixels = first.data;
    cv::Mat other = copies.copy(a);
    EXPECT_NE(other.data, firstPixels) << "a held buffer is not reused";

    // The holder reads the copy on another thread, then lets it go.
    int sum = 0;
    std::thread reader([held = std::move(first), &sum]() mutable {
        sum = int(cv::sum(held)[0] > 0);
        held.release();
    });
    reader.join();
    EXPECT_EQ(sum, 1);

    const cv::Mat again = copies.copy(b);
    EXPECT_EQ(again.data, firstPixels) << "the released buffer takes the next copy";
    EXPECT_TRUE(same(again, b));
    EXPECT_TRUE(same(other, a)) << "the buffer still held keeps its pixels";

    // Another shape replaces a free buffer rather than growing past the limit.
    other.release();
    const cv::Mat colour = filled(1080, 1920, CV_8UC3, 5);
    EXPECT_TRUE(same(copies.copy(colour), colour));
}
