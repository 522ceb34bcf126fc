#include "foundation/sqlitetools.h"
#include "foundation/logmanager.h"

#include <QDebug>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// A bare SQL identifier: what the callers pass ("RECORD", "recordtype", ...).
bool isIdentifier(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return re.match(name).hasMatch();
}

// A column type such as "TEXT", "INTEGER" or "VARCHAR(64)".
bool isColumnType(const QString& type)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z][A-Za-z0-9_ ]*(\\([0-9, ]*\\))?$"));
    return re.match(type).hasMatch();
}

bool namesUsable(const char* what, const QString& table, const QString& column = QStringLiteral("x"))
{
    if (isIdentifier(table) && isIdentifier(column))
        return true;
    qCWarning(level_1) << what << "refused: not a plain table or column name:" << table << column;
    return false;
}

}  // namespace

bool tableExists(QSqlDatabase& db, const QString& table)
{
    QSqlQuery query(db);
    if (!query.prepare(QStringLiteral(
            "SELECT name FROM sqlite_master WHERE type='table' AND name=:tableName;")))
        return false;
    query.bindValue(QStringLiteral(":tableName"), table);
    return query.exec() && query.next();
}

bool recordExist(QSqlDatabase& db, const QString& table, QString column, QString value)
{
    if (!namesUsable("recordExist", table, column))
        return false;
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 = :rowName").arg(table, column));
    query.bindValue(QStringLiteral(":rowName"), value);
    if (!query.exec()) {
        qDebug() << "Error checking record:" << query.lastError();
        return false;
    }
    if (!query.next())
        return false;
    return query.value(0).toInt() != 0;
}

bool columnExists(QSqlDatabase& db, const QString& table, const QString& column)
{
    if (!namesUsable("columnExists", table))
        return false;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1);").arg(table))) {
        qCWarning(level_1) << "Failed to get table info:" << query.lastError().text();
        return false;
    }
    while (query.next()) {
        if (query.value(1).toString() == column)
            return true;
    }
    return false;
}

bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column,
                          const QString& type)
{
    if (!namesUsable("addColumnIfNotExists", table, column))
        return false;
    if (!isColumnType(type)) {
        qCWarning(level_1) << "addColumnIfNotExists refused: not a column type:" << type;
        return false;
    }
    if (columnExists(db, table, column)) {
        qInfo() << "Column" << column << "already exists in table" << table;
        return false;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3;").arg(table, column, type))) {
        qCWarning(level_1) << "Failed to add column:" << query.lastError().text();
        return false;
    }
    qInfo() << "Column" << column << "added to table" << table;
    return true;
}
