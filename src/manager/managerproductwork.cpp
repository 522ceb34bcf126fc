#include "manager/managerproductwork.h"

#include "flow/flowrecords.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "group/rpcdist_define.h"
#include "group/workevent_passport.h"
#include "manager/apppushes.h"
#include "manager/managerworkservices.h"
#include "statistics/stage_productstatistics.h"

#include <QDebug>
#include <QThread>

namespace {

ZRC_WorkInformation_Manager* wim()
{
    return ZRC_WorkInformation_Manager::getInstance();
}

// Clears the busy flag however the work event ends.
struct BusyFlag {
    BusyFlag() { wim()->update_working_info([](ZRC_WorkInfos& w) { w.busy = true; }); }
    ~BusyFlag() { wim()->update_working_info([](ZRC_WorkInfos& w) { w.busy = false; }); }
};

}  // namespace

ManagerProductWork::ManagerProductWork(ManagerWorkServices* services, stage_productstatistics* statistics,
                                       AppPushes* pushes, QObject* parent)
    : Product_Interface(parent), m_services(services), m_statistics(statistics), m_pushes(pushes)
{
    m_recordTimeTimer.setSingleShot(true);
    m_recordTimeTimer.setInterval(kRecordTimeDelayMs);
    connect(&m_recordTimeTimer, &QTimer::timeout, this, [this] {
        WorkStashManager::getInstance()->setValue(QStringLiteral("VCamera_Work/RecordTime"), m_recordTimeSeconds);
    });
}

ManagerProductWork::~ManagerProductWork() = default;

FlowWork_WorkEvent_Back ManagerProductWork::WorkEvent_Standard(FlowUnit_Passport passport)
{
    const QVariantMap datas = workEventDatas(passport);
    QVariantMap answer;
    {
        BusyFlag busy;
        answer = m_services->activateWorkEvent(passport.condition.cond_url, passport.uuid, datas);
    }
    const FlowWork_WorkEvent_Back back = workevent_map_2_back(answer);
    if (back.work_error == 1) {
        qCWarning(level_1) << "(workevent sync error) -1: not found!!";
        m_services->handlingOfExceptionalEvent();
    }
    // The clock record for the next start, stamped now and written a little
    // later: the settings file is written on this thread's event loop (two
    // fdatasyncs and a rename, milliseconds and more on a busy disk), which
    // would otherwise run between the work event and the verdict's output,
    // or within the next cycle when cycles follow closely.
    m_recordTimeSeconds = gettimeofday_ms() / 1000;
    m_recordTimeTimer.start();
    return back;
}

void ManagerProductWork::Statistics_updateCycleRecord()
{
    m_statistics->updateCycleRecord();
    m_services->sendQuickMeet(QStringLiteral("/dide/sync/baseinfo"), stat_getCur(-1));
}

void ManagerProductWork::saveFailImage_OnNGNoStop(int detect_index)
{
    m_services->SaveImageFile(detect_index, 8, QString());
    m_services->sendQuickMeet(QStringLiteral("/dide/sync/savefailimageonngnostop"),
                              QVariantMap{{QStringLiteral("detect_index"), detect_index}});
}

void ManagerProductWork::PushMsg2APP_OnFinishUnitWork_RunResult(FlowUnit_Passport passport)
{
    bool fresh = true;
    if (passport.condition.cond_type & (CondType_NoCheck | CondType_ReDetect | CondType_AddTemplate)) {
        const auto& collects = passport.receipt.rcpt_collects;
        const auto own = collects.constFind(wim()->get_deviceid());
        if (own != collects.constEnd())
            fresh = own->is_valid;
    }
    m_pushes->async_back2longtcp_runresult(passport.uuid, fresh);
}

void ManagerProductWork::PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info)
{
    m_pushes->PushMsg2Subscriber_DetectInfoOnce(info);
}

QVector<bool> ManagerProductWork::groupResults(const QMap<QString, SCollect_Unit>& collects,
                                               const QStringList& groupIds, int* detect)
{
    *detect = -1;
    if (collects.isEmpty() || groupIds.isEmpty())
        return {};
    QVector<bool> results(groupIds.size(), false);  // a camera without a unit is NG
    for (auto it = collects.cbegin(); it != collects.cend(); ++it) {
        *detect = it->detect;
        const int position = groupIds.indexOf(it.key());
        if (position < 0) {
            qCWarning(level_1).noquote() << "[Statistics] result of device" << it.key()
                                         << "which is not in the camera group, not counted";
            continue;
        }
        results[position] = it->result;
    }
    return results;
}

void ManagerProductWork::Statistics_insertOnceDetectend(QMap<QString, SCollect_Unit> collects)
{
    if (!wim()->IsMainCamera())
        return;
    if (collects.isEmpty()) {
        qCWarning(level_1) << "[Statistics] a detection step without any camera result, not counted";
        return;
    }
    QStringList ids;
    for (const DeviceNetInfo& c : wim()->getAllCameras())
        ids << c.uuid;
    int detect = -1;
    const QVector<bool> results = groupResults(collects, ids, &detect);
    if (results.isEmpty() || detect < 0) {
        qCWarning(level_1) << "[Statistics] a detection step without a step index or camera group, not counted";
        return;
    }
    m_statistics->updateSingleRecord(detect, results);
}

void ManagerProductWork::WorkRX_RunTrain_Var(int detect_index)
{
    m_services->RunTrain_Var(detect_index);
}

void ManagerProductWork::reload_CameraImages()
{
    m_services->reloadCameraImages();
}

QJsonObject ManagerProductWork::processParams() const
{
    return m_services->processParams();
}

void ManagerProductWork::setDetectStepCount(int count)
{
    m_services->setDetectStepCount(count);
}

void ManagerProductWork::onStatistics(std::function<void(stage_productstatistics*)> call)
{
    stage_productstatistics* s = m_statistics;
    if (QThread::currentThread() == s->thread())
        call(s);
    else
        QMetaObject::invokeMethod(s, [s, call] { call(s); }, Qt::QueuedConnection);
}

void ManagerProductWork::stat_ResetDetect(int unit_count)
{
    onStatistics([unit_count](stage_productstatistics* s) { s->resetDetectCount(unit_count); });
}

void ManagerProductWork::stat_CountClear()
{
    onStatistics([](stage_productstatistics* s) { s->countClear(); });
}

void ManagerProductWork::stat_SaveCur(const QVariantMap& values)
{
    onStatistics([values](stage_productstatistics* s) { s->countSync(values); });
}

QVariantMap ManagerProductWork::stat_getCur(int camera) const
{
    return camera == -1 ? m_statistics->params2Map() : m_statistics->params2Map(camera);
}

void ManagerProductWork::stat_ResetCamera(int)
{
}
