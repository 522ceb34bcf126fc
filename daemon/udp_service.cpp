#include "daemon/udp_service.h"

#include "identity/deviceidentity.h"
#include "platform/system/monotonicclock.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QtDebug>

namespace {

// A text of the file as the answer may carry it: empty when too long or
// holding a separator or a control character.
QString checkedText(const QJsonValue& v, const QString& key, QStringList* warnings)
{
    const QString text = v.isString() ? v.toString() : v.isDouble() ? v.toVariant().toString() : QString();
    bool bad = text.size() > Udp_Service::kMaxText;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || QStringLiteral(";()<>").contains(c))
            bad = true;
    }
    if (bad) {
        if (warnings)
            warnings->append(QStringLiteral("camcfg.json \"%1\" refused (too long or a separator inside)").arg(key));
        return QString();
    }
    return text;
}

}  // namespace

Udp_Service::Udp_Service(QObject* parent, quint16 port, QString camcfgPath)
    : QObject(parent), m_camcfgPath(camcfgPath.isEmpty() ? QStringLiteral("./camcfg.json") : camcfgPath)
{
    m_deviceId = getlocal_deviceid();
    if (m_socket.bind(QHostAddress::AnyIPv4, port))
        qDebug().noquote() << QStringLiteral("UDP服务已启动，正在监听端口%1...").arg(port);
    else
        qWarning().noquote() << QStringLiteral("无法绑定到端口%1").arg(port) << m_socket.errorString();
    connect(&m_socket, &QUdpSocket::readyRead, this, &Udp_Service::onReadyRead, Qt::DirectConnection);
}

QString Udp_Service::currentMac()
{
    QString mac;
    for (const QNetworkInterface& card : QNetworkInterface::allInterfaces()) {
        const auto flags = card.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& e : card.addressEntries()) {
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                mac = card.hardwareAddress();
        }
    }
    return mac;
}

QString Udp_Service::buildAnswer(const QString& deviceId, const QString& mac, const QByteArray& camcfg,
                                 QStringList* warnings)
{
    QJsonObject o;
    if (!camcfg.isEmpty()) {
        QJsonParseError err{};
        const QJsonDocument doc = QJsonDocument::fromJson(camcfg, &err);
        if (err.error == QJsonParseError::NoError && doc.isObject())
            o = doc.object();
        else if (warnings)
            warnings->append(QStringLiteral("camcfg.json unreadable: %1").arg(err.errorString()));
    }
    auto text = [&](const char* key) { return checkedText(o.value(QLatin1String(key)), QLatin1String(key), warnings); };
    QString answer = QStringLiteral("<CD;21;%1;%2;%3;(%4);").arg(deviceId, mac, text("ps_version"), text("ps_machineid"));
    const QString io = text("ps_io_uuid");
    answer += io.isEmpty() ? QStringLiteral("();") : QStringLiteral("(%1;%2);").arg(io, text("ps_io_address"));
    const QString main = text("ps_main_camera_uuid");
    answer += main.isEmpty() ? QStringLiteral("();")
                             : QStringLiteral("(%1;%2);").arg(main, text("ps_main_camera_address"));
    QStringList subs;
    const QJsonArray array = o.value(QStringLiteral("ps_sub_camera")).toArray();
    int left = 0;
    for (int i = 0; i < array.size(); ++i) {
        const QJsonObject s = array.at(i).toObject();
        const QString one = QStringLiteral("%1;%2").arg(
            checkedText(s.value(QStringLiteral("ps_sub_camera_uuid")), QStringLiteral("ps_sub_camera_uuid"), warnings),
            checkedText(s.value(QStringLiteral("ps_sub_camera_address")), QStringLiteral("ps_sub_camera_address"),
                        warnings));
        const QString tail = QStringLiteral("(%1)>").arg((subs + QStringList{one}).join(QLatin1Char(';')));
        if ((answer + tail).toUtf8().size() > kMaxAnswer) {
            left = array.size() - i;
            break;
        }
        subs.append(one);
    }
    if (left > 0 && warnings)
        warnings->append(QStringLiteral("camcfg.json: %1 sub cameras left out of the %2-byte answer").arg(left).arg(kMaxAnswer));
    answer += QStringLiteral("(%1)>").arg(subs.join(QLatin1Char(';')));
    return answer;
}

void Udp_Service::update_baseinfo()
{
    QByteArray camcfg;
    const QFileInfo info(m_camcfgPath);
    QStringList warnings;
    if (info.exists()) {
        QFile f(m_camcfgPath);
        if (!info.isFile()) {
            warnings << QStringLiteral("camcfg.json is not a regular file");
        } else if (info.size() > kMaxFile) {
            warnings << QStringLiteral("camcfg.json holds %1 bytes, more than %2: not read").arg(info.size()).arg(kMaxFile);
        } else if (f.open(QIODevice::ReadOnly)) {
            camcfg = f.read(kMaxFile);
        }
    }
    m_reply = buildAnswer(m_deviceId, currentMac(), camcfg, &warnings);
    for (const QString& w : warnings)
        qWarning().noquote() << "[DISCOVERY]" << w;
}

void Udp_Service::onReadyRead()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_socket.receiveDatagram();
        const QByteArray data = d.data();
        const int zero = data.indexOf('\0');
        if ((zero < 0 ? data : data.left(zero)) != "<A;21;APP>")
            continue;
        const qint64 now = platform::MonotonicClock::nowMs();
        if (m_lastRebuild < 0 || now - m_lastRebuild > 1000) {
            update_baseinfo();
            m_lastRebuild = now;
        }
        QHostAddress to = d.senderAddress();
        bool ok = false;
        const quint32 v4 = to.toIPv4Address(&ok);
        if (ok)
            to = QHostAddress(v4);
        m_socket.writeDatagram(m_reply.toUtf8(), to, kReplyPort);
    }
}
