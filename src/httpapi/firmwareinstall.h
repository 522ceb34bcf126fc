#pragma once
// Puts an uploaded firmware package in place as "/root/newupdate.tar" so that
// the camera never reboots onto a half-written or unchecked package: the
// upload's cache file is checked against the application's MD5 digest (when
// it sent one), moved (or copied) to a temporary name in "/root/", flushed to
// disk, renamed over the package and checked again (size and digest). A
// refused upload's cache file is deleted; a failed install leaves the old
// package (or none) and no temporary file.
//
// Threads: any (file-system calls only).
#include <QByteArray>
#include <QString>

class FirmwareInstall {
public:
    static QString packagePath() { return QStringLiteral("/root/newupdate.tar"); }  // a device path

    enum class Result {
        Installed,       // the package is in place
        NoUpload,        // no cache file, or an empty one
        Missing,         // the cache file does not exist
        DigestMismatch,  // unreadable, or not the digest sent
        InstallFailed,   // could not be put in place (old package kept)
    };
    // The 400 text of a refusal; empty for Installed.
    static QString refusalText(Result r);

    // Checks `cacheFile` against `check` (exact lower-case hex; empty: not
    // checked) and installs it under the data root.
    static Result install(const QString& cacheFile, const QString& check);

    // Lower-case hex MD5 of a file; empty when it cannot be read.
    static QByteArray md5Hex(const QString& path);
};
