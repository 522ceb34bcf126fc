#pragma once
// The work information: this camera's device id, its camera group (kept in
// "./camcfg.json"), its current network card, the block of shared work state
// that many subsystems read and write, and the main loop's liveness stamp.
//
// One process-wide object, reached from every thread through getInstance().
// Locks: the work block has a mutex; the group record has a read-write lock;
// where both are held the group lock is taken first. The network card has its
// own lock (inside its CVariant). The liveness stamp is atomic.
#include "foundation/cvariant.h"
#include "foundation/foundationservices.h"
#include "foundation/zrc_deviceinfos.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <string>

// Warning tips shown to the operator in the run state.
enum ZRC_WarnTip {
    ZRC_WarnTip_None = 0,
    // The network fluctuated and every IO connection was dropped.
    ZRC_WarnTip_NetFluctuation_IOAllBroken = 1,
};

// One operator application registered with this camera.
struct AppRegiestInfo {
    qint64 time_ms = 0;  // its last registration, epoch milliseconds
    QString version;     // its "app_version", e.g. "V1.6.7.94"
    // The same moment on platform::MonotonicClock; ages are measured on it,
    // since a heartbeat answer may step the wall clock. Every writer sets it.
    qint64 mono_ms = 0;
};

// The shared work block. Readers get a copy (get_working_info); writers change
// their field under the work mutex (update_working_info).
struct ZRC_WorkInfos {
    std::string group_text;                              // compact group text, UTF-8
    bool clock_synced = false;                           // clock taken from a heartbeat answer
    bool started = true;                                 // detection switched on (false counts as stop time)
    int link_flags = 0;                                  // bit 0 IO module up, bit 1 camera-group links up
    bool busy = false;                                   // a work event is running
    std::map<std::string, DeviceNetInfo> sub_devices;    // sub cameras registered with this main camera
    int input_bits = 0;                                  // bit i = level of input i
    int output_bits = 0;                                 // bit i = output i
    unsigned char no_input_warning = 0;                  // machine IO's missing-input warning
    std::string taken_app_ip;                            // application that has taken this camera
    std::map<std::string, AppRegiestInfo> registered_apps;  // by application IPv4 address
    int warn_tip = ZRC_WarnTip_None;                     // a ZRC_WarnTip value
    std::string user_id;                                 // "User-ID" of the last API request
};

class ZRC_WorkInformation_Manager : public QObject {
    Q_OBJECT
public:
    // The process-wide object, created on first use (the device id is derived
    // then, which may take about a second) and never destroyed. The first call
    // happens on the start-up thread before any other thread exists.
    static ZRC_WorkInformation_Manager* getInstance();

    // Start-up: reads the camera group from "./camcfg.json" (writing the file
    // back, or a fresh one), finds the network card and binds this camera's id
    // to its address, and, on the main camera, registers the sub cameras in the
    // work block. May be called again (the tests do, after changing the working
    // directory): each call starts from a fresh work block, group record and
    // network card, as at construction.
    void init();

    // This camera's device id; fixed at construction, read without a lock.
    const QString& get_deviceid() const { return m_deviceId; }

    // ---- work block ----
    ZRC_WorkInfos get_working_info() const;
    // Runs `change` on the work block under the work mutex. Keep it short and
    // take no other lock of this object inside it.
    void update_working_info(const std::function<void(ZRC_WorkInfos&)>& change);

    // ---- liveness of the main loop (heartbeat ticks, see publictools.h) ----
    // The main loop writes its tick on every round; the moment of the last
    // write is kept on the monotonic clock (from construction until the
    // first write), so a stall is measured from when the loop last ran.
    void set_mainloop_tick(int tick);
    int mainloop_tick() const { return m_mainloopTick.load(); }
    qint64 mainloop_tick_written_ms() const { return m_mainloopTickWrittenMs.load(); }

    // ---- camera group ----
    ZRC_DeviceInfos get_device_info() const;
    // Replaces the group record, rewrites camcfg.json, refreshes the group text
    // of the work block and emits sig_device_info_change.
    void set_device_info(const ZRC_DeviceInfos& info);
    CVariant<DeviceNetInfo> getMainCamera() const;
    QList<DeviceNetInfo> getSubCameras() const;
    QList<DeviceNetInfo> getAllCameras() const;
    // True when the group's main camera has a non-empty uuid equal to this
    // camera's device id.
    bool IsMainCamera() const;
    // The group's cameras (device id and role), in list order, for the flow.
    CamDevices_Interface get2CamDevices_Interface() const;

    // Text of a warning tip in the current language (g_Language); empty for
    // tips without a text.
    static QString parseWarnTip(int tip);

    // ---- network card and address binding ----
    // Re-reads the network card and binds this camera's id to its address.
    // True when this camera is a member of the group (its address is then
    // rewritten even when unchanged, and warning tip 1 is set). When the
    // address really changed and the hub records, one "system" record says so.
    // Without a usable card nothing is bound and the result is false.
    bool recheckDeviceInfo();
    // Gives the first camera with uuid `id` the address `ip` and stores the
    // group; false (nothing stored) when no camera has that uuid.
    bool update_device_info_id_bound_ip(const QString& id, const QString& ip);
    // The network card found by the last recheckDeviceInfo (empty when none).
    CVariant<DeviceNetInfo_Detail> get_netcard() const { return m_netcard; }

    // How the network card is found: fills the card and returns true, or
    // returns false when there is none. The default walks the interfaces
    // (findFirstNetCard); tests hand in a fixture. An empty function restores
    // the default.
    using NetCardProbe = std::function<bool(DeviceNetInfo_Detail&)>;
    void setNetCardProbe(NetCardProbe probe);
    // The first IPv4 address entry of the first interface that is up and not
    // a loop-back interface; the gateway from GetIfAddr when that succeeds.
    static bool findFirstNetCard(DeviceNetInfo_Detail& card);

    // Where operator and system records go; the hub registers itself once it
    // exists. Null (the default) means nothing is recorded.
    void setRecordWriter(OperationRecord_Interface* writer) { m_recordWriter.store(writer); }
    OperationRecord_Interface* recordWriter() const { return m_recordWriter.load(); }

    // ---- camcfg.json ----
    // Reads the group record from the file (a missing file gives an empty
    // group with an empty main camera; an unreadable or invalid file is moved
    // aside as "camcfg.json.broken-<time>" and logged), writes it back and
    // refreshes the group text of the work block.
    void LoadCamCfg();
    // Writes the group record to the file, atomically. False when it could
    // not be written (logged).
    bool SaveCamCfg();
    static QString camCfgPath() { return QStringLiteral("./camcfg.json"); }
    // The file's bytes for a group record: an indented JSON object, four
    // spaces a level, keys in ascending order.
    static QByteArray camCfgJson(const ZRC_DeviceInfos& info);

    // ---- device search (machine IO) ----
    bool is_searching() const;
    void set_searching(bool on);
    // Stores one discovery answer under the sender's address, replacing an
    // earlier one.
    void set_searching_allinfos(const QString& address, const QString& text);
    QMap<QString, QString> get_searching_allinfos() const;
    void clear_searching_allinfos();

    // ---- the text of the most recently written record (hub) ----
    void set_last_operate(const QString& text);
    QString get_last_operate() const;

signals:
    // Emitted on the caller's thread after every change of the group record.
    void sig_device_info_change();

private:
    ZRC_WorkInformation_Manager();

    // Callers hold m_groupLock for writing.
    bool saveCamCfgLocked();
    void storeDeviceInfoLocked(const ZRC_DeviceInfos& info);
    void setGroupTextLocked();
    // Binds `ip` to the first camera with uuid `id`; `previous` gets the
    // address it had. Emits sig_device_info_change when bound.
    bool bindAddress(const QString& id, const QString& ip, QString* previous);

    std::atomic<int> m_mainloopTick;
    std::atomic<qint64> m_mainloopTickWrittenMs;  // monotonic
    const QString m_deviceId;

    mutable QMutex m_workMutex;
    ZRC_WorkInfos m_work;
    bool m_searching = false;                 // under m_workMutex
    QMap<QString, QString> m_searchingInfos;  // under m_workMutex

    mutable QReadWriteLock m_groupLock;
    ZRC_DeviceInfos m_group;

    mutable QReadWriteLock m_recordLock;
    QString m_lastOperate;  // under m_recordLock

    CVariant<DeviceNetInfo_Detail> m_netcard;

    QMutex m_recheckMutex;        // guards the two fields below; no call out is made under it
    QString m_lastBoundAddress;   // this camera's address as last bound in this run
    NetCardProbe m_netCardProbe;
    std::atomic<OperationRecord_Interface*> m_recordWriter{nullptr};
};
