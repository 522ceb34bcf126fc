#include "statistics/statisticssimple.h"

#include "foundation/logmanager.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

namespace {
StatisticsSimple* g_instance = nullptr;
QMutex g_instanceMutex;
}  // namespace

StatisticsSimple* StatisticsSimple::getInstance()
{
    QMutexLocker lock(&g_instanceMutex);
    if (!g_instance)
        g_instance = new StatisticsSimple();
    return g_instance;
}

void StatisticsSimple::releaseInstance()
{
    QMutexLocker lock(&g_instanceMutex);
    delete g_instance;
    g_instance = nullptr;
}

StatisticsSimple::StatisticsSimple() : m_path(QStringLiteral("./workspace/") + QStringLiteral("simple_total.json"))
{
    loadFromFile();
    connect(&m_timer, &QTimer::timeout, this, &StatisticsSimple::saveToFile);
    m_timer.start(30000);
}

StatisticsSimple::~StatisticsSimple() { saveToFile(); }

void StatisticsSimple::incrementTotal(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    ++m_map[key].total;
    ++m_changes;
}

void StatisticsSimple::incrementNG(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    ++m_map[key].ng;
    ++m_changes;
}

SStatisticsSimple StatisticsSimple::getStatistics(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_map.value(key);
}

QMap<QString, SStatisticsSimple> StatisticsSimple::getAllStatistics() const
{
    QMutexLocker lock(&m_mutex);
    return m_map;
}

void StatisticsSimple::clearAllStatistics()
{
    {
        QMutexLocker lock(&m_mutex);
        m_map.clear();
        ++m_changes;
    }
    // Saved outside the lock: the save takes it again to copy the totals.
    saveToFile();
}

void StatisticsSimple::loadFromFile()
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (doc.isObject()) {
        variantMapToStatistics(jsonToVariantMap(doc.object()));
        QMutexLocker lock(&m_mutex);
        m_saved = m_changes;  // what was loaded is on file already
    } else {
        qCWarning(level_1).noquote() << "simple totals file is not a JSON object, ignored:" << m_path;
    }
}

bool StatisticsSimple::saveToFile()
{
    quint64 changes = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (m_changes == m_saved)
            return true;
        changes = m_changes;
    }
    const QVariantMap snapshot = statisticsToVariantMap();
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(level_1).noquote() << "simple totals not saved:" << m_path << file.errorString();
        return false;
    }
    file.write(QJsonDocument(variantMapToJson(snapshot)).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        qCWarning(level_1).noquote() << "simple totals not saved:" << m_path << file.errorString();
        return false;
    }
    QMutexLocker lock(&m_mutex);
    // Changes made while writing are in a later save (the snapshot was taken
    // after `changes` was read, so it holds at least those).
    if (m_saved < changes)
        m_saved = changes;
    return true;
}

QJsonObject StatisticsSimple::variantMapToJson(const QVariantMap& map) const
{
    QJsonObject obj;
    for (auto it = map.begin(); it != map.end(); ++it) {
        if (it.value().type() == QVariant::Map)
            obj.insert(it.key(), variantMapToJson(it.value().toMap()));
        else
            obj.insert(it.key(), QJsonValue::fromVariant(it.value()));
    }
    return obj;
}

QVariantMap StatisticsSimple::jsonToVariantMap(const QJsonObject& obj) const
{
    QVariantMap map;
    for (auto it = obj.begin(); it != obj.end(); ++it) {
        if (it.value().isObject())
            map.insert(it.key(), jsonToVariantMap(it.value().toObject()));
        else
            map.insert(it.key(), it.value().toVariant());
    }
    return map;
}

QVariantMap StatisticsSimple::statisticsToVariantMap() const
{
    QMutexLocker lock(&m_mutex);
    QVariantMap out;
    for (auto it = m_map.begin(); it != m_map.end(); ++it)
        out.insert(it.key(), QVariantMap{{QStringLiteral("total"), it->total}, {QStringLiteral("ng"), it->ng}});
    return out;
}

void StatisticsSimple::variantMapToStatistics(const QVariantMap& map)
{
    QMutexLocker lock(&m_mutex);
    m_map.clear();
    for (auto it = map.begin(); it != map.end(); ++it) {
        const QVariantMap v = it.value().toMap();
        m_map[it.key()] = SStatisticsSimple{v.value(QStringLiteral("total")).toInt(), v.value(QStringLiteral("ng")).toInt()};
    }
    ++m_changes;
}
