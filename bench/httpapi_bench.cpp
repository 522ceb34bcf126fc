// The HTTP control API under 16 concurrent clients (one request per
// connection, "Connection: close"), beside a bare libmicrohttpd server in the
// same run doing the same work the plainest way the library allows: its own
// polling thread, requests suspended and handed to 3 worker threads, which
// build the same JSON envelope and resume the connection.
//
//   ours W:  distinct worker routes of HttpService_MG_Business
//   ours M:  a route whose handler re-posts itself to the main thread
//   bare:    the library server above
//
// Prints requests per second, p50 and p99 of each, and the ratios to bare.
// Log messages are dropped, as the program's filter drops the per-request
// info lines in normal operation.
#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/httpservice_mg_business.h"
#include "platform/system/dataroot.h"
#include "support/rawhttpclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kClients = 16;
constexpr int kPerClient = 400;

struct Figures {
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    int failures = 0;
};

// 16 clients, each sending kPerClient requests for targets[i % n].
Figures load(quint16 port, const std::vector<QByteArray>& targets)
{
    std::vector<std::vector<double>> lat(kClients);
    std::atomic<int> failures{0};
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < kPerClient; ++i) {
                const QByteArray& target = targets[(c + i) % targets.size()];
                QElapsedTimer t;
                t.start();
                const QByteArray reply = testsupport::rawHttpExchange(
                    port, "GET " + target + " HTTP/1.1\r\nHost: b\r\nUser-Agent: bench\r\nConnection: close\r\n\r\n");
                lat[c].push_back(double(t.nsecsElapsed()) / 1e6);
                if (!reply.startsWith("HTTP/1.1 200"))
                    failures++;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    const double secs = double(wall.nsecsElapsed()) / 1e9;
    std::vector<double> all;
    for (auto& v : lat)
        all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    Figures f;
    f.perSecond = double(all.size()) / secs;
    f.p50Ms = all[all.size() / 2];
    f.p99Ms = all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
    f.failures = failures;
    return f;
}

// ---- the bare library server ----
struct BareRequest {
    MHD_Connection* conn = nullptr;
    std::string url;
    std::string reply;
    bool suspended = false;
    bool ready = false;
};

struct BareServer {
    MHD_Daemon* daemon = nullptr;
    std::mutex m;
    std::condition_variable cv;
    std::deque<BareRequest*> queue;
    bool stop = false;
    std::vector<std::thread> workers;

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
            MHD_Response* r = MHD_create_response_from_buffer(req->reply.size(), req->reply.data(), MHD_RESPMEM_MUST_COPY);
            MHD_add_response_header(r, "Connection", "close");
            MHD_add_response_header(r, "Content-Type", "application/json");
            MHD_add_response_header(r, "Device-ID", "bench");
            MHD_add_response_header(r, "User-Agent", "bench");
            const MHD_Result ok = MHD_queue_response(c, 200, r);
            MHD_destroy_response(r);
            return ok;
        }
        req->suspended = true;
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
                    QJsonObject envelope{{"code", -1},
                                         {"msg", QStringLiteral("not implemented yet: %1").arg(QString::fromStdString(req->url))},
                                         {"result", QJsonObject()}};
                    req->reply = QJsonDocument(envelope).toJson(QJsonDocument::Compact).toStdString();
                    req->ready = true;
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

// Runs `f` on another thread while this thread runs the event loop.
template <typename F>
Figures whileRunningEvents(F f)
{
    auto result = std::async(std::launch::async, f);
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return result.get();
}

void print(const char* name, const Figures& f, const Figures& bare)
{
    std::printf("%-34s %9.0f req/s  p50 %6.2f ms  p99 %6.2f ms  ratio to bare %.2f  (failures %d)\n", name, f.perSecond,
                f.p50Ms, f.p99Ms, f.perSecond / bare.perSecond, f.failures);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QTemporaryDir root;
    platform::DataRoot::setRoot(root.path());
    ZRC_WorkInformation_Manager::getInstance();

    HttpService_MG_Business service(HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, false, "/userdata/tmp/"});
    service.start();
    while (service.reactor()->serverPort() == 0)
        QThread::msleep(5);
    const quint16 ours = service.reactor()->serverPort();
    BareServer bare;
    const quint16 barePort = bare.start();

    const std::vector<QByteArray> wRoutes = {"/dide/context/heartbeat", "/dide/context/record",
                                             "/dide/context/getpicture", "/dide/httpapi/subscriber"};
    const std::vector<QByteArray> mRoute = {"/dide/system/getparams"};
    // Warm-up of both.
    whileRunningEvents([&] { return load(ours, wRoutes); });
    load(barePort, wRoutes);

    const Figures bareW = load(barePort, wRoutes);
    const Figures oursW = whileRunningEvents([&] { return load(ours, wRoutes); });
    const Figures oursM = whileRunningEvents([&] { return load(ours, mRoute); });
    std::printf("%d clients, %d requests each, one connection per request\n", kClients, kPerClient);
    print("bare libmicrohttpd, 3 workers", bareW, bareW);
    print("ours, worker routes", oursW, bareW);
    print("ours, main-thread route", oursM, bareW);
    return 0;
}
