#include "tools/appsim/appsimulator.h"

#include "net/sci_execobj_recv.h"
#include "platform/system/monotonicclock.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QTimer>

namespace {
const char* kBufferProp = "appsim-buffer";
}

AppSimulator::AppSimulator(QObject* parent) : QObject(parent)
{
    registerNetMetaTypes();
    connect(&m_server, &QTcpServer::newConnection, this, &AppSimulator::onNewConnection);
    connect(&m_udp, &QUdpSocket::readyRead, this, &AppSimulator::onDatagrams);
}

AppSimulator::~AppSimulator() { kill(); }

bool AppSimulator::start(const QHostAddress& address, quint16 tcpPort, quint16 udpPort)
{
    kill();
    if (!m_server.listen(address, tcpPort))
        return false;
    if (!m_udp.bind(address, udpPort)) {
        m_server.close();
        return false;
    }
    return true;
}

void AppSimulator::kill()
{
    m_server.close();
    m_udp.close();
    for (const QPointer<QTcpSocket>& s : m_sockets) {
        if (s) {
            s->abort();
            s->deleteLater();
        }
    }
    m_sockets.clear();
}

quint16 AppSimulator::tcpPort() const { return m_server.serverPort(); }
quint16 AppSimulator::udpPort() const { return m_udp.localPort(); }

void AppSimulator::setPushMode(PushMode mode, int slowMs)
{
    m_mode = mode;
    m_slowMs = slowMs;
}
void AppSimulator::setHeartbeatSilent(bool silent) { m_hbSilent = silent; }
void AppSimulator::setDoTaken(std::optional<bool> v) { m_doTaken = v; }
void AppSimulator::setAppVersion(std::optional<QString> v) { m_version = std::move(v); }
void AppSimulator::setAppTime(std::optional<QVariant> v) { m_appTime = std::move(v); }

void AppSimulator::sendDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    m_udp.writeDatagram(bytes, to, port);
}

QList<CTask_FormData> AppSimulator::pushes() const
{
    QMutexLocker lock(&m_recordLock);
    return m_pushes;
}
QList<QByteArray> AppSimulator::rawPushes() const
{
    QMutexLocker lock(&m_recordLock);
    return m_raw;
}
QList<AppSimulator::Heartbeat> AppSimulator::heartbeats() const
{
    QMutexLocker lock(&m_recordLock);
    return m_heartbeats;
}
int AppSimulator::connectionsSeen() const
{
    QMutexLocker lock(&m_recordLock);
    return m_connections;
}
int AppSimulator::openConnections() const
{
    int n = 0;
    for (const QPointer<QTcpSocket>& s : m_sockets)
        n += (s && s->state() == QAbstractSocket::ConnectedState) ? 1 : 0;
    return n;
}
void AppSimulator::clearRecords()
{
    QMutexLocker lock(&m_recordLock);
    m_pushes.clear();
    m_raw.clear();
    m_heartbeats.clear();
    m_connections = 0;
}

void AppSimulator::onNewConnection()
{
    while (m_server.hasPendingConnections()) {
        QTcpSocket* s = m_server.nextPendingConnection();
        m_sockets << s;
        {
            QMutexLocker lock(&m_recordLock);
            ++m_connections;
        }
        connect(s, &QTcpSocket::readyRead, this, [this, s] { onReadyRead(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
    }
}

void AppSimulator::onReadyRead(QTcpSocket* s)
{
    QByteArray buffer = s->property(kBufferProp).toByteArray() + s->readAll();
    for (;;) {
        const HttpCut c = httpread::cut(buffer);
        if (c.kind == HttpCut::Bad) {
            if (c.fatal) {
                s->abort();
                return;
            }
            buffer.remove(0, c.used);
            continue;
        }
        if (c.kind != HttpCut::Complete)
            break;
        const QByteArray whole = buffer.left(c.used);
        buffer.remove(0, c.used);
        const HttpRead r = readHttpMessage(whole, 0);
        const qint64 recvMs = QDateTime::currentMSecsSinceEpoch();
        CTask_FormData form = r.form;
        form.peer_address = s->peerAddress().toString().remove(QStringLiteral("::ffff:"));
        form.peer_port = s->peerPort();
        {
            QMutexLocker lock(&m_recordLock);
            m_pushes << form;
            m_raw << whole;
        }
        emit pushReceived(form);
        answer(s, form, recvMs);
        if (m_mode == PushMode::CloseMidBody || m_mode == PushMode::HugeHead)
            return;
    }
    s->setProperty(kBufferProp, buffer);
}

void AppSimulator::answer(QTcpSocket* s, const CTask_FormData& form, qint64 recvMs)
{
    const qint64 analysis = QDateTime::currentMSecsSinceEpoch() - recvMs;
    const QJsonObject envelope{{"code", 0},
                               {"msg", "OK"},
                               {"result", QJsonObject{{"recv_time", recvMs % 100000}, {"analysis_time", analysis}}}};
    const QByteArray body = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    const QString uuid = m_mode == PushMode::WrongUuid ? QStringLiteral("not-") + form.uuid : form.uuid;
    const QByteArray head = "HTTP/1.1 200 OK\r\nUser-Agent: " + uuid.toUtf8() +
                            "\r\nContent-Type: application/json\r\nContent-Length: " +
                            QByteArray::number(body.size()) + "\r\n\r\n";
    QPointer<QTcpSocket> sock(s);
    switch (m_mode) {
    case PushMode::Silent:
        return;
    case PushMode::Slow:
        QTimer::singleShot(m_slowMs, this, [sock, head, body] {
            if (sock)
                sock->write(head + body);
        });
        return;
    case PushMode::HugeHead:
        s->write("HTTP/1.1 200 OK\r\nX-Junk: " + QByteArray(200000, 'j'));
        return;
    case PushMode::CloseMidBody:
        s->write(head + body.left(body.size() / 2));
        s->flush();
        s->disconnectFromHost();
        return;
    default:
        s->write(head + body);
        return;
    }
}

void AppSimulator::onDatagrams()
{
    while (m_udp.hasPendingDatagrams()) {
        const QNetworkDatagram d = m_udp.receiveDatagram();
        {
            QMutexLocker lock(&m_recordLock);
            m_heartbeats << Heartbeat{d.senderAddress(), quint16(d.senderPort()), d.data(),
                                      platform::MonotonicClock::nowMs()};
        }
        emit heartbeatReceived();
        if (m_hbSilent)
            continue;
        QJsonObject result;
        if (m_doTaken)
            result.insert("dotaken", *m_doTaken);
        if (m_version)
            result.insert("app_version", *m_version);
        if (m_appTime)
            result.insert("app_time", QJsonValue::fromVariant(*m_appTime));
        const QByteArray body = QJsonDocument(QJsonObject{{"result", result}}).toJson(QJsonDocument::Compact);
        const QByteArray reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
                                 QByteArray::number(body.size()) + "\r\n\r\n" + body;
        m_udp.writeDatagram(reply, d.senderAddress(), quint16(d.senderPort()));
    }
}
