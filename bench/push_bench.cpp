// Pushes of 1920x1080 images to the operator application over loopback,
// beside a bare QTcpSocket writing the same bytes in the same run. Each push
// is timed from the call (a new push connection, as the publisher makes one
// per push) to the last byte at the receiver:
//   - whole mask:  one 8-bit 1920x1080 image part with its "-info" part;
//   - packed mask: the mask packed 8 pixels a byte, as a byte part with its
//                  information object (multipart of mixed parts);
//   - colour:      one 3-channel 1920x1080 image part.
// The reference connects a bare QTcpSocket and writes the same bytes, made
// once beforehand. 60 pushes each; median and 99th percentile.
#include "net/sci_execobj_send.h"
#include "net/tcp_push2app.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <opencv2/core.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Counts the bytes of each connection until it closes or reaches `expect`.
class Receiver : public QObject {
public:
    std::atomic<qint64> expect{0};
    std::atomic<qint64> got{0};
    std::atomic<bool> done{false};
    QTcpServer* server = nullptr;
    quint16 port = 0;

    void setup()  // on the receiver's thread
    {
        server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        port = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server->nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    got += s->readAll().size();
                    if (got.load() >= expect.load())
                        done = true;
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    void arm(qint64 bytes)
    {
        got = 0;
        done = false;
        expect = bytes;
    }
};

double pct(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void waitDone(Receiver& r)
{
    while (!r.done.load())
        QThread::yieldCurrentThread();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QThread rxThread;
    Receiver rx;
    rx.moveToThread(&rxThread);
    rxThread.start();
    QMetaObject::invokeMethod(&rx, [&] { rx.setup(); }, Qt::BlockingQueuedConnection);

    cv::Mat mask(1080, 1920, CV_8UC1);
    cv::randu(mask, 0, 2);
    cv::Mat colour(1080, 1920, CV_8UC3);
    cv::randu(colour, 0, 255);
    QByteArray packed(int(mask.total() + 7) / 8, '\0');
    for (size_t i = 0; i < mask.total(); ++i)
        if (mask.data[i])
            packed[int(i / 8)] = char(packed[int(i / 8)] | (1 << (i % 8)));

    struct Case {
        const char* name;
        CTask_FormData form;
    };
    CTask_FormData whole, pack, col;
    for (CTask_FormData* f : {&whole, &pack, &col}) {
        f->url = "/dide/initiative/runresult_mask";
        f->uuid = "bench";
    }
    whole.mat_parts.insert("mask", mask);
    pack.variant_parts.insert("mask", packed);
    pack.variant_parts.insert("mask-info", QJsonObject{{"datakey", "mask"}, {"data_type", "8in1_scope"}});
    col.mat_parts.insert("image", colour);
    const std::vector<Case> cases = {{"whole mask", whole}, {"packed mask", pack}, {"colour image", col}};
    const int kRuns = 60;

    std::printf("%-14s %12s %12s %12s %12s %8s\n", "push", "ours p50 ms", "ours p99 ms", "bare p50 ms",
                "bare p99 ms", "ratio");
    for (const Case& c : cases) {
        SCI_ExecObj_Send probe(c.form);
        // The reference writes these bytes as they are; ours builds them
        // from the form on every push (that work is in our time).
        const QByteArray msg = probe.compose("127.0.0.1", rx.port).joined();
        const qint64 bytes = msg.size();
        std::vector<double> ours, bare;
        for (int i = 0; i < kRuns; ++i) {
            // Ours: a push connection and its writer.
            rx.arm(bytes);
            QElapsedTimer t;
            t.start();
            {
                Tcp_Push2APP push(10);
                push.startReactor(QHostAddress::LocalHost, rx.port, 1);
                push.getReactor()->post_async(c.form);
                waitDone(rx);
                ours.push_back(double(t.nsecsElapsed()) / 1e6);
            }
            // Reference: a bare socket writing the same message, built plainly.
            rx.arm(bytes);
            t.restart();
            {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, rx.port);
                s.waitForConnected(1000);
                s.write(msg);
                while (!rx.done.load()) {
                    if (s.bytesToWrite() > 0)
                        s.waitForBytesWritten(10);
                    else
                        QThread::yieldCurrentThread();
                }
                bare.push_back(double(t.nsecsElapsed()) / 1e6);
            }
        }
        const double o50 = pct(ours, 0.5), o99 = pct(ours, 0.99), b50 = pct(bare, 0.5), b99 = pct(bare, 0.99);
        std::printf("%-14s %12.2f %12.2f %12.2f %12.2f %8.2f\n", c.name, o50, o99, b50, b99, b50 > 0 ? o50 / b50 : 0);
    }
    rxThread.quit();
    rxThread.wait();
    return 0;
}
