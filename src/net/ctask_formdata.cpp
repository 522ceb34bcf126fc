#include "net/ctask_formdata.h"

#include "foundation/publictools.h"

#include <QStringList>

TcpTsk_Info::TcpTsk_Info(const QString& id) : create_timing(gettimeofday_ms()), uuid(id) {}

TcpTsk_Info::TcpTsk_Info(const TcpTsk_Info& o)
    : url(o.url),
      create_timing(o.create_timing.load()),
      firstrecv_timing(o.firstrecv_timing.load()),
      finishrecv_timing(o.finishrecv_timing.load()),
      finishact_timing(o.finishact_timing.load()),
      recv_times(o.recv_times.load()),
      uuid(o.uuid),
      recvpacklength(o.recvpacklength)
{
}

TcpTsk_Info& TcpTsk_Info::operator=(const TcpTsk_Info& o)
{
    if (this == &o)
        return *this;
    url = o.url;
    create_timing.store(o.create_timing.load());
    firstrecv_timing.store(o.firstrecv_timing.load());
    finishrecv_timing.store(o.finishrecv_timing.load());
    finishact_timing.store(o.finishact_timing.load());
    recv_times.store(o.recv_times.load());
    uuid = o.uuid;
    recvpacklength = o.recvpacklength;
    return *this;
}

void TcpTsk_Info::tskup_chg_recvpacklength(const QList<QVariant>& args)
{
    if (!args.isEmpty() && args.first().userType() == QMetaType::Int)
        recvpacklength = args.first().toInt();
}

QVariantMap TcpTsk_Info::getReportParam() const
{
    return {
        {QStringLiteral("_tsk_url"), url},
        {QStringLiteral("_tsk_create_timing"), qint64(create_timing.load())},
        {QStringLiteral("_tsk_firstrecv_timing"), qint64(firstrecv_timing.load())},
        {QStringLiteral("_tsk_finishrecv_timing"), qint64(finishrecv_timing.load())},
        {QStringLiteral("_tsk_finishact_timing"), qint64(finishact_timing.load())},
        {QStringLiteral("_tsk_recv_times"), qint64(recv_times.load())},
        {QStringLiteral("_tsk_uuid"), uuid},
        {QStringLiteral("_tsk_recvpacklength"), recvpacklength},
    };
}

int CTask_FormData::getTaskPkgType() const
{
    if (!mat_parts.isEmpty())
        return CTask_Pkg_Mat;
    if (!bytes_parts.isEmpty())
        return CTask_Pkg_Bytes;
    if (!json.isEmpty())
        return CTask_Pkg_Json;
    if (!variant_parts.isEmpty())
        return CTask_Pkg_Multi;
    return CTask_Pkg_Empty;
}

QString CTask_FormData::getResponseFirstLine()
{
    if (!url.isEmpty()) {
        QStringList pairs;
        for (auto it = query.cbegin(); it != query.cend(); ++it) {
            QString value = it.value();
            value.remove(QLatin1Char('&')).remove(QLatin1Char('#')).remove(QLatin1Char('='));
            if (!value.isEmpty())
                pairs << it.key() + QLatin1Char('=') + value;
        }
        const QString q = pairs.isEmpty() ? QString() : QLatin1Char('?') + pairs.join(QLatin1Char('&'));
        return QStringLiteral("%1 %2 HTTP/1.1").arg(method, url + q);
    }
    if (status == 404) {
        msg = QStringLiteral("no found url");
        code = -1;
        return QStringLiteral("HTTP/1.1 %1 Not Found").arg(status);
    }
    if (status == 503) {
        msg = QStringLiteral("服务器忙碌中");
        code = -1;
        return QStringLiteral("HTTP/1.1 %1 Service Unavailable").arg(status);
    }
    return QStringLiteral("HTTP/1.1 %1 OK").arg(status);
}

void registerNetMetaTypes()
{
    static const bool done = [] {
        qRegisterMetaType<CTask_FormData>("CTask_FormData");
        return true;
    }();
    (void)done;
}
