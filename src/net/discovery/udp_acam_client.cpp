#include "net/discovery/udp_acam_client.h"

#include "foundation/publictools.h"

#include <QEventLoop>
#include <QTimer>

#include <cstring>

UDP_ACam_Client::UDP_ACam_Client(QObject* parent, bool updateTime, int commandPort)
    : UDP_Core(parent), m_commandPort(commandPort)
{
    // Carried as designed: a port that cannot be bound leaves the client deaf, logged by addListen.
    (void)addListen("255.255.255.255", gvcp::kAckPort);
    if (updateTime)
        ActUpdateTime();
}

void UDP_ACam_Client::runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void UDP_ACam_Client::sendFrom(const QString& cardAddress, const std::string& command)
{
    Udpsend_Cond cond;
    cond.dst_ip = "255.255.255.255";
    cond.dst_port = m_commandPort;
    cond.bind_ip = cardAddress.toStdString();
    cond.wait_ms = 0;
    cond.resend_ms = 0;
    std::string reply;
    // Fire-and-forget: the outcome is always 0.
    (void)send_core(cond, command, reply);
}

QString UDP_ACam_Client::AnalysisRecvMessage(sockaddr_in, const QByteArray& recvbuf)
{
    const GvcpDatagram d = parseGvcp(recvbuf, false);
    if (d.kind == GvcpDatagram::Short)
        return QStringLiteral("success");
    if (d.code == gvcp::kAckDiscover) {
        const QByteArray record = gvcpRecord(d, gvcp::kDiscoverAckPayload);
        gvcp_discover_ack_payload p;
        std::memcpy(p.bytes.data(), record.constData(), p.bytes.size());
        m_found.insert(p.serviceId(), p);
        qInfo().noquote() << "AppCli-Recv(GVCP_DISCOVERY_ACK):" << p.model() << p.serviceId() << p.address()
                          << p.mask() << "->" << p.requester();
    } else if (d.code == gvcp::kAckForceIp) {
        const QByteArray r = gvcpRecord(d, gvcp::kForceIpPayload);
        const QString key = QString::fromLatin1(r.constData() + 24, int(qstrnlen(r.constData() + 24, 32)));
        auto it = m_found.find(key);
        if (it != m_found.end()) {
            quint32 requester, address, mask, gateway;
            std::memcpy(&requester, r.constData() + 8, 4);
            std::memcpy(&address, r.constData() + 12, 4);
            std::memcpy(&mask, r.constData() + 16, 4);
            std::memcpy(&gateway, r.constData() + 20, 4);
            it->setAddresses(requester, address, mask, gateway);
            qInfo().noquote() << "AppCli-Recv(GVCP_FORCEIP_ACK) found:" << key << it->address() << it->mask() << "->"
                              << it->requester();
        }
    }
    qInfo().noquote() << "-----------------------------------------------------";
    return QStringLiteral("success");
}

QMap<QString, gvcp_discover_ack_payload> UDP_ACam_Client::findCamera()
{
    m_found.clear();
    for (const DeviceNetInfo_Detail& card : m_cards)
        sendFrom(card.ip, gvcp_cmd_discover());
    runLoop(500);
    return m_found;
}

QList<ForceIpPlan> UDP_ACam_Client::planForceIp(const QMap<QString, gvcp_discover_ack_payload>& found,
                                                const QMap<QString, DeviceNetInfo_Detail>& cards)
{
    auto cardByIp = [&](const QString& ip) {
        for (const DeviceNetInfo_Detail& c : cards) {
            if (c.ip == ip)
                return c;
        }
        return DeviceNetInfo_Detail();
    };
    QList<ForceIpPlan> candidates;
    for (auto it = found.cbegin(); it != found.cend(); ++it) {
        const QString requester = it->requester();
        const DeviceNetInfo_Detail card = cardByIp(requester);
        if (card.ip.isEmpty())
            continue;
        const QString deviceNet = getSubNet(it->address(), it->mask());
        const QString hostNet = getSubNet(requester, card.netmask);
        if (deviceNet.isEmpty() || hostNet.isEmpty())
            continue;
        ForceIpPlan p;
        p.serviceId = it.key();
        p.requester = requester;
        p.address = deviceNet == hostNet ? it->address() : requester;
        p.mask = deviceNet == hostNet ? it->mask() : card.netmask;
        candidates.append(p);
    }
    QStringList used;
    for (const DeviceNetInfo_Detail& c : cards)
        used.append(c.ip);
    QList<ForceIpPlan> planned;
    for (ForceIpPlan p : candidates) {
        if (!used.contains(p.address)) {
            used.append(p.address);
            continue;
        }
        const QString next = nextFreeAddress(p.address, used);
        if (next.isEmpty())
            continue;
        used.append(next);
        p.address = next;
        planned.append(p);
    }
    return planned;
}

void UDP_ACam_Client::ActForceIP()
{
    const QList<ForceIpPlan> plans = planForceIp(m_found, m_cards);
    for (const ForceIpPlan& p : plans) {
        const QByteArray ip = p.address.toLatin1();
        const QByteArray mask = p.mask.toLatin1();
        const QByteArray id = p.serviceId.toLatin1();
        sendFrom(p.requester, gvcp_cmd_forceip(ip.constData(), mask.constData(), ip.constData(), id.constData()));
    }
    if (!plans.isEmpty())
        runLoop(1000);
}

void UDP_ACam_Client::ActUpdateTime()
{
    for (const DeviceNetInfo_Detail& card : m_cards)
        sendFrom(card.ip, gvcp_cmd_uptime(gettimeofday_ms()));
    runLoop(200);
}

void UDP_ACam_Client::ActRebootDaemon(const QString& id)
{
    auto it = m_found.constFind(id);
    if (it == m_found.cend()) {
        qInfo().noquote() << "Reboot Orvale error!";
        return;
    }
    const QString card = getSameUseNet(it->address());
    if (card.isEmpty())
        return;
    sendFrom(card, gvcp_cmd_rebootdaemon());
    runLoop(200);
}
