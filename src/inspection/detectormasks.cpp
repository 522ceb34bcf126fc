#include "inspection/detectormasks.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <vector>

int calArea(const cv::Mat& mask)
{
    if (mask.empty() || mask.type() != CV_8UC1)
        return 0;
    // Outer contours only. Dropping the collinear points of a contour does not
    // change its polygon area, so the compressed chain gives the same sum as
    // keeping every point, with far fewer points to walk.
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    int area = 0;
    for (const auto& c : contours)
        area = static_cast<int>(area + cv::contourArea(c));
    return area;
}

namespace detectormasks {

namespace {

bool sameSizeMask(const cv::Mat& m, const cv::Size& size)
{
    return m.type() == CV_8UC1 && m.size() == size;
}

}  // namespace

void markGreyBand(const cv::Mat& grey, int lowGrey, int highGrey, const cv::Mat& shape,
                  const cv::Mat& ignore, cv::Mat& out)
{
    CV_Assert(grey.type() == CV_8UC1 && sameSizeMask(shape, grey.size()));
    CV_Assert(ignore.empty() || sameSizeMask(ignore, grey.size()));
    out.create(grey.size(), CV_8UC1);

    // A band that misses 0..255 marks nothing; otherwise it is cut to 0..255.
    if (lowGrey > highGrey || highGrey < 0 || lowGrey > 255) {
        out.setTo(0);
        return;
    }
    const uchar lo = static_cast<uchar>(std::max(lowGrey, 0));
    const uchar hi = static_cast<uchar>(std::min(highGrey, 255));
    const bool haveIgnore = !ignore.empty();

    for (int r = 0; r < grey.rows; ++r) {
        const uchar* g = grey.ptr<uchar>(r);
        const uchar* s = shape.ptr<uchar>(r);
        const uchar* ig = haveIgnore ? ignore.ptr<uchar>(r) : nullptr;
        uchar* o = out.ptr<uchar>(r);
        int c = 0;
#if CV_SIMD128
        const cv::v_uint8x16 vlo = cv::v_setall_u8(lo);
        const cv::v_uint8x16 vhi = cv::v_setall_u8(hi);
        for (; c + 16 <= grey.cols; c += 16) {
            const cv::v_uint8x16 v = cv::v_load(g + c);
            cv::v_uint8x16 m = (v >= vlo) & (v <= vhi) & cv::v_load(s + c);
            if (ig)
                m = m & ~cv::v_load(ig + c);
            cv::v_store(o + c, m);
        }
#endif
        for (; c < grey.cols; ++c) {
            const uchar inBand = (g[c] >= lo && g[c] <= hi) ? 0xFF : 0;
            const uchar notIgnored = ig ? static_cast<uchar>(~ig[c]) : 0xFF;
            o[c] = static_cast<uchar>(inBand & s[c] & notIgnored);
        }
    }
}

void keepCountedPixels(cv::Mat& marks, const cv::Mat& shape, const cv::Mat& ignore)
{
    CV_Assert(marks.type() == CV_8UC1 && sameSizeMask(shape, marks.size()));
    CV_Assert(ignore.empty() || sameSizeMask(ignore, marks.size()));
    const bool haveIgnore = !ignore.empty();
    for (int r = 0; r < marks.rows; ++r) {
        uchar* m = marks.ptr<uchar>(r);
        const uchar* s = shape.ptr<uchar>(r);
        const uchar* ig = haveIgnore ? ignore.ptr<uchar>(r) : nullptr;
        int c = 0;
#if CV_SIMD128
        for (; c + 16 <= marks.cols; c += 16) {
            cv::v_uint8x16 v = cv::v_load(m + c) & cv::v_load(s + c);
            if (ig)
                v = v & ~cv::v_load(ig + c);
            cv::v_store(m + c, v);
        }
#endif
        for (; c < marks.cols; ++c) {
            const uchar notIgnored = ig ? static_cast<uchar>(~ig[c]) : 0xFF;
            m[c] = static_cast<uchar>(m[c] & s[c] & notIgnored);
        }
    }
}

int boundedKernelSide(int side)
{
    return std::clamp(side, kLeastKernelSide, kMostKernelSide);
}

namespace {

// Opening by a Euclidean disc of diameter `side`, through two distance
// transforms: a pixel survives the erosion when its distance to the nearest
// unmarked pixel exceeds the radius, and the dilation marks every pixel
// within the radius of a survivor. Its cost does not grow with the side.
void openWithDisc(cv::Mat& marks, int side)
{
    const double radius = (side - 1) / 2.0;
    cv::Mat distance;
    cv::distanceTransform(marks, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::Mat notEroded;
    cv::compare(distance, radius, notEroded, cv::CMP_LE);  // 255 where the disc does not fit
    if (cv::countNonZero(notEroded) == int(notEroded.total())) {
        marks.setTo(0);
        return;
    }
    cv::distanceTransform(notEroded, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    cv::compare(distance, radius, marks, cv::CMP_LE);
}

}  // namespace

void openMarks(cv::Mat& marks, int side)
{
    side = boundedKernelSide(side);
    if (side <= 1 || marks.empty())
        return;
    if (side > kLargestDrawnKernelSide) {
        openWithDisc(marks, side);
        return;
    }
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(side, side));
    cv::morphologyEx(marks, marks, cv::MORPH_OPEN, kernel);
}

void keepLargeBlobs(cv::Mat& marks, int minPixels)
{
    if (marks.empty())
        return;
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(marks, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
    cv::Mat keep = cv::Mat::zeros(marks.size(), CV_8UC1);
    cv::Mat blob;
    for (auto& contour : contours) {
        // Filling a contour alone never reaches past its bounding box, so the
        // pixel count is taken on a box-sized image instead of a whole one.
        const cv::Rect box = cv::boundingRect(contour);
        blob.create(box.size(), CV_8UC1);
        blob.setTo(0);
        const cv::Point* pts = contour.data();
        const int n = static_cast<int>(contour.size());
        cv::fillPoly(blob, &pts, &n, 1, cv::Scalar(255), cv::LINE_8, 0, -box.tl());
        if (cv::countNonZero(blob) >= minPixels)
            cv::fillPoly(keep, &pts, &n, 1, cv::Scalar(255), cv::LINE_8);
    }
    if (marks.size() == keep.size() && marks.type() == keep.type())
        keep.copyTo(marks);
}

cv::Mat greyOf(const cv::Mat& image)
{
    if (image.empty() || image.depth() != CV_8U)
        return cv::Mat();
    switch (image.channels()) {
    case 1:
        return image;
    case 3: {
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_BGR2GRAY);
        return grey;
    }
    case 4: {
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_RGBA2GRAY);
        return grey;
    }
    default:
        return cv::Mat();
    }
}

bool rectInside(const cv::Rect& rect, const cv::Mat& image)
{
    return rect.width > 0 && rect.height > 0 && rect.x >= 0 && rect.y >= 0
        && rect.x + rect.width <= image.cols && rect.y + rect.height <= image.rows;
}

}  // namespace detectormasks
