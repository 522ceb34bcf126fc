// Starts the real camera program on a scratch data root and checks what its
// start-up leaves behind.
#include "orvalerun.h"
#include "support/scratchdir.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

using apptest::OrvaleRun;

TEST(OrvaleStartupTest, LogsBannerWritesWorkspaceAndGroupFileAndKeepsRunning)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.start();
    const QString camcfg = run.appDir() + "/camcfg.json";
    ASSERT_TRUE(run.waitFor([&] { return QFile::exists(camcfg) && run.logText().contains("application start"); }))
        << run.stderrText().toStdString();
    EXPECT_TRUE(run.logText().contains("V1.0.5.29"));
    EXPECT_TRUE(QFileInfo(run.appDir() + "/workspace").isDir());

    QFile f(camcfg);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &err);
    EXPECT_EQ(err.error, QJsonParseError::NoError);
    EXPECT_TRUE(doc.isObject());

    // Still running its event loop, and a stop request ends it cleanly.
    QThread::msleep(500);
    ASSERT_EQ(run.process().state(), QProcess::Running);
    run.process().terminate();
    ASSERT_TRUE(run.process().waitForFinished(5000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.process().exitCode(), 0);
    EXPECT_FALSE(run.logText().contains("SIGTERM")) << "a stop is not a crash";
}

// A damaged camera-group file is set aside and started over; the line that
// says so must reach the log files of the running program.
TEST(OrvaleStartupTest, ACorruptGroupFileIsSetAsideWithALineInTheInfoLog)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    root.write("app/camcfg.json", QByteArray("{\"cameras\": [ \x01\x02 garbage"));
    run.start();
    ASSERT_TRUE(run.waitFor([&] { return run.infoLogText().contains("LoadCamCfg:"); }))
        << run.logText().toStdString();
    const QByteArray log = run.infoLogText();
    EXPECT_TRUE(log.contains("unreadable")) << log.toStdString();
    EXPECT_TRUE(log.contains("camcfg.json.broken-")) << log.toStdString();
    const QStringList aside = QDir(run.appDir()).entryList({"camcfg.json.broken-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(run.appDir() + "/" + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{\"cameras\": [ \x01\x02 garbage"));
}

TEST(OrvaleStartupTest, ClockRecordIsAppliedOnlyWhenLaterThanTheClock)
{
    struct Case { const char* name; qint64 offsetSecs; bool applied; };
    const Case cases[] = {
        {"a day ahead", 86400, true},
        {"a day behind", -86400, false},
    };
    for (const Case& c : cases) {
        testsupport::ScratchDir root;
        OrvaleRun run(root);
        const qint64 record = QDateTime::currentSecsSinceEpoch() + c.offsetSecs;
        root.write("app/workspace/Vistrel.ini",
                   QByteArray("[VCamera_Work]\nRecordTime=") + QByteArray::number(record) + "\n");
        run.start();
        ASSERT_TRUE(run.waitFor([&] { return QFile::exists(run.appDir() + "/camcfg.json"); })) << c.name;
        // The commands that would set the clock are logged, never run.
        QThread::msleep(300);
        const QByteArray log = run.logText();
        EXPECT_EQ(log.contains("not run: date -s"), c.applied) << c.name;
        EXPECT_EQ(log.contains("not run: hwclock --systohc"), c.applied) << c.name;
    }
}

TEST(OrvaleStartupTest, WithoutAnAddressExitsWithAFailureCode)
{
    // A fresh network namespace has only a loopback that is down.
    if (QProcess::execute("unshare", {"-n", "true"}) != 0)
        GTEST_SKIP() << "network namespaces are not available here";
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.start("unshare", {"-n", ORVALE_BIN});
    ASSERT_TRUE(run.process().waitForFinished(45000));
    EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
    EXPECT_NE(run.process().exitCode(), 0);
    const QByteArray err = run.stderrText();
    EXPECT_TRUE(err.contains("no found ip from dhcp!"));
    EXPECT_TRUE(err.contains("no IPv4 address"));
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/userdata/log")) << "nothing is created before the address";
}
