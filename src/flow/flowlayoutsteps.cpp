#include "flow/flowlayoutsteps.h"

#include "flow/flowframeworkbuilder.h"
#include "flow/flowpart_cond_io.h"
#include "flow/flowpart_cond_io_chgoper.h"
#include "flow/flowunit_standard_detect.h"
#include "foundation/zrc_workinformation_manager.h"

namespace flowlayout {

QList<IO_IndexLevel> levelsOfFlags(int input, int flags)
{
    QList<IO_IndexLevel> levels;
    if (flags & 1)
        levels.append(IO_IndexLevel{input, ElectricLevel_High});
    if (flags & 2)
        levels.append(IO_IndexLevel{input, ElectricLevel_Low});
    return levels;
}

void doorOpen(FlowUnit_Standard_Detect* unit)
{
    FlowPart_Cond_IO* c = unit->create_0_Cond_TrigIO(1, ElectricLevel_Low);
    c->set_cond_flag(1, false);
    c->set_cond_flag(3, true);
    c->add_action_iooutput({2}, IOState_Rel_Rest, 0, 0);
    c->set_user_describe(FlowFrameworkBuilder::trManager(QT_TRANSLATE_NOOP("Product_Manager", "安全门断开，解除报警声")));
}

void doorClose(FlowUnit_Standard_Detect* unit, Condition_Type type, const char* text)
{
    FlowPart_Cond_IO_ChgOper* c = unit->create_0_Cond_ChgIO_Operate(qMakePair(1, ElectricLevel_High), type);
    c->set_cond_flag(3, true);
    c->set_user_describe(FlowFrameworkBuilder::trManager(text));
}

FlowWork_Condition ioCatchCondition(int input)
{
    ZRC_WorkInformation_Manager* info = ZRC_WorkInformation_Manager::getInstance();
    FlowWork_Condition c;
    c.cond_type = CondType_IOTrig;
    c.cond_url = QStringLiteral("/dide/action/io_catch");
    for (const DeviceNetInfo& sub : info->getSubCameras())
        c.cond_action_deviceids.append(sub.uuid);
    c.cond_action_deviceids.append(info->get_deviceid());
    c.cond_flag2_IgnoreRunNodeLimit_And_DetectImmediately = true;
    c.cond_extra_flag1 = true;
    c.cond_extra_flag2 = true;
    c.cond_extra_flag3 = true;
    c.cond_detect_index = -1;
    c.cond_resample_rm_oldtemp = false;
    c.cond_resultctrl_preindex = -1;
    c.cond_resultctrl_result = true;
    c.cond_trig_levels = {IO_IndexLevel{input, ElectricLevel_High}};
    return c;
}

}  // namespace flowlayout
