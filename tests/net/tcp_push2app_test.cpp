// A push's lifetime and a file it sends: a file still moving to a slow
// application outlives the push's lifetime and arrives whole, also what the
// kernel still holds when the last byte was handed over; a stalled one is
// ended by the send's own guard, and the push with it.
#include "net/sci_execobj_send.h"
#include "net/tcp_push2app.h"
#include "support/scratchdir.h"
#include "tools/appsim/appsimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

bool spinUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

QByteArray fileBytes(int size)
{
    QByteArray b(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        b[i] = char(i * 31 + (i >> 11));
    return b;
}

// Starts a push of `file` to 127.0.0.1:`port` with a 1 s lifetime.
QPointer<Tcp_Push2APP> pushFile(const QString& file, quint16 port)
{
    auto* push = new Tcp_Push2APP(1);
    if (!push->startReactor(QHostAddress::LocalHost, port, 1)) {
        delete push;
        return nullptr;
    }
    CTask_FormData form;
    form.url = QStringLiteral("/dide/context/putproject_storage");
    form.uuid = QStringLiteral("push-file");
    form.bytes_parts.insert(file, QByteArray());
    push->getReactor()->post_async(form);
    return push;
}

}  // namespace

TEST(TcpPush2AppTest, AFileStillMovingOutlivesThePushLifetimeAndArrivesWhole)
{
    testsupport::ScratchDir dir;
    const QByteArray bytes = fileBytes(8 << 20);
    const QString file = dir.write("archive.tar", bytes);
    AppSimulator app;
    app.setReadRate(2 << 20);  // about 4 s for the file, four lifetimes
    ASSERT_TRUE(app.start(QHostAddress::LocalHost, 0, 0));

    QPointer<Tcp_Push2APP> push = pushFile(file, app.tcpPort());
    ASSERT_TRUE(push);
    ASSERT_TRUE(spinUntil([&] { return app.pushes().size() == 1; }, 60000)) << app.bytesReceived() << " bytes taken";
    EXPECT_TRUE(spinUntil([&] { return push.isNull(); }, 60000)) << "the push ends once answered";
    const QByteArray raw = app.rawPushes().value(0);
    EXPECT_EQ(raw.mid(raw.indexOf("\r\n\r\n") + 4), bytes);
}

TEST(TcpPush2AppTest, AStalledFileIsEndedByTheSendGuardAndThePushWithIt)
{
    testsupport::ScratchDir dir;
    const QString file = dir.write("archive.tar", fileBytes(32 << 20));
    // An application that takes the connection and then almost never reads.
    AppSimulator deaf;
    deaf.setReadRate(1);
    ASSERT_TRUE(deaf.start(QHostAddress::LocalHost, 0, 0));
    SCI_ExecObj_Send::setFileGuardMs(1500);
    QPointer<Tcp_Push2APP> push = pushFile(file, deaf.tcpPort());
    ASSERT_TRUE(push);
    const bool ended = spinUntil([&] { return push.isNull(); }, 60000);
    SCI_ExecObj_Send::setFileGuardMs(30000);
    EXPECT_TRUE(ended) << "a push whose send stalled ends (its lifetime alone would keep it while sending)";
}
