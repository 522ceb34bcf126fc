#pragma once
// Mask arithmetic shared by the detectors: the defect area of a 0/255 mask
// and the single-pass combinations of marks, shape mask and ignore mask that
// every marking detector needs. All of them work on the region's rectangle
// only; none allocates a frame-sized image.
#include <opencv2/core.hpp>

#include <vector>

// Sum of the areas of the outer contours of a 0/255 mask (holes are not
// subtracted); each contour's area is added to the running integer sum and
// truncated after every addition. A mask without contours, an empty mask or
// one that is not 8-bit single-channel gives 0.
int calArea(const cv::Mat& mask);

namespace detectormasks {

// out = 255 where lowGrey <= grey <= highGrey, inside the shape (nonzero in
// `shape`) and not ignored (zero in `ignore`), else 0. `grey`, `shape` and
// `ignore` are 8-bit single-channel of the same size; `ignore` may be empty
// (nothing ignored). `out` is (re)allocated only when its size or type differ,
// so a view into a larger image is written in place. Bounds outside 0..255 are
// honoured as integers (a band that misses 0..255 marks nothing).
void markGreyBand(const cv::Mat& grey, int lowGrey, int highGrey, const cv::Mat& shape,
                  const cv::Mat& ignore, cv::Mat& out);

// marks = marks AND shape AND NOT ignore, in place (bitwise, as the masks are
// 0/255). `ignore` may be empty. True when any pixel is still marked.
bool keepCountedPixels(cv::Mat& marks, const cv::Mat& shape, const cv::Mat& ignore);

// The kernel sides an operator may set ("s_filtersize", "h_minspot" and a
// flaw region's own filter size): 1 ... 100. The cost of a kernel grows with
// the square of its side, so a side is bounded wherever it is used and a
// stored value outside the range cannot stall a detection.
constexpr int kLeastKernelSide = 1;
constexpr int kMostKernelSide = 100;
int boundedKernelSide(int side);

// Morphological opening in place with an elliptic kernel of side x side
// pixels, the side bounded by boundedKernelSide; a side of 1 or less leaves
// the marks as they are. Sides above kLargestDrawnKernelSide open with the
// Euclidean disc of that diameter instead (it differs from the drawn
// ellipse only along its rim), whose cost does not grow with the side, so
// that a full-frame region opens within a frame period at any side. Side 3
// (the usual filter size) on a whole matrix gives exactly morphologyEx's
// result by passes of its own, through `scratch` when given: a buffer the
// caller keeps from run to run, so that the opening then allocates nothing.
constexpr int kLargestDrawnKernelSide = 31;
struct OpenScratch {
    cv::Mat eroded;
    std::vector<uchar> rowState;
};
void openMarks(cv::Mat& marks, int side, OpenScratch* scratch = nullptr);

// Keeps only the outer blobs whose filled contour covers at least `minPixels`
// pixels, each kept blob filled solid (its holes closed); the rest vanish.
void keepLargeBlobs(cv::Mat& marks, int minPixels);

// The grey pixels of an image crop: the crop itself when it already is 8-bit
// single-channel, else a grey conversion (RGBA for four channels, BGR for
// three) of the crop only. An empty or unsupported image gives an empty matrix.
cv::Mat greyOf(const cv::Mat& image);

// Whether `rect` is non-empty and lies wholly inside `image`.
bool rectInside(const cv::Rect& rect, const cv::Mat& image);

}  // namespace detectormasks
