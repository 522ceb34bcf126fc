#include "platform/system/dataroot.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace platform {

namespace {
QMutex g_rootMutex;
QString g_root;
bool g_rootSet = false;

QString normalised(const QString& folder)
{
    QString r = folder.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(QDir(folder).absolutePath());
    if (!r.endsWith('/'))
        r += '/';
    return r;
}
}  // namespace

QString DataRoot::root()
{
    QMutexLocker lock(&g_rootMutex);
    if (!g_rootSet) {
        g_root = normalised(qEnvironmentVariable("ORVALE_DATA_ROOT", QStringLiteral("/")));
        g_rootSet = true;
    }
    return g_root;
}

void DataRoot::setRoot(const QString& folder)
{
    QMutexLocker lock(&g_rootMutex);
    g_root = normalised(folder);
    g_rootSet = true;
}

QString DataRoot::path(const QString& devicePath)
{
    if (!devicePath.startsWith('/'))
        return devicePath;
    const QString r = root();
    if (r == QLatin1String("/"))
        return devicePath;
    return r + devicePath.mid(1);
}

bool DataRoot::isInside(const QString& folder, const QString& candidate)
{
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString cand = QDir::cleanPath(QDir(folder).absoluteFilePath(candidate));
    if (cand == base)
        return true;
    const QString prefix = base.endsWith('/') ? base : base + '/';
    return cand.startsWith(prefix);
}

}  // namespace platform
