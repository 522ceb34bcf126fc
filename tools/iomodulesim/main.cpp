// iomodulesim: the IO-module simulator as a program a person can run next to
// a camera program. It prints what the camera sends it (heartbeat replies
// only counted unless asked for), says after each output frame which
// outputs are active and what they mean, and at the end of each cycle
// whether the camera released the machine or held it. It takes commands,
// one per line, on standard input (listed by --help and by "help").
#include "tools/common/tooloptions.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/iomodulesim/outputnarrator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <functional>

#include <unistd.h>

namespace {

const char* const kCommands =
    "Commands, one per line on standard input:\n"
    "  rise N | fall N        set or clear input N (1..8); rise 1 opens the mould\n"
    "  in 10000000 | in 5     set all inputs (eight 0/1 characters, input 1 first, or 0..255)\n"
    "  part in | part out     leave a part in a cavity of the simulated mould, or take it out\n"
    "                         (needs --part-file, the file the camera's simulated sensor watches)\n"
    "  hb on | hb off         send heartbeats, or stop them (a silent module)\n"
    "  show hb | hide hb      print the camera's heartbeat replies, or only count them\n"
    "  repair                 send a need-repair request\n"
    "  raw TEXT               send TEXT as one datagram to the camera\n"
    "  status                 inputs, outputs and what they mean, counts\n"
    "  help                   this list\n"
    "  quit";

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
    parser.setApplicationDescription(QStringLiteral("Simulated IO module of the moulding machine.\n\n") +
                                     QLatin1String(kCommands));
    parser.addHelpOption();
    using tooloptions::valueOption;
    const QCommandLineOption address =
        valueOption(QStringLiteral("address"), QStringLiteral("Own address"), QStringLiteral("ip"),
                    QStringLiteral("127.0.0.2"));
    const QCommandLineOption port =
        valueOption(QStringLiteral("port"), QStringLiteral("Own port"), QStringLiteral("port"),
                    QStringLiteral("10411"));
    const QCommandLineOption camera = valueOption(QStringLiteral("camera"), QStringLiteral("Camera address"),
                                                  QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption cameraPort = valueOption(QStringLiteral("camera-port"), QStringLiteral("Camera port"),
                                                      QStringLiteral("port"), QStringLiteral("10412"));
    const QCommandLineOption id =
        valueOption(QStringLiteral("id"), QStringLiteral("Module id"), QStringLiteral("id"), QStringLiteral("IOM-SIM"));
    const QCommandLineOption heartbeat =
        valueOption(QStringLiteral("heartbeat-ms"), QStringLiteral("Heartbeat interval in ms, 0 for none"),
                    QStringLiteral("ms"), QStringLiteral("500"));
    const QCommandLineOption showHeartbeats(QStringLiteral("show-heartbeats"),
                                            QStringLiteral("Print the camera's heartbeat replies too."));
    const QCommandLineOption outputRest = valueOption(
        QStringLiteral("output-rest"),
        QStringLiteral("Rest levels of the outputs, O1 first, as the camera's /dide/io/getparams gives them"),
        QStringLiteral("word"), QStringLiteral("00000000"));
    const QCommandLineOption partFile(
        QStringLiteral("part-file"),
        QStringLiteral("File that \"part in\" creates and \"part out\" removes: the camera's simulated sensor "
                       "(ORVALE_SENSOR_PART) shows a part left in a cavity while it exists."),
        QStringLiteral("path"));
    parser.addOptions({address, port, camera, cameraPort, id, heartbeat, showHeartbeats, outputRest, partFile});
    tooloptions::process(parser, app);

    IoModuleSimulator::Config cfg;
    cfg.address = tooloptions::address(parser, address);
    cfg.port = tooloptions::port(parser, port);
    cfg.camera = tooloptions::address(parser, camera);
    cfg.cameraPort = tooloptions::port(parser, cameraPort);
    cfg.moduleId = parser.value(id);
    cfg.heartbeatMs = int(tooloptions::number(parser, heartbeat, 0, 3600000));
    bool restOk = false;
    const int restBits = parseInputs(parser.value(outputRest), &restOk);
    if (!restOk || parser.value(outputRest).size() != 8)
        tooloptions::refuse(
            QStringLiteral("--output-rest \"%1\" is not eight 0/1 characters").arg(parser.value(outputRest)));
    const QString part = parser.value(partFile);

    QTextStream out(stdout);

    IoModuleSimulator sim(cfg);
    if (!sim.start()) {
        out << "cannot bind " << cfg.address.toString() << ":" << cfg.port << ": " << sim.errorString() << Qt::endl;
        return 1;
    }
    out << "IO module " << cfg.moduleId << " on " << cfg.address.toString() << ":" << cfg.port << ", camera "
        << cfg.camera.toString() << ":" << cfg.cameraPort << " (type help for the commands)" << Qt::endl;

    // Heartbeat replies come twice a second: counted, printed only on request.
    bool printHeartbeats = parser.isSet(showHeartbeats);
    int hiddenHeartbeats = 0;
    OutputNarrator narrator(restBits);
    QObject::connect(&sim, &IoModuleSimulator::datagramReceived, [&](const IoModuleSimulator::Datagram& d) {
        // Nothing here reads the received list back: a run of days keeps
        // no history.
        sim.clearReceived();
        if (d.data.startsWith("<C;3;") && !printHeartbeats) {
            ++hiddenHeartbeats;
            return;
        }
        out << "<- " << d.from.toString() << ":" << d.fromPort << " " << QString::fromUtf8(d.data) << Qt::endl;
        if (!d.data.contains("<C;6;"))
            return;
        // The simulator has applied the frame: its outputs are the camera's answer.
        const int bits = sim.outputs();
        out << "   outputs " << bitsWord(bits) << ": " << narrator.describe(bits) << Qt::endl;
        const QString verdict = narrator.take(bits);
        if (!verdict.isEmpty())
            out << "== " << verdict << Qt::endl;
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
        } else if (cmd == QLatin1String("hb") && words.size() == 2 &&
                   (words.at(1) == QLatin1String("on") || words.at(1) == QLatin1String("off"))) {
            sim.setHeartbeatEnabled(words.at(1) == QLatin1String("on"));
            out << "heartbeats " << words.at(1) << Qt::endl;
        } else if ((cmd == QLatin1String("show") || cmd == QLatin1String("hide")) && words.size() == 2 &&
                   words.at(1) == QLatin1String("hb")) {
            printHeartbeats = cmd == QLatin1String("show");
        } else if (cmd == QLatin1String("part") && words.size() == 2 &&
                   (words.at(1) == QLatin1String("in") || words.at(1) == QLatin1String("out"))) {
            if (part.isEmpty()) {
                out << "part: no --part-file given" << Qt::endl;
            } else if (words.at(1) == QLatin1String("in")) {
                QFile f(part);
                if (f.open(QIODevice::WriteOnly))
                    out << "part left in a cavity: the mould is not empty (next cycle: fall 1, then rise 1)"
                        << Qt::endl;
                else
                    out << "part: cannot create " << part << ": " << f.errorString() << Qt::endl;
            } else {
                QFile::remove(part);
                out << "part taken out: the mould is empty" << Qt::endl;
            }
        } else if (cmd == QLatin1String("repair")) {
            sim.sendNeedRepair();
        } else if (cmd == QLatin1String("raw") && words.size() >= 2) {
            sim.sendRaw(line.trimmed().mid(4).toUtf8());
        } else if (cmd == QLatin1String("help")) {
            out << kCommands << Qt::endl;
        } else if (cmd == QLatin1String("status")) {
            out << "inputs " << bitsWord(sim.inputs()) << " outputs " << bitsWord(sim.outputs()) << ": "
                << narrator.describe(sim.outputs()) << Qt::endl;
            out << "  " << sim.outputFrames() << " output frames, cycles " << narrator.okCycles() << " released (OK) "
                << narrator.ngCycles() << " held (NG), " << hiddenHeartbeats << " heartbeat replies not shown"
                << Qt::endl;
        } else {
            out << "unknown command \"" << line.trimmed() << "\"; " << kCommands << Qt::endl;
        }
    };

    return app.exec();
}
