#include "inspection/pixelformat.h"
#include "foundation/logmanager.h"

#include "inspection/hubservices.h"

#include <QDebug>
#include <QFile>

#include <algorithm>

#include <opencv2/imgproc.hpp>

namespace {

constexpr double kWeights[3] = {0.299, 0.587, 0.114};

constexpr int32_t ceilToInt(double v)
{
    const auto t = int32_t(v);
    return double(t) < v ? t + 1 : t;
}

constexpr std::array<int32_t, 768> makeGreyTable()
{
    std::array<int32_t, 768> table{};
    for (int block = 0; block < 3; ++block)
        for (int i = 0; i < 256; ++i)
            table[size_t(block * 256 + i)] = ceilToInt(i * kWeights[block] * 1024);
    return table;
}

// Number of pixels to convert; 0 when the height (or the product) is below 1.
int64_t pixelCount(int w, int h)
{
    if (h < 1 || w < 1)
        return 0;
    return int64_t(w) * h;
}

unsigned char greyOf(uint32_t word)
{
    const int32_t sum = gaRGB2Gray[word & 0xff] + gaRGB2Gray[256 + ((word >> 8) & 0xff)] +
                        gaRGB2Gray[512 + ((word >> 16) & 0xff)];
    return static_cast<unsigned char>(sum / 1024);
}

// Means of Bayer samples, as the demosaic defines them.
inline unsigned char mean2(int a, int b)
{
    return static_cast<unsigned char>((a + b + 1) >> 1);
}
inline unsigned char mean3(int a, int b, int c)
{
    return static_cast<unsigned char>((a + b + c + 1) / 3);
}
inline unsigned char mean4(int a, int b, int c, int d)
{
    return static_cast<unsigned char>((a + b + c + d + 2) >> 2);
}

// One inner row r (1 .. h-2) of the demosaic.
void bayerInnerRow(const unsigned char* src, unsigned char* dst, int w, int r)
{
    const unsigned char* up = src + int64_t(r - 1) * w;
    const unsigned char* row = src + int64_t(r) * w;
    const unsigned char* down = src + int64_t(r + 1) * w;
    unsigned char* out = dst + int64_t(r) * w * 4;
    // The row's own colour goes to byte 0 on even rows, to byte 2 on odd rows.
    const int own = (r % 2 == 0) ? 0 : 2;
    const int other = 2 - own;
    for (int c = 0; c < w; ++c) {
        unsigned char* p = out + int64_t(c) * 4;
        const bool first = c == 0;
        const bool last = c == w - 1;
        if ((r + c) % 2 == 0) {  // green
            p[1] = row[c];
            if (first)
                p[own] = row[c + 1];
            else if (last)
                p[own] = row[c - 1];
            else
                p[own] = mean2(row[c - 1], row[c + 1]);
            p[other] = mean2(up[c], down[c]);
        } else {
            p[own] = row[c];
            if (first) {
                p[1] = mean3(up[c], down[c], row[c + 1]);
                p[other] = mean2(up[c + 1], down[c + 1]);
            } else if (last) {
                p[1] = mean3(up[c], down[c], row[c - 1]);
                p[other] = mean2(up[c - 1], down[c - 1]);
            } else {
                p[1] = mean4(up[c], down[c], row[c - 1], row[c + 1]);
                p[other] = mean4(up[c - 1], up[c + 1], down[c - 1], down[c + 1]);
            }
        }
        p[3] = 0;
    }
}

bool yuv420spConvert(const cv::Mat& frame, unsigned char* dst, int code, int channels)
{
    if (!dst || frame.empty() || frame.type() != CV_8UC1 || frame.rows % 3 != 0 || frame.cols % 2 != 0) {
        qCWarning(level_1) << "not a YUV 4:2:0 semi-planar frame:" << frame.cols << "x" << frame.rows << "type"
                   << frame.type();
        return false;
    }
    const int rows = int(frame.rows / 1.5);
    // Converted straight into the caller's buffer: a header of the exact size
    // and type, which cvtColor fills in place.
    cv::Mat converted(rows, frame.cols, CV_MAKETYPE(CV_8U, channels), dst);
    cv::cvtColor(frame, converted, code, channels);
    return true;
}

enum class Yv12Output { Rgb24, Rgb32, Gray };

bool yv12Convert(const unsigned char* src, unsigned char* dst, int w, int h, bool flip, Yv12Output output)
{
    if (!src || !dst || (w >> 1) < 1 || h < 1)
        return false;
    if (w % 2 != 0 || h % 2 != 0) {
        qCWarning(level_1) << "YV12 frame of odd size" << w << "x" << h << "refused";
        return false;
    }
    const int64_t lumaSize = int64_t(w) * h;
    const unsigned char* c1 = src + lumaSize;
    const unsigned char* c2 = src + lumaSize + lumaSize / 4;
    const int chromaWidth = w / 2;
    auto clampByte = [](double v) { return std::clamp(int(v), 0, 255); };
    for (int y = 0; y < h; ++y) {
        const int64_t outRow = int64_t(flip ? h - 1 - y : y) * w;
        const int64_t chromaRow = int64_t(y / 2) * chromaWidth;
        for (int x = 0; x < w; ++x) {
            const double luma = src[int64_t(y) * w + x];
            const int64_t ci = chromaRow + x / 2;
            const double u = double(c2[ci]) - 128;
            const double v = double(c1[ci]) - 128;
            const int first = clampByte(luma + 1.732446 * u);
            const int second = clampByte(luma - 0.698001 * u - 0.703125 * v);
            const int third = clampByte(luma + 1.370705 * v);
            const int64_t index = outRow + x;
            switch (output) {
            case Yv12Output::Rgb24: {
                unsigned char* p = dst + index * 3;
                p[0] = static_cast<unsigned char>(first);
                p[1] = static_cast<unsigned char>(second);
                p[2] = static_cast<unsigned char>(third);
                break;
            }
            case Yv12Output::Rgb32: {
                unsigned char* p = dst + index * 4;
                p[0] = static_cast<unsigned char>(first);
                p[1] = static_cast<unsigned char>(second);
                p[2] = static_cast<unsigned char>(third);
                p[3] = 0;
                break;
            }
            case Yv12Output::Gray:
                dst[index] = static_cast<unsigned char>(unsigned(0.587 * second + 0.299 * third + 0.114 * first));
                break;
            }
        }
    }
    return true;
}

}  // namespace

const std::array<int32_t, 768> gaRGB2Gray = makeGreyTable();

void Gray2RGB(const unsigned char* src, uint32_t* dst, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i) {
        const uint32_t g = src[i];
        dst[i] = g + g * 256u + g * 65536u;
    }
}

void Gray2RGBA(const unsigned char* src, uint32_t* dst, int w, int h)
{
    Gray2RGB(src, dst, w, h);
}

void RGB2Gray(unsigned char* dst, const uint32_t* src, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i)
        dst[i] = greyOf(src[i]);
}

void RGBA2Gray(unsigned char* dst, const uint32_t* src, int w, int h)
{
    RGB2Gray(dst, src, w, h);
}

void Gray24To8(unsigned char* dst, const unsigned char* src, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i)
        dst[i] = src[3 * i];
}

void RGB2RGBA(unsigned char* dst, const unsigned char* src, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i) {
        dst[4 * i] = src[3 * i + 2];
        dst[4 * i + 1] = src[3 * i + 1];
        dst[4 * i + 2] = src[3 * i];
        dst[4 * i + 3] = 0;
    }
}

void ExtractRGBA(unsigned char* p0, unsigned char* p1, unsigned char* p2, const unsigned char* src, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i) {
        p0[i] = src[4 * i];
        p1[i] = src[4 * i + 1];
        p2[i] = src[4 * i + 2];
    }
}

void GenRGBA(const unsigned char* p0, const unsigned char* p1, const unsigned char* p2, unsigned char* dst, int w,
             int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i) {
        dst[4 * i] = p0[i];
        dst[4 * i + 1] = p1[i];
        dst[4 * i + 2] = p2[i];
        dst[4 * i + 3] = 0;
    }
}

unsigned char RGB2HueByte(unsigned char r, unsigned char g, unsigned char b)
{
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    if (mx == mn || mx == 0)
        return 0;
    const float d = float(mx - mn);
    float h;
    if (r >= g && r >= b) {
        h = float(g - b) / d;
        if (g < b)
            h = float(h + 6.0);
    } else if (g >= b) {
        h = float((b - r) / d + 2.0);
    } else {
        h = float((r - g) / d + 4.0);
    }
    const float scaled = float(double(h) * 42.5);
    return static_cast<unsigned char>(unsigned(scaled) & 0xffu);
}

void RGBA2Hue(unsigned char* dst, const uint32_t* src, int w, int h)
{
    const int64_t n = pixelCount(w, h);
    for (int64_t i = 0; i < n; ++i) {
        const uint32_t word = src[i];
        dst[i] = RGB2HueByte(word & 0xff, (word >> 8) & 0xff, (word >> 16) & 0xff);
    }
}

bool GenRGB2Gray(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(level_1) << "cannot write the grey table to" << fileName << file.errorString();
        return false;
    }
    QByteArray text("int gaRGB2Gray[] = {");
    for (int block = 0; block < 3; ++block) {
        for (int i = 0; i < 256; ++i) {
            if (i % 8 == 0)
                text += "\n    ";
            text += QByteArray::number(gaRGB2Gray[size_t(block * 256 + i)]) + ", ";
        }
    }
    text += "};";
    return file.write(text) == text.size();
}

void BorderBayer2RGBA(const unsigned char* row, const unsigned char* adjacent, unsigned char* dst, int w,
                      int startWithGreen, int blueLine)
{
    if (!row || !adjacent || !dst || w < 2)
        return;
    const int own = blueLine ? 0 : 2;
    const int other = 2 - own;
    for (int c = 0; c < w; ++c) {
        unsigned char* p = dst + int64_t(c) * 4;
        const bool first = c == 0;
        const bool last = c == w - 1;
        const bool green = ((c % 2 == 0) == (startWithGreen != 0));
        if (green) {
            p[1] = row[c];
            if (first)
                p[own] = row[c + 1];
            else if (last)
                p[own] = row[c - 1];
            else
                p[own] = mean2(row[c - 1], row[c + 1]);
            p[other] = adjacent[c];
        } else {
            p[own] = row[c];
            if (first) {
                p[1] = mean2(row[c + 1], adjacent[c]);
                p[other] = adjacent[c + 1];
            } else if (last) {
                p[1] = mean2(row[c - 1], adjacent[c]);
                p[other] = adjacent[c - 1];
            } else {
                p[1] = mean3(row[c - 1], row[c + 1], adjacent[c]);
                p[other] = mean2(adjacent[c - 1], adjacent[c + 1]);
            }
        }
        p[3] = 0;
    }
}

bool Bayer2RGBA(const unsigned char* src, unsigned char* dst)
{
    return Bayer2RGBA(src, dst, gImageW, gImageH);
}

bool Bayer2RGBA(const unsigned char* src, unsigned char* dst, int w, int h)
{
    if (!src || !dst || w < 4 || h < 2) {
        qCWarning(level_1) << "Bayer mosaic of" << w << "x" << h << "not converted: at least 4 x 2 pixels are needed";
        return false;
    }
    BorderBayer2RGBA(src, src + w, dst, w, 1, 1);
    for (int r = 1; r < h - 1; ++r)
        bayerInnerRow(src, dst, w, r);
    const int lastRow = h - 1;
    const int flag = lastRow % 2 == 0 ? 1 : 0;
    BorderBayer2RGBA(src + int64_t(lastRow) * w, src + int64_t(lastRow - 1) * w, dst + int64_t(lastRow) * w * 4, w,
                     flag, flag);
    return true;
}

bool yuv420sp2rgb(const cv::Mat& frame, unsigned char* dst)
{
    return yuv420spConvert(frame, dst, cv::COLOR_YUV2RGB_NV21, 3);
}

bool yuv420sp2rgba(const cv::Mat& frame, unsigned char* dst)
{
    return yuv420spConvert(frame, dst, cv::COLOR_YUV2RGBA_NV21, 4);
}

bool yuv420sp2gray(const cv::Mat& frame, unsigned char* dst)
{
    return yuv420spConvert(frame, dst, cv::COLOR_YUV2GRAY_420, 1);
}

bool YV12_to_RGB24(const unsigned char* src, unsigned char* dst, int w, int h, bool /*spare*/, bool flip)
{
    return yv12Convert(src, dst, w, h, flip, Yv12Output::Rgb24);
}

bool YV12_to_RGB32(const unsigned char* src, unsigned char* dst, int w, int h, bool /*spare*/, bool flip)
{
    return yv12Convert(src, dst, w, h, flip, Yv12Output::Rgb32);
}

bool YV12_to_Gray(const unsigned char* src, unsigned char* dst, int w, int h, bool /*spare*/, bool flip)
{
    return yv12Convert(src, dst, w, h, flip, Yv12Output::Gray);
}
