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

bool keepCountedPixels(cv::Mat& marks, const cv::Mat& shape, const cv::Mat& ignore)
{
    CV_Assert(marks.type() == CV_8UC1 && sameSizeMask(shape, marks.size()));
    CV_Assert(ignore.empty() || sameSizeMask(ignore, marks.size()));
    const bool haveIgnore = !ignore.empty();
    uchar kept = 0;
    for (int r = 0; r < marks.rows; ++r) {
        uchar* m = marks.ptr<uchar>(r);
        const uchar* s = shape.ptr<uchar>(r);
        const uchar* ig = haveIgnore ? ignore.ptr<uchar>(r) : nullptr;
        int c = 0;
#if CV_SIMD128
        // Most of a region is unmarked, and there is nothing to take away:
        // 64 pixels at a time are only read until a mark shows.
        const cv::v_uint8x16 none = cv::v_setzero_u8();
        cv::v_uint8x16 keptLanes = none;
        for (; c + 64 <= marks.cols; c += 64) {
            const cv::v_uint8x16 any =
                cv::v_load(m + c) | cv::v_load(m + c + 16) | cv::v_load(m + c + 32) | cv::v_load(m + c + 48);
            if (!cv::v_check_any(any != none))
                continue;
            for (int k = c; k < c + 64; k += 16) {
                cv::v_uint8x16 v = cv::v_load(m + k) & cv::v_load(s + k);
                if (ig)
                    v = v & ~cv::v_load(ig + k);
                cv::v_store(m + k, v);
                keptLanes = keptLanes | v;
            }
        }
        for (; c + 16 <= marks.cols; c += 16) {
            cv::v_uint8x16 v = cv::v_load(m + c) & cv::v_load(s + c);
            if (ig)
                v = v & ~cv::v_load(ig + c);
            cv::v_store(m + c, v);
            keptLanes = keptLanes | v;
        }
        if (cv::v_check_any(keptLanes != none))
            kept = 1;
#endif
        for (; c < marks.cols; ++c) {
            const uchar notIgnored = ig ? static_cast<uchar>(~ig[c]) : 0xFF;
            m[c] = static_cast<uchar>(m[c] & s[c] & notIgnored);
            kept |= m[c];
        }
    }
    return kept != 0;
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

// Whether a row of 8-bit pixels has any nonzero pixel.
bool rowMarked(const uchar* row, int cols)
{
    int c = 0;
#if CV_SIMD128
    const cv::v_uint8x16 none = cv::v_setzero_u8();
    for (; c + 64 <= cols; c += 64) {
        const cv::v_uint8x16 any =
            cv::v_load(row + c) | cv::v_load(row + c + 16) | cv::v_load(row + c + 32) | cv::v_load(row + c + 48);
        if (cv::v_check_any(any != none))
            return true;
    }
    for (; c + 16 <= cols; c += 16) {
        if (cv::v_check_any(cv::v_load(row + c) != none))
            return true;
    }
#endif
    for (; c < cols; ++c) {
        if (row[c])
            return true;
    }
    return false;
}

// One row of a morphology by the 3 x 3 cross: out = the minimum (Min) or
// maximum over each pixel of cur and its four neighbours, up and down being
// the rows above and below. A neighbour beyond the left or right edge is
// left out by taking the pixel itself in its place.
template <bool Min>
void crossRow(const uchar* up, const uchar* cur, const uchar* down, uchar* out, int cols)
{
    const auto pick = [](uchar a, uchar b) { return Min ? std::min(a, b) : std::max(a, b); };
    auto one = [&](int c) {
        const uchar left = cur[c > 0 ? c - 1 : c];
        const uchar right = cur[c + 1 < cols ? c + 1 : c];
        out[c] = pick(pick(pick(up[c], down[c]), pick(left, right)), cur[c]);
    };
    one(0);
    int c = 1;
#if CV_SIMD128
    for (; c + 17 <= cols; c += 16) {
        const cv::v_uint8x16 vertical = Min ? cv::v_min(cv::v_load(up + c), cv::v_load(down + c))
                                            : cv::v_max(cv::v_load(up + c), cv::v_load(down + c));
        const cv::v_uint8x16 across = Min ? cv::v_min(cv::v_load(cur + c - 1), cv::v_load(cur + c + 1))
                                          : cv::v_max(cv::v_load(cur + c - 1), cv::v_load(cur + c + 1));
        const cv::v_uint8x16 self = cv::v_load(cur + c);
        cv::v_store(out + c, Min ? cv::v_min(cv::v_min(vertical, across), self)
                                 : cv::v_max(cv::v_max(vertical, across), self));
    }
#endif
    for (; c < cols; ++c)
        one(c);
}

// Opening by the 3 x 3 cross in place: an erosion by the minimum over the
// cross, then a dilation by the maximum, each leaving a neighbour beyond the
// edge out (what morphologyEx's default border does: the largest value for
// the erosion, the smallest for the dilation). Rows are skipped where the
// result is known to be zero: an eroded row is zero unless its row and the
// rows above and below are marked, and a dilated row is zero unless an
// eroded row next to it is not; most of a region is unmarked. `eroded` gets
// rows + 1 rows, the last one all zero.
void openByCross(cv::Mat& marks, OpenScratch& scratch)
{
    cv::Mat& eroded = scratch.eroded;
    const int rows = marks.rows;
    const int cols = marks.cols;
    eroded.create(rows + 1, cols, CV_8UC1);
    uchar* zero = eroded.ptr<uchar>(rows);
    std::fill(zero, zero + cols, uchar(0));
    // Per row: bit 0 the row is marked, bit 1 its eroded row is computed.
    std::vector<uchar>& state = scratch.rowState;
    state.assign(size_t(rows), 0);
    for (int r = 0; r < rows; ++r)
        state[size_t(r)] = rowMarked(marks.ptr<uchar>(r), cols) ? 1 : 0;
    const auto above = [](int r) { return r > 0 ? r - 1 : r; };
    const auto below = [rows](int r) { return r + 1 < rows ? r + 1 : r; };
    for (int r = 0; r < rows; ++r) {
        if ((state[size_t(above(r))] & state[size_t(r)] & state[size_t(below(r))] & 1) == 0)
            continue;
        crossRow<true>(marks.ptr<uchar>(above(r)), marks.ptr<uchar>(r), marks.ptr<uchar>(below(r)),
                       eroded.ptr<uchar>(r), cols);
        state[size_t(r)] |= 2;
    }
    const auto erodedRow = [&](int r) -> const uchar* { return (state[size_t(r)] & 2) ? eroded.ptr<uchar>(r) : zero; };
    for (int r = 0; r < rows; ++r) {
        uchar* out = marks.ptr<uchar>(r);
        if (((state[size_t(above(r))] | state[size_t(r)] | state[size_t(below(r))]) & 2) == 0) {
            if (state[size_t(r)] & 1)
                std::fill(out, out + cols, uchar(0));
            continue;
        }
        crossRow<false>(erodedRow(above(r)), erodedRow(r), erodedRow(below(r)), out, cols);
    }
}

void openMarks(cv::Mat& marks, int side, OpenScratch* scratch)
{
    side = boundedKernelSide(side);
    if (side <= 1 || marks.empty())
        return;
    if (side > kLargestDrawnKernelSide) {
        openWithDisc(marks, side);
        return;
    }
    if (side == 3 && marks.type() == CV_8UC1 && !marks.isSubmatrix()) {
        // The elliptic kernel of side 3 is the cross: two passes of our own
        // instead of morphologyEx's filter engine, which costs more than the
        // rest of a small region's detection. (In a view morphologyEx also
        // reads the pixels around it, so a view keeps to morphologyEx.)
        OpenScratch local;
        openByCross(marks, scratch ? *scratch : local);
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
