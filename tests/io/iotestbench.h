#pragma once
// Shared set-up of the machine-IO tests.
//
// CameraSetup: this camera's work information in a scratch working
// directory (its own camcfg.json), with a fixed device id, a network card
// from a fixture and a camera group in which it is the main camera (or a sub
// camera), running and, when asked, with both links up.
//
// Addresses used inside the private network of a socket test
// (IsolatedNetwork): the camera is 127.0.0.1, the IO module 127.0.0.2,
// another camera of the group 127.0.0.3, an app 127.0.0.4.
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "io/ioworkinfo.h"
#include "support/scratchdir.h"

#include <QString>

#include <functional>
#include <memory>

namespace iotest {

inline const QString kSelf = QStringLiteral("CAMSELF");
inline const QString kSub = QStringLiteral("CAMSUB1");
inline const QString kModuleId = QStringLiteral("IOM-SIM");
inline const QString kMachine = QStringLiteral("M1");
inline const QString kCameraIp = QStringLiteral("127.0.0.1");
inline const QString kModuleIp = QStringLiteral("127.0.0.2");
inline const QString kSubIp = QStringLiteral("127.0.0.3");
inline const QString kAppIp = QStringLiteral("127.0.0.4");
inline const QString kMac = QStringLiteral("02:00:5E:00:00:01");

enum class Role { Main, Sub };

// The group as the tests use it: machine M1, the simulated IO module, and
// this camera as main (127.0.0.1) with one sub camera (127.0.0.3), or the
// other way round.
inline ZRC_DeviceInfos testGroup(Role role)
{
    ZRC_DeviceInfos g;
    g.machine_id = kMachine;
    g.io_uuid = kModuleId;
    g.io_address = kModuleIp;
    if (role == Role::Main)
        g.cameras = {DeviceNetInfo(kSelf, kCameraIp, 1), DeviceNetInfo(kSub, kSubIp, 0)};
    else
        g.cameras = {DeviceNetInfo(kSub, kSubIp, 1), DeviceNetInfo(kSelf, kCameraIp, 0)};
    return g;
}

class CameraSetup {
public:
    explicit CameraSetup(Role role = Role::Main, bool withCard = true) : m_cwd(m_dir.path())
    {
        // Read once, when the work information is first made.
        qputenv("ORVALE_DEVICE_ID", kSelf.toLatin1());
        mgr = ZRC_WorkInformation_Manager::getInstance();
        useCard(withCard);
        mgr->init();
        mgr->set_device_info(testGroup(role));
        if (role == Role::Main) {
            mgr->update_working_info([](ZRC_WorkInfos& w) {
                w.sub_devices.clear();
                w.sub_devices[kSub.toStdString()] = DeviceNetInfo(kSub, kSubIp, 0);
            });
        }
        setRunning(true);
        setModuleState(3);
        mainLoopTicks();
    }

    ~CameraSetup()
    {
        ioworkinfo::setRecordWriter(nullptr);
        mgr->set_searching(false);
        mgr->clear_searching_allinfos();
    }

    // The card the next recheck finds (none when `present` is false).
    void useCard(bool present, const QString& ip = kCameraIp)
    {
        mgr->setNetCardProbe([present, ip](DeviceNetInfo_Detail& card) {
            if (!present)
                return false;
            card.ifname = QStringLiteral("lo");
            card.ip = ip;
            card.netmask = QStringLiteral("255.0.0.0");
            card.broadcast = QStringLiteral("127.255.255.255");
            card.mac = kMac;
            return true;
        });
        mgr->recheckDeviceInfo();
    }

    void setRunning(bool on)
    {
        mgr->update_working_info([on](ZRC_WorkInfos& w) { w.started = on; });
    }
    void setModuleState(int state)
    {
        mgr->update_working_info([state](ZRC_WorkInfos& w) { w.link_flags = state; });
    }
    // The main loop has just ticked.
    void mainLoopTicks() { mgr->set_mainloop_tick(curtime_qint64_2_int()); }
    ZRC_WorkInfos work() const { return mgr->get_working_info(); }
    QString dir() const { return m_dir.path(); }

    ZRC_WorkInformation_Manager* mgr = nullptr;

private:
    testsupport::ScratchDir m_dir;
    testsupport::WorkingDir m_cwd;
};

// Collects the system records the front end writes.
class RecordCollector : public OperationRecord_Interface {
public:
    void InsertRecord(const QString& text, const QString& type) override
    {
        texts.append(text);
        types.append(type);
    }
    QStringList texts;
    QStringList types;
};

}  // namespace iotest
