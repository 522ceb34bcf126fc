// The project export: the kinds' paths, tar's members under their device
// names without the upload cache, and the archive pushed whole to the
// application and then removed.
#include "httpapi/projectexport.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"
#include "tools/appsim/appsimulator.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QtConcurrent>

using testsupport::ScratchDir;

namespace {

QStringList tarList(const QString& archive)
{
    QProcess p;
    p.start("tar", {"-tf", archive});
    p.waitForFinished(20000);
    QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    out.sort();
    return out;
}

template <typename F>
bool waitWhileRunningEvents(F cond, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return cond();
}

// A device tree: working directory with project files and two template
// folders; the data root with logs and an upload cache.
struct Device {
    ScratchDir work;
    ScratchDir root;
    testsupport::WorkingDir cwd{work.path()};
    Device()
    {
        platform::DataRoot::setRoot(root.path());
        work.write("PARAM.db", "param");
        work.write("camcfg.json", "{}");
        work.write("cammer11/a.bmp", "a");
        work.write("cammer12/b.bmp", "b");
        root.write("userdata/log/orvale.log", "log");
        root.write("userdata/tmp/upload_7", "firmware");
        root.write("userdata/tmp/log_20200101_000000_000.tar", "old archive");
    }
};

}  // namespace

TEST(ProjectExportTest, KindsGiveTheirPathsInTheArraysOrder)
{
    Device d;
    EXPECT_EQ(ProjectExport::pathsFor(QJsonArray{"project", "log"}),
              (QStringList{"./PARAM.db", "./camcfg.json", "/userdata/log/"}));
    EXPECT_EQ(ProjectExport::pathsFor(QJsonArray{"template", "nothing", 3}), (QStringList{"./cammer11", "./cammer12"}));
    EXPECT_EQ(ProjectExport::pathsFor(QJsonArray{"record", "history"}),
              (QStringList{"./RECORD.db", "/userdata/", "/userdata/alarmimage/"}));
    EXPECT_TRUE(ProjectExport::pathsFor(QJsonValue("project")).isEmpty());
    EXPECT_TRUE(ProjectExport::pathsFor(QJsonArray{}).isEmpty());
}

TEST(ProjectExportTest, TarTakesEachRootWithItsDeviceNamesAndDropsMissingPaths)
{
    Device d;
    testsupport::LogCapture log;
    const QStringList args = ProjectExport::tarArguments(
        "/x/a.tar", {"./PARAM.db", "./RECORD.db", "/userdata/log/", "/userdata/alarmimage/"});
    EXPECT_EQ(args, (QStringList{"-cf", "/x/a.tar", "--exclude=userdata/tmp", "-C", QDir::currentPath(), "./PARAM.db",
                                 "-C", platform::DataRoot::root(), "userdata/log/"}));
    EXPECT_TRUE(log.contains("[EXPORT] not there, left out: ./RECORD.db"));
    EXPECT_TRUE(log.contains("[EXPORT] not there, left out: /userdata/alarmimage/"));
}

TEST(ProjectExportTest, TheArchiveReachesTheApplicationWholeAndIsThenRemoved)
{
    Device d;
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));
    platform::CommandRunner::instance().clearRecorded();
    const QStringList paths = ProjectExport::pathsFor(QJsonArray{"project", "log", "record"});
    QFuture<void> task = QtConcurrent::run(
        [&] { ProjectExport::run(paths, "127.0.0.1", app.tcpPort(), "appid-7#x"); });
    ASSERT_TRUE(waitWhileRunningEvents([&] { return task.isFinished(); }, 60000));

    ASSERT_EQ(app.pushes().size(), 1);
    EXPECT_EQ(app.pushes()[0].url, "/dide/context/putproject_storage");
    EXPECT_EQ(app.pushes()[0].uuid, "appid-7#x");
    const QByteArray raw = app.rawPushes().value(0);
    const QByteArray tarBytes = raw.mid(raw.indexOf("\r\n\r\n") + 4);
    const QString received = d.work.write("received.tar", tarBytes);
    const QStringList members = tarList(received);
    EXPECT_TRUE(members.contains("./PARAM.db"));
    EXPECT_TRUE(members.contains("./camcfg.json"));
    EXPECT_TRUE(members.contains("userdata/log/orvale.log"));
    EXPECT_TRUE(members.contains("userdata/"));
    for (const QString& m : members)
        EXPECT_FALSE(m.startsWith("userdata/tmp")) << m.toStdString() << " (the upload cache stays out)";

    EXPECT_TRUE(QDir(platform::DataRoot::path("/userdata/tmp/")).entryList({"log_*.tar"}, QDir::Files).isEmpty())
        << "no archive remains";
    int tars = 0;
    for (const platform::RecordedCommand& c : platform::CommandRunner::instance().recorded()) {
        if (c.program != "tar")
            continue;
        ++tars;
        EXPECT_TRUE(c.ran) << "tar runs in simulation too";
    }
    EXPECT_EQ(tars, 1);
}

TEST(ProjectExportTest, NoApplicationListeningMeansNoPushAndNoArchiveLeft)
{
    Device d;
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));
    const quint16 closed = app.tcpPort();
    app.kill();
    testsupport::LogCapture log;
    QFuture<void> task = QtConcurrent::run(
        [&] { ProjectExport::run({"./PARAM.db"}, "127.0.0.1", closed, "ua"); });
    ASSERT_TRUE(waitWhileRunningEvents([&] { return task.isFinished(); }, 60000));
    EXPECT_TRUE(log.contains("[POST_2_APP] ERROR NO CONNECTED (/dide/context/getproject_storage)"));
    EXPECT_TRUE(QDir(platform::DataRoot::path("/userdata/tmp/")).entryList({"log_*.tar"}, QDir::Files).isEmpty());
}
