// Pushes of 1920x1080 images to the operator application over loopback,
// beside a bare QTcpSocket doing the same job in the same run. Each push is
// timed from the call to the last byte at the receiver:
//   - whole mask:  one 8-bit 1920x1080 image part with its "-info" part;
//   - packed mask: the mask packed 8 pixels a byte, as a byte part with its
//                  information object (multipart of mixed parts);
//   - colour:      one 3-channel 1920x1080 image part.
// Both build the message from the image on every push and connect anew (the
// publisher makes one connection per push). Ours is a push connection and
// its writer, run on a long-lived push thread as the publisher runs them
// (one thread for all its pushes, started once); the reference
// connects a bare QTcpSocket on the calling thread, builds the head and the
// information part with plain QByteArray and QJsonDocument, and writes the
// pixels from the image's own memory, as ours does; both write the same
// pieces and flush them to the kernel at once. Neither packs the mask inside
// the timed span: the caller packs it before the push, so both are handed
// the same bytes, packed once by a plain loop (the packing itself is timed in
// maskpacking_bench). The two messages are checked byte for byte before
// timing. Both wait for the receiver the same
// way. Besides the wall time from the call to the last byte, the process's
// CPU time per push is printed (all threads, the receiver's included, which
// is the same for both): it survives a loaded machine, where the wall time
// mostly measures how long each thread waits for a core. The floor printed
// beside them is what every push of ours adds by design: one call handed to
// the long-lived push thread and its answer handed back. 60 pushes each
// (or the count given as the first argument; a second argument times only
// the push whose name starts with it, for a profiler); median and 99th
// percentile.
#include "net/sci_execobj_send.h"
#include "net/tcp_push2app.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <opencv2/core.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// Counts the bytes of each connection; releases `finished` once the armed
// count arrived.
class Receiver : public QObject {
public:
    std::atomic<qint64> expect{0};
    std::atomic<qint64> got{0};
    QSemaphore finished;
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
                    const qint64 before = got.load();
                    got += s->readAll().size();
                    if (before < expect.load() && got.load() >= expect.load())
                        finished.release();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    void arm(qint64 bytes)
    {
        finished.tryAcquire(finished.available());
        got = 0;
        expect = bytes;
    }
    bool wait() { return finished.tryAcquire(1, 10000); }
};

// CPU milliseconds this process has used, all threads.
double processCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double pct(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// ---- the reference message, built plainly ----

const QByteArray kBoundary = "------------------------tcpservreactor";

QByteArray plainPart(const QByteArray& name, const QByteArray& type)
{
    return kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\nContent-Type: " + type +
           "\r\n\r\n";
}

QByteArray plainImageInfo(const QByteArray& key, const cv::Mat& m)
{
    const QJsonObject info{{"datakey", QString::fromLatin1(key)}, {"channels", m.channels()}, {"data_type", "org"},
                           {"size_width", m.cols}, {"size_height", m.rows}};
    return plainPart(key + "-info", "application/json") + QJsonDocument(info).toJson(QJsonDocument::Compact) + "\r\n";
}

// Head and body pieces of a multipart POST; the pixels are not copied.
QList<QByteArray> plainMessage(quint16 port, const QList<QByteArray>& parts)
{
    qint64 length = 0;
    for (const QByteArray& p : parts)
        length += p.size();
    length += kBoundary.size() + 2;
    QList<QByteArray> out;
    out << "POST /dide/initiative/runresult_mask HTTP/1.1\r\nHOST: 127.0.0.1:" + QByteArray::number(port) +
               "\r\nUser-Agent: bench\r\nContent-Type: multipart/form-data;boundary=" + kBoundary +
               "\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
    out << parts << kBoundary + "\r\n";
    return out;
}

QByteArray raw(const cv::Mat& m)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(m.data), int(m.total() * m.elemSize()));
}

QList<QByteArray> plainWhole(quint16 port, const cv::Mat& mask)
{
    return plainMessage(port, {plainImageInfo("mask", mask), plainPart("mask", "application/octet-stream"), raw(mask),
                               "\r\n"});
}

QList<QByteArray> plainPacked(quint16 port, const QByteArray& packed)
{
    const QJsonObject info{{"datakey", "mask"}, {"data_type", "8in1_scope"}};
    return plainMessage(port, {plainPart("mask", "application/octet-stream"), packed, "\r\n",
                               plainPart("mask-info", "application/json") +
                                   QJsonDocument(info).toJson(QJsonDocument::Compact) + "\r\n"});
}

QList<QByteArray> plainColour(quint16 port, const cv::Mat& colour)
{
    return plainMessage(port, {plainImageInfo("image", colour), plainPart("image", "application/octet-stream"),
                               raw(colour), "\r\n"});
}

QByteArray joined(const QList<QByteArray>& pieces)
{
    QByteArray all;
    for (const QByteArray& p : pieces)
        all += p;
    return all;
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
        std::function<QList<QByteArray>()> plain;
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
    const quint16 port = rx.port;
    const std::vector<Case> cases = {{"whole mask", whole, [&] { return plainWhole(port, mask); }},
                                     {"packed mask", pack, [&] { return plainPacked(port, packed); }},
                                     {"colour image", col, [&] { return plainColour(port, colour); }}};
    const int kRuns = argc > 1 ? std::max(1, atoi(argv[1])) : 60;

    // The push thread, kept for every push as the publisher keeps it.
    const auto pushThread = std::make_shared<CLSC::ReactorThread>(QStringLiteral("push"));

    // The floor: one call handed to the long-lived thread and answered.
    std::vector<double> floor;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        QSemaphore ran;
        pushThread->post([&] { ran.release(); });
        ran.acquire();
        floor.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::printf("floor: one call handed to the push thread and answered: p50 %.3f ms, p99 %.3f ms\n",
                pct(floor, 0.5), pct(floor, 0.99));

    std::printf("%-14s %11s %11s %11s %11s %7s | %12s %12s %7s\n", "push", "ours p50 ms", "ours p99 ms",
                "bare p50 ms", "bare p99 ms", "ratio", "ours cpu ms", "bare cpu ms", "ratio");
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    for (const Case& c : cases) {
        if (!QByteArray(c.name).startsWith(only))
            continue;
        SCI_ExecObj_Send probe(c.form);
        const QByteArray ourBytes = probe.compose("127.0.0.1", port).joined();
        if (ourBytes != joined(c.plain())) {
            std::printf("%s: the reference message differs from ours; not timed\n", c.name);
            return 1;
        }
        const qint64 bytes = ourBytes.size();
        std::vector<double> ours, bare;
        double oursCpu = 0, bareCpu = 0;
        for (int i = 0; i < kRuns; ++i) {
            // Ours: a push connection and its writer.
            rx.arm(bytes);
            QElapsedTimer t;
            t.start();
            double cpu0 = processCpuMs();
            {
                Tcp_Push2APP push(10);
                push.setReactorThread(pushThread);
                push.startReactorAndPost(QHostAddress::LocalHost, port, 1, c.form);
                if (!rx.wait())
                    std::printf("ours: receiver timed out\n");
                ours.push_back(double(t.nsecsElapsed()) / 1e6);
                oursCpu += processCpuMs() - cpu0;
            }
            // Reference: a bare socket, the message built plainly.
            rx.arm(bytes);
            t.restart();
            cpu0 = processCpuMs();
            {
                QTcpSocket s;
                s.connectToHost(QHostAddress::LocalHost, port);
                s.waitForConnected(1000);
                for (const QByteArray& p : c.plain())
                    s.write(p);
                s.flush();  // as ours hands the message to the kernel at once
                while (s.bytesToWrite() > 0 && s.waitForBytesWritten(1000)) {
                }
                if (!rx.wait())
                    std::printf("bare: receiver timed out\n");
                bare.push_back(double(t.nsecsElapsed()) / 1e6);
                bareCpu += processCpuMs() - cpu0;
            }
        }
        const double o50 = pct(ours, 0.5), o99 = pct(ours, 0.99), b50 = pct(bare, 0.5), b99 = pct(bare, 0.99);
        std::printf("%-14s %11.2f %11.2f %11.2f %11.2f %7.2f | %12.3f %12.3f %7.2f\n", c.name, o50, o99, b50, b99,
                    b50 > 0 ? o50 / b50 : 0, oursCpu / kRuns, bareCpu / kRuns, bareCpu > 0 ? oursCpu / bareCpu : 0);
    }
    rxThread.quit();
    rxThread.wait();
    return 0;
}
