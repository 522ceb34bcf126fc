#include "manager/vistrel_manager.h"

#include "flow/flowpart_base.h"
#include "flow/product_manager.h"
#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "foundation/qstring_tl.h"
#include "foundation/zrc_workinformation_manager.h"
#include "group/groupworktopics.h"
#include "group/hubgroupwork.h"
#include "group/rpcdistributed_reactor.h"
#include "group/tm_zrt_campairs.h"
#include "hub/divuvarude.h"
#include "io/frameio.h"
#include "io/tm_zru_iodevice.h"
#include "manager/apppushes.h"
#include "manager/hubpushsources.h"
#include "manager/programworkservices.h"
#include "manager/smartmanager_deamon.h"
#include "net/tm_zrp_publish.h"
#include "net/udp_push2app.h"
#include "net/udp_push2app_simple.h"
#include "statistics/stage_productstatistics.h"
#include "platform/system/monotonicclock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>

// The translation resource lives in this static library: its initialiser
// must be called by name, or the linker leaves it out.
static void initTranslationResource()
{
    Q_INIT_RESOURCE(translate);
}

namespace {

Vistrel_Manager* g_manager = nullptr;

ZRC_WorkInformation_Manager* wim()
{
    return ZRC_WorkInformation_Manager::getInstance();
}

// The flow manager as the hub sees it.
class FlowForHub : public HubFlow {
public:
    explicit FlowForHub(Product_Manager* flow) : m_flow(flow) {}
    void setStartOrStop(bool start) override { m_flow->setStartOrStop(start); }
    FlowGroup_State get_RunDescribe() override { return m_flow->get_RunDescribe(); }

private:
    Product_Manager* m_flow;
};

}  // namespace

Vistrel_Manager* Vistrel_Manager::getInstance()
{
    if (!g_manager)
        new Vistrel_Manager;  // sets g_manager
    return g_manager;
}

Vistrel_Manager* Vistrel_Manager::instance()
{
    return g_manager;
}

Vistrel_Manager::Vistrel_Manager(Vistrel_ManagerOptions options)
    : ManagerProductWork(nullptr, nullptr, nullptr), m_options(std::move(options))
{
    if (!g_manager)
        g_manager = this;
    initTranslationResource();

    // The IO frame published at start-up (none: the handlers leave IO alone).
    m_io = g_FrameIO;

    // The camera group's reactor, made here when nobody made one before.
    m_reactor = RpcDistributed_Reactor::_instance;
    if (!m_reactor) {
        m_link = m_options.link ? m_options.link : new TM_ZRT_CamPairs;
        m_hubWork = std::make_unique<HubGroupWork>();
        m_groupServices = std::make_unique<GroupWorkServicesJoin>(m_hubWork.get(), this);
        m_reactor = new RpcDistributed_Reactor(nullptr, m_link, m_groupServices.get());
        RpcDistributed_Reactor::_instance = m_reactor;
    } else {
        m_link = m_reactor->_link;
    }
    registerGroupWorkTopics(m_reactor);

    m_publisher = new TM_ZRP_Publish;
    m_http = new HttpService_MG_Business(m_options.http);

    m_flow = new Product_Manager;
    auto* statistics = new stage_productstatistics;
    Product_Manager* flow = m_flow;
    statistics->setRunStateGetter([flow] { return flow->get_run_state(); });

    m_workServices = std::make_unique<ProgramWorkServices>(m_reactor);
    m_sources = std::make_unique<HubPushSources>(
        [flow] { return flow->get_RunDescribe().fgs_zrp_show_unitindex_abs; });
    auto* pushes = new AppPushes(m_sources.get(), m_publisher, this);
    setParts(m_workServices.get(), statistics, pushes);
    // What the HTTP handlers act on and read of the manager.
    m_http->setProgram(m_flow, statistics);
    HttpServiceManagerLinks links;
    links.publisher = m_publisher;
    links.runStateJson = [pushes](bool push2app) { return pushes->update_stash_runstate_json(push2app); };
    links.lastSnapshot = [pushes] { return pushes->lastSnapshot(); };
    m_http->setManagerLinks(std::move(links));

    m_flow->setProductInterface(this);
    m_flow->setHostServices(this);
    m_flow->setFrameIO(m_io);
    m_hubFlow = std::make_unique<FlowForHub>(m_flow);

    m_runStateTimer.setSingleShot(true);
    connect(&m_runStateTimer, &QTimer::timeout, this, &Vistrel_Manager::refreshRunState);

    qRegisterMetaType<CTask_FormData>("CTask_FormData");

    connect(pushes, &AppPushes::sig_Publish_Detail, m_publisher, &TM_ZRP_Publish::Post2App_Detail,
            Qt::QueuedConnection);
    connect(pushes, &AppPushes::sig_Publish_Snapshot, m_publisher, &TM_ZRP_Publish::Post2App_Snapshot,
            Qt::QueuedConnection);
    connect(m_http, &HttpService_MG_Business::sig_OnWork, m_flow, &Product_Manager::slot_OnWork,
            Qt::QueuedConnection);

    // What the hub and the heartbeat ask of the manager. The heartbeat reads
    // the working unit on its own thread: the published description, which
    // never waits for the main thread.
    HubManager::setInstance(this);
    FlowRebuild::setInstance(this);
    PicturePush::setInstance(this);
    Udp_Push2APP_Simple::setWorkingUnitProbe(
        [flow] { return flow->get_PublishedRunDescribe().fgs_working_unitindex_abs; });
    // The taken application's language, should an HTTP-over-UDP heartbeat
    // client ever run: re-posted to this thread by set_Language.
    if (g_manager == this)
        Udp_Push2APP::setLanguageSink([this](const QString& language) { set_Language(language); });
}

Vistrel_Manager::~Vistrel_Manager()
{
    // The program never destroys its manager; tests do, and get every
    // registration undone and every part stopped and freed.
    stopwork();
    Udp_Push2APP_Simple::setWorkingUnitProbe({});
    if (g_manager == this)
        Udp_Push2APP::setLanguageSink({});
    if (HubManager::instance() == this)
        HubManager::setInstance(nullptr);
    if (FlowRebuild::instance() == this)
        FlowRebuild::setInstance(nullptr);
    if (PicturePush::instance() == this)
        PicturePush::setInstance(nullptr);
    if (m_flow) {
        m_flow->setProductInterface(nullptr);
        m_flow->setHostServices(nullptr);
        m_flow->clear_Frameworks();
    }
    if (m_groupServices) {
        // The reactor was made here: it goes, with the link unless a test gave it.
        delete m_reactor;
        if (!m_options.link)
            delete m_link;
    }
    delete m_flow;
    delete m_http;
    AppPushes* ownPushes = pushes();
    stage_productstatistics* ownStatistics = statistics();
    setParts(nullptr, nullptr, nullptr);
    delete ownPushes;  // before the publisher it pushes to
    delete m_publisher;
    delete ownStatistics;
    if (g_manager == this)
        g_manager = nullptr;
}

// ---- start and stop ----

void Vistrel_Manager::startwork()
{
    if (m_started)
        return;
    m_started = true;

    set_Language(gLan.load() == 1 ? QStringLiteral("en-US") : QStringLiteral("zh-CN"));

    if (m_io) {
        m_transport = new TM_ZRU_IODevice;
        m_io->setReactor(m_transport);  // owns and starts it
        m_io->updateIONoInputTip();
        m_io->IOSetOut_ResetAllKeep();
    } else {
        qCWarning(level_1) << "[Manager] no IO frame: no IO transport, IO triggers never come";
    }

    m_flow->create_Frameworks(gpWPara ? gpWPara->i_program_logic : 0, true);
    m_http->start();
    m_publisher->startwork();

    const QList<DeviceNetInfo> cameras = wim()->getAllCameras();
    m_cameraCount = cameras.size();
    const QString project = gpWPara ? gpWPara->GetTableValue(QStringLiteral("sysparam"), QStringLiteral("project_name"))
                                    : QString();
    statistics()->init(m_flow->get_UAbs_Count(), m_cameraCount, project);

    m_runStateTimer.start(kRunStateMs);

    if (m_link)
        m_link->InitWsServer(true);
    m_reactor->connection_establishment(membershipRecord());

    QObject* ioContext = m_transport ? static_cast<QObject*>(m_transport) : this;
    connect(wim(), &ZRC_WorkInformation_Manager::sig_device_info_change, this, &Vistrel_Manager::onDeviceInfoChange);
    connect(m_reactor, &RpcDistributed_Reactor::sig_wscams_found_subcams_broke, ioContext,
            [this] { onSubCamerasBroken(); });
    connect(m_reactor, &RpcDistributed_Reactor::sig_wscams_restartrpc_subcams, this,
            &Vistrel_Manager::onRestartSubCamera);
    connect(m_reactor, &RpcDistributed_Reactor::sig_wscams_first_cnted, ioContext, [this] { onFirstConnected(); });
    if (m_io)
        connect(m_io.data(), &FrameIO::sig_HasIOTrig, m_flow, &Product_Manager::slot_OnWork_IOTrig,
                Qt::QueuedConnection);

    if (gpWin)
        gpWin->startStop(0);
    else
        qCWarning(level_1) << "[Manager] no hub: the flow is not started";

    const QString text = startRecordText();
    if (gpWin)
        gpWin->InsertRecord(text, QStringLiteral("system"));
    qCInfo(level_1).noquote() << "[Manager]" << text;
}

void Vistrel_Manager::stopwork()
{
    m_runStateTimer.stop();
    if (m_http)
        m_http->reactor()->stopAll();
    if (m_io && m_transport && m_io->getReactor() == m_transport)
        m_io->setReactor(nullptr);  // stops the transport's thread and frees it
    m_transport = nullptr;
}

QString Vistrel_Manager::startRecordText()
{
    const QString own = wim()->get_deviceid();
    const int position = wim()->get_device_info().getAbsIndex_ByID(own);
    return tr("相机 %1 启动，ID：%2, IP: %3").arg(position).arg(own, wim()->get_netcard().getValue().ip);
}

// ---- run state and liveness ----

void Vistrel_Manager::refreshRunState()
{
    pushes()->update_stash_runstate_json(true);  // also stamps the liveness
    m_runStateTimer.start(kRunStateMs);
}

bool Vistrel_Manager::getTimerAlived() const
{
    return pushes()->refreshAlive();
}

ProgramLivenessProbes::Parts Vistrel_Manager::livenessParts() const
{
    ProgramLivenessProbes::Parts parts;
    parts.io = m_io;
    parts.pushes = pushes();
    parts.http = m_http->reactor().data();
    parts.publisher = m_publisher;
    CamPairsLink* link = m_link;
    if (link) {
        parts.camPairsAlive = [link] { return link->getTimerAlived(); };
        parts.cameraLinksUp = [link] {
            ZRC_WorkInformation_Manager* w = ZRC_WorkInformation_Manager::getInstance();
            return !w->IsMainCamera() || w->getSubCameras().isEmpty() || link->getIsCnetd();
        };
    }
    return parts;
}

void Vistrel_Manager::slot_RunReports()
{
    QString memory;
    QFile meminfo(m_options.meminfoPath);
    if (meminfo.open(QIODevice::ReadOnly))
        memory = usedMemoryFromMeminfo(meminfo.readAll());
    ProgramLivenessProbes probes(livenessParts());
    qCInfo(level_1).noquote() << "--- Reports --- UsedMem:" << memory << "MB;"
                              << "Thread-ICHU:"
                              << QStringLiteral("[%1,%2,%3,%4];")
                                     .arg(int(probes.ioAlive()))
                                     .arg(int(probes.camPairsAlive()))
                                     .arg(int(probes.httpServerAlive()))
                                     .arg(int(probes.heartbeatAlive()))
                              << "Cnted-IC:"
                              << QStringLiteral("[%1,%2];").arg(int(probes.ioLinkUp())).arg(int(probes.cameraLinksUp()))
                              << "Apps:" << SmartManager_Deamon::heartbeatTargetsText(probes.heartbeatTargets())
                              << "Flowpart-Count:" << g_flowpart_base_count.load();
}

QString Vistrel_Manager::usedMemoryFromMeminfo(const QByteArray& meminfo)
{
    qint64 total = -1;
    qint64 available = -1;
    for (const QByteArray& line : meminfo.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() != 3)
            continue;
        bool ok = false;
        const qint64 kb = parts.at(1).toLongLong(&ok);
        if (!ok || kb < 0)
            continue;
        QByteArray key = parts.at(0);
        if (key.endsWith(':'))
            key.chop(1);
        if (key == "MemTotal")
            total = kb;
        else if (key == "MemAvailable")
            available = kb;
    }
    if (total < 0 || available < 0)
        return QString();
    return QString::number((total - available) / 1024);
}

// ---- language ----

bool Vistrel_Manager::set_Language(QString language)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, "set_Language", Qt::QueuedConnection, Q_ARG(QString, language));
        return false;
    }
    applyLanguage(language);
    if (gpWPara)
        gpWPara->SaveDatatoDB();
    return true;
}

void Vistrel_Manager::applyLanguage(const QString& language)
{
    if (m_translatorInstalled) {
        QCoreApplication::removeTranslator(&m_translator);
        m_translatorInstalled = false;
    }
    if (language == QLatin1String("en-US")) {
        if (m_translator.load(QStringLiteral(":/translate/trans_en_US.qm")))
            m_translatorInstalled = QCoreApplication::installTranslator(&m_translator);
        else
            qCWarning(level_1) << "[Manager] the English translation could not be loaded; texts stay Chinese";
        gLan = 1;
    } else {
        gLan = 0;
    }
}

// ---- group ----

SRPC_WS_Interface Vistrel_Manager::membershipRecord()
{
    SRPC_WS_Interface iface;
    iface.own_id = wim()->get_deviceid();
    const CVariant<DeviceNetInfo> main = wim()->getMainCamera();
    if (main.hasValue()) {
        const DeviceNetInfo m = main.getValue();
        iface.main_id = m.uuid;
        iface.main_address = m.address;
        iface.main_value = m.role;
    }
    iface.subs = wim()->getSubCameras();
    iface.is_main = wim()->IsMainCamera();
    return iface;
}

void Vistrel_Manager::onDeviceInfoChange()
{
    m_reactor->connection_establishment(membershipRecord());
    const int count = wim()->getAllCameras().size();
    if (count != m_cameraCount) {
        m_cameraCount = count;
        statistics()->resetCameraCount(count);
    }
}

void Vistrel_Manager::onSubCamerasBroken()
{
    FrameIO* io = m_io.data();
    if (!io)
        return;
    io->IOSetOut_AllCutoff();
    // The link's own line on the blocked sub is not in the log files unless
    // verbose logging is on: say here why the outputs went low, at most
    // once every 10 s (this comes on every blocked tick, 0.8 s apart).
    ++m_brokenTicks;
    const qint64 now = platform::MonotonicClock::nowMs();
    const bool logNow = m_brokenLoggedMs < 0 || now - m_brokenLoggedMs >= kBrokenLogGapMs;
    auto* device = qobject_cast<TM_ZRU_IODevice*>(io->getReactor());
    const DeviceNetInfo_Detail card = wim()->get_netcard().getValue();
    if (logNow) {
        qCWarning(level_1).noquote()
            << QStringLiteral("[Manager] a sub camera's link is down: IO outputs cut, cameras called on %1:%2 "
                              "(blocked ticks so far: %3)")
                   .arg(card.broadcast.isEmpty() ? QStringLiteral("(no broadcast address)") : card.broadcast)
                   .arg(kCameraSearchPort)
                   .arg(m_brokenTicks);
        m_brokenLoggedMs = now;
    }
    if (!device || card.broadcast.isEmpty())
        return;
    device->sendUdpMessage_Timely(Skt_Session{card.broadcast, kCameraSearchPort}, QByteArrayLiteral("<A;21;Camera>"));
}

void Vistrel_Manager::onFirstConnected()
{
    qCInfo(level_1) << "[TM_IO][first cnted]";
    if (FrameIO* io = m_io.data())
        io->IOSetOut_ResetAllKeep();
}

void Vistrel_Manager::onRestartSubCamera(QString deviceId)
{
    DeviceNetInfo target;
    bool found = false;
    for (const DeviceNetInfo& c : wim()->getAllCameras()) {
        if (c.uuid == deviceId && c.role == 0) {
            target = c;
            found = true;
            break;
        }
    }
    if (!found) {
        qCInfo(level_1).noquote() << "[Manager] restart of" << deviceId << "not sent: no such sub camera";
        return;
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    const QString url = QStringLiteral("http://%1:%2/dide/debug/restart_rpc_service")
                            .arg(target.address)
                            .arg(m_options.restartPort);
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(kRestartTimeoutMs);
    m_restartRequests << url;
    // The answer is only logged at debug level; that the request went out
    // belongs in the log files.
    qCInfo(level_1).noquote() << "[Manager] sub camera" << deviceId << "does not answer its link: restart requested,"
                              << url;
    // Never waits: a local event loop here would let a trigger run a whole
    // work event inside it.
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] {
        QString error;
        if (reply->error() != QNetworkReply::NoError) {
            error = reply->errorString();
            qCDebug(level_1).noquote() << "Error:" << error;
        } else {
            qCDebug(level_1).noquote() << "Response:" << reply->readAll();
        }
        reply->deleteLater();
        emit sig_RestartAnswered(url, error);
    });
}

// ---- hub, flow and pushes ----

void Vistrel_Manager::post2app_main_snapshot(const cv::Mat& frame)
{
    if (!frame.empty())
        pushes()->post2app_main_snapshot(frame.data);
}

void Vistrel_Manager::async_back2longtcp_defaultparam(const QString& arg)
{
    pushes()->async_back2longtcp_defaultparam(arg);
}

HubFlow* Vistrel_Manager::flowManager()
{
    return m_hubFlow.get();
}

void Vistrel_Manager::rebuildFlow(int productModel)
{
    m_flow->create_Frameworks(productModel, true);
}

void Vistrel_Manager::PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path,
                                                       const QString& businessId)
{
    pushes()->PushMsg2Subscriber_PictureResult(detect, ok, path, businessId);
}

void Vistrel_Manager::setShownUnitIndex(int detectIndexAbs)
{
    m_flow->setShownUnitIndex(detectIndexAbs);
}

void Vistrel_Manager::async_back2longtcp_runresult(const QString& uuid, bool fresh)
{
    pushes()->async_back2longtcp_runresult(uuid, fresh);
}

void Vistrel_Manager::Api_regiest_subscriber(const QJsonObject& obj)
{
    m_publisher->Api_regiest_subscriber(obj);
}
