#pragma once
// The camera program's own objects on a scratch working directory and data
// root, for tests that drive them through the HTTP control API:
// - the factory files, PARAM.db with a spot and a flaw region on each of the
//   four detection steps and the camera parameters, a master template per
//   step, "./paraGroup/" with "default" and the groups "mouldA" and "mouldB",
//   RECORD.db (made by the hub);
// - the IO frame, the hub `DiVuVarude` with its parameters and camera, the
//   flow manager built from the product model, the production statistics,
//   the work-event reactor on the in-process camera-pair link;
// - the HTTP service on 127.0.0.1, port 0, its action signal queued to the
//   flow manager.
// The product interface records every work event the flow asks for (and
// answers OK), so a test sees the passports an action produced. The command
// runner only records, and answers queries from fixtures.
//
// Threads: build, use and destroy it on the test's main thread; request()
// runs this thread's events while the reply is awaited.
#include "flow/product_manager.h"
#include "hub/hubmanager.h"
#include "hub/hubrig.h"
#include "hub/hubhooks.h"
#include "httpapi/httpservice_mg_business.h"
#include "statistics/stage_productstatistics.h"
#include "support/inprocesslink.h"
#include "support/fakegroupservices.h"
#include "support/rawhttpclient.h"
#include "support/testproductinterface.h"

#include "flow/flowhostservices.h"
#include "group/rpcdistributed_reactor.h"
#include "net/tm_zrp_publish.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QStringList>

#include <memory>

namespace testsupport {

struct ProgramOptions {
    int programLogic = 0;   // i_program_logic: 0 standard, 2 turntable
    int turntableType = 0;  // i_program_turntable_type
    // The service gets a result publisher (created, never started): the
    // subscriber table and the two stashes the integration routes answer.
    bool withPublisher = false;
};

// An answer over the wire, with its envelope read when it is JSON.
struct HttpAnswer {
    RawHttpReply raw;
    bool isJson = false;
    int code = -100;
    QString msg;
    QJsonObject result;
};

// The HTTP service, noting where each handler stage ran.
class RecordingService : public HttpService_MG_Business {
public:
    using HttpService_MG_Business::HttpService_MG_Business;
    using HttpService_MG_Business::HandlerStage;
    struct Stage {
        QString url;
        HandlerStage stage;
        QThread* thread;
    };
    QList<Stage> stages() const
    {
        QMutexLocker lock(&m_mutex);
        return m_stages;
    }
    void clearStages()
    {
        QMutexLocker lock(&m_mutex);
        m_stages.clear();
    }

protected:
    void stageEntered(const CTask_FormData_Mongoose& req, HandlerStage stage) override
    {
        QMutexLocker lock(&m_mutex);
        m_stages.append({req.data.url, stage, QThread::currentThread()});
    }

private:
    mutable QMutex m_mutex;
    QList<Stage> m_stages;
};

class ProgramFixture : public hubtest::HubEnvironment,
                       public HubManager,
                       public HubFlow,
                       public FlowRebuild,
                       public FlowHostServices {
public:
    static constexpr int kSteps = 4;
    static QStringList groupNames() { return {QStringLiteral("mouldA"), QStringLiteral("mouldB")}; }
    // The camera group: this camera ("CAM-MAIN") first, one sub.
    static QString mainId() { return QStringLiteral("CAM-MAIN"); }
    static QString subId() { return QStringLiteral("CAM-SUB1"); }

    explicit ProgramFixture(ProgramOptions options = {});
    ~ProgramFixture() override;

    quint16 port() const;
    // Sends one request (body as given; Content-Type application/json unless
    // `contentType` says otherwise) and returns the answer; this thread's
    // events run meanwhile.
    HttpAnswer request(const QString& route, const QByteArray& body = "{}",
                       const QMap<QByteArray, QByteArray>& headers = {},
                       const QByteArray& contentType = "application/json");
    HttpAnswer request(const QString& route, const QJsonObject& body,
                       const QMap<QByteArray, QByteArray>& headers = {});
    // Runs this thread's events for a while, so queued work lands.
    void settle(int ms = 200);

    // RECORD.db as "text|type|user" lines, oldest first.
    QStringList records() const;
    // A digest of every file under the working directory and the data root
    // (name, size, content), for "nothing changed" checks.
    QByteArray filesDigest() const;
    // Passports that left the HTTP service, in order.
    QList<FlowUnit_Passport> passports() const
    {
        QMutexLocker lock(&m_passportMutex);
        return m_passports;
    }

    // HubManager
    void post2app_main_snapshot(const cv::Mat&) override {}
    void async_back2longtcp_defaultparam(const QString& arg) override { defaultParamPushes << arg; }
    QVariantMap stat_getCur(int camera) override;
    HubFlow* flowManager() override { return this; }
    Product_Interface* productInterface() override { return &product; }
    // HubFlow
    void setStartOrStop(bool start) override;
    FlowGroup_State get_RunDescribe() override { return flow->get_RunDescribe(); }
    // FlowRebuild
    void rebuildFlow(int productModel) override;
    // FlowHostServices
    void stat_ResetDetect(int) override {}
    void reload_CameraImages() override {}
    QJsonObject processParams() const override;
    void setDetectStepCount(int) override {}

    QMutex frameMutex;
    cv::Mat part;
    std::unique_ptr<AiqControl> isp;
    std::unique_ptr<DiVuVarude> hub;
    TestProductInterface product;
    std::unique_ptr<Product_Manager> flow;
    std::unique_ptr<stage_productstatistics> statistics;
    InProcessLink link;
    FakeGroupServices groupServices;
    std::unique_ptr<RpcDistributed_Reactor> reactor;
    std::unique_ptr<TM_ZRP_Publish> publisher;  // with ProgramOptions::withPublisher
    std::unique_ptr<RecordingService> service;

    QStringList flowStartStops;     // "start" / "stop", in order
    QStringList defaultParamPushes;  // the tags of the camera-parameter pushes

private:
    void writeParamDb();
    void writeGroups();
    QMutex* m_savedMutex = nullptr;
    mutable QMutex m_passportMutex;
    QList<FlowUnit_Passport> m_passports;  // appended on the emitting thread
};

}  // namespace testsupport
