#pragma once
// HTTP/1.1 messages of the own message layer over UDP, carried but never
// started by the camera program: one UDP socket on a one-thread pool sends
// datagrams handed over from any thread and reassembles the datagrams of
// each sender into requests (sigRequest) and responses (sigResponse) with
// the message reader's limits.
//
// Every sender has a buffer of its own (another sender's datagram never
// becomes body bytes); a buffer is cut into messages until no progress is
// left, and a partial message silent for 2 s is dropped. The task is
// stopped before the pool goes.
//
// Threads: the socket, the buffers and the emission of both signals live on
// the pool thread; sendMsg, initialize, deinitialize and getTimerAlived may
// be called from any thread.
#include "net/ctask_formdata.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QThreadPool>
#include <QUdpSocket>

#include <atomic>
#include <memory>

namespace CLSC {

class UdpReactor : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kSilenceDropMs = 2000;

    explicit UdpReactor(QObject* parent = nullptr);
    ~UdpReactor() override;

    virtual bool reAction();
    virtual bool sendMsg(const QByteArray& bytes, QString host, int port, bool reconnect = false);
    virtual bool getTimerAlived() const;
    virtual bool isRunning() const;
    virtual bool initialize();
    virtual void deinitialize();

    // The local port of the socket (0 until the first datagram bound it).
    quint16 localPort() const { return m_localPort.load(); }
    // Partial messages held now (all senders).
    int partialCount() const { return m_partials.load(); }

signals:
    void readyToClose();
    void sigSendMsg(QByteArray bytes, QString host, int port);
    void sigRequest(CTask_FormData form);
    void sigResponse(CTask_FormData form);

protected:
    virtual bool onStart();
    virtual void onFinish();

private:
    struct Pending {
        QByteArray bytes;
        qint64 lastMs = 0;  // monotonic
    };
    void readDatagrams();
    void reassemble(const QString& address, quint16 port, Pending& p);
    void dropSilent();

    std::shared_ptr<QThreadPool> socket_pool;
    std::shared_ptr<QUdpSocket> socket;
    QHash<QString, Pending> m_buffers;  // by "address:port"; pool thread only
    std::atomic<qint64> alive_stamp{-1};  // monotonic ms
    std::atomic<quint16> m_localPort{0};
    std::atomic<int> m_partials{0};
};

}  // namespace CLSC
