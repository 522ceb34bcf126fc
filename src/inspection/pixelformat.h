#pragma once
// Whole-image conversions between the pixel layouts the camera code meets:
// packed 4-byte pixels ("RGBA": bytes 0, 1, 2 are red, green, blue; byte 3 is
// written as 0 and ignored when read; as a 32-bit little-endian word byte 0
// is the lowest 8 bits), packed 3-byte pixels, 8-bit grey, three separate
// planes, a Bayer mosaic, YUV 4:2:0 semi-planar frames and planar YV12.
//
// Images are row-major and contiguous (a row is exactly `w` pixels). A
// function whose height (for Gray24To8: width x height) is below 1 writes
// nothing. Grey-producing and plane-producing functions take the destination
// first, the others the source first. The caller provides buffers of the
// right size; nothing here allocates except the OpenCV-based YUV functions.
#include <QString>

#include <array>
#include <cstdint>

#include <opencv2/core.hpp>

// Weighted grey lookup: entry i = ceil(i x 0.299 x 1024), entry 256 + i =
// ceil(i x 0.587 x 1024), entry 512 + i = ceil(i x 0.114 x 1024). Rounding
// up makes the three weights of a grey pixel sum to at least 1024 x g, so
// grey -> RGBA -> grey gives back every grey value (white stays 255).
extern const std::array<int32_t, 768> gaRGB2Gray;

// Grey to 4-byte pixels: each word = g + g*256 + g*65536 (bytes g, g, g, 0).
void Gray2RGB(const unsigned char* src, uint32_t* dst, int w, int h);
void Gray2RGBA(const unsigned char* src, uint32_t* dst, int w, int h);
// 4-byte pixels to grey: (T[b0] + T[256 + b1] + T[512 + b2]) / 1024.
void RGB2Gray(unsigned char* dst, const uint32_t* src, int w, int h);
void RGBA2Gray(unsigned char* dst, const uint32_t* src, int w, int h);
// 3-byte pixels to grey: byte 0 of each pixel.
void Gray24To8(unsigned char* dst, const unsigned char* src, int w, int h);
// 3-byte pixels to 4-byte pixels, the three colour bytes reversed.
void RGB2RGBA(unsigned char* dst, const unsigned char* src, int w, int h);
// 4-byte pixels to three planes (byte 3 dropped), and back (byte 3 = 0).
void ExtractRGBA(unsigned char* p0, unsigned char* p1, unsigned char* p2, const unsigned char* src, int w, int h);
void GenRGBA(const unsigned char* p0, const unsigned char* p1, const unsigned char* p2, unsigned char* dst, int w,
             int h);

// Hue of one colour scaled to 0 .. 254 (0 for greys and black).
unsigned char RGB2HueByte(unsigned char r, unsigned char g, unsigned char b);
// RGB2HueByte of bytes 0, 1, 2 of every 4-byte pixel.
void RGBA2Hue(unsigned char* dst, const uint32_t* src, int w, int h);
// Writes gaRGB2Gray as C source text to `fileName` (by default "a.c" in the
// working directory); false when the file cannot be written.
bool GenRGB2Gray(const QString& fileName = QStringLiteral("a.c"));

// One border row of the Bayer demosaic, from the row and the row next to it
// (startWithGreen: the row's first sample is green; blueLine: the row's own
// colour goes to byte 0, else to byte 2).
void BorderBayer2RGBA(const unsigned char* row, const unsigned char* adjacent, unsigned char* dst, int w,
                      int startWithGreen, int blueLine);
// Bilinear demosaic of a gImageW x gImageH mosaic (green at row 0, column 0;
// even rows carry the colour of byte 0, odd rows that of byte 2) to 4-byte
// pixels. False (nothing written) for a mosaic narrower than 4 or lower than
// 2 pixels.
bool Bayer2RGBA(const unsigned char* src, unsigned char* dst);
// The same for an explicit size.
bool Bayer2RGBA(const unsigned char* src, unsigned char* dst, int w, int h);

// A YUV 4:2:0 semi-planar frame (V before U; 1.5 x height rows of 8-bit
// samples) to 3-byte RGB, 4-byte RGBA or grey, written to dst (height x width
// pixels). False (nothing written) for a frame of another type or a size that
// is not one of such frames.
bool yuv420sp2rgb(const cv::Mat& frame, unsigned char* dst);
bool yuv420sp2rgba(const cv::Mat& frame, unsigned char* dst);
bool yuv420sp2gray(const cv::Mat& frame, unsigned char* dst);

// Planar YV12 (luma, then the two quarter-size chroma planes) to 3-byte,
// 4-byte (byte 3 = 0) or grey pixels; flip writes the image upside down.
// `spare` is not read. False for a null buffer, a width below 2, an empty
// image, or an odd width or height (no YV12 frame has one).
bool YV12_to_RGB24(const unsigned char* src, unsigned char* dst, int w, int h, bool spare, bool flip);
bool YV12_to_RGB32(const unsigned char* src, unsigned char* dst, int w, int h, bool spare, bool flip);
bool YV12_to_Gray(const unsigned char* src, unsigned char* dst, int w, int h, bool spare, bool flip);
