// The project export and firmware update routes of the HTTP control API.
// Both run on a worker.
#include "httpapi/firmwareinstall.h"
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/projectexport.h"

#include "foundation/foundationglobals.h"
#include "foundation/logmanager.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"
#include "platform/system/commandrunner.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QtConcurrent>

#include <memory>

namespace {
// Longer than any work event may hold the main thread: a hung main thread
// must not keep the camera from restarting onto the new package.
const int kHandOverWaitMs = 30000;
}  // namespace

void HttpService_MG_Business::DideContext__getproject_storage(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getproject_storage", req, [&](const UrlGuard& guard) {
        // Started before the answer: the URL stays taken until then, so two
        // requests never start two exports.
        const bool running = m_exportTask.isRunning();
        if (!running) {
            const QStringList paths = ProjectExport::pathsFor(req.data.json.value(QStringLiteral("storage_type")));
            if (paths.isEmpty()) {
                qCInfo(level_1) << "[EXPORT] no known kind in \"storage_type\"; nothing exported";
            } else {
                const QString peer = req.peer_ip;
                const QString userAgent = req.data.user_agent;
                const quint16 port = m_exportPushPort;
                m_exportTask = QtConcurrent::run([paths, peer, port, userAgent] {
                    ProjectExport::run(paths, peer, port, userAgent);
                });
            }
        }
        CTask_FormData_Mongoose reply = callback_inherit(req);
        reply.data.json.insert(QStringLiteral("iswork"), !running);
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__update_system(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__update_system", req, [&](const UrlGuard& guard) {
        const QString check = req.data.query.value(QStringLiteral("check")).toString();
        const FirmwareInstall::Result result = FirmwareInstall::install(req.data.file_path, check);
        if (result != FirmwareInstall::Result::Installed) {
            guard->release();
            m_reactor->finishWorkAction_ParamError(req, 400, FirmwareInstall::refusalText(result));
            return;
        }
        CTask_FormData_Mongoose reply = callback_inherit(req);
        if (check.isEmpty())
            reply.data.json.insert(QStringLiteral("message"), QStringLiteral("APP未提供校验，程序有概率出现损坏"));
        m_reactor->finishWorkAction(reply);  // the URL stays taken until the restart
        runFirmwareRestart(req.data.user_id);
    });
}

void HttpService_MG_Business::runFirmwareRestart(const QString& user)
{
    // One hand-over to the hub's thread: parameters, the record and the
    // databases are on disk before the reboot is asked for.
    DiVuVarude* hub = gpWin;
    if (hub) {
        auto done = std::make_shared<QSemaphore>();
        QMetaObject::invokeMethod(hub, [hub, done, user] {
            OperationRecord_Interface::ActingUserScope actingUser(user);
            if (hub->params())
                hub->params()->SaveDatatoDB();
            hub->InsertRecord(QCoreApplication::translate("HttpService_MG_Business", "手动关闭电源"),
                              QStringLiteral("operate"));
            hub->FLushAll();
            done->release();
        });
        if (!done->tryAcquire(1, kHandOverWaitMs))
            qCWarning(level_1) << "[UPDATE] the hub did not store its data within" << kHandOverWaitMs
                               << "ms; restarting anyway";
    } else {
        qCWarning(level_1) << "[UPDATE] no hub to store parameters and record before the restart";
    }
    platform::CommandRunner& runner = platform::CommandRunner::instance();
    runner.run(QStringLiteral("sync"), {}, platform::CommandRunner::Effect::Change, 60000);
    runner.run(QStringLiteral("reboot"), {}, platform::CommandRunner::Effect::Change);
}
