// The journal's tables, written once for every database the journal can live in: the
// statements are plain SQL with a few type words filled in per driver, and every value
// goes in bound, never written into the text.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// What differs between the databases the journal runs on.
struct JournalDialect {
    QString driver;      // Qt SQL driver name
    QString idColumn;    // an integer key the database numbers itself
    QString blobType;    // bytes of any length
    QString beginWrite;  // starts a transaction that writes (takes the write lock at once)
    bool server = false; // a team's server, which keeps what only a server can vouch for
};

// The dialect for a Qt SQL driver name; SQLite's for any other.
JournalDialect DialectFor(const QString& driver);

// The schema's version after all migrations.
int JournalSchemaVersion();

// The statements that take the schema from version `from` - 1 to `from`, with the dialect's
// words filled in. Versions count from 1. A step may hold statements for a team's server only
// (the evidence it keeps of who sent what, and when) or for a laptop only (what it sent where).
QStringList JournalMigration(int to, const JournalDialect& dialect);

// docs/server/schema.sql, word for word: the administrator's setup of a team's server, made of
// the same steps in PostgreSQL's words, with what each role may do.
QString JournalServerScript();
