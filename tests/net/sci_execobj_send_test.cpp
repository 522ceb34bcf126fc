// The writer: the bytes of each layout, read back by the reader.
#include "net/sci_execobj_recv.h"
#include "net/sci_execobj_send.h"
#include "support/logcapture.h"
#include "support/scratchdir.h"

#include <QJsonDocument>
#include <opencv2/core.hpp>
#include <gtest/gtest.h>

namespace {

QByteArray wire(const CTask_FormData& f, SCI_ExecObj_Send::Wire* out = nullptr)
{
    SCI_ExecObj_Send s(f);
    SCI_ExecObj_Send::Wire w = s.compose("::ffff:127.0.0.9", 4321);
    if (out)
        *out = w;
    return w.joined();
}

QByteArray headOf(const QByteArray& msg) { return msg.left(msg.indexOf("\r\n\r\n") + 4); }
QByteArray bodyOf(const QByteArray& msg) { return msg.mid(msg.indexOf("\r\n\r\n") + 4); }

TEST(SciExecObjSend, HeadLinesInOrderWithHostFromThePeer)
{
    CTask_FormData f;
    f.url = "/dide/initiative/runresult_info";
    f.uuid = "U-1";
    f.device_id = "CAM1";
    f.json = QJsonObject{{"a", 1}};
    f.headers = {{"Zeta", "z"}, {"Alpha", "a"}};
    const QByteArray msg = wire(f);
    EXPECT_EQ(headOf(msg), QByteArray("POST /dide/initiative/runresult_info HTTP/1.1\r\n"
                                      "HOST: 127.0.0.9:4321\r\n"
                                      "User-Agent: U-1\r\n"
                                      "Content-Type: application/json\r\n"
                                      "Device-ID: CAM1\r\n"
                                      "Content-Length: 7\r\n"
                                      "Alpha: a\r\n"
                                      "Zeta: z\r\n\r\n"));
    EXPECT_EQ(bodyOf(msg), QByteArray("{\"a\":1}"));
}

TEST(SciExecObjSend, BodiesByKind)
{
    struct Case {
        const char* name;
        CTask_FormData form;
        QByteArray body;
        bool hasType;
    };
    CTask_FormData emptyResponse;
    CTask_FormData emptyRequest;
    emptyRequest.url = "/x";
    CTask_FormData jsonResponse;
    jsonResponse.json = QJsonObject{{"a", 1}};
    CTask_FormData notFound;
    notFound.status = 404;
    CTask_FormData stream;
    stream.bytes_parts.insert("", "raw");
    CTask_FormData missing;
    missing.bytes_parts.insert("/no/such/file", "bytes");
    CTask_FormData noParts;
    noParts.variant_parts.insert("n", 5);  // not a usable kind
    const QList<Case> cases = {
        {"empty response", emptyResponse, R"({"code":0,"msg":"OK","result":{}})", false},
        {"empty request", emptyRequest, "", false},
        {"json response is wrapped", jsonResponse, R"({"code":0,"msg":"OK","result":{"a":1}})", true},
        {"404 envelope", notFound, R"({"code":-1,"msg":"no found url","result":{}})", false},
        {"byte stream", stream, "raw", true},
        {"missing file answers the error", missing,
         QString(R"({"code":1,"msg":"未查询到需要获取的图片文件","result":{}})").toUtf8(), true},
        {"multipart without parts", noParts, SCI_ExecObj_Send::kBoundary + "\r\n", true},
    };
    for (const Case& c : cases) {
        const QByteArray msg = wire(c.form);
        EXPECT_EQ(bodyOf(msg), c.body) << c.name;
        EXPECT_EQ(headOf(msg).contains("Content-Type:"), c.hasType) << c.name;
        EXPECT_TRUE(headOf(msg).contains("Content-Length: " + QByteArray::number(c.body.size()) + "\r\n"))
            << c.name;
    }
}

TEST(SciExecObjSend, UuidsAreStampedAndCounted)
{
    CTask_FormData f;
    SCI_ExecObj_Send a(f), b(f);
    EXPECT_TRUE(a.formData().uuid.startsWith("vistrel#"));
    const int na = a.formData().uuid.section('#', -1).toInt();
    const int nb = b.formData().uuid.section('#', -1).toInt();
    EXPECT_EQ(nb, na + 1);
    f.uuid = "fixed";
    EXPECT_EQ(SCI_ExecObj_Send(f).formData().uuid, "fixed");
}

TEST(SciExecObjSend, MultipartLinesHaveNoDashesAndImagesRoundTrip)
{
    cv::Mat big(6, 8, CV_8UC3);
    cv::randu(big, 0, 255);
    const cv::Mat cut = big(cv::Rect(1, 1, 5, 4));  // not continuous
    CTask_FormData f;
    f.url = "/dide/initiative/runresult_mask";
    f.mat_parts.insert("K", cut);
    f.mat_parts.insert("F", cv::Mat(2, 2, CV_32FC1, cv::Scalar(1.5)));  // not 8-bit: left out
    f.variant_parts.insert("info", QJsonObject{{"x", 1}});
    testsupport::LogCapture log;
    const QByteArray msg = wire(f);
    EXPECT_TRUE(log.anyContains("image part left out"));
    EXPECT_TRUE(headOf(msg).contains("Content-Type: multipart/form-data;boundary=------------------------tcpservreactor\r\n"));
    EXPECT_FALSE(msg.contains("--------------------------tcpservreactor"));  // no leading "--"
    EXPECT_TRUE(msg.endsWith("\r\n------------------------tcpservreactor\r\n"));
    EXPECT_TRUE(msg.contains(R"({"channels":3,"data_type":"org","datakey":"K","size_height":4,"size_width":5})"));

    const HttpRead r = readHttpMessage(msg, 3);
    ASSERT_EQ(r.cut.kind, HttpCut::Complete);
    ASSERT_TRUE(r.decoded);
    ASSERT_TRUE(r.form.mat_parts.contains("K-info"));
    const cv::Mat back = r.form.mat_parts.value("K-info");
    ASSERT_EQ(back.type(), CV_8UC3);
    EXPECT_EQ(cv::norm(back, cut, cv::NORM_INF), 0);
    EXPECT_FALSE(r.form.variant_parts.contains("K-info"));
    EXPECT_EQ(r.form.variant_parts.value("info").toJsonObject().value("x").toInt(), 1);
    EXPECT_EQ(r.form.mat_parts.size(), 1);
}

TEST(SciExecObjSend, FileHeadCarriesTheFileSize)
{
    testsupport::ScratchDir dir;
    const QString path = dir.write("export.tar", QByteArray(100000, 'x'));
    CTask_FormData f;
    f.url = "/dide/context/putproject_storage";
    f.bytes_parts.insert(path, QByteArray());
    SCI_ExecObj_Send::Wire w;
    const QByteArray head = wire(f, &w);
    EXPECT_EQ(w.filePath, path);
    EXPECT_TRUE(head.contains("Content-Type: application/octet-stream\r\nContent-Length: 100000\r\n"));
}

}  // namespace
