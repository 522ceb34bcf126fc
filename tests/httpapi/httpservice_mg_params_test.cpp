// The parameter, region and flow routes over real HTTP on the program's own
// objects: what they store (read back with the sqlite3 tool and from the
// files), what they answer, and the refusals that keep everything as it was.
#include "support/programfixture.h"
#include "support/detectorfakes.h"
#include "support/logcapture.h"
#include "support/recordedcommands.h"
#include "support/sqlite3tool.h"

#include "flow/userflowfile.h"
#include "foundation/zrc_workinformation_manager.h"
#include "inspection/maskpacking.h"

#include <QJsonArray>
#include <QJsonDocument>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;
using testsupport::recordedCommandLines;
using testsupport::sqlite3;

namespace {

bool eventually(ProgramFixture& f, const std::function<bool()>& cond)
{
    return hubtest::waitFor([&] {
        f.settle(10);
        return cond();
    });
}

QJsonObject storedParams(ProgramFixture& f)
{
    return QJsonDocument::fromJson(sqlite3(f.wd.file("PARAM.db"), "select value from sysparam where name='paramsjson';")
                                       .trimmed()
                                       .toUtf8())
        .object();
}

QJsonObject currentParams(ProgramFixture& f)
{
    const HttpAnswer a = f.request("/dide/system/getparams");
    EXPECT_EQ(a.code, 0);
    return a.result;
}

// The parts of a multipart reply by name, in order: name -> content.
QList<QPair<QByteArray, QByteArray>> multipartParts(const QByteArray& body)
{
    const QByteArray boundary = "------------------------tcpservreactor";
    QList<QPair<QByteArray, QByteArray>> parts;
    int at = body.indexOf(boundary);
    while (at >= 0) {
        const int next = body.indexOf(boundary, at + boundary.size());
        if (next < 0)
            break;
        const QByteArray block = body.mid(at + boundary.size() + 2, next - at - boundary.size() - 4);
        const int headEnd = block.indexOf("\r\n\r\n");
        const QByteArray head = block.left(headEnd);
        const int n = head.indexOf("name=\"") + 6;
        parts.append({head.mid(n, head.indexOf('"', n) - n), block.mid(headEnd + 4)});
        at = next;
    }
    return parts;
}

void takeCamera(const QString& version)
{
    ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& w) {
        w.registered_apps.clear();
        w.taken_app_ip.clear();
        if (version == "none")
            return;
        w.taken_app_ip = "127.0.0.9";
        if (!version.isEmpty())
            w.registered_apps["127.0.0.9"].version = version;
    });
}

}  // namespace

TEST(HttpParamRoutesTest, SetParamsAppliesStoresAndKeepsTheRangeTable)
{
    ProgramFixture f;
    QJsonObject params = currentParams(f);
    ASSERT_TRUE(params.contains("h_minspot"));

    // Only "h_minspot" changed: the sequencers start again.
    {
        testsupport::LogCapture log;
        params.insert("h_minspot", params.value("h_minspot").toInt() + 1);
        params.insert("s_moulding_delaytime", 1.5);
        const HttpAnswer a = f.request("/dide/system/setparams", params, {{"User-ID", "op4"}});
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(log.count("h_minspot changed"), 1);
        EXPECT_EQ(storedParams(f).value("h_minspot").toInt(), params.value("h_minspot").toInt());
        EXPECT_DOUBLE_EQ(storedParams(f).value("s_moulding_delaytime").toDouble(), 1.5);
    }
    // The same values again: no re-initialisation.
    {
        testsupport::LogCapture log;
        EXPECT_EQ(f.request("/dide/system/setparams", params).code, 0);
        EXPECT_EQ(log.count("changed: the detection sequencers"), 0);
    }
    // Out of the range table: the table's value, with a log line.
    {
        testsupport::LogCapture log;
        params.insert("h_minspot", 0);
        params.insert("s_filtersize", 5000);
        EXPECT_EQ(f.request("/dide/system/setparams", params).code, 0);
        EXPECT_EQ(storedParams(f).value("h_minspot").toInt(), 3);
        EXPECT_EQ(storedParams(f).value("s_filtersize").toInt(), 3);
        EXPECT_TRUE(log.reachesLogFiles("h_minspot = 0 is outside its range"));
        EXPECT_TRUE(log.reachesLogFiles("s_filtersize = 5000 is outside its range"));
    }
    // Every detector off is the operator's right.
    for (const char* k : {"c_start_flawdetect", "c_start_spotdetect", "c_blackspotarea", "c_whitespotarea",
                          "c_similarity", "c_whitespotnum"})
        params.insert(k, false);
    EXPECT_EQ(f.request("/dide/system/setparams", params).code, 0);
    EXPECT_FALSE(storedParams(f).value("c_start_flawdetect").toBool());
}

TEST(HttpParamRoutesTest, SetParamsRefusesWhatWouldZeroParameters)
{
    ProgramFixture f;
    const QJsonObject params = currentParams(f);
    f.settle(300);
    const QByteArray files = f.filesDigest();
    const QStringList records = f.records();
    struct Case {
        QByteArray body;
        QString key;
    };
    QJsonObject lacking = params;
    lacking.remove("s_alarmareas");
    QJsonObject fraction = params;
    fraction.insert("h_minspot", 2.5);
    QJsonObject text = params;
    text.insert("h_mostskewing", "8000");
    QJsonObject huge = params;
    huge.insert("i_precut", 1e300);
    QJsonObject optional = params;
    optional.insert("i_closeNGBuzzer_Muti", true);
    const QList<Case> cases = {
        {"{}", "parameter object"},
        {"[1,2]", "parameter object"},
        {"not json", "parameter object"},
        {QJsonDocument(lacking).toJson(), "s_alarmareas"},
        {QJsonDocument(fraction).toJson(), "h_minspot"},
        {QJsonDocument(text).toJson(), "h_mostskewing"},
        {QJsonDocument(huge).toJson(), "i_precut"},
        {QJsonDocument(optional).toJson(), "i_closeNGBuzzer_Muti"},
    };
    for (const Case& c : cases) {
        const HttpAnswer a = f.request("/dide/system/setparams", c.body);
        EXPECT_EQ(a.code, 1) << c.key.toStdString();
        EXPECT_TRUE(a.msg.contains(c.key)) << a.msg.toStdString();
        EXPECT_TRUE(a.result.isEmpty());
    }
    f.settle(200);
    EXPECT_EQ(f.filesDigest(), files);
    EXPECT_EQ(f.records(), records);
    EXPECT_EQ(currentParams(f), params);
}

TEST(HttpParamRoutesTest, ProjectGroupOperations)
{
    struct Case {
        QString dotype;
        QString name;
        bool result;
        bool reboots;
    };
    const QList<Case> cases = {
        {"backup", "", false, false},       {"backup", "a", true, false},
        {"backup", "../x", false, false},   {"delete", "", false, false},
        {"delete", "mouldB", true, false},  {"delete", "default", false, false},
        {"delete", "mouldA", false, false},  // the current group
        {"change", "", false, false},       {"change", "nosuch", false, false},
        {"change", "../x", false, false},   {"change", "mouldB", true, true},
        {"rename", "mouldB", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.dotype + " " + c.name).toStdString());
        ProgramFixture f;
        const HttpAnswer a = f.request("/dide/system/chgproj_operate",
                                       QJsonObject{{"dotype", c.dotype}, {"operate_name", c.name}});
        EXPECT_EQ(a.code, 0);
        EXPECT_EQ(a.result.value("operate_result").toBool(), c.result);
        const QJsonArray list = a.result.value("project_list").toArray();
        ASSERT_FALSE(list.isEmpty());
        EXPECT_FALSE(list.contains("default"));
        EXPECT_EQ(list.contains("mouldB"), !(c.dotype == "delete" && c.result));
        EXPECT_FALSE(QFile::exists(f.wd.file("x"))) << "no group outside ./paraGroup";
        if (c.reboots)
            EXPECT_TRUE(eventually(f, [] { return recordedCommandLines().size() == 2; }));
        else
            f.settle(1500);
        const QStringList expected = c.reboots ? QStringList{"sync", "reboot"} : QStringList{};
        EXPECT_EQ(recordedCommandLines(), expected);
    }
}

TEST(HttpParamRoutesTest, UserFlowReadAndWrite)
{
    ProgramFixture f;
    // Missing file: the text answer, with the access-control headers.
    HttpAnswer a = f.request("/dide/system/get_userflow", QJsonObject{{"mode_type", -2}});
    EXPECT_FALSE(a.isJson);
    EXPECT_EQ(a.raw.body, "Obtaining userflow is abnormal.");
    EXPECT_EQ(a.raw.header("Content-Type"), "text/html");
    EXPECT_EQ(a.raw.header("Access-Control-Allow-Origin"), "*");
    EXPECT_EQ(a.raw.header("Access-Control-Allow-Methods"), "*");

    // Written, then read back unchanged without "io".
    const QJsonObject flow{{"units", QJsonArray{QJsonObject{{"type", "FlowUnit_Standard_Detect"}, {"index", 0}}}}};
    a = f.request("/dide/system/set_userflow", QJsonObject{{"userflow", flow}, {"init_defalut", true}});
    EXPECT_EQ(a.code, 0);
    ASSERT_TRUE(eventually(f, [&] { return UserFlowFile::read() == flow; }));
    a = f.request("/dide/system/get_userflow", QJsonObject{{"mode_type", -2}});
    EXPECT_EQ(a.result, flow);
    EXPECT_EQ(a.raw.header("Access-Control-Allow-Origin"), "*");

    // The live layout with the IO description.
    f.io.setIO_NoInputTip_LimitTime(60.5);
    const int trig[8] = {3, 1, 2, 0, 0, 0, 0, 0};
    f.io.setIO_TrigIn(trig);
    a = f.request("/dide/system/get_userflow", QJsonObject{{"mode_type", -1}});
    ASSERT_EQ(a.code, 0);
    EXPECT_TRUE(a.result.contains("units"));
    const QJsonObject io = a.result.value("io").toObject();
    EXPECT_EQ(io.value("trig_method").toArray(), (QJsonArray{3, 1, 2, 0, 0, 0, 0, 0}));
    EXPECT_EQ(io.value("output_default").toArray().size(), 8);
    EXPECT_TRUE(a.raw.body.contains("\"no_input_tip\":60.5"));

    // Missing or mistyped "userflow": refused, the file kept.
    for (const QByteArray& body : {QByteArray("{}"), QByteArray(R"({"userflow":[]})"), QByteArray("[]")}) {
        a = f.request("/dide/system/set_userflow", body);
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.msg.contains("userflow"));
    }
    f.settle(300);
    EXPECT_EQ(UserFlowFile::read(), flow);
}

TEST(HttpParamRoutesTest, RegionsReadAndReplaced)
{
    ProgramFixture f;
    HttpAnswer a = f.request("/dide/roi/getallparams");
    ASSERT_EQ(a.code, 0);
    const QJsonArray rois = a.result.value("rois").toArray();
    EXPECT_EQ(rois.size(), 2 * ProgramFixture::kSteps);

    // Missing or mistyped "rois": refused, PARAM.db kept.
    const QByteArray files = f.filesDigest();
    for (const QByteArray& body : {QByteArray("{}"), QByteArray(R"({"rois":{}})")}) {
        a = f.request("/dide/roi/setallparams", body);
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.msg.contains("rois"));
    }
    f.settle(300);
    EXPECT_EQ(f.filesDigest(), files);

    // The step-0 regions dropped.
    QJsonArray kept;
    for (const QJsonValue& r : rois) {
        if (r.toObject().value("detect_index").toInt() != 0)
            kept.append(r);
    }
    a = f.request("/dide/roi/setallparams", QJsonObject{{"rois", kept}});
    EXPECT_EQ(a.code, 0);
    ASSERT_TRUE(eventually(f, [&] {
        return f.request("/dide/roi/getallparams").result.value("rois").toArray().size() == kept.size();
    }));
    EXPECT_EQ(f.request("/dide/roi/finish_roiset").code, 0);
}

// An edit that would inspect less than it was sent, or inspect nothing, is
// refused with code 1 naming the key or the reason; the stored files stay
// as they were, byte for byte.
TEST(HttpParamRoutesTest, RegionEditsThatWouldInspectLessAreRefused)
{
    ProgramFixture f;
    const QJsonArray rois = f.request("/dide/roi/getallparams").result.value("rois").toArray();
    const QJsonObject spot = rois.at(0).toObject();
    ASSERT_EQ(spot.value("func_type").toString(), "spot");
    const auto with = [](QJsonObject o, const char* key, const QJsonValue& value) {
        o.insert(QLatin1String(key), value);
        return o;
    };
    const QJsonObject wholeFlaw = detectortest::rectRegion(1, 5, cv::Rect(0, 0, 1920, 1080), "flaw", {45, 50, 3});
    const QJsonObject wholeIgnore = detectortest::rectRegion(1, 6, cv::Rect(0, 0, 1920, 1080), "ignore");
    const struct {
        const char* name;
        QJsonObject region;
        QJsonObject alongside;  // a further region of the set (setallparams) or "ignore_rois" (modifyroi)
        const char* reason;
    } cases[] = {
        {"empty roi_type", with(spot, "roi_type", ""), {}, "\"roi_type\""},
        {"coordinates that are not numbers", with(spot, "roi_infos", QJsonArray{"a", "b", "c", "d"}), {},
         "\"roi_infos\""},
        {"a step not in use", with(spot, "detect_index", 99), {}, "\"detect_index\""},
        {"whole-frame flaw under a whole-frame ignore region", wholeFlaw, wholeIgnore, "无法达到报警面积"},
    };
    const QByteArray files = f.filesDigest();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QJsonArray set = rois;
        set.append(c.region);
        if (!c.alongside.isEmpty())
            set.append(c.alongside);
        HttpAnswer a = f.request("/dide/roi/setallparams", QJsonObject{{"rois", set}});
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.msg.contains(QString::fromUtf8(c.reason))) << a.msg.toStdString();

        QJsonObject trial = c.region;
        if (!c.alongside.isEmpty())
            trial.insert("ignore_rois", QJsonArray{c.alongside});
        a = f.request("/dide/roi/modifyroi", trial);
        EXPECT_EQ(a.code, 1);
        EXPECT_TRUE(a.msg.contains(QString::fromUtf8(c.reason)) || a.msg.contains("detect_index"))
            << a.msg.toStdString();
    }
    f.settle(300);
    EXPECT_EQ(f.filesDigest(), files);
    EXPECT_EQ(f.request("/dide/roi/getallparams").result.value("rois").toArray(), rois);

    // The control: the whole-frame flaw region alone is taken.
    QJsonArray set = rois;
    set.append(wholeFlaw);
    EXPECT_EQ(f.request("/dide/roi/setallparams", QJsonObject{{"rois", set}}).code, 0);
    EXPECT_NE(f.filesDigest(), files);
}

TEST(HttpParamRoutesTest, ModifyRoiAnswersByApplicationVersion)
{
    ProgramFixture f;
    QJsonObject region = f.request("/dide/roi/getallparams").result.value("rois").toArray().at(0).toObject();
    struct Case {
        QString version;  // "none": no application has taken the camera
        QJsonArray scope;
        QList<QByteArray> parts;
    };
    const QList<Case> cases = {
        {"V1.6.7.94", {10, 20, 30, 40}, {"maskmat", "maskmat-info", "result"}},
        {"V1.6.7.95", {10, 20, 30, 40}, {"maskmat", "maskmat-info", "result"}},
        {"", {10, 20, 30, 40}, {"result", "maskmat-info", "maskmat"}},
        {"none", {10, 20, 30, 40}, {"result", "maskmat-info", "maskmat"}},
        {"V1.6", {10, 20, 30, 40}, {"result", "maskmat-info", "maskmat"}},
        {"V1.6.7.94", {10, 20, 0, 40}, {"maskmat-info", "maskmat"}},
        {"V1.6.7.94", {5000, 20, 30, 40}, {"maskmat-info", "maskmat"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.toStdString() + " " + QJsonDocument(c.scope).toJson(QJsonDocument::Compact).toStdString());
        takeCamera(c.version);
        region.insert("roi_infos", c.scope);
        const HttpAnswer a = f.request("/dide/roi/modifyroi", region);
        ASSERT_TRUE(a.raw.header("Content-Type").startsWith("multipart/form-data"));
        const auto parts = multipartParts(a.raw.body);
        QList<QByteArray> names;
        for (const auto& p : parts)
            names << p.first;
        const bool packed = c.version == "V1.6.7.94" && c.parts.size() == 3;
        if (packed) {
            // Fields in key order: the packed cut, its information, the result.
            EXPECT_EQ(names, c.parts);
            EXPECT_EQ(parts[0].second.size(), 150);
            const QJsonObject info = QJsonDocument::fromJson(parts[1].second).object();
            EXPECT_EQ(info.value("data_type").toString(), "8in1_scope");
            EXPECT_EQ(info.value("maskscope_width").toInt(), 30);
            EXPECT_EQ(info.value("maskscope_height").toInt(), 40);
            EXPECT_EQ(info.value("size_width").toInt(), 1920);
        } else {
            // The whole mask as an image (its information part first).
            QList<QByteArray> expect = c.parts;
            if (c.parts.size() == 3)
                expect = {"result", "maskmat-info", "maskmat"};
            EXPECT_EQ(names, expect);
            const QJsonObject info = QJsonDocument::fromJson(parts[names.indexOf("maskmat-info")].second).object();
            EXPECT_EQ(info.value("data_type").toString(), "data_type");
            EXPECT_EQ(parts[names.indexOf("maskmat")].second.size(), 1920 * 1080);
        }
    }
    takeCamera("none");
}

TEST(HttpParamRoutesTest, CameraAndIoDefaults)
{
    ProgramFixture f;
    HttpAnswer a = f.request("/dide/camera/getparams");
    ASSERT_EQ(a.code, 0);
    QJsonObject camera = a.result;
    EXPECT_EQ(camera.value("exposure").toInt(), 20);

    // Every number the route reads is required; then the checked setter decides.
    const QByteArray files = f.filesDigest();
    QJsonObject lacking = camera;
    lacking.remove("exposure");
    QJsonObject text = camera;
    text.insert("gain", "2");
    for (const QJsonObject& body : {lacking, text}) {
        a = f.request("/dide/camera/setparams", body);
        EXPECT_EQ(a.code, 1);
    }
    f.settle(300);
    EXPECT_EQ(f.filesDigest(), files);

    camera.insert("exposure", 35);
    a = f.request("/dide/camera/setparams", camera);
    EXPECT_EQ(a.code, 0);
    ASSERT_TRUE(eventually(f, [&] { return f.request("/dide/camera/getparams").result.value("exposure").toInt() == 35; }));
    const QJsonObject stored = QJsonDocument::fromJson(
        sqlite3(f.wd.file("PARAM.db"), "select value from cameraparam where name='camera0';").toUtf8()).object();
    EXPECT_EQ(stored.value("camerainterface").toObject().value("exposure").toInt(), 35);

    a = f.request("/dide/io/getparams");
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.result.keys(), (QStringList{"initstate_O1", "initstate_O2", "initstate_O3", "initstate_O4"}));

    a = f.request("/dide/system/get_runstate");
    EXPECT_EQ(a.code, 0);
    EXPECT_TRUE(a.result.contains("state"));
}
