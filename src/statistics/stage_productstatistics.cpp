#include "statistics/stage_productstatistics.h"

#include "foundation/zrc_workinformation_manager.h"
#include "statistics/statisticsclock.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

const char* const kStartFormat = "yyyy-MM-dd hh:mm:ss";

void padTo(QList<qint32>& list, int n)
{
    while (list.size() < n)
        list.append(0);
}

}  // namespace

stage_productstatistics::stage_productstatistics(QObject* parent) : QObject(parent)
{
    m_timer.setInterval(60000);
    // A minute is booked per tick: a coarse timer may fire seconds early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &stage_productstatistics::slotMinuteTick);
}

stage_productstatistics::~stage_productstatistics()
{
    if (m_thread) {
        // The last save, and the writer's connection closed on the thread
        // that opened it (the object itself is destroyed on this one).
        QMetaObject::invokeMethod(
            &m_database,
            [this] {
                m_database.flush();
                m_database.closeWriter();
            },
            Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
}

void stage_productstatistics::init(int detectCount, int cameraCount, const QString& project)
{
    m_detectCount = std::max(0, detectCount);
    m_cameraCount = std::max(1, cameraCount);
    m_project = project;
    if (!m_thread) {
        m_database.init();
        m_thread = new QThread();
        m_thread->setObjectName(QStringLiteral("statistics database"));
        m_database.moveToThread(m_thread);
        m_thread->start();
    }
    const QDateTime now = statistics::wallNow();
    m_hourKey = statistics::hourKeyOf(now);
    m_hourFromMs = QDateTime(now.date(), QTime(now.time().hour(), 0)).toMSecsSinceEpoch();
    m_hourToMs = m_hourFromMs + 3600 * 1000;
    m_records.clear();
    ProductstatisticsDatabase::loadCount(now.toString(QLatin1String(kStartFormat)), m_records);
    if (m_records.isEmpty())
        m_records.insert(m_project, freshRecord(m_project));
    m_cycleResult = true;
    m_started = true;
    resetCameraCount(cameraCount);
    resetDetectCount(detectCount);
    map2Params(ProductstatisticsDatabase::loadParams(QStringLiteral("statisticsparam")));
    m_timer.start();
}

stru_StatisticsInfo stage_productstatistics::freshRecord(const QString& name) const
{
    stru_StatisticsInfo info;
    const QString key = m_hourKey.isEmpty() ? statistics::hourKeyOf(statistics::wallNow()) : m_hourKey;
    info.reset(key, m_detectCount, m_cameraCount, name);
    return info;
}

stru_StatisticsInfo stage_productstatistics::getStatisticsInfoByprojectName(const QString& name) const
{
    // Looked up by presence: a record of a group without cameras has empty
    // lists and is still the one held.
    auto it = m_records.find(name);
    return it != m_records.end() ? it.value() : freshRecord(name);
}

void stage_productstatistics::resetStatisticsInfo()
{
    m_records.clear();
    m_records.insert(m_project, freshRecord(m_project));
}

void stage_productstatistics::fitHeldRecord()
{
    stru_StatisticsInfo& info = held();
    info.resetCameraCount(m_cameraCount);
    info.resetDetectCount(m_detectCount);
}

stru_StatisticsInfo& stage_productstatistics::held()
{
    auto it = m_records.find(m_project);
    if (it == m_records.end())
        it = m_records.insert(m_project, freshRecord(m_project));
    return it.value();
}

void stage_productstatistics::rollOver(qint64 nowMs)
{
    if (nowMs >= m_hourFromMs && nowMs < m_hourToMs)
        return;
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nowMs);
    m_hourFromMs = QDateTime(now.date(), QTime(now.time().hour(), 0)).toMSecsSinceEpoch();
    m_hourToMs = m_hourFromMs + 3600 * 1000;
    const QString key = statistics::hourKeyOf(now);
    if (key == m_hourKey || key.isEmpty())
        return;
    // The finished hour keeps every count it took, steps not yet saved too.
    if (!m_hourKey.isEmpty())
        m_database.slotSaveRecord(m_hourKey, m_records, live());
    // The new hour goes on from what it holds already (a clock set back to an
    // hour that has a row, or a save of it still on its way to the file).
    m_hourKey = key;
    m_records.clear();
    if (std::optional<ProductstatisticsDatabase::HourRecords> pending = m_database.pendingHour(key))
        m_records = *pending;
    else
        ProductstatisticsDatabase::loadCount(now.toString(QLatin1String(kStartFormat)), m_records);
    if (m_records.isEmpty())
        resetStatisticsInfo();
    fitHeldRecord();
}

void stage_productstatistics::slotMinuteTick()
{
    if (!m_started)
        return;
    const QDateTime now = statistics::wallNow();
    rollOver(now.toMSecsSinceEpoch());
    stru_StatisticsInfo& info = held();
    const bool started = ZRC_WorkInformation_Manager::getInstance()->get_working_info().started;
    const int runState = m_runState ? m_runState() : 0;
    {
        QMutexLocker lock(&m_liveLock);
        if (!started) {
            ++info.stoptime;
            ++m_live.stoptime;
        } else if (runState == 2) {
            ++info.alarmtime;
            ++m_live.alarmtime;
        } else {
            ++info.runtime;
            ++m_live.runtime;
        }
        // The minute just booked belongs to the hour ("+ 1").
        info.closetime = idleMinutes(now.time().minute() + 1, info.runtime, info.stoptime, info.alarmtime);
        const QDateTime start = QDateTime::fromString(m_live.starttime, QLatin1String(kStartFormat));
        const qint64 minutes = start.isValid() ? std::llround(start.secsTo(now) / 60.0) : 0;
        m_live.closetime = idleMinutes(minutes, m_live.runtime, m_live.stoptime, m_live.alarmtime);
    }
    saveRecord();
}

void stage_productstatistics::updateSingleRecord(int detectIndex, const QVector<bool>& results)
{
    if (!m_started)
        return;
    rollOver(statistics::wallNowMs());
    stru_StatisticsInfo& info = held();
    if (detectIndex < 0 || detectIndex >= info.every_detect.size())
        return;
    stru_DetecteStatisticsInfo& step = info.every_detect[detectIndex];
    const int n = std::min(m_cameraFlags.size(), results.size());
    bool allOk = true;
    for (int i = 0; i < n; ++i) {
        const bool r = results[i];
        allOk = allOk && r;
        m_cameraFlags[i] = m_cameraFlags[i] && r;
        padTo(step.detect_ok_detail, i + 1);
        padTo(step.detect_ng_detail, i + 1);
        ++(r ? step.detect_ok_detail : step.detect_ng_detail)[i];
    }
    ++(allOk ? step.detect_ok : step.detect_ng);
    m_cycleResult = m_cycleResult && allOk;
    qInfo() << "Update the record of a single detection." << "No. " << detectIndex << "result :" << results;
}

void stage_productstatistics::updateCycleRecord()
{
    if (!m_started)
        return;
    rollOver(statistics::wallNowMs());
    stru_StatisticsInfo& info = held();
    {
        QMutexLocker lock(&m_liveLock);
        for (int i = 0; i < m_cameraFlags.size(); ++i) {
            padTo(m_live.detect_ok_detail, i + 1);
            padTo(m_live.detect_ng_detail, i + 1);
            padTo(info.detect_ok_detail, i + 1);
            padTo(info.detect_ng_detail, i + 1);
            if (m_cameraFlags[i]) {
                ++m_live.detect_ok_detail[i];
                ++info.detect_ok_detail[i];
            } else {
                ++m_live.detect_ng_detail[i];
                ++info.detect_ng_detail[i];
            }
            m_cameraFlags[i] = true;
        }
        ++(m_cycleResult ? m_live.detect_ok : m_live.detect_ng);
        ++(m_cycleResult ? info.detect_ok : info.detect_ng);
    }
    qInfo() << "Update the record of a cycle ." << "result :" << (m_cycleResult ? "true" : "false");
    m_cycleResult = true;
    saveRecord();
}

void stage_productstatistics::countClear()
{
    {
        QMutexLocker lock(&m_liveLock);
        m_live.restart(statistics::wallNow().toString(QLatin1String(kStartFormat)));
    }
    if (m_timer.isActive())
        m_timer.start();  // the next tick 60 s from now
    saveParams();
    if (OperationRecord_Interface* writer = ZRC_WorkInformation_Manager::getInstance()->recordWriter())
        writer->InsertRecord(tr("检测计数已被清零"), QStringLiteral("operate"));
}

void stage_productstatistics::countSync(const QVariantMap& values)
{
    {
        QMutexLocker lock(&m_liveLock);
        m_live.takeCounts(values);
    }
    saveParams();
}

QVariantMap stage_productstatistics::params2Map() const { return live().toParams(); }

QVariantMap stage_productstatistics::params2Map(int camera) const { return live().toParams(camera); }

void stage_productstatistics::map2Params(const QVariantMap& values)
{
    QMutexLocker lock(&m_liveLock);
    m_live.takeCounts(values);
    m_live.runtime = values.value(QStringLiteral("runtime")).toLongLong();
    m_live.stoptime = values.value(QStringLiteral("stoptime")).toLongLong();
    m_live.alarmtime = values.value(QStringLiteral("alarmtime")).toLongLong();
    m_live.closetime = values.value(QStringLiteral("closetime")).toLongLong();
    m_live.starttime = values.value(QStringLiteral("starttime")).toString();
    // The first start's stored default has no seconds: no period yet.
    if (!QDateTime::fromString(m_live.starttime, QLatin1String(kStartFormat)).isValid())
        m_live.restart(statistics::wallNow().toString(QLatin1String(kStartFormat)));
}

void stage_productstatistics::resetCameraCount(int n)
{
    // A group without cameras still counts its cycles as one camera.
    m_cameraCount = std::max(1, n);
    auto it = m_records.find(m_project);
    if (it != m_records.end())
        it->resetCameraCount(m_cameraCount);
    {
        QMutexLocker lock(&m_liveLock);
        m_live.detect_ok_detail = m_live.detect_ok_detail.mid(0, m_cameraCount);
        m_live.detect_ng_detail = m_live.detect_ng_detail.mid(0, m_cameraCount);
        padTo(m_live.detect_ok_detail, m_cameraCount);
        padTo(m_live.detect_ng_detail, m_cameraCount);
    }
    m_cameraFlags = QVector<bool>(m_cameraCount, true);
}

void stage_productstatistics::resetDetectCount(int n)
{
    m_detectCount = std::max(0, n);
    if (!m_started)
        return;
    stru_StatisticsInfo& info = held();
    if (info.every_detect.size() != m_detectCount)
        info.resetDetectCount(m_detectCount);
}

QJsonObject stage_productstatistics::statisticsInfo2Json() const
{
    return ProductstatisticsDatabase::hourRowJson(m_records);
}

StatisticsLive stage_productstatistics::live() const
{
    QMutexLocker lock(&m_liveLock);
    return m_live;
}

void stage_productstatistics::saveRecord() { m_database.slotSaveRecord(m_hourKey, m_records, live()); }

void stage_productstatistics::saveParams() { m_database.slotSaveParams(live()); }
