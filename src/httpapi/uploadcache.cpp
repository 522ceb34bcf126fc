#include "httpapi/uploadcache.h"
#include "foundation/logmanager.h"

#include "foundation/publictools.h"
#include "platform/system/dataroot.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace uploadcache {

QString filePrefix()
{
    return QStringLiteral("mongoose_cachefile_");
}

QString newCacheFilePath(const QString& folder)
{
    return QStringLiteral("%1/%2%3").arg(QDir::cleanPath(folder), filePrefix(), new_uuid(1));
}

void rotate(const QString& folder, const QSet<QString>& inUse, int keep)
{
    QFileInfoList files = QDir(folder).entryInfoList({filePrefix() + QLatin1Char('*')},
                                                     QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort);
    std::stable_sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified();
    });
    int count = files.size();
    for (const QFileInfo& fi : files) {
        if (count <= keep)
            break;
        if (inUse.contains(QDir::cleanPath(fi.absoluteFilePath())))
            continue;
        if (removeCacheFile(fi.absoluteFilePath()))
            --count;
    }
}

int createExclusive(const QString& folder, const QString& path)
{
    if (!platform::DataRoot::isInside(folder, path) || QFileInfo(path).fileName().isEmpty()) {
        qCWarning(level_1) << "[HTTP_UPLOAD] cache file outside its folder refused:" << path;
        return -1;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0644);
    if (fd < 0)
        qCWarning(level_1) << "[HTTP_UPLOAD] cannot create the cache file" << path << std::strerror(errno);
    return fd;
}

bool removeCacheFile(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    if (path.trimmed().isEmpty() || clean == QLatin1String("/")) {
        qCWarning(level_1) << "[HTTP_UPLOAD] refusing to delete" << path;
        return false;
    }
    const QFileInfo fi(clean);
    if (fi.isDir() && !fi.isSymLink()) {
        qCWarning(level_1) << "[HTTP_UPLOAD] refusing to delete a folder" << path;
        return false;
    }
    if (::unlink(QFile::encodeName(clean).constData()) != 0 && errno != ENOENT) {
        qCWarning(level_1) << "[HTTP_UPLOAD] cannot delete" << path << std::strerror(errno);
        return false;
    }
    return true;
}

qint64 freeBytes(const QString& folder)
{
    struct statvfs st {};
    if (::statvfs(QFile::encodeName(folder).constData(), &st) != 0)
        return -1;
    return static_cast<qint64>(st.f_bavail) * static_cast<qint64>(st.f_frsize);
}

}  // namespace uploadcache
