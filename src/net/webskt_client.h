#pragma once
// The client side of the WebSocket JSON channel: connects to the stored
// address and port (start fails unless connected within the connect wait,
// 200 ms), pings every 900 ms, and counts as connected while a pong came
// within the last 2 s. A client whose server went away is restarted by its
// owner with reAction.
//
// Threads: as WebSkt_Core.
#include "net/webskt_core.h"

#include <QWebSocket>

#include <atomic>

class QTimer;

class WebSkt_Client : public WebSkt_Core {
    Q_OBJECT
public:
    explicit WebSkt_Client(QObject* parent = nullptr, int connectWaitMs = 200);
    ~WebSkt_Client() override;

    bool isCnted() const override;

protected:
    bool onStart() override;
    void onFinish() override;

private:
    std::shared_ptr<QWebSocket> m_socket;
    QTimer* m_keepAlive = nullptr;
    std::atomic<qint64> m_lastLifeMs{-1};  // monotonic; -1 never
    quint64 m_connectionId = 0;
    int m_connectWaitMs;
};
