#pragma once
// Builds, numbers, wires, takes down and serialises the flow framework: the
// groups, units and parts that the flow manager runs. A framework is built
// live (it replaces the manager's groups) or as a preview (built only to
// obtain its JSON, then destroyed).
//
// The flow manager owns the group list and the run state; it hands them to
// the builder as a FlowFrameworkHost (FlowFrameworkBuilder::hostOf). Its
// framework operations (Product_Manager::create_Frameworks, get_Frameworks,
// get_FlowSerialize, the layouts, ...) are defined in flowframeworkbuilder.cpp
// and forward to this builder.
//
// Only a live build touches the running flow: the live list, the display
// record, the wiring, the number of detect steps, the statistics' detect
// count, the current group, the run state and the IO frame's input trigger
// flags. A preview leaves all of them
// as they are (it may be asked for while the machine is held in an NG stop).
//
// JSON forms:
//   framework   {"units": [unit, ...]}  every group's units, one flat array
//   group       the group's own serialisation, with its "units" array
//               (the user flow's single group)
//   serialised  {"io_defalut": [8 rest levels], "units": [[group 0], ...]}
//
// Threads: main thread only.
#include "flow/flowinstiface.h"
#include "flow/product_manager.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

class FlowBox_Group;
class FlowHostServices;
class Product_Manager;

// What the builder needs of the flow manager.
struct FlowFrameworkHost {
    // Parent of the user flow's and the turntable's groups. May be null.
    QObject* manager = nullptr;
    // The live group list; the manager owns the groups in it. Required.
    QList<FlowBox_Group*>* groups = nullptr;
    // The manager's instance record for a new group (getFlowInstIface).
    std::function<FlowInstIface()> instIface;
    // Empties the displayed run-state record under its mutex.
    std::function<void()> clearDisplay;
    // Connects the group's three signals to the manager, after dropping
    // their old connections.
    std::function<void(FlowBox_Group*)> wireGroup;
    // After a live build: run state and running node from the new groups,
    // current group := get_next_groupnode(-1), run state := 0 (detect).
    std::function<void()> resetRunState;
    // Makes one runnable group with that parent; a FlowGroup_Standard when unset.
    std::function<FlowBox_Group*(QObject* parent)> newGroup;
    // Statistics, hub images, number of detect steps; may be null.
    FlowHostServices* services = nullptr;
};

class FlowFrameworkBuilder {
public:
    explicit FlowFrameworkBuilder(FlowFrameworkHost host);
    // The host record of the flow manager.
    static FlowFrameworkHost hostOf(Product_Manager* manager);

    // Builds the framework of `model` (-1 user flow file, 2 turntable, any
    // other the standard layout; live when `build`, else a preview) and
    // returns its JSON: the framework form for the standard and turntable
    // layouts, the group form for the user flow. `params` is the process
    // parameter set (WizardPara's JSON form).
    QJsonObject create_Frameworks(Product_Model model, bool build, const QJsonObject& params);
    // Numbers the groups and units of `groups` (group index, detect indexes,
    // the conditions' sort indexes). With `build` it also empties the display
    // record, wires the live groups to the manager and sets the number of
    // detect steps.
    void chk_Frameworks(QList<FlowBox_Group*>& groups, bool build);
    // Takes the live framework down (clear_frames, deleteLater, list emptied).
    void clear_Frameworks();
    // The framework JSON of the live framework.
    QJsonObject get_Frameworks() const;
    // The flow serialisation of the live framework.
    QJsonObject get_FlowSerialize() const;

    // Writes `obj` to the info log as an indented tree; returns "".
    static QString show_Frameworks(const QJsonObject& obj, int depth);
    // A copy of a framework object with every "cond_flags" array of more than
    // three entries replaced by readable text.
    static QJsonObject parse_Framworks(QJsonObject obj);

    // ---- For the layout builders ----
    // The framework JSON of any list of groups.
    static QJsonObject frameworkJson(const QList<FlowBox_Group*>& groups);
    // clear_frames and deleteLater on every group of a preview's list; empties it.
    static void destroyGroups(QList<FlowBox_Group*>& groups);
    // A new runnable group with `parent`, carrying the manager's instance record.
    FlowBox_Group* newGroup(QObject* parent) const;
    // The live list; the caller has taken the live framework down first.
    QList<FlowBox_Group*>& liveGroups() const { return *host.groups; }
    QObject* manager() const { return host.manager; }
    // The IO frame of the manager's instance record (may be null).
    FrameIO* frameIO() const;
    // The manager's translation of an operator text.
    static QString trManager(const char* text);

private:
    FlowFrameworkHost host;
};

// Reading the process parameters: a missing key reads as 0 or false.
namespace flowparams {
bool toBool(const QJsonObject& params, const char* key);
int toInt(const QJsonObject& params, const char* key);
// A time kept in tenths of a second and written in seconds, in ms.
int tenthsToMs(const QJsonObject& params, const char* key);
}  // namespace flowparams
