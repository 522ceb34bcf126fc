#include "foundation/publictools.h"
#include "foundation/logmanager.h"

#include "platform/system/dataroot.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QStringList>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

std::mutex g_mtx_getTime;

namespace {

constexpr qint64 kTickModulo = 1000000000;

std::atomic<qint64> g_wallOffsetMs{0};  // test hook, see setWallClockOffsetForTest

// One read of the wall clock, under the time lock.
timeval readClock()
{
    std::lock_guard<std::mutex> lock(g_mtx_getTime);
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    const qint64 offset = g_wallOffsetMs.load();
    if (offset != 0) {
        const qint64 us = qint64(tv.tv_sec) * 1000000 + tv.tv_usec + offset * 1000;
        tv.tv_sec = time_t(us / 1000000);
        tv.tv_usec = suseconds_t(us % 1000000);
    }
    return tv;
}

QDateTime currentDateTime()
{
    return QDateTime::currentDateTime().addMSecs(g_wallOffsetMs.load());
}

// Closes a descriptor when it leaves scope.
class FdCloser {
public:
    explicit FdCloser(int fd) : m_fd(fd) {}
    ~FdCloser()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int m_fd;
};

// Writes `text` into a caller buffer of `size` bytes, always terminated.
void copyOut(char* out, size_t size, const char* text)
{
    std::snprintf(out, size, "%s", text);
}

std::string dotted(const sockaddr& sa)
{
    sockaddr_in in{};
    std::memcpy(&in, &sa, sizeof(in));
    return nint2string(in.sin_addr.s_addr);
}

}  // namespace

// ---- Time base -------------------------------------------------------------

qint64 gettimeofday_ms()
{
    const timeval tv = readClock();
    return qint64(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
}

int heartbeatTickFromMs(qint64 epochMs)
{
    qint64 tick = (epochMs / 10) % kTickModulo;
    if (tick < 0)  // a clock set before 1970; keep the tick in its range
        tick += kTickModulo;
    return int(tick);
}

int curtime_qint64_2_int()
{
    return heartbeatTickFromMs(gettimeofday_ms());
}

bool heartbeatTickAlive(int nowTick, int lastTick, int limitMs)
{
    // Ticks lie in 0..999999999, so the difference fits in 32 bits; it is
    // taken in 64 bits so that a stamp that was never set cannot overflow.
    const qint64 d = qint64(nowTick) - qint64(lastTick);
    return d < limitMs / 10;
}

qint64 gettimeofday_us()
{
    const timeval tv = readClock();
    return qint64(tv.tv_sec) * 1000000 + tv.tv_usec;
}

QString gettimeofday2str(const char* format)
{
    if (!format)
        return QString();
    const QString fmt = QString::fromUtf8(format);
    std::lock_guard<std::mutex> lock(g_mtx_getTime);
    return currentDateTime().toString(fmt);
}

QDateTime gettimeofday_date()
{
    std::lock_guard<std::mutex> lock(g_mtx_getTime);
    return currentDateTime();
}

void setWallClockOffsetForTest(qint64 ms)
{
    g_wallOffsetMs.store(ms);
}

// ---- Ports and sockets ------------------------------------------------------

unsigned RandPort()
{
    for (;;) {
        const unsigned port = unsigned(std::rand()) & 0xFFFFu;
        if (port > 10000 && (port < 10410 || port > 10419))
            return port;
    }
}

int set_socket_nonblock(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0)
        return -1;
    return ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// ---- Address texts -----------------------------------------------------------

unsigned string2nint(const std::string& text)
{
    return unsigned(::inet_addr(text.c_str()));
}

std::string nint2string(unsigned addr)
{
    in_addr in{};
    in.s_addr = addr;
    char buf[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &in, buf, sizeof(buf)))
        return std::string();
    return std::string(buf);
}

std::string ethaddr2string(const unsigned char* mac)
{
    if (!mac)
        return std::string();
    char buf[18] = {};
    std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return std::string(buf);
}

int string2ethaddr(const QString& text, unsigned char* mac)
{
    if (!mac)
        return -1;
    const QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (parts.size() != 6)
        return -1;
    unsigned char bytes[6];
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts.at(i).toUInt(&ok, 16);
        if (!ok || v > 0xFF)
            return -1;  // not a MAC text: leave the caller's buffer as it was
        bytes[i] = static_cast<unsigned char>(v);
    }
    std::memcpy(mac, bytes, sizeof(bytes));
    return 0;
}

QString getSubNet(const QString& ip, const QString& mask)
{
    const QStringList ipParts = ip.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    const QStringList maskParts = mask.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (ipParts.size() != 4 || maskParts.size() != 4)
        return QString();
    QStringList out;
    for (int i = 0; i < 4; ++i) {
        bool okIp = false;
        bool okMask = false;
        const int a = ipParts.at(i).toInt(&okIp, 10);
        const int b = maskParts.at(i).toInt(&okMask, 10);
        if (!okIp || !okMask)
            return QString();
        out << QString::number(a & b);
    }
    return out.join(QLatin1Char('.'));
}

bool setIPLast(QString& ip, int last)
{
    QStringList parts = ip.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 4)
        return false;
    parts[3] = QString::number(last);
    ip = parts.join(QLatin1Char('.'));
    return true;
}

// ---- IO bit masks -------------------------------------------------------------

QString ChgIO_Int2ASCII(int mask)
{
    QString out;
    out.reserve(8);
    for (int i = 0; i < 8; ++i)
        out.append(((unsigned(mask) >> i) & 1u) ? QLatin1Char('1') : QLatin1Char('0'));
    return out;
}

int ChgIO_ASCII2Int(const QString& text)
{
    // Unsigned arithmetic: a digit above 1 near position 31 must not overflow.
    quint32 result = 0;
    for (int i = 0; i < text.size(); ++i) {
        bool ok = false;
        const int v = QString(text.at(i)).toInt(&ok, 10);
        if (!ok || i >= 32)
            continue;
        result |= quint32(v) << i;
    }
    return int(result);
}

QList<int> ChgIntBitToList(int value, int count)
{
    QList<int> out;
    const int n = std::min(count, 32);
    for (int i = 0; i < n; ++i)
        out << int((quint32(value) >> i) & 1u);
    return out;
}

QList<int> string_2_listint(const QString& text)
{
    QList<int> out;
    const QStringList parts = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& p : parts) {
        bool ok = false;
        const int v = p.toInt(&ok, 10);
        if (ok)
            out << v;
    }
    return out;
}

QString listint_2_string(const QList<int>& list)
{
    QString out;
    for (int v : list)
        out += QString::number(v) + QLatin1Char(';');
    return out;
}

// ---- Texts and identifiers ------------------------------------------------------

QString httpquery_clearcharacter(const QString& text)
{
    QString out = text;
    out.remove(QLatin1Char('&'));
    out.remove(QLatin1Char('='));
    out.remove(QLatin1Char('#'));
    out.remove(QLatin1Char('%'));
    return out;
}

QString TRANS_LANG(const QString& lang, QString_TL text)
{
    // An entry for the language wins even when its text is empty.
    if (text.contains(lang))
        return text.text(lang);
    return text.text(QStringLiteral("zh-CN"));
}

QString new_uuid(int kind)
{
    // "{xxxxxxxx-xxxx-...}": the first group without its brace.
    const QString text = QUuid::createUuid().toString();
    QString first = text.split(QLatin1Char('-')).value(0);
    first.remove(QLatin1Char('{'));
    first = first.toLower();
    if (kind == 1)
        return first;
    return QStringLiteral("VC_#%1_#%2").arg(first, gettimeofday2str("yyyyMMdd_hhmmsszzz"));
}

int getLaterThanVersion(const QString& a, const QString& b)
{
    static const QRegularExpression digits(QStringLiteral("\\d+"));
    auto numbers = [](const QString& text) {
        QList<qlonglong> out;
        auto it = digits.globalMatch(text);
        while (it.hasNext())
            out << it.next().captured(0).toLongLong();
        return out;
    };
    const QList<qlonglong> na = numbers(a);
    const QList<qlonglong> nb = numbers(b);
    if (na.size() < 4 || nb.size() < 4)
        return -1;
    for (int i = 0; i < 4; ++i) {
        if (na.at(i) > nb.at(i))
            return 1;
        if (na.at(i) < nb.at(i))
            return -1;
    }
    if (na.size() > nb.size())
        return 1;
    if (na.size() < nb.size())
        return -1;
    return 0;
}

// ---- Network cards ------------------------------------------------------------------

bool FirstFoundBaseIP()
{
    bool found = false;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : all) {
        if (!iface.isValid() || !(iface.flags() & QNetworkInterface::IsUp)) {
            qInfo() << "iface: NO Valid";
            continue;
        }
        if (iface.name() == QLatin1String("lo"))
            continue;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry& e : entries) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            const QString text = e.ip().toString();
            if (!text.isEmpty() && !text.contains(QLatin1String("169.254.")))
                found = true;
        }
    }
    return found;
}

bool defaultGatewayFromRouteTable(const QByteArray& routeTable, quint32* gateway)
{
    const QList<QByteArray> lines = routeTable.split('\n');
    for (int i = 1; i < lines.size(); ++i) {  // line 0 is the column header
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 3 || fields.at(0).isEmpty())
            continue;
        bool okDest = false;
        bool okGw = false;
        const qulonglong dest = fields.at(1).toULongLong(&okDest, 16);
        const qulonglong gw = fields.at(2).toULongLong(&okGw, 16);
        if (!okDest || !okGw)
            continue;
        if (dest == 0) {
            // The kernel prints the network-order value as it lies in memory.
            if (gateway)
                *gateway = quint32(gw);
            return true;
        }
    }
    return false;
}

int GetIfAddr(const char* ifname, char* ip, char* mask, char* gateway, char* mac)
{
    if (!ifname || !ip || !mask || !gateway || !mac) {
        qCWarning(level_1) << "GetIfAddr: missing argument";
        return -1;
    }
    if (std::strlen(ifname) >= IFNAMSIZ) {
        // A longer name would be cut and name another interface.
        qCWarning(level_1) << "GetIfAddr: interface name too long:" << ifname;
        return -1;
    }

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        qCWarning(level_1) << "socket error";
        return -1;
    }
    {
        FdCloser closer(fd);
        ifreq req{};
        std::memcpy(req.ifr_name, ifname, std::strlen(ifname));

        req.ifr_hwaddr.sa_family = AF_INET;
        if (::ioctl(fd, SIOCGIFHWADDR, &req) < 0) {
            qCWarning(level_1) << "ioctl SIOCGIFHWADDR error";
            return -2;
        }
        copyOut(mac, 18,
                ethaddr2string(reinterpret_cast<const unsigned char*>(req.ifr_hwaddr.sa_data))
                    .c_str());

        if (::ioctl(fd, SIOCGIFADDR, &req) < 0)
            return -4;
        copyOut(ip, 16, dotted(req.ifr_addr).c_str());

        if (::ioctl(fd, SIOCGIFNETMASK, &req) < 0)
            return -5;
        copyOut(mask, 16, dotted(req.ifr_netmask).c_str());
    }

    QFile route(QStringLiteral("/proc/net/route"));
    if (!route.open(QIODevice::ReadOnly))
        return -6;
    const QByteArray table = route.readAll();
    route.close();

    // Without a default route the gateway stays empty: the routing table of
    // the device is never changed here.
    quint32 gw = 0;
    if (defaultGatewayFromRouteTable(table, &gw))
        copyOut(gateway, 16, nint2string(gw).c_str());
    else
        copyOut(gateway, 16, "");
    return 0;
}

namespace {

struct ArpFrame {
    quint8 dstMac[6];
    quint8 srcMac[6];
    quint16 etherType;
    quint16 hwType;
    quint16 protoType;
    quint8 hwLen;
    quint8 protoLen;
    quint16 operation;
    quint8 senderMac[6];
    quint8 senderIp[4];
    quint8 targetMac[6];
    quint8 targetIp[4];
    quint8 padding[18];
} __attribute__((packed));
static_assert(sizeof(ArpFrame) == 60, "an ARP request is one 60-byte Ethernet frame");

constexpr quint16 kEtherTypeArp = 0x0806;

}  // namespace

int arpping(unsigned target, unsigned source, const unsigned char* mac, const char* ifname)
{
    if (!mac || !ifname)
        return -1;
    sockaddr addr{};
    if (std::strlen(ifname) >= sizeof(addr.sa_data))
        return -1;

    const int fd = ::socket(PF_PACKET, SOCK_PACKET, htons(kEtherTypeArp));
    if (fd < 0)
        return -1;
    FdCloser closer(fd);
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on)) < 0)
        return -1;

    ArpFrame req{};
    std::memset(req.dstMac, 0xFF, sizeof(req.dstMac));
    std::memcpy(req.srcMac, mac, 6);
    req.etherType = htons(kEtherTypeArp);
    req.hwType = htons(1);
    req.protoType = htons(0x0800);
    req.hwLen = 6;
    req.protoLen = 4;
    req.operation = htons(1);
    std::memcpy(req.senderMac, mac, 6);
    std::memcpy(req.senderIp, &source, 4);
    std::memcpy(req.targetIp, &target, 4);

    std::memcpy(addr.sa_data, ifname, std::strlen(ifname));
    int rv = ::sendto(fd, &req, sizeof(req), 0, &addr, sizeof(addr)) < 0 ? 0 : 1;

    timeval tm{1, 0};
    time_t prev = std::time(nullptr);
    while (tm.tv_sec > 0 || tm.tv_usec > 0) {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        const int n = ::select(fd + 1, &fds, nullptr, nullptr, &tm);
        if (n < 0) {
            if (errno != EINTR) {
                rv = 0;
                break;
            }
        } else if (n > 0 && FD_ISSET(fd, &fds)) {
            ArpFrame reply{};
            if (::recv(fd, &reply, sizeof(reply), 0) < 0) {
                rv = 0;
                break;
            }
            if (reply.operation == htons(2) && std::memcmp(reply.targetMac, mac, 6) == 0
                && std::memcmp(reply.senderIp, &target, 4) == 0) {
                rv = 0;
                break;
            }
        }
        const time_t now = std::time(nullptr);
        tm.tv_sec -= now - prev;
        prev = now;
        if (tm.tv_sec < 0)
            break;
    }
    return rv;
}

// ---- Files ------------------------------------------------------------------------------

void ensureDirectoryExists(const QString& path)
{
    if (QDir().mkpath(path))
        qDebug().noquote() << "目录已存在或创建成功：" + path;
    else
        qDebug().noquote() << "目录创建失败：" + path;
}

void FoundAllFile(QFileInfoList& list, const QString& dir)
{
    const QFileInfoList entries =
        QDir(dir).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                QDir::Unsorted);
    for (const QFileInfo& info : entries) {
        if (info.isDir()) {
            if (!info.isSymLink())
                FoundAllFile(list, info.absoluteFilePath());
        } else {
            list << QFileInfo(info.absoluteFilePath());
        }
    }
}

void SortFileByTime(QFileInfoList& list)
{
    std::stable_sort(list.begin(), list.end(), [](const QFileInfo& a, const QFileInfo& b) {
        return a.lastModified() < b.lastModified();
    });
}

bool emptyDeviceFolder(const QString& devicePath, const QString& tag)
{
    if (devicePath.trimmed().isEmpty() || QDir::cleanPath(devicePath) == QLatin1String("/")) {
        qCWarning(level_1).noquote() << tag << "refusing to empty the folder" << devicePath;
        return false;
    }
    const QString path = platform::DataRoot::path(devicePath);
    const QFileInfo info(path);
    if (QDir::cleanPath(info.absoluteFilePath()) == QLatin1String("/")) {
        qCWarning(level_1).noquote() << tag << "refusing to empty the folder" << devicePath;
        return false;
    }
    if (!info.exists()) {
        if (QDir().mkpath(path))
            return true;
        qCWarning(level_1).noquote() << tag << "cannot create the folder" << path;
        return false;
    }
    if (!info.isDir()) {
        qCWarning(level_1).noquote() << tag << "not a folder:" << path;
        return false;
    }
    bool all = true;
    const QFileInfoList entries = QDir(path).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& fi : entries) {
        if (fi.fileName().startsWith('.'))
            continue;
        const bool removed = (fi.isDir() && !fi.isSymLink()) ? QDir(fi.filePath()).removeRecursively()
                                                             : QFile::remove(fi.filePath());
        if (!removed) {
            qCWarning(level_1).noquote() << tag << "cannot remove" << fi.filePath();
            all = false;
        }
    }
    return all;
}
