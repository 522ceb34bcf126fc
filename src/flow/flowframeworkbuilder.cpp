#include "flow/flowframeworkbuilder.h"
#include "foundation/logmanager.h"

#include "flow/flowbox_group.h"
#include "flow/flowgroup_standard.h"
#include "flow/flowhostservices.h"
#include "flow/flowlayout_standard.h"
#include "flow/flowlayout_turntable.h"
#include "flow/flowunit_base.h"
#include "flow/flowunit_standard_detect.h"
#include "flow/userflowfile.h"
#include "io/frameio.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QtGlobal>

#include <cmath>
#include <utility>

FlowFrameworkBuilder::FlowFrameworkBuilder(FlowFrameworkHost h) : host(std::move(h)) {}

FlowFrameworkHost FlowFrameworkBuilder::hostOf(Product_Manager* m)
{
    FlowFrameworkHost h;
    h.manager = m;
    h.groups = &m->flowGroups();
    h.instIface = [m] { return m->getFlowInstIface(); };
    h.clearDisplay = [m] { m->clear_display(); };
    h.wireGroup = [m](FlowBox_Group* g) { m->connect_Group(g); };
    h.resetRunState = [m] {
        // A unit of a group just taken down never finishes: its running node
        // must not outlive it, or every later passport would be dropped.
        m->slot_Update_PM_State();
        m->set_current_group(m->get_next_groupnode(-1));
        m->set_run_state(FlowRunState_Detect);
        m->publish_RunDescribe();
    };
    h.services = m->hostServices();
    return h;
}

QJsonObject FlowFrameworkBuilder::create_Frameworks(Product_Model model, bool build, const QJsonObject& params)
{
    if (!host.groups) {
        qCWarning(level_1) << "<create_Frameworks>: no group list to build into";
        return QJsonObject();
    }
    QJsonObject result;
    QMap<QString, QVariant> paras;
    if (model == -1) {
        result = UserFlowFile::create_UserFrame_UserFlow(*this, build);
    } else if (model == 2) {
        paras.insert(QStringLiteral("i_program_turntable_type"),
                     flowparams::toInt(params, "i_program_turntable_type"));
        result = FlowLayout_Turntable::create_QuickFrame_Turntable(*this, paras, build, params);
    } else {
        result = FlowLayout_Standard::create_QuickFrame_Standard(*this, paras, build, params);
    }

    // Only a live build restarts the running flow: a preview must leave the
    // statistics, the current group and its run state (an NG stop included)
    // as they are.
    if (build) {
        int units = 0;
        for (const FlowBox_Group* g : *host.groups)
            units += g ? g->get_unit_list().size() : 0;
        if (host.services)
            host.services->stat_ResetDetect(units);
        if (host.resetRunState)
            host.resetRunState();
        if (host.services)
            host.services->reload_CameraImages();
    }
    return result;
}

void FlowFrameworkBuilder::chk_Frameworks(QList<FlowBox_Group*>& groups, bool build)
{
    int counter = -1;
    for (int i = 0; i < groups.size(); ++i) {
        FlowBox_Group* group = groups.at(i);
        if (!group)
            continue;
        group->set_group_index(i);
        QList<int> indexes;
        const QList<FlowUnit_Base*> units = group->get_unit_list();
        for (int j = 0; j < units.size(); ++j) {
            FlowUnit_Base* unit = units.at(j);
            ++counter;
            indexes.append(counter);
            if (!unit)
                continue;
            unit->set_detect_index(j);
            unit->set_detect_index_abs(counter);
            if (auto* standard = qobject_cast<FlowUnit_Standard_Detect*>(unit))
                standard->set_cond_sortindex(j, counter);
        }
        group->set_subunit_indexabs(indexes);
        // After the numbering: the run node is the first unit's detect
        // index, which only now exists (before it every node read -1 and a
        // build without a start dropped every passport).
        group->init_Fgs_RunState();
    }
    if (!build)
        return;

    if (host.clearDisplay)
        host.clearDisplay();
    if (host.groups && host.wireGroup) {
        for (FlowBox_Group* group : *host.groups) {
            if (group)
                host.wireGroup(group);
        }
    }
    if (host.services)
        host.services->setDetectStepCount(counter + 1);
}

void FlowFrameworkBuilder::clear_Frameworks()
{
    if (host.groups)
        destroyGroups(*host.groups);
}

QJsonObject FlowFrameworkBuilder::get_Frameworks() const
{
    return host.groups ? frameworkJson(*host.groups) : frameworkJson({});
}

QJsonObject FlowFrameworkBuilder::get_FlowSerialize() const
{
    QJsonArray levels;
    const FrameIO* frame = frameIO();
    for (int i = 0; i < kIoPointCount; ++i) {
        // Without an IO frame the rest levels are the parameter block's defaults.
        const FrameIO_Params p = frame ? frame->getParams() : FrameIO_Params();
        levels.append(p.output_init_status[i]);
    }
    QJsonArray groups;
    if (host.groups) {
        for (FlowBox_Group* group : *host.groups) {
            if (group)
                groups.append(group->get_FlowSerialize().value(QStringLiteral("units")).toArray());
        }
    }
    QJsonObject o;
    o.insert(QStringLiteral("io_defalut"), levels);
    o.insert(QStringLiteral("units"), groups);
    return o;
}

QJsonObject FlowFrameworkBuilder::frameworkJson(const QList<FlowBox_Group*>& groups)
{
    QJsonArray all;
    for (FlowBox_Group* group : groups) {
        if (!group)
            continue;
        const QJsonValue units = group->get_FlowSerialize().value(QStringLiteral("units"));
        if (!units.isArray())
            continue;
        for (const QJsonValue& unit : units.toArray())
            all.append(unit);
    }
    QJsonObject o;
    o.insert(QStringLiteral("units"), all);
    return o;
}

void FlowFrameworkBuilder::destroyGroups(QList<FlowBox_Group*>& groups)
{
    for (FlowBox_Group* group : groups) {
        if (!group)
            continue;
        group->clear_frames();
        group->deleteLater();
    }
    groups.clear();
}

FlowBox_Group* FlowFrameworkBuilder::newGroup(QObject* parent) const
{
    FlowBox_Group* group = host.newGroup ? host.newGroup(parent) : new FlowGroup_Standard(parent);
    if (group && host.instIface)
        group->inst_iface = host.instIface();
    return group;
}

FrameIO* FlowFrameworkBuilder::frameIO() const
{
    return host.instIface ? host.instIface().frame_io.data() : nullptr;
}

QString FlowFrameworkBuilder::trManager(const char* text)
{
    return QCoreApplication::translate("Product_Manager", text);
}

// ---- show and parse ----

namespace {

QString indent(int depth)
{
    return QString(2 * depth, QLatin1Char('-'));
}

QString compact(const QJsonObject& o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString compact(const QJsonArray& a)
{
    return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact));
}

bool holdsOnlyScalars(const QJsonArray& a)
{
    for (const QJsonValue& v : a) {
        if (v.isArray() || v.isObject())
            return false;
    }
    return true;
}

}  // namespace

QString FlowFrameworkBuilder::show_Frameworks(const QJsonObject& obj, int depth)
{
    const QString pad = indent(depth);
    QJsonObject collection;
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (depth > 1 || (!value.isArray() && !value.isObject())) {
            collection.insert(key, value);
            continue;
        }
        if (value.isObject()) {
            qInfo().noquote() << pad + key;
            show_Frameworks(value.toObject(), depth + 1);
            continue;
        }
        qInfo().noquote() << pad + key + QStringLiteral("{");
        for (const QJsonValue& element : value.toArray()) {
            if (element.isObject()) {
                show_Frameworks(element.toObject(), depth + 1);
            } else if (element.isArray()) {
                const QJsonArray inner = element.toArray();
                if (holdsOnlyScalars(inner)) {
                    qInfo().noquote() << indent(depth + 1) + compact(inner);
                } else {
                    collection.insert(key, inner);
                    show_Frameworks(collection, depth + 1);
                }
            }
            // A scalar element is dumped as an empty object: nothing to log.
        }
        qInfo().noquote() << pad + QStringLiteral("}");
    }
    if (!collection.isEmpty())
        qInfo().noquote() << pad + compact(collection);
    return QString();
}

QJsonObject FlowFrameworkBuilder::parse_Framworks(QJsonObject obj)
{
    static const char* const texts[4][2] = {
        {"正常执行IO, ", "立即执行IO, "},
        {"需要检测, ", "不执行检测, "},
        {"固定, ", "新增, "},
        {"允许NG执行", "禁止NG时执行"},
    };
    const QString flagsKey = QStringLiteral("cond_flags");
    const QStringList keys = obj.keys();
    for (const QString& key : keys) {
        const QJsonValue value = obj.value(key);
        if (!value.isArray())
            continue;
        const QJsonArray array = value.toArray();
        if (key == flagsKey) {
            if (array.size() > 3) {
                QString text;
                for (int i = 0; i < 4; ++i)
                    text += QString::fromUtf8(texts[i][array.at(i).toBool() ? 0 : 1]);
                obj.insert(key, text);
            }
            continue;
        }
        QJsonArray rebuilt;
        for (const QJsonValue& element : array)
            rebuilt.append(element.isObject() ? QJsonValue(parse_Framworks(element.toObject())) : element);
        obj.insert(key, rebuilt);
    }
    return obj;
}

// ---- process parameters ----

namespace flowparams {

bool toBool(const QJsonObject& params, const char* key)
{
    const QJsonValue v = params.value(QLatin1String(key));
    if (v.isBool())
        return v.toBool();
    return v.isDouble() && v.toDouble() != 0.0;
}

int toInt(const QJsonObject& params, const char* key)
{
    const QJsonValue v = params.value(QLatin1String(key));
    if (v.isBool())
        return v.toBool() ? 1 : 0;
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d))
        return 0;
    return int(qBound(-2147483647.0, d, 2147483647.0));
}

int tenthsToMs(const QJsonObject& params, const char* key)
{
    const QJsonValue v = params.value(QLatin1String(key));
    if (!v.isDouble())
        return 0;
    const double seconds = v.toDouble();
    if (!std::isfinite(seconds))
        return 0;
    // The parameter set stores tenths and writes them as tenths / 10.0;
    // rounding recovers the stored tenth exactly (2.3 s is 23, not 22).
    const double tenths = std::round(qBound(-2e7, seconds * 10.0, 2e7));
    return int(tenths) * 100;
}

}  // namespace flowparams

// ---- The flow manager's framework operations ----

namespace {

QJsonObject processParamsOf(const Product_Manager* m)
{
    const FlowHostServices* services = m->hostServices();
    return services ? services->processParams() : QJsonObject();
}

}  // namespace

QJsonObject Product_Manager::create_Frameworks(Product_Model model, bool build)
{
    FlowFrameworkBuilder builder(FlowFrameworkBuilder::hostOf(this));
    return builder.create_Frameworks(model, build, processParamsOf(this));
}

void Product_Manager::chk_Frameworks(QList<FlowBox_Group*>& groupList, bool build)
{
    FlowFrameworkBuilder(FlowFrameworkBuilder::hostOf(this)).chk_Frameworks(groupList, build);
}

void Product_Manager::clear_Frameworks()
{
    FlowFrameworkBuilder(FlowFrameworkBuilder::hostOf(this)).clear_Frameworks();
}

QJsonObject Product_Manager::get_Frameworks()
{
    return FlowFrameworkBuilder(FlowFrameworkBuilder::hostOf(this)).get_Frameworks();
}

QJsonObject Product_Manager::get_FlowSerialize()
{
    return FlowFrameworkBuilder(FlowFrameworkBuilder::hostOf(this)).get_FlowSerialize();
}

QString Product_Manager::show_Frameworks(const QJsonObject& obj, int depth)
{
    return FlowFrameworkBuilder::show_Frameworks(obj, depth);
}

QJsonObject Product_Manager::parse_Framworks(QJsonObject obj)
{
    return FlowFrameworkBuilder::parse_Framworks(obj);
}

QJsonObject Product_Manager::create_QuickFrame_Standard(QMap<QString, QVariant> params, bool build)
{
    FlowFrameworkBuilder builder(FlowFrameworkBuilder::hostOf(this));
    return FlowLayout_Standard::create_QuickFrame_Standard(builder, params, build, processParamsOf(this));
}

QJsonObject Product_Manager::create_QuickFrame_Turntable(QMap<QString, QVariant> params, bool build)
{
    FlowFrameworkBuilder builder(FlowFrameworkBuilder::hostOf(this));
    return FlowLayout_Turntable::create_QuickFrame_Turntable(builder, params, build, processParamsOf(this));
}

QJsonObject Product_Manager::create_UserFrame_UserFlow(bool build)
{
    FlowFrameworkBuilder builder(FlowFrameworkBuilder::hostOf(this));
    return UserFlowFile::create_UserFrame_UserFlow(builder, build);
}
