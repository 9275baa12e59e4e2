-- The journal's tables. Run once as the owner, in the team's database:
--   psql -h SERVER -U torvik7_owner -d torvik7 -f schema.sql
-- The same tables, made by the same migration steps, as each installer's local journal, in
-- PostgreSQL's words (BYTEA, an identity key); times are milliseconds since 1970 UTC there and
-- here. The programs read schema_version and refuse, with a message, a schema they do not know.
-- A test checks this file against the programs' own steps.
-- The tables live in the database's public schema, which in PostgreSQL 15 only the database's
-- owner may create in.

BEGIN;

CREATE TABLE schema_version (version INTEGER NOT NULL);

CREATE TABLE records ( sha256 VARCHAR(64) NOT NULL PRIMARY KEY, record BYTEA NOT NULL);
CREATE TABLE entries ( id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, uuid VARCHAR(36) NOT NULL UNIQUE, time_utc BIGINT NOT NULL, action VARCHAR(20) NOT NULL, result INTEGER NOT NULL, result_text VARCHAR(200) NOT NULL, port VARCHAR(400) NOT NULL, line_address INTEGER NOT NULL, unit_address INTEGER NOT NULL, account VARCHAR(8) NOT NULL, phone1 VARCHAR(20) NOT NULL, source VARCHAR(16) NOT NULL, title VARCHAR(400) NOT NULL, blocks_done INTEGER NOT NULL, half_written INTEGER NOT NULL, sha256 VARCHAR(64));
CREATE INDEX entries_time ON entries (time_utc);
CREATE INDEX entries_account ON entries (account, time_utc);
CREATE TABLE recovery ( slot INTEGER NOT NULL PRIMARY KEY, time_utc BIGINT NOT NULL, port VARCHAR(400) NOT NULL, line_address INTEGER NOT NULL, unit_address INTEGER NOT NULL, title VARCHAR(400) NOT NULL, record BYTEA NOT NULL, sha256 VARCHAR(64) NOT NULL);
INSERT INTO schema_version (version) VALUES (1);

-- Installers add entries and the records they name, and read them; they can neither change nor
-- delete one, and the recovery slot is a laptop's own business.
GRANT SELECT ON schema_version TO torvik7_installer;
GRANT SELECT, INSERT ON entries TO torvik7_installer;
GRANT SELECT, INSERT ON records TO torvik7_installer;

COMMIT;
