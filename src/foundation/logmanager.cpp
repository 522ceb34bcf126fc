#include "foundation/logmanager.h"

#include "foundation/logfiletidy.h"
#include "platform/system/dataroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QReadLocker>
#include <QReadWriteLock>
#include <QWriteLocker>

#include <glog/logging.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

Q_LOGGING_CATEGORY(level_1, "level_1")

void consoleLine(const QString& text)
{
    const QByteArray line = (QCoreApplication::applicationName() + QStringLiteral(": ") + text).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

LogManager* LogManager::__instance = nullptr;
QStringList LogManager::_infolevel = {QStringLiteral("default"), QStringLiteral("level_1")};

namespace {

QReadWriteLock g_levelLock;    // guards LogManager::_infolevel
QMutex g_instanceMutex;        // guards LogManager::__instance

// The back end is set up once per process.
QMutex g_backendMutex;
bool g_backendReady = false;
QString g_backendDir;  // canonical folder the back end writes into

// outputMessage is the process's message handler.
std::atomic<bool> g_handlerInstalled{false};
// Whether the two categories of the program are in the list (kept with it,
// so that writes() takes no lock for them).
std::atomic<bool> g_defaultListed{true};
std::atomic<bool> g_level1Listed{true};

QString withSlash(QString dir)
{
    if (!dir.isEmpty() && !dir.endsWith('/'))
        dir += '/';
    return dir;
}

bool isBackendFolder(const QString& dir)
{
    QMutexLocker lock(&g_backendMutex);
    if (!g_backendReady || g_backendDir.isEmpty())
        return false;
    const QString canonical = QDir(dir).canonicalPath();
    return !canonical.isEmpty() && canonical == g_backendDir;
}

}  // namespace

LogManager::LogManager(const LogManager_Config& config, QObject* parent)
    : QObject(parent), m_config(config)
{
    m_glogDir = withSlash(platform::DataRoot::path(m_config.glog_dir));
    m_stdlogDir = withSlash(platform::DataRoot::path(m_config.stdlog_dir));

    QDir().mkpath(m_glogDir);
    QDir().mkpath(m_stdlogDir);

    // The back end's folder is tidied only before the back end has opened
    // its files there: afterwards it holds the running program's own logs.
    if (!isBackendFolder(m_glogDir))
        clearup_glogfile();
    clearup_stdlogfile();

    initBackend();
}

LogManager::~LogManager() = default;

void LogManager::initBackend()
{
    QMutexLocker lock(&g_backendMutex);
    if (g_backendReady) {
        if (QDir(m_glogDir).canonicalPath() != g_backendDir)
            qCWarning(level_1) << "[LOG] logging is already set up; records stay in" << g_backendDir;
        return;
    }
    g_backendReady = true;

    // glog keeps the pointer to the program name for the life of the process.
    static const std::string* const programName = new std::string(m_config.app_path.toUtf8().toStdString());
    if (!google::IsGoogleLoggingInitialized())
        google::InitGoogleLogging(programName->c_str());

    const QByteArray dir = m_glogDir.toUtf8();
    FLAGS_log_dir = dir.toStdString();
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 200;
    FLAGS_stop_logging_if_full_disk = true;
    FLAGS_logtostderr = m_config.log_to_stderr;

    google::SetLogFilenameExtension(".log");
    google::SetLogDestination(google::GLOG_INFO, (dir + "LOG_").constData());
    google::SetLogDestination(google::GLOG_WARNING, (dir + "WARNING_").constData());
    google::SetLogDestination(google::GLOG_ERROR, (dir + "ERROR_").constData());
    google::SetLogDestination(google::GLOG_FATAL, (dir + "FATAL_").constData());
    g_backendDir = QDir(m_glogDir).canonicalPath();

    google::InstallFailureSignalHandler();
    google::InstallFailureWriter(&SignalHandle);
    qInstallMessageHandler(&LogManager::outputMessage);
    g_handlerInstalled.store(true);
}

LogManager* LogManager::getInstance(LogManager_Config config, QObject* parent)
{
    QMutexLocker lock(&g_instanceMutex);
    if (__instance)
        __instance->deleteLater();
    __instance = new LogManager(config, parent);
    return __instance;
}

LogManager* LogManager::getInstance()
{
    QMutexLocker lock(&g_instanceMutex);
    if (!__instance)
        __instance = new LogManager(LogManager_Config(), nullptr);
    return __instance;
}

void LogManager::setLogInfoLevel(const QStringList& categories)
{
    QWriteLocker lock(&g_levelLock);
    _infolevel = categories;
    g_defaultListed.store(categories.contains(QStringLiteral("default")));
    g_level1Listed.store(categories.contains(QStringLiteral("level_1")));
}

QStringList LogManager::logInfoLevel()
{
    QReadLocker lock(&g_levelLock);
    return _infolevel;
}

bool LogManager::writes(const char* category)
{
    if (!g_handlerInstalled.load())
        return true;
    if (!category)
        return false;
    if (std::strcmp(category, "default") == 0)
        return g_defaultListed.load();
    if (std::strcmp(category, "level_1") == 0)
        return g_level1Listed.load();
    QReadLocker lock(&g_levelLock);
    return _infolevel.contains(QLatin1String(category));
}

void LogManager::clearup_glogfile()
{
    logfiletidy::tidyBackendLogs(m_glogDir, m_config.glog_keep);
}

void LogManager::clearup_stdlogfile()
{
    logfiletidy::tidyStdoutLogs(m_stdlogDir, m_config.stdlog_keep);
}

void LogManager::outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg || !context.category)
        return;
    {
        QReadLocker lock(&g_levelLock);
        if (!_infolevel.contains(QLatin1String(context.category)))
            return;
    }

    const char* slash = context.file ? std::strrchr(context.file, '/') : nullptr;
    const char* file = (slash && slash[1] != '\0') ? slash + 1 : "unknow";
    const QByteArray utf8 = message.toUtf8();
    const std::string text(utf8.constData(), std::size_t(utf8.size()));

    switch (type) {
    case QtInfoMsg:
        google::LogMessage(file, context.line, google::GLOG_INFO).stream() << text;
        break;
    case QtWarningMsg:
        google::LogMessage(file, context.line, google::GLOG_INFO).stream() << "---warning--- " << text;
        break;
    case QtCriticalMsg:
        LOG(ERROR) << "\t" << text;
        break;
    case QtFatalMsg:
        LOG(FATAL) << "\t" << text;
        break;
    case QtDebugMsg:
        break;
    }
}

void SignalHandle(const char* data, std::size_t size)
{
    LOG(ERROR) << std::string(data, size);
    google::FlushLogFiles(google::GLOG_ERROR);
}
