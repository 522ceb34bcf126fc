#pragma once
// The server side of the WebSocket JSON channel: accepts any number of
// clients on the stored address and port; a message with the id of one of
// its connections goes to that connection only, any other to every one.
//
// Threads: as WebSkt_Core; the connection table is guarded by its
// read-write lock (isCnted reads it from any thread).
#include "net/webskt_core.h"

#include <QMap>
#include <QReadWriteLock>
#include <QWebSocketServer>

#include <atomic>

class QWebSocket;

class WebSkt_Server : public WebSkt_Core {
    Q_OBJECT
public:
    explicit WebSkt_Server(QObject* parent = nullptr);
    ~WebSkt_Server() override;

    bool isCnted() const override;
    int clientCount() const;
    // The port listened on (after a start on port 0).
    quint16 serverPort() const { return m_boundPort; }

protected:
    bool onStart() override;
    void onFinish() override;

private:
    struct Connection {
        QWebSocket* socket = nullptr;
        qint64 lastMessageMs = 0;  // monotonic
    };
    void onNewConnection();
    void onText(quint64 id, const QString& text);
    void onDisconnected(quint64 id);
    void send(const CTask_FormData_WebSkt_Json& message);

    std::shared_ptr<QWebSocketServer> m_server;
    mutable QReadWriteLock m_lock;
    QMap<quint64, Connection> m_connections;
    quint64 m_nextId = 1;
    std::atomic<quint16> m_boundPort{0};
};
