// The daemon's HTTP service on a free port: the exact answers, 404 for any
// other path, reboot and reset answered first and their commands recorded
// (never run) in order a second later, and what the reset removes and keeps.
#include "daemon/business.h"
#include "daemontestbench.h"
#include "net/nettestbench.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"
#include "support/recordedcommands.h"
#include "support/rawhttpclient.h"
#include "support/scratchdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using platform::CommandRunner;
using testsupport::RawHttpReply;

namespace {

using nettest::waitUntil;

using testsupport::recordedCommandLines;

struct Daemon {
    QString key = daemontest::uniqueKey();
    std::unique_ptr<business> service;

    explicit Daemon(const QString& workDir = QString())
    {
        business::Options o;
        o.liveness.key = key;
        o.host = QHostAddress::LocalHost;
        o.port = 0;
        o.workDir = workDir;
        service = std::make_unique<business>(o);
        service->start();
        waitUntil([this] { return service->port() != 0 || service->listenFailed(); }, 30000);
    }
    RawHttpReply get(const QByteArray& target, const QByteArray& method = "GET")
    {
        return RawHttpReply::parse(
            testsupport::rawHttpExchange(service->port(), method + " " + target + " HTTP/1.1\r\nHost: x\r\n\r\n", 30000));
    }
};

}  // namespace

TEST(BusinessTest, LivenessAnswerIsExact)
{
    Daemon d;
    ASSERT_NE(d.service->port(), 0);
    for (const QByteArray& method : {QByteArray("GET"), QByteArray("POST"), QByteArray("DELETE")}) {
        const RawHttpReply r = d.get("/dide/daemon/main_runstate?ignored=1", method);
        ASSERT_TRUE(r.complete) << method.constData();
        EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK"));
        EXPECT_EQ(r.header("Connection"), QByteArray("close"));
        EXPECT_EQ(r.header("Content-Length"), QByteArray::number(r.body.size()));
        EXPECT_TRUE(r.header("Content-Type").isEmpty());
        EXPECT_EQ(r.body, QByteArray("{\"code\":-2,\"msg\":\"获取相机运行信息出错\"}"));
    }
    const QByteArray record = "{\"cams_cnted\":1,\"fps\":25,\"ms_1000\":1700000000}";
    ASSERT_TRUE(daemontest::writeRecord(d.key, record));
    const RawHttpReply r = d.get("/dide/daemon/main_runstate");
    EXPECT_EQ(r.body, "{\"code\":0,\"msg\":\"OK\",\"result\":" + record + "}");
}

TEST(BusinessTest, OtherPathsAreAnswered404AndRunNothing)
{
    Daemon d;
    CommandRunner::instance().clearRecorded();
    for (const QByteArray& path : {QByteArray("/dide/daemon/reboot/"), QByteArray("/DIDE/daemon/reboot"),
                                  QByteArray("/dide/daemon/%72eboot"), QByteArray("/dide/daemon/reset/x"),
                                  QByteArray("/"), QByteArray("/dide/daemon/main_runstate/")}) {
        const RawHttpReply r = d.get(path);
        ASSERT_TRUE(r.complete) << path.constData();
        EXPECT_TRUE(r.statusLine.startsWith("HTTP/1.1 404")) << path.constData();
    }
    waitUntil([] { return false; }, 1500);
    EXPECT_TRUE(recordedCommandLines().isEmpty());
}

TEST(BusinessTest, RebootIsAnsweredFirstThenRecordedInOrder)
{
    Daemon d;
    CommandRunner::instance().clearRecorded();
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    const RawHttpReply r = d.get("/dide/daemon/reboot");
    EXPECT_EQ(r.body, QByteArray("{\"code\":0,\"msg\":\"OK\"}"));
    ASSERT_TRUE(waitUntil([] { return recordedCommandLines().size() >= 3; }, 30000));
    EXPECT_GE(sinceRequest.elapsed(), 1000);
    EXPECT_EQ(recordedCommandLines(), (QStringList{"killall -9 Orvale Brevik", "sync", "reboot"}));
    for (const platform::RecordedCommand& c : CommandRunner::instance().recorded())
        EXPECT_FALSE(c.ran);  // simulation: recorded only
}

TEST(BusinessTest, ResetRemovesTheCameraDataOnlyAndFollowsNoLink)
{
    testsupport::ScratchDir root;
    testsupport::ScratchDir work;
    testsupport::ScratchDir outside;
    const QString rootBefore = platform::DataRoot::root();
    platform::DataRoot::setRoot(root.path());
    for (const char* f : {"RECORDNULL.db", "RECORD.db", "ResStatistics.db", "PARAM.db", "alarmimage/1/a.jpg",
                          "cammer11/template0.bmp", "cammer12/x/y.bmp", "cammer.txt", "originalimage/o.bmp",
                          "camcfg.json", "paraGroup/default/PARAM.db", "workspace/Vistrel.ini", "Orvale"})
        work.write(QString::fromLatin1(f), "x");
    root.write(QStringLiteral("userdata/alarmimage/NG/1/n.jpg"), "x");
    outside.write(QStringLiteral("keep.bmp"), "x");
    ASSERT_TRUE(QFile::link(outside.path(), work.file(QStringLiteral("cammer19"))));
    ASSERT_TRUE(QFile::link(outside.file(QStringLiteral("keep.bmp")), work.file(QStringLiteral("alarmimage/1/link.bmp"))));

    Daemon d(work.path());
    CommandRunner::instance().clearRecorded();
    EXPECT_EQ(d.get("/dide/daemon/reset").body, QByteArray("{\"code\":0,\"msg\":\"OK\"}"));
    ASSERT_TRUE(waitUntil([] { return recordedCommandLines().size() >= 3; }, 30000));
    EXPECT_EQ(recordedCommandLines(), (QStringList{"killall -9 Orvale Brevik", "sync", "reboot"}));

    QStringList left = QDir(work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    left.sort();
    EXPECT_EQ(left, (QStringList{"Orvale", "camcfg.json", "paraGroup", "workspace"}));
    EXPECT_TRUE(QFile::exists(work.file(QStringLiteral("paraGroup/default/PARAM.db"))));
    EXPECT_TRUE(QFile::exists(work.file(QStringLiteral("workspace/Vistrel.ini"))));
    EXPECT_TRUE(QFile::exists(outside.file(QStringLiteral("keep.bmp"))));  // links removed, not followed
    EXPECT_TRUE(QDir(root.file(QStringLiteral("userdata/alarmimage"))).exists());
    EXPECT_TRUE(QDir(root.file(QStringLiteral("userdata/alarmimage")))
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                    .isEmpty());
    platform::DataRoot::setRoot(rootBefore);
}
