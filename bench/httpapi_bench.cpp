// The HTTP control API under 16 concurrent clients (one request per
// connection, "Connection: close"), beside a bare libmicrohttpd server in the
// same run doing the same work the plainest way the library allows: its own
// polling thread, requests suspended and handed to 3 worker threads, which
// build the same JSON envelope and resume the connection.
//
//   ours W:  distinct worker routes of HttpService_MG_Business whose handlers
//            do nothing but answer the plain envelope (a route that looks up
//            records or files would time that work too, which the bare
//            server does not do)
//   ours M:  a route whose handler re-posts itself to the main thread
//   bare:    the library server above
//
// Prints requests per second, p50 and p99 of each, and the ratios to bare;
// then, load-independent, the instructions (user space, every thread of the
// process, the load client included: it is the same in every phase) and the
// context switches of the process per request. The phases alternate over a
// few rounds and the median of each is printed, so a busy machine moves both.
// Messages go through the program's log front end with the category list a
// running camera has (only "level_1"), into log files in a scratch folder,
// so the per-request info lines cost what they cost in the program.
#include "foundation/logmanager.h"
#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/httpservice_mg_business.h"
#include "platform/system/dataroot.h"
#include "support/rawhttpclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <microhttpd.h>

#include <linux/perf_event.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

constexpr int kClients = 16;
int kPerClient = 400;

struct Figures {
    double perSecond = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    int failures = 0;
    double instructionsPerRequest = -1;  // -1: the counter is not available here
    double switchesPerRequest = 0;
};

// User-space instructions of every thread of this process: opened before the
// first thread starts, inherited by each thread started afterwards.
class InstructionCounter {
public:
    InstructionCounter()
    {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_HARDWARE;
        attr.size = sizeof attr;
        attr.config = PERF_COUNT_HW_INSTRUCTIONS;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        attr.inherit = 1;
        m_fd = static_cast<int>(::syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    }
    ~InstructionCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // -1 when the counter is not available.
    qint64 read() const
    {
        quint64 v = 0;
        if (m_fd < 0 || ::read(m_fd, &v, sizeof v) != sizeof v)
            return -1;
        return static_cast<qint64>(v);
    }

private:
    int m_fd = -1;
};

InstructionCounter* g_instructions = nullptr;

qint64 contextSwitches()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw + u.ru_nivcsw;
}

// 16 clients, each sending kPerClient requests for targets[i % n].
Figures load(quint16 port, const std::vector<QByteArray>& targets)
{
    std::vector<std::vector<double>> lat(kClients);
    std::atomic<int> failures{0};
    const qint64 instructionsBefore = g_instructions ? g_instructions->read() : -1;
    const qint64 switchesBefore = contextSwitches();
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
    const qint64 instructionsAfter = g_instructions ? g_instructions->read() : -1;
    const qint64 switchesAfter = contextSwitches();
    std::vector<double> all;
    for (auto& v : lat)
        all.insert(all.end(), v.begin(), v.end());
    std::sort(all.begin(), all.end());
    Figures f;
    f.perSecond = double(all.size()) / secs;
    f.p50Ms = all[all.size() / 2];
    f.p99Ms = all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
    f.failures = failures;
    if (instructionsBefore >= 0 && instructionsAfter >= 0)
        f.instructionsPerRequest = double(instructionsAfter - instructionsBefore) / double(all.size());
    f.switchesPerRequest = double(switchesAfter - switchesBefore) / double(all.size());
    return f;
}

// ---- the bare library server ----
struct BareRequest {
    MHD_Connection* conn = nullptr;
    std::string url;
    std::string userAgent;
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
            MHD_add_response_header(r, "User-Agent", req->userAgent.c_str());
            const MHD_Result ok = MHD_queue_response(c, 200, r);
            MHD_destroy_response(r);
            return ok;
        }
        if (const char* agent = MHD_lookup_connection_value(c, MHD_HEADER_KIND, "User-Agent"))
            req->userAgent = agent;
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
                    // The envelope of a handler that fills nothing.
                    QJsonObject envelope{{"code", 0}, {"msg", QStringLiteral("OK")}, {"result", QJsonObject()}};
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

// Runs `f` on another thread while this thread runs the event loop, asleep
// until an event comes (a spinning loop would take a core from the servers).
template <typename F>
Figures whileRunningEvents(F f)
{
    QEventLoop loop;
    Figures out;
    std::thread runner([&] {
        out = f();
        QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec();
    runner.join();
    return out;
}

// The median round of each figure.
Figures median(std::vector<Figures> rounds)
{
    auto mid = [&](auto field) {
        std::vector<double> v;
        for (const Figures& f : rounds)
            v.push_back(f.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    Figures m;
    m.perSecond = mid(&Figures::perSecond);
    m.p50Ms = mid(&Figures::p50Ms);
    m.p99Ms = mid(&Figures::p99Ms);
    m.instructionsPerRequest = mid(&Figures::instructionsPerRequest);
    m.switchesPerRequest = mid(&Figures::switchesPerRequest);
    for (const Figures& f : rounds)
        m.failures += f.failures;
    return m;
}

void print(const char* name, const Figures& f, const Figures& bare)
{
    std::printf("%-34s %9.0f req/s  p50 %6.2f ms  p99 %6.2f ms  ratio to bare %.2f  (failures %d)\n", name, f.perSecond,
                f.p50Ms, f.p99Ms, f.perSecond / bare.perSecond, f.failures);
    if (f.instructionsPerRequest >= 0)
        std::printf("%-34s %9.0f instructions/request (%.2f x bare)  %.2f context switches/request\n", "",
                    f.instructionsPerRequest, f.instructionsPerRequest / bare.instructionsPerRequest,
                    f.switchesPerRequest);
    else
        std::printf("%-34s %9s instructions/request (no counter)  %.2f context switches/request\n", "", "-",
                    f.switchesPerRequest);
}

}  // namespace

int main(int argc, char** argv)
{
    InstructionCounter instructions;  // before any thread starts
    g_instructions = &instructions;
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    platform::DataRoot::setRoot(root.path());
    LogManager_Config logs;
    logs.glog_dir = QStringLiteral("/log/");
    logs.stdlog_dir = QStringLiteral("/log_stdout/");
    logs.log_to_stderr = false;
    LogManager::getInstance(logs);
    LogManager::setLogInfoLevel({QStringLiteral("level_1")});
    ZRC_WorkInformation_Manager::getInstance();

    HttpService_MG_Business service(HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, false, "/userdata/tmp/"});
    service.start();
    while (service.reactor()->serverPort() == 0)
        QThread::msleep(5);
    const quint16 ours = service.reactor()->serverPort();
    BareServer bare;
    const quint16 barePort = bare.start();

    const std::vector<QByteArray> wRoutes = {"/dide/context/heartbeat", "/dide/context/setcamcntstatus",
                                             "/dide/httpapi/publisher_picture_detect"};
    const std::vector<QByteArray> mRoute = {"/dide/system/getparams"};
    // Optional arguments: requests per client, rounds, and "bare" or "ours"
    // to run one server only (for a profiler's counts).
    const QStringList args = app.arguments();
    if (args.size() > 1)
        kPerClient = std::max(1, args.at(1).toInt());
    const int kRounds = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 5;
    const QString only = args.size() > 3 ? args.at(3) : QString();
    if (only == QLatin1String("bare") || only == QLatin1String("ours")) {
        const quint16 p = only == QLatin1String("bare") ? barePort : ours;
        for (int r = 0; r < kRounds; ++r) {
            const Figures f = whileRunningEvents([&] { return load(p, wRoutes); });
            print(qPrintable(only), f, f);
        }
        return 0;
    }

    // Warm-up of both; then rounds of the three phases, all in the same
    // harness (the main thread runs its event loop beside the load).
    whileRunningEvents([&] { return load(ours, wRoutes); });
    whileRunningEvents([&] { return load(barePort, wRoutes); });

    std::vector<Figures> bareRounds, oursWRounds, oursMRounds;
    for (int r = 0; r < kRounds; ++r) {
        bareRounds.push_back(whileRunningEvents([&] { return load(barePort, wRoutes); }));
        oursWRounds.push_back(whileRunningEvents([&] { return load(ours, wRoutes); }));
        oursMRounds.push_back(whileRunningEvents([&] { return load(ours, mRoute); }));
    }
    const Figures bareW = median(bareRounds);
    const Figures oursW = median(oursWRounds);
    const Figures oursM = median(oursMRounds);
    std::printf("%d clients, %d requests each, one connection per request; median of %d rounds\n", kClients,
                kPerClient, kRounds);
    print("bare libmicrohttpd, 3 workers", bareW, bareW);
    print("ours, worker routes", oursW, bareW);
    print("ours, main-thread route", oursM, bareW);
    return 0;
}
