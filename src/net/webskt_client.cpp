#include "net/webskt_client.h"

#include "platform/system/monotonicclock.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

namespace {
std::atomic<quint64> g_nextConnection{1};
}

WebSkt_Client::WebSkt_Client(QObject* parent, int connectWaitMs) : WebSkt_Core(parent), m_connectWaitMs(connectWaitMs) {}

WebSkt_Client::~WebSkt_Client()
{
    deinitialize();
}

bool WebSkt_Client::isCnted() const
{
    const qint64 last = m_lastLifeMs.load();
    return last >= 0 && platform::MonotonicClock::nowMs() - last < 2000;
}

bool WebSkt_Client::onStart()
{
    m_socket = std::make_shared<QWebSocket>(QString(), QWebSocketProtocol::Version13);
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessage);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessage);
    m_keepAlive = new QTimer;
    m_connectionId = g_nextConnection++;
    m_lastLifeMs = -1;
    QWebSocket* s = m_socket.get();
    QEventLoop wait;
    bool connected = false;
    connect(m_keepAlive, &QTimer::timeout, s, [s] { s->ping(QByteArrayLiteral("WebSkt_Client")); });
    connect(s, &QWebSocket::pong, s, [this] { m_lastLifeMs = platform::MonotonicClock::nowMs(); });
    connect(s, &QWebSocket::textMessageReceived, s, [this](const QString& text) {
        CTask_FormData_WebSkt_Json m = analyseBuffer_Setup1_Json(text);
        if (!m.valid)
            return;
        m.socket = m_connectionId;
        emit sig_recv_message(m);
    });
    connect(s, &QWebSocket::connected, s, [this, s, &wait, &connected] {
        qInfo().noquote() << "WebSkt_Client connected:" << s->peerAddress().toString();
        m_lastLifeMs = platform::MonotonicClock::nowMs();
        m_keepAlive->start(900);
        connected = true;
        wait.quit();
    });
    connect(this, &WebSkt_Core::sig_send_message, s, [this, s](CTask_FormData_WebSkt_Json m) {
        m.socket = m_connectionId;
        if (s->sendTextMessage(serialize_Setup2_Json(m)) <= 0)
            qWarning().noquote() << "WebSkt_Client send fail!";
    });
    const QString host = m_address.toString().remove(QStringLiteral("::ffff:"));
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &wait, &QEventLoop::quit);
    timeout.start(m_connectWaitMs);
    s->open(QUrl(QStringLiteral("ws://%1:%2").arg(host).arg(m_port)));
    if (!connected)
        wait.exec();
    qInfo().noquote() << "WebSkt_Client timer_connect_timeout.isActive()" << (timeout.isActive() ? "true" : "false");
    // The connected handler refers to this wait: no later connection may reach it.
    disconnect(s, &QWebSocket::connected, s, nullptr);
    return connected;
}

void WebSkt_Client::onFinish()
{
    if (m_keepAlive) {
        delete m_keepAlive;  // on its own thread, whose loop has ended
        m_keepAlive = nullptr;
    }
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    m_lastLifeMs = -1;
}
