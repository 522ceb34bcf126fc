// Tessid, the monitor daemon: holds the camera program's liveness segment,
// serves liveness, reboot and reset on TCP 10418, and answers discovery on
// UDP 10419. Runs in the camera's working directory; stops cleanly on
// SIGTERM and SIGINT.
//
// Test hooks from the environment: TESSID_LIVENESS_KEY (the segment key),
// TESSID_STALE_MS (the staleness limit, 40000 by default).
#include "daemon/business.h"
#include "daemon/udp_service.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int)
{
    const char c = 1;
    // Nothing to do when the pipe is full: a stop is already pending.
    (void)!::write(g_stopPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qSetMessagePattern(QStringLiteral("(%{time hh:mm:ss.zzz} %{threadid} %{file}:%{line}): \t%{message}"));

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
