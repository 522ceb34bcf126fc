#include "tools/appsim/appsimulator.h"

#include "net/sci_execobj_recv.h"
#include "platform/system/monotonicclock.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QTimer>

#include <limits>

namespace {
const int kRateTickMs = 50;
const QByteArray kExportStart = QByteArrayLiteral("POST /dide/context/putproject_storage ");

// The application takes a project export of any size, beyond the body limit
// of the camera's own reader: an export push whose Content-Length is above
// that limit is cut here. Complete: the message's length in `used`, its form
// read from the head with the body set; Incomplete: wait; Bad: not such a
// push (the ordinary reader decides).
HttpCut::Kind cutLargeExport(const QByteArray& buffer, int* used, CTask_FormData* form)
{
    if (!buffer.startsWith(kExportStart))
        return HttpCut::Bad;
    const int blank = buffer.left(httpread::kMaxHead + 4).indexOf("\r\n\r\n");
    if (blank < 0)
        return HttpCut::Bad;
    const QByteArray head = buffer.left(blank);
    qint64 length = -1;
    for (const QByteArray& line : head.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (length <= httpread::kMaxBody || length > std::numeric_limits<int>::max() - blank - 4)
        return HttpCut::Bad;
    if (buffer.size() < blank + 4 + length)
        return HttpCut::Incomplete;
    QByteArray shortHead;
    for (const QByteArray& line : head.split('\n')) {
        if (!line.trimmed().toLower().startsWith("content-length"))
            shortHead += line + '\n';
    }
    *form = readHttpMessage(shortHead + "Content-Length: 0\r\n\r\n", 0).form;
    form->body = buffer.mid(blank + 4, int(length));
    *used = int(blank + 4 + length);
    return HttpCut::Complete;
}
}  // namespace

AppSimulator::AppSimulator(QObject* parent) : QObject(parent)
{
    registerNetMetaTypes();
    connect(&m_server, &QTcpServer::newConnection, this, &AppSimulator::onNewConnection);
    connect(&m_udp, &QUdpSocket::readyRead, this, &AppSimulator::onDatagrams);
    m_rateTimer.setInterval(kRateTickMs);
    connect(&m_rateTimer, &QTimer::timeout, this, &AppSimulator::onRateTick);
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
    m_buffers.clear();
    m_rateTimer.stop();
}

quint16 AppSimulator::tcpPort() const { return m_server.serverPort(); }
quint16 AppSimulator::udpPort() const { return m_udp.localPort(); }

void AppSimulator::setPushMode(PushMode mode, int slowMs)
{
    m_mode = mode;
    m_slowMs = slowMs;
}
void AppSimulator::setHeartbeatSilent(bool silent) { m_hbSilent = silent; }
void AppSimulator::setReadRate(qint64 bytesPerSecond) { m_readRate = qMax<qint64>(0, bytesPerSecond); }
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
qint64 AppSimulator::pushCount() const
{
    QMutexLocker lock(&m_recordLock);
    return m_pushCount;
}
qint64 AppSimulator::heartbeatCount() const
{
    QMutexLocker lock(&m_recordLock);
    return m_heartbeatCount;
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
qint64 AppSimulator::bytesReceived() const
{
    QMutexLocker lock(&m_recordLock);
    return m_bytes;
}
void AppSimulator::clearRecords()
{
    QMutexLocker lock(&m_recordLock);
    m_pushes.clear();
    m_raw.clear();
    m_heartbeats.clear();
    m_keptPushBytes = 0;
    m_pushCount = 0;
    m_heartbeatCount = 0;
    m_connections = 0;
}

void AppSimulator::onNewConnection()
{
    while (m_server.hasPendingConnections()) {
        QTcpSocket* s = m_server.nextPendingConnection();
        // Connections that are gone leave only an empty pointer: dropped
        // here, so that a connection per push does not pile up over hours.
        m_sockets.removeAll(QPointer<QTcpSocket>());
        m_sockets << s;
        {
            QMutexLocker lock(&m_recordLock);
            ++m_connections;
        }
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QObject::destroyed, this, [this, s] { m_buffers.remove(s); });
        if (m_readRate > 0) {
            // A small read buffer: once it is full Qt stops reading and the
            // kernel's window closes, so the sender waits as on a slow link.
            const qint64 share = qMax<qint64>(4096, m_readRate * kRateTickMs / 1000);
            s->setReadBufferSize(share);
            // And a fixed kernel window of about two shares: left to grow, it
            // takes megabytes (tens on loopback) the sender counts as sent.
            s->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(int(2 * share)));
            // The sender may close once its last byte is out: what is still
            // held here is taken then, not dropped with the socket.
            connect(s, &QTcpSocket::disconnected, this, [this, s] {
                if (s->bytesAvailable() > 0)
                    takeBytes(s, s->readAll());
            });
            m_rateTimer.start();
        } else {
            connect(s, &QTcpSocket::readyRead, this, [this, s] { onReadyRead(s); });
        }
    }
}

void AppSimulator::onReadyRead(QTcpSocket* s) { takeBytes(s, s->readAll()); }

void AppSimulator::onRateTick()
{
    const qint64 share = qMax<qint64>(1, m_readRate * kRateTickMs / 1000);
    const QList<QPointer<QTcpSocket>> sockets = m_sockets;
    for (const QPointer<QTcpSocket>& s : sockets) {
        if (s && s->bytesAvailable() > 0)
            takeBytes(s, s->read(share));
    }
}

void AppSimulator::takeBytes(QTcpSocket* s, const QByteArray& bytes)
{
    {
        QMutexLocker lock(&m_recordLock);
        m_bytes += bytes.size();
    }
    QByteArray& buffer = m_buffers[s];
    buffer.append(bytes);
    for (;;) {
        CTask_FormData form;
        int used = 0;
        const HttpCut::Kind large = cutLargeExport(buffer, &used, &form);
        if (large == HttpCut::Incomplete)
            break;
        if (large == HttpCut::Complete) {
            const QByteArray whole = buffer.left(used);
            buffer.remove(0, used);
            record(s, form, whole);
            if (m_mode == PushMode::CloseMidBody || m_mode == PushMode::HugeHead)
                return;
            continue;
        }
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
        record(s, readHttpMessage(whole, 0).form, whole);
        if (m_mode == PushMode::CloseMidBody || m_mode == PushMode::HugeHead)
            return;
    }
}

void AppSimulator::record(QTcpSocket* s, CTask_FormData form, const QByteArray& whole)
{
    const qint64 recvMs = QDateTime::currentMSecsSinceEpoch();
    form.peer_address = s->peerAddress().toString().remove(QStringLiteral("::ffff:"));
    form.peer_port = s->peerPort();
    {
        QMutexLocker lock(&m_recordLock);
        ++m_pushCount;
        m_pushes << form;
        m_raw << whole;
        m_keptPushBytes += whole.size();
        // The oldest go first; the last push is always kept.
        while (m_pushes.size() > 1 && (m_pushes.size() > kKeptPushes || m_keptPushBytes > kKeptPushBytes)) {
            m_keptPushBytes -= m_raw.first().size();
            m_pushes.removeFirst();
            m_raw.removeFirst();
        }
    }
    emit pushReceived(form);
    answer(s, form, recvMs);
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
            ++m_heartbeatCount;
            m_heartbeats << Heartbeat{d.senderAddress(), quint16(d.senderPort()), d.data(),
                                      platform::MonotonicClock::nowMs()};
            // The oldest are dropped kKeptHeartbeats at a time, so that the
            // list's length keeps its last digit as heartbeats come (a
            // reader that prints at every tenth still does).
            if (m_heartbeats.size() >= 2 * kKeptHeartbeats)
                m_heartbeats.erase(m_heartbeats.begin(), m_heartbeats.begin() + kKeptHeartbeats);
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
