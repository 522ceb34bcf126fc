#include "platform/media/aiqcontrol.h"

#include "platform/media/capturebuffer.h"

#include <QMutexLocker>

AiqControl* gAiqControl = nullptr;

AiqControl::AiqControl(int frameWidth, int frameHeight)
{
    platform::allocateCaptureBuffer(frameWidth, frameHeight);
}

bool AiqControl::aiq_control_get_status() const
{
    QMutexLocker lock(&m_mutex);
    return m_running;
}

bool AiqControl::record(Call call)
{
    call.applied = m_running;
    m_calls.push_back(call);
    return m_running;
}

int AiqControl::aiq_control_setManualExp(float gain, float time)
{
    QMutexLocker lock(&m_mutex);
    Call call;
    call.setter = Setter::ManualExp;
    call.gain = gain;
    call.time = time;
    if (!record(call))
        return 0;
    m_settings.gain = gain;
    m_settings.exposureTime = time;
    return m_resultCode;
}

int AiqControl::aiq_control_setSharpness(unsigned int level)
{
    QMutexLocker lock(&m_mutex);
    Call call;
    call.setter = Setter::Sharpness;
    call.level = level;
    if (!record(call))
        return 0;
    m_settings.sharpness = level;
    return m_resultCode;
}

int AiqControl::aiq_control_setContrast(unsigned int level)
{
    QMutexLocker lock(&m_mutex);
    Call call;
    call.setter = Setter::Contrast;
    call.level = level;
    if (!record(call))
        return 0;
    m_settings.contrast = level;
    return m_resultCode;
}

int AiqControl::aiq_control_setGamma(int value)
{
    QMutexLocker lock(&m_mutex);
    Call call;
    call.setter = Setter::Gamma;
    call.gamma = value;
    if (!record(call))
        return 0;
    // Read, change one word, write back: the other words stay as they were.
    std::array<int32_t, kGammaWords> attributes = m_settings.gammaAttributes;
    attributes[kGammaValueWord] = value;
    m_settings.gammaAttributes = attributes;
    return m_resultCode;
}

int AiqControl::aiq_control_setMirror(bool mirror, bool flip)
{
    QMutexLocker lock(&m_mutex);
    Call call;
    call.setter = Setter::Mirror;
    call.mirror = mirror;
    call.flip = flip;
    if (!record(call))
        return 0;
    m_settings.mirror = mirror;
    m_settings.flip = flip;
    return m_resultCode;
}

int AiqControl::aiq_control_setInitGamma()
{
    QMutexLocker lock(&m_mutex);
    return m_running ? m_resultCode : 0;
}

void AiqControl::setRunning(bool running)
{
    QMutexLocker lock(&m_mutex);
    m_running = running;
}

void AiqControl::setResultCode(int code)
{
    QMutexLocker lock(&m_mutex);
    m_resultCode = code;
}

std::vector<AiqControl::Call> AiqControl::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

void AiqControl::clearCalls()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
}

AiqControl::Settings AiqControl::settings() const
{
    QMutexLocker lock(&m_mutex);
    return m_settings;
}
