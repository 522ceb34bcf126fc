// The image routes of the HTTP control API under 1, 4 and 20 concurrent
// clients (one request per connection), beside a bare libmicrohttpd server
// in the same run sending the same bytes from a file descriptor:
//
//   getpicture     a 1080p JPEG template of step 0 (a worker route that
//                  answers with the file)
//   get_curng_info the 1920 x 1080 grey frame and its mask, whole form (a
//                  main-thread route: copies on main, assembly on a pool
//                  thread)
//   bare           its own polling thread; each request suspended and
//                  handed to one of 3 worker threads, which open the file
//                  (the JPEG, or ours' get_curng_info body captured once)
//                  and resume the connection with a response from its fd
//
// Ours answers one running request per route and refuses the next as busy;
// a refused client asks again 1 ms later, so the figures are the image bytes
// delivered per second (MB/s), the p50 and p99 of a delivered answer, and
// the busy answers met. The bare server serves every request at once, so
// with several clients it does up to three answers of a route in parallel
// where ours may do one: a second bare row ("bare 1/route") keeps the same
// rule (a request to a route still running is answered busy at once, the
// route is free again just before its answer is handed over), which is the
// like-for-like figure for 4 and 20 clients. The main thread's CPU time per delivered answer is
// printed for both (the bare server leaves the main thread idle: its figure
// is the event loop's floor). Rounds alternate and the median is printed.
// Aim: ours at least 0.7x of bare in MB/s; at most 1 ms main-thread work
// per image request.
//
//   httpimages_bench [requests per client and phase] [rounds] [files per alarm folder] [rows]
// (rows: only those whose name holds this text, e.g. "grey whole")
#include "support/programfixture.h"

#include "flow/flowworkevent.h"
#include "foundation/zrc_workinformation_manager.h"
#include "hub/divuvarude.h"
#include "hub/wizardpara.h"
#include "inspection/camera.h"
#include "inspection/cameraimage.h"
#include "inspection/cammersingleton.h"
#include "platform/media/capturebuffer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>

#include <microhttpd.h>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

const QByteArray kBusy = "The previous same url task has not been completed";

struct Figures {
    double mbPerSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double mainCpuMsPerAnswer = 0;
    int busy = 0;
    int failures = 0;
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// `clients` threads, each with `perClient` delivered answers of `expected`
// body bytes; the main thread runs its event loop meanwhile.
Figures load(quint16 port, const QByteArray& request, int expected, int clients, int perClient)
{
    std::vector<std::vector<double>> lat(static_cast<size_t>(clients));
    std::atomic<int> busy{0};
    std::atomic<int> failures{0};
    std::atomic<qint64> bytes{0};
    QEventLoop loop;
    std::atomic<int> running{clients};
    const double cpuBefore = threadCpuMs();
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < perClient; ++i) {
                QElapsedTimer t;
                t.start();
                for (;;) {
                    const testsupport::RawHttpReply r =
                        testsupport::RawHttpReply::parse(testsupport::rawHttpExchange(port, request, 60000));
                    if (r.body.contains(kBusy)) {
                        ++busy;
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        continue;
                    }
                    if (r.body.size() != expected)
                        ++failures;
                    bytes += r.body.size();
                    break;
                }
                lat[size_t(c)].push_back(double(t.nsecsElapsed()) / 1e6);
            }
            if (--running == 0)
                QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
    }
    loop.exec();
    for (auto& t : threads)
        t.join();
    const double secs = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = threadCpuMs() - cpuBefore;
    std::vector<double> all;
    for (auto& v : lat)
        all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    Figures f;
    f.mbPerSecond = double(bytes.load()) / 1e6 / secs;
    f.p50Ms = all[all.size() / 2];
    f.p99Ms = all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
    f.mainCpuMsPerAnswer = cpu / double(all.size());
    f.busy = busy;
    f.failures = failures;
    return f;
}

// ---- the bare library server ----
struct BareRequest {
    MHD_Connection* conn = nullptr;
    std::string url;
    int fd = -1;
    char* built = nullptr;  // a body built from the live images (malloc'd), else the file in fd
    size_t size = 0;
    bool ready = false;
};

// A get_curng_info answer built per request from the live images, the way
// the plainest server would: one buffer, the part heads and JSON fields as
// captured, each image's pixels copied in from where they live, a packed
// mask packed by a plain loop.
struct LiveSegment {
    size_t offset = 0;
    size_t length = 0;
    cv::Mat source;
    bool packed = false;
    cv::Rect scope;
};
struct LiveBody {
    QByteArray captured;
    std::vector<LiveSegment> segments;  // in body order
};

char* buildLive(const LiveBody& b)
{
    char* out = static_cast<char*>(std::malloc(size_t(b.captured.size())));
    size_t at = 0;
    for (const LiveSegment& seg : b.segments) {
        std::memcpy(out + at, b.captured.constData() + at, seg.offset - at);
        if (!seg.packed) {
            std::memcpy(out + seg.offset, seg.source.data, seg.length);
        } else {
            uchar* o = reinterpret_cast<uchar*>(out + seg.offset);
            int bits = 0;
            uchar acc = 0;
            for (int r = seg.scope.y; r < seg.scope.y + seg.scope.height; ++r) {
                const uchar* p = seg.source.ptr(r) + seg.scope.x;
                for (int c = 0; c < seg.scope.width; ++c) {
                    acc = uchar((acc << 1) | (p[c] != 0));
                    if (++bits == 8) {
                        *o++ = acc;
                        bits = 0;
                        acc = 0;
                    }
                }
            }
            if (bits)
                *o = uchar(acc << (8 - bits));
        }
        at = seg.offset + seg.length;
    }
    std::memcpy(out + at, b.captured.constData() + at, size_t(b.captured.size()) - at);
    return out;
}

struct BareServer {
    MHD_Daemon* daemon = nullptr;
    std::mutex m;
    std::condition_variable cv;
    std::deque<BareRequest*> queue;
    bool stop = false;
    std::vector<std::thread> workers;
    std::map<std::string, std::string> files;  // route -> the file it answers with
    std::map<std::string, LiveBody> live;      // route -> the answer it builds (instead of a file)
    bool oneAtATime = false;  // refuse a route still running, as ours does
    std::mutex routesMutex;
    std::vector<std::string> runningRoutes;

    bool takeRoute(const std::string& url)
    {
        std::lock_guard<std::mutex> lock(routesMutex);
        if (std::find(runningRoutes.begin(), runningRoutes.end(), url) != runningRoutes.end())
            return false;
        runningRoutes.push_back(url);
        return true;
    }
    void releaseRoute(const std::string& url)
    {
        std::lock_guard<std::mutex> lock(routesMutex);
        runningRoutes.erase(std::remove(runningRoutes.begin(), runningRoutes.end(), url), runningRoutes.end());
    }

    static MHD_Result access(void* cls, MHD_Connection* c, const char* url, const char*, const char*, const char*,
                             size_t* size, void** con)
    {
        auto* self = static_cast<BareServer*>(cls);
        auto* req = static_cast<BareRequest*>(*con);
        if (!req) {
            req = new BareRequest;
            req->conn = c;
            req->url = url;
            *con = req;
            return MHD_YES;
        }
        if (*size) {
            *size = 0;
            return MHD_YES;
        }
        if (req->ready) {
            MHD_Response* r = req->built ? MHD_create_response_from_buffer(req->size, req->built, MHD_RESPMEM_MUST_FREE)
                                         : MHD_create_response_from_fd(req->size, req->fd);  // takes the fd or buffer
            MHD_add_response_header(r, "Connection", "close");
            MHD_add_response_header(r, "Content-Type", "application/octet-stream");
            MHD_add_response_header(r, "Device-ID", "bench");
            const MHD_Result ok = MHD_queue_response(c, 200, r);
            MHD_destroy_response(r);
            return ok;
        }
        if (self->oneAtATime && !self->takeRoute(req->url)) {
            MHD_Response* r = MHD_create_response_from_buffer(size_t(kBusy.size()), const_cast<char*>(kBusy.constData()),
                                                              MHD_RESPMEM_PERSISTENT);
            MHD_add_response_header(r, "Connection", "close");
            const MHD_Result ok = MHD_queue_response(c, 200, r);
            MHD_destroy_response(r);
            return ok;
        }
        MHD_suspend_connection(c);
        {
            std::lock_guard<std::mutex> lock(self->m);
            self->queue.push_back(req);
        }
        self->cv.notify_one();
        return MHD_YES;
    }
    static void completed(void*, MHD_Connection*, void** con, MHD_RequestTerminationCode)
    {
        delete static_cast<BareRequest*>(*con);
        *con = nullptr;
    }
    quint16 start()
    {
        daemon = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_SUPPRESS_DATE_NO_CLOCK,
                                  0, nullptr, nullptr, &access, this, MHD_OPTION_NOTIFY_COMPLETED, &completed, this,
                                  MHD_OPTION_CONNECTION_LIMIT, 512u, MHD_OPTION_END);
        for (int i = 0; i < 3; ++i) {
            workers.emplace_back([this] {
                for (;;) {
                    BareRequest* req = nullptr;
                    {
                        std::unique_lock<std::mutex> lock(m);
                        cv.wait(lock, [&] { return stop || !queue.empty(); });
                        if (stop)
                            return;
                        req = queue.front();
                        queue.pop_front();
                    }
                    const auto liveBody = live.find(req->url);
                    if (liveBody != live.end()) {
                        req->built = buildLive(liveBody->second);
                        req->size = size_t(liveBody->second.captured.size());
                    } else {
                        req->fd = ::open(files[req->url].c_str(), O_RDONLY | O_CLOEXEC);
                        struct stat st {};
                        ::fstat(req->fd, &st);
                        req->size = size_t(st.st_size);
                    }
                    req->ready = true;
                    if (oneAtATime)
                        releaseRoute(req->url);
                    MHD_resume_connection(req->conn);
                }
            });
        }
        return MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT)->port;
    }
    ~BareServer()
    {
        {
            std::lock_guard<std::mutex> lock(m);
            stop = true;
        }
        cv.notify_all();
        for (auto& t : workers)
            t.join();
        MHD_stop_daemon(daemon);
    }
};

QByteArray post(const QByteArray& route, const QByteArray& json)
{
    return "POST " + route + " HTTP/1.1\r\nHost: c\r\nContent-Type: application/json\r\nConnection: close\r\n"
           "Content-Length: " + QByteArray::number(json.size()) + "\r\n\r\n" + json;
}

Figures median(std::vector<Figures> rounds)
{
    auto mid = [&](auto field) {
        std::vector<double> v;
        for (const Figures& f : rounds)
            v.push_back(double(f.*field));
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    Figures m;
    m.mbPerSecond = mid(&Figures::mbPerSecond);
    m.p50Ms = mid(&Figures::p50Ms);
    m.p99Ms = mid(&Figures::p99Ms);
    m.mainCpuMsPerAnswer = mid(&Figures::mainCpuMsPerAnswer);
    for (const Figures& f : rounds) {
        m.busy += f.busy;
        m.failures += f.failures;
    }
    return m;
}

void print(const char* what, int clients, const Figures& ours, const Figures& bare, const Figures& bareOne,
           const Figures* same, const Figures* sameOne)
{
    std::printf("%-19s %2d clients  ours %7.1f MB/s p50 %6.2f p99 %6.2f ms main %5.3f ms/answer busy %4d fail %d"
                "  | bare file %7.1f MB/s p50 %6.2f p99 %6.2f ms fail %d ratio %.2f"
                "  | 1/route %7.1f MB/s busy %4d fail %d ratio %.2f",
                what, clients, ours.mbPerSecond, ours.p50Ms, ours.p99Ms, ours.mainCpuMsPerAnswer, ours.busy,
                ours.failures, bare.mbPerSecond, bare.p50Ms, bare.p99Ms, bare.failures,
                ours.mbPerSecond / bare.mbPerSecond, bareOne.mbPerSecond, bareOne.busy, bareOne.failures,
                ours.mbPerSecond / bareOne.mbPerSecond);
    if (same && sameOne)
        std::printf("  | bare same work %7.1f MB/s p50 %6.2f p99 %6.2f ms fail %d ratio %.2f"
                    "  | 1/route %7.1f MB/s busy %4d fail %d ratio %.2f",
                    same->mbPerSecond, same->p50Ms, same->p99Ms, same->failures, ours.mbPerSecond / same->mbPerSecond,
                    sameOne->mbPerSecond, sameOne->busy, sameOne->failures, ours.mbPerSecond / sameOne->mbPerSecond);
    std::printf("\n");
}

// Where the images of a captured get_curng_info answer lie in it, to be
// filled from the live frame and mask.
LiveBody liveBodyOf(const QByteArray& body, const cv::Mat& frame, const cv::Mat& mask, const cv::Rect& scope)
{
    LiveBody b;
    b.captured = body;
    auto segment = [&](const char* name, const cv::Mat& source) {
        const int head = body.indexOf(QByteArray("name=\"") + name + "\"\r\n");
        const int data = body.indexOf("\r\n\r\n", head) + 4;
        LiveSegment seg;
        seg.offset = size_t(data);
        seg.source = source;
        seg.packed = !body.mid(head, data - head).contains("Content-Length");
        seg.scope = scope;
        seg.length = seg.packed ? size_t(scope.area() + 7) / 8 : source.total() * source.elemSize();
        if (head < 0 || seg.offset + seg.length > size_t(body.size())
            || body.mid(int(seg.offset + seg.length), 4) != "\r\n--") {
            std::fprintf(stderr, "httpimages_bench: the %s part is not where it was looked for\n", name);
            std::exit(1);
        }
        b.segments.push_back(seg);
    };
    segment("maskmat", mask);
    segment("orgmat", frame);
    std::sort(b.segments.begin(), b.segments.end(),
              [](const LiveSegment& x, const LiveSegment& y) { return x.offset < y.offset; });
    return b;
}

// The detection step of the hub on the main thread, `count` times, each
// asked for from another thread 50 ms after the last (as the IO thread's work
// event is): how long each step took and how long its request waited for the
// main thread. Runs the event loop meanwhile.
struct StepFigures {
    double cpuMs = 0;  // main-thread CPU time of all the steps
    double p50Ms = 0;
    double p99Ms = 0;
    double waitP99Ms = 0;
    double waitMaxMs = 0;
};

StepFigures detectionSteps(DiVuVarude& hub, int count)
{
    std::vector<double> took, waited;
    double cpu = 0;
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread trigger([&] {
        for (int i = 0; i < count && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QElapsedTimer asked;
            asked.start();
            QMetaObject::invokeMethod(&loop, [&, asked, i] {
                waited.push_back(double(asked.nsecsElapsed()) / 1e6);
                QElapsedTimer t;
                t.start();
                const double cpu0 = threadCpuMs();
                SCollect_Unit unit;
                hub.RunAlgorithm_New(1, unit);
                cpu += threadCpuMs() - cpu0;
                took.push_back(double(t.nsecsElapsed()) / 1e6);
                if (i == count - 1)
                    loop.quit();
            }, Qt::QueuedConnection);
        }
    });
    loop.exec();
    done = true;
    trigger.join();
    auto pct = [](std::vector<double> v, double q) {
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, size_t(double(v.size()) * q))];
    };
    return {cpu, pct(took, 0.5), pct(took, 0.99), pct(waited, 0.99), pct(waited, 1.0)};
}

}  // namespace

int main(int argc, char** argv)
{
    // No display needed, as with the programs and the other benchmarks.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int perClientArg = argc > 1 ? std::max(1, atoi(argv[1])) : 0;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    const int folderFiles = argc > 3 ? std::max(0, atoi(argv[3])) : 200;
    const std::string only = argc > 4 ? argv[4] : "";  // only the rows whose name holds this

    testsupport::ProgramFixture f;
    const QString dir = QFileInfo(CameraImage::templatePath(0, "template00.bmp")).path();
    std::vector<uchar> jpeg;
    cv::imencode(".jpg", f.part, jpeg, {cv::IMWRITE_JPEG_QUALITY, 95});
    const QString jpegPath = dir + "/live.jpg";
    {
        QFile j(jpegPath);
        if (!j.open(QIODevice::WriteOnly))
            return 1;
        j.write(reinterpret_cast<const char*>(jpeg.data()), qint64(jpeg.size()));
    }

    BareServer bare;
    BareServer bareOne;
    bareOne.oneAtATime = true;
    bare.files["/jpeg"] = QFileInfo(jpegPath).absoluteFilePath().toStdString();

    // The current step's mask: the regions' area set, their scope known.
    Camera& camera = *f.hub->camera();
    const cv::Rect scope(240, 160, 1400, 760);
    camera.cameraSingleton()->getIgnoreMask(0)(scope).setTo(255);
    camera.cameraSingleton()->setResultMask(camera.cameraSingleton()->getIgnoreMask(0), scope);
    auto registerApp = [](const QString& version) {
        ZRC_WorkInformation_Manager::getInstance()->update_working_info([&](ZRC_WorkInfos& w) {
            w.taken_app_ip = "10.1.1.9";
            w.registered_apps.clear();
            if (!version.isEmpty())
                w.registered_apps["10.1.1.9"].version = version;
        });
    };
    // get_curng_info in each frame kind and mask form: ours' answer captured
    // once per kind, which the bare server sends.
    struct CurNgKind {
        const char* name;
        bool colour;
        const char* version;
    };
    const std::vector<CurNgKind> kinds = {
        {"curng grey whole", false, ""},
        {"curng grey packed", false, "V1.6.7.94"},
        {"curng colour whole", true, ""},
        {"curng colour packed", true, "V1.6.7.94"},
    };
    std::map<std::string, int> sizes;
    std::map<std::string, QByteArray> bodies;
    for (const CurNgKind& k : kinds) {
        camera.cameraImage()->initImage(k.colour);
        registerApp(k.version);
        const QByteArray body = f.request("/dide/context/get_curng_info").raw.body;
        const QString path = QFileInfo(dir + "/../" + QString::fromLatin1(k.name).replace(' ', '_') + ".bin")
                                 .absoluteFilePath();
        QFile c(path);
        if (!c.open(QIODevice::WriteOnly) || c.write(body) != body.size())
            return 1;
        bare.files[std::string("/") + k.name] = path.toStdString();
        sizes[k.name] = int(body.size());
        bodies[k.name] = body;
    }
    bareOne.files = bare.files;
    const quint16 barePort = bare.start();
    const quint16 bareOnePort = bareOne.start();
    BareServer same;
    BareServer sameOne;
    sameOne.oneAtATime = true;
    const quint16 samePort = same.start();
    const quint16 sameOnePort = sameOne.start();
    const quint16 ours = f.port();

    struct Case {
        std::string name;
        QByteArray oursRequest;
        QByteArray bareRequest;
        int bytes;
        int perClientBase;
        bool colour;
        const char* version;
    };
    std::vector<Case> cases = {
        {"getpicture", post("/dide/context/getpicture", R"({"pic_type":"template","pic_detect":0,"pic_name":"live.jpg"})"),
         post("/jpeg", "{}"), int(jpeg.size()), 200, false, ""},
    };
    for (const CurNgKind& k : kinds)
        cases.push_back({k.name, post("/dide/context/get_curng_info", "{}"), post(QByteArray("/") + k.name, "{}"),
                         sizes[k.name], 60, k.colour, k.version});
    std::printf("1920x1080 frame; JPEG %d bytes; get_curng_info grey whole %d, grey packed %d, colour whole %d, "
                "colour packed %d bytes; %d hardware threads\n",
                int(jpeg.size()), sizes["curng grey whole"], sizes["curng grey packed"], sizes["curng colour whole"],
                sizes["curng colour packed"], int(std::thread::hardware_concurrency()));
    for (const Case& c : cases) {
        if (c.name.find(only) == std::string::npos)
            continue;
        camera.cameraImage()->initImage(c.colour);
        registerApp(c.version);
        const bool live = bodies.count(c.name) > 0;
        if (live) {
            // The workers are idle between loads: the maps change only here.
            const LiveBody body = liveBodyOf(bodies[c.name], f.hub->getOrigImage(), f.hub->getOrigMask(), scope);
            same.live["/" + c.name] = body;
            sameOne.live["/" + c.name] = body;
        }
        for (int clients : {1, 4, 20}) {
            const int perClient = perClientArg > 0 ? perClientArg : std::max(3, c.perClientBase / clients);
            load(ours, c.oursRequest, c.bytes, clients, 2);  // warm-up
            load(barePort, c.bareRequest, c.bytes, clients, 2);
            load(bareOnePort, c.bareRequest, c.bytes, clients, 2);
            if (live) {
                load(samePort, c.bareRequest, c.bytes, clients, 2);
                load(sameOnePort, c.bareRequest, c.bytes, clients, 2);
            }
            std::vector<Figures> o, b, b1, s, s1;
            for (int r = 0; r < rounds; ++r) {
                b.push_back(load(barePort, c.bareRequest, c.bytes, clients, perClient));
                b1.push_back(load(bareOnePort, c.bareRequest, c.bytes, clients, perClient));
                if (live) {
                    s.push_back(load(samePort, c.bareRequest, c.bytes, clients, perClient));
                    s1.push_back(load(sameOnePort, c.bareRequest, c.bytes, clients, perClient));
                }
                o.push_back(load(ours, c.oursRequest, c.bytes, clients, perClient));
            }
            const Figures sm = live ? median(s) : Figures();
            const Figures sm1 = live ? median(s1) : Figures();
            print(c.name.c_str(), clients, median(o), median(b), median(b1), live ? &sm : nullptr,
                  live ? &sm1 : nullptr);
        }
    }

    // The detection step while 20 clients ask for images and picture lists.
    // Full alarm folders: `folderFiles` pictures in each OK and NG folder of
    // every step, the limits set to match.
    camera.cameraImage()->initImage(false);
    registerApp("");
    WizardPara& params = *f.hub->params();
    params.h_ngres_count = params.h_okres_count = folderFiles;
    gPicNumNG.store(folderFiles);
    gPicNumOK.store(folderFiles);
    const QByteArray smallJpeg(12 * 1024, 'j');
    for (int step = 0; step < testsupport::ProgramFixture::kSteps; ++step) {
        for (bool ok : {false, true}) {
            const QDir folder = f.hub->alarmDirectory(step, ok);
            for (int i = 0; i < folderFiles; ++i) {
                QFile p(folder.filePath(QStringLiteral("20261211%1_%2.jpg").arg(i, 6, 10, QLatin1Char('0')).arg(step)));
                if (p.open(QIODevice::WriteOnly))
                    p.write(smallJpeg);
            }
        }
    }
    {
        const cv::Mat shown = f.part.clone();
        std::vector<uint8_t> nv12(size_t(shown.total() * 3 / 2), 128);
        std::memcpy(nv12.data(), shown.data, shown.total());
        QMutexLocker lock(pMutex);
        std::memcpy(gImageThread, nv12.data(), std::min(nv12.size(), size_t(platform::captureBufferSize())));
    }
    QElapsedTimer listing;
    listing.start();
    const QJsonObject listed = f.hub->getPicFileList();
    std::printf("getsyspic's listing of the full folders: %.2f ms (off the main thread)\n",
                double(listing.nsecsElapsed()) / 1e6);
    const int steps = 600;  // 30 s a row: the p99 is the 7th slowest step
    detectionSteps(*f.hub, 10);  // warm-up
    const StepFigures idle = detectionSteps(*f.hub, steps);
    const QByteArray listRequest = post("/dide/context/getsyspic", "{}");
    // 20 clients that read each answer and drop it (little CPU of their own),
    // asking in turn for the JPEG, the grey NG info and the picture lists;
    // beside the bare server, the same clients ask for the JPEG and the NG
    // info file (it has no lists): the machine as loaded without our server.
    struct Loaded {
        StepFigures steps;
        int answers = 0;
        double mainMsPerAnswer = 0;
    };
    auto loaded = [&](quint16 port, const std::vector<QByteArray>& mix) {
        std::atomic<bool> stop{false};
        std::atomic<int> answers{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < 20; ++c) {
            clients.emplace_back([&, c] {
                for (int i = c; !stop; ++i) {
                    testsupport::RawHttpConnection conn(port);
                    if (!conn.send(mix[size_t(i) % mix.size()]))
                        continue;
                    while (!conn.readSome(1 << 18, 60000).isEmpty()) {
                    }
                    ++answers;
                }
            });
        }
        const double cpuBefore = threadCpuMs();
        Loaded l;
        l.steps = detectionSteps(*f.hub, steps);
        const double mainCpu = threadCpuMs() - cpuBefore;
        stop = true;
        for (auto& t : clients)
            t.join();
        l.answers = answers;
        l.mainMsPerAnswer = (mainCpu - l.steps.cpuMs) / std::max(1, l.answers);
        return l;
    };
    const Loaded onBare = loaded(barePort, {cases[0].bareRequest, cases[1].bareRequest});
    const Loaded onOurs = loaded(ours, {cases[0].oursRequest, cases[1].oursRequest, listRequest});
    const QJsonObject lists = f.hub->getPicFileList();
    auto row = [&](const char* what, const StepFigures& st, const Loaded* l) {
        std::printf("  %-24s p50 %6.2f ms p99 %6.2f ms  waited for main p99 %6.2f max %6.2f ms  | p99 ratio to idle %.2f",
                    what, st.p50Ms, st.p99Ms, st.waitP99Ms, st.waitMaxMs, st.p99Ms / idle.p99Ms);
        if (l)
            std::printf("  | %d answers, main thread %.3f ms per answer beside the steps", l->answers,
                        l->mainMsPerAnswer);
        std::printf("\n");
    };
    std::printf("detection step every 50 ms (8 picture folders of %d files; getsyspic lists %d names per folder)\n",
                folderFiles,
                int(lists.value("ngresimg_group").toArray().at(0).toString().split(';', Qt::SkipEmptyParts).size()));
    row("idle", idle, nullptr);
    row("20 clients on bare file", onBare.steps, &onBare);
    row("20 clients on ours", onOurs.steps, &onOurs);
    return 0;
}
