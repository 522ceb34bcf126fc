// The reactor over real sockets on 127.0.0.1: refusals byte for byte,
// screening once the body is in, request parsing, threads, liveness and the
// answer of a request no handler answered.
#include "foundation/foundationservices.h"
#include "httpapi/reactorbench.h"
#include "platform/system/monotonicclock.h"
#include "support/logcapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSemaphore>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using reactorbench::answerJson;
using reactorbench::Bench;
using reactorbench::waitUntil;

namespace {

const QByteArray k404Page =
    "<html>  <head>    <title>404 Not Found</title>  </head>  <body>    <h1>404 Not Found</h1>    <p>The requested "
    "URL was not found on this server.</p>  </body></html>";

QByteArray chunked(const QByteArray& head, qint64 total)
{
    Q_UNUSED(head);
    QByteArray out;
    const QByteArray piece(1 << 20, 'z');
    for (qint64 sent = 0; sent < total; sent += piece.size())
        out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    return out + "0\r\n\r\n";
}

}  // namespace

TEST(HttpReactorTest, ImmediateRefusalsByteForByte)
{
    Bench b;
    b.reactor.routes.insert("/dide/action/setstatus", [&](const CTask_FormData_Mongoose& r) { answerJson(b.reactor, r); });
    ASSERT_TRUE(b.start());
    const QByteArray tooLarge = "Payload Too Large, MG_MAX_RECV_SIZE is 20971520\n";
    struct Case { const char* name; QByteArray request; QByteArray reply; };
    const Case cases[] = {
        {"unknown route", "GET /dide/none HTTP/1.1\r\nHost: t\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: "
             + QByteArray::number(k404Page.size()) + "\r\n\r\n" + k404Page},
        {"percent-encoded path is not decoded", "GET /dide/%61ction/setstatus HTTP/1.1\r\nHost: t\r\n\r\n",
         "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: "
             + QByteArray::number(k404Page.size()) + "\r\n\r\n" + k404Page},
        {"declared body at the limit, refused before the body",
         "POST /dide/action/setstatus HTTP/1.1\r\nHost: t\r\nContent-Length: 20971520\r\n\r\n",
         "HTTP/1.1 413 Content Too Large\r\nConnection: close\r\nContent-Length: 48\r\n\r\n" + tooLarge},
        {"chunked body past the limit, refused at its end",
         "POST /dide/action/setstatus HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"
             + chunked({}, 21 << 20),
         "HTTP/1.1 413 Content Too Large\r\nConnection: close\r\nContent-Length: 48\r\n\r\n" + tooLarge},
    };
    for (const Case& c : cases)
        EXPECT_EQ(b.raw(c.request), c.reply) << c.name;

    // One byte below the limit passes to the route.
    const QByteArray body(20971519, 'x');
    const QByteArray ok = b.raw("POST /dide/action/setstatus HTTP/1.1\r\nHost: t\r\nContent-Length: 20971519\r\n\r\n" + body);
    EXPECT_TRUE(ok.startsWith("HTTP/1.1 200 OK\r\n")) << ok.left(200).toStdString();
}

TEST(HttpReactorTest, QueueLimitWithEveryWorkerHeld)
{
    Bench b;
    QSemaphore hold;
    std::atomic<int> entered{0};
    b.reactor.routes.insert("/dide/context/heartbeat", [&](const CTask_FormData_Mongoose& r) {
        entered++;
        hold.acquire();
        answerJson(b.reactor, r);
    });
    ASSERT_TRUE(b.start());
    const QByteArray request = "GET /dide/context/heartbeat HTTP/1.1\r\nHost: t\r\n\r\n";
    std::vector<std::unique_ptr<testsupport::RawHttpConnection>> held;
    for (int i = 0; i < 3; ++i) {
        held.push_back(std::make_unique<testsupport::RawHttpConnection>(b.port()));
        ASSERT_TRUE(held.back()->send(request));
    }
    ASSERT_TRUE(waitUntil([&] { return entered.load() == 3; })) << "three workers hold a request each";
    // 51 wait in the queue ...
    for (int i = 0; i < 51; ++i) {
        held.push_back(std::make_unique<testsupport::RawHttpConnection>(b.port()));
        ASSERT_TRUE(held.back()->send(request));
    }
    QThread::msleep(200);
    // ... the next is refused.
    const QByteArray refused = b.raw(request);
    const QByteArray text = "Service _Queue_RecvDatas is full.";
    EXPECT_EQ(refused, "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Type: text/html; "
                       "charset=UTF-8\r\nContent-Length: " + QByteArray::number(text.size()) + "\r\n\r\n" + text);
    hold.release(1000);
    for (auto& c : held)
        EXPECT_TRUE(c->readAll().startsWith("HTTP/1.1 200 OK")) << "every waiting request is answered";
}

TEST(HttpReactorTest, SameUrlRuleAndItsSwitch)
{
    for (bool onlyUrl : {true, false}) {
        Bench b;
        b.reactor.set_limit_onlyurl(onlyUrl);
        QSemaphore hold;
        std::atomic<int> running{0}, maxRunning{0};
        b.reactor.routes.insert("/dide/context/record", [&](const CTask_FormData_Mongoose& r) {
            CLimit_List_WorkingUrl guard(&b.reactor, r.data.url);
            maxRunning = std::max(maxRunning.load(), ++running);
            hold.acquire();
            --running;
            guard.release();
            answerJson(b.reactor, r);
        });
        ASSERT_TRUE(b.start());
        const QByteArray request = "GET /dide/context/record HTTP/1.1\r\nHost: t\r\n\r\n";
        testsupport::RawHttpConnection first(b.port());
        ASSERT_TRUE(first.send(request));
        ASSERT_TRUE(waitUntil([&] { return running.load() == 1; }));
        testsupport::RawHttpConnection second(b.port());
        ASSERT_TRUE(second.send(request));
        if (onlyUrl) {
            const QByteArray text = "The previous same url task has not been completed.";
            EXPECT_EQ(second.readAll(), "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Type: "
                                        "text/html; charset=UTF-8\r\nContent-Length: "
                                            + QByteArray::number(text.size()) + "\r\n\r\n" + text);
        } else {
            EXPECT_TRUE(waitUntil([&] { return running.load() == 2; })) << "both run at once";
        }
        hold.release(2);
        EXPECT_TRUE(first.readAll().startsWith("HTTP/1.1 200 OK"));
        if (!onlyUrl) {
            EXPECT_TRUE(second.readAll().startsWith("HTTP/1.1 200 OK"));
        }
    }
}

TEST(HttpReactorTest, UrlReleasedBeforeTheHandOverLetsAnImmediateRetryIn)
{
    // A handler whose reply is its last act lets go of the URL first; one
    // that answers and then works keeps it until it returns.
    for (bool workAfterAnswer : {false, true}) {
        Bench b;
        QSemaphore done;
        b.reactor.routes.insert("/dide/action/redetect", [&](const CTask_FormData_Mongoose& r) {
            CLimit_List_WorkingUrl guard(&b.reactor, r.data.url);
            if (!workAfterAnswer)
                guard.release();
            answerJson(b.reactor, r);
            QThread::msleep(300);  // the handler has not returned yet
            done.release();
        });
        ASSERT_TRUE(b.start());
        const QByteArray request = "GET /dide/action/redetect HTTP/1.1\r\nHost: t\r\n\r\n";
        ASSERT_TRUE(b.raw(request).startsWith("HTTP/1.1 200 OK"));
        const QByteArray retry = b.raw(request);
        EXPECT_EQ(retry.startsWith("HTTP/1.1 503"), workAfterAnswer) << retry.left(40).toStdString();
        done.acquire(workAfterAnswer ? 1 : 2);
    }
}

TEST(HttpReactorTest, RequestRecordFromTheWire)
{
    Bench b;
    std::mutex m;
    CTask_FormData_Mongoose seen;
    QString actingUser;
    b.reactor.routes.insert("/dide/system/setparams", [&](const CTask_FormData_Mongoose& r) {
        {
            std::lock_guard<std::mutex> lock(m);
            seen = r;
            actingUser = OperationRecord_Interface::actingUser();
        }
        answerJson(b.reactor, r);
    });
    ASSERT_TRUE(b.start());
    testsupport::LogCapture log;
    struct Case {
        const char* name;
        QByteArray extraHeaders;
        QByteArray body;
        std::function<void(const CTask_FormData_Mongoose&, const QString&)> check;
    };
    const Case cases[] = {
        {"JSON with a charset, names in any case", "content-type: Application/JSON; charset=utf-8\r\nuser-id: op7\r\n",
         R"({"k":5})",
         [](const CTask_FormData_Mongoose& r, const QString& acting) {
             EXPECT_EQ(r.data.json.value("k").toInt(), 5);
             EXPECT_TRUE(r.data.body.isEmpty());
             EXPECT_EQ(r.data.user_id, "op7");
             EXPECT_EQ(acting, "op7") << "the request's user acts while its handler runs";
         }},
        {"bad JSON is queued empty and flagged", "Content-Type: application/json\r\n", "{oops",
         [&](const CTask_FormData_Mongoose& r, const QString&) {
             EXPECT_TRUE(r.data.json.isEmpty());
             EXPECT_TRUE(r.data.json_invalid);
             EXPECT_TRUE(log.anyContains("json error:"));
         }},
        {"an empty header value does not end the copy", "X-Empty:\r\nUser-ID: op9\r\n", "raw",
         [](const CTask_FormData_Mongoose& r, const QString&) {
             EXPECT_EQ(r.data.user_id, "op9");
             EXPECT_TRUE(r.data.headers.contains("X-Empty"));
             EXPECT_EQ(r.data.body, QByteArray("raw"));
             EXPECT_EQ(r.data.method, "POST");
             EXPECT_EQ(r.peer_ip, "127.0.0.1");
         }},
    };
    for (const Case& c : cases) {
        const QByteArray reply = b.raw("POST /dide/system/setparams?a=b=c&&d&=x HTTP/1.1\r\nHost: t\r\nUser-Agent: ua1\r\n"
                                       + c.extraHeaders + "Content-Length: " + QByteArray::number(c.body.size())
                                       + "\r\n\r\n" + c.body);
        ASSERT_TRUE(reply.startsWith("HTTP/1.1 200 OK")) << c.name;
        std::lock_guard<std::mutex> lock(m);
        EXPECT_EQ(seen.data.url, "/dide/system/setparams") << c.name;
        EXPECT_EQ(seen.data.query.value("a").toString(), "b=c") << c.name;
        EXPECT_TRUE(seen.data.query.contains("d") && seen.data.query.value("d").toString().isEmpty()) << c.name;
        EXPECT_TRUE(seen.data.query.contains("x") && seen.data.query.value("x").toString().isEmpty()) << c.name;
        EXPECT_EQ(seen.data.query.size(), 3) << c.name;
        EXPECT_EQ(seen.data.user_agent, "ua1") << c.name;
        c.check(seen, actingUser);
    }

    // No User-Agent: a fresh identifier, echoed back in the reply.
    const auto reply = testsupport::RawHttpReply::parse(b.get("/dide/system/setparams"));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(seen.data.user_agent.size(), 32);
    EXPECT_TRUE(seen.data.user_agent.startsWith("VC_#"));
    EXPECT_EQ(reply.header("User-Agent"), seen.data.user_agent.toUtf8());
    EXPECT_TRUE(seen.data.user_id.isEmpty());
    EXPECT_TRUE(actingUser.isEmpty());
}

TEST(HttpReactorTest, HandlersRunOnWorkersAndRepliesNeverWaitForThePoll)
{
    Bench b;
    std::mutex m;
    std::vector<QThread*> signalThreads, handlerThreads;
    QObject::connect(&b.reactor, &HttpReactor_MG::sigRecvMessage, &b.reactor,
                     [&](const CTask_FormData_Mongoose&) {
                         std::lock_guard<std::mutex> lock(m);
                         signalThreads.push_back(QThread::currentThread());
                     },
                     Qt::DirectConnection);
    b.reactor.routes.insert("/dide/context/heartbeat", [&](const CTask_FormData_Mongoose& r) {
        {
            std::lock_guard<std::mutex> lock(m);
            handlerThreads.push_back(QThread::currentThread());
        }
        // Answered from yet another thread, after a pause.
        std::thread([&b, r] {
            QThread::msleep(20);
            answerJson(b.reactor, r);
        }).detach();
    });
    ASSERT_TRUE(b.start());
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        ASSERT_TRUE(b.get("/dide/context/heartbeat").startsWith("HTTP/1.1 200 OK"));
        EXPECT_LT(t.elapsed(), 700) << "a handed-over reply wakes the server at once";
    }
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(handlerThreads.size(), 5u);
    for (size_t i = 0; i < handlerThreads.size(); ++i) {
        EXPECT_NE(handlerThreads[i], QThread::currentThread());
        EXPECT_NE(handlerThreads[i], static_cast<QThread*>(&b.reactor)) << "not on the server thread";
        EXPECT_EQ(signalThreads[i], handlerThreads[i]) << "the signal comes on the handler's worker";
    }
}

TEST(HttpReactorTest, LivenessFollowsTheServerLoop)
{
    Bench b;
    EXPECT_FALSE(b.reactor.isRunning_mg()) << "before the start";
    ASSERT_TRUE(b.start());
    EXPECT_TRUE(b.reactor.isRunning_mg());

    // The loop stalls: after 2 s without a turn it no longer counts as running.
    QSemaphore stalled, release;
    b.reactor.runOnServerThread([&] {
        stalled.release();
        release.acquire();
    });
    ASSERT_TRUE(stalled.tryAcquire(1, 3000));
    EXPECT_TRUE(b.reactor.isRunning_mg());
    platform::MonotonicClock::advanceForTest(2100);
    EXPECT_FALSE(b.reactor.isRunning_mg());
    release.release();
    EXPECT_TRUE(waitUntil([&] { return b.reactor.isRunning_mg(); }));

    // A second reactor on the taken port never runs.
    testsupport::LogCapture log;
    HttpReactor_MG second;
    second.reAction(QHostAddress::LocalHost, b.port());
    EXPECT_TRUE(waitUntil([&] { return !second.isRunning(); }));
    EXPECT_FALSE(second.isRunning_mg());
    EXPECT_TRUE(log.anyContains(QStringLiteral("[HTTP] cannot listen on http://127.0.0.1:%1").arg(b.port())));
    second.stopAll();
}

TEST(HttpReactorTest, RequestNoHandlerAnsweredGetsMinusOne)
{
    Bench b;
    b.reactor.routes.insert("/dide/context/lastshowlive", [](const CTask_FormData_Mongoose&) {});
    ASSERT_TRUE(b.start());
    testsupport::LogCapture log;
    const auto reply = testsupport::RawHttpReply::parse(b.get("/dide/context/lastshowlive", "User-Agent: u\r\n"));
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(reply.body, R"({"code":-1,"msg":"request not answered: /dide/context/lastshowlive","result":{}})");
    EXPECT_TRUE(waitUntil([&] { return log.anyContains("no handler answered"); }));
}

TEST(HttpReactorTest, RestartClosesWaitingConnectionsAndServesAgain)
{
    Bench b;
    std::mutex m;
    std::vector<CTask_FormData_Mongoose> kept;  // records held, never answered
    b.reactor.routes.insert("/dide/context/getpicture", [&](const CTask_FormData_Mongoose& r) {
        std::lock_guard<std::mutex> lock(m);
        kept.push_back(r);
    });
    b.reactor.routes.insert("/dide/context/heartbeat", [&](const CTask_FormData_Mongoose& r) { answerJson(b.reactor, r); });
    ASSERT_TRUE(b.start());
    ASSERT_TRUE(b.get("/dide/context/heartbeat").startsWith("HTTP/1.1 200 OK"));
    QThread::msleep(100);  // every thread of the reactor is up
    const int fdsBefore = testsupport::openFdCount();
    std::vector<std::unique_ptr<testsupport::RawHttpConnection>> waiting;
    for (int i = 0; i < 4; ++i) {
        waiting.push_back(std::make_unique<testsupport::RawHttpConnection>(b.port()));
        ASSERT_TRUE(waiting.back()->send("GET /dide/context/getpicture HTTP/1.1\r\nHost: t\r\n\r\n"));
    }
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(m);
        return kept.size() == 4;
    }));
    ASSERT_TRUE(b.start());  // reAction: stop both sides, start again
    for (auto& c : waiting) {
        EXPECT_EQ(c->readAll(2000), QByteArray());
        EXPECT_TRUE(c->closedByPeer());
    }
    EXPECT_TRUE(b.get("/dide/context/heartbeat").startsWith("HTTP/1.1 200 OK"));
    {
        std::lock_guard<std::mutex> lock(m);
        kept.clear();  // their connections are gone: nothing to answer
    }
    waiting.clear();
    EXPECT_TRUE(waitUntil([&] { return testsupport::openFdCount() <= fdsBefore; }));
}
