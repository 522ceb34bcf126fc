#include "inspection/maskpacking.h"
#include "foundation/logmanager.h"

#include <QDebug>

#include <opencv2/core/hal/intrin.hpp>

#include <climits>
#include <cstdint>

namespace {

// Collects bits least significant first and writes them out four bytes at a
// time. Between calls fewer than 32 bits are pending, so 32 more always fit.
class BitWriter {
public:
    explicit BitWriter(uchar* out) : m_out(out) {}

    // Appends the low `count` bits of `bits` (count <= 32; higher bits 0).
    void put(uint32_t bits, int count)
    {
        m_pending |= uint64_t(bits) << m_count;
        m_count += count;
        if (m_count >= 32) {
            const uint32_t word = uint32_t(m_pending);
            m_out[0] = uchar(word);
            m_out[1] = uchar(word >> 8);
            m_out[2] = uchar(word >> 16);
            m_out[3] = uchar(word >> 24);
            m_out += 4;
            m_pending >>= 32;
            m_count -= 32;
        }
    }

    // Writes what is pending; the last byte's unused high bits are 0.
    void finish()
    {
        for (; m_count > 0; m_count -= 8) {
            *m_out++ = uchar(m_pending);
            m_pending >>= 8;
        }
        m_count = 0;
    }

private:
    uchar* m_out;
    uint64_t m_pending = 0;
    int m_count = 0;
};

// Appends one bit per pixel of `pixels` (1 for non-zero).
void packRun(const uchar* pixels, int64_t length, BitWriter& writer)
{
    int64_t c = 0;
#if CV_SIMD128
    // Sixteen pixels at a time: compare with zero, one bit per lane, lane i
    // giving bit i, which is the order of the packed format.
    const cv::v_uint8x16 zero = cv::v_setzero_u8();
    for (; c + 32 <= length; c += 32) {
        const uint32_t low = uint32_t(cv::v_signmask(cv::v_load(pixels + c) != zero));
        const uint32_t high = uint32_t(cv::v_signmask(cv::v_load(pixels + c + 16) != zero));
        writer.put(low | (high << 16), 32);
    }
    for (; c + 16 <= length; c += 16)
        writer.put(uint32_t(cv::v_signmask(cv::v_load(pixels + c) != zero)), 16);
#endif
    for (; c < length; ++c)
        writer.put(pixels[c] != 0 ? 1u : 0u, 1);
}

}  // namespace

QByteArray MatMask01Compress2Bytes(cv::Mat mask)
{
    if (mask.empty() || mask.rows <= 0 || mask.cols <= 0)
        return QByteArray();
    if (mask.type() != CV_8UC1) {
        qCWarning(level_1) << "mask of type" << mask.type() << "not packed: only 8-bit single-channel masks are";
        return QByteArray();
    }
    const int64_t pixels = int64_t(mask.rows) * mask.cols;
    const int64_t bytes = (pixels + 7) / 8;
    if (bytes > int64_t(INT_MAX) - 64) {
        qCWarning(level_1) << "mask of" << mask.cols << "x" << mask.rows << "not packed: too large for one array";
        return QByteArray();
    }
    QByteArray out(int(bytes), Qt::Uninitialized);
    BitWriter writer(reinterpret_cast<uchar*>(out.data()));
    // Rows run on into each other without padding, so a mask whose rows lie
    // back to back packs as one run; a view packs row by row.
    if (mask.isContinuous()) {
        packRun(mask.ptr(0), pixels, writer);
    } else {
        for (int r = 0; r < mask.rows; ++r)
            packRun(mask.ptr(r), mask.cols, writer);
    }
    writer.finish();
    return out;
}
