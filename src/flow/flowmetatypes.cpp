#include "flow/flowmetatypes.h"

#include "flow/flowrecords.h"
#include "flow/flowunit_passport.h"
#include "flow/flowworkevent.h"
#include "io/iotypes.h"

#include <QMap>
#include <QMetaType>
#include <QString>

#include <mutex>

void registerFlowMetaTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        registerIoMetaTypes();
        qRegisterMetaType<FlowWork_Condition>("FlowWork_Condition");
        qRegisterMetaType<FlowWork_Receipt>("FlowWork_Receipt");
        qRegisterMetaType<FlowGroup_State>("FlowGroup_State");
        qRegisterMetaType<FlowUnit_State>("FlowUnit_State");
        qRegisterMetaType<FlowProc_State>("FlowProc_State");
        qRegisterMetaType<FlowWork_DisplayArea>("FlowWork_DisplayArea");
        qRegisterMetaType<FlowUnit_Passport>("FlowUnit_Passport");
        qRegisterMetaType<SCollect_Unit>("SCollect_Unit");
        qRegisterMetaType<FlowWork_WorkEvent_Back>("FlowWork_WorkEvent_Back");
        qRegisterMetaType<QMap<QString, SCollect_Unit>>("QMap<QString,SCollect_Unit>");
    });
}
