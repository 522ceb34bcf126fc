#pragma once
// The commands the command runner ran or held back, each as one line
// "program arg1 arg2 ...", oldest first.
#include "platform/system/commandrunner.h"

#include <QStringList>

namespace testsupport {

inline QStringList recordedCommandLines()
{
    QStringList out;
    for (const platform::RecordedCommand& c : platform::CommandRunner::instance().recorded())
        out << (QStringList{c.program} + c.args).join(QLatin1Char(' '));
    return out;
}

}  // namespace testsupport
