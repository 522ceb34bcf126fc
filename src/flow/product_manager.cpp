#include "flow/product_manager.h"

#include "flow/flowbox_group.h"
#include "flow/flowgroup_standard.h"
#include "flow/flowmetatypes.h"
#include "flow/flowunit_base.h"
#include "flow/flowunit_standard_detect.h"
#include "flow/product_interface.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/qstring_tl.h"
#include "foundation/zrc_workinformation_manager.h"
#include "io/frameio.h"

#include <QDebug>
#include <QMetaObject>
#include <QThread>

namespace {

QString tag(const char* function)
{
    return QStringLiteral("<%1>:").arg(QLatin1String(function));
}

constexpr int kTraverseMs = 100;
constexpr int kDisplayKeepMs = 3000;
// Module state with both the IO module and the camera-pair link connected.
constexpr int kModuleStateReady = 3;

}  // namespace

Product_Manager::Product_Manager(QObject* parent) : QObject(parent)
{
    registerFlowMetaTypes();
    registerIoMetaTypes();

    traverse_timer.setInterval(kTraverseMs);
    connect(&traverse_timer, &QTimer::timeout, this, &Product_Manager::slot_Traverse);
    traverse_timer.start();

    display_timer.setInterval(kDisplayKeepMs);
    display_timer.setSingleShot(true);
    connect(&display_timer, &QTimer::timeout, this, &Product_Manager::slot_DisplayTimeout);
}

Product_Manager::~Product_Manager()
{
    traverse_timer.stop();
    display_timer.stop();
}

void Product_Manager::setProductInterface(Product_Interface* product) { product_iface = product; }

void Product_Manager::setFrameIO(FrameIO* frame) { frame_io = frame; }

// ---- Run ----

void Product_Manager::setStartOrStop(bool start)
{
    if (start) {
        for (FlowBox_Group* group : groups) {
            if (group)
                group->init_Fgs_RunState();
        }
    } else {
        if (!queue.isEmpty())
            qInfo().noquote() << tag("setStartOrStop") << queue.size() << "pending passport(s) dropped: work stopped";
        queue.clear();
    }
    publish_RunDescribe();
}

void Product_Manager::slot_OnWork_IOTrig(QMap<int, ElectricLevel> TrigIndexs)
{
    ZRC_WorkInformation_Manager* wi = ZRC_WorkInformation_Manager::getInstance();

    FlowWork_Condition cond;
    cond.cond_type = CondType_IOTrig;
    cond.cond_url = QStringLiteral("/dide/action/io_catch");
    for (const DeviceNetInfo& sub : wi->getSubCameras())
        cond.cond_action_deviceids.append(sub.uuid);
    cond.cond_action_deviceids.append(wi->get_deviceid());
    cond.cond_input_bits = wi->get_working_info().input_bits;
    for (auto it = TrigIndexs.cbegin(); it != TrigIndexs.cend(); ++it)
        cond.cond_trig_levels.append(IO_IndexLevel{it.key(), it.value()});

    slot_OnWork(FlowUnit_Passport(new_uuid(0), cond));
}

void Product_Manager::slot_OnWork(FlowUnit_Passport passport)
{
    const int moduleState = ZRC_WorkInformation_Manager::getInstance()->get_working_info().link_flags;
    if (moduleState != kModuleStateReady) {
        // Nothing is detected and the outputs stay cut while a link is down;
        // a cycle cut short here ends without a verdict, and the log files
        // say why.
        qCWarning(level_1).noquote() << tag("slot_OnWork") << "passport" << passport.uuid
                                     << Condition_Type_2_Str(passport.condition.cond_type)
                                     << "dropped: IO module or camera link not connected, module state"
                                     << moduleState;
        return;
    }
    slot_Update_PM_State();
    queue.append(passport);
    slot_Traverse();
}

void Product_Manager::slot_Traverse()
{
    ZRC_WorkInformation_Manager* wi = ZRC_WorkInformation_Manager::getInstance();
    // The IO link tells from this stamp that the main thread is alive, so it
    // is taken on every call, before any test.
    wi->set_mainloop_tick(curtime_qint64_2_int());

    if (!wi->get_working_info().started || queue.isEmpty()) {
        publish_RunDescribe();
        return;
    }

    if (running_node != -1) {
        // Passports that arrive while a unit works are dropped, not kept.
        for (const FlowUnit_Passport& p : queue) {
            qInfo().noquote() << tag("slot_Traverse") << "passport" << p.uuid
                              << Condition_Type_2_Str(p.condition.cond_type) << "dropped: unit" << running_node
                              << "is working";
        }
        queue.clear();
        publish_RunDescribe();
        return;
    }

    const FlowUnit_Passport passport = queue.takeFirst();
    const int notedState = run_state;
    const int notedGroup = current_group;
    const int count = groups.size();
    // A current group outside the list (-1 while no group was enabled at the
    // build) names no group: the offer then starts at the first position.
    const int start = (notedGroup >= 0 && notedGroup < count) ? notedGroup : 0;

    int accepter = -1;
    for (int i = 0; i < count; ++i) {
        const int pos = (start + i) % count;
        FlowBox_Group* group = groups.at(pos);
        if (!group)
            continue;
        FlowUnit_Passport offer = passport;
        FlowProc_State proc;
        proc.proc_group_index = notedGroup;
        proc.proc_runstate = notedState;
        proc.proc_running_node = -1;
        offer.set_product_state(proc);
        if (group->onStart(offer)) {
            accepter = pos;
            break;
        }
    }

    if (accepter < 0) {
        const int held = get_NGStop_UiAbs();
        if (held >= 0) {
            // A held machine takes no trigger: the log files say what holds
            // it and what releases it, for every trigger it refuses.
            const bool dataLost = product_iface && product_iface->detect_exception.load() != 0;
            const QString release = holdReleaseRoutes(dataLost, true).join(QStringLiteral(" or "));
            qCWarning(level_1).noquote()
                << "[Flow] passport" << passport.uuid << Condition_Type_2_Str(passport.condition.cond_type)
                << "not taken: the machine is held by the NG stop of unit" << held
                << (dataLost ? QStringLiteral("after a work event lost a camera's result, until the operator's %1")
                                   .arg(release)
                             : QStringLiteral("until the operator's %1 with \"detect_index\": %2").arg(release).arg(held));
        } else {
            qInfo().noquote() << tag("slot_Traverse") << "passport" << passport.uuid
                              << Condition_Type_2_Str(passport.condition.cond_type) << "dropped: no group took it";
        }
        publish_RunDescribe();
        return;
    }

    current_group = accepter;
    if (notedState == FlowRunState_Detect) {
        for (int pos = 0; pos < groups.size(); ++pos) {
            if (pos != accepter && groups.at(pos))
                groups.at(pos)->init_remain_detects();
        }
    }
    publish_RunDescribe();
}

void Product_Manager::slot_GroupPeriod_Finish()
{
    current_group = get_next_groupnode(current_group);
    publish_RunDescribe();
}

void Product_Manager::slot_Update_PM_State()
{
    int state = FlowRunState_Detect;
    int node = -1;
    bool stateFound = false;
    for (FlowBox_Group* group : groups) {
        if (!group)
            continue;
        const FlowGroup_State s = group->get_RunDescribe();
        if (!stateFound && (s.fgs_runstate == FlowRunState_Sampling || s.fgs_runstate == FlowRunState_NGStop)) {
            state = s.fgs_runstate;
            stateFound = true;
        }
        if (node == -1 && s.fgs_working_unitindex_abs != -1)
            node = s.fgs_working_unitindex_abs;
    }
    run_state = state;
    running_node = node;
    publish_RunDescribe();
}

void Product_Manager::slot_Update_Group_StashDisplay(FlowWork_DisplayArea area)
{
    display.setValue(area);
    display_timer.start();
    publish_RunDescribe();
}

void Product_Manager::slot_DisplayTimeout()
{
    // In an NG stop the record stays until the next update.
    if (display.hasValue() && run_state != FlowRunState_NGStop)
        display.clear();
    publish_RunDescribe();
}

int Product_Manager::get_next_groupnode(int current)
{
    const int count = groups.size();
    if (count == 0 || current < -1)
        return -1;
    const int start = current == -1 ? 0 : (current + 1) % count;
    // List positions throughout: the current group indexes the list.
    for (int i = 0; i < count; ++i) {
        const int pos = (start + i) % count;
        FlowBox_Group* group = groups.at(pos);
        if (group && group->get_enable())
            return pos;
    }
    return -1;
}

// ---- Run state from any thread ----

FlowGroup_State Product_Manager::get_RunDescribe()
{
    if (QThread::currentThread() == thread())
        return Private_Get_RunDescribe();

    // While the main thread is inside a work event it would not answer before
    // the event ends: take what it published last.
    if (!ZRC_WorkInformation_Manager::getInstance()->get_working_info().busy) {
        FlowGroup_State answer;
        if (QMetaObject::invokeMethod(this, "Private_Get_RunDescribe", Qt::BlockingQueuedConnection,
                                      Q_RETURN_ARG(FlowGroup_State, answer)))
            return answer;
    }
    QMutexLocker guard(&published_mutex);
    return published;
}

FlowGroup_State Product_Manager::get_PublishedRunDescribe() const
{
    QMutexLocker guard(&published_mutex);
    return published;
}

void Product_Manager::publish_RunDescribe()
{
    const FlowGroup_State s = Private_Get_RunDescribe();
    QMutexLocker guard(&published_mutex);
    published = s;
}

FlowGroup_State Product_Manager::Private_Get_RunDescribe()
{
    // The groups are the main thread's: any other thread gets the published state.
    if (QThread::currentThread() != thread()) {
        QMutexLocker guard(&published_mutex);
        return published;
    }

    if (!ZRC_WorkInformation_Manager::getInstance()->IsMainCamera())
        return own_group_state;

    FlowBox_Group* ngStopGroup = nullptr;
    FlowBox_Group* samplingGroup = nullptr;
    QString remainText;
    for (FlowBox_Group* group : groups) {
        auto* standard = qobject_cast<FlowGroup_Standard*>(group);
        if (!standard || !standard->get_enable())
            continue;
        const FlowGroup_State s = standard->get_RunDescribe();
        const int remain = standard->get_RunningUnit_RemainTimems();
        if (remain != 0)
            remainText = QString::number(remain / 1000.0, 'f', 1);
        if (s.fgs_runstate == FlowRunState_NGStop) {
            if (!ngStopGroup)
                ngStopGroup = standard;
        } else if (s.fgs_runstate == FlowRunState_Sampling) {
            if (!(remain < 1 && samplingGroup))
                samplingGroup = standard;
        }
    }

    FlowBox_Group* chosen = ngStopGroup ? ngStopGroup : samplingGroup;
    if (!chosen && current_group >= 0 && current_group < groups.size())
        chosen = groups.at(current_group);
    if (!chosen)
        return FlowGroup_State();

    FlowGroup_State s = chosen->get_RunDescribe();
    if (display.hasValue()) {
        const FlowWork_DisplayArea area = display.getValue();
        s.fgs_zrp_describe = area.Describe();
        s.fgs_zrp_flag = area.ZRP_Runstate();
        s.fgs_zrp_show_unitindex_abs = area.area_unitindex_abs;
    }
    s.fgs_zrp_describe += QStringLiteral(" ") + remainText;
    return s;
}

// ---- Interfaces for groups and actions ----

FlowInstIface Product_Manager::getFlowInstIface()
{
    ZRC_WorkInformation_Manager* wi = ZRC_WorkInformation_Manager::getInstance();
    FlowInstIface iface;
    iface.device_id = wi->get_deviceid();
    iface.language = g_Language.get();
    iface.product_iface = product_iface;
    iface.frame_io = frame_io;
    iface.cam_devices.setValue(wi->get2CamDevices_Interface());
    return iface;
}

int Product_Manager::get_QuickChk_ManualTrig(FlowUnit_Passport passport)
{
    for (FlowBox_Group* group : groups) {
        if (!group)
            continue;
        for (FlowUnit_Base* unit : group->get_unit_list()) {
            auto* detect = qobject_cast<FlowUnit_Standard_Detect*>(unit);
            if (!detect)
                continue;
            const int answer = detect->get_QuickChk_ManualTrig(passport);
            if (answer != -1)
                return answer;
        }
    }
    return -1;
}

void Product_Manager::connect_Group(FlowBox_Group* group)
{
    if (!group)
        return;
    disconnect(group, &FlowBox_Group::sig_GroupPeriod_Finish, nullptr, nullptr);
    disconnect(group, &FlowBox_Group::sig_Update_PM_State, nullptr, nullptr);
    disconnect(group, &FlowBox_Group::sig_Update_StashDisplay, nullptr, nullptr);
    connect(group, &FlowBox_Group::sig_GroupPeriod_Finish, this, &Product_Manager::slot_GroupPeriod_Finish);
    connect(group, &FlowBox_Group::sig_Update_PM_State, this, &Product_Manager::slot_Update_PM_State);
    connect(group, &FlowBox_Group::sig_Update_StashDisplay, this, &Product_Manager::slot_Update_Group_StashDisplay);
}

// ---- Absolute unit indexes ----

int Product_Manager::get_UAbs_Count()
{
    int total = 0;
    for (FlowBox_Group* group : groups) {
        if (group)
            total += group->get_unit_list().size();
    }
    return total;
}

int Product_Manager::get_UiAbs_From_UiRel(int group, int unit)
{
    if (group < 0 || group >= groups.size() || !groups.at(group))
        return -1;
    if (unit < 0 || unit >= groups.at(group)->get_unit_list().size())
        return -1;
    int abs = unit;
    for (int g = 0; g < group; ++g) {
        if (groups.at(g))
            abs += groups.at(g)->get_unit_list().size();
    }
    return abs;
}

int Product_Manager::get_NGStop_UiAbs()
{
    for (FlowBox_Group* group : groups) {
        auto* standard = qobject_cast<FlowGroup_Standard*>(group);
        if (standard && !standard->get_ng_stops().isEmpty())
            return standard->get_UiAbs_From_Rel(standard->get_ng_stops().first().detect_index);
    }
    return -1;
}

int Product_Manager::get_Gi_From_UiAbs(int abs)
{
    if (abs < 0)
        return -1;
    int first = 0;
    for (int g = 0; g < groups.size(); ++g) {
        const int n = groups.at(g) ? groups.at(g)->get_unit_list().size() : 0;
        if (abs < first + n)
            return g;
        first += n;
    }
    return -1;
}

FlowUnit_Base* Product_Manager::get_UnitObj_ByUiAbs(int abs)
{
    const int g = get_Gi_From_UiAbs(abs);
    if (g < 0)
        return nullptr;
    int first = 0;
    for (int i = 0; i < g; ++i)
        first += groups.at(i) ? groups.at(i)->get_unit_list().size() : 0;
    const QList<FlowUnit_Base*> units = groups.at(g)->get_unit_list();
    const int rel = abs - first;
    return rel >= 0 && rel < units.size() ? units.at(rel) : nullptr;
}
