#include "platform/system/monotonicclock.h"

#include <atomic>
#include <time.h>

namespace platform {

namespace {
std::atomic<qint64> g_testOffset{0};
}

qint64 MonotonicClock::nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 + g_testOffset.load();
}

qint64 MonotonicClock::ageMs(qint64 stampMs)
{
    const qint64 age = nowMs() - stampMs;
    return age < 0 ? 0 : age;
}

void MonotonicClock::advanceForTest(qint64 ms)
{
    if (ms > 0)
        g_testOffset.fetch_add(ms);
}

}  // namespace platform
