// The business object over real sockets: the route table built by the
// "WITH_REGISTER_" walk, every route answering through its thread pattern,
// and the request's user while a handler runs.
#include "foundation/foundationservices.h"
#include "foundation/zrc_workinformation_manager.h"
#include "httpapi/httpservice_mg_business.h"
#include "httpapi/reactorbench.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <future>
#include <map>
#include <mutex>
#include <vector>

using reactorbench::waitUntil;

namespace {

// Records where each handler stage ran before the unbuilt body answers.
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
    void notImplementedYet(const CTask_FormData_Mongoose& req, HandlerStage stage, CLimit_List_WorkingUrl* guard) override
    {
        {
            std::lock_guard<std::mutex> lock(m);
            m_calls.push_back({req.data.url, stage, QThread::currentThread(), OperationRecord_Interface::actingUser(),
                               ZRC_WorkInformation_Manager::getInstance()->get_working_info().user_id});
        }
        HttpService_MG_Business::notImplementedYet(req, stage, guard);
    }

private:
    std::mutex m;
    std::vector<Call> m_calls;
};

HttpBusiness_MG_Config loopbackConfig()
{
    return HttpBusiness_MG_Config{QHostAddress::LocalHost, 0, 50, true, QStringLiteral("/userdata/tmp/")};
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
    ZRC_WorkInformation_Manager::getInstance();
    ObservedService service(loopbackConfig());
    service.start();
    HttpReactor_MG& reactor = *service.reactor();
    ASSERT_TRUE(waitUntil([&] { return reactor.serverPort() != 0 && reactor.isRunning_mg(); }));

    EXPECT_EQ(reactor.cache_routes.keys(), QStringList{"/dide/context/update_system"});
    QStringList all = reactor.routes.keys() + reactor.cache_routes.keys();
    EXPECT_EQ(all.size(), 55);
    EXPECT_TRUE(reactor.routes.contains("/demo"));

    // Which stages run where, by pattern.
    const std::map<QString, QString> patterns = {
        {"/dide/context/heartbeat", "W"},      {"/dide/context/getsyspic", "M"},
        {"/dide/action/manual_catch", "M"},    {"/dide/action/redetect", "W"},
        {"/dide/system/set_userflow", "WM"},   {"/dide/roi/setallparams", "WM"},
        {"/dide/roi/finish_roiset", "WM"},     {"/dide/camera/setparams", "WM"},
        {"/dide/context/update_system", "W"},
    };
    const QString deviceId = ZRC_WorkInformation_Manager::getInstance()->get_deviceid();
    for (const QString& route : all) {
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
        EXPECT_EQ(reply.body, R"({"code":-1,"msg":"not implemented yet: )" + route.toUtf8() + R"(","result":{}})")
            << route.toStdString();
        EXPECT_EQ(reply.header("Device-ID"), deviceId.toUtf8());
        EXPECT_EQ(reply.header("User-Agent"), "app");

        auto it = patterns.find(route);
        if (it == patterns.end())
            continue;
        // The Work stage of WM may come just after the answer.
        waitUntil([&] { return it->second != "WM" || service.calls().size() == 2; }, 2000);
        const auto calls = service.calls();
        if (it->second == "W") {
            ASSERT_EQ(calls.size(), 1u) << route.toStdString();
            EXPECT_NE(calls[0].thread, QThread::currentThread()) << route.toStdString() << " answers on a worker";
        } else if (it->second == "M") {
            ASSERT_EQ(calls.size(), 1u) << route.toStdString();
            EXPECT_EQ(calls[0].thread, QThread::currentThread()) << route.toStdString() << " works on the main thread";
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
    ZRC_WorkInformation_Manager::getInstance();
    ObservedService service(loopbackConfig());
    service.start();
    HttpReactor_MG& reactor = *service.reactor();
    ASSERT_TRUE(waitUntil([&] { return reactor.serverPort() != 0 && reactor.isRunning_mg(); }));

    // alice's main-thread handler waits in the event queue while bob's
    // request is taken by a worker after it: the work block then says bob,
    // but alice's handler still acts as alice.
    auto alice = std::async(std::launch::async, [&] {
        return testsupport::rawHttpExchange(reactor.serverPort(),
                                            "GET /dide/action/countclear HTTP/1.1\r\nHost: t\r\nUser-ID: alice\r\n\r\n");
    });
    QThread::msleep(300);  // taken by a worker, re-posted; the main thread runs no events yet
    const QByteArray bob = testsupport::rawHttpExchange(
        reactor.serverPort(), "GET /dide/context/heartbeat HTTP/1.1\r\nHost: t\r\nUser-ID: bob\r\n\r\n");
    ASSERT_TRUE(bob.startsWith("HTTP/1.1 200 OK"));
    waitUntil([&] { return alice.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready; });
    ASSERT_TRUE(alice.get().startsWith("HTTP/1.1 200 OK"));

    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].url, "/dide/context/heartbeat");
    EXPECT_EQ(calls[0].actingUser, "bob");
    EXPECT_EQ(calls[1].url, "/dide/action/countclear");
    EXPECT_EQ(calls[1].actingUser, "alice");
    EXPECT_EQ(calls[1].workBlockUser, "bob") << "the work block keeps the last request's user";

    // A request without "User-ID" clears the work block's user.
    service.clear();
    ASSERT_TRUE(exchangeWhileRunningEvents(reactor.serverPort(), "GET /dide/context/heartbeat HTTP/1.1\r\nHost: t\r\n\r\n")
                    .startsWith("HTTP/1.1 200 OK"));
    ASSERT_EQ(service.calls().size(), 1u);
    EXPECT_EQ(service.calls()[0].workBlockUser, "");
    EXPECT_EQ(service.calls()[0].actingUser, "");
}

TEST(HttpServiceTest, ListToJsonArray)
{
    EXPECT_EQ(HttpService_MG_Business::func_list_2_jsonarray({}), QJsonArray());
    EXPECT_EQ(HttpService_MG_Business::func_list_2_jsonarray({"a", "b"}), QJsonArray({"a", "b"}));
}
