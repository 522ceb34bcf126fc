#include "foundation/logfiletidy.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTime>

#include <algorithm>
#include <climits>

namespace logfiletidy {

namespace {

// "yyyyMMdd-hhmmss" -> "yyyyMMdd_hhmmss"; empty when it is no valid time.
QString renamedStamp(const QString& stamp)
{
    const QStringList parts = stamp.split('-');
    if (parts.size() != 2 || parts[0].size() != 8 || parts[1].size() != 6)
        return {};
    const QDate date = QDate::fromString(parts[0], QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(parts[1], QStringLiteral("hhmmss"));
    if (!date.isValid() || !time.isValid())
        return {};
    return date.toString(QStringLiteral("yyyyMMdd")) + '_' + time.toString(QStringLiteral("hhmmss"));
}

// Number in front of a kept name "<n>_<KIND>_<date>_<time>.txt", or -1.
qint64 keptNumber(const QString& name)
{
    const QStringList parts = name.split('_');
    if (parts.size() != 4)
        return -1;
    bool ok = false;
    const qint64 n = parts[0].toLongLong(&ok);
    return (ok && n >= 0) ? n : -1;
}

// The tidies delete files: never on an unnamed folder (the working
// directory) or on the file system's root.
bool tidyableFolder(const QString& dir)
{
    return !dir.trimmed().isEmpty() && QDir::cleanPath(QDir(dir).absolutePath()) != QLatin1String("/");
}

bool sameFile(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

}  // namespace

void tidyBackendLogs(const QString& dirPath, int keep)
{
    QDir dir(dirPath);
    if (!tidyableFolder(dirPath) || !dir.exists())
        return;
    const QString canonicalDir = dir.canonicalPath();
    keep = std::max(keep, 0);

    // 1. The per-severity links of the previous run. Only its INFO log holds
    // every record; the WARNING and ERROR logs are subsets and go. A link to
    // an ERROR log tells that the run wrote at least one ERROR record.
    bool errorMark = false;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Time);
    for (const QFileInfo& fi : entries) {
        if (!fi.isSymLink() || !fi.exists())
            continue;  // a dangling link is left alone
        const QString name = fi.fileName();
        if (name.contains(QLatin1String(".ERROR")))
            errorMark = true;
        const QString target = fi.symLinkTarget();
        QFile::remove(fi.filePath());
        if (name.contains(QLatin1String(".INFO")))
            continue;
        // The back end links only to its own files beside the link; a link
        // that leads anywhere else is removed without touching its target.
        if (sameFile(QFileInfo(target).absolutePath(), canonicalDir))
            QFile::remove(target);
    }

    // 2. Logs kept by earlier tidies, in ascending order of their number.
    QStringList listing = dir.entryList({QStringLiteral("*.*")}, QDir::Files | QDir::Hidden, QDir::Name);
    QStringList kept;
    for (;;) {
        int best = -1;
        qint64 bestNumber = -1;
        for (int i = 0; i < listing.size(); ++i) {
            const qint64 n = keptNumber(listing[i]);
            if (n > bestNumber) {
                bestNumber = n;
                best = i;
            }
        }
        if (best < 0)
            break;
        kept.prepend(listing.takeAt(best));
    }

    // 3. Logs of the previous run get the kept form with a provisional number.
    for (const QString& name : qAsConst(listing)) {
        const QString path = dir.filePath(name);
        const QStringList parts = name.split('_');
        const QString stamp = parts.size() == 2 ? renamedStamp(parts[1].section('.', 0, 0)) : QString();
        if (stamp.isEmpty()) {
            QFile::remove(path);  // not a log of the back end
            continue;
        }
        const QString newName =
            QLatin1String(errorMark ? "X_ERROR_" : "X_LOG_") + stamp + QLatin1String(".txt");
        const QString newPath = dir.filePath(newName);
        QFile::remove(newPath);
        QFile::rename(path, newPath);
        if (!kept.contains(newName))
            kept.append(newName);
    }

    // 4. Only the newest `keep` logs stay.
    while (kept.size() > keep)
        QFile::remove(dir.filePath(kept.takeFirst()));

    // 5. Number them 1, 2, ... from the oldest.
    for (int i = 0; i < kept.size(); ++i) {
        QStringList parts = kept[i].split('_');
        const QString path = dir.filePath(kept[i]);
        if (parts.size() != 4) {
            QFile::remove(path);
            continue;
        }
        parts[0] = QString::number(i + 1);
        const QString newName = parts.join('_');
        if (newName != kept[i])
            QFile::rename(path, dir.filePath(newName));
    }
}

void tidyStdoutLogs(const QString& dirPath, int keep)
{
    QDir dir(dirPath);
    if (!tidyableFolder(dirPath) || !dir.exists())
        return;

    struct Numbered {
        qint64 number;
        QString path;
    };
    static const QRegularExpression numberedName(QStringLiteral("^(\\d+)_log\\.txt$"));

    QList<Numbered> numbered;
    QStringList unnumbered;
    qint64 largest = 0;
    bool haveCurrent = false;
    const QFileInfoList entries = dir.entryInfoList(QDir::Files, QDir::Time);
    for (const QFileInfo& fi : entries) {
        const QString name = fi.fileName();
        const QRegularExpressionMatch m = numberedName.match(name);
        bool ok = false;
        // Numbers beyond int are treated like any other stray file and
        // renumbered, so the counter below can never overflow.
        const qint64 n = m.hasMatch() ? m.captured(1).toInt(&ok) : 0;
        if (ok) {
            numbered.append({n, fi.absoluteFilePath()});
            largest = std::max(largest, n);
        } else if (name == QLatin1String("log.txt")) {
            haveCurrent = true;
        } else {
            unnumbered.append(fi.absoluteFilePath());
        }
    }

    for (const QString& path : qAsConst(unnumbered)) {
        ++largest;
        const QString newPath = QFileInfo(path).absoluteDir().filePath(QString::number(largest) + "_log.txt");
        if (QFile::rename(path, newPath))
            numbered.append({largest, newPath});
    }

    std::sort(numbered.begin(), numbered.end(), [](const Numbered& a, const Numbered& b) {
        return a.number != b.number ? a.number < b.number : a.path < b.path;
    });

    const int places = std::max(0, keep - (haveCurrent ? 1 : 0));
    while (numbered.size() > places)
        QFile::remove(numbered.takeFirst().path);
}

}  // namespace logfiletidy
