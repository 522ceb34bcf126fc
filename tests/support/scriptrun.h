#pragma once
// One of the project's scripts run as a person runs it: its output and
// error merged and read as they come, lines typed into its terminal, and
// at the end stopped through its own trap (SIGTERM), killed only when that
// takes longer than `stopMs`. The environment names the build and the data
// folder and leaves out the variables a developer's shell may carry that
// the script itself sets.
#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

inline QProcessEnvironment scriptEnvironment(const QString& buildDir, const QString& dataDir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVALE_RUN_BUILD", buildDir);
    env.insert("ORVALE_RUN_DIR", dataDir);
    for (const char* name : {"ORVALE_DEVICE_ID", "ORVALE_RTSP_PORT", "ORVALE_HTTP_PORT", "ORVALE_DATA_ROOT",
                             "ORVALE_SENSOR_IMAGES", "ORVALE_DEVICE"})
        env.remove(name);
    return env;
}

class ScriptRun {
public:
    ScriptRun(const QStringList& command, const QProcessEnvironment& env, int stopMs)
        : m_stopMs(stopMs)
    {
        m_proc.setProcessEnvironment(env);
        m_proc.setProcessChannelMode(QProcess::MergedChannels);
        m_proc.start(command.first(), command.mid(1));
        m_proc.waitForStarted(10000);
    }
    ~ScriptRun()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();  // its trap stops what it started
            if (!m_proc.waitForFinished(m_stopMs)) {
                m_proc.kill();
                m_proc.waitForFinished(5000);
            }
        }
    }
    ScriptRun(const ScriptRun&) = delete;
    ScriptRun& operator=(const ScriptRun&) = delete;

    QProcess& process() { return m_proc; }
    const QByteArray& output()
    {
        m_out += m_proc.readAll();
        return m_out;
    }
    bool waitForOutput(const QByteArray& text, int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!output().contains(text)) {
            if (t.elapsed() > ms || m_proc.state() == QProcess::NotRunning)
                return output().contains(text);
            m_proc.waitForReadyRead(200);
        }
        return true;
    }
    void say(const QByteArray& line) { m_proc.write(line + "\n"); }

private:
    QProcess m_proc;
    QByteArray m_out;
    int m_stopMs;
};

}  // namespace testsupport
