#pragma once
// The liveness record: what the camera program tells the monitor daemon
// every 30 s through the shared-memory segment (see livenesssegment.h).
#include <QByteArray>
#include <QJsonObject>

struct LivenessReport {
    qint64 secondsSinceEpoch = 0;  // "ms_1000": the writer's time in whole seconds
    bool mainAlive = false;        // "main_alive"
    bool ioAlive = false;          // "io_alive"
    bool wsAlive = false;          // "ws_alive"
    bool httpServerAlive = false;  // "tser_alive"
    bool heartbeatAlive = false;   // "hb_alive"
    bool ioConnected = false;      // "io_cnted"
    bool camerasConnected = false; // "cams_cnted"
    int fps = 0;                   // "fps"

    QJsonObject toJsonObject() const;
    // Compact UTF-8 JSON, well below the segment size.
    QByteArray toJson() const;
};
