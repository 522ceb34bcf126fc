// Hour records, their stored JSON, the history columns and the folding.
#include "statistics/statisticsclock.h"
#include "statistics/statisticsinfo.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

QJsonArray ints(std::initializer_list<int> v)
{
    QJsonArray a;
    for (int i : v)
        a.append(i);
    return a;
}

stru_DetecteStatisticsInfo step(int ok, int ng, QList<qint32> okList, QList<qint32> ngList)
{
    stru_DetecteStatisticsInfo s;
    s.detect_ok = ok;
    s.detect_ng = ng;
    s.detect_ok_detail = okList;
    s.detect_ng_detail = ngList;
    return s;
}

stru_StatisticsInfo record(const QString& key, int steps, int cameras)
{
    stru_StatisticsInfo r;
    r.reset(key, steps, cameras, "p");
    return r;
}

class StatisticsInfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        statistics::setWallClock([] { return QDateTime(QDate(2024, 5, 1), QTime(10, 25, 0)); });
    }
    void TearDown() override { statistics::setWallClock({}); }
};

TEST_F(StatisticsInfoTest, StepJsonPadsTheShorterCameraList)
{
    QJsonObject o;
    step(3, 3, {3}, {1, 2}).save2Json(o);
    EXPECT_EQ(o.value("detect_ok_detail").toArray(), ints({3, 0}));
    EXPECT_EQ(o.value("detect_ng_detail").toArray(), ints({1, 2}));
    EXPECT_EQ(o.value("detect_all_detail").toArray(), ints({4, 2}));
    EXPECT_EQ(o.value("detect_all").toInt(), 6);
}

TEST_F(StatisticsInfoTest, RecordJsonRoundTripsAndMissingKeysKeepValues)
{
    stru_StatisticsInfo r = record("2024-05-01 10", 2, 2);
    r.every_detect[0] = step(4, 1, {4, 3}, {0, 1});
    r.every_detect[1] = step(2, 3, {2, 2}, {3, 3});
    r.detect_ok = 7;
    r.runtime = 12;
    r.projectname = "mould-7";
    QJsonObject json = r.save2Json();
    const QJsonArray every = json.value("every_detect").toArray();
    ASSERT_EQ(every.size(), 2);
    EXPECT_EQ(every[0].toObject().value("detect_index").toInt(), 1);
    EXPECT_EQ(every[1].toObject().value("detect_index").toInt(), 2);
    EXPECT_EQ(every[0].toObject().value("detect_index_ok_detail").toArray(), ints({4, 3}));
    EXPECT_FALSE(json.contains("hourKey"));

    json.remove("runtime");
    stru_StatisticsInfo back = record("2024-05-01 10", 0, 0);
    back.runtime = 33;
    back.update(json);
    EXPECT_EQ(back.runtime, 33);
    EXPECT_EQ(back.detect_ok, 7);
    EXPECT_EQ(back.projectname, "mould-7");
    ASSERT_EQ(back.every_detect.size(), 2);
    EXPECT_EQ(back.every_detect[1].detect_ng_detail, (QList<qint32>{3, 3}));
    EXPECT_EQ(back.every_detect[0].detect_ok, 4);

    back.update(QJsonObject{{"every_detect", QJsonArray()}});
    EXPECT_TRUE(back.every_detect.isEmpty());
}

TEST_F(StatisticsInfoTest, AddKeepsTheOwnCameraCount)
{
    stru_StatisticsInfo two = record("k", 1, 2), three = record("k", 1, 3);
    three.detect_ok_detail = {1, 2, 3};
    three.every_detect[0].detect_ng_detail = {5, 6, 7};
    three.runtime = 4;
    two.add(three);
    EXPECT_EQ(two.detect_ok_detail, (QList<qint32>{1, 2}));
    EXPECT_EQ(two.every_detect[0].detect_ng_detail, (QList<qint32>{5, 6}));
    EXPECT_EQ(two.runtime, 4);
}

TEST_F(StatisticsInfoTest, CloseTimeOfPastAndCurrentHoursNeverNegative)
{
    struct Case {
        const char* key;
        qint64 run, stop, alarm, close;
    } cases[] = {
        {"2024-05-01 09", 50, 5, 0, 5},
        {"2024-05-01 09", 0, 0, 0, 60},
        {"2024-05-01 10", 20, 0, 0, 5},   // minute 25 of the current hour
        {"2024-05-01 10", 26, 0, 0, 0},   // more counted than passed
        {"2024-05-01 09", 61, 2, 0, 0},   // an hour that holds over 60 minutes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        stru_StatisticsInfo r = record(c.key, 1, 1);
        r.runtime = c.run;
        r.stoptime = c.stop;
        r.alarmtime = c.alarm;
        r.resetCloseTime();
        EXPECT_EQ(r.closetime, c.close);
    }
}

TEST_F(StatisticsInfoTest, FoldingOnlyJoinsNeighboursOfTheSameDay)
{
    struct Case {
        QStringList keys;
        QVector<stru_StatisticsInfo> (*fold)(const QVector<stru_StatisticsInfo>&);
        QStringList expected;
    } cases[] = {
        {{"2024-05-01 23", "2024-05-02 00"}, consolidateDataByDay, {"2024-05-01 23", "2024-05-02 00"}},
        {{"2024-05-01 08", "2024-05-02 08", "2024-05-01 09"}, consolidateDataByDay,
         {"2024-05-01 08", "2024-05-02 08", "2024-05-01 09"}},
        {{"2024-05-01 08", "2024-05-01 09", "2024-05-31 09"}, consolidateDataByDay, {"2024-05-01 08", "2024-05-31 09"}},
        {{"2024-05-01 08", "2024-05-31 09", "2024-06-01 00"}, consolidateDataByMonth, {"2024-05-01 08", "2024-06-01 00"}},
        {{"2023-12-31 23", "2024-01-01 00", "2024-12-31 23"}, consolidateDataByYear, {"2023-12-31 23", "2024-01-01 00"}},
        {{"2023-12-31 23", "2024-01-01 00"}, consolidateData, {"2023-12-31 23"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.join(",").toStdString());
        QVector<stru_StatisticsInfo> list;
        for (const QString& k : c.keys) {
            stru_StatisticsInfo r = record(k, 1, 1);
            r.runtime = 1;
            list.append(r);
        }
        QStringList got;
        qint64 minutes = 0;
        for (const stru_StatisticsInfo& r : c.fold(list)) {
            got << r.hourKey;
            minutes += r.runtime;
        }
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(minutes, c.keys.size());
    }
}

TEST_F(StatisticsInfoTest, MixedCameraCountsFoldWithoutLoss)
{
    stru_StatisticsInfo one = record("2024-05-01 08", 1, 1), two = record("2024-05-01 09", 2, 2);
    one.detect_ok_detail = {5};
    two.detect_ok_detail = {1, 2};
    two.every_detect[1].detect_ng_detail = {0, 9};
    QVector<stru_StatisticsInfo> list{one, two};
    checkDataLengthConsistency(list);
    const QVector<stru_StatisticsInfo> sum = consolidateData(list);
    ASSERT_EQ(sum.size(), 1);
    EXPECT_EQ(sum[0].detect_ok_detail, (QList<qint32>{6, 2}));
    ASSERT_EQ(sum[0].every_detect.size(), 2);
    EXPECT_EQ(sum[0].every_detect[1].detect_ng_detail, (QList<qint32>{0, 9}));
}

TEST_F(StatisticsInfoTest, HistoryJsonHasColumnsPerRecordAndOnlyItsKeys)
{
    EXPECT_EQ(QJsonDocument(arraySave2Json({})).toJson(QJsonDocument::Compact), QByteArray("{\"every_detect\":[]}"));

    stru_StatisticsInfo a = record("2024-05-01 08", 2, 2), b = record("2024-05-01 09", 2, 2);
    a.detect_ok = 3;
    a.detect_ng = 1;
    a.detect_ok_detail = {3, 2};
    a.detect_ng_detail = {0, 1};
    a.every_detect[1] = step(1, 2, {1, 0}, {1, 2});
    a.runtime = 40;
    a.stoptime = 5;
    a.closetime = 15;
    b.alarmtime = 60;
    const QJsonObject h = arraySave2Json({a, b});
    QStringList keys = h.keys();
    EXPECT_EQ(keys, (QStringList{"alarmtime", "closetime", "detect_all", "detect_ng", "detect_ng_detail", "detect_ok",
                                 "detect_ok_detail", "every_detect", "notwork_time", "runtime", "stoptime"}));
    EXPECT_EQ(h.value("runtime").toArray(), ints({40, 0}));
    EXPECT_EQ(h.value("notwork_time").toArray(), ints({20, 60}));
    EXPECT_EQ(h.value("detect_all").toArray(), ints({4, 0}));
    EXPECT_EQ(h.value("detect_ok_detail").toArray(), (QJsonArray{ints({3, 0}), ints({2, 0})}));
    const QJsonArray every = h.value("every_detect").toArray();
    ASSERT_EQ(every.size(), 2);
    const QJsonObject s2 = every[1].toObject();
    EXPECT_EQ(s2.keys(), (QStringList{"detect_index", "detect_index_all", "detect_index_ng", "detect_index_ng_detail",
                                       "detect_index_ok", "detect_index_ok_detail"}));
    EXPECT_EQ(s2.value("detect_index").toInt(), 2);
    EXPECT_EQ(s2.value("detect_index_ng_detail").toArray(), (QJsonArray{ints({1, 0}), ints({2, 0})}));
    EXPECT_EQ(s2.value("detect_index_all").toArray(), ints({3, 0}));
}

}  // namespace
