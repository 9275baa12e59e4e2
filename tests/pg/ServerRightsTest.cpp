// The roles docs/server/*.sql gives a team: an installer adds and reads entries but can neither
// change nor delete one; a login outside the installer group cannot even read them.
#include "journal/JournalSchema.h"
#include "support/PgServer.h"

#include <QRegularExpression>

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>

namespace {

QSqlDatabase Connect(const PgServer& server, PgServer::Role role) {
    const QUrl url(server.Url(role));
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QUuid::createUuid().toString());
    db.setHostName(url.host());
    db.setPort(url.port());
    db.setUserName(url.userName());
    db.setDatabaseName(url.path().mid(1));
    db.setConnectOptions(QStringLiteral("connect_timeout=5;sslmode=disable"));
    EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
    return db;
}

QString InsertSql(const QString& account) {
    return QStringLiteral("INSERT INTO entries (uuid, time_utc, action, result, result_text, port,"
                          " line_address, unit_address, account, phone1, source, title,"
                          " blocks_done, half_written) VALUES ('%1', 0, 'read', 0, '', 'COM1', 0,"
                          " 0, '%2', '', 'torvik7ctl', '', 512, 0)")
        .arg(QUuid::createUuid().toString(QUuid::WithoutBraces), account);
}

struct RightsCase {
    const char* name;
    PgServer::Role role;
    const char* sql; // %1: an entry's account, already inserted by the owner
    bool allowed;
};

const RightsCase kCases[] = {
    {"installer reads", PgServer::Installer, "SELECT count(*) FROM entries WHERE account = '%1'",
     true},
    {"installer reads the schema version", PgServer::Installer,
     "SELECT version FROM schema_version", true},
    {"installer reads the recovery slot", PgServer::Installer, "SELECT * FROM recovery", false},
    {"installer changes a kept record", PgServer::Installer, "UPDATE records SET record = ''",
     false},
    {"installer deletes kept records", PgServer::Installer, "DELETE FROM records", false},
    {"installer changes an entry", PgServer::Installer,
     "UPDATE entries SET port = 'COM2' WHERE account = '%1'", false},
    {"installer deletes an entry", PgServer::Installer, "DELETE FROM entries WHERE account = '%1'",
     false},
    {"installer empties the table", PgServer::Installer, "TRUNCATE entries", false},
    {"installer changes the schema version", PgServer::Installer,
     "UPDATE schema_version SET version = 99", false},
    {"login without rights reads", PgServer::NoRights,
     "SELECT count(*) FROM entries WHERE account = '%1'", false},
};

TEST(ServerRights, InstallerAddsAndReadsButNeverChangesOrDeletes) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const QString account = PgServer::FreshAccount();
    {
        QSqlDatabase owner = Connect(server, PgServer::Owner);
        QSqlQuery q(owner);
        ASSERT_TRUE(q.exec(InsertSql(account))) << q.lastError().text().toStdString();
    }
    for (PgServer::Role role : {PgServer::Installer, PgServer::Installer2, PgServer::NoRights}) {
        QSqlDatabase db = Connect(server, role);
        QSqlQuery q(db);
        EXPECT_EQ(q.exec(InsertSql(account)), role != PgServer::NoRights) << role;
    }
    for (const RightsCase& c : kCases) {
        SCOPED_TRACE(c.name);
        QSqlDatabase db = Connect(server, c.role);
        QSqlQuery q(db);
        const bool ok = q.exec(QString::fromUtf8(c.sql).arg(account));
        EXPECT_EQ(ok, c.allowed) << q.lastError().text().toStdString();
        if (!c.allowed) { // refused for want of rights, not for a typing error in the statement
            EXPECT_EQ(q.lastError().nativeErrorCode(), QStringLiteral("42501"));
        }
    }
    QSqlDatabase owner = Connect(server, PgServer::Owner);
    QSqlQuery count(owner);
    ASSERT_TRUE(count.exec(QStringLiteral("SELECT count(*) FROM entries WHERE account = '%1'"
                                          " AND port = 'COM1'")
                               .arg(account)));
    ASSERT_TRUE(count.next());
    EXPECT_EQ(count.value(0).toInt(), 3); // the owner's and the two installers', all unchanged
}

// An administrator makes the server's tables with docs/server/schema.sql; the programs make the
// local ones with their migration steps. Both must stay the same tables.
TEST(ServerRights, SetupScriptHoldsTheProgramsOwnMigrationSteps) {
    QFile file(QStringLiteral(TORVIK7_PG_SOURCE "/docs/server/schema.sql"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QStringList statements;
    for (QString statement : QString::fromUtf8(file.readAll())
                                 .remove(QRegularExpression(QStringLiteral("--[^\\n]*")))
                                 .split(';')) {
        statement = statement.simplified();
        if (!statement.isEmpty()) statements << statement;
    }
    const JournalDialect dialect = DialectFor(QStringLiteral("QPSQL"));
    for (int to = 1; to <= JournalSchemaVersion(); ++to)
        for (const QString& step : JournalMigration(to, dialect))
            EXPECT_TRUE(statements.contains(step.simplified())) << step.toStdString();
    EXPECT_TRUE(
        statements.contains(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)")
                                .arg(JournalSchemaVersion())));
}

} // namespace
