#pragma once
// The heartbeat socket to the operator applications: sends the run state as
// an HTTP-formatted UDP datagram to port 10417, reads the answers, which
// register the application, may let it take the camera and, once per run
// while no flow unit works, set the system clock; and tells per target
// whether the link is alive.
//
// Threads: lives on the publisher's thread, where it sends and reads.
// getIsCnted may be called from any thread. Ages are measured on the
// monotonic clock, since an answer here may step the wall clock.
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QUdpSocket>

#include <functional>

class Udp_Push2APP_Simple : public QUdpSocket {
    Q_OBJECT
public:
    static constexpr quint16 kHeartbeatPort = 10417;

    explicit Udp_Push2APP_Simple(QObject* parent = nullptr);

    // Sends one heartbeat carrying `body`; the bytes written, 0 for an
    // empty body (nothing sent).
    qint64 sendData(const QByteArray& body, QString address, quint16 port);
    // The datagram sendData writes (head and body).
    static QByteArray heartbeatDatagram(const QByteArray& body);
    // Per sent-to address: 1 answered within 2000 ms of the last send, -1
    // link lost, 0 not registered or never answered.
    QMap<QString, int> getIsCnted() const;
    // The entry getIsCnted would give `address`, for a caller that knows
    // whether it is registered; false when the address was never sent to
    // (not listed). Copies nothing: the heartbeat tick asks it per target.
    bool linkState(const QString& address, bool registered, int* state) const;

    // Where the clock rule learns whether a flow unit works: the absolute
    // index of the working unit, -1 when none. Without a probe no unit can
    // be known idle and the clock is left alone.
    using WorkingUnitProbe = std::function<int()>;
    static void setWorkingUnitProbe(WorkingUnitProbe probe);
    // The earliest "app_time" taken (epoch seconds): the program's build day.
    static qint64 earliestAppTime();

    // The rules of one answer's "result" from `address`: registration, the
    // taking of the camera and, once, the clock (shared by every heartbeat
    // client).
    static void takeAnswer(const QJsonObject& result, const QString& address);
    // Link states from the send and answer times (monotonic ms) per address.
    static QMap<QString, int> linkStates(const QMap<QString, double>& sent, const QMap<QString, double>& replies);

public slots:
    void onReadyRead();
    void onDataReceived(const QByteArray& data, const QHostAddress& sender, quint16 port);

private:
    static void applyClockRule(const QJsonValue& appTime);

    mutable QMutex time_lock;
    QMap<QString, double> sent_times;   // monotonic ms of the last send per address
    QMap<QString, double> reply_times;  // monotonic ms of the last answer per address
};
