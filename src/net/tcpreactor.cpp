#include "net/tcpreactor.h"
#include "foundation/logmanager.h"

#include "foundation/publictools.h"
#include "net/netlog.h"
#include "net/sci_execobj_send.h"
#include "net/session.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QThread>

namespace CLSC {

namespace {
std::atomic<int> g_sessionCounter{0};
std::atomic<int> g_postCounter{0};
constexpr qint64 kTaskMaxAgeMs = 60000;
constexpr int kConnectWaitMs = 200;  // a client start waits this long for its connection
}  // namespace

int TcpReactor::nextSessionNumber() { return ++g_sessionCounter; }
int TcpReactor::lastSessionNumber() { return g_sessionCounter.load(); }

TcpReactor::TcpReactor(QObject* parent) : QObject(parent)
{
    static const bool registered = [] {
        registerNetMetaTypes();
        qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
        return true;
    }();
    (void)registered;
    connect(&task_purge_timer, &QTimer::timeout, this, &TcpReactor::purgeTasks);
    connect(&session_purge_timer, &QTimer::timeout, this, &TcpReactor::purgeSessions);
    task_purge_timer.start(30001);
    session_purge_timer.start(10001);
}

TcpReactor::~TcpReactor()
{
    task_purge_timer.stop();
    session_purge_timer.stop();
    // Derived destructors have stopped the worker already.
    if (QThreadPool* pool = m_pool.load())
        pool->waitForDone();
    delete m_pool.load();
}

QThreadPool* TcpReactor::ownPool()
{
    // Made at the first start on a thread of its own: a reactor on a shared
    // thread (every push) never needs one.
    if (!m_pool.load()) {
        auto* pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        m_pool = pool;
    }
    return m_pool.load();
}

int TcpReactor::ownPoolActive() const
{
    QThreadPool* pool = m_pool.load();
    return pool ? pool->activeThreadCount() : 0;
}

void TcpReactor::useThread(std::shared_ptr<ReactorThread> thread)
{
    m_shared = std::move(thread);
}

bool TcpReactor::initialize()
{
    if (isRunning() || m_worker.load())
        return false;
    m_startResult = false;
    if (!m_shared) {
        ownPool()->start([this] { workerMain(); });
    } else if (QThread::currentThread() == m_shared->thread()) {
        // Started from work on the shared thread itself: it cannot wait for
        // its own loop, so the start blocks it as a worker of its own would.
        sharedStarted(onStart());
    } else if (!m_shared->post([this] { beginStart([this](bool ok) { sharedStarted(ok); }); })) {
        return false;
    }
    m_started.acquire();
    return m_startResult;
}

void TcpReactor::sharedStarted(bool ok)
{
    if (ok) {
        {
            QMutexLocker lock(&m_agentLock);
            m_agent = new QObject;
        }
        alive_tick = curtime_qint64_2_int();
        auto* alive = new QTimer(m_agent);
        connect(alive, &QTimer::timeout, m_agent, [this] { alive_tick = curtime_qint64_2_int(); });
        alive->start(1000);
        m_worker = QThread::currentThread();
    }
    m_startResult = ok;
    m_started.release();
}

bool TcpReactor::hasBusySession() const
{
    for (const QPointer<Session>& s : allSessions()) {
        if (s && s->isBusy())
            return true;
    }
    return false;
}

void TcpReactor::finishShared(QSemaphore* done)
{
    if (hasBusySession()) {
        // A session is inside a write or a read (a file send waits in an
        // event loop of its own): end after it, as a worker of its own ends
        // its loop only when that returns.
        QTimer::singleShot(5, m_shared->context(), [this, done] { finishShared(done); });
        return;
    }
    {
        QMutexLocker lock(&m_agentLock);
        delete m_agent;  // with the alive timer
        m_agent = nullptr;
    }
    onFinish();
    m_worker = nullptr;
    if (done)
        done->release();
}

void TcpReactor::deinitialize()
{
    if (QThread::currentThread() == m_worker.load()) {
        // Cannot wait for itself: the loop ends when control returns to it.
        qCWarning(level_1) << "[TCP_REACTOR] stop requested on its own worker thread; not waited for";
        emit readyToClose();
        if (m_shared)
            m_shared->post([this] { finishShared(nullptr); });
        return;
    }
    if (m_shared) {
        if (!m_worker.load())
            return;
        emit readyToClose();
        QSemaphore done;
        m_shared->post([this, &done] { finishShared(&done); });
        done.acquire();
        return;
    }
    if (m_worker.load() || ownPoolActive() > 0) {
        emit readyToClose();
        if (!ownPool()->waitForDone())
            qCWarning(level_1) << "socketThreadPool_->waitForDone error!";
    }
}

bool TcpReactor::reAction(const QHostAddress& h, quint16 p)
{
    deinitialize();
    host = h;
    port = p;
    return initialize();
}

void TcpReactor::workerMain()
{
    QEventLoop loop;
    connect(this, &TcpReactor::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    const bool ok = onStart();
    if (!ok) {
        m_startResult = false;
        m_started.release();
        return;
    }
    {
        QMutexLocker lock(&m_agentLock);
        m_agent = new QObject;
    }
    m_worker = QThread::currentThread();
    m_startResult = true;
    m_started.release();
    alive_tick = curtime_qint64_2_int();
    QTimer alive;
    connect(&alive, &QTimer::timeout, [this] { alive_tick = curtime_qint64_2_int(); });
    alive.start(1000);
    loop.exec();
    alive.stop();
    disconnect(this, &TcpReactor::readyToClose, &loop, nullptr);
    {
        QMutexLocker lock(&m_agentLock);
        delete m_agent;
        m_agent = nullptr;
    }
    onFinish();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_worker = nullptr;
}

bool TcpReactor::runOnWorker(std::function<void()> fn)
{
    QMutexLocker lock(&m_agentLock);
    if (!m_agent)
        return false;
    return QMetaObject::invokeMethod(m_agent, std::move(fn), Qt::QueuedConnection);
}

void TcpReactor::InitSession(Session* s)
{
    connect(s, &Session::sigRequest, this, &TcpReactor::onSessionRequest, Qt::DirectConnection);
    connect(s, &Session::sigResponse, this, &TcpReactor::onSessionResponse, Qt::DirectConnection);
    connect(s, &Session::sigClosed, this, &TcpReactor::sigSessionClosed, Qt::DirectConnection);
}

void TcpReactor::onSessionRequest(const CTask_FormData& form)
{
    updateSoftCnted();
    emit sigRequest(form);
}

void TcpReactor::onSessionResponse(const CTask_FormData& form)
{
    updateSoftCnted();
    if (isAliveTcpTask(form.uuid)) {
        CTask_FormData f = form;
        f.task_info = remove_TaskFromList(form.uuid);
        emit sigResponse(f, true);
    } else {
        emit sigResponse(form, false);
    }
}

void TcpReactor::append_ClientSession(Session* s)
{
    QMutexLocker lock(&sessions_lock);
    sessions.insert(s->index(), QPointer<Session>(s));
}

Session* TcpReactor::sessionAt(int index) const
{
    QMutexLocker lock(&sessions_lock);
    return sessions.value(index).data();
}

QList<QPointer<Session>> TcpReactor::allSessions() const
{
    QMutexLocker lock(&sessions_lock);
    return sessions.values();
}

void TcpReactor::remove_ClientSession(int index)
{
    if (index == -2) {
        purgeSessions();
        return;
    }
    auto removeHere = [this, index] {
        QList<QPointer<Session>> doomed;
        {
            QMutexLocker lock(&sessions_lock);
            for (auto it = sessions.begin(); it != sessions.end();) {
                if (it.value().isNull() || index == -1 || it.key() == index) {
                    doomed << it.value();
                    it = sessions.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const QPointer<Session>& s : doomed)
            delete s.data();  // on its own thread, outside any of its handlers
    };
    QThread* worker = m_worker.load();
    if (!worker || QThread::currentThread() == worker) {
        removeHere();
        return;
    }
    QSemaphore done;
    if (runOnWorker([&] {
            removeHere();
            done.release();
        }))
        done.acquire();
}

void TcpReactor::purgeSessions()
{
    QMutexLocker lock(&sessions_lock);
    for (auto it = sessions.begin(); it != sessions.end();) {
        if (it.value().isNull())
            it = sessions.erase(it);
        else
            ++it;
    }
}

QList<int> TcpReactor::getAliveSession()
{
    QList<int> alive;
    QMutexLocker lock(&sessions_lock);
    for (auto it = sessions.cbegin(); it != sessions.cend(); ++it) {
        // A session is deleted on the worker only after its socket left the
        // connected state, which clears the atomic flag read here first.
        if (!it.value().isNull() && it.value()->isWorking())
            alive << it.key();
    }
    return alive;
}

void TcpReactor::sendHere(const SCI_ExecObj_Send& message, int target)
{
    QList<QPointer<Session>> targets;
    {
        QMutexLocker lock(&sessions_lock);
        if (target == -1) {
            targets = sessions.values();
        } else if (sessions.contains(target)) {
            targets << sessions.value(target);
        }
    }
    for (const QPointer<Session>& s : targets) {
        if (s)
            s->SlotSendAction(message);
    }
}

void TcpReactor::addSendQueue(const CTask_FormData& form)
{
    if (form.session_index == -2)
        return;
    const SCI_ExecObj_Send message(form);
    const int target = form.session_index;
    runOnWorker([this, message, target] { sendHere(message, target); });
}

CTask_FormData TcpReactor::stampedForAsync(const CTask_FormData& form)
{
    CTask_FormData f = form;
    if (f.uuid.isEmpty()) {
        f.uuid = QStringLiteral("defalut#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz") + QLatin1Char('#') +
                 QString::number(++g_postCounter);
    }
    return f;
}

bool TcpReactor::post_async(const CTask_FormData& form)
{
    const CTask_FormData f = stampedForAsync(form);
    append_TcpTask(f);
    addSendQueue(f);
    return true;
}

bool TcpReactor::reActionAndPost(const QHostAddress& h, quint16 p, const CTask_FormData& form)
{
    if (!m_shared || QThread::currentThread() == m_shared->thread()) {
        // A worker of its own, or work on the shared thread itself: the
        // start blocks anyway, so the two steps as they are.
        if (!reAction(h, p))
            return false;
        post_async(form);
        return true;
    }
    deinitialize();
    host = h;
    port = p;
    if (isRunning() || m_worker.load())
        return false;
    // Listed before the start: the answer may come before this call returns.
    const CTask_FormData f = stampedForAsync(form);
    append_TcpTask(f);
    const SCI_ExecObj_Send message(f);
    const int target = f.session_index;
    m_startResult = false;
    const bool posted = m_shared->post([this, message, target] {
        beginStart([this, message, target](bool ok) {
            sharedStarted(ok);  // the caller goes on from here
            // A stop the caller asks for now is queued behind this turn, so
            // the reactor outlives the write.
            if (ok && target != -2)
                sendHere(message, target);
        });
    });
    if (posted)
        m_started.acquire();
    if (!posted || !m_startResult) {
        remove_TaskFromList(f.uuid);
        return false;
    }
    return true;
}

bool TcpReactor::post_sync(CTask_FormData& request, CTask_FormData& response, int timeout)
{
    if (getAliveSession().isEmpty())
        return false;
    if (timeout < 1 || timeout > 60000)
        return false;
    // Match by the exact uuid, stamped here when the caller left it empty,
    // so that an empty uuid cannot match any response.
    if (request.uuid.isEmpty()) {
        request.uuid = QStringLiteral("vistrel#sync#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz") + QLatin1Char('#') +
                       QString::number(++g_postCounter);
    }
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(0); });
    const QString uuid = request.uuid;
    CTask_FormData got;
    bool matched = false;
    const auto c = connect(
        this, &TcpReactor::sigResponse, &loop,
        [&](const CTask_FormData& form, bool) {
            if (matched || !loop.isRunning())
                return;
            if (form.uuid == uuid) {
                got = form;
                matched = true;
                loop.exit(1);
            }
        },
        Qt::QueuedConnection);
    append_TcpTask(request);
    addSendQueue(request);
    guard.start(timeout);
    const int rc = loop.exec();
    disconnect(c);
    if (rc == 1)
        response = got;
    return rc == 1;
}

void TcpReactor::blockAllRecvSIG()
{
    disconnect(this, &TcpReactor::sigResponse, nullptr, nullptr);
    disconnect(this, &TcpReactor::sigRequest, nullptr, nullptr);
}

void TcpReactor::updateSoftCnted() { soft_connected_time = gettimeofday_ms(); }

void TcpReactor::append_TcpTask(const CTask_FormData& form)
{
    if (form.uuid.isEmpty())
        return;
    TcpTsk_Info info(form.uuid);
    info.url = form.url;
    QMutexLocker lock(&tasks_lock);
    tasks.insert(form.uuid, info);
}

void TcpReactor::append_TcpTask(const QString& uuid)
{
    if (uuid.isEmpty())
        return;
    TcpTsk_Info info(uuid);
    info.url = uuid;
    QMutexLocker lock(&tasks_lock);
    tasks.insert(uuid, info);
}

bool TcpReactor::isAliveTcpTask(const QString& uuid) const
{
    QMutexLocker lock(&tasks_lock);
    return tasks.contains(uuid);
}

CVariant<TcpTsk_Info> TcpReactor::getTcpTask(const QString& uuid) const
{
    CVariant<TcpTsk_Info> out;
    QMutexLocker lock(&tasks_lock);
    auto it = tasks.constFind(uuid);
    if (it != tasks.cend())
        out.setValue(*it);
    return out;
}

CVariant<TcpTsk_Info> TcpReactor::remove_TaskFromList(const QString& uuid)
{
    CVariant<TcpTsk_Info> out;
    QMutexLocker lock(&tasks_lock);
    auto it = tasks.find(uuid);
    if (it == tasks.end())
        return out;
    it->finishact_timing = gettimeofday_ms();
    out.setValue(*it);
    tasks.erase(it);
    return out;
}

void TcpReactor::update_TcpTsk_ByUuid(const QString& uuid, const QString& key, const QList<QVariant>& args)
{
    QMutexLocker lock(&tasks_lock);
    auto it = tasks.find(uuid);
    if (it == tasks.end())
        return;
    if (key == QLatin1String("tskup_firstrecv_timing")) {
        it->firstrecv_timing = gettimeofday_ms();
        it->recv_times = 1;
    } else if (key == QLatin1String("tskup_recv_times")) {
        it->recv_times += 1;
    } else if (key == QLatin1String("tskup_finishrecv_timing")) {
        it->finishrecv_timing = gettimeofday_ms();
    } else if (key == QLatin1String("tskup_chg_recvpacklength")) {
        it->tskup_chg_recvpacklength(args);
    } else if (key == QLatin1String("tskup_finishact_timing")) {
        it->finishact_timing = gettimeofday_ms();
    }
}

void TcpReactor::purgeTasks()
{
    const qint64 now = gettimeofday_ms();
    QMutexLocker lock(&tasks_lock);
    for (auto it = tasks.begin(); it != tasks.end();) {
        if (now - it->create_timing.load() > kTaskMaxAgeMs)
            it = tasks.erase(it);
        else
            ++it;
    }
}

// ---- client ----

TcpCliReactor::~TcpCliReactor()
{
    deinitialize();
    remove_ClientSession(-1);
}

bool TcpCliReactor::isRunning() const
{
    return onSharedThread() ? workerThread() != nullptr : ownPoolActive() > 0;
}

bool TcpCliReactor::hasSession() const
{
    for (const QPointer<Session>& s : allSessions()) {
        if (!s.isNull())
            return true;
    }
    return false;
}

QList<int> TcpCliReactor::getAliveSession()
{
    QList<int> alive = TcpReactor::getAliveSession();
    if (!alive.isEmpty() || QThread::currentThread() == workerThread())
        return alive;
    if (!hasSession())
        return alive;
    // A session exists but its connection dropped: one reconnect.
    if (reAction(host, port))
        alive = TcpReactor::getAliveSession();
    return alive;
}

bool TcpCliReactor::onStart()
{
    auto* s = new CQTcpSocket;
    s->connectToHost(host, port, QIODevice::ReadWrite);
    if (!s->waitForConnected(kConnectWaitMs)) {
        delete s;
        return false;
    }
    openSession(s);
    return true;
}

void TcpCliReactor::beginStart(std::function<void(bool)> done)
{
    // The same start as onStart, its 200 ms wait taken by the event loop:
    // the first of connected, failed or time up settles it.
    auto* s = new CQTcpSocket;
    auto settled = std::make_shared<bool>(false);
    auto settle = [this, s, settled, done](bool ok) {
        if (*settled)
            return;
        *settled = true;
        QObject::disconnect(s, nullptr, s, nullptr);
        if (ok)
            openSession(s);
        else
            s->deleteLater();
        done(ok);
    };
    connect(s, &QAbstractSocket::connected, s, [settle] { settle(true); });
    connect(s, &QAbstractSocket::errorOccurred, s, [settle] { settle(false); });
    QTimer::singleShot(kConnectWaitMs, s, [settle] { settle(false); });
    s->connectToHost(host, port, QIODevice::ReadWrite);
}

void TcpCliReactor::openSession(CQTcpSocket* s)
{
    updateSoftCnted();
    auto* session = new Session(this, s, nextSessionNumber());
    InitSession(session);
    append_ClientSession(session);
}

void TcpCliReactor::onFinish() { remove_ClientSession(-1); }

// ---- server ----

TcpServReactor::~TcpServReactor()
{
    deinitialize();
}

bool TcpServReactor::isRunning() const
{
    return m_hasServer.load() && !(curtime_qint64_2_int() - alive_tick.load() >= 200);
}

bool TcpServReactor::onStart()
{
    server = std::make_shared<CQTcpServer>();
    connect(server.get(), &QTcpServer::newConnection, server.get(), [this] {
        while (server && server->hasPendingConnections()) {
            updateSoftCnted();
            QTcpSocket* s = server->nextPendingConnection();
            s->setParent(nullptr);
            auto* session = new Session(this, s, nextSessionNumber());
            InitSession(session);
            append_ClientSession(session);
        }
    });
    if (!server->listen(host, port)) {
        qCWarning(level_1).noquote() << "[TCP_REACTOR] cannot listen on" << host.toString() << port << ":"
                                     << server->errorString();
        server.reset();
        return false;
    }
    m_serverPort = server->serverPort();
    m_hasServer = true;
    return true;
}

void TcpServReactor::onFinish()
{
    remove_ClientSession(-1);
    m_hasServer = false;
    m_serverPort = 0;
    server.reset();
}

}  // namespace CLSC
