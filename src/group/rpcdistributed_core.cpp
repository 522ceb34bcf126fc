#include "group/rpcdistributed_core.h"

#include "foundation/foundationservices.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "group/workevent_passport.h"

#include <QDebug>
#include <QEventLoop>
#include <QMutexLocker>
#include <QTimer>
#include <QVariant>

namespace {
std::atomic<unsigned int> g_eventCounter{0};
std::atomic<int> g_baseTimeoutMs{10000};
std::atomic<int> g_liveEvents{0};
}  // namespace

void RpcDistributed_Core::setBaseTimeoutMs(int ms) { g_baseTimeoutMs.store(ms); }
int RpcDistributed_Core::baseTimeoutMs() { return g_baseTimeoutMs.load(); }
int RpcDistributed_Core::liveCount() { return g_liveEvents.load(); }

RpcDistributed_Core::RpcDistributed_Core(const SRPC_WS_FormData& form, QObject* parent, int timeout_ms)
    : QThread(parent), m_form(form)
{
    m_record.timeout = timeout_ms < 0 ? baseTimeoutMs() : timeout_ms;
    m_record.create_time = gettimeofday_ms();
    m_sinceCreate.start();
    ++g_liveEvents;
    const unsigned int index = ++g_eventCounter;
    setProperty("event_index", index);
    setProperty("event_type", QStringLiteral("unknow"));
    // The three ends of the wait run on the event's thread; an emitter on
    // another thread waits until its end has been handled.
    connect(this, &RpcDistributed_Core::sigCheckPerfect, this, [this] { endLoop(0); }, Qt::DirectConnection);
    connect(this, &RpcDistributed_Core::sigQuitLoop, this, [this] { endLoop(-2); }, Qt::DirectConnection);
    qInfo() << "";
    qInfo().noquote() << "<<<<<<<<<< create RpcDistributed_Core" << index << m_form.uuid;
    // The wait is armed from here: ends asked for before the thread runs are
    // queued to the loop's context, which already belongs to the thread, and
    // the limit counts from construction. Nobody waits for the thread to
    // start: the spread and the own work go on meanwhile.
    m_loopContext = new QObject;
    m_loopContext->moveToThread(this);
    m_loopBack.store(1);
    m_record.loop_running.store(1);
    setProperty("loop_back", 1);
    start(QThread::InheritPriority);
}

RpcDistributed_Core::~RpcDistributed_Core()
{
    Close();
    wait();
    delete m_loopContext;  // null unless the thread never ran
    m_record.destroy_time = gettimeofday_ms();
    setProperty("loop_back", m_loopBack.load());
    m_record.print_report(m_view, m_loopBack.load());
    qInfo().noquote() << ">>>>>>>>>> delete RpcDistributed_Core" << property("event_index").toUInt();
    qInfo() << "";
    --g_liveEvents;
}

void RpcDistributed_Core::run()
{
    m_record.start_time = gettimeofday_ms();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);  // a coarse timer may end the limit up to 5 % early
    connect(&timer, &QTimer::timeout, m_loopContext, [this] { handleEnd(-1); }, Qt::DirectConnection);
    {
        QMutexLocker lock(&m_loopMutex);
        m_loop = &loop;
        m_loopState = Waiting;
    }
    timer.start(int(qMax<qint64>(0, m_record.timeout - m_sinceCreate.elapsed())));
    // Ends queued before the loop ran are served by its first pass.
    loop.exec();
    timer.stop();
    {
        QMutexLocker lock(&m_loopMutex);
        m_loopState = Ended;
        m_loop = nullptr;
        delete m_loopContext;  // drops ends and calls that came too late
        m_loopContext = nullptr;
        m_loopCond.wakeAll();
    }
    qInfo().noquote() << "RpcDistributed_Core::run() finish";
}

void RpcDistributed_Core::handleEnd(int code)
{
    QMutexLocker lock(&m_loopMutex);
    if (m_loopState != Waiting || m_endThread)
        return;  // an earlier end won
    m_endThread = QThread::currentThread();
    m_loopBack.store(code);
    m_record.loop_running.store(0);
    m_loop->exit(code);
    m_loopCond.wakeAll();
}

void RpcDistributed_Core::endLoop(int code)
{
    if (QThread::currentThread() == this) {
        // A handler on the event's own thread: a queued wait here would never
        // be served.
        handleEnd(code);
        return;
    }
    QMutexLocker lock(&m_loopMutex);
    if (m_loopState == Ended || m_endThread)
        return;
    QMetaObject::invokeMethod(m_loopContext, [this, code] { handleEnd(code); }, Qt::QueuedConnection);
    // Served by that handler, or by an earlier end (the limit).
    waitForEnd();
}

void RpcDistributed_Core::waitForEnd()
{
    while (m_loopState != Ended && !m_endThread)
        m_loopCond.wait(&m_loopMutex);
}

QThread* RpcDistributed_Core::endHandlerThread() const
{
    QMutexLocker lock(&m_loopMutex);
    return m_endThread;
}

void RpcDistributed_Core::Close()
{
    emit sigQuitLoop();
}

bool RpcDistributed_Core::invokeOnEventThread(std::function<void()> fn)
{
    QMutexLocker lock(&m_loopMutex);
    if (m_loopState == Ended || m_endThread)
        return false;
    return QMetaObject::invokeMethod(m_loopContext, std::move(fn), Qt::QueuedConnection);
}

WorkEvent_Error RpcDistributed_Core::start_workevent()
{
    const QString type = property("event_type").toString();
    SCollect_Unit unit;
    {
        // What this camera's part records is done in the name of the
        // operator who asked for the cycle, here and on every sub.
        const OperationRecord_Interface::ActingUserScope actingUser(requestingUser(m_form));
        if (IsMainCamera()) {
            qInfo().noquote() << "(step 1) onMainWorking" << type;
            unit = onMainWorking();
        } else {
            qInfo().noquote() << "(step 2) onSubWorking" << type;
            unit = onSubWorking();
        }
    }
    update_collectlist(get_interface().own_id, unit);
    {
        // Until the wait has ended; the thread itself winds down meanwhile
        // and is joined when the event is destroyed.
        QMutexLocker lock(&m_loopMutex);
        waitForEnd();
    }
    {
        QMutexLocker lock(&m_workMutex);
        qInfo().noquote() << QStringLiteral("<%1>:").arg(QStringLiteral("start_workevent"))
                          << "<RpcDistributed_Core> sync update_collectlist and main wait";
    }
    const int back = m_loopBack.load();
    setProperty("loop_back", back);
    switch (back) {
    case -2: return WorkEvent_Quit;
    case -1: return WorkEvent_Timeout;
    case 0: return WorkEvent_Collected;
    default: return WorkEvent_Other;
    }
}

int RpcDistributed_Core::onAction_recvc2C(SRPC_WS_FormData form)
{
    if (!form.valid) {
        qInfo().noquote() << "(sub-thread onAction_recvc2C):" << "SRPC_WS_FormData not valid";
        return -1;
    }
    qInfo().noquote() << "[TM_CAMS][recv_c2C]" << form.device_id << form.topic;
    form.topic.remove(QStringLiteral("(rpc_back)"));
    if (form.topic != m_form.topic || form.uuid != m_form.uuid) {
        qInfo().noquote() << "(sub-thread onAction_recvc2C different ID!)" << "cur_event_id:" << m_form.uuid
                          << "recv_event_id:" << form.uuid;
        return -2;
    }
    // Only the group's subs answer a request: a reply under any other id
    // (the own one included) would stand in for a camera that never looked.
    if (get_interface().getSubIndex(form.device_id) == -1) {
        qCWarning(level_1).noquote() << "(sub-thread onAction_recvc2C) reply refused, not from a sub of the group:"
                                     << form.device_id << form.topic << form.uuid;
        return -1;
    }
    update_collectlist(form.device_id, SCollect_Unit(form.datas));
    return 1;
}

void RpcDistributed_Core::update_collectlist(QString id, const SCollect_Unit& unit)
{
    const SRPC_WS_Interface view = get_interface();
    const int sub = view.getSubIndex(id);
    if (sub == -1 && id != view.own_id) {
        qCWarning(level_1).noquote() << "(onWorkEvent)(collectlist):" << "---Fail---" << "out of groups" << id;
        return;
    }
    qInfo().noquote() << "(flush collectlist):"
                      << (sub == -1 ? QStringLiteral("---Main---") : QStringLiteral("---Sub--- %1").arg(sub))
                      << QStringLiteral("d/r:(%1,%2)")
                             .arg(unit.detect)
                             .arg(unit.result ? QStringLiteral("true") : QStringLiteral("false"));
    QMutexLocker work(&m_workMutex);
    SCollect_Unit copy = unit;
    copy.collect_time = gettimeofday_ms();
    {
        QMutexLocker lock(&m_record.mutex);
        m_record.collectlist.insert(id, copy);
    }
    if (loopcheck()) {
        emit sigCheckPerfect();
    }
}

bool RpcDistributed_Core::loopcheck()
{
    if (!IsMainCamera())
        return true;
    const SRPC_WS_Interface view = get_interface();
    QStringList required;
    for (const DeviceNetInfo& d : view.subs)
        required << d.uuid;
    required << view.own_id;
    const QMap<QString, SCollect_Unit> units = m_record.get_collectlist();
    bool perfect = true;
    for (const QString& id : required)
        perfect = perfect && units.contains(id);
    qInfo().noquote() << "(loopcheck perfect" << units.size() << "/" << required.size() << "):"
                      << (perfect ? "perfect" : "no completion");
    return perfect;
}

bool RpcDistributed_Core::getResult() const
{
    const QMap<QString, SCollect_Unit> units = m_record.get_collectlist();
    for (const SCollect_Unit& u : units) {
        if (!u.result)
            return false;
    }
    return true;
}

bool RpcDistributed_Core::IsMainCamera() const
{
    const SRPC_WS_Interface view = get_interface();
    if (view.subs.isEmpty())
        return true;
    if (view.getSubIndex(view.own_id) != -1)
        return false;
    return view.is_main;
}

QList<int> RpcDistributed_Core::getNG_CamIndex() const
{
    const SRPC_WS_Interface view = get_interface();
    QList<int> out;
    const QMap<QString, SCollect_Unit> units = m_record.get_collectlist();
    for (auto it = units.constBegin(); it != units.constEnd(); ++it) {
        if (!it.value().result)
            out << view.getSubIndex(it.key()) + 1;
    }
    return out;
}

QVariantMap RpcDistributed_Core::finish_workevent()
{
    const QString type = property("event_type").toString();
    QVariantMap map;
    if (IsMainCamera()) {
        qInfo().noquote() << "(step 4) finish_main_workevent" << type;
        map = finish_main_workevent();
    } else {
        qInfo().noquote() << "(step 3) finish_sub_workevent" << type;
        map = finish_sub_workevent();
    }
    m_record.finish_time = gettimeofday_ms();
    deleteLater();
    return map;
}

void RpcDistributed_Core::set_interface(SRPC_WS_Interface iface) { m_view = iface; }
SRPC_WS_Interface RpcDistributed_Core::get_interface() const { return m_view; }
SCollect_Unit RpcDistributed_Core::onSubWorking() { return onMainWorking(); }
QVariantMap RpcDistributed_Core::finish_main_workevent() { return {}; }
QVariantMap RpcDistributed_Core::finish_sub_workevent() { return {}; }
