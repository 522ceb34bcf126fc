#pragma once
// The device side of the camera discovery service on UDP 3956: announces
// every network card to a discovery client, takes a forced IPv4 setting
// addressed by this service's id, sets the clock from a client's time, and
// reports a reboot request to its owner. Acknowledgements go to
// 255.255.255.255:10400 from the card they speak for.
//
// Carried, never started by the camera program. The protocol has no
// authentication, so every setting is checked before anything is changed:
// a force-IP must name a sound host address, mask and gateway, a time must
// lie between this program's build day and 2100; the commands run as
// argument lists through the command runner (recorded only in simulation).
//
// Threads: as UDP_Core; analysis and the commands run on the object's thread.
#include "net/discovery/gvcp.h"
#include "net/discovery/udp_core.h"

class UDP_ACam_Server : public UDP_Core {
    Q_OBJECT
public:
    explicit UDP_ACam_Server(QObject* parent = nullptr, int port = 3956);

public slots:
    QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf) override;

signals:
    void sig_updatetime();
    void sig_rebootdaemon();

private:
    void onDiscover(const QString& requester);
    void onForceIp(const QString& requester, const GvcpDatagram& d);
    void onAction(const GvcpDatagram& d);
    // Sets the clock to `ms`; false (nothing changed beyond the zone file) when refused or failed.
    bool setClock(qint64 ms);
    void acknowledge(const std::string& ack, const QString& fromAddress, int waitMs);
};
