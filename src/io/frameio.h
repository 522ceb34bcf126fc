#pragma once
// The abstract IO frame the rest of the program talks to: eight outputs and
// eight inputs of the moulding machine, reached through a transport
// (FrameIO_Reactor) that it owns.
//
// It holds the IO parameters, turns relative output requests ("active" or
// "rest") into levels through the rest-level table, mirrors a backed-up
// output, and turns changes of the input word into debounced trigger events
// (sig_HasIOTrig, a map input -> level).
//
// Threads: created and called in the main thread. slot_HasInput,
// checkIOInput and the debounce timers run in the transport thread (direct
// connection from the transport); triggers are raised in the main thread.
// params_mutex guards the parameters, trig_mutex the confirmed levels.
#include "io/frameio_reactor.h"
#include "io/iotypes.h"
#include "io/timer_debouncing.h"

#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

#include <functional>

class FrameIO : public QObject {
    Q_OBJECT
public:
    FrameIO();
    ~FrameIO() override;

    // ---- Parameters ----
    FrameIO_Params getParams() const;
    // Changes the parameters in place under params_mutex (the process
    // parameters write the debounce time and the backup settings this way).
    void editParams(const std::function<void(FrameIO_Params&)>& edit);
    // Stores new rest levels; when they differ from the ones in force and the
    // module is in contact, every output is driven to its new rest level.
    void setIO_TrigOut(const int table[kIoPointCount]);
    // Stores the input trigger flags.
    void setIO_TrigIn(const int table[kIoPointCount]);
    // Stores the no-input warning limit; values above 1e8 or below 0 store 60.
    void setIO_NoInputTip_LimitTime(double seconds);
    // The levels on which an input triggers: high first, then low.
    QList<ElectricLevel> getInput_AbsIOTrig(int index) const;

    // ---- Outputs ----
    ElectricLevel getOutput_Rel2Abs_IOLevel(int index, IOState_Rel rel) const;
    QList<IO_IndexLevel> getOutput_AfterBackup(IO_IndexLevel p) const;
    int getOutput_AfterBackup(int bits) const;
    int getInput_AfterBackup(int bits) const;

    // The logging form used by the hub and the HTTP API.
    void IOSetOut(const QString& file, int line, int index, int rel);
    // The form used by the flow.
    void IOSetOut_Abs(const QString& file, int line, int index, int level);

    // ---- Transport ----
    // Stops and replaces the transport (the frame owns it) and starts the new one.
    void setReactor(FrameIO_Reactor* r);
    FrameIO_Reactor* getReactor() const { return reactor.data(); }
    bool getIsCnted() const;
    bool getTimerAlived() const;

public slots:
    virtual void initParams(FrameIO_Params p);
    virtual void IOSetOut(int index, int rel);
    virtual void IOSetOut_Abs(int index, int level);
    virtual void updateIONoInputTip() = 0;
    // Every output to its rest level, while the module is in contact.
    virtual void IOSetOut_ResetAllKeep();
    // Every output low, when the module reports any output high.
    virtual void IOSetOut_AllCutoff();
    virtual void checkIOInput(int newBits, int oldBits);
    virtual void sendOutPut(int index, int level) = 0;
    virtual void slot_HasInput(int inputdata) = 0;
    virtual void slot_CntedBroke();
    virtual void slot_TimerIO_NoInput() = 0;
    // -1 nothing to raise, 0 re-posted to the frame's thread, 1 handled.
    virtual int RealTriggering() = 0;

signals:
    void sig_HasIOTrig(QMap<int, ElectricLevel> levels);

protected:
    // Disconnects, stops and releases the transport and the debounce timers.
    // A derived frame calls it from its destructor, before its own part is
    // gone, so that no input word reaches a half-destroyed frame.
    void releaseReactor();
    // A debounce timer ran out: the level is confirmed.
    void confirmDebounced(int index, ElectricLevel level);
    // Takes the confirmed levels out, under trig_mutex.
    QMap<int, ElectricLevel> takeTriggerLevels();

    QSharedPointer<FrameIO_Reactor> reactor;
    mutable QMutex params_mutex;
    FrameIO_Params params;
    QTimer timer_noinput;
    QMap<int, QSharedPointer<Timer_Debouncing>> debounce_timers;  // transport thread only
    QMap<int, ElectricLevel> trig_levels;
    QMutex trig_mutex;
};
