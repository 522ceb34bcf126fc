#pragma once
// The operator and system record: RECORD.db (table "RECORD": recordtime
// "hh.mm.ss.zzz", recordpassword, remarks, recordtype "operate"/"system") in
// the working directory, and one history file per recorded day,
// "<history>/<yyyy-MM-dd>.db", named after the day the file was started
// (settings key "VCamera_Work/CurRecordFile_Time", epoch seconds).
//
// The first entry of a later day moves RECORD.db into the history. A move
// that cannot be a rename (another file system, or a history file of that
// day already there after an interrupted move) appends the rows to the
// history file and empties RECORD.db in one transaction over both files; a
// move that fails keeps every row and the stamp, and is tried again at the
// next entry. The databases keep SQLite's rollback journal (no WAL), so each
// .db file is complete on its own.
//
// Threads: the hub's thread only (the connection "dbRecord" belongs to it).
#include <QDate>
#include <QSqlDatabase>
#include <QString>

class RecordBook {
public:
    static constexpr int kHistoryKept = 50;

    // `file`: the record database ("RECORD.db"); `emptyFile`: the empty
    // record that replaces it after a move ("RECORDNULL.db"); `historyDir`:
    // the folder of the daily files.
    RecordBook(const QString& file, const QString& emptyFile, const QString& historyDir);
    ~RecordBook();
    RecordBook(const RecordBook&) = delete;
    RecordBook& operator=(const RecordBook&) = delete;

    // Start-up: opens RECORD.db; a file that will not open or whose table
    // lacks one of its four columns is moved aside ("<file>.broken-<time>")
    // and an empty table created; a table that lacks only "recordtype" gains
    // it. False when no usable record could be opened (logged).
    bool openAtStart();
    // Keeps the newest kHistoryKept history files (by name); creates the
    // folder when missing.
    void trimHistory();
    // Appends one entry (rotating first when the day changed) and stores the
    // text as the last record text. `user` is the operator on whose behalf it
    // is written; empty: nobody is logged in ("未登录"). False when the entry
    // could not be written (logged).
    bool insert(const QString& text, const QString& type, const QString& user = QString());
    void close();
    bool isOpen() const;

    QString historyFile(const QDate& day) const;

private:
    bool open();
    bool createTable();
    bool hasAllColumns();
    void setAside(const QString& why);
    bool rotateIfDue();
    bool moveInto(const QString& dest);
    bool appendInto(const QString& dest);
    void startEmptyFile();
    void recoverJournal();

    QString m_file;
    QString m_emptyFile;
    QString m_historyDir;
    QString m_connection;
};
