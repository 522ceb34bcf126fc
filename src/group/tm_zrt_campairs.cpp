#include "group/tm_zrt_campairs.h"

#include "foundation/logmanager.h"
#include "group/campairs_client.h"
#include "group/campairs_server.h"
#include "platform/system/monotonicclock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>
#include <QReadLocker>
#include <QWebSocket>
#include <QWriteLocker>

#include <exception>

namespace {
const QString kCheckTopic = QStringLiteral("/dide/subcamera/checkid");
const QString kCheckBackTopic = QStringLiteral("/dide/subcamera/checkid_back");
const QString kRpc = QStringLiteral("(rpc)");
const QString kRpcBack = QStringLiteral("(rpc_back)");
constexpr qint64 kRefusalLogEveryMs = 1000;

QString peerOf(const SRPC_WS_FormData& form)
{
    auto* socket = qobject_cast<QWebSocket*>(form.session.data());
    return socket ? QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort())
                  : QStringLiteral("(unknown)");
}
}  // namespace

TM_ZRT_CamPairs::TM_ZRT_CamPairs(QObject* parent, bool runHeartbeat) : CamPairsLink(parent)
{
    registerGroupMetaTypes();
    m_interface.main_value = -1;
    m_interface.is_main = false;
    m_handlers.insert(kCheckTopic, [this](const SRPC_WS_FormData& f) { doRecvC2c_CheckID(f); });

    m_heartbeat = new QTimer(this);
    m_heartbeat->setInterval(kHeartbeatMs);
    connect(m_heartbeat, &QTimer::timeout, this, &TM_ZRT_CamPairs::heartbeatTick);
    m_timerAliveMs = platform::MonotonicClock::nowMs();
    if (runHeartbeat)
        m_heartbeat->start();

    m_thread.setObjectName(QStringLiteral("campairs"));
    moveToThread(&m_thread);
    m_thread.start();
}

TM_ZRT_CamPairs::~TM_ZRT_CamPairs()
{
    // Everything of the link is freed on the link thread; then the object
    // comes back to the destroying thread, where QObject frees the rest.
    QThread* here = QThread::currentThread();
    auto teardown = [this, here] {
        m_heartbeat->stop();
        {
            QWriteLocker lock(&m_clientLock);
            _mapws_subclients.clear();
        }
        m_retired.clear();
        if (m_server) {
            m_server->disconnect();
            m_server->ready2close();
            m_server.reset();
        }
        // Let the deferred deletions of sockets and clients run here.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        moveToThread(here);
    };
    if (thread() == here)
        teardown();
    else
        QMetaObject::invokeMethod(this, teardown, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    qInfo() << "--- Destory TM_ZRT_CamPairs ---" << this;
}

void TM_ZRT_CamPairs::set_interface(SRPC_WS_Interface iface)
{
    QMutexLocker lock(&m_interfaceMutex);
    m_interface = iface;
}

SRPC_WS_Interface TM_ZRT_CamPairs::get_interface() const
{
    QMutexLocker lock(&m_interfaceMutex);
    return m_interface;
}

bool TM_ZRT_CamPairs::getIsCnetd() const
{
    if (!get_interface().is_main)
        return true;
    return m_allConnected.load() == 1;
}

bool TM_ZRT_CamPairs::getTimerAlived() const
{
    const qint64 stamp = m_timerAliveMs.load();
    return stamp >= 0 && platform::MonotonicClock::ageMs(stamp) / 10 <= kTimerAliveTicks;
}

QMap<QString, CamPairs_Client*> TM_ZRT_CamPairs::clients() const
{
    QReadLocker lock(&m_clientLock);
    QMap<QString, CamPairs_Client*> out;
    for (auto it = _mapws_subclients.cbegin(); it != _mapws_subclients.cend(); ++it)
        out.insert(it.key(), it.value().get());
    return out;
}

bool TM_ZRT_CamPairs::InitWsServer(bool start)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "InitWsServer", Qt::QueuedConnection, Q_ARG(bool, start));
        return false;
    }
    if (m_server) {
        m_server->disconnect();
        m_server->ready2close();
        m_server.reset();
    }
    if (!start)
        return true;
    m_server = std::make_shared<CamPairs_Server>(kPort, this);
    connect(m_server.get(), &CamPairs_Server::sigRecvMessage, this, &TM_ZRT_CamPairs::onServerFrame);
    connect(m_server.get(), &QWebSocketServer::acceptError, this, [this](QAbstractSocket::SocketError e) {
        qCInfo(level_1).noquote() << "_ws_server acceptError ERROR:" << e << (m_server ? m_server->errorString() : QString());
    });
    connect(m_server.get(), &QWebSocketServer::serverError, this, [this](QWebSocketProtocol::CloseCode c) {
        qCInfo(level_1).noquote() << "_ws_server serverError ERROR:" << c << (m_server ? m_server->errorString() : QString());
    });
    return m_server->listening();
}

void TM_ZRT_CamPairs::refuse(const SRPC_WS_FormData& form, const QString& why)
{
    const qint64 now = platform::MonotonicClock::nowMs();
    if (m_lastRefusalLogMs >= 0 && now - m_lastRefusalLogMs < kRefusalLogEveryMs) {
        ++m_refusalsUnlogged;
        return;
    }
    qCWarning(level_1).noquote() << "[TM_CAMS] refused frame from" << peerOf(form) << "device_id" << form.device_id
                                 << "topic" << form.topic.left(80) << ":" << why
                                 << QStringLiteral("(%1 more refused since the last report)").arg(m_refusalsUnlogged);
    m_lastRefusalLogMs = now;
    m_refusalsUnlogged = 0;
}

void TM_ZRT_CamPairs::onServerFrame(const SRPC_WS_FormData& form)
{
    const SRPC_WS_Interface iface = get_interface();
    QString why;
    if (!form.valid || form.topic.isEmpty())
        why = QStringLiteral("not a frame");
    else if (iface.is_main)
        why = QStringLiteral("this camera is the main camera");
    else if (iface.main_id.isEmpty())
        why = QStringLiteral("no main camera configured");
    else if (form.device_id != iface.main_id)
        why = QStringLiteral("the sender is not the configured main camera");
    else if (form.topic != kCheckTopic && !form.topic.endsWith(kRpc))
        why = QStringLiteral("not a request topic");
    if (!why.isEmpty()) {
        refuse(form, why);
        return;
    }
    if (m_server) {
        if (auto* socket = qobject_cast<QWebSocket*>(form.session.data()))
            m_server->markTrusted(socket);
    }
    const auto handler = m_handlers.constFind(form.topic);
    if (handler != m_handlers.constEnd()) {
        handler.value()(form);
        return;
    }
    emit sig_recvC2c_rpcmeet_part1(form);
}

void TM_ZRT_CamPairs::doRecvC2c_CheckID(SRPC_WS_FormData formdata)
{
    const SRPC_WS_Interface iface = get_interface();
    if (iface.main_id.isEmpty() || formdata.device_id != iface.main_id)
        return;
    auto* socket = qobject_cast<QWebSocket*>(formdata.session.data());
    if (!socket)
        return;
    SRPC_WS_FormData answer;
    answer.valid = true;
    answer.topic = formdata.topic + QStringLiteral("_back");
    answer.uuid = formdata.uuid;
    answer.device_id = iface.own_id;
    socket->sendTextMessage(srpcform_2_wsbytes(answer));
    qInfo() << "WSMN_Inline_Server::doRecvC2c_CheckID";
}

int TM_ZRT_CamPairs::SpreadMessage(SRPC_WS_FormData formdata)
{
    const SRPC_WS_Interface iface = get_interface();
    if (!iface.is_main)
        return -1;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SpreadMessage", Qt::QueuedConnection, Q_ARG(SRPC_WS_FormData, formdata));
        return 0;
    }
    QReadLocker lock(&m_clientLock);
    formdata.topic += kRpc;
    formdata.device_id = iface.own_id;
    const QString text = srpcform_2_wsbytes(formdata);
    for (const ClientPtr& c : qAsConst(_mapws_subclients))
        c->sendTextMessage(text);
    qInfo().noquote() << "[TM_CAMS][SpreadMessage]" << _mapws_subclients.keys().join(QLatin1Char(',')) << formdata.topic;
    return 0;
}

int TM_ZRT_CamPairs::SendMessage_RpcBack(SRPC_WS_FormData formdata)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "SendMessage_RpcBack", Qt::QueuedConnection,
                                  Q_ARG(SRPC_WS_FormData, formdata));
        return 0;
    }
    auto* socket = qobject_cast<QWebSocket*>(formdata.session.data());
    if (!socket) {
        qCWarning(level_1).noquote() << "[TM_CAMS][SendMessage_RpcBack] the request's connection is gone, reply to"
                                     << formdata.topic << formdata.uuid << "dropped";
        return -1;
    }
    formdata.device_id = get_interface().own_id;
    formdata.topic += kRpcBack;
    return int(socket->sendTextMessage(srpcform_2_wsbytes(formdata)));
}

void TM_ZRT_CamPairs::heartbeatTick()
{
    m_timerAliveMs = platform::MonotonicClock::nowMs();
    if (m_server)
        m_server->closeIdleSockets(kUnpairedGraceMs);
    if (!get_interface().is_main) {
        QMap<QString, ClientPtr> old;
        {
            QWriteLocker lock(&m_clientLock);
            old.swap(_mapws_subclients);
        }
        for (const ClientPtr& c : qAsConst(old))
            dropClient(c);
        return;
    }
    keep_heartbeat_oversubcams();
}

QStringList TM_ZRT_CamPairs::getBlockSubCamera()
{
    const SRPC_WS_Interface iface = get_interface();
    QStringList blocked;
    QList<ClientPtr> removed;
    {
        QWriteLocker lock(&m_clientLock);  // removes entries below
        for (const DeviceNetInfo& sub : iface.subs) {
            const ClientPtr c = _mapws_subclients.value(sub.uuid);
            if (!c || c->get_dst_session().address != sub.address || !c->isCnted())
                blocked.append(sub.uuid);
        }
        for (auto it = _mapws_subclients.begin(); it != _mapws_subclients.end();) {
            if (iface.getSubIndex(it.key()) < 0) {
                qInfo().noquote() << QStringLiteral("<%1>:").arg(QStringLiteral("getBlockSubCamera"))
                                  << "--- no found _mapws_subclients with GET_SUBCAMS ---" << it.key();
                removed.append(it.value());
                it = _mapws_subclients.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const ClientPtr& c : qAsConst(removed))
        dropClient(c);
    return blocked;
}

void TM_ZRT_CamPairs::keep_heartbeat_oversubcams()
{
    const QStringList blocked = getBlockSubCamera();
    if (blocked.isEmpty()) {
        m_allConnected = 1;
        return;
    }
    qInfo().noquote() << "[TM_CAMS][list_blocksub]" << "had sub_cams no connected! ->" << blocked.join(QLatin1Char(','));
    m_allConnected = 0;
    emit sig_found_subcams_broke();
    for (const QString& id : blocked) {
        auto it = reconnect_times.find(id);
        if (it == reconnect_times.end()) {
            reconnect_times.insert(id, 0);
        } else if (*it < kRestartAfterTicks) {
            ++*it;
        } else {
            emit sig_restartrpc_subcams(id);
            *it = 0;
        }
    }
    const SRPC_WS_Interface iface = get_interface();
    for (const DeviceNetInfo& sub : iface.subs) {
        if (blocked.contains(sub.uuid))
            storeClient(sub.uuid, makeClient(sub, iface));
    }
}

TM_ZRT_CamPairs::ClientPtr TM_ZRT_CamPairs::makeClient(const DeviceNetInfo& sub, const SRPC_WS_Interface& iface)
{
    // Freed later, never under a running handler of its own.
    ClientPtr client(new CamPairs_Client(sub.address, quint16(kPort), this), [](CamPairs_Client* c) {
        c->disconnect();
        c->pingTimer()->stop();
        c->abort();
        c->deleteLater();
    });
    client->set_dst_deviceid(sub.uuid);
    client->set_interface(iface);
    QPointer<CamPairs_Client> guard(client.get());
    connect(client.get(), &QWebSocket::connected, this, [this, guard] { onClientConnected(guard); });
    // Frames go on only when they carry this client's sub camera's id.
    connect(client.get(), &CamPairs_Client::sigRecvMessage, this,
            [this, guard](const SRPC_WS_FormData& f) -> int {
                // The pairing check's answer is the check's own (the client
                // reads it); it is no work-event reply.
                if (!guard || (f.valid && f.topic == kCheckBackTopic))
                    return 0;
                if (!f.valid || f.device_id != guard->get_dst_deviceid()) {
                    SRPC_WS_FormData shown = f;
                    shown.session = guard.data();  // for the peer's address in the log
                    refuse(shown, f.valid ? QStringLiteral("not from this client's sub camera")
                                          : QStringLiteral("not a frame"));
                    return 0;
                }
                return emit sig_recvc2C_rpcmeet_part2(f);
            },
            Qt::DirectConnection);
    client->onConnecting();
    return client;
}

void TM_ZRT_CamPairs::storeClient(const QString& id, ClientPtr client)
{
    ClientPtr old;
    {
        QWriteLocker lock(&m_clientLock);
        old = _mapws_subclients.value(id);
        _mapws_subclients.insert(id, std::move(client));
    }
    if (old)
        dropClient(old);
}

void TM_ZRT_CamPairs::dropClient(ClientPtr client)
{
    if (client.get() == m_checking)
        m_retired.append(std::move(client));  // its check still runs: freed after it
}

void TM_ZRT_CamPairs::onClientConnected(QPointer<CamPairs_Client> client)
{
    if (!client)
        return;
    if (running) {
        qInfo() << "[TM_CAMS][ws_client] connected!" << "(ckeck_dstid_sync):" << "skipped, another check runs";
        return;
    }
    running = true;
    m_checking = client.data();
    bool ok = false;
    try {
        ok = client->ckeck_dstid_sync(kCheckWaitMs);
        if (client) {
            if (ok) {
                client->markPaired();
            } else {
                qInfo() << "QWebSocket::connected check_ret:" << client->state();
                if (client->state() == QAbstractSocket::ConnectingState ||
                    client->state() == QAbstractSocket::ConnectedState) {
                    client->disconnect();
                    client->close(QWebSocketProtocol::CloseCodeNormal, QString());
                }
            }
        }
    } catch (const std::exception& e) {
        qWarning() << "Caught an exception: " << e.what();
    }
    running = false;
    m_checking = nullptr;
    if (ok)
        ++m_checksPassed;
    ++m_checksDone;
    qInfo() << "[TM_CAMS][ws_client]" << "connected!" << "(ckeck_dstid_sync):" << (ok ? "true" : "false")
            << client.data();
    if (!m_retired.isEmpty()) {
        // Freed from the outer event loop, not from under the client's own signal.
        QTimer::singleShot(0, this, [this] {
            if (!running)
                m_retired.clear();
        });
    }
}
