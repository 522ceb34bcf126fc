#pragma once
// One detection cycle (or training pass) of the flow on every camera of the
// group: detect the passport's step, re-detect an NG up to "fus_redetect_times"
// (at most 10) after "fus_redetect_interval" ms (at most 1000, negatives 0),
// save one picture (2 OK, 3 NG; text = the passport's uuid); train instead on
// cameras listed to train. A sub camera also retrains, shows the step and
// pushes its run result.
//
// The event's limit is the base limit plus the passport's clamped re-detect
// times x interval, so the legal re-detections of any camera fit in it.
#include "group/rpcdistributed_core.h"

class RpcWork_NormalDetect : public RpcDistributed_Core {
    Q_OBJECT
public:
    explicit RpcWork_NormalDetect(const SRPC_WS_FormData& form, QObject* parent = nullptr);

    SCollect_Unit onMainWorking() override;
    SCollect_Unit onSubWorking() override;

    // The limit of a detection event for this request, in ms.
    static int limitFor(const SRPC_WS_FormData& form);
    // Re-detect times and interval after clamping (0..10, 0..1000 ms).
    static int clampedTimes(int times);
    static int clampedInterval(int interval_ms);

private:
    SCollect_Unit ownWork();
};
