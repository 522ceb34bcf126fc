#include "manager/apppushes.h"

#include "inspection/hubservices.h"
#include "inspection/maskpacking.h"
#include "manager/pushsources.h"
#include "net/publishbench.h"
#include "support/logcapture.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QMutex>
#include <QRegularExpression>
#include <QSemaphore>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

using nettest::waitUntil;

class FakeSources : public PushSources {
public:
    std::atomic<int> runStateCalls{0};
    std::atomic<int> roisCalls{0};
    int state = 0;
    int detect = 1;
    bool colour = false;
    cv::Mat mask = cv::Mat(10, 16, CV_8UC1, cv::Scalar(0));
    cv::Rect scope = cv::Rect(2, 2, 8, 4);

    QJsonObject runState() override
    {
        ++runStateCalls;
        return QJsonObject{{"state", state}, {"fps", 20}};
    }
    int shownDetectIndex() override { return detect; }
    QJsonObject detectInfo(int d) override { return QJsonObject{{"cur_detect", d}, {"datatype", 0}}; }
    QJsonArray roisResult(int d) override
    {
        return QJsonArray{QJsonObject{{"detect", d}, {"call", ++roisCalls}}};
    }
    cv::Mat origMask() override { return mask; }
    cv::Rect origMaskScope() override { return scope; }
    QJsonObject cameraParams() override { return QJsonObject{{"exposure", 20}}; }
    QJsonObject picFileList() override { return QJsonObject{{"tmpimg_group", QJsonArray{"a;b"}}}; }
    bool colourFrames() override { return colour; }
};

struct Post {
    QNetworkRequest request;
    QByteArray body;
};

// The pushes of a main camera (CAMSELF in a scratch folder) with a real,
// unstarted publisher; forms and subscriber posts are collected.
struct Bench {
    nettest::CameraWork camera;
    FakeSources sources;
    TM_ZRP_Publish publisher;
    AppPushes pushes{&sources, &publisher};
    QList<QPair<CTask_FormData, int>> details;
    QList<CTask_FormData> snapshots;
    QMutex postsMutex;
    QList<Post> posts;

    explicit Bench(bool mainCamera = true) : camera(mainCamera)
    {
        publisher.update_p2ahb_stash_runstate(R"({"state":"untouched"})");
        QObject::connect(&pushes, &AppPushes::sig_Publish_Detail,
                         [this](const CTask_FormData& f, int d) { details.append({f, d}); });
        QObject::connect(&pushes, &AppPushes::sig_Publish_Snapshot, &pushes,
                         [this](const CTask_FormData& f) { snapshots.append(f); }, Qt::QueuedConnection);
        pushes.setPostOnce([this](const QNetworkRequest& r, const QByteArray& b) {
            QMutexLocker lock(&postsMutex);
            posts.append({r, b});
        });
    }
    void take(const QString& app, const QString& version = QString())
    {
        camera.mgr->update_working_info([&](ZRC_WorkInfos& w) {
            w.taken_app_ip = app.toStdString();
            if (!version.isNull())
                w.registered_apps[app.toStdString()].version = version;
        });
    }
    void subscribe(const QString& ip, int port, const QStringList& topics)
    {
        SubscriberInfo s;
        s.ip = ip;
        s.port = port;
        s.topics = topics;
        s.lasttime = gettimeofday_ms();
        publisher.add_subscriber_topic(s);
    }
};

TEST(AppPushes, WithoutATakenApplicationNothingIsPushedAndTheStashStays)
{
    Bench b;
    b.sources.state = 2;
    b.pushes.async_back2longtcp_runresult("u1", true);
    b.pushes.async_back2longtcp_defaultparam("u2");
    b.pushes.async_back2longtcp_resample("u3");
    EXPECT_TRUE(b.details.isEmpty());
    EXPECT_EQ(b.sources.runStateCalls.load(), 0);
    EXPECT_EQ(b.publisher.get_p2ahb_stash_runstate(), QByteArray(R"({"state":"untouched"})"));
}

TEST(AppPushes, RunResultCarriesTheReportAndOnAlarmTheMaskInTheTakersForm)
{
    struct Case {
        const char* version;  // registered by the taker; null: not registered
        int state;
        bool packed;
    };
    const Case cases[] = {
        {"V1.6.7.94", 2, true}, {"V1.6.7.93", 2, true}, {"V1.6.7.95", 2, false},
        {"V1.6.8", 2, false},   {"", 2, false},         {nullptr, 2, false},
        {"V1.6.7.94", 3, true},   // NG stop, the alarm: the mask too
        {"V1.6.7.94", 0, false},  // waiting: the information form only
        {"V1.6.7.94", 1, false},  // detecting
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(unregistered)");
        Bench b;
        b.sources.state = c.state;
        b.sources.mask(cv::Rect(3, 3, 4, 2)).setTo(255);
        b.take(nettest::kApp1, c.version ? QString::fromLatin1(c.version) : QString());
        b.pushes.async_back2longtcp_runresult("uuid-7", true);

        const bool withMask = c.state == 2 || c.state == 3;
        ASSERT_EQ(b.details.size(), withMask ? 2 : 1);
        const CTask_FormData& info = b.details[0].first;
        EXPECT_EQ(b.details[0].second, 10);
        EXPECT_EQ(info.url, QStringLiteral("/dide/initiative/runresult_info"));
        EXPECT_EQ(info.uuid, QStringLiteral("uuid-7"));
        EXPECT_EQ(info.device_id, iotest::kSelf);
        EXPECT_EQ(info.json.value("runstateinfo").toObject().value("betaken_appip").toString(), nettest::kApp1);
        EXPECT_EQ(info.json.value("detectinfo").toObject().value("cur_detect").toInt(), 1);
        EXPECT_EQ(info.json.value("rois").toArray().size(), 1);
        // The heartbeat's stash now holds the refreshed report.
        EXPECT_TRUE(b.publisher.get_p2ahb_stash_runstate().contains("\"betaken_appip\""));
        if (!withMask)
            continue;
        const CTask_FormData& mask = b.details[1].first;
        EXPECT_EQ(mask.url, QStringLiteral("/dide/initiative/runresult_mask"));
        EXPECT_EQ(mask.uuid, QStringLiteral("uuid-7"));
        EXPECT_EQ(mask.variant_parts.value("result").toJsonObject().value("rois").toArray(),
                  info.json.value("rois").toArray());
        if (c.packed) {
            EXPECT_EQ(mask.variant_parts.value("maskmat").toByteArray(),
                      MatMask01Compress2Bytes(b.sources.mask(b.sources.scope)));
            EXPECT_EQ(mask.variant_parts.value("maskmat-info").toJsonObject().value("maskscope_width").toInt(), 8);
            EXPECT_TRUE(mask.mat_parts.isEmpty());
        } else {
            EXPECT_FALSE(mask.variant_parts.contains("maskmat-info"));
            EXPECT_FALSE(mask.variant_parts.contains("maskmat"));
            ASSERT_TRUE(mask.mat_parts.contains("maskmat"));
            EXPECT_EQ(mask.mat_parts.value("maskmat").size(), b.sources.mask.size());
            // The hub clears its mask for the next detection while the push
            // is still on its way: the pushed mask keeps what was detected.
            b.sources.mask.setTo(0);
            EXPECT_EQ(cv::countNonZero(mask.mat_parts.value("maskmat")), 8);
        }
    }
}

TEST(AppPushes, MaskScopeOutsideTheMaskIsCutToItNotThrown)
{
    Bench b;
    b.sources.state = 2;
    b.sources.scope = cv::Rect(12, 8, 1920, 1080);
    b.take(nettest::kApp1, "V1.6.7.94");
    b.pushes.async_back2longtcp_runresult("u", true);
    ASSERT_EQ(b.details.size(), 2);
    const QJsonObject info = b.details[1].first.variant_parts.value("maskmat-info").toJsonObject();
    EXPECT_EQ(info.value("maskscope_width").toInt(), 4);
    EXPECT_EQ(info.value("maskscope_height").toInt(), 2);
}

TEST(AppPushes, StaleRunResultsReuseTheLastFreshRegions)
{
    Bench b;
    b.take(nettest::kApp1);
    // A first stale push with an empty stash computes fresh results.
    b.pushes.async_back2longtcp_runresult("a", false);
    b.pushes.async_back2longtcp_runresult("b", true);
    b.pushes.async_back2longtcp_runresult("c", false);
    b.pushes.async_back2longtcp_runresult("d", false);
    ASSERT_EQ(b.details.size(), 4);
    auto call = [&](int i) {
        return b.details[i].first.json.value("rois").toArray().at(0).toObject().value("call").toInt();
    };
    EXPECT_EQ(call(0), 1);
    EXPECT_EQ(call(1), 2);
    EXPECT_EQ(call(2), 2);
    EXPECT_EQ(call(3), 2);
}

TEST(AppPushes, ParameterAndTemplatePushes)
{
    Bench b;
    b.take(nettest::kApp1);
    b.pushes.async_back2longtcp_defaultparam("tag");
    b.pushes.async_back2longtcp_resample("");
    ASSERT_EQ(b.details.size(), 2);
    EXPECT_EQ(b.details[0].first.url, QStringLiteral("/dide/initiative/camera_params"));
    EXPECT_EQ(b.details[0].first.uuid, QStringLiteral("tag"));
    EXPECT_EQ(b.details[0].first.json.value("exposure").toInt(), 20);
    EXPECT_EQ(b.details[1].first.url, QStringLiteral("/dide/initiative/register_temp"));
    EXPECT_TRUE(b.details[1].first.json.value("result").toObject().contains("tmpimg_group"));
}

TEST(AppPushes, PackageIndexRisesWithEveryReportWhoeverAsks)
{
    Bench b;
    const int first = b.pushes.update_stash_runstate_json(false).value("package_index").toInt();
    int fromOther = 0;
    QThread* t = QThread::create([&] { fromOther = b.pushes.update_stash_runstate_json(false).value("package_index").toInt(); });
    t->start();
    t->wait();
    delete t;
    EXPECT_EQ(fromOther, first + 1);
    EXPECT_EQ(b.pushes.update_stash_runstate_json(true).value("package_index").toInt(), first + 2);
    EXPECT_EQ(b.pushes.update_stash_runstate_json(false).value("betaken_appip").toString(), QString());
}

TEST(AppPushes, OnlyTheOwnersRefreshKeepsTheMainLoopAliveOnTheMonotonicClock)
{
    Bench b;
    qint64 now = 5000000;
    b.pushes.setMonotonicClock([&] { return now; });
    b.pushes.update_stash_runstate_json(false);
    struct Case {
        qint64 age;
        bool alive;
    };
    for (const Case& c : {Case{0, true}, Case{1990, true}, Case{1999, true}, Case{2000, false}, Case{60000, false}}) {
        SCOPED_TRACE(c.age);
        const qint64 saved = now;
        now += c.age;
        EXPECT_EQ(b.pushes.refreshAlive(), c.alive);
        now = saved;
    }
    // A refresh from an HTTP handler's thread does not count.
    now += 3000;
    QThread* t = QThread::create([&] { b.pushes.update_stash_runstate_json(true); });
    t->start();
    t->wait();
    delete t;
    EXPECT_FALSE(b.pushes.refreshAlive());
    b.pushes.update_stash_runstate_json(true);
    EXPECT_TRUE(b.pushes.refreshAlive());
}

// ---- snapshots ----

struct SnapshotBench : Bench {
    std::vector<uchar> frame;
    SnapshotBench() : frame(size_t(64 * 48 * 4), 200)
    {
        gImageW = 64;
        gImageH = 48;
    }
    ~SnapshotBench() { waitUntil([this] { return !pushes.snapshotBusy(); }, 20000); }
    // Calls the snapshot once and waits for its encoding to end.
    void shot()
    {
        pushes.post2app_main_snapshot(frame.data());
        EXPECT_TRUE(waitUntil([this] { return !pushes.snapshotBusy(); }, 20000));
        QCoreApplication::processEvents();
    }
};

TEST(AppPushes, SnapshotOnAChangedApplicationThenOneCallInAHundred)
{
    SnapshotBench b;
    b.take(nettest::kApp1);
    b.shot();  // the application changed: goes
    EXPECT_TRUE(waitUntil([&] { return b.snapshots.size() == 1; }, 20000));
    for (int i = 0; i < 99; ++i)
        b.shot();
    EXPECT_EQ(b.snapshots.size(), 1);
    b.shot();  // the counter was 100 before this call
    EXPECT_TRUE(waitUntil([&] { return b.snapshots.size() == 2; }, 20000));
    b.take(nettest::kApp2);
    b.shot();
    EXPECT_TRUE(waitUntil([&] { return b.snapshots.size() == 3; }, 20000));

    const CTask_FormData& f = b.snapshots.last();
    EXPECT_EQ(f.url, QStringLiteral("/dide/initiative/post_lastshowlive"));
    EXPECT_EQ(f.device_id, iotest::kSelf);
    EXPECT_TRUE(QRegularExpression("^snapshot#\\d{8}_\\d{6}_\\d{3}$").match(f.uuid).hasMatch()) << qPrintable(f.uuid);
    EXPECT_EQ(f.bytes_parts.value(QString()), b.pushes.lastSnapshot());
}

TEST(AppPushes, SnapshotCopiesTheFrameAndNeverWaitsForTheEncoder)
{
    for (bool colour : {false, true}) {
        SCOPED_TRACE(colour);
        SnapshotBench b;
        b.sources.colour = colour;
        b.take(nettest::kApp1);
        QSemaphore release;
        std::atomic<int> encoded{0};
        QImage seen;
        QMutex seenMutex;
        b.pushes.setSnapshotEncoder([&](const QImage& image) {
            release.acquire();
            {
                QMutexLocker lock(&seenMutex);
                seen = image;
            }
            ++encoded;
            return QByteArray("jpeg");
        });
        // Returns although the encoder cannot run yet; the buffer is reused at once.
        b.pushes.post2app_main_snapshot(b.frame.data());
        std::fill(b.frame.begin(), b.frame.end(), uchar(0));
        EXPECT_TRUE(b.pushes.snapshotBusy());
        // A call while the encoder is busy sends nothing but counts: after a
        // change of application the next one would go, this one did not.
        b.take(nettest::kApp2);
        b.pushes.post2app_main_snapshot(b.frame.data());
        release.release(1);
        ASSERT_TRUE(waitUntil([&] { return b.snapshots.size() == 1 && !b.pushes.snapshotBusy(); }, 20000));
        b.pushes.post2app_main_snapshot(b.frame.data());  // same application, counter 2: not a multiple of 100
        release.release(1);
        waitUntil([&] { return !b.pushes.snapshotBusy(); }, 2000);
        EXPECT_EQ(encoded.load(), 1);
        QMutexLocker lock(&seenMutex);
        ASSERT_EQ(seen.size(), QSize(64, 48));
        EXPECT_EQ(seen.format(), colour ? QImage::Format_RGB32 : QImage::Format_Grayscale8);
        EXPECT_EQ(qGray(seen.pixel(10, 10)), 200);  // the frame as it was at the call
    }
}

TEST(AppPushes, GreySnapshotIsAJpegOfTheFrame)
{
    SnapshotBench b;
    b.take(nettest::kApp1);
    b.shot();
    ASSERT_TRUE(waitUntil([&] { return b.snapshots.size() == 1; }, 20000));
    const QImage decoded = QImage::fromData(b.pushes.lastSnapshot(), "JPG");
    ASSERT_EQ(decoded.size(), QSize(64, 48));
    EXPECT_NEAR(qGray(decoded.pixel(5, 5)), 200, 2);
}

TEST(AppPushes, SnapshotOnlyOnTheMainCamera)
{
    SnapshotBench b;
    b.camera.mgr->set_device_info(iotest::testGroup(iotest::Role::Sub));
    b.take(nettest::kApp1);
    b.pushes.post2app_main_snapshot(b.frame.data());
    EXPECT_FALSE(b.pushes.snapshotBusy());
    QCoreApplication::processEvents();
    EXPECT_TRUE(b.snapshots.isEmpty());
}

// ---- subscribers ----

TEST(AppPushes, PicturePostsReachSubscribersByAddressAndPort)
{
    Bench b;
    const QString path = b.camera.dir() + "/NG_0001.jpg";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("JPEGBYTES");
    }
    b.subscribe("10.9.0.3", 7001, {"result_all_picture"});
    b.subscribe("10.9.0.3", 7002, {"result_ng_picture"});
    b.subscribe("10.9.0.4", 7003, {"result_all_picture", "result_ng_picture"});
    b.subscribe("10.9.0.5", 7004, {"result_reports"});
    struct Case {
        bool ok;
        QStringList targets;
    };
    const Case cases[] = {
        {true, {"10.9.0.3:7001", "10.9.0.4:7003"}},
        {false, {"10.9.0.3:7001", "10.9.0.3:7002", "10.9.0.4:7003"}},  // listing both: once
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ok);
        b.posts.clear();
        b.pushes.PushMsg2Subscriber_PictureResult(2, c.ok, path, "job=1#x%y");
        QStringList got;
        for (const Post& p : b.posts) {
            const QUrl url = p.request.url();
            got << QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
            EXPECT_EQ(url.path(), QStringLiteral("/dide/httpapi/publisher_picture_detect"));
            const QUrlQuery q(url);
            EXPECT_EQ(q.queryItemValue("camera"), QStringLiteral("0"));
            EXPECT_EQ(q.queryItemValue("detect"), QStringLiteral("2"));
            EXPECT_EQ(q.queryItemValue("result"), c.ok ? QStringLiteral("1") : QStringLiteral("0"));
            EXPECT_EQ(q.queryItemValue("picture_name"), QStringLiteral("NG_0001.jpg"));
            EXPECT_EQ(q.queryItemValue("business_id"), QStringLiteral("job1xy"));
            EXPECT_EQ(p.request.header(QNetworkRequest::UserAgentHeader).toString(), QStringLiteral("job=1#x%y"));
            EXPECT_EQ(p.request.header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("image/jpeg"));
            EXPECT_EQ(p.request.rawHeader("Device-ID"), iotest::kSelf.toUtf8());
            EXPECT_EQ(p.body, QByteArray("JPEGBYTES"));
        }
        got.sort();
        EXPECT_EQ(got, c.targets);
    }
}

TEST(AppPushes, UnreadablePictureIsNotPostedAndSaysSo)
{
    Bench b;
    b.subscribe("10.9.0.3", 7001, {"result_all_picture"});
    testsupport::LogCapture log;
    b.pushes.PushMsg2Subscriber_PictureResult(0, true, b.camera.dir() + "/missing.jpg", "x");
    EXPECT_TRUE(b.posts.isEmpty());
    EXPECT_TRUE(log.reachesLogFiles("alarm picture not readable"));
}

TEST(AppPushes, DetectionSummaryToReportSubscribers)
{
    Bench b;
    b.subscribe("10.9.0.3", 7001, {"result_reports"});
    b.subscribe("10.9.0.3", 7002, {"result_reports"});
    b.subscribe("10.9.0.4", 7003, {"result_all_picture"});
    struct Case {
        QJsonObject summary;
        QString query;      // the business_id query item
        QString userAgent;  // unfiltered
    };
    const QJsonArray last{QJsonObject{{"key", iotest::kSub}, {"result", 1}},
                          QJsonObject{{"result", 0}},               // no key: dropped
                          QJsonObject{{"key", ""}},                 // empty key: dropped
                          QJsonObject{{"key", "STRANGER"}},         // not in the group: -1
                          QJsonValue(3)};                           // not an object: dropped
    const Case cases[] = {
        {QJsonObject{{"last_result", last}}, "default", "default"},
        {QJsonObject{{"business_id", "a=b#c%d"}}, "abcd", "a=b#c%d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        b.posts.clear();
        b.pushes.PushMsg2Subscriber_DetectInfoOnce(c.summary);
        const QJsonObject kept = b.publisher.get_stash_last_detectedinfo();
        EXPECT_EQ(kept.value("camera_count").toInt(), 2);
        EXPECT_EQ(kept.value("info_machine_name").toString(), iotest::kMachine);
        EXPECT_EQ(kept.value("info_deviceid").toArray(), (QJsonArray{iotest::kSelf, iotest::kSub}));
        if (c.summary.contains("last_result")) {
            const QJsonArray rebuilt = kept.value("last_result").toArray();
            ASSERT_EQ(rebuilt.size(), 2);
            EXPECT_EQ(rebuilt[0].toObject().value("camera_index").toInt(), 1);
            EXPECT_EQ(rebuilt[1].toObject().value("camera_index").toInt(), 0 - 1);
        }
        ASSERT_EQ(b.posts.size(), 2);  // two listeners on one address
        QSet<int> ports;
        for (const Post& p : b.posts) {
            ports.insert(p.request.url().port());
            EXPECT_EQ(p.request.url().path(), QStringLiteral("/dide/httpapi/subscriber_detectinfo"));
            EXPECT_EQ(QUrlQuery(p.request.url()).queryItemValue("business_id"), c.query);
            EXPECT_EQ(p.request.header(QNetworkRequest::UserAgentHeader).toString(), c.userAgent);
            EXPECT_EQ(QJsonDocument::fromJson(p.body).object(), kept);
        }
        EXPECT_EQ(ports, (QSet<int>{7001, 7002}));
    }
}

TEST(AppPushes, WithoutReportSubscribersTheSummaryIsStillKept)
{
    Bench b;
    b.pushes.PushMsg2Subscriber_DetectInfoOnce(QJsonObject{{"n", 5}});
    EXPECT_TRUE(b.posts.isEmpty());
    EXPECT_EQ(b.publisher.get_stash_last_detectedinfo().value("n").toInt(), 5);
}

TEST(AppPushes, SubCameraPostsNoSummary)
{
    Bench b(false);
    b.subscribe("10.9.0.3", 7001, {"result_reports"});
    b.pushes.PushMsg2Subscriber_DetectInfoOnce(QJsonObject{{"n", 5}});
    EXPECT_TRUE(b.posts.isEmpty());
    EXPECT_FALSE(b.publisher.get_stash_last_detectedinfo().contains("n"));
}

}  // namespace
