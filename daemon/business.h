#pragma once
// The daemon's HTTP service on TCP 10418: the camera program's liveness
// ("/dide/daemon/main_runstate"), reboot ("/dide/daemon/reboot") and factory
// reset ("/dide/daemon/reset"). Every answer is status 200 with the compact
// JSON {"code","msg"[,"result"]} and no further header; the paths match
// exactly as sent (no decoding), any method, the query ignored; any other
// path is answered 404.
//
// Reboot and reset are answered first; a second later the main thread runs
// the recorded commands in order through the command runner (never run in
// simulation): "killall -9 Orvale Brevik", for the reset the removal of the
// camera's data, then "sync" and "reboot". The reset removes inside the
// working directory and the data root only and never follows a link.
//
// Threads: the object lives on the main thread, where the liveness is read
// each second and the actions run; run() serves HTTP on its own thread and
// answers there, inline.
#include "daemon/livenesstracker.h"

#include <QHostAddress>
#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace httpserver {
class HttpServer;
}

class business : public QThread {
    Q_OBJECT
public:
    struct Options {
        LivenessTracker::Options liveness;
        QHostAddress host = QHostAddress::AnyIPv4;
        quint16 port = 10418;           // 0: any free port (tests)
        QString workDir;                // the camera's working directory; the current one when empty
        int actionDelayMs = 1000;       // between the answer and the commands
    };

    explicit business(Options options, QObject* parent = nullptr);
    ~business() override;

    LivenessTracker& liveness() { return m_tracker; }
    // The port actually served (0 until listening; stays 0 when listening failed).
    quint16 port() const { return m_port.load(); }
    bool listenFailed() const { return m_listenFailed.load(); }

    // The answer body of one request path (raw), and its status.
    QByteArray answer(const QByteArray& path, int* status);

    // Removes the camera's data for a factory reset: in `workDir` the files
    // RECORDNULL.db, RECORD.db, ResStatistics.db and PARAM.db, the folders
    // alarmimage/ and originalimage/ and every entry named "cammer*"; and
    // the contents of `alarmImages`. Links are removed, never followed.
    // Returns what could not be removed (each also logged).
    static QStringList removeCameraData(const QString& workDir, const QString& alarmImages);

signals:
    void sig_reboot();
    void sig_reset();

protected:
    void run() override;

private:
    void schedule(bool reset);
    void act(bool reset);

    Options m_options;
    LivenessTracker m_tracker;
    QTimer m_tick;
    std::atomic<bool> m_running{true};
    std::atomic<quint16> m_port{0};
    std::atomic<bool> m_listenFailed{false};
    QMutex m_serverLock;
    httpserver::HttpServer* m_server = nullptr;
    bool m_actionPending = false;
};
