#include "net/netlog.h"

#include <QMutexLocker>

bool NetLogLimiter::allow(int* suppressed)
{
    QMutexLocker lock(&m_mutex);
    if (m_last.isValid() && m_last.elapsed() < m_intervalMs) {
        ++m_suppressed;
        return false;
    }
    m_last.start();
    if (suppressed)
        *suppressed = m_suppressed;
    m_suppressed = 0;
    return true;
}
