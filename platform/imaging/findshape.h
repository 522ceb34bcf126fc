#pragma once
// Shape finder of the location detector: finds where a region's pattern lies
// in a search area of a later image, and at which angle, so that the image
// can be moved back onto the template.
//
// Method: normalised cross-correlation over an image pyramid. CreateShape
// keeps the pattern at every level down to one whose smaller side is still
// at least 16 pixels; Find searches that coarsest level over the whole search
// area (at every angle step when rotation is on), then refines the best few
// candidates level by level in a small window, halving the angle step each
// time, and reports the best one at full resolution.
//
// Not thread-safe; a created model is only read by Find.
#include <opencv2/core.hpp>

#include <vector>

namespace platform {

class FindShape {
public:
    FindShape() = default;
    ~FindShape() = default;

    // Builds the model.
    //   templ        the pattern: the template cut at the region's rectangle,
    //                8-bit grey or RGBA.
    //   rotateRange  1 ... 180: search angles within +-rotateRange degrees;
    //                anything else: no rotation.
    //   centerX, centerY  the centre of the region's rectangle in frame
    //                coordinates, (x + width / 2, y + height / 2).
    //   precision    1 ... 255: the angle is refined down to 3 / precision
    //                degrees (at most 1, at least 0.05).
    //   mask         the region's shape (templ's size, 8-bit, nonzero inside);
    //                empty: the whole rectangle.
    //   minMatch     least match: a shape counts as found when its
    //                correlation reaches 0.3 + 0.05 * minMatch, taken within
    //                0.3 ... 0.95.
    // The unnamed arguments belong to the call shape the detector uses and
    // have no meaning here. False (IsValid false) for an empty or featureless
    // pattern, or a mask that does not fit it.
    bool CreateShape(const cv::Mat& templ, double, int, int rotateRange, int centerX,
                     int centerY, bool, int precision, const cv::Mat& mask, int,
                     int minMatch);

    // True when the model can be used by Find.
    bool IsValid() const { return valid_; }

    // Looks for the pattern in image (the search area cut from the run image,
    // 8-bit grey or RGBA). True when found; then, with (sx, sy) the search
    // area's origin in the frame, shifting the frame by (*x - sx, *y - sy) and
    // rotating it by *angle degrees about the centre given to CreateShape
    // (counter-clockwise positive with the origin at the top left, as
    // cv::getRotationMatrix2D) brings the found pattern back onto the
    // template. An image identical to the template's frame gives
    // (*x, *y) = (sx, sy) and angle 0. *score, when given, receives the
    // correlation of the best candidate (found or not). Outputs are left
    // alone when not found.
    bool Find(cv::Mat& image, int, int* x, int* y, double* angle, double* score);

private:
    // The pattern at one pyramid level (and one angle), ready for matching.
    struct Level {
        cv::Mat raw;       // grey pattern
        cv::Mat shape;     // 255 where the pattern counts; empty: everywhere
        cv::Mat filled;    // raw with the pixels that do not count set to its mean
        cv::Mat centred;   // float, raw minus its mean where it counts, 0 elsewhere
        cv::Mat weights;   // float 1 where it counts, 0 elsewhere; empty: everywhere
        double count = 0;  // pixels that count
        double norm = 0;   // root of the sum of squares of centred
    };
    struct Candidate {
        double score = -1.0;
        cv::Point2d position;  // top-left of the pattern at the current level
        double angle = 0.0;
    };

    static Level prepare(const cv::Mat& raw, const cv::Mat& shape);
    // The pattern of a level turned by angle degrees about the frame's
    // region centre, with only the pixels that still hold pattern counting.
    Level rotated(int level, double angle) const;
    // Best normalised correlation of a pattern among the top-left positions
    // [from, to] of image, with a sub-pixel position.
    static Candidate bestInWindow(const cv::Mat& image, const Level& pattern, cv::Point from,
                                  cv::Point to);

    std::vector<Level> levels_;  // 0 is full resolution
    std::vector<std::pair<double, Level>> coarseTurns_;  // coarsest level at every angle step
    int centerX_ = 0;
    int centerY_ = 0;
    double angleRange_ = 0.0;       // 0: no rotation
    double coarseAngleStep_ = 0.0;  // angle step at the coarsest level
    double finestAngleStep_ = 0.1;
    double minScore_ = 0.45;
    bool valid_ = false;
};

}  // namespace platform
