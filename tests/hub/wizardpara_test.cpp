// The process parameters: their JSON form, how they are taken, stored in and
// loaded from PARAM.db (checked with the sqlite3 tool), the range check and
// the project-group list.
#include "hub/hubtestbench.h"
#include "hub/hubhooks.h"
#include "io/vcam_io.h"
#include "support/logcapture.h"

#include "foundation/qstring_tl.h"
#include "foundation/uitexttable.h"

#include <QJsonArray>
#include <QJsonDocument>

using hubtest::FakeParaHost;
using hubtest::ParamConnection;
using hubtest::WorkDir;
using hubtest::sqlite3;

namespace {

QJsonObject storedObject(const WorkDir& wd)
{
    const QString text = sqlite3(wd.file("PARAM.db"), "select value from sysparam where name='paramsjson';");
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

class FlowRebuildSpy : public FlowRebuild {
public:
    FlowRebuildSpy() { FlowRebuild::setInstance(this); }
    ~FlowRebuildSpy() override { FlowRebuild::setInstance(nullptr); }
    void rebuildFlow(int model) override { models.append(model); }
    QVector<int> models;
};

}  // namespace

TEST(WizardParaTest, StoredTextIsIndentedSortedJsonWithTheDerivedKeys)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    VCam_IO io;
    WizardPara para(nullptr, &io);
    para.SetParamfromJson(QJsonObject{{"s_product_delaytime", 1.0}, {"i_isNG0Pulse_Muti", 2}, {"i_isNG1Pulse_Muti", 0},
                                      {"i_isSafeDoorDealAlarm", true}});
    ASSERT_TRUE(para.SaveDatatoDB());

    const QString text = sqlite3(wd.file("PARAM.db"), "select value from sysparam where name='paramsjson';");
    EXPECT_TRUE(text.contains("\n    \"s_product_delaytime\": 1,\n")) << text.toStdString();
    const QJsonObject stored = QJsonDocument::fromJson(text.toUtf8()).object();
    EXPECT_EQ(stored.value("i_isNG0Pulse"), QJsonValue(true));
    EXPECT_EQ(stored.value("i_isNG1Pulse"), QJsonValue(false));
    EXPECT_TRUE(stored.value("h_project_paramgroups").isArray());
    EXPECT_FALSE(stored.contains("i_isSafeDoorDealAlarm"));
    // Keys come out in ascending order.
    QStringList keys;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith("    \""))
            keys << line.section('"', 1, 1);
    }
    QStringList sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(keys, sorted);
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select count(*) from sysparam where name='paramsjson';"), "1");
}

TEST(WizardParaTest, DelaysAreTruncatedToTenths)
{
    struct Case { double seconds; int tenths; double readBack; };
    const Case cases[] = {{1.5, 15, 1.5}, {0.29, 2, 0.2}, {1.0, 10, 1.0}, {-0.25, -2, -0.2}, {1e12, 2147483647, 214748364.7}};
    for (const Case& c : cases) {
        WizardPara para;
        para.SetParamfromJson(QJsonObject{{"s_product_delaytime", c.seconds}, {"i_precut", c.seconds}});
        EXPECT_EQ(para.s_product_delaytime, c.tenths) << c.seconds;
        EXPECT_EQ(para.i_precut, c.tenths) << c.seconds;
        QJsonObject out;
        para.GetParams(out);
        EXPECT_DOUBLE_EQ(out.value("s_product_delaytime").toDouble(), c.readBack) << c.seconds;
    }
}

TEST(WizardParaTest, MissingKeysReadZeroUnlessTheyAreTakenOnlyWhenPresent)
{
    struct Case {
        const char* name;
        QJsonObject in;
        int ng0, ng1;
        bool semi, canny, noCheck, filterZero;
    };
    const Case cases[] = {
        {"empty object", {}, 0, 0, false, true, true, true},
        {"pulse boolean alone", {{"i_isNG0Pulse", true}}, 1, 0, false, true, true, true},
        {"both mode keys", {{"i_isNG0Pulse_Muti", 2}, {"i_isNG1Pulse_Muti", 1}, {"i_isNG0Pulse", false}}, 2, 1, false, true, true, true},
        {"one mode key only", {{"i_isNG0Pulse_Muti", 2}, {"i_isNG1Pulse", true}}, 0, 1, false, true, true, true},
        {"independent control forces semi-automatic",
         {{"i_i0i1_IndependentControl_o0o1", true}, {"s_semi_automatic", false}}, 0, 0, true, true, true, true},
        {"conditional keys given", {{"c_defect_canny_ingore", false}, {"i_input3NoCheck", false}, {"s_filtersize", 7}},
         0, 0, false, false, false, false},
    };
    for (const Case& c : cases) {
        WizardPara para;
        para.s_filtersize = 5;
        para.c_defect_canny_ingore = true;
        para.i_input3NoCheck = true;
        para.i_isNG0Pulse_Muti = 7;
        para.SetParamfromJson(c.in);
        EXPECT_EQ(para.i_isNG0Pulse_Muti, c.ng0) << c.name;
        EXPECT_EQ(para.i_isNG1Pulse_Muti, c.ng1) << c.name;
        EXPECT_EQ(para.s_semi_automatic, c.semi) << c.name;
        EXPECT_EQ(para.c_defect_canny_ingore, c.canny) << c.name;
        EXPECT_EQ(para.i_input3NoCheck, c.noCheck) << c.name;
        EXPECT_EQ(para.s_filtersize == 0, c.filterZero) << c.name;
    }
}

TEST(WizardParaTest, IoKeysGoToTheIoFrame)
{
    VCam_IO io;
    WizardPara para(nullptr, &io);
    para.SetParamfromJson(QJsonObject{{"i_output1_init_status", 1}, {"i_output3_init_status", 1},
                                      {"i_shakeerase_time", 0.35}, {"i_inputtimeout", 12.5},
                                      {"i_backup_output_sub", 2}, {"i_backup_input_sub", 3}});
    const FrameIO_Params p = io.getParams();
    EXPECT_EQ(p.output_init_status[0], 1);
    EXPECT_EQ(p.output_init_status[1], 0);
    EXPECT_EQ(p.output_init_status[2], 1);
    EXPECT_EQ(p.shakeerase_time, 3);
    EXPECT_DOUBLE_EQ(p.inputtimeout, 12.5);
    EXPECT_EQ(p.backup_output_sub, 2);
    EXPECT_EQ(p.backup_input_sub, 3);
    QJsonObject out;
    para.GetParams(out);
    EXPECT_DOUBLE_EQ(out.value("i_shakeerase_time").toDouble(), 0.3);
    QJsonObject defaults;
    para.GetIO_Output_Defalut(defaults);
    EXPECT_EQ(defaults, (QJsonObject{{"initstate_O1", true}, {"initstate_O2", false}, {"initstate_O3", true},
                                     {"initstate_O4", false}}));
}

TEST(WizardParaTest, ImageCountsOutsideTheirRangeAreTakenAsZeroWithAWarning)
{
    struct Case { int given; int taken; bool warned; };
    const Case cases[] = {{-5, 0, true}, {10001, 0, true}, {10000, 10000, false}, {0, 0, false}, {30, 30, false}};
    for (const Case& c : cases) {
        testsupport::LogCapture log;
        WizardPara para;
        para.SetParamfromJson(QJsonObject{{"h_ngres_count", c.given}, {"h_okres_count", c.given}});
        EXPECT_EQ(para.h_ngres_count, c.taken) << c.given;
        EXPECT_EQ(gPicNumNG.load(), c.taken) << c.given;
        EXPECT_EQ(gPicNumOK.load(), c.taken) << c.given;
        EXPECT_EQ(log.anyContains("h_ngres_count"), c.warned) << c.given;
    }
}

TEST(WizardParaTest, RangeCheckComparesUnsignedAndTurnsOnTheDefectDetection)
{
    WizardPara para;
    para.s_filtersize = -1;
    para.s_alarmareas = 100001;
    para.h_temp_count = 0;
    para.h_mostskewing = 0;
    para.i_precut = -3;
    para.h_minspot = 101;
    para.system2_16 = 20;
    para.system2_17 = -1;
    para.h_rotatecorrect = 180;
    gLan.store(5);
    para.CheckParamRange();
    EXPECT_EQ(para.s_filtersize, 3);
    EXPECT_EQ(para.s_alarmareas, 100);
    EXPECT_EQ(para.h_temp_count, 10);
    EXPECT_EQ(para.h_mostskewing, 8000);
    EXPECT_EQ(para.i_precut, 0);
    EXPECT_EQ(para.h_minspot, 3);
    EXPECT_EQ(para.system2_16, 600);
    EXPECT_EQ(para.system2_17, 12);
    EXPECT_EQ(para.h_rotatecorrect, 180);
    EXPECT_EQ(gLan.load(), 0);
    EXPECT_TRUE(para.c_start_flawdetect);

    WizardPara kept;
    kept.c_similarity = true;
    kept.CheckParamRange();
    EXPECT_FALSE(kept.c_start_flawdetect);
    EXPECT_EQ(kept.system2_16, 0);
}

TEST(WizardParaTest, SaveUpsertsTheRowAndStoresApostrophesUnchanged)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    QDir().mkpath("paraGroup/don't");
    pc.put("project_name", "it's");
    WizardPara para;
    ASSERT_TRUE(para.SaveDatatoDB());  // no paramsjson row yet: created
    EXPECT_EQ(storedObject(wd).value("h_project_paramgroups").toArray(), (QJsonArray{"it's", "don't"}));

    para.s_filtersize = 9;
    ASSERT_TRUE(para.SaveDatatoDB());
    EXPECT_EQ(storedObject(wd).value("s_filtersize").toInt(), 9);
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select count(*) from sysparam where name='paramsjson';"), "1");

    EXPECT_EQ(para.Replace_KeyValue("sysparam", "x'y", "a'b"), 0);
    EXPECT_EQ(para.GetTableValue("sysparam", "x'y"), "a'b");
    EXPECT_EQ(para.Replace_KeyValue("sysparam; drop table sysparam", "n", "v"), -1);
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select value from sysparam where name='x''y';"), "a'b");
}

TEST(WizardParaTest, SaveReportsFailureWhenTheDatabaseIsNotWritable)
{
    WorkDir wd;
    {
        ParamConnection pc(wd.file("PARAM.db"));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QLatin1String(kParamDbConnection));
        db.setDatabaseName(wd.file("PARAM.db"));
        db.setConnectOptions("QSQLITE_OPEN_READONLY");
        ASSERT_TRUE(db.open());
        testsupport::LogCapture log;
        WizardPara para;
        EXPECT_FALSE(para.SaveDatatoDB());
        EXPECT_TRUE(log.anyContains("could not be stored"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(kParamDbConnection));
}

TEST(WizardParaTest, AMissingTableIsCreatedAndLogged)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    pc.exec("drop table sysparam");
    testsupport::LogCapture log;
    WizardPara para;
    para.LoadDatafromDB();
    EXPECT_TRUE(log.anyContains("no sysparam table"));
    EXPECT_EQ(storedObject(wd).value("s_filtersize").toInt(), 3);
}

TEST(WizardParaTest, AnEmptyStoreRunsTheImportAndStoresTheRangeDefaults)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    testsupport::LogCapture log;
    WizardPara para;
    para.LoadDatafromDB();
    const QJsonObject stored = storedObject(wd);
    EXPECT_EQ(stored.value("s_filtersize").toInt(), 3);
    EXPECT_EQ(stored.value("s_alarmareas").toInt(), 100);
    EXPECT_EQ(stored.value("h_temp_count").toInt(), 10);
    EXPECT_EQ(stored.value("h_minspot").toInt(), 3);
    EXPECT_EQ(stored.value("h_mostskewing").toInt(), 8000);
    EXPECT_EQ(stored.value("c_start_flawdetect"), QJsonValue(true));
    EXPECT_EQ(stored.value("c_start_spotdetect"), QJsonValue(false));
    EXPECT_EQ(stored.value("s_product_delaytime").toDouble(), 0.0);
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"),
                      "select name || '=' || value from sysparam where name like 'system%' order by name;"),
              "system10=0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
              "system7=0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
              "system8=0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
              "system9=0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(log.count("paramsjson laod params fail"), 0);
    EXPECT_EQ(para.s_filtersize, 3);
}

TEST(WizardParaTest, AnUnreadableStoredSetIsKeptAsideAndTheRangeDefaultsApply)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    pc.put("paramsjson", "{\"s_filtersize\": 7,");
    testsupport::LogCapture log;
    WizardPara para;
    para.i_input3NoCheck = true;
    para.LoadDatafromDB();
    EXPECT_TRUE(log.anyContains("paramsjson in PARAM.db is not a JSON object"));
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select value from sysparam_broken where name='paramsjson';"),
              "{\"s_filtersize\": 7,");
    EXPECT_EQ(para.s_filtersize, 3);
    EXPECT_EQ(para.s_alarmareas, 100);
    EXPECT_EQ(para.h_mostskewing, 8000);
    EXPECT_TRUE(para.c_start_flawdetect);
    EXPECT_FALSE(para.i_input3NoCheck);
    // The store was not empty: no import ran.
    EXPECT_EQ(sqlite3(wd.file("PARAM.db"), "select count(*) from sysparam where name='system7';"), "0");
}

TEST(WizardParaTest, AStoredSetIsLoadedBack)
{
    WorkDir wd;
    ParamConnection pc(wd.file("PARAM.db"));
    VCam_IO io;
    {
        WizardPara para(nullptr, &io);
        para.SetParamfromJson(QJsonObject{{"s_moulding_delaytime", 2.5}, {"h_okres_count", 40}, {"c_similarity", true},
                                          {"i_isNG0Pulse_Muti", 2}, {"i_isNG1Pulse_Muti", 1}, {"i_inputtimeout", 30}});
        ASSERT_TRUE(para.SaveDatatoDB());
    }
    io.setIO_NoInputTip_LimitTime(5);
    WizardPara loaded(nullptr, &io);
    loaded.LoadDatafromDB();
    EXPECT_EQ(loaded.s_moulding_delaytime, 25);
    EXPECT_EQ(loaded.h_okres_count, 40);
    EXPECT_EQ(gPicNumOK.load(), 40);
    EXPECT_TRUE(loaded.c_similarity);
    EXPECT_EQ(loaded.i_isNG0Pulse_Muti, 2);
    EXPECT_EQ(loaded.i_isNG1Pulse_Muti, 1);
    EXPECT_DOUBLE_EQ(io.getParams().inputtimeout, 30.0);
}

TEST(WizardParaTest, SetParamsRecordsFirstThenTakesHandsOnAndRebuildsUnlessCustom)
{
    struct Case { int custom; bool withMould; bool product; bool rebuilt; bool copies; };
    const Case cases[] = {{0, true, true, true, true}, {1, true, false, false, false}, {0, false, true, true, false}};
    InitData();
    for (const Case& c : cases) {
        FakeParaHost host;
        FlowRebuildSpy flow;
        WizardPara para(&host);
        para.s_filtersize = 3;
        const QJsonObject in{{"s_filtersize", 4}, {"i_program_logic", 2}, {"i_program_logic_custom", c.custom},
                             {"s_with_moulding_product", c.withMould}, {"s_action_productdetect", c.product}};
        para.SetParams(in);
        ASSERT_EQ(host.records.size(), 1);
        EXPECT_EQ(host.records[0].type, "operate");
        EXPECT_TRUE(host.records[0].text.contains("从3改为4")) << "recorded against the old value";
        EXPECT_EQ(para.s_filtersize, 4);
        ASSERT_EQ(host.cameraParams.size(), 1);
        EXPECT_EQ(host.cameraParams[0], in);
        EXPECT_EQ(host.copies[0], c.copies);
        EXPECT_EQ(flow.models, c.rebuilt ? QVector<int>{2} : QVector<int>{});
        EXPECT_EQ(host.restarts, 1);
    }
}

TEST(WizardParaTest, ProjectListPutsTheCurrentGroupFirst)
{
    struct Case { const char* name; QStringList dirs; QString current; QStringList expected; };
    const Case cases[] = {
        {"groups", {"Beta", "alpha"}, "alpha", {"alpha", "alpha", "Beta"}},
        {"fresh camera", {}, "", {""}},
    };
    for (const Case& c : cases) {
        WorkDir wd;
        ParamConnection pc(wd.file("PARAM.db"));
        for (const QString& d : c.dirs)
            QDir().mkpath("paraGroup/" + d);
        if (!c.current.isEmpty())
            pc.put("project_name", c.current);
        WizardPara para;
        EXPECT_EQ(para.GetProjectList(), c.expected) << c.name;
    }
}
