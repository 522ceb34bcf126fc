#pragma once
// What the liveness reporter reads of the running program and the one thing
// it does to it (the IO outputs). The start-up wiring hands in the real
// services; tests hand in a fake.
//
// Called on the reporter's own thread: every method must be safe to call
// from any thread and must not block (ticks and flags behind their owners'
// locks or atomics; the output operations forward to the IO transport).
#include <QList>
#include <QPair>
#include <QString>

class LivenessProbes {
public:
    virtual ~LivenessProbes() = default;

    // The IO module was heard from within 2000 ms.
    virtual bool ioLinkUp() = 0;
    // This camera is not the main camera, or every sub-camera link is up.
    virtual bool cameraLinksUp() = 0;

    // Every IO output to its rest level (while the module is in contact).
    virtual void resetOutputs() = 0;
    // Every IO output cut off.
    virtual void cutOutputs() = 0;

    // Liveness of the program's threads.
    virtual bool mainAlive() = 0;        // the manager's run-state refresh ran within 2 s
    virtual bool ioAlive() = 0;          // the IO transport's alive timer ran within 1000 ms
    virtual bool camPairsAlive() = 0;    // the camera-pair link's timer ticked recently
    virtual bool httpServerAlive() = 0;  // the HTTP server thread polls
    virtual bool heartbeatAlive() = 0;   // the heartbeat timer

    // Each heartbeat target with its link state (1 answering, -1 lost, 0 never
    // answered), for the resource report.
    virtual QList<QPair<QString, int>> heartbeatTargets() = 0;
};
