// Starts the real camera program on a scratch data root and checks what its
// start-up leaves behind.
#include "orvalerun.h"
#include "support/programrun.h"
#include "support/scratchdir.h"
#include "support/sqlite3tool.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
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
    // Where the HTTP API listens, in the log files and on the console; the
    // HTTP library takes its options without a word.
    ASSERT_TRUE(run.waitFor([&] { return run.infoLogText().contains("[HTTP] listening on http://0.0.0.0:"); }))
        << run.infoLogText().right(3000).toStdString();
    EXPECT_TRUE(run.stderrText().contains("Orvale: [HTTP] listening on http://0.0.0.0:"))
        << run.stderrText().toStdString();
    EXPECT_FALSE(run.stderrText().contains("MHD_OPTION")) << run.stderrText().toStdString();

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
    ASSERT_TRUE(run.process().waitForFinished(30000));
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

namespace {

using testsupport::sqlite3;

// The device's factory files, built from their SQL text.
void installFactoryFiles(const QString& appDir)
{
    QDir().mkpath(appDir + "/paraGroup/default");
    for (const auto& [file, sql] : {std::pair<QString, QString>{"paraGroup/default/PARAM.db", "PARAM.sql"},
                                    {"RECORDNULL.db", "RECORDNULL.sql"}}) {
        QFile f(QStringLiteral(ORVALE_FACTORY_SQL_DIR "/") + sql);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        sqlite3(appDir + "/" + file, QString::fromUtf8(f.readAll()));
    }
}

}  // namespace

TEST(OrvaleStartupTest, TheHubSetsUpItsDatabasesAndFolders)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    installFactoryFiles(run.appDir());
    run.start();
    const QString param = run.appDir() + "/PARAM.db";
    ASSERT_TRUE(run.waitFor([&] {
        return QFileInfo(root.path() + "/userdata/alarmimage/detect4/OK").isDir()
               && sqlite3(param, "select count(*) from sysparam where name='system10';") == "1";
    })) << run.logText().toStdString();

    const QJsonObject stored =
        QJsonDocument::fromJson(sqlite3(param, "select value from sysparam where name='paramsjson';").toUtf8()).object();
    EXPECT_EQ(stored.value("s_filtersize").toInt(), 3);
    EXPECT_EQ(stored.value("h_mostskewing").toInt(), 8000);
    EXPECT_EQ(stored.value("c_start_flawdetect"), QJsonValue(true));
    EXPECT_EQ(sqlite3(param, "select value from sysparam where name='system7';"),
              "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(sqlite3(param, "select count(*) from sysparam where name in ('system8','system9');"), "2");
    EXPECT_EQ(sqlite3(run.appDir() + "/RECORD.db", ".schema RECORD"),
              "CREATE TABLE RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), remarks VARCHAR(1024), "
              "recordtype TEXT);");
    for (int k = 1; k <= 4; ++k) {
        EXPECT_TRUE(QFileInfo(root.path() + QStringLiteral("/userdata/alarmimage/detect%1/NG").arg(k)).isDir());
        EXPECT_TRUE(QFileInfo(run.appDir() + QStringLiteral("/cammer1%1").arg(k)).isDir());
    }
    EXPECT_TRUE(QFileInfo(root.path() + "/userdata/record_history").isDir());
    EXPECT_EQ(run.process().state(), QProcess::Running);
}

TEST(OrvaleStartupTest, AnUnreadableParameterSetIsKeptAsideAndLogged)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    installFactoryFiles(run.appDir());
    QFile::copy(run.appDir() + "/paraGroup/default/PARAM.db", run.appDir() + "/PARAM.db");
    sqlite3(run.appDir() + "/PARAM.db", "insert into sysparam values ('paramsjson', '{\"s_filtersize\": 7,');");
    run.start();
    ASSERT_TRUE(run.waitFor([&] { return run.logText().contains("paramsjson in PARAM.db is not a JSON object"); }))
        << run.logText().toStdString();
    EXPECT_EQ(sqlite3(run.appDir() + "/PARAM.db", "select value from sysparam_broken;"), "{\"s_filtersize\": 7,");
}

// --help and --version answer at once; any other argument is refused. None
// of them starts anything: the data root stays empty.
TEST(OrvaleStartupTest, HelpAndVersionAnswerAndOtherArgumentsAreRefusedWithoutTouchingTheDataRoot)
{
    testsupport::expectArgumentAnswers(ORVALE_BIN, {
        {{"--help"}, 0, "ORVALE_DATA_ROOT", ""},
        {{"--version"}, 0, "V1.0.5.29", ""},
        {{"--bogus"}, 2, "", "unknown argument \"--bogus\""},
        {{"-platform", "offscreen"}, 2, "", "unknown argument \"-platform\""},
        {{"--help", "--version"}, 2, "", "unknown argument"},
    });
}

// The HTTP API's port is taken: the program says so in its log files and on
// its console, names the address and what it does without, and runs on.
// A stop by SIGTERM is written to the log files too.
TEST(OrvaleStartupTest, ATakenHttpPortIsSaidInTheLogFilesAndOnTheConsole)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.setEnv("ORVALE_HTTP_PORT", QString::number(holder.serverPort()));
    run.start();
    const QByteArray line =
        QStringLiteral("[HTTP] cannot listen on http://0.0.0.0:%1").arg(holder.serverPort()).toUtf8();
    ASSERT_TRUE(run.waitFor([&] { return run.infoLogText().contains(line); }, 60000))
        << run.infoLogText().right(4000).toStdString();
    EXPECT_TRUE(run.infoLogText().contains("the program runs on without its HTTP control API"));
    EXPECT_TRUE(run.stderrText().contains("Orvale: " + line)) << run.stderrText().toStdString();
    EXPECT_EQ(run.process().state(), QProcess::Running);

    run.process().terminate();
    ASSERT_TRUE(run.process().waitForFinished(30000));
    EXPECT_TRUE(run.infoLogText().contains("[MAIN] stop signal 15 received"))
        << run.infoLogText().right(2000).toStdString();
}

// The working directory on a read-only file system: the program says so
// once on its console and in its log files (the data root can be written),
// with what it keeps no more, and runs on.
TEST(OrvaleStartupTest, AReadOnlyWorkingDirectoryIsSaidOnceOnTheConsoleAndInTheLogFiles)
{
    QProcess probe;
    probe.start("unshare", {"-m", "true"});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        GTEST_SKIP() << "no right to make a mount namespace";
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    // In a mount namespace of its own, the working directory is bound
    // read-only over itself.
    run.start("unshare", {"-m", "sh", "-c", "mount --bind -o ro \"$PWD\" \"$PWD\" && cd \"$PWD\" && exec \"$0\"",
                          ORVALE_BIN});
    const QByteArray said = QDir::cleanPath(run.appDir()).toUtf8() + " cannot be written (Read-only file system)";
    ASSERT_TRUE(run.waitFor([&] { return run.infoLogText().contains(said); }, 60000))
        << run.stderrText().toStdString() << run.infoLogText().right(3000).toStdString();
    EXPECT_TRUE(run.infoLogText().contains("the camera runs on"));
    EXPECT_EQ(run.stderrText().count(said), 1) << run.stderrText().toStdString();
    EXPECT_EQ(run.process().state(), QProcess::Running);
}
