#include "liveness/livenessreport.h"

#include <QJsonDocument>

QJsonObject LivenessReport::toJsonObject() const
{
    QJsonObject o;
    o.insert(QStringLiteral("ms_1000"), double(secondsSinceEpoch));
    o.insert(QStringLiteral("main_alive"), mainAlive ? 1 : 0);
    o.insert(QStringLiteral("io_alive"), ioAlive ? 1 : 0);
    o.insert(QStringLiteral("ws_alive"), wsAlive ? 1 : 0);
    o.insert(QStringLiteral("tser_alive"), httpServerAlive ? 1 : 0);
    o.insert(QStringLiteral("hb_alive"), heartbeatAlive ? 1 : 0);
    o.insert(QStringLiteral("io_cnted"), ioConnected ? 1 : 0);
    o.insert(QStringLiteral("cams_cnted"), camerasConnected ? 1 : 0);
    o.insert(QStringLiteral("fps"), fps);
    return o;
}

QByteArray LivenessReport::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}
