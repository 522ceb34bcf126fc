// appsim: the operator application as the camera sees it, for a person. It
// takes the camera's pushes on TCP and answers its heartbeat on UDP, printing
// what it receives.
//
//   appsim [--address 127.0.0.2] [--tcp-port 10416] [--udp-port 10417]
//          [--take] [--app-version V1.6.7.94] [--app-time <epoch s>]
//          [--silent-heartbeat] [--push-mode answer|slow|silent|hugehead|wronguuid|closemidbody]
//          [--read-rate <bytes per second>]
#include "tools/appsim/appsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription("Operator-application simulator for the camera's pushes and heartbeat");
    p.addHelpOption();
    p.addOption({"address", "Address to listen on.", "ip", "127.0.0.1"});
    p.addOption({"tcp-port", "TCP port for pushes.", "port", "10416"});
    p.addOption({"udp-port", "UDP port for heartbeats.", "port", "10417"});
    p.addOption({"take", "Answer heartbeats with dotaken true."});
    p.addOption({"app-version", "Version to announce.", "text", "V1.6.7.94"});
    p.addOption({"app-time", "Epoch seconds to announce.", "seconds"});
    p.addOption({"silent-heartbeat", "Do not answer heartbeats."});
    p.addOption({"push-mode", "How pushes are answered.", "mode", "answer"});
    p.addOption({"read-rate", "Take pushes at no more than this many bytes a second (0: no limit).", "bytes", "0"});
    p.process(app);

    AppSimulator sim;
    sim.setDoTaken(p.isSet("take"));
    sim.setAppVersion(p.value("app-version"));
    if (p.isSet("app-time"))
        sim.setAppTime(QVariant(p.value("app-time").toDouble()));
    sim.setHeartbeatSilent(p.isSet("silent-heartbeat"));
    sim.setReadRate(p.value("read-rate").toLongLong());
    const QString mode = p.value("push-mode");
    const QMap<QString, AppSimulator::PushMode> modes = {
        {"answer", AppSimulator::PushMode::Answer},       {"slow", AppSimulator::PushMode::Slow},
        {"silent", AppSimulator::PushMode::Silent},       {"hugehead", AppSimulator::PushMode::HugeHead},
        {"wronguuid", AppSimulator::PushMode::WrongUuid}, {"closemidbody", AppSimulator::PushMode::CloseMidBody}};
    sim.setPushMode(modes.value(mode, AppSimulator::PushMode::Answer), 3000);

    QTextStream out(stdout);
    if (!sim.start(QHostAddress(p.value("address")), quint16(p.value("tcp-port").toUInt()),
                   quint16(p.value("udp-port").toUInt()))) {
        out << "cannot listen on " << p.value("address") << "\n";
        return 1;
    }
    out << "appsim listening on " << p.value("address") << " tcp " << sim.tcpPort() << " udp " << sim.udpPort()
        << "\n";
    out.flush();
    QObject::connect(&sim, &AppSimulator::pushReceived, [&out](const CTask_FormData& f) {
        out << "push " << f.url << " uuid " << f.uuid << " json " << f.json.size() << " images "
            << f.mat_parts.size() << "\n";
        out.flush();
    });
    QObject::connect(&sim, &AppSimulator::heartbeatReceived, [&out, &sim] {
        const auto hbs = sim.heartbeats();
        if (!hbs.isEmpty() && hbs.size() % 10 == 1) {
            out << "heartbeat from " << hbs.last().from.toString() << " (" << hbs.size() << " so far)\n";
            out.flush();
        }
    });
    return app.exec();
}
