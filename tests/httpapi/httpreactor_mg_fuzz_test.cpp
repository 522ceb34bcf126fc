// Random and malformed requests against the reactor: nothing crashes, the
// server keeps serving and every connection's descriptor is given back.
#include "httpapi/reactorbench.h"

#include <QJsonObject>

#include <random>
#include <thread>
#include <vector>

using reactorbench::answerJson;
using reactorbench::Bench;
using reactorbench::waitUntil;

namespace {

QByteArray randomBytes(std::minstd_rand& rng, int n)
{
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>(rng() & 0xff);
    return out;
}

// One malformed or random request.
QByteArray mutant(std::minstd_rand& rng)
{
    static const QList<QByteArray> routes = {"/dide/context/heartbeat", "/dide/context/getpicture",
                                             "/dide/context/update_system", "/dide/%00x", "/", "*", "/dide/a?%%=&&=="};
    static const QList<QByteArray> methods = {"GET", "POST", "HEAD", "PUT", "DELETE", "OPTIONS", "G\x01T", ""};
    const QByteArray route = routes[rng() % routes.size()];
    const QByteArray method = methods[rng() % methods.size()];
    QByteArray head = method + " " + route + " HTTP/1." + QByteArray::number(int(rng() % 3)) + "\r\nHost: f\r\n";
    const QByteArray body = randomBytes(rng, rng() % 200);
    switch (rng() % 10) {
    case 0:
        return randomBytes(rng, 1 + rng() % 400);
    case 1:  // declared length that never comes
        return head + "Content-Length: " + QByteArray::number(int(rng() % 100000)) + "\r\n\r\n" + body;
    case 2:  // broken chunks
        return head + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray::number(int(rng() % 70000), 16) + "\r\n" + body;
    case 3:  // header soup
        return head + randomBytes(rng, rng() % 300) + "\r\n\r\n";
    case 4:  // a huge declared body
        return head + "Content-Length: 99999999999999999999\r\n\r\n";
    case 5:  // JSON that is not
        return head + "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n"
               + body;
    case 6:  // truncated head
        return head.left(static_cast<int>(rng() % head.size()));
    case 7:  // a long target
        return method + " /" + QByteArray(static_cast<int>(rng() % 70000), 'a') + " HTTP/1.1\r\n\r\n";
    default:  // well formed
        return head + "User-ID: u" + QByteArray::number(int(rng() % 9)) + "\r\nContent-Length: "
               + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    }
}

}  // namespace

TEST(HttpReactorFuzzTest, TenThousandBadRequests)
{
    Bench b;
    b.reactor.set_limit_onlyurl(false);
    b.reactor.routes.insert("/dide/context/heartbeat", [&](const CTask_FormData_Mongoose& r) { answerJson(b.reactor, r); });
    b.reactor.routes.insert("/dide/context/getpicture", [](const CTask_FormData_Mongoose&) {});  // never answers
    b.reactor.cache_routes.insert("/dide/context/update_system", [&](const CTask_FormData_Mongoose& r) {
        answerJson(b.reactor, r, QJsonObject{{"file", r.data.file_path}});
    });
    ASSERT_TRUE(b.start());
    ASSERT_TRUE(b.get("/dide/context/heartbeat").startsWith("HTTP/1.1 200 OK"));
    QThread::msleep(100);
    const int fdsBefore = testsupport::openFdCount();

    const int clients = 8;
    const int perClient = 1250;
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::minstd_rand rng(1234 + c);
            for (int i = 0; i < perClient; ++i) {
                testsupport::RawHttpConnection conn(b.port());
                if (!conn.ok())
                    continue;
                conn.send(mutant(rng));
                conn.finishSending();
                conn.readAll(2000);
            }
        });
    }
    for (auto& t : threads)
        t.join();

    EXPECT_TRUE(b.reactor.isRunning_mg());
    EXPECT_TRUE(b.get("/dide/context/heartbeat").startsWith("HTTP/1.1 200 OK")) << "still serving";
    EXPECT_TRUE(waitUntil([&] { return testsupport::openFdCount() <= fdsBefore; }, 10000))
        << testsupport::openFdCount() << " open, " << fdsBefore << " before";
}
