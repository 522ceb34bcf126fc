#include "net/udpreactor.h"

#include "net/netlog.h"
#include "net/sci_execobj_recv.h"
#include "platform/system/monotonicclock.h"

#include <QEventLoop>
#include <QNetworkDatagram>
#include <QSemaphore>
#include <QTimer>

using platform::MonotonicClock;

namespace CLSC {

namespace {
NetLogLimiter g_dropLimiter;
}

UdpReactor::UdpReactor(QObject* parent) : QObject(parent), socket_pool(std::make_shared<QThreadPool>())
{
    socket_pool->setMaxThreadCount(1);
    socket_pool->setExpiryTimeout(-1);
    registerNetMetaTypes();
    qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
}

UdpReactor::~UdpReactor()
{
    // The task runs on the pool with this object's socket: end it first.
    deinitialize();
}

bool UdpReactor::isRunning() const
{
    return socket_pool->activeThreadCount() > 0;
}

bool UdpReactor::getTimerAlived() const
{
    const qint64 stamp = alive_stamp.load();
    return stamp >= 0 && MonotonicClock::nowMs() - stamp < 2000;
}

bool UdpReactor::initialize()
{
    if (isRunning())
        return false;
    QSemaphore reported;
    socket_pool->start([this, &reported] {
        QEventLoop loop;
        connect(this, &UdpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (!onStart()) {
            reported.release();
            return;
        }
        alive_stamp = MonotonicClock::nowMs();
        QTimer alive;
        connect(&alive, &QTimer::timeout, &loop, [this] {
            alive_stamp = MonotonicClock::nowMs();
            dropSilent();
        });
        alive.start(1000);
        reported.release();
        loop.exec();
        alive.stop();
        disconnect(this, &UdpReactor::readyToClose, &loop, nullptr);
        onFinish();
    });
    reported.acquire();
    return isRunning();
}

void UdpReactor::deinitialize()
{
    if (!isRunning())
        return;
    emit readyToClose();
    socket_pool->waitForDone();
}

bool UdpReactor::reAction()
{
    deinitialize();
    return initialize();
}

bool UdpReactor::onStart()
{
    socket = std::make_shared<QUdpSocket>();
    QUdpSocket* s = socket.get();
    connect(s, &QUdpSocket::readyRead, s, [this] { readDatagrams(); }, Qt::DirectConnection);
    connect(this, &UdpReactor::sigSendMsg, s, [this, s](const QByteArray& bytes, const QString& host, int port) {
        const qint64 n = s->writeDatagram(bytes, QHostAddress(host), quint16(port));
        m_localPort = s->localPort();
        if (n != bytes.size())
            qInfo().noquote() << "udp heartsend error:" << n << bytes.size() << s->localPort();
    });
    return true;
}

void UdpReactor::onFinish()
{
    socket.reset();
    m_buffers.clear();
    m_partials = 0;
    m_localPort = 0;
}

bool UdpReactor::sendMsg(const QByteArray& bytes, QString host, int port, bool reconnect)
{
    if (!isRunning() || reconnect)
        reAction();
    emit sigSendMsg(bytes, host, port);
    return true;
}

void UdpReactor::readDatagrams()
{
    while (socket && socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = socket->receiveDatagram();
        QString address = d.senderAddress().toString();
        address.remove(QStringLiteral("::ffff:"));
        const quint16 port = quint16(d.senderPort());
        Pending& p = m_buffers[QStringLiteral("%1:%2").arg(address).arg(port)];
        p.bytes += d.data();
        p.lastMs = MonotonicClock::nowMs();
        reassemble(address, port, p);
    }
    int partials = 0;
    for (const Pending& p : qAsConst(m_buffers))
        partials += p.bytes.isEmpty() ? 0 : 1;
    m_partials = partials;
}

void UdpReactor::reassemble(const QString& address, quint16 port, Pending& p)
{
    // Until no progress: a datagram may carry several messages.
    for (;;) {
        const HttpCut cut = httpread::cut(p.bytes);
        if (cut.kind == HttpCut::Incomplete)
            return;
        if (cut.kind == HttpCut::Bad) {
            int held = 0;
            if (g_dropLimiter.allow(&held)) {
                qCWarning(level_1).noquote() << "[UDP_HTTP] from" << address << port << "dropped:" << cut.why
                                             << "held back" << held;
            }
            if (cut.fatal) {
                p.bytes.clear();
                return;
            }
            p.bytes.remove(0, cut.used);
            continue;
        }
        const HttpRead read = readHttpMessage(p.bytes.left(cut.used));
        p.bytes.remove(0, cut.used);
        if (!read.decoded)
            continue;  // logged by the reader
        CTask_FormData form = read.form;
        form.peer_address = address;
        form.peer_port = port;
        if (!form.url.isEmpty())
            emit sigRequest(form);
        else
            emit sigResponse(form);
    }
}

void UdpReactor::dropSilent()
{
    const qint64 now = MonotonicClock::nowMs();
    for (auto it = m_buffers.begin(); it != m_buffers.end();) {
        if (now - it->lastMs > kSilenceDropMs) {
            if (!it->bytes.isEmpty()) {
                qCWarning(level_1).noquote() << "[UDP_HTTP] partial message from" << it.key() << "dropped after"
                                             << kSilenceDropMs << "ms of silence," << it->bytes.size() << "bytes";
            }
            it = m_buffers.erase(it);
        } else {
            ++it;
        }
    }
    int partials = 0;
    for (const Pending& p : qAsConst(m_buffers))
        partials += p.bytes.isEmpty() ? 0 : 1;
    m_partials = partials;
}

}  // namespace CLSC
