#pragma once
// Counts production while the camera program runs: the current clock hour's
// record of each project and the live totals since the last count clear. It
// counts each detection step and each mould cycle as the application reports
// them, sorts every minute into run, stop or alarm time, moves on at each new
// hour, and hands every save to the statistics database on its own thread.
//
// Threads: lives on the main thread; every operation runs there except
// params2Map, which answers any thread at once from a locked copy.
#include "statistics/productstatisticsdatabase.h"
#include "statistics/statisticsinfo.h"
#include "statistics/statisticslive.h"

#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QVector>

#include <functional>

class QThread;

class stage_productstatistics : public QObject {
    Q_OBJECT
public:
    // The flow's run state (2 while an NG stop holds the flow).
    using RunStateGetter = std::function<int()>;

    explicit stage_productstatistics(QObject* parent = nullptr);
    // Writes what is still pending and stops the database thread.
    ~stage_productstatistics() override;

    // Where the minute tick reads the flow's run state; without one every
    // started minute counts as run time.
    void setRunStateGetter(RunStateGetter getter) { m_runState = std::move(getter); }

    // Starts counting: database thread, the current hour's stored records,
    // the stored live totals, the minute timer.
    void init(int detectCount, int cameraCount, const QString& project);

    // One detection step of the main camera: detectIndex 0-based, one result
    // per camera in group order. Counted in memory; saved with the cycle.
    void updateSingleRecord(int detectIndex, const QVector<bool>& results);
    // The end of a mould cycle: counted and saved.
    void updateCycleRecord();
    // The operator's count clear: a new live period from now.
    void countClear();
    // Takes over the main camera's live counts (on a sub camera).
    void countSync(const QVariantMap& values);
    // The live totals (any thread).
    QVariantMap params2Map() const;
    // One camera's live counts (any thread).
    QVariantMap params2Map(int camera) const;
    // Loads the live totals; a start time without seconds starts afresh.
    void map2Params(const QVariantMap& values);
    void resetCameraCount(int n);
    // The flow's step count; sizes the current record and every later hour.
    void resetDetectCount(int n);
    // Drops the held records and starts a fresh one for the project.
    void resetStatisticsInfo();
    stru_StatisticsInfo getStatisticsInfoByprojectName(const QString& name) const;
    // {"data":[record of every held project]}.
    QJsonObject statisticsInfo2Json() const;

    ProductstatisticsDatabase& database() { return m_database; }
    const QTimer& minuteTimer() const { return m_timer; }
    // The hour whose records are held ("yyyy-MM-dd hh").
    QString heldHour() const { return m_hourKey; }

public slots:
    // Books the minute just passed (the 60 s timer; tests call it).
    void slotMinuteTick();

private:
    // Moves the held records to the hour of `now` when it differs: the
    // finished hour is handed to the database under its own key first.
    void rollOver(qint64 nowMs);
    stru_StatisticsInfo freshRecord(const QString& name) const;
    // The held record of the project (a fresh one when none is held).
    stru_StatisticsInfo& held();
    void fitHeldRecord();
    void saveRecord();
    void saveParams();
    StatisticsLive live() const;

    ProductstatisticsDatabase m_database;
    QThread* m_thread = nullptr;
    bool m_started = false;
    int m_detectCount = 2;
    int m_cameraCount = 2;
    QString m_project;
    QString m_hourKey;
    qint64 m_hourFromMs = 0;  // the held hour as epoch milliseconds [from, to)
    qint64 m_hourToMs = 0;
    ProductstatisticsDatabase::HourRecords m_records;

    mutable QMutex m_liveLock;  // guards m_live; written on the main thread only
    StatisticsLive m_live;

    QVector<bool> m_cameraFlags;
    bool m_cycleResult = true;
    QTimer m_timer;
    RunStateGetter m_runState;
};
