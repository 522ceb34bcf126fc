#pragma once
// Fakes for the detector tests: the camera a region reads its templates, run
// image and ignore masks from, the hub that hands out process parameters and
// takes records, a capture of log lines, a smaller frame for the duration of
// a test, generated images, and a helper that builds regions through the
// registry from their stored form.
#include "inspection/hubservices.h"
#include "inspection/pluginsmanager.h"
#include "inspection/roicameraaccess.h"
#include "inspection/roiinterface.h"
#include "support/logcapture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace detectortest {

// The camera seen by a region: per step a list of templates (index 0 is the
// master template) and an ignore mask, plus one run image.
class FakeCamera : public RoiCameraAccess {
public:
    std::array<std::vector<cv::Mat>, 4> templates;
    std::array<cv::Mat, 4> ignore;
    int current = 0;  // index of the current template
    cv::Mat run;

    FakeCamera()
    {
        for (auto& m : ignore)
            m = cv::Mat::zeros(gImageH, gImageW, CV_8UC1);
    }

    cv::Mat ignoreMask(int detect) override { return valid(detect) ? ignore[detect] : cv::Mat(); }
    cv::Mat currentTemplate(int detect) override { return templateImage(detect, current); }
    cv::Mat templateImage(int detect, int index) override
    {
        if (!valid(detect) || index < 0 || index >= int(templates[detect].size()))
            return cv::Mat();
        return templates[detect][index];
    }
    cv::Mat firstTemplate(int detect) override { return templateImage(detect, 0); }
    int templateCount(int detect) override { return valid(detect) ? int(templates[detect].size()) : 0; }
    cv::Mat runImage() override { return run; }

private:
    static bool valid(int detect) { return detect >= 0 && detect < 4; }
};

// The hub: process parameters to hand out and the records it was given.
// Publishes itself for its lifetime.
class FakeHub : public HubServices {
public:
    QJsonObject params;
    std::vector<std::pair<QString, QString>> records;  // text, type

    FakeHub() { HubServices::setInstance(this); }
    ~FakeHub() override { HubServices::setInstance(nullptr); }

    void GetParams(QJsonObject& out) const override
    {
        for (auto it = params.begin(); it != params.end(); ++it)
            out.insert(it.key(), it.value());
    }
    void InsertRecord(const QString& text, const QString& type) override { records.emplace_back(text, type); }
};

// Collects every log message while it lives.
using LogCapture = testsupport::LogCapture;

// Sets the frame and display size for the lifetime of the object.
class FrameSize {
public:
    FrameSize(int width, int height)
        : m_saved{gImageW, gImageH, gImageLen, gShowW, gShowH}
    {
        gImageW = gShowW = width;
        gImageH = gShowH = height;
        gImageLen = width * height;
    }
    ~FrameSize()
    {
        gImageW = m_saved[0];
        gImageH = m_saved[1];
        gImageLen = m_saved[2];
        gShowW = m_saved[3];
        gShowH = m_saved[4];
    }
    FrameSize(const FrameSize&) = delete;
    FrameSize& operator=(const FrameSize&) = delete;

private:
    int32_t m_saved[5];
};

// The stored form of a rectangle region: [x, y, w, h] with w, h one less than
// the pixel width and height.
inline QJsonObject rectRegion(int detect, int index, cv::Rect r, const QString& func, QJsonArray params = {})
{
    return QJsonObject{{"detect_index", detect},
                       {"roi_index", index},
                       {"roi_type", "rect"},
                       {"roi_infos", QJsonArray{r.x, r.y, r.width - 1, r.height - 1}},
                       {"func_type", func},
                       {"func_params", params}};
}

inline QJsonObject circleRegion(int detect, int index, cv::Point centre, int inner, int outer,
                                const QString& func, QJsonArray params = {})
{
    return QJsonObject{{"detect_index", detect},
                       {"roi_index", index},
                       {"roi_type", "circle"},
                       {"roi_infos", QJsonArray{centre.x, centre.y, inner, outer}},
                       {"func_type", func},
                       {"func_params", params}};
}

inline QJsonObject polygonRegion(int detect, int index, const std::vector<cv::Point>& points,
                                 const QString& func, QJsonArray params = {})
{
    QJsonArray infos;
    for (const auto& p : points)
        infos.append(QJsonArray{p.x, p.y});
    return QJsonObject{{"detect_index", detect},
                       {"roi_index", index},
                       {"roi_type", "polygon"},
                       {"roi_infos", infos},
                       {"func_type", func},
                       {"func_params", params}};
}

// A region built through the registry, as the camera's store builds it.
inline std::unique_ptr<RoiInterface> makeRegion(RoiCameraAccess& camera, const QJsonObject& json)
{
    return PluginsManager::getInstance()->createNewRoi(json.value("roi_type").toString(), &camera, json);
}

// A grey frame that looks like a moulded part under a camera: a slow shading,
// a few bright and dark shapes with edges and some texture (fixed seed).
inline cv::Mat partImage(int width, int height, uint64 seed = 7)
{
    cv::Mat img(height, width, CV_8UC1);
    for (int r = 0; r < height; ++r) {
        uchar* p = img.ptr<uchar>(r);
        for (int c = 0; c < width; ++c)
            p[c] = cv::saturate_cast<uchar>(90 + 50.0 * c / width + 30.0 * r / height);
    }
    cv::RNG rng(seed);
    for (int i = 0; i < 40; ++i) {
        const cv::Point centre(rng.uniform(0, width), rng.uniform(0, height));
        const int size = rng.uniform(8, 60);
        const int grey = rng.uniform(20, 235);
        if (i % 3 == 0)
            cv::circle(img, centre, size / 2, cv::Scalar(grey), cv::FILLED, cv::LINE_AA);
        else if (i % 3 == 1)
            cv::rectangle(img, cv::Rect(centre.x, centre.y, size, size * 2 / 3), cv::Scalar(grey), cv::FILLED);
        else
            cv::line(img, centre, centre + cv::Point(size, size / 3), cv::Scalar(grey), 3, cv::LINE_AA);
    }
    cv::Mat texture(height, width, CV_8SC1);
    rng.fill(texture, cv::RNG::UNIFORM, -3, 4);
    cv::Mat out;
    cv::add(img, texture, out, cv::noArray(), CV_8U);
    cv::GaussianBlur(out, out, cv::Size(3, 3), 0.8);
    return out;
}

// `image` with uniform sensor noise of +-amplitude grey levels (fixed seed).
inline cv::Mat withNoise(const cv::Mat& image, int amplitude, uint64 seed = 11)
{
    cv::Mat noise(image.size(), CV_16SC1);
    cv::RNG(seed).fill(noise, cv::RNG::UNIFORM, -amplitude, amplitude + 1);
    cv::Mat out;
    cv::add(image, noise, out, cv::noArray(), CV_8U);
    return out;
}

// `image` moved by (dx, dy), uncovered pixels repeated from the border (a
// part that moved in front of a camera, not a black gap).
inline cv::Mat shifted(const cv::Mat& image, int dx, int dy)
{
    const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::Mat out;
    cv::warpAffine(image, out, m, image.size(), cv::INTER_NEAREST, cv::BORDER_REPLICATE);
    return out;
}

// `image` turned by `angle` degrees (counter-clockwise positive) about centre.
inline cv::Mat turned(const cv::Mat& image, cv::Point2f centre, double angle)
{
    cv::Mat out;
    cv::warpAffine(image, out, cv::getRotationMatrix2D(centre, angle, 1.0), image.size(), cv::INTER_LINEAR,
                   cv::BORDER_REPLICATE);
    return out;
}

// An RGBA frame with the given grey in the colour channels.
inline cv::Mat rgbaOf(const cv::Mat& grey)
{
    cv::Mat rgba;
    cv::cvtColor(grey, rgba, cv::COLOR_GRAY2RGBA);
    return rgba;
}

}  // namespace detectortest
