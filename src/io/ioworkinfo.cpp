#include "io/ioworkinfo.h"

#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "platform/system/monotonicclock.h"



namespace ioworkinfo {

namespace {

ZRC_WorkInformation_Manager* wim()
{
    return ZRC_WorkInformation_Manager::getInstance();
}

// 1001 heartbeat ticks of 10 ms.
constexpr qint64 kMainLoopLimitMs = 10010;

}  // namespace

QString ownDeviceId()
{
    return wim()->get_deviceid();
}

bool isMainCamera()
{
    return wim()->IsMainCamera();
}

ZRC_DeviceInfos deviceInfo()
{
    return wim()->get_device_info();
}

void setDeviceInfo(const ZRC_DeviceInfos& info)
{
    wim()->set_device_info(info);
}

std::optional<DeviceNetInfo_Detail> netCard()
{
    const CVariant<DeviceNetInfo_Detail> card = wim()->get_netcard();
    if (card.isEmpty())
        return std::nullopt;
    return card.getValue();
}

bool recheckDeviceInfo()
{
    return wim()->recheckDeviceInfo();
}

bool isRunning()
{
    return wim()->get_working_info().started;
}

int moduleState()
{
    return wim()->get_working_info().link_flags;
}

QString groupText()
{
    return QString::fromStdString(wim()->get_working_info().group_text);
}

int inputBits()
{
    return wim()->get_working_info().input_bits;
}

int outputBits()
{
    return wim()->get_working_info().output_bits;
}

int exchangeInputBits(int bits)
{
    int old = 0;
    wim()->update_working_info([&](ZRC_WorkInfos& w) {
        old = w.input_bits;
        w.input_bits = bits;
    });
    return old;
}

int storeOutputBit(int index, int level)
{
    int stored = 0;
    wim()->update_working_info([&](ZRC_WorkInfos& w) {
        if (w.link_flags == 3 && index >= 0 && index < 32) {
            const int bit = 1 << index;
            w.output_bits = level ? (w.output_bits | bit) : (w.output_bits & ~bit);
        } else if (w.link_flags != 3) {
            w.output_bits = 0;
        }
        stored = w.output_bits;
    });
    return stored;
}

void clearWarningTip()
{
    wim()->update_working_info([](ZRC_WorkInfos& w) { w.warn_tip = ZRC_WarnTip_None; });
}

void setNoInputWarning(bool on)
{
    wim()->update_working_info([on](ZRC_WorkInfos& w) { w.no_input_warning = on ? 1 : 0; });
}

bool noInputWarning()
{
    return wim()->get_working_info().no_input_warning != 0;
}

bool mainLoopAlive()
{
    // From the main loop's own last write, on the monotonic clock: a look
    // after a long gap sees how long ago the loop really ran.
    return platform::MonotonicClock::ageMs(wim()->mainloop_tick_written_ms()) < kMainLoopLimitMs;
}

void registerApp(const QString& address, qint64 timeMs)
{
    wim()->update_working_info([&](ZRC_WorkInfos& w) {
        AppRegiestInfo& app = w.registered_apps[address.toStdString()];
        app.time_ms = timeMs;
        app.mono_ms = platform::MonotonicClock::nowMs();
        app.version.clear();
    });
}

bool rebindSubDevice(const QString& id, const QString& address)
{
    bool found = false;
    wim()->update_working_info([&](ZRC_WorkInfos& w) {
        auto it = w.sub_devices.find(id.toStdString());
        if (it == w.sub_devices.end())
            return;
        it->second = DeviceNetInfo(id, address, -1);
        found = true;
    });
    return found;
}

void applyNewGroup(const ZRC_DeviceInfos& group, const QString& text)
{
    const QList<DeviceNetInfo> subs = group.getSUBS();
    wim()->update_working_info([&](ZRC_WorkInfos& w) {
        w.sub_devices.clear();
        w.input_bits = 0;
        w.output_bits = 0;
        for (const DeviceNetInfo& s : subs)
            w.sub_devices[s.uuid.toStdString()] = s;
        w.group_text = text.toStdString();
    });
}

bool isSearching()
{
    return wim()->is_searching();
}

void storeSearchAnswer(const QString& address, const QString& text)
{
    wim()->set_searching_allinfos(address, text);
}

void setRecordWriter(OperationRecord_Interface* writer)
{
    wim()->setRecordWriter(writer);
}

void insertSystemRecord(const QString& text)
{
    if (OperationRecord_Interface* writer = wim()->recordWriter())
        writer->InsertRecord(text, QStringLiteral("system"));
}

}  // namespace ioworkinfo
