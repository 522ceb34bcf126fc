// Every operator-action, parameter, region, flow, state, image, record,
// history, storage, update and integration route against bodies no
// application should send: empty, not JSON, an array, each key with each
// wrong type, numbers past an int and past any use, "NaN" as text, a 1 MiB
// text. Each
// request gets exactly one answer from its handler (never the reactor's
// fallback), the program lives on, and a refusal leaves the files, RECORD.db,
// the command record and the flow's passports as they were. Meant to run
// under the sanitizer build too.
#include "foundation/zrc_workinformation_manager.h"
#include "support/programfixture.h"
#include "support/recordedcommands.h"

#include <QJsonDocument>

using testsupport::HttpAnswer;
using testsupport::ProgramFixture;
using testsupport::recordedCommandLines;

namespace {

struct Route {
    const char* url;
    QStringList keys;
};

const QList<Route>& routes()
{
    static const QList<Route> all = {
        {"/dide/action/redetect", {"detect_index", "uuids"}},
        {"/dide/action/noactionmold", {"detect_index", "uuids"}},
        {"/dide/action/addtemplate", {"detect_index", "uuids"}},
        {"/dide/action/resample", {"remove_template", "uuids"}},
        {"/dide/action/manual_catch", {"detect_index", "fix_mold_index"}},
        {"/dide/action/settemp_fromng", {"detect", "index"}},
        {"/dide/action/setstatus", {"status"}},
        {"/dide/action/removeobject", {"infos"}},
        {"/dide/action/forcerestore", {}},
        {"/dide/action/countclear", {}},
        {"/dide/action/clear_ioinput_warning", {}},
        {"/dide/action/shutup_alarm", {}},
        {"/dide/action/clear_warn", {}},
        {"/dide/action/restoredefaultparameters", {}},
        {"/dide/action/setsystime", {}},
        {"/dide/debug/restart_rpc_service", {}},
        {"/dide/system/getparams", {}},
        {"/dide/system/setparams", {"h_minspot", "s_filtersize", "i_inputtimeout"}},
        {"/dide/system/get_runstate", {}},
        {"/dide/system/get_userflow", {"mode_type"}},
        {"/dide/system/set_userflow", {"userflow", "init_defalut"}},
        {"/dide/system/chgproj_operate", {"dotype", "operate_name"}},
        {"/dide/roi/getallparams", {}},
        {"/dide/roi/setallparams", {"rois"}},
        {"/dide/roi/modifyroi", {"detect_index", "roi_infos", "roi_type"}},
        {"/dide/roi/finish_roiset", {}},
        {"/dide/camera/getparams", {}},
        {"/dide/camera/setparams", {"exposure", "gain", "c_autolight"}},
        {"/dide/io/getparams", {}},
        {"/dide/action/system_initialize", {}},
        {"/dide/action/sysrestart", {}},
        // State and image routes.
        {"/dide/context/heartbeat", {"cntstatus"}},
        {"/dide/context/setcamcntstatus", {"cntstatus"}},
        {"/dide/context/getcamera_status", {}},
        {"/dide/context/get_stash_runstate_p2ahb", {}},
        {"/dide/context/lastshowlive", {}},
        {"/dide/context/runresult_info", {}},
        {"/dide/context/get_curng_info", {}},
        {"/dide/context/runresult_mask", {}},
        {"/dide/context/get_shorttime_ng", {"detect", "index"}},
        {"/dide/context/getsyspic", {}},
        {"/dide/context/getsyspic_item", {"file_type", "detect"}},
        {"/dide/context/getpicture", {"pic_type", "pic_detect", "pic_name"}},
        // Record and history routes.
        {"/dide/context/record_list", {}},
        {"/dide/context/record", {"date", "start", "finish", "type"}},
        {"/dide/context/history_record", {}},
        // Project storage and firmware update (the body is the package).
        {"/dide/context/getproject_storage", {"storage_type"}},
        {"/dide/context/update_system", {}},
        // Integration and device-list routes.
        {"/dide/httpapi/subscriber", {"subscriber"}},
        {"/dide/httpapi/get_last_detectinfo", {}},
        {"/dide/httpapi/get_product_infos", {}},
        {"/dide/httpapi/publisher_picture_detect", {}},
        {"/dide/web/getcamerainfos", {}},
        {"/dide/context/lan_all_devices", {"app_version", "subip"}},
    };
    return all;
}

QList<QByteArray> bodies(const QStringList& keys)
{
    const QByteArray mib(1 << 20, 'x');
    QList<QByteArray> out = {"", "not json at all", "[1,2,3]", "{", "\"text\"", "null", mib};
    const QList<QByteArray> wrong = {"null",        "true",  "\"text\"", "3.5",    "[]",          "{}",
                                     "2147483648",  "-2147483649",       "1e300",  "-1e300", "\"NaN\"",
                                     "\"" + mib + "\""};
    for (const QString& key : keys) {
        for (const QByteArray& v : wrong)
            out << "{\"" + key.toUtf8() + "\":" + v + "}";
    }
    return out;
}

}  // namespace

// One route a test, each on its own program: small enough for a loaded
// machine, and a restart's closed databases stay with its own test.
class HttpRoutesSweepTest : public ::testing::TestWithParam<int> {};

TEST_P(HttpRoutesSweepTest, AnswersOnceAndRefusalsChangeNothing)
{
    const Route& r = routes().at(GetParam());
    ProgramFixture f;
    // The device search broadcasts on the network card in use: here none.
    ZRC_WorkInformation_Manager* work = ZRC_WorkInformation_Manager::getInstance();
    work->setNetCardProbe([](DeviceNetInfo_Detail&) { return false; });
    work->recheckDeviceInfo();
    ASSERT_TRUE(work->get_netcard().getValue().broadcast.isEmpty());
    f.settle(300);
    QByteArray files = f.filesDigest();
    QStringList commands = recordedCommandLines();
    int passports = f.passports().size();
    const QStringList recordsBefore = f.records();
    bool anyAccepted = false;
    for (const QByteArray& body : bodies(r.keys)) {
        SCOPED_TRACE(std::string(r.url) + " " + body.left(80).toStdString());
        HttpAnswer a = f.request(QString::fromLatin1(r.url), body);
        // A restart goes on working after its answer and keeps its URL
        // meanwhile: the server says so, and the request is sent again.
        for (int tries = 0; a.raw.statusLine.startsWith("HTTP/1.1 503") && tries < 300; ++tries) {
            EXPECT_EQ(a.raw.body, "The previous same url task has not been completed.");
            f.settle(100);
            a = f.request(QString::fromLatin1(r.url), body);
        }
        // A package that cannot be installed is refused by the plain 400 of
        // the upload route, and nothing is changed.
        const bool plainRefusal = a.raw.statusLine == "HTTP/1.1 400 Bad Request"
                                  && QByteArray(r.url) == "/dide/context/update_system";
        if (plainRefusal) {
            EXPECT_FALSE(a.raw.body.isEmpty());
            a.isJson = true;
            a.code = 1;
            a.msg = QString::fromUtf8(a.raw.body);
        } else {
            ASSERT_EQ(a.raw.statusLine, "HTTP/1.1 200 OK");
        }
        if (a.isJson) {
            EXPECT_NE(a.code, -1) << "the handler answered, not the fallback";
        }
        if (a.isJson && a.code == 1) {
            EXPECT_TRUE(a.result.isEmpty());
            EXPECT_FALSE(a.msg.isEmpty());
            f.settle(20);
            EXPECT_EQ(f.filesDigest(), files);
            EXPECT_EQ(recordedCommandLines(), commands);
            EXPECT_EQ(f.passports().size(), passports);
        } else {
            // What an accepted request did is the next baseline.
            anyAccepted = true;
            f.settle(100);
            files = f.filesDigest();
            commands = recordedCommandLines();
            passports = f.passports().size();
        }
    }
    if (!anyAccepted) {
        EXPECT_EQ(f.records(), recordsBefore) << "refusals record nothing";
    }
    // Still serving.
    EXPECT_EQ(f.request("/dide/action/setsystime").code, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryRoute, HttpRoutesSweepTest, ::testing::Range(0, int(routes().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                             QString name = QString::fromLatin1(routes().at(info.param).url).mid(6);
                             name.replace('/', '_');
                             return name.toStdString();
                         });
