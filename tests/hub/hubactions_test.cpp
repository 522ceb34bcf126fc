// The operator's actions through the hub: template records (written when the
// store acted), the NG-image template, the factory camera parameters, the
// start and stop of work as the IO module sees it, and the data-lost
// reaction.
#include "hub/hubrig.h"

#include "foundation/zrc_workinformation_manager.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "hub/hublinkbench.h"
#include "platform/media/rkaiq.h"
#include "support/logcapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

using hubtest::HubRig;
using hubtest::waitFor;

namespace {

// The last output frame the module received ("" when none).
QByteArray lastOutputFrame(const iotest::LinkBench& b)
{
    QByteArray last;
    for (const auto& d : b.module->received())
        if (d.data.startsWith("<C;6;"))
            last = d.data;
    return last;
}

}  // namespace

TEST(HubActionsTest, TemplateActionsAreRecordedWhenTheStoreActed)
{
    HubRig rig;
    rig.hub->params()->h_temp_count = 3;
    CameraImage* image = rig.hub->camera()->cameraImage();
    rig.detect(rig.part);

    rig.hub->AddTemplate(1);
    EXPECT_EQ(image->getTemplateCount(1), 2);
    EXPECT_TRUE(rig.hub->templateAdded(1));
    EXPECT_EQ(rig.records(), "添加了一张模板|operate");

    testsupport::LogCapture log;
    rig.hub->SlotTempDeleteCur(1, "template07.bmp");
    EXPECT_EQ(rig.records(), "添加了一张模板|operate") << "nothing deleted, nothing recorded";
    EXPECT_TRUE(log.reachesLogFiles("template07.bmp of detection 1 not deleted"));

    rig.hub->SlotTempDeleteCur(1, "template01.bmp");
    EXPECT_EQ(image->getTemplateCount(1), 1);
    EXPECT_EQ(rig.records(), "添加了一张模板|operate\n删除模板" + image->curTemplateName() + " |operate");

    rig.hub->params()->h_temp_count = 1;
    rig.hub->AddTemplate(1);
    EXPECT_EQ(image->getTemplateCount(1), 1);
    EXPECT_TRUE(log.reachesLogFiles("AddTemplate: no template added to detection 1"));
    EXPECT_EQ(rig.records().count("添加了一张模板"), 1) << "a refused template is not recorded";
}

TEST(HubActionsTest, DeletingAllTemplatesRecordsFirstEvenForAnEmptyList)
{
    HubRig rig;
    rig.hub->params()->h_temp_count = 3;
    CameraImage* image = rig.hub->camera()->cameraImage();
    rig.detect(rig.part);
    rig.hub->AddTemplate(1);
    rig.hub->AddTemplate(1);
    ASSERT_EQ(image->getTemplateCount(1), 3);

    rig.hub->SlotTempDeleteAll({});
    EXPECT_EQ(image->getTemplateCount(1), 3);
    rig.hub->SlotTempDeleteAll({1, 9, -1});
    EXPECT_EQ(image->getTemplateCount(1), 1);
    EXPECT_EQ(image->curTemplateName(), "template00.bmp");
    EXPECT_EQ(rig.records(), "添加了一张模板|operate\n添加了一张模板|operate\n删除了所有模板|operate\n删除了所有模板|operate");
}

TEST(HubActionsTest, AnNGImageBecomesATemplateOnlyWithRoomForTwo)
{
    struct Case { int tempCount; int templates; };
    for (const Case c : {Case{1, 1}, Case{2, 2}, Case{3, 2}}) {
        HubRig rig;
        rig.hub->params()->h_temp_count = c.tempCount;
        rig.detect(rig.defective());
        rig.hub->Update_MemNGLook(1);
        rig.hub->AddTemplateFromNG(1, 0);
        EXPECT_EQ(rig.hub->camera()->cameraImage()->getTemplateCount(1), c.templates) << c.tempCount;
    }
}

TEST(HubActionsTest, FactoryCameraParametersReachTheIspAndTheOperatorAppByName)
{
    HubRig rig;
    platform::IspRecord& isp = *platform::ispRecord(rig.isp->context());
    isp.clearCalls();
    ASSERT_TRUE(QMetaObject::invokeMethod(rig.hub.get(), "ResetCameraParam", Qt::DirectConnection,
                                          Q_ARG(QString, QStringLiteral("app-1"))));
    const std::vector<platform::IspRecord::Call> calls = isp.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].setter, platform::IspRecord::Setter::ManualExp);
    EXPECT_FLOAT_EQ(calls[0].time, 0.02f);
    EXPECT_FLOAT_EQ(calls[0].gain, 1.0f);
    EXPECT_EQ(rig.manager.calls, QStringList{"async_back2longtcp_defaultparam:app-1"});
}

TEST(HubActionsTest, StartAndStopDriveTheOutputsTheParametersAskForAfterTheReset)
{
    struct Case {
        int state;
        const char* flag;
        QByteArray frame;  // what the module receives last
        QString flow;
    };
    const Case cases[] = {
        {0, "i_isCloseCut", "<C;6;CAMSELF;01000000>", "start"},
        {0, "i_isClosePulse", "<C;6;CAMSELF;10000000>", "start"},
        {0, "i_isThimblePulse", "<C;6;CAMSELF;01000000>", "start"},
        {0, "i_isCloseAllow", "<C;6;CAMSELF;00000000>", "start"},
        {1, "i_isCloseAllow", "<C;6;CAMSELF;10000000>", "stop"},
        {1, "i_isCloseAllow_thimeble", "<C;6;CAMSELF;01000000>", "stop"},
        {1, "i_isCloseCut", "<C;6;CAMSELF;00000000>", "stop"},
        {5, "i_isCloseAllow", "<C;6;CAMSELF;00001000>", ""},
    };
    for (const Case& c : cases) {
        iotest::LinkBench b;
        SKIP_WITHOUT_NETWORK(b);
        HubRig rig;
        g_FrameIO = b.frame.get();
        b.analyse(iotest::kModuleIp, 10411, "<S;3;IOM-SIM;00000000;00000000>");
        ASSERT_TRUE(b.frame->getIsCnted());
        b.frame->IOSetOut(QStringLiteral("test"), __LINE__, 4, 1);
        ASSERT_TRUE(waitFor([&] { return lastOutputFrame(b) == "<C;6;CAMSELF;00001000>"; })) << "output 4 set first";
        QJsonObject params;
        rig.hub->params()->GetParams(params);
        params.insert(c.flag, true);
        rig.hub->params()->SetParamfromJson(params);
        rig.manager.flow.takeCalls();
        rig.hub->camera()->setResult(false, "held");

        rig.hub->startStop(c.state);
        EXPECT_TRUE(waitFor([&] { return lastOutputFrame(b) == c.frame; }))
            << c.state << " " << c.flag << ": " << lastOutputFrame(b).constData();
        EXPECT_EQ(rig.manager.flow.takeCalls(), c.flow.isEmpty() ? QStringList() : QStringList{c.flow});
        EXPECT_TRUE(rig.hub->camera()->getResult()) << "the run is reset";
    }
}

TEST(HubActionsTest, TheDataLostReactionRunsOnTheMainCameraOnly)
{
    for (iotest::Role role : {iotest::Role::Main, iotest::Role::Sub}) {
        iotest::LinkBench b(role);
        SKIP_WITHOUT_NETWORK(b);
        HubRig rig;
        g_FrameIO = b.frame.get();
        b.analyse(iotest::kModuleIp, 10411, "<S;3;IOM-SIM;00000000;00000000>");
        testsupport::LogCapture log;
        rig.hub->handlingOfExceptionalEvent();
        if (role == iotest::Role::Main) {
            EXPECT_TRUE(log.reachesLogFiles("do handlingOfExceptionalEvent"));
            EXPECT_TRUE(log.reachesLogFiles("until the operator releases it with /dide/action/forcerestore"));
            EXPECT_EQ(rig.manager.product.detect_exception.load(), 1);
            EXPECT_TRUE(waitFor([&] { return lastOutputFrame(b) == "<C;6;CAMSELF;10100000>"; }))
                << lastOutputFrame(b).constData();
        } else {
            EXPECT_FALSE(log.anyContains("handlingOfExceptionalEvent"));
            EXPECT_EQ(rig.manager.product.detect_exception.load(), 0);
            EXPECT_EQ(b.camera->work().output_bits, 0);
        }
    }
}
