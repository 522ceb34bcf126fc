// subcamsim: a simulated sub camera for the camera-pair link, as a program a
// person can run next to a main camera. It listens on 8765 (and a stand-in
// HTTP service on 10414), answers the pairing check of its configured main
// and work-event requests, and prints every frame and GET it receives.
//
//   subcamsim --id SUB-1 --main MAIN [--port 8765] [--rest-port 10414]
//             [--script TOKENS]...     one per connection, the last repeats
//
// TOKENS, comma-separated: right | wrong | silent (the pairing answer),
// late=MS (answer the check MS late), otheruuid, nopong (stop reading after
// the check), reply=ok|ng|empty|wronguuid|twice|silent|junk, replylate=MS.
//
// Commands on standard input, one per line: die, back, block (hang without
// closing anything, as a sub whose link is stuck), unblock, status, quit.
#include "tools/common/tooloptions.h"
#include "tools/subcamsim/subcamerasimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

namespace {

bool parseScript(const QString& text, SubConnectionScript* out)
{
    using Reply = SubConnectionScript::Reply;
    const QMap<QString, Reply> replies{{"ok", Reply::Ok},         {"ng", Reply::Ng},         {"empty", Reply::Empty},
                                       {"wronguuid", Reply::WrongUuid}, {"twice", Reply::Twice}, {"silent", Reply::Silent},
                                       {"junk", Reply::Junk}};
    SubConnectionScript s;
    for (const QString& token : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = token.section(QLatin1Char('='), 0, 0).trimmed();
        const QString value = token.section(QLatin1Char('='), 1).trimmed();
        bool ok = true;
        if (key == "right")
            s.check = SubConnectionScript::Check::Right;
        else if (key == "wrong")
            s.check = SubConnectionScript::Check::Wrong;
        else if (key == "silent")
            s.check = SubConnectionScript::Check::Silent;
        else if (key == "late")
            s.checkDelayMs = value.toInt(&ok);
        else if (key == "otheruuid")
            s.otherUuid = true;
        else if (key == "nopong")
            s.stopReadingAfterCheck = true;
        else if (key == "reply" && replies.contains(value))
            s.reply = replies.value(value);
        else if (key == "replylate")
            s.replyDelayMs = value.toInt(&ok);
        else
            ok = false;
        if (!ok)
            return false;
    }
    *out = s;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("subcamsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated sub camera of a camera group."));
    parser.addHelpOption();
    const QCommandLineOption id(QStringLiteral("id"), QStringLiteral("Own device id."), QStringLiteral("id"),
                                QStringLiteral("SUB-1"));
    const QCommandLineOption mainId(QStringLiteral("main"), QStringLiteral("Device id of the main camera it answers."),
                                    QStringLiteral("id"), QStringLiteral("MAIN"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Link port (default 8765)."),
                                  QStringLiteral("port"), QStringLiteral("8765"));
    const QCommandLineOption restPort(QStringLiteral("rest-port"),
                                      QStringLiteral("Stand-in HTTP port (default 10414, 0: none)."),
                                      QStringLiteral("port"), QStringLiteral("10414"));
    const QCommandLineOption script(QStringLiteral("script"), QStringLiteral("How one connection is played."),
                                    QStringLiteral("tokens"));
    parser.addOptions({id, mainId, port, restPort, script});
    tooloptions::process(parser, app);

    SubCameraSimulator::Config cfg;
    cfg.ownId = parser.value(id);
    cfg.mainId = parser.value(mainId);
    cfg.port = tooloptions::port(parser, port);
    cfg.restPort = quint16(tooloptions::number(parser, restPort, 0, 65535));
    for (const QString& s : parser.values(script)) {
        SubConnectionScript one;
        if (!parseScript(s, &one)) {
            QTextStream(stderr) << "subcamsim: bad script: " << s << "\n";
            return 2;
        }
        cfg.scripts.append(one);
    }

    SubCameraSimulator sim(cfg);
    QTextStream out(stdout);
    if (!sim.start()) {
        QTextStream(stderr) << "subcamsim: " << sim.errorString() << "\n";
        return 1;
    }
    out << "subcamsim " << cfg.ownId << " listening on " << cfg.port << Qt::endl;

    int shownFrames = 0, shownGets = 0;
    QTimer print;
    QObject::connect(&print, &QTimer::timeout, [&] {
        const auto frames = sim.frames();
        for (; shownFrames < frames.size(); ++shownFrames)
            out << "[" << frames.at(shownFrames).connection << "] " << frames.at(shownFrames).text << Qt::endl;
        const auto gets = sim.httpGets();
        for (; shownGets < gets.size(); ++shownGets)
            out << "GET " << gets.at(shownGets) << Qt::endl;
    });
    print.start(100);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QTextStream in(stdin);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        const QString line = in.readLine().trimmed();
        if (line.isNull() || line == "quit")
            app.quit();
        else if (line == "die")
            sim.die();
        else if (line == "block")
            sim.block();
        else if (line == "unblock")
            sim.unblock();
        else if (line == "back")
            out << (sim.comeBack() ? "listening" : sim.errorString()) << Qt::endl;
        else if (line == "status")
            out << "connections " << sim.connections() << ", checks " << sim.checkRequests()
                << (sim.blocked() ? ", blocked" : "") << Qt::endl;
        else if (!line.isEmpty())
            out << "commands: die, back, block, unblock, status, quit" << Qt::endl;
    });
    return app.exec();
}
