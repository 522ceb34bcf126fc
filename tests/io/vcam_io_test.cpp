// The camera's IO front end: which output requests reach the IO module and
// as what frame, input datagrams becoming triggers, and the no-input
// watchdog's record.
#include "io/vcam_io.h"

#include "fakereactor.h"
#include "linkbench.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using namespace iotest;

#define SKIP_WITHOUT_NETWORK(bench)                                 \
    if (!(bench).ok())                                              \
    GTEST_SKIP() << "no private network: " << (bench).why().toStdString()

void pause(int ms)
{
    IoModuleSimulator::waitFor([] { return false; }, ms);
}

// The output frames seen since the last settle, as their IO words.
QStringList outputFrames(LinkBench& b)
{
    QStringList words;
    for (const UdpSniffer::Packet& p : UdpSniffer::starting(b.sniffer->settle(), "<C;6;")) {
        EXPECT_EQ(p.to(), QStringLiteral("127.0.0.2:10411"));
        EXPECT_TRUE(p.data.startsWith("<C;6;CAMSELF;")) << p.data.constData();
        words << QString::fromLatin1(p.data.mid(13, 8));
    }
    return words;
}

// Waits until the frames seen add up to `count` (they may arrive a little
// after the request) and returns them.
QStringList waitForFrames(LinkBench& b, int count)
{
    QStringList words;
    IoModuleSimulator::waitFor(
        [&] {
            words += outputFrames(b);
            return words.size() >= count;
        },
        2000);
    pause(20);
    words += outputFrames(b);
    return words;
}

TEST(VCamIOOutputs, MainCameraRunningWithBothLinksSendsTheStoredBits)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.sniffer->settle();
    b.frame->IOSetOut_Abs(QStringLiteral(__FILE__), __LINE__, 2, 1);
    EXPECT_EQ(b.camera->work().output_bits, 0b100);
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("00100000")});
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return b.module->outputs() == 0b100; }, 2000));
}

TEST(VCamIOOutputs, SubCameraOrStoppedWorkSendsNothing)
{
    for (bool sub : {true, false}) {
        LinkBench b(sub ? Role::Sub : Role::Main);
        SKIP_WITHOUT_NETWORK(b);
        if (!sub)
            b.camera->setRunning(false);
        b.sniffer->settle();
        b.frame->IOSetOut(0, 1);
        b.frame->IOSetOut_Abs(1, 1);
        b.frame->IOSetOut(QStringLiteral(__FILE__), __LINE__, 2, 1);
        pause(30);
        EXPECT_EQ(b.camera->work().output_bits, 0) << (sub ? "sub camera" : "stopped");
        EXPECT_TRUE(outputFrames(b).isEmpty()) << (sub ? "sub camera" : "stopped");
    }
}

TEST(VCamIOOutputs, WithoutBothLinksEveryOutputIsCleared)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.output_bits = 0b11; });
    b.camera->setModuleState(1);
    b.sniffer->settle();
    b.frame->sendOutPut(2, 1);
    EXPECT_EQ(b.camera->work().output_bits, 0);
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("00000000")});
}

TEST(VCamIOOutputs, RequestsInARowGoOutAsOneFrame)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.sniffer->settle();
    // Hold the transport thread so that the three requests reach it together,
    // however slowly this thread runs.
    QSemaphore hold;
    QMetaObject::invokeMethod(b.link, [&hold] { hold.acquire(); }, Qt::QueuedConnection);
    QElapsedTimer inARow;
    inARow.start();
    b.frame->IOSetOut_Abs(0, 1);
    b.frame->IOSetOut_Abs(1, 1);
    b.frame->IOSetOut_Abs(5, 1);
    const qint64 spreadNs = inARow.nsecsElapsed();
    hold.release();
    const QStringList frames = waitForFrames(b, 1);
    ASSERT_FALSE(frames.isEmpty());
    EXPECT_EQ(frames.last(), QStringLiteral("11000100"));
    // Requests further apart than the window are not merged (a slow machine
    // may spread them): then each closed window has gone out in its turn.
    if (spreadNs < 1000000) {
        EXPECT_EQ(frames, QStringList{QStringLiteral("11000100")});
    }
}

// An OK pulse shorter than the time the transport thread runs late: the
// window the pulse opened has closed before the reset comes, so the pulse
// goes out first (from the caller's thread) and the reset after it, never
// the reset alone.
TEST(VCamIOOutputs, AWindowClosedWhileTheTransportRunsLateStillSendsWhatItClosedOn)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.sniffer->settle();
    QSemaphore hold;
    QMetaObject::invokeMethod(b.link, [&hold] { hold.acquire(); }, Qt::QueuedConnection);
    b.frame->IOSetOut_Abs(0, 1);
    QThread::usleep(3000);  // the pulse outlasts its window
    b.frame->IOSetOut_Abs(0, 0);
    hold.release();
    EXPECT_EQ(waitForFrames(b, 2), (QStringList{QStringLiteral("10000000"), QStringLiteral("00000000")}));
}

TEST(VCamIOOutputs, RestLevelsAndBackupMakeTheAbsoluteBits)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    const int rest[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    b.frame->setIO_TrigOut(rest);  // no contact yet: only stored
    b.frame->editParams([](FrameIO_Params& p) { p.backup_output_sub = 1; });
    b.sniffer->settle();

    b.frame->IOSetOut(1, IOState_Rel_Rest);  // rest level of output 2 is high
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("01000000")});
    b.frame->IOSetOut(1, IOState_Rel_Active);
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("00000000")});
    b.frame->IOSetOut(0, IOState_Rel_Active);  // output 1 is mirrored onto output 4
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("10010000")});
}

TEST(VCamIOOutputs, ResetToRestLevelsBypassesTheRunningCheckButNeedsContact)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.camera->setRunning(false);
    const int rest[8] = {1, 0, 1, 0, 0, 0, 0, 0};
    b.frame->setIO_TrigOut(rest);
    b.sniffer->settle();
    b.frame->IOSetOut_ResetAllKeep();  // no contact: nothing
    pause(30);
    EXPECT_TRUE(outputFrames(b).isEmpty());

    // Contact; the module reports the outputs as stored, so nothing is resent.
    b.analyse(kModuleIp, 10411, "<S;3;IOM-SIM;00000000;00000000>");
    b.frame->IOSetOut_ResetAllKeep();
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("10100000")});
}

TEST(VCamIOOutputs, CutOffWhenTheModuleReportsOutputs)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.frame->IOSetOut_Abs(0, 1);
    b.frame->IOSetOut_Abs(1, 1);
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("11000000")});
    b.analyse(kModuleIp, 10411, "<S;3;IOM-SIM;00000000;11000000>");  // the module holds them
    b.frame->IOSetOut_AllCutoff();
    EXPECT_EQ(waitForFrames(b, 1), QStringList{QStringLiteral("00000000")});
    EXPECT_EQ(b.camera->work().output_bits, 0);
}

TEST(VCamIOInputs, AnInputDatagramBecomesATriggerInTheMainThread)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    QList<QMap<int, ElectricLevel>> maps;
    QThread* raisedIn = nullptr;
    QObject::connect(b.frame.get(), &FrameIO::sig_HasIOTrig, b.frame.get(), [&](QMap<int, ElectricLevel> m) {
        maps.append(m);
        raisedIn = QThread::currentThread();
    });
    b.module->setInputs(0b1);
    ASSERT_TRUE(IoModuleSimulator::waitFor([&] { return !maps.isEmpty(); }, 2000));
    EXPECT_EQ(maps.first(), (QMap<int, ElectricLevel>{{0, ElectricLevel_High}}));
    EXPECT_EQ(raisedIn, QThread::currentThread());
    EXPECT_EQ(b.camera->work().input_bits, 1);
}

TEST(VCamIOLink, RawTextGoesThroughTheLinkOnly)
{
    LinkBench b;
    SKIP_WITHOUT_NETWORK(b);
    EXPECT_EQ(b.frame->getReactor_Instance(), b.link);
    EXPECT_TRUE(b.frame->sendUdpMessage_Timely(Skt_Session{kModuleIp, 10411}, "<A;1>"));
    EXPECT_EQ(b.module->waitForDatagram("<A;1>", 2000).data, QByteArray("<A;1>"));

    VCam_IO bare;
    EXPECT_EQ(bare.getReactor_Instance(), nullptr);
    EXPECT_FALSE(bare.sendUdpMessage_Timely(Skt_Session{kModuleIp, 10411}, "<A;1>"));
    bare.IOSetOut_Abs(0, 1);  // no link: dropped, nothing stored
    EXPECT_EQ(b.camera->work().output_bits, 0);
}

// ---- The no-input watchdog -------------------------------------------------------------------

class NoInputWatchdog : public ::testing::Test {
protected:
    void SetUp() override
    {
        ioworkinfo::setRecordWriter(&records);
        reactor = new FakeReactor;
        frame.setReactor(reactor);
        frame.editParams([](FrameIO_Params& p) { p.shakeerase_time = 0; });
    }
    void TearDown() override { ioworkinfo::setRecordWriter(nullptr); }

    CameraSetup camera;
    RecordCollector records;
    VCam_IO frame;
    FakeReactor* reactor = nullptr;  // owned by the frame
};

TEST_F(NoInputWatchdog, SilenceBeyondTheLimitWritesOneSystemRecordAndSetsTheFlag)
{
    frame.setIO_NoInputTip_LimitTime(0.05);
    frame.updateIONoInputTip();
    ASSERT_TRUE(IoModuleSimulator::waitFor([&] { return !records.texts.isEmpty(); }, 2000));
    pause(150);
    EXPECT_EQ(records.texts, QStringList{QStringLiteral("警告：长时间没有输入信号！")});
    EXPECT_EQ(records.types, QStringList{QStringLiteral("system")});
    EXPECT_EQ(camera.work().no_input_warning, 1);

    // The next trigger clears the flag and watches again.
    frame.setIO_NoInputTip_LimitTime(30);
    reactor->input(0b1);
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return camera.work().no_input_warning == 0; }, 2000));
    pause(100);
    EXPECT_EQ(records.texts.size(), 1);
}

TEST_F(NoInputWatchdog, OffWithALimitOfZero)
{
    frame.setIO_NoInputTip_LimitTime(0);
    camera.mgr->update_working_info([](ZRC_WorkInfos& w) { w.no_input_warning = 1; });
    reactor->input(0b1);
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return camera.work().no_input_warning == 0; }, 2000));
    pause(150);
    EXPECT_TRUE(records.texts.isEmpty());
}

TEST_F(NoInputWatchdog, RestartedFromAnotherThreadRunsInTheFramesThread)
{
    frame.setIO_NoInputTip_LimitTime(0.05);
    reactor->runHere([&] { frame.updateIONoInputTip(); });  // re-posts itself
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return records.texts.size() == 1; }, 2000));
}

}  // namespace
