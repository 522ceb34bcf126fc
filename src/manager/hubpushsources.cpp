#include "manager/hubpushsources.h"

#include "foundation/foundationglobals.h"
#include "hub/divuvarude.h"
#include "inspection/camera.h"
#include "inspection/cammersingleton.h"

QJsonObject HubPushSources::runState()
{
    return gpWin ? gpWin->getRunState() : QJsonObject();
}

int HubPushSources::shownDetectIndex()
{
    return m_shownStep ? m_shownStep() : -1;
}

QJsonObject HubPushSources::detectInfo(int detect)
{
    return gpWin ? gpWin->detectInfo(detect) : QJsonObject();
}

QJsonArray HubPushSources::roisResult(int detect)
{
    return gpWin ? gpWin->roisResult(detect) : QJsonArray();
}

cv::Mat HubPushSources::origMask()
{
    return gpWin ? gpWin->getOrigMask() : cv::Mat();
}

cv::Rect HubPushSources::origMaskScope()
{
    return gpWin ? gpWin->getOrigMaskScope() : cv::Rect();
}

QJsonObject HubPushSources::cameraParams()
{
    QJsonObject params;
    if (gpWin && gpWin->camera() && gpWin->camera()->cameraSingleton())
        gpWin->camera()->cameraSingleton()->getCameraParam(params);
    return params;
}

QJsonObject HubPushSources::picFileList()
{
    return gpWin ? gpWin->getPicFileList() : QJsonObject();
}

bool HubPushSources::colourFrames()
{
    return cameraParams().value(QStringLiteral("c_colorrepmono")).toBool();
}
