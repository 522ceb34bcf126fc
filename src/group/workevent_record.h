#pragma once
// The record that every work event keeps: its time stamps, the units
// collected so far (by device id) under a mutex, its time limit, and whether
// its wait loop runs. Writes the event's report table to the log.
#include "group/rpcdist_define.h"

#include <QMap>
#include <QMutex>
#include <QString>

#include <atomic>

struct WorkEvent_Record {
    qint64 create_time = -1;   // epoch ms
    qint64 destroy_time = -1;
    qint64 start_time = -1;    // the event's thread starts waiting
    qint64 finish_time = -1;
    QMap<QString, SCollect_Unit> collectlist;  // guarded by `mutex`
    mutable QMutex mutex;
    int timeout = 10000;  // ms
    std::atomic<int> loop_running{0};

    // A copy of the collect list, taken under the mutex.
    QMap<QString, SCollect_Unit> get_collectlist() const;

    // The report table: a frame of 50 asterisks, the summary (how the wait
    // ended, finish - create) in "level_1", a header and one row per collected
    // unit (name "main", "sub_<n>" or empty; "ok"/"ng"; ms from the start of
    // the wait to its arrival; calculate_time in seconds).
    void print_report(const SRPC_WS_Interface& view, int work_state) const;
};
