#pragma once
// Production counts as plain values: the OK/NG counts of one detection step
// (overall and per camera) and the record of one project for one clock hour
// (cycle counts, per-step counts, minutes of run, stop, alarm and idle time);
// their stored JSON, the column-wise history JSON and the folding of hour
// records into days, months and years. No locks, no files, no threads.
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVector>

// OK and NG counts of one detection step, overall and per camera (index = the
// camera's position in the group, main camera first). The two per-camera
// lists may differ in length; the camera count is the longer one.
struct stru_DetecteStatisticsInfo {
    qint32 detect_ok = 0;
    qint32 detect_ng = 0;
    QList<qint32> detect_ok_detail;
    QList<qint32> detect_ng_detail;

    // Counts 0, both lists cameraCount zeros.
    void reset(int cameraCount);
    // Both lists padded with zeros or cut to n entries.
    void resetCameraCount(int n);
    int getCameraCount() const;
    // Counts summed; the lists summed over the shorter length, own length kept.
    void add(const stru_DetecteStatisticsInfo& other);
    void save2Json(QJsonObject& obj) const;
    void update(const QJsonObject& obj);
    // The same from an "every_detect" entry, read under its entry keys.
    void updateFromEntry(const QJsonObject& entry);

private:
    // names 0: step keys, 1: entry keys.
    void readCounts(const QJsonObject& obj, int names);
};

// One project's record of one clock hour. The inherited counts are whole
// mould cycles; every_detect[s-1] belongs to step s.
struct stru_StatisticsInfo : stru_DetecteStatisticsInfo {
    QVector<stru_DetecteStatisticsInfo> every_detect;
    QString hourKey;  // "yyyy-MM-dd hh", local time; not part of the JSON
    qint64 runtime = 0;
    qint64 stoptime = 0;
    qint64 alarmtime = 0;
    qint64 closetime = 0;
    QString projectname = QStringLiteral("default_project");

    void reset(const QString& key, int detectCount, int cameraCount, const QString& projectName);
    void resetCameraCount(int n);
    int getCameraCount() const;
    void resetDetectCount(int n);
    void add(const stru_StatisticsInfo& other);
    // closetime from the wall clock (statisticsclock.h).
    void resetCloseTime();
    // The same for a known "now": its hour key and minute of the hour.
    void resetCloseTime(const QString& nowKey, int nowMinute);
    QJsonObject save2Json() const;
    void update(const QJsonObject& obj);
};
Q_DECLARE_METATYPE(stru_StatisticsInfo)

// Idle minutes of an hour: `elapsed` minutes of it passed, less the counted
// ones, never below 0 (a clock step or a count of more than the hour's
// minutes would otherwise give a negative idle time).
qint64 idleMinutes(qint64 elapsed, qint64 run, qint64 stop, qint64 alarm);

// Step keys to their names inside an "every_detect" entry, and back.
void allDetect2Every(QJsonObject& obj);
void everyDetect2All(QJsonObject& obj);

void statisticsTimeAppend2Json(const stru_StatisticsInfo& info, QJsonObject& obj);
void statisticsDetectInfoAppend2Json(const stru_DetecteStatisticsInfo& info, QJsonObject& obj);
// The history answer of a list of records: one column entry per record.
QJsonObject arraySave2Json(const QVector<stru_StatisticsInfo>& list);
// Brings every record to the largest step and camera counts (each at least 1).
void checkDataLengthConsistency(QVector<stru_StatisticsInfo>& list);

// Folding of neighbouring records: all into one, or by calendar day, month or
// year of their hour keys.
QVector<stru_StatisticsInfo> consolidateData(const QVector<stru_StatisticsInfo>& list);
QVector<stru_StatisticsInfo> consolidateDataByDay(const QVector<stru_StatisticsInfo>& list);
QVector<stru_StatisticsInfo> consolidateDataByMonth(const QVector<stru_StatisticsInfo>& list);
QVector<stru_StatisticsInfo> consolidateDataByYear(const QVector<stru_StatisticsInfo>& list);
