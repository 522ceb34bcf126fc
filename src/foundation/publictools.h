#pragma once
// Process-wide time base and the small free functions every subsystem uses:
// the 10 ms heartbeat tick and its liveness rule, random ports, IPv4 / MAC
// text conversions, the IO bit-mask texts of the IO-module protocol, language
// selection of a bilingual text, generated identifiers, network-card queries,
// version comparison and a few file-list helpers.
//
// All functions may be called from any thread. The time functions serialise
// their clock reads on g_mtx_getTime, held only for one read and its
// formatting. Bad input never throws: it gives the empty text, false, 0 or a
// negative code as stated per function.
#include <QDateTime>
#include <QFileInfoList>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <mutex>
#include <string>

#include "foundation/qstring_tl.h"

// The one lock of the time base.
extern std::mutex g_mtx_getTime;

// ---- Time base -------------------------------------------------------------

// Milliseconds since the Unix epoch (wall clock).
qint64 gettimeofday_ms();
// The heartbeat tick: (epoch ms / 10) modulo 1000000000, one step per 10 ms.
int curtime_qint64_2_int();
// Microseconds since the Unix epoch, from one clock read.
qint64 gettimeofday_us();
// The current local date and time in a Qt date-time format
// ("yyyyMMdd_hhmmsszzz", ...); a null format gives the empty text.
QString gettimeofday2str(const char* format);
// The current local date and time.
QDateTime gettimeofday_date();

// Test hook: every reading of the wall clock above is shifted by `ms`, as
// if "date -s" had stepped it (0 restores the real clock). The monotonic
// clock (platform::MonotonicClock) is not affected.
void setWallClockOffsetForTest(qint64 ms);

// The heartbeat tick of a given epoch millisecond value; always 0..999999999.
int heartbeatTickFromMs(qint64 epochMs);

// The liveness rule of every heartbeat check: a peer whose last stamp is
// `lastTick` counts as alive while nowTick - lastTick is below limitMs / 10
// (200 ticks, 2 s, by default). A stamp taken before the tick wrapped gives a
// negative difference and so counts as alive.
bool heartbeatTickAlive(int nowTick, int lastTick, int limitMs = 2000);

// ---- Ports and sockets ------------------------------------------------------

// A random port in 10001..65535, never one of 10410..10419 (those belong to
// the camera's own services).
unsigned RandPort();
// Adds O_NONBLOCK to the descriptor; the result of the set call (-1 on failure).
int set_socket_nonblock(int fd);

// ---- Address texts -----------------------------------------------------------

// Dotted IPv4 text -> network-order integer (INADDR_NONE for a bad text).
unsigned string2nint(const std::string& text);
// Network-order integer -> dotted IPv4 text.
std::string nint2string(unsigned addr);
// Six bytes -> "00:1a:2b:3c:4d:5e"; a null buffer gives the empty text.
std::string ethaddr2string(const unsigned char* mac);
// "00:1a:2b:3c:4d:5e" -> six bytes. Returns 0 when the text is six
// colon-separated hexadecimal bytes and the buffer was written; -1 otherwise,
// with the buffer left untouched.
int string2ethaddr(const QString& text, unsigned char* mac);
// The network of `ip` under `mask` (192.168.1.20 / 255.255.255.0 gives
// 192.168.1.0); empty unless both are four decimal parts.
QString getSubNet(const QString& ip, const QString& mask);
// Replaces the last of four dotted parts with `last`; false (ip unchanged)
// unless the text has four parts.
bool setIPLast(QString& ip, int last);

// ---- IO bit masks -------------------------------------------------------------

// Eight "0"/"1" characters, character i = bit i (mask 5 gives "10100000").
QString ChgIO_Int2ASCII(int mask);
// Character i read as a decimal digit n adds n << i (i below 32); characters
// that are not digits are skipped.
int ChgIO_ASCII2Int(const QString& text);
// The first `count` bits (at most 32) of `value`, bit 0 first, as 0 or 1.
QList<int> ChgIntBitToList(int value, int count);
// "1;2;3" -> 1, 2, 3 (empty and non-numeric parts dropped).
QList<int> string_2_listint(const QString& text);
// 1, 2, 3 -> "1;2;3;".
QString listint_2_string(const QList<int>& list);

// ---- Texts and identifiers ------------------------------------------------------

// A copy without the characters that would break a URL query ("&", "=", "#", "%").
QString httpquery_clearcharacter(const QString& text);
// The text for `lang`, else the "zh-CN" text, else the empty text.
QString TRANS_LANG(const QString& lang, QString_TL text);
// Kind 1: the first 8 hexadecimal digits of a random UUID. Any other kind:
// "VC_#<8 digits>_#<yyyyMMdd_hhmmsszzz>".
QString new_uuid(int kind);
// Compares two version texts by their first four numbers: 1 when a is later,
// -1 when b is later or either text has fewer than four numbers, 0 when equal
// (a longer list of numbers counts as later when the first four are equal).
int getLaterThanVersion(const QString& a, const QString& b);

// ---- Network cards ------------------------------------------------------------------

// True when an interface other than "lo" is up with a usable IPv4 address
// (not link-local 169.254.x.x).
bool FirstFoundBaseIP();

// Fills `ip`, `mask` (at least 16 bytes each), `gateway` (16 bytes) and `mac`
// (18 bytes) for the interface `ifname` (shorter than 16 characters).
// Returns 0 on success; -1 no socket or bad arguments, -2 hardware address
// unreadable, -4 address unreadable, -5 mask unreadable, -6 routing table
// unreadable. The gateway is that of the first default route of the routing
// table, whatever interface it names; without a default route the gateway is
// left empty (the routing table is only ever read).
int GetIfAddr(const char* ifname, char* ip, char* mask, char* gateway, char* mac);

// The gateway (network-order integer) of the first default route of a
// "/proc/net/route" text; false when it holds none.
bool defaultGatewayFromRouteTable(const QByteArray& routeTable, quint32* gateway);

// Sends one ARP request for `target` (network order) from `source` / `mac`
// on `ifname` and waits up to 1 s for the answer. 1: no host answered for
// `target`; 0: one did (or the probe failed); -1: the socket could not be
// opened or set up.
int arpping(unsigned target, unsigned source, const unsigned char* mac, const char* ifname);

// ---- Files ------------------------------------------------------------------------------

// Creates the directory with all missing parents.
void ensureDirectoryExists(const QString& path);
// Appends every file below `dir`, recursively (symbolic links to directories
// are not followed, so a link loop cannot recurse for ever).
void FoundAllFile(QFileInfoList& list, const QString& dir);
// Oldest last-modified first; equal times keep their order.
void SortFileByTime(QFileInfoList& list);
// Empties the folder at the device path `devicePath` (mapped through
// platform::DataRoot), creating it when missing. Every entry goes but those
// whose names begin with "."; a link is removed itself, never what it leads
// to. An empty path or the root is refused. Problems are logged as warnings
// starting with `tag`. False when refused or something stayed.
bool emptyDeviceFolder(const QString& devicePath, const QString& tag);
