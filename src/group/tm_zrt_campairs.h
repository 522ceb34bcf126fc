#pragma once
// The camera-pair link over WebSockets: every camera listens on 8765 (server
// "ws_cams"); the main camera holds one client per sub camera, created and
// replaced by an 800 ms heartbeat and verified by the pairing check. See
// campairslink.h for the operations the work events use.
//
// Threads: the link object lives on its own thread (the link thread), which
// owns every socket, timer and map of the link; it is moved there by the
// constructor. SpreadMessage, SendMessage_RpcBack and InitWsServer re-post
// themselves there when called elsewhere; set_interface, get_interface,
// getIsCnetd and getTimerAlived may be called from any thread. Everything
// else (the heartbeat pass, getBlockSubCamera, the pairing handlers) runs on
// the link thread.
//
// Who may start work here: the server side hands on only request topics
// ("…(rpc)", and the pairing check) from the configured main camera (its
// device id; an empty main id accepts nothing), and nothing on the main
// camera; on the main camera a client hands on only frames that carry its
// own sub camera's id. Refusals are logged ("level_1", rate-limited) with
// the peer's address. This stops stray frames, not a forger who knows the
// ids.
//
// Ages (client liveness, heartbeat) use the monotonic clock, so a wrap of the
// 10 ms tick or a clock set backwards never makes a dead link read alive.
#include "group/campairslink.h"

#include <QHash>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QReadWriteLock>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>

class CamPairs_Client;
class CamPairs_Server;
class QWebSocket;

class TM_ZRT_CamPairs : public CamPairsLink {
    Q_OBJECT
    Q_PROPERTY(SRPC_WS_Interface _interface READ get_interface WRITE set_interface)
public:
    static constexpr int kPort = 8765;
    static constexpr int kHeartbeatMs = 800;
    static constexpr int kCheckWaitMs = 100;
    static constexpr qint64 kTimerAliveTicks = 199;  // 10 ms ticks: 1.99 s
    static constexpr qint64 kUnpairedGraceMs = 10000;
    static constexpr int kRestartAfterTicks = 5;     // counter above this: restart request

    // runHeartbeat false leaves the 800 ms timer stopped (tests drive the
    // ticks by hand with heartbeatTick()).
    explicit TM_ZRT_CamPairs(QObject* parent = nullptr, bool runHeartbeat = true);
    ~TM_ZRT_CamPairs() override;

    void set_interface(SRPC_WS_Interface iface) override;
    SRPC_WS_Interface get_interface() const override;
    bool getIsCnetd() const override;
    bool getTimerAlived() const override;

    // Link thread: one heartbeat tick (stamp, idle sockets, supervision).
    void heartbeatTick();
    // Link thread: one supervision pass over the sub cameras.
    void keep_heartbeat_oversubcams();
    // Link thread: the sub cameras without a live client; drops clients of
    // sub cameras no longer in the record.
    QStringList getBlockSubCamera();
    // Link thread: the sub side of the pairing check.
    void doRecvC2c_CheckID(SRPC_WS_FormData formdata);

    // Link thread: what tests look at.
    CamPairs_Server* server() const { return m_server.get(); }
    QMap<QString, CamPairs_Client*> clients() const;
    QMap<QString, int> reconnectTimes() const { return reconnect_times; }
    bool checkRunning() const { return running; }
    // Any thread: pairing checks finished so far, and how many passed.
    int checksDone() const { return m_checksDone.load(); }
    int checksPassed() const { return m_checksPassed.load(); }

public slots:
    int SpreadMessage(SRPC_WS_FormData formdata) override;
    int SendMessage_RpcBack(SRPC_WS_FormData formdata) override;
    bool InitWsServer(bool start = true) override;

private:
    using ClientPtr = std::shared_ptr<CamPairs_Client>;
    void onServerFrame(const SRPC_WS_FormData& form);
    void onClientConnected(QPointer<CamPairs_Client> client);
    void storeClient(const QString& id, ClientPtr client);
    void dropClient(ClientPtr client);
    void refuse(const SRPC_WS_FormData& form, const QString& why);
    ClientPtr makeClient(const DeviceNetInfo& sub, const SRPC_WS_Interface& iface);

    mutable QMutex m_interfaceMutex;
    QThread m_thread;
    QTimer* m_heartbeat = nullptr;
    std::atomic<qint64> m_timerAliveMs{-1};  // monotonic ms of the last tick
    QHash<QString, std::function<void(const SRPC_WS_FormData&)>> m_handlers;
    std::shared_ptr<CamPairs_Server> m_server;
    mutable QReadWriteLock m_clientLock;
    QMap<QString, ClientPtr> _mapws_subclients;
    SRPC_WS_Interface m_interface;
    std::atomic<int> m_allConnected{0};

    QMap<QString, int> reconnect_times;  // failure counter per sub, kept across recoveries
    bool running = false;                // a pairing check is in progress
    CamPairs_Client* m_checking = nullptr;
    QList<ClientPtr> m_retired;  // replaced while being checked: freed after the check

    std::atomic<int> m_checksDone{0};
    std::atomic<int> m_checksPassed{0};
    qint64 m_lastRefusalLogMs = -1;
    int m_refusalsUnlogged = 0;
};
