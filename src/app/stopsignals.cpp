#include "app/stopsignals.h"
#include "foundation/logmanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_pipe[2] = {-1, -1};

void onStopSignal(int sig)
{
    const char c = char(sig);
    // Only async-signal-safe work here: wake the event loop.
    [[maybe_unused]] ssize_t n = ::write(g_pipe[0], &c, 1);
}
}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0) {
        qCWarning(level_1) << "[MAIN] no stop-signal channel; SIGTERM ends the process abruptly";
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::onSignal);

    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void StopSignals::onSignal()
{
    char c = 0;
    if (::read(g_pipe[1], &c, 1) == 1)
        qCInfo(level_1) << "[MAIN] stop signal" << int(c) << "received, leaving the event loop";
    QCoreApplication::quit();
}
