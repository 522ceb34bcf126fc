// Whole detection cycles through the application manager on the real hub:
// the simulated IO module raises input 0 over UDP, the flow's passport
// becomes a work event of the group (this camera alone), the hub detects on
// the latest frame, the outputs go back to the module, the statistics count
// the cycle and the start record is kept. A cycle with a defect, or one
// that cannot look at a fresh frame, is answered NG and holds the machine.
//
// Layout: product detection on (step 0, no regions) then the mould (step 1,
// a flaw and a spot region over a moulded part).
#include "manager/vistrel_manager.h"

#include "flow/flowgroup_standard.h"
#include "flow/product_manager.h"
#include "hub/hubrig.h"
#include "io/tm_zru_iodevice.h"
#include "manager/apppushes.h"
#include "statistics/stage_productstatistics.h"
#include "support/inprocesslink.h"
#include "tests/io/iotestbench.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/iomodulesim/isolatednetwork.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using iotest::kCameraIp;
using iotest::kSelf;

struct CycleBench {
    IsolatedNetwork net;  // first: every socket below lives in it
    std::unique_ptr<iotest::CameraSetup> camera;
    std::unique_ptr<hubtest::HubRig> rig;
    testsupport::InProcessLink link;
    std::unique_ptr<Vistrel_Manager> manager;
    std::unique_ptr<IoModuleSimulator> module;

    CycleBench()
    {
        if (!net.ok())
            return;
        camera = std::make_unique<iotest::CameraSetup>();
        // This camera alone: the work event does not wait for a sub camera.
        ZRC_DeviceInfos group = iotest::testGroup(iotest::Role::Main);
        group.cameras = {DeviceNetInfo(kSelf, kCameraIp, 1)};
        camera->mgr->set_device_info(group);
        camera->mgr->update_working_info([](ZRC_WorkInfos& w) { w.sub_devices.clear(); });
        rig = std::make_unique<hubtest::HubRig>();
        gpWPara->s_action_productdetect = true;
        gpWPara->s_semi_automatic = false;
        gpWPara->i_program_logic = 0;

        Vistrel_ManagerOptions options;
        options.http.port = 0;
        options.http.cachefile_path = rig->wd.file("tmp/");
        options.link = &link;
        manager = std::make_unique<Vistrel_Manager>(options);
        manager->startwork();

        IoModuleSimulator::Config cfg;
        cfg.heartbeatMs = 0;
        module = std::make_unique<IoModuleSimulator>(cfg);
        module->start();
        // The machine starts with the safety door closed (input 1 high).
        module->setInputs(0b10);
        hubtest::waitFor([this] { return camera->work().input_bits == 0b10; });
        camera->setModuleState(3);
        module->clearReceived();
    }
    ~CycleBench()
    {
        module.reset();
        manager.reset();
        rig.reset();
        camera.reset();
    }
    bool ok() const { return net.ok() && module && manager && manager->ioTransport(); }

    QStringList outputWords() const
    {
        QStringList words;
        for (const IoModuleSimulator::Datagram& d : module->receivedStartingWith("<C;6;"))
            words << QString::fromLatin1(d.data.mid(13, 8));
        return words;
    }
    bool waitForOutputs(const QString& word)
    {
        return hubtest::waitFor([&] {
            const QStringList w = outputWords();
            return !w.isEmpty() && w.last() == word;
        });
    }
    bool waitIdle()
    {
        Product_Manager* flow = manager->productManager();
        return hubtest::waitFor([flow] { return flow->get_running_node() == -1 && flow->get_queue().isEmpty(); });
    }
    FlowGroup_Standard* group() const
    {
        return qobject_cast<FlowGroup_Standard*>(manager->productManager()->flowGroups().value(0));
    }
    // The last output word holds the machine: the alarm output (2) is active.
    bool waitForAlarm()
    {
        return hubtest::waitFor([&] {
            const QStringList w = outputWords();
            return !w.isEmpty() && w.last().mid(2, 1) == QLatin1String("1");
        });
    }
    int counted(const char* key) const { return manager->stat_getCur(-1).value(key).toInt(); }
};

#define SKIP_WITHOUT_NETWORK(bench) \
    if (!(bench).ok())              \
    GTEST_SKIP() << "no private network or the IO transport did not start"

}  // namespace

TEST(VistrelManagerCycle, AnOkCycleRestsTheOutputsAndCountsTheSteps)
{
    CycleBench b;
    SKIP_WITHOUT_NETWORK(b);
    b.rig->deliver(b.rig->part);

    b.module->setInputs(0b11);
    ASSERT_TRUE(b.waitForOutputs(QStringLiteral("00000000"))) << b.outputWords().join(' ').toStdString();
    ASSERT_TRUE(b.waitIdle());
    EXPECT_EQ(b.outputWords(), (QStringList{"11000000", "10000000", "00000000"}));
    EXPECT_EQ(b.counted("detect_ok"), 1) << "one mould cycle";
    EXPECT_EQ(b.counted("detect_ng"), 0);
    ASSERT_NE(b.group(), nullptr);
    EXPECT_TRUE(b.group()->get_ng_stops().isEmpty());
    EXPECT_TRUE(b.manager->getTimerAlived());
    EXPECT_TRUE(b.rig->records().contains(QStringLiteral("相机 0 启动，ID：CAMSELF, IP: 127.0.0.1|system")))
        << b.rig->records().toStdString();
}

TEST(VistrelManagerCycle, VerdictIsNgWithADefectOrWithoutAFreshFrame)
{
    struct Row {
        const char* name;
        bool freshFrame;
        bool defect;
    };
    for (const Row& row : {Row{"defect in the mould", true, true}, Row{"no fresh frame", false, false}}) {
        SCOPED_TRACE(row.name);
        CycleBench b;
        SKIP_WITHOUT_NETWORK(b);
        b.rig->deliver(row.defect ? b.rig->defective() : b.rig->part);
        if (!row.freshFrame)
            gFPS.store(0);  // the capture stalled: no frame is fresh

        b.module->setInputs(0b11);
        ASSERT_TRUE(b.waitIdle());
        ASSERT_TRUE(hubtest::waitFor([&] { return b.group() && !b.group()->get_ng_stops().isEmpty(); }))
            << b.outputWords().join(' ').toStdString();
        EXPECT_EQ(b.manager->productManager()->get_run_state(), FlowRunState_NGStop);
        EXPECT_EQ(b.counted("detect_ok"), 0);
        ASSERT_TRUE(b.waitForAlarm()) << b.outputWords().join(' ').toStdString();
        EXPECT_FALSE(b.outputWords().contains(QStringLiteral("00000000"))) << "the mould is never released";
    }
}
