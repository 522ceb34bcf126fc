// Helper of the durability test: stores parameter sets and writes records,
// with a forced daily move every few entries, until it is killed. Prints
// "READY" once set up and "R <n>" after entry n is written.
//
// Usage: hub_durability_helper <working dir>
#include "foundation/workstashmanager.h"
#include "hub/recordbook.h"
#include "hub/wizardpara.h"
#include "inspection/camerastoreservices.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    QDir::setCurrent(QString::fromLocal8Bit(argv[1]));
    WorkStashManager_Config config;
    config.workspace_dir = QDir::current().filePath("workspace/");
    config.temp_dir = QDir::current().filePath("tmp/");
    WorkStashManager* stash = WorkStashManager::getInstance(config);

    QSqlDatabase param = QSqlDatabase::addDatabase("QSQLITE", QLatin1String(kParamDbConnection));
    param.setDatabaseName("PARAM.db");
    if (!param.open())
        return 3;
    RecordBook book("RECORD.db", "RECORDNULL.db", QDir::current().filePath("history"));
    book.openAtStart();
    WizardPara para;
    para.LoadDatafromDB();

    // The first entry number of this run follows the ones already reported.
    QSqlQuery q(param);
    int n = 0;
    if (q.exec("select value from sysparam where name='helper_next'") && q.next())
        n = q.value(0).toInt();
    n += 100000;  // numbers of a killed run are never reused
    para.Replace_KeyValue("sysparam", "helper_next", QString::number(n));
    std::printf("READY\n");
    std::fflush(stdout);

    for (;; ++n) {
        const bool a = n % 2 == 0;
        para.SetParamfromJson(QJsonObject{{"s_filtersize", a ? 5 : 9}, {"s_alarmareas", a ? 500 : 900}});
        para.SaveDatatoDB();
        if (n % 7 == 0) {
            const int daysBack = 1 + (n / 7) % 3;
            stash->setValue("VCamera_Work/CurRecordFile_Time",
                            QDateTime::currentDateTime().addDays(-daysBack).toSecsSinceEpoch());
        }
        if (book.insert(QStringLiteral("entry %1").arg(n), "system")) {
            std::printf("R %d\n", n);
            std::fflush(stdout);
        }
    }
}
