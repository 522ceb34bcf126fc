// From input words to trigger maps: the input flags, the input backup, the
// debounce time, and the raising of the map in the main thread while work
// runs with both links up.
#include "io/vcam_io.h"

#include "fakereactor.h"
#include "iotestbench.h"
#include "tools/iomodulesim/iomodulesimulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Levels = QMap<int, ElectricLevel>;
constexpr ElectricLevel H = ElectricLevel_High;
constexpr ElectricLevel L = ElectricLevel_Low;

void pause(int ms)
{
    IoModuleSimulator::waitFor([] { return false; }, ms);
}

struct Step {
    int bits;    // the input word the module reports
    int waitMs;  // time let pass afterwards
};

struct TriggerCase {
    const char* name;
    std::vector<int> flags;  // per input; empty: the camera's defaults
    int shake;               // debounce, 100 ms units
    int backupInput;
    std::vector<Step> steps;
    std::vector<Levels> expected;
};

class Triggering : public ::testing::Test {
protected:
    void SetUp() override
    {
        reactor = new FakeReactor;
        frame->setReactor(reactor);
        QObject::connect(frame.get(), &FrameIO::sig_HasIOTrig, frame.get(), [this](QMap<int, ElectricLevel> m) {
            maps.push_back(m);
            raisedIn = QThread::currentThread();
        });
    }

    void configure(const TriggerCase& c)
    {
        if (!c.flags.empty()) {
            int flags[8];
            std::copy(c.flags.begin(), c.flags.end(), flags);
            frame->setIO_TrigIn(flags);
        }
        frame->editParams([&](FrameIO_Params& p) {
            p.shakeerase_time = c.shake;
            p.backup_input_sub = c.backupInput;
        });
    }

    iotest::CameraSetup camera;
    std::unique_ptr<VCam_IO> frame = std::make_unique<VCam_IO>();
    FakeReactor* reactor = nullptr;  // owned by the frame
    std::vector<Levels> maps;
    QThread* raisedIn = nullptr;
};

class TriggerTable : public Triggering, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerTable, RaisesTheExpectedMaps)
{
    const TriggerCase& c = GetParam();
    configure(c);
    for (const Step& s : c.steps) {
        reactor->input(s.bits);
        if (s.waitMs > 0)
            pause(s.waitMs);
    }
    IoModuleSimulator::waitFor([&] { return maps.size() >= c.expected.size(); }, 3000);
    pause(c.shake * 100 + 200);  // nothing more may come
    EXPECT_EQ(maps, c.expected);
    if (!maps.empty()) {
        EXPECT_EQ(raisedIn, QThread::currentThread());
    }
}

const std::vector<int> kRising = {1, 1, 1, 1, 1, 1, 1, 1};

const TriggerCase kTriggerCases[] = {
    {"HeldRiseTriggersOnceAfterTheDebounceTime", kRising, 3, 0, {{0b1, 0}}, {{{0, H}}}},
    {"RiseThenFallWithinTheTimeGivesNothing", kRising, 3, 0, {{0b1, 0}, {0b0, 0}}, {}},
    {"BothEdgesBounceGivesNothing", {1, 3, 1, 1, 1, 1, 1, 1}, 3, 0, {{0b10, 0}, {0b00, 0}}, {}},
    {"BothEdgesHeldGiveOneMapEach", {1, 3, 1, 1, 1, 1, 1, 1}, 1, 0, {{0b10, 400}, {0b00, 0}}, {{{1, H}}, {{1, L}}}},
    {"DefaultsTriggerInputOneOnBothEdges", {}, 0, 0, {{0b10, 100}, {0b00, 0}}, {{{1, H}}, {{1, L}}}},
    {"NoDebounceRaisesAtOnce", kRising, 0, 0, {{0b1, 0}}, {{{0, H}}}},
    {"TwoInputsInOneWordGiveOneMap", kRising, 0, 0, {{0b101, 0}}, {{{0, H}, {2, H}}}},
    {"FallOfARisingOnlyInputGivesNothing", kRising, 0, 0, {{0b1, 100}, {0b0, 0}}, {{{0, H}}}},
    {"InputWithoutFlagsNeverTriggers", {0, 1, 1, 1, 1, 1, 1, 1}, 0, 0, {{0b1, 0}}, {}},
    {"InputBackupTakesTheLevelOfInputFour", kRising, 0, 1, {{0b1000, 0}}, {{{0, H}, {3, H}}}},
    {"WithoutBackupInputFourIsAlone", kRising, 0, 0, {{0b1000, 0}}, {{{3, H}}}},
    {"ABitAboveSevenIsIgnored", kRising, 0, 0, {{0x100, 0}}, {}},
};

INSTANTIATE_TEST_SUITE_P(Table, TriggerTable, ::testing::ValuesIn(kTriggerCases),
                         [](const ::testing::TestParamInfo<TriggerCase>& info) { return std::string(info.param.name); });

TEST_F(Triggering, StoresEveryInputWordInTheWorkInformation)
{
    reactor->input(0b1001);
    EXPECT_EQ(camera.work().input_bits, 0b1001);
    reactor->input(0);
    EXPECT_EQ(camera.work().input_bits, 0);
}

TEST_F(Triggering, RaisesNothingWhileStoppedButStillRestartsTheWatchdog)
{
    camera.setRunning(false);
    camera.mgr->update_working_info([](ZRC_WorkInfos& w) {
        w.no_input_warning = 1;
        w.warn_tip = 1;
    });
    reactor->input(0b1);
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return camera.work().no_input_warning == 0; }, 2000));
    EXPECT_EQ(camera.work().warn_tip, 0);
    pause(100);
    EXPECT_TRUE(maps.empty());
}

TEST_F(Triggering, RaisesNothingUnlessBothLinksAreUp)
{
    for (int state : {0, 1, 2}) {
        camera.setModuleState(state);
        reactor->input(0b1);
        reactor->input(0b0);
    }
    pause(150);
    EXPECT_TRUE(maps.empty());
    camera.setModuleState(3);
    reactor->input(0b1);
    EXPECT_TRUE(IoModuleSimulator::waitFor([&] { return maps.size() == 1; }, 2000));
}

TEST_F(Triggering, RealTriggeringWithNothingConfirmedAnswersMinusOne)
{
    EXPECT_EQ(frame->RealTriggering(), -1);
    int answer = 1;
    reactor->runHere([&] { answer = frame->RealTriggering(); });
    EXPECT_EQ(answer, 0);  // re-posted to the frame's thread
}

// The frame with its debounce timers in view, for looks taken in the
// transport thread (where they live).
class DebounceView : public VCam_IO {
public:
    using FrameIO::debounce_timers;
};

// "i_shakeerase_time" is in 100 ms units: a large one must still debounce
// (the timer runs, cut at the longest time it takes), never wrap to a
// negative time that leaves the input dead.
TEST(Debouncing, ALongTimeIsCutNotWrapped)
{
    iotest::CameraSetup camera;
    DebounceView frame;
    auto* reactor = new FakeReactor;
    frame.setReactor(reactor);
    struct Case {
        int shake;
        int leastRemainingMs;
    } cases[] = {{30, 2500}, {21474837, 2000000000}, {2147483647, 2000000000}};
    int input = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shake);
        frame.editParams([&](FrameIO_Params& p) { p.shakeerase_time = c.shake; });
        reactor->input(1 << input);
        bool active = false;
        int remaining = -1;
        QThread* timerThread = nullptr;
        reactor->runHere([&] {
            const auto timer = frame.debounce_timers.value(input);
            if (!timer)
                return;
            active = timer->isActive();
            remaining = timer->remainingTime();
            timerThread = timer->thread();
        });
        EXPECT_TRUE(active);
        EXPECT_GE(remaining, c.leastRemainingMs);
        EXPECT_EQ(timerThread, reactor->reactorThread());
        ++input;
    }
}

// The transport thread adds a debounce timer for each new input while the
// frame lets its transport go from the main thread: the timers are looked
// at, stopped and released in the transport thread only (the sanitizer
// build would see a torn map or a freed timer here).
TEST(Debouncing, ReleasingTheTransportWhileInputsArriveIsSafe)
{
    iotest::CameraSetup camera;
    DebounceView frame;
    frame.editParams([](FrameIO_Params& p) { p.shakeerase_time = 50; });
    for (int round = 0; round < 40; ++round) {
        auto* reactor = new FakeReactor;
        frame.setReactor(reactor);
        for (int bits = 1; bits < 256; bits += 3) {
            QMetaObject::invokeMethod(reactor, [reactor, bits] { emit reactor->sig_HasInput(bits); },
                                      Qt::QueuedConnection);
        }
        if (round % 2)
            QThread::usleep(200);
        frame.setReactor(nullptr);
        EXPECT_TRUE(frame.debounce_timers.isEmpty());  // the transport is gone: no other thread now
    }
}

}  // namespace
