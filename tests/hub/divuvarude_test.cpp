// The hub: what its construction leaves on disk and publishes, the alarm
// counter, how a broken PARAM.db is handled, and the calls that other
// threads make (records, closing the databases).
#include "hub/divuvarude.h"
#include "hub/hubrig.h"
#include "hub/hubtestbench.h"
#include "hub/saveimage.h"
#include "foundation/foundationglobals.h"
#include "foundation/qstring_tl.h"
#include "foundation/uitexttable.h"
#include "foundation/workstashmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "inspection/alarmimagesink.h"
#include "inspection/camerastoreservices.h"
#include "io/vcam_io.h"
#include "platform/system/dataroot.h"
#include "support/logcapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QThread>

#include <thread>

using hubtest::WorkDir;
using hubtest::sqlite3;

namespace {

using HubBench = hubtest::HubEnvironment;

void processEventsFor(int ms, const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

TEST(HubTest, AFirstStartLeavesTheDatabasesAndFoldersAndPublishesItsServices)
{
    HubBench bench;
    gDNum = 2;
    DiVuVarude hub;
    EXPECT_EQ(gpWin, &hub);
    EXPECT_EQ(gpWPara, hub.params());
    EXPECT_EQ(HubServices::instance(), &hub);
    EXPECT_EQ(AlarmImageSink::instance(), hub.imageWriter());
    EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->recordWriter(), &hub);
    EXPECT_EQ(gDNum, 4);
    EXPECT_EQ(gImageLen, 1920 * 1080);
    ASSERT_NE(hub.camera(), nullptr);
    EXPECT_EQ(hub.greyColourTable().size(), 256);
    EXPECT_EQ(hub.greyColourTable().at(7), qRgba(7, 7, 7, 255));

    const QString param = bench.wd.file("PARAM.db");
    const QJsonObject stored =
        QJsonDocument::fromJson(sqlite3(param, "select value from sysparam where name='paramsjson';").toUtf8()).object();
    EXPECT_EQ(stored.value("s_filtersize").toInt(), 3);
    EXPECT_EQ(sqlite3(param, "select count(*) from sysparam where name in ('system7','system8','system9','system10');"),
              "4");
    EXPECT_EQ(sqlite3(bench.wd.file("RECORD.db"), "select name from sqlite_master where type='table';"), "RECORD");
    for (int k = 1; k <= 4; ++k) {
        EXPECT_TRUE(QFileInfo(bench.root(QStringLiteral("/userdata/alarmimage/detect%1/NG").arg(k))).isDir());
        EXPECT_TRUE(QFileInfo(bench.root(QStringLiteral("/userdata/alarmimage/detect%1/OK").arg(k))).isDir());
        EXPECT_TRUE(QFileInfo(bench.wd.file(QStringLiteral("cammer1%1").arg(k))).isDir());
    }
    EXPECT_EQ(hub.alarmDirectory(1, true).absolutePath(), bench.root("/userdata/alarmimage/detect2/OK"));
    EXPECT_TRUE(QFileInfo(bench.root("/userdata/record_history")).isDir());
    EXPECT_EQ(hub.imageWriter()->counter(), 101);
}

TEST(HubTest, TheAlarmCounterFollowsTheLargestNumberOnDisk)
{
    struct Case { QStringList files; int counter; };
    const Case cases[] = {
        {{"detect1/NG/000000105_2024-01-01_10.00.00.jpg", "detect3/OK/000000031_2024-01-01_10.00.00.jpg"}, 106},
        {{}, 101},
        {{"detect2/NG/abc_x.jpg", "detect2/NG/000000050_x.jpg"}, 101},
    };
    for (const Case& c : cases) {
        HubBench bench;
        for (const QString& f : c.files)
            bench.wd.dir().write("root/userdata/alarmimage/" + f, "x");
        DiVuVarude hub;
        EXPECT_EQ(hub.imageWriter()->counter(), c.counter) << c.files.join(',').toStdString();
    }
}

TEST(HubTest, AnUnreadableParamDbIsMovedAsideBeforeTheFactoryCopyReplacesIt)
{
    HubBench bench;
    bench.wd.dir().write("PARAM.db", QByteArray(2048, 'z'));
    testsupport::LogCapture log;
    DiVuVarude hub;
    EXPECT_TRUE(log.anyContains("PARAM.db cannot be opened: moved aside"));
    const QStringList aside = QDir(bench.wd.path()).entryList({"PARAM.db.broken-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(QFileInfo(bench.wd.file(aside[0])).size(), 2048);
    EXPECT_EQ(sqlite3(bench.wd.file("PARAM.db"), "pragma integrity_check;"), "ok");
    EXPECT_EQ(hub.params()->s_filtersize, 3);
}

TEST(HubTest, RecordsFromOtherThreadsAreWrittenLaterOnTheHubThread)
{
    HubBench bench;
    DiVuVarude hub;
    testsupport::LogCapture log;
    std::thread worker([&] { hub.InsertRecord("from a worker", "system"); });
    worker.join();
    const QString db = bench.wd.file("RECORD.db");
    EXPECT_EQ(sqlite3(db, "select count(*) from RECORD;"), "0") << "not written on the worker";
    processEventsFor(3000, [&] { return sqlite3(db, "select count(*) from RECORD;") == "1"; });
    EXPECT_EQ(sqlite3(db, "select remarks || '|' || recordtype from RECORD;"), "from a worker|system");
    EXPECT_EQ(ZRC_WorkInformation_Manager::getInstance()->get_last_operate(), "from a worker");
    EXPECT_FALSE(log.anyContains("does not belong to the calling thread")) << "the connection stays on its thread";
}

TEST(HubTest, ARecordCarriesTheActingUserOfTheThreadThatAskedForIt)
{
    HubBench bench;
    DiVuVarude hub;
    // The last request's user in the work block belongs to nobody's entry.
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([](ZRC_WorkInfos& w) { w.user_id = "last"; });
    std::thread alice([&] {
        OperationRecord_Interface::ActingUserScope scope("alice");
        hub.InsertRecord("by alice", "operate");
    });
    std::thread bob([&] {
        OperationRecord_Interface::ActingUserScope scope("bob");
        hub.InsertRecord("by bob", "operate");
    });
    alice.join();
    bob.join();
    {
        OperationRecord_Interface::ActingUserScope scope("carol");
        hub.InsertRecord("by carol", "operate");
    }
    hub.InsertRecord("by the system", "system");
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([](ZRC_WorkInfos& w) { w.user_id.clear(); });

    const QString db = bench.wd.file("RECORD.db");
    processEventsFor(3000, [&] { return sqlite3(db, "select count(*) from RECORD;") == "4"; });
    EXPECT_EQ(sqlite3(db, "select remarks || '|' || recordpassword from RECORD order by remarks;"),
              "by alice|alice\nby bob|bob\nby carol|carol\nby the system|未登录");
}

TEST(HubTest, AnUnreadableRecordIsMovedAsideAndTheHubIsStillBuiltWhole)
{
    HubBench bench;
    QDir().mkpath(bench.wd.file("RECORD.db"));  // a folder where the file should be
    testsupport::LogCapture log;
    DiVuVarude hub;
    EXPECT_NE(hub.camera(), nullptr);
    EXPECT_NE(hub.imageWriter(), nullptr);
    EXPECT_EQ(HubServices::instance(), &hub);
    EXPECT_EQ(hub.params()->s_filtersize, 3);
    EXPECT_TRUE(log.anyContains("moved aside"));
    hub.InsertRecord("kept", "system");
    EXPECT_EQ(sqlite3(bench.wd.file("RECORD.db"), "select remarks from RECORD;"), "kept");
}

TEST(HubTest, FlushFromAWorkerClosesLaterAndTheNextEntryReopens)
{
    HubBench bench;
    DiVuVarude hub;
    hub.InsertRecord("first", "operate");
    std::thread worker([&] { hub.FLushAll(); });
    worker.join();
    EXPECT_TRUE(paramDatabase().isOpen()) << "closed on the hub thread, not the worker";
    processEventsFor(3000, [&] { return !paramDatabase().isOpen(); });
    EXPECT_FALSE(paramDatabase().isOpen());
    hub.InsertRecord("second", "operate");
    EXPECT_TRUE(hub.params()->SaveDatatoDB()) << "PARAM.db reopens too";
    EXPECT_EQ(sqlite3(bench.wd.file("RECORD.db"), "select remarks from RECORD order by rowid;"), "first\nsecond");
}

TEST(HubTest, AParameterChangeIsRecordedInTheRecordAndHandedToTheCamera)
{
    HubBench bench;
    DiVuVarude hub;
    gLan.store(0);
    QJsonObject in;
    hub.params()->GetParams(in);
    in.insert("s_product_delaytime", 1.5);
    hub.params()->SetParams(in);
    ASSERT_TRUE(hub.params()->SaveDatatoDB());
    EXPECT_EQ(sqlite3(bench.wd.file("RECORD.db"), "select remarks || '|' || recordtype from RECORD;"),
              "修改了系统参数，成品延时从0.0改为1.5|operate");
    EXPECT_EQ(hub.params()->s_product_delaytime, 15);
    QJsonObject engine;
    hub.GetParams(engine);
    EXPECT_DOUBLE_EQ(engine.value("s_product_delaytime").toDouble(), 1.5);
}
