#include "platform/imaging/graymatch.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace platform {

namespace {

// Canny thresholds used when the caller hands in none that make sense.
constexpr int kDefaultEdgeLow = 100;
constexpr int kDefaultEdgeHigh = 150;

int toleranceFor(int sensitivity)
{
    const int s = std::clamp(sensitivity, 0, 100);
    return std::max(1, (100 - s) * 2 / 5);
}

}  // namespace

void GrayMatch::Clear()
{
    width_ = 0;
    height_ = 0;
    created_ = false;
    ignoreEdges_ = false;
    shapeMask_.release();
    templates_.clear();
    low_.release();
    high_.release();
    valid_ = false;
}

bool GrayMatch::Create(int width, int height, const cv::Mat& mask, int cannyIgnore)
{
    Clear();
    if (width < 1 || height < 1)
        return false;
    if (!mask.empty() && (mask.cols != width || mask.rows != height || mask.type() != CV_8UC1))
        return false;
    width_ = width;
    height_ = height;
    ignoreEdges_ = cannyIgnore != 0;
    if (!mask.empty() && cv::countNonZero(mask) < width * height)
        shapeMask_ = mask.clone();
    created_ = true;
    return true;
}

bool GrayMatch::AddTemp(const cv::Mat& templ)
{
    if (!created_ || templ.empty() || templ.type() != CV_8UC1 || templ.cols != width_
        || templ.rows != height_)
        return false;

    // Take the one-pixel ring around the patch from the image it was cut
    // from, where there is one.
    cv::Size whole;
    cv::Point offset;
    templ.locateROI(whole, offset);
    const int left = std::min(offset.x, 1);
    const int top = std::min(offset.y, 1);
    const int right = std::min(whole.width - offset.x - templ.cols, 1);
    const int bottom = std::min(whole.height - offset.y - templ.rows, 1);
    cv::Mat ringed = templ;
    ringed.adjustROI(top, bottom, left, right);

    templates_.push_back({ringed.clone(), cv::Rect(left, top, width_, height_)});
    valid_ = false;  // the model no longer covers every template
    return true;
}

bool GrayMatch::Train(int sensitivity, int diffMultiple, int edgeLow, int edgeHigh)
{
    valid_ = false;
    low_.release();
    high_.release();
    if (!created_ || templates_.empty())
        return false;

    // Grey range of the templates over each pixel's 3 x 3 neighbourhood. The
    // default border of erode and dilate leaves pixels beyond the ring out.
    cv::Mat low(height_, width_, CV_8UC1, cv::Scalar(255));
    cv::Mat high(height_, width_, CV_8UC1, cv::Scalar(0));
    const cv::Mat square = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    cv::Mat edges;
    if (ignoreEdges_)
        edges = cv::Mat::zeros(height_, width_, CV_8UC1);
    for (const Template& t : templates_) {
        cv::Mat lowest, highest;
        cv::erode(t.pixels, lowest, square);
        cv::dilate(t.pixels, highest, square);
        cv::min(low, lowest(t.patch), low);
        cv::max(high, highest(t.patch), high);
        if (ignoreEdges_) {
            const int lo = edgeLow > 0 ? edgeLow : kDefaultEdgeLow;
            const int hi = edgeHigh > lo ? edgeHigh : std::max(lo, kDefaultEdgeHigh);
            cv::Mat found;
            cv::Canny(t.pixels, found, lo, hi);
            cv::bitwise_or(edges, found(t.patch), edges);
        }
    }

    // Widen by the tolerance and by the difference multiple of the range.
    cv::Mat range;
    cv::subtract(high, low, range, cv::noArray(), CV_16S);
    const double multiple = std::clamp(diffMultiple, 0, 100) / 10.0;
    cv::Mat slack;
    range.convertTo(slack, CV_16S, multiple, toleranceFor(sensitivity));
    cv::subtract(low, slack, low_, cv::noArray(), CV_8U);   // saturates at 0
    cv::add(high, slack, high_, cv::noArray(), CV_8U);      // saturates at 255

    // Where nothing may count, let every grey value pass.
    if (ignoreEdges_) {
        // Edges that wander by up to two pixels stay quiet.
        cv::dilate(edges, edges, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
        low_.setTo(0, edges);
        high_.setTo(255, edges);
    }
    if (!shapeMask_.empty()) {
        const cv::Mat outside = shapeMask_ == 0;
        low_.setTo(0, outside);
        high_.setTo(255, outside);
    }
    valid_ = true;
    return true;
}

bool GrayMatch::Match(const cv::Mat& image, cv::Mat& diff) const
{
    if (image.empty()) {
        diff.release();
        return false;
    }
    diff.create(image.rows, image.cols, CV_8UC1);
    if (!valid_ || image.type() != CV_8UC1 || image.cols != width_ || image.rows != height_) {
        diff.setTo(0);
        return false;
    }

    for (int r = 0; r < height_; ++r) {
        const uchar* pixel = image.ptr<uchar>(r);
        const uchar* low = low_.ptr<uchar>(r);
        const uchar* high = high_.ptr<uchar>(r);
        uchar* out = diff.ptr<uchar>(r);
        int c = 0;
#if CV_SIMD
        constexpr int lanes = cv::v_uint8::nlanes;
        for (; c <= width_ - lanes; c += lanes) {
            const cv::v_uint8 p = cv::vx_load(pixel + c);
            const cv::v_uint8 below = p < cv::vx_load(low + c);
            const cv::v_uint8 above = p > cv::vx_load(high + c);
            cv::v_store(out + c, below | above);
        }
#endif
        for (; c < width_; ++c)
            out[c] = (pixel[c] < low[c] || pixel[c] > high[c]) ? 255 : 0;
    }
    return true;
}

}  // namespace platform
