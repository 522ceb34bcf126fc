#include "platform/system/monotonicclock.h"

#include <atomic>
#include <time.h>

namespace platform {

namespace {
std::atomic<qint64> g_testOffset{0};
std::atomic<qint64> g_frozenAt{-1};  // the real reading at the freeze, or -1

qint64 realMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

qint64 MonotonicClock::nowMs()
{
    const qint64 frozen = g_frozenAt.load();
    return (frozen >= 0 ? frozen : realMs()) + g_testOffset.load();
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

void MonotonicClock::freezeForTest(bool frozen)
{
    // Thawing goes on from the real reading, which is later: never backwards.
    g_frozenAt.store(frozen ? realMs() : -1);
}

}  // namespace platform
