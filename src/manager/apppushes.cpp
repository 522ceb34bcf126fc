#include "manager/apppushes.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "inspection/hubservices.h"
#include "inspection/maskforapp.h"
#include "manager/pushsources.h"
#include "net/tm_zrp_publish.h"
#include "platform/system/monotonicclock.h"

#include <QBuffer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QSet>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QtConcurrent>

namespace {

ZRC_WorkInformation_Manager* wim()
{
    return ZRC_WorkInformation_Manager::getInstance();
}

const char* const kPlusLine = "++++++++++++++++++++++++";

}  // namespace

AppPushes::AppPushes(PushSources* sources, TM_ZRP_Publish* publisher, QObject* parent)
    : QObject(parent), m_sources(sources), m_publisher(publisher)
{
    m_postOnce = [this](const QNetworkRequest& request, const QByteArray& body) {
        if (m_publisher)
            m_publisher->addPublishOnce(request, body);
    };
    m_clock = [] { return platform::MonotonicClock::nowMs(); };
    m_encoder = [](const QImage& image) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "JPG"))
            return QByteArray();
        return jpeg;
    };
    m_lastRefreshMs = m_clock();
}

AppPushes::~AppPushes()
{
    // The encoder reaches this object; it must be done before it goes.
    QFuture<void> task;
    {
        QMutexLocker lock(&m_snapshotStateMutex);
        task = m_snapshotTask;
    }
    task.waitForFinished();
}

QString AppPushes::takenApp()
{
    return QString::fromStdString(wim()->get_working_info().taken_app_ip);
}

QJsonObject AppPushes::update_stash_runstate_json(bool push2app)
{
    // Only the owner's refresh counts as the main loop being alive: an HTTP
    // handler refreshing the report must not hide a stuck main thread.
    if (QThread::currentThread() == thread())
        m_lastRefreshMs = m_clock();
    QJsonObject report = m_sources->runState();
    report.insert(QStringLiteral("betaken_appip"), takenApp());
    report.insert(QStringLiteral("package_index"), ++m_packageIndex);
    if (push2app && m_publisher)
        m_publisher->update_p2ahb_stash_runstate(QJsonDocument(report).toJson(QJsonDocument::Compact));
    return report;
}

bool AppPushes::refreshAlive() const
{
    return m_clock() - m_lastRefreshMs.load() < kRefreshAliveMs;
}

CTask_FormData AppPushes::detailForm(const QString& url, const QString& uuid) const
{
    CTask_FormData form;
    form.url = url;
    form.uuid = uuid;
    form.device_id = wim()->get_deviceid();
    return form;
}

void AppPushes::async_back2longtcp_runresult(const QString& uuid, bool fresh_rois)
{
    const ZRC_WorkInfos work = wim()->get_working_info();
    if (work.taken_app_ip.empty())
        return;
    const QJsonObject report = update_stash_runstate_json(true);
    qCInfo(level_1).noquote() << "[POST_2_APP]" << kPlusLine << "async_back2longtcp_runresult";
    const int detect = m_sources->shownDetectIndex();

    QJsonArray rois;
    {
        QMutexLocker lock(&m_roisMutex);
        if (!fresh_rois && !m_roisStash.isEmpty()) {
            rois = m_roisStash.first();
        } else {
            rois = m_sources->roisResult(detect);
            m_roisStash.clear();
            m_roisStash.append(rois);
        }
    }
    CTask_FormData info = detailForm(QStringLiteral("/dide/initiative/runresult_info"), uuid);
    info.json.insert(QStringLiteral("runstateinfo"), report);
    info.json.insert(QStringLiteral("detectinfo"), m_sources->detectInfo(detect));
    info.json.insert(QStringLiteral("rois"), rois);
    emit sig_Publish_Detail(info, kDetailLifetimeS);
    qCInfo(level_1).noquote() << "[POST_2_APP - 1]" << kPlusLine << "runresult_info presend";

    // The mask goes with a detected step (state 2) and with an NG stop
    // (state 3, the alarm), where it shows the operator what differed.
    const int state = report.value(QStringLiteral("state")).toInt();
    if (state != 2 && state != 3)
        return;
    QJsonObject result;
    {
        QMutexLocker lock(&m_roisMutex);
        result.insert(QStringLiteral("rois"), m_roisStash.isEmpty() ? QJsonArray() : m_roisStash.first());
    }
    const MaskForApp mask =
        MaskForApp::build(m_sources->origMask(), m_sources->origMaskScope(), MaskForApp::takenAppVersion(work));
    CTask_FormData maskForm = detailForm(QStringLiteral("/dide/initiative/runresult_mask"), uuid);
    maskForm.variant_parts.insert(QStringLiteral("result"), result);
    if (mask.packed) {
        maskForm.variant_parts.insert(QStringLiteral("maskmat-info"), mask.info);
        maskForm.variant_parts.insert(QStringLiteral("maskmat"), mask.packedBytes);
    } else {
        // A copy: the hub's mask is written again by the next detection on
        // this thread while the push thread still serialises this one.
        maskForm.mat_parts.insert(QStringLiteral("maskmat"), mask.whole.clone());
    }
    emit sig_Publish_Detail(maskForm, kDetailLifetimeS);
    qCInfo(level_1).noquote() << "[POST_2_APP - 2]" << kPlusLine << "runresult_mask presend";
}

void AppPushes::pushToTaker(const QString& url, const QString& uuid, const QJsonObject& body)
{
    if (takenApp().isEmpty())
        return;
    update_stash_runstate_json(true);
    CTask_FormData form = detailForm(url, uuid);
    form.json = body;
    emit sig_Publish_Detail(form, kDetailLifetimeS);
    qCInfo(level_1).noquote() << "[POST_2_APP]" << kPlusLine << url;
}

void AppPushes::async_back2longtcp_defaultparam(const QString& uuid)
{
    pushToTaker(QStringLiteral("/dide/initiative/camera_params"), uuid, m_sources->cameraParams());
}

void AppPushes::async_back2longtcp_resample(const QString& uuid)
{
    pushToTaker(QStringLiteral("/dide/initiative/register_temp"), uuid,
                QJsonObject{{QStringLiteral("result"), m_sources->picFileList()}});
}

void AppPushes::post2app_main_snapshot(const uchar* frame)
{
    if (!frame || !wim()->IsMainCamera())
        return;
    const QString app = takenApp();
    QMutexLocker lock(&m_snapshotStateMutex);
    if (app == m_snapshotApp) {
        if (m_snapshotCalls++ % 100 != 0)
            return;
    } else {
        m_snapshotApp = app;
        ++m_snapshotCalls;
    }
    if (m_snapshotTask.isRunning())
        return;  // still encoding the previous one; this call counted all the same
    const int w = gImageW;
    const int h = gImageH;
    if (w <= 0 || h <= 0)
        return;
    // The copy is made here, so the caller may reuse the buffer at once and
    // never waits for a pool thread (which may all be busy).
    const bool colour = m_sources->colourFrames();
    const QImage image = colour ? QImage(frame, w, h, w * 4, QImage::Format_RGB32).copy()
                                : QImage(frame, w, h, w, QImage::Format_Grayscale8).copy();
    const QString deviceId = wim()->get_deviceid();
    const SnapshotEncoder encode = m_encoder;
    m_snapshotTask = QtConcurrent::run([this, image, deviceId, encode] {
        const QByteArray jpeg = encode(image);
        if (jpeg.isEmpty()) {
            qCWarning(level_1) << "Failed to save image to JPG";
            return;
        }
        CTask_FormData form;
        form.url = QStringLiteral("/dide/initiative/post_lastshowlive");
        form.uuid = QStringLiteral("snapshot#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz");
        form.device_id = deviceId;
        {
            QMutexLocker last(&m_snapshotMutex);
            m_lastSnapshot = jpeg;
            form.bytes_parts.insert(QString(), m_lastSnapshot);
        }
        emit sig_Publish_Snapshot(form);
    });
}

QByteArray AppPushes::lastSnapshot() const
{
    QMutexLocker lock(&m_snapshotMutex);
    return m_lastSnapshot;
}

bool AppPushes::snapshotBusy() const
{
    QMutexLocker lock(const_cast<QMutex*>(&m_snapshotStateMutex));
    return m_snapshotTask.isRunning();
}

QList<QPair<QString, int>> AppPushes::subscriberTargets(const QStringList& topics) const
{
    QList<QPair<QString, int>> targets;
    if (!m_publisher)
        return targets;
    QSet<QString> seen;
    const QMap<QString, SubscriberInfo> subscribers = m_publisher->get_subscriber_topics();
    for (const SubscriberInfo& s : subscribers) {
        const bool wanted = std::any_of(topics.begin(), topics.end(),
                                        [&s](const QString& t) { return s.topics.contains(t); });
        const QString key = s.ip + QLatin1Char(':') + QString::number(s.port);
        if (wanted && !seen.contains(key)) {
            seen.insert(key);
            targets.append({s.ip, s.port});
        }
    }
    return targets;
}

void AppPushes::post(const QString& url, const QMap<QString, QString>& query, const QByteArray& contentType,
                     const QString& userAgent, const QByteArray& body)
{
    QUrl target(url);
    QUrlQuery q;
    for (auto it = query.cbegin(); it != query.cend(); ++it)
        q.addQueryItem(it.key(), it.value());
    target.setQuery(q);
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    request.setRawHeader("Device-ID", wim()->get_deviceid().toUtf8());
    m_postOnce(request, body);
}

void AppPushes::PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path,
                                                 const QString& business_id)
{
    QStringList topics{QStringLiteral("result_all_picture")};
    if (!ok)
        topics << QStringLiteral("result_ng_picture");
    const QList<QPair<QString, int>> targets = subscriberTargets(topics);
    if (targets.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(level_1).noquote() << "[POST_2_SUBSCRIBER] alarm picture not readable, not posted:" << path;
        return;
    }
    const QByteArray bytes = file.readAll();
    const int camera = wim()->get_device_info().getAbsIndex_ByID(wim()->get_deviceid());
    QMap<QString, QString> query;
    query.insert(QStringLiteral("camera"), QString::number(camera));
    query.insert(QStringLiteral("detect"), QString::number(detect));
    query.insert(QStringLiteral("result"), ok ? QStringLiteral("1") : QStringLiteral("0"));
    query.insert(QStringLiteral("picture_name"), QFileInfo(path).fileName());
    query.insert(QStringLiteral("business_id"), httpquery_clearcharacter(business_id));
    for (const auto& t : targets)
        post(QStringLiteral("http://%1:%2%3").arg(t.first).arg(t.second).arg("/dide/httpapi/publisher_picture_detect"),
             query, "image/jpeg", business_id, bytes);
}

void AppPushes::PushMsg2Subscriber_DetectInfoOnce(const QJsonObject& info)
{
    if (!wim()->IsMainCamera())
        return;
    const ZRC_DeviceInfos group = wim()->get_device_info();
    QJsonObject summary = info;
    summary.insert(QStringLiteral("camera_count"), group.cameras.size());
    const QJsonValue last = summary.value(QStringLiteral("last_result"));
    if (last.isArray()) {
        QJsonArray kept;
        for (const QJsonValue& v : last.toArray()) {
            if (!v.isObject())
                continue;
            QJsonObject o = v.toObject();
            const QJsonValue key = o.value(QStringLiteral("key"));
            if (!key.isString() || key.toString().isEmpty())
                continue;
            o.insert(QStringLiteral("camera_index"), group.getAbsIndex_ByID(key.toString()));
            kept.append(o);
        }
        summary.insert(QStringLiteral("last_result"), kept);
    }
    summary.insert(QStringLiteral("info_machine_name"), group.machine_id);
    QJsonArray ids;
    for (const DeviceNetInfo& c : group.cameras)
        ids.append(c.uuid);
    summary.insert(QStringLiteral("info_deviceid"), ids);
    if (m_publisher)
        m_publisher->set_stash_last_detectedinfo(summary);

    const QList<QPair<QString, int>> targets = subscriberTargets({QStringLiteral("result_reports")});
    if (targets.isEmpty())
        return;
    const QByteArray body = QJsonDocument(summary).toJson(QJsonDocument::Compact);
    const QJsonValue idValue = summary.value(QStringLiteral("business_id"));
    const QString businessId = idValue.isUndefined() ? QStringLiteral("default") : idValue.toVariant().toString();
    QMap<QString, QString> query;
    query.insert(QStringLiteral("business_id"), httpquery_clearcharacter(businessId));
    for (const auto& t : targets)
        post(QStringLiteral("http://%1:%2%3").arg(t.first).arg(t.second).arg("/dide/httpapi/subscriber_detectinfo"),
             query, "application/json", businessId, body);
}
