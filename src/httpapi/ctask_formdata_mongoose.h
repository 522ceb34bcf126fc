#pragma once
// One request of the HTTP control API and, built from it, its reply. A value:
// re-posted handler calls queue a copy. The server thread fills the request
// fields; handlers fill the reply fields and hand the record to
// HttpReactor_MG::finishWorkAction.
#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

#include <opencv2/core.hpp>

class HttpAnswerGuard;

struct TFM_Data {
    QString url;           // request path without query, as sent (never percent-decoded)
    QString method;        // as sent
    QString content_type;  // request: the "Content-Type" header; reply: Content-Type to send (empty: the kind's default)
    QString user_agent;    // "User-Agent", or a fresh "VC_#..." identifier when absent
    QString device_id;     // reply: this device's id (callback_inherit)
    QString user_id;       // the "User-ID" header, empty when absent
    QMap<QString, QVariant> query;    // query keys to QString values, not percent-decoded
    QMap<QString, QVariant> headers;  // request: every header as sent; reply: extra header lines
    int code = 0;                     // "code" of the JSON envelope
    QString msg = QStringLiteral("OK");  // "msg" of the JSON envelope
    QByteArray body;       // request: raw body unless JSON; reply: byte-stream reply when not empty
    QJsonObject json;      // request: the JSON body; reply: "result" of the envelope
    QMap<QString, QVariant> multipart_fields;  // reply: JSON objects or byte arrays
    QMap<QString, cv::Mat> multipart_images;   // reply: images sent as raw pixels
    QString file_path;     // request: the upload's cache file; reply: file reply when not empty
    // Request: the body was declared JSON but did not parse (json is empty).
    bool json_invalid = false;
};

class CTask_FormData_Mongoose {
public:
    // Id of the connection the request came on (where the reply goes); 0 for none.
    quint64 connection = 0;
    QString peer_ip;  // dotted text
    TFM_Data data;

    // Copies connection, peer_ip, url, method, user_agent, device_id and
    // user_id from src; nothing else.
    void inherit(const CTask_FormData_Mongoose& src);
    // Allows any origin and any method (extra reply headers).
    void addAccessControl();

    // Shared by every copy of a request record: when the last copy goes and
    // the request was never answered, it answers the code -1 envelope.
    QSharedPointer<HttpAnswerGuard> answer_guard;
};

Q_DECLARE_METATYPE(CTask_FormData_Mongoose)
