#pragma once
// One TCP connection of a reactor: owns the socket, cuts the incoming byte
// stream into HTTP messages, reports requests and responses by signal, and
// writes outgoing messages on the socket's thread.
//
// Lives on the reactor's worker thread, which does all its work. It derives
// from QThread, but that thread is never started: run() and the queue it
// drains are carried only.
#include "net/ctask_formdata.h"
#include "net/netlog.h"
#include "net/sci_execobj_send.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <memory>

class QTcpSocket;
class SCI_ExecObj_Recv;
namespace CLSC {
class TcpReactor;
}

class Session : public QThread {
    Q_OBJECT
public:
    // Takes ownership of `socket`, which must live on the calling thread.
    Session(CLSC::TcpReactor* reactor, QTcpSocket* socket, int index);
    ~Session() override;

    int index() const { return session_index; }
    // The socket exists and is connected; callable from any thread.
    bool isWorking() const { return m_connected.load(); }
    // Inside a write or a read (its own thread only).
    bool isBusy() const { return m_sendDepth > 0 || m_inReceive; }
    QHostAddress peerAddress() const { return peer_address; }
    quint16 peerPort() const { return peer_port; }
    QTcpSocket* tcpSocket() const { return socket.get(); }

    // Carried: starts the (otherwise unused) thread.
    void analyseBuffer_Setup2();

public slots:
    // On the session's thread: writes the message and returns whether it was
    // written whole (a message handed over while another is still being
    // written waits for it and then returns true). From any other thread:
    // hands a copy over with a queued call and returns false at once.
    bool SlotSendAction(SCI_ExecObj_Send message);
    // The receive step, on every readyRead.
    void analyseBuffer_Setup1();

signals:
    void sigRequest(CTask_FormData form);
    void sigResponse(CTask_FormData form);
    // The connection closed (emitted once, on the session's thread).
    void sigClosed(int index);

protected:
    void run() override;

private:
    void analyseBuffer_Setup2_5();
    void onStateChanged();
    void scheduleDelete();
    bool writeOne(SCI_ExecObj_Send& message);

    int session_index;
    std::atomic<bool> running{false};
    std::shared_ptr<QTcpSocket> socket;
    QHostAddress peer_address;
    quint16 peer_port = 0;
    QMutex queue_lock;
    QByteArray recv_buffer;
    std::shared_ptr<SCI_ExecObj_Recv> current;
    QList<SCI_ExecObj_Recv> recv_queue;
    bool in_body = false;
    CLSC::TcpReactor* reactor;

    std::atomic<bool> m_connected{false};
    bool m_inReceive = false;
    int m_sendDepth = 0;
    bool m_deleteAfterSend = false;
    bool m_closedSignalled = false;
    QList<SCI_ExecObj_Send> m_pending;  // handed over while a send was running
    NetLogLimiter m_badLimiter;         // one warning a second per connection
};
