// The discovery server and client across a veth between two private
// networks: discovery, force-IP (commands recorded, never run), the checks
// on unauthenticated settings, the clock and reboot actions.
#include "net/discovery/udp_acam_client.h"
#include "net/discovery/udp_acam_server.h"
#include "platform/system/commandrunner.h"
#include "support/logcapture.h"
#include "support/recordedcommands.h"
#include "vethbench.h"

#include <QDateTime>
#include <QNetworkInterface>

#include <gtest/gtest.h>

#include <arpa/inet.h>

using platform::CommandRunner;

namespace {

using testsupport::recordedCommandLines;

struct Rig {
    nettest::VethBench bench;
    std::unique_ptr<UDP_ACam_Server> server;
    UDP_ACam_Client* client = nullptr;

    explicit Rig(const QString& addressA = QStringLiteral("192.168.2.20/24")) : bench(addressA)
    {
        if (!bench.ok())
            return;
        server = std::make_unique<UDP_ACam_Server>();
        bench.there([this] { client = new UDP_ACam_Client(nullptr, false); });
    }
    ~Rig()
    {
        if (client)
            bench.there([this] { delete client; });
    }
    bool ok() const { return bench.ok() && server && client; }

    // Sends raw bytes from B to the server's port.
    void sendRaw(const std::string& bytes)
    {
        bench.there([&] {
            Udpsend_Cond c;
            c.dst_ip = "255.255.255.255";
            c.dst_port = 3956;
            c.bind_ip = "192.168.1.10";
            ZRU_BroadcastSocket s(c);
            s.send(bytes);
        });
    }
};

#define NEED_RIG(rig, ...)                                                            \
    Rig rig{__VA_ARGS__};                                                             \
    if (!rig.ok())                                                                    \
        GTEST_SKIP() << "no right to make network namespaces and a veth pair";

}  // namespace

TEST(UdpACamTest, DiscoveryFindsTheDeviceWithItsCard)
{
    NEED_RIG(rig);
    EXPECT_EQ(rig.server->cards().size(), 1);  // "lo" is skipped
    QMap<QString, gvcp_discover_ack_payload> found;
    ASSERT_TRUE(rig.bench.there([&] { found = rig.client->findCamera(); }));
    ASSERT_EQ(found.size(), 1);
    const gvcp_discover_ack_payload p = found.first();
    EXPECT_EQ(found.firstKey(), rig.server->serviceId());
    EXPECT_EQ(p.address(), QStringLiteral("192.168.2.20"));
    EXPECT_EQ(p.mask(), QStringLiteral("255.255.255.0"));
    EXPECT_EQ(p.requester(), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(p.model(), QStringLiteral("ZEQ-QX417-88KT"));
    EXPECT_EQ(p.mac().toUpper(), QNetworkInterface::interfaceFromName(QStringLiteral("va")).hardwareAddress().toUpper());
}

TEST(UdpACamTest, ForceIpMovesAStrangerThroughTheRunner)
{
    NEED_RIG(rig);
    ASSERT_TRUE(rig.bench.there([&] { rig.client->findCamera(); }));
    ASSERT_EQ(rig.client->found().size(), 1);
    CommandRunner::instance().clearRecorded();
    ASSERT_TRUE(rig.bench.there([&] { rig.client->ActForceIP(); }));
    ASSERT_TRUE(nettest::waitUntil([] { return recordedCommandLines().size() >= 4; }, 10000));
    EXPECT_EQ(recordedCommandLines(), (QStringList{"ip addr flush dev va", "ip route flush table main",
                                            "ifconfig va 192.168.1.11 netmask 255.255.255.0",
                                            "route add default gw 192.168.1.11"}));
    // The acknowledgement carries the card as it now stands (unchanged in simulation).
    EXPECT_EQ(rig.client->found().first().address(), QStringLiteral("192.168.2.20"));
}

TEST(UdpACamTest, UnsoundOrForeignForceIpChangesNothing)
{
    NEED_RIG(rig);
    testsupport::LogCapture log;
    CommandRunner::instance().clearRecorded();
    const QByteArray id = rig.server->serviceId().toLatin1();
    QByteArray other = id;
    other[other.size() - 1] = other.back() == '0' ? '1' : '0';
    rig.sendRaw(gvcp_cmd_forceip("192.168.2.30", "255.255.255.0", "192.168.9.1", id.constData()));  // gateway elsewhere
    rig.sendRaw(gvcp_cmd_forceip("192.168.2.30", "255.0.255.0", "192.168.2.1", id.constData()));    // holed mask
    rig.sendRaw(gvcp_cmd_forceip("192.168.2.30", "255.255.255.0", "192.168.2.1", other.constData()));
    ASSERT_TRUE(nettest::waitUntil([&] { return log.count(QStringLiteral("---------------------------------")) >= 3; }, 10000));
    EXPECT_TRUE(recordedCommandLines().isEmpty());
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("force-IP refused: gateway")));
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("force-IP refused: mask")));
    EXPECT_EQ(log.count(QStringLiteral("ArmServ-Recv(gvcp_forceip_req): ") + QString::fromLatin1(other)), 1);
}

TEST(UdpACamTest, ClockActionIsCheckedAndRunsAsArgumentLists)
{
    NEED_RIG(rig);
    testsupport::LogCapture log;
    int updatedCount = 0;
    int rebootCount = 0;
    QObject::connect(rig.server.get(), &UDP_ACam_Server::sig_updatetime, [&] { ++updatedCount; });
    QObject::connect(rig.server.get(), &UDP_ACam_Server::sig_rebootdaemon, [&] { ++rebootCount; });
    CommandRunner::instance().clearRecorded();

    rig.sendRaw(gvcp_cmd_uptime(0));                        // 1970: refused
    rig.sendRaw(gvcp_cmd_uptime(4102444800000LL + 1000));  // past 2100: refused
    ASSERT_TRUE(nettest::waitUntil([&] { return log.count(QStringLiteral("update-time refused")) == 2; }, 10000));
    EXPECT_TRUE(recordedCommandLines().isEmpty());
    EXPECT_EQ(updatedCount, 0);

    const qint64 when = QDateTime(QDate(2030, 5, 6), QTime(7, 8, 9)).toMSecsSinceEpoch();
    rig.sendRaw(gvcp_cmd_uptime(when));
    ASSERT_TRUE(nettest::waitUntil([&] { return updatedCount == 1; }, 10000));
    EXPECT_EQ(recordedCommandLines(), (QStringList{"cp /usr/share/zoneinfo/Asia/Shanghai /etc/localtime",
                                            "date -s 20300506 07:08:09", "hwclock --systohc"}));
    const QList<platform::RecordedCommand> cmds = CommandRunner::instance().recorded();
    ASSERT_EQ(cmds.size(), 3);
    EXPECT_EQ(cmds[1].args, (QStringList{"-s", "20300506 07:08:09"}));  // one argument, no shell

    // A failed "date" leaves the hardware clock alone.
    CommandRunner::instance().clearRecorded();
    CommandRunner::instance().setChangeExitCode(QStringLiteral("date"), 1);
    rig.sendRaw(gvcp_cmd_uptime(when));
    ASSERT_TRUE(nettest::waitUntil([&] { return log.count(QStringLiteral("\"date -s")) == 1; }, 10000));
    CommandRunner::instance().clearChangeExitCodes();
    EXPECT_FALSE(recordedCommandLines().contains(QStringLiteral("hwclock --systohc")));
    EXPECT_EQ(updatedCount, 1);

    // Action 3 and a foreign key are ignored; action 2 reports a reboot.
    std::string three = gvcp_cmd_rebootdaemon();
    three[8] = 3;
    rig.sendRaw(three);
    std::string foreign = gvcp_cmd_rebootdaemon();
    foreign[0] = 0x43;
    rig.sendRaw(foreign);
    rig.sendRaw(gvcp_cmd_rebootdaemon());
    ASSERT_TRUE(nettest::waitUntil([&] { return rebootCount >= 1; }, 10000));
    nettest::spin(300);
    EXPECT_EQ(rebootCount, 1);
}

TEST(UdpACamTest, RebootRequestGoesIntoTheDevicesNetworkOnly)
{
    NEED_RIG(rig, QStringLiteral("192.168.1.20/24"));
    testsupport::LogCapture log;
    int rebootCount = 0;
    QObject::connect(rig.server.get(), &UDP_ACam_Server::sig_rebootdaemon, [&] { ++rebootCount; });
    ASSERT_TRUE(rig.bench.there([&] { rig.client->ActRebootDaemon(QStringLiteral("VC_#nobody")); }));
    EXPECT_TRUE(log.contains(QStringLiteral("Reboot Orvale error!")));
    ASSERT_TRUE(rig.bench.there([&] { rig.client->findCamera(); }));
    ASSERT_TRUE(rig.bench.there([&] { rig.client->ActRebootDaemon(rig.server->serviceId()); }));
    ASSERT_TRUE(nettest::waitUntil([&] { return rebootCount == 1; }, 10000));
}
