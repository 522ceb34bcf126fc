// The private test LAN: hosts with their own namespaces on one bridge, each
// able to listen on the same fixed port, reaching each other and the bridge.
#include "tools/testlan/privatelan.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <unistd.h>

namespace {

QByteArray netnsOf(long tid)
{
    QFile f(QStringLiteral("/proc/self/task/%1/ns/net").arg(tid));
    return f.symLinkTarget().toUtf8();
}

}  // namespace

TEST(PrivateLan, HostsListenOnTheSamePortAndReachEachOther)
{
    PrivateLan lan;
    if (!lan.ok())
        GTEST_SKIP() << lan.error().toStdString();
    LanHost* a = lan.addHost();
    LanHost* b = lan.addHost();
    ASSERT_TRUE(a && b) << lan.error().toStdString();
    EXPECT_EQ(a->address(), QStringLiteral("10.77.0.1"));
    EXPECT_EQ(b->address(), QStringLiteral("10.77.0.2"));
    EXPECT_NE(netnsOf(a->tid()), netnsOf(b->tid()));

    // Both hosts listen on any address at 8765.
    std::unique_ptr<QTcpServer> sa, sb;
    bool listenA = false, listenB = false;
    a->call([&] {
        sa = std::make_unique<QTcpServer>();
        listenA = sa->listen(QHostAddress::AnyIPv4, 8765);
    });
    b->call([&] {
        sb = std::make_unique<QTcpServer>();
        listenB = sb->listen(QHostAddress::AnyIPv4, 8765);
    });
    EXPECT_TRUE(listenA);
    EXPECT_TRUE(listenB);

    // b reaches a, and the bridge end (the test thread) reaches b; a and b
    // see the connection from the other's address.
    struct Probe {
        QString from, to;
        LanHost* client;  // null: the test thread on the bridge
        QTcpServer* server;
        LanHost* serverHost;
    };
    const Probe probes[] = {
        {b->address(), a->address(), b, sa.get(), a},
        {PrivateLan::bridgeAddress(), b->address(), nullptr, sb.get(), b},
        {a->address(), b->address(), a, sb.get(), b},
    };
    for (const auto& p : probes) {
        bool connected = false;
        std::unique_ptr<QTcpSocket> s;  // open until the server has seen it
        auto onClient = [&](const std::function<void()>& f) {
            if (p.client)
                p.client->call(f);
            else
                f();
        };
        onClient([&] {
            s = std::make_unique<QTcpSocket>();
            s->connectToHost(p.to, 8765);
            connected = s->waitForConnected(10000);
        });
        EXPECT_TRUE(connected) << p.from.toStdString() << " -> " << p.to.toStdString();
        QString peer;
        p.serverHost->call([&] {
            QElapsedTimer t;
            t.start();
            while (!p.server->hasPendingConnections() && t.elapsed() < 10000) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
                QThread::msleep(1);
            }
            if (p.server->hasPendingConnections()) {
                std::unique_ptr<QTcpSocket> in(p.server->nextPendingConnection());
                peer = in->peerAddress().toString();
            }
        });
        onClient([&] { s.reset(); });
        EXPECT_EQ(peer, p.from);
    }
    a->call([&] { sa.reset(); });
    b->call([&] { sb.reset(); });
}

TEST(PrivateLan, ProgramsStartedOnAHostRunThere)
{
    PrivateLan lan;
    if (!lan.ok())
        GTEST_SKIP() << lan.error().toStdString();
    LanHost* a = lan.addHost();
    ASSERT_TRUE(a) << lan.error().toStdString();
    QProcess* p = a->startProgram(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("-o"),
                                                         QStringLiteral("addr"), QStringLiteral("show")});
    ASSERT_NE(p, nullptr);
    QByteArray out;
    a->call([&] {
        p->waitForFinished(10000);
        out = p->readAllStandardOutput();
    });
    a->stopProgram(p);
    EXPECT_TRUE(out.contains("10.77.0.1/24")) << out.toStdString();
    EXPECT_FALSE(out.contains("10.77.0.254")) << out.toStdString();
}

TEST(PrivateLan, NothingIsLeftInTheNamespaceTheTestCameFrom)
{
    const QByteArray before = netnsOf(gettid());
    {
        PrivateLan lan;
        if (!lan.ok())
            GTEST_SKIP() << lan.error().toStdString();
        ASSERT_NE(lan.addHost(), nullptr) << lan.error().toStdString();
        EXPECT_NE(netnsOf(gettid()), before);
    }
    EXPECT_EQ(netnsOf(gettid()), before);
    EXPECT_EQ(PrivateLan::ip({QStringLiteral("link"), QStringLiteral("show"), QStringLiteral("lan0")}).isEmpty(),
              false);
}
