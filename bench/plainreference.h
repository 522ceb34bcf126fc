#pragma once
// Reference work for the benchmarks, written as plainly as OpenCV allows and
// by the same method as the camera's code, so that a ratio shows where the
// time goes:
//   plainPack         mask packing, eight pixels to a byte (least significant
//                     bit first, rows not padded): one pass, one pixel at a
//                     time into a byte, each full byte stored into an output
//                     sized once;
//   PyramidLocator    the location search coarse to fine: the pattern and the
//                     search window halved with pyrDown to the same depth as
//                     the camera's search (down to a pattern whose smaller
//                     side keeps 16 pixels, at most 5 halvings),
//                     matchTemplate over the whole coarsest level for the
//                     best 3 places (within 0.2 of the best), each refined
//                     level by level with matchTemplate in a window of
//                     +-2 pixels (first level below the coarsest), then +-1,
//                     around twice its place;
//   shiftFrame        the image moved by the found offset, the uncovered
//                     part cleared.
#include <QByteArray>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace plainref {

inline QByteArray plainPack(const cv::Mat& mask)
{
    const int64_t pixels = int64_t(mask.rows) * mask.cols;
    QByteArray out(int((pixels + 7) / 8), Qt::Uninitialized);
    char* next = out.data();
    unsigned byte = 0;
    int bit = 0;
    for (int r = 0; r < mask.rows; ++r) {
        const uchar* row = mask.ptr(r);
        for (int c = 0; c < mask.cols; ++c) {
            byte |= unsigned(row[c] != 0) << bit;
            if (++bit == 8) {
                *next++ = char(byte);
                byte = 0;
                bit = 0;
            }
        }
    }
    if (bit != 0)
        *next = char(byte);
    return out;
}

class PyramidLocator {
public:
    PyramidLocator() = default;
    explicit PyramidLocator(const cv::Mat& pattern)
    {
        m_patterns.push_back(pattern);
        while (int(m_patterns.size()) <= kMaxHalvings
               && std::min(m_patterns.back().cols, m_patterns.back().rows) / 2 >= kCoarsestSide) {
            cv::Mat half;
            cv::pyrDown(m_patterns.back(), half);
            m_patterns.push_back(half);
        }
    }

    // The best top-left place of the pattern in `search` and its score.
    double find(const cv::Mat& search, cv::Point& at)
    {
        m_search.assign(1, search);
        while (m_search.size() < m_patterns.size()) {
            cv::Mat half;
            cv::pyrDown(m_search.back(), half);
            const cv::Size need = m_patterns[m_search.size()].size();
            if (half.cols < need.width || half.rows < need.height)
                break;
            m_search.push_back(half);
        }
        const int top = int(m_search.size()) - 1;

        cv::matchTemplate(m_search[top], m_patterns[top], m_scores, cv::TM_CCOEFF_NORMED);
        const cv::Size coarse = m_patterns[top].size();
        const int apart = std::max(2, std::min(coarse.width, coarse.height) / 2);
        std::vector<cv::Point> places;
        double first = 0.0;
        for (int k = 0; k < kCandidates; ++k) {
            double score = 0.0;
            cv::Point place;
            cv::minMaxLoc(m_scores, nullptr, &score, nullptr, &place);
            if (k == 0)
                first = score;
            else if (score < first - kCandidateSpread)
                break;
            places.push_back(place);
            cv::rectangle(m_scores, cv::Rect(place.x - apart, place.y - apart, 2 * apart + 1, 2 * apart + 1),
                          cv::Scalar(-1.0), cv::FILLED);
        }

        double best = -1.0;
        for (cv::Point place : places) {
            double score = first;
            for (int level = top - 1; level >= 0; --level)
                score = refine(level, place * 2, level == top - 1 ? 2 : 1, place);
            if (score > best) {
                best = score;
                at = place;
            }
        }
        return best;
    }

private:
    static constexpr int kCoarsestSide = 16;
    static constexpr int kMaxHalvings = 5;
    static constexpr int kCandidates = 3;
    static constexpr double kCandidateSpread = 0.2;

    double refine(int level, cv::Point guess, int radius, cv::Point& place)
    {
        const cv::Mat& image = m_search[level];
        const cv::Size size = m_patterns[level].size();
        const cv::Point from(std::clamp(guess.x - radius, 0, image.cols - size.width),
                             std::clamp(guess.y - radius, 0, image.rows - size.height));
        const cv::Point to(std::clamp(guess.x + radius, 0, image.cols - size.width),
                           std::clamp(guess.y + radius, 0, image.rows - size.height));
        const cv::Rect window(from, cv::Size(to.x - from.x + size.width, to.y - from.y + size.height));
        cv::matchTemplate(image(window), m_patterns[level], m_scores, cv::TM_CCOEFF_NORMED);
        double score = 0.0;
        cv::minMaxLoc(m_scores, nullptr, &score, nullptr, &place);
        place += from;
        return score;
    }

    std::vector<cv::Mat> m_patterns;  // 0 is full resolution
    std::vector<cv::Mat> m_search;
    cv::Mat m_scores;
};

// Moves `frame` by `shift` in place; what nothing moves onto becomes 0.
inline void shiftFrame(cv::Mat& frame, cv::Point shift)
{
    if (shift == cv::Point())
        return;
    const cv::Mat source = frame.clone();
    frame.setTo(0);
    const cv::Rect whole(cv::Point(), frame.size());
    const cv::Rect onto = (whole + shift) & whole;
    if (!onto.empty())
        source(onto - shift).copyTo(frame(onto));
}

}  // namespace plainref
