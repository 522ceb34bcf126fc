#pragma once
// A long-lived thread with its event loop on which reactors run their
// connections, instead of each reactor starting a worker thread of its own:
// the publisher's pushes share one, so a push costs no thread start and no
// thread end. Work handed to it runs in the order it was handed over.
//
// Threads: made and released on any thread but its own (the last owner's
// release stops and joins it); post() may be called from any thread.
#include <QObject>
#include <QString>

#include <functional>

class QThread;

namespace CLSC {

class ReactorThread {
public:
    explicit ReactorThread(const QString& name);
    ~ReactorThread();
    ReactorThread(const ReactorThread&) = delete;
    ReactorThread& operator=(const ReactorThread&) = delete;

    QThread* thread() const { return m_thread; }
    // An object living on the thread (a context for timers and calls).
    QObject* context() const { return m_context; }
    // Runs `fn` on the thread after everything handed over before it.
    bool post(std::function<void()> fn);

private:
    QThread* m_thread;
    QObject* m_context;
};

}  // namespace CLSC
