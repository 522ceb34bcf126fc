#pragma once
// Waiting and running client programs (curl, ffprobe) from a test thread
// whose simulators must go on serving meanwhile: both run this thread's
// events while they wait.
#include "tools/iomodulesim/iomodulesimulator.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace clientrun {

// Processes this thread's events until `done` or `ms` pass.
inline bool spinUntil(const std::function<bool()>& done, int ms)
{
    return IoModuleSimulator::waitFor(done, ms);
}

// Runs a client program to its end; its standard output, or nothing when it
// did not start or finish in `ms`.
inline std::optional<QByteArray> runClient(const QString& program, const QStringList& args, int ms = 30000)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return std::nullopt;
    if (!spinUntil([&] { return p.state() == QProcess::NotRunning; }, ms)) {
        p.kill();
        p.waitForFinished(2000);
        return std::nullopt;
    }
    return p.readAllStandardOutput();
}

}  // namespace clientrun
