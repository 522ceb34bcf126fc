// The image routes and the firmware restart on the program's own objects
// (hub, parameters, flow, statistics on a scratch root): picture files only
// from inside their folders, the current step's mask in the form the
// application's version takes, and the restart's record.
#include "foundation/zrc_workinformation_manager.h"
#include "hub/divuvarude.h"
#include "inspection/camera.h"
#include "httpapi/firmwareinstall.h"
#include "inspection/cameraimage.h"
#include "platform/system/dataroot.h"
#include "support/programfixture.h"
#include "support/recordedcommands.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QFile>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>

#include <atomic>
#include <cerrno>
#include <map>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;
using testsupport::RawHttpReply;
using testsupport::rawHttpExchange;

namespace {

QString missing() { return QString::fromUtf8("未查询到需要获取的图片文件"); }

QJsonObject picture(const char* type, const QJsonValue& detect, const QString& name)
{
    return QJsonObject{{"pic_type", type}, {"pic_detect", detect}, {"pic_name", name}};
}

// The part names of a multipart body, in order.
QStringList partNames(const QByteArray& body)
{
    QStringList names;
    int at = 0;
    while ((at = body.indexOf("Content-Disposition: form-data; name=\"", at)) >= 0) {
        at += 38;
        names << QString::fromUtf8(body.mid(at, body.indexOf('"', at) - at));
    }
    return names;
}

}  // namespace

TEST(HttpServiceImagesTest, PicturesComeOnlyFromInsideTheirFolders)
{
    ProgramFixture f;
    const QString dir = QFileInfo(CameraImage::templatePath(0, "template00.bmp")).path();
    ASSERT_TRUE(QFile::exists(dir + "/template00.bmp"));
    QFile a(dir + "/a.bmp");
    ASSERT_TRUE(a.open(QIODevice::WriteOnly));
    a.write("BMbytes");
    a.close();
    QFile j(dir + "/b.JPG");
    ASSERT_TRUE(j.open(QIODevice::WriteOnly));
    j.write("jpg");
    j.close();

    const HttpAnswer plain = f.request("/dide/context/getpicture", picture("template", 0, "a.bmp"));
    EXPECT_EQ(plain.raw.body, "BMbytes");
    EXPECT_EQ(plain.raw.header("Content-Type"), "application/octet-stream");
    const HttpAnswer app =
        f.request("/dide/context/getpicture", picture("template", 0, "a.bmp"), {{"User-Agent", "appid-3#abc"}});
    EXPECT_EQ(app.raw.body, "BMbytes");
    EXPECT_EQ(app.raw.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(f.request("/dide/context/getpicture", picture("template", 0, "b.JPG")).raw.header("Content-Type"),
              "application/octet-stream");

    // Every name that is not one plain file of the step's folder, every
    // step outside 0..3 and every unknown kind: the missing-image answer.
    const QList<QJsonObject> probes = {
        picture("template", 0, "../cammer12/template00.bmp"), picture("template", 0, "/etc/passwd"),
        picture("template", 0, ".."), picture("template", 0, "."), picture("template", 0, ""),
        picture("template", 0, "a\\b.bmp"), picture("template", 0, QString("a.bmp") + QChar(0) + "x"),
        picture("template", 0, "nothere.bmp"), picture("template", 4, "a.bmp"), picture("template", -1, "a.bmp"),
        picture("template", 0.5, "a.bmp"), picture("result_ng", 0, "../../../etc/passwd"),
        picture("result_ok", 0, "/"), picture("other", 0, "a.bmp"), picture("", 0, "a.bmp"),
        picture("template", "0", "a.bmp"),
    };
    for (const QJsonObject& p : probes) {
        const HttpAnswer r = f.request("/dide/context/getpicture", p);
        EXPECT_TRUE(r.isJson) << QJsonDocument(p).toJson().constData();
        EXPECT_EQ(r.code, 1) << QJsonDocument(p).toJson().constData();
        EXPECT_EQ(r.msg, missing());
    }
}

TEST(HttpServiceImagesTest, TheCurrentStepsMaskTakesTheFormOfTheApplicationsVersion)
{
    ProgramFixture f;
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    const auto registerApp = [&](const QString& version) {
        work->update_working_info([&](ZRC_WorkInfos& w) {
            w.taken_app_ip = "10.1.1.9";
            w.registered_apps.clear();
            if (!version.isNull())
                w.registered_apps["10.1.1.9"].version = version;
        });
    };
    registerApp(QString());
    HttpAnswer whole = f.request("/dide/context/get_curng_info");
    EXPECT_TRUE(whole.raw.header("Content-Type").startsWith("multipart/form-data"));
    EXPECT_EQ(partNames(whole.raw.body),
              (QStringList{"detectinfo", "result", "runstateinfo", "maskmat-info", "maskmat", "orgmat-info", "orgmat"}));

    // Before any detection the hub's mask scope is empty: an application
    // that takes the packed form gets the whole mask rather than a cut of
    // nothing (the packed wire form itself: detectionimagereply_test).
    ASSERT_EQ(f.hub->getOrigMaskScope().area(), 0);
    for (const char* version : {"V1.6.7.94", "V1.6.7.93", "V1.7.0.1"}) {
        registerApp(version);
        EXPECT_EQ(partNames(f.request("/dide/context/runresult_mask").raw.body),
                  (QStringList{"result", "maskmat-info", "maskmat"}))
            << version;
        EXPECT_FALSE(f.request("/dide/context/get_curng_info").raw.body.contains("8in1_scope")) << version;
    }

    const HttpAnswer ng = f.request("/dide/context/get_shorttime_ng", QJsonObject{{"detect", 0}, {"index", 4}});
    EXPECT_TRUE(ng.raw.body.contains(R"({"index":4,"total":3})"));
    work->update_working_info([](ZRC_WorkInfos& w) {
        w.taken_app_ip.clear();
        w.registered_apps.clear();
    });
}

TEST(HttpServiceImagesTest, AFirmwareUpdateIsRecordedAndFlushedBeforeTheReboot)
{
    ProgramFixture f;
    platform::CommandRunner::instance().clearRecorded();
    const QByteArray package(20000, 'f');
    const QByteArray digest = QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex();
    const HttpAnswer r = f.request("/dide/context/update_system?check=" + QString::fromLatin1(digest), package, {},
                                   "application/octet-stream");
    EXPECT_EQ(r.raw.body, R"({"code":0,"msg":"OK","result":{}})");
    f.settle(300);
    QElapsedTimer t;
    t.start();
    while (!testsupport::recordedCommandLines().contains("reboot") && t.elapsed() < 30000)
        f.settle(50);
    const QStringList commands = testsupport::recordedCommandLines().filter(QRegularExpression("^(sync|reboot)$"));
    EXPECT_EQ(commands, (QStringList{"sync", "reboot"}));
    bool recorded = false;
    for (const QString& line : f.records())
        recorded = recorded || line.startsWith(QString::fromUtf8("手动关闭电源|operate"));
    EXPECT_TRUE(recorded) << f.records().join('\n').toStdString();
    QFile installed(platform::DataRoot::path(FirmwareInstall::packagePath()));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    EXPECT_EQ(QCryptographicHash::hash(installed.readAll(), QCryptographicHash::Md5).toHex(), digest);
}

namespace {

// Every part of a multipart body that declares its length carries exactly
// that many bytes before the next delimiter; the declared lengths, in order.
// Empty when the body does not hold together.
std::optional<QList<int>> wholeParts(const QByteArray& body)
{
    static const QByteArray delimiter = "\r\n" + QByteArray(24, '-') + "tcpservreactor";
    QList<int> lengths;
    int at = 0;
    while ((at = body.indexOf("Content-Length: ", at)) >= 0) {
        const int eol = body.indexOf("\r\n", at);
        const int n = body.mid(at + 16, eol - at - 16).toInt();
        const int start = body.indexOf("\r\n\r\n", at) + 4;
        if (start < 4 || start + n > body.size() || body.mid(start + n, delimiter.size()) != delimiter)
            return std::nullopt;
        lengths << n;
        at = start + n;
    }
    return lengths;
}

// The bytes of the multipart part `name` that carries a Content-Length.
QByteArray partBytes(const QByteArray& body, const QByteArray& name)
{
    const int head = body.indexOf("name=\"" + name + "\"\r\n");
    const int length = head < 0 ? -1 : body.indexOf("Content-Length: ", head);
    if (length < 0)
        return QByteArray();
    const int n = body.mid(length + 16, body.indexOf("\r\n", length) - length - 16).toInt();
    return body.mid(body.indexOf("\r\n\r\n", length) + 4, n);
}

}  // namespace

// The application reads the "-info" and data part of every image it asks
// for, also when there is no picture: an empty NG slot and the detection
// frame before the first detection come with both parts.
TEST(HttpServiceImagesTest, ImagesWithoutAPictureStillHaveBothParts)
{
    ProgramFixture f;
    const HttpAnswer ng = f.request("/dide/context/get_shorttime_ng", QJsonObject{{"detect", 2}, {"index", 1}});
    ASSERT_TRUE(ng.raw.header("Content-Type").startsWith("multipart/form-data")) << ng.raw.body.left(200).constData();
    EXPECT_EQ(partNames(ng.raw.body), (QStringList{"info", "orgmat-info", "orgmat"}));
    EXPECT_TRUE(ng.raw.body.contains(
        R"({"channels":1,"data_type":"data_type","datakey":"orgmat","size_height":0,"size_width":0})"));
    EXPECT_EQ(wholeParts(ng.raw.body), (std::optional<QList<int>>(QList<int>{0})));

    const HttpAnswer cur = f.request("/dide/context/get_curng_info");
    EXPECT_EQ(partNames(cur.raw.body),
              (QStringList{"detectinfo", "result", "runstateinfo", "maskmat-info", "maskmat", "orgmat-info", "orgmat"}));
    const std::optional<QList<int>> lengths = wholeParts(cur.raw.body);
    ASSERT_TRUE(lengths.has_value());
    ASSERT_EQ(lengths->size(), 2);
    // The frame part holds what its "-info" part says.
    const int info = cur.raw.body.indexOf("name=\"orgmat-info\"");
    const QJsonObject frame =
        QJsonDocument::fromJson(cur.raw.body.mid(cur.raw.body.indexOf("\r\n\r\n", info) + 4).split('\r').first())
            .object();
    EXPECT_EQ(lengths->at(1), frame.value("size_width").toInt() * frame.value("size_height").toInt()
                                  * frame.value("channels").toInt());
}

// Workers answer pictures, held NG images and camera states while the main
// thread answers the detection images, stores new NG images and switches
// templates: every answer is whole (run under the sanitizers too).
TEST(HttpServiceImagesTest, ImagesArriveWholeWhileMainStoresNgImagesAndSwitchesTemplates)
{
    ProgramFixture f;
    const QString dir = QFileInfo(CameraImage::templatePath(0, "template00.bmp")).path();
    QByteArray pictures[2];
    for (int i = 0; i < 2; ++i) {
        pictures[i] = QByteArray(300000 + i * 1000, char('a' + i));
        QFile p(dir + QStringLiteral("/t%1.bmp").arg(i));
        ASSERT_TRUE(p.open(QIODevice::WriteOnly));
        p.write(pictures[i]);
    }
    for (int i = 0; i < 3; ++i)
        f.hub->Update_MemNGLook(0);
    const cv::Mat frame = f.hub->getOrigImage();
    const int frameBytes = int(frame.total() * frame.elemSize());
    ASSERT_GT(frameBytes, 0);

    const quint16 port = f.port();
    // One running request per route: a client refused as busy asks again.
    std::atomic<int> busy{0};
    const auto post = [port, &busy](const QByteArray& route, const QByteArray& json) {
        for (;;) {
            RawHttpReply r = RawHttpReply::parse(rawHttpExchange(
                port,
                "POST " + route + " HTTP/1.1\r\nHost: c\r\nContent-Type: application/json\r\nContent-Length: "
                    + QByteArray::number(json.size()) + "\r\n\r\n" + json,
                60000));
            if (!r.body.contains("The previous same url task has not been completed"))
                return r;
            ++busy;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    constexpr int kClients = 6;
    constexpr int kRounds = 12;
    std::atomic<int> done{0};
    std::vector<std::string> faults[kClients];
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int r = 0; r < kRounds; ++r) {
                const int pic = (c + r) % 2;
                const RawHttpReply p = post("/dide/context/getpicture",
                                            QStringLiteral(R"({"pic_type":"template","pic_detect":0,"pic_name":"t%1.bmp"})")
                                                .arg(pic)
                                                .toUtf8());
                if (p.body != pictures[pic])
                    faults[c].push_back("picture " + std::to_string(pic) + ": " + std::to_string(p.body.size()) + " bytes");
                const RawHttpReply ng = post("/dide/context/get_shorttime_ng",
                                             QStringLiteral(R"({"detect":0,"index":%1})").arg(r % 3).toUtf8());
                const auto ngParts = wholeParts(ng.body);
                if (!ngParts || ngParts->value(0) != frameBytes)
                    faults[c].push_back("held NG image " + std::to_string(r % 3) + " not whole");
                const RawHttpReply cur = post("/dide/context/get_curng_info", "{}");
                const auto curParts = wholeParts(cur.body);
                if (!curParts || curParts->size() != 2 || curParts->value(1) != frameBytes)
                    faults[c].push_back("detection images not whole: " + std::to_string(cur.body.size()) + " bytes");
                const RawHttpReply state = post("/dide/context/getcamera_status", "{}");
                if (!state.body.contains("\"code\":0"))
                    faults[c].push_back("camera state: " + state.body.left(200).toStdString());
            }
            ++done;
        });
    }
    // The main thread meanwhile: new NG images and template switches,
    // between the requests it answers itself.
    int switches = 0;
    while (done.load() < kClients) {
        f.hub->Update_MemNGLook(0);
        f.hub->getPicDir(QStringLiteral("t%1.bmp").arg(switches % 2), 0, "template");
        ++switches;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    for (std::thread& t : clients)
        t.join();
    for (int c = 0; c < kClients; ++c)
        for (const std::string& fault : faults[c])
            ADD_FAILURE() << "client " << c << ": " << fault;
    EXPECT_GT(switches, 0);
    std::printf("%d template switches on the main thread, %d busy answers asked again\n", switches, busy.load());
}

// A slow client's detection images are those of the frame its request saw,
// even while later requests are answered with newer frames: the buffer its
// reply is sent from is not written again until that reply is over.
TEST(HttpServiceImagesTest, ASlowClientKeepsTheFrameOfItsRequestWhileNewerFramesAreAnswered)
{
    ProgramFixture f;
    CameraImage& image = *f.hub->camera()->cameraImage();
    image.initImage(true);  // colour: far more than the sockets hold
    // A new frame as the capture brings it: raw NV12 converted into the
    // working image.
    auto newFrame = [&](int v) {
        uchar* raw = image.rawBuffer();
        const int luma = image.getImageDataLen() * 2 / 3;
        std::memset(raw, 16 + v * 17, size_t(luma));
        std::memset(raw + luma, 128, size_t(image.getImageDataLen() - luma));
        image.updateImageData();
        const cv::Mat work = f.hub->getOrigImage();
        return QByteArray(reinterpret_cast<const char*>(work.data), int(work.total() * work.elemSize()));
    };
    const QByteArray first = newFrame(0);
    ASSERT_GT(first.size(), 8000000);

    testsupport::RawHttpConnection slow(f.port());
    ASSERT_TRUE(slow.send("POST /dide/context/get_curng_info HTTP/1.1\r\nHost: c\r\nContent-Type: application/json\r\n"
                          "Content-Length: 2\r\n\r\n{}"));
    QByteArray got;
    for (int i = 0; i < 500 && got.isEmpty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got = slow.readSome(4096, 10);
    }
    ASSERT_FALSE(got.isEmpty()) << "the slow client's reply has begun";

    for (int v = 1; v <= 11; ++v) {
        const QByteArray frame = newFrame(v);
        for (int again = 0; again < 2; ++again)  // twice on the same frame
            EXPECT_TRUE(partBytes(f.request("/dide/context/get_curng_info").raw.body, "orgmat") == frame)
                << "frame " << v << ", request " << again;
    }
    got += slow.readAll(20000);
    EXPECT_TRUE(partBytes(RawHttpReply::parse(got).body, "orgmat") == first)
        << "the slow client's frame was written over while it was sent";
}

// The picture lists of the alarm folders (read off the main thread): newest
// first, same times by name, only pictures, at most the folder's limit; the
// templates' lists beside them.
TEST(HttpServiceImagesTest, PictureListsAreTheNewestPicturesOfEachFolderWithinItsLimit)
{
    ProgramFixture f;
    const int savedNg = gPicNumNG.load();
    const int savedOk = gPicNumOK.load();
    gPicNumNG.store(2);
    gPicNumOK.store(3);
    const QDateTime base = QDateTime::currentDateTime().addSecs(-3600);
    auto put = [](const QDir& dir, const QString& name, const QDateTime& when) {
        QFile p(dir.filePath(name));
        ASSERT_TRUE(p.open(QIODevice::WriteOnly));
        p.write("jpg");
        ASSERT_TRUE(p.flush());
        ASSERT_TRUE(p.setFileTime(when, QFileDevice::FileModificationTime));
    };
    put(f.hub->alarmDirectory(0, false), "a.jpg", base.addSecs(-30));
    put(f.hub->alarmDirectory(0, false), "b.jpg", base.addSecs(-10));
    put(f.hub->alarmDirectory(0, false), "c.jpg", base.addSecs(-20));
    put(f.hub->alarmDirectory(0, false), "z.txt", base);
    put(f.hub->alarmDirectory(1, true), "y.jpg", base);
    put(f.hub->alarmDirectory(1, true), "x.jpg", base);

    const HttpAnswer all = f.request("/dide/context/getsyspic");
    ASSERT_EQ(all.code, 0);
    EXPECT_EQ(all.result.value("ngresimg_group").toArray().at(0).toString(), "b.jpg;c.jpg");
    EXPECT_EQ(all.result.value("okresimg_group").toArray().at(1).toString(), "x.jpg;y.jpg");
    EXPECT_EQ(all.result.value("okresimg_group").toArray().at(0).toString(), "");
    EXPECT_EQ(all.result.value("tmpimg_group").toArray().size(), all.result.value("ngresimg_group").toArray().size());
    EXPECT_TRUE(all.result.value("tmpimg_group").toArray().at(0).toString().contains("template00.bmp"));

    struct Case {
        const char* kind;
        int detect;
        QStringList names;
    };
    for (const Case& c : {Case{"ngresult", 0, {"b.jpg", "c.jpg"}}, Case{"okresult", 1, {"x.jpg", "y.jpg"}},
                          Case{"okresult", 0, {}}}) {
        const HttpAnswer one =
            f.request("/dide/context/getsyspic_item", QJsonObject{{"file_type", c.kind}, {"detect", c.detect}});
        EXPECT_EQ(one.result.value("file_name").toVariant().toStringList(), c.names) << c.kind << c.detect;
        EXPECT_EQ(one.result.value("file_mtime").toArray().size(), c.names.size()) << c.kind << c.detect;
    }
    const HttpAnswer ng = f.request("/dide/context/getsyspic_item", QJsonObject{{"file_type", "ngresult"}, {"detect", 0}});
    EXPECT_EQ(ng.result.value("file_mtime").toArray().at(0).toString(),
              base.addSecs(-10).toString("yyyy-MM-dd hh:mm:ss"));
    gPicNumNG.store(savedNg);
    gPicNumOK.store(savedOk);
}

// Requests for main-thread routes that queued up while the main thread was
// busy wait behind a work event that comes after them: the detection runs
// first.
TEST(HttpServiceImagesTest, AWorkEventRunsBeforeTheRequestsQueuedForTheMainThread)
{
    ProgramFixture f;
    f.service->clearStages();
    const quint16 port = f.port();
    const std::vector<QByteArray> routes = {"/dide/context/getsyspic", "/dide/context/get_curng_info",
                                            "/dide/context/runresult_info"};
    std::vector<std::thread> clients;
    for (const QByteArray& route : routes)
        clients.emplace_back([port, route] {
            rawHttpExchange(port, "POST " + route + " HTTP/1.1\r\nHost: c\r\nContent-Type: application/json\r\n"
                                                    "Content-Length: 2\r\n\r\n{}", 20000);
        });
    // The main thread is busy (it runs no events) until the workers have
    // handed every request over to it.
    for (int i = 0; i < 2000 && f.service->callsWaitingForOwnThread() < int(routes.size()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(f.service->callsWaitingForOwnThread(), int(routes.size()));
    int handlersBefore = -1;
    QObject context;
    QMetaObject::invokeMethod(&context, [&] { handlersBefore = f.service->stages().size(); }, Qt::QueuedConnection);
    for (int i = 0; i < 200 && f.service->stages().size() < int(routes.size()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    for (std::thread& t : clients)
        t.join();
    EXPECT_EQ(handlersBefore, 0) << "handlers ran before the work event";
    EXPECT_EQ(f.service->stages().size(), int(routes.size()));
}

// The service's threads yield the CPU to the main thread's detection: the
// server thread, the workers and the threads that finish image answers run
// at a higher nice value, the main thread keeps its own.
TEST(HttpServiceImagesTest, TheServiceThreadsGiveWayToTheMainThread)
{
    ProgramFixture f;
    EXPECT_TRUE(f.request("/dide/context/get_curng_info").raw.statusLine.contains("200"));
    EXPECT_EQ(f.request("/dide/context/getcamera_status").code, 0);
    const int mainNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
    std::map<QString, QList<int>> niceByName;
    for (const QString& tid : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm("/proc/self/task/" + tid + "/comm");
        if (!comm.open(QIODevice::ReadOnly))
            continue;
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid.toInt()));
        if (errno == 0)
            niceByName[QString::fromUtf8(comm.readAll()).trimmed()] << nice;
    }
    ASSERT_EQ(niceByName.count("HttpReactor_MG"), 1u);
    EXPECT_EQ(niceByName["HttpReactor_MG"].value(0), mainNice + HttpReactor_MG::kServiceNice);
    // Workers and answer threads are pooled threads: at least four of them
    // (three workers, one that finished the image answer) were lowered.
    EXPECT_GE(niceByName["Thread (pooled)"].count(mainNice + HttpReactor_MG::kServiceNice), 4);
}
