// appsim: the operator application as the camera sees it, for a person. It
// takes the camera's pushes on TCP and answers its heartbeat on UDP, printing
// what it receives. `appsim --help` lists the options with their defaults
// and the push modes.
#include "tools/appsim/appsimulator.h"
#include "tools/common/tooloptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <limits>

namespace {

// How the simulator answers the camera's pushes, by the word --push-mode takes.
const QList<QPair<QString, AppSimulator::PushMode>>& pushModes()
{
    static const QList<QPair<QString, AppSimulator::PushMode>> modes = {
        {"answer", AppSimulator::PushMode::Answer},       {"slow", AppSimulator::PushMode::Slow},
        {"silent", AppSimulator::PushMode::Silent},       {"hugehead", AppSimulator::PushMode::HugeHead},
        {"wronguuid", AppSimulator::PushMode::WrongUuid}, {"closemidbody", AppSimulator::PushMode::CloseMidBody}};
    return modes;
}

const char* const kPushModes =
    "Push modes (--push-mode):\n"
    "  answer        answer every push at once\n"
    "  slow          answer each push 3 s late\n"
    "  silent        take pushes, never answer\n"
    "  hugehead      answer with a head larger than any limit\n"
    "  wronguuid     answer under another uuid\n"
    "  closemidbody  send half an answer, then close";

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("appsim"));
    using tooloptions::valueOption;
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Operator-application simulator for the camera's pushes and heartbeat.\n\n") +
        QLatin1String(kPushModes));
    p.addHelpOption();
    const QCommandLineOption address = valueOption("address", "Address to listen on", "ip", "127.0.0.1");
    const QCommandLineOption tcpPort = valueOption("tcp-port", "TCP port for pushes", "port", "10416");
    const QCommandLineOption udpPort = valueOption("udp-port", "UDP port for heartbeats", "port", "10417");
    const QCommandLineOption take("take", "Answer heartbeats with dotaken true (default: false).");
    const QCommandLineOption version = valueOption("app-version", "Version to announce", "text", "V1.6.7.94");
    const QCommandLineOption appTime("app-time", "Epoch seconds to announce (default: none).", "seconds");
    const QCommandLineOption silent("silent-heartbeat", "Do not answer heartbeats (default: answer them).");
    const QCommandLineOption pushMode =
        valueOption("push-mode", "How pushes are answered, see above", "mode", "answer");
    const QCommandLineOption readRate =
        valueOption("read-rate", "Take pushes at no more than this many bytes a second, 0: no limit", "bytes", "0");
    p.addOptions({address, tcpPort, udpPort, take, version, appTime, silent, pushMode, readRate});
    tooloptions::process(p, app);

    const QHostAddress listenAddress = tooloptions::address(p, address);
    const quint16 tcp = tooloptions::port(p, tcpPort);
    const quint16 udp = tooloptions::port(p, udpPort);
    const qint64 rate = tooloptions::number(p, readRate, 0, std::numeric_limits<int>::max());
    QStringList modeNames;
    for (const auto& mode : pushModes())
        modeNames << mode.first;
    const QString mode = tooloptions::choice(p, pushMode, modeNames);
    double epochSeconds = 0;
    if (p.isSet(appTime)) {
        bool ok = false;
        epochSeconds = p.value(appTime).toDouble(&ok);
        if (!ok)
            tooloptions::refuse(QStringLiteral("--app-time \"%1\" is not a number of seconds").arg(p.value(appTime)));
    }

    AppSimulator sim;
    sim.setDoTaken(p.isSet(take));
    sim.setAppVersion(p.value(version));
    if (p.isSet(appTime))
        sim.setAppTime(QVariant(epochSeconds));
    sim.setHeartbeatSilent(p.isSet(silent));
    sim.setReadRate(rate);
    for (const auto& m : pushModes()) {
        if (m.first == mode)
            sim.setPushMode(m.second, 3000);
    }

    QTextStream out(stdout);
    if (!sim.start(listenAddress, tcp, udp)) {
        out << "cannot listen on " << listenAddress.toString() << " (tcp " << tcp << ", udp " << udp << ")\n";
        return 1;
    }
    out << "appsim listening on " << listenAddress.toString() << " tcp " << sim.tcpPort() << " udp " << sim.udpPort()
        << "\n";
    out.flush();
    QObject::connect(&sim, &AppSimulator::pushReceived, [&out](const CTask_FormData& f) {
        out << "push " << f.url << " uuid " << f.uuid << " json " << f.json.size() << " images "
            << f.mat_parts.size() << "\n";
        out.flush();
    });
    QObject::connect(&sim, &AppSimulator::heartbeatReceived, [&out, &sim] {
        // Every tenth one, counted over the whole run (only the last ones are kept).
        const qint64 count = sim.heartbeatCount();
        if (count % 10 == 1) {
            const auto hbs = sim.heartbeats();
            if (!hbs.isEmpty()) {
                out << "heartbeat from " << hbs.last().from.toString() << " (" << count << " so far)\n";
                out.flush();
            }
        }
    });
    return app.exec();
}
