#include "journal/JournalSchema.h"

#include "journal/JournalStore.h"

namespace {

// Each step is applied once, in order, inside one transaction with the version it leads to.
// A step is never changed once released: a new column is a new step.
struct Step {
    const char* title; // what the server's setup script says of it
    QStringList statements;
};

const std::vector<Step>& Steps() {
    static const std::vector<Step> steps = {
        // 1: entries, the records they keep, and the recovery slot. Times are milliseconds
        // since 1970 UTC. A record is kept once by its SHA-256 however many entries name
        // it (a device read again and again), and apart from the entries, so listing them
        // reads no records.
        {"entries, the records they keep, and a laptop's recovery slot.",
         {
             "CREATE TABLE records ("
             " sha256 VARCHAR(64) NOT NULL PRIMARY KEY,"
             " record {BLOB} NOT NULL)",
             "CREATE TABLE entries ("
             " id {ID},"
             " uuid VARCHAR(36) NOT NULL UNIQUE,"
             " time_utc BIGINT NOT NULL,"
             " action VARCHAR(20) NOT NULL,"
             " result INTEGER NOT NULL,"
             " result_text VARCHAR(200) NOT NULL,"
             " port VARCHAR(400) NOT NULL,"
             " line_address INTEGER NOT NULL,"
             " unit_address INTEGER NOT NULL,"
             " account VARCHAR(8) NOT NULL,"
             " phone1 VARCHAR(20) NOT NULL,"
             " source VARCHAR(16) NOT NULL,"
             " title VARCHAR(400) NOT NULL,"
             " blocks_done INTEGER NOT NULL,"
             " half_written INTEGER NOT NULL,"
             " sha256 VARCHAR(64))",
             "CREATE INDEX entries_time ON entries (time_utc)",
             "CREATE INDEX entries_account ON entries (account, time_utc)",
             "CREATE TABLE recovery ("
             " slot INTEGER NOT NULL PRIMARY KEY,"
             " time_utc BIGINT NOT NULL,"
             " port VARCHAR(400) NOT NULL,"
             " line_address INTEGER NOT NULL,"
             " unit_address INTEGER NOT NULL,"
             " title VARCHAR(400) NOT NULL,"
             " record {BLOB} NOT NULL,"
             " sha256 VARCHAR(64) NOT NULL)",
         }},
        // 2: a server that is evidence. Texts are kept whole, however long a port's path or a
        // window's title. The server itself notes who sent each entry and when it arrived;
        // installers may name neither (their rights leave those columns out), rows from before
        // this step have neither. A record is kept only under its own SHA-256, so no one can
        // put junk where another installer's record will go. An entry cannot be dated after
        // its arrival (five minutes allowed for a laptop's clock). A laptop notes per server
        // what it sent and what a server refused, and why (what it sent was a table a laptop
        // of step 1 made for itself at its first push: it may be there already).
        {"the server is evidence. Texts whole; who sent each entry and when it arrived, noted\n"
         "by the server itself; a record only under its own SHA-256; no entry dated after its "
         "arrival.",
         {
             "{SERVER}ALTER TABLE entries ALTER COLUMN result_text TYPE TEXT,"
             " ALTER COLUMN port TYPE TEXT, ALTER COLUMN title TYPE TEXT",
             "{SERVER}ALTER TABLE recovery ALTER COLUMN port TYPE TEXT,"
             " ALTER COLUMN title TYPE TEXT",
             "{SERVER}ALTER TABLE entries ADD COLUMN installer TEXT",
             "{SERVER}ALTER TABLE entries ALTER COLUMN installer SET DEFAULT session_user",
             "{SERVER}ALTER TABLE entries ADD COLUMN received_at TIMESTAMPTZ",
             "{SERVER}ALTER TABLE entries ALTER COLUMN received_at SET DEFAULT now()",
             "{SERVER}ALTER TABLE entries ADD CONSTRAINT entries_not_after_arrival"
             " CHECK (time_utc <= extract(epoch FROM received_at) * 1000 + 300000)",
             "{SERVER}ALTER TABLE entries ADD CONSTRAINT entries_uuid_form"
             " CHECK (uuid ~ '^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$')"
             " NOT VALID",
             "{SERVER}ALTER TABLE records ADD CONSTRAINT records_whole"
             " CHECK (length(record) = 1800 AND sha256 = encode(sha256(record), 'hex')) NOT VALID",
             "{LOCAL}CREATE TABLE IF NOT EXISTS server_sent ("
             " server VARCHAR(400) NOT NULL,"
             " uuid VARCHAR(36) NOT NULL,"
             " PRIMARY KEY (server, uuid))",
             "{LOCAL}CREATE TABLE server_refused ("
             " server TEXT NOT NULL,"
             " uuid TEXT NOT NULL,"
             " reason TEXT NOT NULL,"
             " PRIMARY KEY (server, uuid))",
         }},
    };
    return steps;
}

} // namespace

JournalDialect DialectFor(const QString& driver) {
    if (driver == QLatin1String("QPSQL"))
        return {driver, "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "BYTEA",
                "BEGIN ISOLATION LEVEL SERIALIZABLE", true};
    return {QStringLiteral("QSQLITE"), "INTEGER PRIMARY KEY AUTOINCREMENT", "BLOB",
            "BEGIN IMMEDIATE", false};
}

int JournalSchemaVersion() {
    return static_cast<int>(Steps().size());
}

QStringList JournalMigration(int to, const JournalDialect& dialect) {
    QStringList out;
    if (to < 1 || to > JournalSchemaVersion()) return out;
    const QLatin1String serverOnly("{SERVER}"), localOnly("{LOCAL}");
    for (QString statement : Steps()[static_cast<std::size_t>(to - 1)].statements) {
        if (statement.startsWith(serverOnly)) {
            if (!dialect.server) continue;
            statement.remove(0, serverOnly.size());
        } else if (statement.startsWith(localOnly)) {
            if (dialect.server) continue;
            statement.remove(0, localOnly.size());
        }
        statement.replace(QLatin1String("{ID}"), dialect.idColumn);
        statement.replace(QLatin1String("{BLOB}"), dialect.blobType);
        out << statement;
    }
    return out;
}

QString JournalServerScript() {
    QString out = QStringLiteral(
        "-- The journal's tables. Run once as the owner, in the team's database:\n"
        "--   psql -h SERVER -U torvik7_owner -d torvik7 -f schema.sql\n"
        "-- The same tables, made by the same migration steps, as each installer's local "
        "journal, in\n"
        "-- PostgreSQL's words (BYTEA, an identity key); times are milliseconds since 1970 UTC "
        "there and\n"
        "-- here. The programs read schema_version and refuse, with a message, a schema they do "
        "not know.\n"
        "-- The programs' own steps write this file, and a test holds it to them byte for byte. "
        "A server\n"
        "-- made by an earlier schema.sql is brought here by migrate-2.sql.\n"
        "-- The tables live in the database's public schema, which in PostgreSQL 15 only the "
        "database's\n"
        "-- owner may create in.\n"
        "\n"
        "BEGIN;\n"
        "\n"
        "CREATE TABLE schema_version (version INTEGER NOT NULL);\n");
    const JournalDialect dialect = DialectFor(QStringLiteral("QPSQL"));
    for (int to = 1; to <= JournalSchemaVersion(); ++to) {
        out += QStringLiteral("\n-- Step %1: ").arg(to);
        out += QString::fromUtf8(Steps()[static_cast<std::size_t>(to - 1)].title)
                   .replace(QLatin1Char('\n'), QLatin1String("\n-- "));
        out += QLatin1Char('\n');
        for (const QString& statement : JournalMigration(to, dialect))
            out += statement + QStringLiteral(";\n");
    }
    out += QStringLiteral("\nINSERT INTO schema_version (version) VALUES (%1);\n")
               .arg(JournalSchemaVersion());
    out += QStringLiteral(
        "\n"
        "-- What each role may do. The owner (torvik7_owner) makes and migrates the tables and "
        "alone may\n"
        "-- change or delete a row. An installer (a member of torvik7_installer) reads the "
        "journal and\n"
        "-- adds entries and the records they name, but names neither the sender nor the arrival "
        "(the\n"
        "-- server fills them in: installer, received_at), never changes or deletes a row, and "
        "never\n"
        "-- sees the recovery slot, which is a laptop's own business.\n"
        "GRANT SELECT ON schema_version TO torvik7_installer;\n"
        "GRANT SELECT ON entries TO torvik7_installer;\n");
    // Exactly the columns the programs add an entry with.
    out += QStringLiteral("GRANT INSERT (%1) ON entries TO torvik7_installer;\n")
               .arg(QString::fromLatin1(JournalStore::InsertColumns()));
    out += QStringLiteral("GRANT SELECT, INSERT ON records TO torvik7_installer;\n"
                          "\n"
                          "COMMIT;\n");
    return out;
}
