#include "support/programfixture.h"
#include "support/hubwithoutpipeline.h"

#include "foundation/zrc_workinformation_manager.h"
#include "group/groupworktopics.h"
#include "platform/system/commandrunner.h"
#include "support/sqlite3tool.h"
#include "inspection/cameraimage.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QJsonDocument>

#include <future>

namespace testsupport {

namespace {

QJsonArray regionsOnEveryStep()
{
    QJsonArray rois;
    for (int step = 0; step < ProgramFixture::kSteps; ++step) {
        rois.append(detectortest::rectRegion(step, 0, hubtest::kSpotRect, "spot", {0, 50, 0, 5}));
        rois.append(detectortest::rectRegion(step, 1, hubtest::kFlawRect, "flaw", {45, 50, 3}));
    }
    return rois;
}

}  // namespace

ProgramFixture::ProgramFixture(ProgramOptions options)
{
    platform::CommandRunner::instance().setMode(platform::CommandRunner::Mode::Simulated);
    platform::CommandRunner::instance().setQueriesFromFixturesOnly(true);
    platform::CommandRunner::instance().clearRecorded();

    // The camera group: this camera first, one sub.
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    ZRC_DeviceInfos group;
    group.machine_id = QStringLiteral("MACHINE-7");
    group.cameras << DeviceNetInfo(work->get_deviceid(), QStringLiteral("127.0.0.1"), 1)
                  << DeviceNetInfo(subId(), QStringLiteral("127.0.0.2"), 0);
    work->set_device_info(group);
    work->update_working_info([](ZRC_WorkInfos& w) {
        w.started = true;
        w.warn_tip = ZRC_WarnTip_None;
        w.input_bits = 0;
        w.link_flags = 3;  // the IO module and the camera links are up
        w.registered_apps.clear();
        w.taken_app_ip.clear();
        w.user_id.clear();
    });

    m_savedMutex = pMutex;
    pMutex = &frameMutex;
    part = detectortest::partImage(1920, 1080);
    writeParamDb();
    for (int step = 0; step < kSteps; ++step)
        camerafixtures::CameraRig::writeMaster(step, part);

    HubManager::setInstance(this);
    FlowRebuild::setInstance(this);
    hub = testsupport::makeHubWithoutPipeline(isp);
    writeGroups();

    // The product model of the options, stored as the operator would.
    QJsonObject params;
    hub->params()->GetParams(params);
    params.insert("i_program_logic", options.programLogic);
    params.insert("i_program_turntable_type", options.turntableType);
    hub->params()->SetParamfromJson(params);
    hub->params()->SaveDatatoDB();

    product.answer = TestProductInterface::makeAnswer(1, {work->get_deviceid(), subId()});
    flow = std::make_unique<Product_Manager>();
    flow->setProductInterface(&product);
    flow->setFrameIO(&io);
    flow->setHostServices(this);
    flow->create_Frameworks(options.programLogic, true);

    statistics = std::make_unique<stage_productstatistics>();
    statistics->init(flow->get_UAbs_Count(), 2, QStringLiteral("default"));

    reactor = std::make_unique<RpcDistributed_Reactor>(nullptr, &link, &groupServices);
    RpcDistributed_Reactor::_instance = reactor.get();
    registerGroupWorkTopics(reactor.get());
    SRPC_WS_Interface view;
    view.own_id = work->get_deviceid();
    view.main_id = view.own_id;
    view.main_address = QStringLiteral("127.0.0.1");
    view.subs << DeviceNetInfo(subId(), QStringLiteral("127.0.0.2"), 0);
    view.is_main = true;
    reactor->connection_establishment(view);

    service = std::make_unique<RecordingService>(
        HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, true, QStringLiteral("/userdata/tmp/")});
    service->setProgram(flow.get(), statistics.get());
    if (options.withPublisher) {
        publisher = std::make_unique<TM_ZRP_Publish>();
        HttpServiceManagerLinks links;
        links.publisher = publisher.get();
        service->setManagerLinks(links);
    }
    QObject::connect(service.get(), &HttpService_MG_Business::sig_OnWork, flow.get(), &Product_Manager::slot_OnWork,
                     Qt::QueuedConnection);
    QObject::connect(service.get(), &HttpService_MG_Business::sig_OnWork, service.get(),
                     [this](FlowUnit_Passport p) {
                         QMutexLocker lock(&m_passportMutex);
                         m_passports << p;
                     }, Qt::DirectConnection);
    service->start();
    HttpReactor_MG& r = *service->reactor();
    hubtest::waitFor([&] { return r.serverPort() != 0 && r.isRunning_mg(); });
    platform::CommandRunner::instance().clearRecorded();  // what start-up ran
}

ProgramFixture::~ProgramFixture()
{
    service.reset();
    publisher.reset();
    if (RpcDistributed_Reactor::_instance == reactor.get())
        RpcDistributed_Reactor::_instance = nullptr;
    reactor.reset();
    statistics.reset();
    flow->clear_Frameworks();  // the manager leaves its groups to whoever built them
    flow.reset();
    hub.reset();
    if (FlowRebuild::instance() == this)
        FlowRebuild::setInstance(nullptr);
    if (HubManager::instance() == this)
        HubManager::setInstance(nullptr);
    gAiqControl = nullptr;
    isp.reset();
    gFPS.store(0);
    pMutex = m_savedMutex;
    gDNum = 4;
    platform::CommandRunner::instance().clearRecorded();
}

void ProgramFixture::writeParamDb()
{
    QFile::copy(wd.file("paraGroup/default/PARAM.db"), wd.file("PARAM.db"));
    const QJsonObject row{{"index", 0}, {"rois", regionsOnEveryStep()},
                          {"camerainterface", camerafixtures::CameraRig::defaultCameraParams()}};
    sqlite3(wd.file("PARAM.db"),
            "CREATE TABLE IF NOT EXISTS cameraparam (name TEXT PRIMARY KEY NOT NULL, value TEXT);"
            "INSERT OR REPLACE INTO cameraparam VALUES ('camera0', '"
                + QString::fromUtf8(QJsonDocument(row).toJson(QJsonDocument::Compact))
                + "');"
                  "DELETE FROM sysparam WHERE name='project_name';"
                  "INSERT INTO sysparam (name, value) VALUES ('project_name', 'mouldA');");
}

void ProgramFixture::writeGroups()
{
    // Each group holds a copy of the working entries, as a backup leaves it.
    for (const QString& name : groupNames()) {
        const QString dir = wd.file("paraGroup/" + name);
        QDir().mkpath(dir);
        QFile::copy(wd.file("PARAM.db"), dir + "/PARAM.db");
        sqlite3(dir + "/PARAM.db",
                "DELETE FROM sysparam WHERE name='project_name';"
                "INSERT INTO sysparam (name, value) VALUES ('project_name', '"
                    + name + "');");
        const QString master = CameraImage::templatePath(0, QStringLiteral("template00.bmp"));
        QDir().mkpath(QFileInfo(dir + "/" + master).absolutePath());
        QFile::copy(master, dir + "/" + master);
    }
}

quint16 ProgramFixture::port() const
{
    return service->reactor()->serverPort();
}

HttpAnswer ProgramFixture::request(const QString& route, const QByteArray& body,
                                   const QMap<QByteArray, QByteArray>& headers, const QByteArray& contentType)
{
    QByteArray req = "POST " + route.toUtf8() + " HTTP/1.1\r\nHost: camera\r\n";
    if (!contentType.isEmpty())
        req += "Content-Type: " + contentType + "\r\n";
    for (auto it = headers.begin(); it != headers.end(); ++it)
        req += it.key() + ": " + it.value() + "\r\n";
    req += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    const quint16 p = port();
    auto reply = std::async(std::launch::async, [p, req] { return rawHttpExchange(p, req, 30000); });
    hubtest::waitFor([&] { return reply.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    while (reply.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    HttpAnswer out;
    out.raw = RawHttpReply::parse(reply.get());
    const QJsonDocument doc = QJsonDocument::fromJson(out.raw.body);
    if (doc.isObject() && doc.object().contains("code")) {
        out.isJson = true;
        out.code = doc.object().value("code").toInt(-100);
        out.msg = doc.object().value("msg").toString();
        out.result = doc.object().value("result").toObject();
    }
    return out;
}

HttpAnswer ProgramFixture::request(const QString& route, const QJsonObject& body,
                                   const QMap<QByteArray, QByteArray>& headers)
{
    return request(route, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

void ProgramFixture::settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QStringList ProgramFixture::records() const
{
    const QString out = sqlite3(wd.file("RECORD.db"),
                                "select remarks || '|' || recordtype || '|' || ifnull(recordpassword, '') "
                                "from RECORD order by rowid;");
    return out.split('\n', Qt::SkipEmptyParts);
}

QByteArray ProgramFixture::filesDigest() const
{
    // Name, size and modification time of each file: a write changes one of
    // them. Logs, settings and the statistics (written by their own timers)
    // are left out.
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& top : {wd.path(), platform::DataRoot::root()}) {
        QStringList files;
        QDirIterator it(top, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
        files.sort();
        for (const QString& f : files) {
            const QString lower = f.toLower();
            if (lower.endsWith("-journal") || lower.endsWith("-wal") || lower.endsWith("-shm") || lower.endsWith(".ini")
                || lower.contains("/log") || lower.contains("statistic"))
                continue;
            const QFileInfo info(f);
            hash.addData(f.toUtf8());
            hash.addData(QByteArray::number(info.size()) + ":"
                         + QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
        }
    }
    return hash.result().toHex();
}

QVariantMap ProgramFixture::stat_getCur(int camera)
{
    return camera < 0 ? statistics->params2Map() : statistics->params2Map(camera);
}

void ProgramFixture::setStartOrStop(bool start)
{
    flowStartStops << (start ? QStringLiteral("start") : QStringLiteral("stop"));
    flow->setStartOrStop(start);
}

void ProgramFixture::rebuildFlow(int productModel)
{
    flow->create_Frameworks(productModel, true);
}

QJsonObject ProgramFixture::processParams() const
{
    QJsonObject out;
    hub->params()->GetParams(out);
    return out;
}

}  // namespace testsupport
