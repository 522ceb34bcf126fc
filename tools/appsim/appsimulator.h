#pragma once
// The operator application as the camera sees it, for tests and for a
// person: takes the camera's pushes over TCP (10416 by default) and answers
// each with the envelope {"code","msg","result":{"recv_time","analysis_time"}}
// under the push's own uuid; answers the camera's UDP heartbeat (10417 by
// default) with {"result":{"dotaken","app_version","app_time"}}, any of which
// may be left out; and can be silent, slow or send junk, or take the bytes
// of a push at a limited rate (a slow link: TCP holds the sender back while
// the simulator's small read buffer is full). Like the application, it takes
// a project export of any size. It records the raw
// bytes it receives over plain Qt sockets and the messages they decode to.
// As a subscriber it takes the camera's HTTP posts the same way.
//
// Memory stays flat however long it runs (a bench of thousands of cycles,
// a person's session of hours): it counts everything it takes but keeps
// only the last pushes (kKeptPushes, and no more than kKeptPushBytes of
// them) and the last heartbeats (between kKeptHeartbeats and twice that).
//
// Threads: lives on the thread that creates it; its sockets are served by
// that thread's event loop. The recorded data may be read from any thread.
#include "net/ctask_formdata.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

#include <optional>

class AppSimulator : public QObject {
    Q_OBJECT
public:
    enum class PushMode {
        Answer,        // answer every push at once
        Slow,          // answer after slowMs
        Silent,        // take the push, never answer
        HugeHead,      // answer with a head larger than any limit
        WrongUuid,     // answer under another uuid
        CloseMidBody,  // send half an answer, then close
    };

    struct Heartbeat {
        QHostAddress from;
        quint16 port = 0;
        QByteArray raw;
        qint64 atMs = 0;  // monotonic receive time
    };

    static constexpr int kKeptPushes = 32;
    static constexpr qint64 kKeptPushBytes = 32 * 1024 * 1024;
    static constexpr int kKeptHeartbeats = 1000;

    explicit AppSimulator(QObject* parent = nullptr);
    ~AppSimulator() override;

    // Listens on TCP `tcpPort` and binds UDP `udpPort` at `address` (0: a
    // free port). False when either fails.
    bool start(const QHostAddress& address, quint16 tcpPort = 10416, quint16 udpPort = 10417);
    // Closes everything, as a killed application does.
    void kill();
    quint16 tcpPort() const;
    quint16 udpPort() const;

    // ---- script ----
    void setPushMode(PushMode mode, int slowMs = 0);
    void setHeartbeatSilent(bool silent);
    // Reads pushes at no more than `bytesPerSecond` (0: as fast as they come).
    // Set before the connection is made.
    void setReadRate(qint64 bytesPerSecond);
    // Answer fields; std::nullopt leaves a key out.
    void setDoTaken(std::optional<bool> v);
    void setAppVersion(std::optional<QString> v);
    void setAppTime(std::optional<QVariant> v);
    // Sends one datagram to `to` (for junk heartbeat answers).
    void sendDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port);

    // ---- records (any thread) ----
    // The last pushes taken, oldest first, and their bytes.
    QList<CTask_FormData> pushes() const;
    QList<QByteArray> rawPushes() const;  // the bytes of each whole message taken
    // The last heartbeats, oldest first.
    QList<Heartbeat> heartbeats() const;
    // Everything taken since the start or the last clearRecords, kept or not.
    qint64 pushCount() const;
    qint64 heartbeatCount() const;
    int connectionsSeen() const;
    int openConnections() const;
    // Bytes taken so far over every push connection.
    qint64 bytesReceived() const;
    void clearRecords();

signals:
    void pushReceived(const CTask_FormData& form);
    void heartbeatReceived();

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* s);
    void takeBytes(QTcpSocket* s, const QByteArray& bytes);
    void record(QTcpSocket* s, CTask_FormData form, const QByteArray& whole);
    void onRateTick();
    void answer(QTcpSocket* s, const CTask_FormData& form, qint64 recvMs);
    void onDatagrams();

    QTcpServer m_server;
    QUdpSocket m_udp;
    QList<QPointer<QTcpSocket>> m_sockets;
    QHash<QTcpSocket*, QByteArray> m_buffers;  // bytes of messages not complete yet
    qint64 m_readRate = 0;
    QTimer m_rateTimer;
    PushMode m_mode = PushMode::Answer;
    int m_slowMs = 0;
    bool m_hbSilent = false;
    std::optional<bool> m_doTaken;
    std::optional<QString> m_version;
    std::optional<QVariant> m_appTime;

    mutable QMutex m_recordLock;
    QList<CTask_FormData> m_pushes;
    QList<QByteArray> m_raw;
    QList<Heartbeat> m_heartbeats;
    qint64 m_keptPushBytes = 0;
    qint64 m_pushCount = 0;
    qint64 m_heartbeatCount = 0;
    int m_connections = 0;
    qint64 m_bytes = 0;
};
