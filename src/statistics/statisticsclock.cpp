#include "statistics/statisticsclock.h"

#include "foundation/publictools.h"

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

void setWallClock(WallClock clock)
{
    std::lock_guard<std::mutex> lock(g_clockMutex);
    clockSlot() = std::move(clock);
}

QString hourKeyOf(const QDateTime& t)
{
    return t.toString(QStringLiteral("yyyy-MM-dd hh"));
}

}  // namespace statistics
