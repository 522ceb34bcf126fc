// Replies as the operator application reads them, byte for byte: the JSON
// envelope, byte streams, files, multipart bodies and plain refusals.
#include "httpapi/reactorbench.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QJsonObject>

#include <mutex>

using reactorbench::Bench;

namespace {

// One route whose reply is filled by the current case.
struct ReplyBench : Bench {
    ReplyBench()
    {
        reactor.routes.insert("/dide/context/getpicture", [this](const CTask_FormData_Mongoose& req) {
            std::function<void(CTask_FormData_Mongoose&)> f;
            bool plain = false;
            {
                std::lock_guard<std::mutex> lock(m);
                f = fill;
                plain = paramError;
            }
            if (plain) {
                reactor.finishWorkAction_ParamError(req, 400, QString::fromUtf8("json参数错误dide_daemon_main_runstate"));
                return;
            }
            CTask_FormData_Mongoose reply;
            reply.inherit(req);
            reply.data.device_id = "cam9";
            if (f)
                f(reply);
            reactor.finishWorkAction(reply);
        });
    }
    QByteArray ask(std::function<void(CTask_FormData_Mongoose&)> f, bool plain = false)
    {
        {
            std::lock_guard<std::mutex> lock(m);
            fill = std::move(f);
            paramError = plain;
        }
        return get("/dide/context/getpicture", "User-Agent: app1\r\n");
    }
    std::mutex m;
    std::function<void(CTask_FormData_Mongoose&)> fill;
    bool paramError = false;
};

QByteArray head(const QList<QByteArray>& lines, qint64 length)
{
    QByteArray out = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    return out + "Content-Length: " + QByteArray::number(length) + "\r\n\r\n";
}

}  // namespace

TEST(HttpRepliesTest, ReplyKindsByteForByte)
{
    ReplyBench b;
    ASSERT_TRUE(b.start());
    testsupport::ScratchDir dir;
    const QByteArray jpeg = "\xff\xd8\xff\xe0-not-really-a-jpeg";
    const QString jpg = dir.write("a.jpg", jpeg);
    const QString JPG = dir.write("b.JPG", jpeg);
    const QByteArray missing = QString::fromUtf8(R"({"code":1,"msg":"未查询到需要获取的图片文件","result":{}})").toUtf8();
    const QList<QByteArray> jsonHead = {"Content-Type: application/json", "Device-ID: cam9", "User-Agent: app1"};

    struct Case { const char* name; std::function<void(CTask_FormData_Mongoose&)> fill; QByteArray expected; };
    const Case cases[] = {
        {"nothing filled", nullptr, head(jsonHead, 33) + R"({"code":0,"msg":"OK","result":{}})"},
        {"percent sign in msg", [](CTask_FormData_Mongoose& r) { r.data.msg = "100% %s %d"; r.data.code = 3; },
         head(jsonHead, 41) + R"({"code":3,"msg":"100% %s %d","result":{}})"},
        {"extra headers sorted, capitals first",
         [](CTask_FormData_Mongoose& r) {
             r.data.headers.insert("b-low", "1");
             r.data.headers.insert("A-Up", "2");
             r.data.headers.insert("Zed", 3);
             r.data.json.insert("k", "v");
         },
         head({"A-Up: 2", "Content-Type: application/json", "Device-ID: cam9", "User-Agent: app1", "Zed: 3", "b-low: 1"}, 40)
             + R"({"code":0,"msg":"OK","result":{"k":"v"}})"},
        {"byte stream as jpeg",
         [](CTask_FormData_Mongoose& r) {
             r.data.body = "RAW";
             r.data.content_type = "image/jpeg";
         },
         head({"Content-Type: image/jpeg", "Device-ID: cam9", "User-Agent: app1"}, 3) + "RAW"},
        {"file .jpg", [&](CTask_FormData_Mongoose& r) { r.data.file_path = jpg; },
         head({"Content-Type: image/jpeg", "Device-ID: cam9", "User-Agent: app1"}, jpeg.size()) + jpeg},
        {"file .JPG: suffix compared with case", [&](CTask_FormData_Mongoose& r) { r.data.file_path = JPG; },
         head({"Content-Type: application/octet-stream", "Device-ID: cam9", "User-Agent: app1"}, jpeg.size()) + jpeg},
        {"missing file", [&](CTask_FormData_Mongoose& r) { r.data.file_path = dir.file("none.jpg"); },
         head(jsonHead, missing.size()) + missing},
        {"file that cannot be read", [&](CTask_FormData_Mongoose& r) { r.data.file_path = dir.path(); },
         head(jsonHead, missing.size()) + missing},
    };
    for (const Case& c : cases)
        EXPECT_EQ(b.ask(c.fill).toStdString(), c.expected.toStdString()) << c.name;

    const QByteArray text = QString::fromUtf8("json参数错误dide_daemon_main_runstate").toUtf8();
    EXPECT_EQ(b.ask(nullptr, true), "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Type: text/html; "
                                     "charset=UTF-8\r\nContent-Length: "
                                         + QByteArray::number(text.size()) + "\r\n\r\n" + text);
}

TEST(HttpRepliesTest, MultipartFieldsAndImages)
{
    ReplyBench b;
    ASSERT_TRUE(b.start());
    const QByteArray boundary = "------------------------tcpservreactor";
    cv::Mat big(10, 10, CV_8UC3);
    for (int i = 0; i < 300; ++i)
        big.data[i] = static_cast<uchar>(i);
    const cv::Mat view = big(cv::Rect(2, 3, 4, 3));  // 4 columns, 3 rows, not one block
    ASSERT_FALSE(view.isContinuous());
    QByteArray pixels;
    for (int y = 0; y < 3; ++y)
        pixels.append(reinterpret_cast<const char*>(view.ptr(y)), 12);

    testsupport::LogCapture log;
    const QByteArray reply = b.ask([&](CTask_FormData_Mongoose& r) {
        r.data.multipart_fields.insert("F", QJsonObject{{"a", 1}});
        r.data.multipart_fields.insert("G", 42);  // neither JSON nor bytes: left out
        r.data.multipart_images.insert("N", view);
        r.data.multipart_images.insert("W", cv::Mat(2, 2, CV_16UC1, cv::Scalar(7)));  // not 8-bit: left out
        // No picture yet: both parts, sizes 0, the channels of the image's type.
        r.data.multipart_images.insert("E", cv::Mat());
        r.data.multipart_images.insert("E3", cv::Mat(0, 0, CV_8UC3));
    });
    auto emptyImage = [&](const QByteArray& name, int channels) {
        return boundary + "\r\nContent-Disposition: form-data; name=\"" + name
               + "-info\"\r\nContent-Type: application/json\r\n\r\n{\"channels\":" + QByteArray::number(channels)
               + ",\"data_type\":\"data_type\",\"datakey\":\"" + name + "\",\"size_height\":0,\"size_width\":0}\r\n"
               + boundary + "\r\nContent-Disposition: form-data; name=\"" + name
               + "\"\r\nContent-Type: application/octet-stream\r\nContent-Length: 0\r\n\r\n\r\n";
    };
    const QByteArray body =
        boundary + "\r\nContent-Disposition: form-data; name=\"F\"\r\nContent-Type: application/json\r\n\r\n{\"a\":1}\r\n"
        + emptyImage("E", 1) + emptyImage("E3", 3)
        + boundary + "\r\nContent-Disposition: form-data; name=\"N-info\"\r\nContent-Type: application/json\r\n\r\n"
        + R"({"channels":3,"data_type":"data_type","datakey":"N","size_height":3,"size_width":4})" + "\r\n" + boundary
        + "\r\nContent-Disposition: form-data; name=\"N\"\r\nContent-Type: application/octet-stream\r\nContent-Length: "
          "36\r\n\r\n"
        + pixels + "\r\n" + boundary + "\r\n";
    EXPECT_EQ(reply, head({"Content-Type: multipart/form-data;boundary=" + boundary, "Device-ID: cam9", "User-Agent: app1"},
                          body.size())
                         + body);
    EXPECT_TRUE(log.anyContains("\"W\" left out: not an 8-bit image"));
    EXPECT_FALSE(log.anyContains("\"E\" left out"));
}

TEST(HttpRepliesTest, InheritCopiesOnlyTheIdentity)
{
    CTask_FormData_Mongoose src;
    src.connection = 77;
    src.peer_ip = "10.0.0.9";
    src.data.url = "/u";
    src.data.method = "PUT";
    src.data.user_agent = "ua";
    src.data.device_id = "dev";
    src.data.user_id = "op";
    src.data.query.insert("q", "1");
    src.data.headers.insert("H", "1");
    src.data.body = "b";
    src.data.json.insert("j", 1);
    src.data.content_type = "text/plain";
    CTask_FormData_Mongoose dst;
    dst.data.content_type = "image/png";
    dst.inherit(src);
    EXPECT_EQ(dst.connection, 77u);
    EXPECT_EQ(dst.peer_ip, "10.0.0.9");
    EXPECT_EQ(QStringList({dst.data.url, dst.data.method, dst.data.user_agent, dst.data.device_id, dst.data.user_id}),
              QStringList({"/u", "PUT", "ua", "dev", "op"}));
    EXPECT_TRUE(dst.data.query.isEmpty() && dst.data.headers.isEmpty() && dst.data.body.isEmpty() && dst.data.json.isEmpty());
    EXPECT_EQ(dst.data.content_type, "image/png");
    EXPECT_EQ(dst.data.code, 0);
    EXPECT_EQ(dst.data.msg, "OK");
}
