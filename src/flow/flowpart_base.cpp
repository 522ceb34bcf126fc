#include "flow/flowpart_base.h"

#include "flow/flowmetatypes.h"
#include "foundation/publictools.h"

std::atomic<int> g_flowpart_base_count{0};

FlowPart_Base::FlowPart_Base(QObject* parent) : QObject(parent), part_uuid(new_uuid(0))
{
    registerFlowMetaTypes();
    ++g_flowpart_base_count;
}

FlowPart_Base::~FlowPart_Base()
{
    inst_iface.cam_devices.clear();
    --g_flowpart_base_count;
}

void FlowPart_Base::set_enable(bool value) { enable = value; }
bool FlowPart_Base::get_enable() const { return enable; }
QString FlowPart_Base::get_user_describe() const { return user_describe; }

void FlowPart_Base::onStart(FlowUnit_Passport passport)
{
    part_passport = passport;
    emit sig_update_unit_receipt(part_passport.receipt);
    onStart_Working();
}

FlowWork_Receipt FlowPart_Base::getReceipt() const { return part_passport.receipt; }

QJsonObject FlowPart_Base::Serialize_2_Json() const
{
    QJsonObject o;
    o.insert(QStringLiteral("name"), get_user_describe());
    o.insert(QStringLiteral("type"), part_type);
    o.insert(QStringLiteral("obj"), part_uuid);
    return o;
}

void FlowPart_Base::Structure_FromJson(const QJsonObject&) {}

void FlowPart_Base::onFinish_Working() {}
