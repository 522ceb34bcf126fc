// scripts/run-group as a person uses it: "start" builds the group's LAN in
// network namespaces of its own, starts the three cameras with their
// daemons, says where everything is and hands the terminal to the IO module
// simulator; once the main camera has paired its subs, "rise 1" gives its
// output frames; "scripts/run-group stop" from elsewhere stops every
// process of the group by its PID. Needs root; skips otherwise.
#include "support/scratchdir.h"
#include "support/scriptrun.h"
#include "support/sqlite3tool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

QProcessEnvironment scriptEnvironment(const QString& dataDir)
{
    return testsupport::scriptEnvironment(ORVALE_BUILD_DIR, dataDir);
}

// scripts/run-group start, stopped through its trap (which stops the group).
class GroupScript : public testsupport::ScriptRun {
public:
    explicit GroupScript(const QString& dataDir)
        : ScriptRun({ORVALE_SOURCE_DIR "/scripts/run-group", "start"}, scriptEnvironment(dataDir), 60000)
    {
    }
};

// Runs and is no zombie (one left to whoever reaps orphans here is gone).
bool alive(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return false;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) != "Z";
}

TEST(ScriptsRunGroup, StartsThreePairedCamerasAndStopStopsThemAll)
{
    if (::geteuid() != 0 || QProcess::execute("unshare", {"--net", "true"}) != 0)
        GTEST_SKIP() << "needs the right to make network namespaces (root)";
    testsupport::ScratchDir dir;
    const QString data = dir.path() + "/group";
    GroupScript script(data);
    ASSERT_TRUE(script.waitForOutput("IO module IOM-SIM on 10.78.0.254:10411", 60000)) << script.output().toStdString();

    // Where everything is, and the PIDs of the three programs.
    const QString out = QString::fromUtf8(script.output());
    QList<pid_t> orvales;
    QList<pid_t> daemons;
    auto it = QRegularExpression("Orvale PID (\\d+), Tessid PID (\\d+)").globalMatch(out);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        orvales << pid_t(m.captured(1).toInt());
        daemons << pid_t(m.captured(2).toInt());
    }
    ASSERT_EQ(orvales.size(), 3) << out.toStdString();
    for (const char* line : {"SIMCAM01 (main camera) at 10.78.0.1", "SIMCAM02 (sub camera) at 10.78.0.2",
                             "SIMCAM03 (sub camera) at 10.78.0.3", "scripts/run-group stop"})
        EXPECT_TRUE(out.contains(QString::fromUtf8(line))) << line << " in\n" << out.toStdString();

    // Each camera its own files, all naming the same group.
    for (const char* id : {"SIMCAM01", "SIMCAM02", "SIMCAM03"}) {
        QFile cfg(data + "/" + id + "/app/camcfg.json");
        ASSERT_TRUE(cfg.open(QIODevice::ReadOnly)) << id;
        const QJsonObject group = QJsonDocument::fromJson(cfg.readAll()).object();
        EXPECT_EQ(group.value("ps_main_camera_uuid").toString(), "SIMCAM01") << id;
        EXPECT_EQ(group.value("ps_main_camera_address").toString(), "10.78.0.1") << id;
        EXPECT_EQ(group.value("ps_sub_camera").toArray().size(), 2) << id;
    }

    // The main camera pairs both subs, then opens the mould.
    const QString record = data + "/SIMCAM01/app/RECORD.db";
    QElapsedTimer t;
    t.start();
    bool paired = false;
    while (!paired && t.elapsed() < 120000 && script.process().state() == QProcess::Running) {
        paired = QFile::exists(record) &&
                 testsupport::sqlite3(record, "select count(*) from RECORD where remarks like '%初始化成功!%';")
                         .toInt() > 0;
        script.process().waitForReadyRead(500);
    }
    ASSERT_TRUE(paired) << script.output().toStdString();
    // Taught through their HTTP APIs, the three cameras release an empty mould.
    ASSERT_TRUE(script.waitForOutput("demoteach: the demo cameras are taught", 120000))
        << script.output().toStdString();
    const int from = script.output().size();
    script.say("rise 1");
    // The main camera answers with its outputs (the first set), and only it.
    EXPECT_TRUE(script.waitForOutput("<C;6;SIMCAM01;1", 90000)) << script.output().toStdString();
    QElapsedTimer released;
    released.start();
    while (!script.output().mid(from).contains(": released (OK)") && released.elapsed() < 30000)
        script.process().waitForReadyRead(500);
    EXPECT_TRUE(script.output().mid(from).contains(": released (OK)")) << script.output().toStdString();
    EXPECT_FALSE(script.output().contains("<C;6;SIMCAM02") || script.output().contains("<C;6;SIMCAM03"))
        << script.output().toStdString();

    // Stopped from elsewhere: every program and daemon ends, then the script.
    QProcess stop;
    stop.setProcessEnvironment(scriptEnvironment(data));
    stop.setProcessChannelMode(QProcess::MergedChannels);
    stop.start(ORVALE_SOURCE_DIR "/scripts/run-group", {"stop"});
    ASSERT_TRUE(stop.waitForFinished(120000));
    EXPECT_EQ(stop.exitCode(), 0) << stop.readAll().toStdString();
    ASSERT_TRUE(script.process().waitForFinished(60000)) << script.output().toStdString();
    for (pid_t pid : orvales + daemons) {
        EXPECT_FALSE(alive(pid)) << pid;
    }
    EXPECT_FALSE(QFile::exists(data + "/pids"));
}

}  // namespace
