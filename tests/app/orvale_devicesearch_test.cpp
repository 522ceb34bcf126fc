// The operator application's search for cameras on a private LAN: two real
// camera programs on two hosts of a bridge (10.77.0.1 and .2), the
// application (curl) on the bridge itself. Asked on the first camera, the
// search broadcasts and lists the second camera's own answer beside the
// first one's entry, in the text order of the addresses, with the card's
// netmask; the registration's version is kept for the application.
#include "orvalerun.h"
#include "support/clientrun.h"
#include "support/scratchdir.h"
#include "tools/iomodulesim/iomodulesimulator.h"
#include "tools/testlan/privatelan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <optional>

namespace {

using apptest::OrvaleRun;
using clientrun::runClient;
using clientrun::spinUntil;

// A camera program on one host of the LAN, on a data root of its own.
struct Camera {
    testsupport::ScratchDir root;
    std::unique_ptr<OrvaleRun> run;

    void start(const LanHost& host, const QString& id)
    {
        run = std::make_unique<OrvaleRun>(root);
        run->setRtspPort(0);                 // the fixed ports: each program is alone on its host
        run->setEnv("ORVALE_HTTP_PORT", "");
        run->setEnv("ORVALE_DEVICE_ID", id);
        const QString ns = QStringLiteral("--net=/proc/%1/task/%2/ns/net").arg(::getpid()).arg(host.tid());
        run->start("nsenter", {ns, "--", ORVALE_BIN});
    }
};

QByteArray heartbeat(const QString& ip)
{
    return runClient("curl", {"-s", "-m", "5", "http://" + ip + ":10414/dide/context/heartbeat"}).value_or("");
}

}  // namespace

TEST(OrvaleDeviceSearchTest, TheSearchListsTheOtherCameraOfTheLanBesideItsOwnEntry)
{
    PrivateLan lan;
    if (!lan.ok())
        GTEST_SKIP() << "no network namespaces here: " << lan.error().toStdString();
    LanHost* hostA = lan.addHost();
    LanHost* hostB = lan.addHost();
    ASSERT_TRUE(hostA && hostB) << lan.error().toStdString();

    Camera a;
    Camera b;
    a.start(*hostA, "LANCAMA1");
    b.start(*hostB, "LANCAMB2");
    const QByteArray ok = R"({"code":0,"msg":"OK","result":{}})";
    ASSERT_TRUE(spinUntil([&] { return heartbeat(hostA->address()) == ok && heartbeat(hostB->address()) == ok; },
                          60000))
        << "both programs answer";

    const QByteArray body = R"({"app_version":"V1.6.7.94"})";
    const auto reply = runClient("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d", body,
                                          "http://" + hostA->address() + ":10414/dide/context/lan_all_devices"});
    ASSERT_TRUE(reply);
    std::printf("search on %s: %s\n", qPrintable(hostA->address()), reply->constData());
    const QJsonObject envelope = QJsonDocument::fromJson(*reply).object();
    ASSERT_EQ(envelope.value("code").toInt(-1), 0) << reply->toStdString();
    const QJsonObject result = envelope.value("result").toObject();
    EXPECT_EQ(result.value("device_netmask").toString(), "255.255.255.0");
    const QJsonArray all = result.value("all_devices").toArray();
    QStringList ips;
    QMap<QString, QString> contents;
    for (const QJsonValue& v : all) {
        ips << v.toObject().value("ip").toString();
        contents.insert(ips.last(), v.toObject().value("content").toString());
    }
    EXPECT_EQ(ips, (QStringList{hostA->address(), hostB->address()})) << reply->toStdString();
    EXPECT_EQ(contents.value(hostA->address()),
              QStringLiteral("<C;21;LANCAMA1;%1;V1.0.5.29;>").arg(hostA->address()));
    EXPECT_TRUE(contents.value(hostB->address()).startsWith("<C;21;LANCAMB2;"))
        << contents.value(hostB->address()).toStdString();

    // Asked again within the cache's life: the same list, no new search.
    const auto again = runClient("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d", body,
                                          "http://" + hostA->address() + ":10414/dide/context/lan_all_devices"});
    EXPECT_EQ(again, reply);

    // Once the second camera has left, a fresh search (after the cache's
    // 4 s) no longer lists it.
    b.run->stop();
    spinUntil([] { return false; }, 4500);
    const auto later = runClient("curl", {"-s", "-m", "20", "-H", "Content-Type: application/json", "-d", body,
                                          "http://" + hostA->address() + ":10414/dide/context/lan_all_devices"});
    ASSERT_TRUE(later);
    EXPECT_FALSE(later->contains(hostB->address().toUtf8())) << later->toStdString();
    EXPECT_TRUE(later->contains("LANCAMA1")) << later->toStdString();

    a.run->stop();
    b.run.reset();
    a.run.reset();
    lan.removeHost(hostB);
    lan.removeHost(hostA);
}
