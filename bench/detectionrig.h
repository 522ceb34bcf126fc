#pragma once
// The rig of the detection-step benchmarks: one step of 8 regions (1
// location, 2 flaw, 3 spot, 2 ignore) on a generated moulded surface of
// 1920 x 1080, delivered as NV12.
#include <QJsonArray>
#include <QJsonObject>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <cstring>
#include <vector>

namespace detectionrig {

inline const cv::Size kFrame(1920, 1080);
constexpr int kStep = 1;
constexpr int kSearchMargin = 30;  // "h_mostskewing"

struct Region {
    const char* detector;
    cv::Rect rect;
    QJsonArray params;
};

inline const std::vector<Region>& regions()
{
    static const std::vector<Region> r = {
        {"location", cv::Rect(300, 200, 300, 250), {10}},
        {"flaw", cv::Rect(600, 300, 700, 450), {45, 50, 3}},
        {"flaw", cv::Rect(100, 600, 400, 300), {45, 50, 3}},
        {"spot", cv::Rect(1400, 100, 200, 150), {0, 50, 0, 5}},
        {"spot", cv::Rect(1400, 700, 300, 250), {0, 50, 0, 5}},
        {"spot", cv::Rect(200, 100, 150, 150), {0, 50, 0, 5}},
        {"ignore", cv::Rect(1100, 600, 150, 120), {}},
        {"ignore", cv::Rect(150, 650, 100, 100), {}},
    };
    return r;
}

// A moulded surface: shading, a few shapes with edges, grain.
inline cv::Mat makeSurface()
{
    cv::Mat img(kFrame, CV_8UC1);
    for (int r = 0; r < img.rows; ++r) {
        uchar* p = img.ptr<uchar>(r);
        for (int c = 0; c < img.cols; ++c)
            p[c] = cv::saturate_cast<uchar>(90 + 50.0 * c / img.cols + 30.0 * r / img.rows);
    }
    cv::RNG rng(7);
    for (int i = 0; i < 300; ++i) {
        const cv::Point at(rng.uniform(0, img.cols), rng.uniform(0, img.rows));
        const int size = rng.uniform(8, 60);
        const int grey = rng.uniform(40, 235);
        if (i % 2)
            cv::circle(img, at, size / 2, cv::Scalar(grey), cv::FILLED, cv::LINE_AA);
        else
            cv::rectangle(img, cv::Rect(at, cv::Size(size, size * 2 / 3)), cv::Scalar(grey), cv::FILLED);
    }
    cv::Mat grain(kFrame, CV_8SC1);
    rng.fill(grain, cv::RNG::UNIFORM, -2, 3);
    cv::Mat out;
    cv::add(img, grain, out, cv::noArray(), CV_8U);
    cv::GaussianBlur(out, out, cv::Size(3, 3), 0.8);
    return out;
}

// NV12 as the capture side delivers it: luma, then chroma pairs (no colour).
inline std::vector<uint8_t> nv12Of(const cv::Mat& grey)
{
    const size_t luma = grey.total();
    std::vector<uint8_t> frame(luma + luma / 2, 128);
    std::memcpy(frame.data(), grey.data, luma);
    return frame;
}

// The step's regions in their stored form.
inline QJsonArray regionsJson()
{
    QJsonArray rois;
    int index = 0;
    for (const Region& r : regions()) {
        rois.append(QJsonObject{{"detect_index", kStep},
                                {"roi_index", index++},
                                {"roi_type", "rect"},
                                {"roi_infos", QJsonArray{r.rect.x, r.rect.y, r.rect.width - 1, r.rect.height - 1}},
                                {"func_type", r.detector},
                                {"func_params", r.params}});
    }
    return rois;
}

}  // namespace detectionrig
