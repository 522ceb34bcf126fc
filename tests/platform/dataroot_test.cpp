#include "platform/system/dataroot.h"
#include "platform/system/monotonicclock.h"

#include <gtest/gtest.h>

using platform::DataRoot;

TEST(DataRootTest, AbsolutePathsMoveUnderTheRootRelativeOnesStay)
{
    const QString old = DataRoot::root();
    DataRoot::setRoot("/tmp/some-root");
    EXPECT_EQ(DataRoot::path("/userdata/log/"), "/tmp/some-root/userdata/log/");
    EXPECT_EQ(DataRoot::path("./workspace/Vistrel.ini"), "./workspace/Vistrel.ini");
    DataRoot::setRoot("/");
    EXPECT_EQ(DataRoot::path("/userdata/log/"), "/userdata/log/");
    DataRoot::setRoot(old);
}

TEST(DataRootTest, IsInsideRefusesEscapes)
{
    struct Case { const char* candidate; bool inside; };
    const Case cases[] = {
        {"a.bmp", true}, {"sub/a.bmp", true}, {".", true}, {"../x", false},
        {"sub/../../x", false}, {"/etc/passwd", false}, {"/base/dir/ok", true},
        {"/base/dirx/no", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DataRoot::isInside("/base/dir", c.candidate), c.inside) << c.candidate;
}

TEST(MonotonicClockTest, AgesNeverNegativeAndFollowTheTestShift)
{
    const qint64 stamp = platform::MonotonicClock::nowMs();
    EXPECT_GE(platform::MonotonicClock::ageMs(stamp), 0);
    EXPECT_EQ(platform::MonotonicClock::ageMs(stamp + 100000), 0);
    platform::MonotonicClock::advanceForTest(5000);
    EXPECT_GE(platform::MonotonicClock::ageMs(stamp), 5000);
}
