#pragma once
// Tidying of the log folders left by earlier runs, done once at start-up
// before the log back end opens its own files.
//
// Folder written by the back end (one log per severity, "LOG_<yyyyMMdd-hhmmss>.<...>.log",
// plus one symbolic link per severity named "<program>.<SEVERITY>"): the full
// INFO log of each earlier run is kept as "<n>_LOG_<yyyyMMdd_hhmmss>.txt", or
// "<n>_ERROR_..." when that run wrote an ERROR record; n counts from 1 for the
// oldest, and only the newest `keep` are kept.
//
// Folder of captured standard output: "log.txt" stays; every other file becomes
// "<n>_log.txt" and only the newest ones are kept so that, with "log.txt",
// at most `keep` files remain.
//
// Both functions only move and delete files directly inside `dir`; a file that
// cannot be moved or deleted stays as it is.
#include <QString>

namespace logfiletidy {

void tidyBackendLogs(const QString& dir, int keep);
void tidyStdoutLogs(const QString& dir, int keep);

}  // namespace logfiletidy
