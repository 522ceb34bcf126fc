#include "platform/system/commandrunner.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QProcess>

#include <algorithm>

namespace platform {

namespace {
// Logged under the program's always-on category, so every command that was
// held back shows in the log files.
Q_LOGGING_CATEGORY(commandLog, "level_1")
}  // namespace

CommandRunner& CommandRunner::instance()
{
    static CommandRunner runner;
    return runner;
}

CommandRunner::CommandRunner()
    : m_mode(qEnvironmentVariableIntValue("ORVALE_DEVICE") == 1 ? Mode::Device : Mode::Simulated)
{
}

CommandRunner::Mode CommandRunner::mode() const
{
    QMutexLocker lock(&m_mutex);
    return m_mode;
}

void CommandRunner::setMode(Mode m)
{
    QMutexLocker lock(&m_mutex);
    m_mode = m;
}

void CommandRunner::setQueriesFromFixturesOnly(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_fixturesOnly = on;
}

void CommandRunner::setQueryAnswer(const QString& program, const QByteArray& output, int exitCode)
{
    QMutexLocker lock(&m_mutex);
    m_answers.insert(program, Answer{output, exitCode});
}

void CommandRunner::clearQueryAnswers()
{
    QMutexLocker lock(&m_mutex);
    m_answers.clear();
}

void CommandRunner::setChangeExitCode(const QString& program, int exitCode)
{
    QMutexLocker lock(&m_mutex);
    m_changeExitCodes.insert(program, exitCode);
}

void CommandRunner::clearChangeExitCodes()
{
    QMutexLocker lock(&m_mutex);
    m_changeExitCodes.clear();
}

QList<RecordedCommand> CommandRunner::recorded() const
{
    QMutexLocker lock(&m_mutex);
    return m_recorded;
}

void CommandRunner::clearRecorded()
{
    QMutexLocker lock(&m_mutex);
    m_recorded.clear();
}

int CommandRunner::recordLimit() const
{
    QMutexLocker lock(&m_mutex);
    return m_recordLimit;
}

void CommandRunner::setRecordLimit(int limit)
{
    QMutexLocker lock(&m_mutex);
    m_recordLimit = std::max(limit, 0);
    while (m_recorded.size() > m_recordLimit)
        m_recorded.removeFirst();
}

CommandResult CommandRunner::run(const QString& program, const QStringList& args, Effect effect,
                                 int timeoutMs, bool mergeStderr)
{
    CommandResult result;
    RecordedCommand rec{program, args, effect == Effect::Change, false};
    bool runReal = false;
    {
        QMutexLocker lock(&m_mutex);
        if (m_mode == Mode::Device || effect == Effect::Archive) {
            runReal = true;
        } else if (effect == Effect::Query) {
            auto it = m_answers.constFind(program);
            if (it != m_answers.constEnd()) {
                result.started = result.finished = result.simulated = true;
                result.exitCode = it->exitCode;
                result.output = it->output;
            } else {
                runReal = !m_fixturesOnly;
            }
        } else {
            auto it = m_changeExitCodes.constFind(program);
            if (it != m_changeExitCodes.constEnd()) {
                result.started = result.finished = true;
                result.exitCode = *it;
            }
        }
        rec.ran = runReal;
        m_recorded.append(rec);
        while (m_recorded.size() > m_recordLimit)
            m_recorded.removeFirst();
    }

    if (!runReal) {
        if (effect == Effect::Change) {
            result.simulated = true;
            qCInfo(commandLog).noquote() << "[SIMULATION] not run:" << program << args.join(' ');
        }
        return result;
    }

    QProcess proc;
    if (mergeStderr)
        proc.setProcessChannelMode(QProcess::MergedChannels);
    proc.start(program, args, QIODevice::ReadOnly);
    result.started = proc.waitForStarted(timeoutMs);
    if (!result.started)
        return result;
    result.finished = proc.waitForFinished(timeoutMs);
    result.output = proc.readAllStandardOutput();
    if (!result.finished) {
        proc.kill();
        proc.waitForFinished(200);
        result.output += proc.readAllStandardOutput();
    } else {
        result.exitCode = proc.exitStatus() == QProcess::NormalExit ? proc.exitCode() : -1;
    }
    return result;
}

}  // namespace platform
