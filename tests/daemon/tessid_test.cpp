// The Tessid program as scripts/run starts it: in a private IPC namespace
// and temp folder (and here a private network), answering on 10418 from
// the segment a camera-side writer fills through "nsenter --ipc".
#include "daemontestbench.h"
#include "support/programrun.h"
#include "support/rawhttpclient.h"
#include "support/scratchdir.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <functional>

#include <gtest/gtest.h>

namespace {

bool canMakeIpcNamespace()
{
    QProcess p;
    p.start(QStringLiteral("unshare"), {QStringLiteral("--ipc"), QStringLiteral("true")});
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray runstate()
{
    return testsupport::RawHttpReply::parse(
               testsupport::rawHttpExchange(10418, "GET /dide/daemon/main_runstate HTTP/1.1\r\n\r\n", 10000))
        .body;
}

bool waitFor(const std::function<bool()>& cond, int ms = 30000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return cond();
        QThread::msleep(50);
    }
    return true;
}

}  // namespace

TEST(TessidTest, AnswersFromTheSegmentOfItsOwnIpcNamespace)
{
    IsolatedNetwork net;
    if (!net.ok() || !canMakeIpcNamespace())
        GTEST_SKIP() << "no right to make network and IPC namespaces";
    testsupport::ScratchDir work;
    testsupport::ScratchDir tmp;
    testsupport::ScratchDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), tmp.path());
    env.insert(QStringLiteral("TESSID_STALE_MS"), QStringLiteral("1500"));
    env.insert(QStringLiteral("ORVALE_DATA_ROOT"), root.path());
    env.insert(QStringLiteral("ORVALE_DEVICE_ID"), QStringLiteral("DEVT"));
    QProcess tessid;
    tessid.setProcessEnvironment(env);
    tessid.setWorkingDirectory(work.path());
    tessid.setStandardOutputFile(work.file(QStringLiteral("tessid.out")));
    tessid.setStandardErrorFile(work.file(QStringLiteral("tessid.err")));
    tessid.start(QStringLiteral("unshare"), {QStringLiteral("--ipc"), QStringLiteral(TESSID_PROGRAM)});
    ASSERT_TRUE(tessid.waitForStarted(30000));

    ASSERT_TRUE(waitFor([] { return !runstate().isEmpty(); }));
    EXPECT_EQ(runstate(), QByteArray("{\"code\":-2,\"msg\":\"获取相机运行信息出错\"}"));
    EXPECT_TRUE(testsupport::RawHttpReply::parse(
                    testsupport::rawHttpExchange(10418, "GET /dide/daemon/reboot/ HTTP/1.1\r\n\r\n", 10000))
                    .statusLine.startsWith("HTTP/1.1 404"));

    // The camera side joins the daemon's IPC namespace, with the same temp folder.
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", tmp.path().toUtf8());
    daemontest::Holder writer({"write", "_sharememory_2_daemon", "100"},
                              {"nsenter", "--ipc", "-t", QString::number(tessid.processId())});
    qputenv("TMPDIR", oldTmp);
    ASSERT_TRUE(writer.ready());
    ASSERT_TRUE(waitFor([] { return runstate().startsWith("{\"code\":0,\"msg\":\"OK\",\"result\":{"); }));
    EXPECT_TRUE(runstate().contains("\"main_alive\":1"));

    // As the operator application's tools see it.
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-i"), QStringLiteral("-X"), QStringLiteral("PUT"),
                                        QStringLiteral("http://127.0.0.1:10418/dide/daemon/main_runstate?x=1")});
    if (curl.waitForFinished(30000) && curl.exitCode() == 0) {
        const testsupport::RawHttpReply r = testsupport::RawHttpReply::parse(curl.readAllStandardOutput());
        EXPECT_EQ(r.statusLine, QByteArray("HTTP/1.1 200 OK"));
        EXPECT_TRUE(r.header("Content-Type").isEmpty());
        EXPECT_TRUE(r.body.startsWith("{\"code\":0,\"msg\":\"OK\",\"result\":{"));
    }

    // A stopped camera program: stale after the (shortened) limit.
    writer.signal(SIGSTOP);
    ASSERT_TRUE(waitFor([] { return runstate() == QByteArray("{\"code\":-3,\"msg\":\"相机程序崩溃\"}"); }));
    writer.kill();

    ::kill(pid_t(tessid.processId()), SIGTERM);
    ASSERT_TRUE(tessid.waitForFinished(30000));
    EXPECT_EQ(tessid.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tessid.exitCode(), 0);

    // Its log lines name their source files by project path.
    QFile log(work.file(QStringLiteral("tessid.err")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray lines = log.readAll();
    EXPECT_TRUE(lines.contains(" daemon/business.cpp:")) << lines.toStdString();
    EXPECT_FALSE(lines.contains("/daemon/business.cpp")) << lines.toStdString();
}

// --help and --version answer at once; any other argument is refused;
// none of them serves or writes anything.
TEST(TessidTest, HelpAndVersionAnswerAndOtherArgumentsAreRefused)
{
    testsupport::expectArgumentAnswers(TESSID_PROGRAM, {
        {{"--help"}, 0, "TESSID_STALE_MS", ""},
        {{"--version"}, 0, "Tessid V", ""},
        {{"--port"}, 2, "", "unknown argument \"--port\""},
        {{"--version", "x"}, 2, "", "unknown argument"},
    });
}
