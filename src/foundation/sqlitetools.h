#pragma once
// Schema and row questions about an open SQLite connection, and adding a
// column that a database written by an older program version lacks.
//
// Each call builds its own query on the connection it is given; call it on
// the thread that uses that connection, as Qt requires. Table and column
// names are put into the SQL text, so only plain identifiers are accepted
// (anything else is refused with a warning); values are always bound.
#include <QSqlDatabase>
#include <QString>

// True when a table (not a view or index) of that name exists.
bool tableExists(QSqlDatabase& db, const QString& table);

// True when at least one row of `table` has `value` in `column`. False for
// no such row and for an SQL error (the error is logged at debug level).
bool recordExist(QSqlDatabase& db, const QString& table, QString column, QString value);

// True when `table` has a column named exactly `column` (case-sensitive).
bool columnExists(QSqlDatabase& db, const QString& table, const QString& column);

// Adds `column` of `type` to `table` unless it exists; true only when this
// call added it.
bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column,
                          const QString& type);
