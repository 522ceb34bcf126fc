#pragma once
// A stand-in for the IO module of the moulding machine, speaking its UDP
// protocol the way the module does:
//   - it listens on its port 10411 (replies and output frames of the camera),
//   - it sends heartbeats "<S;3;id;inputs;outputs>" to the camera's port
//     10412 at a fixed interval, and an input state "<S;5;id;inputs>" on every
//     change of its inputs,
//   - it applies the output frames "<C;6;camera;OOOOOOOO>" it is sent, so its
//     next heartbeats report them,
//   - it answers a LAN search "<A;1>" with "<S;1;id;address>" to the
//     searcher's port 10412,
//   - it keeps every datagram it receives, with the time it arrived.
// It can be scripted: input edges, silence (no heartbeats), need-repair
// requests and raw (malformed) datagrams.
//
// Threads: lives on the thread that creates it; its socket and heartbeat
// timer fire there, so that thread must run an event loop (waitFor does).
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <functional>

class IoModuleSimulator : public QObject {
    Q_OBJECT
public:
    struct Config {
        QHostAddress address = QHostAddress(QStringLiteral("127.0.0.2"));  // the module's own address
        quint16 port = 10411;                                             // where it listens
        QHostAddress camera = QHostAddress(QStringLiteral("127.0.0.1"));  // the camera it talks to
        quint16 cameraPort = 10412;
        QString moduleId = QStringLiteral("IOM-SIM");  // target field of its messages
        int heartbeatMs = 500;                         // 0: no heartbeats
    };

    struct Datagram {
        QByteArray data;
        QHostAddress from;
        quint16 fromPort = 0;
        qint64 atNs = 0;  // arrival, on the simulator's clock (clockNs)
    };

    explicit IoModuleSimulator(Config config, QObject* parent = nullptr);
    ~IoModuleSimulator() override;

    // Binds the module's socket and starts the heartbeats; false (see
    // errorString) when the address or port cannot be bound.
    bool start();
    void stop();
    QString errorString() const { return m_error; }
    const Config& config() const { return m_config; }

    // ---- What the module sends ----
    // Changes the inputs and reports them at once with an input state.
    void setInputs(int bits);
    int inputs() const { return m_inputs; }
    // Sends "<S;5;id;word>" with a word given as text (any length, for tests).
    bool sendInputState(const QString& word);
    // Heartbeats on or off (off is a silent module).
    void setHeartbeatEnabled(bool on);
    bool sendHeartbeat();
    // Sends "<S;3;id;inputs;outputs>" with the given text fields (for tests).
    bool sendHeartbeatWords(const QString& inputWord, const QString& outputWord);
    // Asks the camera to re-read its network card: "<S;4;id;address>".
    bool sendNeedRepair();
    // Any bytes, to any port of the camera (10412 by default).
    bool sendRaw(const QByteArray& bytes, quint16 cameraPort = 0);

    // ---- What the module received ----
    QList<Datagram> received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // The outputs as set by the last output frame (bit i = output i).
    int outputs() const { return m_outputs; }
    int outputFrames() const { return m_outputFrames; }
    // Datagrams received that start with `prefix`.
    QList<Datagram> receivedStartingWith(const QByteArray& prefix) const;

    // Runs the calling thread's event loop until `done` holds or the time is
    // up; returns `done`().
    static bool waitFor(const std::function<bool()>& done, int timeoutMs);
    // Waits for a datagram that starts with `prefix` and arrives after the
    // call; returns it, or an empty one when none came in time.
    Datagram waitForDatagram(const QByteArray& prefix, int timeoutMs);

    // The simulator's clock (monotonic nanoseconds), to time arrivals.
    static qint64 clockNs();

signals:
    void datagramReceived(const IoModuleSimulator::Datagram& datagram);
    void outputsChanged(int bits);

private:
    void readPending();
    void handle(const Datagram& d);
    bool send(const QByteArray& bytes, const QHostAddress& to, quint16 port);
    static QString word(int bits);

    Config m_config;
    QUdpSocket m_socket;
    QTimer m_heartbeat;
    QString m_error;
    int m_inputs = 0;
    int m_outputs = 0;
    int m_outputFrames = 0;
    QList<Datagram> m_received;
};
