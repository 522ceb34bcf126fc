// The IO transport base: its thread, its liveness on the monotonic clock and
// the merging of output changes into one flush.
#include "io/frameio_reactor.h"

#include "fakereactor.h"
#include "platform/system/monotonicclock.h"
#include "tools/iomodulesim/iomodulesimulator.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using platform::MonotonicClock;

bool waitFor(const std::function<bool()>& done, int ms = 2000)
{
    return IoModuleSimulator::waitFor(done, ms);
}

TEST(FrameIO_Reactor, RunsInAThreadOfItsOwn)
{
    FakeReactor r;
    EXPECT_NE(r.thread(), QThread::currentThread());
    EXPECT_EQ(r.thread(), r.reactorThread());
    EXPECT_TRUE(r.reactorThread()->isRunning());
}

TEST(FrameIO_Reactor, ContactLastsLessThanItsLimitOnTheMonotonicClock)
{
    FakeReactor r;
    EXPECT_FALSE(r.getIsCnted());  // nothing heard yet
    r.contactNow();
    EXPECT_TRUE(r.getIsCnted());
    MonotonicClock::advanceForTest(r.get_cnted_limit() - 50);
    EXPECT_TRUE(r.getIsCnted());
    MonotonicClock::advanceForTest(60);
    EXPECT_FALSE(r.getIsCnted());
    r.contactNow();
    EXPECT_TRUE(r.getIsCnted());
}

TEST(FrameIO_Reactor, IsAliveWhileItsThreadTicksAndNotAfterStop)
{
    FakeReactor r;
    EXPECT_FALSE(r.getTimerAlived());  // no tick yet
    ASSERT_TRUE(waitFor([&] { return r.getTimerAlived(); }));

    EXPECT_FALSE(r.Stop());  // from another thread: waits, then answers false
    MonotonicClock::advanceForTest(r.get_alived_limit());
    EXPECT_FALSE(r.getTimerAlived());
    // The timers stay stopped: no tick brings it back.
    EXPECT_FALSE(waitFor([&] { return r.getTimerAlived(); }, 500));
}

TEST(FrameIO_Reactor, StopInItsOwnThreadAnswersTrue)
{
    FakeReactor r;
    bool answer = false;
    r.runHere([&] { answer = r.Stop(); });
    EXPECT_TRUE(answer);
}

TEST(FrameIO_Reactor, RequestsInARowGiveOneFlushInTheTransportThread)
{
    FakeReactor r;
    r.runHere([&] {
        r.HasOutput(1);
        r.HasOutput(1);
        r.HasOutput(1);
    });
    ASSERT_TRUE(waitFor([&] { return r.flushes.load() > 0; }));
    EXPECT_FALSE(waitFor([&] { return r.flushes.load() > 1; }, 100));
    EXPECT_EQ(r.flushes.load(), 1);
    EXPECT_EQ(r.flushThread.load(), r.reactorThread());
}

TEST(FrameIO_Reactor, ARequestFromAnotherThreadIsPostedToTheTransport)
{
    FakeReactor r;
    EXPECT_FALSE(r.start_Timer_FlushIO_Output());  // posted
    ASSERT_TRUE(waitFor([&] { return r.flushes.load() == 1; }));
    EXPECT_EQ(r.flushThread.load(), r.reactorThread());
}

TEST(FrameIO_Reactor, RequestsFromAnotherThreadWithinAWindowGiveOneFlushAWindowAfterTheLast)
{
    using Clock = std::chrono::steady_clock;
    FakeReactor r;
    // The three requests must fall within 1 ms of each other; a machine that
    // stalls this thread in between gets another try.
    bool tried = false;
    for (int attempt = 0; attempt < 5 && !tried; ++attempt) {
        const int before = r.flushes.load();
        const Clock::time_point first = Clock::now();
        r.HasOutput(1);
        r.HasOutput(1);
        const Clock::time_point beforeLast = Clock::now();
        r.HasOutput(1);
        const Clock::time_point last = Clock::now();
        ASSERT_TRUE(waitFor([&] { return r.flushes.load() > before; }));
        const bool second = waitFor([&] { return r.flushes.load() > before + 1; }, 50);
        if (last - first >= std::chrono::milliseconds(1))
            continue;
        tried = true;
        EXPECT_FALSE(second);
        EXPECT_EQ(r.flushes.load(), before + 1);
        EXPECT_EQ(r.flushThread.load(), r.reactorThread());
        // Not before the window opened by the last request has closed.
        EXPECT_GE(Clock::duration(r.flushAt.load()), beforeLast.time_since_epoch() + std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(tried) << "no three requests within 1 ms in five tries";
}

TEST(FrameIO_Reactor, FlushModesZeroNowOneLaterOthersNothing)
{
    FakeReactor r;
    r.HasOutput(2);
    r.HasOutput(-1);
    EXPECT_FALSE(waitFor([&] { return r.flushes.load() > 0; }, 100));

    r.HasOutput(0);  // at once, in the caller's thread
    EXPECT_EQ(r.flushes.load(), 1);
    EXPECT_EQ(r.flushThread.load(), QThread::currentThread());
}

}  // namespace
