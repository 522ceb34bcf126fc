#pragma once
// Reading the older storage of a camera's regions and image parameters.
//
// The older program kept a camera's regions in a table of its own in
// PARAM.db, "cammer<camera number>", as rows of numbers:
//   detect<d>      (d = 0..3)  n, the number of regions of step d, then 8
//                              numbers that are not used;
//   ROI<d>-<r>     (r = 0..n-1) p1 p2 p3 func shape u k, then the shape's
//                              numbers (rect: x1 y1 x2 y2; polygon: k pairs
//                              x y; circle: x y v with the radii packed in v);
// and its image parameters in rows of the shared table "sysparam". These
// functions turn them into today's forms: one region object a region (the
// stored form the registry builds regions from) and the parameter fields.
// Nothing is written to the old tables.
//
// Numbers inside a value are decimal integers separated by white space,
// read one after another; one that is missing or not a number reads as 0.
#include "inspection/cameraimageparams.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

// The older storage always had four detection steps.
inline constexpr int kLegacyStepCount = 4;
// A legacy step claiming this many regions or more is not read (a count
// that large comes from a damaged row).
inline constexpr uint32_t kLegacyRegionLimit = 51;
// Most points a legacy polygon row may give.
inline constexpr int kLegacyPolygonPointLimit = 8096;

// The region object of one legacy region row: "detect_index" detect,
// "roi_index" roiIndex, "roi_type", "roi_infos", "func_type" and
// "func_params". A missing row (nullopt), or a shape that cannot be read
// (an unknown shape kind, a polygon whose point count is outside
// 1..8096), gives the default region: a 50 x 50 "rect" at (50, 50) with a
// "flaw" detector [25, 100, 3].
QJsonObject legacyRegionObject(const std::optional<QString>& value, int detect, int roiIndex);

// The region objects of the four legacy steps of camera `cameraNo`, one
// array a step, always four. A step whose row is missing (or whose table is
// missing) is empty; a step whose region count, taken as unsigned, is 51 or
// more is left empty in its place, its region rows unread, and logged.
QVector<QJsonArray> readLegacyRegions(QSqlDatabase db, int cameraNo);

// Element `position` (from 0) of a legacy parameter list: the value split at
// every single space, empty pieces kept; an element that is not a decimal
// integer reads as 0. Nothing (nullopt) when the list is shorter.
std::optional<int> legacyListElement(const QString& value, int position);

// Sets, from the rows of "sysparam" that exist, the image parameters and
// the camera index: exposeTime (exposure, camera index), adjustPlus (gain),
// sharp (sharpness), contrast (trueness), numAllDetect (gamma), system2[16]
// (speedpick), numFailDetect[3] (c_autolight), system7[1] (c_colorrepmono),
// system7[7] (c_stop_optimize), system5[11] (c_cameraouttrip), system9[0]
// (c_filphorizontal), system9[8] (c_flipverical). A missing row, or a list
// too short for its element, leaves its field unchanged. The range rule is
// not applied here.
void readLegacyCameraParams(QSqlDatabase db, CameraImageParams& params, int32_t& cameraIndex);
