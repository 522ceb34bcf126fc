#include "group/rpcdistributed_reactor.h"

#include "foundation/publictools.h"

RpcDistributed_Reactor* RpcDistributed_Reactor::_instance = nullptr;

RpcDistributed_Reactor::RpcDistributed_Reactor(QObject* parent, CamPairsLink* link, GroupWorkServices* services)
    : QObject(parent), _link(link), m_services(services)
{
    registerGroupMetaTypes();
    if (!_link) {
        qCWarning(level_1).noquote() << "[RpcDistributed_Reactor] no camera-pair link: work events stay local";
        return;
    }
    connect(_link, &CamPairsLink::sig_found_subcams_broke, this,
            &RpcDistributed_Reactor::sig_wscams_found_subcams_broke);
    connect(_link, &CamPairsLink::sig_recvC2c_rpcmeet_part1, this, &RpcDistributed_Reactor::activate_workevent,
            Qt::QueuedConnection);
    connect(_link, &CamPairsLink::sig_restartrpc_subcams, this,
            &RpcDistributed_Reactor::sig_wscams_restartrpc_subcams);
}

RpcDistributed_Reactor::~RpcDistributed_Reactor()
{
    // Finished events are otherwise freed at the next activation, which
    // never comes now.
    for (const QPointer<RpcDistributed_Core>& event : qAsConst(m_guards)) {
        if (event)
            event->deleteLater();
    }
    if (_instance == this)
        _instance = nullptr;
}

void RpcDistributed_Reactor::set_interface(SRPC_WS_Interface iface) { m_interface = iface; }
SRPC_WS_Interface RpcDistributed_Reactor::get_interface() const { return m_interface; }

void RpcDistributed_Reactor::register_quickmeet(const QString& topic, Handler fn)
{
    m_handlers.insert(topic, [this](SRPC_WS_FormData f) { return do_Quick_WorkEvent(std::move(f)); });
    m_handlers.insert(topic + QStringLiteral("(rpc)"), std::move(fn));
}

QVariantMap RpcDistributed_Reactor::activate_workevent(SRPC_WS_FormData formdata)
{
    const QVariantMap invalid{{QStringLiteral("work_error"), int(WorkEvent_InvalidForm)}};
    if (!formdata.valid || formdata.topic.isEmpty())
        return invalid;
    if (formdata.topic.endsWith(QStringLiteral("(rpc)"))) {
        // Requests act on this camera (templates deleted, subscribers added):
        // only the group's main camera may send them.
        const QString main = get_interface().main_id;
        if (main.isEmpty() || formdata.device_id != main) {
            qCWarning(level_1).noquote() << "[RpcDistributed_Reactor] request refused, not from the main camera:"
                                         << formdata.topic << formdata.uuid << "sender" << formdata.device_id
                                         << "main" << main;
            return invalid;
        }
    }
    const auto it = m_handlers.constFind(formdata.topic);
    if (it == m_handlers.constEnd())
        return QVariantMap{{QStringLiteral("work_error"), int(WorkEvent_NoHandler)}};
    return it.value()(formdata);
}

void RpcDistributed_Reactor::send_quickmeet(QString topic, QVariantMap datas)
{
    SRPC_WS_FormData form;
    form.valid = true;
    form.topic = topic;
    form.uuid = new_uuid(0);
    form.datas = datas;
    activate_workevent(form);  // a quick meet has no answer
}

QVariantMap RpcDistributed_Reactor::do_Quick_WorkEvent(SRPC_WS_FormData formdata)
{
    if (_link)
        _link->SpreadMessage(formdata);
    return {};
}

void RpcDistributed_Reactor::connection_establishment(SRPC_WS_Interface iface)
{
    set_interface(iface);
    if (_link)
        _link->set_interface(iface);
}

QVariantMap RpcDistributed_Reactor::refusedPassport(const SRPC_WS_FormData& formdata, const char* side)
{
    qCWarning(level_1).noquote() << "[RpcDistributed_Reactor] work event refused, unreadable passport (" << side
                                 << "):" << formdata.topic << formdata.uuid << "sender" << formdata.device_id;
    return QVariantMap{{QStringLiteral("work_error"), int(WorkEvent_InvalidForm)}};
}

void RpcDistributed_Reactor::pruneGuards()
{
    for (auto it = m_guards.begin(); it != m_guards.end();) {
        RpcDistributed_Core* event = it->data();
        if (!event) {
            it = m_guards.erase(it);
        } else if (event->isRunning()) {
            ++it;
        } else {
            event->deleteLater();
            it = m_guards.erase(it);
        }
    }
}

QMetaObject::Connection RpcDistributed_Reactor::connectReplies(const std::shared_ptr<ReplyGate>& gate)
{
    if (!_link)
        return {};
    // No context object: the gate runs on the link thread, as the reply comes.
    return connect(_link, &CamPairsLink::sig_recvc2C_rpcmeet_part2,
                   [gate](SRPC_WS_FormData form) -> int { return gate->deliver(form); });
}

QVariantMap RpcDistributed_Reactor::unitsOf(const QMap<QString, SCollect_Unit>& units)
{
    QVariantMap detail;
    for (auto it = units.constBegin(); it != units.constEnd(); ++it)
        detail.insert(it.key(), it.value().toMap());
    return detail;
}
