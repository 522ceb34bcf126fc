// demoteach: teaches a simulated camera (or a camera group) the way a plant
// teaches it from the operator application, through the camera's own HTTP
// API, so that a demonstration guards a mould for real:
//
//   1. the process parameters of a common machine: mould detection only
//      (an input-1 edge starts it, the camera looks 0.5 s later, when the
//      mould has opened), one re-detection before an NG, a search margin
//      for the location region, three templates, NG pictures kept as alarm
//      images;
//   2. templates from the live picture: the main camera is asked to sample
//      again, dropping the old templates, and a manual catch takes the
//      sample;
//   3. on the mould step of every camera, drawn on those templates, a
//      location region on the fourth cavity and a flaw region over the
//      other three (the detectors are trained when the regions are set).
//
// A camera that already has regions is left as it is (its plant teaching is
// kept). The cameras are given in group order, the main camera first.
//
//   demoteach --camera http://10.78.0.1:10414 --id SIMCAM01 [--camera URL --id ID]... [--wait-s 120]
#include "tools/common/tooloptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>

namespace {

constexpr int kMouldStep = 1;       // the mould unit's step of the standard layout
constexpr int kRequestMs = 10000;   // one request at most
constexpr int kStateSampling = 4;   // run state: waiting for the sample
constexpr int kStateSampled = 6;    // run state: sample taken

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

void say(const QString& text)
{
    out() << "demoteach: " << text << Qt::endl;
}

// One camera's HTTP API.
class Camera {
public:
    Camera(QNetworkAccessManager& net, const QString& base, const QString& id) : m_net(net), m_base(base), m_id(id) {}

    const QString& id() const { return m_id; }

    // The "result" of a call that answered code 0, else nothing (why in
    // error()).
    std::optional<QJsonObject> call(const QString& route, const std::optional<QJsonObject>& body = std::nullopt)
    {
        QNetworkRequest request(QUrl(m_base + route));
        if (body)
            request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setTransferTimeout(kRequestMs);
        QNetworkReply* reply = body ? m_net.post(request, QJsonDocument(*body).toJson(QJsonDocument::Compact))
                                    : m_net.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) {
            m_error = route + ": " + reply->errorString();
            return std::nullopt;
        }
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        if (answer.value(QStringLiteral("code")).toInt(-1) != 0) {
            m_error = route + ": " + answer.value(QStringLiteral("msg")).toString(QStringLiteral("no answer"));
            return std::nullopt;
        }
        return answer.value(QStringLiteral("result")).toObject();
    }

    QString error() const { return m_id + " " + m_error; }

private:
    QNetworkAccessManager& m_net;
    QString m_base;
    QString m_id;
    QString m_error;
};

// Asks `probe` every 200 ms until it holds or `ms` have passed.
bool waitUntil(const std::function<bool()>& probe, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (probe())
            return true;
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(200);
    }
}

int runState(Camera& camera, const char* key)
{
    const auto state = camera.call(QStringLiteral("/dide/system/get_runstate"));
    return state ? state->value(QLatin1String(key)).toInt(-1) : -1;
}

QJsonArray demoRegions()
{
    // The generated scene: a plate of 1440 x 720 at (240, 180) with four
    // round cavities of radius 90 on its middle line, at x 420, 780, 1140
    // and 1500. Away from the bar that crosses the top of the picture.
    const auto region = [](int index, const char* detector, QJsonArray rect, QJsonArray params) {
        return QJsonObject{{"detect_index", kMouldStep}, {"roi_index", index}, {"roi_type", "rect"},
                           {"roi_infos", rect},          {"func_type", detector}, {"func_params", params}};
    };
    return QJsonArray{region(0, "location", {1380, 420, 239, 239}, {10}),
                      region(1, "flaw", {290, 430, 969, 219}, {45, 50, 3})};
}

// The process parameters of a common machine, on top of the camera's own.
QJsonObject demoParams(QJsonObject params)
{
    params.insert("s_action_productdetect", false);
    params.insert("s_semi_automatic", false);
    params.insert("s_moulding_retimes", 1);
    params.insert("s_moulding_delaytime", 0.5);  // seconds: the mould has opened when the camera looks
    params.insert("h_mostskewing", 30);
    params.insert("h_temp_count", 3);
    params.insert("h_ngres_count", 20);
    return params;
}

}  // namespace

// The whole teaching; 0 when every camera is taught.
int teach(std::vector<Camera>& cameras, int waitMs)
{
    // Up: answering, with fresh frames (the frame rate is measured a few
    // seconds after the start).
    say(QStringLiteral("waiting for the camera%1 to see frames").arg(cameras.size() > 1 ? "s" : ""));
    for (Camera& camera : cameras) {
        if (!waitUntil([&] { return runState(camera, "fps") >= 1; }, waitMs)) {
            say(QStringLiteral("%1 did not come up: %2").arg(camera.id(), camera.error()));
            return 1;
        }
    }

    int taught = 0;
    for (Camera& camera : cameras) {
        const auto rois = camera.call(QStringLiteral("/dide/roi/getallparams"));
        if (!rois) {
            say(camera.error());
            return 1;
        }
        if (!rois->value(QStringLiteral("rois")).toArray().isEmpty())
            ++taught;
    }
    if (taught == int(cameras.size())) {
        say(QStringLiteral("already taught, teaching kept (remove the data folder to start afresh)"));
        return 0;
    }

    for (Camera& camera : cameras) {
        const auto params = camera.call(QStringLiteral("/dide/system/getparams"));
        if (!params || !camera.call(QStringLiteral("/dide/system/setparams"), demoParams(*params))) {
            say(camera.error());
            return 1;
        }
        say(QStringLiteral("%1: process parameters of a common machine").arg(camera.id()));
    }

    // Templates from the live picture: sample again, then one manual catch.
    Camera& main = cameras.front();
    QJsonArray all;
    for (const Camera& camera : cameras)
        all.append(camera.id());
    // The flow takes work events once the camera's links are up (its IO
    // module answers, the group is paired): asked again until it samples.
    const bool sampling = waitUntil(
        [&] {
            return main.call(QStringLiteral("/dide/action/resample"),
                             QJsonObject{{"remove_template", true}, {"uuids", all}}) &&
                   waitUntil([&] { return runState(main, "state") == kStateSampling; }, 3000);
        },
        waitMs);
    if (!sampling) {
        say(QStringLiteral("the cameras did not start sampling (is the IO module running?) %1").arg(main.error()));
        return 1;
    }
    if (!main.call(QStringLiteral("/dide/action/manual_catch"), QJsonObject{{"detect_index", kMouldStep}}) ||
        !waitUntil([&] { return runState(main, "state") == kStateSampled; }, 3 * kRequestMs)) {
        say(QStringLiteral("no sample taken: %1").arg(main.error()));
        return 1;
    }
    say(QStringLiteral("templates taken from the live picture"));

    // The regions, drawn on the new templates: setting them trains the
    // detectors on those templates.
    for (Camera& camera : cameras) {
        const QJsonArray regions = demoRegions();
        if (!camera.call(QStringLiteral("/dide/roi/setallparams"), QJsonObject{{"rois", regions}}) ||
            !camera.call(QStringLiteral("/dide/roi/finish_roiset"), QJsonObject{})) {
            say(camera.error());
            return 1;
        }
        // The regions are taken after the answer: wait until they show.
        const bool stored = waitUntil(
            [&] {
                const auto now = camera.call(QStringLiteral("/dide/roi/getallparams"));
                return now && now->value(QStringLiteral("rois")).toArray().size() == regions.size();
            },
            kRequestMs);
        if (!stored) {
            say(QStringLiteral("%1 did not take the regions").arg(camera.id()));
            return 1;
        }
        say(QStringLiteral("%1: a location region on the fourth cavity, a flaw region over the other three")
                .arg(camera.id()));
    }
    say(QStringLiteral("the demo camera%1 taught").arg(cameras.size() > 1 ? "s are" : " is"));
    return 0;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("demoteach"));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Teaches a simulated camera group through its HTTP API: process parameters of a common "
                       "machine, a location and a flaw region on the mould step, templates from the live picture."));
    parser.addHelpOption();
    const QCommandLineOption cameraOption(QStringLiteral("camera"),
                                          QStringLiteral("HTTP API of a camera, main camera first (repeat)."),
                                          QStringLiteral("url"));
    const QCommandLineOption idOption(QStringLiteral("id"), QStringLiteral("Device id of that camera (repeat)."),
                                      QStringLiteral("id"));
    const QCommandLineOption waitOption = tooloptions::valueOption(
        QStringLiteral("wait-s"), QStringLiteral("How long to wait for the cameras to come up"), QStringLiteral("s"),
        QStringLiteral("120"));
    parser.addOptions({cameraOption, idOption, waitOption});
    tooloptions::process(parser, app);
    const QStringList urls = parser.values(cameraOption);
    const QStringList ids = parser.values(idOption);
    if (urls.isEmpty() || urls.size() != ids.size())
        tooloptions::refuse(QStringLiteral("give one --id for every --camera, at least one"));
    for (const QString& url : urls) {
        const QUrl parsed(url, QUrl::StrictMode);
        if (!parsed.isValid() || parsed.scheme() != QLatin1String("http") || parsed.host().isEmpty())
            tooloptions::refuse(QStringLiteral("--camera \"%1\" is not an http:// address").arg(url));
    }
    const int waitMs = int(tooloptions::number(parser, waitOption, 1, 3600)) * 1000;

    QNetworkAccessManager net;
    std::vector<Camera> cameras;
    for (int i = 0; i < urls.size(); ++i)
        cameras.emplace_back(net, urls.at(i), ids.at(i));

    const int code = teach(cameras, waitMs);
    if (code != 0)
        say(QStringLiteral("teaching not finished: the camera%1 untaught").arg(cameras.size() > 1 ? "s run" : " runs"));
    return code;
}
