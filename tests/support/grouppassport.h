#pragma once
// Work-event requests for tests: a passport edited in place, in the data
// the application manager sends (the passport under "passport").
#include "flow/flowunit_passport.h"
#include "group/workevent_passport.h"

#include <QVariantMap>

#include <functional>

namespace testsupport {

inline QVariantMap passportDatas(const std::function<void(FlowUnit_Passport&, FlowGroup_State&, FlowUnit_State&)>& edit)
{
    FlowUnit_Passport p(QStringLiteral("pp-1"), FlowWork_Condition());
    FlowGroup_State gs = p.get_group_state();
    FlowUnit_State us = p.get_unit_state();
    edit(p, gs, us);
    p.set_group_state(gs);
    p.set_unit_state(us);
    return workEventDatas(p);
}

}  // namespace testsupport
