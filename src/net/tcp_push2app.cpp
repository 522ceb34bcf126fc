#include "net/tcp_push2app.h"

#include "foundation/publictools.h"
#include "net/netlog.h"

#include <QJsonDocument>
#include <QJsonObject>

Tcp_Push2APP::Tcp_Push2APP(int lifetime_s, QObject* parent) : HttpManager(CLST_Client, parent)
{
    setProperty("create-time", gettimeofday_ms());
    life_timer.setSingleShot(true);
    connect(&life_timer, &QTimer::timeout, this, &Tcp_Push2APP::onLifetimeOver);
    m_lifetimeMs = lifetime_s * 1000;
    life_timer.start(m_lifetimeMs);
}

Tcp_Push2APP::~Tcp_Push2APP()
{
    alive = false;
}

void Tcp_Push2APP::finish()
{
    if (!alive)
        return;
    alive = false;
    life_timer.stop();
    deleteLater();
}

void Tcp_Push2APP::onLifetimeOver()
{
    // The lifetime counts from the last byte handed over: a push still
    // moving its bytes (a large file to a slow application) lives on, and
    // once its last byte is out the application has a whole lifetime to
    // take what the kernel still holds and answer. The send's own guard,
    // counting from its last progress, ends a stalled send and so the push.
    if (reactor && reactor->isSending()) {
        if (!m_extended)
            qCInfo(level_1).noquote() << "[POST_2_APP]" << property("typename").toString()
                                      << "still sending after its lifetime; kept while it moves";
        m_extended = true;
        life_timer.start(m_lifetimeMs);
        return;
    }
    const qint64 sinceWrite = reactor ? reactor->msSinceLastWrite() : -1;
    if (sinceWrite >= 0 && sinceWrite < m_lifetimeMs) {
        life_timer.start(int(m_lifetimeMs - sinceWrite));
        return;
    }
    finish();
}

void Tcp_Push2APP::reactorMade(CLSC::TcpReactor* r)
{
    connect(r, &CLSC::TcpReactor::sigSessionClosed, this, &Tcp_Push2APP::finish, Qt::QueuedConnection);
}

void Tcp_Push2APP::SlotRecvResponse(CTask_FormData form, bool ok)
{
    if (!ok)
        return;
    const qint64 total = gettimeofday_ms() - property("create-time").toLongLong();
    // The application answers with the envelope; its "result" holds the times.
    QJsonObject result;
    QJsonObject envelope = form.json;
    if (envelope.isEmpty() && !form.body.isEmpty())
        envelope = QJsonDocument::fromJson(form.body).object();
    const QJsonValue r = envelope.value(QStringLiteral("result"));
    qint64 recv = -1;
    qint64 analysis = -1;
    if (r.isObject()) {
        result = r.toObject();
        recv = result.value(QStringLiteral("recv_time")).toVariant().toLongLong();
        analysis = result.value(QStringLiteral("analysis_time")).toVariant().toLongLong();
        if (!result.contains(QStringLiteral("recv_time")))
            recv = -1;
        if (!result.contains(QStringLiteral("analysis_time")))
            analysis = -1;
    }
    qCInfo(level_1).noquote() << "[POST_2_APP] -" << property("typename").toString() << ": all-time(ms):" << total
                              << "app-recv(ms):" << recv << "app-parse(ms):" << analysis;
    finish();
}
