// The liveness segment as the daemon holds and reads it: answer codes from
// the segment's text, the age on the monotonic clock, a stopped writer,
// segments left by a killed daemon or still held by another process.
#include "daemon/livenesstracker.h"
#include "daemontestbench.h"
#include "support/logcapture.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include <atomic>
#include <memory>

using daemontest::Holder;
using daemontest::uniqueKey;
using daemontest::writeRecord;

namespace {

struct FakeClock {
    std::shared_ptr<std::atomic<qint64>> ms = std::make_shared<std::atomic<qint64>>(1000000);
    std::function<qint64()> fn() const
    {
        auto p = ms;
        return [p] { return p->load(); };
    }
    void advance(qint64 d) { *ms += d; }
};

LivenessTracker::Options options(const QString& key, const FakeClock& clock)
{
    LivenessTracker::Options o;
    o.key = key;
    o.clockMs = clock.fn();
    return o;
}

}  // namespace

TEST(LivenessTrackerTest, AnswerCodesFromTheSegmentsText)
{
    FakeClock clock;
    const QString key = uniqueKey();
    LivenessTracker tracker(options(key, clock));
    ASSERT_TRUE(tracker.holdsSegment());

    struct Row {
        QByteArray text;
        int code;
        const char* msg;
    };
    const QList<Row> rows = {
        {"", -2, "获取相机运行信息出错"},
        {"{}", -2, "获取相机运行信息出错"},
        {"[]", -2, "获取相机运行信息出错"},
        {"x", -2, "获取相机运行信息出错"},
        {"{\"ms_1000\":1,", -2, "获取相机运行信息出错"},
        {"{\"ms_1000\":1700000000,\"fps\":25}", 0, "OK"},
        // The record's own time, an hour off the daemon's, does not matter.
        {"{\"ms_1000\":" + QByteArray::number(QDateTime::currentSecsSinceEpoch() - 3600) + "}", 0, "OK"},
        {"{\"ms_1000\":" + QByteArray::number(QDateTime::currentSecsSinceEpoch() + 3600) + "}", 0, "OK"},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(writeRecord(key, r.text));
        const LivenessTracker::State s = tracker.state();
        EXPECT_EQ(s.code, r.code) << r.text.constData();
        EXPECT_EQ(s.msg, QString::fromUtf8(r.msg)) << r.text.constData();
        if (r.code == 0) {
            EXPECT_EQ(s.result, QJsonDocument::fromJson(r.text).object());
        }
    }
}

TEST(LivenessTrackerTest, StaleAfterFortySecondsUnchangedOnTheMonotonicClock)
{
    FakeClock clock;
    const QString key = uniqueKey();
    LivenessTracker tracker(options(key, clock));
    const QByteArray record = "{\"ms_1000\":1700000000,\"main_alive\":1}";
    ASSERT_TRUE(writeRecord(key, record));
    tracker.tick();  // the second's read stamps the change

    clock.advance(40000);
    tracker.tick();  // unchanged: no new stamp
    LivenessTracker::State s = tracker.state();
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.result.value(QStringLiteral("main_alive")).toInt(), 1);

    clock.advance(1);
    s = tracker.state();
    EXPECT_EQ(s.code, -3);
    EXPECT_EQ(s.msg, QStringLiteral("相机程序崩溃"));
    EXPECT_TRUE(s.result.isEmpty());

    // The same text written again is no sign of life; a new one is.
    ASSERT_TRUE(writeRecord(key, record));
    EXPECT_EQ(tracker.state().code, -3);
    ASSERT_TRUE(writeRecord(key, "{\"ms_1000\":1700000030,\"main_alive\":1}"));
    EXPECT_EQ(tracker.state().code, 0);
}

TEST(LivenessTrackerTest, AStoppedWriterIsStale)
{
    FakeClock clock;
    const QString key = uniqueKey();
    LivenessTracker tracker(options(key, clock));
    Holder writer({"write", key, "20"});
    ASSERT_TRUE(writer.ready());
    EXPECT_EQ(tracker.state().code, 0);

    writer.signal(SIGSTOP);
    QThread::msleep(100);  // lets a write in progress finish; the test does not depend on it
    tracker.tick();        // the last record written is stamped now
    clock.advance(40001);
    EXPECT_EQ(tracker.state().code, -3);

    writer.signal(SIGCONT);
    QElapsedTimer t;
    t.start();
    while (tracker.state().code != 0 && t.elapsed() < 30000)
        QThread::msleep(10);
    EXPECT_EQ(tracker.state().code, 0);
}

TEST(LivenessTrackerTest, AWriterStuckHoldingTheLockDoesNotHangTheReader)
{
    FakeClock clock;
    const QString key = uniqueKey();
    LivenessTracker tracker(options(key, clock));
    std::future<int> code;  // outlives the holder: its kill releases a blocked read
    Holder stuck({"stuck", key});
    ASSERT_TRUE(stuck.ready());

    code = std::async(std::launch::async, [&tracker] { return tracker.state().code; });
    ASSERT_EQ(code.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the reader waits for a lock the stopped writer holds";
    EXPECT_EQ(code.get(), 0);  // the record written before the lock
    clock.advance(40001);
    EXPECT_EQ(tracker.state().code, -3);
}

TEST(LivenessTrackerTest, ASegmentLeftByAKilledDaemonIsReplaced)
{
    const QString key = uniqueKey();
    {
        Holder killed({"create", key, "1024", "{\"ms_1000\":1,\"left\":1}"});
        ASSERT_TRUE(killed.ready());
        killed.kill();  // SIGKILL: the segment stays behind, held by nobody
    }
    FakeClock clock;
    LivenessTracker tracker(options(key, clock));
    ASSERT_TRUE(tracker.holdsSegment());
    EXPECT_EQ(tracker.state().code, -2);  // a fresh, empty segment: not the old record
}

TEST(LivenessTrackerTest, AnOldSegmentStillHeldIsAttachedAfterTheBoundedLoop)
{
    const QString key = uniqueKey();
    Holder camera({"create", key, "1024", "{\"ms_1000\":5,\"held\":1}"});
    ASSERT_TRUE(camera.ready());
    testsupport::LogCapture log;
    FakeClock clock;
    LivenessTracker tracker(options(key, clock));  // 50 tries 100 ms apart, then attaches
    ASSERT_TRUE(tracker.holdsSegment());
    const LivenessTracker::State s = tracker.state();
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.result.value(QStringLiteral("held")).toInt(), 1);
    EXPECT_TRUE(log.anyContains(QStringLiteral("an existing liveness segment is attached")));
}

TEST(LivenessTrackerTest, ASegmentOfAnotherSizeIsNotUsedAndRetriedEveryFiveSeconds)
{
    const QString key = uniqueKey();
    auto other = std::make_unique<Holder>(QStringList{"create", key, "512", "{\"ms_1000\":5}"});
    ASSERT_TRUE(other->ready());
    testsupport::LogCapture log;
    FakeClock clock;
    LivenessTracker tracker(options(key, clock));
    EXPECT_FALSE(tracker.holdsSegment());
    LivenessTracker::State s = tracker.state();
    EXPECT_EQ(s.code, -1);
    EXPECT_EQ(s.msg, QStringLiteral("无法附加到共享内存"));
    EXPECT_TRUE(log.anyContains(QStringLiteral("has 512 bytes")));

    other.reset();  // killed: its segment stays behind, held by nobody
    clock.advance(4999);
    tracker.tick();
    EXPECT_FALSE(tracker.holdsSegment());  // not yet due
    clock.advance(1);
    tracker.tick();
    ASSERT_TRUE(tracker.holdsSegment());
    EXPECT_EQ(tracker.state().code, -2);
}
