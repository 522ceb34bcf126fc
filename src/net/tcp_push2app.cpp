#include "net/tcp_push2app.h"

#include "foundation/publictools.h"
#include "net/netlog.h"

#include <QJsonDocument>
#include <QJsonObject>

Tcp_Push2APP::Tcp_Push2APP(int lifetime_s, QObject* parent) : HttpManager(CLST_Client, parent)
{
    setProperty("create-time", gettimeofday_ms());
    life_timer.setSingleShot(true);
    connect(&life_timer, &QTimer::timeout, this, &Tcp_Push2APP::finish);
    life_timer.start(lifetime_s * 1000);
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

bool Tcp_Push2APP::startReactor(const QHostAddress& host, quint16 port, int mode)
{
    if (!HttpManager::startReactor(host, port, mode))
        return false;
    connect(reactor.get(), &CLSC::TcpReactor::sigSessionClosed, this, &Tcp_Push2APP::finish, Qt::QueuedConnection);
    return true;
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
