// scripts/run as a person uses it, in a network namespace of its own with
// one card (so its fixed ports meet nothing else on this machine): it sets
// up the simulated camera, starts the daemon and the camera program in the
// background, says where everything is, and hands the terminal to the IO
// module simulator. Fed "rise 1", "status" and "quit", it shows the
// camera's output frames, the module's state, and stops the program.
#include "support/scratchdir.h"
#include "support/scriptrun.h"
#include "tools/testlan/vethpair.h"

#include <QElapsedTimer>
#include <QFile>
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

    script.say("rise 1");
    // The camera's answer: output frames, shown as they arrive.
    EXPECT_TRUE(script.waitForOutput("<C;6;", 90000)) << script.output().toStdString();
    script.say("status");
    EXPECT_TRUE(script.waitForOutput("inputs 10000000", 20000)) << script.output().toStdString();
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
