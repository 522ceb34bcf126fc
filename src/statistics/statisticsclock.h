#pragma once
// The wall clock of the production statistics: hour keys, minute of the hour
// and the live start time all come from it. The program uses the system
// clock; tests hand in their own. Callable from any thread.
#include <QDateTime>

#include <functional>

namespace statistics {

using WallClock = std::function<QDateTime()>;

// The current local date and time.
QDateTime wallNow();
// The same as milliseconds since the epoch (cheaper: no local time).
qint64 wallNowMs();
// Replaces the clock; an empty function restores the system clock. Set it
// before counting starts (it is not meant to change under running readers).
void setWallClock(WallClock clock);

// "yyyy-MM-dd hh" of a local time: the key of its hour.
QString hourKeyOf(const QDateTime& t);

}  // namespace statistics
