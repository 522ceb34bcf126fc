// Firmware-style uploads streamed into cache files: bytes unchanged, memory
// flat, rotation of old cache files, and every way an upload can fail.
#include "httpapi/reactorbench.h"
#include "httpapi/uploadcache.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QSemaphore>

#include <csignal>
#include <mutex>
#include <sys/resource.h>

using reactorbench::answerJson;
using reactorbench::Bench;
using reactorbench::waitUntil;

namespace {

const char kRoute[] = "/dide/context/update_system";

QString cacheDir()
{
    return QDir::cleanPath(platform::DataRoot::path("/userdata/tmp/"));
}

QStringList cacheFiles()
{
    return QDir(cacheDir()).entryList({uploadcache::filePrefix() + "*"}, QDir::Files | QDir::Hidden, QDir::Name);
}

// An upload route whose handler reports what it received: the cache file,
// its MD5, and the thread it ran on.
struct UploadBench : Bench {
    UploadBench()
    {
        reactor.cache_routes.insert(kRoute, [this](const CTask_FormData_Mongoose& r) {
            CLimit_List_WorkingUrl guard(&reactor, r.data.url);
            {
                std::lock_guard<std::mutex> lock(m);
                path = r.data.file_path;
                md5 = reactorbench::md5OfFile(r.data.file_path);
                exists = QFileInfo::exists(r.data.file_path);
                check = r.data.query.value("check").toString();
                ++handled;
            }
            gate.acquire();
            guard.release();  // the reply is the last act
            answerJson(reactor, r, QJsonObject{{"md5", QString::fromLatin1(md5)}});
        });
        gate.release(1000);
    }
    std::mutex m;
    QString path;
    QByteArray md5;
    QString check;
    bool exists = false;
    int handled = 0;
    QSemaphore gate;
};

QByteArray uploadHead(qint64 length, const QByteArray& query = "check=abc")
{
    return QByteArray("POST ") + kRoute + "?" + query + " HTTP/1.1\r\nHost: t\r\nContent-Length: "
           + QByteArray::number(length) + "\r\n\r\n";
}

qint64 residentKiB()
{
    QFile f("/proc/self/status");
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

}  // namespace

TEST(HttpUploadTest, BytesArriveUnchangedDeclaredAndChunked)
{
    UploadBench b;
    ASSERT_TRUE(b.start());
    testsupport::ScratchDir src;
    QByteArray data;
    for (int i = 0; i < 3 * 1024 * 1024 + 17; ++i)
        data.append(char((i * 131) ^ (i >> 7)));
    const QString file = src.write("pkg.tar", data);
    const QByteArray expected = QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
    struct Case { const char* name; QStringList args; };
    const Case cases[] = {
        {"declared length", {"--data-binary", "@" + file}},
        {"chunked", {"--data-binary", "@" + file, "-H", "Transfer-Encoding: chunked"}},
    };
    for (const Case& c : cases) {
        const QByteArray out = b.curl(QString(kRoute) + "?check=" + expected, c.args);
        EXPECT_TRUE(out.contains(expected)) << c.name << ": " << out.toStdString();
        std::lock_guard<std::mutex> lock(b.m);
        EXPECT_EQ(b.md5, expected) << c.name;
        EXPECT_EQ(b.check, QString::fromLatin1(expected)) << c.name;
        EXPECT_TRUE(b.path.startsWith(cacheDir() + "/mongoose_cachefile_")) << c.name;
    }
}

TEST(HttpUploadTest, TwoHundredMebibytesWithFlatMemory)
{
    UploadBench b;
    ASSERT_TRUE(b.start());
    const qint64 total = 200LL << 20;
    const QByteArray piece(1 << 20, '\x5a');
    QCryptographicHash h(QCryptographicHash::Md5);
    const qint64 before = residentKiB();
    testsupport::RawHttpConnection c(b.port());
    ASSERT_TRUE(c.send(uploadHead(total)));
    for (qint64 sent = 0; sent < total; sent += piece.size()) {
        ASSERT_TRUE(c.send(piece));
        h.addData(piece);
    }
    const QByteArray reply = c.readAll(30000);
    EXPECT_TRUE(reply.contains(h.result().toHex())) << reply.left(300).toStdString();
    EXPECT_LT(residentKiB() - before, 48 * 1024) << "the body never sits in memory";
    std::lock_guard<std::mutex> lock(b.m);
    EXPECT_EQ(QFileInfo(b.path).size(), total);
    uploadcache::removeCacheFile(b.path);
}

TEST(HttpUploadTest, RotationKeepsTheNineNewestCacheFilesAndNothingElseIsTouched)
{
    UploadBench b;
    ASSERT_TRUE(b.start());
    for (const QString& f : cacheFiles())
        QFile::remove(cacheDir() + "/" + f);
    const QDateTime base = QDateTime::currentDateTime().addSecs(-3600);
    QStringList made;
    for (int i = 0; i < 12; ++i) {
        const QString p = QString("%1/mongoose_cachefile_old%2").arg(cacheDir()).arg(i, 2, 10, QChar('0'));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
        f.setFileTime(base.addSecs(i), QFileDevice::FileModificationTime);
        made << QFileInfo(p).fileName();
    }
    const QString other = cacheDir() + "/cam_log_1.tar";
    QFile(other).open(QIODevice::WriteOnly);
    QFile(other).setFileTime(base.addSecs(-100), QFileDevice::FileModificationTime);

    ASSERT_TRUE(b.raw(uploadHead(5) + "hello").startsWith("HTTP/1.1 200 OK"));
    QStringList expected = made.mid(3);
    {
        std::lock_guard<std::mutex> lock(b.m);
        expected << QFileInfo(b.path).fileName();
    }
    expected.sort();
    EXPECT_EQ(cacheFiles(), expected);
    EXPECT_TRUE(QFileInfo::exists(other)) << "only cache files are rotated";
}

TEST(HttpUploadTest, FailedUploadsTable)
{
    // Each row: what the client does, what it gets, whether the handler ran
    // and with which file.
    UploadBench b;
    ASSERT_TRUE(b.start());
    testsupport::LogCapture log;
    {
        // Empty body: queued at once, without a cache file.
        const QByteArray reply = b.raw(uploadHead(0));
        EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK")) << reply.toStdString();
        std::lock_guard<std::mutex> lock(b.m);
        EXPECT_TRUE(b.path.isEmpty());
    }
    const QStringList before = cacheFiles();
    {
        // The client leaves mid-body: nothing queued, the partial file goes.
        testsupport::RawHttpConnection c(b.port());
        ASSERT_TRUE(c.send(uploadHead(1000) + QByteArray(400, 'p')));
        ASSERT_TRUE(waitUntil([&] { return cacheFiles().size() == before.size() + 1; }));
        c.close();
        EXPECT_TRUE(waitUntil([&] { return cacheFiles() == before; }));
        EXPECT_TRUE(waitUntil([&] { return log.anyContains("before its body was complete"); }));
    }
    {
        // A second upload while the first waits for its handler: refused
        // before any byte is written.
        b.gate.acquire(b.gate.available());
        testsupport::RawHttpConnection first(b.port());
        ASSERT_TRUE(first.send(uploadHead(3) + "abc"));
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard<std::mutex> lock(b.m);
            return b.handled == 2;
        }));
        const QStringList during = cacheFiles();
        const QByteArray refused = b.raw(uploadHead(3) + "xyz");
        EXPECT_TRUE(refused.startsWith("HTTP/1.1 503 Service Unavailable")) << refused.toStdString();
        EXPECT_TRUE(refused.endsWith("The previous same url task has not been completed."));
        EXPECT_EQ(cacheFiles(), during);
        b.gate.release(1000);
        EXPECT_TRUE(first.readAll().startsWith("HTTP/1.1 200 OK"));
    }
    {
        // Less than the reserve would stay free: refused at the head when
        // declared, after the body when chunked; no file stays.
        b.reactor.set_upload_reserve_bytes(std::numeric_limits<qint64>::max() / 2);
        const QStringList now = cacheFiles();
        const QByteArray declared = b.raw(uploadHead(10) + "0123456789");
        EXPECT_TRUE(declared.startsWith("HTTP/1.1 413")) << declared.toStdString();
        const QByteArray chunked = b.raw(QByteArray("POST ") + kRoute
                                         + " HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n");
        EXPECT_TRUE(chunked.startsWith("HTTP/1.1 413")) << chunked.toStdString();
        EXPECT_EQ(cacheFiles(), now);
        EXPECT_TRUE(log.anyContains("leaves less than"));
        b.reactor.set_upload_reserve_bytes(0);
    }
}

TEST(HttpUploadTest, WriteErrorDeletesThePartialFileAndStillQueues)
{
    UploadBench b;
    ASSERT_TRUE(b.start());
    testsupport::LogCapture log;
    // Files of this process may not grow past 64 KiB for a moment.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const QByteArray reply = b.raw(uploadHead(256 * 1024) + QByteArray(256 * 1024, 'w'));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_TRUE(reply.startsWith("HTTP/1.1 200 OK")) << reply.toStdString();
    std::lock_guard<std::mutex> lock(b.m);
    EXPECT_FALSE(b.path.isEmpty()) << "the handler is told which file failed";
    EXPECT_FALSE(b.exists) << "the partial file is gone";
    EXPECT_TRUE(log.anyContains("cannot write the cache file"));
}

TEST(HttpUploadTest, CacheFolderIsEmptiedAtStartAndFallsBackToTmp)
{
    testsupport::ScratchDir dummy;
    const QString folder = platform::DataRoot::path("/userdata/cachetest/");
    QDir().mkpath(folder + "/sub");
    QFile(folder + "/a").open(QIODevice::WriteOnly);
    QFile(folder + "/.keep").open(QIODevice::WriteOnly);
    HttpReactor_MG reactor;
    reactor.set_cachefile_path("/userdata/cachetest/");
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{".keep"});
    EXPECT_EQ(reactor.get_cachefile_path(), QDir::cleanPath(folder));
    QDir(folder).removeRecursively();
    EXPECT_EQ(reactor.get_cachefile_path(), QDir::cleanPath(platform::DataRoot::path("/tmp")));
}
