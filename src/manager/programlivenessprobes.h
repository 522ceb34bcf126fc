#pragma once
// The liveness reporter's probes on the running program: the IO frame, the
// manager's run-state refresh, the HTTP server, the result publisher and the
// camera-pair link. A part that is absent reads as not alive and not
// connected, and its outputs are left alone.
//
// Threads: called on the reporter's thread; every part read here answers any
// thread (atomics and locked copies), and the IO frame's output operations
// forward to the IO transport.
#include "manager/livenessprobes.h"

#include <functional>

class AppPushes;
class FrameIO;
class HttpReactor_MG;
class TM_ZRP_Publish;

class ProgramLivenessProbes : public LivenessProbes {
public:
    struct Parts {
        FrameIO* io = nullptr;
        AppPushes* pushes = nullptr;  // the run-state refresh (main alive)
        HttpReactor_MG* http = nullptr;
        TM_ZRP_Publish* publisher = nullptr;
        // The camera-pair link's timer and its links. Without a link, the
        // links count as up only where there is nothing to link: a camera
        // that is not the main camera, or a main camera without sub cameras.
        std::function<bool()> camPairsAlive;
        std::function<bool()> cameraLinksUp;
    };

    explicit ProgramLivenessProbes(Parts parts) : m_parts(std::move(parts)) {}

    bool ioLinkUp() override;
    bool cameraLinksUp() override;
    void resetOutputs() override;
    void cutOutputs() override;
    bool mainAlive() override;
    bool ioAlive() override;
    bool camPairsAlive() override;
    bool httpServerAlive() override;
    bool heartbeatAlive() override;
    QList<QPair<QString, int>> heartbeatTargets() override;

private:
    Parts m_parts;
};
