#include "inspection/geometry.h"
#include "foundation/logmanager.h"

#include "inspection/hubservices.h"

#include <QDebug>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <opencv2/imgproc.hpp>

namespace {

constexpr int kMargin = 3;

// True when the pixel buffers of a and b overlap.
bool sharesPixels(const cv::Mat& a, const cv::Mat& b)
{
    if (a.empty() || b.empty())
        return false;
    return a.datastart < b.dataend && b.datastart < a.dataend;
}

int toleranceOf(int tolerance)
{
    return std::clamp(tolerance, 3, 50);
}

bool near(int a, int b, int t)
{
    return std::llabs(int64_t(a) - int64_t(b)) < t;
}

}  // namespace

bool MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy)
{
    if (src.rows <= 0)
        return true;
    if (dst.type() != src.type() || dst.rows < src.rows || dst.cols < src.cols) {
        qCWarning(level_1) << "MoveImage: destination" << dst.cols << "x" << dst.rows << "type" << dst.type()
                   << "cannot take source" << src.cols << "x" << src.rows << "type" << src.type();
        return false;
    }
    if (sharesPixels(src, dst))
        src = src.clone();  // a shift within one buffer would read what it already wrote

    const int rows = src.rows;
    const int cols = src.cols;
    const size_t pixel = src.elemSize();
    // Columns of dst that receive a source pixel: [first, last).
    const int64_t first = std::clamp<int64_t>(dx, 0, cols);
    const int64_t last = std::clamp<int64_t>(int64_t(cols) + dx, 0, cols);
    for (int r = 0; r < rows; ++r) {
        uchar* out = dst.ptr(r);
        const int64_t sr = int64_t(r) - dy;
        if (sr < 0 || sr >= rows || first >= last) {
            std::memset(out, 0, size_t(cols) * pixel);
            continue;
        }
        const uchar* in = src.ptr(int(sr));
        std::memset(out, 0, size_t(first) * pixel);
        std::memcpy(out + size_t(first) * pixel, in + size_t(first - dx) * pixel, size_t(last - first) * pixel);
        std::memset(out + size_t(last) * pixel, 0, size_t(cols - last) * pixel);
    }
    return true;
}

void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point center, double angle)
{
    if (src.empty())
        return;
    const cv::Mat copy = src.clone();
    const int d = int(std::max(copy.cols, copy.rows) * 1.414);
    const int padX = std::max(0, (d - copy.cols) / 2);
    const int padY = std::max(0, (d - copy.rows) / 2);

    cv::Mat padded;
    cv::copyMakeBorder(copy, padded, padY, padY, padX, padX, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::Mat moved(padded.size(), padded.type());
    MoveImage(padded, moved, shift.x, shift.y);

    const cv::Point2f pivot(float(center.x + padX), float(center.y + padY));
    const cv::Mat rotation = cv::getRotationMatrix2D(pivot, angle, 1.0);
    cv::Mat warped;
    cv::warpAffine(moved, warped, rotation, moved.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                   cv::Scalar::all(0));
    // copyTo keeps dst's own buffer when it already has this size and type,
    // so a dst that wraps a shared frame is corrected in place.
    warped(cv::Rect(padX, padY, copy.cols, copy.rows)).copyTo(dst);
}

void CheckInRange(int* value, int horizontal)
{
    if (!value)
        return;
    const int limit = horizontal ? gShowW : gShowH;
    if (*value < kMargin)
        *value = kMargin;
    else if (int64_t(*value) >= int64_t(limit) - 2)
        *value = limit - kMargin;
}

void CheckInRange(int* value, int horizontal, int /*width*/, int /*height*/)
{
    CheckInRange(value, horizontal);
}

void CheckInRange(QRect* rect, bool keepSize)
{
    if (!rect)
        return;
    int left = std::min(rect->left(), rect->right());
    int right = std::max(rect->left(), rect->right());
    int top = std::min(rect->top(), rect->bottom());
    int bottom = std::max(rect->top(), rect->bottom());
    if (!keepSize) {
        CheckInRange(&left, 1);
        CheckInRange(&right, 1);
        CheckInRange(&top, 0);
        CheckInRange(&bottom, 0);
        rect->setCoords(left, top, right, bottom);
        return;
    }
    // Move without resizing, in 64 bits so no extreme input can overflow.
    int64_t l = left, r = right, t = top, b = bottom;
    if (l < kMargin) { r += kMargin - l; l = kMargin; }
    if (t < kMargin) { b += kMargin - t; t = kMargin; }
    if (r >= int64_t(gShowW) - 2) { l -= r - (gShowW - kMargin); r = gShowW - kMargin; }
    if (b >= int64_t(gShowH) - 2) { t -= b - (gShowH - kMargin); b = gShowH - kMargin; }
    auto narrow = [](int64_t v) { return int(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    rect->setCoords(narrow(l), narrow(t), narrow(r), narrow(b));
}

void CheckInRange(QRect* rect, int /*width*/, int /*height*/, bool keepSize)
{
    CheckInRange(rect, keepSize);
}

bool PointAround(QPoint a, QPoint b, int tolerance)
{
    const int t = toleranceOf(tolerance);
    return near(a.x(), b.x(), t) && near(a.y(), b.y(), t);
}

bool LineAround(int a, int b, int tolerance)
{
    return near(a, b, toleranceOf(tolerance));
}

bool LineAround(int a, int b, int c, int low, int high, int tolerance)
{
    return near(a, b, toleranceOf(tolerance)) && low <= c && c <= high;
}
