#pragma once
// The datagrams of the camera discovery service (port 3956 commands, port
// 10400 acknowledgements): builders and a parser, pure functions of bytes.
// Eight-byte headers big-endian, IPv4 addresses in network byte order, texts
// zero-filled to their field width, action fields little-endian.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <string>

namespace gvcp {
constexpr quint8 kKey = 0x42;
constexpr quint16 kCmdDiscover = 0x0002;
constexpr quint16 kAckDiscover = 0x0003;
constexpr quint16 kCmdForceIp = 0x0004;
constexpr quint16 kAckForceIp = 0x0005;
constexpr quint16 kCmdAction = 0x0082;
constexpr quint16 kAckAction = 0x0083;
constexpr quint32 kActionUpdateTime = 1;
constexpr quint32 kActionRebootDaemon = 2;
constexpr int kDiscoverAckPayload = 216;
constexpr int kForceIpPayload = 56;
constexpr int kActionPayload = 16;
constexpr quint16 kCommandPort = 3956;
constexpr quint16 kAckPort = 10400;
}  // namespace gvcp

// The 216-byte payload of a discovery acknowledgement, as stored by the client.
struct gvcp_discover_ack_payload {
    std::array<char, gvcp::kDiscoverAckPayload> bytes{};

    QString mac() const;          // colon-separated upper-case hex
    QString requester() const;    // offset 8
    QString address() const;      // offset 12
    QString mask() const;         // offset 16
    QString gateway() const;      // offset 20
    QString model() const;        // offset 56
    QString serviceId() const;    // offset 168, at most 32 characters
    void setAddresses(quint32 requester, quint32 address, quint32 mask, quint32 gateway);  // network order
};

// One received datagram, cut into its parts.
struct GvcpDatagram {
    enum Kind { Short, ForeignKey, Parsed };
    Kind kind = Short;
    quint16 code = 0;           // command or acknowledge code (bytes 2, 3)
    quint16 payloadLength = 0;  // as declared (bytes 4, 5)
    QByteArray payload;         // the bytes after the header, at most payloadLength
};

// Cuts a command (checkKey: byte 0 must be 0x42) or an acknowledgement.
GvcpDatagram parseGvcp(const QByteArray& datagram, bool checkKey);
// The first `size` bytes of the payload in a zeroed record of that size
// (a longer declared length is cut, a shorter one leaves zeros).
QByteArray gvcpRecord(const GvcpDatagram& d, int size);

// A force-IP command's payload read from its 56-byte record.
struct GvcpForceIp {
    quint32 address = 0;  // network order
    quint32 mask = 0;
    quint32 gateway = 0;
    QString targetId;     // up to the first zero byte, at most 32 characters
};
GvcpForceIp gvcpForceIpOf(const QByteArray& record56);
// An action payload read from its 16-byte record.
struct GvcpAction {
    quint32 action = 0;
    qint64 timeMs = 0;
};
GvcpAction gvcpActionOf(const QByteArray& record16);

// Acknowledgements of the device (addresses dotted, MAC with colons).
std::string gvcp_ack_discover(const char* id, const char* requester, const char* ip, const char* mask,
                              const char* gateway, const char* mac);
std::string gvcp_ack_forceip(const char* id, const char* requester, const char* ip, const char* mask,
                             const char* gateway, const char* mac);
std::string gvcp_ack_updatetime(qint64 deviceTimeMs);
std::string gvcp_ack_rebootdaemon(qint64 deviceTimeMs);

// Commands of the client.
std::string gvcp_cmd_discover();
std::string gvcp_cmd_uptime(qint64 hostTimeMs);
std::string gvcp_cmd_rebootdaemon();
std::string gvcp_cmd_forceip(const char* ip, const char* mask, const char* gateway, const char* id);

// A checked IPv4 setting for a force-IP: a unicast host address, a mask of
// contiguous ones (/1 to /30), and a gateway inside the same network that is
// neither its network nor its broadcast address. Empty when it is sound,
// else why not.
QString forceIpRefusal(quint32 address, quint32 mask, quint32 gateway);

// The next free address for a device whose candidate clashes: last parts
// ((L + i) mod 253) + 1 for i = 0, 1, ... (at most 249 tries), the first one
// not in `used`. Empty when none is free or the address has not four parts.
QString nextFreeAddress(const QString& candidate, const QStringList& used);
