#include "httpapi/firmwareinstall.h"

#include "foundation/logmanager.h"
#include "platform/system/dataroot.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool syncPath(const QString& path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Copies `from` to the new file `to` (for a cache on another file system).
bool copyFile(const QString& from, const QString& to)
{
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (out.write(chunk) != chunk.size())
            return false;
    }
    return in.error() == QFileDevice::NoError && out.flush();
}

}  // namespace

QString FirmwareInstall::refusalText(Result r)
{
    switch (r) {
    case Result::Installed:
        return QString();
    case Result::NoUpload:
        return QStringLiteral("文件接收异常-1");
    case Result::Missing:
    case Result::InstallFailed:
        return QStringLiteral("文件接收异常-2");
    case Result::DigestMismatch:
        return QStringLiteral("文件接收异常-校验文件完整性未通过");
    }
    return QStringLiteral("文件接收异常-2");
}

QByteArray FirmwareInstall::md5Hex(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(level_1).noquote() << "无法打开文件：" << path;
        return QByteArray();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file) || file.error() != QFileDevice::NoError) {
        qCWarning(level_1).noquote() << "计算哈希值时出错-2" << path;
        return QByteArray();
    }
    return hash.result().toHex();
}

FirmwareInstall::Result FirmwareInstall::install(const QString& cacheFile, const QString& check)
{
    if (cacheFile.isEmpty()) {
        qCWarning(level_1) << "[UPDATE] refused: no upload";
        return Result::NoUpload;
    }
    const QFileInfo info(cacheFile);
    if (!info.exists()) {
        qCWarning(level_1).noquote() << "[UPDATE] refused: the upload's cache file is gone:" << cacheFile;
        return Result::Missing;
    }
    const auto refuse = [&cacheFile](Result r, const char* why) {
        qCWarning(level_1).noquote() << "[UPDATE] refused:" << why << "; cache file deleted:" << cacheFile;
        QFile::remove(cacheFile);
        return r;
    };
    if (!info.isFile() || info.size() == 0)
        return refuse(Result::NoUpload, "empty upload");
    const qint64 size = info.size();
    QByteArray digest;
    if (!check.isEmpty()) {
        digest = md5Hex(cacheFile);
        if (digest.isEmpty())
            return refuse(Result::DigestMismatch, "unreadable upload");
        if (QString::fromLatin1(digest) != check) {
            qCWarning(level_1).noquote() << "计算哈希值时出错-1";
            return refuse(Result::DigestMismatch, "digest differs from the one sent");
        }
    }

    const QString folder = platform::DataRoot::path(QStringLiteral("/root/"));
    const QString target = platform::DataRoot::path(packagePath());
    const QString temp = folder + QStringLiteral(".newupdate.tar.part");
    QDir().mkpath(folder);
    QFile::remove(temp);
    const auto fail = [&](const char* why) {
        qCWarning(level_1).noquote() << "[UPDATE] install failed:" << why << std::strerror(errno)
                                     << "; no restart, package left as it was";
        QFile::remove(temp);
        QFile::remove(cacheFile);
        return Result::InstallFailed;
    };
    if (std::rename(QFile::encodeName(cacheFile).constData(), QFile::encodeName(temp).constData()) != 0) {
        // Another file system: copy, and the cache file goes afterwards.
        if (!copyFile(cacheFile, temp))
            return fail("copy to the temporary file");
        QFile::remove(cacheFile);
    }
    if (!syncPath(temp, O_RDONLY))
        return fail("flush of the temporary file");
    if (QFileInfo(temp).size() != size)
        return fail("temporary file of another size");
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0)
        return fail("rename onto the package");
    syncPath(folder, O_RDONLY | O_DIRECTORY);  // the rename itself reaches the disk
    if (QFileInfo(target).size() != size || (!digest.isEmpty() && md5Hex(target) != digest)) {
        qCWarning(level_1).noquote() << "[UPDATE] installed package differs from the upload; removed";
        QFile::remove(target);
        return Result::InstallFailed;
    }
    qCInfo(level_1).noquote() << "更新文件接收完成,相机将重新启动";
    return Result::Installed;
}
