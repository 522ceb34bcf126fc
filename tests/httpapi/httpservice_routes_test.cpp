// The state, record, export, update and device-list routes over real HTTP
// on the loopback interface, against a scratch data root and working
// directory (no hub: the routes that read it answer as without one).
#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/firmwareinstall.h"
#include "httpapi/httpservice_mg_business.h"
#include "platform/system/dataroot.h"
#include "platform/system/monotonicclock.h"
#include "support/logcapture.h"
#include "support/rawhttpclient.h"
#include "support/recordedcommands.h"
#include "support/scratchdir.h"
#include "support/sqlite3tool.h"
#include "tools/appsim/appsimulator.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QRegularExpression>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <future>

using testsupport::RawHttpReply;
using testsupport::ScratchDir;

namespace {

template <typename F>
bool waitRunningEvents(F cond, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return cond();
}

struct Camera {
    ScratchDir work;
    ScratchDir root;
    testsupport::WorkingDir cwd{work.path()};
    // Before the service, which empties or makes its upload cache folder.
    bool rooted = [this] {
        platform::DataRoot::setRoot(root.path());
        return true;
    }();
    HttpService_MG_Business service{
        HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, true, QStringLiteral("/userdata/tmp/")}};
    bool ok = false;

    Camera()
    {
        ZRC_WorkInformation_Manager::getInstance();
        service.start();
        ok = waitRunningEvents([&] { return service.reactor()->serverPort() != 0 && service.reactor()->isRunning_mg(); });
    }
    // Sends on another thread while this (main) thread runs its events.
    RawHttpReply exchange(const QByteArray& request, int timeoutMs = 15000)
    {
        const quint16 port = service.reactor()->serverPort();
        auto f = std::async(std::launch::async,
                            [=] { return testsupport::rawHttpExchange(port, request, timeoutMs); });
        waitRunningEvents([&] { return f.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; },
                          timeoutMs + 2000);
        return RawHttpReply::parse(f.get());
    }
    RawHttpReply post(const QByteArray& url, const QByteArray& json, const QByteArray& userAgent = "app")
    {
        return exchange("POST " + url + " HTTP/1.1\r\nHost: t\r\nUser-Agent: " + userAgent
                        + "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size())
                        + "\r\n\r\n" + json);
    }
};

QJsonObject envelope(const RawHttpReply& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

}  // namespace

TEST(HttpServiceRoutesTest, PingsAndRoutesWithoutTheirSourcesAnswerPlainly)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    const struct {
        const char* url;
        const char* body;
        QByteArray reply;
    } cases[] = {
        {"/dide/context/heartbeat", "", R"({"code":0,"msg":"OK","result":{}})"},
        {"/dide/context/setcamcntstatus", R"({"cntstatus":"x"})", R"({"code":0,"msg":"OK","result":{}})"},
        {"/dide/httpapi/publisher_picture_detect", "junk", R"({"code":0,"msg":"OK","result":{}})"},
        {"/dide/context/lastshowlive", "", R"({"code":1,"msg":"未查询到需要获取的图片文件","result":{}})"},
        {"/dide/context/getpicture", R"({"pic_type":"template","pic_detect":0,"pic_name":"../../etc/passwd"})",
         R"({"code":1,"msg":"未查询到需要获取的图片文件","result":{}})"},
        {"/dide/context/get_shorttime_ng", R"({"detect":0,"index":-1})",
         R"({"code":1,"msg":"\"index\" must be a whole number not below 0","result":{}})"},
        {"/dide/context/get_shorttime_ng", R"({"detect":-2})",
         R"({"code":1,"msg":"\"detect\" must be a whole number not below 0","result":{}})"},
        {"/dide/context/getsyspic_item", R"({"file_type":"temp"})", R"({"code":0,"msg":"OK","result":{}})"},
    };
    for (const auto& c : cases) {
        const RawHttpReply r = cam.post(c.url, c.body);
        EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK") << c.url;
        EXPECT_EQ(QString::fromUtf8(r.body), QString::fromUtf8(c.reply)) << c.url;
        EXPECT_EQ(r.header("Content-Type"), "application/json") << c.url;
    }
}

TEST(HttpServiceRoutesTest, RecordPagesComeFromTodaysFileOrARealHistoryDay)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    QString sql = "CREATE TABLE RECORD(recordtime TEXT, recordpassword TEXT, remarks TEXT, recordtype TEXT);\n";
    for (int i = 0; i < 40; ++i)
        sql += QString("INSERT INTO RECORD VALUES('08.00.%1.500','u','r%2','operate');\n").arg(i, 2, 10, QChar('0')).arg(i);
    ASSERT_EQ(testsupport::sqlite3(cam.work.file("RECORD.db"), sql), "");
    const QByteArray today = QDate::currentDate().toString("yyyy-MM-dd").toUtf8();

    const QJsonObject page = envelope(cam.post(
        "/dide/context/record", R"({"date":")" + today + R"(","start":10,"finish":30,"type":""})"));
    const QJsonArray rows = page.value("result").toObject().value("records").toArray();
    ASSERT_EQ(rows.size(), 20);
    EXPECT_EQ(rows.at(0).toArray(), (QJsonArray{"08:00:29", "u", "r29", "operate"}));

    for (const QByteArray& date : {QByteArray("2024-05-01"), QByteArray("../../RECORD"), QByteArray("x' OR 1=1 --")}) {
        const RawHttpReply r = cam.post("/dide/context/record", R"({"date":")" + date + R"(","start":0,"finish":5})");
        EXPECT_EQ(r.body, R"({"code":0,"msg":"OK","result":{}})") << date.constData();
    }
    const QJsonArray days = envelope(cam.post("/dide/context/record_list", "{}")).value("result").toObject().value("record_list").toArray();
    EXPECT_EQ(days, QJsonArray{QString::fromUtf8(today)});
}

TEST(HttpServiceRoutesTest, AFirmwareUploadInstallsRepliesAndOnlyThenRestarts)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    QByteArray package(300000, 'p');
    for (int i = 0; i < package.size(); ++i)
        package[i] = char(i * 7);
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(package, QCryptographicHash::Md5).toHex());
    const auto upload = [&](const QByteArray& query, const QByteArray& body) {
        return cam.exchange("POST /dide/context/update_system" + query + " HTTP/1.1\r\nHost: t\r\nContent-Length: "
                            + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
    const auto restarts = [] {
        return testsupport::recordedCommandLines().filter(QRegularExpression("^(sync|reboot)$"));
    };
    const auto cacheFiles = [&] {
        return QDir(platform::DataRoot::path("/userdata/tmp/")).entryList(QDir::Files | QDir::NoDotAndDotDot);
    };

    const struct {
        QByteArray query;
        QByteArray text;
    } refused[] = {
        {"?check=" + digest.toUpper().toLatin1(), "文件接收异常-校验文件完整性未通过"},
        {"?check=digest%3D" + digest.toLatin1(), "文件接收异常-校验文件完整性未通过"},
        {"?check=%" + QByteArray::number(digest.at(0).unicode(), 16) + digest.mid(1).toLatin1(),
         "文件接收异常-校验文件完整性未通过"},
    };
    platform::CommandRunner::instance().clearRecorded();
    for (const auto& c : refused) {
        const RawHttpReply r = upload(c.query, package);
        EXPECT_EQ(r.statusLine, "HTTP/1.1 400 Bad Request") << c.query.constData();
        EXPECT_EQ(QString::fromUtf8(r.body), QString::fromUtf8(c.text)) << c.query.constData();
        EXPECT_TRUE(waitRunningEvents([&] { return cacheFiles().isEmpty(); }, 5000)) << "the refused upload is deleted";
    }
    const RawHttpReply empty = upload("", "");
    EXPECT_EQ(empty.statusLine, "HTTP/1.1 400 Bad Request");
    EXPECT_EQ(QString::fromUtf8(empty.body), QString::fromUtf8("文件接收异常-1"));
    EXPECT_FALSE(QFile::exists(platform::DataRoot::path(FirmwareInstall::packagePath())));
    EXPECT_TRUE(restarts().isEmpty()) << "no restart after a refusal";

    const RawHttpReply good = upload("?check=" + digest.toLatin1(), package);
    EXPECT_EQ(good.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(good.body, R"({"code":0,"msg":"OK","result":{}})");
    ASSERT_TRUE(waitRunningEvents([&] { return restarts().size() == 2; }, 40000));
    EXPECT_EQ(restarts(), (QStringList{"sync", "reboot"}));
    QFile installed(platform::DataRoot::path(FirmwareInstall::packagePath()));
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    EXPECT_EQ(QCryptographicHash::hash(installed.readAll(), QCryptographicHash::Md5).toHex(), digest.toLatin1());

    platform::CommandRunner::instance().clearRecorded();
    const RawHttpReply unchecked = upload("", package);
    EXPECT_EQ(QString::fromUtf8(unchecked.body),
              QString::fromUtf8(R"({"code":0,"msg":"OK","result":{"message":"APP未提供校验，程序有概率出现损坏"}})"));
    EXPECT_TRUE(waitRunningEvents([&] { return restarts().size() == 2; }, 40000));
}

TEST(HttpServiceRoutesTest, AnExportIsPushedToTheRequesterAndRunsOnceAtATime)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    cam.work.write("PARAM.db", "param");
    cam.work.write("camcfg.json", "{}");
    cam.root.write("userdata/log/a.log", "log");
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));
    app.setPushMode(AppSimulator::PushMode::Slow, 1500);
    cam.service.setExportPushPort(app.tcpPort());

    EXPECT_EQ(cam.post("/dide/context/getproject_storage", R"({"storage_type":"project"})").body,
              R"({"code":0,"msg":"OK","result":{"iswork":true}})");
    EXPECT_EQ(cam.post("/dide/context/getproject_storage", R"({"storage_type":["project","log"]})", "appid-1#z").body,
              R"({"code":0,"msg":"OK","result":{"iswork":true}})");
    ASSERT_TRUE(waitRunningEvents([&] { return app.pushes().size() == 1; }, 20000));
    EXPECT_EQ(cam.post("/dide/context/getproject_storage", R"({"storage_type":["log"]})").body,
              R"({"code":0,"msg":"OK","result":{"iswork":false}})")
        << "while the push lives";
    EXPECT_EQ(app.pushes()[0].uuid, "appid-1#z");
    ASSERT_TRUE(waitRunningEvents(
        [&] { return QDir(platform::DataRoot::path("/userdata/tmp/")).entryList({"log_*.tar"}, QDir::Files).isEmpty(); },
        20000))
        << "no archive remains";
    EXPECT_EQ(app.pushes().size(), 1);
}

TEST(HttpServiceRoutesTest, ADeviceSearchListsFreshAnswersInTextOrderAndIsCached)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    work->setNetCardProbe([](DeviceNetInfo_Detail& card) {
        card.ifname = "eth0";
        card.ip = "10.9.8.7";
        card.netmask = "255.255.255.0";
        card.broadcast = "10.9.8.255";
        return true;
    });
    work->recheckDeviceInfo();
    work->update_working_info([](ZRC_WorkInfos& w) { w.taken_app_ip = "10.9.8.50"; });
    work->set_searching_allinfos("10.9.8.99", "<C;21;gone;10.9.8.99;V1;>");  // a camera that left
    platform::MonotonicClock::advanceForTest(5000);  // no earlier search counts

    // Answers that arrive while the search runs.
    std::atomic<bool> stop{false};
    std::thread answerer([&] {
        while (!stop && !work->is_searching())
            QThread::msleep(5);
        work->set_searching_allinfos("10.9.8.3", "<C;21;b;10.9.8.3;V1;>");
        work->set_searching_allinfos("10.9.8.20", "<C;21;a;10.9.8.20;V1;>");
    });
    const RawHttpReply r =
        cam.post("/dide/context/lan_all_devices", R"({"app_version":"V1.6.7.94","subip":"10.9.8.50"})");
    stop = true;
    answerer.join();
    const QJsonObject result = envelope(r).value("result").toObject();
    EXPECT_EQ(result.value("device_netmask").toString(), "255.255.255.0");
    const QString own = "<C;21;" + work->get_deviceid() + ";10.9.8.7;V1.0.5.29;10.9.8.50>";
    EXPECT_EQ(result.value("all_devices").toArray(),
              (QJsonArray{QJsonObject{{"ip", "10.9.8.20"}, {"content", "<C;21;a;10.9.8.20;V1;>"}},
                          QJsonObject{{"ip", "10.9.8.3"}, {"content", "<C;21;b;10.9.8.3;V1;>"}},
                          QJsonObject{{"ip", "10.9.8.7"}, {"content", own}}}));
    const ZRC_WorkInfos info = work->get_working_info();
    ASSERT_EQ(info.registered_apps.count("10.9.8.50"), 1u) << "registered under subip";
    EXPECT_EQ(info.registered_apps.at("10.9.8.50").version, "V1.6.7.94");
    EXPECT_GT(info.registered_apps.at("10.9.8.50").mono_ms, 0);
    EXPECT_EQ(info.registered_apps.count("127.0.0.1"), 0u);
    EXPECT_FALSE(work->is_searching());

    // Within 4000 ms: the cached answer, no search (a new answer stays out).
    work->set_searching_allinfos("10.9.8.4", "<C;21;c;10.9.8.4;V1;>");
    const RawHttpReply cached = cam.post("/dide/context/lan_all_devices", R"({"app_version":"V2","subip":"no.ip"})");
    EXPECT_EQ(envelope(cached).value("result").toObject(), result);
    EXPECT_EQ(work->get_working_info().registered_apps.at("10.9.8.50").version, "V1.6.7.94") << "bad subip: none";

    // Without subip the requester's address registers.
    cam.post("/dide/context/lan_all_devices", R"({"app_version":"V3"})");
    EXPECT_EQ(work->get_working_info().registered_apps.at("127.0.0.1").version, "V3");
    work->setNetCardProbe({});
    work->update_working_info([](ZRC_WorkInfos& w) {
        w.taken_app_ip.clear();
        w.registered_apps.clear();
    });
    work->clear_searching_allinfos();
}

TEST(HttpServiceRoutesTest, CameraInfosListTheGroupWithOpenAccessHeaders)
{
    Camera cam;
    ASSERT_TRUE(cam.ok);
    cam.work.write("camcfg.json", R"({"ps_machineid":"M9","ps_main_camera_uuid":"A","ps_main_camera_address":"10.0.0.1",
        "ps_sub_camera":[{"ps_sub_camera_uuid":"B","ps_sub_camera_address":"10.0.0.2"},
                         {"ps_sub_camera_uuid":"C","ps_sub_camera_address":"10.0.0.3"}]})");
    const RawHttpReply r = cam.post("/dide/web/getcamerainfos", "");
    EXPECT_EQ(r.header("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(r.header("Access-Control-Allow-Methods"), "*");
    const QJsonArray infos = envelope(r).value("result").toObject().value("camera_infos").toArray();
    ASSERT_EQ(infos.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(infos.at(i).toObject().value("index").toInt(), i);
        EXPECT_EQ(infos.at(i).toObject().value("machineName").toString(), "M9");
    }
    EXPECT_EQ(infos.at(2).toObject().value("ipAddress").toString(), "10.0.0.3");
    QFile::remove(cam.work.file("camcfg.json"));
    EXPECT_EQ(cam.post("/dide/web/getcamerainfos", "").body, R"({"code":0,"msg":"OK","result":{}})");
}
