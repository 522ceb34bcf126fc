#pragma once
// The camera group: one main camera, any number of sub cameras, one IO module
// and a machine id; its members' records; the usable network card; and the
// compact one-line text of the group that the IO-module protocol carries,
//   (M1);(io7;192.168.1.50);(C1;192.168.1.10);(C2;192.168.1.11;C3;192.168.1.12)
// machine id; IO module uuid and address; main camera uuid and address; then
// uuid and address of every sub camera.
#include "foundation/cvariant.h"

#include <QList>
#include <QMetaType>
#include <QString>

// One member camera of the group. A plain value.
struct DeviceNetInfo {
    QString uuid;     // the member's device id
    QString address;  // its IPv4 text
    int role = -1;    // 1 main camera, 0 sub camera, -1 not set

    DeviceNetInfo() = default;
    DeviceNetInfo(const QString& id, const QString& addr, int r) : uuid(id), address(addr), role(r) {}
    bool operator==(const DeviceNetInfo& o) const
    {
        return uuid == o.uuid && address == o.address && role == o.role;
    }
    bool operator!=(const DeviceNetInfo& o) const { return !(*this == o); }
};

// One usable network card of this camera. A plain value.
struct DeviceNetInfo_Detail {
    QString ifname;     // the interface's human-readable name
    QString ip;         // IPv4 address
    QString netmask;    // subnet mask
    QString broadcast;  // broadcast address
    QString mac;        // as the interface reports it: six upper-case hex pairs joined by ":"
    QString gateway;    // default gateway; empty when it could not be read

    bool operator==(const DeviceNetInfo_Detail& o) const
    {
        return ifname == o.ifname && ip == o.ip && netmask == o.netmask && broadcast == o.broadcast
               && mac == o.mac && gateway == o.gateway;
    }
};

// The camera-group record. A plain value; the work information keeps the
// process's copy under its group lock.
class ZRC_DeviceInfos {
public:
    QString machine_id;
    QString io_uuid;
    QString io_address;
    int group_state = -1;          // carried along unchanged
    QList<DeviceNetInfo> cameras;  // main camera first when read from camcfg.json
    QString cfg_text;              // compact text; the parser leaves it empty

    // The last camera whose role is 1, or nothing.
    CVariant<DeviceNetInfo> getMain() const;
    // Every camera whose role is not 1, in list order.
    QList<DeviceNetInfo> getSUBS() const;
    // Position of the first camera with `uuid`; -1 when there is none.
    int getAbsIndex_ByID(const QString& uuid) const;

    bool operator==(const ZRC_DeviceInfos& o) const
    {
        return machine_id == o.machine_id && io_uuid == o.io_uuid && io_address == o.io_address
               && group_state == o.group_state && cameras == o.cameras && cfg_text == o.cfg_text;
    }
};

// The compact text of a group. A part whose texts are empty is written as
// "()": the machine id alone, the IO module and the main camera only with
// both uuid and address, sub cameras only with both.
QString MakeCamCfg2Str(const ZRC_DeviceInfos& info);

// Reads a compact text. Four parenthesised groups joined by ";" must be
// found somewhere in the text (text around them is ignored); otherwise the
// result is false and `out` is untouched. On success `out` is replaced by a
// fresh record: the machine id as it is; the IO module and the main camera
// only when their group has exactly two ";"-separated parts; sub cameras
// only when their group has an even number (at least two) of parts. A text
// that names one device id twice is taken as it is, with a warning logged.
// A text longer than 16384 characters is refused (false) unread.
bool ParseStr2CamCfg(const QString& text, ZRC_DeviceInfos& out);

Q_DECLARE_METATYPE(DeviceNetInfo)
Q_DECLARE_METATYPE(DeviceNetInfo_Detail)
Q_DECLARE_METATYPE(ZRC_DeviceInfos)
