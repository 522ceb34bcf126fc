#pragma once
// Runs the real camera program on a scratch data root, its live stream on a
// free port of its own unless a test asks for the default one.
#include "support/rtspscriptedclient.h"
#include "support/scratchdir.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <functional>

namespace apptest {

class OrvaleRun {
public:
    explicit OrvaleRun(const testsupport::ScratchDir& root) : m_root(root.path())
    {
        QDir().mkpath(appDir());
    }
    ~OrvaleRun() { stop(); }

    QString appDir() const { return m_root + "/app"; }

    // The live stream's port: a free one by default; 0 leaves the program
    // its own default (only inside a private network).
    void setRtspPort(uint16_t port) { m_rtspPort = port; }
    uint16_t rtspPort() const { return m_rtspPort; }
    // Environment for the program beyond what start() sets (set after it,
    // so it wins); an empty value removes the variable.
    void setEnv(const QString& name, const QString& value) { m_env.insert(name, value); }

    void start(const QString& program = ORVALE_BIN, const QStringList& args = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVALE_DATA_ROOT", m_root);
        env.insert("ORVALE_DEVICE_ID", "testcam01");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("ORVALE_DEVICE");
        env.insert("ORVALE_HTTP_PORT", "0");  // a free port: the fixed one only in a private network
        if (m_rtspPort > 0)
            env.insert("ORVALE_RTSP_PORT", QString::number(m_rtspPort));
        else
            env.remove("ORVALE_RTSP_PORT");
        for (auto it = m_env.cbegin(); it != m_env.cend(); ++it) {
            if (it.value().isEmpty())
                env.remove(it.key());
            else
                env.insert(it.key(), it.value());
        }
        m_proc.setProcessEnvironment(env);
        m_proc.setWorkingDirectory(appDir());
        // Files, not pipes: a full pipe would stall the program's output.
        m_proc.setStandardOutputFile(m_root + "/stdout.txt");
        m_proc.setStandardErrorFile(m_root + "/stderr.txt");
        m_proc.start(program, args);
        ASSERT_TRUE(m_proc.waitForStarted(5000));
    }

    void stop()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(30000)) {
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

    // What the per-level INFO logs ("LOG_*.log") hold so far: where every
    // record of the running program lands.
    QByteArray infoLogText() const
    {
        QByteArray all;
        QDirIterator it(m_root + "/userdata/log", {"LOG_*.log"}, QDir::Files);
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
    // What the program wrote to its standard output and error so far.
    QByteArray stdoutText() const { return readFile(m_root + "/stdout.txt"); }
    QByteArray stderrText() const { return readFile(m_root + "/stderr.txt"); }

private:
    static QByteArray readFile(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString m_root;
    QMap<QString, QString> m_env;
    QProcess m_proc;
    uint16_t m_rtspPort = testsupport::freeTcpPort();
};

}  // namespace apptest
