#pragma once
// Helpers of the daemon tests: a unique segment key, a writer of the
// segment from this process, and the segment-holding helper process.
#include "liveness/livenesssegment.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUuid>

#include <csignal>
#include <memory>

namespace daemontest {

inline QString uniqueKey()
{
    return QStringLiteral("daemon_test_") + QUuid::createUuid().toString(QUuid::Id128);
}

// Writes `text` into the segment of `key`, as the camera program does.
inline bool writeRecord(const QString& key, const QByteArray& text)
{
    return LivenessSegment(key).write(text);
}

// The helper process; killed (SIGKILL, by its PID) when it goes.
class Holder {
public:
    explicit Holder(const QStringList& args, const QStringList& prefix = {})
    {
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/liveness_holder");
        if (prefix.isEmpty())
            m_process.start(program, args);
        else
            m_process.start(prefix.first(), prefix.mid(1) + QStringList{program} + args);
        m_ready = m_process.waitForStarted(30000) && m_process.waitForReadyRead(30000)
                  && m_process.readLine().trimmed() == "ready";
    }
    ~Holder() { kill(); }
    bool ready() const { return m_ready; }
    qint64 pid() const { return m_process.processId(); }
    void signal(int sig)
    {
        if (pid() > 0)
            ::kill(pid_t(pid()), sig);
    }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            signal(SIGCONT);
            signal(SIGKILL);
            m_process.waitForFinished(30000);
        }
    }

private:
    QProcess m_process;
    bool m_ready = false;
};

}  // namespace daemontest
