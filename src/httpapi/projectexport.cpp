#include "httpapi/projectexport.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/ctask_formdata.h"
#include "net/tcp_push2app.h"
#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

namespace {

const int kTarTimeoutMs = 30 * 60 * 1000;

QStringList kindPaths(const QString& kind)
{
    if (kind == QLatin1String("template")) {
        QStringList out;
        const QStringList dirs =
            QDir(QStringLiteral(".")).entryList({QStringLiteral("cammer*")}, QDir::Dirs | QDir::Files, QDir::Name);
        for (const QString& d : dirs)
            out << QStringLiteral("./") + d;
        return out;
    }
    if (kind == QLatin1String("log"))
        return {QStringLiteral("/userdata/log/")};
    if (kind == QLatin1String("history"))
        return {QStringLiteral("/userdata/alarmimage/")};
    if (kind == QLatin1String("project"))
        return {QStringLiteral("./PARAM.db"), QStringLiteral("./camcfg.json")};
    if (kind == QLatin1String("record"))
        return {QStringLiteral("./RECORD.db"), QStringLiteral("/userdata/")};
    return {};
}

}  // namespace

QStringList ProjectExport::pathsFor(const QJsonValue& storageTypes)
{
    QStringList paths;
    for (const QJsonValue& v : storageTypes.toArray())
        paths << kindPaths(v.toString());
    return paths;
}

QStringList ProjectExport::tarArguments(const QString& archive, const QStringList& paths)
{
    QStringList args{QStringLiteral("-cf"), archive, QStringLiteral("--exclude=userdata/tmp")};
    const QString cwd = QDir::currentPath();
    const QString root = platform::DataRoot::root();
    for (const QString& p : paths) {
        const bool device = p.startsWith(QLatin1Char('/'));
        const QString base = device ? root : cwd;
        const QString member = device ? p.mid(1) : p;
        if (!QFileInfo::exists(QDir(base).filePath(member))) {
            qCInfo(level_1).noquote() << "[EXPORT] not there, left out:" << p;
            continue;
        }
        args << QStringLiteral("-C") << base << member;
    }
    return args;
}

void ProjectExport::removeArchives()
{
    QDir dir(platform::DataRoot::path(archiveFolder()));
    for (const QString& name : dir.entryList({QStringLiteral("log_*.tar")}, QDir::Files))
        dir.remove(name);
}

void ProjectExport::run(const QStringList& paths, const QString& peer, quint16 port, const QString& userAgent)
{
    QElapsedTimer elapsed;
    elapsed.start();
    removeArchives();
    const QString folder = platform::DataRoot::path(archiveFolder());
    QDir().mkpath(folder);
    const QString archive =
        folder + QStringLiteral("log_%1.tar")
                     .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz")));
    const QStringList args = tarArguments(archive, paths);
    if (args.size() == 3) {
        qCWarning(level_1) << "[EXPORT] nothing to pack; no push";
        return;
    }
    const platform::CommandResult tar = platform::CommandRunner::instance().run(
        QStringLiteral("tar"), args, platform::CommandRunner::Effect::Archive, kTarTimeoutMs, true);
    qCInfo(level_1).noquote() << "operator()" << "cmd:" << "tar" << args.join(QLatin1Char(' ')) << "used time:"
                              << elapsed.elapsed();
    if (!tar.finished || (tar.exitCode != 0 && tar.exitCode != 1) || !QFileInfo(archive).isFile()) {
        qCWarning(level_1).noquote() << "[EXPORT] tar failed (status" << tar.exitCode << "):"
                                     << tar.output.left(2000) << "; archive removed, no push";
        QFile::remove(archive);
        return;
    }
    if (tar.exitCode == 1)
        qCInfo(level_1).noquote() << "[EXPORT] tar: files changed while read; pushed as packed:"
                                  << tar.output.left(2000);

    QEventLoop loop;
    auto* push = new Tcp_Push2APP(kPushLifetimeS);
    push->setProperty("create-time", gettimeofday_ms());
    push->setProperty("uuid", userAgent);
    QObject::connect(push, &QObject::destroyed, &loop, [&loop, archive] {
        QFile::remove(archive);
        loop.quit();
    });
    if (!push->startReactor(QHostAddress(peer), port, 1)) {
        qCInfo(level_1).noquote() << "[POST_2_APP]" << "ERROR NO CONNECTED" << "(/dide/context/getproject_storage)";
        push->deleteLater();
    } else {
        CTask_FormData form;
        form.url = QStringLiteral("/dide/context/putproject_storage");
        form.uuid = userAgent;
        form.device_id = ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
        form.bytes_parts.insert(archive, QByteArray());  // named part: the file, streamed
        push->getReactor()->post_async(form);
    }
    loop.exec();
}
