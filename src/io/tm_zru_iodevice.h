#pragma once
// The UDP link to the IO module of the machine, to the configuration app and
// to the other cameras of the group. It listens on ports 10412 (IO module)
// and 10410 (discovery and configuration), cuts what it receives into
// protocol messages, answers them, and sends the output frames to port 10411
// of the IO module.
//
// Threads: a FrameIO_Reactor, so it lives on the IO transport thread; the
// listening sockets, the parsing and every handler run there. The two send
// operations use a socket of their own and may be called from any thread.
#include "io/frameio_reactor.h"
#include "io/iomodule_protocol.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

class QUdpSocket;

class TM_ZRU_IODevice : public FrameIO_Reactor {
    Q_OBJECT
public:
    TM_ZRU_IODevice();
    ~TM_ZRU_IODevice() override;

    // Whether a message is meant for this camera (see the .cpp for the rules).
    bool chkPermitID(const ZRU_IODevice_P6l_Head& head) const;

    // Parses and handles one message cut from a datagram; returns the status
    // word ("format_error", "discard", "ignore", "fail", "success", "sucess"
    // or "main thread stop"). Runs in the transport thread.
    Q_INVOKABLE QString AnalysisRecvMessage(Skt_Session src, const QByteArray& message);

    // Replies, one per answered code; each sends through sendUdpMessage_Timely.
    bool do_req_s2c03_heartbeat(ZRU_IODevice_P6l_Head head);
    bool do_req_s2c04_needrepair(ZRU_IODevice_P6l_Head head);
    bool do_req_s2c05_inputstate(ZRU_IODevice_P6l_Head head);
    bool do_req_a2c10_apidiscover(ZRU_IODevice_P6l_Head head);
    bool do_req_a2c21_discover(ZRU_IODevice_P6l_Head head);
    bool do_req_a2c22_modifycells(ZRU_IODevice_P6l_Head head);
    // The output frame with the stored output bits, to the IO module; only
    // the main camera sends.
    bool do_snd_c2s06_OutputIO();

    // Ports listened on so far (tests and the liveness report).
    QList<int> listeningPorts() const;

public slots:
    void on_HasOutput() override;
    bool Start() override;
    // Listens on `port`: 1 bound, -1 not bound; 0 when posted to the transport thread.
    int addListen(int port);
    // Sends one datagram from a fresh socket; false when it could not be sent.
    bool sendUdpMessage_Timely(Skt_Session dstinfo, QByteArray message) const;
    // Sends one datagram and collects every answer that comes back to its
    // socket within `timeout` ms (the wait is always the full time).
    QByteArray sendUdpMessage_Timely_Sync(Skt_Session dstinfo, QByteArray message, int timeout) const;

private:
    void readPending(QUdpSocket* socket);
    void logReceived(const QUdpSocket* socket, const Skt_Session& src, const QByteArray& message);
    void logDropped(const Skt_Session& src, const QString& status, const QString& why) const;

    QString dispatch(const Skt_Session& src, const iomodule::IoMessageParse& parse);
    QString handleHeartbeat(const iomodule::IoMessage& m);
    QString handleNeedRepair(const iomodule::IoMessage& m);
    QString handleInputState(const iomodule::IoMessage& m);
    QString handleApiDiscover(const iomodule::IoMessage& m);
    QString handleDiscover(const iomodule::IoMessage& m);
    QString handleCameraAnswer(const iomodule::IoMessage& m);
    QString handleModifyCells(const iomodule::IoMessage& m);

    // The socket for sending from the transport thread: made on first use and
    // kept, so that a reply or an output frame does not pay for a new socket
    // (it sends from one ephemeral port; what comes back to it is dropped).
    QUdpSocket* sendSocketHere() const;
    mutable QUdpSocket* send_socket = nullptr;  // transport thread only

    QList<QUdpSocket*> sockets;  // transport thread only
    mutable QMutex ports_mutex;
    QList<int> ports;            // under ports_mutex
};
