#pragma once
// Monotonic milliseconds for liveness ages: unaffected by "date -s" and
// without the wrap of the 10 ms heartbeat tick. Tests may shift it.
#include <QtGlobal>

namespace platform {

class MonotonicClock {
public:
    // Milliseconds since an arbitrary start; never goes backwards.
    static qint64 nowMs();
    // Age of a stamp taken with nowMs(); never negative.
    static qint64 ageMs(qint64 stampMs);
    // Test hook: added to every reading (only ever grows).
    static void advanceForTest(qint64 ms);
    // Test hook: while frozen, readings move only by advanceForTest, so a
    // test's steps do not depend on how fast the machine runs them.
    static void freezeForTest(bool frozen);
};

}  // namespace platform
