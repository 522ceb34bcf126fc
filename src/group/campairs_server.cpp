#include "group/campairs_server.h"

#include "foundation/logmanager.h"
#include "platform/system/monotonicclock.h"

#include <QWebSocket>

#include <atomic>

namespace {
std::atomic<int> g_liveSockets{0};

// Counts accepted socket objects while they exist.
class SocketCounter : public QObject {
public:
    explicit SocketCounter(QObject* parent) : QObject(parent) { ++g_liveSockets; }
    ~SocketCounter() override { --g_liveSockets; }
};
}  // namespace

CamPairs_Server::CamPairs_Server(int port, QObject* parent)
    : QWebSocketServer(QStringLiteral("ws_cams"), QWebSocketServer::NonSecureMode, parent), m_port(port)
{
    registerGroupMetaTypes();
    connect(this, &QWebSocketServer::newConnection, this, &CamPairs_Server::onNewConnection);
    if (!listen(QHostAddress::AnyIPv4, quint16(port))) {
        qCWarning(level_1).noquote() << "[CamPairs_Server] listen on port" << port << "failed:" << errorString();
    }
}

CamPairs_Server::~CamPairs_Server()
{
    // Sockets still listed (a server destroyed without ready2close) go with it.
    for (QWebSocket* s : qAsConst(m_sockets)) {
        s->disconnect();
        s->abort();
        delete s;
    }
    m_sockets.clear();
    close();
    qCInfo(level_1) << "CamPairs_Server close";
}

int CamPairs_Server::liveSocketObjects()
{
    return g_liveSockets.load();
}

void CamPairs_Server::onNewConnection()
{
    while (hasPendingConnections()) {
        QWebSocket* socket = nextPendingConnection();
        if (!socket)
            return;
        qInfo() << "[CamPairs_Server] has new client connected!";
        new SocketCounter(socket);
        sendFramesAtOnce(socket, this);
        socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        m_sockets.append(socket);
        m_state.insert(socket, Accepted{platform::MonotonicClock::nowMs(), false});
        connect(socket, &QWebSocket::textMessageReceived, socket, [this, socket](const QString& text) {
            // Not logged here: the link logs refusals at a limited rate.
            SRPC_WS_FormData form = wsbytes_2_srpcform(text, nullptr);
            form.session = socket;
            emit sigRecvMessage(form);
        });
        connect(socket, &QWebSocket::disconnected, socket, [this, socket] {
            qInfo().noquote() << "[CamPairs_Server] Client disconnected:" << socket->peerAddress().toString();
            m_sockets.removeOne(socket);
            m_state.remove(socket);
            socket->deleteLater();
        });
    }
}

void CamPairs_Server::ready2close()
{
    disconnect();
    for (QWebSocket* s : qAsConst(m_sockets)) {
        s->disconnect();
        s->close(QWebSocketProtocol::CloseCodeNormal, QString());
        s->deleteLater();
    }
    m_sockets.clear();
    m_state.clear();
}

void CamPairs_Server::markTrusted(QWebSocket* socket)
{
    auto it = m_state.find(socket);
    if (it != m_state.end())
        it->trusted = true;
}

int CamPairs_Server::closeIdleSockets(qint64 graceMs)
{
    int closed = 0;
    const QList<QWebSocket*> sockets = m_sockets;
    for (QWebSocket* s : sockets) {
        const Accepted a = m_state.value(s);
        if (a.trusted || platform::MonotonicClock::nowMs() - a.acceptedMs <= graceMs)
            continue;
        qCWarning(level_1).noquote() << "[CamPairs_Server] closing" << s->peerAddress().toString()
                                     << ": no frame of the main camera within" << graceMs << "ms";
        m_state[s].trusted = true;  // closed once
        s->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("not paired"));
        ++closed;
    }
    return closed;
}
