#include "group/rpcdist_define.h"
#include "support/logcapture.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

SRPC_WS_FormData form(const QString& topic, const QString& uuid, const QString& device, const QVariantMap& datas)
{
    SRPC_WS_FormData f;
    f.valid = true;
    f.topic = topic;
    f.uuid = uuid;
    f.device_id = device;
    f.datas = datas;
    return f;
}

}  // namespace

TEST(GroupFrames, FrameIsCompactWithSortedKeysAndJsonTypes)
{
    QVariantMap datas{{QStringLiteral("z"), true},
                      {QStringLiteral("a"), 3},
                      {QStringLiteral("m"), QVariantMap{{QStringLiteral("y"), 1.5}, {QStringLiteral("b"), QStringLiteral("t")}}},
                      {QStringLiteral("l"), QVariantList{1, QStringLiteral("x")}}};
    EXPECT_EQ(srpcform_2_wsbytes(form(QStringLiteral("/dide/action/redetect(rpc)"), QStringLiteral("u1"),
                                      QStringLiteral("C1"), datas)),
              QStringLiteral("{\"datas\":{\"a\":3,\"l\":[1,\"x\"],\"m\":{\"b\":\"t\",\"y\":1.5},\"z\":true},"
                             "\"device_id\":\"C1\",\"topic\":\"/dide/action/redetect(rpc)\",\"uuid\":\"u1\"}"));
}

TEST(GroupFrames, EmptyUuidIsStampedInTheFrameOnly)
{
    SRPC_WS_FormData f = form(QStringLiteral("/t"), QString(), QStringLiteral("C1"), {});
    const SRPC_WS_FormData back = wsbytes_2_srpcform(srpcform_2_wsbytes(f));
    EXPECT_TRUE(f.uuid.isEmpty());
    EXPECT_TRUE(back.valid);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^vc_webskt#\\d{8}_\\d{6}_\\d{3}$")).match(back.uuid).hasMatch())
        << back.uuid.toStdString();
}

TEST(GroupFrames, RoundTripKeepsEveryField)
{
    const SRPC_WS_FormData f = form(QStringLiteral("/dide/action/manual_catch(rpc_back)"), QStringLiteral("ev-7"),
                                    QStringLiteral("S2"), SCollect_Unit().toMap());
    const SRPC_WS_FormData back = wsbytes_2_srpcform(srpcform_2_wsbytes(f));
    EXPECT_TRUE(back.valid);
    EXPECT_EQ(back.topic, f.topic);
    EXPECT_EQ(back.uuid, f.uuid);
    EXPECT_EQ(back.device_id, f.device_id);
    EXPECT_EQ(SCollect_Unit(back.datas), SCollect_Unit());
    EXPECT_TRUE(back.session.isNull());
}

TEST(GroupFrames, ReaderCases)
{
    struct Case {
        const char* text;
        bool valid;
        const char* topic;
        const char* uuid;
        const char* device;
        bool logsParseError;
    };
    const Case cases[] = {
        {"{\"datas\":{},\"device_id\":\"C1\",\"topic\":\"/t\",\"uuid\":\"u\"}", true, "/t", "u", "C1", false},
        {"{\"datas\":{},\"topic\":\"/t\",\"uuid\":\"u\"}", true, "/t", "u", "", false},
        {"{\"datas\":{},\"topic\":\"/t\",\"uuid\":7}", true, "/t", "", "", false},
        {"{\"device_id\":\"C1\",\"topic\":\"/t\",\"uuid\":\"u\"}", false, "/t", "u", "", false},
        {"{\"datas\":[1],\"device_id\":\"C1\",\"topic\":\"/t\",\"uuid\":\"u\"}", false, "/t", "u", "", false},
        {"{\"datas\":\"x\",\"device_id\":\"C1\",\"topic\":\"/t\",\"uuid\":\"u\"}", false, "/t", "u", "", false},
        {"{\"datas\":null,\"device_id\":\"C1\",\"topic\":\"/t\",\"uuid\":\"u\"}", false, "/t", "u", "", false},
        {"{\"datas\":{},\"uuid\":\"u\"}", false, "", "", "", false},
        {"{\"datas\":{},\"topic\":\"/t\"}", false, "", "", "", false},
        {"[{\"datas\":{},\"topic\":\"/t\",\"uuid\":\"u\"}]", false, "", "", "", false},
        {"not json", false, "", "", "", true},
        {"", false, "", "", "", true},
    };
    for (const Case& c : cases) {
        testsupport::LogCapture log;
        const SRPC_WS_FormData f = wsbytes_2_srpcform(QString::fromUtf8(c.text));
        EXPECT_EQ(f.valid, c.valid) << c.text;
        EXPECT_EQ(f.topic, QString::fromUtf8(c.topic)) << c.text;
        EXPECT_EQ(f.uuid, QString::fromUtf8(c.uuid)) << c.text;
        EXPECT_EQ(f.device_id, QString::fromUtf8(c.device)) << c.text;
        if (!c.valid) {
            EXPECT_TRUE(f.datas.isEmpty()) << c.text;
        }
        EXPECT_EQ(log.count(QStringLiteral("parse_error:")) > 0, c.logsParseError) << c.text;
        if (c.logsParseError) {
            EXPECT_TRUE(log.reachesLogFiles(QStringLiteral("parse_error:"))) << c.text;
        }
        // The quiet reader gives the same form and hands the error back
        // instead of logging it.
        const int logged = log.messages().size();
        QString error;
        const SRPC_WS_FormData q = wsbytes_2_srpcform(QString::fromUtf8(c.text), &error);
        EXPECT_EQ(log.messages().size(), logged) << c.text;
        EXPECT_EQ(!error.isEmpty(), c.logsParseError) << c.text;
        EXPECT_EQ(q.valid, f.valid) << c.text;
        EXPECT_EQ(q.topic, f.topic) << c.text;
        EXPECT_EQ(q.uuid, f.uuid) << c.text;
        EXPECT_EQ(q.device_id, f.device_id) << c.text;
        EXPECT_EQ(q.datas, f.datas) << c.text;
    }
}

TEST(GroupFrames, RandomAndTruncatedFramesNeverCrash)
{
    testsupport::LogCapture log;  // keeps the parse errors out of the output
    const QString frame = srpcform_2_wsbytes(form(QStringLiteral("/dide/action/manual_catch(rpc)"),
                                                  QStringLiteral("u"), QStringLiteral("M1"),
                                                  {{QStringLiteral("passport"), QStringLiteral("{\"a\":[1,2]}")}}));
    for (int n = 0; n <= frame.size(); ++n)
        wsbytes_2_srpcform(frame.left(n));
    QRandomGenerator rng(15);
    for (int i = 0; i < 2000; ++i) {
        QString s = frame;
        for (int k = 0; k < 4; ++k)
            s[int(rng.bounded(s.size()))] = QChar(ushort(rng.bounded(1, 0xD7FF)));
        wsbytes_2_srpcform(s);
        QByteArray bytes(int(rng.bounded(64)), '\0');
        for (char& b : bytes)
            b = char(rng.bounded(256));
        wsbytes_2_srpcform(QString::fromLatin1(bytes));
    }
    wsbytes_2_srpcform(QString(100000, QLatin1Char('[')));
    SUCCEED();
}

TEST(GroupFrames, SubIndexIsExactAndCaseSensitive)
{
    SRPC_WS_Interface view;
    EXPECT_EQ(view.getSubIndex(QStringLiteral("S1")), -1);
    view.subs << DeviceNetInfo(QStringLiteral("S1"), QStringLiteral("a"), 0)
              << DeviceNetInfo(QStringLiteral("S2"), QStringLiteral("b"), 0);
    EXPECT_EQ(view.getSubIndex(QStringLiteral("S2")), 1);
    EXPECT_EQ(view.getSubIndex(QStringLiteral("s2")), -1);
}

TEST(GroupFrames, ResultMapToFlowRecord)
{
    SCollect_Unit u;
    u.is_valid = true;
    u.detect = 2;
    u.result = true;
    u.collect_time = 1733875200123LL;
    struct Case {
        QVariantMap map;
        int work_error;
        int result;
        int units;
        bool forcedNg;  // a result claimed beside a work error
    };
    const Case cases[] = {
        {{}, 0, 0, 0, false},
        {{{QStringLiteral("work_error"), 1}}, 1, 0, 0, false},
        {{{QStringLiteral("work_error"), 0}, {QStringLiteral("result"), true}}, 0, 1, 0, false},
        {{{QStringLiteral("work_error"), 0},
          {QStringLiteral("result"), false},
          {QStringLiteral("result_detail"), QVariantMap{{QStringLiteral("M1"), u.toMap()}, {QStringLiteral("S1"), QVariantMap()}}}},
         0, 0, 2, false},
        {{{QStringLiteral("result"), true}}, 0, 1, 0, false},
        {{{QStringLiteral("work_error"), 1}, {QStringLiteral("result"), true}}, 1, 0, 0, true},
        {{{QStringLiteral("work_error"), 4},
          {QStringLiteral("result"), 1},
          {QStringLiteral("result_detail"), QVariantMap{{QStringLiteral("M1"), u.toMap()}}}},
         4, 0, 1, true},
    };
    for (const Case& c : cases) {
        testsupport::LogCapture log;
        const FlowWork_WorkEvent_Back back = workevent_map_2_back(c.map);
        EXPECT_EQ(back.work_error, c.work_error);
        EXPECT_EQ(back.result, c.result);
        EXPECT_EQ(back.collectlist.size(), c.units);
        EXPECT_EQ(log.reachesLogFiles(QStringLiteral("answered as NG")), c.forcedNg);
    }
    const FlowWork_WorkEvent_Back back = workevent_map_2_back(cases[3].map);
    EXPECT_EQ(back.collectlist.value(QStringLiteral("M1")), u);
    EXPECT_EQ(back.collectlist.value(QStringLiteral("S1")).detect, 0);  // missing key: 0, not -1
}
