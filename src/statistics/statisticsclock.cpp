#include "statistics/statisticsclock.h"

#include "foundation/publictools.h"

#include <cstdio>
#include <mutex>

namespace statistics {
namespace {
std::mutex g_clockMutex;
WallClock& clockSlot()
{
    static WallClock clock;
    return clock;
}
}  // namespace

QDateTime wallNow()
{
    WallClock clock;
    {
        std::lock_guard<std::mutex> lock(g_clockMutex);
        clock = clockSlot();
    }
    return clock ? clock() : gettimeofday_date();
}

qint64 wallNowMs()
{
    WallClock clock;
    {
        std::lock_guard<std::mutex> lock(g_clockMutex);
        clock = clockSlot();
    }
    return clock ? clock().toMSecsSinceEpoch() : gettimeofday_ms();
}

void setWallClock(WallClock clock)
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    clockSlot() = std::move(clock);
}

QString hourKeyOf(const QDateTime& t)
{
    // Formatted by hand: the locale-aware formatter costs more than the rest
    // of a history row.
    const QDate d = t.date();
    const int h = t.time().hour();
    if (!d.isValid() || h < 0)
        return QString();
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d", d.year(), d.month(), d.day(), h);
    return QString::fromLatin1(text, n);
}

}  // namespace statistics
