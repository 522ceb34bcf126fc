#include "group/rpcwork_quickmeet.h"

#include "foundation/logmanager.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

QVariantMap RpcWork_Sync_CountDetail(SRPC_WS_FormData formdata, GroupWorkServices* services)
{
    if (services)
        services->stat_SaveCur(formdata.datas);
    return {};
}

QVariantMap RpcWork_Sync_Subscribe(SRPC_WS_FormData formdata, GroupWorkServices* services)
{
    const QByteArray bytes = formdata.datas.value(QStringLiteral("message")).toByteArray();
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError) {
        qCWarning(level_1).noquote() << "[RpcWork_Sync_Subscribe] subscriber text refused:" << err.errorString();
        return {};
    }
    if (services)
        services->Api_regiest_subscriber(doc.object());  // an array gives an empty object
    return {};
}

QVariantMap RpcWork_Sync_SaveFailImageOnNgNoStop(SRPC_WS_FormData formdata, GroupWorkServices* services)
{
    const auto it = formdata.datas.constFind(QStringLiteral("detect_index"));
    if (it == formdata.datas.constEnd())
        return {};
    // Only a whole number names a step: a text or a fraction would save the
    // picture of step 0.
    const QVariant value = it.value();
    bool whole = false;
    int step = -1;
    switch (int(value.type())) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        step = value.toInt(&whole);
        break;
    case QMetaType::Double: {
        const double d = value.toDouble();
        whole = d >= -1e9 && d <= 1e9 && d == double(int(d));
        step = int(d);
        break;
    }
    default:
        break;
    }
    if (!whole) {
        qCWarning(level_1).noquote() << "[RpcWork_Sync_SaveFailImageOnNgNoStop] detect_index refused:" << value;
        return {};
    }
    if (step >= 0 && step <= 3 && services)
        services->SaveImageFile(step, 8, QString());
    return {};
}
