#include "net/netlog.h"

#include "platform/system/monotonicclock.h"

#include <QMutexLocker>

bool NetLogLimiter::allow(int* suppressed)
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = platform::MonotonicClock::nowMs();
    if (m_lastMs >= 0 && now - m_lastMs < m_intervalMs) {
        ++m_suppressed;
        return false;
    }
    m_lastMs = now;
    if (suppressed)
        *suppressed = m_suppressed;
    m_suppressed = 0;
    return true;
}
