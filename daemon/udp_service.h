#pragma once
// The daemon's discovery responder: answers the operator application's
// broadcast "<A;21;APP>" on UDP 10419 with this camera's identity and group,
// "<CD;21;id;MAC;version;(machine);(io;address);(main;address);(sub;address;...)>",
// sent to port 10410 of the sender, also while the camera program is down.
//
// The group comes from "./camcfg.json", which the camera program writes from
// texts it took off the network: only a regular file's first 64 KiB are read,
// a text longer than 64 characters or holding ";()<>" or a control character
// is answered empty, and sub cameras that would take the answer past 1400
// bytes are left out (both logged). The answer is rebuilt at most once a
// second, on the monotonic clock.
//
// Threads: lives on the main thread; the socket is read there.
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QUdpSocket>

class Udp_Service : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPort = 10419;
    static constexpr quint16 kReplyPort = 10410;
    static constexpr qint64 kMaxFile = 64 * 1024;
    static constexpr int kMaxText = 64;
    static constexpr int kMaxAnswer = 1400;

    explicit Udp_Service(QObject* parent = nullptr, quint16 port = kPort, QString camcfgPath = QString());

    bool isListening() const { return m_socket.state() == QAbstractSocket::BoundState; }
    QString answerText() const { return m_reply; }

    // Rebuilds the answer text.
    void update_baseinfo();

    // The answer from a device id, MAC and the bytes of camcfg.json (pure;
    // `warnings` gets what was refused).
    static QString buildAnswer(const QString& deviceId, const QString& mac, const QByteArray& camcfg,
                               QStringList* warnings = nullptr);
    // The MAC of the last card that is up, not the loopback, with an IPv4 address.
    static QString currentMac();

private:
    void onReadyRead();

    QUdpSocket m_socket;
    QString m_reply;
    QString m_deviceId;
    QString m_camcfgPath;
    qint64 m_lastRebuild = -1;  // monotonic ms; -1 never
};
