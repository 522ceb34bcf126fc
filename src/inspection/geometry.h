#pragma once
// Geometry and image-shift functions: shifting (and rotating) a frame into
// an existing destination, which the location correction uses to realign the
// run image in place; the clamps that keep coordinates and rectangles inside
// the display area (gShowW x gShowH) with a margin of 3 pixels; and tolerance
// predicates for points near points or lines.
#include <QPoint>
#include <QRect>

#include <opencv2/core.hpp>

// Moves the content of src by dx columns and dy rows (positive: right, down)
// into dst, which must already hold at least src's rows and columns, of the
// same type; dst may be a view into a larger buffer. Whole pixels move,
// whatever their size; uncovered pixels become 0. A src with no rows leaves
// dst untouched. Returns false (and writes nothing) when dst is too small or
// of another type.
bool MoveImage(cv::Mat src, cv::Mat& dst, int dx, int dy);

// Shifts src by `shift`, then rotates it by `angle` degrees (counter-clockwise
// positive) about `center`, without losing the corners on the way, and writes
// the result, src's size, into dst. When dst already has that size and type
// its pixels are overwritten in place. Uncovered pixels become 0.
void TransformImage(cv::Mat src, cv::Mat& dst, cv::Point shift, cv::Point center, double angle);

// Coordinate clamp: against gShowW when horizontal is nonzero, else gShowH;
// a value below 3 becomes 3, a value at or above limit - 2 becomes limit - 3.
void CheckInRange(int* value, int horizontal);
// The same; the two trailing sizes do not change the result.
void CheckInRange(int* value, int horizontal, int width, int height);
// Rectangle clamp: normalises the corners, then either clamps each side
// (keepSize false) or moves the rectangle inside without resizing it.
void CheckInRange(QRect* rect, bool keepSize);
// The same; the two sizes do not change the result.
void CheckInRange(QRect* rect, int width, int height, bool keepSize);

// Tolerance predicates; the tolerance is clamped to 3 .. 50.
bool PointAround(QPoint a, QPoint b, int tolerance);
bool LineAround(int a, int b, int tolerance);
// a near the line at b, and c within low .. high.
bool LineAround(int a, int b, int c, int low, int high, int tolerance);
