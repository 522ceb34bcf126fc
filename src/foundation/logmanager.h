#pragma once
// Logging front end of the camera program: glog writes the files, Qt's
// message macros feed it.
//
// Every qInfo()/qWarning()/qCritical()/qFatal() of the process passes
// LogManager::outputMessage once the front end exists. A message reaches the
// files only when its logging category is in the category list; debug
// messages never do. The program logs in two categories:
//   "default"  every message written without a category (qInfo() << ...);
//   "level_1"  messages written through the category below:
//                  qCInfo(level_1) << "[POST_2_APP] ...";
// The list is {"default", "level_1"} when the program is loaded; the work
// stash switches it between {"level_1"} and {"default", "level_1"} while the
// program runs.
//
// Files: one per severity in `glog_dir` ("LOG_<yyyyMMdd-hhmmss>.<pid>.log",
// "ERROR_...", ...), with a link "<program>.<SEVERITY>" to the newest one.
// Logs of earlier runs are renamed and thinned out at construction (see
// logfiletidy.h).
//
// Absolute folders in the configuration are device paths and are mapped
// through platform::DataRoot; relative ones are taken from the working
// directory.
//
// Threads: constructed on the main thread; outputMessage and the category
// list may be used from any thread.
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstddef>

// The "level_1" logging category.
Q_DECLARE_LOGGING_CATEGORY(level_1)

// One line on the program's console (standard error, which scripts/run
// keeps in run/orvale.out), "<program>: <text>", for what a person starting
// the program must see at once: a port it cannot bind, a data root it
// cannot write, where its HTTP API listens. The same fact goes to the log
// files through level_1 at the caller, which names its own file and line.
void consoleLine(const QString& text);

struct LogManager_Config {
    QString app_path = QStringLiteral("./");          // program name given to the back end
    QString glog_dir = QStringLiteral("./log/");      // back end's per-severity files
    bool log_to_stderr = true;                        // back end writes to standard error instead
    int glog_keep = 20;                               // logs of earlier runs kept in glog_dir
    QString stdlog_dir = QStringLiteral("./log_stdout/");  // captured standard output
    int stdlog_keep = 20;                             // files kept in stdlog_dir, "log.txt" included
};

class LogManager : public QObject {
    Q_OBJECT
public:
    // Replaces the front end by one built from `config` (a previous one is
    // deleted later by the event loop). The back end is set up by the first
    // front end of the process only: glog accepts a single initialisation,
    // so a later configuration creates and tidies its folders but neither
    // moves the log files nor changes the back end's settings.
    static LogManager* getInstance(LogManager_Config config, QObject* parent = nullptr);
    // The front end, built with the default configuration when there is none.
    static LogManager* getInstance();

    // Replaces the category list as a whole; a message handled at the same
    // time sees either the old or the new list.
    static void setLogInfoLevel(const QStringList& categories);
    static QStringList logInfoLevel();
    // Whether an info or warning message of `category` would be written:
    // false only while this front end handles the process's messages and the
    // category is not in the list. Lets a frequent line skip its formatting
    // when it would be dropped anyway (a handler installed over this front
    // end later, a test's capture, is not seen).
    static bool writes(const char* category);

    // The process-wide Qt message handler.
    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& message);

    // The two tidies run by the constructor, on the configured folders.
    void clearup_glogfile();
    void clearup_stdlogfile();

    const LogManager_Config& config() const { return m_config; }

    ~LogManager() override;

private:
    LogManager(const LogManager_Config& config, QObject* parent);
    void initBackend();

    LogManager_Config m_config;  // as given
    QString m_glogDir;           // folders of m_config mapped through DataRoot
    QString m_stdlogDir;

    static LogManager* __instance;
    static QStringList _infolevel;  // guarded by a lock in logmanager.cpp
};

// Failure writer handed to the back end: each chunk of a crash report
// (signal, address, stack) becomes one ERROR record, then the ERROR log is
// flushed.
void SignalHandle(const char* data, std::size_t size);
