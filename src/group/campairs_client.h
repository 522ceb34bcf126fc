#pragma once
// The main camera's client to one sub camera's link server: opens
// "ws://<address>:<port>" (no path), proves the sub camera's id with the
// pairing check, and once that passed keeps the connection alive with a ping
// every 490 ms. Every text frame renews its last-alive stamp and is handed
// on with sigRecvMessage (the parsed form; invalid ones too).
//
// Threads: created, used and destroyed on the link thread; the three
// properties and the last-alive stamp may be read from any thread.
//
// Ages use the monotonic clock (platform/system), so a wrap of the 10 ms
// tick or a clock set backwards never makes a dead link read alive.
#include "group/rpcdist_define.h"
#include "io/iomodule_protocol.h"

#include <QMutex>
#include <QTimer>
#include <QWebSocket>

#include <atomic>

class CamPairs_Client : public QWebSocket {
    Q_OBJECT
public:
    static constexpr int kPingIntervalMs = 490;
    static constexpr qint64 kAliveTicks = 99;  // 10 ms ticks: 990 ms

    CamPairs_Client(const QString& ip, quint16 port, QObject* parent);
    ~CamPairs_Client() override;

    virtual void set_dst_deviceid(const QString& id);
    virtual QString get_dst_deviceid() const;
    virtual void set_dst_session(const Skt_Session& session);
    virtual Skt_Session get_dst_session() const;
    virtual void set_interface(const SRPC_WS_Interface& iface);
    virtual SRPC_WS_Interface get_interface() const;

    // Opens the socket on the sub camera's URL and sets the ping interval;
    // the pings start only when the pairing check passes.
    void onConnecting();
    QUrl url() const;

    // Connected, and the last frame or pong at most 99 ticks (990 ms) old.
    bool isCnted() const;

    // The pairing check: sends "/dide/subcamera/checkid" with the own id of
    // the membership copy and waits (nested event loop) up to ms for
    // "/dide/subcamera/checkid_back" carrying the expected sub id. True when
    // it came in time; the uuid is not compared.
    bool ckeck_dstid_sync(int ms);

    // Marks the client as paired: starts the pings and stamps it alive.
    void markPaired();
    bool paired() const { return m_paired; }

    // Sets the last-alive stamp to now (frames and pongs do this).
    void touch();
    // Test hook: how old the last-alive stamp is, in ms (-1: never).
    qint64 ageMs() const;

    QTimer* pingTimer() { return &m_ping; }

signals:
    int sigRecvMessage(const SRPC_WS_FormData& formdata);

private:
    mutable QMutex m_idMutex;
    mutable QMutex m_sessionMutex;
    mutable QMutex m_interfaceMutex;
    std::atomic<qint64> m_lastAliveMs{-1};  // monotonic ms, -1: never
    QTimer m_ping;
    QString _dst_deviceid;
    Skt_Session _dst_session;
    SRPC_WS_Interface _interface;
    bool m_paired = false;
};
