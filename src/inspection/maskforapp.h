#pragma once
// The one way a region mask goes to an operator application, used by the
// run-result push and by the mask and region routes of the HTTP API: an
// application that registered version "V1.6.7.94" or an earlier four-number
// version gets the mask cut to its scope and packed eight pixels a byte with
// a mask information object; every other application (a later version, a
// version of fewer than four numbers, none at all) gets the whole mask.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <opencv2/core.hpp>

struct ZRC_WorkInfos;

class MaskForApp {
public:
    // True: the packed form (bytes plus "maskmat-info"); false: the whole
    // mask as an image.
    bool packed = false;
    QByteArray packedBytes;  // "maskmat" of the packed form
    QJsonObject info;        // "maskmat-info" of the packed form
    cv::Mat whole;           // "maskmat" image of the other form (shares the caller's pixels)

    // Builds the form for an application of `appVersion`. The scope is first
    // intersected with the mask, so a scope reaching outside it (or a mask
    // smaller than the frame) never makes the cut fail; the information
    // object carries the rectangle actually cut.
    static MaskForApp build(const cv::Mat& mask, const cv::Rect& scope, const QString& appVersion);

    // Whether an application of this registered version takes the packed form.
    static bool takesPackedForm(const QString& appVersion);

    // The version registered by the application that has taken this camera;
    // empty when none has, or it is not registered.
    static QString takenAppVersion(const ZRC_WorkInfos& work);
};
