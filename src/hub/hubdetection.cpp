// The hub's detection on the latest frame: the frame copy from the shared
// capture buffer, one detection step into a work event's result unit, and
// the training of a step's first template.
//
// A verdict is only ever OK for a step that exists, run now on a frame the
// capture side delivered lately; anything else runs nothing and answers NG.
#include "hub/divuvarude.h"

#include "capture/aiqcontrol.h"
#include "flow/flowworkevent.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "hub/hubmanager.h"
#include "inspection/camera.h"
#include "inspection/camerastoreservices.h"
#include "inspection/cameraimage.h"
#include "inspection/cammerrecongnize.h"
#include "inspection/cammersingleton.h"
#include "platform/media/capturebuffer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutexLocker>

#include <cstring>

bool DiVuVarude::isDetectStep(int detect)
{
    return detect >= 0 && detect < gDNum && detect < CameraRecong::kSteps;
}

bool DiVuVarude::updateImageData()
{
    if (gFPS.load() < 1 || !m_camera)
        return false;
    CameraImage* image = m_camera->cameraImage();
    const int length = image->getImageDataLen();
    if (!pMutex || !image->rawBuffer() || image->rawBufferLength() < length) {
        qCWarning(level_1) << "[HUB] no frame-buffer lock or no raw buffer in the image store: no frame copied";
        return false;
    }
    {
        QMutexLocker lock(pMutex);
        if (!gImageThread || platform::captureBufferSize() != length) {
            lock.unlock();
            qCWarning(level_1) << "[HUB] capture buffer of" << platform::captureBufferSize() << "bytes, the frame has"
                               << length << ": no frame copied";
            return false;
        }
        std::memcpy(image->rawBuffer(), gImageThread, size_t(length));
    }
    image->updateImageData();
    if (m_frameOutage) {
        m_frameOutage = false;
        qCInfo(level_1) << "[HUB] fresh frames again, gFPS" << gFPS.load();
    }
    return true;
}

void DiVuVarude::noFreshFrame(const char* operation, int detect)
{
    qCWarning(level_1).noquote() << QStringLiteral("<%1>:").arg(QLatin1String(operation))
                                 << "no fresh frame for detection" << detect << "(gFPS" << gFPS.load()
                                 << "): nothing run, judged NG";
    if (!m_frameOutage) {
        m_frameOutage = true;
        InsertRecord(tr("相机无新画面，检测判为NG"), QStringLiteral("system"));
    }
}

void DiVuVarude::RunAlgorithm_New(int detect, SCollect_Unit& unit)
{
    unit.detect = detect;
    if (!isDetectStep(detect)) {
        qCWarning(level_1).noquote() << QStringLiteral("<%1>:").arg(QLatin1String("RunAlgorithm_New")) << "detection"
                                     << detect << "does not exist (" << gDNum << "steps): nothing run, judged NG";
        unit.is_valid = false;
        unit.result = false;
        unit.calculate_time = 0;
        return;
    }
    if (!updateImageData()) {
        noFreshFrame("RunAlgorithm_New", detect);
        unit.is_valid = false;
        unit.result = false;
        unit.calculate_time = 0;
        return;
    }
    if (HubManager* manager = HubManager::instance())
        manager->post2app_main_snapshot(m_camera->cameraImage()->getWorkImage());

    QElapsedTimer timer;
    timer.start();
    m_camera->cameraRecong()->Run(detect);
    const int ms = int(timer.elapsed());

    unit.is_valid = true;
    unit.calculate_times += 1;
    unit.calculate_time = ms;
    unit.result = m_camera->getResult();
    qCInfo(level_1).noquote() << QStringLiteral("<%1>:").arg(QLatin1String("RunAlgorithm_New"))
                              << "+ RunAlgorithm Finish" << "use_time_ms:" << ms;
}

void DiVuVarude::RunTrain_New(int detect, SCollect_Unit& unit)
{
    const QString where = QStringLiteral("<%1>:").arg(QLatin1String("RunTrain_New"));
    unit.detect = detect;
    if (!isDetectStep(detect)) {
        qCWarning(level_1).noquote() << where << "detection" << detect << "does not exist (" << gDNum
                                     << "steps): no template stored";
        unit.result = false;
        unit.calculate_time = 0;
        return;
    }
    QElapsedTimer timer;
    timer.start();
    if (!updateImageData()) {
        noFreshFrame("RunTrain_New", detect);
        unit.result = false;
        unit.calculate_time = 0;
        return;
    }
    const bool saved = m_camera->cameraImage()->SaveReTrainImage(detect);
    const int ms = int(timer.elapsed());
    if (!saved)
        qCWarning(level_1).noquote() << where << "the frame could not be stored as template of detection" << detect;
    unit.result = saved && m_camera->getResult();
    unit.calculate_time = ms;
    qCInfo(level_1).noquote() << where << "RunTrain Finish" << "use_time_ms:" << ms;
}

void DiVuVarude::RunTrain_Var(int detect)
{
    if (!isDetectStep(detect)) {
        qCWarning(level_1) << "[HUB] RunTrain_Var: detection" << detect << "does not exist, nothing retrained";
        return;
    }
    m_camera->cameraRecong()->preprocessor(detect);
}

void DiVuVarude::Update_MemNGLook(int detect)
{
    if (!isDetectStep(detect))
        return;
    QMutexLocker lock(&m_ngMutex);
    m_camera->cameraImage()->addNGImage(detect);
}
