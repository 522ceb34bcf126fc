-- The factory parameter database of the project group "default": the
-- process-parameter table, empty, so that the first start imports or
-- defaults its parameters. Build with: sqlite3 PARAM.db < PARAM.sql
CREATE TABLE sysparam (name TEXT, value TEXT);
