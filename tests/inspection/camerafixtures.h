#pragma once
// Fixtures for the image store, the sequencer and the camera facade: raw
// camera frames made from generated images, template files on disk with
// chosen modification times, and a look into the captured log.
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/hubservices.h"
#include "paramdbfixture.h"
#include "support/scratchdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

// Readable QStrings in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace camerafixtures {

// The raw frame the capture side delivers for `image` (8-bit grey or B,G,R):
// the luma plane, then (height / 2) rows of chroma pairs in the order the
// store's conversion (YUV2RGBA_NV21) reads them: V first, then U.
inline std::vector<uint8_t> rawFrame(const cv::Mat& image)
{
    const int w = image.cols;
    const int h = image.rows;
    const size_t lumaBytes = size_t(w) * size_t(h);
    const size_t chromaPixels = lumaBytes / 4;
    std::vector<uint8_t> frame(lumaBytes + 2 * chromaPixels);
    if (image.channels() == 1) {
        // A grey picture: its greys are the luma as they are, both chroma
        // values at the middle (no colour).
        std::memcpy(frame.data(), image.data, lumaBytes);
        std::memset(frame.data() + lumaBytes, 128, 2 * chromaPixels);
        return frame;
    }
    cv::Mat i420;
    cv::cvtColor(image, i420, cv::COLOR_BGR2YUV_I420);  // Y, then the U plane, then the V plane
    const uint8_t* y = i420.data;
    const uint8_t* u = y + lumaBytes;
    const uint8_t* v = u + chromaPixels;
    std::memcpy(frame.data(), y, lumaBytes);
    for (size_t i = 0; i < chromaPixels; ++i) {
        frame[lumaBytes + 2 * i] = v[i];
        frame[lumaBytes + 2 * i + 1] = u[i];
    }
    return frame;
}

// Puts `image` into the store's raw buffer (as the hub copies the capture
// buffer) and converts it.
inline bool feedFrame(CameraImage& store, const cv::Mat& image)
{
    const std::vector<uint8_t> frame = rawFrame(image);
    if (!store.rawBuffer() || int(frame.size()) != store.rawBufferLength())
        return false;
    std::memcpy(store.rawBuffer(), frame.data(), frame.size());
    store.updateImageData();
    return true;
}

// Writes an image as a BMP file (folders created) with the given
// modification time, in seconds after a fixed base.
inline void writeBmp(const QString& path, const cv::Mat& image, int ageSeconds = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    cv::imwrite(path.toStdString(), image);
    QFile file(path);
    if (file.open(QIODevice::ReadWrite)) {
        const QDateTime base(QDate(2023, 5, 1), QTime(8, 0, 0));
        file.setFileTime(base.addSecs(ageSeconds), QFileDevice::FileModificationTime);
    }
}

// An 8-bit image of the frame size, every pixel `grey`.
inline cv::Mat plainGrey(int grey)
{
    return cv::Mat(gImageH, gImageW, CV_8UC1, cv::Scalar(grey));
}

// True when some captured line contains `text`.
inline bool logged(const QStringList& lines, const QString& text)
{
    for (const QString& line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

inline QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

// The template file as the store wrote it, read back as 8-bit grey.
inline cv::Mat readGrey(const QString& path)
{
    return cv::imread(path.toStdString(), cv::IMREAD_GRAYSCALE);
}

inline bool sameImage(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// A camera in a scratch working directory with its own PARAM.db (opened as
// "dbIn"), the detection-step count set for the test; the rig restores the
// step count and the working directory when it goes.
class CameraRig {
public:
    explicit CameraRig(int steps = 2) : cwd(scratch.path()), db(scratch.file(QStringLiteral("PARAM.db")))
    {
        m_savedDNum = gDNum;
        gDNum = steps;
        db.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT)"));
    }
    ~CameraRig()
    {
        camera.reset();
        gDNum = m_savedDNum;
    }
    CameraRig(const CameraRig&) = delete;
    CameraRig& operator=(const CameraRig&) = delete;

    // Stores the row camera0 with these regions and default image parameters.
    void storeRegions(const QJsonArray& rois, const QJsonObject& cameraParams = defaultCameraParams())
    {
        const QJsonObject row{{"index", 0}, {"rois", rois}, {"camerainterface", cameraParams}};
        db.put(QStringLiteral("cameraparam"), QStringLiteral("camera0"),
               QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Indented)));
    }

    static QJsonObject defaultCameraParams()
    {
        return QJsonObject{{"exposure", 20},        {"gain", 1},
                           {"sharpness", 50},       {"trueness", 100},
                           {"gamma", 100},          {"speedpick", 0},
                           {"c_autolight", false},  {"c_stop_optimize", false},
                           {"c_colorrepmono", false}, {"c_cameraouttrip", false},
                           {"c_flipverical", false}, {"c_filphorizontal", false}};
    }

    // The master template of a step, written before the camera is made.
    static void writeMaster(int detect, const cv::Mat& image)
    {
        writeBmp(CameraImage::templatePath(detect, QStringLiteral("template00.bmp")), image);
    }

    Camera& make()
    {
        camera = std::make_unique<Camera>();
        return *camera;
    }

    // Feeds a frame as the hub does before it runs a step.
    bool feed(const cv::Mat& image) { return feedFrame(*camera->cameraImage(), image); }

    testsupport::ScratchDir scratch;
    testsupport::WorkingDir cwd;
    paramdb::ParamDb db;
    std::unique_ptr<Camera> camera;

private:
    int32_t m_savedDNum = 0;
};

}  // namespace camerafixtures
