#pragma once
// The image parameters of one camera (exposure, gain, sharpness, contrast,
// gamma, pick speed and six switches) with their JSON form, the range rule
// that old stored values are brought into, and the check that refuses a
// request whose values the image signal processor must not get.
//
// JSON form: the numbers "exposure", "gain", "sharpness", "trueness",
// "gamma", "speedpick" and the booleans "c_autolight", "c_stop_optimize",
// "c_colorrepmono", "c_cameraouttrip", "c_flipverical", "c_filphorizontal".
#include <QJsonObject>
#include <QString>

#include <cstdint>

struct CameraImageParams {
    int32_t exposure = 20;   // milliseconds
    int32_t gain = 1;
    int32_t sharpness = 50;
    int32_t trueness = 100;  // contrast
    int32_t gamma = 100;
    int32_t speedpick = 0;
    bool c_autolight = false;
    bool c_stop_optimize = false;
    bool c_colorrepmono = false;  // true: frames are converted to RGBA, false: to grey
    bool c_cameraouttrip = false;
    bool c_flipverical = false;
    bool c_filphorizontal = false;

    // Sets the twelve members in o; other members of o stay.
    void writeJson(QJsonObject& o) const;

    // Reads the JSON form the way the stored row and requests are read:
    // each number must be a whole number in the int32 range, anything else
    // (missing, text, 20.5) reads as 0; each switch must be a JSON boolean,
    // anything else reads as false. "c_colorrepmono" is not read: the colour
    // layout is fixed for the life of the process, so it always reads false.
    static CameraImageParams fromJson(const QJsonObject& o);

    // Brings the ranged values into their ranges (compared as unsigned, so
    // negative values are out of range): exposure 0..10000 else 30, gain
    // 0..10000 else 32, sharpness 0..10000 else 0, trueness 1..10000 else
    // 100, gamma 1..10000 else 100.
    void checkRange();

    // Empty when every ranged value lies in its range; otherwise a text
    // naming each value that does not (key, value and range).
    QString rangeError() const;

    bool operator==(const CameraImageParams& other) const;
    bool operator!=(const CameraImageParams& other) const { return !(*this == other); }
};
