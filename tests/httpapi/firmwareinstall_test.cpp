// Installing an uploaded firmware package: only a package whose digest is
// the one sent (or none sent) is put in place, whole; a refused upload's
// cache file goes; a failed install keeps the old package and leaves no
// temporary file.
#include "httpapi/firmwareinstall.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

using testsupport::ScratchDir;
using R = FirmwareInstall::Result;

namespace {

QString md5sum(const QString& path)
{
    QProcess p;
    p.start("md5sum", {path});
    p.waitForFinished(10000);
    return QString::fromLatin1(p.readAllStandardOutput()).section(' ', 0, 0);
}

QByteArray packageBytes(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = char((i * 131) ^ (i >> 8));
    return b;
}

struct Fixture {
    ScratchDir dir;
    Fixture() { platform::DataRoot::setRoot(dir.path()); }
    QString upload(const QByteArray& bytes) const { return dir.write("userdata/tmp/upload_1", bytes); }
    QString package() const { return platform::DataRoot::path("/root/newupdate.tar"); }
    QStringList rootFiles() const
    {
        return QDir(platform::DataRoot::path("/root/")).entryList(QDir::Files | QDir::Hidden);
    }
};

}  // namespace

TEST(FirmwareInstallTest, OnlyTheDigestSentExactlyInstalls)
{
    const QByteArray bytes = packageBytes(100000);
    Fixture f;
    const QString probe = f.upload(bytes);
    const QString digest = md5sum(probe);
    ASSERT_EQ(digest.size(), 32);
    ASSERT_EQ(QString::fromLatin1(FirmwareInstall::md5Hex(probe)), digest);

    const struct {
        QString check;
        R result;
    } cases[] = {
        {digest, R::Installed},
        {"", R::Installed},  // no check sent: accepted (the reply says so)
        {digest.toUpper(), R::DigestMismatch},
        {QString(32, '0'), R::DigestMismatch},
        {"digest=" + digest, R::DigestMismatch},
        {"%" + QString::number(digest.at(0).unicode(), 16) + digest.mid(1), R::DigestMismatch},
        {digest + " ", R::DigestMismatch},
    };
    for (const auto& c : cases) {
        Fixture g;
        const QString cache = g.upload(bytes);
        testsupport::LogCapture log;
        EXPECT_EQ(FirmwareInstall::install(cache, c.check), c.result) << c.check.toStdString();
        EXPECT_FALSE(QFile::exists(cache)) << "the cache file never stays: " << c.check.toStdString();
        if (c.result == R::Installed) {
            EXPECT_EQ(md5sum(g.package()), digest);
            EXPECT_EQ(g.rootFiles(), QStringList{"newupdate.tar"});
            EXPECT_TRUE(log.contains("更新文件接收完成,相机将重新启动"));
        } else {
            EXPECT_FALSE(QFile::exists(g.package()));
            EXPECT_TRUE(log.count("计算哈希值时出错-1") == 1) << c.check.toStdString();
            EXPECT_EQ(FirmwareInstall::refusalText(c.result), "文件接收异常-校验文件完整性未通过");
        }
    }
}

TEST(FirmwareInstallTest, NoUploadEmptyUploadAndGoneUploadAreRefused)
{
    Fixture f;
    EXPECT_EQ(FirmwareInstall::install("", ""), R::NoUpload);
    EXPECT_EQ(FirmwareInstall::refusalText(R::NoUpload), "文件接收异常-1");
    const QString empty = f.upload(QByteArray());
    EXPECT_EQ(FirmwareInstall::install(empty, ""), R::NoUpload);
    EXPECT_FALSE(QFile::exists(empty));
    EXPECT_EQ(FirmwareInstall::install(f.dir.file("userdata/tmp/gone"), ""), R::Missing);
    EXPECT_EQ(FirmwareInstall::refusalText(R::Missing), "文件接收异常-2");
    EXPECT_FALSE(QFile::exists(f.package()));
}

TEST(FirmwareInstallTest, AnInstallThatCannotBeFinishedKeepsTheOldPackage)
{
    Fixture f;
    const QByteArray old = "old package";
    f.dir.write("root/newupdate.tar", old);
    const QString cache = f.upload(packageBytes(5000));
    const QString check = QString::fromLatin1(FirmwareInstall::md5Hex(cache));
    // A wrong digest leaves the old package in place.
    EXPECT_EQ(FirmwareInstall::install(cache, QString(32, 'a')), R::DigestMismatch);
    EXPECT_EQ(f.dir.read("root/newupdate.tar"), old);

    // The package's place is taken by a folder with content: the rename fails.
    QFile::remove(f.package());
    QDir().mkpath(f.package() + "/x");
    const QString cache2 = f.upload(packageBytes(5000));
    testsupport::LogCapture log;
    EXPECT_EQ(FirmwareInstall::install(cache2, check), R::InstallFailed);
    EXPECT_EQ(FirmwareInstall::refusalText(R::InstallFailed), "文件接收异常-2");
    EXPECT_EQ(f.rootFiles(), QStringList()) << "no temporary file stays";
    EXPECT_FALSE(QFile::exists(cache2));
    EXPECT_GE(log.count("[UPDATE] install failed"), 1);
}
