// The camera program serves its HTTP control API on port 10414, inside a
// private network namespace made by the test (so the fixed port meets no
// other program), and its refusals reach its log files.
#include "support/scratchdir.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QByteArray logFiles(const QString& root)
{
    QByteArray all;
    QDirIterator it(root + "/userdata/log", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

// curl inside the namespace; "<status>\n<body>".
QByteArray curl(const QStringList& args)
{
    QProcess p;
    p.start("curl", QStringList{"-s", "--max-time", "10", "-w", "\n%{http_code}"} + args);
    p.waitForFinished(15000);
    return p.readAllStandardOutput();
}

}  // namespace

TEST(OrvaleHttpTest, AnswersOnPort10414AndLogsRefusals)
{
    IsolatedNetwork net;
    if (!net.ok())
        GTEST_SKIP() << "no private network namespace: " << net.error().toStdString();
    // The program waits for an address on a card other than loopback.
    if (!run("ip", {"link", "add", "orv0", "type", "veth", "peer", "name", "orv1"})
        || !run("ip", {"addr", "add", "10.77.0.2/24", "dev", "orv0"}) || !run("ip", {"link", "set", "orv0", "up"})
        || !run("ip", {"link", "set", "orv1", "up"}))
        GTEST_SKIP() << "cannot make a network card in the private namespace";

    testsupport::ScratchDir root;
    QDir().mkpath(root.path() + "/app");
    QProcess orvale;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVALE_DATA_ROOT", root.path());
    env.insert("ORVALE_DEVICE_ID", "testcam01");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("ORVALE_DEVICE");
    env.remove("ORVALE_HTTP_PORT");
    orvale.setProcessEnvironment(env);
    orvale.setWorkingDirectory(root.path() + "/app");
    // Files, not pipes: a full pipe would stall the program's output.
    orvale.setStandardOutputFile(root.path() + "/stdout.txt");
    orvale.setStandardErrorFile(root.path() + "/stderr.txt");
    orvale.setProgram(ORVALE_BIN);
    orvale.start();
    ASSERT_TRUE(orvale.waitForStarted(5000));

    const QString base = "http://127.0.0.1:10414";
    QByteArray answer;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && !answer.endsWith("200")) {
        answer = curl({"-H", "User-Agent: app", base + "/dide/context/heartbeat"});
        QThread::msleep(100);
    }
    EXPECT_EQ(answer, QByteArray(R"({"code":0,"msg":"OK","result":{}})") + "\n200");
    EXPECT_TRUE(curl({"-i", base + "/dide/context/heartbeat"}).contains("Device-ID: testcam01"));
    EXPECT_TRUE(curl({base + "/demo"}).endsWith("\n400"));
    EXPECT_TRUE(curl({base + "/dide/none"}).endsWith("\n404"));

    // Refused input is logged where the operator finds it.
    curl({"-H", "Content-Type: application/json", "--data", "{broken", base + "/dide/system/setparams"});
    curl({"-H", "Content-Length: 20971520", "--data", "x", base + "/dide/system/setparams"});
    QElapsedTimer w;
    w.start();
    while (w.elapsed() < 5000 && !(logFiles(root.path()).contains("json error:")
                                   && logFiles(root.path()).contains("body of 20971520 bytes refused")))
        QThread::msleep(100);
    const QByteArray logs = logFiles(root.path());
    EXPECT_TRUE(logs.contains("json error:"));
    EXPECT_TRUE(logs.contains("body of 20971520 bytes refused"));
    EXPECT_TRUE(logs.contains("/dide/system/setparams refused:"));

    // The operator's routes on the running program: stop, then the run
    // state says so; the live flow layout with its IO description.
    const QStringList json = {"-H", "Content-Type: application/json", "-H", "User-ID: op"};
    EXPECT_EQ(curl(json + QStringList{"--data", R"({"status":"stop"})", base + "/dide/action/setstatus"}),
              QByteArray(R"({"code":0,"msg":"OK","result":{"status":"stop"}})") + "\n200");
    const QByteArray state = curl({base + "/dide/system/get_runstate"});
    EXPECT_TRUE(state.startsWith(R"({"code":0,"msg":"OK","result":{)")) << state.toStdString();
    EXPECT_TRUE(state.contains(R"("state":7)")) << state.toStdString();
    const QByteArray flow = curl(json + QStringList{"-i", "--data", R"({"mode_type":-1})", base + "/dide/system/get_userflow"});
    EXPECT_TRUE(flow.contains("Access-Control-Allow-Origin: *")) << flow.toStdString();
    EXPECT_TRUE(flow.contains(R"("trig_method":[)")) << flow.toStdString();

    orvale.terminate();
    ASSERT_TRUE(orvale.waitForFinished(15000)) << "the server stops cleanly";
    EXPECT_EQ(orvale.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(orvale.exitCode(), 0);
}
