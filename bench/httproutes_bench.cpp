// Main-thread time of the HTTP routes that work on the main thread (and the
// main halves of the worker-then-main routes), beside the same work of the
// parameter set, camera, hub and flow called directly, in the same run.
//
//   ours       the handler slot called on the main thread with a request
//              record, as the re-posted call runs: the body checks, the work,
//              the reply built and handed to the server (which drops it: the
//              record names no connection)
//   reference  the calls the handler makes for that work, and the JSON
//              envelope of its answer, without checks or reply hand-over
//
// On the program's objects of the route tests (1920 x 1080 frame, regions on
// four steps). Each route is warmed up, then timed call by call; the table
// gives the median and the maximum of each side and the ratio of medians.
// Aim: ours within 1.1x of the reference or 1 ms above it.
#include "support/programfixture.h"

#include "flow/userflowfile.h"
#include "inspection/camera.h"
#include "inspection/cammersingleton.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Times {
    double median = 0;
    double max = 0;
};

Times timeIt(const std::function<void()>& fn, int runs)
{
    for (int i = 0; i < 3; ++i)
        fn();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        fn();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

QByteArray envelope(const QJsonObject& result)
{
    return QJsonDocument(QJsonObject{{"code", 0}, {"msg", "OK"}, {"result", result}}).toJson(QJsonDocument::Compact);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testsupport::ProgramFixture f;
    HttpService_MG_Business& s = *f.service;
    WizardPara& para = *f.hub->params();
    Camera& camera = *f.hub->camera();

    auto record = [](const char* url, const QJsonObject& body = {}) {
        CTask_FormData_Mongoose r;
        r.data.url = QString::fromLatin1(url);
        r.data.json = body;
        r.data.user_agent = QStringLiteral("bench");
        return r;
    };
    QJsonObject params;
    para.GetParams(params);
    QJsonObject cameraParams;
    camera.cameraSingleton()->getCameraParam(cameraParams);
    const QJsonArray rois = camera.getallROIs();
    const QJsonObject flow{{"units", QJsonArray{}}};
    QJsonObject region = rois.at(0).toObject();
    region.insert("roi_infos", QJsonArray{10, 20, 30, 40});

    struct Row {
        const char* name;
        std::function<void()> ours;
        std::function<void()> reference;
        int runs;
    };
    const std::vector<Row> rows = {
        {"system/getparams", [&] { s.DideSystem__getparams(record("/dide/system/getparams")); },
         [&] {
             QJsonObject o;
             para.GetParams(o);
             envelope(o);
         },
         200},
        {"system/setparams (same values)",
         [&] { s.DideSystem__setparams(record("/dide/system/setparams", params)); },
         [&] {
             para.SetParams(params);
             para.SaveDatatoDB();
             envelope({});
         },
         30},
        {"system/get_userflow -1",
         [&] { s.DideSystem__get_userflow(record("/dide/system/get_userflow", {{"mode_type", -1}})); },
         [&] { envelope(f.flow->get_Frameworks()); }, 200},
        {"roi/getallparams", [&] { s.DideRoi__getallparams(record("/dide/roi/getallparams")); },
         [&] { envelope(QJsonObject{{"rois", camera.getallROIs()}}); }, 200},
        {"roi/modifyroi (whole mask)", [&] { s.DideRoi__modifyroi(record("/dide/roi/modifyroi", region)); },
         [&] {
             cv::Mat mask;
             QJsonObject result;
             camera.modifySingleROI(region, mask, result);
             para.SaveDatatoDB();
         },
         20},
        {"camera/getparams", [&] { s.DideCamera__getparams(record("/dide/camera/getparams")); },
         [&] {
             QJsonObject o;
             camera.cameraSingleton()->getCameraParam(o);
             envelope(o);
         },
         200},
        {"io/getparams", [&] { s.DideIO__getparams(record("/dide/io/getparams")); },
         [&] {
             QJsonObject o;
             para.GetIO_Output_Defalut(o);
             envelope(o);
         },
         200},
        {"action/setstatus (unknown)",
         [&] { s.DideAction__act_setStatus(record("/dide/action/setstatus", {{"status", "pause"}})); },
         [&] { envelope(QJsonObject{{"status", "pause"}}); }, 200},
        {"system/set_userflow (main half)",
         [&] { s.DideSystem__set_userflow(record("/dide/system/set_userflow", {{"userflow", flow}})); },
         [&] { UserFlowFile::write(flow); }, 50},
        {"roi/setallparams (main half)",
         [&] { s.DideRoi__setallparams(record("/dide/roi/setallparams", {{"rois", rois}})); },
         [&] { camera.modifySingleton(rois); }, 10},
        {"camera/setparams (main half)",
         [&] { s.DideCamera__setparams(record("/dide/camera/setparams", cameraParams)); },
         [&] {
             camera.cameraSingleton()->setCameraParamChecked(cameraParams);
             camera.setParam();
             camera.cameraSingleton()->SaveDatatoDB();
         },
         30},
    };

    std::printf("%-34s %12s %10s %12s %10s %8s\n", "route (main thread)", "ours med ms", "max", "ref med ms", "max",
                "ratio");
    double slowest = 0;
    const char* slowestName = "";
    for (const Row& r : rows) {
        const Times ours = timeIt(r.ours, r.runs);
        const Times ref = timeIt(r.reference, r.runs);
        std::printf("%-34s %12.3f %10.3f %12.3f %10.3f %8.2f\n", r.name, ours.median, ours.max, ref.median, ref.max,
                    ref.median > 0 ? ours.median / ref.median : 0.0);
        if (ours.median > slowest) {
            slowest = ours.median;
            slowestName = r.name;
        }
        QCoreApplication::processEvents();
    }
    std::printf("slowest: %s, %.3f ms median on the main thread\n", slowestName, slowest);
    return 0;
}
