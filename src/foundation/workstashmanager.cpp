#include "foundation/workstashmanager.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "platform/system/dataroot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

WorkStashManager* WorkStashManager::__instance = nullptr;

namespace {

QMutex g_instanceMutex;  // guards WorkStashManager::__instance

const char* const kRecordFileTimeKey = "VCamera_Work/CurRecordFile_Time";
const char* const kLogTimeFile = "LogRemainTime.txt";
constexpr int kTickMs = 60000;
constexpr qint64 kTickSeconds = 60;
// A count above one tick and at most seven days plus one tick keeps running.
constexpr qint64 kCountMin = 61;
constexpr qint64 kCountMax = 604860;

QString withSlash(QString dir)
{
    if (!dir.isEmpty() && !dir.endsWith('/'))
        dir += '/';
    return dir;
}

// The seconds in the log-time file: the text up to the first zero byte,
// white space around the digits allowed; anything else reads as 0.
qint64 parseRemainingSeconds(const QByteArray& content)
{
    const int nul = content.indexOf('\0');
    const QByteArray text = (nul >= 0 ? content.left(nul) : content).trimmed();
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    return ok ? v : 0;
}

}  // namespace

WorkStashManager::WorkStashManager(const WorkStashManager_Config& config, QObject* parent)
    : QObject(parent), m_config(config)
{
    m_workspaceDir = withSlash(platform::DataRoot::path(m_config.workspace_dir));

    if (!QDir(m_workspaceDir).exists() && !QDir().mkpath(m_workspaceDir))
        qCWarning(level_1) << "[WORK_STASH] cannot create the workspace" << m_workspaceDir;

    removeSettingsCompanions();

    settings = new QSettings(m_workspaceDir + m_config.settings_file, QSettings::IniFormat,
                             QCoreApplication::instance());

    if (value(kRecordFileTimeKey, -1).toLongLong() == -1)
        setValue(kRecordFileTimeKey, gettimeofday_ms() / 1000);

    emptyTempFolder();

    m_timer.setInterval(kTickMs);
    m_timer.setSingleShot(false);
    connect(&m_timer, &QTimer::timeout, this, &WorkStashManager::slot_timer_updateLogRemainTime);
    m_timer.start();
}

// `settings` belongs to the application object and outlives the work stash.
WorkStashManager::~WorkStashManager() = default;

WorkStashManager* WorkStashManager::getInstance(WorkStashManager_Config config, QObject* parent)
{
    QMutexLocker lock(&g_instanceMutex);
    if (__instance)
        __instance->deleteLater();
    __instance = new WorkStashManager(config, parent);
    return __instance;
}

WorkStashManager* WorkStashManager::getInstance()
{
    QMutexLocker lock(&g_instanceMutex);
    if (!__instance)
        __instance = new WorkStashManager(WorkStashManager_Config(), nullptr);
    return __instance;
}

QVariant WorkStashManager::value(const QString& key, const QVariant& defaultValue) const
{
    QMutexLocker lock(&m_settingsMutex);
    return settings->value(key, defaultValue);
}

void WorkStashManager::setValue(const QString& key, const QVariant& v)
{
    QMutexLocker lock(&m_settingsMutex);
    settings->setValue(key, v);
}

void WorkStashManager::remove(const QString& key)
{
    QMutexLocker lock(&m_settingsMutex);
    settings->remove(key);
}

QStringList WorkStashManager::allKeys() const
{
    QMutexLocker lock(&m_settingsMutex);
    return settings->allKeys();
}

void WorkStashManager::sync()
{
    QMutexLocker lock(&m_settingsMutex);
    settings->sync();
}

void WorkStashManager::removeSettingsCompanions()
{
    const QString& name = m_config.settings_file;
    // An empty name would match every file of the workspace.
    if (name.isEmpty() || name.contains('/')) {
        qCWarning(level_1) << "[WORK_STASH] unusable settings file name" << name;
        return;
    }
    const QFileInfoList files = QDir(m_workspaceDir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& fi : files) {
        const QString fileName = fi.fileName();
        if (fileName.startsWith(name) && fileName != name && !QFile::remove(fi.filePath()))
            qCWarning(level_1) << "[WORK_STASH] cannot remove" << fi.filePath();
    }
}

void WorkStashManager::emptyTempFolder()
{
    emptyDeviceFolder(m_config.temp_dir, QStringLiteral("[WORK_STASH]"));
}

void WorkStashManager::slot_timer_updateLogRemainTime()
{
    const QString path = m_workspaceDir + QLatin1String(kLogTimeFile);
    if (!QFile::exists(path)) {
        LogManager::setLogInfoLevel({QStringLiteral("level_1")});
        return;
    }

    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return;
    const qint64 remaining = parseRemainingSeconds(file.readAll());
    if (remaining >= kCountMin && remaining <= kCountMax) {
        const QByteArray next = QByteArray::number(remaining - kTickSeconds);
        file.seek(0);
        file.write(next);
        file.resize(next.size());
        LogManager::setLogInfoLevel({QStringLiteral("default"), QStringLiteral("level_1")});
    }
    file.close();
}
