-- The empty operator and system record that replaces RECORD.db after each
-- daily move into the record history. Build with:
-- sqlite3 RECORDNULL.db < RECORDNULL.sql
CREATE TABLE IF NOT EXISTS RECORD (recordtime VARCHAR(255), recordpassword VARCHAR(255), remarks VARCHAR(1024), recordtype TEXT);
