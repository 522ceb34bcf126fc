// Project groups: saved copies of the camera's working files under
// "./paraGroup/<name>", made, switched and removed with file-system calls
// (names are never handed to a shell). Every change is staged beside its
// target and put in place by renames, so an interrupted or failed copy never
// leaves a half group or half working files behind.
#include "hub/wizardpara.h"

#include "foundation/logmanager.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char kGroupRoot[] = "./paraGroup";
const char kFactoryGroup[] = "default";

QString groupDir(const QString& name)
{
    return QStringLiteral("%1/%2").arg(QLatin1String(kGroupRoot), name);
}

// A fresh hidden name beside `dir`'s entries (never listed as a group).
QString stagingName(const QString& what)
{
    return QStringLiteral(".%1-%2").arg(what, QUuid::createUuid().toString(QUuid::Id128).left(12));
}

// The working entries present in `dir`, by name.
QStringList workingEntries(const QDir& dir)
{
    QStringList out;
    for (const QString& n : dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
        if (n.startsWith(QLatin1String("cammer")) || n == QLatin1String("PARAM.db") || n == QLatin1String("RECORD.db")
            || n == QLatin1String("workspace") || n == QLatin1String("originalimage"))
            out << n;
    return out;
}

bool renamePath(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    qCWarning(level_1).noquote() << "project group: cannot move" << from << "to" << to << ":" << std::strerror(errno);
    return false;
}

// Copies a file, a link (as a link) or a folder tree; false (logged) on the
// first failure.
bool copyEntry(const QString& from, const QString& to)
{
    const QFileInfo info(from);
    if (info.isSymLink()) {
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(from).constData(), target, sizeof target - 1);
        if (n < 0 || ::symlink(QByteArray(target, int(n)).constData(), QFile::encodeName(to).constData()) != 0) {
            qCWarning(level_1).noquote() << "project group: cannot copy the link" << from << ":" << std::strerror(errno);
            return false;
        }
        return true;
    }
    if (info.isDir()) {
        if (!QDir().mkdir(to)) {
            qCWarning(level_1).noquote() << "project group: cannot create" << to;
            return false;
        }
        const QDir dir(from);
        for (const QString& n : dir.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
            if (!copyEntry(dir.filePath(n), to + QLatin1Char('/') + n))
                return false;
        return true;
    }
    QFile source(from);
    if (!source.copy(to)) {
        qCWarning(level_1).noquote() << "project group: cannot copy" << from << ":" << source.errorString();
        return false;
    }
    return true;
}

void removeTree(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink() || info.isFile())
        QFile::remove(path);
    else if (info.isDir())
        QDir(path).removeRecursively();
}

// Copies `entries` of `from` into the new folder `to`; the folder is removed
// again on failure.
bool copyInto(const QDir& from, const QStringList& entries, const QString& to)
{
    if (!QDir().mkpath(to)) {
        qCWarning(level_1).noquote() << "project group: cannot create" << to;
        return false;
    }
    for (const QString& n : entries) {
        if (!copyEntry(from.filePath(n), to + QLatin1Char('/') + n)) {
            removeTree(to);
            return false;
        }
    }
    return true;
}

}  // namespace

bool WizardPara::isPlainGroupName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/'))
        || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}


bool WizardPara::BackupProject(QString name)
{
    name.remove(QLatin1Char(' '));
    name.remove(QLatin1Char('\\'));
    if (!WizardPara::isPlainGroupName(name) || name == QLatin1String(kFactoryGroup)) {
        qCWarning(level_1).noquote() << "project group backup refused: not a plain group name:"
                                     << name.toUtf8().toPercentEncoding();
        return false;
    }
    const QString previous = GetTableValue(QStringLiteral("sysparam"), QStringLiteral("project_name"));
    // The saved PARAM.db names its own group.
    if (Replace_KeyValue(QStringLiteral("sysparam"), QStringLiteral("project_name"), name) != 0) {
        qCWarning(level_1).noquote() << "project group backup" << name << ": project_name could not be written";
        return false;
    }
    const auto fail = [&] {
        if (Replace_KeyValue(QStringLiteral("sysparam"), QStringLiteral("project_name"), previous) != 0)
            qCWarning(level_1).noquote() << "project group backup: project_name could not be set back to" << previous;
        qCWarning(level_1).noquote() << "project group backup" << name << "failed: the group is as before";
        return false;
    };
    const QDir work(QStringLiteral("."));
    const QString staging = QStringLiteral("%1/%2").arg(QLatin1String(kGroupRoot), stagingName(QStringLiteral("backup")));
    if (!QDir().mkpath(QLatin1String(kGroupRoot)) || !copyInto(work, workingEntries(work), staging))
        return fail();
    const QString target = groupDir(name);
    QString old;
    if (QFileInfo(target).exists() || QFileInfo(target).isSymLink()) {
        old = QStringLiteral("%1/%2").arg(QLatin1String(kGroupRoot), stagingName(QStringLiteral("replaced")));
        if (!renamePath(target, old)) {
            removeTree(staging);
            return fail();
        }
    }
    if (!renamePath(staging, target)) {
        if (!old.isEmpty())
            renamePath(old, target);
        removeTree(staging);
        return fail();
    }
    if (!old.isEmpty())
        removeTree(old);
    qInfo().noquote() << "project group" << name << "saved";
    return true;
}

bool WizardPara::ChangeProject(QString name)
{
    if (!WizardPara::isPlainGroupName(name)) {
        qCWarning(level_1).noquote() << "project group change refused: not a plain group name:"
                                     << name.toUtf8().toPercentEncoding();
        return false;
    }
    const QString source = groupDir(name);
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir() || sourceInfo.isSymLink()) {
        qCWarning(level_1).noquote() << "project group" << name << "does not exist: nothing changed";
        return false;
    }
    QString current = GetTableValue(QStringLiteral("sysparam"), QStringLiteral("project_name"));
    if (current.isEmpty())
        current = QStringLiteral("backup_") + QDate::currentDate().toString(QStringLiteral("yyyyMMdd"));
    if (!BackupProject(current)) {
        qCWarning(level_1).noquote() << "project group change to" << name << "refused: the working files could not"
                                     << "be saved as" << current;
        return false;
    }
    // The group, staged in the working folder so that the swap is renames.
    const QDir work(QStringLiteral("."));
    const QString staged = stagingName(QStringLiteral("incoming"));
    const QDir group(source);
    if (!copyInto(group, workingEntries(group), staged)) {
        qCWarning(level_1).noquote() << "project group change to" << name << "failed while copying: nothing changed";
        return false;
    }
    if (m_host)
        m_host->closeDatabases();
    const QString previous = stagingName(QStringLiteral("previous"));
    QStringList movedOut, movedIn;
    bool ok = QDir().mkdir(previous);
    const QStringList outgoing = workingEntries(work);
    for (const QString& n : outgoing) {
        if (!ok)
            break;
        ok = renamePath(n, previous + QLatin1Char('/') + n);
        if (ok)
            movedOut << n;
    }
    const QStringList incoming = workingEntries(QDir(staged));
    for (const QString& n : incoming) {
        if (!ok)
            break;
        ok = renamePath(staged + QLatin1Char('/') + n, n);
        if (ok)
            movedIn << n;
    }
    if (!ok) {
        for (const QString& n : movedIn)
            removeTree(n);
        for (const QString& n : movedOut)
            renamePath(previous + QLatin1Char('/') + n, n);
        removeTree(staged);
        QDir().rmdir(previous);
        if (m_host)
            m_host->reopenDatabases();
        qCWarning(level_1).noquote() << "project group change to" << name << "failed: the working files are as before";
        return false;
    }
    removeTree(previous);
    removeTree(staged);
    qInfo().noquote() << "project group changed to" << name << "(saved the previous files as" << current << ")";
    return true;
}

bool WizardPara::DeleteProject(QString name)
{
    if (!WizardPara::isPlainGroupName(name) || name == QLatin1String(kFactoryGroup)) {
        qCWarning(level_1).noquote() << "project group delete refused: not a group that may be removed:"
                                     << name.toUtf8().toPercentEncoding();
        return false;
    }
    if (name == GetTableValue(QStringLiteral("sysparam"), QStringLiteral("project_name"))) {
        qCWarning(level_1).noquote() << "project group delete refused:" << name << "is the current group";
        return false;
    }
    const QString dir = groupDir(name);
    const QFileInfo info(dir);
    if (!info.exists() && !info.isSymLink())
        return false;
    // The group leaves its place in one rename, then goes.
    const QString doomed = QStringLiteral("%1/%2").arg(QLatin1String(kGroupRoot), stagingName(QStringLiteral("deleted")));
    if (!renamePath(dir, doomed))
        return false;
    removeTree(doomed);
    qInfo().noquote() << "project group" << name << "deleted";
    return true;
}
