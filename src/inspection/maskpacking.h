#pragma once
// Packing of 0/non-zero masks eight pixels to a byte, the form in which
// result and region masks travel to the operator application ("maskmat").
//
// Pixels are taken row-major (row 0 from column 0, then row 1, ...); pixel k
// is bit k % 8 of byte k / 8, least significant bit first; a pixel is 1 when
// its byte is non-zero. Rows are not padded: a row may start inside a byte.
// The last byte is emitted only when it holds a pixel (its unused high bits
// are 0), so the length is ceil(rows * cols / 8). There is no header: width
// and height travel beside the bytes.
#include <QByteArray>

#include <opencv2/core.hpp>

// Packs an 8-bit single-channel mask (possibly a view into a larger one: its
// rows are found through the row stride). Any other type packs to an empty
// array, with a log line.
QByteArray MatMask01Compress2Bytes(cv::Mat mask);
