#include "platform/system/deviceidentitysources.h"

#include "platform/system/commandrunner.h"

#include <QMutex>
#include <QMutexLocker>

namespace platform {

namespace {
QMutex g_mutex;
QString g_cpuinfo = QStringLiteral("/proc/cpuinfo");
bool g_fixedSet = false;
QString g_fixed;
}  // namespace

QString DeviceIdentitySources::cpuinfoPath()
{
    QMutexLocker lock(&g_mutex);
    return g_cpuinfo;
}

void DeviceIdentitySources::setCpuinfoPath(const QString& path)
{
    QMutexLocker lock(&g_mutex);
    g_cpuinfo = path;
}

QByteArray DeviceIdentitySources::blkidOutput(int timeoutMs)
{
    const CommandResult r = CommandRunner::instance().run(
        QStringLiteral("blkid"), {}, CommandRunner::Effect::Query, timeoutMs, true);
    return r.output;
}

QString DeviceIdentitySources::fixedDeviceId()
{
    QMutexLocker lock(&g_mutex);
    if (!g_fixedSet) {
        g_fixed = qEnvironmentVariable("ORVALE_DEVICE_ID");
        g_fixedSet = true;
    }
    return g_fixed;
}

void DeviceIdentitySources::setFixedDeviceId(const QString& id)
{
    QMutexLocker lock(&g_mutex);
    g_fixed = id;
    g_fixedSet = true;
}

}  // namespace platform
