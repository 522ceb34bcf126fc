#pragma once
// Registers the flow's value types (records, passport, work-event units) by
// their class names, so that they cross queued signal-slot connections and
// queued invocations by method name. Idempotent; cheap after the first call.
void registerFlowMetaTypes();
