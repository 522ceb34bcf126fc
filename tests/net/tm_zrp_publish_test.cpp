// The result publisher against simulated operator applications in a private
// network: detail pushes and snapshots, the mask-push rule, subscribers and
// their settings, the subscriber post queue, and resources over many pushes.
#include "net/tcp_push2app.h"
#include "publishbench.h"

#include "support/logcapture.h"

#include <QJsonArray>
#include <QNetworkRequest>
#include <QThreadPool>
#include <gtest/gtest.h>

namespace {

using namespace nettest;

template <typename F>
auto onPublisher(TM_ZRP_Publish* p, F fn)
{
    decltype(fn()) result{};
    QMetaObject::invokeMethod(p, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
    return result;
}

CTask_FormData form(const QString& url, const QString& uuid)
{
    CTask_FormData f;
    f.url = url;
    f.uuid = uuid;
    f.device_id = kSelf;
    f.json = QJsonObject{{"detect", 1}};
    return f;
}

const QString kInfo = "/dide/initiative/runresult_info";
const QString kMask = "/dide/initiative/runresult_mask";
const QString kShot = "/dide/initiative/post_lastshowlive";

struct Bench : PublishBench {
    Bench()
    {
        if (!ok())
            return;
        camera->setGroupText("(M1);(CAMSELF,127.0.0.1);();()");
        registerApp(kApp1);
        registerApp(kApp2);
        camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = kApp1.toStdString(); });
    }
    bool detail(const CTask_FormData& f, int lifetime = 5)
    {
        return onPublisher(publisher.get(), [&] { return publisher->Post2App_Detail(f, lifetime); });
    }
    bool snapshot(const CTask_FormData& f)
    {
        return onPublisher(publisher.get(), [&] { return publisher->Post2App_Snapshot(f); });
    }
    int live() { return onPublisher(publisher.get(), [&] { return publisher->livePushCount(); }); }
    bool gotAt(AppSimulator& app, const QString& uuid, int ms = 3000)
    {
        return waitUntil(
            [&] {
                for (const CTask_FormData& f : app.pushes())
                    if (f.uuid == uuid)
                        return true;
                return false;
            },
            ms);
    }
};

#define NEED_NETWORK(b)                                      \
    if (!(b).net.ok())                                       \
        GTEST_SKIP() << "no private network";                \
    ASSERT_TRUE((b).ok())

TEST(TmZrpPublish, DetailPushesGoToTheTakenApplicationAndAMaskPushHoldsTheRest)
{
    Bench b;
    NEED_NETWORK(b);
    // From another thread the slot hops and answers false at once.
    EXPECT_FALSE(b.publisher->Post2App_Detail(form(kInfo, "hop-1"), 5));
    EXPECT_TRUE(b.gotAt(*b.app1, "hop-1"));

    EXPECT_TRUE(b.detail(form(kInfo, "I-1")));
    ASSERT_TRUE(b.gotAt(*b.app1, "I-1"));
    EXPECT_TRUE(b.app2->pushes().isEmpty());
    const QByteArray raw = b.app1->rawPushes().last();
    EXPECT_TRUE(raw.startsWith("POST /dide/initiative/runresult_info HTTP/1.1\r\nHOST: 127.0.0.2:10416\r\n"));
    EXPECT_TRUE(raw.endsWith("\r\n\r\n{\"detect\":1}"));  // a request: the bare JSON
    EXPECT_TRUE(waitUntil([&] { return b.live() == 0; }));  // answered: the push ended

    // A mask push that is not answered holds every further detail push and
    // every snapshot, with the refusal in the log.
    b.app1->setPushMode(AppSimulator::PushMode::Silent);
    EXPECT_TRUE(b.detail(form(kMask, "M-1"), 30));
    ASSERT_TRUE(b.gotAt(*b.app1, "M-1"));
    testsupport::LogCapture log;
    EXPECT_FALSE(b.detail(form(kInfo, "I-2")));
    EXPECT_TRUE(log.anyContains("push refused while a mask push is in flight"));
    EXPECT_FALSE(b.snapshot(form(kShot, "S-1")));

    // The application dies: the mask push ends with its connection, and the
    // restarted application gets pushes again.
    b.app1->kill();
    EXPECT_TRUE(waitUntil([&] { return b.live() == 0; }));
    ASSERT_TRUE(b.app1->start(QHostAddress(kApp1)));
    b.app1->setPushMode(AppSimulator::PushMode::Answer);
    EXPECT_TRUE(b.detail(form(kInfo, "I-3")));
    EXPECT_TRUE(b.gotAt(*b.app1, "I-3"));

    // Nobody has taken the camera: no detail push at all.
    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip.clear(); });
    EXPECT_FALSE(b.detail(form(kInfo, "I-4")));
}

TEST(TmZrpPublish, SnapshotsGoToEveryRegisteredApplication)
{
    Bench b;
    NEED_NETWORK(b);
    EXPECT_TRUE(b.snapshot(form(kShot, "S-1")));
    EXPECT_TRUE(b.gotAt(*b.app1, "S-1"));
    EXPECT_TRUE(b.gotAt(*b.app2, "S-1"));
    EXPECT_EQ(b.live(), 0);  // snapshots are not tracked

    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.registered_apps.clear(); });
    const int before = b.app1->connectionsSeen() + b.app2->connectionsSeen();
    EXPECT_TRUE(b.snapshot(form(kShot, "S-2")));
    spin(100);
    EXPECT_EQ(b.app1->connectionsSeen() + b.app2->connectionsSeen(), before);
}

TEST(TmZrpPublish, JunkAnswersNeverStallTheEmitter)
{
    Bench b;
    NEED_NETWORK(b);
    using M = AppSimulator::PushMode;
    for (M mode : {M::HugeHead, M::WrongUuid, M::CloseMidBody, M::Slow}) {
        b.app1->setPushMode(mode, 300);
        const QString uuid = QStringLiteral("J-%1").arg(int(mode));
        EXPECT_TRUE(b.detail(form(kInfo, uuid), 2)) << int(mode);
        EXPECT_TRUE(b.gotAt(*b.app1, uuid)) << int(mode);
        // Every kind of answer ends the push within its lifetime.
        EXPECT_TRUE(waitUntil([&] { return b.live() == 0; }, 3000)) << int(mode);
    }
}

TEST(TmZrpPublish, DescriptorsAndThreadsStayFlatOverManyPushes)
{
    Bench b;
    NEED_NETWORK(b);
    auto settle = [&] {
        waitUntil([&] { return b.live() == 0 && b.app1->openConnections() == 0; }, 3000);
        spin(50);
    };
    for (int i = 0; i < 20; ++i)
        b.detail(form(kInfo, QStringLiteral("W-%1").arg(i)));
    settle();
    const int fds = openDescriptors();
    const int threads = threadCount();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(b.detail(form(kInfo, QStringLiteral("N-%1").arg(i)))) << i;
        ASSERT_TRUE(waitUntil([&] { return b.live() == 0; }, 2000)) << i;
    }
    settle();
    EXPECT_LE(openDescriptors(), fds + 2);
    EXPECT_LE(threadCount(), threads + 1);
    EXPECT_TRUE(b.gotAt(*b.app1, "N-999"));
}

TEST(TmZrpPublish, EveryPushIsMadeOnTheOneLongLivedPushThread)
{
    Bench b;
    NEED_NETWORK(b);
    QThread* pushThread = b.publisher->pushThread();
    ASSERT_NE(pushThread, nullptr);
    EXPECT_NE(pushThread, b.publisher->thread());
    auto pushWorkers = [&] {
        return onPublisher(b.publisher.get(), [&] {
            QList<QThread*> out;
            for (Tcp_Push2APP* p : b.publisher->findChildren<Tcp_Push2APP*>(QString(), Qt::FindDirectChildrenOnly))
                out << (p->getReactor() ? p->getReactor()->workerThread() : nullptr);
            return out;
        });
    };
    // Pushes the application never answers stay alive side by side.
    b.app1->setPushMode(AppSimulator::PushMode::Silent);
    const int threads = threadCount();
    for (int i = 0; i < 4; ++i) {
        const QString uuid = QStringLiteral("T-%1").arg(i);
        ASSERT_TRUE(b.detail(form(kInfo, uuid), 30)) << i;
        ASSERT_TRUE(b.gotAt(*b.app1, uuid)) << i;
    }
    EXPECT_EQ(b.live(), 4);
    // All four connections were made and written on the push thread, and
    // none of them started a thread.
    const QList<QThread*> workers = pushWorkers();
    ASSERT_EQ(workers.size(), 4);
    for (QThread* w : workers)
        EXPECT_EQ(w, pushThread);
    EXPECT_EQ(threadCount(), threads);

    // The application dies: every push ends with its connection; the push
    // thread stays and carries the next push.
    b.app1->kill();
    EXPECT_TRUE(waitUntil([&] { return b.live() == 0; }));
    EXPECT_TRUE(pushThread->isRunning());
    ASSERT_TRUE(b.app1->start(QHostAddress(kApp1)));
    b.app1->setPushMode(AppSimulator::PushMode::Answer);
    EXPECT_TRUE(b.detail(form(kInfo, "T-next")));
    EXPECT_TRUE(b.gotAt(*b.app1, "T-next"));
    EXPECT_EQ(b.publisher->pushThread(), pushThread);
}

// ---- subscribers ----

QJsonObject registration(const QJsonValue& ip, const QJsonValue& port, const QStringList& types)
{
    return QJsonObject{{"subscriber", QJsonArray{QJsonObject{{"subscriber_ip", ip},
                                                             {"subscriber_port", port},
                                                             {"type", QJsonArray::fromStringList(types)}}}}};
}

TEST(TmZrpPublish, SubscriberRegistrationIsChecked)
{
    struct Case {
        const char* name;
        bool mainCamera;
        QJsonObject request;
        QStringList topics;  // empty: no entry
    };
    const QList<Case> cases = {
        {"main camera reports", true, registration("10.0.0.5", 8080, {"result_reports"}), {"result_reports"}},
        {"sub camera drops reports", false, registration("10.0.0.5", 8080, {"result_reports"}), {}},
        {"sub camera pictures", false, registration("10.0.0.5", 8080, {"result_reports", "result_ng_picture"}),
         {"result_ng_picture"}},
        {"unknown topic", true, registration("10.0.0.5", 8080, {"Result_Reports", ""}), {}},
        {"port 0", true, registration("10.0.0.5", 0, {"result_all_picture"}), {}},
        {"empty ip", true, registration("", 8080, {"result_all_picture"}), {}},
        {"numeric ip", true, registration(10, 8080, {"result_all_picture"}), {}},
        {"string port", true, registration("10.0.0.5", "8080", {"result_all_picture"}), {}},
        {"port too large", true, registration("10.0.0.5", 70000, {"result_all_picture"}), {}},
        {"negative port", true, registration("10.0.0.5", -1, {"result_all_picture"}), {}},
        {"not IPv4", true, registration("10.0.0.5/../x", 8080, {"result_all_picture"}), {}},
        {"host name", true, registration("example", 8080, {"result_all_picture"}), {}},
    };
    for (const Case& c : cases) {
        CameraWork camera(c.mainCamera);
        TM_ZRP_Publish p;
        p.Api_regiest_subscriber(c.request);
        const auto table = p.get_subscriber_topics();
        if (c.topics.isEmpty()) {
            EXPECT_TRUE(table.isEmpty()) << c.name;
            EXPECT_TRUE(camera.stash->allKeys().filter("Subscriber").isEmpty()) << c.name;
        } else {
            ASSERT_TRUE(table.contains("10.0.0.5/8080")) << c.name;
            EXPECT_EQ(table.value("10.0.0.5/8080").topics, c.topics) << c.name;
            const QVariantMap stored = camera.stash->value("VCamera_Work/Subscriber_10.0.0.5_8080").toMap();
            EXPECT_EQ(stored.value("port").toInt(), 8080) << c.name;
        }
    }
}

TEST(TmZrpPublish, SubscribersExpireAfterTenMinutesAndLeaveTheSettings)
{
    CameraWork camera;
    {
        TM_ZRP_Publish p;
        setWallClockOffsetForTest(-600000);
        p.Api_regiest_subscriber(registration("10.0.0.5", 1, {"result_all_picture"}));
        setWallClockOffsetForTest(-600001);
        p.Api_regiest_subscriber(registration("10.0.0.6", 2, {"result_all_picture"}));
        // Re-registering replaces the topics and refreshes the time.
        setWallClockOffsetForTest(-700000);
        p.Api_regiest_subscriber(registration("10.0.0.7", 3, {"result_all_picture"}));
        setWallClockOffsetForTest(0);
        p.Api_regiest_subscriber(registration("10.0.0.7", 3, {"result_ng_picture"}));
        // The check runs a few milliseconds later than the stamps: keep the
        // borderline entry exactly at the limit.
        setWallClockOffsetForTest(0);
        auto t = p.get_subscriber_topics();
        SubscriberInfo edge = t.value("10.0.0.5/1");
        edge.lasttime = gettimeofday_ms() - 600000 + 50;
        p.add_subscriber_topic(edge);
        p.runSubscriberCheckForTest();
        t = p.get_subscriber_topics();
        EXPECT_TRUE(t.contains("10.0.0.5/1"));
        EXPECT_FALSE(t.contains("10.0.0.6/2"));
        EXPECT_EQ(t.value("10.0.0.7/3").topics, QStringList{"result_ng_picture"});
        EXPECT_FALSE(camera.stash->allKeys().contains("VCamera_Work/Subscriber_10.0.0.6_2"));
    }
    // A restart drops what expired meanwhile and keeps the rest.
    camera.stash->setValue("VCamera_Work/Subscriber_10.0.0.8_4",
                           QVariantMap{{"ip", "10.0.0.8"}, {"port", 4}, {"topics", QStringList{"result_all_picture"}},
                                       {"lasttime", gettimeofday_ms() - 600001}});
    camera.stash->setValue("VCamera_Work/Subscriber_bad_0",
                           QVariantMap{{"ip", "bad"}, {"port", 0}, {"topics", QStringList{"result_all_picture"}},
                                       {"lasttime", gettimeofday_ms()}});
    TM_ZRP_Publish p;
    p.startwork();
    QMetaObject::invokeMethod(&p, [] {}, Qt::BlockingQueuedConnection);  // the start has run
    ASSERT_TRUE(p.get_subscriber_topics().contains("10.0.0.7/3"));
    const auto t = p.get_subscriber_topics();
    EXPECT_FALSE(t.contains("10.0.0.8/4"));
    EXPECT_FALSE(t.contains("bad/0"));
    EXPECT_FALSE(camera.stash->allKeys().contains("VCamera_Work/Subscriber_10.0.0.8_4"));
    EXPECT_FALSE(camera.stash->allKeys().contains("VCamera_Work/Subscriber_bad_0"));
}

TEST(TmZrpPublish, SubscriberPostsGoOneAtATimeAndAnEleventhIsDropped)
{
    CameraWork camera;
    AppSimulator subscriber;
    ASSERT_TRUE(subscriber.start(QHostAddress::LocalHost, 0, 0));
    subscriber.setPushMode(AppSimulator::PushMode::Silent);
    TM_ZRP_Publish p;
    testsupport::LogCapture log;
    QNetworkRequest r(QUrl(QStringLiteral("http://127.0.0.1:%1/dide/httpapi/subscriber_detectinfo")
                               .arg(subscriber.tcpPort())));
    r.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    for (int i = 0; i < 11; ++i)
        p.addPublishOnce(r, QStringLiteral("{\"n\":%1}").arg(i).toUtf8());
    EXPECT_TRUE(log.anyContains("subscriber post dropped, 10 already waiting"));
    p.startwork();
    // The loop runs on a thread of its own, not on one of the global pool
    // that the snapshot copy and the export need.
    spin(100);
    EXPECT_EQ(QThreadPool::globalInstance()->activeThreadCount(), 0);
    // A silent subscriber holds each post for about 1200 ms.
    ASSERT_TRUE(waitUntil([&] { return subscriber.pushes().size() == 2; }, 4000));
    const auto got = subscriber.pushes();
    EXPECT_EQ(got.at(0).json.value("n").toInt(), 0);
    EXPECT_EQ(got.at(1).json.value("n").toInt(), 1);
    spin(600);
    EXPECT_LE(subscriber.pushes().size(), 3);
}

}  // namespace
