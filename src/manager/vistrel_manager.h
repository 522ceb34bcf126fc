#pragma once
// The composition root of the camera program: creates the result publisher,
// the HTTP control API, the flow manager, the statistics and the camera
// group's work-event table, and on startwork attaches the IO transport,
// builds the flow, starts every service, joins the camera group and records
// the start. It is the flow's product interface (ManagerProductWork), the
// hub's manager, flow rebuild and picture push, and the manager half of the
// group work seam.
//
// Threads: lives on the main thread with its 100 ms run-state refresh, the
// group-change and remote-restart handlers. The sub-camera-broken and
// first-connected handlers run on the IO transport thread. set_Language
// called from another thread re-posts itself and returns false; the
// statistics forwarders never wait for the main thread.
#include "group/groupworkservices.h"
#include "group/rpcdist_define.h"
#include "hub/hubhooks.h"
#include "hub/hubmanager.h"
#include "httpapi/httpservice_mg_business.h"
#include "manager/managerproductwork.h"
#include "manager/programlivenessprobes.h"

#include <QHostAddress>
#include <QPointer>
#include <QTimer>
#include <QTranslator>

#include <functional>
#include <memory>

class AppPushes;
class CamPairsLink;
class FrameIO;
class HubGroupWork;
class HubPushSources;
class Product_Manager;
class ProgramWorkServices;
class QNetworkAccessManager;
class RpcDistributed_Reactor;
class TM_ZRP_Publish;
class TM_ZRU_IODevice;

struct Vistrel_ManagerOptions {
    // The HTTP control API: every address, 10414, 50 queued, one running
    // request per URL, uploads cached in "/userdata/tmp/".
    HttpBusiness_MG_Config http{QHostAddress(QHostAddress::Any), 10414, 50, true, QStringLiteral("/userdata/tmp/")};
    // The camera-pair link when no reactor exists yet; null: the real
    // WebSocket link on 8765 (not owned when given).
    CamPairsLink* link = nullptr;
    // Where a sub camera's restart request goes: its HTTP API port.
    quint16 restartPort = 10414;
    // The memory figures of slot_RunReports.
    QString meminfoPath = QStringLiteral("/proc/meminfo");
};

class Vistrel_Manager : public ManagerProductWork,
                        public HubManager,
                        public FlowRebuild,
                        public PicturePush,
                        public GroupManagerWork {
    Q_OBJECT
public:
    static constexpr int kRunStateMs = 100;
    static constexpr int kRestartTimeoutMs = 50;
    static constexpr quint16 kCameraSearchPort = 10412;

    // The program's manager, made on the first call (main thread, at start-up).
    static Vistrel_Manager* getInstance();
    // The manager if it exists; never makes one.
    static Vistrel_Manager* instance();

    // Tests make their own; the program goes through getInstance.
    explicit Vistrel_Manager(Vistrel_ManagerOptions options = {});
    ~Vistrel_Manager() override;

    // Once, after the hub exists: IO transport, flow, HTTP, publisher,
    // statistics, run-state refresh, camera group, start record.
    void startwork();
    // Before the process ends: the run-state refresh, the HTTP server, the
    // publisher and the IO transport stop (their threads end).
    void stopwork();

    // "zh-CN" or anything else: Chinese column; "en-US": English and its
    // translation. From another thread: re-posted, false.
    Q_INVOKABLE bool set_Language(QString language);
    Q_INVOKABLE void slot_do_req_a2c22_modifycells() {}
    // The run-state refresh ran on the manager's thread within the last 2 s
    // (monotonic clock).
    bool getTimerAlived() const;
    // The older form of the liveness reporter's resource report, carried and
    // never invoked by the program: used memory from the meminfo file, the
    // liveness of the IO transport, camera-pair link, HTTP server and
    // heartbeat, the IO and camera links, the heartbeat targets and the
    // number of flow parts alive, logged in one line (level_1). Any thread.
    Q_INVOKABLE void slot_RunReports();
    // (MemTotal - MemAvailable) / 1024 as whole MB from the text of a
    // meminfo file (lines "Key: value kB"); empty when either is missing.
    static QString usedMemoryFromMeminfo(const QByteArray& meminfo);

    // Statistics forwarders (any thread); see ManagerProductWork.
    QVariantMap stat_getCur(int camera) override { return ManagerProductWork::stat_getCur(camera); }
    void stat_SaveCur(const QVariantMap& map) override { ManagerProductWork::stat_SaveCur(map); }

    // HubManager
    void post2app_main_snapshot(const cv::Mat& frame) override;
    void async_back2longtcp_defaultparam(const QString& arg) override;
    HubFlow* flowManager() override;
    Product_Interface* productInterface() override { return this; }

    // FlowRebuild
    void rebuildFlow(int productModel) override;

    // PicturePush
    void PushMsg2Subscriber_PictureResult(int detect, bool ok, const QString& path,
                                          const QString& businessId) override;

    // GroupManagerWork
    void setShownUnitIndex(int detectIndexAbs) override;
    void async_back2longtcp_runresult(const QString& uuid, bool fresh) override;
    void Api_regiest_subscriber(const QJsonObject& obj) override;

    // The camera-group membership record from the device information.
    static SRPC_WS_Interface membershipRecord();
    // The start record's text: this camera's position in the group (-1 when
    // absent from it), its device id and the address of its network card.
    static QString startRecordText();

    // The parts, for the liveness reporter and tests.
    ProgramLivenessProbes::Parts livenessParts() const;
    TM_ZRP_Publish* publisher() const { return m_publisher; }
    Product_Manager* productManager() const { return m_flow; }
    RpcDistributed_Reactor* reactor() const { return m_reactor; }
    HttpService_MG_Business* httpService() const { return m_http; }
    stage_productstatistics* productStatistics() const { return statistics(); }
    AppPushes* appPushes() const { return pushes(); }
    TM_ZRU_IODevice* ioTransport() const { return m_transport; }
    const Vistrel_ManagerOptions& options() const { return m_options; }
    // Restart requests sent so far (their URLs), for the log and tests.
    QStringList restartRequests() const { return m_restartRequests; }

signals:
    void sig_IO_InputChange(int io_inputs);
    void sig_CreateWork(const SRPC_WS_FormData& framedata);
    void sig_FlushWork(const SCollect_Unit& result);
    // A restart request finished (error text empty on success).
    void sig_RestartAnswered(const QString& url, const QString& error);

public slots:
    // Camera group changed: the membership record again, and the statistics'
    // camera count when it changed.
    void onDeviceInfoChange();
    // The link found broken sub cameras (IO transport thread): outputs cut,
    // the camera search datagram broadcast.
    void onSubCamerasBroken();
    // The link asks for a sub camera's remote restart (main thread).
    void onRestartSubCamera(QString deviceId);
    // The link's first connection (IO transport thread): outputs to rest.
    void onFirstConnected();

private:
    void refreshRunState();
    void applyLanguage(const QString& language);

    Vistrel_ManagerOptions m_options;
    QTranslator m_translator;
    bool m_translatorInstalled = false;
    QPointer<FrameIO> m_io;
    RpcDistributed_Reactor* m_reactor = nullptr;
    CamPairsLink* m_link = nullptr;
    std::unique_ptr<ProgramWorkServices> m_workServices;
    std::unique_ptr<HubGroupWork> m_hubWork;
    std::unique_ptr<GroupWorkServicesJoin> m_groupServices;
    std::unique_ptr<HubPushSources> m_sources;
    TM_ZRP_Publish* m_publisher = nullptr;
    HttpService_MG_Business* m_http = nullptr;
    Product_Manager* m_flow = nullptr;
    std::unique_ptr<HubFlow> m_hubFlow;
    QTimer m_runStateTimer;
    TM_ZRU_IODevice* m_transport = nullptr;  // owned by the IO frame
    int m_cameraCount = 0;
    QNetworkAccessManager* m_network = nullptr;
    QStringList m_restartRequests;
    // The sub-camera-broken handler's log pacing (IO transport thread only).
    static constexpr qint64 kBrokenLogGapMs = 10000;
    qint64 m_brokenLoggedMs = -1;
    qint64 m_brokenTicks = 0;
    bool m_started = false;
};
