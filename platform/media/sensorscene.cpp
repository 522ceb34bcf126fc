#include "platform/media/sensorscene.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

#include <unistd.h>

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(sensorWarnings, "level_1")
}

namespace platform {
namespace {

constexpr int kNoisePlanes = 8;     // noise repeats only after this many frames
constexpr int kMaxPictures = 100;   // folder pictures kept in memory at most
constexpr int kBlockSize = 96;      // the moving block
constexpr uint8_t kBitLow = 16;
constexpr uint8_t kBitHigh = 235;

// Small fast generator: the scene needs variety, not quality.
struct XorShift {
    uint64_t s;
    uint32_t next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
};

uint8_t clampByte(int v)
{
    return uint8_t(std::min(255, std::max(0, v)));
}

}  // namespace

SensorScene::SensorScene(int width, int height) : m_width(width), m_height(height)
{
    m_partFile = qgetenv("ORVALE_SENSOR_PART").toStdString();
    const QByteArray folder = qgetenv("ORVALE_SENSOR_IMAGES");
    if (!folder.isEmpty() && loadFolder(folder.constData()))
        return;
    generate();
}

SensorScene::SensorScene(int width, int height, Generated) : m_width(width), m_height(height)
{
    generate();
}

SensorScene SensorScene::generated(int width, int height)
{
    return SensorScene(width, height, Generated{});
}

bool SensorScene::loadFolder(const char* folder)
{
    const QDir dir(QString::fromLocal8Bit(folder));
    if (!dir.exists()) {
        qCWarning(sensorWarnings) << "[SENSOR] picture folder" << dir.path() << "does not exist; showing the generated scene";
        return false;
    }
    const QStringList names = dir.entryList(QDir::Files | QDir::Readable, QDir::Name);
    for (const QString& name : names) {
        if (int(m_pictures.size()) == kMaxPictures) {
            qCWarning(sensorWarnings) << "[SENSOR] only the first" << kMaxPictures << "pictures of" << dir.path() << "are shown";
            break;
        }
        const cv::Mat bgr = cv::imread(dir.filePath(name).toStdString(), cv::IMREAD_COLOR);
        if (bgr.empty()) {
            qCWarning(sensorWarnings) << "[SENSOR] skipped" << name << "in" << dir.path() << ": not a picture";
            continue;
        }
        cv::Mat scaled;
        cv::resize(bgr, scaled, cv::Size(m_width, m_height), 0, 0, cv::INTER_AREA);
        cv::Mat i420;
        cv::cvtColor(scaled, i420, cv::COLOR_BGR2YUV_I420);
        std::vector<uint8_t> nv12(static_cast<size_t>(frameBytes()));
        const size_t lumaBytes = size_t(m_width) * size_t(m_height);
        const size_t quarter = lumaBytes / 4;
        std::memcpy(nv12.data(), i420.data, lumaBytes);
        const uint8_t* u = i420.data + lumaBytes;
        const uint8_t* v = u + quarter;
        uint8_t* uv = nv12.data() + lumaBytes;
        for (size_t i = 0; i < quarter; ++i) {
            uv[2 * i] = u[i];
            uv[2 * i + 1] = v[i];
        }
        m_pictures.push_back(std::move(nv12));
    }
    if (m_pictures.empty()) {
        qCWarning(sensorWarnings) << "[SENSOR] no readable picture in" << dir.path() << "; showing the generated scene";
        return false;
    }
    return true;
}

namespace {

// The mould plate of the generated scene and the radius of its cavities.
cv::Rect plateOf(int w, int h)
{
    return cv::Rect(w / 8, h / 6, w * 3 / 4, h * 2 / 3);
}

int cavityRadius(int w, int h)
{
    return std::max(2, std::min(w, h) / 12);
}

}  // namespace

SensorScene::Part SensorScene::part() const
{
    const cv::Rect plate = plateOf(m_width, m_height);
    const int r = cavityRadius(m_width, m_height);
    return Part{plate.x + plate.width * 3 / 8, plate.y + plate.height / 2, std::max(1, r * 3 / 5),
                std::max(1, r * 2 / 5)};
}

void SensorScene::generate()
{
    const int w = m_width;
    const int h = m_height;
    // A still picture: a lit background with a soft gradient, a darker mould
    // plate, bright round cavities and a frame around them.
    cv::Mat base(h, w, CV_8UC1);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = base.ptr<uint8_t>(y);
        for (int x = 0; x < w; ++x)
            row[x] = uint8_t(90 + (60 * x) / w + (30 * y) / h);
    }
    const cv::Rect plate = plateOf(w, h);
    cv::rectangle(base, plate, cv::Scalar(70), cv::FILLED);
    cv::rectangle(base, plate, cv::Scalar(200), std::max(2, w / 400));
    const int r = cavityRadius(w, h);
    for (int i = 0; i < 4; ++i) {
        const cv::Point c(plate.x + plate.width * (2 * i + 1) / 8, plate.y + plate.height / 2);
        cv::circle(base, c, r, cv::Scalar(180), cv::FILLED);
        cv::circle(base, c, r / 2, cv::Scalar(120), cv::FILLED);
    }

    const size_t lumaBytes = size_t(w) * size_t(h);
    XorShift rng{0x9e3779b97f4a7c15ull};
    m_noisyLuma.assign(kNoisePlanes, std::vector<uint8_t>(lumaBytes));
    for (auto& plane : m_noisyLuma) {
        for (size_t i = 0; i < lumaBytes; ++i) {
            const uint32_t n = rng.next();
            // Sum of two small uniform values: -7..+7, most often near 0.
            const int noise = int(n & 7u) + int((n >> 3) & 7u) - 7;
            plane[i] = clampByte(base.data[i] + noise);
        }
    }
    // Chroma: a faint tint, the plate slightly cooler.
    m_chroma.assign(lumaBytes / 2, 128);
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            const bool onPlate = plate.contains(cv::Point(2 * x, 2 * y));
            uint8_t* uv = m_chroma.data() + size_t(y) * size_t(w) + size_t(2 * x);
            uv[0] = onPlate ? 134 : 126;
            uv[1] = onPlate ? 122 : 130;
        }
    }
}

void SensorScene::render(uint32_t number, uint8_t* nv12) const
{
    const size_t lumaBytes = size_t(m_width) * size_t(m_height);
    if (!m_pictures.empty()) {
        std::memcpy(nv12, m_pictures[number % m_pictures.size()].data(), size_t(frameBytes()));
        return;
    }
    std::memcpy(nv12, m_noisyLuma[number % m_noisyLuma.size()].data(), lumaBytes);
    std::memcpy(nv12 + lumaBytes, m_chroma.data(), m_chroma.size());

    // A bright block crossing the picture, one full pass every 10 s at 20 fps.
    const int block = std::min({kBlockSize, m_width / 4, m_height / 4});
    if (block > 0) {
        const int span = m_width - block;
        const int x0 = span > 0 ? int((uint64_t(number) * 8) % uint64_t(span)) : 0;
        const int y0 = m_height / 12;
        for (int y = y0; y < y0 + block && y < m_height - 1; ++y)
            std::memset(nv12 + size_t(y) * size_t(m_width) + size_t(x0), 225, size_t(block));
    }
    if (!m_partFile.empty() && ::access(m_partFile.c_str(), F_OK) == 0) {
        cv::Mat luma(m_height, m_width, CV_8UC1, nv12);
        const Part p = part();
        cv::ellipse(luma, cv::Point(p.x, p.y), cv::Size(p.halfWidth, p.halfHeight), 20.0, 0.0, 360.0, cv::Scalar(40),
                    cv::FILLED);
    }
    if (m_width >= 32) {
        writeFrameNumber(nv12, m_width, number);
        writeFrameNumber(nv12 + size_t(m_height - 1) * size_t(m_width), m_width, number);
    }
}

void SensorScene::writeFrameNumber(uint8_t* row, int width, uint32_t number)
{
    const int bw = width / 32;
    for (int bit = 0; bit < 32; ++bit) {
        const bool set = (number >> (31 - bit)) & 1u;
        std::memset(row + bit * bw, set ? kBitHigh : kBitLow, size_t(bw));
    }
}

uint32_t SensorScene::readFrameNumber(const uint8_t* row, int width)
{
    const int bw = width / 32;
    uint32_t number = 0;
    for (int bit = 0; bit < 32; ++bit)
        number = (number << 1) | (row[bit * bw + bw / 2] > 128 ? 1u : 0u);
    return number;
}

}  // namespace platform
