// Tessid, the monitor daemon: holds the camera program's liveness segment,
// serves liveness, reboot and reset on TCP 10418, and answers discovery on
// UDP 10419. Runs in the camera's working directory; stops cleanly on
// SIGTERM and SIGINT.
//
// Test hooks from the environment: TESSID_LIVENESS_KEY (the segment key),
// TESSID_STALE_MS (the staleness limit, 40000 by default).
#include "commandline/programarguments.h"
#include "daemon/business.h"
#include "daemon/udp_service.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

const char* const kUsage =
    "usage: Tessid [--help | --version]\n"
    "The monitor daemon of the camera program: liveness, reboot and reset on TCP 10418, discovery\n"
    "answers on UDP 10419. Started without arguments in the camera's working directory; stops on\n"
    "SIGTERM and SIGINT.\n"
    "\n"
    "Environment:\n"
    "  ORVALE_DATA_ROOT     folder that stands for the device's \"/\" (the alarm images of a reset)\n"
    "  ORVALE_DEVICE=1      run the commands that change the machine (reboot); without it they are\n"
    "                       logged and recorded only\n"
    "  ORVALE_DEVICE_ID     the device id (several simulated cameras on one machine)\n"
    "  TESSID_STALE_MS      how long the camera program may stay silent, in ms (default 40000)\n"
    "  TESSID_LIVENESS_KEY  key of the shared liveness segment (tests)\n"
    "  TMPDIR               folder of the file that keys the shared segment\n";

// Log lines name the source file by its path in the project
// ("daemon/business.cpp"), not by the path the compiler was given
// (absolute, or relative to the build folder).
QByteArray projectPath(const char* file)
{
    QString path = QString::fromLocal8Bit(file);
    if (QDir::isRelativePath(path))
        path = QDir::cleanPath(QStringLiteral(ORVALE_BUILD_DIR "/") + path);
    const QString source = QDir::cleanPath(QStringLiteral(ORVALE_SOURCE_DIR)) + QLatin1Char('/');
    if (path.startsWith(source))
        path = path.mid(source.size());
    return path.toLocal8Bit();
}

void writeMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QByteArray file = context.file ? projectPath(context.file) : QByteArray();
    const QMessageLogContext shown(context.file ? file.constData() : nullptr, context.line, context.function,
                                   context.category);
    const QByteArray line = qFormatLogMessage(type, shown, message).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

void onStopSignal(int)
{
    const char c = 1;
    // Nothing to do when the pipe is full: a stop is already pending.
    (void)!::write(g_stopPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char* argv[])
{
    const int answered = ProgramArguments::answer(argc, argv, "Tessid", TESSID_VERSION, kUsage);
    if (answered >= 0)
        return answered;
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("(%{time hh:mm:ss.zzz} %{threadid} %{file}:%{line}): \t%{message}"));
    qInstallMessageHandler(writeMessage);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_stopPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_stopPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGINT, &sa, nullptr);
    }

    business::Options options;
    const QByteArray key = qgetenv("TESSID_LIVENESS_KEY");
    if (!key.isEmpty())
        options.liveness.key = QString::fromUtf8(key);
    bool ok = false;
    const qint64 stale = qEnvironmentVariable("TESSID_STALE_MS").toLongLong(&ok);
    if (ok && stale > 0)
        options.liveness.staleAfterMs = stale;

    auto* service = new business(options);
    service->start();
    auto* discovery = new Udp_Service;
    const int code = app.exec();
    delete discovery;
    delete service;
    return code;
}
