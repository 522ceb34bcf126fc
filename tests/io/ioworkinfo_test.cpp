// What machine IO keeps in the work information: output bits by module
// state, and the liveness of the main loop measured on the monotonic clock,
// across a wrap of the heartbeat tick and a step of the wall clock.
#include "io/ioworkinfo.h"

#include "iotestbench.h"
#include "platform/system/monotonicclock.h"

#include <gtest/gtest.h>

namespace {

using namespace iotest;
using platform::MonotonicClock;

constexpr qint64 kStopAfterMs = 10010;  // 1001 ticks of 10 ms

TEST(IoWorkInfo, OutputBitsAreKeptOnlyWhileBothLinksAreUp)
{
    CameraSetup camera;
    EXPECT_EQ(ioworkinfo::storeOutputBit(2, 1), 0b100);
    EXPECT_EQ(ioworkinfo::storeOutputBit(0, 1), 0b101);
    EXPECT_EQ(ioworkinfo::storeOutputBit(2, 0), 0b001);
    camera.setModuleState(1);
    EXPECT_EQ(ioworkinfo::storeOutputBit(3, 1), 0);
    EXPECT_EQ(camera.work().output_bits, 0);
}

TEST(IoWorkInfo, InputBitsAreExchanged)
{
    CameraSetup camera;
    EXPECT_EQ(ioworkinfo::exchangeInputBits(5), 0);
    EXPECT_EQ(ioworkinfo::exchangeInputBits(1), 5);
    EXPECT_EQ(camera.work().input_bits, 1);
}

class MainLoopWatch : public ::testing::Test {
protected:
    void tick(int value) { camera.mgr->set_mainloop_tick(value); }
    CameraSetup camera;  // the main loop has just ticked
};

TEST_F(MainLoopWatch, StoppedAfterTenSecondsWithoutATick)
{
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
    MonotonicClock::advanceForTest(kStopAfterMs - 100);
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
    MonotonicClock::advanceForTest(100);
    EXPECT_FALSE(ioworkinfo::mainLoopAlive());
    tick(curtime_qint64_2_int() + 7);  // it ticks again
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
}

// The tick wraps at 1e9. A main loop that stalled just before the wrap has a
// tick above the current one; the difference of ticks is negative, which a
// plain comparison takes for a fresh stamp for ever.
TEST_F(MainLoopWatch, AStallJustBeforeTheTickWrapsIsStillSeen)
{
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
    tick(999999995);
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());  // a tick was just written
    MonotonicClock::advanceForTest(kStopAfterMs);
    EXPECT_FALSE(ioworkinfo::mainLoopAlive());
    tick(3);  // after the wrap
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
}

// The wall clock was set back an hour after the main loop's last tick: its
// stamp lies in the future of the clock.
TEST_F(MainLoopWatch, AStallAcrossABackwardClockStepIsStillSeen)
{
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
    tick(curtime_qint64_2_int() + 360000);
    EXPECT_TRUE(ioworkinfo::mainLoopAlive());
    MonotonicClock::advanceForTest(kStopAfterMs);
    EXPECT_FALSE(ioworkinfo::mainLoopAlive());
}

TEST_F(MainLoopWatch, FirstLookTakesTheAgeOfTheTick)
{
    struct Case {
        const char* name;
        int ageTicks;  // negative: a stamp ahead of the clock
        bool alive;
    } cases[] = {
        {"fresh", 0, true},
        {"nine seconds old", 900, true},
        {"eleven seconds old", 1100, false},
        {"ahead of the clock", -360000, false},
    };
    for (const Case& c : cases) {
        ioworkinfo::resetMainLoopWatch();
        tick(int((qint64(curtime_qint64_2_int()) - c.ageTicks + 1000000000) % 1000000000));
        EXPECT_EQ(ioworkinfo::mainLoopAlive(), c.alive) << c.name;
    }
}

TEST(IoWorkInfo, RecordsGoToTheRegisteredWriterOnly)
{
    CameraSetup camera;
    ioworkinfo::insertSystemRecord(QStringLiteral("lost"));  // nobody registered: nothing happens
    RecordCollector records;
    ioworkinfo::setRecordWriter(&records);
    ioworkinfo::insertSystemRecord(QStringLiteral("kept"));
    ioworkinfo::setRecordWriter(nullptr);
    EXPECT_EQ(records.texts, QStringList{QStringLiteral("kept")});
    EXPECT_EQ(records.types, QStringList{QStringLiteral("system")});
}

}  // namespace
