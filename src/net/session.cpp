#include "net/session.h"

#include "net/netlog.h"
#include "net/sci_execobj_recv.h"
#include "net/tcpreactor.h"

#include <QMutexLocker>
#include <QPointer>
#include <QTcpSocket>

Session::Session(CLSC::TcpReactor* r, QTcpSocket* s, int index)
    : session_index(index), socket(s), reactor(r)
{
    static const bool registered = [] {
        qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
        registerNetMetaTypes();
        return true;
    }();
    (void)registered;
    peer_address = s->peerAddress();
    peer_port = s->peerPort();
    m_connected = s->state() == QAbstractSocket::ConnectedState;
    connect(s, &QTcpSocket::readyRead, this, &Session::analyseBuffer_Setup1, Qt::DirectConnection);
    connect(s, &QTcpSocket::stateChanged, this, &Session::onStateChanged, Qt::DirectConnection);
}

Session::~Session()
{
    if (socket) {
        socket->disconnect(this);
        socket->abort();
        socket.reset();
    }
    {
        QMutexLocker lock(&queue_lock);
        recv_queue.clear();
    }
    if (isRunning()) {
        running = false;
        while (!wait(100)) {
        }
    }
}

void Session::onStateChanged()
{
    const bool connected = socket && socket->state() == QAbstractSocket::ConnectedState;
    m_connected = connected;
    if (!connected && socket &&
        (socket->state() == QAbstractSocket::ClosingState || socket->state() == QAbstractSocket::UnconnectedState)) {
        if (!m_closedSignalled) {
            m_closedSignalled = true;
            emit sigClosed(session_index);
        }
        scheduleDelete();
    }
}

void Session::scheduleDelete()
{
    // A write in progress (a file send runs a local event loop) still uses
    // this object: delete it once that write has returned.
    if (m_sendDepth > 0 || m_inReceive)
        m_deleteAfterSend = true;
    else
        deleteLater();
}

bool Session::SlotSendAction(SCI_ExecObj_Send message)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message]() mutable { SlotSendAction(message); }, Qt::QueuedConnection);
        return false;
    }
    if (m_sendDepth > 0) {
        // Never interleave two messages on one connection.
        m_pending.append(message);
        return true;
    }
    bool ok = writeOne(message);
    while (!m_pending.isEmpty() && socket && socket->state() == QAbstractSocket::ConnectedState) {
        SCI_ExecObj_Send next = m_pending.takeFirst();
        writeOne(next);
    }
    m_pending.clear();
    if (m_deleteAfterSend && !m_inReceive)
        deleteLater();
    return ok;
}

bool Session::writeOne(SCI_ExecObj_Send& message)
{
    ++m_sendDepth;
    if (reactor)
        reactor->noteWriteStarted();
    const bool ok = message.SerializeWrite(socket.get());
    if (reactor)
        reactor->noteWriteEnded();
    --m_sendDepth;
    return ok;
}

void Session::analyseBuffer_Setup1()
{
    if (m_inReceive || !socket)
        return;  // re-entered from a nested event loop: the running pass reads on
    m_inReceive = true;
    bool more = true;
    while (more && socket) {
        recv_buffer += socket->readAll();
        more = false;
        for (;;) {
            const HttpCut c = httpread::cut(recv_buffer);
            if (c.kind == HttpCut::Bad) {
                int held = 0;
                if (m_badLimiter.allow(&held)) {
                    qCWarning(level_1).noquote()
                        << "[TCP_RECV] refused from" << peer_address.toString() << peer_port << ":" << c.why
                        << (c.fatal ? "- connection closed" : "- head dropped") << "held back" << held;
                }
                if (c.fatal) {
                    recv_buffer.clear();
                    current.reset();
                    in_body = false;
                    socket->abort();
                    break;
                }
                recv_buffer.remove(0, c.used);
                continue;
            }
            if (!c.headComplete)
                break;
            if (!in_body) {
                in_body = true;
                current = std::make_shared<SCI_ExecObj_Recv>(c.head, session_index);
                current->setDuplex_Info(peer_address, peer_port);
                const QString uuid = current->getFormData().uuid;
                if (!current->url().isEmpty())
                    reactor->append_TcpTask(uuid);
                reactor->update_TcpTsk_ByUuid(uuid, QStringLiteral("tskup_firstrecv_timing"), {});
                reactor->update_TcpTsk_ByUuid(uuid, QStringLiteral("tskup_chg_recvpacklength"),
                                              {QVariant(c.contentLength)});
            } else if (c.kind == HttpCut::Incomplete) {
                reactor->update_TcpTsk_ByUuid(current->getFormData().uuid, QStringLiteral("tskup_recv_times"), {});
            }
            if (c.kind != HttpCut::Complete)
                break;
            current->addBody(c.body);
            recv_buffer.remove(0, c.used);
            reactor->update_TcpTsk_ByUuid(current->getFormData().uuid, QStringLiteral("tskup_finishrecv_timing"),
                                          {});
            analyseBuffer_Setup2_5();
            in_body = false;
            current.reset();
        }
        if (socket && socket->bytesAvailable() > 0)
            more = true;
    }
    m_inReceive = false;
    if (m_deleteAfterSend && m_sendDepth == 0)
        deleteLater();
}

void Session::analyseBuffer_Setup2_5()
{
    if (!current->analysisIntegrality()) {
        int held = 0;
        if (m_badLimiter.allow(&held)) {
            qCWarning(level_1).noquote() << "[TCP_RECV] message from" << peer_address.toString() << peer_port
                                         << "could not be decoded, dropped:" << current->method() << current->url()
                                         << "held back" << held;
        }
        return;
    }
    const CTask_FormData form = current->getFormData();
    if (!form.url.isEmpty())
        emit sigRequest(form);
    else
        emit sigResponse(form);
}

void Session::analyseBuffer_Setup2()
{
    if (!isRunning())
        start(QThread::InheritPriority);
    running = true;
}

void Session::run()
{
    while (running) {
        QThread::msleep(1);
        SCI_ExecObj_Recv* next = nullptr;
        {
            QMutexLocker lock(&queue_lock);
            if (recv_queue.isEmpty())
                break;
            next = new SCI_ExecObj_Recv(recv_queue.takeFirst());
        }
        if (next->analysisIntegrality()) {
            const CTask_FormData form = next->getFormData();
            if (!form.url.isEmpty())
                emit sigRequest(form);
            else
                emit sigResponse(form);
        }
        delete next;
    }
    running = false;
}
