#pragma once
// The liveness reporter: watches the IO-module and camera-group links every
// 200 ms (publishing them as the work block's link flags, cutting the IO
// outputs while a link is down and recording link changes), computes the
// frame rate gFPS every 3 s, and every 30 s logs a resource report and writes
// the liveness record the monitor daemon reads (see liveness/).
//
// Lives on its own thread, started at construction; its three slots run only
// there. Created last at start-up and never freed.
#include "liveness/livenessreport.h"
#include "liveness/livenesssegment.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <memory>

class LivenessProbes;
class QTimer;

struct SmartManager_Options {
    // The shared-memory segment written every report period.
    QString segmentKey = QString::fromLatin1(LivenessSegment::kKey);
    // Scale on the 30 s report period (tests shorten it).
    double reportPeriodScale = 1.0;
    // Monotonic milliseconds for the frame rate; empty: the platform's clock.
    // Never the wall clock: a "date -s" must not break the rate.
    std::function<qint64()> monotonicMs;
    // False: no thread and no timers; a test calls the slots itself.
    bool startThread = true;
};

class SmartManager_Deamon : public QObject {
    Q_OBJECT
public:
    static constexpr int kModuleStatePeriodMs = 200;
    static constexpr int kReportPeriodMs = 30000;
    static constexpr int kFrameRatePeriodMs = 3000;

    // Takes the frame rate's baseline now, so the first rate comes one period
    // after start. `probes` must outlive the reporter.
    explicit SmartManager_Deamon(LivenessProbes* probes, SmartManager_Options options = {},
                                 QObject* parent = nullptr);
    ~SmartManager_Deamon() override;

    QThread* workerThread() { return &m_thread; }

    // The liveness record as it would be written now.
    QByteArray livenessRecord();

    // "resident/virtual" in MB with two decimals from the text of
    // /proc/<pid>/stat; empty when it has too few fields.
    static QString memoryTextFromStat(const QByteArray& stat);
    // "[target, state] " per heartbeat target, for the resource reports.
    static QString heartbeatTargetsText(const QList<QPair<QString, int>>& targets);

public slots:
    // Link watch (every 200 ms).
    void update_module_state();
    // Resource report and liveness record (every 30 s).
    void print_working_state();
    // Frame rate (every 3 s).
    void camfps();

private:
    void record(const QString& text);
    LivenessReport gatherReport();

    QThread m_thread;
    QTimer* m_moduleTimer = nullptr;
    QTimer* m_reportTimer = nullptr;
    QTimer* m_fpsTimer = nullptr;
    LivenessProbes* m_probes;
    SmartManager_Options m_options;
    LivenessSegment m_segment;

    // Link watch, reporter's thread only.
    bool m_firstInitDone = false;
    int m_lastRecordedState = 0;
    // Frame-rate baseline, reporter's thread only (set at construction).
    qint64 m_fpsBaselineMs = 0;
    qint64 m_fpsBaselineFrames = 0;
};
