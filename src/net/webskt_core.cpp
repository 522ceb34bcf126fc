#include "net/webskt_core.h"

#include "foundation/publictools.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QSemaphore>

WebSkt_Core::WebSkt_Core(QObject* parent) : QObject(parent), m_pool(std::make_shared<QThreadPool>())
{
    m_pool->setMaxThreadCount(1);
    m_pool->setExpiryTimeout(-1);
    qRegisterMetaType<CTask_FormData_WebSkt_Json>("CTask_FormData_WebSkt_Json");
}

bool WebSkt_Core::isRunning() const
{
    return m_pool->activeThreadCount() > 0;
}

bool WebSkt_Core::reAction(const QHostAddress& address, quint16 port)
{
    deinitialize();
    m_address = address;
    m_port = port;
    return initialize();
}

bool WebSkt_Core::initialize()
{
    if (isRunning())
        return false;
    QSemaphore started;
    bool ok = false;
    m_pool->start([this, &started, &ok] {
        QEventLoop loop;
        connect(this, &WebSkt_Core::readyToClose, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (!onStart()) {
            onFinish();
            started.release();
            return;
        }
        ok = true;
        started.release();
        loop.exec();
        onFinish();
    });
    started.acquire();
    if (!ok)
        m_pool->waitForDone();  // stopped when this returns
    return ok;
}

void WebSkt_Core::deinitialize()
{
    if (!isRunning())
        return;
    emit readyToClose();
    m_pool->waitForDone();
}

void WebSkt_Core::sendTextMessage(CTask_FormData_WebSkt_Json message)
{
    if (message.user_agent.isEmpty())
        message.user_agent = QStringLiteral("vc_webskt#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz");
    emit sig_send_message(message);
}

CTask_FormData_WebSkt_Json WebSkt_Core::analyseBuffer_Setup1_Json(const QString& text)
{
    CTask_FormData_WebSkt_Json m;
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return m;
    const QJsonObject o = doc.object();
    if (!o.contains(QStringLiteral("url")) || !o.contains(QStringLiteral("user_agent")))
        return m;
    m.url = o.value(QStringLiteral("url")).toString();
    m.user_agent = o.value(QStringLiteral("user_agent")).toString();
    if (o.value(QStringLiteral("data")).isObject()) {
        m.data = o.value(QStringLiteral("data")).toObject();
        m.valid = 1;
    }
    return m;
}

QString WebSkt_Core::serialize_Setup2_Json(const CTask_FormData_WebSkt_Json& m)
{
    const QJsonObject o{{"url", m.url}, {"user_agent", m.user_agent}, {"data", m.data}};
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}
