#include "net/webskt_server.h"

#include "platform/system/monotonicclock.h"

#include <QWebSocket>
#include <QtDebug>

WebSkt_Server::WebSkt_Server(QObject* parent) : WebSkt_Core(parent) {}

WebSkt_Server::~WebSkt_Server()
{
    deinitialize();
}

bool WebSkt_Server::isCnted() const
{
    QReadLocker lock(&m_lock);
    return !m_connections.isEmpty();
}

int WebSkt_Server::clientCount() const
{
    QReadLocker lock(&m_lock);
    return m_connections.size();
}

bool WebSkt_Server::onStart()
{
    m_server = std::make_shared<QWebSocketServer>(QStringLiteral("websocket"), QWebSocketServer::NonSecureMode);
    connect(m_server.get(), &QWebSocketServer::newConnection, m_server.get(), [this] { onNewConnection(); });
    connect(this, &WebSkt_Core::sig_send_message, m_server.get(),
            [this](const CTask_FormData_WebSkt_Json& m) { send(m); });
    if (!m_server->listen(m_address, m_port)) {
        qWarning().noquote() << "websocket listen fail" << m_server->errorString();
        return false;
    }
    m_boundPort = m_server->serverPort();
    return true;
}

void WebSkt_Server::onFinish()
{
    QList<QWebSocket*> open;
    {
        QWriteLocker lock(&m_lock);
        for (const Connection& c : qAsConst(m_connections))
            open.append(c.socket);
        m_connections.clear();
    }
    // The accepted sockets belong to us, not to the listening server.
    for (QWebSocket* s : qAsConst(open)) {
        QObject::disconnect(s, nullptr, nullptr, nullptr);
        s->abort();
        delete s;
    }
    if (m_server)
        m_server->close();
    m_server.reset();
    m_boundPort = 0;
}

void WebSkt_Server::onNewConnection()
{
    while (QWebSocket* s = m_server->nextPendingConnection()) {
        qInfo().noquote() << "WebSkt_Server has new client connected!";
        s->setMaxAllowedIncomingMessageSize(kMaxMessage);
        s->setMaxAllowedIncomingFrameSize(kMaxMessage);
        quint64 id;
        {
            QWriteLocker lock(&m_lock);
            id = m_nextId++;
            m_connections.insert(id, Connection{s, platform::MonotonicClock::nowMs()});
        }
        connect(s, &QWebSocket::textMessageReceived, s, [this, id](const QString& t) { onText(id, t); });
        connect(s, &QWebSocket::disconnected, s, [this, id] { onDisconnected(id); });
    }
}

void WebSkt_Server::onText(quint64 id, const QString& text)
{
    {
        QWriteLocker lock(&m_lock);
        auto it = m_connections.find(id);
        if (it != m_connections.end())
            it->lastMessageMs = platform::MonotonicClock::nowMs();
    }
    CTask_FormData_WebSkt_Json m = analyseBuffer_Setup1_Json(text);
    if (!m.valid)
        return;
    m.socket = id;
    // Outside the lock: a slot connected directly may send its answer now.
    emit sig_recv_message(m);
}

void WebSkt_Server::onDisconnected(quint64 id)
{
    QWebSocket* s = nullptr;
    {
        QWriteLocker lock(&m_lock);
        s = m_connections.take(id).socket;
    }
    if (s) {
        qInfo().noquote() << "WebSkt_Server had one client disconnected:" << s->peerAddress().toString();
        s->deleteLater();
    }
}

void WebSkt_Server::send(const CTask_FormData_WebSkt_Json& message)
{
    QList<QWebSocket*> targets;
    {
        QReadLocker lock(&m_lock);
        if (m_connections.contains(message.socket)) {
            targets << m_connections.value(message.socket).socket;
        } else {
            for (const Connection& c : m_connections)
                targets << c.socket;
        }
    }
    const QString text = serialize_Setup2_Json(message);
    for (QWebSocket* s : targets) {
        if (s->sendTextMessage(text) <= 0)
            qWarning().noquote() << "QWebSocket send fail!";
    }
}
