#include "net/discovery/gvcp.h"

#include "foundation/publictools.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

void putBE16(std::string& s, int at, quint16 v)
{
    s[at] = char(v >> 8);
    s[at + 1] = char(v & 0xff);
}

quint16 getBE16(const QByteArray& b, int at)
{
    return quint16((quint8(b[at]) << 8) | quint8(b[at + 1]));
}

void putLE(std::string& s, int at, quint64 v, int width)
{
    for (int i = 0; i < width; ++i)
        s[at + i] = char((v >> (8 * i)) & 0xff);
}

quint64 getLE(const QByteArray& b, int at, int width)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint64(quint8(b[at + i])) << (8 * i);
    return v;
}

// An address text in network order at `at` (zeros for a bad text).
void putAddr(std::string& s, int at, const char* text)
{
    in_addr a{};
    if (text && ::inet_pton(AF_INET, text, &a) == 1)
        std::memcpy(&s[at], &a.s_addr, 4);
}

void putText(std::string& s, int at, const char* text, int width)
{
    if (!text)
        return;
    const int n = int(qMin<size_t>(std::strlen(text), size_t(width)));
    std::memcpy(&s[at], text, size_t(n));
}

QString textAt(const char* p, int width)
{
    int n = 0;
    while (n < width && p[n] != '\0')
        ++n;
    return QString::fromLatin1(p, n);
}

QString addrAt(const char* p)
{
    quint32 a = 0;
    std::memcpy(&a, p, 4);
    return QString::fromStdString(nint2string(a));
}

std::string header(bool command, quint16 code, quint16 length)
{
    std::string s(8, '\0');
    if (command) {
        s[0] = char(gvcp::kKey);
        s[1] = char(0x11);
    }
    putBE16(s, 2, code);
    putBE16(s, 4, length);
    putBE16(s, 6, 1);
    return s;
}

std::string action(bool command, quint32 act, qint64 ms)
{
    std::string s = header(command, command ? gvcp::kCmdAction : gvcp::kAckAction, gvcp::kActionPayload);
    s.resize(24, '\0');
    putLE(s, 8, act, 4);
    putLE(s, 16, quint64(ms), 8);
    return s;
}

quint32 hostOrder(quint32 networkOrder) { return ntohl(networkOrder); }

}  // namespace

QString gvcp_discover_ack_payload::mac() const
{
    return QString::fromStdString(ethaddr2string(reinterpret_cast<const unsigned char*>(bytes.data())));
}
QString gvcp_discover_ack_payload::requester() const { return addrAt(bytes.data() + 8); }
QString gvcp_discover_ack_payload::address() const { return addrAt(bytes.data() + 12); }
QString gvcp_discover_ack_payload::mask() const { return addrAt(bytes.data() + 16); }
QString gvcp_discover_ack_payload::gateway() const { return addrAt(bytes.data() + 20); }
QString gvcp_discover_ack_payload::model() const { return textAt(bytes.data() + 56, 32); }
QString gvcp_discover_ack_payload::serviceId() const { return textAt(bytes.data() + 168, 32); }

void gvcp_discover_ack_payload::setAddresses(quint32 requester, quint32 address, quint32 mask, quint32 gateway)
{
    std::memcpy(bytes.data() + 8, &requester, 4);
    std::memcpy(bytes.data() + 12, &address, 4);
    std::memcpy(bytes.data() + 16, &mask, 4);
    std::memcpy(bytes.data() + 20, &gateway, 4);
}

GvcpDatagram parseGvcp(const QByteArray& datagram, bool checkKey)
{
    GvcpDatagram d;
    if (datagram.size() < 8)
        return d;
    if (checkKey && quint8(datagram[0]) != gvcp::kKey) {
        d.kind = GvcpDatagram::ForeignKey;
        return d;
    }
    d.kind = GvcpDatagram::Parsed;
    d.code = getBE16(datagram, 2);
    d.payloadLength = getBE16(datagram, 4);
    d.payload = datagram.mid(8, d.payloadLength);
    return d;
}

QByteArray gvcpRecord(const GvcpDatagram& d, int size)
{
    QByteArray r(size, '\0');
    const int n = qMin(size, int(d.payload.size()));
    std::memcpy(r.data(), d.payload.constData(), size_t(n));
    return r;
}

GvcpForceIp gvcpForceIpOf(const QByteArray& r)
{
    GvcpForceIp f;
    if (r.size() < gvcp::kForceIpPayload)
        return f;
    std::memcpy(&f.address, r.constData() + 12, 4);
    std::memcpy(&f.mask, r.constData() + 16, 4);
    std::memcpy(&f.gateway, r.constData() + 20, 4);
    f.targetId = textAt(r.constData() + 24, 32);
    return f;
}

GvcpAction gvcpActionOf(const QByteArray& r)
{
    GvcpAction a;
    if (r.size() < gvcp::kActionPayload)
        return a;
    a.action = quint32(getLE(r, 0, 4));
    a.timeMs = qint64(getLE(r, 8, 8));
    return a;
}

namespace {
// The card part both acknowledgements share: MAC at 8, then the requester,
// the card's address, mask and gateway at 16 to 28.
std::string cardAck(quint16 code, quint16 payload, const char* requester, const char* ip, const char* mask,
                    const char* gateway, const char* mac)
{
    std::string s = header(false, code, payload);
    s.resize(size_t(8 + payload), '\0');
    unsigned char m[6] = {};
    if (string2ethaddr(QString::fromLatin1(mac), m) == 0)
        std::memcpy(&s[8], m, 6);
    putAddr(s, 16, requester);
    putAddr(s, 20, ip);
    putAddr(s, 24, mask);
    putAddr(s, 28, gateway);
    return s;
}
}  // namespace

std::string gvcp_ack_discover(const char* id, const char* requester, const char* ip, const char* mask,
                              const char* gateway, const char* mac)
{
    std::string s = cardAck(gvcp::kAckDiscover, gvcp::kDiscoverAckPayload, requester, ip, mask, gateway, mac);
    putText(s, 32, "GEV", 32);
    putText(s, 64, "ZEQ-QX417-88KT", 32);
    putText(s, 96, "V2.8.6 180210 143913", 32);
    putText(s, 128, "ZEQ MONITOR", 32);
    putText(s, 176, id, 32);
    return s;
}

std::string gvcp_ack_forceip(const char* id, const char* requester, const char* ip, const char* mask,
                             const char* gateway, const char* mac)
{
    std::string s = cardAck(gvcp::kAckForceIp, gvcp::kForceIpPayload, requester, ip, mask, gateway, mac);
    putText(s, 32, id, 32);
    return s;
}

std::string gvcp_ack_updatetime(qint64 deviceTimeMs) { return action(false, gvcp::kActionUpdateTime, deviceTimeMs); }
std::string gvcp_ack_rebootdaemon(qint64 deviceTimeMs)
{
    return action(false, gvcp::kActionRebootDaemon, deviceTimeMs);
}

std::string gvcp_cmd_discover() { return header(true, gvcp::kCmdDiscover, 0); }
std::string gvcp_cmd_uptime(qint64 hostTimeMs) { return action(true, gvcp::kActionUpdateTime, hostTimeMs); }
std::string gvcp_cmd_rebootdaemon() { return action(true, gvcp::kActionRebootDaemon, 0); }

std::string gvcp_cmd_forceip(const char* ip, const char* mask, const char* gateway, const char* id)
{
    std::string s = header(true, gvcp::kCmdForceIp, gvcp::kForceIpPayload);
    s.resize(64, '\0');
    putAddr(s, 20, ip);
    putAddr(s, 24, mask);
    putAddr(s, 28, gateway);
    putText(s, 32, id, 32);
    return s;
}

QString forceIpRefusal(quint32 address, quint32 mask, quint32 gateway)
{
    const quint32 a = hostOrder(address);
    const quint32 m = hostOrder(mask);
    const quint32 g = hostOrder(gateway);
    if (m == 0 || (~m & (~m + 1)) != 0)
        return QStringLiteral("mask is not a run of ones");
    if (m > 0xfffffffcu)
        return QStringLiteral("mask leaves no host addresses");
    const quint32 first = a >> 24;
    if (first == 0 || first == 127 || first >= 224 || (a >> 16) == 0xa9fe)
        return QStringLiteral("address is not a unicast host address");
    auto hostPartBad = [m](quint32 x) { return (x & ~m) == 0 || (x & ~m) == ~m; };
    if (hostPartBad(a))
        return QStringLiteral("address is its network's network or broadcast address");
    if ((g & m) != (a & m) || hostPartBad(g))
        return QStringLiteral("gateway is not a host of the address's network");
    return QString();
}

QString nextFreeAddress(const QString& candidate, const QStringList& used)
{
    const QStringList parts = candidate.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return QString();
    const int last = parts[3].toInt();
    for (int i = 0; i < 249; ++i) {
        QString ip = candidate;
        setIPLast(ip, ((last + i) % 253) + 1);
        if (!used.contains(ip))
            return ip;
    }
    return QString();
}
