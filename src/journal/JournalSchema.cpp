#include "journal/JournalSchema.h"

namespace {

// Each step is applied once, in order, inside one transaction with the version it leads to.
// A step is never changed once released: a new column is a new step.
const std::vector<QStringList>& Steps() {
    static const std::vector<QStringList> steps = {
        // 1: entries, the records they keep, and the recovery slot. Times are milliseconds
        // since 1970 UTC. A record is kept once by its SHA-256 however many entries name
        // it (a device read again and again), and apart from the entries, so listing them
        // reads no records.
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
        },
    };
    return steps;
}

} // namespace

JournalDialect DialectFor(const QString& driver) {
    if (driver == QLatin1String("QPSQL"))
        return {driver, "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "BYTEA",
                "BEGIN ISOLATION LEVEL SERIALIZABLE"};
    return {QStringLiteral("QSQLITE"), "INTEGER PRIMARY KEY AUTOINCREMENT", "BLOB",
            "BEGIN IMMEDIATE"};
}

int JournalSchemaVersion() {
    return static_cast<int>(Steps().size());
}

QStringList JournalMigration(int to, const JournalDialect& dialect) {
    QStringList out;
    if (to < 1 || to > JournalSchemaVersion()) return out;
    for (QString statement : Steps()[static_cast<std::size_t>(to - 1)]) {
        statement.replace(QLatin1String("{ID}"), dialect.idColumn);
        statement.replace(QLatin1String("{BLOB}"), dialect.blobType);
        out << statement;
    }
    return out;
}
