#pragma once
// The upload cache folder: firmware bodies are streamed into cache files
// "mongoose_cachefile_<8 hex digits>" there. Only these files are ever
// rotated or deleted, only through file-system calls, never through a link.
#include <QSet>
#include <QString>
#include <QtGlobal>

namespace uploadcache {

// The name prefix of every cache file.
QString filePrefix();

// A fresh cache-file path in `folder`.
QString newCacheFilePath(const QString& folder);

// Keeps at most `keep` cache files in `folder`: deletes the oldest (by
// modification time) that are not in `inUse` until at most `keep` remain.
// Other files of the folder are never touched.
void rotate(const QString& folder, const QSet<QString>& inUse, int keep = 9);

// Creates `path` exclusively (an existing file or link fails) for writing;
// -1 with a warning when it cannot, or when it does not lie in `folder`.
int createExclusive(const QString& folder, const QString& path);

// Deletes one regular cache file; refuses an empty path or a folder.
bool removeCacheFile(const QString& path);

// Bytes free for an unprivileged writer in the file system of `folder`;
// -1 when unknown.
qint64 freeBytes(const QString& folder);

}  // namespace uploadcache
