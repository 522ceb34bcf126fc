#pragma once
// The server side of the camera-pair link: a WebSocket server "ws_cams" that
// listens on any IPv4 address at its port (8765 on every camera), accepts the
// main camera's connection and turns each text frame into a form whose reply
// endpoint (`session`) is the socket it came on.
//
// Threads: created, used and destroyed on the link thread only.
//
// Accepted sockets are freed (deleteLater) when they disconnect and when the
// server closes; a form keeps only a guarded pointer to its socket, so a
// reply on a freed socket is refused rather than sent into freed memory.
// Messages over 1 MiB are refused by the socket. A socket that has not sent
// a valid frame of the configured main camera within a grace period of its
// acceptance is closed by closeIdleSockets (called by the link's heartbeat).
#include "group/rpcdist_define.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QWebSocketServer>

class QWebSocket;

class CamPairs_Server : public QWebSocketServer {
    Q_OBJECT
public:
    static constexpr quint64 kMaxMessageBytes = 1024 * 1024;

    CamPairs_Server(int port, QObject* parent);
    ~CamPairs_Server() override;

    // Whether listening succeeded (a failure is logged at construction).
    bool listening() const { return isListening(); }
    int port() const { return m_port; }

    // Disconnects every signal of the server and closes every accepted
    // socket with 1000; the sockets are freed once the event loop runs.
    void ready2close();

    // Marks the socket as having sent a valid frame of the main camera.
    void markTrusted(QWebSocket* socket);
    // Closes (1008) every socket accepted more than graceMs ago (monotonic
    // clock) that has sent no valid frame of the main camera. Returns how
    // many it closed.
    int closeIdleSockets(qint64 graceMs);

    // Accepted sockets not yet disconnected, in order of acceptance.
    QList<QWebSocket*> sockets() const { return m_sockets; }

    // Live accepted socket objects of every server in the process (freed
    // ones are not counted).
    static int liveSocketObjects();

signals:
    void sigRecvMessage(const SRPC_WS_FormData& formdata);

private:
    void onNewConnection();

    struct Accepted {
        qint64 acceptedMs = 0;
        bool trusted = false;
    };
    QList<QWebSocket*> m_sockets;
    QHash<QWebSocket*, Accepted> m_state;
    int m_port = 0;
};
