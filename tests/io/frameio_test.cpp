// The IO frame's parameters and output mapping: rest levels, output and input
// backup, the reset and cut-off of all outputs, and the transport it owns.
#include "io/frameio.h"

#include "fakereactor.h"

#include <QPointer>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Sent = std::vector<std::pair<int, int>>;  // (index, level) in sending order

// The frame with its sending recorded instead of going anywhere.
class RecordingFrame : public FrameIO {
public:
    void sendOutPut(int index, int level) override { sent.emplace_back(index, level); }
    void updateIONoInputTip() override {}
    void slot_HasInput(int inputdata) override
    {
        inputs.push_back(inputdata);
        inputThread = QThread::currentThread();
    }
    void slot_TimerIO_NoInput() override {}
    int RealTriggering() override { return -1; }

    void setRest(std::initializer_list<int> rest)
    {
        editParams([&](FrameIO_Params& p) { std::copy(rest.begin(), rest.end(), p.output_init_status); });
    }

    Sent sent;
    std::vector<int> inputs;
    QThread* inputThread = nullptr;
};

TEST(FrameIO, MapsARelativeStateThroughTheRestLevel)
{
    struct Case {
        int rest;
        int index;
        int rel;
        int level;
    } cases[] = {
        {0, 2, 1, 1}, {1, 2, 1, 0}, {0, 2, 0, 0}, {1, 2, 0, 1}, {0, 8, 1, 0}, {1, -1, 1, 0},
    };
    for (const Case& c : cases) {
        RecordingFrame f;
        f.editParams([&](FrameIO_Params& p) {
            for (int& r : p.output_init_status)
                r = c.rest;
        });
        EXPECT_EQ(int(f.getOutput_Rel2Abs_IOLevel(c.index, IOState_Rel(c.rel))), c.level)
            << "rest " << c.rest << " index " << c.index << " rel " << c.rel;
    }
}

TEST(FrameIO, SendsTheOutputThenItsBackupMirror)
{
    struct Case {
        const char* name;
        int backup;
        bool relative;
        int index;
        int value;
        Sent sent;
    } cases[] = {
        {"mirrored output", 2, false, 1, 1, {{1, 1}, {3, 1}}},
        {"other output", 2, false, 0, 1, {{0, 1}}},
        {"no backup", 0, false, 1, 1, {{1, 1}}},
        {"backup out of range", 4, false, 3, 1, {{3, 1}}},
        {"relative, mirrored with the mapped level", 1, true, 0, 1, {{0, 1}, {3, 1}}},
        {"index 8 ignored", 2, false, 8, 1, {}},
        {"index -1 ignored", 2, true, -1, 1, {}},
    };
    for (const Case& c : cases) {
        RecordingFrame f;
        f.editParams([&](FrameIO_Params& p) { p.backup_output_sub = c.backup; });
        if (c.relative)
            f.FrameIO::IOSetOut(c.index, c.value);
        else
            f.FrameIO::IOSetOut_Abs(c.index, c.value);
        EXPECT_EQ(f.sent, c.sent) << c.name;
    }
}

TEST(FrameIO, RestLevelHighMakesTheActiveStateLow)
{
    RecordingFrame f;
    f.setRest({0, 1, 0, 0, 0, 0, 0, 0});
    f.FrameIO::IOSetOut(1, IOState_Rel_Active);
    f.FrameIO::IOSetOut(1, IOState_Rel_Rest);
    EXPECT_EQ(f.sent, (Sent{{1, 0}, {1, 1}}));
}

TEST(FrameIO, BackupOfWordsCopiesTheRightBit)
{
    struct Case {
        bool output;
        int backup;
        int bits;
        int result;
    } cases[] = {
        {true, 2, 0b0010, 0b1010},  {true, 0, 0b0010, 0b0010},  {true, 2, 0b1000, 0b0000},
        {true, 1, 0b0001, 0b1001},  {false, 1, 0b1000, 0b1001}, {false, 1, 0b0001, 0b0000},
        {false, 3, 0b1000, 0b1100}, {false, 0, 0b1000, 0b1000}, {false, 4, 0b1000, 0b1000},
    };
    for (const Case& c : cases) {
        RecordingFrame f;
        f.editParams([&](FrameIO_Params& p) {
            p.backup_output_sub = c.output ? c.backup : 0;
            p.backup_input_sub = c.output ? 0 : c.backup;
        });
        const int got = c.output ? f.getOutput_AfterBackup(c.bits) : f.getInput_AfterBackup(c.bits);
        EXPECT_EQ(got, c.result) << (c.output ? "output" : "input") << " backup " << c.backup << " bits " << c.bits;
    }
}

TEST(FrameIO, TriggerLevelsFollowTheInputFlags)
{
    RecordingFrame f;
    const int flags[8] = {3, 2, 1, 0, 3, 3, 3, 3};
    f.setIO_TrigIn(flags);
    EXPECT_EQ(f.getInput_AbsIOTrig(0), (QList<ElectricLevel>{ElectricLevel_High, ElectricLevel_Low}));
    EXPECT_EQ(f.getInput_AbsIOTrig(1), (QList<ElectricLevel>{ElectricLevel_Low}));
    EXPECT_EQ(f.getInput_AbsIOTrig(2), (QList<ElectricLevel>{ElectricLevel_High}));
    EXPECT_TRUE(f.getInput_AbsIOTrig(3).isEmpty());
    EXPECT_TRUE(f.getInput_AbsIOTrig(8).isEmpty());
    EXPECT_TRUE(f.getInput_AbsIOTrig(-1).isEmpty());
}

TEST(FrameIO, NoInputLimitOutsideItsRangeBecomesSixtySeconds)
{
    const std::pair<double, double> cases[] = {{-1, 60}, {2e8, 60}, {0, 0}, {30, 30}, {1e8, 1e8}};
    for (const auto& c : cases) {
        RecordingFrame f;
        f.setIO_NoInputTip_LimitTime(c.first);
        EXPECT_EQ(f.getParams().inputtimeout, c.second) << c.first;
    }
}

TEST(FrameIO, InitParamsCopiesTheBlockAndSendsNothing)
{
    RecordingFrame f;
    auto* r = new FakeReactor;
    f.setReactor(r);
    r->contactNow();
    FrameIO_Params p;
    p.output_init_status[5] = 1;
    p.input_trig[2] = 2;
    p.inputtimeout = 12.5;
    p.shakeerase_time = 3;
    p.backup_output_sub = 1;
    p.backup_input_sub = 2;
    f.initParams(p);
    const FrameIO_Params got = f.getParams();
    EXPECT_EQ(got.output_init_status[5], 1);
    EXPECT_EQ(got.input_trig[2], 2);
    EXPECT_EQ(got.inputtimeout, 12.5);
    EXPECT_EQ(got.shakeerase_time, 3);
    EXPECT_EQ(got.backup_output_sub, 1);
    EXPECT_EQ(got.backup_input_sub, 2);
    EXPECT_TRUE(f.sent.empty());
}

class FrameWithTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        reactor = new FakeReactor;
        frame.setReactor(reactor);
    }
    RecordingFrame frame;
    FakeReactor* reactor = nullptr;  // owned by the frame
};

TEST_F(FrameWithTransport, NewRestLevelsResetEveryOutputWhileInContact)
{
    reactor->contactNow();
    const int rest[8] = {0, 1, 0, 0, 1, 0, 0, 0};
    frame.setIO_TrigOut(rest);
    EXPECT_EQ(frame.sent, (Sent{{0, 0}, {1, 1}, {2, 0}, {3, 0}, {4, 1}, {5, 0}, {6, 0}, {7, 0}}));

    frame.sent.clear();
    frame.setIO_TrigOut(rest);  // already in force
    EXPECT_TRUE(frame.sent.empty());
}

TEST_F(FrameWithTransport, NewRestLevelsWithoutContactAreOnlyStored)
{
    const int rest[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    frame.setIO_TrigOut(rest);
    EXPECT_TRUE(frame.sent.empty());
    EXPECT_EQ(frame.getParams().output_init_status[7], 1);
    frame.IOSetOut_ResetAllKeep();
    EXPECT_TRUE(frame.sent.empty());
}

TEST_F(FrameWithTransport, CutOffDrivesEveryOutputLowOnlyWhenTheModuleHasOne)
{
    frame.IOSetOut_AllCutoff();
    EXPECT_TRUE(frame.sent.empty());

    reactor->setOutputWord(0b100);
    frame.editParams([](FrameIO_Params& p) { p.output_init_status[0] = 1; });  // absolute: rest levels do not matter
    frame.slot_CntedBroke();
    EXPECT_EQ(frame.sent, (Sent{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}}));
}

TEST_F(FrameWithTransport, InputWordsReachTheFrameInTheTransportThread)
{
    EXPECT_TRUE(reactor->started.load());
    reactor->input(0b101);
    ASSERT_EQ(frame.inputs, std::vector<int>{0b101});
    EXPECT_EQ(frame.inputThread, reactor->reactorThread());
    EXPECT_NE(frame.inputThread, QThread::currentThread());
}

TEST_F(FrameWithTransport, ReplacingTheTransportStopsAndReleasesTheOldOne)
{
    QPointer<FakeReactor> old(reactor);
    auto* next = new FakeReactor;
    frame.setReactor(next);
    EXPECT_TRUE(old.isNull());
    EXPECT_TRUE(next->started.load());
    next->input(7);
    EXPECT_EQ(frame.inputs, std::vector<int>{7});

    frame.setReactor(nullptr);
    EXPECT_FALSE(frame.getIsCnted());
    EXPECT_FALSE(frame.getTimerAlived());
    EXPECT_EQ(frame.getReactor(), nullptr);
}

TEST(FrameIOWithoutTransport, AnswersNotConnectedAndCutsNothing)
{
    RecordingFrame f;
    EXPECT_FALSE(f.getIsCnted());
    EXPECT_FALSE(f.getTimerAlived());
    f.IOSetOut_AllCutoff();
    f.IOSetOut_ResetAllKeep();
    EXPECT_TRUE(f.sent.empty());
}

}  // namespace
