-- The journal's tables. Run once as the owner, in the team's database:
--   psql -h HOST -U torvik7_owner -d torvik7 -f schema.sql
-- The same entries as an installer's local journal, in the server's own types. The programs
-- check journal_version and refuse, with a message, a schema newer than they know.

CREATE SCHEMA torvik7;

CREATE TABLE torvik7.journal_version (version integer NOT NULL);
INSERT INTO torvik7.journal_version VALUES (1);

CREATE TABLE torvik7.entries (
  id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  uuid         uuid NOT NULL UNIQUE,         -- given by the program: a resent entry is the same entry
  at           timestamptz NOT NULL,         -- when the exchange ended
  action       text NOT NULL CHECK (action IN ('read', 'write', 'unsaved-at-exit')),
  result       integer NOT NULL,
  result_text  text NOT NULL,
  port         text NOT NULL,
  line_address integer,
  unit_address integer,
  account      text NOT NULL,
  source       text NOT NULL,
  title        text NOT NULL,
  blocks_done  integer NOT NULL,
  record       bytea CHECK (record IS NULL OR length(record) = 1800),
  sha256       bytea CHECK (sha256 IS NULL OR length(sha256) = 32),
  installer    text NOT NULL DEFAULT session_user,  -- who sent it, as the server knows them
  received     timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX entries_account_at ON torvik7.entries (account, at DESC);
CREATE INDEX entries_at ON torvik7.entries (at DESC);

GRANT USAGE ON SCHEMA torvik7 TO torvik7_installer;
GRANT SELECT ON torvik7.journal_version TO torvik7_installer;
GRANT SELECT, INSERT ON torvik7.entries TO torvik7_installer;
