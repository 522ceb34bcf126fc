// A session's file send: a slow but moving peer gets the whole file even
// when it takes longer than the guard, a stalled peer gets its connection
// closed (never a short body), and a message handed over meanwhile waits.
#include "net/sci_execobj_recv.h"
#include "net/sci_execobj_send.h"
#include "net/tcpreactor.h"
#include "nettestbench.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

namespace {

using nettest::waitUntil;

constexpr int kFileBytes = 18 * 1024 * 1024;  // more than the socket buffers hold, less than the reader's cap

struct FileServer {
    testsupport::ScratchDir dir;
    QString path;
    CLSC::TcpServReactor server;
    FileServer()
    {
        QByteArray data(kFileBytes, '\0');
        for (int i = 0; i < data.size(); i += 4096)
            data[i] = char(i / 4096);
        path = dir.write("export.tar", data);
        QObject::connect(&server, &CLSC::TcpReactor::sigRequest, &server,
                         [this](const CTask_FormData& req) {
                             CTask_FormData file;
                             file.uuid = "FILE";
                             file.session_index = req.session_index;
                             file.bytes_parts.insert(path, QByteArray());
                             server.post_async(file);
                             CTask_FormData after;  // handed over while the file is being sent
                             after.uuid = "AFTER";
                             after.session_index = req.session_index;
                             after.json = QJsonObject{{"done", true}};
                             server.post_async(after);
                         },
                         Qt::DirectConnection);
        server.reAction(QHostAddress::LocalHost, 0);
    }
};

TEST(SessionFileSend, ASlowPeerGetsTheWholeFileAndTheNextMessageAfterIt)
{
    SCI_ExecObj_Send::setFileGuardMs(1000);
    FileServer s;
    QTcpSocket c;
    c.setReadBufferSize(512 * 1024);
    c.connectToHost(QHostAddress::LocalHost, s.server.serverPort());
    ASSERT_TRUE(c.waitForConnected(1000));
    c.write("GET /file HTTP/1.1\r\nUser-Agent: ask\r\n\r\n");
    QByteArray got;
    QElapsedTimer t;
    t.start();
    QList<HttpRead> messages;
    while (t.elapsed() < 40000 && messages.size() < 2 && c.state() == QAbstractSocket::ConnectedState) {
        nettest::spin(40);  // a slow reader: about 512 KiB each 40 ms, some 1.5 s in all
        got += c.read(512 * 1024);
        for (HttpRead r = readHttpMessage(got); r.cut.kind == HttpCut::Complete; r = readHttpMessage(got)) {
            messages << r;
            got.remove(0, r.cut.used);
        }
    }
    SCI_ExecObj_Send::setFileGuardMs(30000);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_GT(t.elapsed(), 1000);  // longer than the guard, yet complete
    EXPECT_EQ(messages.at(0).form.uuid, "FILE");
    const QByteArray body = messages.at(0).form.bytes_parts.value("");
    ASSERT_EQ(body.size(), kFileBytes);
    EXPECT_EQ(body.at(4096 * 7), char(7));
    EXPECT_EQ(messages.at(1).form.uuid, "AFTER");
}

TEST(SessionFileSend, AStalledPeerIsDisconnected)
{
    SCI_ExecObj_Send::setFileGuardMs(300);
    testsupport::LogCapture log;
    FileServer s;
    QTcpSocket c;
    c.setReadBufferSize(64 * 1024);
    c.connectToHost(QHostAddress::LocalHost, s.server.serverPort());
    ASSERT_TRUE(c.waitForConnected(1000));
    c.write("GET /file HTTP/1.1\r\nUser-Agent: ask\r\n\r\n");
    // Never read: the connection is closed once nothing moved for 300 ms.
    EXPECT_TRUE(waitUntil([&] { return log.anyContains("file send stalled or failed, connection closed"); }, 8000));
    SCI_ExecObj_Send::setFileGuardMs(30000);
    // What did arrive is a cut message that never reads as complete.
    c.setReadBufferSize(0);
    QByteArray got;
    waitUntil([&] {
        got += c.readAll();
        return c.state() == QAbstractSocket::UnconnectedState;
    });
    EXPECT_EQ(c.state(), QAbstractSocket::UnconnectedState);
    EXPECT_LT(got.size(), kFileBytes);
    EXPECT_NE(readHttpMessage(got).cut.kind, HttpCut::Complete);
}

}  // namespace
