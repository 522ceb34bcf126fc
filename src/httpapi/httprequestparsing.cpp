#include "httpapi/httprequestparsing.h"
#include "foundation/logmanager.h"

#include "foundation/publictools.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonParseError>

QMap<QString, QVariant> parseHttpQuery(const QByteArray& query)
{
    QMap<QString, QVariant> out;
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
    const QString media = contentType.section(QLatin1Char(';'), 0, 0).trimmed();
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
    CTask_FormData_Mongoose rec;
    rec.connection = ex.id;
    rec.peer_ip = ex.peerIp;
    rec.data.url = QString::fromUtf8(ex.path());
    rec.data.method = QString::fromUtf8(ex.method);
    rec.data.query = parseHttpQuery(ex.query());
    for (const auto& h : ex.headers)
        rec.data.headers.insert(QString::fromUtf8(h.first), QString::fromUtf8(h.second));
    const QString agent = headerValueAnyCase(ex.headers, "User-Agent");
    rec.data.user_agent = agent.isNull() ? new_uuid(0) : agent;
    rec.data.content_type = headerValueAnyCase(ex.headers, "Content-Type");
    rec.data.user_id = headerValueAnyCase(ex.headers, "User-ID");
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
