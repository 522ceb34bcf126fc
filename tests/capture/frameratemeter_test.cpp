// The frame rate from the capture counter: no rate before a whole period,
// growth over time truncated, a counter that goes backwards counts as none.
#include "capture/frameratemeter.h"
#include "capture/aiqcontrol.h"

#include <gtest/gtest.h>

TEST(FrameRateMeterTest, RatesFromGrowthAndTime)
{
    struct Case { int64_t growth; qint64 ms; int rate; };
    const Case cases[] = {{60, 3000, 20}, {59, 3000, 19}, {2, 3000, 0}, {10, 0, 0}, {-5, 3000, 0}, {30, 1500, 20}};
    for (const Case& c : cases)
        EXPECT_EQ(FrameRateMeter::framesPerSecond(c.growth, c.ms), c.rate) << c.growth << " in " << c.ms;
}

TEST(FrameRateMeterTest, TheFirstTickOnlyTakesTheStartAndABackwardCounterGivesZero)
{
    gFPS.store(0);
    gFPS_Times.store(1000);
    FrameRateMeter meter;
    EXPECT_EQ(meter.tick(10000), -1);
    EXPECT_EQ(gFPS.load(), 0) << "nothing measured yet";
    gFPS_Times.store(1060);
    EXPECT_EQ(meter.tick(13000), 20);
    EXPECT_EQ(gFPS.load(), 20);
    gFPS_Times.store(500);
    EXPECT_EQ(meter.tick(16000), 0);
    EXPECT_EQ(gFPS.load(), 0);
    gFPS_Times.store(INT32_MAX);
    meter.tick(19000);
    gFPS_Times.store(INT32_MIN + 29);  // wrapped after 30 frames
    EXPECT_EQ(meter.tick(22000), 10);
    gFPS.store(0);
    gFPS_Times.store(0);
}
