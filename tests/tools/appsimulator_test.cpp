// The operator-application simulator stays flat however long it runs: it
// counts every push and heartbeat it takes but keeps only the last ones.
#include "tools/appsim/appsimulator.h"

#include "net/nettestbench.h"

#include <QTcpSocket>
#include <QUdpSocket>
#include <gtest/gtest.h>

namespace {

using nettest::waitUntil;

QByteArray push(const QByteArray& uuid, const QByteArray& body,
               const QByteArray& url = "/dide/initiative/runresult_info")
{
    return "POST " + url + " HTTP/1.1\r\nUser-Agent: " + uuid +
           "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

TEST(AppSimulator, CountsEverythingAndKeepsOnlyTheLastPushesAndHeartbeats)
{
    AppSimulator app;
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));

    // Heartbeats: many more than are kept.
    const int heartbeats = 2 * AppSimulator::kKeptHeartbeats + 345;
    QUdpSocket camera;
    for (int i = 0; i < heartbeats; ++i) {
        camera.writeDatagram("POST /dide/initiative/runstate HTTP/1.1\r\n\r\n" + QByteArray::number(i),
                             QHostAddress::LocalHost, app.udpPort());
        if (i % 50 == 49) {  // the socket buffers would drop a burst of thousands
            ASSERT_TRUE(waitUntil([&] { return app.heartbeatCount() == i + 1; }, 10000)) << app.heartbeatCount();
        }
    }
    ASSERT_TRUE(waitUntil([&] { return app.heartbeatCount() == heartbeats; }, 10000)) << app.heartbeatCount();
    const auto kept = app.heartbeats();
    EXPECT_GE(kept.size(), AppSimulator::kKeptHeartbeats);
    EXPECT_LT(kept.size(), 2 * AppSimulator::kKeptHeartbeats);
    EXPECT_EQ(kept.size() % 10, heartbeats % 10);  // dropped in whole thousands
    EXPECT_TRUE(kept.last().raw.endsWith("\r\n\r\n" + QByteArray::number(heartbeats - 1)));
    EXPECT_TRUE(kept.first().raw.endsWith("\r\n\r\n" + QByteArray::number(heartbeats - kept.size())));

    // Pushes, each answered, over one connection: small ones beyond the
    // kept number, then large ones beyond the kept bytes.
    QTcpSocket link;
    link.connectToHost(QHostAddress::LocalHost, app.tcpPort());
    ASSERT_TRUE(link.waitForConnected(5000));
    struct Round {
        const char* name;
        int pushes;
        int bodyBytes;
        int keptAtMost;
    };
    const int large = 6 * 1024 * 1024;
    const QList<Round> rounds = {
        {"small", AppSimulator::kKeptPushes + 20, 16, AppSimulator::kKeptPushes},
        {"large", 12, large, int(AppSimulator::kKeptPushBytes / large)},
    };
    qint64 sent = 0;
    for (const Round& r : rounds) {
        for (int i = 0; i < r.pushes; ++i) {
            const QByteArray body = "{\"n\":" + QByteArray::number(i) + ",\"pad\":\"" +
                                    QByteArray(qMax(0, r.bodyBytes - 20), 'p') + "\"}";
            link.write(push(QByteArray(r.name) + "-" + QByteArray::number(i), body));
            ++sent;
            ASSERT_TRUE(waitUntil([&] { return app.pushCount() == sent; }, 20000)) << r.name << " " << i;
        }
        const auto pushes = app.pushes();
        const auto raw = app.rawPushes();
        EXPECT_EQ(pushes.size(), raw.size()) << r.name;
        EXPECT_LE(pushes.size(), r.keptAtMost) << r.name;
        EXPECT_GE(pushes.size(), 1) << r.name;
        qint64 bytes = 0;
        for (const QByteArray& b : raw)
            bytes += b.size();
        EXPECT_LE(bytes, AppSimulator::kKeptPushBytes) << r.name;
        EXPECT_EQ(pushes.last().uuid, QStringLiteral("%1-%2").arg(r.name).arg(r.pushes - 1)) << r.name;
        EXPECT_EQ(pushes.last().url, "/dide/initiative/runresult_info") << r.name;
    }
    // A single push larger than the byte budget (a project export) is still kept.
    link.write(push("huge", QByteArray(int(AppSimulator::kKeptPushBytes) + 1, 'h'), "/dide/context/putproject_storage"));
    ++sent;
    ASSERT_TRUE(waitUntil([&] { return app.pushCount() == sent; }, 60000));
    ASSERT_EQ(app.pushes().size(), 1);
    EXPECT_EQ(app.pushes().first().uuid, "huge");

    app.clearRecords();
    EXPECT_EQ(app.pushCount(), 0);
    EXPECT_EQ(app.heartbeatCount(), 0);
    EXPECT_TRUE(app.pushes().isEmpty());
    EXPECT_TRUE(app.heartbeats().isEmpty());
}

}  // namespace
