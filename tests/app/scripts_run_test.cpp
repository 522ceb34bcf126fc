// scripts/run as a person uses it, in a network namespace of its own with
// one card (so its fixed ports meet nothing else on this machine): it sets
// up the simulated camera, starts the daemon and the camera program in the
// background, says where everything is, teaches the camera through its HTTP
// API, and hands the terminal to the IO module simulator. Fed "rise 1" on
// the empty mould it shows an OK cycle; with a part left in a cavity the
// next cycle holds the machine with the alarm on, and taking the part out
// and closing the safety door releases it and files the alarm image;
// "status" and "quit" show the module's state and stop the program. A
// second scripts/run on the same data refuses to start.
#include "support/scratchdir.h"
#include "support/scriptrun.h"
#include "tools/testlan/vethpair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace {

// The script's trap stops the program and the daemon.
class ScriptRun : public testsupport::ScriptRun {
public:
    ScriptRun(const QStringList& command, const QString& dataDir)
        : testsupport::ScriptRun(command, testsupport::scriptEnvironment(ORVALE_BUILD_DIR, dataDir), 40000)
    {
    }
};

TEST(ScriptsRun, RiseStatusQuitDrivesTheCameraAndStopsIt)
{
    VethPair net;
    if (!net.ok())
        GTEST_SKIP() << "no network namespaces here: " << net.error().toStdString();
    testsupport::ScratchDir dir;
    const QString data = dir.path() + "/run";
    ScriptRun script(net.deviceCommand(ORVALE_SOURCE_DIR "/scripts/run"), data);
    ASSERT_TRUE(script.waitForOutput("IO module IOM-SIM on 127.0.0.2:10411", 60000)) << script.output().toStdString();

    const QByteArray out = script.output();
    const QRegularExpressionMatch pid = QRegularExpression("Orvale PID (\\d+)").match(QString::fromUtf8(out));
    ASSERT_TRUE(pid.hasMatch()) << out.toStdString();
    const pid_t orvale = pid_t(pid.captured(1).toInt());
    for (const QString& line :
         {"rtsp://" + net.deviceAddress() + ":554/live/main_stream", "http://" + net.deviceAddress() + ":10414/",
          data + "/userdata/log/Orvale.INFO", data + "/userdata/alarmimage/", data + "/app/RECORD.db",
          data + "/app/ResStatistics.db", data + "/orvale.out"})
        EXPECT_TRUE(out.contains(line.toUtf8())) << line.toStdString() << " in\n" << out.toStdString();

    QFile cfg(data + "/app/camcfg.json");
    ASSERT_TRUE(cfg.open(QIODevice::ReadOnly));
    const QJsonObject group = QJsonDocument::fromJson(cfg.readAll()).object();
    EXPECT_EQ(group.value("ps_main_camera_uuid").toString(), "SIMCAM01");
    EXPECT_EQ(group.value("ps_io_uuid").toString(), "IOM-SIM");
    EXPECT_EQ(group.value("ps_io_address").toString(), "127.0.0.2");
    EXPECT_EQ(::kill(orvale, 0), 0) << "Orvale runs in the background";

    // The teaching runs beside the IO module: the camera takes work once
    // its IO module answers.
    ASSERT_TRUE(script.waitForOutput("the demo camera is taught", 120000)) << script.output().toStdString();
    const QFileInfo console(data + "/orvale.out");
    const qint64 consoleSize = console.size();
    EXPECT_GT(consoleSize, 0);

    // Another run on the same data finds this one and stops at once.
    {
        ScriptRun second(net.deviceCommand(ORVALE_SOURCE_DIR "/scripts/run"), data);
        ASSERT_TRUE(second.process().waitForFinished(30000)) << second.output().toStdString();
        EXPECT_EQ(second.process().exitCode(), 1) << second.output().toStdString();
        EXPECT_TRUE(second.output().contains("a camera is already running from " + data.toUtf8()))
            << second.output().toStdString();
        EXPECT_GE(QFileInfo(data + "/orvale.out").size(), consoleSize) << "the first run's console is kept";
    }

    // What the module prints after `from`, once it holds `text`.
    const auto waitAfter = [&script](int from, const QByteArray& text, int ms) {
        QElapsedTimer clock;
        clock.start();
        while (!script.output().mid(from).contains(text) && clock.elapsed() < ms)
            script.waitForOutput("\n\n\n(never printed)", 200);
        return script.output().mid(from).contains(text);
    };

    // The empty mould: the camera holds the mould while it looks, then releases it.
    int from = script.output().size();
    script.say("rise 1");
    EXPECT_TRUE(waitAfter(from, "outputs 10000000: O1 mould held", 30000)) << script.output().toStdString();
    EXPECT_TRUE(waitAfter(from, ": released (OK)", 30000)) << script.output().toStdString();
    EXPECT_FALSE(script.output().mid(from).contains("held (NG")) << script.output().toStdString();

    // A part left in a cavity: the next cycle holds the machine, alarm on.
    from = script.output().size();
    script.say("part in");
    ASSERT_TRUE(waitAfter(from, "part left in a cavity", 10000)) << script.output().toStdString();
    script.waitForOutput("(never printed)", 1000);
    script.say("fall 1");
    script.say("rise 1");
    EXPECT_TRUE(waitAfter(from, "outputs 10100000: O1 mould held, O3 alarm", 30000)) << script.output().toStdString();
    EXPECT_TRUE(waitAfter(from, ": held (NG, alarm)", 30000)) << script.output().toStdString();
    EXPECT_FALSE(script.output().mid(from).contains("released")) << script.output().toStdString();
    const QDir ng(data + "/userdata/alarmimage/detect2/NG");

    // The part taken out and the safety door closed: the camera looks again,
    // releases the machine and files the NG picture as an alarm image.
    from = script.output().size();
    script.say("part out");
    // As a person types: the camera's next frames show the empty mould.
    ASSERT_TRUE(waitAfter(from, "part taken out", 10000)) << script.output().toStdString();
    script.waitForOutput("(never printed)", 1000);
    script.say("rise 2");
    EXPECT_TRUE(waitAfter(from, "alarm cleared: released", 30000)) << script.output().toStdString();
    QElapsedTimer filed;
    filed.start();
    while (ng.entryList({"*.jpg"}, QDir::Files).isEmpty() && filed.elapsed() < 20000)
        script.waitForOutput("(never printed)", 200);
    EXPECT_FALSE(ng.entryList({"*.jpg"}, QDir::Files).isEmpty()) << "no alarm image in " << ng.path().toStdString();

    script.say("status");
    EXPECT_TRUE(script.waitForOutput("inputs 11000000", 20000)) << script.output().toStdString();
    EXPECT_TRUE(script.waitForOutput("heartbeat replies not shown", 20000)) << script.output().toStdString();
    EXPECT_FALSE(script.output().contains("<C;3;")) << "heartbeat replies are hidden by default";
    script.say("quit");
    ASSERT_TRUE(script.process().waitForFinished(60000)) << script.output().toStdString();
    EXPECT_EQ(script.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(script.process().exitCode(), 0) << script.output().toStdString();
    EXPECT_TRUE(script.output().contains("stopping Orvale")) << script.output().toStdString();
    errno = 0;
    EXPECT_NE(::kill(orvale, 0), 0) << "Orvale is stopped by its PID";
    EXPECT_EQ(errno, ESRCH);
    EXPECT_TRUE(QFile::exists(data + "/orvale.out"));
}

}  // namespace
