#include "identity/deviceidentity.h"

#include "platform/system/dataroot.h"
#include "platform/system/deviceidentitysources.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace {

// How long blkid may take before its output so far is used.
constexpr int kBlkidWaitMs = 1000;

// A source's text as a device id: no ";", and of a "-"-joined text (a UUID)
// only the last group. May be empty (a text ending in "-").
QString normalisedId(QString id)
{
    id.remove(QLatin1Char(';'));
    return id.split(QLatin1Char('-'), Qt::KeepEmptyParts).last();
}

// The last "Serial : <text>" of the cpuinfo text, or the empty text.
QString serialFromCpuinfo(const QString& cpuinfo)
{
    static const QRegularExpression serial(QStringLiteral("^Serial\\s+:\\s+(\\S+)"));
    QString found;
    const QStringList lines = cpuinfo.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
    for (const QString& line : lines) {
        const QRegularExpressionMatch m = serial.match(line);
        if (m.hasMatch())
            found = m.captured(1);
    }
    return found;
}

}  // namespace

QString getlocal_deviceid()
{
    const QString fixed = platform::DeviceIdentitySources::fixedDeviceId();
    if (!fixed.isEmpty())
        return fixed;

    // Last resort, and the id when there is no cpuinfo at all.
    const QString clockId = QString::number(QDateTime::currentMSecsSinceEpoch());

    const QString cpuinfoPath = platform::DeviceIdentitySources::cpuinfoPath();
    if (!QFileInfo::exists(cpuinfoPath))
        return clockId;

    QString cpuinfo;
    QFile file(cpuinfoPath);
    if (file.open(QIODevice::ReadOnly)) {
        cpuinfo = QString::fromUtf8(file.readAll());
        file.close();
    }

    // Each source is used only if it yields a non-empty id; otherwise the
    // next one is tried (a serial such as "abc-" would give an empty id).
    const QString serial = serialFromCpuinfo(cpuinfo);
    if (!serial.isEmpty()) {
        const QString id = normalisedId(serial);
        if (!id.isEmpty())
            return id;
    }
    const QString uuid = found_diskuuid_by_blkid();
    if (!uuid.isEmpty()) {
        const QString id = normalisedId(uuid);
        if (!id.isEmpty())
            return id;
    }
    return clockId;
}

QString found_diskuuid_by_blkid()
{
    QByteArray out = platform::DeviceIdentitySources::blkidOutput(kBlkidWaitMs);
    const int nul = out.indexOf('\0');
    if (nul >= 0)
        out.truncate(nul);
    const QString text = QString::fromLatin1(out);

    // The last whitespace-preceded UUID attribute of the line; PARTUUID is
    // not preceded by whitespace and so never matches.
    static const QRegularExpression uuidAttr(QStringLiteral("^.*\\s+UUID=\"(\\S+)\".*"));
    QString result;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        // Exactly one "TYPE=" (a SEC_TYPE= as well makes three parts) and ext4.
        const QStringList parts = line.split(QStringLiteral("TYPE="), Qt::SkipEmptyParts);
        if (parts.size() != 2 || !parts.at(1).contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch m = uuidAttr.match(line);
        if (m.hasMatch())
            result = m.captured(1);
    }
    return result;
}

QString found_diskuuid_by_etc_fstab()
{
    QFile assigned(platform::DataRoot::path(QStringLiteral("/etc/assign_uuid")));
    if (assigned.open(QIODevice::ReadOnly)) {
        QString uuid = QString::fromUtf8(assigned.readAll());
        assigned.close();
        uuid.remove(QLatin1Char('\n'));
        return uuid;
    }

    QFile fstab(platform::DataRoot::path(QStringLiteral("/etc/fstab")));
    if (!fstab.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromLatin1(fstab.readAll());
    fstab.close();

    static const QRegularExpression uuidLine(QStringLiteral("^UUID=(\\S+)\\s+.*"));
    QString result;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (!line.contains(QLatin1String("ext4")))
            continue;
        const QRegularExpressionMatch m = uuidLine.match(line);
        if (m.hasMatch())
            result = m.captured(1);
    }
    return result;
}
