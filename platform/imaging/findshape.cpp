#include "platform/imaging/findshape.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

// The coarsest level keeps at least this many pixels on the pattern's smaller side.
constexpr int kCoarsestSide = 16;
constexpr int kMaxLevel = 5;
// Coarse candidates refined: at most this many, scoring at most this much below the best.
constexpr int kCandidates = 3;
constexpr double kCandidateSpread = 0.2;
// Half width, in pixels of a level, of the window a candidate is refined in:
// wider just below the coarse search, whose peaks can be a pixel off there.
constexpr int kFirstRefineRadius = 2;
constexpr int kRefineRadius = 1;
// Below this spread of grey values a pattern has nothing to be found by.
constexpr double kLeastContrast = 2.0;

// 8-bit grey view or conversion of a grey or RGBA (or RGB) image.
cv::Mat toGrey(const cv::Mat& image)
{
    switch (image.type()) {
    case CV_8UC1:
        return image;
    case CV_8UC4: {
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_RGBA2GRAY);
        return grey;
    }
    case CV_8UC3: {
        cv::Mat grey;
        cv::cvtColor(image, grey, cv::COLOR_RGB2GRAY);
        return grey;
    }
    default:
        return cv::Mat();
    }
}

// Half the size, by averaging 2 x 2 blocks (an odd last row or column is
// dropped), so that pixel i of a level covers pixels 2i and 2i + 1 below it.
cv::Mat halve(const cv::Mat& image)
{
    const cv::Mat even = image(cv::Rect(0, 0, image.cols & ~1, image.rows & ~1));
    cv::Mat half;
    cv::resize(even, half, cv::Size(even.cols / 2, even.rows / 2), 0, 0, cv::INTER_AREA);
    return half;
}

// Vertex of the parabola through (-1, a), (0, b), (1, c), within half a step.
double peakOffset(double a, double b, double c)
{
    const double bend = a - 2.0 * b + c;
    if (bend >= 0.0)
        return 0.0;
    return std::clamp(0.5 * (a - c) / bend, -0.5, 0.5);
}

}  // namespace

FindShape::Level FindShape::prepare(const cv::Mat& raw, const cv::Mat& shape)
{
    Level l;
    l.raw = raw;
    l.shape = shape;
    const double mean = cv::mean(raw, shape)[0];  // an empty shape means no mask
    l.count = shape.empty() ? double(raw.total()) : double(cv::countNonZero(shape));
    raw.convertTo(l.centred, CV_32F, 1.0, -mean);
    if (shape.empty()) {
        l.filled = raw;
    } else {
        shape.convertTo(l.weights, CV_32F, 1.0 / 255.0);
        l.centred = l.centred.mul(l.weights);
        l.filled = raw.clone();
        l.filled.setTo(cv::Scalar(mean), shape == 0);
    }
    l.norm = std::sqrt(l.centred.dot(l.centred));
    return l;
}

bool FindShape::CreateShape(const cv::Mat& templ, double, int, int rotateRange, int centerX,
                            int centerY, bool, int precision, const cv::Mat& mask, int,
                            int minMatch)
{
    valid_ = false;
    levels_.clear();
    coarseTurns_.clear();

    const cv::Mat grey = toGrey(templ);
    if (grey.empty())
        return false;
    cv::Mat shape;
    if (!mask.empty()) {
        if (mask.size() != grey.size() || mask.type() != CV_8UC1)
            return false;
        if (cv::countNonZero(mask) < grey.cols * grey.rows)
            shape = mask != 0;
    }
    cv::Scalar mean, spread;
    cv::meanStdDev(grey, mean, spread, shape);
    if (spread[0] < kLeastContrast)
        return false;

    // The pyramid; a level's shape keeps only pixels wholly inside the one below.
    levels_.push_back(prepare(grey.clone(), shape));
    while (int(levels_.size()) <= kMaxLevel) {
        const Level& finer = levels_.back();
        if (std::min(finer.raw.cols, finer.raw.rows) / 2 < kCoarsestSide)
            break;
        const cv::Mat coarserShape = finer.shape.empty() ? cv::Mat() : (halve(finer.shape) == 255);
        levels_.push_back(prepare(halve(finer.raw), coarserShape));
    }

    centerX_ = centerX;
    centerY_ = centerY;
    angleRange_ = (rotateRange >= 1 && rotateRange <= 180) ? rotateRange : 0.0;
    finestAngleStep_ = std::clamp(3.0 / std::clamp(precision, 1, 255), 0.05, 1.0);
    minScore_ = std::clamp(0.3 + 0.05 * minMatch, 0.3, 0.95);

    // At the coarsest level one step moves the pattern's far end by about two pixels.
    const int top = int(levels_.size()) - 1;
    const int reach = std::max(levels_[top].raw.cols, levels_[top].raw.rows);
    coarseAngleStep_ = std::atan(4.0 / reach) * 180.0 / CV_PI;
    if (angleRange_ > 0.0) {
        const int steps = int(std::ceil(angleRange_ / coarseAngleStep_));
        coarseAngleStep_ = angleRange_ / steps;
        for (int i = -steps; i <= steps; ++i)
            coarseTurns_.emplace_back(i * coarseAngleStep_, rotated(top, i * coarseAngleStep_));
    } else {
        coarseTurns_.emplace_back(0.0, levels_[top]);
    }
    valid_ = true;
    return true;
}

FindShape::Level FindShape::rotated(int level, double angle) const
{
    const Level& upright = levels_[level];
    if (angle == 0.0)
        return upright;
    // About the frame's region centre, (width / 2, height / 2) at full resolution.
    const double scale = 1.0 / (1 << level);
    const cv::Point2f centre(float((levels_[0].raw.cols / 2) * scale),
                             float((levels_[0].raw.rows / 2) * scale));
    const cv::Mat turn = cv::getRotationMatrix2D(centre, angle, 1.0);
    const cv::Size size = upright.raw.size();
    cv::Mat raw, shape;
    cv::warpAffine(upright.raw, raw, turn, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    const cv::Mat inside = upright.shape.empty() ? cv::Mat(size, CV_8UC1, cv::Scalar(255))
                                                 : upright.shape;
    cv::warpAffine(inside, shape, turn, size, cv::INTER_NEAREST, cv::BORDER_CONSTANT,
                   cv::Scalar(0));
    return prepare(raw, shape);
}

FindShape::Candidate FindShape::bestInWindow(const cv::Mat& image, const Level& pattern,
                                             cv::Point from, cv::Point to)
{
    const cv::Size size = pattern.raw.size();
    const cv::Size positions(to.x - from.x + 1, to.y - from.y + 1);
    cv::Mat values;
    image(cv::Rect(from, positions + size - cv::Size(1, 1))).convertTo(values, CV_32F);
    const cv::Mat squares = values.mul(values);

    // Normalised cross-correlation over the pixels that count, position by position.
    cv::Mat scores(positions, CV_64F, cv::Scalar(0));
    for (int dy = 0; dy < positions.height; ++dy) {
        for (int dx = 0; dx < positions.width; ++dx) {
            const cv::Rect at(dx, dy, size.width, size.height);
            const cv::Mat v = values(at);
            const cv::Mat q = squares(at);
            const double sum = pattern.weights.empty() ? cv::sum(v)[0] : v.dot(pattern.weights);
            const double sumSq = pattern.weights.empty() ? cv::sum(q)[0] : q.dot(pattern.weights);
            const double variance = sumSq - sum * sum / pattern.count;
            if (variance > 1e-6 * pattern.count && pattern.norm > 0.0)
                scores.at<double>(dy, dx) =
                    v.dot(pattern.centred) / (std::sqrt(variance) * pattern.norm);
        }
    }

    double best = 0.0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
    Candidate found;
    found.score = best;
    found.position = cv::Point2d(from.x + at.x, from.y + at.y);
    if (at.x > 0 && at.x < scores.cols - 1)
        found.position.x += peakOffset(scores.at<double>(at.y, at.x - 1), best,
                                       scores.at<double>(at.y, at.x + 1));
    if (at.y > 0 && at.y < scores.rows - 1)
        found.position.y += peakOffset(scores.at<double>(at.y - 1, at.x), best,
                                       scores.at<double>(at.y + 1, at.x));
    return found;
}

bool FindShape::Find(cv::Mat& image, int, int* x, int* y, double* angle, double* score)
{
    if (!valid_)
        return false;
    const cv::Mat grey = toGrey(image);
    const cv::Size full = levels_[0].raw.size();
    if (grey.empty() || grey.cols < full.width || grey.rows < full.height)
        return false;

    // The search pyramid, as deep as the model and the search area allow.
    std::vector<cv::Mat> pyramid{grey};
    while (pyramid.size() < levels_.size()) {
        cv::Mat half = halve(pyramid.back());
        const cv::Size need = levels_[pyramid.size()].raw.size();
        if (half.cols < need.width || half.rows < need.height)
            break;
        pyramid.push_back(std::move(half));
    }
    const int top = int(pyramid.size()) - 1;

    // The coarsest level over the whole search area, at every angle step: the
    // best few places. Pixels outside the shape are filled with the pattern's
    // mean, which is close enough to leaving them out at this stage.
    std::vector<std::pair<double, Level>> ownTurns;
    if (top != int(levels_.size()) - 1) {
        if (angleRange_ > 0.0) {
            const int steps = int(std::lround(angleRange_ / coarseAngleStep_));
            for (int i = -steps; i <= steps; ++i)
                ownTurns.emplace_back(i * coarseAngleStep_, rotated(top, i * coarseAngleStep_));
        } else {
            ownTurns.emplace_back(0.0, levels_[top]);
        }
    }
    const auto& turns = ownTurns.empty() ? coarseTurns_ : ownTurns;
    const cv::Size coarseSize = levels_[top].raw.size();
    const int apart = std::max(2, std::min(coarseSize.width, coarseSize.height) / 2);
    std::vector<Candidate> coarse;
    cv::Mat result;
    for (const auto& [turn, pattern] : turns) {
        cv::matchTemplate(pyramid[top], pattern.filled, result, cv::TM_CCOEFF_NORMED);
        for (int k = 0; k < kCandidates; ++k) {
            double best = 0.0;
            cv::Point at;
            cv::minMaxLoc(result, nullptr, &best, nullptr, &at);
            if (best <= -1.0)
                break;
            coarse.push_back({best, cv::Point2d(at.x, at.y), turn});
            cv::rectangle(result, cv::Rect(at.x - apart, at.y - apart, 2 * apart + 1, 2 * apart + 1),
                          cv::Scalar(-1.0), cv::FILLED);
        }
    }
    std::sort(coarse.begin(), coarse.end(),
              [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
    std::vector<Candidate> kept;
    for (const Candidate& c : coarse) {
        if (c.score < coarse.front().score - kCandidateSpread || int(kept.size()) == kCandidates)
            break;
        const bool near = std::any_of(kept.begin(), kept.end(), [&](const Candidate& k) {
            return std::abs(k.position.x - c.position.x) < apart
                   && std::abs(k.position.y - c.position.y) < apart;
        });
        if (!near)
            kept.push_back(c);
    }

    // Each candidate down the pyramid in a small window, halving the angle
    // step at every level and, at full resolution, on to the asked precision.
    const bool turning = angleRange_ > 0.0;
    auto refine = [&](const Candidate& c, int level, int scale, int radius, double step) {
        const cv::Mat& img = pyramid[level];
        const cv::Size size = levels_[level].raw.size();
        const cv::Point guess(int(std::lround(c.position.x)) * scale,
                              int(std::lround(c.position.y)) * scale);
        const cv::Point from(std::clamp(guess.x - radius, 0, img.cols - size.width),
                             std::clamp(guess.y - radius, 0, img.rows - size.height));
        const cv::Point to(std::clamp(guess.x + radius, 0, img.cols - size.width),
                           std::clamp(guess.y + radius, 0, img.rows - size.height));
        Candidate here = bestInWindow(img, rotated(level, c.angle), from, to);
        here.angle = c.angle;
        if (turning && step > 0.0) {
            for (double turn : {c.angle - step, c.angle + step}) {
                if (std::abs(turn) > angleRange_)
                    continue;
                Candidate other = bestInWindow(img, rotated(level, turn), from, to);
                other.angle = turn;
                if (other.score > here.score)
                    here = other;
            }
        }
        return here;
    };
    Candidate best;
    for (Candidate c : kept) {
        double step = coarseAngleStep_;
        for (int level = top - 1; level >= 0; --level) {
            step /= 2.0;
            c = refine(c, level, 2, level == top - 1 ? kFirstRefineRadius : kRefineRadius, step);
        }
        if (top == 0)
            c = refine(c, 0, 1, kRefineRadius, 0.0);  // for the sub-pixel position and a full score
        while (turning && step > finestAngleStep_) {
            step /= 2.0;
            c = refine(c, 0, 1, kRefineRadius, step);
        }
        if (c.score > best.score)
            best = c;
    }

    if (score)
        *score = best.score;
    if (best.score < minScore_)
        return false;
    // The pattern's top-left in the frame (rx) against where it was found in
    // the search image (px): rx - px is the shift plus the search area's origin.
    const int patternLeft = centerX_ - full.width / 2;
    const int patternTop = centerY_ - full.height / 2;
    if (x)
        *x = patternLeft - int(std::lround(best.position.x));
    if (y)
        *y = patternTop - int(std::lround(best.position.y));
    if (angle)
        *angle = -best.angle;
    return true;
}

}  // namespace platform
