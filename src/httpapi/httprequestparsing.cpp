#include "httpapi/httprequestparsing.h"
#include "foundation/logmanager.h"

#include "foundation/publictools.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The method and the header names and values nearly every request carries,
// converted once: a copy of one allocates nothing. Anything else is converted
// from UTF-8 as it comes.
QString commonText(const QByteArray& bytes)
{
    static const std::pair<QByteArray, QString> table[] = {
        {QByteArrayLiteral("GET"), QStringLiteral("GET")},
        {QByteArrayLiteral("POST"), QStringLiteral("POST")},
        {QByteArrayLiteral("Host"), QStringLiteral("Host")},
        {QByteArrayLiteral("User-Agent"), QStringLiteral("User-Agent")},
        {QByteArrayLiteral("Connection"), QStringLiteral("Connection")},
        {QByteArrayLiteral("close"), QStringLiteral("close")},
        {QByteArrayLiteral("keep-alive"), QStringLiteral("keep-alive")},
        {QByteArrayLiteral("Accept"), QStringLiteral("Accept")},
        {QByteArrayLiteral("*/*"), QStringLiteral("*/*")},
        {QByteArrayLiteral("Content-Type"), QStringLiteral("Content-Type")},
        {QByteArrayLiteral("Content-Length"), QStringLiteral("Content-Length")},
        {QByteArrayLiteral("application/json"), QStringLiteral("application/json")},
        {QByteArrayLiteral("User-ID"), QStringLiteral("User-ID")},
        {QByteArrayLiteral("Accept-Encoding"), QStringLiteral("Accept-Encoding")},
    };
    // The table by length: a lookup compares with one to three entries.
    constexpr int kLongest = 24;
    static const std::array<std::vector<const std::pair<QByteArray, QString>*>, kLongest + 1> bySize = [] {
        std::array<std::vector<const std::pair<QByteArray, QString>*>, kLongest + 1> buckets;
        for (const auto& t : table)
            buckets[t.first.size()].push_back(&t);
        return buckets;
    }();
    const int size = bytes.size();
    if (size <= kLongest) {
        for (const auto* t : bySize[size]) {
            if (std::memcmp(t->first.constData(), bytes.constData(), static_cast<size_t>(size)) == 0)
                return t->second;
        }
    }
    return QString::fromUtf8(bytes);
}

}  // namespace

QMap<QString, QVariant> parseHttpQuery(const QByteArray& query)
{
    QMap<QString, QVariant> out;
    if (query.isEmpty())
        return out;  // nearly every request: no split list to build
    for (const QByteArray& part : query.split('&')) {
        if (part.isEmpty())
            continue;
        // Leading "=" are skipped; the key ends at the next "=", the value
        // is everything after it.
        int start = 0;
        while (start < part.size() && part.at(start) == '=')
            ++start;
        if (start == part.size())
            continue;
        const int eq = part.indexOf('=', start);
        const QByteArray key = eq < 0 ? part.mid(start) : part.mid(start, eq - start);
        const QByteArray value = eq < 0 ? QByteArray() : part.mid(eq + 1);
        out.insert(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    return out;
}

bool isJsonContentType(const QString& contentType)
{
    const int semicolon = contentType.indexOf(QLatin1Char(';'));
    const QStringRef media = contentType.leftRef(semicolon).trimmed();  // -1: the whole text
    return media.compare(QLatin1String("application/json"), Qt::CaseInsensitive) == 0;
}

QString headerValueAnyCase(const httpserver::HeaderList& headers, const char* name)
{
    for (const auto& h : headers) {
        if (qstricmp(h.first.constData(), name) == 0)
            return QString::fromUtf8(h.second.isNull() ? QByteArray("") : h.second);
    }
    return QString();
}

CTask_FormData_Mongoose requestRecordFrom(const httpserver::Exchange& ex, const QByteArray& body)
{
    return requestRecordFrom(ex, body, QString::fromUtf8(ex.path()));
}

CTask_FormData_Mongoose requestRecordFrom(const httpserver::Exchange& ex, const QByteArray& body, const QString& url)
{
    CTask_FormData_Mongoose rec;
    rec.connection = ex.id;
    rec.peer_ip = ex.peerIp;
    rec.data.url = url;
    rec.data.method = commonText(ex.method);
    rec.data.query = parseHttpQuery(ex.query());
    // One pass: every header into the map, and the first of each of the
    // three named ones (any case) taken from the same converted text.
    QString agent, contentType, userId;
    bool haveAgent = false, haveType = false, haveUser = false;
    for (const auto& h : ex.headers) {
        const QString value = commonText(h.second);
        QString* wanted = nullptr;
        if (!haveAgent && h.first.size() >= 10 && qstricmp(h.first.constData(), "User-Agent") == 0) {
            haveAgent = true;
            wanted = &agent;
        } else if (!haveType && h.first.size() >= 12 && qstricmp(h.first.constData(), "Content-Type") == 0) {
            haveType = true;
            wanted = &contentType;
        } else if (!haveUser && h.first.size() >= 7 && qstricmp(h.first.constData(), "User-ID") == 0) {
            haveUser = true;
            wanted = &userId;
        }
        if (wanted)
            *wanted = h.second.isNull() ? QString::fromUtf8("") : value;  // present: never a null text
        rec.data.headers.insert(commonText(h.first), value);
    }
    rec.data.user_agent = haveAgent ? agent : new_uuid(0);
    rec.data.content_type = contentType;
    rec.data.user_id = userId;
    if (!isJsonContentType(rec.data.content_type)) {
        rec.data.body = body;
        return rec;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        rec.data.json_invalid = true;
        qCWarning(level_1) << "parseAnd2Queue" << "json error:"
                   << (err.error != QJsonParseError::NoError ? err.errorString() : QStringLiteral("not an object"))
                   << rec.data.url;
    } else {
        rec.data.json = doc.object();
    }
    return rec;
}
