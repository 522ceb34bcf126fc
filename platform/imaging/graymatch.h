#pragma once
// Grey-level template matcher of the flaw detector: learns from one or more
// good images of a region what grey values each of its pixels may take, and
// marks the pixels of a new crop that fall outside.
//
// Model: for every pixel the grey range that the templates span in its 3 x 3
// neighbourhood (so a shift of up to one pixel between template and image
// stays quiet), widened by a tolerance that the sensitivity sets, and by the
// difference multiple times the width of that range (more slack where the
// templates are busy). A pixel is a difference only when it lies outside that
// range, that is when no template explains it. Pixels outside the region's
// shape, and with edge ignoring on and within two pixels of the edges that
// Canny finds in the templates, never count. All of that is worked out once by Train; Match is
// one pass over the crop.
//
// Not thread-safe; a trained model is only read by Match.
#include <opencv2/core.hpp>

#include <vector>

namespace platform {

class GrayMatch {
public:
    GrayMatch() = default;
    ~GrayMatch() = default;

    // True when a trained model is ready for Match.
    bool IsValid() const { return valid_; }

    // Forgets the model and the templates.
    void Clear();

    // Starts a new model for width x height patches. mask (width x height,
    // 8-bit, nonzero inside the region's shape) limits where differences can
    // be found; an empty mask means the whole patch. cannyIgnore nonzero makes
    // Train leave the templates' edges out. False, and nothing usable, for a
    // size below 1 or a mask of another size or type.
    bool Create(int width, int height, const cv::Mat& mask, int cannyIgnore);

    // Adds one good image of the patch: 8-bit grey of the size given to
    // Create. A view into a larger image (the region cut from a full frame)
    // is best: the ring of pixels just outside the patch is kept too, so that
    // content shifted in across the patch's border is known. False, and
    // nothing added, for an empty image, another size or another type.
    bool AddTemp(const cv::Mat& templ);

    // Builds the model from the templates added since Create.
    //   sensitivity   0 ... 100, higher finds fainter differences; the
    //                 tolerance is (100 - sensitivity) * 2 / 5 grey levels,
    //                 at least 1 (22 at the usual 45).
    //   diffMultiple  0 ... 100, in tenths: extra slack of that many tenths of
    //                 the local range of the templates (0: none).
    //   edgeLow, edgeHigh  Canny thresholds of the edges left out when
    //                 cannyIgnore was set at Create.
    // Fails (and IsValid stays false) without Create or without templates.
    bool Train(int sensitivity, int diffMultiple, int edgeLow, int edgeHigh);

    // Compares an 8-bit grey crop of the trained size with the model and
    // writes into diff a map of the crop's size, 8-bit single channel, 255
    // at difference pixels and 0 elsewhere. diff keeps its buffer when it
    // already has that size and type. False (diff all 0) when the model is
    // not valid or the crop does not fit it.
    bool Match(const cv::Mat& image, cv::Mat& diff) const;

private:
    struct Template {
        cv::Mat pixels;  // the patch and the ring around it that was available
        cv::Rect patch;  // where the patch lies in pixels
    };

    int width_ = 0;
    int height_ = 0;
    bool created_ = false;
    bool ignoreEdges_ = false;
    cv::Mat shapeMask_;  // empty: the whole patch counts
    std::vector<Template> templates_;

    cv::Mat low_;   // lowest grey value that is not a difference, per pixel
    cv::Mat high_;  // highest grey value that is not a difference, per pixel
    bool valid_ = false;
};

}  // namespace platform
