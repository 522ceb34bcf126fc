#pragma once
// ResStatistics.db, in the working directory: one row per clock hour
// ("resstatistics": hour key -> indented {"data":[record of each project]})
// and the nine live counters ("statisticsparam").
//
// Writing: one object lives on a database thread of its own. Saves are handed
// in from any thread and never wait for the disk: the object keeps at most
// one pending snapshot per hour key plus the latest counters (a later save
// supersedes an earlier one), builds the texts on its thread and writes all
// that is pending in one transaction on a connection it keeps open (WAL,
// synchronous FULL). A save that fails stays pending and is tried again.
//
// Reading: the static readers open a connection of their own per call and
// may run on any thread at the same time as the writer.
#include "statistics/statisticsinfo.h"
#include "statistics/statisticslive.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <optional>

class ProductstatisticsDatabase : public QObject {
    Q_OBJECT
public:
    // The held records of one hour, by project name.
    using HourRecords = QMap<QString, stru_StatisticsInfo>;

    explicit ProductstatisticsDatabase(QObject* parent = nullptr);
    ~ProductstatisticsDatabase() override;

    static QString fileName() { return QStringLiteral("ResStatistics.db"); }

    // Creates the two tables and the missing counter rows (existing rows are
    // never overwritten) and switches the file to WAL. Runs on the calling
    // thread with a connection of its own; false when the file could not be
    // opened or set up (logged).
    bool init();
    // The nine counters with the values a missing row gets.
    static QVariantMap getParamMap();

    // ---- saves: any thread, never blocking on the disk ----
    // The records of hour `hourKey` and the live counters.
    void slotSaveRecord(const QString& hourKey, const HourRecords& records, const StatisticsLive& live);
    // The live counters alone.
    void slotSaveParams(const StatisticsLive& live);
    // The records of `hourKey` handed in but not yet committed, if any.
    std::optional<HourRecords> pendingHour(const QString& hourKey) const;
    // Saves handed in so far, and how many of them are committed (a
    // superseded save counts as committed with the one that replaced it).
    quint64 submittedSaves() const { return m_submitted.load(); }
    quint64 committedSaves() const { return m_committed.load(); }
    // Writes what is pending now. Database thread only (the writer calls it
    // itself after each save handed in).
    void flush();
    // Closes the writer's connection (the next save opens it again).
    // Database thread only: a connection may only be used, and so closed,
    // by the thread that opened it; the owner calls it before that thread
    // ends.
    void closeWriter();
    // How often the WAL is copied back into the file (default 5 minutes).
    void setCheckpointInterval(int ms) { m_checkpointMs = ms; }
    // Retry delay after a failed write (default 1000 ms).
    void setRetryInterval(int ms) { m_retryMs = ms; }

    // ---- readers: any thread ----
    static QVariant loadParam(const QString& table, const QString& name);
    static QVariantMap loadParams(const QString& table);
    // The stored records of the hour of `time` ("yyyy-MM-dd hh:mm:ss"), by
    // project name.
    static void loadCount(const QString& time, HourRecords& out);
    // One record of `project` per hour from start's hour to end's hour; hours
    // without a row get a zero record.
    static QVector<stru_StatisticsInfo> loadCount(const QDateTime& start, const QDateTime& end, const QString& project);
    // History answers: the sum of the window, and one entry per hour, day,
    // month or year.
    static void loadCount(const QDateTime& start, const QDateTime& end, QJsonObject& out, const QString& project);
    static void loadHourCount(const QDateTime& start, const QDateTime& end, QJsonObject& out, const QString& project);
    static void loadDayCount(const QDateTime& start, const QDateTime& end, QJsonObject& out, const QString& project);
    static void loadMonthCount(const QDateTime& start, const QDateTime& end, QJsonObject& out, const QString& project);
    static void loadYearCount(const QDateTime& start, const QDateTime& end, QJsonObject& out, const QString& project);

    // An hour row: {"data":[record of each project]}, and its stored text.
    static QJsonObject hourRowJson(const HourRecords& records);
    static QByteArray hourRowText(const HourRecords& records);

signals:
    // After each commit, on the database thread.
    void committed();

private:
    struct Pending {
        QMap<QString, HourRecords> hours;
        std::optional<StatisticsLive> live;
        quint64 serial = 0;  // the last save it holds
    };
    void schedule();
    bool openWriter();
    bool write(const Pending& work, bool& countersWritten);

    mutable QMutex m_mutex;   // guards the three fields below
    Pending m_pending;
    Pending m_inflight;       // taken by the writer, not yet committed
    bool m_flushQueued = false;

    std::atomic<quint64> m_submitted{0};
    std::atomic<quint64> m_committed{0};

    // Database thread only.
    QString m_writerName;
    bool m_writerOpen = false;
    QTimer* m_retry = nullptr;
    QElapsedTimer m_sinceCheckpoint;
    int m_checkpointMs = 5 * 60 * 1000;
    int m_retryMs = 1000;
    bool m_failing = false;
};
