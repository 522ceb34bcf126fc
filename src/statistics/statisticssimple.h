#pragma once
// Two running totals per text key (all results, NG results), kept in
// "./workspace/simple_total.json" and rewritten every 30 s when they changed.
// The file is replaced as a whole, so a killed program leaves the last
// complete save.
//
// Threads: the counters may be changed and read from any thread (one mutex);
// the timer and the file writing run on the thread that created the object.
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>

struct SStatisticsSimple {
    qint32 total = 0;
    qint32 ng = 0;
};

class StatisticsSimple : public QObject {
    Q_OBJECT
public:
    // The process-wide object, created on first call (no parent).
    static StatisticsSimple* getInstance();
    // Deletes it (it saves first); nothing when none exists.
    static void releaseInstance();

    void incrementTotal(const QString& key);
    void incrementNG(const QString& key);
    // Zeros for a key never counted (the key is not created).
    SStatisticsSimple getStatistics(const QString& key) const;
    QMap<QString, SStatisticsSimple> getAllStatistics() const;
    // Empties the totals and writes the file.
    void clearAllStatistics();
    void loadFromFile();

    QJsonObject variantMapToJson(const QVariantMap& map) const;
    QVariantMap jsonToVariantMap(const QJsonObject& obj) const;
    QVariantMap statisticsToVariantMap() const;
    void variantMapToStatistics(const QVariantMap& map);

    QString filePath() const { return m_path; }

public slots:
    // Writes the file when the totals changed since the last save; false
    // when it could not be written (logged, tried again next time).
    bool saveToFile();

private:
    StatisticsSimple();
    ~StatisticsSimple() override;

    QString m_path;
    QMap<QString, SStatisticsSimple> m_map;  // under m_mutex
    quint64 m_changes = 0;                   // under m_mutex: changes made
    quint64 m_saved = 0;                     // under m_mutex: changes on file
    QTimer m_timer;
    mutable QMutex m_mutex;
};
