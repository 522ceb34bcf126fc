// The server adapter on a free loopback port: inline answers (the daemon's
// way), answers handed over by id from other threads (the camera's way), and
// a stop while connections wait for their answer.
#include "httpserver/httpserver.h"
#include "support/rawhttpclient.h"

#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using httpserver::Exchange;
using httpserver::HttpServer;
using httpserver::Reply;

namespace {

// Answers "/inline" at once; every other request waits for deliver().
class TestHandler : public httpserver::RequestHandler {
public:
    std::optional<Reply> onHead(Exchange&) override
    {
        heads++;
        return std::nullopt;
    }
    void onBody(Exchange&, const char*, size_t size) override { bodyBytes += static_cast<qint64>(size); }
    std::optional<Reply> onComplete(Exchange& ex) override
    {
        callbackThread = QThread::currentThread();
        if (ex.path() == "/inline") {
            Reply r = httpserver::plainReply(200, "application/json", "{}");
            r.headers.append(qMakePair(QByteArray("B-Second"), QByteArray("2")));
            r.headers.append(qMakePair(QByteArray("Empty"), QByteArray("")));
            return r;
        }
        if (ex.path() == "/file" && !filePath.isEmpty()) {
            Reply r;
            r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("image/jpeg")));
            r.fd = ::open(filePath.constData(), O_RDONLY | O_CLOEXEC);
            r.fileSize = fileSize;
            return r;
        }
        std::lock_guard<std::mutex> lock(mutex);
        waiting.push_back(ex.id);
        return std::nullopt;
    }
    void onEnd(Exchange& ex, bool completed) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ended.push_back({ex.id, completed});
    }

    std::vector<quint64> waitingIds()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return waiting;
    }
    size_t endedCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ended.size();
    }

    QByteArray filePath;  // "/file" answers with this file at once
    qint64 fileSize = 0;
    std::atomic<int> heads{0};
    std::atomic<qint64> bodyBytes{0};
    std::atomic<QThread*> callbackThread{nullptr};
    std::mutex mutex;
    std::vector<quint64> waiting;
    std::vector<std::pair<quint64, bool>> ended;
};

class ServerThread {
public:
    explicit ServerThread(TestHandler* h) : server(h)
    {
        std::atomic<bool> ready{false};
        thread = QThread::create([this, &ready] {
            listened = server.listen(QHostAddress::LocalHost, 0);
            ready = true;
            server.serve();
        });
        thread->start();
        while (!ready)
            QThread::msleep(1);
    }
    ~ServerThread()
    {
        server.requestStop();
        thread->wait();
        delete thread;
    }
    HttpServer server;
    QThread* thread = nullptr;
    bool listened = false;
};

template <typename F>
bool waitUntil(F cond, int ms = 3000)
{
    for (int i = 0; i < ms / 5; ++i) {
        if (cond())
            return true;
        QThread::msleep(5);
    }
    return cond();
}

}  // namespace

TEST(HttpServerTest, InlineAnswerHeadBytes)
{
    TestHandler handler;
    ServerThread st(&handler);
    ASSERT_TRUE(st.listened);
    const QByteArray reply =
        testsupport::rawHttpExchange(st.server.boundPort(), "POST /inline?x=1 HTTP/1.1\r\nHost: a\r\nContent-Length: 3\r\n\r\nabc");
    EXPECT_EQ(reply,
              QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: application/json\r\nB-Second: 2\r\n"
                         "Empty:  \r\nContent-Length: 2\r\n\r\n{}"));
    EXPECT_EQ(handler.bodyBytes.load(), 3);
    EXPECT_EQ(handler.callbackThread.load(), st.thread) << "callbacks run on the serving thread";
}

TEST(HttpServerTest, HandOverByIdFromAnotherThread)
{
    TestHandler handler;
    ServerThread st(&handler);
    ASSERT_TRUE(st.listened);
    testsupport::RawHttpConnection c(st.server.boundPort());
    ASSERT_TRUE(c.send("GET /later HTTP/1.1\r\nHost: a\r\n\r\n"));
    ASSERT_TRUE(waitUntil([&] { return handler.waitingIds().size() == 1; }));
    const quint64 id = handler.waitingIds().front();

    struct Case { const char* name; quint64 id; HttpServer::Delivery expected; };
    // The server loop is held while the replies come, so the first has not
    // gone out when the second arrives.
    std::promise<void> held, release;
    st.server.post([&] {
        held.set_value();
        release.get_future().wait();
    });
    held.get_future().wait();
    std::vector<HttpServer::Delivery> got;
    std::vector<bool> awaited;  // awaitsReply(id) before each delivery to it, and after them
    std::thread other([&] {
        got.push_back(st.server.deliver(id + 1000, httpserver::plainReply(200, "", "unknown")));
        awaited.push_back(st.server.awaitsReply(id));
        got.push_back(st.server.deliver(id, httpserver::plainReply(201, "text/plain", "first")));
        awaited.push_back(st.server.awaitsReply(id));
        got.push_back(st.server.deliver(id, httpserver::plainReply(202, "text/plain", "second")));
    });
    other.join();
    release.set_value();
    const QByteArray reply = c.readAll();
    EXPECT_EQ(reply, QByteArray("HTTP/1.1 201 Created\r\nConnection: close\r\nContent-Type: text/plain\r\n"
                                "Content-Length: 5\r\n\r\nfirst"));
    const Case cases[] = {
        {"unknown id", id + 1000, HttpServer::Delivery::Unknown},
        {"first reply", id, HttpServer::Delivery::Accepted},
        {"second reply", id, HttpServer::Delivery::AlreadyAnswered},
    };
    ASSERT_EQ(got.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(got[i], cases[i].expected) << cases[i].name;
    EXPECT_EQ(awaited, (std::vector<bool>{true, false})) << "open and unanswered, then answered";
    EXPECT_FALSE(st.server.awaitsReply(id + 1000)) << "an unknown id awaits nothing";
    ASSERT_TRUE(waitUntil([&] { return handler.endedCount() == 1; }));
    EXPECT_FALSE(st.server.awaitsReply(id)) << "an ended exchange awaits nothing";
    EXPECT_EQ(st.server.deliver(id, httpserver::plainReply(200, "", "late")), HttpServer::Delivery::Unknown)
        << "an ended exchange takes no reply";
}

TEST(HttpServerTest, PipelinedSecondRequestIsNeverAnswered)
{
    TestHandler handler;
    ServerThread st(&handler);
    const QByteArray reply = testsupport::rawHttpExchange(
        st.server.boundPort(), "GET /inline HTTP/1.1\r\nHost: a\r\n\r\nGET /inline HTTP/1.1\r\nHost: a\r\n\r\n");
    EXPECT_EQ(reply.count("HTTP/1.1 200 OK"), 1);
}

TEST(HttpServerTest, StopClosesWaitingConnections)
{
    TestHandler handler;
    auto* st = new ServerThread(&handler);
    const int before = testsupport::openFdCount();
    std::vector<std::unique_ptr<testsupport::RawHttpConnection>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<testsupport::RawHttpConnection>(st->server.boundPort()));
        ASSERT_TRUE(clients.back()->send("GET /later HTTP/1.1\r\nHost: a\r\n\r\n"));
    }
    ASSERT_TRUE(waitUntil([&] { return handler.waitingIds().size() == 5; }));
    delete st;  // requestStop, serve() returns, the thread ends
    for (auto& c : clients) {
        EXPECT_EQ(c->readAll(2000), QByteArray());
        EXPECT_TRUE(c->closedByPeer());
    }
    EXPECT_EQ(handler.endedCount(), 5u);
    clients.clear();
    EXPECT_LE(testsupport::openFdCount(), before);
}

TEST(HttpServerTest, ListenFailsOnATakenPort)
{
    TestHandler handler;
    ServerThread first(&handler);
    ASSERT_TRUE(first.listened);
    HttpServer second(&handler);
    EXPECT_FALSE(second.listen(QHostAddress::LocalHost, first.server.boundPort()));
    EXPECT_FALSE(second.error().isEmpty());
}

// A file reply much larger than the socket buffers, to clients that leave
// after its first bytes (with a reset or a plain close): the program goes on
// (no broken-pipe signal ends it) and the next client gets every byte.
TEST(HttpServerTest, FileReplyToClientsThatLeaveMidwayThenWhole)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    QByteArray content(24 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < content.size(); ++i)
        content[i] = char((i * 131) >> 7);
    ASSERT_EQ(file.write(content), content.size());
    file.flush();
    TestHandler handler;
    handler.filePath = QFile::encodeName(file.fileName());
    handler.fileSize = content.size();
    ServerThread st(&handler);
    ASSERT_TRUE(st.listened);
    const QByteArray request = "GET /file HTTP/1.1\r\nHost: a\r\n\r\n";

    for (const bool reset : {true, false, true, false}) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ASSERT_GE(s, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(st.server.boundPort());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::send(s, request.constData(), size_t(request.size()), MSG_NOSIGNAL), request.size());
        char some[4096];
        ASSERT_GT(::recv(s, some, sizeof some, 0), 0);
        if (reset) {
            const linger hard{1, 0};
            ::setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        }
        ::close(s);
    }
    ASSERT_TRUE(waitUntil([&] { return handler.endedCount() == 4; }, 10000)) << "every cut-short reply ended";

    const QByteArray reply = testsupport::rawHttpExchange(st.server.boundPort(), request, 20000);
    const int split = reply.indexOf("\r\n\r\n");
    ASSERT_GT(split, 0);
    EXPECT_EQ(reply.left(split), QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: image/jpeg\r\n"
                                            "Content-Length: ")
                                     + QByteArray::number(content.size()));
    EXPECT_TRUE(reply.mid(split + 4) == content) << "the whole file, byte for byte";
}

// A reply of pieces (text, a large block, text) handed over from another
// thread: the client gets them in order as one body, and what the pieces
// point into is let go once the reply is over, whether the client read it
// all or left after its first bytes.
TEST(HttpServerTest, PiecesGoOutInOrderAndTheirHolderIsLetGoAfterwards)
{
    TestHandler handler;
    ServerThread st(&handler);
    ASSERT_TRUE(st.listened);
    auto makeReply = [](std::weak_ptr<const void>* watch) {
        auto held = std::make_shared<std::vector<QByteArray>>();
        held->push_back("--head\r\n");
        QByteArray block(12 * 1024 * 1024, Qt::Uninitialized);
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((i * 131) >> 7);
        held->push_back(block);
        held->push_back("\r\n--tail\r\n");
        Reply r;
        r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("multipart/form-data")));
        for (const QByteArray& b : *held)
            r.pieces.push_back({b.constData(), size_t(b.size())});
        *watch = held;
        r.keep = std::move(held);
        return r;
    };
    const QByteArray request = "GET /later HTTP/1.1\r\nHost: a\r\n\r\n";

    // A client that leaves after the first bytes.
    {
        std::weak_ptr<const void> watch;
        testsupport::RawHttpConnection c(st.server.boundPort());
        ASSERT_TRUE(c.send(request));
        ASSERT_TRUE(waitUntil([&] { return handler.waitingIds().size() == 1; }));
        std::thread([&] { st.server.deliver(handler.waitingIds().back(), makeReply(&watch)); }).join();
        EXPECT_FALSE(c.readSome(4096).isEmpty());
        c.close();
        EXPECT_TRUE(waitUntil([&] { return watch.expired(); }, 10000)) << "the holder of a cut-short reply is let go";
    }
    // One that reads it all.
    std::weak_ptr<const void> watch;
    QByteArray reply;
    std::thread reader([&] { reply = testsupport::rawHttpExchange(st.server.boundPort(), request, 20000); });
    ASSERT_TRUE(waitUntil([&] { return handler.waitingIds().size() == 2; }));
    Reply r = makeReply(&watch);
    const QByteArray expected = r.joinedBody();
    std::thread([&] { st.server.deliver(handler.waitingIds().back(), std::move(r)); }).join();
    reader.join();
    const int split = reply.indexOf("\r\n\r\n");
    ASSERT_GT(split, 0);
    EXPECT_TRUE(reply.left(split).endsWith("Content-Length: " + QByteArray::number(expected.size())));
    EXPECT_TRUE(reply.mid(split + 4) == expected) << "the pieces in order, byte for byte";
    EXPECT_TRUE(waitUntil([&] { return watch.expired(); })) << "the holder of a sent reply is let go";
}
