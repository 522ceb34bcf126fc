#include "io/frameio_reactor.h"

#include "foundation/logmanager.h"
#include "platform/system/monotonicclock.h"

#include <QDebug>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>
#endif

namespace {
// A stamp that was never taken.
constexpr qint64 kNever = std::numeric_limits<qint64>::min();

// The output window.
constexpr long kFlushWindowNs = 1000000;

bool stampYounger(qint64 stamp, int limitMs)
{
    return stamp != kNever && platform::MonotonicClock::ageMs(stamp) < limitMs;
}
}  // namespace

FrameIO_Reactor::FrameIO_Reactor() : alived_lasttime(kNever), cnted_lasttime(kNever)
{
    timer_flush = new QTimer(this);
    timer_flush->setSingleShot(true);
    timer_flush->setTimerType(Qt::PreciseTimer);
    connect(timer_flush, &QTimer::timeout, this, [this] { on_HasOutput(); });
#ifdef Q_OS_LINUX
    flush_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (flush_fd < 0)
        qCWarning(level_1) << "[IO] no kernel timer for the output window (" << std::strerror(errno)
                           << "): output requests are posted to the transport thread";
#endif

    timer_alived = new QTimer(this);
    timer_alived->setInterval(200);
    connect(timer_alived, &QTimer::timeout, this,
            [this] { alived_lasttime.store(platform::MonotonicClock::nowMs()); });

    timer_cnted = new QTimer(this);
    timer_cnted->setInterval(200);
    connect(timer_cnted, &QTimer::timeout, this, [this] { checkContact(); });

    moveToThread(&reactor_thread);
    reactor_thread.setObjectName(QStringLiteral("io_reactor"));
    reactor_thread.start();
    reactor_thread.setPriority(QThread::HighestPriority);
    // Timers are started in the thread they belong to.
    QMetaObject::invokeMethod(
        this,
        [this] {
#ifdef Q_OS_LINUX
            // The 1 ms output window should not be stretched by the kernel's
            // default timer slack (50 us) on this thread.
            prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
            timer_alived->start();
            watchFlushWindow();
        },
        Qt::QueuedConnection);
}

FrameIO_Reactor::~FrameIO_Reactor()
{
    shutdownThread();
#ifdef Q_OS_LINUX
    if (flush_fd >= 0)
        ::close(flush_fd);
#endif
}

void FrameIO_Reactor::shutdownThread()
{
    if (!reactor_thread.isRunning())
        return;
    if (QThread::currentThread() == &reactor_thread) {
        // Cannot wait for the own thread; the owner must destroy the
        // transport from elsewhere. Stop what can be stopped.
        stopTimersHere();
        delete flush_notifier;
        flush_notifier = nullptr;
        reactor_thread.quit();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            stopTimersHere();
            delete flush_notifier;  // in the thread it watches from
            flush_notifier = nullptr;
        },
        Qt::BlockingQueuedConnection);
    reactor_thread.quit();
    reactor_thread.wait();
}

void FrameIO_Reactor::stopTimersHere()
{
    timer_alived->stop();
    timer_cnted->stop();
    timer_flush->stop();
    window_open.store(false);
    armFlushWindow(0);
}

void FrameIO_Reactor::watchFlushWindow()
{
    if (flush_fd < 0)
        return;
    flush_notifier = new QSocketNotifier(flush_fd, QSocketNotifier::Read, this);
    connect(flush_notifier, &QSocketNotifier::activated, this, [this] { flushWindowClosed(); });
}

void FrameIO_Reactor::flushWindowClosed()
{
#ifdef Q_OS_LINUX
    // A window reopened after it expired reads nothing here (re-arming clears
    // the expiry): its flush comes when the new window closes.
    uint64_t expirations = 0;
    if (::read(flush_fd, &expirations, sizeof expirations) == ssize_t(sizeof expirations) && expirations > 0
        && window_open.exchange(false))
        on_HasOutput();
#endif
}

void FrameIO_Reactor::flushOverdueWindow()
{
#ifdef Q_OS_LINUX
    if (flush_fd < 0 || !window_open.load())
        return;
    itimerspec left{};
    if (timerfd_gettime(flush_fd, &left) != 0)
        return;
    const bool closed = left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0;
    if (closed && window_open.exchange(false)) {
        qCInfo(level_1).noquote() << "[IO_OUTPUT] the output window closed before the transport thread flushed it:"
                                     " sent before the next change";
        on_HasOutput();
    }
#endif
}

bool FrameIO_Reactor::armFlushWindow(long ns)
{
#ifdef Q_OS_LINUX
    if (flush_fd < 0)
        return false;
    itimerspec window{};
    window.it_value.tv_nsec = ns;
    return timerfd_settime(flush_fd, 0, &window, nullptr) == 0;
#else
    Q_UNUSED(ns);
    return false;
#endif
}

void FrameIO_Reactor::update_TimerCnted_LastTime()
{
    cnted_lasttime.store(platform::MonotonicClock::nowMs());
    cnted.store(1);
}

void FrameIO_Reactor::stampContact()
{
    cnted_lasttime.store(platform::MonotonicClock::nowMs());
}

bool FrameIO_Reactor::getTimerAlived() const
{
    return stampYounger(alived_lasttime.load(), alived_limit);
}

bool FrameIO_Reactor::getIsCnted() const
{
    return stampYounger(cnted_lasttime.load(), cnted_limit);
}

void FrameIO_Reactor::HasOutput(int mode)
{
    if (mode == 0)
        on_HasOutput();
    else if (mode == 1)
        start_Timer_FlushIO_Output();
}

bool FrameIO_Reactor::start_Timer_FlushIO_Output()
{
    window_open.store(true);
    if (armFlushWindow(kFlushWindowNs))
        return inOwnThread();
    window_open.store(false);
    if (inOwnThread()) {
        timer_flush->start(1);
        return true;
    }
    QMetaObject::invokeMethod(this, [this] { start_Timer_FlushIO_Output(); }, Qt::QueuedConnection);
    return false;
}

bool FrameIO_Reactor::Stop()
{
    if (inOwnThread()) {
        stopTimersHere();
        return true;
    }
    if (reactor_thread.isRunning())
        QMetaObject::invokeMethod(this, [this] { Stop(); }, Qt::BlockingQueuedConnection);
    return false;
}

void FrameIO_Reactor::checkContact()
{
    if (getIsCnted())
        return;
    if (cnted.exchange(0) != 0)
        emit sig_CntedBroke();
}
