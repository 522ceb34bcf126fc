// The discovery answer from camcfg.json (a table), and the responder on a
// veth between two private networks: answers to the sender's 10410 with the
// veth's MAC, only the exact request, rebuilt at most once a second.
#include "daemon/udp_service.h"
#include "net/vethbench.h"
#include "platform/system/deviceidentitysources.h"
#include "platform/system/monotonicclock.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QUdpSocket>

#include <gtest/gtest.h>

namespace {

QByteArray cfg(const QString& body) { return body.toUtf8(); }

}  // namespace

TEST(UdpServiceTest, AnswerFromTheGroupFile)
{
    const QString sub = QStringLiteral("{\"ps_sub_camera_uuid\":\"%1\",\"ps_sub_camera_address\":\"10.0.0.%2\"}");
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << sub.arg(QStringLiteral("S%1-").arg(i) + QString(40, QLatin1Char('a'))).arg(i);
    struct Row {
        QByteArray camcfg;
        QString want;
        int warnings;
    };
    const QList<Row> rows = {
        {"", "<CD;21;ID;MAC;;();();();()>", 0},
        {"not json", "<CD;21;ID;MAC;;();();();()>", 1},
        {cfg("{\"ps_version\":\"1.0.5\",\"ps_machineid\":\"M7\"}"), "<CD;21;ID;MAC;1.0.5;(M7);();();()>", 0},
        {cfg("{\"ps_io_uuid\":\"IO1\",\"ps_io_address\":\"10.0.0.9\",\"ps_main_camera_uuid\":\"C1\","
             "\"ps_main_camera_address\":\"10.0.0.1\",\"ps_sub_camera\":[" + sub.arg("S1").arg(2) + "," + sub.arg("S2").arg(3) + "]}"),
         "<CD;21;ID;MAC;;();(IO1;10.0.0.9);(C1;10.0.0.1);(S1;10.0.0.2;S2;10.0.0.3)>", 0},
        {cfg("{\"ps_machineid\":12,\"ps_main_camera_uuid\":\"C;1\",\"ps_main_camera_address\":\"10.0.0.1\"}"),
         "<CD;21;ID;MAC;;(12);();();()>", 1},
        {cfg("{\"ps_machineid\":\"" + QString(65, QLatin1Char('m')) + "\",\"ps_version\":\"v\\u0001\"}"),
         "<CD;21;ID;MAC;;();();();()>", 2},
        {cfg("{\"ps_machineid\":\"" + QString(64, QLatin1Char('m')) + "\"}"),
         "<CD;21;ID;MAC;;(" + QString(64, QLatin1Char('m')) + ");();();()>", 0},
    };
    for (const Row& r : rows) {
        QStringList warnings;
        EXPECT_EQ(Udp_Service::buildAnswer("ID", "MAC", r.camcfg, &warnings), r.want) << r.camcfg.constData();
        EXPECT_EQ(warnings.size(), r.warnings) << warnings.join(" | ").toStdString();
    }

    QStringList warnings;
    const QString big = Udp_Service::buildAnswer("ID", "MAC", cfg("{\"ps_sub_camera\":[" + many.join(",") + "]}"), &warnings);
    EXPECT_LE(big.toUtf8().size(), Udp_Service::kMaxAnswer);
    EXPECT_GT(big.toUtf8().size(), Udp_Service::kMaxAnswer - 80);
    EXPECT_TRUE(big.endsWith(QStringLiteral(")>")));
    EXPECT_TRUE(big.contains(QStringLiteral("S0-")));
    EXPECT_FALSE(big.contains(QStringLiteral("S59-")));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings[0].contains(QStringLiteral("sub cameras left out")));
}

TEST(UdpServiceTest, AnswersTheExactRequestToPort10410OverAVeth)
{
    nettest::VethBench bench(QStringLiteral("192.168.7.20/24"), QStringLiteral("192.168.7.10/24"));
    if (!bench.ok())
        GTEST_SKIP() << "no right to make network namespaces and a veth pair";
    testsupport::ScratchDir dir;
    platform::DeviceIdentitySources::setFixedDeviceId(QStringLiteral("DEV1"));
    testsupport::LogCapture log;
    Udp_Service service(nullptr, Udp_Service::kPort, dir.file(QStringLiteral("camcfg.json")));
    ASSERT_TRUE(service.isListening());
    const QString mac = QNetworkInterface::interfaceFromName(QStringLiteral("va")).hardwareAddress();
    ASSERT_FALSE(mac.isEmpty());

    // The operator application in network B: asks from any port, listens on 10410.
    QUdpSocket* app = nullptr;
    QUdpSocket* asker = nullptr;
    ASSERT_TRUE(bench.there([&] {
        app = new QUdpSocket;
        app->bind(QHostAddress(QHostAddress::AnyIPv4), 10410);
        asker = new QUdpSocket;
        asker->bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    }));
    auto ask = [&](const QByteArray& request) {
        bench.there([&] { asker->writeDatagram(request, QHostAddress(QStringLiteral("192.168.7.20")), Udp_Service::kPort); });
    };
    auto answers = [&] {
        QList<QByteArray> got;
        bench.there([&] {
            while (app->hasPendingDatagrams())
                got << app->receiveDatagram().data();
        });
        return got;
    };

    ask("<A;21;APP>");
    QList<QByteArray> got;
    ASSERT_TRUE(nettest::waitUntil([&] { got += answers(); return !got.isEmpty(); }, 30000));
    EXPECT_EQ(got.first(), ("<CD;21;DEV1;" + mac + ";;();();();()>").toUtf8());

    // Only the exact request is answered (up to a zero byte).
    got.clear();
    ask("<A;21;APP>\n");
    ask("<A;21;APP");
    ask(QByteArray("<A;21;APP>\0trailing", 19));
    ASSERT_TRUE(nettest::waitUntil([&] { got += answers(); return !got.isEmpty(); }, 30000));
    nettest::spin(300);
    got += answers();
    EXPECT_EQ(got.size(), 1);

    // A change of the file shows once a second has passed since the last rebuild.
    dir.write(QStringLiteral("camcfg.json"), "{\"ps_machineid\":\"M2\"}");
    got.clear();
    ask("<A;21;APP>");
    ASSERT_TRUE(nettest::waitUntil([&] { got += answers(); return !got.isEmpty(); }, 30000));
    EXPECT_FALSE(got.first().contains("(M2)"));
    platform::MonotonicClock::advanceForTest(1001);
    got.clear();
    ask("<A;21;APP>");
    ASSERT_TRUE(nettest::waitUntil([&] { got += answers(); return !got.isEmpty(); }, 30000));
    EXPECT_TRUE(got.first().contains("(M2)"));

    // A file too large is not read, and that is logged.
    dir.write(QStringLiteral("camcfg.json"), "{\"ps_machineid\":\"M3\",\"pad\":\"" + QByteArray(70000, 'p') + "\"}");
    platform::MonotonicClock::advanceForTest(1001);
    got.clear();
    ask("<A;21;APP>");
    ASSERT_TRUE(nettest::waitUntil([&] { got += answers(); return !got.isEmpty(); }, 30000));
    EXPECT_EQ(got.first(), ("<CD;21;DEV1;" + mac + ";;();();();()>").toUtf8());
    EXPECT_TRUE(log.anyContains(QStringLiteral("more than 65536")));

    bench.there([&] {
        delete app;
        delete asker;
    });
    platform::DeviceIdentitySources::setFixedDeviceId(QString());
}
