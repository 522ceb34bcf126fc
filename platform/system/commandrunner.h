#pragma once
// Runs the shell tools the camera uses (date, hwclock, reboot, killall, pgrep,
// blkid, tar, ...). Programs and arguments are always passed as a list; no
// command line is ever put together from text and handed to a shell.
//
// On the device (ORVALE_DEVICE=1) every command runs. In simulation, the
// default everywhere else, a command that would change the machine is logged
// and recorded but never run; a read-only query runs, unless the runner was
// told to answer queries from fixtures only (the tests do this).
//
// Thread-safe: callable from any thread.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace platform {

struct RecordedCommand {
    QString program;
    QStringList args;
    bool changesMachine = false;
    bool ran = false;
};

struct CommandResult {
    bool started = false;    // the process was started (or answered by a fixture)
    bool finished = false;   // it ended within the wait
    bool simulated = false;  // not run: recorded only, or answered by a fixture
    int exitCode = -1;
    QByteArray output;       // standard output (and standard error when merged)
};

class CommandRunner {
public:
    // Query: reads only; Change: changes the machine (recorded, not run, in
    // simulation); Archive: writes an archive below the data root or the
    // working directory only (tar), so it runs in simulation too, recorded,
    // never answered from fixtures.
    enum class Effect { Query, Change, Archive };
    enum class Mode { Device, Simulated };

    static CommandRunner& instance();

    // Runs `program` with `args`, waiting at most `timeoutMs` (a process still
    // running then is killed; its output so far is returned).
    CommandResult run(const QString& program, const QStringList& args, Effect effect,
                      int timeoutMs = 1000, bool mergeStderr = false);

    Mode mode() const;
    void setMode(Mode m);

    // Queries answered from fixtures only (no real process at all).
    void setQueriesFromFixturesOnly(bool on);
    // Fixture answer for a query program, whatever its arguments.
    void setQueryAnswer(const QString& program, const QByteArray& output, int exitCode = 0);
    void clearQueryAnswers();

    // Test hook: in simulation, a change command of `program` is still only
    // recorded, but reports this exit code as if it had run and failed (or,
    // with 0, succeeded). clearChangeExitCodes() restores the default (not
    // run, exit code -1, simulated).
    void setChangeExitCode(const QString& program, int exitCode);
    void clearChangeExitCodes();

    // The commands run or held back, oldest first: the last recordLimit()
    // of them (the runner lives as long as the program, which runs for
    // months).
    QList<RecordedCommand> recorded() const;
    void clearRecorded();
    static constexpr int kDefaultRecordLimit = 256;
    int recordLimit() const;
    void setRecordLimit(int limit);

private:
    CommandRunner();
    mutable QMutex m_mutex;
    Mode m_mode;
    bool m_fixturesOnly = false;
    struct Answer { QByteArray output; int exitCode; };
    QMap<QString, Answer> m_answers;
    QMap<QString, int> m_changeExitCodes;
    QList<RecordedCommand> m_recorded;
    int m_recordLimit = kDefaultRecordLimit;
};

}  // namespace platform
