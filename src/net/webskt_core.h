#pragma once
// A small WebSocket messaging channel, carried but never started by the
// camera program: a server for any number of clients (WebSkt_Server) and a
// client of one server (WebSkt_Client), both exchanging one compact JSON
// object {"url","user_agent","data"} per text frame, each on a one-thread
// pool of its own.
//
// Messages are capped at 1 MiB. A connection is named by a serial id (never
// a pointer). Received messages are emitted outside every lock, so a slot
// connected directly may answer at once. Ages run on the monotonic clock.
//
// Threads: the sockets live and work on the channel's pool thread, where
// sig_recv_message is emitted; sendTextMessage, initialize, deinitialize and
// isCnted may be called from any other thread.
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <memory>

// One message; passed by value through signals.
struct CTask_FormData_WebSkt_Json {
    int valid = 0;        // 1: parsed from a frame and carries a "data" object
    quint64 socket = 0;   // received: the connection's id; sending: the server connection, 0 all
    QString url;
    QString user_agent;
    QJsonObject data;
};
Q_DECLARE_METATYPE(CTask_FormData_WebSkt_Json)

class WebSkt_Core : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxMessage = 1 << 20;

    explicit WebSkt_Core(QObject* parent = nullptr);

    virtual bool isCnted() const = 0;
    virtual bool reAction(const QHostAddress& address, quint16 port);
    virtual void sendTextMessage(CTask_FormData_WebSkt_Json message);
    virtual bool isRunning() const;
    virtual bool initialize();
    virtual void deinitialize();

    // The frame functions (pure).
    static CTask_FormData_WebSkt_Json analyseBuffer_Setup1_Json(const QString& text);
    static QString serialize_Setup2_Json(const CTask_FormData_WebSkt_Json& message);

signals:
    void readyToClose();
    void sig_send_message(CTask_FormData_WebSkt_Json message);
    void sig_recv_message(CTask_FormData_WebSkt_Json message);

protected:
    // On the pool thread.
    virtual bool onStart() = 0;
    virtual void onFinish() = 0;

    QHostAddress m_address;
    quint16 m_port = 0;
    std::shared_ptr<QThreadPool> m_pool;
};
