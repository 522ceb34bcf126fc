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

// However long ago anyone looked, the age is that of the main loop's last
// tick: a loop that ticked once after the previous look and then stalled is
// seen as stalled at the first look after the gap.
TEST_F(MainLoopWatch, AStallIsMeasuredFromTheLastTickAcrossGapsBetweenLooks)
{
    struct Case {
        const char* name;
        int tickOffset;        // the tick's value against the wall clock, in ticks
        qint64 sinceTickMs;    // monotonic time between the tick and the look
        bool alive;
    } cases[] = {
        {"fresh", 0, 0, true},
        {"nine seconds old", 0, 9000, true},
        {"eleven seconds old", 0, 11000, false},
        {"ahead of the wall clock, just written", 360000, 0, true},
        {"ahead of the wall clock, eleven seconds old", 360000, 11000, false},
        {"behind the wall clock, just written", -360000, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(ioworkinfo::mainLoopAlive());  // the previous look
        MonotonicClock::advanceForTest(30000);     // a long gap, the loop still ticking...
        tick(int((qint64(curtime_qint64_2_int()) + c.tickOffset + 1000000000) % 1000000000));
        MonotonicClock::advanceForTest(c.sinceTickMs);  // ...until it stalled
        EXPECT_EQ(ioworkinfo::mainLoopAlive(), c.alive);
        tick(curtime_qint64_2_int());
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
