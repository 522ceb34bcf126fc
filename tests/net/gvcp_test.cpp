// The discovery datagrams byte for byte, their parser, the force-IP plan
// and the checks that guard the unauthenticated commands.
#include "net/discovery/gvcp.h"
#include "net/discovery/udp_acam_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>

namespace {

QByteArray hex(const char* h) { return QByteArray::fromHex(h); }
QByteArray bytes(const std::string& s) { return QByteArray::fromStdString(s); }
QByteArray field(const char* text, int width)
{
    QByteArray b(text);
    return b + QByteArray(width - b.size(), '\0');
}
quint32 addr(const char* t) { return ::inet_addr(t); }

const char* kId = "VC_#1a2b3c4d_#20260101_120000123";  // 32 characters

}  // namespace

TEST(GvcpTest, DiscoveryAcknowledgementByteForByte)
{
    const QByteArray ack = bytes(gvcp_ack_discover(kId, "192.168.1.10", "192.168.1.20", "255.255.255.0",
                                                   "192.168.1.1", "00:1A:2B:3C:4D:5E"));
    QByteArray want = hex("0000000300d80001");
    want += hex("001a2b3c4d5e0000");
    want += hex("c0a8010a") + hex("c0a80114") + hex("ffffff00") + hex("c0a80101");
    want += field("GEV", 32) + field("ZEQ-QX417-88KT", 32) + field("V2.8.6 180210 143913", 32)
            + field("ZEQ MONITOR", 32) + QByteArray(16, '\0') + QByteArray(kId) + QByteArray(16, '\0');
    ASSERT_EQ(want.size(), 224);
    EXPECT_EQ(ack.toHex(), want.toHex());
}

TEST(GvcpTest, ForceIpAcknowledgementByteForByte)
{
    const QByteArray ack = bytes(gvcp_ack_forceip(kId, "10.0.0.1", "10.0.0.7", "255.0.0.0", "10.0.0.254",
                                                  "aa:bb:cc:dd:ee:ff"));
    QByteArray want = hex("0000000500380001") + hex("aabbccddeeff0000") + hex("0a000001") + hex("0a000007")
                      + hex("ff000000") + hex("0a0000fe") + QByteArray(kId);
    ASSERT_EQ(want.size(), 64);
    EXPECT_EQ(ack.toHex(), want.toHex());
}

TEST(GvcpTest, ActionAcknowledgementsAndCommandsByteForByte)
{
    // 0x0102030405060708 ms, little-endian in the payload.
    const qint64 t = 0x0102030405060708LL;
    EXPECT_EQ(bytes(gvcp_ack_updatetime(t)).toHex(), QByteArray("0000008300100001" "01000000" "00000000" "0807060504030201"));
    EXPECT_EQ(bytes(gvcp_ack_rebootdaemon(t)).toHex(), QByteArray("0000008300100001" "02000000" "00000000" "0807060504030201"));
    EXPECT_EQ(bytes(gvcp_cmd_discover()).toHex(), QByteArray("4211000200000001"));
    EXPECT_EQ(bytes(gvcp_cmd_uptime(t)).toHex(), QByteArray("4211008200100001" "01000000" "00000000" "0807060504030201"));
    EXPECT_EQ(bytes(gvcp_cmd_rebootdaemon()).toHex(), QByteArray("4211008200100001" "02000000" "0000000000000000" "00000000"));
    const QByteArray force = bytes(gvcp_cmd_forceip("192.168.1.11", "255.255.255.0", "192.168.1.11", kId));
    EXPECT_EQ(force.toHex(), (hex("4211000400380001") + QByteArray(12, '\0') + hex("c0a8010b") + hex("ffffff00")
                              + hex("c0a8010b") + QByteArray(kId))
                                 .toHex());
}

TEST(GvcpTest, ParserCutsHeaderAndPayload)
{
    EXPECT_EQ(parseGvcp(hex("42110002000000"), true).kind, GvcpDatagram::Short);
    EXPECT_EQ(parseGvcp(hex("4311000200000001"), true).kind, GvcpDatagram::ForeignKey);
    EXPECT_EQ(parseGvcp(hex("4311000300000001"), false).kind, GvcpDatagram::Parsed);

    // A force-IP declaring 1000 payload bytes is read as its first 56.
    QByteArray cmd = bytes(gvcp_cmd_forceip("10.1.2.3", "255.255.0.0", "10.1.0.1", kId));
    cmd[4] = char(0x03);
    cmd[5] = char(0xe8);
    cmd += QByteArray(100, 'x');
    const GvcpDatagram d = parseGvcp(cmd, true);
    ASSERT_EQ(d.kind, GvcpDatagram::Parsed);
    EXPECT_EQ(d.code, gvcp::kCmdForceIp);
    EXPECT_EQ(d.payloadLength, 1000);
    const QByteArray record = gvcpRecord(d, gvcp::kForceIpPayload);
    EXPECT_EQ(record, cmd.mid(8, 56));
    const GvcpForceIp f = gvcpForceIpOf(record);
    EXPECT_EQ(f.address, addr("10.1.2.3"));
    EXPECT_EQ(f.mask, addr("255.255.0.0"));
    EXPECT_EQ(f.gateway, addr("10.1.0.1"));
    EXPECT_EQ(f.targetId, QString::fromLatin1(kId));  // 32 characters, no terminator

    // A short declared length leaves the rest of the record zero.
    QByteArray act = bytes(gvcp_cmd_uptime(123456789));
    act[5] = char(4);
    const GvcpAction a = gvcpActionOf(gvcpRecord(parseGvcp(act, true), gvcp::kActionPayload));
    EXPECT_EQ(a.action, 1u);
    EXPECT_EQ(a.timeMs, 0);
}

TEST(GvcpTest, NextFreeAddressWrapsPastTheTop)
{
    struct Row {
        const char* candidate;
        QStringList used;
        const char* want;
    };
    const QList<Row> rows = {
        {"192.168.1.252", {"192.168.1.252"}, "192.168.1.253"},
        {"192.168.1.253", {"192.168.1.253"}, "192.168.1.1"},
        {"192.168.1.255", {"192.168.1.255"}, "192.168.1.3"},
        {"192.168.1.10", {"192.168.1.10", "192.168.1.11"}, "192.168.1.12"},
        {"192.168.1", {}, ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(nextFreeAddress(QString::fromLatin1(r.candidate), r.used), QString::fromLatin1(r.want)) << r.candidate;
    QStringList all;
    for (int i = 0; i <= 255; ++i)
        all << QStringLiteral("10.0.0.%1").arg(i);
    EXPECT_TRUE(nextFreeAddress(QStringLiteral("10.0.0.5"), all).isEmpty());
}

TEST(GvcpTest, ForceIpSettingsAreCheckedBeforeUse)
{
    struct Row {
        const char* ip;
        const char* mask;
        const char* gateway;
        bool sound;
    };
    const QList<Row> rows = {
        {"192.168.1.11", "255.255.255.0", "192.168.1.11", true},
        {"10.2.3.4", "255.0.0.0", "10.0.0.1", true},
        {"192.168.1.11", "255.0.255.0", "192.168.1.1", false},    // mask with a hole
        {"192.168.1.11", "0.0.0.0", "192.168.1.1", false},       // no mask
        {"192.168.1.11", "255.255.255.255", "192.168.1.11", false},
        {"0.0.0.0", "255.255.255.0", "0.0.0.1", false},
        {"127.0.0.5", "255.0.0.0", "127.0.0.1", false},
        {"224.0.0.9", "255.255.255.0", "224.0.0.1", false},
        {"255.255.255.255", "255.255.255.0", "192.168.1.1", false},
        {"192.168.1.0", "255.255.255.0", "192.168.1.1", false},   // network address
        {"192.168.1.255", "255.255.255.0", "192.168.1.1", false}, // broadcast address
        {"192.168.1.11", "255.255.255.0", "192.168.2.1", false},  // gateway elsewhere
        {"192.168.1.11", "255.255.255.0", "192.168.1.255", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(forceIpRefusal(addr(r.ip), addr(r.mask), addr(r.gateway)).isEmpty(), r.sound) << r.ip << " " << r.mask;
}

TEST(GvcpTest, ForceIpPlanMovesStrangersAndClashesOnly)
{
    auto device = [](const char* id, const char* requester, const char* ip, const char* mask) {
        gvcp_discover_ack_payload p;
        const std::string ack = gvcp_ack_discover(id, requester, ip, mask, "0.0.0.0", "00:00:00:00:00:01");
        std::memcpy(p.bytes.data(), ack.data() + 8, p.bytes.size());
        return p;
    };
    QMap<QString, DeviceNetInfo_Detail> cards;
    DeviceNetInfo_Detail host;
    host.ifname = QStringLiteral("eth0");
    host.ip = QStringLiteral("192.168.1.10");
    host.netmask = QStringLiteral("255.255.255.0");
    host.mac = QStringLiteral("AA:00:00:00:00:01");
    cards.insert(host.mac, host);

    QMap<QString, gvcp_discover_ack_payload> found;
    found.insert("A", device("A", "192.168.1.10", "192.168.2.20", "255.255.255.0"));  // other network
    found.insert("B", device("B", "192.168.1.10", "192.168.1.10", "255.255.255.0"));  // the host's own address
    found.insert("C", device("C", "192.168.1.10", "192.168.1.50", "255.255.255.0"));  // unique: untouched
    found.insert("D", device("D", "192.168.9.9", "192.168.1.60", "255.255.255.0"));   // no such host card
    const QList<ForceIpPlan> plan = UDP_ACam_Client::planForceIp(found, cards);
    ASSERT_EQ(plan.size(), 2);
    EXPECT_EQ(plan[0].serviceId, QStringLiteral("A"));
    EXPECT_EQ(plan[0].address, QStringLiteral("192.168.1.11"));
    EXPECT_EQ(plan[0].mask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(plan[0].requester, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(plan[1].serviceId, QStringLiteral("B"));
    EXPECT_EQ(plan[1].address, QStringLiteral("192.168.1.12"));
}
