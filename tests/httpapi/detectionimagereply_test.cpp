// The NG info and mask replies as the operator application reads them, byte
// by byte: part order, the bare boundary, Content-Length on pixel parts
// only, and the mask form chosen by the application's registered version.
#include "httpapi/detectionimagereply.h"
#include "httpapi/httpreactor_mg.h"
#include "inspection/maskpacking.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

namespace {

const QByteArray B = "------------------------tcpservreactor";

QByteArray part(const QByteArray& name, const QByteArray& type, const QByteArray& content)
{
    return B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\nContent-Type: " + type + "\r\n\r\n"
           + content + "\r\n";
}

QByteArray pixelPart(const QByteArray& name, const QByteArray& pixels)
{
    return B + "\r\nContent-Disposition: form-data; name=\"" + name
           + "\"\r\nContent-Type: application/octet-stream\r\nContent-Length: " + QByteArray::number(pixels.size())
           + "\r\n\r\n" + pixels + "\r\n";
}

QByteArray bytesOf(const cv::Mat& m)
{
    return QByteArray(reinterpret_cast<const char*>(m.data), int(m.total() * m.elemSize()));
}

DetectionImageReply sample(const QString& version, bool withFrame)
{
    DetectionImageReply r;
    r.detectinfo = QJsonObject{{"cur_detect", 1}, {"datatype", 0}, {"stop", false}};
    r.runstate = QJsonObject{{"state", 0}};
    r.rois = QJsonArray{QJsonObject{{"id", 7}}};
    r.frame = cv::Mat(3, 4, CV_8UC3);
    for (int i = 0; i < 36; ++i)
        r.frame.data[i] = uchar(i);
    r.mask = cv::Mat::zeros(3, 4, CV_8UC1);
    r.mask.at<uchar>(1, 1) = 255;
    r.mask.at<uchar>(2, 2) = 255;
    r.scope = cv::Rect(1, 1, 2, 2);
    r.appVersion = version;
    r.withFrame = withFrame;
    return r;
}

QByteArray wire(const DetectionImageReply& r)
{
    CTask_FormData_Mongoose reply;
    reply.data.device_id = "dev";
    r.fill(reply);
    return HttpReactor_MG::Reply_Integrality_MultiPart(reply).joinedBody();
}

const QByteArray kResult = R"({"rois":[{"id":7}]})";
const QByteArray kDetect = R"({"cur_detect":1,"datatype":0,"stop":false})";
const QByteArray kRun = R"({"state":0})";

}  // namespace

TEST(DetectionImageReplyTest, NgInfoWithTheWholeMaskIsByteExact)
{
    const DetectionImageReply r = sample("V1.7.0.1", true);
    const QByteArray expected =
        part("detectinfo", "application/json", kDetect) + part("result", "application/json", kResult)
        + part("runstateinfo", "application/json", kRun)
        + part("maskmat-info", "application/json",
               R"({"channels":1,"data_type":"data_type","datakey":"maskmat","size_height":3,"size_width":4})")
        + pixelPart("maskmat", bytesOf(r.mask))
        + part("orgmat-info", "application/json",
               R"({"channels":3,"data_type":"data_type","datakey":"orgmat","size_height":3,"size_width":4})")
        + pixelPart("orgmat", bytesOf(r.frame)) + B + "\r\n";
    EXPECT_EQ(wire(r), expected);
    EXPECT_TRUE(wire(r).contains("Content-Length: 36\r\n"));
}

TEST(DetectionImageReplyTest, NgInfoWithThePackedMaskIsByteExact)
{
    const DetectionImageReply r = sample("V1.6.7.94", true);
    // The 2x2 scope at (1,1): pixels 1,0 / 0,1 -> bits 0 and 3 -> 0x09.
    const QByteArray packed("\x09", 1);
    ASSERT_EQ(MatMask01Compress2Bytes(r.mask(r.scope)), packed);
    const QByteArray expected =
        part("detectinfo", "application/json", kDetect) + part("maskmat", "application/octet-stream", packed)
        + part("maskmat-info", "application/json",
               R"({"channels":1,"data_type":"8in1_scope","datakey":"maskmat","maskscope_height":2,)"
               R"("maskscope_width":2,"maskscope_x":1,"maskscope_y":1,"size_height":3,"size_width":4})")
        + part("result", "application/json", kResult) + part("runstateinfo", "application/json", kRun)
        + part("orgmat-info", "application/json",
               R"({"channels":3,"data_type":"data_type","datakey":"orgmat","size_height":3,"size_width":4})")
        + pixelPart("orgmat", bytesOf(r.frame)) + B + "\r\n";
    EXPECT_EQ(wire(r), expected);
}

TEST(DetectionImageReplyTest, TheRegisteredVersionPicksTheMaskForm)
{
    const struct {
        const char* version;
        bool packed;
    } cases[] = {
        {"V1.6.7.94", true}, {"V1.6.7.93", true}, {"V1.7.0.1", false}, {"1.6", false},
        {"V1.6.7.94.1", false}, {"", false},
    };
    for (const auto& c : cases) {
        CTask_FormData_Mongoose reply;
        sample(c.version, false).fill(reply);
        EXPECT_EQ(reply.data.multipart_fields.contains("maskmat-info"), c.packed) << c.version;
        EXPECT_EQ(reply.data.multipart_images.contains("maskmat"), !c.packed) << c.version;
        EXPECT_FALSE(reply.data.multipart_images.contains("orgmat")) << "the mask route sends no frame";
        EXPECT_FALSE(reply.data.multipart_fields.contains("detectinfo"));
    }
}

// A stale or oversized scope never makes the cut throw: it is intersected
// with the mask, and nothing left gives the whole mask.
TEST(DetectionImageReplyTest, AScopeOutsideTheMaskIsClippedOrSendsTheWholeMask)
{
    DetectionImageReply r = sample("V1.6.7.94", false);
    r.scope = cv::Rect(2, 1, 100, 100);
    CTask_FormData_Mongoose clipped;
    ASSERT_NO_THROW(r.fill(clipped));
    const QJsonObject info = clipped.data.multipart_fields.value("maskmat-info").toJsonObject();
    EXPECT_EQ(info.value("maskscope_x").toInt(), 2);
    EXPECT_EQ(info.value("maskscope_width").toInt(), 2);
    EXPECT_EQ(info.value("maskscope_height").toInt(), 2);

    for (const cv::Rect& outside : {cv::Rect(50, 50, 10, 10), cv::Rect(-20, -20, 5, 5), cv::Rect(0, 0, 0, 0)}) {
        r.scope = outside;
        CTask_FormData_Mongoose whole;
        ASSERT_NO_THROW(r.fill(whole));
        EXPECT_FALSE(whole.data.multipart_fields.contains("maskmat-info"));
        ASSERT_TRUE(whole.data.multipart_images.contains("maskmat"));
        EXPECT_EQ(whole.data.multipart_images.value("maskmat").size(), r.mask.size());
    }
}
