// Whole cycles of the factory standard layout through real UDP: the
// simulated IO module changes an input, the camera's IO link raises the
// trigger, the flow manager makes and offers the passport, the units detect
// (through a product interface that answers OK or NG) and the IO actions go
// back to the module as output frames.
//
// Layout under test (product detection on, not semi-automatic, no options):
// input 0 high starts the product unit with outputs 0 and 1 active; the
// product unit's OK puts outputs 1 and 2 to rest and chains the mould unit,
// whose OK puts outputs 0 and 2 to rest; an NG drives the unit's outputs
// active and holds the machine (NG stop). The safety door is input 1: opening
// it silences the alarm (output 2 to rest), closing it releases the NG
// without a check.
#include "flow/flowbox_group.h"
#include "flow/flowgroup_standard.h"
#include "flow/flowhostservices.h"
#include "flow/product_manager.h"
#include "support/testproductinterface.h"
#include "tests/io/linkbench.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonObject>
#include "fakeflowhostservices.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace iotest;
using testsupport::TestProductInterface;

#define SKIP_WITHOUT_NETWORK(bench)                                 \
    if (!(bench).ok())                                              \
    GTEST_SKIP() << "no private network: " << (bench).why().toStdString()

using FakeHost = flowlayouttest::FakeHostServices;

struct FlowOverUdp {
    LinkBench link;  // first: the private network, the camera and the module
    FakeHost host;
    TestProductInterface product;
    std::unique_ptr<Product_Manager> manager;
    // Result of the product unit's detection (the mould unit always answers OK).
    int productResult = FlowResult_OK;

    // `start` false: the flow is built live but never started, as the
    // hub's parameter change may leave it.
    explicit FlowOverUdp(bool start = true)
    {
        if (!link.ok())
            return;
        host.params = QJsonObject{{"s_action_productdetect", true}, {"s_semi_automatic", false},
                                  {"s_product_delaytime", 0.3}, {"s_moulding_delaytime", 0.3}};
        product.onWorkEvent = [this](const FlowUnit_Passport& p) {
            const bool productUnit = p.get_unit_state().fus_detect_index == 0;
            const bool check = p.condition.cond_type & (CondType_IOTrig | CondType_PreResult);
            const int result = productUnit && check ? productResult : FlowResult_OK;
            return TestProductInterface::makeAnswer(result, {kSelf, kSub});
        };
        manager = std::make_unique<Product_Manager>();
        manager->setProductInterface(&product);
        manager->setFrameIO(link.frame.get());
        manager->setHostServices(&host);
        manager->create_Frameworks(0, true);
        // The machine starts with the safety door closed (input 1 high); that
        // edge is not the flow's business yet.
        link.module->setInputs(0b10);
        IoModuleSimulator::waitFor([this] { return link.camera->work().input_bits == 0b10; }, 3000);
        QCoreApplication::processEvents();
        QObject::connect(link.frame.get(), &FrameIO::sig_HasIOTrig, manager.get(),
                         &Product_Manager::slot_OnWork_IOTrig, Qt::QueuedConnection);
        if (start)
            manager->setStartOrStop(true);
        link.module->clearReceived();
    }
    ~FlowOverUdp()
    {
        if (manager) {
            manager->clear_Frameworks();
            manager.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    bool ok() const { return link.ok(); }
    QString why() const { return link.why(); }

    // The output words the module has been sent, in order.
    QStringList outputWords() const
    {
        QStringList words;
        for (const IoModuleSimulator::Datagram& d : link.module->receivedStartingWith("<C;6;"))
            words << QString::fromLatin1(d.data.mid(13, 8));
        return words;
    }
    // Waits until the module's last output word is `word`.
    bool waitForOutputs(const QString& word)
    {
        return IoModuleSimulator::waitFor(
            [&] {
                const QStringList w = outputWords();
                return !w.isEmpty() && w.last() == word;
            },
            5000);
    }
    FlowGroup_Standard* group() const
    {
        return qobject_cast<FlowGroup_Standard*>(manager->flowGroups().value(0));
    }
    // The flow has handled everything it was given: no unit works, nothing queued.
    bool waitIdle()
    {
        return IoModuleSimulator::waitFor(
            [&] { return manager->get_running_node() == -1 && manager->get_queue().isEmpty(); }, 5000);
    }
};

TEST(FlowIoIntegration, OkCycleRunsBothUnitsAndRestsTheOutputs)
{
    FlowOverUdp f;
    SKIP_WITHOUT_NETWORK(f);
    ASSERT_NE(f.group(), nullptr);

    f.link.module->setInputs(0b11);
    ASSERT_TRUE(f.waitForOutputs(QStringLiteral("00000000")))
        << f.outputWords().join(' ').toStdString() << " / " << f.product.calls.join(' ').toStdString();
    ASSERT_TRUE(f.waitIdle());

    // Input 0 high: outputs 0 and 1 active; product OK: outputs 1 and 2 to
    // rest; mould OK: outputs 0 and 2 to rest.
    EXPECT_EQ(f.outputWords(), (QStringList{"11000000", "10000000", "00000000"}));
    ASSERT_EQ(f.product.workEvents.size(), 2);
    EXPECT_EQ(f.product.workEvents.at(0).condition.cond_type, CondType_IOTrig);
    EXPECT_EQ(f.product.workEvents.at(0).condition.cond_url, QStringLiteral("/dide/action/io_catch"));
    EXPECT_EQ(f.product.workEvents.at(1).condition.cond_type, CondType_PreResult);
    EXPECT_EQ(f.product.cycleRecords, 1);
    EXPECT_TRUE(f.group()->get_ng_stops().isEmpty());
}

TEST(FlowIoIntegration, ALiveBuildWithoutAStartTakesTheNextTrigger)
{
    // The groups' run state is set after the units are numbered, so a live
    // build alone leaves every run node on its first unit, not on -1.
    FlowOverUdp f(false);
    SKIP_WITHOUT_NETWORK(f);
    ASSERT_NE(f.group(), nullptr);
    EXPECT_EQ(f.group()->get_RunDescribe().fgs_runnode, 0);

    f.link.module->setInputs(0b11);
    ASSERT_TRUE(f.waitForOutputs(QStringLiteral("00000000")))
        << f.outputWords().join(' ').toStdString() << " / " << f.product.calls.join(' ').toStdString();
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.product.workEvents.size(), 2);
    EXPECT_EQ(f.product.workEvents.at(0).condition.cond_type, CondType_IOTrig);
}

TEST(FlowIoIntegration, NgHoldsTheMachineUntilTheSafetyDoorReleasesIt)
{
    FlowOverUdp f;
    SKIP_WITHOUT_NETWORK(f);
    ASSERT_NE(f.group(), nullptr);
    f.productResult = FlowResult_NG;

    f.link.module->setInputs(0b11);
    ASSERT_TRUE(f.waitForOutputs(QStringLiteral("11100000"))) << f.outputWords().join(' ').toStdString();
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.outputWords().first(), QStringLiteral("11000000"));
    ASSERT_EQ(f.group()->get_ng_stops().size(), 1);
    EXPECT_EQ(f.group()->get_ng_stops().first().detect_index, 0);
    EXPECT_EQ(f.manager->get_run_state(), FlowRunState_NGStop);
    EXPECT_EQ(f.product.workEvents.size(), 1) << "nothing is chained during the stop";

    // The door opens: the alarm output goes to rest, the stop holds.
    f.link.module->setInputs(0b01);
    ASSERT_TRUE(f.waitForOutputs(QStringLiteral("11000000"))) << f.outputWords().join(' ').toStdString();
    ASSERT_TRUE(f.waitIdle());
    EXPECT_EQ(f.manager->get_run_state(), FlowRunState_NGStop);

    // The door closes: the NG is released without a check, the product
    // unit's OK rests its outputs and the mould unit runs.
    f.link.module->setInputs(0b11);
    ASSERT_TRUE(f.waitForOutputs(QStringLiteral("00000000"))) << f.outputWords().join(' ').toStdString();
    ASSERT_TRUE(f.waitIdle());
    EXPECT_TRUE(f.group()->get_ng_stops().isEmpty());
    EXPECT_EQ(f.manager->get_run_state(), FlowRunState_Detect);
    QStringList topics;
    for (const FlowUnit_Passport& p : f.product.workEvents)
        topics << p.condition.cond_url;
    EXPECT_EQ(topics, (QStringList{"/dide/action/io_catch", "/dide/action/noactionmold", "/dide/action/pre_result"}));
    EXPECT_EQ(f.outputWords(), (QStringList{"11000000", "11100000", "11000000", "10000000", "00000000"}));
    EXPECT_EQ(f.product.failImages, QList<int>{}) << "an NG that stops the machine saves no alarm image here";
}

}  // namespace
