// The whole camera program on a plant network in miniature: two network
// namespaces joined by a veth pair. The program runs alone at 10.n.0.1 on a
// set-up camera's files (a template of 8 regions on detections 1 and 2, a
// camera group naming it the main camera, two subscribers registered a
// moment ago) and shows a scene with or without a defect. The other side
// holds its peers, driven from the test thread: the IO module at .2, the
// operator application at .3, which takes the camera, and the two
// subscribers on two ports of .4. The test plays the monitor daemon: it
// creates the liveness segment under the program's temp folder.
//
// An input-0 edge must give the whole cycle: the detection, its output
// frames to the module, the pushes to the application and the subscribers,
// an alarm image for an NG, the counts in ResStatistics.db and the records
// in RECORD.db; meanwhile the live stream and the HTTP API serve on their
// fixed ports and the liveness record reaches the segment. What the network
// layer refuses or cannot deliver must be written to the program's log files.
//
// With a sub camera in the group (a simulated one at .4) that hangs without
// closing its link, the main camera must hold the machine's outputs low,
// call the cameras on the broadcast port on every blocked heartbeat tick
// and ask the sub to restart its link every sixth tick.
#include "orvalerun.h"
#include "support/clientrun.h"
#include "liveness/livenesssegment.h"
#include "support/devicefixture.h"
#include "support/scratchdir.h"
#include "support/sqlite3tool.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/subcamsim/subcamerasimulator.h"
#include "tools/testlan/vethpair.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSharedMemory>
#include <QUdpSocket>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

using apptest::OrvaleRun;
using clientrun::runClient;
using clientrun::spinUntil;
using testsupport::sqlite3;

const char* const kDeviceId = "E2ECAM01";
const char* const kSubId = "E2ESUB02";

QString httpStatus(const QString& url)
{
    const auto out = runClient("curl", {"-s", "-o", "/dev/null", "-m", "10", "-w", "%{http_code}", url});
    return out ? QString::fromLatin1(*out).trimmed() : QString();
}

// The plant: the namespaces, the program's files, its peers and the
// segment. Members are destroyed in reverse: the peers and the program go
// before the namespaces.
struct Plant {
    VethPair net;  // first: the test thread moves to the peer side
    testsupport::ScratchDir root;
    std::unique_ptr<QSharedMemory> segment;
    std::unique_ptr<OrvaleRun> run;
    std::unique_ptr<IoModuleSimulator> io;
    std::unique_ptr<AppSimulator> app;
    std::vector<std::unique_ptr<AppSimulator>> subscribers;
    std::unique_ptr<SubCameraSimulator> sub;  // only when withSub
    bool withSub = false;                     // a sub camera at .4 in the group
    // The subscribers' ports on .4 and how they take a post; set before start.
    QList<quint16> subscriberPorts{18101, 18102};
    AppSimulator::PushMode subscriberMode = AppSimulator::PushMode::Answer;

    QString appDir() const { return root.path() + "/app"; }
    QString tmpDir() const { return root.path() + "/tmp"; }
    QString record() const { return appDir() + "/RECORD.db"; }

    // Sets everything up and starts the program; empty on success, else why not.
    QString start(bool defect)
    {
        const devicefixture::Device device{kDeviceId, net.address(1), net.address(2)};
        devicefixture::Group group;
        if (withSub) {
            group.subs.append({kSubId, net.address(4)});
            SubCameraSimulator::Config sub_config;
            sub_config.ownId = kSubId;
            sub_config.mainId = kDeviceId;
            sub = std::make_unique<SubCameraSimulator>(sub_config);
            if (!sub->start())
                return "sub camera: " + sub->errorString();
        }
        if (!devicefixture::writeWorkingDir(appDir(), device, ORVALE_FACTORY_SQL_DIR, group))
            return "the working directory could not be written";
        devicefixture::seedSubscribers(appDir(), net.address(4), subscriberPorts,
                                       QDateTime::currentMSecsSinceEpoch());
        if (!devicefixture::writeScene(root.path() + "/scene", defect))
            return "the scene could not be written";

        // The daemon's part: the segment, keyed by a file in the temp folder
        // the program is given.
        QDir().mkpath(tmpDir());
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmpDir().toLocal8Bit());
        segment = std::make_unique<QSharedMemory>(QString::fromLatin1(LivenessSegment::kKey));
        const bool made = segment->create(LivenessSegment::kSize, QSharedMemory::ReadOnly);
        if (oldTmp.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmp);
        if (!made)
            return "no segment: " + segment->errorString();

        IoModuleSimulator::Config io_config;
        io_config.address = QHostAddress(net.address(2));
        io_config.camera = QHostAddress(net.address(1));
        io_config.moduleId = devicefixture::kIoModuleId;
        io = std::make_unique<IoModuleSimulator>(io_config);
        if (!io->start())
            return "IO module: " + io->errorString();
        app = std::make_unique<AppSimulator>();
        app->setDoTaken(true);
        app->setAppVersion(QStringLiteral("V1.6.7.95"));
        if (!app->start(QHostAddress(net.address(3))))
            return "the application simulator cannot listen";
        for (quint16 port : subscriberPorts) {
            subscribers.push_back(std::make_unique<AppSimulator>());
            subscribers.back()->setPushMode(subscriberMode);
            if (!subscribers.back()->start(QHostAddress(net.address(4)), port, 0))
                return "a subscriber cannot listen";
        }

        run = std::make_unique<OrvaleRun>(root);
        run->setRtspPort(0);                 // the fixed 554: the program is alone here
        run->setEnv("ORVALE_HTTP_PORT", "");  // and the fixed 10414
        run->setEnv("ORVALE_DEVICE_ID", kDeviceId);
        run->setEnv("ORVALE_SENSOR_IMAGES", root.path() + "/scene");
        run->setEnv("TMPDIR", tmpDir());
        const QStringList command = net.deviceCommand(ORVALE_BIN);
        run->start(command.first(), command.mid(1));
        if (run->process().state() == QProcess::NotRunning)
            return "the program did not start";
        return QString();
    }

    bool recorded(const QString& text) const
    {
        return sqlite3(record(), QStringLiteral("select count(*) from RECORD where remarks like '%%1%';").arg(text))
                   .toInt() > 0;
    }

    // The liveness record in the segment, empty while none was written.
    QJsonObject liveness() const { return QJsonDocument::fromJson(LivenessSegment::read(*segment)).object(); }

    // The output words the module has been sent since it last forgot.
    QStringList outputWords() const
    {
        QStringList words;
        for (const IoModuleSimulator::Datagram& d : io->receivedStartingWith("<C;6;"))
            words << QString::fromLatin1(d.data.mid(d.data.lastIndexOf(';') + 1, 8));
        return words;
    }

    QStringList pushUrls(const AppSimulator& peer) const
    {
        QStringList urls;
        for (const CTask_FormData& f : peer.pushes())
            urls << f.url;
        return urls;
    }

    // The program is up, its links are up and it sees fresh frames; the
    // safety door is closed (input 1) and everything sent so far is
    // forgotten. Empty on success, else what did not happen.
    //
    // Until the frame rate is first measured (3 s after the liveness
    // reporter starts) every detection answers NG for want of a fresh
    // frame; the first liveness record, 30 s after the start, carries the
    // measured rate and so tells the camera is ready.
    QString bringUp()
    {
        if (!spinUntil([&] { return recorded("初始化成功!"); }, 90000))
            return "no \"初始化成功!\" in RECORD.db";
        if (!spinUntil([&] { return liveness().value("fps").toInt() >= 1; }, 90000))
            return "no liveness record with a frame rate in the segment: " +
                   QString::fromUtf8(QJsonDocument(liveness()).toJson(QJsonDocument::Compact));
        io->setInputs(0b10);
        spinUntil([] { return false; }, 1500);
        io->clearReceived();
        app->clearRecords();
        for (auto& s : subscribers)
            s->clearRecords();
        return QString();
    }

    // Stops the program, lets `whileStopped` change its files, starts it
    // again and waits until it is up anew: a new "初始化成功!" in RECORD.db
    // and a liveness record with a frame rate written after the start (the
    // one in the segment is the last run's). Input 0 is low meanwhile, so
    // that the next rise is an edge. Empty on success, else what did not
    // happen.
    QString restart(const std::function<void()>& whileStopped)
    {
        const auto started = [&] {
            return sqlite3(record(), "select count(*) from RECORD where remarks like '%初始化成功!%';").toInt();
        };
        io->setInputs(0b10);
        spinUntil([] { return false; }, 500);
        const int before = started();
        run->stop();
        whileStopped();
        const qint64 startedAt = QDateTime::currentSecsSinceEpoch();
        const QStringList command = net.deviceCommand(ORVALE_BIN);
        run->start(command.first(), command.mid(1));
        if (run->process().state() == QProcess::NotRunning)
            return "the program did not start again";
        if (!spinUntil([&] { return started() > before; }, 90000))
            return "no new \"初始化成功!\" in RECORD.db";
        if (!spinUntil(
                [&] {
                    const QJsonObject live = liveness();
                    return qint64(live.value("ms_1000").toDouble()) > startedAt && live.value("fps").toInt() >= 1;
                },
                90000))
            return "no liveness record with a frame rate since the restart";
        spinUntil([] { return false; }, 1500);
        io->clearReceived();
        return QString();
    }

    // PARAM.db as the program keeps it.
    QString paramDb() const { return appDir() + "/PARAM.db"; }
    QByteArray paramDbBytes() const
    {
        QFile f(paramDb());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    enum class Taken { Yes, NoRoute, No };
    // The application registers by its device search and claims the camera
    // with its first heartbeat answer; the taken application gets a
    // heartbeat every 100 ms. `why` says what went wrong.
    Taken takeCamera(QString* why)
    {
        const QByteArray body = QJsonDocument(QJsonObject{{"app_version", "V1.6.7.95"}, {"subip", net.address(3)}})
                                    .toJson(QJsonDocument::Compact);
        const auto search = runClient("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d",
                                               QString::fromUtf8(body),
                                               "http://" + net.address(1) + ":10414/dide/context/lan_all_devices"});
        *why = search ? QString::fromUtf8(*search) : QStringLiteral("no answer");
        if (search && search->contains("not implemented yet"))
            return Taken::NoRoute;
        if (!search || !search->contains("all_devices"))
            return Taken::No;
        const bool taken = spinUntil(
            [&] {
                const auto hbs = app->heartbeats();
                return hbs.size() >= 5 && hbs.last().atMs - hbs.at(hbs.size() - 5).atMs < 800;
            },
            30000);
        *why = QString::number(app->heartbeats().size()) + " heartbeats after the search";
        app->clearRecords();
        return taken ? Taken::Yes : Taken::No;
    }
};

#define SKIP_WITHOUT_NAMESPACES(plant)                                                     \
    if (!(plant).net.ok())                                                                 \
    GTEST_SKIP() << "no network namespaces here: " << (plant).net.error().toStdString()

// Waits for the module's last output word to be `word`.
bool waitForLastWord(const Plant& plant, const QString& word)
{
    return spinUntil(
        [&] {
            const QStringList w = plant.outputWords();
            return !w.isEmpty() && w.last() == word;
        },
        30000);
}

// Starts the plant on the scene with or without the defect, brings it up
// and opens the mould; the module must be sent `words`, and each subscriber
// must get the cycle's post.
void openTheMould(Plant& plant, bool defect, const QStringList& words)
{
    const QString why = plant.start(defect);
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString up = plant.bringUp();
    ASSERT_TRUE(up.isEmpty()) << up.toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, words.last()))
        << plant.outputWords().join(' ').toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    EXPECT_EQ(plant.outputWords(), words);
    for (auto& s : plant.subscribers) {
        EXPECT_TRUE(spinUntil([&] { return plant.pushUrls(*s).contains("/dide/httpapi/subscriber_detectinfo"); }, 20000))
            << plant.pushUrls(*s).join(' ').toStdString();
    }
}

TEST(OrvaleEndToEnd, OkCycleWithSubscriberPostsRecordsSegmentStreamAndApi)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    // The mould opens: product OK, then mould OK.
    ASSERT_NO_FATAL_FAILURE(openTheMould(plant, false, {"11000000", "10000000", "00000000"}));

    // The records: the start, the links, the hour's counts.
    EXPECT_TRUE(plant.recorded(QStringLiteral("相机 0 启动，ID：%1, IP: %2").arg(kDeviceId, plant.net.address(1))))
        << sqlite3(plant.record(), "select remarks from RECORD;").toStdString();
    EXPECT_TRUE(spinUntil(
        [&] {
            const QDateTime now = QDateTime::currentDateTime();
            const QString hours = QStringLiteral("'%1','%2'").arg(now.toString("yyyy-MM-dd hh"),
                                                                  now.addSecs(-3600).toString("yyyy-MM-dd hh"));
            return sqlite3(plant.appDir() + "/ResStatistics.db",
                           "select count(*) from resstatistics where name in (" + hours + ");")
                       .toInt() > 0;
        },
        90000))
        << sqlite3(plant.appDir() + "/ResStatistics.db", ".dump").toStdString();

    // Meanwhile the live stream plays on 554 and the API answers on 10414
    // (a viewer may join mid group of pictures: only what ffprobe reports
    // of the stream counts, not the decoder's complaints on the way).
    const auto probe = runClient("ffprobe", {"-v", "quiet", "-rtsp_transport", "tcp", "-select_streams", "v:0",
                                             "-show_entries", "stream=codec_name,width,height", "-of",
                                             "default=noprint_wrappers=1:nokey=1",
                                             "rtsp://" + plant.net.address(1) + ":554/live/main_stream"},
                                 60000);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(QString::fromUtf8(*probe).trimmed().split('\n').join('|'), "h264|1920|1080");
    EXPECT_EQ(httpStatus("http://" + plant.net.address(1) + ":10414/dide/no/such/route"), "404");
    EXPECT_EQ(httpStatus("http://" + plant.net.address(1) + ":10414/demo"), "400");

    // The liveness record (the daemon's part): written every 30 s, every
    // part alive, 20 frames a second.
    const QJsonObject live = plant.liveness();
    for (const char* flag : {"main_alive", "io_alive", "ws_alive", "tser_alive", "hb_alive", "io_cnted", "cams_cnted"})
        EXPECT_EQ(live.value(flag).toInt(-1), 1) << flag << " in " << QJsonDocument(live).toJson().toStdString();
    EXPECT_NEAR(live.value("fps").toInt(), 20, 1) << "a loaded machine may lose a frame, not more";
    EXPECT_NEAR(live.value("ms_1000").toDouble(), double(QDateTime::currentSecsSinceEpoch()), 45);

    // The IO module dies: the link record, then the next liveness record.
    const qint64 writtenAt = qint64(live.value("ms_1000").toDouble());
    plant.io.reset();
    EXPECT_TRUE(spinUntil([&] { return plant.recorded("IO连接出现中断"); }, 20000));
    EXPECT_TRUE(spinUntil(
        [&] {
            const QJsonObject next = plant.liveness();
            return qint64(next.value("ms_1000").toDouble()) > writtenAt && next.value("io_cnted").toInt(-1) == 0;
        },
        45000))
        << QJsonDocument(plant.liveness()).toJson().toStdString();
    EXPECT_EQ(plant.run->process().state(), QProcess::Running);
}

TEST(OrvaleEndToEnd, NgCycleHoldsTheMachineWithAlarmImageAndSubscriberPosts)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    // The product unit finds the defect: the machine is held.
    ASSERT_NO_FATAL_FAILURE(openTheMould(plant, true, {"11000000", "11100000"}));
    // The NG picture is kept until the operator says how the alarm ends:
    // the safety door opens (the alarm output rests) and closes again,
    // which releases the stop without a check and files the picture.
    const QString ngFolder = plant.root.path() + "/userdata/alarmimage/detect1/NG";
    EXPECT_TRUE(QDir(ngFolder).entryList(QDir::Files).isEmpty());
    plant.io->setInputs(0b01);
    ASSERT_TRUE(waitForLastWord(plant, "11000000")) << plant.outputWords().join(' ').toStdString();
    plant.io->setInputs(0b11);
    EXPECT_TRUE(spinUntil([&] { return !QDir(ngFolder).entryList(QDir::Files).isEmpty(); }, 20000))
        << "no alarm image in " << ngFolder.toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
}

// The operator application takes the camera with its device search and
// heartbeat answers; an NG cycle then pushes its run result, its mask (the
// whole mask for this version) and a whole-frame snapshot.
// An NG stop with an application that has taken the camera: the pushes it
// gets (the URLs in `expected`), and every snapshot a whole 1920x1080 JPEG.
void takenApplicationSeesAnNgStop(const QStringList& expected)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    const QString why = plant.start(true);
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString up = plant.bringUp();
    ASSERT_TRUE(up.isEmpty()) << up.toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    QString how;
    const Plant::Taken taken = plant.takeCamera(&how);
    if (taken == Plant::Taken::NoRoute)
        GTEST_SKIP() << "the device-list route /dide/context/lan_all_devices, by which an application registers, "
                        "is not built yet: "
                     << how.toStdString();
    ASSERT_EQ(taken, Plant::Taken::Yes) << how.toStdString();

    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, "11100000")) << plant.outputWords().join(' ').toStdString();
    EXPECT_TRUE(spinUntil(
        [&] {
            const QStringList urls = plant.pushUrls(*plant.app);
            for (const QString& url : expected)
                if (!urls.contains(url))
                    return false;
            return true;
        },
        20000))
        << plant.pushUrls(*plant.app).join(' ').toStdString();
    int snapshots = 0;
    for (const CTask_FormData& f : plant.app->pushes()) {
        if (f.url != "/dide/initiative/post_lastshowlive")
            continue;
        ++snapshots;
        const QByteArray jpeg = f.bytes_parts.value(QString());
        EXPECT_TRUE(jpeg.startsWith("\xff\xd8"));
        const cv::Mat snapshot = cv::imdecode(cv::Mat(1, jpeg.size(), CV_8UC1, const_cast<char*>(jpeg.constData())),
                                              cv::IMREAD_UNCHANGED);
        EXPECT_EQ(snapshot.cols, 1920);
        EXPECT_EQ(snapshot.rows, 1080);
    }
    EXPECT_GE(snapshots, 1);
}

TEST(OrvaleEndToEnd, TheTakingApplicationGetsRunResultMaskAndSnapshot)
{
    takenApplicationSeesAnNgStop({"/dide/initiative/runresult_info", "/dide/initiative/runresult_mask",
                                  "/dide/initiative/post_lastshowlive"});
}

// The network layer's refusals and faults on the running program, each of
// whose warnings must reach its log files: a subscriber registration without
// a usable address, heartbeat answers without a usable clock time,
// subscriber posts beyond the ten that may wait, a push refused while the
// mask push of an NG stop waits for its answer, an answer whose head passes
// every limit, and a push to an application that vanished.
TEST(OrvaleEndToEnd, NetworkRefusalsAndFaultsReachTheLogFiles)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    // Thirteen subscribers that take a post and never answer: each post
    // waits its 1200 ms, so the thirteen of one NG stop overflow the ten that
    // may wait.
    plant.subscriberPorts.clear();
    for (quint16 port = 18101; port <= 18113; ++port)
        plant.subscriberPorts << port;
    plant.subscriberMode = AppSimulator::PushMode::Silent;
    const QString why = plant.start(true);
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    const QString up = plant.bringUp();
    ASSERT_TRUE(up.isEmpty()) << up.toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    QString how;
    const Plant::Taken taken = plant.takeCamera(&how);
    if (taken == Plant::Taken::NoRoute)
        GTEST_SKIP() << "the device-list route, by which an application registers, is not built yet: "
                     << how.toStdString();
    ASSERT_EQ(taken, Plant::Taken::Yes) << how.toStdString();

    const QString api = "http://" + plant.net.address(1) + ":10414";
    auto logged = [&](const QString& line, int timeoutMs = 20000) {
        return spinUntil([&] { return plant.run->infoLogText().contains(line.toUtf8()); }, timeoutMs);
    };
    auto logTail = [&] { return plant.run->infoLogText().right(6000).toStdString(); };
    auto post = [&](const QString& route, const QByteArray& body) {
        return runClient("curl", {"-s", "-m", "10", "-H", "Content-Type: application/json", "-d",
                                  QString::fromUtf8(body), api + route});
    };
    // Each restore of the camera parameters pushes them to the taking application.
    const QString paramsPush = QStringLiteral("/dide/initiative/camera_params");
    auto pushParams = [&] { return post("/dide/action/restoredefaultparameters", "{}"); };

    // Refused input: a subscriber at no IPv4 address and no port.
    ASSERT_TRUE(post("/dide/httpapi/subscriber",
                     R"({"subscriber":[{"subscriber_ip":"10.0.0.300","subscriber_port":70000,"type":["result_reports"]}]})")
                    .has_value());
    EXPECT_TRUE(logged("subscriber refused (needs an IPv4 address and a port 1..65535): 10.0.0.300 70000")) << logTail();
    // The application's answers carry no time: the clock is left alone.
    EXPECT_TRUE(logged("[MAIN][system time] app_time missing or out of range, clock left alone:")) << logTail();

    // An NG stop while the application takes pushes without answering: its
    // mask push waits, and the subscribers' posts pile up.
    plant.app->setPushMode(AppSimulator::PushMode::Silent);
    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, "11100000")) << plant.outputWords().join(' ').toStdString();
    ASSERT_TRUE(spinUntil([&] { return plant.pushUrls(*plant.app).contains("/dide/initiative/runresult_mask"); },
                          20000))
        << plant.pushUrls(*plant.app).join(' ').toStdString();
    ASSERT_TRUE(pushParams().has_value());
    EXPECT_TRUE(logged("[POST_2_APP] push refused while a mask push is in flight: " + paramsPush)) << logTail();
    EXPECT_TRUE(logged("[POST_2_APP] subscriber post dropped, 10 already waiting:")) << logTail();

    // An answer whose head passes every limit: the connection is closed.
    // The mask push holds further pushes back until its lifetime ends.
    plant.app->setPushMode(AppSimulator::PushMode::HugeHead);
    const QString refusedHead = "[TCP_RECV] refused from " + plant.net.address(3) +
                                " 10416 : head longer than 65536 bytes - connection closed";
    EXPECT_TRUE(spinUntil(
        [&] {
            pushParams();
            return logged(refusedHead, 1000);
        },
        40000))
        << logTail();

    // The application vanishes; a push before its heartbeat lapses finds no
    // one to connect to.
    plant.app->kill();
    ASSERT_TRUE(pushParams().has_value());
    EXPECT_TRUE(logged("[POST_2_APP] FAIL NO CONNECTED: " + paramsPush)) << logTail();
    EXPECT_EQ(plant.run->process().state(), QProcess::Running);
}

// Configuration must never switch the guard off. On a running camera that
// passes its mould (the control), region edits that would inspect less than
// they say are refused with code 1 and leave PARAM.db as it was, byte for
// byte. Then, each written into PARAM.db while the program is stopped, a
// flaw region over the whole frame under an ignore region over the whole
// frame, and a camera row that is not JSON at all: after the restart the
// next mould is held, with the reason in the log files.
TEST(OrvaleEndToEnd, ConfigurationThatInspectsNothingHoldsTheMachine)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    ASSERT_NO_FATAL_FAILURE(openTheMould(plant, false, {"11000000", "10000000", "00000000"}));
    auto logTail = [&] { return plant.run->infoLogText().right(6000).toStdString(); };

    const QString api = "http://" + plant.net.address(1) + ":10414";
    auto post = [&](const QString& route, const QJsonObject& body) {
        const auto out = runClient("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d",
                                            QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact)),
                                            api + route});
        return out ? QJsonDocument::fromJson(*out).object() : QJsonObject();
    };
    const auto with = [](QJsonObject o, const char* key, const QJsonValue& value) {
        o.insert(QLatin1String(key), value);
        return o;
    };
    // The regions as the application reads them; the flaw regions report
    // the fixture's process filter size (0, out of range), so the set sent
    // back carries a filter size that is in range.
    QJsonArray stored;
    QJsonObject flaw;
    for (const QJsonValue& v : post("/dide/roi/getallparams", {}).value("result").toObject().value("rois").toArray()) {
        QJsonObject r = v.toObject();
        if (r.value("func_type") == "flaw") {
            r = with(r, "func_params", QJsonArray{45, 50, 3});
            if (flaw.isEmpty() && r.value("detect_index") == 0)
                flaw = r;
        }
        stored.append(r);
    }
    ASSERT_EQ(stored.size(), devicefixture::regions().size());
    ASSERT_FALSE(flaw.isEmpty());
    const QJsonObject wholeFlaw = with(with(flaw, "roi_index", 8), "roi_infos", QJsonArray{0, 0, 1919, 1079});
    const QJsonObject wholeIgnore =
        with(with(with(wholeFlaw, "roi_index", 9), "func_type", "ignore"), "func_params", QJsonArray{});

    const QByteArray paramBefore = plant.paramDbBytes();
    ASSERT_FALSE(paramBefore.isEmpty());
    const struct {
        const char* name;
        QJsonArray added;
        const char* reason;
    } refused[] = {
        {"a region of no known shape", {with(flaw, "roi_type", "")}, "\"roi_type\""},
        {"coordinates that are not numbers", {with(flaw, "roi_infos", QJsonArray{"a", "b", "c", "d"})}, "\"roi_infos\""},
        {"a region of a step not in use", {with(flaw, "detect_index", 99)}, "\"detect_index\""},
        {"a whole-frame flaw region under a whole-frame ignore region", {wholeFlaw, wholeIgnore}, "报警面积"},
    };
    for (const auto& edit : refused) {
        SCOPED_TRACE(edit.name);
        QJsonArray set = stored;
        for (const QJsonValue& r : edit.added)
            set.append(r);
        const QJsonObject answer = post("/dide/roi/setallparams", QJsonObject{{"rois", set}});
        EXPECT_EQ(answer.value("code").toInt(-1), 1) << QJsonDocument(answer).toJson().toStdString();
        EXPECT_TRUE(answer.value("msg").toString().contains(QString::fromUtf8(edit.reason)))
            << answer.value("msg").toString().toStdString();
    }
    spinUntil([] { return false; }, 1000);
    EXPECT_TRUE(plant.paramDbBytes() == paramBefore) << "PARAM.db changed";
    // The control: the set without the faults is taken.
    EXPECT_EQ(post("/dide/roi/setallparams", QJsonObject{{"rois", stored}}).value("code").toInt(-1), 0);

    // The same pair written into PARAM.db directly: judged at run time.
    QString why = plant.restart([&] {
        QJsonArray rois = stored;
        rois.append(wholeFlaw);
        rois.append(wholeIgnore);
        const QByteArray row = QJsonDocument(QJsonObject{{"index", 0}, {"rois", rois}}).toJson(QJsonDocument::Compact);
        sqlite3(plant.paramDb(),
                "update cameraparam set value='" + devicefixture::sqlText(row) + "' where name='camera0';");
    });
    ASSERT_TRUE(why.isEmpty()) << why.toStdString() << "\n" << logTail();
    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, "11100000")) << plant.outputWords().join(' ').toStdString() << "\n" << logTail();
    EXPECT_TRUE(spinUntil(
        [&] { return plant.run->infoLogText().contains(QStringLiteral("1号检测9号区域无法达到报警面积，未进行检测").toUtf8()); },
        10000))
        << logTail();

    // A camera row that is not a JSON object: kept aside, every mould held.
    const QByteArray broken = R"({"rois": [ broken)";
    why = plant.restart([&] {
        sqlite3(plant.paramDb(), "update cameraparam set value='" + QString::fromLatin1(broken) + "' where name='camera0';");
    });
    ASSERT_TRUE(why.isEmpty()) << why.toStdString() << "\n" << logTail();
    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, "11100000")) << plant.outputWords().join(' ').toStdString() << "\n" << logTail();
    EXPECT_TRUE(spinUntil(
        [&] { return plant.run->infoLogText().contains("parameters not loaded: every detection is judged NG"); }, 10000))
        << logTail();
    EXPECT_TRUE(plant.run->infoLogText().contains("camera0 in cameraparam is not a JSON object")) << logTail();
    EXPECT_EQ(sqlite3(plant.paramDb(), "select value from cameraparam where name='camera0';"), QString::fromLatin1(broken));
    EXPECT_EQ(sqlite3(plant.paramDb(), "select value from cameraparam_broken where name='camera0';"),
              QString::fromLatin1(broken));
    EXPECT_EQ(plant.run->process().state(), QProcess::Running);
}

}  // namespace

namespace {

// The cameras' search port on the peer side: every datagram that reaches
// it, with the time it came (on the clock the sub-camera simulator stamps
// its records with).
struct SearchPortListener {
    struct Heard {
        qint64 atMs;
        QHostAddress from;
        QByteArray data;
    };
    QUdpSocket socket;
    QList<Heard> heard;

    bool start()
    {
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = socket.receiveDatagram();
                heard.append({SubCameraSimulator::steadyMs(), d.senderAddress(), d.data()});
            }
        });
        return socket.bind(QHostAddress::AnyIPv4, 10412, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
    }

    // When `data` came from `sender` since `fromMs`.
    QList<qint64> times(const QByteArray& data, const QString& sender, qint64 fromMs) const
    {
        QList<qint64> at;
        for (const Heard& h : heard) {
            if (h.atMs >= fromMs && h.data == data && h.from.toString() == sender)
                at << h.atMs;
        }
        return at;
    }
};

// When the sub camera's HTTP service took a restart request since `fromMs`.
QList<qint64> restartRequestTimes(const SubCameraSimulator& sub, qint64 fromMs)
{
    QList<qint64> at;
    const QStringList paths = sub.httpGets();
    const QList<qint64> times = sub.httpGetTimes();
    for (int i = 0; i < paths.size() && i < times.size(); ++i) {
        if (times.at(i) >= fromMs && paths.at(i) == QStringLiteral("/dide/debug/restart_rpc_service"))
            at << times.at(i);
    }
    return at;
}

int countBetween(const QList<qint64>& times, qint64 from, qint64 to)
{
    return int(std::count_if(times.cbegin(), times.cend(), [&](qint64 t) { return t > from && t < to; }));
}

}  // namespace

// The sub camera of the group hangs: its link takes connections and pings
// but answers nothing, and closes nothing. The main camera finds it blocked
// on its heartbeat ticks (every 0.8 s): on each one it cuts the machine's
// outputs and calls the cameras with "<A;21;Camera>" on the broadcast port
// 10412; on every sixth it asks the sub's HTTP API to restart its link.
// When the sub answers again it pairs anew and the calls stop.
//
// The counts are per tick, so a loaded machine does not change them; the
// times are only checked to be in the right region (nominally the first
// restart request comes 5 to 7 s after the hang, then every 4.8 s).
TEST(OrvaleEndToEnd, AHangingSubCameraCutsTheOutputsCallsTheCamerasAndIsAskedToRestart)
{
    Plant plant;
    SKIP_WITHOUT_NAMESPACES(plant);
    plant.withSub = true;
    SearchPortListener search;
    ASSERT_TRUE(search.start()) << search.socket.errorString().toStdString();
    const QString why = plant.start(true);
    ASSERT_TRUE(why.isEmpty()) << why.toStdString();
    // "初始化成功!" is written once every link is up: the sub has paired.
    const QString up = plant.bringUp();
    ASSERT_TRUE(up.isEmpty()) << up.toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    ASSERT_GE(plant.sub->checkRequests(), 1);

    // An NG stop holds the machine: its outputs are on.
    plant.io->setInputs(0b11);
    ASSERT_TRUE(waitForLastWord(plant, "11100000"))
        << plant.outputWords().join(' ').toStdString() << "\n" << plant.run->infoLogText().right(6000).toStdString();
    plant.io->clearReceived();

    const QString device = plant.net.address(1);
    const QByteArray call("<A;21;Camera>");
    const qint64 hungAt = SubCameraSimulator::steadyMs();
    plant.sub->block();
    ASSERT_TRUE(spinUntil([&] { return restartRequestTimes(*plant.sub, hungAt).size() >= 3; }, 60000))
        << restartRequestTimes(*plant.sub, hungAt).size() << " restart requests; GETs: "
        << plant.sub->httpGets().join(' ').toStdString() << "\n"
        << plant.run->infoLogText().right(6000).toStdString();
    const QList<qint64> restarts = restartRequestTimes(*plant.sub, hungAt);
    const QList<qint64> calls = search.times(call, device, hungAt);

    // The outputs went low and stayed low.
    const QStringList words = plant.outputWords();
    ASSERT_TRUE(words.contains("00000000")) << words.join(' ').toStdString();
    for (const QString& w : words.mid(words.indexOf("00000000")))
        EXPECT_EQ(w, "00000000") << words.join(' ').toStdString();

    // A call on every blocked tick, a restart request on every sixth: six
    // calls from one request to the next (one either way, since the call
    // and the request of the same tick race each other to the peers).
    ASSERT_FALSE(calls.isEmpty());
    EXPECT_LE(countBetween(calls, hungAt, restarts.at(0)), 7)
        << "the first request comes by the seventh blocked tick, whatever the counter held before";
    for (int i = 1; i < restarts.size(); ++i) {
        const int between = countBetween(calls, restarts.at(i - 1), restarts.at(i));
        EXPECT_GE(between, 5) << "between restart requests " << i - 1 << " and " << i;
        EXPECT_LE(between, 7) << "between restart requests " << i - 1 << " and " << i;
    }
    // Times in the right region, with room for a loaded machine: the hang is
    // seen once a second passed without a pong; requests 4.8 s apart.
    EXPECT_GE(calls.first() - hungAt, 500);
    EXPECT_LE(calls.first() - hungAt, 6000);
    EXPECT_GE(restarts.at(0) - hungAt, 3000);
    EXPECT_LE(restarts.at(0) - hungAt, 12000);
    for (int i = 1; i < restarts.size(); ++i) {
        EXPECT_GE(restarts.at(i) - restarts.at(i - 1), 3500) << i;
        EXPECT_LE(restarts.at(i) - restarts.at(i - 1), 8000) << i;
    }
    std::printf("[figures] hanging sub: first call %lld ms, first restart request %lld ms after the hang; "
                "requests %lld and %lld ms apart; %d calls\n",
                calls.first() - hungAt, restarts.at(0) - hungAt, restarts.at(1) - restarts.at(0),
                restarts.at(2) - restarts.at(1), int(calls.size()));

    // The log files say why the outputs were cut and where the requests went;
    // RECORD.db has the link record.
    const QString log = QString::fromUtf8(plant.run->infoLogText());
    EXPECT_TRUE(log.contains(QStringLiteral("a sub camera's link is down: IO outputs cut, cameras called on "
                                            "10.%1.0.255:10412")
                                 .arg(plant.net.address(1).section('.', 1, 1))))
        << log.right(6000).toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("sub camera %1 does not answer its link: restart requested, "
                                            "http://%2:10414/dide/debug/restart_rpc_service")
                                 .arg(kSubId, plant.net.address(4))))
        << log.right(6000).toStdString();
    EXPECT_TRUE(spinUntil([&] { return plant.recorded("多相机连接出现中断"); }, 10000));

    // The sub answers again: it pairs anew, and the calls stop.
    const int checks = plant.sub->checkRequests();
    plant.sub->unblock();
    EXPECT_TRUE(spinUntil(
        [&] {
            const QList<qint64> all = search.times(call, device, hungAt);
            return plant.sub->checkRequests() > checks && !all.isEmpty() &&
                   SubCameraSimulator::steadyMs() - all.last() > 4000;
        },
        30000))
        << "calls go on after the sub answers again";
    EXPECT_EQ(plant.run->process().state(), QProcess::Running);
}
