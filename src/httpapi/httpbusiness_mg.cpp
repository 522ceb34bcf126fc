#include "httpapi/httpservice_mg_business.h"
#include "foundation/logmanager.h"

#include "foundation/foundationservices.h"
#include "foundation/zrc_workinformation_manager.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaMethod>
#include <QThread>

HttpBusiness_MG::HttpBusiness_MG(HttpBusiness_MG_Config config, QObject* parent)
    : QObject(parent), m_reactor(QSharedPointer<HttpReactor_MG>::create()), host(config.host), port(config.port),
      limit_max_recvdatas(config.limit_max_recvdatas), limit_onlyurl(config.limit_onlyurl),
      cachefile_path(config.cachefile_path)
{
    m_reactor->set_limit_max_recvdatas(limit_max_recvdatas);
    m_reactor->set_limit_onlyurl(limit_onlyurl);
    m_reactor->set_cachefile_path(cachefile_path);
    m_reactor->set_device_id(ZRC_WorkInformation_Manager::getInstance()->get_deviceid());
}

HttpBusiness_MG::HttpBusiness_MG(QObject* parent)
    : HttpBusiness_MG(HttpBusiness_MG_Config{QHostAddress(QHostAddress::Any), 0, 50, true, QStringLiteral("/tmp/")},
                      parent)
{
}

HttpBusiness_MG::~HttpBusiness_MG()
{
    m_reactor->stopAll();
}

void HttpBusiness_MG::start()
{
    const QMetaObject* meta = metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.methodType() == QMetaMethod::Slot && m.name().contains("WITH_REGISTER_"))
            m.invoke(this, Qt::DirectConnection);
    }
    m_reactor->reAction(host, port);
}

namespace {

// A handler call re-posted to the service's own thread.
class RepostedCall : public QEvent {
public:
    static QEvent::Type kind()
    {
        static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }
    RepostedCall(const char* method, const CTask_FormData_Mongoose& req) : QEvent(kind()), method(method), req(req) {}
    const char* method;  // a literal of the handler
    CTask_FormData_Mongoose req;
};

}  // namespace

bool HttpBusiness_MG::repostToOwnThread(const char* method, const CTask_FormData_Mongoose& req)
{
    if (QThread::currentThread() == thread())
        return false;
    ++m_waitingCalls;
    QCoreApplication::postEvent(this, new RepostedCall(method, req), Qt::LowEventPriority);
    return true;
}

bool HttpBusiness_MG::event(QEvent* e)
{
    if (e->type() != RepostedCall::kind())
        return QObject::event(e);
    const auto* call = static_cast<RepostedCall*>(e);
    --m_waitingCalls;
    if (!QMetaObject::invokeMethod(this, call->method, Qt::DirectConnection,
                                   Q_ARG(CTask_FormData_Mongoose, call->req)))
        qCWarning(level_1) << "[HTTP] cannot call" << call->method << "on the main thread";
    return true;
}

void HttpBusiness_MG::mghttpbus_demo(const CTask_FormData_Mongoose& req)
{
    if (repostToOwnThread("mghttpbus_demo", req))
        return;
    OperationRecord_Interface::ActingUserScope actingUser(req.data.user_id);
    CLimit_List_WorkingUrl guard(m_reactor.data(), req.data.url);
    guard.release();  // the reply is the last act
    m_reactor->finishWorkAction_ParamError(req, 400, QString::fromUtf8("json参数错误dide_daemon_main_runstate"));
}

void HttpBusiness_MG::WITH_REGISTER_mghttpbus_demo()
{
    m_reactor->routes.insert(QStringLiteral("/demo"),
                             [this](const CTask_FormData_Mongoose& req) { mghttpbus_demo(req); });
}
