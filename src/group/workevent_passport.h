#pragma once
// The passport that a work-event request carries under "passport" (its JSON
// text).
#include "flow/flowunit_passport.h"
#include "group/rpcdist_define.h"

#include <functional>

class GroupWorkServices;

// The data of a work-event request: the passport's JSON text under
// "passport" and, when an operator asked for the cycle, their user id under
// "user_id", so that every camera records what it does in their name.
QVariantMap workEventDatas(const FlowUnit_Passport& passport);
// The request's passport. `ok` is false when the entry is missing, is not a
// text, or its text is not a passport; the default passport is returned then.
FlowUnit_Passport passportOfForm(const SRPC_WS_FormData& form, bool* ok = nullptr);
// The operator on whose behalf the request runs ("user_id"; empty: nobody,
// or not a text).
QString requestingUser(const SRPC_WS_FormData& form);

// This camera's unit of the previous detection ("fus_last_detected_info"
// under `own_id`, map form; a value that is not a unit map gives every field
// false or 0). False when the camera has no entry.
bool lastDetectedUnit(const FlowUnit_Passport& passport, const QString& own_id, SCollect_Unit* unit);

// The operator's clearing events (no-check, add template) on one camera: a
// camera whose previous detection passed keeps that unit (marked not valid);
// a camera the operator listed takes `clear`, the operator's word; any other
// keeps its previous unit (not valid) or, without one, detects now. The run
// state is reset on the first two paths.
SCollect_Unit clearOrDetect(GroupWorkServices* hub, const FlowUnit_Passport& passport, const QString& own_id,
                            SCollect_Unit unit, const std::function<SCollect_Unit(SCollect_Unit)>& clear);
