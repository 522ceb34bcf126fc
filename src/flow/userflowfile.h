#pragma once
// The user flow file "./workspace/userflow.json": a flow the operator
// defines, one group of standard detect units with their condition parts and
// detect part. The HTTP API stores and returns the file; the flow builds its
// single group from it for product model -1.
//
// File: {"units": [unit, ...]}; a unit {"type": "FlowUnit_Standard_Detect",
// "name", "index" (its position in "units"), "part_cond": [part, ...],
// "part_detect": part}. Units that fail the "index" or "type" test are
// skipped but keep their position.
//
// Threads: read() and write() from any thread; the builder in the main thread.
#include <QJsonObject>
#include <QString>

class FlowFrameworkBuilder;

class UserFlowFile {
public:
    // The file, relative to the working directory.
    static QString path();
    // The stored object; empty when the file is missing, unreadable, not JSON
    // or not an object at its top level.
    static QJsonObject read();
    // Replaces the file by `flow` as indented JSON; false when it could not be
    // written (the reason is logged).
    static bool write(const QJsonObject& flow);

    // Builds the user flow live or as a preview and returns its group's own
    // serialisation (its "units" array). A condition list entry that names an
    // NG-stop or detect part is skipped with a log line.
    static QJsonObject create_UserFrame_UserFlow(FlowFrameworkBuilder& builder, bool build);
};
