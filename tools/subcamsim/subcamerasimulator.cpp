#include "tools/subcamsim/subcamerasimulator.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <chrono>

struct SubCameraSimulator::Connection {
    int number = -1;
    SubConnectionScript script;
    QWebSocket* socket = nullptr;
    QPointer<QTcpSocket> tcp;
};

namespace {
const QString kCheck = QStringLiteral("/dide/subcamera/checkid");
}

SubCameraSimulator::SubCameraSimulator(const Config& config, QObject* parent) : QObject(parent), m_config(config)
{
}

SubCameraSimulator::~SubCameraSimulator()
{
    die();
}

QString SubCameraSimulator::frame(const QString& topic, const QString& uuid, const QString& deviceId,
                                  const QVariantMap& datas)
{
    QJsonObject o;
    o.insert(QStringLiteral("topic"), topic);
    o.insert(QStringLiteral("uuid"), uuid);
    o.insert(QStringLiteral("device_id"), deviceId);
    o.insert(QStringLiteral("datas"), QJsonObject::fromVariantMap(datas));
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

void SubCameraSimulator::processEventsFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
        QThread::msleep(1);
    }
}

qint64 SubCameraSimulator::steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SubCameraSimulator::stopReading(QTcpSocket* tcp)
{
    // Nothing more is read, so no pong answers a ping and no frame is seen;
    // the kernel keeps the connection up.
    QObject::disconnect(tcp, &QIODevice::readyRead, nullptr, nullptr);
    tcp->setReadBufferSize(1);
}

bool SubCameraSimulator::start()
{
    if (!comeBack())
        return false;
    if (m_config.restPort != 0 && !m_http) {
        m_http = new QTcpServer(this);
        connect(m_http, &QTcpServer::newConnection, this, &SubCameraSimulator::onHttpConnection);
        if (!m_http->listen(QHostAddress::AnyIPv4, m_config.restPort)) {
            QMutexLocker lock(&m_mutex);
            m_error = QStringLiteral("listen on %1: %2").arg(m_config.restPort).arg(m_http->errorString());
            return false;
        }
    }
    return true;
}

bool SubCameraSimulator::comeBack()
{
    if (m_tcp)
        return true;
    m_ws = new QWebSocketServer(QStringLiteral("ws_cams"), QWebSocketServer::NonSecureMode, this);
    connect(m_ws, &QWebSocketServer::newConnection, this, &SubCameraSimulator::onWebSocket);
    m_tcp = new QTcpServer(this);
    connect(m_tcp, &QTcpServer::newConnection, this, &SubCameraSimulator::onTcpConnection);
    if (!m_tcp->listen(QHostAddress::AnyIPv4, m_config.port)) {
        QMutexLocker lock(&m_mutex);
        m_error = QStringLiteral("listen on %1: %2").arg(m_config.port).arg(m_tcp->errorString());
        delete m_tcp;
        m_tcp = nullptr;
        return false;
    }
    return true;
}

void SubCameraSimulator::block()
{
    if (m_blocked)
        return;
    m_blocked = true;
    if (m_tcp)
        m_tcp->pauseAccepting();
    for (Connection* c : qAsConst(m_open)) {
        if (c->tcp)
            stopReading(c->tcp);
    }
    for (const auto& t : qAsConst(m_pendingTcp)) {
        if (t)
            stopReading(t);
    }
}

void SubCameraSimulator::unblock()
{
    if (!m_blocked)
        return;
    // The hung connections go (their peers gave up on them long ago); what
    // waits in the listen queue is taken from now on.
    const QList<Connection*> hung = m_open;
    m_open.clear();
    for (Connection* c : hung) {
        c->socket->disconnect(this);
        c->socket->abort();
        c->socket->deleteLater();
        delete c;
    }
    for (const auto& t : qAsConst(m_pendingTcp)) {
        if (t)
            t->abort();
    }
    m_pendingTcp.clear();
    m_blocked = false;
    if (m_tcp)
        m_tcp->resumeAccepting();
}

bool SubCameraSimulator::blocked() const
{
    return m_blocked;
}

void SubCameraSimulator::die()
{
    delete m_tcp;
    m_tcp = nullptr;
    for (Connection* c : qAsConst(m_open)) {
        c->socket->disconnect(this);
        c->socket->abort();
        c->socket->deleteLater();
        delete c;
    }
    m_open.clear();
    for (const auto& t : qAsConst(m_pendingTcp)) {
        if (t)
            t->abort();
    }
    m_pendingTcp.clear();
    delete m_ws;  // deletes the sockets it still holds
    m_ws = nullptr;
    m_blocked = false;
}

void SubCameraSimulator::setScripts(const QList<SubConnectionScript>& scripts)
{
    m_config.scripts = scripts;
}

SubConnectionScript SubCameraSimulator::scriptFor(int connection) const
{
    if (m_config.scripts.isEmpty())
        return SubConnectionScript();
    return m_config.scripts.value(qMin(connection, m_config.scripts.size() - 1));
}

void SubCameraSimulator::onTcpConnection()
{
    while (m_tcp && m_tcp->hasPendingConnections()) {
        QTcpSocket* s = m_tcp->nextPendingConnection();
        if (m_blocked)
            stopReading(s);
        m_pendingTcp.append(s);
        m_ws->handleConnection(s);  // the handshake; then newConnection of m_ws
    }
}

void SubCameraSimulator::onWebSocket()
{
    while (m_ws && m_ws->hasPendingConnections()) {
        QWebSocket* s = m_ws->nextPendingConnection();
        auto* c = new Connection;
        {
            QMutexLocker lock(&m_mutex);
            c->number = m_connections++;
        }
        c->script = scriptFor(c->number);
        c->socket = s;
        // The TCP socket that carries this WebSocket: the oldest pending one
        // that is still alive (handshakes finish in order of arrival).
        while (!m_pendingTcp.isEmpty() && !c->tcp)
            c->tcp = m_pendingTcp.takeFirst();
        m_open.append(c);
        connect(s, &QWebSocket::textMessageReceived, this, [this, c](const QString& text) { onText(c, text); });
        connect(s, &QWebSocket::disconnected, this, [this, c] {
            {
                QMutexLocker lock(&m_mutex);
                m_closeCodes.append(int(c->socket->closeCode()));
            }
            m_open.removeOne(c);
            c->socket->deleteLater();
            delete c;
        });
    }
}

void SubCameraSimulator::onText(Connection* c, const QString& text)
{
    if (m_blocked)
        return;  // read before the hang: never seen
    {
        QMutexLocker lock(&m_mutex);
        m_frames.append({c->number, text});
    }
    const QVariantMap request = QJsonDocument::fromJson(text.toUtf8()).object().toVariantMap();
    const QString topic = request.value(QStringLiteral("topic")).toString();
    if (topic == kCheck)
        answerCheck(c, request);
    else if (topic.endsWith(QStringLiteral("(rpc)")))
        answerRequest(c, request);
}

void SubCameraSimulator::answerCheck(Connection* c, const QVariantMap& request)
{
    {
        QMutexLocker lock(&m_mutex);
        ++m_checks;
    }
    const SubConnectionScript& s = c->script;
    // A real sub answers only its configured main.
    if (s.check == SubConnectionScript::Check::Silent ||
        request.value(QStringLiteral("device_id")).toString() != m_config.mainId)
        return;
    const QString id = s.check == SubConnectionScript::Check::Right ? m_config.ownId
                                                                     : m_config.ownId + QStringLiteral("-X");
    const QString uuid = s.otherUuid ? QStringLiteral("another-uuid") : request.value(QStringLiteral("uuid")).toString();
    const QString answer = frame(kCheck + QStringLiteral("_back"), uuid, id);
    QPointer<QWebSocket> socket = c->socket;
    QPointer<QTcpSocket> tcp = c->tcp;
    const bool hangAfter = s.stopReadingAfterCheck;
    QTimer::singleShot(s.checkDelayMs, this, [this, socket, tcp, answer, hangAfter] {
        if (!socket || m_blocked)
            return;
        socket->sendTextMessage(answer);
        socket->flush();
        if (hangAfter && tcp)
            stopReading(tcp);
    });
}

void SubCameraSimulator::answerRequest(Connection* c, const QVariantMap& request)
{
    using Reply = SubConnectionScript::Reply;
    const SubConnectionScript& s = c->script;
    if (s.reply == Reply::Silent)
        return;
    QString topic = request.value(QStringLiteral("topic")).toString();
    topic.chop(5);  // "(rpc)"
    topic += QStringLiteral("(rpc_back)");
    QString uuid = request.value(QStringLiteral("uuid")).toString();
    QVariantMap unit{{QStringLiteral("is_valid"), true},
                     {QStringLiteral("detect_model"), 0},
                     {QStringLiteral("detect"), 0},
                     {QStringLiteral("result"), s.reply != Reply::Ng},
                     {QStringLiteral("calculate_time"), 5},
                     {QStringLiteral("calculate_times"), 1},
                     {QStringLiteral("collect_time"), QDateTime::currentMSecsSinceEpoch()}};
    if (s.reply == Reply::Empty)
        unit.clear();
    if (s.reply == Reply::WrongUuid)
        uuid += QStringLiteral("-other");
    QStringList answers{frame(topic, uuid, m_config.ownId, unit)};
    if (s.reply == Reply::Twice)
        answers.append(answers.first());
    if (s.reply == Reply::Junk)
        answers = QStringList{QStringLiteral("{\"topic\":")};
    answers = s.framesBeforeReply + answers;
    QPointer<QWebSocket> socket = c->socket;
    QTimer::singleShot(s.replyDelayMs, this, [this, socket, answers] {
        for (const QString& a : answers) {
            if (socket && !m_blocked)
                socket->sendTextMessage(a);
        }
    });
}

void SubCameraSimulator::onHttpConnection()
{
    while (m_http->hasPendingConnections()) {
        QTcpSocket* s = m_http->nextPendingConnection();
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        connect(s, &QTcpSocket::readyRead, this, [this, s] {
            if (!s->canReadLine())
                return;
            const QList<QByteArray> words = s->readLine().trimmed().split(' ');
            if (words.size() < 2)
                return;
            const QString path = QString::fromLatin1(words.at(1));
            if (words.at(0) == "GET") {
                QMutexLocker lock(&m_mutex);
                m_gets.append(path);
                m_getTimes.append(steadyMs());
            }
            const QByteArray body = "{\"code\":0,\"msg\":\"OK\",\"result\":{}}";
            s->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
            s->disconnectFromHost();
            if (path == QStringLiteral("/dide/debug/restart_rpc_service") && !m_blocked) {
                // As a real sub camera: its link server closes every
                // connection and listens again.
                QTimer::singleShot(0, this, [this] {
                    die();
                    comeBack();
                });
            }
        });
    }
}

QString SubCameraSimulator::errorString() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

int SubCameraSimulator::connections() const
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

int SubCameraSimulator::openConnections() const
{
    // m_open is the simulator thread's; its size is only an indication here.
    return m_open.size();
}

QList<SubCameraSimulator::Frame> SubCameraSimulator::frames() const
{
    QMutexLocker lock(&m_mutex);
    return m_frames;
}

int SubCameraSimulator::checkRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_checks;
}

QStringList SubCameraSimulator::httpGets() const
{
    QMutexLocker lock(&m_mutex);
    return m_gets;
}

QList<qint64> SubCameraSimulator::httpGetTimes() const
{
    QMutexLocker lock(&m_mutex);
    return m_getTimes;
}

QList<int> SubCameraSimulator::closeCodes() const
{
    QMutexLocker lock(&m_mutex);
    return m_closeCodes;
}

SimPeerClient::SimPeerClient(QObject* parent)
    : QObject(parent), m_socket(std::make_unique<QWebSocket>(QString(), QWebSocketProtocol::VersionLatest))
{
    connect(m_socket.get(), &QWebSocket::textMessageReceived, this, [this](const QString& t) { m_received.append(t); });
    connect(m_socket.get(), &QWebSocket::disconnected, this, [this] {
        m_closed = true;
        m_closeCode = int(m_socket->closeCode());
    });
}

SimPeerClient::~SimPeerClient()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

bool SimPeerClient::open(const QString& address, quint16 port, int timeoutMs)
{
    m_socket->open(QUrl(QStringLiteral("ws://%1:%2").arg(address).arg(port)));
    return SubCameraSimulator::waitFor([this] { return connected() || m_closed; }, timeoutMs) && connected();
}

bool SimPeerClient::connected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

qint64 SimPeerClient::send(const QString& text)
{
    return m_socket->sendTextMessage(text);
}

qint64 SimPeerClient::sendBinary(const QByteArray& bytes)
{
    return m_socket->sendBinaryMessage(bytes);
}
