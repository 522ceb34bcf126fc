// The record and history routes of the HTTP control API: the days with an
// operator record, one page of a day's record, and the production history
// of the last day and week. All run on a worker.
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/operaterecordquery.h"

#include "foundation/logmanager.h"
#include "foundation/publictools.h"
#include "foundation/zrc_workinformation_manager.h"
#include "foundation/foundationglobals.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"
#include "statistics/productstatisticsdatabase.h"

#include <QFile>
#include <QJsonDocument>

void HttpService_MG_Business::DideContext__getoperaterecord_list(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getoperaterecord_list", req, [&](const UrlGuard& guard) {
        CTask_FormData_Mongoose reply = callback_inherit(req);
        reply.data.json.insert(
            QStringLiteral("record_list"),
            func_list_2_jsonarray(OperateRecordQuery::recordDays(gettimeofday2str("yyyy-MM-dd"))));
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__getoperaterecord(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__getoperaterecord", req, [&](const UrlGuard& guard) {
        const QJsonObject& body = req.data.json;
        CTask_FormData_Mongoose reply = callback_inherit(req);
        const QString file = OperateRecordQuery::recordFile(body.value(QStringLiteral("date")).toString(),
                                                            gettimeofday2str("yyyy-MM-dd"));
        if (file.isEmpty() || !QFile::exists(file)) {
            answer(guard, reply);  // no record that day: the empty envelope
            return;
        }
        const qint64 start = OperateRecordQuery::pageBound(body.value(QStringLiteral("start")));
        const qint64 finish = OperateRecordQuery::pageBound(body.value(QStringLiteral("finish")));
        reply.data.json.insert(QStringLiteral("records"),
                               OperateRecordQuery::readPage(file, start, finish,
                                                            body.value(QStringLiteral("type")).toString()));
        answer(guard, reply);
    });
}

void HttpService_MG_Business::DideContext__gethistory_record(const CTask_FormData_Mongoose& req)
{
    runOnWorker("DideContext__gethistory_record", req, [&](const UrlGuard& guard) {
        ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
        QJsonObject result;
        result.insert(QStringLiteral("last_operate"), work->get_last_operate());
        result.insert(QStringLiteral("cur_time"), gettimeofday_ms() / 1000);
        result.insert(QStringLiteral("cameracount"), work->getAllCameras().size());
        const int curNg = ProductstatisticsDatabase::loadParam(QStringLiteral("statisticsparam"),
                                                               QStringLiteral("detect_ng")).toInt();
        const int curOk = ProductstatisticsDatabase::loadParam(QStringLiteral("statisticsparam"),
                                                               QStringLiteral("detect_ok")).toInt();
        result.insert(QStringLiteral("cur_ng"), curNg);
        result.insert(QStringLiteral("cur_all"), curNg + curOk);

        const QDateTime now = gettimeofday_date();
        const QString project = gpWin && gpWin->params()
                                    ? gpWin->params()->GetTableValue(QStringLiteral("sysparam"),
                                                                     QStringLiteral("project_name"))
                                    : QString();
        const auto copy = [&result](const QJsonObject& from, const char* key, const char* as) {
            result.insert(QLatin1String(as), from.value(QLatin1String(key)));
        };
        QJsonObject day;
        ProductstatisticsDatabase::loadHourCount(now.addDays(-1).addSecs(3600), now, day, project);
        copy(day, "detect_all", "day_all");
        copy(day, "detect_ng", "day_ng");
        copy(day, "runtime", "day_runtime");
        copy(day, "notwork_time", "day_stoptime");
        const QDateTime weekFrom = now.addDays(-6).addSecs(3600);
        QJsonObject week;
        ProductstatisticsDatabase::loadDayCount(weekFrom, now, week, project);
        copy(week, "detect_all", "week_all");
        copy(week, "detect_ng", "week_ng");
        copy(week, "runtime", "runtime");
        copy(week, "notwork_time", "stoptime");
        QJsonObject total;
        ProductstatisticsDatabase::loadCount(weekFrom, now, total, project);
        result.insert(QStringLiteral("mon_all"), total.value(QStringLiteral("detect_all")).toArray().at(0).toInt());
        result.insert(QStringLiteral("mon_ng"), total.value(QStringLiteral("detect_ng")).toArray().at(0).toInt());

        CTask_FormData_Mongoose reply = callback_inherit(req);
        reply.data.json = result;
        answer(guard, reply);

        QFile out(QStringLiteral("./test_history.json"));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(QJsonDocument(result).toJson(QJsonDocument::Indented));
    });
}
