// Reply building of the HTTP control API: the reply kind follows from the
// fields a handler filled; the operator application parses these bytes.
#include "httpapi/httpreactor_mg.h"
#include "foundation/logmanager.h"

#include "foundation/publictools.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <memory>
#include <utility>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kMissingFile[] = "未查询到需要获取的图片文件";

// One header map written in name order (capitals first), then the two that
// every reply carries.
httpserver::Reply withHead(QMap<QString, QString>&& map, const CTask_FormData_Mongoose& r, QByteArray body)
{
    map.insert(QStringLiteral("User-Agent"), r.data.user_agent.isEmpty() ? new_uuid(0) : r.data.user_agent);
    map.insert(QStringLiteral("Device-ID"), r.data.device_id);
    httpserver::Reply reply;
    reply.status = 200;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        reply.headers.append({it.key().toUtf8(), it.value().toUtf8()});
    reply.body = std::move(body);
    return reply;
}

void addExtraHeaders(QMap<QString, QString>& map, const CTask_FormData_Mongoose& r)
{
    for (auto it = r.data.headers.cbegin(); it != r.data.headers.cend(); ++it)
        map.insert(it.key(), it.value().toString());
}

// The kind's Content-Type, then the extra headers, then the record's own
// Content-Type when it names one.
QMap<QString, QString> headerMap(const QString& kindType, const CTask_FormData_Mongoose& r)
{
    QMap<QString, QString> map;
    map.insert(QStringLiteral("Content-Type"), kindType);
    addExtraHeaders(map, r);
    if (!r.data.content_type.isEmpty())
        map.insert(QStringLiteral("Content-Type"), r.data.content_type);
    return map;
}

// The UTF-8 of a text that repeats from reply to reply on a thread (this
// device's id, the application's User-Agent): converted again only when the
// text changes.
struct RepeatedText {
    QString text;
    QByteArray bytes;
    const QByteArray& utf8(const QString& t)
    {
        if (t != text || bytes.isNull()) {
            text = t;
            bytes = t.toUtf8();
        }
        return bytes;
    }
};
thread_local RepeatedText t_deviceId;
thread_local RepeatedText t_userAgent;

// The head of a reply of this kind: what withHead(headerMap(...)) writes,
// without building the map when the record adds no header lines (nearly
// every reply): then the three names stand in their map order.
// `kindBytes` is kindType in UTF-8 (a constant of the caller, not converted
// for every reply).
httpserver::Reply head(const QString& kindType, const QByteArray& kindBytes, const CTask_FormData_Mongoose& r,
                       QByteArray body)
{
    if (!r.data.headers.isEmpty())
        return withHead(headerMap(kindType, r), r, std::move(body));
    httpserver::Reply reply;
    reply.status = 200;
    reply.headers.reserve(3);
    reply.headers.append(
        {QByteArrayLiteral("Content-Type"), r.data.content_type.isEmpty() ? kindBytes : r.data.content_type.toUtf8()});
    reply.headers.append({QByteArrayLiteral("Device-ID"), t_deviceId.utf8(r.data.device_id)});
    reply.headers.append({QByteArrayLiteral("User-Agent"),
                          r.data.user_agent.isEmpty() ? new_uuid(0).toUtf8() : t_userAgent.utf8(r.data.user_agent)});
    reply.body = std::move(body);
    return reply;
}

QByteArray partHead(const QString& name, const char* contentType)
{
    return HttpReactor_MG::multipartBoundary() + "\r\n" + "Content-Disposition: form-data; name=\"" + name.toUtf8()
           + "\"\r\n" + "Content-Type: " + contentType + "\r\n";
}

}  // namespace

QString HttpReactor_MG::mimeTypeForFile(const QString& path)
{
    static const QMap<QString, QString> table = {
        {"html", "text/html; charset=utf-8"}, {"htm", "text/html; charset=utf-8"},
        {"shtml", "text/html; charset=utf-8"}, {"css", "text/css; charset=utf-8"},
        {"js", "text/javascript; charset=utf-8"}, {"txt", "text/plain; charset=utf-8"},
        {"gif", "image/gif"}, {"png", "image/png"}, {"jpg", "image/jpeg"}, {"jpeg", "image/jpeg"},
        {"svg", "image/svg+xml"}, {"ico", "image/x-icon"}, {"webp", "image/webp"}, {"woff", "font/woff"},
        {"ttf", "font/ttf"}, {"avi", "video/x-msvideo"}, {"mov", "video/quicktime"}, {"mp4", "video/mp4"},
        {"mpeg", "video/mpeg"}, {"3gp", "video/3gpp"}, {"mp3", "audio/mpeg"}, {"wav", "audio/wav"},
        {"csv", "text/csv"}, {"doc", "application/msword"}, {"exe", "application/octet-stream"},
        {"gz", "application/gzip"}, {"tgz", "application/tar-gz"}, {"json", "application/json"},
        {"pdf", "application/pdf"}, {"zip", "application/zip"},
    };
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : path.mid(dot + 1);
    return table.value(suffix, QStringLiteral("application/octet-stream"));
}

httpserver::Reply HttpReactor_MG::Reply_Integrality_Json(const CTask_FormData_Mongoose& r)
{
    QJsonObject envelope;
    envelope.insert(QStringLiteral("code"), r.data.code);
    envelope.insert(QStringLiteral("msg"), r.data.msg);
    envelope.insert(QStringLiteral("result"), r.data.json);
    return head(QStringLiteral("application/json"), QByteArrayLiteral("application/json"), r,
                QJsonDocument(envelope).toJson(QJsonDocument::Compact));
}

httpserver::Reply HttpReactor_MG::Reply_Integrality_Empty(const CTask_FormData_Mongoose& r)
{
    return Reply_Integrality_Json(r);
}

httpserver::Reply HttpReactor_MG::Reply_Integrality_BinaryStream(const CTask_FormData_Mongoose& r)
{
    return head(QStringLiteral("application/octet-stream"), QByteArrayLiteral("application/octet-stream"), r,
                r.data.body);
}

std::optional<httpserver::Reply> HttpReactor_MG::Reply_Integrality_File(const CTask_FormData_Mongoose& r)
{
    const int fd = ::open(QFile::encodeName(r.data.file_path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    QMap<QString, QString> map;
    addExtraHeaders(map, r);
    map.insert(QStringLiteral("Content-Type"),
               r.data.content_type.isEmpty() ? mimeTypeForFile(r.data.file_path) : r.data.content_type);
    httpserver::Reply reply = withHead(std::move(map), r, QByteArray());
    reply.fd = fd;
    reply.fileSize = static_cast<qint64>(st.st_size);
    return reply;
}

httpserver::Reply HttpReactor_MG::Reply_Integrality_MultiPart(const CTask_FormData_Mongoose& r)
{
    QMap<QString, QString> map =
        headerMap(QStringLiteral("multipart/form-data;boundary=") + QString::fromLatin1(multipartBoundary()), r);

    // The part heads and JSON fields are written as text; each image's pixels
    // go out from the image itself, which the reply keeps until it is sent,
    // so no copy of the whole body is ever assembled. A text ends before each
    // image and at the end: reserved up front, no text moves once a piece
    // points into it.
    struct Held {
        std::vector<QByteArray> texts;
        std::vector<cv::Mat> images;
    };
    auto held = std::make_shared<Held>();
    held->texts.reserve(size_t(r.data.multipart_images.size()) + 1);
    httpserver::Reply reply = withHead(std::move(map), r, QByteArray());
    QByteArray text;
    auto endText = [&] {
        held->texts.push_back(std::move(text));
        text = QByteArray();
        const QByteArray& t = held->texts.back();
        if (!t.isEmpty())
            reply.pieces.push_back({t.constData(), size_t(t.size())});
    };
    for (auto it = r.data.multipart_fields.cbegin(); it != r.data.multipart_fields.cend(); ++it) {
        const QVariant& v = it.value();
        if (v.userType() == QMetaType::QJsonObject) {
            text += partHead(it.key(), "application/json") + "\r\n"
                    + QJsonDocument(v.toJsonObject()).toJson(QJsonDocument::Compact) + "\r\n";
        } else if (v.userType() == QMetaType::QByteArray) {
            text += partHead(it.key(), "application/octet-stream") + "\r\n" + v.toByteArray() + "\r\n";
        }
    }
    for (auto it = r.data.multipart_images.cbegin(); it != r.data.multipart_images.cend(); ++it) {
        const cv::Mat& image = it.value();
        // An empty image (none taken yet, an empty slot) still has both parts,
        // with sizes 0 and no bytes: the application reads every part it asks for.
        if (!image.empty() && image.depth() != CV_8U) {
            qCWarning(level_1) << "[HTTP] image part" << it.key() << "left out: not an 8-bit image (depth" << image.depth()
                       << ") for" << r.data.url;
            continue;
        }
        // A view into a larger image is not one block: copy it first.
        const cv::Mat pixels = image.isContinuous() ? image : image.clone();
        const int bytes = pixels.empty() ? 0 : pixels.rows * pixels.cols * pixels.channels();
        QJsonObject info;
        info.insert(QStringLiteral("channels"), pixels.channels());
        info.insert(QStringLiteral("data_type"), QStringLiteral("data_type"));
        info.insert(QStringLiteral("datakey"), it.key());
        info.insert(QStringLiteral("size_height"), pixels.rows);
        info.insert(QStringLiteral("size_width"), pixels.cols);
        text += partHead(it.key() + QStringLiteral("-info"), "application/json") + "\r\n"
                + QJsonDocument(info).toJson(QJsonDocument::Compact) + "\r\n";
        text += partHead(it.key(), "application/octet-stream") + "Content-Length: " + QByteArray::number(bytes)
                + "\r\n\r\n";
        endText();
        if (bytes > 0) {
            held->images.push_back(pixels);  // a Mat's pixels stay where they are
            reply.pieces.push_back({reinterpret_cast<const char*>(pixels.data), size_t(bytes)});
        }
        text += "\r\n";
    }
    text += multipartBoundary() + "\r\n";
    endText();
    reply.keep = std::move(held);
    return reply;
}

httpserver::Reply HttpReactor_MG::buildReply(const CTask_FormData_Mongoose& r)
{
    if (!r.data.file_path.isEmpty()) {
        if (QFileInfo::exists(r.data.file_path)) {
            if (std::optional<httpserver::Reply> file = Reply_Integrality_File(r))
                return std::move(*file);
            qCWarning(level_1) << "[HTTP] cannot open the file to send" << r.data.file_path << "for" << r.data.url;
        }
        CTask_FormData_Mongoose missing;
        missing.inherit(r);
        missing.data.code = 1;
        missing.data.msg = QString::fromUtf8(kMissingFile);
        missing.data.content_type = QStringLiteral("application/json");
        return Reply_Integrality_Json(missing);
    }
    if (!r.data.body.isEmpty())
        return Reply_Integrality_BinaryStream(r);
    if (!r.data.multipart_fields.isEmpty() || !r.data.multipart_images.isEmpty())
        return Reply_Integrality_MultiPart(r);
    return Reply_Integrality_Json(r);
}

void HttpReactor_MG::finishWorkAction(const CTask_FormData_Mongoose& reply)
{
    switch (m_channel->deliver(reply.connection, buildReply(reply))) {
    case httpserver::HttpServer::Delivery::Accepted:
        break;
    case httpserver::HttpServer::Delivery::AlreadyAnswered:
        qCWarning(level_1) << "[HTTP] second reply for" << reply.data.url << "dropped";
        break;
    case httpserver::HttpServer::Delivery::Unknown:
        qInfo() << "[HTTP] the connection of" << reply.data.url << "is gone; reply dropped";
        break;
    }
}

void HttpReactor_MG::finishWorkAction_QuickJson(const CTask_FormData_Mongoose& req, int code, const QString& msg)
{
    CTask_FormData_Mongoose reply;
    reply.inherit(req);
    reply.data.code = code;
    reply.data.msg = msg;
    finishWorkAction(reply);
}

void HttpReactor_MG::finishWorkAction_ParamError(const CTask_FormData_Mongoose& req, int code, const QString& text)
{
    if (m_channel->deliver(req.connection, callback_immediately_xxx(code, text))
        == httpserver::HttpServer::Delivery::AlreadyAnswered)
        qCWarning(level_1) << "[HTTP] second reply for" << req.data.url << "dropped";
}

httpserver::Reply HttpReactor_MG::callback_immediately_503(const QString& text)
{
    return callback_immediately_xxx(503, text);
}

httpserver::Reply HttpReactor_MG::callback_immediately_404()
{
    return httpserver::plainReply(
        404, QByteArrayLiteral("text/html"),
        QByteArrayLiteral("<html>  <head>    <title>404 Not Found</title>  </head>  <body>    <h1>404 Not Found</h1>"
                          "    <p>The requested URL was not found on this server.</p>  </body></html>"));
}

httpserver::Reply HttpReactor_MG::callback_immediately_400(const QString& text)
{
    return callback_immediately_xxx(400, text);
}

httpserver::Reply HttpReactor_MG::callback_immediately_xxx(int code, const QString& text)
{
    return httpserver::plainReply(code, QByteArrayLiteral("text/html; charset=UTF-8"), text.toUtf8());
}
