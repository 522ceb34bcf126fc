#include "manager/smartmanager_deamon.h"

#include "capture/aiqcontrol.h"
#include "foundation/foundationservices.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "liveness/livenessreport.h"
#include "manager/livenessprobes.h"
#include "platform/system/monotonicclock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QTimer>

#include <cmath>

namespace {

constexpr int kLinkIo = 1;
constexpr int kLinkCameras = 2;
constexpr int kLinksUp = kLinkIo | kLinkCameras;

}  // namespace

SmartManager_Deamon::SmartManager_Deamon(LivenessProbes* probes, SmartManager_Options options, QObject* parent)
    : QObject(parent), m_probes(probes), m_options(std::move(options)), m_segment(m_options.segmentKey)
{
    if (!m_options.monotonicMs)
        m_options.monotonicMs = [] { return platform::MonotonicClock::nowMs(); };
    m_thread.setObjectName(QStringLiteral("SmartManager"));
    m_fpsBaselineMs = m_options.monotonicMs();
    m_fpsBaselineFrames = gFPS_Times.load();

    m_moduleTimer = new QTimer(this);
    connect(m_moduleTimer, &QTimer::timeout, this, &SmartManager_Deamon::update_module_state);
    m_reportTimer = new QTimer(this);
    connect(m_reportTimer, &QTimer::timeout, this, &SmartManager_Deamon::print_working_state);
    m_fpsTimer = new QTimer(this);
    connect(m_fpsTimer, &QTimer::timeout, this, &SmartManager_Deamon::camfps);
    if (!m_options.startThread)
        return;

    const double scale = m_options.reportPeriodScale > 0 ? m_options.reportPeriodScale : 1.0;
    m_moduleTimer->start(kModuleStatePeriodMs);
    m_reportTimer->start(qMax(1, int(std::lround(kReportPeriodMs * scale))));
    m_fpsTimer->start(kFrameRatePeriodMs);
    // Without a parent the object (and its timers) can move to its thread.
    if (!parent)
        moveToThread(&m_thread);
    else
        qCWarning(level_1) << "[SmartManager] has a parent, stays on the creating thread";
    m_thread.start(QThread::InheritPriority);
}

SmartManager_Deamon::~SmartManager_Deamon()
{
    if (m_thread.isRunning()) {
        // The timers are stopped on their own thread, and the object comes
        // back to the destroying thread before its thread ends.
        QThread* target = QThread::currentThread();
        if (thread() == &m_thread) {
            QMetaObject::invokeMethod(
                this,
                [this, target] {
                    m_moduleTimer->stop();
                    m_reportTimer->stop();
                    m_fpsTimer->stop();
                    moveToThread(target);
                },
                Qt::BlockingQueuedConnection);
        }
        m_thread.quit();
        m_thread.wait();
    }
}

void SmartManager_Deamon::record(const QString& text)
{
    if (OperationRecord_Interface* writer = ZRC_WorkInformation_Manager::getInstance()->recordWriter())
        writer->InsertRecord(text, QStringLiteral("system"));
    else
        qCWarning(level_1) << "[SmartManager] no record writer, not recorded:" << text;
}

void SmartManager_Deamon::update_module_state()
{
    const bool io = m_probes->ioLinkUp();
    const bool cams = m_probes->cameraLinksUp();
    const int state = (io ? kLinkIo : 0) | (cams ? kLinkCameras : 0);
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([state](ZRC_WorkInfos& w) { w.link_flags = state; });

    if (state == kLinksUp) {
        if (!m_firstInitDone) {
            m_probes->resetOutputs();
            m_firstInitDone = true;
        }
        if (m_lastRecordedState == kLinksUp)
            return;
        m_lastRecordedState = kLinksUp;
        record(tr("初始化成功!"));
        return;
    }

    // A link is down: the mould must not close on outputs nobody watches,
    // so they are cut on every tick, not only on the change.
    m_probes->cutOutputs();
    if (!m_firstInitDone || state == m_lastRecordedState)
        return;
    m_lastRecordedState = state;
    const QString text = (state & kLinkIo) == 0 ? tr("IO连接出现中断") : tr("多相机连接出现中断");
    // The machine is held from now on: the log files say why, beside the record.
    qCWarning(level_1).noquote() << "[SmartManager]" << text << "- every output cut until the links are back";
    record(text);
}

void SmartManager_Deamon::camfps()
{
    const qint64 now = m_options.monotonicMs();
    const qint64 frames = gFPS_Times.load();
    const qint64 elapsed = now - m_fpsBaselineMs;
    const qint64 counted = qMax<qint64>(0, frames - m_fpsBaselineFrames);
    if (elapsed > 0)
        gFPS.store(int32_t(float(counted) / (float(elapsed) / 1000.0f)));
    m_fpsBaselineMs = now;
    m_fpsBaselineFrames = frames;
}

QString SmartManager_Deamon::memoryTextFromStat(const QByteArray& stat)
{
    // The command name (field 2) is in parentheses and may hold blanks: the
    // fields are counted after its closing parenthesis, which ends field 2.
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return QString();
    const QList<QByteArray> rest = stat.mid(close + 1).simplified().split(' ');
    // rest[0] is field 3; field 23 (virtual bytes) is rest[20], field 24
    // (resident pages) rest[21].
    if (rest.size() < 22)
        return QString();
    bool okV = false;
    bool okR = false;
    const double virtualBytes = rest.at(20).toDouble(&okV);
    const double residentPages = rest.at(21).toDouble(&okR);
    if (!okV || !okR)
        return QString();
    const double mb = 1024.0 * 1024.0;
    return QStringLiteral("%1/%2")
        .arg(residentPages * 4096.0 / mb, 0, 'f', 2)
        .arg(virtualBytes / mb, 0, 'f', 2);
}

QString SmartManager_Deamon::heartbeatTargetsText(const QList<QPair<QString, int>>& targets)
{
    QString text;
    for (const QPair<QString, int>& t : targets)
        text += QStringLiteral("[%1, %2] ").arg(t.first).arg(t.second);
    return text;
}

LivenessReport SmartManager_Deamon::gatherReport()
{
    LivenessReport r;
    r.secondsSinceEpoch = gettimeofday_ms() / 1000;
    r.mainAlive = m_probes->mainAlive();
    r.ioAlive = m_probes->ioAlive();
    r.wsAlive = m_probes->camPairsAlive();
    r.httpServerAlive = m_probes->httpServerAlive();
    r.heartbeatAlive = m_probes->heartbeatAlive();
    r.ioConnected = m_probes->ioLinkUp();
    r.camerasConnected = m_probes->cameraLinksUp();
    r.fps = gFPS.load();
    return r;
}

QByteArray SmartManager_Deamon::livenessRecord()
{
    return gatherReport().toJson();
}

void SmartManager_Deamon::print_working_state()
{
    QString memory;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QCoreApplication::applicationPid()));
    if (stat.open(QIODevice::ReadOnly))
        memory = memoryTextFromStat(stat.readAll());

    const LivenessReport r = gatherReport();
    const QString targets = heartbeatTargetsText(m_probes->heartbeatTargets());
    qCInfo(level_1).noquote() << "--- Reports --- UsedMem:" << memory << "MB;"
                              << "Thread-MICSH:"
                              << QStringLiteral("[%1,%2,%3,%4,%5];")
                                     .arg(int(r.mainAlive))
                                     .arg(int(r.ioAlive))
                                     .arg(int(r.wsAlive))
                                     .arg(int(r.httpServerAlive))
                                     .arg(int(r.heartbeatAlive))
                              << "Cnted-IC:"
                              << QStringLiteral("[%1,%2];").arg(int(r.ioConnected)).arg(int(r.camerasConnected))
                              << targets;

    // No segment (the daemon is not running) or one of another size: nothing
    // is written; the next report tries again.
    m_segment.write(r.toJson());
}
