#pragma once
// Shared set-up of the framework-building and layout tests: a real flow
// manager with a recording IO frame, a test product interface and fake host
// services, and a one-line-per-part summary of a standard detect unit, so
// that a test states a layout the way the layout recipe is written.
//
// Summary of a unit's parts (the four built-in operator conditions left out):
//   io(0H)[0A 1R@300~500]-det+ng   IO condition on input 0 high; output 0
//                                  active, output 1 rest after 300 ms held
//                                  500 ms; needs no detection; allowed in
//                                  the NG stop
//   chg8(1H), chg16(1H), chgIO(1H) IO condition with changed operation
//   pre(0)                         previous-result condition on unit 0
//   +after +ngstate +free          pre-condition / only in the NG stop /
//                                  free of the run node
//   stop, ok[..], ng[..]           after-detect parts
// The rest levels are all low, so A is the high level and R the low one.
#include "flow/flowbox_group.h"
#include "flow/flowhostservices.h"
#include "flow/flowpart_afterdetect.h"
#include "flow/flowpart_base.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowpart_cond_preresult.h"
#include "flow/flowpart_condition.h"
#include "flow/flowpart_detect.h"
#include "flow/flowpart_io.h"
#include "flow/flowunit_standard_detect.h"
#include "flow/product_manager.h"
#include "support/testproductinterface.h"

#include "fakeflowhostservices.h"
#include "flowparttestbench.h"
#include "io/frameio.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <memory>
#include <ostream>

// Readable unit summaries in test failures.
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << "{\"" << list.join(QStringLiteral("\", \"")).toStdString() << "\"}";
}

namespace flowlayouttest {

// A real IO frame (rest levels, trigger flags) without a transport.
using LayoutFrameIO = flowtest::RecordingFrameIO;
using flowtest::runDeferredDeletes;
// Records the log lines (every level) written while it lives.
using LogLines = testsupport::LogCapture;


// A flow manager wired to a recording IO frame (rest levels all low, trigger
// flags all 0), a test product interface and fake host services.
struct ManagerBench {
    LayoutFrameIO frame;
    testsupport::TestProductInterface product;
    FakeHostServices services;
    std::unique_ptr<Product_Manager> manager;

    ManagerBench()
    {
        frame.setRestLevels({0, 0, 0, 0, 0, 0, 0, 0});
        frame.setTriggers({0, 0, 0, 0, 0, 0, 0, 0});
        manager = std::make_unique<Product_Manager>();
        manager->setFrameIO(&frame);
        manager->setProductInterface(&product);
        manager->setHostServices(&services);
    }
    ~ManagerBench()
    {
        manager->clear_Frameworks();
        manager.reset();
        runDeferredDeletes();
    }
    QList<FlowBox_Group*>& groups() { return manager->flowGroups(); }
    FlowUnit_Standard_Detect* unit(int group, int position)
    {
        return qobject_cast<FlowUnit_Standard_Detect*>(groups().at(group)->get_unit_list().at(position));
    }
};

inline QString ioText(const FlowPart_IO* io)
{
    QString s;
    const QList<IO_IndexLevel> action = io->get_action_io();
    if (action.isEmpty())
        return QStringLiteral("?");
    s = QString::number(action.first().index) + (action.first().level == ElectricLevel_High ? "A" : "R");
    if (io->get_delay_ms() != 0)
        s += "@" + QString::number(io->get_delay_ms());
    if (io->get_pulse_ms() != 0)
        s += "~" + QString::number(io->get_pulse_ms());
    return s;
}

inline QString actionsText(const QList<FlowPart_IO*>& list)
{
    QStringList parts;
    for (const FlowPart_IO* io : list)
        parts << ioText(io);
    return parts.isEmpty() ? QString() : "[" + parts.join(' ') + "]";
}

inline QString triggersText(const QList<IO_IndexLevel>& list)
{
    QStringList parts;
    for (const IO_IndexLevel& l : list)
        parts << QString::number(l.index) + (l.level == ElectricLevel_High ? "H" : "L");
    return "(" + parts.join(',') + ")";
}

inline QStringList summary(const FlowUnit_Standard_Detect* unit)
{
    static const QStringList builtIn = {"FlowPart_Cond_ManualTrig", "FlowPart_Cond_Nocheck",
                                        "FlowPart_Cond_ReDetect", "FlowPart_Cond_AddTemp"};
    QStringList lines;
    for (FlowPart_Base* part : unit->get_part_cond()) {
        const QString type = part->get_part_type();
        if (builtIn.contains(type))
            continue;
        auto* cond = qobject_cast<FlowPart_Condition*>(part);
        QString s;
        if (auto* chg = qobject_cast<FlowPart_Cond_IO_ChgOper*>(part)) {
            s = chg->get_ChgIO_SpecOperate().isEmpty() ? "chg" + QString::number(chg->get_ChgIO_Operate())
                                                       : QStringLiteral("chgIO");
            s += triggersText(chg->get_trigger_list());
        } else if (type == "FlowPart_Cond_PreResult") {
            s = "pre(" + QString::number(cond->get_cond_resultctrl_preindex()) + ")";
        } else if (type == "FlowPart_Cond_IO") {
            s = "io" + triggersText(cond->get_trigger_list());
        } else {
            s = type;
        }
        s += actionsText(cond->get_list_action_iooutput());
        if (!cond->get_cond_flag(1))
            s += "-det";
        if (cond->get_cond_flag(3))
            s += "+ng";
        if (auto* io = qobject_cast<FlowPart_Cond_IO*>(part)) {
            if (!io->get_condwith_preconditions().isEmpty())
                s += "+after";
            if (io->get_condwith_runstates() == QList<int>{FlowRunState_NGStop})
                s += "+ngstate";
        }
        if (cond->get_runnode_override())
            s += "+free";
        lines << s;
    }
    for (FlowPart_Base* part : unit->get_part_after()) {
        if (part->get_part_type() == "FlowPart_AftDect_NGStop") {
            lines << "stop";
            continue;
        }
        auto* after = qobject_cast<FlowPart_AfterDetect*>(part);
        const QString kind = after->get_Classify_OKNG() == FlowPart_AfterDetect::Result_OK   ? "ok"
                             : after->get_Classify_OKNG() == FlowPart_AfterDetect::Result_NG ? "ng"
                                                                                             : "any";
        lines << kind + actionsText(after->get_list_action_iooutput());
    }
    return lines;
}

}  // namespace flowlayouttest
