#pragma once
// Packs the kinds of project data an operator application asks for into one
// tar archive under "/userdata/tmp/" and pushes it to that application's TCP
// port (10416) over the camera's own HTTP layer, as a file (streamed, never
// read whole). tar runs as a process with an argument list, "-C" per root,
// so the members carry the device's names ("./PARAM.db", "userdata/log/…");
// the upload cache "userdata/tmp" (with the archive itself and any firmware
// packages) is left out, paths that do not exist are dropped (logged), and
// earlier archives are deleted by the program. tar's status 0, or 1 ("file
// changed as we read it", routine for logs), gives a push; any other status
// removes the archive without a push.
//
// Threads: run() blocks its (pool) thread in a local event loop for the
// life of the push; the push object lives on that thread.
#include <QHostAddress>
#include <QJsonValue>
#include <QString>
#include <QStringList>

class ProjectExport {
public:
    static constexpr int kPushLifetimeS = 30;
    static QString archiveFolder() { return QStringLiteral("/userdata/tmp/"); }  // a device path

    // The paths of the "storage_type" kinds, in the array's order: relative
    // ones ("./PARAM.db", "./cammer11") in the working directory, absolute
    // ones device paths. "./cammer*" is expanded here. Unknown kinds and a
    // value that is not an array add nothing.
    static QStringList pathsFor(const QJsonValue& storageTypes);

    // tar's arguments for `archive` and `paths`: each existing path as a
    // member below its root ("-C" the working directory or the data root),
    // the upload cache excluded. Missing paths are left out and logged.
    static QStringList tarArguments(const QString& archive, const QStringList& paths);

    // Deletes the earlier archives ("log_*.tar" of the archive folder).
    static void removeArchives();

    // The whole export: archive, push to `peer`:`port` with the request's
    // `userAgent` as uuid, wait for the push to end, delete the archive.
    static void run(const QStringList& paths, const QString& peer, quint16 port, const QString& userAgent);
};
