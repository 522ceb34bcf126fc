#pragma once
// The one dispatcher of camera-group work: a table from topic to handler. A
// plain work-event topic runs the main-side driver (this camera starts the
// event for its group), the same topic + "(rpc)" the sub-side driver (a
// request from the main camera). A quick-meet topic only spreads the form to
// the sub cameras; its "(rpc)" entry runs a local function on each sub.
//
// Threads: lives on the camera's main thread; the table is filled before any
// form arrives and only read afterwards. activate_workevent runs on the main
// thread (the flow's call, the link's requests queued to it); send_quickmeet
// may also be called from an HTTP worker. The drivers, the event's own work
// and every seam call run on the main thread.
#include "group/campairslink.h"
#include "group/groupworkservices.h"
#include "group/rpcdist_define.h"
#include "group/rpcdistributed_core.h"
#include "group/workevent_passport.h"

#include "foundation/logmanager.h"

#include <QDebug>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>
#include <memory>

class RpcDistributed_Reactor : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<QVariantMap(SRPC_WS_FormData)>;

    // The program's one reactor (set by the manager that creates it).
    static RpcDistributed_Reactor* _instance;

    // `link`: the camera-pair link (not owned; it outlives the reactor);
    // `services`: this camera's seam (not owned).
    explicit RpcDistributed_Reactor(QObject* parent = nullptr, CamPairsLink* link = nullptr,
                                    GroupWorkServices* services = nullptr);
    ~RpcDistributed_Reactor() override;

    virtual void set_interface(SRPC_WS_Interface iface);
    virtual SRPC_WS_Interface get_interface() const;

    // Under `topic` the main-side driver of T, under `topic` + "(rpc)" the
    // sub-side one; a second registration replaces both.
    template <class T>
    void register_workevent(const QString& topic)
    {
        m_handlers.insert(topic, [this](SRPC_WS_FormData f) { return do_Http_WorkEvent<T>(std::move(f)); });
        m_handlers.insert(topic + QStringLiteral("(rpc)"),
                          [this](SRPC_WS_FormData f) { return do_Rpc_WorkEvent<T>(std::move(f)); });
    }
    // Under `topic` the spread to the subs, under `topic` + "(rpc)" `fn`.
    void register_quickmeet(const QString& topic, Handler fn);

    // Sends a quick meet to the sub cameras; nothing waits for an answer.
    void send_quickmeet(QString topic, QVariantMap datas);
    // The handler under every quick-meet topic: spreads the form unchanged.
    QVariantMap do_Quick_WorkEvent(SRPC_WS_FormData formdata);
    // Replaces the reactor's and the link's group view.
    void connection_establishment(SRPC_WS_Interface iface);

    // Main side: spreads the request, runs the own part, waits for the group
    // and answers {"work_error", and for 0 "result" and "result_detail"}.
    template <class T>
    QVariantMap do_Http_WorkEvent(SRPC_WS_FormData formdata);
    // Sub side: runs the own part and sends the own unit back.
    template <class T>
    QVariantMap do_Rpc_WorkEvent(SRPC_WS_FormData formdata);

    // The table's topics in key order.
    QStringList topics() const { return m_handlers.keys(); }
    // The main-side events still guarded (alive and not yet pruned).
    int guardCount() const { return m_guards.size(); }
    GroupWorkServices* services() const { return m_services; }

    CamPairsLink* _link = nullptr;

public slots:
    // Runs the handler of the form's topic: {"work_error":3} for an invalid
    // form, an empty topic or an "(rpc)" request that is not from the group's
    // main camera; {"work_error":4} for a topic without a handler.
    QVariantMap activate_workevent(SRPC_WS_FormData formdata);

signals:
    void sig_wscams_found_subcams_broke();
    void sig_wscams_first_cnted();
    void sig_wscams_restartrpc_subcams(QString subid);

private:
    // Hands a sub camera's replies (link thread) to the event while it runs;
    // closed before the event is finished, and a delivery in progress ends
    // before close returns.
    struct ReplyGate {
        QMutex mutex;
        RpcDistributed_Core* event = nullptr;
        int deliver(const SRPC_WS_FormData& form)
        {
            QMutexLocker lock(&mutex);
            return event ? event->onAction_recvc2C(form) : -1;
        }
        void close()
        {
            QMutexLocker lock(&mutex);
            event = nullptr;
        }
    };

    static QVariantMap refusedPassport(const SRPC_WS_FormData& formdata, const char* side);
    void pruneGuards();
    QMetaObject::Connection connectReplies(const std::shared_ptr<ReplyGate>& gate);
    static QVariantMap unitsOf(const QMap<QString, SCollect_Unit>& units);

    SRPC_WS_Interface m_interface;
    QList<QPointer<RpcDistributed_Core>> m_guards;
    QMap<QString, Handler> m_handlers;
    GroupWorkServices* m_services = nullptr;
};

template <class T>
QVariantMap RpcDistributed_Reactor::do_Http_WorkEvent(SRPC_WS_FormData formdata)
{
    bool ok = false;
    passportOfForm(formdata, &ok);
    if (!ok)
        return refusedPassport(formdata, "main");
    auto* event = new T(formdata, nullptr);
    event->set_interface(get_interface());
    event->set_services(m_services);
    auto gate = std::make_shared<ReplyGate>();
    gate->event = event;
    const QMetaObject::Connection replies = connectReplies(gate);
    m_guards.append(QPointer<RpcDistributed_Core>(event));
    pruneGuards();
    if (_link)
        _link->SpreadMessage(event->formdata());  // re-posted to the link thread; sends before the own work
    const WorkEvent_Error code = event->start_workevent();
    QObject::disconnect(replies);
    gate->close();
    QVariantMap answer{{QStringLiteral("work_error"), int(code)}};
    if (code == WorkEvent_Collected) {
        answer.insert(QStringLiteral("result"), event->getResult());
        answer.insert(QStringLiteral("result_detail"), unitsOf(event->record().get_collectlist()));
    }
    const QVariantMap extra = event->finish_workevent();
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        answer.insert(it.key(), it.value());
    return answer;
}

template <class T>
QVariantMap RpcDistributed_Reactor::do_Rpc_WorkEvent(SRPC_WS_FormData formdata)
{
    formdata.topic.remove(QStringLiteral("(rpc)"));
    bool ok = false;
    passportOfForm(formdata, &ok);
    if (!ok) {
        // Answer at once with no unit: the main camera takes it as NG rather
        // than waiting for its limit.
        SRPC_WS_FormData reply = formdata;
        reply.datas.clear();
        if (_link)
            _link->SendMessage_RpcBack(reply);
        return refusedPassport(formdata, "sub");
    }
    auto* event = new T(formdata, nullptr);
    event->set_interface(get_interface());
    event->set_services(m_services);
    event->start_workevent();
    QVariantMap answer{{QStringLiteral("result"), event->getResult()}};
    SRPC_WS_FormData reply = event->formdata();
    const QMap<QString, SCollect_Unit> units = event->record().get_collectlist();
    const QString own = get_interface().own_id;
    reply.datas = units.contains(own) ? units.value(own).toMap() : QVariantMap();
    const QVariantMap extra = event->finish_workevent();
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        answer.insert(it.key(), it.value());
    if (_link)
        _link->SendMessage_RpcBack(reply);
    answer.insert(QStringLiteral("work_error"), 0);
    return answer;
}
