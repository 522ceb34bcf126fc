#pragma once
// The transport under the IO frame: keeps the last input and output words the
// IO module reported, tells whether its own thread is alive and whether the
// module has been heard from, and merges output changes that follow each other
// within 1 ms into one transmission.
//
// Threads: the object moves itself into a thread of its own (started by the
// constructor, highest priority) and its timers fire there. The words and the
// time stamps are atomic and may be read from any thread. It must be created
// without a parent and destroyed from another thread than its own.
//
// Liveness ages are taken on the monotonic clock, so a step of the wall clock
// or the wrap of the 10 ms tick never makes a silent peer look alive.
//
// The 1 ms output window opens at the request itself, in the caller's thread
// (a kernel timer armed there); the transport thread only wakes when it
// closes. Where that timer cannot be made, the request is posted to the
// transport thread, which opens the window on arrival.
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>

class FrameIO_Reactor : public QObject {
    Q_OBJECT
public:
    FrameIO_Reactor();
    ~FrameIO_Reactor() override;

    // Marks contact with the module now and sets the contact flag.
    void update_TimerCnted_LastTime();
    // The thread's alive tick ran within the alive limit.
    bool getTimerAlived() const;
    // The module was heard from within the contact limit.
    bool getIsCnted() const;

    // 0: send the outputs now, in the caller's thread; 1: send them 1 ms from
    // now in the transport thread (merging what follows); other values: nothing.
    void HasOutput(int mode);
    // Called before the outputs change: a window that has already closed but
    // whose flush the transport thread has not run yet (it runs late) is
    // flushed now, in the caller's thread, with the outputs it closed on.
    // Otherwise the change would re-open the window and the words it held
    // (a short OK pulse) would never reach the module.
    void flushOverdueWindow();

    // The last words reported by the module (bit i = IO i).
    int get_input_word() const { return input_word.load(); }
    int get_output_word() const { return output_word.load(); }

    int get_alived_limit() const { return alived_limit; }
    int get_cnted_limit() const { return cnted_limit; }

    QThread* reactorThread() { return &reactor_thread; }

public slots:
    // Sends the current outputs.
    virtual void on_HasOutput() = 0;
    // Opens the transport.
    virtual bool Start() = 0;
    // Stops the timers. From another thread it waits until they are stopped in
    // the transport thread and returns false; in the transport thread, true.
    virtual bool Stop();
    // (Re)starts the 1 ms output window from now; the flush runs in the
    // transport thread when it closes. True when called in the transport
    // thread, false from any other.
    bool start_Timer_FlushIO_Output();

signals:
    void sig_HasInput(int inputdata);
    void sig_CntedBroke();

protected:
    // Stamps contact with the module (the time only; the contact flag is left).
    void stampContact();
    // Stops the timers, ends the thread and waits for it; safe to call twice.
    // A derived destructor calls it first, so that no timer reaches a pure
    // operation of a half-destroyed object.
    void shutdownThread();
    bool inOwnThread() const { return QThread::currentThread() == thread(); }

    std::atomic<int> input_word{0};
    std::atomic<int> output_word{0};
    int alived_limit = 1000;  // ms
    int cnted_limit = 2000;   // ms

private:
    void checkContact();
    void stopTimersHere();
    // Transport thread: watch the window's kernel timer, and flush when it expires.
    void watchFlushWindow();
    void flushWindowClosed();
    // Any thread: (re)arms the window's kernel timer to `ns` from now (0 disarms).
    bool armFlushWindow(long ns);

    QThread reactor_thread;
    QTimer* timer_flush = nullptr;  // the window where no kernel timer could be made
    int flush_fd = -1;              // the window's kernel timer (timerfd), or -1
    // A window armed on the kernel timer whose flush has not run yet; taken
    // (set false) by whoever flushes it: the transport thread or a caller
    // finding it overdue.
    std::atomic<bool> window_open{false};
    QSocketNotifier* flush_notifier = nullptr;
    std::atomic<int> cnted{0};
    QTimer* timer_alived = nullptr;
    QTimer* timer_cnted = nullptr;
    std::atomic<qint64> alived_lasttime;
    std::atomic<qint64> cnted_lasttime;
};
