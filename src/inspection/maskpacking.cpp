#include "inspection/maskpacking.h"

#include <QDebug>

QByteArray MatMask01Compress2Bytes(cv::Mat mask)
{
    if (mask.empty() || mask.rows <= 0 || mask.cols <= 0)
        return QByteArray();
    if (mask.type() != CV_8UC1) {
        qWarning() << "mask of type" << mask.type() << "not packed: only 8-bit single-channel masks are";
        return QByteArray();
    }
    const int64_t pixels = int64_t(mask.rows) * mask.cols;
    QByteArray out;
    out.reserve(int((pixels + 7) / 8));
    int bit = 0;
    unsigned char accumulator = 0;
    for (int r = 0; r < mask.rows; ++r) {
        const uchar* row = mask.ptr(r);
        for (int c = 0; c < mask.cols; ++c) {
            if (row[c])
                accumulator |= uchar(1u << bit);
            if (++bit == 8) {
                out.append(char(accumulator));
                accumulator = 0;
                bit = 0;
            }
        }
    }
    if (bit != 0)
        out.append(char(accumulator));
    return out;
}
