#include "group/campairs_client.h"

#include "platform/system/monotonicclock.h"

#include <QEventLoop>
#include <QMutexLocker>

namespace {
const QString kCheckTopic = QStringLiteral("/dide/subcamera/checkid");
const QString kCheckBackTopic = QStringLiteral("/dide/subcamera/checkid_back");
}  // namespace

CamPairs_Client::CamPairs_Client(const QString& ip, quint16 port, QObject* parent)
    : QWebSocket(QString(), QWebSocketProtocol::Version13, parent), m_ping(this)
{
    registerGroupMetaTypes();
    _dst_session.address = ip;
    _dst_session.port = port;
    setMaxAllowedIncomingMessageSize(1024 * 1024);
    setMaxAllowedIncomingFrameSize(1024 * 1024);
    connect(this, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
        touch();
        emit sigRecvMessage(wsbytes_2_srpcform(text, nullptr));  // refusals are logged by the link
    });
    connect(this, &QWebSocket::connected, this, [this] { sendFramesAtOnce(this); });
    connect(this, &QWebSocket::disconnected, this, [this] { m_ping.stop(); });
    connect(this, &QWebSocket::pong, this, [this](quint64, const QByteArray&) { touch(); });
    connect(&m_ping, &QTimer::timeout, this, [this] { ping(QByteArray()); });
}

CamPairs_Client::~CamPairs_Client()
{
    disconnect();
    m_ping.stop();
    abort();
    close(QWebSocketProtocol::CloseCodeNormal, QString());
}

void CamPairs_Client::set_dst_deviceid(const QString& id)
{
    QMutexLocker lock(&m_idMutex);
    _dst_deviceid = id;
}

QString CamPairs_Client::get_dst_deviceid() const
{
    QMutexLocker lock(&m_idMutex);
    return _dst_deviceid;
}

void CamPairs_Client::set_dst_session(const Skt_Session& session)
{
    QMutexLocker lock(&m_sessionMutex);
    _dst_session = session;
}

Skt_Session CamPairs_Client::get_dst_session() const
{
    QMutexLocker lock(&m_sessionMutex);
    return _dst_session;
}

void CamPairs_Client::set_interface(const SRPC_WS_Interface& iface)
{
    QMutexLocker lock(&m_interfaceMutex);
    _interface = iface;
}

SRPC_WS_Interface CamPairs_Client::get_interface() const
{
    QMutexLocker lock(&m_interfaceMutex);
    return _interface;
}

QUrl CamPairs_Client::url() const
{
    const Skt_Session s = get_dst_session();
    return QUrl(QStringLiteral("ws://%1:%2").arg(s.address).arg(s.port));
}

void CamPairs_Client::onConnecting()
{
    open(url());
    m_ping.setInterval(kPingIntervalMs);
}

void CamPairs_Client::touch()
{
    m_lastAliveMs = platform::MonotonicClock::nowMs();
}

qint64 CamPairs_Client::ageMs() const
{
    const qint64 stamp = m_lastAliveMs.load();
    return stamp < 0 ? -1 : platform::MonotonicClock::ageMs(stamp);
}

bool CamPairs_Client::isCnted() const
{
    if (state() != QAbstractSocket::ConnectedState)
        return false;
    const qint64 age = ageMs();
    return age >= 0 && age / 10 <= kAliveTicks;
}

void CamPairs_Client::markPaired()
{
    m_paired = true;
    m_ping.start(kPingIntervalMs);
    touch();
}

bool CamPairs_Client::ckeck_dstid_sync(int ms)
{
    QEventLoop loop;
    const QString expected = get_dst_deviceid();
    connect(this, &CamPairs_Client::sigRecvMessage, &loop, [&loop, expected](const SRPC_WS_FormData& f) -> int {
        if (!f.valid || f.topic != kCheckBackTopic)
            return 0;
        loop.exit(f.device_id == expected ? 0 : -2);
        return 0;
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, [&loop] { loop.exit(-1); });
    timeout.start(ms);

    SRPC_WS_FormData request;
    request.valid = true;
    request.topic = kCheckTopic;
    request.device_id = get_interface().own_id;
    sendTextMessage(srpcform_2_wsbytes(request));
    return loop.exec() == 0;
}
