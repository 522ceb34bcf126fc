#include "support/inprocesslink.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QTimer>

namespace testsupport {

InProcessLink::InProcessLink()
{
    registerGroupMetaTypes();
    moveToThread(&m_thread);
    m_thread.start();
}

InProcessLink::~InProcessLink()
{
    m_thread.quit();
    m_thread.wait();
}

void InProcessLink::set_interface(SRPC_WS_Interface iface)
{
    QMutexLocker l(&m_mutex);
    m_iface = iface;
}

SRPC_WS_Interface InProcessLink::get_interface() const
{
    QMutexLocker l(&m_mutex);
    return m_iface;
}

void InProcessLink::attachSub(const QString& id, InProcessLink* sub)
{
    QMutexLocker l(&m_mutex);
    m_subs.insert(id, sub);
}

void InProcessLink::setReply(Reply reply, int delayMs)
{
    QMutexLocker l(&m_mutex);
    m_reply = reply;
    m_delayMs = delayMs;
}

QList<QThread*> InProcessLink::initThreads() const
{
    QMutexLocker lock(&m_mutex);
    return m_initThreads;
}

QStringList InProcessLink::sentFrames() const
{
    QMutexLocker l(&m_mutex);
    return m_sent;
}

QList<QThread*> InProcessLink::sendThreads() const
{
    QMutexLocker l(&m_mutex);
    return m_sendThreads;
}

void InProcessLink::noteSent(const QString& text)
{
    QMutexLocker l(&m_mutex);
    m_sent << text;
    m_sendThreads << QThread::currentThread();
}

int InProcessLink::SpreadMessage(SRPC_WS_FormData formdata)
{
    if (!get_interface().is_main)
        return -1;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SpreadMessage", Qt::QueuedConnection, Q_ARG(SRPC_WS_FormData, formdata));
        return 0;
    }
    QMap<QString, QPointer<InProcessLink>> subs;
    {
        QMutexLocker l(&m_mutex);
        subs = m_subs;
    }
    formdata.topic += QStringLiteral("(rpc)");
    for (auto it = subs.constBegin(); it != subs.constEnd(); ++it) {
        formdata.device_id = get_interface().own_id;
        const QString text = srpcform_2_wsbytes(formdata);
        noteSent(text);
        deliver(it.value(), text, true);
    }
    return 0;
}

int InProcessLink::SendMessage_RpcBack(SRPC_WS_FormData formdata)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SendMessage_RpcBack", Qt::QueuedConnection,
                                  Q_ARG(SRPC_WS_FormData, formdata));
        return 0;
    }
    auto* to = qobject_cast<InProcessLink*>(formdata.session.data());
    if (!to)
        return -1;
    Reply reply;
    int delay;
    {
        QMutexLocker l(&m_mutex);
        reply = m_reply;
        delay = m_delayMs;
    }
    formdata.device_id = get_interface().own_id;
    formdata.topic += QStringLiteral("(rpc_back)");
    if (reply == Reply::WrongUuid)
        formdata.uuid += QStringLiteral("-other");
    if (reply == Reply::ForeignId)
        formdata.device_id = QStringLiteral("FOREIGN");
    QString text = srpcform_2_wsbytes(formdata);
    if (reply == Reply::Unparsable)
        text = text.left(text.size() / 2);
    switch (reply) {
    case Reply::Silent:
        return 0;
    case Reply::Late: {
        QPointer<InProcessLink> target(to);
        QTimer::singleShot(delay, this, [this, target, text] {
            noteSent(text);
            deliver(target, text, false);
        });
        return text.toUtf8().size();
    }
    case Reply::Duplicate:
        noteSent(text);
        deliver(to, text, false);
        break;
    default:
        break;
    }
    noteSent(text);
    deliver(to, text, false);
    return text.toUtf8().size();
}

bool InProcessLink::InitWsServer(bool start)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "InitWsServer", Qt::QueuedConnection, Q_ARG(bool, start));
        return false;
    }
    QMutexLocker lock(&m_mutex);
    m_initThreads << QThread::currentThread();
    return start;
}

void InProcessLink::deliver(InProcessLink* to, const QString& text, bool request)
{
    if (!to)
        return;
    QPointer<InProcessLink> from(this);
    QPointer<InProcessLink> target(to);
    QMetaObject::invokeMethod(
        to,
        [target, from, text, request] {
            if (!target)
                return;
            if (request)
                target->receiveRequest(text, from.data());
            else
                target->receiveReply(text);
        },
        Qt::QueuedConnection);
}

void InProcessLink::receiveRequest(const QString& text, InProcessLink* from)
{
    SRPC_WS_FormData form = wsbytes_2_srpcform(text);
    if (!form.valid || form.topic.isEmpty())
        return;
    Reply reply;
    {
        QMutexLocker l(&m_mutex);
        reply = m_reply;
    }
    if (reply == Reply::BadPassport && form.datas.contains(QStringLiteral("passport")))
        form.datas.insert(QStringLiteral("passport"), QStringLiteral("{\"uuid\": broken"));
    form.session = from;
    emit sig_recvC2c_rpcmeet_part1(form);
}

void InProcessLink::receiveReply(const QString& text)
{
    emit sig_recvc2C_rpcmeet_part2(wsbytes_2_srpcform(text));
}

}  // namespace testsupport
