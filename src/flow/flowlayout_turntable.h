#pragma once
// The flow of a two-station turntable machine (product model 2): a left and a
// right group, each with a product unit and a mould unit. Input 0 starts the
// left station, input 3 the right one, input 2 is the mould trigger in
// semi-automatic mode and input 1 the safety door. One station can be
// switched off; its group and units stay in the framework, disabled.
//
// Like the standard layout it is a base flow followed by option blocks in a
// fixed order. It leaves the IO frame's input trigger flags as they are.
//
// Threads: main thread only.
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVariant>

class FlowFrameworkBuilder;

class FlowLayout_Turntable {
public:
    // Builds the layout live or as a preview and returns its framework JSON.
    // `paras` holds the station selector "i_program_turntable_type" (1 left
    // only, 2 right only, anything else or missing: both).
    static QJsonObject create_QuickFrame_Turntable(FlowFrameworkBuilder& builder,
                                                   const QMap<QString, QVariant>& paras, bool build,
                                                   const QJsonObject& params);
};
