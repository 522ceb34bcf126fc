#include "foundation/zrc_workinformation_manager.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/qstring_tl.h"
#include "identity/deviceidentity.h"
#include "platform/system/monotonicclock.h"

#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSaveFile>

namespace {

constexpr char kCamCfgVersion[] = "V1.0.5.29";

QString jsonText(const QJsonObject& o, const char* key)
{
    return o.value(QLatin1String(key)).toString();
}

}  // namespace

ZRC_WorkInformation_Manager* ZRC_WorkInformation_Manager::getInstance()
{
    // Created on the start-up thread before any other thread exists; a
    // function-local static also makes a racing first call safe.
    static ZRC_WorkInformation_Manager* const instance = new ZRC_WorkInformation_Manager();
    return instance;
}

ZRC_WorkInformation_Manager::ZRC_WorkInformation_Manager()
    : QObject(nullptr), m_mainloopTick(curtime_qint64_2_int()),
      m_mainloopTickWrittenMs(platform::MonotonicClock::nowMs()),
      m_deviceId(getlocal_deviceid())
{
}

void ZRC_WorkInformation_Manager::set_mainloop_tick(int tick)
{
    m_mainloopTick.store(tick);
    m_mainloopTickWrittenMs.store(platform::MonotonicClock::nowMs());
}

void ZRC_WorkInformation_Manager::init()
{
    {
        QWriteLocker group(&m_groupLock);
        m_group = ZRC_DeviceInfos();
        QMutexLocker work(&m_workMutex);
        m_work = ZRC_WorkInfos();
        m_searching = false;
        m_searchingInfos.clear();
    }
    {
        QWriteLocker record(&m_recordLock);
        m_lastOperate.clear();
    }
    {
        QMutexLocker recheck(&m_recheckMutex);
        m_lastBoundAddress.clear();
    }
    m_netcard.clear();

    LoadCamCfg();
    recheckDeviceInfo();

    if (IsMainCamera()) {
        const QList<DeviceNetInfo> subs = getSubCameras();
        QMutexLocker work(&m_workMutex);
        for (const DeviceNetInfo& s : subs)
            m_work.sub_devices[s.uuid.toStdString()] = s;
    }
}

ZRC_WorkInfos ZRC_WorkInformation_Manager::get_working_info() const
{
    QMutexLocker lock(&m_workMutex);
    return m_work;
}

void ZRC_WorkInformation_Manager::update_working_info(const std::function<void(ZRC_WorkInfos&)>& change)
{
    if (!change)
        return;
    QMutexLocker lock(&m_workMutex);
    change(m_work);
}

ZRC_DeviceInfos ZRC_WorkInformation_Manager::get_device_info() const
{
    QReadLocker lock(&m_groupLock);
    return m_group;
}

void ZRC_WorkInformation_Manager::set_device_info(const ZRC_DeviceInfos& info)
{
    {
        QWriteLocker lock(&m_groupLock);
        storeDeviceInfoLocked(info);
    }
    emit sig_device_info_change();
}

void ZRC_WorkInformation_Manager::storeDeviceInfoLocked(const ZRC_DeviceInfos& info)
{
    m_group.machine_id = info.machine_id;
    m_group.io_uuid = info.io_uuid;
    m_group.io_address = info.io_address;
    m_group.group_state = info.group_state;
    m_group.cameras = info.cameras;
    m_group.cfg_text = info.cfg_text;
    saveCamCfgLocked();
    // Still under the group lock, so two concurrent changes leave the text of
    // the one stored last.
    setGroupTextLocked();
}

void ZRC_WorkInformation_Manager::setGroupTextLocked()
{
    const std::string text = MakeCamCfg2Str(m_group).toStdString();
    QMutexLocker work(&m_workMutex);
    m_work.group_text = text;
}

CVariant<DeviceNetInfo> ZRC_WorkInformation_Manager::getMainCamera() const
{
    return get_device_info().getMain();
}

QList<DeviceNetInfo> ZRC_WorkInformation_Manager::getSubCameras() const
{
    return get_device_info().getSUBS();
}

QList<DeviceNetInfo> ZRC_WorkInformation_Manager::getAllCameras() const
{
    return get_device_info().cameras;
}

bool ZRC_WorkInformation_Manager::IsMainCamera() const
{
    const CVariant<DeviceNetInfo> main = getMainCamera();
    if (!main.hasValue())
        return false;
    const QString uuid = main.getValue().uuid;
    return !uuid.isEmpty() && uuid == m_deviceId;
}

CamDevices_Interface ZRC_WorkInformation_Manager::get2CamDevices_Interface() const
{
    QList<CameraBaseInfo> list;
    for (const DeviceNetInfo& c : getAllCameras())
        list.append(CameraBaseInfo(c.uuid, c.role));
    CamDevices_Interface devices;
    devices.resetCameraBaseInfos(list);
    return devices;
}

QString ZRC_WorkInformation_Manager::parseWarnTip(int tip)
{
    if (tip == ZRC_WarnTip_NetFluctuation_IOAllBroken)
        return TRANS_LANG(g_Language,
                          QString_TL(QStringLiteral("出现网络波动，IO已经全部断开，确认生产状态后，点击恢复。"),
                                     QStringLiteral("There's a network fluctuation, and all IO connections have "
                                                    "been disconnected. After confirming the production status, "
                                                    "click to restore.")));
    return QString();
}

bool ZRC_WorkInformation_Manager::findFirstNetCard(DeviceNetInfo_Detail& card)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& iface : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = iface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            card = DeviceNetInfo_Detail();
            card.ifname = iface.humanReadableName();
            card.ip = entry.ip().toString();
            card.netmask = entry.netmask().toString();
            card.broadcast = entry.broadcast().toString();
            card.mac = iface.hardwareAddress();
            const QByteArray name = iface.name().toLocal8Bit();
            char ip[32] = {}, mask[32] = {}, gateway[32] = {}, mac[32] = {};
            if (name.size() < 16 && GetIfAddr(name.constData(), ip, mask, gateway, mac) >= 0)
                card.gateway = QString::fromLatin1(gateway);
            return true;
        }
    }
    return false;
}

void ZRC_WorkInformation_Manager::setNetCardProbe(NetCardProbe probe)
{
    QMutexLocker lock(&m_recheckMutex);
    m_netCardProbe = std::move(probe);
}

bool ZRC_WorkInformation_Manager::recheckDeviceInfo()
{
    QElapsedTimer elapsed;
    elapsed.start();

    NetCardProbe probe;
    {
        QMutexLocker lock(&m_recheckMutex);
        probe = m_netCardProbe;
    }
    m_netcard.clear();
    DeviceNetInfo_Detail card;
    const bool found = probe ? probe(card) : findFirstNetCard(card);
    if (found)
        m_netcard.setValue(card);

    const QString rule(44, QLatin1Char('-'));
    qCInfo(level_1).noquote() << rule;
    qCInfo(level_1).noquote() << "DeviceID:" << m_deviceId;
    if (!found) {
        qCInfo(level_1).noquote() << "no found valid netcard";
    } else {
        qCInfo(level_1).noquote() << "Interface:" << card.ifname;
        qCInfo(level_1).noquote() << "MAC:" << card.mac;
        qCInfo(level_1).noquote() << "IP:" << card.ip;
        qCInfo(level_1).noquote() << "Subnet Mask:" << card.netmask;
        qCInfo(level_1).noquote() << "Broadcast Address:" << card.broadcast;
    }
    qCInfo(level_1).noquote() << rule;

    // Without a card there is no address to bind: the group stays as it is.
    bool member = false;
    if (found) {
        QString groupAddress;
        member = bindAddress(m_deviceId, card.ip, &groupAddress);
        if (member) {
            update_working_info([](ZRC_WorkInfos& w) { w.warn_tip = ZRC_WarnTip_NetFluctuation_IOAllBroken; });
            // The address this camera last bound in this run, else the one the
            // group held for it: a record only when the address really changed.
            QString previous;
            {
                QMutexLocker lock(&m_recheckMutex);
                previous = m_lastBoundAddress.isEmpty() ? groupAddress : m_lastBoundAddress;
                m_lastBoundAddress = card.ip;
            }
            OperationRecord_Interface* writer = m_recordWriter.load();
            if (writer && previous != card.ip)
                writer->InsertRecord(tr("IP发生变化: %1 -> %2").arg(previous, card.ip), QStringLiteral("system"));
        }
    }

    qInfo() << "recheckDeviceInfo" << "time up:" << elapsed.elapsed();
    return member;
}

bool ZRC_WorkInformation_Manager::update_device_info_id_bound_ip(const QString& id, const QString& ip)
{
    return bindAddress(id, ip, nullptr);
}

bool ZRC_WorkInformation_Manager::bindAddress(const QString& id, const QString& ip, QString* previous)
{
    {
        QWriteLocker lock(&m_groupLock);
        const int index = m_group.getAbsIndex_ByID(id);
        if (index < 0) {
            setGroupTextLocked();
            return false;
        }
        ZRC_DeviceInfos info = m_group;
        if (previous)
            *previous = info.cameras.at(index).address;
        info.cameras[index].address = ip;
        qInfo() << "update_device_info_id_bound_ip" << "id:" << id << "" << "->" << ip;
        storeDeviceInfoLocked(info);
    }
    emit sig_device_info_change();
    return true;
}

QByteArray ZRC_WorkInformation_Manager::camCfgJson(const ZRC_DeviceInfos& info)
{
    QJsonObject o;
    o.insert(QStringLiteral("ps_machineid"), info.machine_id);
    o.insert(QStringLiteral("ps_io_uuid"), info.io_uuid);
    o.insert(QStringLiteral("ps_io_address"), info.io_address);
    o.insert(QStringLiteral("ps_version"), QLatin1String(kCamCfgVersion));
    const CVariant<DeviceNetInfo> main = info.getMain();
    if (main.hasValue()) {
        const DeviceNetInfo m = main.getValue();
        o.insert(QStringLiteral("ps_main_camera_uuid"), m.uuid);
        o.insert(QStringLiteral("ps_main_camera_address"), m.address);
    }
    QJsonArray subs;
    for (const DeviceNetInfo& s : info.getSUBS()) {
        QJsonObject so;
        so.insert(QStringLiteral("ps_sub_camera_uuid"), s.uuid);
        so.insert(QStringLiteral("ps_sub_camera_address"), s.address);
        subs.append(so);
    }
    o.insert(QStringLiteral("ps_sub_camera"), subs);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool ZRC_WorkInformation_Manager::SaveCamCfg()
{
    QWriteLocker lock(&m_groupLock);
    return saveCamCfgLocked();
}

bool ZRC_WorkInformation_Manager::saveCamCfgLocked()
{
    qInfo() << "SaveCamCfg" << "!!! update _device_info !!!";
    // Written to a temporary file and renamed over the old one, so the monitor
    // daemon and the next start never read a half-written file.
    QSaveFile file(camCfgPath());
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(level_1) << "SaveCamCfg: cannot write" << camCfgPath() << file.errorString();
        return false;
    }
    file.write(camCfgJson(m_group));
    if (!file.commit()) {
        qCWarning(level_1) << "SaveCamCfg: cannot write" << camCfgPath() << file.errorString();
        return false;
    }
    return true;
}

void ZRC_WorkInformation_Manager::LoadCamCfg()
{
    QWriteLocker lock(&m_groupLock);

    const QString path = camCfgPath();
    QJsonObject o;
    bool broken = false;
    QString why;
    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            broken = true;
            why = file.errorString();
        } else {
            QJsonParseError error{};
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
            file.close();
            if (error.error != QJsonParseError::NoError) {
                broken = true;
                why = error.errorString();
            } else if (!doc.isObject()) {
                broken = true;
                why = QStringLiteral("not a JSON object");
            } else {
                o = doc.object();
            }
        }
    }

    // A damaged file is kept for a person to look at, never overwritten.
    bool mayWrite = true;
    if (broken) {
        const QString aside =
            path + QStringLiteral(".broken-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmsszzz"));
        if (QFile::rename(path, aside)) {
            qCWarning(level_1) << "LoadCamCfg:" << path << "unreadable (" << why << "), kept as" << aside
                       << "; starting with an empty camera group";
        } else {
            qCWarning(level_1) << "LoadCamCfg:" << path << "unreadable (" << why
                       << ") and cannot be moved aside; it is left as it is";
            mayWrite = false;
        }
    }

    ZRC_DeviceInfos info;
    info.machine_id = jsonText(o, "ps_machineid");
    info.io_uuid = jsonText(o, "ps_io_uuid");
    info.io_address = jsonText(o, "ps_io_address");
    info.cameras.append(
        DeviceNetInfo(jsonText(o, "ps_main_camera_uuid"), jsonText(o, "ps_main_camera_address"), 1));
    const QJsonValue subs = o.value(QStringLiteral("ps_sub_camera"));
    if (subs.isArray()) {
        for (const QJsonValue& v : subs.toArray()) {
            const QJsonObject so = v.toObject();
            const QString uuid = jsonText(so, "ps_sub_camera_uuid");
            if (info.getAbsIndex_ByID(uuid) >= 0)
                continue;  // one entry per device, the main camera's included
            info.cameras.append(DeviceNetInfo(uuid, jsonText(so, "ps_sub_camera_address"), 0));
        }
    }
    m_group = info;

    if (mayWrite)
        saveCamCfgLocked();
    setGroupTextLocked();
}

bool ZRC_WorkInformation_Manager::is_searching() const
{
    QMutexLocker lock(&m_workMutex);
    return m_searching;
}

void ZRC_WorkInformation_Manager::set_searching(bool on)
{
    QMutexLocker lock(&m_workMutex);
    m_searching = on;
}

void ZRC_WorkInformation_Manager::set_searching_allinfos(const QString& address, const QString& text)
{
    QMutexLocker lock(&m_workMutex);
    m_searchingInfos.insert(address, text);
}

QMap<QString, QString> ZRC_WorkInformation_Manager::get_searching_allinfos() const
{
    QMutexLocker lock(&m_workMutex);
    return m_searchingInfos;
}

void ZRC_WorkInformation_Manager::clear_searching_allinfos()
{
    QMutexLocker lock(&m_workMutex);
    m_searchingInfos.clear();
}

void ZRC_WorkInformation_Manager::set_last_operate(const QString& text)
{
    QWriteLocker lock(&m_recordLock);
    m_lastOperate = text;
}

QString ZRC_WorkInformation_Manager::get_last_operate() const
{
    QReadLocker lock(&m_recordLock);
    return m_lastOperate;
}
