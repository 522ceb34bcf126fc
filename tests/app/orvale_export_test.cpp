// A project export larger than a push's lifetime can carry on a slow link:
// the real camera program on its own side of a veth pair, the operator
// application on the other side taking the archive at a limited rate, and
// curl asking for the export and, while the archive moves, for other
// routes. The archive must arrive whole (its member matches the file on the
// device byte for byte), the program must answer meanwhile, a second export
// must be refused while the first lives, and no archive may stay behind.
//
// The size and the rate default to an export that outlasts a push's 30 s
// lifetime by a few seconds; ORVALE_EXPORT_TEST_MB and
// ORVALE_EXPORT_TEST_KBPS give a larger run (200 MB at 5000 kB/s, say).
#include "orvalerun.h"
#include "support/clientrun.h"
#include "support/scratchdir.h"
#include "tools/appsim/appsimulator.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/testlan/vethpair.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>
#include <random>

namespace {

using apptest::OrvaleRun;
using clientrun::runClient;
using clientrun::spinUntil;

qint64 envNumber(const char* name, qint64 fallback)
{
    bool ok = false;
    const qint64 v = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && v > 0 ? v : fallback;
}

// `bytes` of incompressible data in `path`; its MD5.
QByteArray writeNoise(const QString& path, qint64 bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    QCryptographicHash md5(QCryptographicHash::Md5);
    std::mt19937_64 gen(21);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 left = bytes; left > 0;) {
        auto* words = reinterpret_cast<quint64*>(chunk.data());
        for (int i = 0; i < chunk.size() / 8; ++i)
            words[i] = gen();
        const int n = int(qMin<qint64>(left, chunk.size()));
        f.write(chunk.constData(), n);
        md5.addData(chunk.constData(), n);
        left -= n;
    }
    return md5.result().toHex();
}

// The program's log lines about exports and sends.
std::string sendLines(const QByteArray& log)
{
    QByteArray out;
    for (const QByteArray& line : log.split('\n')) {
        if (line.contains("[EXPORT]") || line.contains("[TCP_SEND]") || line.contains("POST_2_APP")
            || line.contains("cmd: tar"))
            out += line + '\n';
    }
    return out.toStdString();
}

QStringList archivesIn(const QString& folder)
{
    return QDir(folder).entryList({"log_*.tar"}, QDir::Files);
}

}  // namespace

TEST(OrvaleExportTest, ASlowExportOutlastingAPushLifetimeArrivesWholeWhileTheProgramServes)
{
    VethPair net;
    if (!net.ok())
        GTEST_SKIP() << "no network namespaces here: " << net.error().toStdString();
    const qint64 megabytes = envNumber("ORVALE_EXPORT_TEST_MB", 36);
    const qint64 kbps = envNumber("ORVALE_EXPORT_TEST_KBPS", 1024);
    const qint64 size = megabytes * 1000 * 1000;
    const qint64 rate = kbps * 1000;
    const int transferBoundMs = int(qMin<qint64>(size / rate * 1000 * 3 + 120000, 1800000));

    testsupport::ScratchDir root;
    const QByteArray digest = writeNoise(root.path() + "/userdata/alarmimage/history.bin", size);
    ASSERT_FALSE(digest.isEmpty());

    AppSimulator app;
    app.setReadRate(rate);
    ASSERT_TRUE(app.start(QHostAddress(net.address(2)), 10416, 0));

    OrvaleRun run(root);
    run.setRtspPort(0);
    run.setEnv("ORVALE_HTTP_PORT", "");  // the fixed 10414: the program is alone on its side
    const QStringList command = net.deviceCommand(ORVALE_BIN);
    run.start(command.first(), command.mid(1));

    const QString base = "http://" + net.deviceAddress() + ":10414";
    // From .2, where the application listens: the export goes back there.
    const QStringList curl = {"-s", "-m", "20", "--interface", net.address(2), "-w", "\n%{http_code}"};
    const QByteArray ok = QByteArray(R"({"code":0,"msg":"OK","result":{}})") + "\n200";
    ASSERT_TRUE(spinUntil([&] { return runClient("curl", curl + QStringList{base + "/dide/context/heartbeat"}) == ok; },
                          60000))
        << "the program answers";

    const QStringList exportRequest = curl + QStringList{"-H", "Content-Type: application/json", "-A", "appid-21#export",
                                                         "-d", R"({"storage_type":["history"]})",
                                                         base + "/dide/context/getproject_storage"};
    EXPECT_EQ(runClient("curl", exportRequest), QByteArray(R"({"code":0,"msg":"OK","result":{"iswork":true}})") + "\n200");
    ASSERT_TRUE(spinUntil([&] { return app.bytesReceived() > 0; }, 120000)) << "the push starts";
    QElapsedTimer transfer;
    transfer.start();

    // While the archive moves: other routes are answered and a second
    // export is refused.
    int answered = 0;
    int asked = 0;
    bool refusedSecond = false;
    while (app.pushes().isEmpty() && transfer.elapsed() < transferBoundMs) {
        ++asked;
        if (runClient("curl", curl + QStringList{base + "/dide/context/heartbeat"}) == ok)
            ++answered;
        if (!refusedSecond)
            refusedSecond = runClient("curl", exportRequest)
                            == QByteArray(R"({"code":0,"msg":"OK","result":{"iswork":false}})") + "\n200";
        spinUntil([] { return false; }, 2000);
    }
    const qint64 elapsedMs = transfer.elapsed();
    ASSERT_EQ(app.pushes().size(), 1) << app.bytesReceived() << " of about " << size << " bytes arrived\n"
                                      << sendLines(run.logText());
    std::printf("export of %lld MB at %lld kB/s: %.1f s on the wire, %d of %d requests answered meanwhile\n",
                static_cast<long long>(megabytes), static_cast<long long>(kbps), elapsedMs / 1000.0, answered, asked);
    RecordProperty("transfer_ms", int(elapsedMs));
    EXPECT_GT(asked, 0);
    EXPECT_EQ(answered, asked) << "every request meanwhile is answered";
    EXPECT_TRUE(refusedSecond) << "a second export is refused while the first lives";
    EXPECT_EQ(app.pushes()[0].url, "/dide/context/putproject_storage");
    EXPECT_EQ(app.pushes()[0].uuid, "appid-21#export");

    // The member on the wire is the file on the device.
    const QByteArray raw = app.rawPushes().value(0);
    const QString received = root.path() + "/received.tar";
    {
        QFile f(received);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const int body = raw.indexOf("\r\n\r\n") + 4;
        f.write(raw.constData() + body, raw.size() - body);
    }
    const auto members = runClient("tar", {"-tf", received});
    ASSERT_TRUE(members);
    EXPECT_TRUE(members->contains("userdata/alarmimage/history.bin\n")) << members->toStdString();
    const auto md5 = runClient("sh", {"-c", "tar -xOf \"$0\" userdata/alarmimage/history.bin | md5sum", received}, 120000);
    ASSERT_TRUE(md5);
    EXPECT_EQ(md5->left(32), digest);

    EXPECT_TRUE(spinUntil([&] { return archivesIn(root.path() + "/userdata/tmp").isEmpty(); }, 30000))
        << "no archive remains: " << archivesIn(root.path() + "/userdata/tmp").join(' ').toStdString();
    EXPECT_FALSE(run.logText().contains("file send stalled")) << "the send never stalled";
    EXPECT_EQ(run.process().state(), QProcess::Running);
}
