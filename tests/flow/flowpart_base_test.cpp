// The part base: identity and JSON envelope, the start sequence, the live
// part count, and the instance interface every part carries.
#include "flow/flowinstiface.h"
#include "flow/flowpart_base.h"
#include "support/testproductinterface.h"

#include <QJsonObject>
#include <QStringList>
#include <gtest/gtest.h>

#include <memory>

namespace {

// The smallest concrete part: counts its own work.
class CountingPart : public FlowPart_Base {
public:
    using FlowPart_Base::FlowPart_Base;
    int worked = 0;
    QStringList* order = nullptr;
    void onStart_Working() override
    {
        ++worked;
        if (order)
            *order << QStringLiteral("work");
    }
};

FlowUnit_Passport passportWithReceipt()
{
    FlowWork_Condition c;
    c.cond_type = CondType_IOTrig;
    FlowUnit_Passport p(QStringLiteral("P-7"), c);
    p.receipt.rcpt_detect_index = 4;
    p.receipt.rcpt_result = 1;
    p.receipt.rcpt_remain_ms = 30;
    FlowProc_State s;
    s.proc_runstate = 2;
    p.set_product_state(s);
    return p;
}

TEST(FlowPartBase, SerialisesItsEnvelopeWithAUuidOfItsOwn)
{
    CountingPart a, b;
    const QJsonObject o = a.Serialize_2_Json();
    EXPECT_EQ(o.keys(), (QStringList{"name", "obj", "type"}));
    EXPECT_EQ(o.value("name").toString(), QString());
    EXPECT_EQ(o.value("type").toString(), QString());
    EXPECT_FALSE(o.value("obj").toString().isEmpty());
    EXPECT_EQ(o.value("obj").toString(), a.get_part_uuid());
    EXPECT_NE(a.get_part_uuid(), b.get_part_uuid());

    a.set_user_describe(QStringLiteral("检测"));
    EXPECT_EQ(a.Serialize_2_Json().value("name").toString(), QStringLiteral("检测"));
}

TEST(FlowPartBase, ReadingJsonChangesNothingInTheBase)
{
    CountingPart p;
    p.set_user_describe(QStringLiteral("keep"));
    const QJsonObject before = p.Serialize_2_Json();
    p.Structure_FromJson(QJsonObject{{"name", "other"}, {"type", "FlowPart_IO"}, {"obj", "X"}});
    EXPECT_EQ(p.Serialize_2_Json(), before);
    EXPECT_TRUE(p.get_enable());
}

TEST(FlowPartBase, StartKeepsThePassportReportsItsReceiptThenWorksEvenWhenDisabled)
{
    for (bool enabled : {true, false}) {
        CountingPart p;
        p.set_enable(enabled);
        QStringList order;
        p.order = &order;
        FlowWork_Receipt reported;
        QObject::connect(&p, &FlowPart_Base::sig_update_unit_receipt, [&](FlowWork_Receipt r) {
            reported = r;
            order << QStringLiteral("receipt");
        });

        p.onStart(passportWithReceipt());

        EXPECT_EQ(order, (QStringList{"receipt", "work"})) << enabled;
        EXPECT_EQ(reported.rcpt_detect_index, 4);
        EXPECT_EQ(reported.rcpt_remain_ms, 30);
        EXPECT_EQ(p.get_part_passport().uuid, QStringLiteral("P-7"));
        EXPECT_EQ(p.get_part_passport().get_product_state().proc_runstate, 2);
        EXPECT_EQ(p.getReceipt().rcpt_result, 1);
    }
}

TEST(FlowPartBase, CountsLiveParts)
{
    const int before = g_flowpart_base_count;
    {
        auto a = std::make_unique<CountingPart>();
        CountingPart b;
        auto c = std::make_unique<CountingPart>();
        EXPECT_EQ(g_flowpart_base_count, before + 3);
        a.reset();
        EXPECT_EQ(g_flowpart_base_count, before + 2);
    }
    EXPECT_EQ(g_flowpart_base_count, before);
}

TEST(ProductInterface, ATestDoubleWithOnlyTheWorkEventIsComplete)
{
    class OnlyWorkEvent : public Product_Interface {
    public:
        FlowWork_WorkEvent_Back WorkEvent_Standard(FlowUnit_Passport) override { return {}; }
    } iface;
    Product_Interface& base = iface;
    base.Statistics_updateCycleRecord();
    base.saveFailImage_OnNGNoStop(1);
    base.PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport());
    base.PushMsg2Subscriber_DetectInfoOnce(QJsonObject());
    base.Statistics_insertOnceDetectend({});
    base.WorkRX_RunTrain_Var(2);
    EXPECT_EQ(base.WorkEvent_Standard(FlowUnit_Passport()).work_error, 5);
    EXPECT_EQ(base.detect_exception, 0);
    EXPECT_TRUE(base.map_collects.isEmpty());
    EXPECT_STREQ(base.metaObject()->className(), "Product_Interface");
}

TEST(CamDevicesInterface, ListsTheDeviceIdsInOrder)
{
    CamDevices_Interface none;
    EXPECT_TRUE(none.getAllCamsIDs().isEmpty());
    CamDevices_Interface two;
    two.resetCameraBaseInfos({CameraBaseInfo(QStringLiteral("a"), 0), CameraBaseInfo(QStringLiteral("b"), 1)});
    EXPECT_EQ(two.getAllCamsIDs(), (QStringList{"a", "b"}));
}

TEST(FlowInstIface, ACopySharesTheObjectsButOwnsItsCameraList)
{
    testsupport::TestProductInterface product;
    FlowInstIface a;
    EXPECT_EQ(a.language, QStringLiteral("zh-CN"));
    EXPECT_TRUE(a.frame_io.isNull());
    EXPECT_TRUE(a.product_iface.isNull());
    EXPECT_TRUE(a.cam_devices.isEmpty());

    a.device_id = QStringLiteral("SELF");
    a.product_iface = &product;
    CamDevices_Interface cams;
    cams.resetCameraBaseInfos({CameraBaseInfo(QStringLiteral("a"), 1)});
    a.cam_devices.setValue(cams);

    FlowInstIface b = a;
    EXPECT_EQ(b.device_id, QStringLiteral("SELF"));
    EXPECT_EQ(b.product_iface.data(), &product);
    EXPECT_EQ(b.getCamDevices().getAllCamsIDs(), (QStringList{"a"}));

    CamDevices_Interface other;
    other.resetCameraBaseInfos({CameraBaseInfo(QStringLiteral("x"), 1), CameraBaseInfo(QStringLiteral("y"), 0)});
    b.cam_devices.setValue(other);
    EXPECT_EQ(a.getCamDevices().getAllCamsIDs(), (QStringList{"a"}));

    FlowInstIface c;
    c = b;
    c = c;  // assigning a record to itself keeps its list
    EXPECT_EQ(c.getCamDevices().getAllCamsIDs(), (QStringList{"x", "y"}));
}

TEST(FlowInstIface, ItsLinksDoNotOwnAndClearWhenTheObjectGoes)
{
    FlowInstIface iface;
    {
        testsupport::TestProductInterface product;
        iface.product_iface = &product;
        EXPECT_FALSE(iface.product_iface.isNull());
    }
    EXPECT_TRUE(iface.product_iface.isNull());
}

}  // namespace
