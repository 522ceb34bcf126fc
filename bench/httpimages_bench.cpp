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
//   httpimages_bench [requests per client and phase] [rounds]
#include "support/programfixture.h"

#include "inspection/cameraimage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

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
#include <deque>
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
    size_t size = 0;
    bool ready = false;
};

struct BareServer {
    MHD_Daemon* daemon = nullptr;
    std::mutex m;
    std::condition_variable cv;
    std::deque<BareRequest*> queue;
    bool stop = false;
    std::vector<std::thread> workers;
    std::string jpegPath;
    std::string curngPath;
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
            MHD_Response* r = MHD_create_response_from_fd(req->size, req->fd);  // takes the fd
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
                    const std::string& path = req->url == "/jpeg" ? jpegPath : curngPath;
                    req->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
                    struct stat st {};
                    ::fstat(req->fd, &st);
                    req->size = size_t(st.st_size);
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

void print(const char* what, int clients, const Figures& ours, const Figures& bare, const Figures& bareOne)
{
    std::printf("%-15s %2d clients  ours %7.1f MB/s p50 %7.2f p99 %7.2f ms main %5.3f ms/answer busy %5d fail %d"
                "  | bare %7.1f MB/s p50 %7.2f p99 %7.2f ms main %5.3f ms/answer fail %d  | ratio %.2f"
                "  | bare 1/route %7.1f MB/s busy %5d fail %d  | ratio %.2f\n",
                what, clients, ours.mbPerSecond, ours.p50Ms, ours.p99Ms, ours.mainCpuMsPerAnswer, ours.busy,
                ours.failures, bare.mbPerSecond, bare.p50Ms, bare.p99Ms, bare.mainCpuMsPerAnswer, bare.failures,
                ours.mbPerSecond / bare.mbPerSecond, bareOne.mbPerSecond, bareOne.busy, bareOne.failures,
                ours.mbPerSecond / bareOne.mbPerSecond);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int perClientArg = argc > 1 ? std::max(1, atoi(argv[1])) : 0;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;

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
    // Ours' get_curng_info answer, captured once: the bare server sends
    // these bytes.
    const QByteArray curngBody = f.request("/dide/context/get_curng_info").raw.body;
    const QString curngPath = dir + "/../curng.bin";
    {
        QFile c(curngPath);
        if (!c.open(QIODevice::WriteOnly))
            return 1;
        c.write(curngBody);
    }

    BareServer bare;
    bare.jpegPath = jpegPath.toStdString();
    bare.curngPath = QFileInfo(curngPath).absoluteFilePath().toStdString();
    const quint16 barePort = bare.start();
    BareServer bareOne;
    bareOne.jpegPath = bare.jpegPath;
    bareOne.curngPath = bare.curngPath;
    bareOne.oneAtATime = true;
    const quint16 bareOnePort = bareOne.start();
    const quint16 ours = f.port();

    struct Case {
        const char* name;
        QByteArray oursRequest;
        QByteArray bareRequest;
        int bytes;
        int perClientBase;
    };
    const std::vector<Case> cases = {
        {"getpicture", post("/dide/context/getpicture", R"({"pic_type":"template","pic_detect":0,"pic_name":"live.jpg"})"),
         post("/jpeg", "{}"), int(jpeg.size()), 200},
        {"get_curng_info", post("/dide/context/get_curng_info", "{}"), post("/curng", "{}"), int(curngBody.size()), 60},
    };
    std::printf("1920x1080 grey frame; JPEG %d bytes; get_curng_info (whole mask) %d bytes; %d hardware threads\n",
                int(jpeg.size()), int(curngBody.size()), int(std::thread::hardware_concurrency()));
    for (const Case& c : cases) {
        for (int clients : {1, 4, 20}) {
            const int perClient = perClientArg > 0 ? perClientArg : std::max(3, c.perClientBase / clients);
            load(ours, c.oursRequest, c.bytes, clients, 2);  // warm-up
            load(barePort, c.bareRequest, c.bytes, clients, 2);
            load(bareOnePort, c.bareRequest, c.bytes, clients, 2);
            std::vector<Figures> o, b, b1;
            for (int r = 0; r < rounds; ++r) {
                b.push_back(load(barePort, c.bareRequest, c.bytes, clients, perClient));
                b1.push_back(load(bareOnePort, c.bareRequest, c.bytes, clients, perClient));
                o.push_back(load(ours, c.oursRequest, c.bytes, clients, perClient));
            }
            print(c.name, clients, median(o), median(b), median(b1));
        }
    }
    return 0;
}
