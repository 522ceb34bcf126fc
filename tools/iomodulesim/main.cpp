// iomodulesim: the IO-module simulator as a program a person can run next to
// a camera program. It prints every datagram it receives and takes commands,
// one per line, on standard input:
//
//   in 10000000 | in 5     set the inputs (eight-character word or number)
//   rise N | fall N        set or clear input N (1..8)
//   hb on | hb off         heartbeats on or off (off: a silent module)
//   repair                 send a need-repair request
//   raw <text>             send any text as one datagram to the camera
//   status                 print inputs and outputs
//   quit
#include "tools/iomodulesim/iomodulesimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <functional>

#include <unistd.h>

namespace {

QString bitsWord(int bits)
{
    QString w;
    for (int i = 0; i < 8; ++i)
        w += (bits & (1 << i)) ? QLatin1Char('1') : QLatin1Char('0');
    return w;
}

int parseInputs(const QString& text, bool* ok)
{
    if (text.size() == 8 && QRegularExpression(QStringLiteral("^[01]{8}$")).match(text).hasMatch()) {
        *ok = true;
        int bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= (text.at(i) == QLatin1Char('1')) ? (1 << i) : 0;
        return bits;
    }
    const int v = text.toInt(ok);
    *ok = *ok && v >= 0 && v <= 255;
    return v;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("iomodulesim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated IO module of the moulding machine."));
    parser.addHelpOption();
    const QCommandLineOption address(QStringLiteral("address"), QStringLiteral("Own address (default 127.0.0.2)."),
                                     QStringLiteral("ip"), QStringLiteral("127.0.0.2"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Own port (default 10411)."),
                                  QStringLiteral("port"), QStringLiteral("10411"));
    const QCommandLineOption camera(QStringLiteral("camera"), QStringLiteral("Camera address (default 127.0.0.1)."),
                                    QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption cameraPort(QStringLiteral("camera-port"),
                                        QStringLiteral("Camera port (default 10412)."), QStringLiteral("port"),
                                        QStringLiteral("10412"));
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("Module id (default IOM-SIM)."),
                                QStringLiteral("id"), QStringLiteral("IOM-SIM"));
    const QCommandLineOption heartbeat(QStringLiteral("heartbeat-ms"),
                                       QStringLiteral("Heartbeat interval, 0 for none (default 500)."),
                                       QStringLiteral("ms"), QStringLiteral("500"));
    parser.addOptions({address, port, camera, cameraPort, id, heartbeat});
    parser.process(app);

    IoModuleSimulator::Config cfg;
    cfg.address = QHostAddress(parser.value(address));
    cfg.port = quint16(parser.value(port).toUInt());
    cfg.camera = QHostAddress(parser.value(camera));
    cfg.cameraPort = quint16(parser.value(cameraPort).toUInt());
    cfg.moduleId = parser.value(id);
    cfg.heartbeatMs = parser.value(heartbeat).toInt();

    QTextStream out(stdout);
    if (cfg.address.isNull() || cfg.camera.isNull()) {
        out << "bad address" << Qt::endl;
        return 2;
    }

    IoModuleSimulator sim(cfg);
    if (!sim.start()) {
        out << "cannot bind " << cfg.address.toString() << ":" << cfg.port << ": " << sim.errorString() << Qt::endl;
        return 1;
    }
    out << "IO module " << cfg.moduleId << " on " << cfg.address.toString() << ":" << cfg.port << ", camera "
        << cfg.camera.toString() << ":" << cfg.cameraPort << Qt::endl;

    QObject::connect(&sim, &IoModuleSimulator::datagramReceived, [&out](const IoModuleSimulator::Datagram& d) {
        out << "<- " << d.from.toString() << ":" << d.fromPort << " " << QString::fromUtf8(d.data) << Qt::endl;
    });

    // Standard input is read as raw bytes and cut into lines here: a
    // buffered reader would take several piped lines at once and leave all
    // but the first waiting for a notification that never comes.
    QByteArray pending;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    std::function<void(const QString&)> command;
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            notifier.setEnabled(false);
            app.quit();  // end of input
            return;
        }
        pending.append(chunk, int(n));
        for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            command(line);
        }
    });
    command = [&](const QString& line) {
        const QStringList words = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        const QString cmd = words.first();
        bool ok = false;
        if (cmd == QLatin1String("quit")) {
            app.quit();
        } else if (cmd == QLatin1String("in") && words.size() == 2) {
            const int bits = parseInputs(words.at(1), &ok);
            if (ok)
                sim.setInputs(bits);
            else
                out << "inputs: eight 0/1 characters or 0..255" << Qt::endl;
        } else if ((cmd == QLatin1String("rise") || cmd == QLatin1String("fall")) && words.size() == 2) {
            const int n = words.at(1).toInt(&ok);
            if (ok && n >= 1 && n <= 8) {
                const int bit = 1 << (n - 1);
                sim.setInputs(cmd == QLatin1String("rise") ? (sim.inputs() | bit) : (sim.inputs() & ~bit));
            } else {
                out << "input number 1..8" << Qt::endl;
            }
        } else if (cmd == QLatin1String("hb") && words.size() == 2) {
            sim.setHeartbeatEnabled(words.at(1) == QLatin1String("on"));
        } else if (cmd == QLatin1String("repair")) {
            sim.sendNeedRepair();
        } else if (cmd == QLatin1String("raw") && words.size() >= 2) {
            sim.sendRaw(line.trimmed().mid(4).toUtf8());
        } else if (cmd == QLatin1String("status")) {
            out << "inputs " << bitsWord(sim.inputs()) << " outputs " << bitsWord(sim.outputs()) << " ("
                << sim.outputFrames() << " output frames)" << Qt::endl;
        } else {
            out << "commands: in W | rise N | fall N | hb on|off | repair | raw TEXT | status | quit" << Qt::endl;
        }
    };

    return app.exec();
}
