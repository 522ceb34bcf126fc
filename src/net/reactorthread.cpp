#include "net/reactorthread.h"

#include <QThread>

#include <thread>

namespace CLSC {

ReactorThread::ReactorThread(const QString& name) : m_thread(new QThread), m_context(new QObject)
{
    m_thread->setObjectName(name);
    m_context->moveToThread(m_thread);
    // The context goes with the thread's last events.
    QObject::connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater, Qt::DirectConnection);
    m_thread->start(QThread::InheritPriority);
}

ReactorThread::~ReactorThread()
{
    m_thread->quit();
    if (QThread::currentThread() == m_thread) {
        // Released by work running on it: it cannot wait for itself.
        QThread* t = m_thread;
        std::thread([t] {
            t->wait();
            delete t;
        }).detach();
        return;
    }
    m_thread->wait();
    delete m_thread;
}

bool ReactorThread::post(std::function<void()> fn)
{
    return QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

}  // namespace CLSC
