// The task form: start lines, package kinds and the timing record.
#include "net/ctask_formdata.h"

#include <gtest/gtest.h>

namespace {

struct StartLineCase {
    const char* name;
    QString method;
    QString url;
    QMap<QString, QString> query;
    int status;
    QString line;
    int code;
    QString msg;
};

TEST(CTaskFormData, StartLines)
{
    const QList<StartLineCase> cases = {
        {"default response", "POST", "", {}, 200, "HTTP/1.1 200 OK", 0, "OK"},
        {"500 keeps OK", "POST", "", {}, 500, "HTTP/1.1 500 OK", 0, "OK"},
        {"404", "POST", "", {}, 404, "HTTP/1.1 404 Not Found", -1, "no found url"},
        {"503", "POST", "", {}, 503, "HTTP/1.1 503 Service Unavailable", -1, "服务器忙碌中"},
        {"push", "POST", "/dide/initiative/runresult_info", {}, 200,
         "POST /dide/initiative/runresult_info HTTP/1.1", 0, "OK"},
        {"query cleaned", "GET", "/a", {{"x", "1&2"}, {"y", ""}, {"z", "=#"}}, 200, "GET /a?x=12 HTTP/1.1", 0, "OK"},
        {"all empty: no ?", "GET", "/a", {{"y", ""}, {"z", "&"}}, 200, "GET /a HTTP/1.1", 0, "OK"},
        {"pairs in key order", "PUT", "/b", {{"b", "2"}, {"a", "1#"}}, 200, "PUT /b?a=1&b=2 HTTP/1.1", 0, "OK"},
    };
    for (const StartLineCase& c : cases) {
        CTask_FormData f;
        f.method = c.method;
        f.url = c.url;
        f.query = c.query;
        f.status = c.status;
        EXPECT_EQ(f.getResponseFirstLine(), c.line) << c.name;
        EXPECT_EQ(f.code, c.code) << c.name;
        EXPECT_EQ(f.msg, c.msg) << c.name;
    }
}

TEST(CTaskFormData, PackageKindsRankImagesBytesJsonVariants)
{
    const cv::Mat img(2, 2, CV_8UC1, cv::Scalar(1));
    struct Case {
        bool mat, bytes, json, variant;
        int kind;
    };
    const QList<Case> cases = {
        {false, false, false, false, 0}, {true, true, true, true, 2}, {false, true, true, true, 3},
        {false, false, true, true, 1},   {false, false, false, true, 4}, {true, false, true, false, 2},
    };
    for (const Case& c : cases) {
        CTask_FormData f;
        if (c.mat)
            f.mat_parts.insert("m", img);
        if (c.bytes)
            f.bytes_parts.insert("", "b");
        if (c.json)
            f.json.insert("k", 1);
        if (c.variant)
            f.variant_parts.insert("v", QJsonObject{{"a", 1}});
        EXPECT_EQ(f.getTaskPkgType(), c.kind) << c.mat << c.bytes << c.json << c.variant;
    }
}

TEST(CTaskFormData, TimingRecordCopiesAndReports)
{
    TcpTsk_Info info("u1");
    info.url = "/x";
    info.recv_times = 3;
    info.tskup_chg_recvpacklength({});
    info.tskup_chg_recvpacklength({QVariant(QStringLiteral("12"))});
    EXPECT_EQ(info.recvpacklength, -1);
    info.tskup_chg_recvpacklength({QVariant(12)});
    EXPECT_EQ(info.recvpacklength, 12);

    CTask_FormData a;
    a.task_info.setValue(info);
    CTask_FormData b = a;
    const QVariantMap r = b.task_info.getValue().getReportParam();
    EXPECT_EQ(r.value("_tsk_url").toString(), "/x");
    EXPECT_EQ(r.value("_tsk_uuid").toString(), "u1");
    EXPECT_EQ(r.value("_tsk_recv_times").toLongLong(), 3);
    EXPECT_EQ(r.value("_tsk_firstrecv_timing").toLongLong(), -1);
    EXPECT_EQ(r.value("_tsk_recvpacklength").toInt(), 12);
    EXPECT_GT(r.value("_tsk_create_timing").toLongLong(), 0);
    EXPECT_EQ(r.size(), 8);
    TcpTsk_Info empty;
    EXPECT_TRUE(empty.uuid.isEmpty());
}

}  // namespace
