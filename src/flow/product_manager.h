#pragma once
// The flow manager: drives the inspection flow at run time. It owns the list
// of flow groups, turns IO triggers and operator actions into passports,
// queues them and offers the oldest one per traverse (every 100 ms and on each
// new passport) to the groups, round robin from the current group. It keeps
// the flow's run state, the run-state record shown to the operator, and
// answers what the flow is doing now (get_RunDescribe).
//
// Building the groups (create_Frameworks, chk_Frameworks, the layouts, the
// user flow file) lives beside the layout builders; they fill the group list
// (flowGroups), wire each group (connect_Group) and reset the current group
// and the run state through the accessors below.
//
// Threads: lives in the main thread with its groups; every operation runs
// there except get_RunDescribe, which may be called from any thread.
#include "flow/flowinstiface.h"
#include "flow/flowrecords.h"
#include "flow/flowunit_passport.h"
#include "foundation/cvariant.h"
#include "io/iotypes.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>

class FlowBox_Group;
class FlowHostServices;
class FlowUnit_Base;
class FrameIO;
class Product_Interface;

// The layout a framework is built for: -1 the user flow file, 2 the
// turntable layout, any other value the standard layout.
using Product_Model = int;

class Product_Manager : public QObject {
    Q_OBJECT
public:
    explicit Product_Manager(QObject* parent = nullptr);
    // Releases the manager's own members; the group objects are not deleted
    // here (they are taken down by clear_Frameworks or by their parent).
    ~Product_Manager() override;

    // ---- Wiring (the application at start-up; the links are weak) ----
    // The application's product interface handed to every group.
    void setProductInterface(Product_Interface* product);
    Product_Interface* productInterface() const { return product_iface.data(); }
    // The process IO frame handed to every group.
    void setFrameIO(FrameIO* frame);
    FrameIO* frameIO() const { return frame_io.data(); }
    // Statistics reset, camera images, process parameters, step count. Not
    // owned; must outlive the manager or be reset to null first.
    void setHostServices(FlowHostServices* host) { host_services = host; }
    FlowHostServices* hostServices() const { return host_services; }

    // ---- Run ----
    // Start: every group's run state reset, in list order. Stop: the queue is
    // emptied.
    void setStartOrStop(bool start);
    // The next enabled group after `current` (see the source for the rules);
    // -1 when none.
    int get_next_groupnode(int current);
    // What the flow is doing now. Callable from any thread: from another
    // thread it asks the main thread (blocking) unless the main thread is
    // inside a work event, in which case it returns the state last published
    // by the main thread.
    FlowGroup_State get_RunDescribe();
    // Device id, language, product interface, IO frame and camera list for a
    // group the builders create.
    FlowInstIface getFlowInstIface();
    // The absolute detect index of the first standard detect unit whose
    // manual-trigger condition would accept `passport`; -1 when none.
    int get_QuickChk_ManualTrig(FlowUnit_Passport passport);

    // ---- Absolute unit indexes (units counted over the groups in list order) ----
    int get_UAbs_Count();
    int get_UiAbs_From_UiRel(int group, int unit);
    int get_Gi_From_UiAbs(int abs);
    FlowUnit_Base* get_UnitObj_ByUiAbs(int abs);
    // The absolute detect index of the unit whose NG stop holds the machine
    // (the first group in list order that holds one); -1 when none does.
    int get_NGStop_UiAbs();

    // ---- For the framework builders ----
    // The live group list; the builders fill and empty it.
    QList<FlowBox_Group*>& flowGroups() { return groups; }
    const QList<FlowBox_Group*>& flowGroups() const { return groups; }
    // Disconnects the group's three manager signals and connects them to this
    // manager (period finish, run state, display record).
    void connect_Group(FlowBox_Group* group);
    int get_current_group() const { return current_group; }
    void set_current_group(int position) { current_group = position; }
    int get_run_state() const { return run_state; }
    void set_run_state(int state) { run_state = state; }
    int get_running_node() const { return running_node; }
    // The displayed run-state record (empty when none).
    CVariant<FlowWork_DisplayArea> get_display() const { return display; }
    void clear_display() { display.clear(); }
    // Recomputes the run-state description and publishes it for readers on
    // other threads. Main thread only.
    void publish_RunDescribe();

    // ---- Framework building and layouts (defined with the layout builders) ----
    QJsonObject create_Frameworks(Product_Model model, bool build);
    void chk_Frameworks(QList<FlowBox_Group*>& groupList, bool build);
    void clear_Frameworks();
    QJsonObject get_Frameworks();
    QJsonObject get_FlowSerialize();
    static QString show_Frameworks(const QJsonObject& obj, int depth);
    static QJsonObject parse_Framworks(QJsonObject obj);
    QJsonObject create_QuickFrame_Standard(QMap<QString, QVariant> params, bool build);
    QJsonObject create_QuickFrame_Turntable(QMap<QString, QVariant> params, bool build);
    QJsonObject create_UserFrame_UserFlow(bool build);

    // ---- Inspection ----
    // The pending passports, oldest first.
    QList<FlowUnit_Passport> get_queue() const { return queue; }
    // The state a camera that is not the group's main camera reports.
    FlowGroup_State get_own_group_state() const { return own_group_state; }
    // The step a sub camera shows: set by the sub side of each work event.
    void setShownUnitIndex(int abs) { own_group_state.fgs_zrp_show_unitindex_abs = abs; }
    // The description the main thread published last; never waits (for
    // threads that must not block on the main thread).
    FlowGroup_State get_PublishedRunDescribe() const;

public slots:
    // Entry for every passport (operator actions arrive queued).
    void slot_OnWork(FlowUnit_Passport passport);
    // Entry for IO triggers: one passport per call.
    void slot_OnWork_IOTrig(QMap<int, ElectricLevel> TrigIndexs);
    // Offers the oldest queued passport to the groups.
    void slot_Traverse();
    // A group ended its period: the current group moves on.
    void slot_GroupPeriod_Finish();
    // Recomputes the run state and the running node from the groups.
    void slot_Update_PM_State();
    // Replaces the displayed record and restarts the 3000 ms display timer.
    void slot_Update_Group_StashDisplay(FlowWork_DisplayArea display);
    // The display timer ran out: the record is dropped unless the flow holds
    // an NG stop.
    void slot_DisplayTimeout();

    // Computes the run-state description on the calling thread.
    Q_INVOKABLE FlowGroup_State Private_Get_RunDescribe();

private:
    QList<FlowBox_Group*> groups;
    QTimer traverse_timer;
    QList<FlowUnit_Passport> queue;
    int current_group = -1;
    int run_state = FlowRunState_Detect;
    int running_node = -1;
    FlowGroup_State own_group_state;
    CVariant<FlowWork_DisplayArea> display;
    QTimer display_timer;

    QPointer<Product_Interface> product_iface;
    QPointer<FrameIO> frame_io;
    FlowHostServices* host_services = nullptr;

    // The description last computed by the main thread.
    mutable QMutex published_mutex;
    FlowGroup_State published;
};
