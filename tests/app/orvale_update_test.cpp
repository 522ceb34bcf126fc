// Firmware updates cut short on the real camera program, on its own side of
// a veth pair:
// - the uploading client is killed while the body streams in: no package,
//   no cache file, no restart, and the program answers on;
// - the program itself is killed (by a debugger holding it at the call)
//   after the package was copied and flushed under its temporary name and
//   before the rename onto "/root/newupdate.tar": the old package is there
//   whole after a restart, and the next upload installs.
#include "orvalerun.h"
#include "support/clientrun.h"
#include "support/scratchdir.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/testlan/vethpair.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <optional>

namespace {

using apptest::OrvaleRun;
using clientrun::runClient;
using clientrun::spinUntil;

QByteArray md5Of(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(&f);
    return h.result().toHex();
}

// A package of `bytes` bytes that differs with `seed`; its MD5.
QByteArray writePackage(const QString& path, int bytes, int seed)
{
    QByteArray data(bytes, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed);
    for (int i = 0; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        data[i] = char(x);
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return {};
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

// The camera program on the device side of the pair.
struct Device {
    VethPair net;
    testsupport::ScratchDir root;
    std::unique_ptr<OrvaleRun> run;

    QString base() const { return "http://" + net.deviceAddress() + ":10414"; }
    QString package() const { return root.path() + "/root/newupdate.tar"; }
    QString cacheFolder() const { return root.path() + "/userdata/tmp"; }
    QStringList cacheFiles() const
    {
        return QDir(cacheFolder()).entryList({"mongoose_cachefile_*"}, QDir::Files | QDir::Hidden);
    }

    bool start()
    {
        run = std::make_unique<OrvaleRun>(root);
        run->setRtspPort(0);
        run->setEnv("ORVALE_HTTP_PORT", "");  // the fixed 10414: the program is alone on its side
        const QStringList command = net.deviceCommand(ORVALE_BIN);
        run->start(command.first(), command.mid(1));
        return spinUntil([&] { return answers(); }, 60000);
    }
    bool answers() const
    {
        return runClient("curl", {"-s", "-m", "5", base() + "/dide/context/heartbeat"})
               == QByteArray(R"({"code":0,"msg":"OK","result":{}})");
    }
    QStringList uploadArgs(const QString& file, const QByteArray& digest) const
    {
        return {"-s", "-m", "120", "-H", "Expect:", "-H", "Content-Type: application/octet-stream",
                "--data-binary", "@" + file, base() + "/dide/context/update_system?check=" + digest};
    }
};

}  // namespace

TEST(OrvaleUpdateTest, AnUploadWhoseClientIsKilledLeavesNoPackageNoCacheFileAndNoRestart)
{
    Device d;
    if (!d.net.ok())
        GTEST_SKIP() << "no network namespaces here: " << d.net.error().toStdString();
    ASSERT_TRUE(d.start());
    const QString file = d.root.path() + "/package.tar";
    const QByteArray digest = writePackage(file, 40 << 20, 1);
    ASSERT_FALSE(digest.isEmpty());

    QProcess curl;
    curl.start("curl", QStringList{"--limit-rate", "4M"} + d.uploadArgs(file, digest));
    ASSERT_TRUE(curl.waitForStarted(10000));
    ASSERT_TRUE(spinUntil(
        [&] {
            const QStringList files = d.cacheFiles();
            return !files.isEmpty() && QFileInfo(d.cacheFolder() + "/" + files.first()).size() > (2 << 20);
        },
        60000))
        << "the body streams into a cache file";
    curl.kill();  // mid-stream
    curl.waitForFinished(5000);

    EXPECT_TRUE(spinUntil([&] { return d.cacheFiles().isEmpty(); }, 30000))
        << "the partial cache file is deleted: " << d.cacheFiles().join(' ').toStdString();
    EXPECT_TRUE(d.answers()) << "the program answers on";
    EXPECT_FALSE(QFile::exists(d.package()));
    EXPECT_TRUE(QDir(d.root.path() + "/root").entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(d.run->logText().contains("not run: reboot")) << "no restart";
    EXPECT_EQ(d.run->process().state(), QProcess::Running);
}

TEST(OrvaleUpdateTest, AKillBetweenCopyAndRenameKeepsTheOldPackageWhole)
{
    Device d;
    if (!d.net.ok())
        GTEST_SKIP() << "no network namespaces here: " << d.net.error().toStdString();
    if (QStandardPaths::findExecutable("gdb").isEmpty())
        GTEST_SKIP() << "no gdb to hold the program at the rename";
    QDir().mkpath(d.root.path() + "/root");
    const QByteArray oldDigest = writePackage(d.package(), 3 << 20, 2);
    ASSERT_TRUE(d.start());
    const QString file = d.root.path() + "/package.tar";
    const QByteArray newDigest = writePackage(file, 8 << 20, 3);

    // The debugger stops the program as it calls rename() on the flushed
    // temporary file, and kills it there.
    const QString temp = d.root.path() + "/root/.newupdate.tar.part";
    QProcess gdb;
    gdb.setProcessChannelMode(QProcess::MergedChannels);
    gdb.start("gdb", {"-nx", "-batch", "-p", QString::number(d.run->process().processId()),
                      "-ex", "set pagination off", "-ex", "set confirm off",
                      "-ex", "handle all nostop noprint pass",
                      "-ex", QStringLiteral("break rename if $_streq((char*)$rdi, \"%1\")").arg(temp),
                      "-ex", "echo held-ready\\n", "-ex", "continue",
                      "-ex", "echo held-at-rename\\n", "-ex", "kill", "-ex", "quit"});
    ASSERT_TRUE(gdb.waitForStarted(10000));
    QByteArray gdbOut;
    ASSERT_TRUE(spinUntil([&] { gdbOut += gdb.readAll(); return gdbOut.contains("held-ready"); }, 60000))
        << gdbOut.toStdString();

    QProcess curl;
    curl.start("curl", d.uploadArgs(file, newDigest));
    ASSERT_TRUE(curl.waitForStarted(10000));
    const bool held = spinUntil([&] { gdbOut += gdb.readAll(); return gdb.state() == QProcess::NotRunning; }, 120000);
    gdbOut += gdb.readAll();
    if (!held)
        gdb.kill();
    ASSERT_TRUE(held && gdbOut.contains("held-at-rename")) << gdbOut.toStdString();
    ASSERT_TRUE(spinUntil([&] { return d.run->process().state() == QProcess::NotRunning; }, 10000));
    curl.waitForFinished(10000);
    EXPECT_FALSE(curl.readAllStandardOutput().contains("\"code\":0")) << "no success was answered";

    EXPECT_TRUE(QFile::exists(temp)) << "the kill came after the copy";
    EXPECT_EQ(md5Of(d.package()), oldDigest) << "the old package is whole";
    EXPECT_FALSE(d.run->logText().contains("not run: reboot"));

    // Restarted: the old package still whole; the next upload installs.
    ASSERT_TRUE(d.start());
    EXPECT_EQ(md5Of(d.package()), oldDigest);
    const auto reply = runClient("curl", d.uploadArgs(file, newDigest), 120000);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, QByteArray(R"({"code":0,"msg":"OK","result":{}})"));
    EXPECT_EQ(md5Of(d.package()), newDigest);
    EXPECT_FALSE(QFile::exists(temp)) << "no temporary file is left";
}
