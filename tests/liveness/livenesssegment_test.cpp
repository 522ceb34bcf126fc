#include "liveness/livenessreport.h"
#include "liveness/livenesssegment.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSharedMemory>
#include <gtest/gtest.h>

#include <cstring>

namespace {

// A segment of `size` bytes under a key private to this test, filled with `fill`.
struct OwnedSegment {
    QSharedMemory memory;
    OwnedSegment(const QString& key, int size, char fill) : memory(key)
    {
        EXPECT_TRUE(memory.create(size)) << qPrintable(memory.errorString());
        std::memset(memory.data(), fill, size_t(size));
    }
    QByteArray bytes() const { return QByteArray(static_cast<const char*>(memory.constData()), memory.size()); }
};

QString privateKey(const char* name)
{
    return QStringLiteral("liveness_test_%1_%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(name));
}

TEST(LivenessSegment, KeyAndSizeAreTheDaemonContract)
{
    EXPECT_STREQ(LivenessSegment::kKey, "_sharememory_2_daemon");
    EXPECT_EQ(LivenessSegment::kSize, 1024);
    EXPECT_EQ(LivenessSegment().key(), QStringLiteral("_sharememory_2_daemon"));
}

TEST(LivenessSegment, ShortRecordAfterALongOneLeavesNoTail)
{
    OwnedSegment seg(privateKey("tail"), LivenessSegment::kSize, 'A');
    LivenessSegment writer(seg.memory.key());
    ASSERT_TRUE(writer.write(QByteArray(900, 'x')));
    ASSERT_TRUE(writer.write(QByteArrayLiteral("{\"fps\":20}")));
    const QByteArray b = seg.bytes();
    EXPECT_EQ(b.left(10), QByteArrayLiteral("{\"fps\":20}"));
    EXPECT_EQ(b.mid(10), QByteArray(LivenessSegment::kSize - 10, '\0'));
    EXPECT_EQ(LivenessSegment::read(seg.memory), QByteArrayLiteral("{\"fps\":20}"));
}

TEST(LivenessSegment, OverlongRecordStillEndsInAZeroByte)
{
    OwnedSegment seg(privateKey("long"), LivenessSegment::kSize, 'A');
    ASSERT_TRUE(LivenessSegment(seg.memory.key()).write(QByteArray(3000, 'y')));
    const QByteArray b = seg.bytes();
    EXPECT_EQ(b.left(LivenessSegment::kSize - 1), QByteArray(LivenessSegment::kSize - 1, 'y'));
    EXPECT_EQ(b.at(LivenessSegment::kSize - 1), '\0');
}

TEST(LivenessSegment, SegmentOfAnotherSizeIsLeftUntouched)
{
    for (int size : {512, 1023, 1025, 4096}) {
        SCOPED_TRACE(size);
        OwnedSegment seg(privateKey("size") + QString::number(size), size, 'A');
        EXPECT_FALSE(LivenessSegment(seg.memory.key()).write(QByteArrayLiteral("{\"fps\":1}")));
        EXPECT_EQ(seg.bytes(), QByteArray(size, 'A'));
    }
}

TEST(LivenessSegment, NoSegmentWritesNothingAndCreatesNone)
{
    const QString key = privateKey("none");
    EXPECT_FALSE(LivenessSegment(key).write(QByteArrayLiteral("{}")));
    QSharedMemory probe(key);
    EXPECT_FALSE(probe.attach());
}

TEST(LivenessSegment, ReadOfADetachedHandleIsEmpty)
{
    QSharedMemory handle(privateKey("detached"));
    EXPECT_TRUE(LivenessSegment::read(handle).isEmpty());
}

TEST(LivenessSegment, TextUpToTheFirstZeroByte)
{
    struct Case {
        QByteArray bytes;
        QByteArray text;
    };
    const Case cases[] = {
        {QByteArray(), QByteArray()},
        {QByteArray("\0\0\0", 3), QByteArray()},
        {QByteArray("abc\0def\0", 8), QByteArray("abc")},
        {QByteArray("abcdef"), QByteArray("abcdef")},  // no zero: never past the size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        EXPECT_EQ(LivenessSegment::textUpToZero(c.bytes.constData(), c.bytes.size()), c.text);
    }
}

TEST(LivenessReport, CompactObjectWithEveryFieldAsANumber)
{
    LivenessReport r;
    r.secondsSinceEpoch = 1765411200;
    r.mainAlive = true;
    r.ioAlive = false;
    r.wsAlive = true;
    r.httpServerAlive = true;
    r.heartbeatAlive = true;
    r.ioConnected = false;
    r.camerasConnected = true;
    r.fps = 20;
    const QByteArray json = r.toJson();
    EXPECT_FALSE(json.contains(' '));
    EXPECT_FALSE(json.contains('\n'));
    EXPECT_LT(json.size(), LivenessSegment::kSize);
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(o.value("ms_1000").toVariant().toLongLong(), 1765411200);
    EXPECT_EQ(o.value("main_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("io_alive").toInt(-1), 0);
    EXPECT_EQ(o.value("ws_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("tser_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("hb_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("io_cnted").toInt(-1), 0);
    EXPECT_EQ(o.value("cams_cnted").toInt(-1), 1);
    EXPECT_EQ(o.value("fps").toInt(-1), 20);
    EXPECT_EQ(o.size(), 9);
}

}  // namespace
