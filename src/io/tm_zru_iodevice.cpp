#include "io/tm_zru_iodevice.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "io/ioworkinfo.h"
#include "platform/system/monotonicclock.h"

#include <QDebug>
#include <QEventLoop>
#include <QHostAddress>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <atomic>
#include <limits>
#include <memory>

using namespace iomodule;

namespace {

constexpr qint64 kNever = std::numeric_limits<qint64>::min();
constexpr qint64 kDiscoveryLogEveryMs = 10000;
constexpr qint64 kDropLogEveryMs = 1000;

// Process-wide: the last discovery line received and sent, and the last
// line about a dropped message.
std::atomic<qint64> g_lastDiscoveryRecvLog{kNever};
std::atomic<qint64> g_lastDiscoverySendLog{kNever};
std::atomic<qint64> g_lastDropLog{kNever};
std::atomic<int> g_dropsNotLogged{0};
// The IO word of the previous output frame.
std::atomic<int> g_previousOutputBits{0};

// True at most once per `everyMs` for the same stamp.
bool due(std::atomic<qint64>& last, qint64 everyMs)
{
    const qint64 now = platform::MonotonicClock::nowMs();
    qint64 seen = last.load();
    while (seen == kNever || now - seen >= everyMs) {
        if (last.compare_exchange_weak(seen, now))
            return true;
    }
    return false;
}

QString plainAddress(const QHostAddress& a)
{
    return a.toString().remove(QStringLiteral("::ffff:"));
}

}  // namespace

TM_ZRU_IODevice::TM_ZRU_IODevice()
{
    qRegisterMetaType<Skt_Session>("Skt_Session");
    alived_limit = 2000;
    cnted_limit = 2000;
    qInfo() << "--- Create TM_ZRU_IODevice ---" << this;
}

TM_ZRU_IODevice::~TM_ZRU_IODevice()
{
    auto release = [this] {
        qDeleteAll(sockets);
        sockets.clear();
        delete send_socket;
        send_socket = nullptr;
    };
    if (reactorThread()->isRunning() && QThread::currentThread() != reactorThread())
        QMetaObject::invokeMethod(this, release, Qt::BlockingQueuedConnection);
    else
        release();
    shutdownThread();
    qInfo() << "--- Destroy TM_ZRU_IODevice ---" << this;
}

// ---- Sockets -------------------------------------------------------------------------

bool TM_ZRU_IODevice::Start()
{
    addListen(kPortCamera);
    addListen(kPortDiscovery);
    return true;
}

int TM_ZRU_IODevice::addListen(int port)
{
    if (!inOwnThread()) {
        QMetaObject::invokeMethod(this, [this, port] { addListen(port); }, Qt::QueuedConnection);
        return 0;
    }
    qInfo() << "[TM_IO][addListenPort]" << port;
    if (port <= 0 || port > 65535) {
        qCWarning(level_1) << "udpsocket bind fail" << port;
        return -1;
    }
    auto* socket = new QUdpSocket();
    if (!socket->bind(QHostAddress::Any, quint16(port))) {
        qCWarning(level_1) << "udpsocket bind fail" << port << socket->errorString();
        const char* lost = port == kPortCamera ? "the IO module and the camera group cannot reach the camera"
                                               : "discovery and configuration cannot reach the camera";
        consoleLine(QStringLiteral("[TM_IO] cannot bind UDP port %1 (%2): %3; the program runs on")
                        .arg(port)
                        .arg(socket->errorString(), QLatin1String(lost)));
        delete socket;
        return -1;
    }
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { readPending(socket); });
    sockets.append(socket);
    QMutexLocker lock(&ports_mutex);
    ports.append(port);
    return 1;
}

QList<int> TM_ZRU_IODevice::listeningPorts() const
{
    QMutexLocker lock(&ports_mutex);
    return ports;
}

void TM_ZRU_IODevice::readPending(QUdpSocket* socket)
{
    // One buffer per sender, so that several datagrams of one sender read in
    // one go are joined.
    QMap<QString, QByteArray> buffers;
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram d = socket->receiveDatagram();
        if (!d.isValid())
            break;
        const QString key = QStringLiteral("%1:%2").arg(plainAddress(d.senderAddress())).arg(d.senderPort());
        QByteArray data = d.data();
        const int zero = data.indexOf('\0');
        if (zero >= 0)
            data.truncate(zero);
        buffers[key].append(data);
    }
    for (auto it = buffers.cbegin(); it != buffers.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char(':'), Qt::SkipEmptyParts);
        Skt_Session src;
        if (parts.size() == 2) {
            src.address = parts.at(0);
            src.port = parts.at(1).toInt();
        }
        const IoDatagramParse datagram = parseIoDatagram(it.value(), src);
        for (const IoMessageParse& one : datagram.messages) {
            logReceived(socket, src, one.raw);
            dispatch(src, one);  // the status is logged where it matters; nothing else uses it
        }
        if (datagram.dropped > 0)
            logDropped(src, QStringLiteral("format_error"),
                       QStringLiteral("%1 bytes without a closing '>'").arg(datagram.dropped));
    }
}

void TM_ZRU_IODevice::logReceived(const QUdpSocket* socket, const Skt_Session& src, const QByteArray& message)
{
    if (message.contains("S;3") || message.contains("S;4"))
        return;
    if (message.contains("A;21") && !due(g_lastDiscoveryRecvLog, kDiscoveryLogEveryMs))
        return;
    qInfo().noquote() << "[UDP_RCV]"
                      << QStringLiteral("(%1/%2 <- %3/%4):")
                             .arg(plainAddress(socket->localAddress()))
                             .arg(socket->localPort())
                             .arg(src.address)
                             .arg(src.port)
                      << QString::fromUtf8(message);
}

void TM_ZRU_IODevice::logDropped(const Skt_Session& src, const QString& status, const QString& why) const
{
    // A flood of bad datagrams must not flood the log: one line a second,
    // with the number of lines left out since the previous one.
    if (!due(g_lastDropLog, kDropLogEveryMs)) {
        g_dropsNotLogged.fetch_add(1);
        return;
    }
    const int skipped = g_dropsNotLogged.exchange(0);
    qCWarning(level_1).noquote() << "[UDP_RCV]" << QStringLiteral("(<- %1/%2)").arg(src.address).arg(src.port) << status
                         << why << (skipped ? QStringLiteral("(%1 more not logged)").arg(skipped) : QString());
}

QUdpSocket* TM_ZRU_IODevice::sendSocketHere() const
{
    if (!send_socket) {
        send_socket = new QUdpSocket();
        connect(send_socket, &QUdpSocket::readyRead, send_socket, [s = send_socket] {
            while (s->hasPendingDatagrams())
                s->receiveDatagram(0);  // nothing is expected here
        });
    }
    return send_socket;
}

bool TM_ZRU_IODevice::sendUdpMessage_Timely(Skt_Session dstinfo, QByteArray message) const
{
    const QHostAddress to(dstinfo.address);
    // In the transport thread the kept socket; anywhere else a fresh one.
    std::unique_ptr<QUdpSocket> fresh;
    if (!inOwnThread())
        fresh = std::make_unique<QUdpSocket>();
    QUdpSocket& socket = fresh ? *fresh : *sendSocketHere();
    if (to.isNull() || dstinfo.port <= 0 || dstinfo.port > 65535
        || socket.writeDatagram(message, to, quint16(dstinfo.port)) != message.size()) {
        qCInfo(level_1).noquote() << "Failed to send UDP datagram" << "sendUdpMessage_Timely"
                          << QStringLiteral("%1/%2").arg(dstinfo.address).arg(dstinfo.port) << socket.errorString();
        return false;
    }
    if (message.contains("C;3") || message.contains("C;4"))
        return true;
    if (message.contains("C;21") && !due(g_lastDiscoverySendLog, kDiscoveryLogEveryMs))
        return true;
    qInfo().noquote() << "[UDP_SND]"
                      << QStringLiteral("(%1/%2 -> %3/%4):")
                             .arg(plainAddress(socket.localAddress()))
                             .arg(socket.localPort())
                             .arg(dstinfo.address)
                             .arg(dstinfo.port)
                      << QString::fromUtf8(message);
    return true;
}

QByteArray TM_ZRU_IODevice::sendUdpMessage_Timely_Sync(Skt_Session dstinfo, QByteArray message, int timeout) const
{
    const QString name = QStringLiteral("<%1>:").arg(QStringLiteral("sendUdpMessage_Timely_Sync"));
    const QHostAddress to(dstinfo.address);
    QUdpSocket socket;
    if (to.isNull() || dstinfo.port <= 0 || dstinfo.port > 65535 || !socket.bind(QHostAddress(QHostAddress::Any), 0)
        || socket.writeDatagram(message, to, quint16(dstinfo.port)) != message.size()) {
        qCInfo(level_1).noquote() << name << "Failed to send UDP datagram";
        return QByteArray();
    }
    QByteArray answer;
    auto collect = [&] {
        while (socket.hasPendingDatagrams())
            answer.append(socket.receiveDatagram().data());
    };
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QUdpSocket::readyRead, &loop, collect);
    timer.start(qMax(0, timeout));
    loop.exec();
    collect();

    qInfo().noquote() << name << "<<<<<<<<<<<";
    qInfo().noquote() << "[UDP_SND]"
                      << QStringLiteral("(%1/%2 -> %3/%4):")
                             .arg(plainAddress(socket.localAddress()))
                             .arg(socket.localPort())
                             .arg(dstinfo.address)
                             .arg(dstinfo.port)
                      << QString::fromUtf8(message) << "And Recv:" << QString::fromUtf8(answer);
    qInfo().noquote() << name << ">>>>>>>>>>>>";
    return answer;
}

// ---- Permission --------------------------------------------------------------------------

// Whether a message is meant for this camera; the first rule that decides wins:
//  1. it comes from this camera's own address (its own broadcast heard back):
//     no (checked only while the network card is known);
//  2. no target, or the target is this camera: yes;
//  3. the target is the IO module of the group: yes on the main camera;
//     otherwise (or for any other target): yes when the target is the main
//     camera; no group main camera: no;
//  4. a discovery (code 21) is also meant for this camera when it comes from
//     an app or names one of the group's sub cameras.
bool TM_ZRU_IODevice::chkPermitID(const ZRU_IODevice_P6l_Head& head) const
{
    const std::optional<DeviceNetInfo_Detail> card = ioworkinfo::netCard();
    if (card && head.address == card->ip)
        return false;
    if (head.target.isEmpty())
        return true;
    const QString own = ioworkinfo::ownDeviceId();
    if (head.target == own)
        return true;

    const ZRC_DeviceInfos group = ioworkinfo::deviceInfo();
    const CVariant<DeviceNetInfo> main = group.getMain();
    bool r = false;
    if (main.hasValue()) {
        const QString mainId = main.getValue().uuid;
        if (head.target == group.io_uuid)
            r = (mainId == own);
        if (!r)
            r = (mainId == head.target);
    }
    if (head.code == 21) {
        if (head.kind == QLatin1String("A"))
            return true;
        for (const DeviceNetInfo& sub : group.getSUBS()) {
            if (sub.uuid == head.target)
                return true;
        }
    }
    return r;
}

// ---- Messages ------------------------------------------------------------------------------

QString TM_ZRU_IODevice::AnalysisRecvMessage(Skt_Session src, const QByteArray& message)
{
    return dispatch(src, parseIoMessageText(message, src));
}

QString TM_ZRU_IODevice::dispatch(const Skt_Session& src, const IoMessageParse& parse)
{
    if (parse.outcome != IoMessageParse::Outcome::Complete) {
        logDropped(src, QLatin1String(kStatusFormatError), parse.why);
        return QLatin1String(kStatusFormatError);
    }
    const IoMessage& m = parse.message;
    const QString& kind = m.head.kind;
    const int code = m.head.code;
    const bool fromModule = kind == QLatin1String("S");
    const bool fromApp = kind == QLatin1String("A");
    const bool fromCamera = kind == QLatin1String("C");

    QString status;
    if (code == 3 && fromModule)
        status = handleHeartbeat(m);
    else if (code == 4 && fromModule)
        status = handleNeedRepair(m);
    else if (code == 5 && fromModule)
        status = handleInputState(m);
    else if (code == 10 && fromApp)
        status = handleApiDiscover(m);
    else if (code == 21 && fromApp)
        status = handleDiscover(m);
    else if (code == 21 && fromCamera)
        status = handleCameraAnswer(m);
    else if (code == 22 && fromApp)
        status = handleModifyCells(m);
    else if (code == 1 && fromModule) {
        if (ioworkinfo::isSearching())
            ioworkinfo::storeSearchAnswer(m.head.address, QStringLiteral("<%1>").arg(m.stripped));
        status = QLatin1String(kStatusSuccess);
    } else {
        status = QLatin1String(kStatusSuccess);
    }
    if (status == QLatin1String(kStatusDiscard))
        qDebug().noquote() << "[UDP_RCV] discard" << m.head.address << m.stripped;
    return status;
}

QString TM_ZRU_IODevice::handleHeartbeat(const IoMessage& m)
{
    if (!chkPermitID(m.head))
        return QLatin1String(kStatusDiscard);
    if (!ioworkinfo::mainLoopAlive()) {
        // Left unanswered, so that the IO module sees the camera is not working.
        logDropped(Skt_Session{m.head.address, m.head.port}, QLatin1String(kStatusMainThreadStop),
                   QStringLiteral("heartbeat not answered"));
        return QLatin1String(kStatusMainThreadStop);
    }
    do_req_s2c03_heartbeat(m.head);
    if (m.parts.size() != 5)
        return QLatin1String(kStatusIgnore);

    const std::optional<int> in = parseIoWord(m.parts.at(3));
    const std::optional<int> out = parseIoWord(m.parts.at(4));
    if (!in || !out) {
        // Answered (the module must not think the camera is down) but not
        // believed: no contact, no inputs, no outputs.
        logDropped(Skt_Session{m.head.address, m.head.port}, QLatin1String(kStatusIgnore),
                   QStringLiteral("heartbeat with a bad IO word: ") + m.stripped);
        return QLatin1String(kStatusIgnore);
    }
    stampContact();
    input_word.store(*in);
    if (*in != ioworkinfo::inputBits())
        emit sig_HasInput(*in);
    output_word.store(*out);
    if (*out != ioworkinfo::outputBits())
        HasOutput(1);  // the module does not hold the wanted outputs: send them again
    return QLatin1String(kStatusIgnore);
}

QString TM_ZRU_IODevice::handleNeedRepair(const IoMessage& m)
{
    if (!chkPermitID(m.head))
        return QLatin1String(kStatusDiscard);
    if (m.parts.size() != 4)
        return QLatin1String(kStatusFormatError);
    qInfo().noquote() << QString(27, QLatin1Char('<')) << "\"recheckDeviceInfo\"" << "S4";
    ioworkinfo::recheckDeviceInfo();
    qInfo().noquote() << QString(27, QLatin1Char('>'));

    ZRC_DeviceInfos group = ioworkinfo::deviceInfo();
    if (group.io_address != m.head.address) {
        // Output frames follow the module's address; say who moved it.
        qInfo().noquote() << "[TM_IO] IO-module address" << group.io_address << "->" << m.head.address
                          << QStringLiteral("(need-repair from %1/%2, target %3)")
                                 .arg(m.head.address)
                                 .arg(m.head.port)
                                 .arg(m.head.target);
        group.io_address = m.head.address;
        ioworkinfo::setDeviceInfo(group);
    }
    do_req_s2c04_needrepair(m.head);
    return QLatin1String(kStatusIgnore);
}

QString TM_ZRU_IODevice::handleInputState(const IoMessage& m)
{
    if (!chkPermitID(m.head) && !ioworkinfo::isMainCamera())
        return QLatin1String(kStatusDiscard);
    if (m.parts.size() != 4)
        return QLatin1String(kStatusFail);
    const std::optional<int> word = parseIoWord(m.parts.at(3));
    if (!word) {
        logDropped(Skt_Session{m.head.address, m.head.port}, QLatin1String(kStatusFormatError),
                   QStringLiteral("input state with a bad IO word: ") + m.stripped);
        return QLatin1String(kStatusFormatError);
    }
    input_word.store(*word);
    emit sig_HasInput(*word);
    do_req_s2c05_inputstate(m.head);
    return QLatin1String(kStatusSucess);
}

QString TM_ZRU_IODevice::handleApiDiscover(const IoMessage& m)
{
    if (!ioworkinfo::isMainCamera())
        return QLatin1String(kStatusIgnore);
    if (m.head.target == QLatin1String("API"))
        do_req_a2c10_apidiscover(m.head);
    return QLatin1String(kStatusSuccess);
}

QString TM_ZRU_IODevice::handleDiscover(const IoMessage& m)
{
    if (!chkPermitID(m.head))
        return QLatin1String(kStatusDiscard);
    if (m.head.target == QLatin1String("APP")) {
        ioworkinfo::registerApp(m.head.address, gettimeofday_ms());
        do_req_a2c21_discover(m.head);
    } else if (m.head.target == QLatin1String("Camera")) {
        do_req_a2c21_discover(m.head);
    }
    return QLatin1String(kStatusIgnore);
}

QString TM_ZRU_IODevice::handleCameraAnswer(const IoMessage& m)
{
    if (ioworkinfo::isSearching())
        ioworkinfo::storeSearchAnswer(m.head.address, QStringLiteral("<%1>").arg(m.stripped));
    if (!chkPermitID(m.head) || !ioworkinfo::isMainCamera())
        return QLatin1String(kStatusDiscard);
    if (ioworkinfo::rebindSubDevice(m.head.target, m.head.address)) {
        ZRC_DeviceInfos group = ioworkinfo::deviceInfo();
        for (DeviceNetInfo& cam : group.cameras) {
            if (cam.uuid == m.head.target) {
                cam.address = m.head.address;
                ioworkinfo::setDeviceInfo(group);
                break;
            }
        }
    }
    return QLatin1String(kStatusSuccess);
}

QString TM_ZRU_IODevice::handleModifyCells(const IoMessage& m)
{
    if (!chkPermitID(m.head))
        return QLatin1String(kStatusDiscard);
    // The text is checked before anything is answered: OK means the new group
    // is in force (or already was).
    const std::optional<QString> text = modifyCellsGroupText(m.stripped);
    if (!text) {
        logDropped(Skt_Session{m.head.address, m.head.port}, QLatin1String(kStatusFormatError),
                   QStringLiteral("modify cells without a group text"));
        return QLatin1String(kStatusFormatError);
    }
    if (*text == MakeCamCfg2Str(ioworkinfo::deviceInfo())) {
        do_req_a2c22_modifycells(m.head);
        return QLatin1String(kStatusSuccess);
    }
    ZRC_DeviceInfos group;
    if (!ParseStr2CamCfg(*text, group)) {
        logDropped(Skt_Session{m.head.address, m.head.port}, QLatin1String(kStatusFormatError),
                   QStringLiteral("modify cells with a malformed group text"));
        return QLatin1String(kStatusFormatError);
    }
    ioworkinfo::applyNewGroup(group, *text);
    qCInfo(level_1).noquote() << "<A;22> modify new:" << *text;
    ioworkinfo::setDeviceInfo(group);
    do_req_a2c22_modifycells(m.head);
    return QLatin1String(kStatusSuccess);
}

// ---- Replies -------------------------------------------------------------------------------

bool TM_ZRU_IODevice::do_req_s2c03_heartbeat(ZRU_IODevice_P6l_Head head)
{
    return sendUdpMessage_Timely(Skt_Session{head.address, kPortModule}, heartbeatReply(ioworkinfo::ownDeviceId()));
}

bool TM_ZRU_IODevice::do_req_s2c04_needrepair(ZRU_IODevice_P6l_Head head)
{
    const std::optional<DeviceNetInfo_Detail> card = ioworkinfo::netCard();
    if (!card) {
        qCInfo(level_1) << "[TM_IO] need-repair not answered: no network card";
        return false;
    }
    return sendUdpMessage_Timely(Skt_Session{head.address, kPortModule},
                                 needRepairReply(ioworkinfo::ownDeviceId(), card->ip));
}

bool TM_ZRU_IODevice::do_req_s2c05_inputstate(ZRU_IODevice_P6l_Head head)
{
    return sendUdpMessage_Timely(Skt_Session{head.address, kPortModule}, inputStateReply(ioworkinfo::ownDeviceId()));
}

bool TM_ZRU_IODevice::do_req_a2c10_apidiscover(ZRU_IODevice_P6l_Head head)
{
    const ZRC_DeviceInfos group = ioworkinfo::deviceInfo();
    const CVariant<DeviceNetInfo> main = group.getMain();
    const QString mainAddress = main.hasValue() ? main.getValue().address : QString();
    return sendUdpMessage_Timely(Skt_Session{head.address, head.port}, apiDiscoverReply(group.machine_id, mainAddress));
}

bool TM_ZRU_IODevice::do_req_a2c21_discover(ZRU_IODevice_P6l_Head head)
{
    const std::optional<DeviceNetInfo_Detail> card = ioworkinfo::netCard();
    if (!card)
        return false;  // no address to give; the searcher will not list this camera
    return sendUdpMessage_Timely(Skt_Session{head.address, kPortDiscovery},
                                 discoverReply(ioworkinfo::ownDeviceId(), card->mac, ioworkinfo::groupText()));
}

bool TM_ZRU_IODevice::do_req_a2c22_modifycells(ZRU_IODevice_P6l_Head head)
{
    return sendUdpMessage_Timely(Skt_Session{head.address, kPortDiscovery},
                                 modifyCellsReply(ioworkinfo::ownDeviceId()));
}

bool TM_ZRU_IODevice::do_snd_c2s06_OutputIO()
{
    if (!ioworkinfo::isMainCamera())
        return false;
    const int bits = ioworkinfo::outputBits();
    const int previous = g_previousOutputBits.exchange(bits);
    const Skt_Session dst{ioworkinfo::deviceInfo().io_address, kPortModule};
    // The frame leaves first: writing the line to the log files must not
    // delay the outputs.
    const bool sent = sendUdpMessage_Timely(dst, outputFrame(ioworkinfo::ownDeviceId(), bits));
    qCInfo(level_1).noquote() << "[IO_OUTPUT]" << ChgIO_Int2ASCII(previous) << "->" << ChgIO_Int2ASCII(bits);
    return sent;
}

void TM_ZRU_IODevice::on_HasOutput()
{
    do_snd_c2s06_OutputIO();  // a failed send is logged; the next change or heartbeat sends again
}
