-- Roles and database of a team's ТОРВИК-7 exchange journal.
-- Run once, as a superuser, on the server:  psql -U postgres -f roles.sql
-- then give the owner a password:           psql -U postgres -c '\password torvik7_owner'
-- and create each installer's login:        CREATE ROLE ivanov LOGIN IN ROLE torvik7_installer;
--                                           \password ivanov

-- Owns the schema and is the only role that may change its tables (migrations, pruning) or
-- change and delete a row.
CREATE ROLE torvik7_owner LOGIN;

-- Installers log in as members of this group: they may add entries and the records they name,
-- and read them; never change or delete one, never name who sent an entry or when it arrived
-- (the server notes both itself), and never keep a record under any SHA-256 but its own
-- (schema.sql grants and checks each), so a journal entry is evidence of what was written into
-- a device and by whom.
CREATE ROLE torvik7_installer NOLOGIN;

CREATE DATABASE torvik7 OWNER torvik7_owner ENCODING 'UTF8' TEMPLATE template0;
REVOKE ALL ON DATABASE torvik7 FROM PUBLIC;
GRANT CONNECT ON DATABASE torvik7 TO torvik7_installer;
