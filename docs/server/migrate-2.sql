-- Brings a team's journal made by an earlier schema.sql (schema 1) to schema 2. Run once as the
-- owner, with the programs of schema 1 no longer sending (they refuse schema 2 with a message):
--   psql -h SERVER -U torvik7_owner -d torvik7 -f migrate-2.sql
-- Entries already kept get no installer and no arrival time: the server did not note them then.
-- Records already kept are not checked (NOT VALID); the owner may check them with
--   ALTER TABLE records VALIDATE CONSTRAINT records_whole;
-- which fails, naming none, if any record is not kept under its own SHA-256.

BEGIN;

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

-- An installer no longer names the sender or the arrival.
REVOKE INSERT ON entries FROM torvik7_installer;
GRANT INSERT (uuid, time_utc, action, result, result_text, port, line_address, unit_address, account, phone1, source, title, blocks_done, half_written, sha256) ON entries TO torvik7_installer;

COMMIT;
