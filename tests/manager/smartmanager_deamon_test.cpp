#include "manager/smartmanager_deamon.h"

#include "capture/aiqcontrol.h"
#include "foundation/foundationservices.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "liveness/livenesssegment.h"
#include "manager/livenessprobes.h"
#include "net/nettestbench.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSharedMemory>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>

namespace {

using nettest::waitUntil;

class FakeProbes : public LivenessProbes {
public:
    std::atomic<bool> io{false};
    std::atomic<bool> cams{false};
    std::atomic<int> resets{0};
    std::atomic<int> cuts{0};
    std::atomic<bool> main{true}, ioThread{false}, pairs{true}, http{true}, heartbeat{true};
    std::atomic<QThread*> probedOn{nullptr};

    bool ioLinkUp() override
    {
        probedOn = QThread::currentThread();
        return io;
    }
    bool cameraLinksUp() override { return cams; }
    void resetOutputs() override { ++resets; }
    void cutOutputs() override { ++cuts; }
    bool mainAlive() override { return main; }
    bool ioAlive() override { return ioThread; }
    bool camPairsAlive() override { return pairs; }
    bool httpServerAlive() override { return http; }
    bool heartbeatAlive() override { return heartbeat; }
    QList<QPair<QString, int>> heartbeatTargets() override
    {
        return {{QStringLiteral("10.1.0.3"), 1}, {QStringLiteral("10.1.0.4"), -1}};
    }
};

class RecordingWriter : public OperationRecord_Interface {
public:
    void InsertRecord(const QString& text, const QString& type) override
    {
        QMutexLocker lock(&mutex);
        texts.append(text);
        types.append(type);
    }
    QStringList taken()
    {
        QMutexLocker lock(&mutex);
        QStringList t = texts;
        texts.clear();
        return t;
    }
    QMutex mutex;
    QStringList texts;
    QStringList types;
};

// The reporter on the test's thread, with a work block in a scratch folder and
// its records collected.
struct Bench {
    testsupport::ScratchDir dir;
    testsupport::WorkingDir cwd{dir.path()};
    ZRC_WorkInformation_Manager* wim = ZRC_WorkInformation_Manager::getInstance();
    RecordingWriter records;
    FakeProbes probes;
    qint64 clockMs = 1000000;
    QString key = QStringLiteral("smartmanager_test_%1").arg(QCoreApplication::applicationPid());

    Bench() { wim->setRecordWriter(&records); }
    ~Bench() { wim->setRecordWriter(nullptr); }

    SmartManager_Options options()
    {
        SmartManager_Options o;
        o.segmentKey = key;
        o.startThread = false;
        o.monotonicMs = [this] { return clockMs; };
        return o;
    }
};

TEST(SmartManagerDeamon, LinkWatchRecordsEachChangeOnceAndCutsOnEveryDownTick)
{
    Bench b;
    testsupport::LogCapture logs;
    SmartManager_Deamon reporter(&b.probes, b.options());
    struct Step {
        bool io, cams;
        int cuts, resets;  // calls made by this tick
        const char* record;  // recorded by this tick, or null
    };
    const Step steps[] = {
        // Before the first moment both links are up: cut, never recorded.
        {true, false, 1, 0, nullptr},
        {true, false, 1, 0, nullptr},
        {false, false, 1, 0, nullptr},
        // Both up: outputs to rest once, recorded.
        {true, true, 0, 1, "初始化成功!"},
        {true, true, 0, 0, nullptr},
        // IO link lost, then the camera links as well (IO is tested first).
        {false, true, 1, 0, "IO连接出现中断"},
        {false, true, 1, 0, nullptr},
        {false, false, 1, 0, "IO连接出现中断"},
        {true, false, 1, 0, "多相机连接出现中断"},
        {true, false, 1, 0, nullptr},
        // Regained: recorded again, outputs not reset a second time.
        {true, true, 0, 0, "初始化成功!"},
        // Both links drop at once.
        {false, false, 1, 0, "IO连接出现中断"},
    };
    int i = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(i++);
        b.probes.io = s.io;
        b.probes.cams = s.cams;
        const int cuts = b.probes.cuts;
        const int resets = b.probes.resets;
        reporter.update_module_state();
        EXPECT_EQ(b.probes.cuts - cuts, s.cuts);
        EXPECT_EQ(b.probes.resets - resets, s.resets);
        EXPECT_EQ(b.records.taken(), s.record ? QStringList{QString::fromUtf8(s.record)} : QStringList{});
        EXPECT_EQ(b.wim->get_working_info().link_flags, (s.io ? 1 : 0) | (s.cams ? 2 : 0));
    }
    EXPECT_TRUE(std::all_of(b.records.types.begin(), b.records.types.end(),
                            [](const QString& t) { return t == QLatin1String("system"); }));    // Each loss holds the machine: its reason reaches the log files too.
    EXPECT_EQ(logs.count(QStringLiteral("IO连接出现中断 - every output cut")), 3);
    EXPECT_EQ(logs.count(QStringLiteral("多相机连接出现中断 - every output cut")), 1);
    EXPECT_TRUE(logs.reachesLogFiles(QStringLiteral("多相机连接出现中断 - every output cut")));
}

TEST(SmartManagerDeamon, FrameRateOnTheMonotonicClockFromABaselineTakenAtConstruction)
{
    struct Case {
        qint64 elapsedMs;
        int frames;  // added to the capture counter (negative: the counter went back)
        int fps;
    };
    const Case cases[] = {
        {3000, 75, 25},
        {3000, 0, 0},
        {2999, 75, 25},  // truncated, not rounded up to 26
        {1500, 75, 50},
        {3000, -40, 0},  // a counter that went back counts nothing
        {0, 75, -1},     // no time passed: the rate is left as it was
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.elapsedMs);
        Bench b;
        gFPS = -1;
        SmartManager_Deamon reporter(&b.probes, b.options());
        b.clockMs += c.elapsedMs;
        gFPS_Times += c.frames;
        reporter.camfps();
        EXPECT_EQ(gFPS.load(), c.fps);
    }
}

TEST(SmartManagerDeamon, EachRateCountsOnlyItsOwnPeriod)
{
    Bench b;
    SmartManager_Deamon reporter(&b.probes, b.options());
    b.clockMs += 3000;
    gFPS_Times += 60;
    reporter.camfps();
    EXPECT_EQ(gFPS.load(), 20);
    b.clockMs += 3000;
    gFPS_Times += 75;
    reporter.camfps();
    EXPECT_EQ(gFPS.load(), 25);
}

TEST(SmartManagerDeamon, ReportWritesTheRecordAndLogsTheResources)
{
    Bench b;
    QSharedMemory segment(b.key);
    ASSERT_TRUE(segment.create(LivenessSegment::kSize));
    std::memset(segment.data(), 'Z', LivenessSegment::kSize);
    b.probes.io = true;
    b.probes.cams = false;
    b.probes.ioThread = true;
    b.probes.http = false;
    gFPS = 20;
    SmartManager_Deamon reporter(&b.probes, b.options());
    testsupport::LogCapture log;
    const qint64 before = gettimeofday_ms() / 1000;
    reporter.print_working_state();

    const QByteArray bytes(static_cast<const char*>(segment.constData()), segment.size());
    const int end = bytes.indexOf('\0');
    ASSERT_GT(end, 0);
    EXPECT_EQ(bytes.mid(end), QByteArray(LivenessSegment::kSize - end, '\0'));
    const QJsonObject o = QJsonDocument::fromJson(bytes.left(end)).object();
    EXPECT_GE(o.value("ms_1000").toVariant().toLongLong(), before);
    EXPECT_LE(o.value("ms_1000").toVariant().toLongLong(), before + 5);
    EXPECT_EQ(o.value("main_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("io_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("ws_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("tser_alive").toInt(-1), 0);
    EXPECT_EQ(o.value("hb_alive").toInt(-1), 1);
    EXPECT_EQ(o.value("io_cnted").toInt(-1), 1);
    EXPECT_EQ(o.value("cams_cnted").toInt(-1), 0);
    EXPECT_EQ(o.value("fps").toInt(-1), 20);

    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("--- Reports --- UsedMem:")));
    EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("Thread-MICSH: [1,1,1,0,1]; Cnted-IC: [1,0]; "
                                                   "[10.1.0.3, 1] [10.1.0.4, -1]")));
}

TEST(SmartManagerDeamon, ReportLeavesASegmentOfAnotherSizeUntouched)
{
    Bench b;
    QSharedMemory segment(b.key);
    ASSERT_TRUE(segment.create(2048));
    std::memset(segment.data(), 'Z', 2048);
    SmartManager_Deamon reporter(&b.probes, b.options());
    reporter.print_working_state();
    EXPECT_EQ(QByteArray(static_cast<const char*>(segment.constData()), 2048), QByteArray(2048, 'Z'));
}

TEST(SmartManagerDeamon, ReportWithoutASegmentCreatesNone)
{
    Bench b;
    SmartManager_Deamon reporter(&b.probes, b.options());
    reporter.print_working_state();
    QSharedMemory probe(b.key);
    EXPECT_FALSE(probe.attach());
}

TEST(SmartManagerDeamon, MemoryTextFromTheProcessStat)
{
    // Fields 3.. after the command name; field 23 virtual bytes, 24 resident pages.
    QByteArray tail;
    for (int field = 3; field <= 22; ++field)
        tail += " " + QByteArray::number(field);
    const QByteArray full = tail + " 104857600 2560 25 26";
    struct Case {
        QByteArray stat;
        QString text;
    };
    const Case cases[] = {
        {"4242 (Orvale)" + full, QStringLiteral("10.00/100.00")},
        {"4242 (a b) c)" + full, QStringLiteral("10.00/100.00")},  // blanks and parentheses in the name
        {"4242 (Orvale)" + tail, QString()},                      // too few fields
        {"", QString()},
        {"garbage without a name", QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stat.toStdString());
        EXPECT_EQ(SmartManager_Deamon::memoryTextFromStat(c.stat), c.text);
    }
}

TEST(SmartManagerDeamon, SlotsRunOnTheReporterThread)
{
    Bench b;
    QSharedMemory segment(b.key);
    ASSERT_TRUE(segment.create(LivenessSegment::kSize));
    std::memset(segment.data(), 0, LivenessSegment::kSize);
    SmartManager_Options o = b.options();
    o.startThread = true;
    o.reportPeriodScale = 0.001;  // 30 ms
    auto* reporter = new SmartManager_Deamon(&b.probes, o);
    QThread* worker = reporter->workerThread();
    EXPECT_EQ(reporter->thread(), worker);
    EXPECT_TRUE(waitUntil([&] {
        return b.probes.cuts.load() > 0 && LivenessSegment::read(segment).startsWith('{');
    }, 20000));
    EXPECT_EQ(b.probes.probedOn.load(), worker);
    EXPECT_NE(worker, QThread::currentThread());
    delete reporter;
}

}  // namespace
