#pragma once
// A sub camera of a camera group as its main camera sees it over the
// camera-pair link: a WebSocket server (default port 8765) that answers the
// pairing check "/dide/subcamera/checkid" and work-event requests "…(rpc)",
// each connection played by a script, plus a stand-in HTTP service (default
// port 10414) that records the GETs it receives (the main camera's restart
// request "/dide/debug/restart_rpc_service" restarts the simulated server,
// as a real sub camera's link does). It can also hang without closing
// anything, as a sub camera whose link is stuck (block()).
//
// It speaks the frames itself ({"datas","device_id","topic","uuid"}, compact,
// keys sorted) and shares no code with the link it tests.
//
// Threads: lives on the thread that creates it (which needs an event loop);
// the record accessors may be called from any thread.
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

// How one accepted connection is played.
struct SubConnectionScript {
    enum class Check {
        Right,   // answers with its own id
        Wrong,   // answers with another id
        Silent,  // never answers the check
    };
    enum class Reply {
        Ok,         // one unit, OK
        Ng,         // one unit, NG
        Empty,      // empty datas
        WrongUuid,  // an OK unit under another uuid
        Twice,      // the OK unit twice
        Silent,     // no answer
        Junk,       // a text that is not a frame
    };
    Check check = Check::Right;
    int checkDelayMs = 0;         // answer the check this late
    bool otherUuid = false;       // answer the check under another uuid
    bool stopReadingAfterCheck = false;  // TCP stays up, nothing more is read (no pongs)
    Reply reply = Reply::Ok;
    int replyDelayMs = 0;         // answer requests this late
    QStringList framesBeforeReply;  // sent in answer to each request before the reply (junk, say)
};

class SubCameraSimulator : public QObject {
    Q_OBJECT
public:
    struct Config {
        QString ownId = QStringLiteral("SUB-1");
        QString mainId = QStringLiteral("MAIN");  // the only main it answers
        quint16 port = 8765;
        quint16 restPort = 10414;  // 0: no stand-in HTTP service
        // Connection i is played by scripts[i]; the last one plays every
        // later connection; empty: the default script.
        QList<SubConnectionScript> scripts;
    };

    struct Frame {
        int connection = -1;  // number of the accepted connection, from 0
        QString text;
    };

    explicit SubCameraSimulator(const Config& config, QObject* parent = nullptr);
    ~SubCameraSimulator() override;

    // Listens (server and stand-in); false with errorString() set on failure.
    bool start();
    // Dies: every connection is aborted and nothing listens until comeBack().
    void die();
    bool comeBack();
    // Hangs without closing anything, as a sub camera whose link thread is
    // stuck: open connections are no longer read (no pong, no answer; TCP
    // stays up), and new connections wait in the listen queue without a
    // handshake. The stand-in HTTP service still answers and records; a
    // restart request it takes meanwhile is not carried out (it would wait
    // for the stuck link). unblock() drops the hung connections and accepts
    // again.
    void block();
    void unblock();
    bool blocked() const;

    void setScripts(const QList<SubConnectionScript>& scripts);

    QString errorString() const;
    int connections() const;        // accepted so far
    int openConnections() const;    // accepted and not yet closed
    QList<Frame> frames() const;    // every text frame received, oldest first
    int checkRequests() const;      // pairing checks received
    QStringList httpGets() const;   // paths of the GETs the stand-in received
    QList<qint64> httpGetTimes() const;  // when each came (steadyMs())
    QList<int> closeCodes() const;  // close codes of connections the peer closed

    // A text frame as the link writes it.
    static QString frame(const QString& topic, const QString& uuid, const QString& deviceId,
                         const QVariantMap& datas = QVariantMap());

    // Waits (running the calling thread's events) until pred() or timeoutMs.
    template <class Pred>
    static bool waitFor(Pred pred, int timeoutMs);
    static void processEventsFor(int ms);
    // Milliseconds of the monotonic clock the records are stamped with.
    static qint64 steadyMs();

private:
    struct Connection;
    void onTcpConnection();
    void onWebSocket();
    void onText(Connection* c, const QString& text);
    void answerCheck(Connection* c, const QVariantMap& request);
    void answerRequest(Connection* c, const QVariantMap& request);
    void onHttpConnection();
    SubConnectionScript scriptFor(int connection) const;
    static void stopReading(QTcpSocket* tcp);

    Config m_config;
    QTcpServer* m_tcp = nullptr;
    QWebSocketServer* m_ws = nullptr;
    QTcpServer* m_http = nullptr;
    QList<Connection*> m_open;
    QList<QPointer<QTcpSocket>> m_pendingTcp;
    std::atomic<bool> m_blocked{false};

    mutable QMutex m_mutex;  // guards what follows
    QString m_error;
    int m_connections = 0;
    QList<Frame> m_frames;
    int m_checks = 0;
    QStringList m_gets;
    QList<qint64> m_getTimes;
    QList<int> m_closeCodes;
};

// A WebSocket client that plays a main camera (or a stranger) against a real
// sub camera's server, recording every text frame it receives. Lives on the
// creating thread; wait with waitFor from that thread.
class SimPeerClient : public QObject {
    Q_OBJECT
public:
    explicit SimPeerClient(QObject* parent = nullptr);
    ~SimPeerClient() override;

    bool open(const QString& address, quint16 port = 8765, int timeoutMs = 10000);
    qint64 send(const QString& text);
    qint64 sendBinary(const QByteArray& bytes);
    QStringList received() const { return m_received; }
    bool connected() const;
    bool closed() const { return m_closed; }
    int closeCode() const { return m_closeCode; }
    QWebSocket* socket() const { return m_socket.get(); }

private:
    std::unique_ptr<QWebSocket> m_socket;
    QStringList m_received;
    bool m_closed = false;
    int m_closeCode = -1;
};

template <class Pred>
bool SubCameraSimulator::waitFor(Pred pred, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
        if (pred())
            return true;
        processEventsFor(5);
    }
    return pred();
}
