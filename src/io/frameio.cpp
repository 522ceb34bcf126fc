#include "io/frameio.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <limits>

namespace {
bool validIndex(int index)
{
    return index >= 0 && index < kIoPointCount;
}
}  // namespace

FrameIO::FrameIO() : QObject(nullptr)
{
    registerIoMetaTypes();
    timer_noinput.setSingleShot(true);
    connect(&timer_noinput, &QTimer::timeout, this, [this] { slot_TimerIO_NoInput(); });
}

FrameIO::~FrameIO()
{
    releaseReactor();
}

void FrameIO::releaseReactor()
{
    if (!reactor)
        return;
    // No more input words for this frame.
    disconnect(reactor.data(), nullptr, this, nullptr);
    // The debounce timers belong to the transport thread, which may be
    // adding one right now: look at them, stop them and let them go there
    // (after any input word it is handling), then end the transport.
    const auto releaseTimers = [this] {
        for (const auto& t : qAsConst(debounce_timers))
            t->stop();
        debounce_timers.clear();
    };
    QThread* transport = reactor->reactorThread();
    if (transport->isRunning() && QThread::currentThread() != transport)
        QMetaObject::invokeMethod(reactor.data(), releaseTimers, Qt::BlockingQueuedConnection);
    else
        releaseTimers();
    reactor.reset();
}

// ---- Parameters ---------------------------------------------------------------

void FrameIO::initParams(FrameIO_Params p)
{
    QMutexLocker lock(&params_mutex);
    params = p;
}

FrameIO_Params FrameIO::getParams() const
{
    QMutexLocker lock(&params_mutex);
    return params;
}

void FrameIO::editParams(const std::function<void(FrameIO_Params&)>& edit)
{
    QMutexLocker lock(&params_mutex);
    edit(params);
}

void FrameIO::setIO_TrigOut(const int table[kIoPointCount])
{
    bool changed = false;
    {
        QMutexLocker lock(&params_mutex);
        changed = !std::equal(table, table + kIoPointCount, params.output_init_status);
        std::copy(table, table + kIoPointCount, params.output_init_status);
    }
    // The reset reads the new table itself, so it runs after the lock is let go.
    if (changed)
        IOSetOut_ResetAllKeep();
}

void FrameIO::setIO_TrigIn(const int table[kIoPointCount])
{
    QMutexLocker lock(&params_mutex);
    std::copy(table, table + kIoPointCount, params.input_trig);
}

void FrameIO::setIO_NoInputTip_LimitTime(double seconds)
{
    QMutexLocker lock(&params_mutex);
    params.inputtimeout = (seconds > 1e8 || seconds < 0) ? 60.0 : seconds;
}

QList<ElectricLevel> FrameIO::getInput_AbsIOTrig(int index) const
{
    QList<ElectricLevel> out;
    if (!validIndex(index))
        return out;
    int flags = 0;
    {
        QMutexLocker lock(&params_mutex);
        flags = params.input_trig[index];
    }
    if (flags & 1)
        out.append(ElectricLevel_High);
    if (flags & 2)
        out.append(ElectricLevel_Low);
    return out;
}

// ---- Outputs ----------------------------------------------------------------------

ElectricLevel FrameIO::getOutput_Rel2Abs_IOLevel(int index, IOState_Rel rel) const
{
    if (!validIndex(index))
        return ElectricLevel_Low;
    int rest = 0;
    {
        QMutexLocker lock(&params_mutex);
        rest = params.output_init_status[index];
    }
    if (rel == IOState_Rel_Active)
        return rest == 0 ? ElectricLevel_High : ElectricLevel_Low;
    return rest == 0 ? ElectricLevel_Low : ElectricLevel_High;
}

QList<IO_IndexLevel> FrameIO::getOutput_AfterBackup(IO_IndexLevel p) const
{
    int sub = 0;
    {
        QMutexLocker lock(&params_mutex);
        sub = params.backup_output_sub;
    }
    if (sub >= 1 && sub <= 3 && p.index == sub - 1)
        return {IO_IndexLevel{3, p.level}};
    return {};
}

int FrameIO::getOutput_AfterBackup(int bits) const
{
    int sub = 0;
    {
        QMutexLocker lock(&params_mutex);
        sub = params.backup_output_sub;
    }
    if (sub < 1 || sub > 3)
        return bits;
    const bool on = bits & (1 << (sub - 1));
    return on ? (bits | (1 << 3)) : (bits & ~(1 << 3));
}

int FrameIO::getInput_AfterBackup(int bits) const
{
    int sub = 0;
    {
        QMutexLocker lock(&params_mutex);
        sub = params.backup_input_sub;
    }
    if (sub < 1 || sub > 3)
        return bits;
    const int b = sub - 1;
    const bool on = bits & (1 << 3);
    return on ? (bits | (1 << b)) : (bits & ~(1 << b));
}

void FrameIO::IOSetOut(int index, int rel)
{
    if (!validIndex(index))
        return;
    const ElectricLevel level = getOutput_Rel2Abs_IOLevel(index, IOState_Rel(rel));
    sendOutPut(index, level);
    for (const IO_IndexLevel& e : getOutput_AfterBackup(IO_IndexLevel{index, level}))
        sendOutPut(e.index, e.level);
}

void FrameIO::IOSetOut_Abs(int index, int level)
{
    if (!validIndex(index))
        return;
    sendOutPut(index, level);
    const ElectricLevel lv = level ? ElectricLevel_High : ElectricLevel_Low;
    for (const IO_IndexLevel& e : getOutput_AfterBackup(IO_IndexLevel{index, lv}))
        sendOutPut(e.index, level);
}

void FrameIO::IOSetOut(const QString& file, int line, int index, int rel)
{
    qDebug().noquote() << QStringLiteral("<%1>:").arg(QStringLiteral("IOSetOut")) << "IO-Output file:" << file
                       << "line:" << line;
    IOSetOut(index, rel);
}

void FrameIO::IOSetOut_Abs(const QString& /*file*/, int /*line*/, int index, int level)
{
    IOSetOut_Abs(index, level);
}

void FrameIO::IOSetOut_ResetAllKeep()
{
    if (!getIsCnted())
        return;
    for (int i = 0; i < kIoPointCount; ++i)
        FrameIO::IOSetOut(i, IOState_Rel_Rest);
}

void FrameIO::IOSetOut_AllCutoff()
{
    if (!reactor || reactor->get_output_word() == 0)
        return;
    for (int i = 0; i < kIoPointCount; ++i)
        FrameIO::IOSetOut_Abs(i, ElectricLevel_Low);
}

void FrameIO::slot_CntedBroke()
{
    IOSetOut_AllCutoff();
}

// ---- Transport ----------------------------------------------------------------------

void FrameIO::setReactor(FrameIO_Reactor* r)
{
    if (reactor) {
        qDebug().noquote() << QStringLiteral("<%1>:").arg(QStringLiteral("setReactor")) << "start stop setReactor";
        reactor->Stop();
        releaseReactor();
    }
    reactor.reset(r);
    if (r) {
        connect(r, &FrameIO_Reactor::sig_HasInput, this, [this](int bits) { slot_HasInput(bits); },
                Qt::DirectConnection);
        connect(r, &FrameIO_Reactor::sig_CntedBroke, this, [this] { slot_CntedBroke(); },
                Qt::DirectConnection);
        r->Start();
    }
}

bool FrameIO::getIsCnted() const
{
    return reactor && reactor->getIsCnted();
}

bool FrameIO::getTimerAlived() const
{
    return reactor && reactor->getTimerAlived();
}

// ---- Input changes and debouncing -----------------------------------------------------

void FrameIO::checkIOInput(int newBits, int oldBits)
{
    int backupSub = 0;
    {
        QMutexLocker lock(&params_mutex);
        backupSub = params.backup_input_sub;
    }
    const int b = backupSub - 1;
    const bool backupOn = backupSub >= 1 && backupSub <= 3;

    // The backed-up input follows input 4, unless it changed by itself.
    if (!bits_diff_index(newBits, oldBits).contains(b))
        newBits = getInput_AfterBackup(newBits);

    QList<int> changed = bits_diff_index(newBits, oldBits);
    if (changed.contains(3) && backupOn && !changed.contains(b))
        changed.append(b);
    if (changed.isEmpty())
        return;

    QMap<int, ElectricLevel> candidates;
    QList<int> quiet;
    int flags[kIoPointCount];
    int shake = 0;
    {
        QMutexLocker lock(&params_mutex);
        std::copy(params.input_trig, params.input_trig + kIoPointCount, flags);
        shake = params.shakeerase_time;
    }
    for (int i : qAsConst(changed)) {
        if (!validIndex(i))
            continue;
        const bool high = newBits & (1 << i);
        if (high && (flags[i] & 1))
            candidates.insert(i, ElectricLevel_High);
        else if (!high && (flags[i] & 2))
            candidates.insert(i, ElectricLevel_Low);
        else
            quiet.append(i);
    }

    if (shake < 1) {
        if (candidates.isEmpty())
            return;
        {
            QMutexLocker lock(&trig_mutex);
            for (auto it = candidates.cbegin(); it != candidates.cend(); ++it)
                trig_levels.insert(it.key(), it.value());
        }
        RealTriggering();
        return;
    }

    // A change back to a level that does not trigger ends a pending debounce.
    for (int i : qAsConst(quiet)) {
        auto it = debounce_timers.find(i);
        if (it != debounce_timers.end())
            it.value()->stop();
    }
    // 100 ms units; a time beyond the longest a timer takes is cut there
    // (rather than wrapping to a negative interval the timer refuses).
    const int debounceMs = int(std::min<qint64>(qint64(shake) * 100, std::numeric_limits<int>::max()));
    for (auto c = candidates.cbegin(); c != candidates.cend(); ++c) {
        const int i = c.key();
        const ElectricLevel level = c.value();
        auto it = debounce_timers.find(i);
        if (it == debounce_timers.end()) {
            QSharedPointer<Timer_Debouncing> timer(new Timer_Debouncing(i));
            connect(timer.data(), &Timer_Debouncing::timeout_index, timer.data(),
                    [this](int index, ElectricLevel lv) { confirmDebounced(index, lv); });
            debounce_timers.insert(i, timer);
            timer->set_pretrig_level(level);
            timer->start(debounceMs);
        } else if (!it.value()->isActive()) {
            it.value()->set_pretrig_level(level);
            it.value()->start(debounceMs);
        } else if (it.value()->get_pretrig_level() != level) {
            // A bounce: the input went the other way before the time was up.
            it.value()->stop();
        }
    }
}

void FrameIO::confirmDebounced(int index, ElectricLevel level)
{
    {
        QMutexLocker lock(&trig_mutex);
        trig_levels.insert(index, level);
    }
    RealTriggering();
}

QMap<int, ElectricLevel> FrameIO::takeTriggerLevels()
{
    QMutexLocker lock(&trig_mutex);
    QMap<int, ElectricLevel> out;
    out.swap(trig_levels);
    return out;
}
