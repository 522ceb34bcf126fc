#pragma once
// Host services of the flow manager that record what the manager asked of
// the hub and hand out the process parameters a test set.
#include "flow/flowhostservices.h"

#include <QJsonObject>
#include <QList>

namespace flowlayouttest {

class FakeHostServices : public FlowHostServices {
public:
    QJsonObject params;
    QList<int> statResets;
    int reloads = 0;
    QList<int> stepCounts;

    void stat_ResetDetect(int unit_count) override { statResets << unit_count; }
    void reload_CameraImages() override { ++reloads; }
    QJsonObject processParams() const override { return params; }
    void setDetectStepCount(int count) override { stepCounts << count; }
};

}  // namespace flowlayouttest
