#pragma once
// A command-line tool (ffmpeg, ffprobe, ...) run to its end: its exit code,
// standard output and standard error. A tool that does not start, or does
// not end within the time, is killed and answers exit code -1.
#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

inline ToolRun runTool(const QString& program, const QStringList& args, int timeoutMs = 30000)
{
    QProcess p;
    p.start(program, args);
    ToolRun r;
    if (!p.waitForStarted(5000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

}  // namespace testsupport
