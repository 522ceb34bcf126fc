#include "net/discovery/udp_acam_server.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "net/udp_push2app_simple.h"
#include "platform/system/commandrunner.h"

#include <QDateTime>

#include <arpa/inet.h>

namespace {

constexpr qint64 kLatestTimeMs = 4102444800000LL;  // 2100-01-01 00:00:00 UTC

bool succeeded(const platform::CommandResult& r)
{
    // In simulation a recorded (not run) command counts as done.
    return (r.simulated && !r.started) || (r.finished && r.exitCode == 0);
}

platform::CommandResult change(const QString& program, const QStringList& args)
{
    return platform::CommandRunner::instance().run(program, args, platform::CommandRunner::Effect::Change, 5000);
}

}  // namespace

UDP_ACam_Server::UDP_ACam_Server(QObject* parent, int port) : UDP_Core(parent)
{
    // Carried as designed: a port that cannot be bound leaves the server deaf, logged by addListen.
    (void)addListen("255.255.255.255", port);
}

QString UDP_ACam_Server::AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf)
{
    const GvcpDatagram d = parseGvcp(recvbuf, true);
    if (d.kind == GvcpDatagram::Short)
        return QStringLiteral("no success");
    if (d.kind == GvcpDatagram::ForeignKey)
        return QStringLiteral("success");
    const QString requester = QString::fromStdString(nint2string(saclient.sin_addr.s_addr));
    switch (d.code) {
    case gvcp::kCmdDiscover:
        onDiscover(requester);
        break;
    case gvcp::kCmdForceIp:
        onForceIp(requester, d);
        break;
    case gvcp::kCmdAction:
        onAction(d);
        break;
    default:
        break;
    }
    return QStringLiteral("success");
}

void UDP_ACam_Server::acknowledge(const std::string& ack, const QString& fromAddress, int waitMs)
{
    Udpsend_Cond cond;
    cond.dst_ip = "255.255.255.255";
    cond.dst_port = gvcp::kAckPort;
    cond.bind_ip = fromAddress.toStdString();
    cond.wait_ms = waitMs;
    cond.resend_ms = 0;
    std::string reply;
    // No answer to an acknowledgement is expected: the outcome is always "no answer".
    (void)send_core(cond, ack, reply);
}

void UDP_ACam_Server::onDiscover(const QString& requester)
{
    const QByteArray id = m_serviceId.toLatin1();
    const QByteArray req = requester.toLatin1();
    for (const DeviceNetInfo_Detail& card : m_cards) {
        const std::string ack =
            gvcp_ack_discover(id.constData(), req.constData(), card.ip.toLatin1().constData(),
                              card.netmask.toLatin1().constData(), card.gateway.toLatin1().constData(),
                              card.mac.toLatin1().constData());
        acknowledge(ack, card.ip, 100);
        qInfo().noquote() << "ArmServ-Send(gvcp_ack_discover) callback from:" << m_serviceId << card.ip << "to"
                          << requester;
    }
}

void UDP_ACam_Server::onForceIp(const QString& requester, const GvcpDatagram& d)
{
    const GvcpForceIp f = gvcpForceIpOf(gvcpRecord(d, gvcp::kForceIpPayload));
    const QString ip = QString::fromStdString(nint2string(f.address));
    const QString mask = QString::fromStdString(nint2string(f.mask));
    const QString gateway = QString::fromStdString(nint2string(f.gateway));
    qInfo().noquote() << "ArmServ-Recv(gvcp_forceip_req):" << f.targetId << ip << mask << gateway;
    if (f.targetId == m_serviceId && !m_cards.isEmpty()) {
        const QString refusal = forceIpRefusal(f.address, f.mask, f.gateway);
        if (!refusal.isEmpty()) {
            qCWarning(level_1).noquote() << "[DISCOVERY] force-IP refused:" << refusal << ip << mask << gateway
                                         << "from" << requester;
        } else {
            const DeviceNetInfo_Detail card = m_cards.first();
            change(QStringLiteral("ip"), {QStringLiteral("addr"), QStringLiteral("flush"), QStringLiteral("dev"), card.ifname});
            change(QStringLiteral("ip"), {QStringLiteral("route"), QStringLiteral("flush"), QStringLiteral("table"),
                                          QStringLiteral("main")});
            change(QStringLiteral("ifconfig"), {card.ifname, ip, QStringLiteral("netmask"), mask});
            change(QStringLiteral("route"), {QStringLiteral("add"), QStringLiteral("default"), QStringLiteral("gw"), gateway});
            rereadCard(card.ifname, card.mac);
            const DeviceNetInfo_Detail now = m_cards.first();
            const std::string ack = gvcp_ack_forceip(
                m_serviceId.toLatin1().constData(), requester.toLatin1().constData(), now.ip.toLatin1().constData(),
                now.netmask.toLatin1().constData(), now.gateway.toLatin1().constData(), now.mac.toLatin1().constData());
            acknowledge(ack, now.ip, 0);
            qInfo().noquote() << "ArmServ-Send(gvcp_forceip_req) response new info:" << m_serviceId << now.ip;
        }
    }
    qInfo().noquote() << "---------------------------------";
}

bool UDP_ACam_Server::setClock(qint64 ms)
{
    const qint64 earliest = Udp_Push2APP_Simple::earliestAppTime() * 1000;
    if (ms < earliest || ms >= kLatestTimeMs) {
        qCWarning(level_1).noquote() << "[DISCOVERY] update-time refused: time" << ms
                                     << "ms lies outside the build day to 2100";
        return false;
    }
    change(QStringLiteral("cp"), {QStringLiteral("/usr/share/zoneinfo/Asia/Shanghai"), QStringLiteral("/etc/localtime")});
    const QString when = QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyyMMdd hh:mm:ss"));
    const platform::CommandResult date = change(QStringLiteral("date"), {QStringLiteral("-s"), when});
    if (!succeeded(date)) {
        qCWarning(level_1).noquote() << "[DISCOVERY] \"date -s" << when << "\" failed, exit code" << date.exitCode;
        return false;
    }
    change(QStringLiteral("hwclock"), {QStringLiteral("--systohc")});
    return true;
}

void UDP_ACam_Server::onAction(const GvcpDatagram& d)
{
    const GvcpAction a = gvcpActionOf(gvcpRecord(d, gvcp::kActionPayload));
    const QString first = m_cards.isEmpty() ? QString() : m_cards.first().ip;
    if (a.action == gvcp::kActionUpdateTime) {
        if (!setClock(a.timeMs))
            return;
        emit sig_updatetime();
        if (!first.isEmpty())
            acknowledge(gvcp_ack_updatetime(gettimeofday_ms()), first, 0);
    } else if (a.action == gvcp::kActionRebootDaemon) {
        emit sig_rebootdaemon();
        if (!first.isEmpty())
            acknowledge(gvcp_ack_rebootdaemon(gettimeofday_ms()), first, 0);
    }
}
