#pragma once
// Turns SIGTERM and SIGINT into a normal end of the Qt event loop, so that a
// service manager's stop is not logged as a crash by the failure handler.
// Once capture runs, the capture controller takes SIGINT over: it then stops
// capture and streaming only, and the process runs on.
#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; call after logging is configured (the logging
    // back end installs its own failure handlers, which these replace for
    // the two stop signals only).
    explicit StopSignals(QObject* parent = nullptr);

private:
    void onSignal();
    QSocketNotifier* m_notifier = nullptr;
};
