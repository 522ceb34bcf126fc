#pragma once
// The camera program's single outlet for results: pushes forms of the own
// HTTP layer to the operator application on TCP 10416 (run results, masks
// and parameter notices to the taken application, live snapshots to every
// registered one), sends the 100 ms UDP heartbeat, keeps the subscriber
// table and its copy in "Vistrel.ini", and sends queued subscriber posts one
// at a time from a loop on a thread of its own.
//
// Threads: the publisher moves itself to its own thread at construction;
// the timers, the heartbeat socket, the pushes and their callbacks run
// there; the pushes' connections are made and written on one long-lived
// push thread (pushThread()). Slots marked "hopping" re-post themselves there when called from
// another thread and return false at once. addPublishOnce,
// Api_regiest_subscriber, the stash accessors and the two heartbeat states
// may be called from any thread.
#include "net/ctask_formdata.h"
#include "net/reactorthread.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <atomic>
#include <memory>

class QNetworkAccessManager;
class Tcp_Push2APP;
class Udp_Push2APP_Simple;

struct SubscriberInfo {
    QString ip;
    qint32 port = 0;
    QStringList topics;
    qint64 lasttime = 0;  // epoch ms of the latest registration
};

class TM_ZRP_Publish : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPushPort = 10416;
    static constexpr qint64 kSubscriberMaxAgeMs = 600000;
    static constexpr int kMaxWaitingPosts = 10;

    struct sRequestContent {
        QNetworkRequest request;
        QByteArray body;
    };

    explicit TM_ZRP_Publish(QObject* parent = nullptr);
    ~TM_ZRP_Publish() override;

    virtual void set_stash_last_detectedinfo(QJsonObject info);
    virtual QJsonObject get_stash_last_detectedinfo() const;

    // Queues one subscriber post (at most 10 wait; more are dropped, logged).
    void addPublishOnce(const QNetworkRequest& request, const QByteArray& body);
    // Registers subscribers from {"subscriber": [{"subscriber_ip",
    // "subscriber_port", "type": [...]}, ...]}.
    void Api_regiest_subscriber(const QJsonObject& json);
    void add_subscriber_topic(SubscriberInfo info);
    QMap<QString, SubscriberInfo> get_subscriber_topics() const;
    void update_p2ahb_stash_runstate(const QByteArray& json);
    QByteArray get_p2ahb_stash_runstate() const;

    // Whether the heartbeat tick ran within the last 2000 ms.
    bool get_UdpHB_TimerAlived() const;
    // Link state per application (see Udp_Push2APP_Simple::getIsCnted).
    QMap<QString, int> get_UdpHB_IsCnted() const;

    // Detail pushes that may still be in flight (publisher's thread).
    int livePushCount();
    // The long-lived thread on which every push's connection is made and
    // written (one for all pushes; none starts a thread of its own).
    QThread* pushThread() const { return push_thread->thread(); }
    // Test hook: the heartbeat tick's interval base is fixed at 100 ms; this
    // lets a test run one tick by hand on the publisher's thread.
    void runHeartbeatTickForTest();
    // Test hook: the expiry check by hand (on the calling thread).
    void runSubscriberCheckForTest() { timer_chkregister_subscriber(); }

public slots:
    // Hopping. Starts the timers, reloads the subscribers, starts the loop.
    bool startwork();
    // Hopping. One form to the taken application.
    bool Post2App_Detail(const CTask_FormData& form, int lifetime_s);
    // One snapshot to every registered application (reached queued).
    bool Post2App_Snapshot(const CTask_FormData& form);
    // Hopping. Carried: one post to the form's own peer.
    bool Api_post2subscriber(const CTask_FormData& form);

private slots:
    void timer_push2app_heartbeat();
    void timer_chkregister_subscriber();

private:
    void prunePushes();
    // A push to the operator application on the push thread.
    Tcp_Push2APP* newPush(int lifetime_s);
    void do_publish_thread();
    void stopPublishLoop();
    void writeSubscriberSetting(const SubscriberInfo& info);
    static QString subscriberKey(const QString& ip, int port);
    static QString settingsKey(const QString& ip, int port);
    static bool validSubscriber(const QString& ip, qint64 port);
    std::shared_ptr<Udp_Push2APP_Simple> currentSocket() const;
    void renewSocket();

    QThread work_thread;
    QTimer* heartbeat_timer = nullptr;
    QTimer* subscriber_timer = nullptr;
    mutable QMutex stash_lock;
    QByteArray runstate_stash;
    mutable QMutex socket_lock;
    std::shared_ptr<Udp_Push2APP_Simple> heartbeat_socket;
    QList<QPointer<Tcp_Push2APP>> live_pushes;
    std::shared_ptr<CLSC::ReactorThread> push_thread;
    mutable QMutex subscriber_lock;
    QMap<QString, SubscriberInfo> subscribers;
    QJsonObject last_detectedinfo;
    QThread* publish_thread = nullptr;
    std::atomic<bool> publish_running{true};
    QMutex queue_lock;
    QWaitCondition queue_wakeup;
    QList<sRequestContent> request_queue;
    QMap<QString, qint64> map_sendheartbeat;  // monotonic ms of the last due time per address
    std::atomic<qint64> m_lastTickMono{-1};
};
