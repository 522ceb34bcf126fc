#pragma once
// A transport without sockets for the IO-frame tests: counts output flushes,
// lets a test set the module's output word and contact, and runs work (such
// as an input word arriving) in the transport thread.
#include "io/frameio_reactor.h"

#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>

class FakeReactor : public FrameIO_Reactor {
public:
    ~FakeReactor() override { shutdownThread(); }

    void on_HasOutput() override
    {
        flushAt.store(std::chrono::steady_clock::now().time_since_epoch().count());
        flushes.fetch_add(1);
        flushThread.store(QThread::currentThread());
    }
    bool Start() override
    {
        started.store(true);
        return true;
    }

    void setOutputWord(int bits) { output_word.store(bits); }
    void contactNow() { update_TimerCnted_LastTime(); }

    // Runs `fn` in the transport thread and waits for it.
    void runHere(const std::function<void()>& fn)
    {
        QMetaObject::invokeMethod(this, fn, Qt::BlockingQueuedConnection);
    }
    // An input word reported by the module, as the link reports it.
    void input(int bits)
    {
        runHere([this, bits] { emit sig_HasInput(bits); });
    }

    std::atomic<int> flushes{0};
    std::atomic<std::chrono::steady_clock::rep> flushAt{0};  // steady-clock time of the last flush
    std::atomic<QThread*> flushThread{nullptr};
    std::atomic<bool> started{false};
};
