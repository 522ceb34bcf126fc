#include "net/sci_execobj_send.h"

#include "foundation/publictools.h"
#include "net/netlog.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <atomic>

const QByteArray SCI_ExecObj_Send::kBoundary = QByteArrayLiteral("------------------------tcpservreactor");

namespace {

const QByteArray kCrlf = QByteArrayLiteral("\r\n");
std::atomic<int> g_taskCounter{0};
std::atomic<int> g_fileGuardMs{30000};

// Timing of image sends, reported every 100 sends.
struct ImageSendStats {
    QMutex mutex;
    double sumMs = 0;
    double minMs = 0;
    double maxMs = 0;
    qint64 count = 0;
    qint64 periodStartMs = 0;

    void add(double ms)
    {
        QMutexLocker lock(&mutex);
        const qint64 now = gettimeofday_ms();
        if (periodStartMs == 0)
            periodStartMs = now;
        sumMs += ms;
        minMs = (minMs == 0 || ms < minMs) ? ms : minMs;
        maxMs = (maxMs == 0 || ms > maxMs) ? ms : maxMs;
        ++count;
        if (count % 100 != 0)
            return;
        const double periodMs = double(now - periodStartMs);
        const double fps = periodMs > 0 ? 1000.0 / (periodMs / 100.0) : 0.0;
        qInfo().noquote() << "ImgSend_Report --send:" << QStringLiteral("(%1)").arg(sumMs / 100.0, 0, 'f', 3)
                          << "--min/max:"
                          << QStringLiteral("(%1 / %2)").arg(minMs, 0, 'f', 3).arg(maxMs, 0, 'f', 3)
                          << "--fps:" << fps;
        sumMs = minMs = maxMs = 0;
        periodStartMs = now;
    }
};

ImageSendStats& imageStats()
{
    static ImageSendStats s;
    return s;
}

QByteArray partHead(const QString& name, const char* type)
{
    return SCI_ExecObj_Send::kBoundary + kCrlf + "Content-Disposition: form-data; name=\"" + name.toUtf8() + "\"" +
           kCrlf + "Content-Type: " + type + kCrlf + kCrlf;
}

// The JSON object parts of `parts` (other kinds skipped), as pieces.
void jsonParts(const QMap<QString, QVariant>& parts, QList<QByteArray>& out, bool withBytes)
{
    for (auto it = parts.cbegin(); it != parts.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.userType() == QMetaType::QJsonObject) {
            out << partHead(it.key(), "application/json")
                       + QJsonDocument(v.toJsonObject()).toJson(QJsonDocument::Compact) + kCrlf;
        } else if (withBytes && v.userType() == QMetaType::QByteArray) {
            out << partHead(it.key(), "application/octet-stream") << v.toByteArray() << kCrlf;
        }
    }
}

qint64 totalSize(const QList<QByteArray>& pieces)
{
    qint64 n = 0;
    for (const QByteArray& p : pieces)
        n += p.size();
    return n;
}

NetLogLimiter g_imageLimiter;

}  // namespace

QByteArray SCI_ExecObj_Send::Wire::joined() const
{
    QByteArray all;
    all.reserve(int(totalSize(pieces)));
    for (const QByteArray& p : pieces)
        all += p;
    return all;
}

void SCI_ExecObj_Send::setFileGuardMs(int ms) { g_fileGuardMs.store(ms); }
int SCI_ExecObj_Send::fileGuardMs() { return g_fileGuardMs.load(); }

SCI_ExecObj_Send::SCI_ExecObj_Send(const CTask_FormData& f) : form(f)
{
    if (form.uuid.isEmpty()) {
        form.uuid = QStringLiteral("vistrel#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz") + QLatin1Char('#') +
                    QString::number(++g_taskCounter);
    }
    create_time = gettimeofday_ms();
}

QByteArray SCI_ExecObj_Send::headTail(qint64 contentLength, bool withType, const QString& type) const
{
    QByteArray h;
    if (withType)
        h += "Content-Type: " + type.toUtf8() + kCrlf;
    if (!form.device_id.isEmpty())
        h += "Device-ID: " + form.device_id.toUtf8() + kCrlf;
    h += "Content-Length: " + QByteArray::number(contentLength) + kCrlf;
    for (auto it = form.headers.cbegin(); it != form.headers.cend(); ++it)
        h += it.key().toUtf8() + ": " + it.value().toUtf8() + kCrlf;
    h += kCrlf;
    return h;
}

SCI_ExecObj_Send::Wire SCI_ExecObj_Send::compose(const QString& peerAddress, quint16 peerPort)
{
    Wire w;
    m_keep.clear();
    const QString startLine = form.getResponseFirstLine();
    if (startLine.isEmpty())
        return w;
    QString host = peerAddress;
    host.remove(QStringLiteral("::ffff:"));
    const QByteArray headStart = startLine.toUtf8() + kCrlf + "HOST: " + host.toUtf8() + ":" +
                                 QByteArray::number(peerPort) + kCrlf + "User-Agent: " + form.uuid.toUtf8() + kCrlf;

    auto missingFile = [&] {
        form.code = 1;
        form.msg = QStringLiteral("未查询到需要获取的图片文件");
        form.content_type = QStringLiteral("application/json");
        form.bytes_parts.clear();
        Integrality_Json(w, headStart);
    };

    switch (form.getTaskPkgType()) {
    case CTask_Pkg_Json:
        form.content_type = QStringLiteral("application/json");
        Integrality_Json(w, headStart);
        break;
    case CTask_Pkg_Mat:
        form.content_type = QStringLiteral("multipart/form-data");
        Integrality_Mat(w, headStart);
        break;
    case CTask_Pkg_Bytes: {
        const auto first = form.bytes_parts.cbegin();
        if (form.content_type.isEmpty())
            form.content_type = QStringLiteral("application/octet-stream");
        if (!first.key().isEmpty()) {
            if (!Integrality_File(w, headStart, first.key()))
                missingFile();
        } else if (!first.value().isEmpty()) {
            Integrality_BinaryStream(w, headStart);
        } else {
            missingFile();
        }
        break;
    }
    case CTask_Pkg_Multi:
        form.content_type = QStringLiteral("multipart/form-data");
        Integrality_Multi(w, headStart);
        break;
    default:
        Integrality_Empty(w, headStart);
        break;
    }
    return w;
}

void SCI_ExecObj_Send::Integrality_Json(Wire& w, const QByteArray& headStart)
{
    QByteArray body;
    if (!form.url.isEmpty()) {
        body = QJsonDocument(form.json).toJson(QJsonDocument::Compact);
    } else {
        QJsonObject envelope{{QStringLiteral("code"), form.code},
                             {QStringLiteral("msg"), form.msg},
                             {QStringLiteral("result"), form.json}};
        body = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    }
    w.pieces << headStart + headTail(body.size(), true, form.content_type) + body;
}

void SCI_ExecObj_Send::Integrality_Empty(Wire& w, const QByteArray& headStart)
{
    QByteArray body;
    if (form.url.isEmpty()) {
        QJsonObject envelope{{QStringLiteral("code"), form.code},
                             {QStringLiteral("msg"), form.msg},
                             {QStringLiteral("result"), QJsonObject()}};
        body = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    }
    w.pieces << headStart + headTail(body.size(), false, QString()) + body;
}

void SCI_ExecObj_Send::Integrality_BinaryStream(Wire& w, const QByteArray& headStart)
{
    const QByteArray bytes = form.bytes_parts.cbegin().value();
    if (bytes.isEmpty())
        return;
    w.pieces << headStart + headTail(bytes.size(), true, form.content_type) << bytes;
}

bool SCI_ExecObj_Send::Integrality_File(Wire& w, const QByteArray& headStart, const QString& path)
{
    QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return false;
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        qCWarning(level_1).noquote() << "[TCP_SEND] file cannot be opened, answered as missing:" << path;
        return false;
    }
    w.filePath = path;
    w.fileSize = probe.size();
    w.pieces << headStart + headTail(w.fileSize, true, form.content_type);
    return true;
}

void SCI_ExecObj_Send::Integrality_Multi(Wire& w, const QByteArray& headStart)
{
    QList<QByteArray> parts;
    jsonParts(form.variant_parts, parts, true);
    parts << kBoundary + kCrlf;
    w.pieces << headStart + headTail(totalSize(parts), true,
                                     form.content_type + QStringLiteral(";boundary=") + QString::fromLatin1(kBoundary));
    w.pieces << parts;
}

void SCI_ExecObj_Send::Integrality_Mat(Wire& w, const QByteArray& headStart)
{
    QList<QByteArray> parts;
    jsonParts(form.variant_parts, parts, false);
    for (auto it = form.mat_parts.cbegin(); it != form.mat_parts.cend(); ++it) {
        const cv::Mat& m = it.value();
        if (m.empty() || m.depth() != CV_8U) {
            int held = 0;
            if (g_imageLimiter.allow(&held)) {
                qCWarning(level_1).noquote() << "[TCP_SEND] image part left out (not a non-empty 8-bit image):"
                                             << it.key() << "depth" << m.depth() << "held back" << held;
            }
            continue;
        }
        cv::Mat data = m.isContinuous() ? m : m.clone();
        m_keep << data;
        const QJsonObject info{{QStringLiteral("datakey"), it.key()},
                               {QStringLiteral("channels"), data.channels()},
                               {QStringLiteral("data_type"), QStringLiteral("org")},
                               {QStringLiteral("size_width"), data.cols},
                               {QStringLiteral("size_height"), data.rows}};
        parts << partHead(it.key() + QStringLiteral("-info"), "application/json") +
                     QJsonDocument(info).toJson(QJsonDocument::Compact) + kCrlf;
        const qint64 bytes = qint64(data.total()) * qint64(data.elemSize());
        parts << partHead(it.key(), "application/octet-stream")
              << QByteArray::fromRawData(reinterpret_cast<const char*>(data.data), int(bytes)) << kCrlf;
    }
    parts << kBoundary + kCrlf;
    w.pieces << headStart + headTail(totalSize(parts), true,
                                     form.content_type + QStringLiteral(";boundary=") + QString::fromLatin1(kBoundary));
    w.pieces << parts;
}

bool SCI_ExecObj_Send::SerializeWrite(QTcpSocket* s)
{
    if (!s || s->state() != QAbstractSocket::ConnectedState)
        return false;
    socket = s;
    const bool image = form.getTaskPkgType() == CTask_Pkg_Mat;
    QElapsedTimer timer;
    timer.start();
    Wire w = compose(s->peerAddress().toString(), s->peerPort());
    bool ok = !w.pieces.isEmpty();
    for (const QByteArray& p : qAsConst(w.pieces)) {
        if (s->write(p) != p.size())
            ok = false;
    }
    // Hand the message to the kernel now, as far as it takes it, instead of
    // one buffered block per turn of the event loop; the rest follows as the
    // socket drains.
    s->flush();
    if (ok && !w.filePath.isEmpty())
        ok = streamFile(s, w);
    m_keep.clear();
    socket = nullptr;
    if (image)
        imageStats().add(double(timer.nsecsElapsed()) / 1e6);
    return ok;
}

bool SCI_ExecObj_Send::streamFile(QTcpSocket* s, const Wire& w)
{
    QFile file(w.filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        // It could be opened a moment ago: the head is out, so the body can
        // only be cut; close rather than leave a short body looking complete.
        qCWarning(level_1).noquote() << "[TCP_SEND] file vanished during the send, connection closed:" << w.filePath;
        s->abort();
        return false;
    }
    QPointer<QTcpSocket> sock(s);
    qint64 remaining = w.fileSize;  // bytes not yet read from the file
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    bool done = false;
    bool failed = false;

    auto feed = [&] {
        while (sock && remaining > 0 && sock->bytesToWrite() < kFileChunk) {
            const QByteArray chunk = file.read(qMin<qint64>(kFileChunk, remaining));
            if (chunk.isEmpty()) {
                failed = true;
                break;
            }
            remaining -= chunk.size();
            if (sock->write(chunk) != chunk.size()) {
                failed = true;
                break;
            }
        }
        if (failed || (remaining <= 0 && sock && sock->bytesToWrite() == 0)) {
            done = !failed;
            loop.quit();
        }
    };
    QObject::connect(&guard, &QTimer::timeout, &loop, [&] {
        failed = true;
        loop.quit();
    });
    const auto progress = QObject::connect(s, &QTcpSocket::bytesWritten, &loop, [&](qint64) {
        guard.start(fileGuardMs());
        feed();
    });
    const auto gone = QObject::connect(s, &QTcpSocket::disconnected, &loop, [&] {
        failed = true;
        loop.quit();
    });
    guard.start(fileGuardMs());
    feed();
    if (!done && !failed)
        loop.exec();
    guard.stop();
    QObject::disconnect(progress);
    QObject::disconnect(gone);
    file.close();
    if (!done) {
        qCWarning(level_1).noquote() << "[TCP_SEND] file send stalled or failed, connection closed:" << w.filePath
                                     << "unsent bytes" << remaining;
        if (sock)
            sock->abort();
        return false;
    }
    return true;
}

bool SCI_ExecObj_Send::SendFixLand(const QByteArray& data)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    QTcpSocket* s = socket;
    qint64 offset = 0;
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto next = [&] {
        if (offset >= data.size()) {
            loop.quit();
            return;
        }
        const int n = int(qMin<qint64>(kFixLandChunk, data.size() - offset));
        const qint64 written = s->write(data.constData() + offset, n);
        offset += written > 0 ? written : n;
    };
    const auto c = QObject::connect(s, &QTcpSocket::bytesWritten, &loop, [&](qint64) { next(); });
    guard.start(kFixLandGuardMs);
    next();
    if (offset < data.size() || s->bytesToWrite() > 0)
        loop.exec();
    QObject::disconnect(c);
    return offset >= data.size();
}
