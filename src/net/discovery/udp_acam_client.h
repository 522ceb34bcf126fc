#pragma once
// The operator side of the camera discovery service: broadcasts the
// discovery command from every card of the host, collects the devices'
// announcements by service id (acknowledgements on UDP 10400), re-addresses
// devices outside the host's network or clashing with an address in use,
// sets every device's clock to the host's time, and asks the devices of one
// network to reboot their daemon. Commands go to UDP 3956, fire-and-forget.
//
// Threads: as UDP_Core; every operation runs a local event loop for its
// fixed wait on the object's thread, which is where the answers arrive.
#include "net/discovery/gvcp.h"
#include "net/discovery/udp_core.h"

#include <QMap>

// One planned re-addressing.
struct ForceIpPlan {
    QString serviceId;
    QString requester;   // the host card that sends the command
    QString address;     // the device's new address (and gateway)
    QString mask;
};

class UDP_ACam_Client : public UDP_Core {
    Q_OBJECT
public:
    // `updateTime` false: no clock broadcast at construction (tests).
    explicit UDP_ACam_Client(QObject* parent = nullptr, bool updateTime = true, int commandPort = 3956);

    QMap<QString, gvcp_discover_ack_payload> findCamera();
    void ActForceIP();
    void ActUpdateTime();
    void ActRebootDaemon(const QString& id);

    QMap<QString, gvcp_discover_ack_payload> found() const { return m_found; }
    // The force-IP plan for the found table over these host cards (pure).
    static QList<ForceIpPlan> planForceIp(const QMap<QString, gvcp_discover_ack_payload>& found,
                                          const QMap<QString, DeviceNetInfo_Detail>& cards);

public slots:
    QString AnalysisRecvMessage(sockaddr_in saclient, const QByteArray& recvbuf) override;

private:
    void sendFrom(const QString& cardAddress, const std::string& command);
    static void runLoop(int ms);

    QMap<QString, gvcp_discover_ack_payload> m_found;
    int m_commandPort;
};
