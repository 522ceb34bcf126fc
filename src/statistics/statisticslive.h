#pragma once
// The live totals: cycles counted since the last count clear (overall and per
// camera), when that period started and its minutes of run, stop, alarm and
// idle time. They are stored as the nine counter rows of the statistics
// database, under the same names.
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

struct StatisticsLive {
    qint32 detect_ok = 0;
    qint32 detect_ng = 0;
    QList<qint32> detect_ok_detail;
    QList<qint32> detect_ng_detail;
    QString starttime;  // "yyyy-MM-dd hh:mm:ss"
    qint64 runtime = 0;
    qint64 stoptime = 0;
    qint64 alarmtime = 0;
    qint64 closetime = 0;

    // The nine counters by name: the two per-camera lists as indented JSON
    // array texts, both as long as the longer list.
    QVariantMap toParams() const;
    // One camera's counts (0 outside the lists) with the start and minutes.
    QVariantMap toParams(int camera) const;
    // Counts and lists from "detect_ok", "detect_ng", "detect_ok_detail" and
    // "detect_ng_detail" (a list text that is not a JSON array gives an empty
    // list; missing numbers give 0).
    void takeCounts(const QVariantMap& values);
    // Zero counts, lists and minutes; `start` as the start time.
    void restart(const QString& start);
};
Q_DECLARE_METATYPE(StatisticsLive)
