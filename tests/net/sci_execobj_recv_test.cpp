// The reader as a pure function of bytes: a table of messages and outcomes,
// and random malformed or oversized input that must never crash it.
#include "net/sci_execobj_recv.h"
#include "net/sci_execobj_send.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

struct Case {
    const char* name;
    QByteArray bytes;
    HttpCut::Kind kind;
    bool decoded;
    QString method;  // of the decoded head
    QString url;
    QString uuidStart;
};

TEST(HttpReader, Outcomes)
{
    const QByteArray big(httpread::kMaxHead + 10, 'a');
    const QList<Case> cases = {
        {"empty", "", HttpCut::Incomplete, false, "", "", ""},
        {"head not finished", "POST /a HTTP/1.1\r\nContent-Length: 2\r\n", HttpCut::Incomplete, false, "", "", ""},
        {"body short", "POST /a HTTP/1.1\r\nContent-Length: 5\r\n\r\nabc", HttpCut::Incomplete, false, "", "", ""},
        {"status line is a response", "HTTP/1.1 200 OK\r\nUser-Agent: u9\r\nContent-Length: 0\r\n\r\n",
         HttpCut::Complete, true, "Response", "", "u9"},
        {"no agent", "POST /a HTTP/1.1\r\nContent-Length: 0\r\n\r\n", HttpCut::Complete, true, "POST", "/a",
         "defalut#"},
        {"start line alone", "GET /only HTTP/1.1\r\n\r\n", HttpCut::Complete, true, "GET", "/only", "defalut#"},
        {"garbage before start line", "junk\r\nmore\r\nGET /g HTTP/1.1\r\nUser-Agent: a b\r\n\r\n",
         HttpCut::Complete, true, "GET", "/g", "ab"},
        {"blank-padded length", "POST /a HTTP/1.1\r\nContent-Length:  3 \r\n\r\nxyz", HttpCut::Complete, true,
         "POST", "/a", ""},
        {"POST without url is not decoded", "POST  HTTP/1.1\r\nContent-Length: 0\r\n\r\n", HttpCut::Complete,
         false, "", "", ""},
        {"bad json not decoded", "POST /a HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 3\r\n\r\n{x}",
         HttpCut::Complete, false, "", "", ""},
        {"no start line", "hello\r\nworld\r\n\r\n", HttpCut::Bad, false, "", "", ""},
        {"negative length", "POST /a HTTP/1.1\r\nContent-Length: -5\r\n\r\n", HttpCut::Bad, false, "", "", ""},
        {"non-numeric length", "POST /a HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", HttpCut::Bad, false, "", "", ""},
        {"length above the cap", "POST /a HTTP/1.1\r\nContent-Length: 20971521\r\n\r\n", HttpCut::Bad, false, "",
         "", ""},
        {"head above the cap", "POST /a HTTP/1.1\r\nX: " + big, HttpCut::Bad, false, "", "", ""},
    };
    for (const Case& c : cases) {
        const HttpRead r = readHttpMessage(c.bytes, 7);
        EXPECT_EQ(r.cut.kind, c.kind) << c.name;
        EXPECT_EQ(r.decoded, c.decoded) << c.name;
        if (r.decoded) {
            EXPECT_EQ(r.form.url, c.url) << c.name;
            EXPECT_TRUE(r.form.uuid.startsWith(c.uuidStart)) << c.name << " " << r.form.uuid.toStdString();
            EXPECT_EQ(r.form.session_index, 7) << c.name;
        }
    }
    // Fatal limits close the connection; a head without a start line is skipped.
    EXPECT_TRUE(httpread::cut("POST /a HTTP/1.1\r\nContent-Length: -1\r\n\r\n").fatal);
    const HttpCut skip = httpread::cut("hello\r\n\r\nGET /x HTTP/1.1\r\n\r\n");
    EXPECT_FALSE(skip.fatal);
    EXPECT_EQ(skip.used, 9);
    // Without a User-Agent the uuid names the session.
    const HttpRead r = readHttpMessage("POST /a HTTP/1.1\r\n\r\n", 7);
    EXPECT_TRUE(r.form.uuid.endsWith("#7"));
}

TEST(HttpReader, QueryAndBodies)
{
    HttpRead r = readHttpMessage("GET /a?x=1&y&z=2=3 HTTP/1.1\r\nUser-ID: op 1\r\n\r\n");
    ASSERT_TRUE(r.decoded);
    EXPECT_EQ(r.form.url, "/a");
    EXPECT_EQ(r.form.query, (QMap<QString, QString>{{"x", "1"}}));
    EXPECT_EQ(r.form.user_id, "op1");

    r = readHttpMessage("POST /f HTTP/1.1\r\nContent-Type: image/jpeg\r\nContent-Length: 3\r\n\r\nJPG");
    ASSERT_TRUE(r.decoded);
    EXPECT_EQ(r.form.bytes_parts.value(""), QByteArray("JPG"));
    r = readHttpMessage("POST /t HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nhi");
    EXPECT_EQ(r.form.body, QByteArray("hi"));
    r = readHttpMessage("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 7\r\n\r\n{\"a\":1}");
    EXPECT_EQ(r.form.json.value("a").toInt(), 1);
    r = readHttpMessage("POST /m HTTP/1.1\r\nContent-Type: multipart/form-data\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_FALSE(r.decoded);  // no boundary
}

// The image check: positive sizes whose 64-bit product is the byte count;
// 1, 3 and 4 channels.
TEST(HttpReader, ImagePartsAreChecked)
{
    struct ImgCase {
        const char* name;
        qint64 ch, w, h;
        int bytes;
        bool accepted;
    };
    const QList<ImgCase> cases = {
        {"grey", 1, 4, 2, 8, true},
        {"colour", 3, 2, 2, 12, true},
        {"four channels", 4, 1, 2, 8, true},
        {"two channels", 2, 2, 2, 8, false},
        {"size mismatch", 1, 4, 2, 9, false},
        {"negative sizes", 1, -4, -2, 8, false},
        {"overflow in 32 bits", 1, 65536, 65537, 65536, false},
        {"zero", 1, 0, 5, 0, false},
    };
    for (const ImgCase& c : cases) {
        const QByteArray b = SCI_ExecObj_Send::kBoundary;
        QByteArray body;
        body += b + "\r\nContent-Disposition: form-data; name=\"K-info\"\r\nContent-Type: application/json\r\n\r\n";
        body += QStringLiteral(R"({"datakey":"K","channels":%1,"size_width":%2,"size_height":%3,"data_type":"org"})")
                    .arg(c.ch)
                    .arg(c.w)
                    .arg(c.h)
                    .toUtf8() +
                "\r\n";
        body += b + "\r\nContent-Disposition: form-data; name=\"K\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        body += QByteArray(c.bytes, '\x07') + "\r\n";
        body += b + "\r\nContent-Disposition: form-data; name=\"J\"\r\nContent-Type: application/json\r\n\r\n{bad\r\n";
        body += b + "\r\n";
        const QByteArray msg = "POST /m HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + b +
                               "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        const HttpRead r = readHttpMessage(msg);
        ASSERT_TRUE(r.decoded) << c.name;
        EXPECT_EQ(r.form.mat_parts.contains("K-info"), c.accepted) << c.name;
        EXPECT_FALSE(r.form.variant_parts.contains("K-info")) << c.name;
        EXPECT_FALSE(r.form.variant_parts.contains("J")) << c.name;  // bad JSON part dropped
        if (c.accepted) {
            EXPECT_EQ(r.form.mat_parts.value("K-info").channels(), int(c.ch)) << c.name;
        }
    }
}

// Ten thousand malformed, truncated and oversized messages: the reader
// answers each with one of its outcomes and never crashes (the sanitizer
// build runs this too).
TEST(HttpReader, SurvivesRandomInput)
{
    QRandomGenerator rng(1234);
    CTask_FormData seedForm;
    seedForm.url = "/dide/initiative/runresult_mask";
    seedForm.mat_parts.insert("M", cv::Mat(3, 4, CV_8UC1, cv::Scalar(9)));
    seedForm.variant_parts.insert("v", QJsonObject{{"a", 1}});
    SCI_ExecObj_Send send(seedForm);
    const QByteArray seed = send.compose("127.0.0.1", 1).joined();
    const QList<QByteArray> pieces = {"\r\n", "\r\n\r\n", "HTTP/1.1", "Content-Length: ", "-1", "99999999999",
                                      "Content-Type: multipart/form-data;boundary=", SCI_ExecObj_Send::kBoundary,
                                      "name=\"", "-info\"", "{\"data_type\":1,\"channels\":3}", QByteArray(1, '\0')};
    int complete = 0;
    for (int i = 0; i < 10000; ++i) {
        QByteArray m = seed;
        const int edits = 1 + int(rng.bounded(8));
        for (int e = 0; e < edits; ++e) {
            const int pos = int(rng.bounded(m.size() + 1));
            switch (rng.bounded(4)) {
            case 0:
                m.insert(pos, pieces.at(int(rng.bounded(pieces.size()))));
                break;
            case 1:
                m.remove(pos, int(rng.bounded(40)));
                break;
            case 2:
                if (pos < m.size())
                    m[pos] = char(rng.bounded(256));
                break;
            default:
                m.truncate(pos);
                break;
            }
        }
        if (i % 500 == 0)
            m += QByteArray(httpread::kMaxHead + 100, char(rng.bounded(256)));
        const HttpRead r = readHttpMessage(m, i);
        ASSERT_TRUE(r.cut.kind == HttpCut::Incomplete || r.cut.kind == HttpCut::Bad ||
                    r.cut.kind == HttpCut::Complete);
        if (r.cut.kind == HttpCut::Complete) {
            ASSERT_LE(r.cut.used, m.size());
            ++complete;
        }
    }
    EXPECT_GT(complete, 0);
}

}  // namespace
