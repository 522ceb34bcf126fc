#include "net/sci_execobj_recv.h"

#include "foundation/publictools.h"
#include "net/netlog.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const QByteArray kBlank = QByteArrayLiteral("\r\n\r\n");

// Index of the start line inside a head, or -1.
int startLineOffset(const QByteArray& head)
{
    int pos = 0;
    while (pos < head.size()) {
        int end = head.indexOf("\r\n", pos);
        if (end < 0)
            end = head.size();
        if (head.mid(pos, end - pos).contains("HTTP/1.1"))
            return pos;
        pos = end + 2;
    }
    return -1;
}

// The value of a "Name: value" line: pieces after the first ":" joined
// again, every blank removed.
QString headerValue(const QString& line)
{
    const QStringList pieces = line.split(QLatin1Char(':'));
    if (pieces.size() < 2)
        return QString();
    QString v = pieces.mid(1).join(QLatin1Char(':'));
    v.remove(QLatin1Char(' '));
    return v;
}

// A JSON number that is a whole positive int, else 0.
qint64 positiveInt(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!(d > 0) || d > double(std::numeric_limits<int>::max()) || std::floor(d) != d)
        return 0;
    return qint64(d);
}

QString headText(const QByteArray& head)
{
    const int zero = head.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? head : head.left(zero));
}

}  // namespace

namespace httpread {

qint64 contentLengthOf(const QByteArray& head, bool* present)
{
    qint64 value = 0;
    if (present)
        *present = false;
    const QStringList lines = headText(head).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        if (!line.contains(QStringLiteral("Content-Length")))
            continue;
        if (present)
            *present = true;
        bool ok = false;
        const qint64 n = headerValue(line).toLongLong(&ok);
        value = (!ok || n < 0 || n > kMaxBody) ? -1 : n;
    }
    return value;
}

HttpCut cut(const QByteArray& stream)
{
    HttpCut r;
    const int blank = stream.left(kMaxHead + 4).indexOf(kBlank);
    if (blank < 0) {
        if (stream.size() > kMaxHead + 3) {
            r.kind = HttpCut::Bad;
            r.fatal = true;
            r.why = QStringLiteral("head longer than %1 bytes").arg(kMaxHead);
        }
        return r;
    }
    const QByteArray rawHead = stream.left(blank);
    const int start = startLineOffset(rawHead);
    if (start < 0) {
        r.kind = HttpCut::Bad;
        r.used = blank + 4;
        r.why = QStringLiteral("head without a start line");
        return r;
    }
    const QByteArray head = rawHead.mid(start);
    const qint64 length = contentLengthOf(head);
    if (length < 0) {
        r.kind = HttpCut::Bad;
        r.fatal = true;
        r.why = QStringLiteral("Content-Length negative, not a number or above %1").arg(kMaxBody);
        return r;
    }
    r.headComplete = true;
    r.contentLength = int(length);
    r.isRequest = !head.startsWith("HTTP/1.1");
    r.used = start;  // garbage before the start line
    r.head = head;
    const qint64 have = qint64(stream.size()) - (blank + 4);
    if (have < length)
        return r;
    r.kind = HttpCut::Complete;
    r.used = int(blank + 4 + length);
    r.body = stream.mid(blank + 4, int(length));
    return r;
}

}  // namespace httpread

HttpRead readHttpMessage(const QByteArray& stream, int sessionIndex)
{
    HttpRead r;
    r.cut = httpread::cut(stream);
    if (r.cut.kind != HttpCut::Complete)
        return r;
    SCI_ExecObj_Recv recv(r.cut.head, sessionIndex);
    recv.addBody(r.cut.body);
    r.decoded = recv.analysisIntegrality();
    if (r.decoded)
        r.form = recv.getFormData();
    return r;
}

SCI_ExecObj_Recv::SCI_ExecObj_Recv(const QByteArray& rawHead, int sessionIndex)
{
    session_index = sessionIndex;
    head = headText(rawHead);
    const QStringList lines = head.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    bool haveAgent = false;
    for (const QString& line : lines) {
        if (line.contains(QStringLiteral("HTTP/1.1"))) {
            const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (line.startsWith(QStringLiteral("HTTP/1.1"))) {
                head_method = QStringLiteral("Response");
            } else if (pieces.size() > 2) {
                head_method = pieces.at(0);
                head_url = pieces.at(1);
            }
        }
        if (line.contains(QStringLiteral("User-Agent")) && line.split(QLatin1Char(':')).size() >= 2) {
            head_user_agent = headerValue(line);
            haveAgent = true;
        }
        if (line.contains(QStringLiteral("Content-Type")))
            head_content_type = headerValue(line);
        if (line.contains(QStringLiteral("Content-Length"))) {
            bool ok = false;
            const qint64 n = headerValue(line).toLongLong(&ok);
            content_length = (ok && n >= 0 && n <= httpread::kMaxBody) ? qint32(n) : 0;
        }
        if (line.contains(QStringLiteral("User-ID")))
            head_user_id = headerValue(line);
    }
    if (!haveAgent) {
        head_user_agent = QStringLiteral("defalut#") + gettimeofday2str("yyyyMMdd_hhmmss_zzz") + QLatin1Char('#') +
                          QString::number(sessionIndex);
    }
    form.uuid = head_user_agent;
    form.url = head_url;
    form.user_id = head_user_id;
    form.session_index = sessionIndex;
}

void SCI_ExecObj_Recv::setDuplex_Info(const QHostAddress& address, quint16 port)
{
    QString a = address.toString();
    a.remove(QStringLiteral("::ffff:"));
    form.peer_address = a;
    form.peer_port = port;
}

int SCI_ExecObj_Recv::getNeedLength() const
{
    return int(qint64(content_length) - body.size());
}

bool SCI_ExecObj_Recv::analysisIntegrality()
{
    if (getNeedLength() > 0)
        return false;
    // A request line without its target ("POST  HTTP/1.1") is no response either.
    if (head_method.isEmpty())
        return false;
    if ((head_method == QLatin1String("GET") || head_method == QLatin1String("PUT") ||
         head_method == QLatin1String("POST")) &&
        head_url.isEmpty())
        return false;
    const QStringList urlPieces = head_url.split(QLatin1Char('?'), Qt::SkipEmptyParts);
    if (urlPieces.size() > 1) {
        form.url = urlPieces.first();
        const QStringList pairs = urlPieces.mid(1).join(QLatin1Char('?')).split(QLatin1Char('&'));
        for (const QString& pair : pairs) {
            const QStringList kv = pair.split(QLatin1Char('='), Qt::SkipEmptyParts);
            if (kv.size() == 2)
                form.query.insert(kv.at(0), kv.at(1));
        }
    }
    if (body.isEmpty())
        return true;
    form.content_type = head_content_type;
    if (head_content_type.contains(QStringLiteral("application/json")))
        return analysisIntegrality_json(body, form);
    if (head_content_type.contains(QStringLiteral("multipart/form-data"))) {
        const int eq = head_content_type.indexOf(QLatin1Char('='));
        if (eq < 0)
            return false;
        return analysisIntegrality_multipart(head_content_type.mid(eq + 1).toUtf8(), body, form);
    }
    if (head_content_type == QLatin1String("application/octet-stream") ||
        head_content_type == QLatin1String("image/jpeg"))
        return analysisIntegrality_file(body, form);
    return analysisIntegrality_Default(body, form);
}

bool SCI_ExecObj_Recv::analysisIntegrality_json(const QByteArray& body, CTask_FormData& form)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError) {
        static NetLogLimiter limiter;
        int held = 0;
        if (limiter.allow(&held)) {
            qCWarning(level_1).noquote() << "analysisIntegrality_json" << "json error:" << body.left(256)
                                         << err.errorString() << "held back" << held;
        }
        return false;
    }
    form.json = doc.object();
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_file(const QByteArray& body, CTask_FormData& form)
{
    form.bytes_parts.clear();
    form.bytes_parts.insert(QString(), body);
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_Default(const QByteArray& body, CTask_FormData& form)
{
    form.body = body;
    return true;
}

bool SCI_ExecObj_Recv::analysisIntegrality_multipart(const QByteArray& boundary, const QByteArray& body,
                                                     CTask_FormData& form)
{
    if (boundary.isEmpty())
        return false;
    static const QRegularExpression kName(QStringLiteral(".*name=\"(\\S+)\".*"));
    QMap<QString, QVariant> named;      // JSON objects and texts by name
    QMap<QString, QByteArray> bytes;    // octet-stream parts by name
    int pos = 0;
    while (pos >= 0 && pos < body.size()) {
        const int b = body.indexOf(boundary, pos);
        if (b < 0)
            break;
        const QByteArray piece = body.mid(pos, b - pos);
        pos = b + boundary.size() + 2;
        const int blank = piece.indexOf(kBlank);
        if (piece.isEmpty() || blank < 0)
            continue;
        const QString partHead = QString::fromUtf8(piece.left(blank));
        QByteArray content = piece.mid(blank + 4);
        content.chop(2);
        QString name;
        QString type;
        for (const QString& line : partHead.split(QStringLiteral("\r\n"))) {
            if (line.contains(QStringLiteral("Content-Disposition"))) {
                const QRegularExpressionMatch m = kName.match(line);
                if (m.hasMatch())
                    name = m.captured(1);
            }
            if (line.contains(QStringLiteral("Content-Type"))) {
                const QStringList pieces = line.split(QLatin1Char(':'));
                if (pieces.size() == 2)
                    type = pieces.at(1);
            }
        }
        if (name.isEmpty())
            continue;
        if (type.contains(QStringLiteral("application/json"))) {
            QJsonParseError err{};
            const QJsonDocument doc = QJsonDocument::fromJson(content, &err);
            if (err.error == QJsonParseError::NoError)
                named.insert(name, doc.object());
        } else if (type.contains(QStringLiteral("application/octet-stream"))) {
            bytes.insert(name, content);
        } else {
            named.insert(name, QString::fromUtf8(content));
        }
    }
    for (auto it = named.cbegin(); it != named.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.userType() == QMetaType::QJsonObject) {
            const QJsonObject o = v.toJsonObject();
            if (o.contains(QStringLiteral("data_type")) && it.key().contains(QStringLiteral("-info"))) {
                const qint64 ch = positiveInt(o.value(QStringLiteral("channels")));
                const qint64 w = positiveInt(o.value(QStringLiteral("size_width")));
                const qint64 h = positiveInt(o.value(QStringLiteral("size_height")));
                const QString key = o.value(QStringLiteral("datakey")).toString();
                const auto data = bytes.constFind(key);
                if (data != bytes.cend() && (ch == 1 || ch == 3 || ch == 4) && w > 0 && h > 0 &&
                    ch * w * h == qint64(data->size())) {
                    cv::Mat m(int(h), int(w), CV_8UC(int(ch)));
                    std::memcpy(m.data, data->constData(), size_t(data->size()));
                    form.mat_parts.insert(it.key(), m);
                }
                continue;
            }
        }
        form.variant_parts.insert(it.key(), v);
    }
    return true;
}
