#pragma once
// Runs one of the project's programs to its end as a person does from a
// shell, and checks how it answers its command line.
#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include "support/scratchdir.h"

#include <vector>

namespace testsupport {

struct ProgramRun {
    int exitCode = -1;  // -1: did not start, crashed or did not end in time
    QByteArray out;
    QByteArray err;
};

inline ProgramRun runProgram(const QString& program, const QStringList& args,
                             const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                             const QString& workingDir = QString())
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workingDir.isEmpty())
        p.setWorkingDirectory(workingDir);
    p.start(program, args);
    ProgramRun r;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished(2000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

struct ArgumentCase {
    QStringList args;
    int exitCode;
    const char* stdoutHas;
    const char* stderrHas;
};

// Runs `program` once per case in an empty folder of its own (its working
// directory, ORVALE_DATA_ROOT and TMPDIR): the exit code, what it says, and
// that it wrote nothing there.
inline void expectArgumentAnswers(const QString& program, const std::vector<ArgumentCase>& cases)
{
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        ScratchDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORVALE_DATA_ROOT", dir.path());
        env.insert("TMPDIR", dir.path());
        const ProgramRun r = runProgram(program, c.args, env, dir.path());
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.out.contains(c.stdoutHas)) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(c.stderrHas)) << r.err.toStdString();
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty())
            << "nothing written where it was started";
    }
}

}  // namespace testsupport
