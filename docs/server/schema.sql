-- The journal's tables. Run once as the owner, in the team's database:
--   psql -h SERVER -U torvik7_owner -d torvik7 -f schema.sql
-- The same tables, made by the same migration steps, as each installer's local journal, in
-- PostgreSQL's words (BYTEA, an identity key); times are milliseconds since 1970 UTC there and
-- here. The programs read schema_version and refuse, with a message, a schema they do not know.
-- The programs' own steps write this file, and a test holds it to them byte for byte. A server
-- made by an earlier schema.sql is brought here by migrate-2.sql.
-- The tables live in the database's public schema, which in PostgreSQL 15 only the database's
-- owner may create in.

BEGIN;

CREATE TABLE schema_version (version INTEGER NOT NULL);

-- Step 1: entries, the records they keep, and a laptop's recovery slot.
CREATE TABLE records ( sha256 VARCHAR(64) NOT NULL PRIMARY KEY, record BYTEA NOT NULL);
CREATE TABLE entries ( id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY, uuid VARCHAR(36) NOT NULL UNIQUE, time_utc BIGINT NOT NULL, action VARCHAR(20) NOT NULL, result INTEGER NOT NULL, result_text VARCHAR(200) NOT NULL, port VARCHAR(400) NOT NULL, line_address INTEGER NOT NULL, unit_address INTEGER NOT NULL, account VARCHAR(8) NOT NULL, phone1 VARCHAR(20) NOT NULL, source VARCHAR(16) NOT NULL, title VARCHAR(400) NOT NULL, blocks_done INTEGER NOT NULL, half_written INTEGER NOT NULL, sha256 VARCHAR(64));
CREATE INDEX entries_time ON entries (time_utc);
CREATE INDEX entries_account ON entries (account, time_utc);
CREATE TABLE recovery ( slot INTEGER NOT NULL PRIMARY KEY, time_utc BIGINT NOT NULL, port VARCHAR(400) NOT NULL, line_address INTEGER NOT NULL, unit_address INTEGER NOT NULL, title VARCHAR(400) NOT NULL, record BYTEA NOT NULL, sha256 VARCHAR(64) NOT NULL);

-- Step 2: the server is evidence. Texts whole; who sent each entry and when it arrived, noted
-- by the server itself; a record only under its own SHA-256; no entry dated after its arrival.
ALTER TABLE entries ALTER COLUMN result_text TYPE TEXT, ALTER COLUMN port TYPE TEXT, ALTER COLUMN title TYPE TEXT;
ALTER TABLE recovery ALTER COLUMN port TYPE TEXT, ALTER COLUMN title TYPE TEXT;
ALTER TABLE entries ADD COLUMN installer TEXT;
ALTER TABLE entries ALTER COLUMN installer SET DEFAULT session_user;
ALTER TABLE entries ADD COLUMN received_at TIMESTAMPTZ;
ALTER TABLE entries ALTER COLUMN received_at SET DEFAULT now();
ALTER TABLE entries ADD CONSTRAINT entries_not_after_arrival CHECK (time_utc <= extract(epoch FROM received_at) * 1000 + 300000);
ALTER TABLE entries ADD CONSTRAINT entries_uuid_form CHECK (uuid ~ '^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$') NOT VALID;
ALTER TABLE records ADD CONSTRAINT records_whole CHECK (length(record) = 1800 AND sha256 = encode(sha256(record), 'hex')) NOT VALID;

INSERT INTO schema_version (version) VALUES (2);

-- What each role may do. The owner (torvik7_owner) makes and migrates the tables and alone may
-- change or delete a row. An installer (a member of torvik7_installer) reads the journal and
-- adds entries and the records they name, but names neither the sender nor the arrival (the
-- server fills them in: installer, received_at), never changes or deletes a row, and never
-- sees the recovery slot, which is a laptop's own business.
GRANT SELECT ON schema_version TO torvik7_installer;
GRANT SELECT ON entries TO torvik7_installer;
GRANT INSERT (uuid, time_utc, action, result, result_text, port, line_address, unit_address, account, phone1, source, title, blocks_done, half_written, sha256) ON entries TO torvik7_installer;
GRANT SELECT, INSERT ON records TO torvik7_installer;

COMMIT;
