#pragma once
// Pure functions from the bytes of a request to the fields of its record.
#include "httpapi/ctask_formdata_mongoose.h"
#include "httpserver/httpserver.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

// The query string split into keys and values: parts on "&" (empty parts
// dropped); in each part leading "=" are skipped, the key runs to the next
// "=" and the value is the rest (empty without "="). Never percent-decoded.
QMap<QString, QVariant> parseHttpQuery(const QByteArray& query);

// Whether a Content-Type names JSON: the media type before any parameter,
// compared without case.
bool isJsonContentType(const QString& contentType);

// The value of the first header named `name`, compared without case; a null
// text when absent.
QString headerValueAnyCase(const httpserver::HeaderList& headers, const char* name);

// The request record of a complete request with this body. Bad JSON leaves
// `json` empty, sets json_invalid and logs a warning.
CTask_FormData_Mongoose requestRecordFrom(const httpserver::Exchange& ex, const QByteArray& body);
// The same, for a caller that already holds the target's path as text
// (QString::fromUtf8(ex.path())).
CTask_FormData_Mongoose requestRecordFrom(const httpserver::Exchange& ex, const QByteArray& body, const QString& url);
