#include "foundation/publictools.h"

#include "support/scratchdir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

// ---- Heartbeat tick -----------------------------------------------------------

struct TickCase {
    qint64 ms;
    int tick;
};

TEST(HeartbeatTick, IsTenMillisecondStepsModuloOneBillion)
{
    const TickCase cases[] = {
        {0, 0},
        {9, 0},
        {10, 1},
        {1700000000123, 12},            // 170000000012 mod 10^9
        {9999999999, 999999999},        // last tick before the wrap
        {10000000000, 0},               // the wrap
        {10000000019, 1},
        {1734567891234, 456789123},
    };
    for (const TickCase& c : cases)
        EXPECT_EQ(heartbeatTickFromMs(c.ms), c.tick) << "ms " << c.ms;
}

struct AliveCase {
    int now;
    int last;
    int limitMs;
    bool alive;
};

TEST(HeartbeatTick, LivenessRuleAcrossTheWrap)
{
    const int beforeWrap = heartbeatTickFromMs(9999999999);  // 999999999
    const int afterWrap = heartbeatTickFromMs(10000000000);  // 0
    const AliveCase cases[] = {
        {199, 0, 2000, true},
        {200, 0, 2000, false},             // 2 s without news
        {afterWrap, beforeWrap, 2000, true},  // negative difference counts as alive
        {afterWrap + 500, beforeWrap - 300, 2000, true},
        {1000, 0, 10010, true},            // a limit of 10010 ms is 1001 ticks
        {1001, 0, 10010, false},
        {50, 0, 500, false},
        {49, 0, 500, true},
    };
    for (const AliveCase& c : cases)
        EXPECT_EQ(heartbeatTickAlive(c.now, c.last, c.limitMs), c.alive)
            << "now " << c.now << " last " << c.last << " limit " << c.limitMs;
}

TEST(HeartbeatTick, CurrentTickFollowsTheClock)
{
    const int before = heartbeatTickFromMs(gettimeofday_ms());
    const int now = curtime_qint64_2_int();
    const int after = heartbeatTickFromMs(gettimeofday_ms());
    if (after < before)
        GTEST_SKIP() << "the tick wrapped during the test";
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
}

TEST(TimeBase, MicrosecondsAgreeWithMilliseconds)
{
    const qint64 before = gettimeofday_ms();
    const qint64 us = gettimeofday_us();
    const qint64 after = gettimeofday_ms();
    EXPECT_GE(us / 1000, before);
    EXPECT_LE(us / 1000, after);
}

// ---- Identifiers and versions ----------------------------------------------------

TEST(NewUuid, ShortFormIsEightLowerCaseHexDigits)
{
    static const QRegularExpression shortForm(QStringLiteral("^[0-9a-f]{8}$"));
    const QString a = new_uuid(1);
    const QString b = new_uuid(1);
    EXPECT_TRUE(shortForm.match(a).hasMatch()) << a.toStdString();
    EXPECT_TRUE(shortForm.match(b).hasMatch()) << b.toStdString();
    EXPECT_NE(a, b);
}

TEST(NewUuid, LongFormCarriesTheLocalTime)
{
    static const QRegularExpression longForm(
        QStringLiteral("^VC_#([0-9a-f]{8})_#(\\d{8}_\\d{9})$"));
    for (int kind : {0, 2, -1}) {
        const QString day = gettimeofday2str("yyyyMMdd");
        const QString id = new_uuid(kind);
        const QRegularExpressionMatch m = longForm.match(id);
        ASSERT_TRUE(m.hasMatch()) << id.toStdString();
        EXPECT_EQ(id.size(), 32);
        EXPECT_EQ(m.captured(2).size(), 18);
        const QString stampDay = m.captured(2).left(8);
        EXPECT_TRUE(stampDay == day || stampDay == gettimeofday2str("yyyyMMdd"));
    }
    EXPECT_NE(new_uuid(0), new_uuid(0));
}

struct VersionCase {
    const char* a;
    const char* b;
    int result;
};

TEST(GetLaterThanVersion, ComparesTheFirstFourNumbers)
{
    const VersionCase cases[] = {
        {"V1.0.5.29", "V1.0.5.29", 0},
        {"V1.0.5.30", "V1.0.5.29", 1},
        {"V1.0.5.29", "V1.0.5.30", -1},
        {"V1.0.5.29.1", "V1.0.5.29", 1},
        {"V1.0.5.29", "V1.0.5.29.1", -1},
        {"V1.0.5.29.1", "V1.0.5.29.7", 0},  // numbers after the fourth count only by number
        {"V1.0.5", "V1.0.5.29", -1},
        {"V1.0.5.29", "V1.0.5", -1},
        {"V2.0.0.0", "V1.9.9.9", 1},
        {"V1.10.0.0", "V1.9.0.0", 1},       // numbers, not characters
        {"Orvale 1_0_5_31 build", "V1.0.5.30", 1},
        {"", "", -1},
    };
    for (const VersionCase& c : cases)
        EXPECT_EQ(getLaterThanVersion(QString::fromLatin1(c.a), QString::fromLatin1(c.b)), c.result)
            << c.a << " vs " << c.b;
}

// ---- Texts --------------------------------------------------------------------------

struct MacCase {
    const char* text;
    int result;
    std::array<unsigned char, 6> bytes;  // expected buffer afterwards
};

TEST(String2Ethaddr, WritesOnlyAWholeValidMac)
{
    const std::array<unsigned char, 6> untouched{0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    const MacCase cases[] = {
        {"00:1a:2b:3c:4d:5e", 0, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
        {"AA:BB:CC:DD:EE:FF", 0, {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
        {"0:1:2:3:4:5", 0, {0, 1, 2, 3, 4, 5}},
        {"aa:bb:cc:dd:ee", -1, untouched},        // five parts
        {"aa:bb:cc:dd:ee:ff:00", -1, untouched},  // seven parts
        {"aa:bb:cc:dd:ee:zz", -1, untouched},     // not hexadecimal
        {"aa:bb::dd:ee:ff", -1, untouched},       // empty part
        {"aa:bb:cc:dd:ee:1ff", -1, untouched},    // more than a byte
        {"", -1, untouched},
    };
    for (const MacCase& c : cases) {
        std::array<unsigned char, 6> buf = untouched;
        EXPECT_EQ(string2ethaddr(QString::fromLatin1(c.text), buf.data()), c.result) << c.text;
        EXPECT_EQ(buf, c.bytes) << c.text;
    }
    EXPECT_EQ(string2ethaddr(QStringLiteral("00:1a:2b:3c:4d:5e"), nullptr), -1);
}

TEST(String2Ethaddr, RoundTripsThroughEthaddr2string)
{
    const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    const std::string text = ethaddr2string(mac);
    EXPECT_EQ(text, "00:1a:2b:3c:4d:5e");
    unsigned char back[6] = {};
    ASSERT_EQ(string2ethaddr(QString::fromStdString(text), back), 0);
    EXPECT_EQ(std::memcmp(mac, back, 6), 0);
}

TEST(Texts, ConversionsOfIoMasksAddressesAndLanguages)
{
    EXPECT_EQ(ChgIO_Int2ASCII(5), QStringLiteral("10100000"));
    EXPECT_EQ(ChgIO_Int2ASCII(0x1FF), QStringLiteral("11111111"));
    EXPECT_EQ(ChgIO_ASCII2Int(QStringLiteral("0101")), 10);
    EXPECT_EQ(ChgIO_ASCII2Int(QStringLiteral("1x1")), 5);
    EXPECT_EQ(ChgIO_ASCII2Int(QStringLiteral("0000000000000000000000000000000" "9")),
              int(0x80000000u));  // a digit above 1 at bit 31 keeps only what fits

    EXPECT_EQ(getSubNet(QStringLiteral("192.168.1.20"), QStringLiteral("255.255.255.0")),
              QStringLiteral("192.168.1.0"));
    EXPECT_EQ(getSubNet(QStringLiteral("192.168.1.20"), QStringLiteral("255.255.0")), QString());
    QString ip = QStringLiteral("10.0.0");
    EXPECT_FALSE(setIPLast(ip, 7));
    EXPECT_EQ(ip, QStringLiteral("10.0.0"));
    ip = QStringLiteral("10.0.0.1");
    EXPECT_TRUE(setIPLast(ip, 7));
    EXPECT_EQ(ip, QStringLiteral("10.0.0.7"));

    const QString_TL both(QStringLiteral("中文"), QStringLiteral("English"));
    const QString_TL noEnglish(QStringLiteral("中文"), QString());
    EXPECT_EQ(TRANS_LANG(QStringLiteral("en-US"), both), QStringLiteral("English"));
    EXPECT_EQ(TRANS_LANG(QStringLiteral("fr-FR"), both), QStringLiteral("中文"));
    EXPECT_EQ(TRANS_LANG(QStringLiteral("en-US"), noEnglish), QString());  // present, even empty
    EXPECT_EQ(TRANS_LANG(QStringLiteral("en-US"), QString_TL()), QString());
}

// ---- Network cards ----------------------------------------------------------------

const char kRouteHeader[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

struct RouteCase {
    const char* name;
    QByteArray body;
    bool found;
    const char* gateway;
};

TEST(GetIfAddr, GatewayIsTheFirstDefaultRouteOfTheTable)
{
    const RouteCase cases[] = {
        {"default on eth0",
         "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
         "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         true, "192.168.1.1"},
        {"default on another card, after a subnet line",
         "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
         "wlan0\t00000000\t010A000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
         "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n",
         true, "10.0.10.1"},
        {"no default route",
         "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", false, ""},
        {"malformed lines are skipped",
         "eth0\tzz\t0101A8C0\n"
         "eth0\n"
         "\n"
         "eth1\t00000000\t0201A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n",
         true, "192.168.1.2"},
    };
    for (const RouteCase& c : cases) {
        quint32 gw = 0;
        const bool found = defaultGatewayFromRouteTable(QByteArray(kRouteHeader) + c.body, &gw);
        EXPECT_EQ(found, c.found) << c.name;
        if (found) {
            EXPECT_EQ(nint2string(gw), std::string(c.gateway)) << c.name;
        }
    }
    // The header alone is never read as a route.
    EXPECT_FALSE(defaultGatewayFromRouteTable(QByteArray(kRouteHeader), nullptr));
}

TEST(GetIfAddr, ReadsTheLoopbackCardAndRefusesBadNames)
{
    char ip[32] = {};
    char mask[32] = {};
    char gateway[32] = {'x'};
    char mac[32] = {};
    ASSERT_EQ(GetIfAddr("lo", ip, mask, gateway, mac), 0);
    EXPECT_STREQ(ip, "127.0.0.1");
    EXPECT_STREQ(mask, "255.0.0.0");
    EXPECT_STREQ(mac, "00:00:00:00:00:00");
    // Either the machine's default gateway or nothing; never a leftover.
    EXPECT_TRUE(gateway[0] == '\0' || QString::fromLatin1(gateway).count('.') == 3) << gateway;

    EXPECT_EQ(GetIfAddr("no-such-card9", ip, mask, gateway, mac), -2);
    EXPECT_EQ(GetIfAddr("a-name-much-too-long-for-a-card", ip, mask, gateway, mac), -1);
    EXPECT_EQ(GetIfAddr(nullptr, ip, mask, gateway, mac), -1);
    EXPECT_EQ(GetIfAddr("lo", ip, mask, nullptr, mac), -1);
}

// ---- Files ---------------------------------------------------------------------------

TEST(FoundAllFile, ListsNestedFilesWithoutFollowingLinkLoops)
{
    testsupport::ScratchDir dir;
    dir.write(QStringLiteral("top.txt"), "a");
    dir.write(QStringLiteral("sub/inner.txt"), "b");
    dir.write(QStringLiteral("sub/deeper/last.txt"), "c");
    ASSERT_TRUE(QFile::link(dir.file(QStringLiteral("sub")), dir.file(QStringLiteral("sub/deeper/loop"))));

    QFileInfoList list;
    FoundAllFile(list, dir.path());
    QSet<QString> names;
    for (const QFileInfo& info : list) {
        EXPECT_TRUE(info.isAbsolute());
        names.insert(QDir(dir.path()).relativeFilePath(info.absoluteFilePath()));
    }
    EXPECT_EQ(names, (QSet<QString>{QStringLiteral("top.txt"), QStringLiteral("sub/inner.txt"),
                                    QStringLiteral("sub/deeper/last.txt")}));
}

}  // namespace
