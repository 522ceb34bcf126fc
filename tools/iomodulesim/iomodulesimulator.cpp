#include "tools/iomodulesim/iomodulesimulator.h"

#include <QEventLoop>
#include <QNetworkDatagram>

#include <time.h>

IoModuleSimulator::IoModuleSimulator(Config config, QObject* parent) : QObject(parent), m_config(std::move(config))
{
    m_heartbeat.setTimerType(Qt::PreciseTimer);
    connect(&m_heartbeat, &QTimer::timeout, this, [this] { sendHeartbeat(); });
    connect(&m_socket, &QUdpSocket::readyRead, this, &IoModuleSimulator::readPending);
}

IoModuleSimulator::~IoModuleSimulator()
{
    stop();
}

bool IoModuleSimulator::start()
{
    if (!m_socket.bind(m_config.address, m_config.port)) {
        m_error = m_socket.errorString();
        return false;
    }
    setHeartbeatEnabled(m_config.heartbeatMs > 0);
    return true;
}

void IoModuleSimulator::stop()
{
    m_heartbeat.stop();
    m_socket.close();
}

QString IoModuleSimulator::word(int bits)
{
    QString w(8, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        if (bits & (1 << i))
            w[i] = QLatin1Char('1');
    }
    return w;
}

qint64 IoModuleSimulator::clockNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool IoModuleSimulator::send(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    return m_socket.writeDatagram(bytes, to, port) == bytes.size();
}

void IoModuleSimulator::setInputs(int bits)
{
    m_inputs = bits & 0xff;
    sendInputState(word(m_inputs));
}

bool IoModuleSimulator::sendInputState(const QString& inputWord)
{
    const QString text = QStringLiteral("<S;5;%1;%2>").arg(m_config.moduleId, inputWord);
    return send(text.toUtf8(), m_config.camera, m_config.cameraPort);
}

void IoModuleSimulator::setHeartbeatEnabled(bool on)
{
    if (on && m_config.heartbeatMs > 0)
        m_heartbeat.start(m_config.heartbeatMs);
    else
        m_heartbeat.stop();
}

bool IoModuleSimulator::sendHeartbeat()
{
    return sendHeartbeatWords(word(m_inputs), word(m_outputs));
}

bool IoModuleSimulator::sendHeartbeatWords(const QString& inputWord, const QString& outputWord)
{
    const QString text = QStringLiteral("<S;3;%1;%2;%3>").arg(m_config.moduleId, inputWord, outputWord);
    return send(text.toUtf8(), m_config.camera, m_config.cameraPort);
}

bool IoModuleSimulator::sendNeedRepair()
{
    const QString text = QStringLiteral("<S;4;%1;%2>").arg(m_config.moduleId, m_config.address.toString());
    return send(text.toUtf8(), m_config.camera, m_config.cameraPort);
}

bool IoModuleSimulator::sendRaw(const QByteArray& bytes, quint16 cameraPort)
{
    return send(bytes, m_config.camera, cameraPort ? cameraPort : m_config.cameraPort);
}

QList<IoModuleSimulator::Datagram> IoModuleSimulator::receivedStartingWith(const QByteArray& prefix) const
{
    QList<Datagram> out;
    for (const Datagram& d : m_received) {
        if (d.data.startsWith(prefix))
            out.append(d);
    }
    return out;
}

bool IoModuleSimulator::waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return done();
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(left, 5)), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

IoModuleSimulator::Datagram IoModuleSimulator::waitForDatagram(const QByteArray& prefix, int timeoutMs)
{
    const int seen = m_received.size();
    Datagram found;
    waitFor(
        [&] {
            for (int i = seen; i < m_received.size(); ++i) {
                if (m_received.at(i).data.startsWith(prefix)) {
                    found = m_received.at(i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

void IoModuleSimulator::readPending()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram nd = m_socket.receiveDatagram();
        Datagram d;
        d.atNs = clockNs();
        d.data = nd.data();
        d.from = nd.senderAddress();
        d.fromPort = quint16(nd.senderPort());
        m_received.append(d);
        handle(d);
        emit datagramReceived(d);
    }
}

void IoModuleSimulator::handle(const Datagram& d)
{
    // Each "<...>" of the datagram is one message.
    const QList<QByteArray> pieces = d.data.split('>');
    for (QByteArray msg : pieces) {
        msg = msg.trimmed();
        if (!msg.startsWith('<'))
            continue;
        const QList<QByteArray> f = msg.mid(1).split(';');
        if (f.size() >= 4 && f.at(0) == "C" && f.at(1) == "6" && f.at(3).size() == 8) {
            int bits = 0;
            for (int i = 0; i < 8; ++i) {
                if (f.at(3).at(i) == '1')
                    bits |= 1 << i;
            }
            ++m_outputFrames;
            m_outputs = bits;
            emit outputsChanged(bits);
        } else if (f.size() >= 2 && f.at(0) == "A" && f.at(1) == "1") {
            const QString answer =
                QStringLiteral("<S;1;%1;%2>").arg(m_config.moduleId, m_config.address.toString());
            send(answer.toUtf8(), d.from, m_config.cameraPort);
        }
    }
}
