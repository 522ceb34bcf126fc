#pragma once
// Where the device id comes from: the processor serial in /proc/cpuinfo and
// the file-system list of blkid. Tests point the cpuinfo path at a fixture
// file and answer "blkid" through the command runner; a fixed id
// (ORVALE_DEVICE_ID) lets several simulated cameras share one machine.
#include <QByteArray>
#include <QString>

namespace platform {

class DeviceIdentitySources {
public:
    static QString cpuinfoPath();              // "/proc/cpuinfo" unless a test changed it
    static void setCpuinfoPath(const QString& path);

    // Output of `blkid` (standard output and error merged), what it wrote
    // within `timeoutMs`; empty when it could not run.
    static QByteArray blkidOutput(int timeoutMs = 1000);

    // A fixed device id from ORVALE_DEVICE_ID, or empty.
    static QString fixedDeviceId();
    static void setFixedDeviceId(const QString& id);
};

}  // namespace platform
