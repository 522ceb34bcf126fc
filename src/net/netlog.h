#pragma once
// Logging of the network layer: warnings about refused input or dropped
// messages go to the always-on "level_1" category so they reach the log
// files whatever the work stash has switched off.
#include "foundation/logmanager.h"

#include <QMutex>

// Lets through one message per `intervalMs` and counts the ones it held
// back, so that a peer that misbehaves in a loop cannot flood the log.
// Measured on the program's monotonic clock, like the ages of the network
// layer, which tests may advance: moving it past the interval lets the next
// message through, whatever was logged before.
// Thread-safe.
class NetLogLimiter {
public:
    explicit NetLogLimiter(qint64 intervalMs = 1000) : m_intervalMs(intervalMs) {}
    // True when a message may be written now; `suppressed` gets how many
    // were held back since the last one.
    bool allow(int* suppressed = nullptr);

private:
    QMutex m_mutex;
    qint64 m_lastMs = -1;  // monotonic ms of the last message let through, -1 none
    qint64 m_intervalMs;
    int m_suppressed = 0;
};
