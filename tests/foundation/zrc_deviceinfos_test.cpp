#include "foundation/zrc_deviceinfos.h"

#include <QStringList>
#include "support/logcapture.h"

#include <gtest/gtest.h>

namespace {

DeviceNetInfo cam(const char* id, const char* addr, int role)
{
    return DeviceNetInfo(QString::fromLatin1(id), QString::fromLatin1(addr), role);
}

TEST(CamCfgText, WriterAndReaderRoundTrip)
{
    const char* texts[] = {
        "(M1);(io7;192.168.1.50);(C1;192.168.1.10);(C2;192.168.1.11;C3;192.168.1.12)",
        "(M1);();(C1;192.168.1.10);()",
        "();();();()",
        "();(io7;192.168.1.50);();(C2;192.168.1.11)",
    };
    for (const char* t : texts) {
        ZRC_DeviceInfos info;
        ASSERT_TRUE(ParseStr2CamCfg(QString::fromLatin1(t), info)) << t;
        EXPECT_EQ(MakeCamCfg2Str(info), QString::fromLatin1(t));
    }
}

TEST(CamCfgText, ReadsTheExampleGroup)
{
    ZRC_DeviceInfos info;
    ASSERT_TRUE(ParseStr2CamCfg(
        QStringLiteral("(M1);(io7;192.168.1.50);(C1;192.168.1.10);(C2;192.168.1.11;C3;192.168.1.12)"), info));
    EXPECT_EQ(info.machine_id, QStringLiteral("M1"));
    EXPECT_EQ(info.io_uuid, QStringLiteral("io7"));
    EXPECT_EQ(info.io_address, QStringLiteral("192.168.1.50"));
    EXPECT_EQ(info.cameras, (QList<DeviceNetInfo>{cam("C1", "192.168.1.10", 1), cam("C2", "192.168.1.11", 0),
                                                  cam("C3", "192.168.1.12", 0)}));
    EXPECT_TRUE(info.cfg_text.isEmpty());
    EXPECT_EQ(info.group_state, -1);
}

struct ParseCase {
    const char* text;
    bool ok;
    const char* machine;
    const char* ioUuid;
    const char* ioAddress;
    QList<DeviceNetInfo> cameras;
};

TEST(CamCfgText, PartialAndMalformedGroups)
{
    const ParseCase cases[] = {
        // an odd number of sub-camera parts gives no sub cameras
        {"(M1);(io7;192.168.1.50);(C1;192.168.1.10);(C2;a;C3)", true, "M1", "io7", "192.168.1.50",
         {cam("C1", "192.168.1.10", 1)}},
        // one IO part leaves the IO module empty; three main parts give no main camera
        {"(M1);(io7);(C1;a;b);(C2;a)", true, "M1", "", "", {cam("C2", "a", 0)}},
        // empty parts are kept as they are
        {"(M1);(;);(;);(;)", true, "M1", "", "", {cam("", "", 1), cam("", "", 0)}},
        // text around the four groups is ignored
        {"<x(M1);();();()y>", true, "M1", "", "", {}},
        {"(M1);(io7;192.168.1.50);(C1;192.168.1.10)", false, "", "", "", {}},
        {"", false, "", "", "", {}},
        {"M1;io7;C1;C2", false, "", "", "", {}},
        {"(M1)(io7)(C1)(C2)", false, "", "", "", {}},
        {"(M1);(io7;1.2.3.4);(C1;1.2.3.5);(C2;1.2.3.6", false, "", "", "", {}},
    };
    for (const ParseCase& c : cases) {
        ZRC_DeviceInfos info;
        info.machine_id = QStringLiteral("untouched");
        info.group_state = 5;
        info.cfg_text = QStringLiteral("old");
        info.cameras.append(cam("OLD", "9.9.9.9", 1));
        const bool ok = ParseStr2CamCfg(QString::fromLatin1(c.text), info);
        ASSERT_EQ(ok, c.ok) << c.text;
        if (!ok) {
            EXPECT_EQ(info.machine_id, QStringLiteral("untouched")) << c.text;
            EXPECT_EQ(info.cameras, QList<DeviceNetInfo>{cam("OLD", "9.9.9.9", 1)}) << c.text;
            EXPECT_EQ(info.group_state, 5) << c.text;
            continue;
        }
        EXPECT_EQ(info.machine_id, QString::fromLatin1(c.machine)) << c.text;
        EXPECT_EQ(info.io_uuid, QString::fromLatin1(c.ioUuid)) << c.text;
        EXPECT_EQ(info.io_address, QString::fromLatin1(c.ioAddress)) << c.text;
        EXPECT_EQ(info.cameras, c.cameras) << c.text;
        EXPECT_EQ(info.group_state, -1) << c.text;
        EXPECT_TRUE(info.cfg_text.isEmpty()) << c.text;
    }
}

TEST(CamCfgText, OversizedTextIsRefused)
{
    ZRC_DeviceInfos info;
    const QString text = QStringLiteral("(M1);();();(") + QString(20000, QLatin1Char('x')) + QStringLiteral(")");
    EXPECT_FALSE(ParseStr2CamCfg(text, info));
    EXPECT_TRUE(info.machine_id.isEmpty());
}

TEST(CamCfgText, DuplicateIdIsKeptWithAWarning)
{
    testsupport::LogCapture log;
    ZRC_DeviceInfos distinct;
    const bool okDistinct = ParseStr2CamCfg(QStringLiteral("(M1);();(C1;a);(C2;b)"), distinct);
    const int warningsForDistinct = log.warnings().size();
    ZRC_DeviceInfos twice;
    const bool okTwice = ParseStr2CamCfg(QStringLiteral("(M1);();(C1;a);(C2;b;C1;c)"), twice);
    const QStringList warnings = log.warnings();

    EXPECT_TRUE(okDistinct);
    EXPECT_EQ(warningsForDistinct, 0);
    ASSERT_TRUE(okTwice);
    EXPECT_EQ(twice.cameras, (QList<DeviceNetInfo>{cam("C1", "a", 1), cam("C2", "b", 0), cam("C1", "c", 0)}));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("C1")));
}

TEST(CamCfgText, WriterLeavesOutIncompleteMembers)
{
    ZRC_DeviceInfos info;
    info.machine_id = QStringLiteral("M1");
    info.io_uuid = QStringLiteral("io7");  // no address: no IO module written
    info.cameras = {cam("", "192.168.1.10", 1), cam("C2", "", 0), cam("C3", "10.0.0.3", -1),
                    cam("C4", "10.0.0.4", 0)};
    EXPECT_EQ(MakeCamCfg2Str(info), QStringLiteral("(M1);();();(C3;10.0.0.3;C4;10.0.0.4)"));
}

TEST(DeviceInfos, MainSubsAndPositions)
{
    ZRC_DeviceInfos info;
    EXPECT_FALSE(info.getMain().hasValue());
    info.cameras = {cam("A", "1", 1), cam("B", "2", 0), cam("C", "3", 1), cam("D", "4", -1), cam("B", "5", 0)};
    ASSERT_TRUE(info.getMain().hasValue());
    EXPECT_EQ(info.getMain().getValue(), cam("C", "3", 1));  // the last main camera
    EXPECT_EQ(info.getSUBS(), (QList<DeviceNetInfo>{cam("B", "2", 0), cam("D", "4", -1), cam("B", "5", 0)}));
    EXPECT_EQ(info.getAbsIndex_ByID(QStringLiteral("B")), 1);
    EXPECT_EQ(info.getAbsIndex_ByID(QStringLiteral("D")), 3);
    EXPECT_EQ(info.getAbsIndex_ByID(QStringLiteral("Z")), -1);
}

}  // namespace
