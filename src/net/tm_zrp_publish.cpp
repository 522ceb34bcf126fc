#include "net/tm_zrp_publish.h"

#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "net/netlog.h"
#include "net/tcp_push2app.h"
#include "net/udp_push2app_simple.h"
#include "platform/system/monotonicclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QJsonArray>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QVariantMap>

using platform::MonotonicClock;

namespace {

const QString kMaskUrl = QStringLiteral("/dide/initiative/runresult_mask");
const QStringList kTopics = {QStringLiteral("result_reports"), QStringLiteral("result_all_picture"),
                             QStringLiteral("result_ng_picture")};
constexpr qint64 kAppLapseMs = 10000;
constexpr qint64 kTickAliveMs = 2000;
constexpr int kHeartbeatTickMs = 100;
// A tick that comes this much before a heartbeat is due still sends it:
// the timer and the millisecond clock may each be a little early, and a
// skipped tick would cost the taken application a whole heartbeat.
constexpr qint64 kDueToleranceMs = 5;

NetLogLimiter g_refusalLimiter;
NetLogLimiter g_queueLimiter;
NetLogLimiter g_noAppLimiter(10000);

// A deleter for QObjects that may be released on any thread.
void deleteLaterDeleter(QObject* o)
{
    if (o)
        o->deleteLater();
}

bool onThread(const QObject* o) { return QThread::currentThread() == o->thread(); }

}  // namespace

TM_ZRP_Publish::TM_ZRP_Publish(QObject* parent)
    : QObject(parent), push_thread(std::make_shared<CLSC::ReactorThread>(QStringLiteral("TM_ZRP_Publish push")))
{
    registerNetMetaTypes();
    qRegisterMetaType<QMap<QString, int>>("QMap<QString, int>");
    heartbeat_timer = new QTimer(this);
    // A coarse timer may fire up to 5 % early, which the due test below
    // would have to absorb on every tick.
    heartbeat_timer->setTimerType(Qt::PreciseTimer);
    subscriber_timer = new QTimer(this);
    connect(heartbeat_timer, &QTimer::timeout, this, &TM_ZRP_Publish::timer_push2app_heartbeat);
    connect(subscriber_timer, &QTimer::timeout, this, &TM_ZRP_Publish::timer_chkregister_subscriber);
    {
        QMutexLocker lock(&socket_lock);
        heartbeat_socket.reset(new Udp_Push2APP_Simple, deleteLaterDeleter);
        heartbeat_socket->moveToThread(&work_thread);
    }
    if (parent)
        setParent(nullptr);  // a QObject with a parent cannot change threads
    moveToThread(&work_thread);
    work_thread.setObjectName(QStringLiteral("TM_ZRP_Publish"));
    work_thread.start(QThread::InheritPriority);
}

TM_ZRP_Publish::~TM_ZRP_Publish()
{
    auto cleanup = [this] {
        heartbeat_timer->stop();
        subscriber_timer->stop();
        live_pushes.clear();
        qDeleteAll(findChildren<Tcp_Push2APP*>(QString(), Qt::FindDirectChildrenOnly));
        {
            QMutexLocker lock(&socket_lock);
            heartbeat_socket.reset();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    if (work_thread.isRunning() && !onThread(this))
        QMetaObject::invokeMethod(this, cleanup, Qt::BlockingQueuedConnection);
    else
        cleanup();
    stopPublishLoop();
    work_thread.quit();
    work_thread.wait();
}

// ---- stash ----

void TM_ZRP_Publish::update_p2ahb_stash_runstate(const QByteArray& json)
{
    QMutexLocker lock(&stash_lock);
    runstate_stash = json;
}

QByteArray TM_ZRP_Publish::get_p2ahb_stash_runstate() const
{
    QMutexLocker lock(&stash_lock);
    return runstate_stash;
}

void TM_ZRP_Publish::set_stash_last_detectedinfo(QJsonObject info)
{
    QMutexLocker lock(&stash_lock);
    last_detectedinfo = info;
}

QJsonObject TM_ZRP_Publish::get_stash_last_detectedinfo() const
{
    QMutexLocker lock(&stash_lock);
    return last_detectedinfo;
}

// ---- start ----

bool TM_ZRP_Publish::startwork()
{
    if (!onThread(this)) {
        QMetaObject::invokeMethod(this, "startwork", Qt::QueuedConnection);
        return false;
    }
    heartbeat_timer->start(kHeartbeatTickMs);
    subscriber_timer->start(60000);

    // Reload the table; entries that expired or are not a usable address
    // are dropped from the settings file too, so they never come back.
    WorkStashManager* stash = WorkStashManager::getInstance();
    const qint64 now = gettimeofday_ms();
    for (const QString& key : stash->allKeys()) {
        if (!key.contains(QStringLiteral("Subscriber")))
            continue;
        const QVariantMap m = stash->value(key).toMap();
        SubscriberInfo info;
        info.ip = m.value(QStringLiteral("ip")).toString();
        info.port = m.value(QStringLiteral("port")).toInt();
        info.topics = m.value(QStringLiteral("topics")).toStringList();
        info.lasttime = m.value(QStringLiteral("lasttime")).toLongLong();
        if (!validSubscriber(info.ip, info.port) || info.topics.isEmpty() ||
            now - info.lasttime > kSubscriberMaxAgeMs) {
            qCInfo(level_1).noquote() << "[POST_2_APP] subscriber setting dropped (expired or invalid):" << key;
            stash->remove(key);
            continue;
        }
        QMutexLocker lock(&subscriber_lock);
        subscribers.insert(subscriberKey(info.ip, info.port), info);
    }

    stopPublishLoop();
    publish_running = true;
    publish_thread = QThread::create([this] { do_publish_thread(); });
    publish_thread->setObjectName(QStringLiteral("TM_ZRP_Publish loop"));
    publish_thread->start();
    return true;
}

void TM_ZRP_Publish::stopPublishLoop()
{
    if (!publish_thread)
        return;
    publish_running = false;
    {
        QMutexLocker lock(&queue_lock);
        queue_wakeup.wakeAll();
    }
    publish_thread->wait();
    delete publish_thread;
    publish_thread = nullptr;
}

// ---- pushes ----

void TM_ZRP_Publish::prunePushes()
{
    for (auto it = live_pushes.begin(); it != live_pushes.end();) {
        if (it->isNull() || !(*it)->isAlive())
            it = live_pushes.erase(it);
        else
            ++it;
    }
}

Tcp_Push2APP* TM_ZRP_Publish::newPush(int lifetime_s)
{
    auto* push = new Tcp_Push2APP(lifetime_s, this);
    push->setReactorThread(push_thread);
    return push;
}

int TM_ZRP_Publish::livePushCount()
{
    prunePushes();
    return live_pushes.size();
}

bool TM_ZRP_Publish::Post2App_Detail(const CTask_FormData& form, int lifetime_s)
{
    if (!onThread(this)) {
        QMetaObject::invokeMethod(this, "Post2App_Detail", Qt::QueuedConnection, Q_ARG(CTask_FormData, form),
                                  Q_ARG(int, lifetime_s));
        return false;
    }
    prunePushes();
    for (const QPointer<Tcp_Push2APP>& p : live_pushes) {
        if (p->property("typename").toString() == kMaskUrl) {
            int held = 0;
            if (g_refusalLimiter.allow(&held)) {
                qCWarning(level_1).noquote() << "[POST_2_APP] push refused while a mask push is in flight:"
                                             << form.url << "held back" << held;
            }
            return false;
        }
    }
    const ZRC_WorkInfos w = ZRC_WorkInformation_Manager::getInstance()->get_working_info();
    const QString taken = QString::fromStdString(w.taken_app_ip);
    if (taken.isEmpty()) {
        if (g_noAppLimiter.allow())
            qCInfo(level_1).noquote() << "[POST_2_APP] no application has taken the camera; not pushed:" << form.url;
        return false;
    }
    auto* push = newPush(lifetime_s);
    push->setProperty("typename", form.url);
    push->setProperty("uuid", form.uuid);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (push->startReactorAndPost(QHostAddress(taken), kPushPort, 1, form)) {
            live_pushes.append(push);
            return true;
        }
        qCInfo(level_1).noquote() << "[POST_2_APP]" << "ERROR NO CONNECTED AND TRY AGAIN:" << form.url
                                  << "try:" << attempt;
    }
    qCWarning(level_1).noquote() << "[POST_2_APP]" << "FAIL NO CONNECTED:" << form.url;
    push->deleteLater();
    return false;
}

bool TM_ZRP_Publish::Post2App_Snapshot(const CTask_FormData& form)
{
    if (!onThread(this)) {
        QMetaObject::invokeMethod(this, "Post2App_Snapshot", Qt::QueuedConnection, Q_ARG(CTask_FormData, form));
        return false;
    }
    prunePushes();
    if (!live_pushes.isEmpty())
        return false;
    const ZRC_WorkInfos w = ZRC_WorkInformation_Manager::getInstance()->get_working_info();
    for (const auto& app : w.registered_apps) {
        auto* push = newPush(10);
        push->setProperty("name", form.url);
        push->setProperty("uuid", form.uuid);
        if (!push->startReactorAndPost(QHostAddress(QString::fromStdString(app.first)), kPushPort, 1, form))
            qCInfo(level_1).noquote() << "[POST_2_APP]" << "ERROR NO CONNECTED" << "(/dide/initiative/post_lastshowlive)";
    }
    return true;
}

bool TM_ZRP_Publish::Api_post2subscriber(const CTask_FormData& form)
{
    if (!onThread(this)) {
        QMetaObject::invokeMethod(this, "Api_post2subscriber", Qt::QueuedConnection, Q_ARG(CTask_FormData, form));
        return false;
    }
    auto* push = newPush(10);
    if (push->startReactorAndPost(QHostAddress(form.peer_address), form.peer_port, 1, form))
        return true;
    qCInfo(level_1).noquote() << "[POST_2_APP]" << "ERROR NO CONNECTED" << "(/dide/httpapi/subscriber_detectinfo)";
    return false;
}

// ---- heartbeat ----

std::shared_ptr<Udp_Push2APP_Simple> TM_ZRP_Publish::currentSocket() const
{
    QMutexLocker lock(&socket_lock);
    return heartbeat_socket;
}

void TM_ZRP_Publish::renewSocket()
{
    std::shared_ptr<Udp_Push2APP_Simple> fresh(new Udp_Push2APP_Simple, deleteLaterDeleter);
    QMutexLocker lock(&socket_lock);
    heartbeat_socket.swap(fresh);
    // `fresh` now holds the old socket; it is deleted later on this thread.
}

QMap<QString, int> TM_ZRP_Publish::get_UdpHB_IsCnted() const
{
    const std::shared_ptr<Udp_Push2APP_Simple> s = currentSocket();
    return s ? s->getIsCnted() : QMap<QString, int>();
}

bool TM_ZRP_Publish::get_UdpHB_TimerAlived() const
{
    const qint64 last = m_lastTickMono.load();
    return last >= 0 && MonotonicClock::nowMs() - last <= kTickAliveMs;
}

void TM_ZRP_Publish::runHeartbeatTickForTest()
{
    QMetaObject::invokeMethod(this, [this] { timer_push2app_heartbeat(); }, Qt::BlockingQueuedConnection);
}

void TM_ZRP_Publish::timer_push2app_heartbeat()
{
    const qint64 now = MonotonicClock::nowMs();
    m_lastTickMono = now;  // stamped first: an idle tick that ends early is alive too
    const qint64 wallNow = gettimeofday_ms();
    // Only what the tick uses leaves the lock: the addresses still
    // registered (in address order), the taken one and whether a group is
    // configured.
    QStringList targets;
    QString taken;
    bool noGroup = false;
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& work) {
        if (work.registered_apps.find(work.taken_app_ip) == work.registered_apps.end())
            work.taken_app_ip.clear();
        for (auto it = work.registered_apps.begin(); it != work.registered_apps.end();) {
            // Writers that predate the monotonic stamp leave it 0: age on the wall clock then.
            const AppRegiestInfo& app = it->second;
            const qint64 age = app.mono_ms > 0 ? now - app.mono_ms : wallNow - app.time_ms;
            if (age > kAppLapseMs) {
                it = work.registered_apps.erase(it);
            } else {
                targets << QString::fromStdString(it->first);
                ++it;
            }
        }
        taken = QString::fromStdString(work.taken_app_ip);
        noGroup = work.group_text == "();();();()";
    });
    if (targets.isEmpty())
        return;
    if (noGroup) {
        map_sendheartbeat.clear();
        return;
    }
    const QByteArray stash = get_p2ahb_stash_runstate();
    QMap<QString, qint64> record;
    for (const QString& address : qAsConst(targets)) {
        auto last = map_sendheartbeat.constFind(address);
        if (last == map_sendheartbeat.cend()) {
            qCInfo(level_1).noquote() << "[TM_APP][hb -> app] send heartbeat level 1 (1s) !";
            currentSocket()->sendData(stash, address, Udp_Push2APP_Simple::kHeartbeatPort);
            record.insert(address, now);
            continue;
        }
        const qint64 interval = (!taken.isEmpty() && address == taken) ? kHeartbeatTickMs : 1000;
        const qint64 due = *last + interval;
        if (now < due - kDueToleranceMs) {
            record.insert(address, *last);
            continue;
        }
        // The record keeps the heartbeat's due time while the tick is less
        // than an interval late, so that a late tick does not push the
        // following ones back (and the next tick, back on time, then finds
        // the heartbeat due): ten a second to the taken application.
        const qint64 sentDue = now - due < interval ? due : now;
        // Lost: the socket lists the address with a state other than 1. Every
        // target here is registered (only this tick drops registrations).
        int state = 1;
        const bool lost = currentSocket()->linkState(address, true, &state) && state != 1;
        if (lost)
            renewSocket();
        currentSocket()->sendData(stash, address, Udp_Push2APP_Simple::kHeartbeatPort);
        record.insert(address, sentDue);
        if (lost) {
            qCInfo(level_1).noquote() << "[TM_APP][hb -> app] send heartbeat level 2 (100ms) !";
            record.insert(address, now - 500);
        }
    }
    map_sendheartbeat = record;
}

// ---- subscribers ----

QString TM_ZRP_Publish::subscriberKey(const QString& ip, int port)
{
    return ip + QLatin1Char('/') + QString::number(port);
}

QString TM_ZRP_Publish::settingsKey(const QString& ip, int port)
{
    return QStringLiteral("VCamera_Work/") + QStringLiteral("Subscriber_%1_%2").arg(ip).arg(port);
}

bool TM_ZRP_Publish::validSubscriber(const QString& ip, qint64 port)
{
    // The ip and port become a settings key and a URL: a dotted IPv4
    // address and a real port only.
    QHostAddress a;
    return port >= 1 && port <= 65535 && a.setAddress(ip) && a.protocol() == QAbstractSocket::IPv4Protocol &&
           a.toString() == ip;
}

void TM_ZRP_Publish::writeSubscriberSetting(const SubscriberInfo& info)
{
    const QVariantMap value{{QStringLiteral("ip"), info.ip},
                            {QStringLiteral("port"), info.port},
                            {QStringLiteral("topics"), info.topics},
                            {QStringLiteral("lasttime"), info.lasttime}};
    WorkStashManager::getInstance()->setValue(settingsKey(info.ip, info.port), value);
}

void TM_ZRP_Publish::add_subscriber_topic(SubscriberInfo info)
{
    QMutexLocker lock(&subscriber_lock);
    subscribers.insert(subscriberKey(info.ip, info.port), info);
}

QMap<QString, SubscriberInfo> TM_ZRP_Publish::get_subscriber_topics() const
{
    QMutexLocker lock(&subscriber_lock);
    return subscribers;
}

void TM_ZRP_Publish::Api_regiest_subscriber(const QJsonObject& json)
{
    const QJsonValue list = json.value(QStringLiteral("subscriber"));
    if (!list.isArray())
        return;
    const bool mainCamera = ZRC_WorkInformation_Manager::getInstance()->IsMainCamera();
    for (const QJsonValue& v : list.toArray()) {
        if (!v.isObject())
            continue;
        const QJsonObject o = v.toObject();
        const QJsonValue ipValue = o.value(QStringLiteral("subscriber_ip"));
        const QJsonValue portValue = o.value(QStringLiteral("subscriber_port"));
        const QString ip = ipValue.isString() ? ipValue.toString() : QString();
        const double portNumber = portValue.isDouble() ? portValue.toDouble() : 0;
        const qint64 port = qint64(portNumber);
        if (ip.isEmpty() || port == 0)
            continue;
        if (!validSubscriber(ip, port) || double(port) != portNumber) {
            qCWarning(level_1).noquote() << "[POST_2_APP] subscriber refused (needs an IPv4 address and a port 1..65535):"
                                         << ip << portNumber;
            continue;
        }
        QStringList topics;
        const QJsonValue types = o.value(QStringLiteral("type"));
        if (types.isArray()) {
            for (const QJsonValue& t : types.toArray()) {
                const QString topic = t.toString();
                if (t.isString() && !topic.isEmpty() && kTopics.contains(topic) && !topics.contains(topic))
                    topics << topic;
            }
        }
        if (!mainCamera)
            topics.removeAll(QStringLiteral("result_reports"));
        if (topics.isEmpty())
            continue;
        SubscriberInfo info{ip, int(port), topics, gettimeofday_ms()};
        add_subscriber_topic(info);
    }
    for (const SubscriberInfo& info : get_subscriber_topics())
        writeSubscriberSetting(info);
}

void TM_ZRP_Publish::timer_chkregister_subscriber()
{
    const qint64 now = gettimeofday_ms();
    QList<SubscriberInfo> expired;
    QList<SubscriberInfo> kept;
    {
        QMutexLocker lock(&subscriber_lock);
        for (auto it = subscribers.begin(); it != subscribers.end();) {
            if (now - it->lasttime > kSubscriberMaxAgeMs) {
                expired << *it;
                it = subscribers.erase(it);
            } else {
                kept << *it;
                ++it;
            }
        }
    }
    WorkStashManager* stash = WorkStashManager::getInstance();
    for (const SubscriberInfo& info : expired) {
        qCInfo(level_1).noquote() << "[POST_2_APP] subscriber expired:" << info.ip << info.port;
        stash->remove(settingsKey(info.ip, info.port));
    }
    for (const SubscriberInfo& info : kept)
        writeSubscriberSetting(info);
}

void TM_ZRP_Publish::addPublishOnce(const QNetworkRequest& request, const QByteArray& body)
{
    QMutexLocker lock(&queue_lock);
    if (request_queue.size() < kMaxWaitingPosts) {
        request_queue.append({request, body});
    } else {
        int held = 0;
        if (g_queueLimiter.allow(&held)) {
            qCWarning(level_1).noquote() << "[POST_2_APP] subscriber post dropped, 10 already waiting:"
                                         << request.url().toString() << "held back" << held;
        }
    }
    queue_wakeup.wakeOne();
}

void TM_ZRP_Publish::do_publish_thread()
{
    QNetworkAccessManager network;
    while (publish_running) {
        sRequestContent next;
        {
            QMutexLocker lock(&queue_lock);
            if (request_queue.isEmpty())
                queue_wakeup.wait(&queue_lock);
            if (request_queue.isEmpty())
                continue;
            next = request_queue.takeFirst();
        }
        QNetworkRequest request = next.request;
        request.setTransferTimeout(10000);
        QNetworkReply* reply = network.post(request, next.body);
        connect(reply, &QNetworkReply::finished, reply, [reply] {
            if (reply->error() != QNetworkReply::NoError)
                qDebug() << "上传失败:" << reply->errorString();
            reply->deleteLater();
        }, Qt::DirectConnection);
        QEventLoop loop;
        QTimer tick;
        int counter = 10;
        QPointer<QNetworkReply> watched(reply);
        connect(&tick, &QTimer::timeout, &loop, [&] {
            if (counter-- < 0) {
                loop.exit(-1);
                return;
            }
            if (!watched || watched->isFinished())
                loop.exit(0);
        });
        tick.start(100);
        const int rc = loop.exec();
        qDebug() << QStringLiteral("<%1>:").arg(QLatin1String(Q_FUNC_INFO)) << "loop.exec();" << rc;
    }
    // Replies still open end with the manager here.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
