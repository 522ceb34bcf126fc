#include "identity/deviceidentity.h"

#include "platform/system/commandrunner.h"
#include "platform/system/dataroot.h"
#include "platform/system/deviceidentitysources.h"
#include "support/scratchdir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using platform::CommandRunner;
using platform::DeviceIdentitySources;

const char kCpuinfoNoSerial[] =
    "processor\t: 0\n"
    "BogoMIPS\t: 48.00\n"
    "Features\t: fp asimd evtstrm aes pmull sha1 sha2 crc32\n"
    "\n"
    "Hardware\t: Generic DT based system\n";

// cpuinfo answered from a scratch file, blkid from a fixture.
class DeviceIdentityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeviceIdentitySources::setFixedDeviceId(QString());
        CommandRunner::instance().clearQueryAnswers();
        CommandRunner::instance().clearRecorded();
    }

    void TearDown() override
    {
        DeviceIdentitySources::setCpuinfoPath(QStringLiteral("/proc/cpuinfo"));
        DeviceIdentitySources::setFixedDeviceId(QString());
        CommandRunner::instance().clearQueryAnswers();
    }

    // A null cpuinfo means the file does not exist.
    void given(const char* cpuinfo, const char* blkid)
    {
        const QString path = m_dir.file(QStringLiteral("cpuinfo"));
        QFile::remove(path);
        if (cpuinfo)
            m_dir.write(QStringLiteral("cpuinfo"), QByteArray(cpuinfo));
        DeviceIdentitySources::setCpuinfoPath(path);
        CommandRunner::instance().clearQueryAnswers();
        if (blkid)
            CommandRunner::instance().setQueryAnswer(QStringLiteral("blkid"), QByteArray(blkid));
        CommandRunner::instance().clearRecorded();
    }

    static bool blkidRan()
    {
        for (const platform::RecordedCommand& c : CommandRunner::instance().recorded())
            if (c.program == QLatin1String("blkid"))
                return true;
        return false;
    }

    testsupport::ScratchDir m_dir;
};

const char kExt4Line[] =
    "/dev/mmcblk0p6: LABEL=\"userdata\" UUID=\"614e0f8c-65b4-4a24-9d1e-3c0b7a5e2f11\" "
    "TYPE=\"ext4\"\n";

struct IdCase {
    const char* name;
    const char* cpuinfo;  // null: no cpuinfo file
    const char* blkid;    // null: blkid gives nothing
    const char* id;       // null: the clock text
    bool blkidAsked;
};

TEST_F(DeviceIdentityTest, DerivesTheIdFromSerialThenExt4UuidThenClock)
{
    const QByteArray noSerial(kCpuinfoNoSerial);
    const QByteArray withSerial = noSerial + "Serial\t\t: 00000000abcd1234\n";
    const QByteArray twoSerials = withSerial + "Serial\t\t: 1111222233334444\n";
    const QByteArray dashSerial = noSerial + "Serial\t\t: abcd-\n";
    const QByteArray uuidSerial = noSerial + "Serial\t\t: 0a1b-77;88\n";
    const QByteArray twoExt4 = QByteArray(kExt4Line)
        + "/dev/mmcblk0p7: UUID=\"0c4f3b2a-1111-2222-3333-aabbccddeeff\" TYPE=\"ext4\" "
          "PARTUUID=\"5f1c-07\"\n";

    const IdCase cases[] = {
        {"serial line", withSerial.constData(), kExt4Line, "00000000abcd1234", false},
        {"last serial line wins", twoSerials.constData(), nullptr, "1111222233334444", false},
        {"serial: last group, no ';'", uuidSerial.constData(), nullptr, "7788", false},
        {"ext4 UUID", kCpuinfoNoSerial, kExt4Line, "3c0b7a5e2f11", true},
        {"two ext4 lines: the second", kCpuinfoNoSerial, twoExt4.constData(), "aabbccddeeff", true},
        {"vfat is ignored", kCpuinfoNoSerial,
         "/dev/mmcblk0p1: UUID=\"12AB-34CD\" TYPE=\"vfat\" PARTUUID=\"00-01\"\n", nullptr, true},
        {"SEC_TYPE and TYPE is ignored", kCpuinfoNoSerial,
         "/dev/sda1: SEC_TYPE=\"msdos\" UUID=\"614e0f8c-65b4-4a24-9d1e-3c0b7a5e2f11\" TYPE=\"ext4\"\n",
         nullptr, true},
        {"only PARTUUID is no UUID", kCpuinfoNoSerial,
         "/dev/sda2: TYPE=\"ext4\" PARTUUID=\"614e0f8c-65b4-4a24-9d1e-3c0b7a5e2f11\"\n", nullptr, true},
        {"vfat then ext4", kCpuinfoNoSerial,
         "/dev/mmcblk0p1: SEC_TYPE=\"msdos\" UUID=\"12AB-34CD\" TYPE=\"vfat\"\n"
         "/dev/mmcblk0p6: UUID=\"614e0f8c-65b4-4a24-9d1e-3c0b7a5e2f11\" TYPE=\"ext4\"\n",
         "3c0b7a5e2f11", true},
        {"output after a NUL is not read", kCpuinfoNoSerial,
         "/dev/loop0: TYPE=\"squashfs\"\n\0/dev/sda1: UUID=\"a-b\" TYPE=\"ext4\"\n", nullptr, true},
        {"no serial, no blkid", kCpuinfoNoSerial, nullptr, nullptr, true},
        {"empty serial id falls to blkid", dashSerial.constData(), kExt4Line, "3c0b7a5e2f11", true},
        {"empty serial id falls to the clock", dashSerial.constData(), nullptr, nullptr, true},
        {"no cpuinfo: the clock at once", nullptr, kExt4Line, nullptr, false},
    };
    static const QRegularExpression clockText(QStringLiteral("^\\d{13}$"));
    for (const IdCase& c : cases) {
        given(c.cpuinfo, c.blkid);
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const QString id = getlocal_deviceid();
        const qint64 after = QDateTime::currentMSecsSinceEpoch();
        if (c.id) {
            EXPECT_EQ(id, QString::fromLatin1(c.id)) << c.name;
        } else {
            EXPECT_TRUE(clockText.match(id).hasMatch()) << c.name << ": " << id.toStdString();
            EXPECT_GE(id.toLongLong(), before) << c.name;
            EXPECT_LE(id.toLongLong(), after) << c.name;
        }
        EXPECT_EQ(blkidRan(), c.blkidAsked) << c.name;
    }
}

TEST_F(DeviceIdentityTest, FixedIdReplacesTheDerivation)
{
    given(kCpuinfoNoSerial, kExt4Line);
    DeviceIdentitySources::setFixedDeviceId(QStringLiteral("sim-camera-2"));
    EXPECT_EQ(getlocal_deviceid(), QStringLiteral("sim-camera-2"));
    EXPECT_FALSE(blkidRan());
}

TEST_F(DeviceIdentityTest, BlkidUuidIsTheWholeUuid)
{
    given(kCpuinfoNoSerial, kExt4Line);
    EXPECT_EQ(found_diskuuid_by_blkid(), QStringLiteral("614e0f8c-65b4-4a24-9d1e-3c0b7a5e2f11"));
}

TEST_F(DeviceIdentityTest, FstabUuidPrefersTheAssignedFile)
{
    const QString assign = platform::DataRoot::path(QStringLiteral("/etc/assign_uuid"));
    const QString fstab = platform::DataRoot::path(QStringLiteral("/etc/fstab"));
    QDir().mkpath(QFileInfo(fstab).absolutePath());
    auto write = [](const QString& path, const QByteArray& data) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(data);
    };

    QFile::remove(assign);
    QFile::remove(fstab);
    EXPECT_EQ(found_diskuuid_by_etc_fstab(), QString());

    write(fstab,
          "# <fs> <mount> <type>\n"
          "UUID=1111-2222 /boot vfat defaults 0 0\n"
          "UUID=aaaa-bbbb / ext4 defaults 0 1\n"
          "UUID=cccc-dddd /userdata ext4 defaults 0 2\n");
    EXPECT_EQ(found_diskuuid_by_etc_fstab(), QStringLiteral("cccc-dddd"));

    write(assign, "eeee-ffff\n");
    EXPECT_EQ(found_diskuuid_by_etc_fstab(), QStringLiteral("eeee-ffff"));

    QFile::remove(assign);
    QFile::remove(fstab);
}

}  // namespace
