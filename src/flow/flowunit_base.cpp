#include "flow/flowunit_base.h"

#include "flow/flowmetatypes.h"
#include "foundation/publictools.h"

FlowUnit_Base::FlowUnit_Base(QObject* parent) : QObject(parent), unit_uuid(new_uuid(0))
{
    registerFlowMetaTypes();
}

FlowUnit_Base::~FlowUnit_Base() = default;

void FlowUnit_Base::set_user_describe(QString_TL describe) { user_describe = describe; }
QString_TL FlowUnit_Base::get_user_describe() const { return user_describe; }
void FlowUnit_Base::set_isworking(bool working) { isworking = working; }
bool FlowUnit_Base::get_isworking() const { return isworking; }
void FlowUnit_Base::set_detect_index(int index) { detect_index = index; }
int FlowUnit_Base::get_detect_index() const { return detect_index; }
void FlowUnit_Base::set_detect_index_abs(int index) { detect_index_abs = index; }
int FlowUnit_Base::get_detect_index_abs() const { return detect_index_abs; }
void FlowUnit_Base::set_enable(bool value) { enable = value; }
bool FlowUnit_Base::get_enable() const { return enable; }
void FlowUnit_Base::set_last_detect_type(Condition_Type type) { last_detect_type = type; }
Condition_Type FlowUnit_Base::get_last_detect_type() const { return last_detect_type; }

FlowWork_Receipt FlowUnit_Base::get_UnitReceipt() { return work_passport.receipt; }

QJsonObject FlowUnit_Base::get_FlowSerialize() { return QJsonObject(); }

void FlowUnit_Base::slot_ModifyReceipt_OnWorking(FlowWork_Receipt receipt)
{
    work_passport.receipt = receipt;
}

void FlowUnit_Base::slot_OnFinish_UnitWork(FlowWork_Receipt)
{
    // The receipt has already reached the passport through
    // slot_ModifyReceipt_OnWorking; the argument is not read.
    emit sig_unit_workfinish(work_passport);
}
