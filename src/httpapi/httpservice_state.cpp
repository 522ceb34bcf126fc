// The state and image routes of the HTTP control API: liveness pings, the
// run state, the current step's result and mask, the NG images held in
// memory, the live snapshot and the template and alarm image files.
#include "httpapi/detectionimagereply.h"
#include "httpapi/httpservice_mg_business.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/divuvarude.h"
#include "hub/hubmanager.h"
#include "inspection/maskforapp.h"
#include "net/tm_zrp_publish.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtConcurrent>

#include <cmath>
#include <limits>

namespace {

const char kMissingImage[] = "未查询到需要获取的图片文件";

// A body key that must be a whole number not below 0 when present (missing
// reads 0). False (and `why` set) otherwise.
bool readIndex(const QJsonObject& body, const char* key, int& out, QString& why)
{
    out = 0;
    const QJsonValue v = body.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        return true;
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d < 0 || d != std::floor(d) || d > std::numeric_limits<int>::max()) {
        why = QStringLiteral("\"%1\" must be a whole number not below 0").arg(QLatin1String(key));
        return false;
    }
    out = static_cast<int>(d);
    return true;
}

}  // namespace

int HttpService_MG_Business::shownStep()
{
    HubManager* manager = HubManager::instance();
    HubFlow* flow = manager ? manager->flowManager() : nullptr;
    return flow ? flow->get_RunDescribe().fgs_zrp_show_unitindex_abs : -1;
}

void HttpService_MG_Business::DideContext__heartbeat(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__heartbeat", req, [&](const UrlGuard& guard) {
        answer(guard, callback_inherit(req));
    });
}

void HttpService_MG_Business::DideContext__setcamcntstatus(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__setcamcntstatus", req, [&](const UrlGuard& guard) {
        answer(guard, callback_inherit(req));
    });
}

void HttpService_MG_Business::DideContext__getcamerastatus(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getcamerastatus", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (gpWin)
            gpWin->getCameraState(reply.data.json);
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__get_stash_runstate_p2ahb(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__get_stash_runstate_p2ahb", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (m_links.publisher)
            reply.data.json = QJsonDocument::fromJson(m_links.publisher->get_p2ahb_stash_runstate()).object();
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__getlastshowlive(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getlastshowlive", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        QByteArray jpeg;
        if (ZRC_WorkInformation_Manager::getInstance()->IsMainCamera() && m_links.lastSnapshot)
            jpeg = m_links.lastSnapshot();
        if (jpeg.isEmpty()) {
            // A sub camera has no snapshot, nor has a main one before the first.
            reply.data.code = 1;
            reply.data.msg = QString::fromUtf8(kMissingImage);
        } else {
            reply.data.content_type = QStringLiteral("image/jpeg");
            reply.data.body = jpeg;
        }
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__getrunresult_info(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideContext__getrunresult_info", req, [&](const UrlGuard& guard) {
        const int step = shownStep();
        CTask_FormData_Mongoose reply = callback_inherit(req);
        reply.data.json.insert(QStringLiteral("runstateinfo"),
                               m_links.runStateJson ? m_links.runStateJson(true)
                                                    : (gpWin ? gpWin->getRunState() : QJsonObject()));
        if (gpWin) {
            reply.data.json.insert(QStringLiteral("detectinfo"), gpWin->detectInfo(step));
            reply.data.json.insert(QStringLiteral("rois"), gpWin->roisResult(step));
        }
        answer(guard, reply);
    });
}

void HttpService_MG_Business::answerDetectionImages(const CTask_FormData_Mongoose& req,
                                                    const UrlGuard& guard, bool withFrame)
{
    // On the main thread: copies only, since the next frame overwrites what
    // the hub hands out. Packing and assembly run on a pool thread.
    const int step = shownStep();
    DetectionImageReply images;
    images.withFrame = withFrame;
    if (gpWin) {
        images.rois = gpWin->roisResult(step);
        images.mask = m_imageCopies.copy(gpWin->getOrigMask());
        images.scope = gpWin->getOrigMaskScope();
        if (withFrame) {
            images.detectinfo = gpWin->detectInfo(step);
            // The copy is never written again while it is held, so a
            // request that comes before the next frame takes it as it is.
            const quint64 generation = gpWin->origImageGeneration();
            if (m_frameCopy.empty() || generation != m_frameCopyGeneration) {
                m_frameCopy = m_imageCopies.copy(gpWin->getOrigImage());
                m_frameCopyGeneration = generation;
            }
            images.frame = m_frameCopy;
        }
    }
    if (withFrame)
        images.runstate = m_links.runStateJson ? m_links.runStateJson(true)
                                               : (gpWin ? gpWin->getRunState() : QJsonObject());
    images.appVersion = MaskForApp::takenAppVersion(ZRC_WorkInformation_Manager::getInstance()->get_working_info());
    answerOnPool(req, callback_inherit(req), guard, [images](CTask_FormData_Mongoose& reply) { images.fill(reply); });
}

void HttpService_MG_Business::DideContext__getcurnginfo(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideContext__getcurnginfo", req, [&](const UrlGuard& guard) {
        answerDetectionImages(req, guard, true);
    });
}

void HttpService_MG_Business::DideContext__getrunresult_mask(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideContext__getrunresult_mask", req, [&](const UrlGuard& guard) {
        answerDetectionImages(req, guard, false);
    });
}

void HttpService_MG_Business::DideContext__get_shorttime_ng(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__get_shorttime_ng", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        int detect = 0;
        int index = 0;
        QString why;
        if (!readIndex(req.data.json, "detect", detect, why) || !readIndex(req.data.json, "index", index, why)) {
            qCWarning(level_1).noquote() << "[HTTP] get_shorttime_ng refused:" << why;
            reply.data.code = 1;
            reply.data.msg = why;
            answer(guard, reply);
            return;
        }
        reply.data.multipart_fields.insert(QStringLiteral("info"),
                                           QJsonObject{{QStringLiteral("total"), 3}, {QStringLiteral("index"), index}});
        reply.data.multipart_images.insert(QStringLiteral("orgmat"), gpWin ? gpWin->getNGPic(detect, index) : cv::Mat());
        answer(guard, reply);
    });
}

void HttpService_MG_Business::answerOnPool(const CTask_FormData_Mongoose& req, const CTask_FormData_Mongoose& base,
                                           const UrlGuard& guard, std::function<void(CTask_FormData_Mongoose&)> fill)
{
    QSharedPointer<HttpReactor_MG> reactor = m_reactor;
    // The guard goes along: the route stays busy until the answer is out.
    QtConcurrent::run(&m_replyPool, [reactor, req, base, guard, fill] {
        HttpReactor_MG::lowerThisThreadsPriority();
        CTask_FormData_Mongoose reply = base;
        try {
            fill(reply);
        } catch (const std::exception& e) {
            qCWarning(level_1).noquote() << "Caught exception of type:" << base.data.url << e.what();
            reply = base;
            reply.data.code = -1;
            reply.data.msg = QStringLiteral("internal error");
        }
        guard->release();
        reactor->finishWorkAction(reply);
    });
}

void HttpService_MG_Business::DideContext__getsyspic(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideContext__getsyspic", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (!gpWin) {
            answer(guard, reply);
            return;
        }
        // The templates on the main thread; the alarm folders, which may
        // hold thousands of pictures each, are listed on a pool thread.
        const qint64 t0 = gettimeofday_ms();
        reply.data.json = gpWin->templateFileLists();
        const DiVuVarude::AlarmListing listing = gpWin->alarmListing();
        answerOnPool(req, reply, guard, [listing, t0](CTask_FormData_Mongoose& r) {
            listing.listInto(r.data.json);
            qCInfo(level_1) << "getsyspic use time(ms):" << gettimeofday_ms() - t0;
        });
    });
}

void HttpService_MG_Business::DideContext__getsyspic_item(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideContext__getsyspic_item", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        const QJsonObject& body = req.data.json;
        if (gpWin && body.contains(QStringLiteral("file_type")) && body.contains(QStringLiteral("detect"))) {
            const QJsonValue detect = body.value(QStringLiteral("detect"));
            const double d = detect.toDouble(-1);
            if (detect.isDouble() && d >= 0 && d == std::floor(d) && d <= 1000) {
                const QString kind = body.value(QStringLiteral("file_type")).toString();
                QString folder;
                int limit = 0;
                if (gpWin->alarmFolderOf(kind, static_cast<int>(d), &folder, &limit)) {
                    answerOnPool(req, reply, guard, [folder, limit](CTask_FormData_Mongoose& r) {
                        r.data.json = DiVuVarude::alarmFolderList(folder, limit);
                    });
                    return;
                }
                reply.data.json = gpWin->getPicFileList(kind, static_cast<int>(d));
            }
        }
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__getpicture(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getpicture", req, [&](const UrlGuard& guard) {
        const QJsonObject& body = req.data.json;
        const QJsonValue detectValue = body.value(QStringLiteral("pic_detect"));
        const double d = detectValue.toDouble(0);
        const int detect = detectValue.isDouble() && d == std::floor(d) && std::fabs(d) < 1e6 ? int(d) : -1;
        const QString path = gpWin ? gpWin->getPicDir(body.value(QStringLiteral("pic_name")).toString(), detect,
                                                      body.value(QStringLiteral("pic_type")).toString())
                                   : QString();
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            // Unknown kind, a name the hub refused, or no such file.
            reply.data.code = 1;
            reply.data.msg = QString::fromUtf8(kMissingImage);
            answer(guard, reply);
            return;
        }
        static const QRegularExpression appClient(QStringLiteral("^appid-.*#.*"));
        if (appClient.match(req.data.user_agent).hasMatch())
            reply.data.content_type = QStringLiteral("application/octet-stream");
        reply.data.file_path = path;
        answer(guard, reply);
    });
}
