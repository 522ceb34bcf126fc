// Work events over the real camera-pair link: the test group (main camera
// and two subs, each with its own main thread, reactor and recording seam)
// with every camera on its own host of the private test LAN, listening on
// the real 8765. Skips without the right to make network namespaces.
#include "grouplan.h"
#include "support/grouppassport.h"
#include "support/logcapture.h"
#include "support/watchdog.h"

#include <gtest/gtest.h>

using grouptest::LanCameraGroup;

namespace {

const QString kCatch = QStringLiteral("/dide/action/manual_catch");

QVariantMap detectStep(int step)
{
    return testsupport::passportDatas([step](FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State& us) {
        us.fus_detect_index_abs = step;
    });
}

class WorkEventsOverTheLan : public ::testing::Test {
protected:
    void SetUp() override { RpcDistributed_Core::setBaseTimeoutMs(10000); }
    void TearDown() override { RpcDistributed_Core::setBaseTimeoutMs(10000); }
};

}  // namespace

#define GROUP_OR_SKIP(g, subs)                \
    LanCameraGroup g(subs);                   \
    if (!g.ok())                              \
        GTEST_SKIP() << g.why().toStdString()

TEST_F(WorkEventsOverTheLan, ManualCatchCollectsEveryCameraOverSockets)
{
    testsupport::Watchdog dog(240, "manual catch over the LAN");
    GROUP_OR_SKIP(group, 2);
    ASSERT_TRUE(group.pair());
    struct Row {
        const char* name;
        QList<bool> s2results;
        bool result;
    };
    const Row rows[] = {{"all OK", {true}, true}, {"a sub NG", {false}, false}};
    int round = 0;
    for (const Row& r : rows) {
        ++round;
        group.sub(2).services.scriptResults(r.s2results);
        const QVariantMap answer = group.activate(kCatch, detectStep(1), QStringLiteral("lan-%1").arg(round));
        EXPECT_EQ(answer.value(QStringLiteral("work_error")).toInt(), 0) << r.name;
        EXPECT_EQ(answer.value(QStringLiteral("result")), QVariant(r.result)) << r.name;
        const QVariantMap detail = answer.value(QStringLiteral("result_detail")).toMap();
        EXPECT_EQ(detail.keys(), (QStringList{QStringLiteral("M1"), QStringLiteral("S1"), QStringLiteral("S2")}))
            << r.name;
        EXPECT_EQ(workevent_map_2_back(answer).result, r.result ? 1 : 0) << r.name;
    }
    // Every seam call ran on its camera's own main thread.
    for (int i = 0; i <= 2; ++i) {
        testsupport::GroupCameraCore& cam = i == 0 ? group.main() : group.sub(i);
        EXPECT_EQ(cam.services.callThreads(), QSet<QThread*>{&cam.thread}) << i;
        EXPECT_EQ(cam.services.count(QStringLiteral("RunAlgorithm_New(1)")), 2) << i;
    }
}

TEST_F(WorkEventsOverTheLan, ASubThatStopsListeningMakesTheEventNgAtTheLimit)
{
    testsupport::Watchdog dog(240, "sub gone over the LAN");
    RpcDistributed_Core::setBaseTimeoutMs(1500);
    GROUP_OR_SKIP(group, 2);
    ASSERT_TRUE(group.pair());
    // Stopped from another thread: the stop is re-posted to the link thread
    // as a stop (not a restart), and the main's client to it goes down.
    EXPECT_FALSE(group.link(2)->InitWsServer(false));
    ASSERT_TRUE(grouptest::waitUntil([&] {
        grouptest::tick(group.link(0));
        return !group.link(0)->getIsCnetd();
    }));
    bool serverGone = false;
    grouptest::onLink(group.link(2), [&] { serverGone = group.link(2)->server() == nullptr; });
    EXPECT_TRUE(serverGone);

    const QVariantMap answer = group.activate(kCatch, detectStep(0));
    EXPECT_EQ(answer, (QVariantMap{{QStringLiteral("work_error"), 1}}));
    EXPECT_EQ(workevent_map_2_back(answer).result, 0);  // never OK
    EXPECT_EQ(group.sub(1).services.count(QStringLiteral("RunAlgorithm_New(0)")), 1);
    EXPECT_EQ(group.sub(2).services.count(QStringLiteral("RunAlgorithm_New(0)")), 0);
}

TEST_F(WorkEventsOverTheLan, AStrangersRequestRunsNothingOnASub)
{
    testsupport::Watchdog dog(240, "stranger over the LAN");
    GROUP_OR_SKIP(group, 1);
    ASSERT_TRUE(group.pair());
    LanHost* strangerHost = group.stranger();
    ASSERT_NE(strangerHost, nullptr);
    testsupport::LogCapture logs;
    const QString subAddress = group.host(1)->address();
    bool opened = false;
    strangerHost->call([&] {
        SimPeerClient stranger;
        opened = stranger.open(subAddress);
        if (!opened)
            return;
        for (const char* topic : {"/dide/action/manual_catch(rpc)", "/dide/action/resample(rpc)",
                                  "/dide/sync/subscribe(rpc)", "/dide/action/manual_catch"})
            stranger.send(SubCameraSimulator::frame(QString::fromUtf8(topic), "x", "STRANGER", detectStep(0)));
        SubCameraSimulator::processEventsFor(300);
    });
    ASSERT_TRUE(opened);
    // The main's own request still runs there, and only it.
    const QVariantMap answer = group.activate(kCatch, detectStep(0));
    EXPECT_EQ(answer.value(QStringLiteral("work_error")).toInt(), 0);
    EXPECT_EQ(group.sub(1).services.calls().count(QStringLiteral("RunAlgorithm_New(0)")), 1);
    EXPECT_EQ(group.sub(1).services.count(QStringLiteral("SlotTempDeleteAll")), 0);
    EXPECT_TRUE(logs.reachesLogFiles(QStringLiteral("[TM_CAMS] refused frame from")));
}
