#include "flow/flowbox_group.h"
#include "foundation/logmanager.h"

#include "flow/flowmetatypes.h"
#include "flow/flowunit_base.h"
#include "foundation/publictools.h"

#include <QDebug>

#include <algorithm>

FlowBox_Group::FlowBox_Group(QObject* parent) : QObject(parent), obj_id(new_uuid(0))
{
    registerFlowMetaTypes();
}

FlowBox_Group::~FlowBox_Group() = default;

void FlowBox_Group::set_obj_id(QString id) { obj_id = id; }
QString FlowBox_Group::get_obj_id() const { return obj_id; }
void FlowBox_Group::set_group_index(int index) { group_index = index; }
int FlowBox_Group::get_group_index() const { return group_index; }
void FlowBox_Group::set_enable(bool value) { enable = value; }
bool FlowBox_Group::get_enable() const { return enable; }
void FlowBox_Group::set_subunit_indexabs(QList<int> indexes) { subunit_indexabs = indexes; }
QList<int> FlowBox_Group::get_subunit_indexabs() const { return subunit_indexabs; }

bool FlowBox_Group::onStart(FlowUnit_Passport)
{
    return !unit_list.isEmpty();
}

void FlowBox_Group::init_Fgs_RunState()
{
    fgs_state.fgs_runstate = FlowRunState_Detect;
    fgs_state.fgs_runnode = get_next_unitnode(-1);
    // A relative index for now; describing the run state replaces it by the
    // absolute one.
    fgs_state.fgs_zrp_show_unitindex_abs = get_next_unitnode(-1);
    fgs_state.fgs_remain_detects.clear();
    fgs_state.fgs_remain_trains.clear();
}

FlowGroup_State FlowBox_Group::get_RunDescribe() { return fgs_state; }

int FlowBox_Group::get_next_unitnode(int current)
{
    QList<int> indexes;
    for (FlowUnit_Base* unit : unit_list) {
        if (unit && unit->get_enable())
            indexes.append(unit->get_detect_index());
    }
    std::stable_sort(indexes.begin(), indexes.end());
    if (indexes.isEmpty())
        return -1;
    if (current == -1)
        return indexes.first();

    const int pos = indexes.indexOf(current);
    if (pos >= 0) {
        const int next = indexes.at((pos + 1) % indexes.size());
        if (next != -1)
            return next;
    }
    qCWarning(level_1) << "get_next_unitnode error = -1, There might not be a job unit!";
    return -1;
}

void FlowBox_Group::init_remain_detects()
{
    fgs_state.fgs_remain_detects.clear();
    fgs_state.fgs_recycle_detectinfo.clear();
    for (FlowUnit_Base* unit : unit_list) {
        if (unit && unit->get_enable())
            fgs_state.fgs_remain_detects.append(unit->get_detect_index());
    }
}

int FlowBox_Group::get_UiAbs_From_Rel(int rel)
{
    const QList<FlowUnit_Base*> units = unit_list;
    for (FlowUnit_Base* unit : units) {
        if (unit && unit->get_detect_index() == rel)
            return unit->get_detect_index_abs();
    }
    return -1;
}

void FlowBox_Group::append_FlowUnit(FlowUnit_Base* unit)
{
    if (!unit) {
        qCWarning(level_1) << QStringLiteral("<%1>:").arg(QStringLiteral("append_FlowUnit")) << "no unit given";
        return;
    }
    unit->set_inst_iface(inst_iface);
    connect(unit, &FlowUnit_Base::sig_unit_workfinish, this, &FlowBox_Group::slot_Group_DoUnitWorkFinish);
    connect(unit, &FlowUnit_Base::sig_unit_Update_Fgs_State, this, &FlowBox_Group::slot_Update_Fgs_State);
    // The group owns its units; a builder normally made the group the parent.
    if (!unit->parent())
        unit->setParent(this);
    unit_list.append(unit);
}

void FlowBox_Group::clear_frames()
{
    for (FlowUnit_Base* unit : unit_list) {
        if (!unit)
            continue;
        unit->clear_frames();
        unit->deleteLater();
    }
    unit_list = QList<FlowUnit_Base*>();
}

void FlowBox_Group::slot_Update_Fgs_State()
{
    int working = -1;
    for (FlowUnit_Base* unit : unit_list) {
        if (unit && unit->get_isworking()) {
            working = unit->get_detect_index_abs();
            break;
        }
    }
    fgs_state.fgs_working_unitindex_abs = working;
}

void FlowBox_Group::slot_OnStart(FlowUnit_Passport passport)
{
    onStart(passport);  // the group made the passport itself; nobody waits for the answer
}
