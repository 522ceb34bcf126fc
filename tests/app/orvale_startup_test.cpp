// Starts the real camera program on a scratch data root and checks what its
// start-up leaves behind.
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

namespace {

class OrvaleRun {
public:
    explicit OrvaleRun(const testsupport::ScratchDir& root) : m_root(root.path())
    {
        QDir().mkpath(appDir());
    }
    ~OrvaleRun() { stop(); }

    QString appDir() const { return m_root + "/app"; }

    void start(const QString& program = ORVALE_BIN, const QStringList& args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVALE_DATA_ROOT", m_root);
        env.insert("ORVALE_DEVICE_ID", "testcam01");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("ORVALE_DEVICE");
        env.insert("ORVALE_HTTP_PORT", "0");  // a free port: the fixed one only in a private network
        m_proc.setProcessEnvironment(env);
        m_proc.setWorkingDirectory(appDir());
        m_proc.start(program, args);
        ASSERT_TRUE(m_proc.waitForStarted(5000));
    }

    void stop()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(5000)) {
                m_proc.kill();
                m_proc.waitForFinished(2000);
            }
        }
    }

    // Everything written under the log folder so far.
    QByteArray logText() const
    {
        QByteArray all;
        QDirIterator it(m_root + "/userdata/log", QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    }

    bool waitFor(const std::function<bool()>& cond, int ms = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (cond())
                return true;
            if (m_proc.state() == QProcess::NotRunning)
                return cond();
            QThread::msleep(100);
        }
        return cond();
    }

    QProcess& process() { return m_proc; }

private:
    QString m_root;
    QProcess m_proc;
};

}  // namespace

TEST(OrvaleStartupTest, LogsBannerWritesWorkspaceAndGroupFileAndKeepsRunning)
{
    testsupport::ScratchDir root;
    OrvaleRun run(root);
    run.start();
    const QString camcfg = run.appDir() + "/camcfg.json";
    ASSERT_TRUE(run.waitFor([&] { return QFile::exists(camcfg) && run.logText().contains("application start"); }))
        << run.process().readAllStandardError().toStdString();
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
    const QByteArray err = run.process().readAllStandardError();
    EXPECT_TRUE(err.contains("no found ip from dhcp!"));
    EXPECT_TRUE(err.contains("no IPv4 address"));
    EXPECT_FALSE(QFileInfo::exists(root.path() + "/userdata/log")) << "nothing is created before the address";
}
