#pragma once
// The factory layout of the flow for every product model but -1 and 2: one
// group with a product unit and a mould unit whose start conditions,
// detection delays and IO actions follow the process parameters. It is a
// base flow followed by option blocks applied in a fixed order; later blocks
// remove and add IO actions that earlier blocks made, so the order is part
// of the behaviour.
//
// Input 0 starts the product detection, input 2 the mould detection in
// semi-automatic mode, input 1 is the safety door, input 3 the no-check key.
//
// Threads: main thread only.
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVariant>

class FlowFrameworkBuilder;

class FlowLayout_Standard {
public:
    // Input trigger flags of the layout, inputs 0..7 (bit 0 high, bit 1 low):
    // the safety door (input 1) triggers on both edges.
    static const int kTriggerFlags[8];

    // Builds the layout live (into the manager's list, after taking the old
    // framework down) or as a preview, and returns its framework JSON. `paras`
    // is not read. Only a live build writes the IO frame's trigger flags.
    static QJsonObject create_QuickFrame_Standard(FlowFrameworkBuilder& builder,
                                                  const QMap<QString, QVariant>& paras, bool build,
                                                  const QJsonObject& params);
};
