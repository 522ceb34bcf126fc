#include "statistics/productstatisticsdatabase.h"

#include "foundation/logmanager.h"
#include "foundation/sqlitetools.h"
#include "statistics/statisticsclock.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeZone>

#include <algorithm>

#include <utility>

namespace {

const QString kHourTable = QStringLiteral("resstatistics");
const QString kParamTable = QStringLiteral("statisticsparam");
const char* const kCreate = "CREATE TABLE IF NOT EXISTS %1 (name TEXT PRIMARY KEY, value TEXT NOT NULL)";

std::atomic<quint64> g_connectionSerial{0};

// A connection of its own for one operation, removed when it goes.
class Connection {
public:
    explicit Connection(int busyMs, const QString& name = QString())
        : m_name(name.isEmpty() ? QStringLiteral("dbStatistics_%1").arg(++g_connectionSerial) : name)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(ProductstatisticsDatabase::fileName());
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMs));
        m_ok = db.open();
        if (!m_ok)
            m_error = db.lastError().text();
    }
    ~Connection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_ok = false;
    QString m_error;
};

bool exec(QSqlDatabase db, const QString& sql, QString* error = nullptr)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    if (error)
        *error = q.lastError().text();
    return false;
}

bool knownTable(const QString& table) { return table == kHourTable || table == kParamTable; }

void warnOpenFail(const QString& error)
{
    qCWarning(level_1).noquote() << "ResStatistics.db" << "open fail" << error;
}

}  // namespace

ProductstatisticsDatabase::ProductstatisticsDatabase(QObject* parent)
    : QObject(parent),
      m_writerName(QStringLiteral("dbStatistics_writer_%1").arg(quintptr(this), 0, 16)),
      m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &ProductstatisticsDatabase::flush);
}

ProductstatisticsDatabase::~ProductstatisticsDatabase()
{
    // Open here only when the writer never left the thread that deletes it.
    closeWriter();
}

void ProductstatisticsDatabase::closeWriter()
{
    if (!m_writerOpen)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_writerName);
    m_writerOpen = false;
}

QVariantMap ProductstatisticsDatabase::getParamMap()
{
    const QString start = statistics::wallNow().toString(QStringLiteral("yyyy-MM-dd hh:mm"));
    return {
        {QStringLiteral("detect_ok"), 0},
        {QStringLiteral("detect_ng"), 0},
        {QStringLiteral("starttime"), start},
        {QStringLiteral("runtime"), 0},
        {QStringLiteral("stoptime"), 0},
        {QStringLiteral("alarmtime"), 0},
        {QStringLiteral("closetime"), 0},
        {QStringLiteral("detect_ok_detail"), QStringLiteral("{\n}")},
        {QStringLiteral("detect_ng_detail"), QStringLiteral("{\n}")},
    };
}

bool ProductstatisticsDatabase::init()
{
    Connection c(5000);
    if (!c.ok()) {
        qCWarning(level_1).noquote() << "open statistics database file fail" << c.error();
        return false;
    }
    QSqlDatabase db = c.db();
    QString error;
    if (!exec(db, QStringLiteral("PRAGMA journal_mode=WAL"), &error))
        qCWarning(level_1).noquote() << "statistics database: WAL not set:" << error;
    struct Table {
        const QString& name;
        const char* created;
        const char* failed;
    } tables[] = {{kHourTable, "statistics table created successfully.", "Failed to create statistics table:"},
                  {kParamTable, "statistics param table created successfully.", "Failed to create statistics param table:"}};
    bool ok = true;
    for (const Table& t : tables) {
        if (tableExists(db, t.name)) {
            qInfo() << "statistics table exists, no need to create a new one.";
        } else if (exec(db, QString::fromLatin1(kCreate).arg(t.name), &error)) {
            qInfo() << t.created;
        } else {
            qCWarning(level_1).noquote() << t.failed << error;
            ok = false;
        }
    }
    const QVariantMap defaults = getParamMap();
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        // Existing rows are kept; "OR IGNORE" also keeps a second start from
        // adding any.
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO statisticsparam (name, value) VALUES (:name, :value)"));
        q.bindValue(QStringLiteral(":name"), it.key());
        q.bindValue(QStringLiteral(":value"), it.value());
        if (!q.exec()) {
            qCWarning(level_1).noquote() << "record init fail," << "Error executing query:" << q.lastError().text();
            ok = false;
        } else if (q.numRowsAffected() > 0) {
            qInfo().noquote() << "Record name :" << it.key() << ", value :" << it.value().toString() << ",init"
                              << " successfully.";
        }
    }
    return ok;
}

// ---- saves ----

void ProductstatisticsDatabase::slotSaveRecord(const QString& hourKey, const HourRecords& records,
                                               const StatisticsLive& live)
{
    QMutexLocker lock(&m_mutex);
    m_pending.hours.insert(hourKey, records);
    m_pending.live = live;
    m_pending.serial = ++m_submitted;
    schedule();
}

void ProductstatisticsDatabase::slotSaveParams(const StatisticsLive& live)
{
    QMutexLocker lock(&m_mutex);
    m_pending.live = live;
    m_pending.serial = ++m_submitted;
    schedule();
}

std::optional<ProductstatisticsDatabase::HourRecords> ProductstatisticsDatabase::pendingHour(const QString& hourKey) const
{
    QMutexLocker lock(&m_mutex);
    auto it = m_pending.hours.find(hourKey);
    if (it != m_pending.hours.end())
        return it.value();
    it = m_inflight.hours.find(hourKey);
    if (it != m_inflight.hours.end())
        return it.value();
    return std::nullopt;
}

// Caller holds m_mutex.
void ProductstatisticsDatabase::schedule()
{
    if (m_flushQueued)
        return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void ProductstatisticsDatabase::flush()
{
    Pending work;
    {
        QMutexLocker lock(&m_mutex);
        m_flushQueued = false;
        if (m_pending.hours.isEmpty() && !m_pending.live)
            return;
        work = std::exchange(m_pending, Pending());
        m_inflight = work;
    }
    bool countersWritten = false;
    const bool ok = write(work, countersWritten);
    {
        QMutexLocker lock(&m_mutex);
        m_inflight = Pending();
        if (!ok || !countersWritten) {
            // Hand back what a later save has not replaced meanwhile.
            if (!ok) {
                for (auto it = work.hours.begin(); it != work.hours.end(); ++it) {
                    if (!m_pending.hours.contains(it.key()))
                        m_pending.hours.insert(it.key(), it.value());
                }
            }
            if (work.live && !m_pending.live)
                m_pending.live = work.live;
            if (m_pending.serial == 0)
                m_pending.serial = work.serial;
        } else if (m_committed.load() < work.serial) {
            m_committed.store(work.serial);
        }
    }
    if (ok && countersWritten) {
        if (m_failing)
            qCWarning(level_1) << "statistics saved again after failed saves";
        m_failing = false;
        emit committed();
    } else {
        m_retry->start(m_retryMs);
    }
}

bool ProductstatisticsDatabase::openWriter()
{
    if (m_writerOpen)
        return true;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_writerName);
    db.setDatabaseName(fileName());
    // A lock held elsewhere stalls this thread briefly, never the counting.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=250"));
    if (!db.open()) {
        if (!m_failing)
            warnOpenFail(db.lastError().text());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_writerName);
        return false;
    }
    // A power cut loses no committed save (FULL); the WAL is copied back on
    // the writer's own schedule.
    exec(db, QStringLiteral("PRAGMA journal_mode=WAL"));
    exec(db, QStringLiteral("PRAGMA synchronous=FULL"));
    exec(db, QStringLiteral("PRAGMA wal_autocheckpoint=0"));
    m_writerOpen = true;
    m_sinceCheckpoint.start();
    return true;
}

QJsonObject ProductstatisticsDatabase::hourRowJson(const HourRecords& records)
{
    QJsonArray data;
    for (const stru_StatisticsInfo& info : records)
        data.append(info.save2Json());
    return QJsonObject{{QStringLiteral("data"), data}};
}

QByteArray ProductstatisticsDatabase::hourRowText(const HourRecords& records)
{
    return QJsonDocument(hourRowJson(records)).toJson(QJsonDocument::Indented);
}

bool ProductstatisticsDatabase::write(const Pending& work, bool& countersWritten)
{
    countersWritten = !work.live;
    if (!openWriter())
        return false;
    QSqlDatabase db = QSqlDatabase::database(m_writerName, false);
    QString error;
    auto fail = [&](const char* what) {
        if (!m_failing)
            qCWarning(level_1).noquote() << "statistics save failed, kept for the next try:" << what << error;
        m_failing = true;
        exec(db, QStringLiteral("ROLLBACK"));
        countersWritten = false;
        return false;
    };
    if (!exec(db, QStringLiteral("BEGIN IMMEDIATE"), &error))
        return fail("begin");
    for (auto it = work.hours.begin(); it != work.hours.end(); ++it) {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO resstatistics (name, value) VALUES (:name, :value) "
                                 "ON CONFLICT(name) DO UPDATE SET value = excluded.value"));
        q.bindValue(QStringLiteral(":name"), it.key());
        q.bindValue(QStringLiteral(":value"), QString::fromUtf8(hourRowText(it.value())));
        if (!q.exec()) {
            error = q.lastError().text();
            return fail("UPDATE failed:");
        }
    }
    if (work.live) {
        // The counters go in together or not at all; the hour rows stay.
        exec(db, QStringLiteral("SAVEPOINT counters"));
        const QVariantMap params = work.live->toParams();
        bool ok = true;
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE statisticsparam SET value = :value WHERE name = :name"));
        for (auto it = params.begin(); it != params.end() && ok; ++it) {
            q.bindValue(QStringLiteral(":name"), it.key());
            q.bindValue(QStringLiteral(":value"),
                        it.value().type() == QVariant::ByteArray ? QVariant(QString::fromUtf8(it.value().toByteArray()))
                                                                 : it.value());
            if (!q.exec()) {
                ok = false;
                error = q.lastError().text();
            }
        }
        q.finish();
        if (ok) {
            exec(db, QStringLiteral("RELEASE counters"));
            countersWritten = true;
        } else {
            if (!m_failing)
                qCWarning(level_1).noquote() << "Failed to update record:" << error
                                             << "(Transaction rolled back due to an error.)";
            m_failing = true;
            exec(db, QStringLiteral("ROLLBACK TO counters"));
            exec(db, QStringLiteral("RELEASE counters"));
        }
    }
    if (!exec(db, QStringLiteral("COMMIT"), &error))
        return fail("Failed to commit transaction:");
    qInfo() << "save statistic data";
    if (m_sinceCheckpoint.elapsed() >= m_checkpointMs) {
        exec(db, QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        m_sinceCheckpoint.restart();
    }
    return true;
}

// ---- readers ----

QVariant ProductstatisticsDatabase::loadParam(const QString& table, const QString& name)
{
    if (name.isEmpty() || !knownTable(table))
        return QVariant();
    Connection c(2000);
    if (!c.ok()) {
        warnOpenFail(c.error());
        return QVariant();
    }
    QSqlQuery q(c.db());
    q.prepare(QStringLiteral("select value from %1 where name = :name").arg(table));
    q.bindValue(QStringLiteral(":name"), name);
    if (!q.exec() || !q.next())
        return QVariant();
    return q.value(0);
}

QVariantMap ProductstatisticsDatabase::loadParams(const QString& table)
{
    QVariantMap out;
    if (!knownTable(table))
        return out;
    Connection c(2000);
    if (!c.ok()) {
        warnOpenFail(c.error());
        return out;
    }
    QSqlQuery q(c.db());
    if (q.exec(QStringLiteral("select name, value from %1").arg(table))) {
        while (q.next()) {
            const QString name = q.value(0).toString();
            const QVariant value = q.value(1);
            if (!name.isEmpty() && value.isValid() && !value.isNull())
                out.insert(name, value);
        }
    }
    qInfo() << "load params finish";
    return out;
}

namespace {

// Hour keys of rising epoch times in the system's zone. The offset is taken
// from the zone's transitions once per query: a local conversion per hour
// costs more than reading the hour's row.
class LocalHourKeys {
public:
    LocalHourKeys(qint64 fromMs, qint64 toMs) : m_zone(QTimeZone::systemTimeZone())
    {
        if (!m_zone.isValid())
            return;
        const QDateTime from = QDateTime::fromMSecsSinceEpoch(fromMs, Qt::UTC);
        m_offsetMs = qint64(m_zone.offsetFromUtc(from)) * 1000;
        m_transitions = m_zone.transitions(from, QDateTime::fromMSecsSinceEpoch(toMs, Qt::UTC));
    }
    QString key(qint64 ms)
    {
        if (!m_zone.isValid())
            return statistics::hourKeyOf(QDateTime::fromMSecsSinceEpoch(ms));
        while (m_next < m_transitions.size() && m_transitions[m_next].atUtc.toMSecsSinceEpoch() <= ms)
            m_offsetMs = qint64(m_transitions[m_next++].offsetFromUtc) * 1000;
        return statistics::hourKeyOf(QDateTime::fromMSecsSinceEpoch(ms + m_offsetMs, Qt::UTC));
    }

private:
    QTimeZone m_zone;
    qint64 m_offsetMs = 0;
    QTimeZone::OffsetDataList m_transitions;
    int m_next = 0;
};

QJsonArray rowData(const QByteArray& text)
{
    return QJsonDocument::fromJson(text).object().value(QLatin1String("data")).toArray();
}

}  // namespace

void ProductstatisticsDatabase::loadCount(const QString& time, HourRecords& out)
{
    const QDateTime t = QDateTime::fromString(time, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString key = statistics::hourKeyOf(t);
    Connection c(2000);
    if (!c.ok()) {
        warnOpenFail(c.error());
        return;
    }
    QSqlQuery q(c.db());
    q.prepare(QStringLiteral("select value from resstatistics where name = :name"));
    q.bindValue(QStringLiteral(":name"), key);
    if (q.exec() && q.next()) {
        const QDateTime now = statistics::wallNow();
        const QString nowKey = statistics::hourKeyOf(now);
        for (const QJsonValue& element : rowData(q.value(0).toByteArray())) {
            stru_StatisticsInfo info;
            info.reset(key, 2, 1, QStringLiteral("default_project"));
            info.update(element.toObject());
            info.resetCloseTime(nowKey, now.time().minute());
            out.insert(info.projectname, info);
        }
    }
    qInfo() << "load count finish";
}

QVector<stru_StatisticsInfo> ProductstatisticsDatabase::loadCount(const QDateTime& start, const QDateTime& end,
                                                                  const QString& project)
{
    QVector<stru_StatisticsInfo> list;
    const QDateTime now = statistics::wallNow();
    const QString nowKey = statistics::hourKeyOf(now);
    const int nowMinute = now.time().minute();
    const QString endKey = statistics::hourKeyOf(end);
    qint64 cursorMs = start.toMSecsSinceEpoch();
    LocalHourKeys keys(cursorMs, std::max(cursorMs, end.toMSecsSinceEpoch()) + 2LL * 24 * 3600 * 1000);
    QString cursorKey = keys.key(cursorMs);
    auto advance = [&] {
        // A local hour that repeats (end of summer time) gives one key once.
        const QString before = cursorKey;
        for (int i = 0; i < 3 && cursorKey <= before; ++i) {
            cursorMs += 3600 * 1000;
            cursorKey = keys.key(cursorMs);
        }
    };
    auto appendFiller = [&] {
        stru_StatisticsInfo filler;
        filler.reset(cursorKey, 2, 1, project);
        filler.resetCloseTime(nowKey, nowMinute);
        list.append(filler);
        advance();
    };
    {
        Connection c(2000);
        if (!c.ok()) {
            warnOpenFail(c.error());
            return list;
        }
        QSqlQuery q(c.db());
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("select name, value from resstatistics where name between :a and :b order by name asc"));
        q.bindValue(QStringLiteral(":a"), statistics::hourKeyOf(start));
        q.bindValue(QStringLiteral(":b"), endKey);
        if (q.exec()) {
            while (q.next()) {
                const QString name = q.value(0).toString();
                while (cursorKey < name && !cursorKey.isEmpty())
                    appendFiller();
                stru_StatisticsInfo info;
                info.reset(name, 2, 1, project);
                for (const QJsonValue& element : rowData(q.value(1).toByteArray())) {
                    const QJsonObject obj = element.toObject();
                    if (obj.value(QLatin1String("projectname")).toString() == project)
                        info.update(obj);
                }
                info.resetCloseTime(nowKey, nowMinute);
                list.append(info);
                if (cursorKey <= name) {
                    cursorKey = name;
                    advance();
                }
            }
        }
    }
    while ((list.isEmpty() || list.last().hourKey < endKey) && !cursorKey.isEmpty())
        appendFiller();
    return list;
}

void ProductstatisticsDatabase::loadCount(const QDateTime& start, const QDateTime& end, QJsonObject& out,
                                          const QString& project)
{
    QVector<stru_StatisticsInfo> list = loadCount(start, end, project);
    checkDataLengthConsistency(list);
    out = arraySave2Json(consolidateData(list));
}

void ProductstatisticsDatabase::loadHourCount(const QDateTime& start, const QDateTime& end, QJsonObject& out,
                                              const QString& project)
{
    QVector<stru_StatisticsInfo> list = loadCount(start, end, project);
    checkDataLengthConsistency(list);
    out = arraySave2Json(list);
}

void ProductstatisticsDatabase::loadDayCount(const QDateTime& start, const QDateTime& end, QJsonObject& out,
                                             const QString& project)
{
    QVector<stru_StatisticsInfo> list = loadCount(QDateTime(start.date(), QTime(0, 0)), end, project);
    checkDataLengthConsistency(list);
    out = arraySave2Json(consolidateDataByDay(list));
}

void ProductstatisticsDatabase::loadMonthCount(const QDateTime& start, const QDateTime& end, QJsonObject& out,
                                               const QString& project)
{
    const QDate d = start.date();
    QVector<stru_StatisticsInfo> list = loadCount(QDateTime(QDate(d.year(), d.month(), 1), QTime(0, 0)), end, project);
    checkDataLengthConsistency(list);
    out = arraySave2Json(consolidateDataByMonth(list));
}

void ProductstatisticsDatabase::loadYearCount(const QDateTime& start, const QDateTime& end, QJsonObject& out,
                                              const QString& project)
{
    QVector<stru_StatisticsInfo> list = loadCount(QDateTime(QDate(start.date().year(), 1, 1), QTime(0, 0)), end, project);
    checkDataLengthConsistency(list);
    out = arraySave2Json(consolidateDataByYear(list));
}
