#include "statistics/statisticsinfo.h"

#include "statistics/statisticsclock.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>

namespace {

const char* const kStepKeys[6][2] = {
    {"detect_ok", "detect_index_ok"},
    {"detect_ng", "detect_index_ng"},
    {"detect_all", "detect_index_all"},
    {"detect_ok_detail", "detect_index_ok_detail"},
    {"detect_ng_detail", "detect_index_ng_detail"},
    {"detect_all_detail", "detect_index_all_detail"},
};

void moveKeys(QJsonObject& obj, int from, int to)
{
    for (const auto& pair : kStepKeys) {
        const QString src = QLatin1String(pair[from]);
        auto it = obj.find(src);
        if (it == obj.end())
            continue;
        const QJsonValue value = it.value();
        obj.erase(it);
        obj.insert(QLatin1String(pair[to]), value);
    }
}

void resizeList(QList<qint32>& list, int n)
{
    n = std::max(0, n);
    while (list.size() < n)
        list.append(0);
    while (list.size() > n)
        list.removeLast();
}

// The integer of a JSON value, or `keep` when it is not a number.
qint64 numberOr(const QJsonValue& v, qint64 keep)
{
    return v.isDouble() ? qint64(v.toDouble()) : keep;
}

}  // namespace

qint64 idleMinutes(qint64 elapsed, qint64 run, qint64 stop, qint64 alarm)
{
    return std::max<qint64>(0, elapsed - run - stop - alarm);
}

// ---- stru_DetecteStatisticsInfo ----

void stru_DetecteStatisticsInfo::reset(int cameraCount)
{
    detect_ok = 0;
    detect_ng = 0;
    detect_ok_detail.clear();
    detect_ng_detail.clear();
    resetCameraCount(cameraCount);
}

void stru_DetecteStatisticsInfo::resetCameraCount(int n)
{
    resizeList(detect_ok_detail, n);
    resizeList(detect_ng_detail, n);
}

int stru_DetecteStatisticsInfo::getCameraCount() const
{
    return std::max(detect_ok_detail.size(), detect_ng_detail.size());
}

void stru_DetecteStatisticsInfo::add(const stru_DetecteStatisticsInfo& other)
{
    detect_ok += other.detect_ok;
    detect_ng += other.detect_ng;
    const int ok = std::min(detect_ok_detail.size(), other.detect_ok_detail.size());
    for (int i = 0; i < ok; ++i)
        detect_ok_detail[i] += other.detect_ok_detail[i];
    const int ng = std::min(detect_ng_detail.size(), other.detect_ng_detail.size());
    for (int i = 0; i < ng; ++i)
        detect_ng_detail[i] += other.detect_ng_detail[i];
}

void stru_DetecteStatisticsInfo::save2Json(QJsonObject& obj) const
{
    obj.insert(QStringLiteral("detect_ok"), detect_ok);
    obj.insert(QStringLiteral("detect_ng"), detect_ng);
    obj.insert(QStringLiteral("detect_all"), detect_ok + detect_ng);
    const int n = getCameraCount();
    QJsonArray ok, ng, all;
    for (int i = 0; i < n; ++i) {
        const qint32 o = i < detect_ok_detail.size() ? detect_ok_detail[i] : 0;
        const qint32 g = i < detect_ng_detail.size() ? detect_ng_detail[i] : 0;
        ok.append(o);
        ng.append(g);
        all.append(o + g);
    }
    obj.insert(QStringLiteral("detect_ok_detail"), ok);
    obj.insert(QStringLiteral("detect_ng_detail"), ng);
    obj.insert(QStringLiteral("detect_all_detail"), all);
}

void stru_DetecteStatisticsInfo::update(const QJsonObject& obj) { readCounts(obj, 0); }

void stru_DetecteStatisticsInfo::updateFromEntry(const QJsonObject& entry) { readCounts(entry, 1); }

void stru_DetecteStatisticsInfo::readCounts(const QJsonObject& obj, int names)
{
    // Read in place under either set of names: moving the keys first
    // (everyDetect2All) rebuilds the object once per key.
    detect_ok = qint32(numberOr(obj.value(QLatin1String(kStepKeys[0][names])), detect_ok));
    detect_ng = qint32(numberOr(obj.value(QLatin1String(kStepKeys[1][names])), detect_ng));
    const QJsonArray ok = obj.value(QLatin1String(kStepKeys[3][names])).toArray();
    const QJsonArray ng = obj.value(QLatin1String(kStepKeys[4][names])).toArray();
    const int n = std::max(ok.size(), ng.size());
    resetCameraCount(n);
    for (int i = 0; i < n; ++i) {
        if (i < ok.size())
            detect_ok_detail[i] = qint32(numberOr(ok.at(i), detect_ok_detail[i]));
        if (i < ng.size())
            detect_ng_detail[i] = qint32(numberOr(ng.at(i), detect_ng_detail[i]));
    }
}

// ---- stru_StatisticsInfo ----

void stru_StatisticsInfo::reset(const QString& key, int detectCount, int cameraCount, const QString& projectName)
{
    hourKey = key;
    projectname = projectName;
    runtime = stoptime = alarmtime = closetime = 0;
    stru_DetecteStatisticsInfo::reset(cameraCount);
    every_detect.clear();
    every_detect.resize(std::max(0, detectCount));
    for (stru_DetecteStatisticsInfo& step : every_detect)
        step.reset(cameraCount);
}

void stru_StatisticsInfo::resetCameraCount(int n)
{
    stru_DetecteStatisticsInfo::resetCameraCount(n);
    for (stru_DetecteStatisticsInfo& step : every_detect)
        step.resetCameraCount(n);
}

int stru_StatisticsInfo::getCameraCount() const
{
    int n = stru_DetecteStatisticsInfo::getCameraCount();
    for (const stru_DetecteStatisticsInfo& step : every_detect)
        n = std::max(n, step.getCameraCount());
    return std::max(0, n);
}

void stru_StatisticsInfo::resetDetectCount(int n)
{
    n = std::max(0, n);
    const int cameras = getCameraCount();
    while (every_detect.size() < n) {
        stru_DetecteStatisticsInfo step;
        step.reset(cameras);
        every_detect.append(step);
    }
    every_detect.resize(n);
}

void stru_StatisticsInfo::add(const stru_StatisticsInfo& other)
{
    stru_DetecteStatisticsInfo::add(other);
    const int steps = std::min(every_detect.size(), other.every_detect.size());
    for (int i = 0; i < steps; ++i)
        every_detect[i].add(other.every_detect[i]);
    runtime += other.runtime;
    stoptime += other.stoptime;
    alarmtime += other.alarmtime;
    closetime += other.closetime;
}

void stru_StatisticsInfo::resetCloseTime()
{
    const QDateTime now = statistics::wallNow();
    resetCloseTime(statistics::hourKeyOf(now), now.time().minute());
}

void stru_StatisticsInfo::resetCloseTime(const QString& nowKey, int nowMinute)
{
    closetime = idleMinutes(hourKey == nowKey ? nowMinute : 60, runtime, stoptime, alarmtime);
}

QJsonObject stru_StatisticsInfo::save2Json() const
{
    QJsonObject obj;
    stru_DetecteStatisticsInfo::save2Json(obj);
    QJsonArray steps;
    for (int i = 0; i < every_detect.size(); ++i) {
        QJsonObject step;
        every_detect[i].save2Json(step);
        step.insert(QStringLiteral("detect_index"), i + 1);
        allDetect2Every(step);
        steps.append(step);
    }
    obj.insert(QStringLiteral("every_detect"), steps);
    obj.insert(QStringLiteral("runtime"), runtime);
    obj.insert(QStringLiteral("stoptime"), stoptime);
    obj.insert(QStringLiteral("alarmtime"), alarmtime);
    obj.insert(QStringLiteral("closetime"), closetime);
    obj.insert(QStringLiteral("projectname"), projectname);
    return obj;
}

void stru_StatisticsInfo::update(const QJsonObject& obj)
{
    stru_DetecteStatisticsInfo::update(obj);
    const QJsonArray steps = obj.value(QLatin1String("every_detect")).toArray();
    resetDetectCount(steps.size());
    for (int i = 0; i < steps.size(); ++i)
        every_detect[i].updateFromEntry(steps.at(i).toObject());
    // Minutes are stored as 32-bit numbers.
    runtime = qint32(numberOr(obj.value(QLatin1String("runtime")), runtime));
    stoptime = qint32(numberOr(obj.value(QLatin1String("stoptime")), stoptime));
    alarmtime = qint32(numberOr(obj.value(QLatin1String("alarmtime")), alarmtime));
    closetime = qint32(numberOr(obj.value(QLatin1String("closetime")), closetime));
    const QJsonValue name = obj.value(QLatin1String("projectname"));
    if (!name.isUndefined())
        projectname = name.toString();
}

// ---- free functions ----

void allDetect2Every(QJsonObject& obj) { moveKeys(obj, 0, 1); }
void everyDetect2All(QJsonObject& obj) { moveKeys(obj, 1, 0); }

namespace {

QJsonArray appended(QJsonArray array, qint64 value)
{
    array.append(value);
    return array;
}

void appendTo(QJsonObject& obj, const char* key, qint64 value)
{
    const QString k = QLatin1String(key);
    obj.insert(k, appended(obj.value(k).toArray(), value));
}

void appendDetail(QJsonObject& obj, const char* key, const QList<qint32>& counts)
{
    const QString k = QLatin1String(key);
    QJsonArray series = obj.value(k).toArray();
    for (int i = 0; i < counts.size(); ++i) {
        while (series.size() <= i)
            series.append(QJsonArray());
        series[i] = appended(series.at(i).toArray(), counts[i]);
    }
    obj.insert(k, series);
}

// One history column set of a step (or of the cycles), filled record by
// record and turned into JSON once.
struct CountColumns {
    QVector<qint64> ok, ng, all;
    QVector<QVector<qint64>> okDetail, ngDetail;

    static void appendDetailColumns(QVector<QVector<qint64>>& series, const QList<qint32>& counts)
    {
        for (int i = 0; i < counts.size(); ++i) {
            if (series.size() <= i)
                series.resize(i + 1);
            series[i].append(counts[i]);
        }
    }
    void append(const stru_DetecteStatisticsInfo& info)
    {
        ok.append(info.detect_ok);
        ng.append(info.detect_ng);
        all.append(qint64(info.detect_ok) + info.detect_ng);
        appendDetailColumns(okDetail, info.detect_ok_detail);
        appendDetailColumns(ngDetail, info.detect_ng_detail);
    }
};

QJsonArray toArray(const QVector<qint64>& column)
{
    QJsonArray a;
    for (qint64 v : column)
        a.append(v);
    return a;
}

QJsonArray toArray(const QVector<QVector<qint64>>& series)
{
    QJsonArray a;
    for (const QVector<qint64>& column : series)
        a.append(toArray(column));
    return a;
}

void writeColumns(const CountColumns& c, QJsonObject& obj, bool step)
{
    obj.insert(QLatin1String(step ? "detect_index_ok" : "detect_ok"), toArray(c.ok));
    obj.insert(QLatin1String(step ? "detect_index_ng" : "detect_ng"), toArray(c.ng));
    obj.insert(QLatin1String(step ? "detect_index_all" : "detect_all"), toArray(c.all));
    obj.insert(QLatin1String(step ? "detect_index_ok_detail" : "detect_ok_detail"), toArray(c.okDetail));
    obj.insert(QLatin1String(step ? "detect_index_ng_detail" : "detect_ng_detail"), toArray(c.ngDetail));
}

}  // namespace

void statisticsTimeAppend2Json(const stru_StatisticsInfo& info, QJsonObject& obj)
{
    appendTo(obj, "runtime", info.runtime);
    appendTo(obj, "stoptime", info.stoptime);
    appendTo(obj, "alarmtime", info.alarmtime);
    appendTo(obj, "closetime", info.closetime);
    appendTo(obj, "notwork_time", info.stoptime + info.alarmtime + info.closetime);
}

void statisticsDetectInfoAppend2Json(const stru_DetecteStatisticsInfo& info, QJsonObject& obj)
{
    appendTo(obj, "detect_ok", info.detect_ok);
    appendTo(obj, "detect_ng", info.detect_ng);
    appendTo(obj, "detect_all", qint64(info.detect_ok) + info.detect_ng);
    appendDetail(obj, "detect_ok_detail", info.detect_ok_detail);
    appendDetail(obj, "detect_ng_detail", info.detect_ng_detail);
}

QJsonObject arraySave2Json(const QVector<stru_StatisticsInfo>& list)
{
    // Columns are collected as vectors and written once: appending to JSON
    // arrays record by record copies every array each time.
    QJsonObject obj;
    if (list.isEmpty()) {
        obj.insert(QStringLiteral("every_detect"), QJsonArray());
        return obj;
    }
    QVector<qint64> run, stop, alarm, close, notwork;
    CountColumns cycles;
    QVector<CountColumns> steps;
    for (const stru_StatisticsInfo& info : list) {
        run.append(info.runtime);
        stop.append(info.stoptime);
        alarm.append(info.alarmtime);
        close.append(info.closetime);
        notwork.append(info.stoptime + info.alarmtime + info.closetime);
        cycles.append(info);
        if (steps.size() < info.every_detect.size())
            steps.resize(info.every_detect.size());
        for (int i = 0; i < info.every_detect.size(); ++i)
            steps[i].append(info.every_detect[i]);
    }
    obj.insert(QStringLiteral("runtime"), toArray(run));
    obj.insert(QStringLiteral("stoptime"), toArray(stop));
    obj.insert(QStringLiteral("alarmtime"), toArray(alarm));
    obj.insert(QStringLiteral("closetime"), toArray(close));
    obj.insert(QStringLiteral("notwork_time"), toArray(notwork));
    writeColumns(cycles, obj, false);
    QJsonArray every;
    for (int i = 0; i < steps.size(); ++i) {
        QJsonObject step;
        step.insert(QStringLiteral("detect_index"), i + 1);
        writeColumns(steps[i], step, true);
        every.append(step);
    }
    obj.insert(QStringLiteral("every_detect"), every);
    return obj;
}

void checkDataLengthConsistency(QVector<stru_StatisticsInfo>& list)
{
    int steps = 1, cameras = 1;
    for (const stru_StatisticsInfo& info : list) {
        steps = std::max(steps, int(info.every_detect.size()));
        cameras = std::max(cameras, info.getCameraCount());
    }
    for (stru_StatisticsInfo& info : list) {
        info.resetDetectCount(steps);
        info.resetCameraCount(cameras);
    }
}

namespace {

// Hour keys are "yyyy-MM-dd hh": a day, month or year is a prefix of the key.
QVector<stru_StatisticsInfo> foldByPrefix(const QVector<stru_StatisticsInfo>& list, int prefix)
{
    QVector<stru_StatisticsInfo> out;
    for (const stru_StatisticsInfo& info : list) {
        if (!out.isEmpty() && (prefix < 0 || out.last().hourKey.leftRef(prefix) == info.hourKey.leftRef(prefix)))
            out.last().add(info);
        else
            out.append(info);
    }
    return out;
}

}  // namespace

QVector<stru_StatisticsInfo> consolidateData(const QVector<stru_StatisticsInfo>& list) { return foldByPrefix(list, -1); }
QVector<stru_StatisticsInfo> consolidateDataByDay(const QVector<stru_StatisticsInfo>& list) { return foldByPrefix(list, 10); }
QVector<stru_StatisticsInfo> consolidateDataByMonth(const QVector<stru_StatisticsInfo>& list) { return foldByPrefix(list, 7); }
QVector<stru_StatisticsInfo> consolidateDataByYear(const QVector<stru_StatisticsInfo>& list) { return foldByPrefix(list, 4); }
