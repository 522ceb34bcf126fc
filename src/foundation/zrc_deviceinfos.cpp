#include "foundation/zrc_deviceinfos.h"
#include "foundation/logmanager.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

CVariant<DeviceNetInfo> ZRC_DeviceInfos::getMain() const
{
    CVariant<DeviceNetInfo> main;
    for (const DeviceNetInfo& c : cameras)
        if (c.role == 1)
            main.setValue(c);
    return main;
}

QList<DeviceNetInfo> ZRC_DeviceInfos::getSUBS() const
{
    QList<DeviceNetInfo> subs;
    for (const DeviceNetInfo& c : cameras)
        if (c.role != 1)
            subs.append(c);
    return subs;
}

int ZRC_DeviceInfos::getAbsIndex_ByID(const QString& uuid) const
{
    for (int i = 0; i < cameras.size(); ++i)
        if (cameras.at(i).uuid == uuid)
            return i;
    return -1;
}

QString MakeCamCfg2Str(const ZRC_DeviceInfos& info)
{
    QString text;
    text += info.machine_id.isEmpty() ? QStringLiteral("();") : QStringLiteral("(%1);").arg(info.machine_id);

    if (!info.io_uuid.isEmpty() && !info.io_address.isEmpty())
        text += QStringLiteral("(%1;%2);").arg(info.io_uuid, info.io_address);
    else
        text += QStringLiteral("();");

    const CVariant<DeviceNetInfo> main = info.getMain();
    const DeviceNetInfo m = main.getValue();
    if (main.hasValue() && !m.uuid.isEmpty() && !m.address.isEmpty())
        text += QStringLiteral("(%1;%2);").arg(m.uuid, m.address);
    else
        text += QStringLiteral("();");

    QStringList pairs;
    for (const DeviceNetInfo& s : info.getSUBS())
        if (!s.uuid.isEmpty() && !s.address.isEmpty())
            pairs << s.uuid + QLatin1Char(';') + s.address;
    text += QLatin1Char('(') + pairs.join(QLatin1Char(';')) + QLatin1Char(')');
    return text;
}

namespace {
constexpr int kMaxCamCfgTextLength = 16384;
}  // namespace

bool ParseStr2CamCfg(const QString& text, ZRC_DeviceInfos& out)
{
    // Not anchored and greedy, as the IO module's texts have always been read:
    // text around the four groups is ignored and the last group ends at the
    // last ")".
    static const QRegularExpression pattern(
        QStringLiteral("\\((.*)\\);\\((.*)\\);\\((.*)\\);\\((.*)\\)"));
    // A real group text is a few hundred characters; a datagram-sized blob is
    // refused before the backtracking pattern can spend long on it.
    if (text.size() > kMaxCamCfgTextLength) {
        qCWarning(level_1) << "ParseStr2CamCfg: camera-group text of" << text.size() << "characters refused";
        return false;
    }
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) {
        qCInfo(level_1) << "ParseStr2CamCfg: not a camera-group text:" << text.left(200);
        return false;
    }

    ZRC_DeviceInfos info;
    info.machine_id = m.captured(1);

    const QStringList io = m.captured(2).split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (io.size() == 2) {
        info.io_uuid = io.at(0);
        info.io_address = io.at(1);
    }

    const QStringList main = m.captured(3).split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (main.size() == 2)
        info.cameras.append(DeviceNetInfo(main.at(0), main.at(1), 1));

    const QStringList subs = m.captured(4).split(QLatin1Char(';'), Qt::KeepEmptyParts);
    if (subs.size() >= 2 && subs.size() % 2 == 0)
        for (int i = 0; i + 1 < subs.size(); i += 2)
            info.cameras.append(DeviceNetInfo(subs.at(i), subs.at(i + 1), 0));

    QSet<QString> seen;
    for (const DeviceNetInfo& c : info.cameras) {
        if (c.uuid.isEmpty())
            continue;
        if (seen.contains(c.uuid))
            qCWarning(level_1) << "ParseStr2CamCfg: the camera-group text names device" << c.uuid << "twice:" << text;
        seen.insert(c.uuid);
    }

    out = info;
    return true;
}
