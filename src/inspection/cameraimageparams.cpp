#include "inspection/cameraimageparams.h"

#include "inspection/processorinterface.h"

#include <QStringList>

namespace {

struct Range {
    const char* key;
    int32_t CameraImageParams::*field;
    uint32_t low;
    uint32_t high;
    int32_t replacement;
};

// The ranges the image signal processor accepts, and what an old stored
// value outside them is replaced with (not the defaults: these are the
// values the older program put in).
const Range kRanges[] = {
    {"exposure", &CameraImageParams::exposure, 0, 10000, 30},
    {"gain", &CameraImageParams::gain, 0, 10000, 32},
    {"sharpness", &CameraImageParams::sharpness, 0, 10000, 0},
    {"trueness", &CameraImageParams::trueness, 1, 10000, 100},
    {"gamma", &CameraImageParams::gamma, 1, 10000, 100},
};

bool inRange(const Range& r, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    return v >= r.low && v <= r.high;
}

}  // namespace

void CameraImageParams::writeJson(QJsonObject& o) const
{
    o.insert(QStringLiteral("exposure"), exposure);
    o.insert(QStringLiteral("gain"), gain);
    o.insert(QStringLiteral("sharpness"), sharpness);
    o.insert(QStringLiteral("trueness"), trueness);
    o.insert(QStringLiteral("gamma"), gamma);
    o.insert(QStringLiteral("speedpick"), speedpick);
    o.insert(QStringLiteral("c_autolight"), c_autolight);
    o.insert(QStringLiteral("c_stop_optimize"), c_stop_optimize);
    o.insert(QStringLiteral("c_colorrepmono"), c_colorrepmono);
    o.insert(QStringLiteral("c_cameraouttrip"), c_cameraouttrip);
    o.insert(QStringLiteral("c_flipverical"), c_flipverical);
    o.insert(QStringLiteral("c_filphorizontal"), c_filphorizontal);
}

CameraImageParams CameraImageParams::fromJson(const QJsonObject& o)
{
    CameraImageParams p;
    p.exposure = jsonWholeNumber(o.value(QStringLiteral("exposure")));
    p.gain = jsonWholeNumber(o.value(QStringLiteral("gain")));
    p.sharpness = jsonWholeNumber(o.value(QStringLiteral("sharpness")));
    p.trueness = jsonWholeNumber(o.value(QStringLiteral("trueness")));
    p.gamma = jsonWholeNumber(o.value(QStringLiteral("gamma")));
    p.speedpick = jsonWholeNumber(o.value(QStringLiteral("speedpick")));
    p.c_autolight = o.value(QStringLiteral("c_autolight")).toBool(false);
    p.c_stop_optimize = o.value(QStringLiteral("c_stop_optimize")).toBool(false);
    p.c_colorrepmono = false;
    p.c_cameraouttrip = o.value(QStringLiteral("c_cameraouttrip")).toBool(false);
    p.c_flipverical = o.value(QStringLiteral("c_flipverical")).toBool(false);
    p.c_filphorizontal = o.value(QStringLiteral("c_filphorizontal")).toBool(false);
    return p;
}

void CameraImageParams::checkRange()
{
    for (const Range& r : kRanges) {
        if (!inRange(r, this->*r.field))
            this->*r.field = r.replacement;
    }
}

QString CameraImageParams::rangeError() const
{
    QStringList faults;
    for (const Range& r : kRanges) {
        const int32_t value = this->*r.field;
        if (!inRange(r, value))
            faults << QStringLiteral("\"%1\" %2 is outside %3..%4").arg(QLatin1String(r.key)).arg(value).arg(r.low).arg(r.high);
    }
    return faults.join(QStringLiteral(", "));
}

bool CameraImageParams::operator==(const CameraImageParams& o) const
{
    return exposure == o.exposure && gain == o.gain && sharpness == o.sharpness && trueness == o.trueness &&
           gamma == o.gamma && speedpick == o.speedpick && c_autolight == o.c_autolight &&
           c_stop_optimize == o.c_stop_optimize && c_colorrepmono == o.c_colorrepmono &&
           c_cameraouttrip == o.c_cameraouttrip && c_flipverical == o.c_flipverical &&
           c_filphorizontal == o.c_filphorizontal;
}
