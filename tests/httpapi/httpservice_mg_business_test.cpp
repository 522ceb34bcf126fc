// The business object over real sockets: the route table built by the
// "WITH_REGISTER_" walk, every route answering through its thread pattern,
// the request's user while a handler runs, and the same-URL rule of main
// thread handlers.
#include "foundation/foundationservices.h"
#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/reactorbench.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <vector>

using reactorbench::waitUntil;

namespace {

// Records where each handler stage ran.
class ObservedService : public HttpService_MG_Business {
public:
    using HttpService_MG_Business::HttpService_MG_Business;
    using HttpService_MG_Business::HandlerStage;
    struct Call {
        QString url;
        HandlerStage stage;
        QThread* thread;
        QString actingUser;
        std::string workBlockUser;
    };
    std::vector<Call> calls()
    {
        std::lock_guard<std::mutex> lock(m);
        return m_calls;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        m_calls.clear();
    }

protected:
    void stageEntered(const CTask_FormData_Mongoose& req, HandlerStage stage) override
    {
        std::lock_guard<std::mutex> lock(m);
        m_calls.push_back({req.data.url, stage, QThread::currentThread(), OperationRecord_Interface::actingUser(),
                           ZRC_WorkInformation_Manager::getInstance()->get_working_info().user_id});
    }

private:
    std::mutex m;
    std::vector<Call> m_calls;
};

HttpBusiness_MG_Config loopbackConfig()
{
    return HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, true, QStringLiteral("/userdata/tmp/")};
}

// Starts the service; true once its reactor listens and its loop turns.
bool startedAndServing(ObservedService& service)
{
    ZRC_WorkInformation_Manager::getInstance();
    service.start();
    HttpReactor_MG& reactor = *service.reactor();
    return waitUntil([&] { return reactor.serverPort() != 0 && reactor.isRunning_mg(); });
}

// Sends on another thread while this (the main) thread runs its events.
QByteArray exchangeWhileRunningEvents(quint16 port, const QByteArray& request)
{
    auto reply = std::async(std::launch::async, [&] { return testsupport::rawHttpExchange(port, request, 8000); });
    waitUntil([&] { return reply.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; }, 9000);
    return reply.get();
}

}  // namespace

TEST(HttpServiceTest, EveryRouteAnswersThroughItsPattern)
{
    ObservedService service(loopbackConfig());
    ASSERT_TRUE(startedAndServing(service));
    HttpReactor_MG& reactor = *service.reactor();

    EXPECT_EQ(reactor.cache_routes.keys(), QStringList{"/dide/context/update_system"});
    QStringList all = reactor.routes.keys() + reactor.cache_routes.keys();
    EXPECT_EQ(all.size(), 55);
    EXPECT_TRUE(reactor.routes.contains("/demo"));

    // Which stages run where, by pattern.
    const std::map<QString, QString> patterns = {
        {"/dide/action/countclear", "M"},      {"/dide/context/heartbeat", "W"},
        {"/dide/context/getsyspic", "M"},      {"/dide/context/record_list", "W"},
        {"/dide/action/manual_catch", "M"},    {"/dide/action/redetect", "W"},
        {"/dide/system/set_userflow", "WM"},   {"/dide/roi/setallparams", "M"},
        {"/dide/roi/finish_roiset", "WM"},     {"/dide/camera/setparams", "WM"},
    };
    // Routes that act on what they are sent (an upload installs, an export
    // packs and pushes, a device search waits for answers): tested in their
    // own files; here only that they are registered.
    const QStringList acting = {"/dide/context/update_system", "/dide/context/getproject_storage",
                                "/dide/context/lan_all_devices"};
    const QString deviceId = ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
    for (const QString& route : all) {
        if (acting.contains(route))
            continue;
        service.clear();
        const QByteArray raw = exchangeWhileRunningEvents(
            reactor.serverPort(), "POST " + route.toUtf8() + " HTTP/1.1\r\nHost: t\r\nUser-Agent: app\r\nContent-Length: 2\r\n\r\n{}");
        const auto reply = testsupport::RawHttpReply::parse(raw);
        if (route == "/demo") {
            EXPECT_EQ(reply.statusLine, "HTTP/1.1 400 Bad Request");
            EXPECT_EQ(reply.header("Content-Type"), "text/html; charset=UTF-8");
            EXPECT_EQ(QString::fromUtf8(reply.body), QString::fromUtf8("json参数错误dide_daemon_main_runstate"));
            continue;
        }
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK") << route.toStdString();
        // Without the program around it a built handler refuses or answers
        // what it can (images and pages are not envelopes); never the -1 of
        // an unanswered request or an escaped exception.
        const QJsonObject envelope = QJsonDocument::fromJson(reply.body).object();
        if (!envelope.isEmpty()) {
            EXPECT_NE(envelope.value("code").toInt(), -1) << route.toStdString() << " is answered by its own handler";
        }
        const bool refused = envelope.value("code").toInt() == 1;
        EXPECT_EQ(reply.header("Device-ID"), deviceId.toUtf8());
        EXPECT_EQ(reply.header("User-Agent"), "app");

        auto it = patterns.find(route);
        if (it == patterns.end())
            continue;
        // The Work stage of WM may come just after the answer; a refused WM
        // request has none.
        waitUntil([&] { return it->second != "WM" || refused || service.calls().size() == 2; }, 2000);
        const auto calls = service.calls();
        if (it->second == "W") {
            ASSERT_EQ(calls.size(), 1u) << route.toStdString();
            EXPECT_NE(calls[0].thread, QThread::currentThread()) << route.toStdString() << " answers on a worker";
        } else if (it->second == "M") {
            ASSERT_EQ(calls.size(), 1u) << route.toStdString();
            EXPECT_EQ(calls[0].thread, QThread::currentThread()) << route.toStdString() << " works on the main thread";
        } else if (refused) {
            ASSERT_EQ(calls.size(), 1u) << route.toStdString();
            EXPECT_NE(calls[0].thread, QThread::currentThread()) << route.toStdString() << " refuses on a worker";
        } else {
            ASSERT_EQ(calls.size(), 2u) << route.toStdString();
            EXPECT_EQ(calls[0].stage, ObservedService::HandlerStage::Answer);
            EXPECT_NE(calls[0].thread, QThread::currentThread()) << route.toStdString() << " answers on a worker";
            EXPECT_EQ(calls[1].stage, ObservedService::HandlerStage::Work);
            EXPECT_EQ(calls[1].thread, QThread::currentThread()) << route.toStdString() << " then works on main";
        }
    }
}

TEST(HttpServiceTest, TheRequestsUserActsWhileItsHandlerRuns)
{
    ObservedService service(loopbackConfig());
    ASSERT_TRUE(startedAndServing(service));
    HttpReactor_MG& reactor = *service.reactor();

    // alice's main-thread handler waits in the event queue while bob's
    // request is taken by a worker after it: the work block then says bob,
    // but alice's handler still acts as alice.
    auto alice = std::async(std::launch::async, [&] {
        return testsupport::rawHttpExchange(reactor.serverPort(),
                                            "GET /dide/action/countclear HTTP/1.1\r\nHost: t\r\nUser-ID: alice\r\n\r\n");
    });
    QThread::msleep(300);  // taken by a worker, re-posted; the main thread runs no events yet
    const QByteArray bob = testsupport::rawHttpExchange(
        reactor.serverPort(), "GET /dide/action/redetect HTTP/1.1\r\nHost: t\r\nUser-ID: bob\r\n\r\n");
    ASSERT_TRUE(bob.startsWith("HTTP/1.1 200 OK"));
    waitUntil([&] { return alice.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    ASSERT_TRUE(alice.get().startsWith("HTTP/1.1 200 OK"));

    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].url, "/dide/action/redetect");
    EXPECT_EQ(calls[0].actingUser, "bob");
    EXPECT_EQ(calls[1].url, "/dide/action/countclear");
    EXPECT_EQ(calls[1].actingUser, "alice");
    EXPECT_EQ(calls[1].workBlockUser, "bob") << "the work block keeps the last request's user";

    // A request without "User-ID" clears the work block's user.
    service.clear();
    ASSERT_TRUE(exchangeWhileRunningEvents(reactor.serverPort(), "GET /dide/action/redetect HTTP/1.1\r\nHost: t\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK"));
    ASSERT_EQ(service.calls().size(), 1u);
    EXPECT_EQ(service.calls()[0].workBlockUser, "");
    EXPECT_EQ(service.calls()[0].actingUser, "");
}

// A main-thread handler takes its URL only when the main thread runs it: a
// second request for the same route, arriving while the first waits for the
// main thread, is queued rather than refused as a same-URL request, and both
// are answered once the main thread runs.
TEST(HttpServiceTest, ASecondMainRequestPassesWhileTheFirstWaitsForTheMainThread)
{
    ObservedService service(loopbackConfig());
    ASSERT_TRUE(startedAndServing(service));
    HttpReactor_MG& reactor = *service.reactor();
    std::atomic<int> taken{0};
    QObject::connect(&reactor, &HttpReactor_MG::sigRecvMessage, &reactor,
                     [&](const CTask_FormData_Mongoose&) { ++taken; }, Qt::DirectConnection);
    // Waits on this (the main) thread without running its events.
    const auto takenReaches = [&](int n) {
        QElapsedTimer t;
        t.start();
        while (taken.load() < n && t.elapsed() < 20000)
            QThread::msleep(2);
        return taken.load() >= n;
    };

    const QByteArray request = "GET /dide/context/getsyspic HTTP/1.1\r\nHost: t\r\n\r\n";
    const quint16 port = reactor.serverPort();
    auto first = std::async(std::launch::async, [&] { return testsupport::rawHttpExchange(port, request, 30000); });
    ASSERT_TRUE(takenReaches(1));
    auto second = std::async(std::launch::async, [&] { return testsupport::rawHttpExchange(port, request, 30000); });
    ASSERT_TRUE(takenReaches(2)) << "the second request was not handed to a worker";
    EXPECT_TRUE(service.calls().empty()) << "neither handler has run on the main thread yet";

    const auto ready = [](std::future<QByteArray>& f) {
        return f.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    };
    ASSERT_TRUE(waitUntil([&] { return ready(first) && ready(second); }, 30000));
    const QByteArray body = R"({"code":0,"msg":"OK","result":{}})";  // no hub here: no pictures
    for (std::future<QByteArray>* reply : {&first, &second}) {
        const auto parsed = testsupport::RawHttpReply::parse(reply->get());
        EXPECT_EQ(parsed.statusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(parsed.body, body);
    }
    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 2u);
    for (const auto& call : calls)
        EXPECT_EQ(call.thread, QThread::currentThread());
}

TEST(HttpServiceTest, ListToJsonArray)
{
    EXPECT_EQ(HttpService_MG_Business::func_list_2_jsonarray({}), QJsonArray());
    EXPECT_EQ(HttpService_MG_Business::func_list_2_jsonarray({"a", "b"}), QJsonArray({"a", "b"}));
}
