#include "flow/flowpart_aftdect_ngstop.h"

#include "flow/flowunit_base.h"

FlowPart_AftDect_NGStop::FlowPart_AftDect_NGStop(FlowUnit_Base* unit) : FlowPart_AfterDetect(unit)
{
    part_type = QStringLiteral("FlowPart_AftDect_NGStop");
    user_describe = tr("停止检测");
}

FlowPart_AftDect_NGStop::~FlowPart_AftDect_NGStop() = default;

QJsonObject FlowPart_AftDect_NGStop::Serialize_2_Json() const
{
    QJsonObject o = FlowPart_AfterDetect::Serialize_2_Json();
    o.insert(QStringLiteral("name"), get_user_describe());
    return o;
}

void FlowPart_AftDect_NGStop::Structure_FromJson(const QJsonObject&) {}

void FlowPart_AftDect_NGStop::onStart_Working()
{
    part_passport.receipt.rcpt_ngstop = true;
    emit sig_update_unit_receipt(part_passport.receipt);
}
