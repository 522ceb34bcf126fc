#include "capture/frameratemeter.h"

#include "capture/aiqcontrol.h"

int FrameRateMeter::framesPerSecond(int64_t growth, qint64 elapsedMs)
{
    if (elapsedMs <= 0 || growth <= 0)
        return 0;
    return int(growth * 1000 / elapsedMs);
}

int FrameRateMeter::tick(qint64 nowMs)
{
    const int32_t count = gFPS_Times.load();
    if (!m_started) {
        m_started = true;
        m_lastCount = count;
        m_lastMs = nowMs;
        return -1;
    }
    // The counter wraps after 2^31: the difference is taken as unsigned 32-bit.
    const int64_t growth = int64_t(uint32_t(count) - uint32_t(m_lastCount)) >= (int64_t(1) << 31)
                               ? 0
                               : int64_t(uint32_t(count) - uint32_t(m_lastCount));
    const int rate = framesPerSecond(growth, nowMs - m_lastMs);
    m_lastCount = count;
    m_lastMs = nowMs;
    gFPS.store(rate);
    return rate;
}
