#include "group/rpcdist_define.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTcpSocket>
#include <QWebSocket>

int SRPC_WS_Interface::getSubIndex(const QString& id) const
{
    for (int i = 0; i < subs.size(); ++i) {
        if (subs.at(i).uuid == id)
            return i;
    }
    return -1;
}

bool SRPC_WS_Interface::operator==(const SRPC_WS_Interface& o) const
{
    return own_id == o.own_id && main_id == o.main_id && main_address == o.main_address
           && main_value == o.main_value && subs == o.subs && is_main == o.is_main;
}

QString srpcform_2_wsbytes(const SRPC_WS_FormData& form)
{
    const QString uuid = form.uuid.isEmpty()
                             ? QStringLiteral("vc_webskt#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz")
                             : form.uuid;
    QJsonObject obj;
    obj.insert(QStringLiteral("topic"), form.topic);
    obj.insert(QStringLiteral("uuid"), uuid);
    obj.insert(QStringLiteral("device_id"), form.device_id);
    obj.insert(QStringLiteral("datas"), QJsonObject::fromVariantMap(form.datas));
    // QJsonObject keeps its members in key order, so the frame is sorted.
    return QString::fromUtf8(QJsonDocument(obj).toJson(QJsonDocument::Compact));
}

SRPC_WS_FormData wsbytes_2_srpcform(const QString& text)
{
    QString error;
    SRPC_WS_FormData form = wsbytes_2_srpcform(text, &error);
    if (!error.isEmpty())
        qCWarning(level_1).noquote() << "parse_error:" << error;
    return form;
}

SRPC_WS_FormData wsbytes_2_srpcform(const QString& text, QString* parseError)
{
    SRPC_WS_FormData form;
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &err);
    if (err.error != QJsonParseError::NoError) {
        if (parseError)
            *parseError = err.errorString();
        return form;
    }
    const QJsonObject obj = doc.object();  // empty for an array document
    if (!obj.contains(QStringLiteral("topic")) || !obj.contains(QStringLiteral("uuid")))
        return form;
    form.topic = obj.value(QStringLiteral("topic")).toString();
    form.uuid = obj.value(QStringLiteral("uuid")).toString();
    const QJsonValue datas = obj.value(QStringLiteral("datas"));
    if (!datas.isObject())
        return form;
    form.datas = datas.toObject().toVariantMap();
    form.device_id = obj.value(QStringLiteral("device_id")).toString();
    form.valid = true;
    return form;
}

FlowWork_WorkEvent_Back workevent_map_2_back(const QVariantMap& map)
{
    FlowWork_WorkEvent_Back back;
    back.work_error = map.value(QStringLiteral("work_error")).toInt();
    back.result = map.value(QStringLiteral("result")).toBool() ? 1 : 0;
    const QVariantMap detail = map.value(QStringLiteral("result_detail")).toMap();
    for (auto it = detail.constBegin(); it != detail.constEnd(); ++it)
        back.collectlist.insert(it.key(), SCollect_Unit(it.value().toMap()));
    if (back.work_error != 0 && back.result != 0) {
        // An event that did not collect every camera cannot promise that
        // every camera passed.
        qCWarning(level_1) << "[WorkEvent] work error" << back.work_error << "with result" << back.result
                           << "answered as NG";
        back.result = 0;
    }
    return back;
}

void registerGroupMetaTypes()
{
    qRegisterMetaType<SRPC_WS_FormData>("SRPC_WS_FormData");
    qRegisterMetaType<SCollect_Unit>("SCollect_Unit");
    qRegisterMetaType<SRPC_WS_Interface>("SRPC_WS_Interface");
}

bool sendFramesAtOnce(QWebSocket* socket, QObject* owner)
{
    if (!socket)
        return false;
    // A client's TCP connection is its child; an accepted one stays with the
    // server's listener, found there by its two ends.
    QList<QTcpSocket*> tcp = socket->findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
    if (tcp.isEmpty() && owner) {
        for (QTcpSocket* t : owner->findChildren<QTcpSocket*>()) {
            if (t->peerPort() == socket->peerPort() && t->peerAddress() == socket->peerAddress()
                && t->localPort() == socket->localPort())
                tcp.append(t);
        }
    }
    bool set = false;
    for (QTcpSocket* t : tcp) {
        if (t->state() != QAbstractSocket::ConnectedState)
            continue;
        t->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        set = t->socketOption(QAbstractSocket::LowDelayOption).toInt() == 1 || set;
    }
    if (!set)
        qCWarning(level_1).noquote() << "[TM_CAMS] frames to" << socket->peerAddress().toString()
                                     << "may wait for the peer's acknowledgement: no TCP connection to send at once on";
    return set;
}
