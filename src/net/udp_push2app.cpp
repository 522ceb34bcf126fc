#include "net/udp_push2app.h"

#include "net/udp_push2app_simple.h"
#include "platform/system/monotonicclock.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QMutexLocker>

using platform::MonotonicClock;

Udp_Push2APP::Udp_Push2APP(int lifetime_s) : CLSC::UdpReactor(nullptr), life_timer(this)
{
    life_timer.setSingleShot(true);
    connect(&life_timer, &QTimer::timeout, this, &QObject::deleteLater);
    if (lifetime_s != -1)
        life_timer.start(lifetime_s * 1000);
    connect(this, &CLSC::UdpReactor::sigRequest, this, &Udp_Push2APP::slot_udp_recv_req, Qt::DirectConnection);
    connect(this, &CLSC::UdpReactor::sigResponse, this, &Udp_Push2APP::slot_udp_recv_rsp, Qt::DirectConnection);
}

Udp_Push2APP::~Udp_Push2APP()
{
    // The answer slots run on the task: end it while this object is whole.
    deinitialize();
}

bool Udp_Push2APP::sendMsg(const QByteArray& body, QString host, int port, bool reconnect)
{
    {
        QMutexLocker lock(&time_lock);
        sent_times.insert(host, double(MonotonicClock::nowMs()));
    }
    if (body.isEmpty())
        return false;
    return CLSC::UdpReactor::sendMsg(Udp_Push2APP_Simple::heartbeatDatagram(body), host, port, reconnect);
}

void Udp_Push2APP::slot_udp_recv_req(const CTask_FormData&) {}

void Udp_Push2APP::slot_udp_recv_rsp(const CTask_FormData& form)
{
    const QJsonValue result = form.json.value(QStringLiteral("result"));
    if (!result.isObject())
        return;
    const QJsonObject r = result.toObject();
    const QString sender = form.peer_address;
    const QString subip = r.value(QStringLiteral("subip")).toString();
    if (!subip.isEmpty() && !QHostAddress(subip).isNull() && QHostAddress(subip).protocol() == QAbstractSocket::IPv4Protocol)
        qInfo().noquote() << "subip is different _Duplex_Address" << subip << sender;
    Udp_Push2APP_Simple::takeAnswer(r, sender);
    QMutexLocker lock(&time_lock);
    reply_times.insert(sender, double(MonotonicClock::nowMs()));
}

QMap<QString, int> Udp_Push2APP::getIsCnted() const
{
    QMap<QString, double> sent;
    QMap<QString, double> replies;
    {
        QMutexLocker lock(&time_lock);
        sent = sent_times;
        replies = reply_times;
    }
    return Udp_Push2APP_Simple::linkStates(sent, replies);
}
