// The integration and device-list routes of the HTTP control API:
// subscribers, the last detection summary and the production counters for
// outside systems, the camera group for a web page, and the operator
// application's search for cameras on the local network.
#include "httpapi/httpservice_mg_business.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "group/rpcdistributed_reactor.h"
#include "hub/divuvarude.h"
#include "hub/hubmanager.h"
#include "io/vcam_io.h"
#include "net/tm_zrp_publish.h"
#include "platform/system/monotonicclock.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

namespace {

const qint64 kDeviceListCacheMs = 4000;
const int kSearchTickMs = 500;
const char kOwnVersion[] = "V1.0.5.29";

}  // namespace

void HttpService_MG_Business::DideHttpApi__set_subscriber(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideHttpApi__set_subscriber", req, [&](const UrlGuard& guard) {
        ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (m_links.publisher) {
            m_links.publisher->Api_regiest_subscriber(req.data.json);
            if (work->IsMainCamera() && RpcDistributed_Reactor::_instance) {
                QVariantMap data;
                data.insert(QStringLiteral("message"), QJsonDocument(req.data.json).toJson(QJsonDocument::Compact));
                RpcDistributed_Reactor::_instance->send_quickmeet(QStringLiteral("/dide/sync/subscribe"), data);
            }
            const QMap<QString, SubscriberInfo> table = m_links.publisher->get_subscriber_topics();
            for (auto it = table.cbegin(); it != table.cend(); ++it)
                reply.data.json.insert(it.key(), QJsonArray::fromStringList(it.value().topics));
        }
        const QString machine = work->get_device_info().machine_id;
        if (!machine.isEmpty())
            reply.data.device_id = machine;  // the group speaks for its cameras
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideHttpApi__get_get_lastresult(const CTask_FormData_Mongoose& req)
{
    runOnMain("DideHttpApi__get_get_lastresult", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        // A sub camera keeps no summary: the empty envelope.
        if (m_links.publisher && ZRC_WorkInformation_Manager::getInstance()->IsMainCamera())
            reply.data.json = m_links.publisher->get_stash_last_detectedinfo();
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideHttpApi__get_product_infos(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideHttpApi__get_product_infos", req, [&](const UrlGuard& guard) {
        ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (!work->IsMainCamera()) {
            answer(guard, reply);  // a sub camera has no counters to give: the empty envelope
            return;
        }
        const ZRC_DeviceInfos group = work->get_device_info();
        const int index = group.getAbsIndex_ByID(work->get_deviceid());
        HubManager* manager = HubManager::instance();
        const QVariantMap counters = manager ? manager->stat_getCur(index) : QVariantMap();
        const auto count = [&counters](const char* key) { return counters.value(QLatin1String(key)).toLongLong(); };
        QJsonObject& r = reply.data.json;
        const QList<DeviceNetInfo> cameras = work->getAllCameras();
        r.insert(QStringLiteral("camera_count"), cameras.size());
        r.insert(QStringLiteral("detect_all"), count("detect_ok") + count("detect_ng"));
        r.insert(QStringLiteral("detect_ng"), count("detect_ng"));
        r.insert(QStringLiteral("workstate"), gpWin ? gpWin->getRunState().value(QStringLiteral("state")).toInt() : 0);
        HubFlow* flow = manager ? manager->flowManager() : nullptr;
        r.insert(QStringLiteral("stop"), flow ? flow->get_RunDescribe().fgs_runstate == 2 : false);
        r.insert(QStringLiteral("iswork"), work->get_working_info().started);
        r.insert(QStringLiteral("run_runtime"), count("runtime"));
        r.insert(QStringLiteral("stop_nowork"), count("stoptime"));
        r.insert(QStringLiteral("run_stoptime"), count("alarmtime"));
        r.insert(QStringLiteral("close_nowork"), count("closetime"));
        r.insert(QStringLiteral("info_machine_name"), group.machine_id);
        QJsonArray ids;
        for (const DeviceNetInfo& c : cameras)
            ids.append(c.uuid);
        r.insert(QStringLiteral("info_deviceid"), ids);
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideHttpApi__publisher_picture_detect(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideHttpApi__publisher_picture_detect", req,
                [&](const UrlGuard& guard) { answer(guard, callback_inherit(req)); });
}

void HttpService_MG_Business::DideWeb__getcamerainfos(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideWeb__getcamerainfos", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        QFile file(ZRC_WorkInformation_Manager::camCfgPath());
        if (file.open(QIODevice::ReadOnly) && file.size() <= (1 << 20)) {
            const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
            if (doc.isObject()) {
                const QJsonObject cfg = doc.object();
                const auto text = [](const QJsonValue& v) {
                    return v.isString() ? v.toString() : v.isDouble() ? QString::number(v.toDouble()) : QString();
                };
                const QString machine = text(cfg.value(QStringLiteral("ps_machineid")));
                QJsonArray infos;
                infos.append(QJsonObject{{QStringLiteral("index"), 0},
                                         {QStringLiteral("uuid"), text(cfg.value(QStringLiteral("ps_main_camera_uuid")))},
                                         {QStringLiteral("ipAddress"),
                                          text(cfg.value(QStringLiteral("ps_main_camera_address")))},
                                         {QStringLiteral("machineName"), machine}});
                const QJsonArray subs = cfg.value(QStringLiteral("ps_sub_camera")).toArray();
                for (int i = 0; i < subs.size(); ++i) {
                    const QJsonObject sub = subs.at(i).toObject();
                    infos.append(QJsonObject{{QStringLiteral("index"), i + 1},
                                             {QStringLiteral("uuid"), text(sub.value(QStringLiteral("ps_sub_camera_uuid")))},
                                             {QStringLiteral("ipAddress"),
                                              text(sub.value(QStringLiteral("ps_sub_camera_address")))},
                                             {QStringLiteral("machineName"), machine}});
                }
                reply.data.json.insert(QStringLiteral("camera_infos"), infos);
            }
        }
        reply.data.headers.insert(QStringLiteral("Access-Control-Allow-Origin"), QStringLiteral("*"));
        reply.data.headers.insert(QStringLiteral("Access-Control-Allow-Methods"), QStringLiteral("*"));
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__getlan_all_devices(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getlan_all_devices", req, [&](const UrlGuard& guard) {
        ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
        const QJsonObject& body = req.data.json;
        // The application registers under its own address, or the one it names.
        QString key = req.peer_ip;
        if (body.contains(QStringLiteral("subip"))) {
            const QHostAddress sub(body.value(QStringLiteral("subip")).toString());
            key = sub.protocol() == QAbstractSocket::IPv4Protocol ? sub.toString() : QString();
            if (key.isEmpty())
                qCInfo(level_1) << "[HTTP] lan_all_devices: \"subip\" is not an IPv4 address; not registered";
        }
        if (!key.isEmpty()) {
            AppRegiestInfo entry;
            entry.time_ms = gettimeofday_ms();
            entry.mono_ms = platform::MonotonicClock::nowMs();
            entry.version = body.value(QStringLiteral("app_version")).toString();
            const std::string k = key.toStdString();
            work->update_working_info([&](ZRC_WorkInfos& w) { w.registered_apps[k] = entry; });
        }

        CTask_FormData_Mongoose reply = callback_inherit(req);
        {
            QMutexLocker lock(&m_deviceListMutex);
            if (m_deviceListMonoMs >= 0
                && platform::MonotonicClock::nowMs() - m_deviceListMonoMs < kDeviceListCacheMs) {
                reply.data.json = m_deviceList;
                lock.unlock();
                answer(guard, reply);
                return;
            }
        }

        // A fresh search: answers of cameras that left must not stay listed.
        work->clear_searching_allinfos();
        work->set_searching(true);
        const DeviceNetInfo_Detail card = work->get_netcard().getValue();
        VCam_IO* io = qobject_cast<VCam_IO*>(g_FrameIO.data());
        QEventLoop loop;
        QTimer tick;
        int rounds = 2;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (rounds-- >= 1) {
                if (io && !card.broadcast.isEmpty()) {
                    io->sendUdpMessage_Timely(Skt_Session{card.broadcast, 10412}, QByteArrayLiteral("<A;21;Camera>"));
                    io->sendUdpMessage_Timely(Skt_Session{card.broadcast, 10411}, QByteArrayLiteral("<A;1>"));
                }
            } else {
                loop.quit();
            }
        });
        tick.start(kSearchTickMs);
        loop.exec();
        tick.stop();
        work->set_searching(false);
        QMap<QString, QString> answers = work->get_searching_allinfos();

        const std::string taken = work->get_working_info().taken_app_ip;
        answers.insert(card.ip, QStringLiteral("<C;21;%1;%2;%3;%4>")
                                    .arg(work->get_deviceid(), card.ip, QLatin1String(kOwnVersion),
                                         QString::fromStdString(taken)));
        QJsonArray all;
        for (auto it = answers.cbegin(); it != answers.cend(); ++it)  // text order of the address
            all.append(QJsonObject{{QStringLiteral("ip"), it.key()}, {QStringLiteral("content"), it.value()}});
        reply.data.json.insert(QStringLiteral("all_devices"), all);
        reply.data.json.insert(QStringLiteral("device_netmask"), card.netmask);
        {
            QMutexLocker lock(&m_deviceListMutex);
            m_deviceList = reply.data.json;
            m_deviceListMonoMs = platform::MonotonicClock::nowMs();
        }
        answer(guard, reply);
    });
}
