// The roles docs/server/*.sql gives a team: an installer adds and reads entries but can neither
// change nor delete one; a login outside the installer group cannot even read them.
#include "journal/JournalSchema.h"
#include "support/PgServer.h"

#include <QRegularExpression>

#include <QFile>
#include <QFileInfo>
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

// The statements of an SQL file, comments and transaction brackets left out.
QStringList Statements(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QStringList out;
    for (QString statement : QString::fromUtf8(file.readAll())
                                 .remove(QRegularExpression(QStringLiteral("--[^\\n]*")))
                                 .split(';')) {
        statement = statement.simplified();
        if (!statement.isEmpty() && statement != QLatin1String("BEGIN") &&
            statement != QLatin1String("COMMIT"))
            out << statement;
    }
    return out;
}

// An administrator makes the server's tables with docs/server/schema.sql; the programs make the
// local ones with their migration steps. The file is theirs, word for word.
TEST(ServerRights, SetupScriptIsTheProgramsOwnWordForWord) {
    QFile file(QStringLiteral(TORVIK7_PG_SOURCE "/docs/server/schema.sql"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray expected = JournalServerScript().toUtf8();
    if (file.readAll() != expected) {
        QFile made(QStringLiteral("schema.sql"));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly) && made.write(expected) == expected.size());
        ADD_FAILURE() << "docs/server/schema.sql differs from the programs' steps; theirs is in "
                      << QFileInfo(made).absoluteFilePath().toStdString();
    }
}

// What an installer's login might try to make the team's journal say what never happened. The
// server refuses each: for want of rights (42501) or by a rule of its tables (23514).
struct ForgeryCase {
    const char* name;
    // {E} an entry's columns, {V} their values, {F} the same dated an hour ahead, {B} with a
    // UUID that is none; then %1 a fresh UUID, %2 an account
    const char* sql;
    const char* code;
};

const char kEntryColumns[] = "uuid, time_utc, action, result, result_text, port, line_address,"
                             " unit_address, account, phone1, source, title, blocks_done,"
                             " half_written";
const char kEntryValues[] = "'%1', 0, 'read', 0, '', 'COM1', 0, 0, '%2', '', 'torvik7ctl', '',"
                            " 512, 0";

const ForgeryCase kForgeries[] = {
    {"junk kept under another record's SHA-256",
     "INSERT INTO records (sha256, record) VALUES (encode(sha256(decode(repeat('07', 1800),"
     " 'hex')), 'hex'), decode(repeat('00', 1800), 'hex'))",
     "23514"},
    {"a record of the wrong length under its own SHA-256",
     "INSERT INTO records (sha256, record) VALUES (encode(sha256('\\x00'::bytea), 'hex'),"
     " '\\x00'::bytea)",
     "23514"},
    {"an entry naming another sender",
     "INSERT INTO entries ({E}, installer) VALUES ({V}, 'petrov')", "42501"},
    {"an entry naming its own arrival",
     "INSERT INTO entries ({E}, received_at) VALUES ({V}, now() - interval '1 year')", "42501"},
    {"an entry with a number of its choosing",
     "INSERT INTO entries (id, {E}) OVERRIDING SYSTEM VALUE VALUES (1, {V})", "42501"},
    {"an entry dated after its arrival", "INSERT INTO entries ({E}) VALUES ({F})", "23514"},
    {"an entry whose UUID is no UUID", "INSERT INTO entries ({E}) VALUES ({B})", "23514"},
};

TEST(ServerRights, AnInstallersForgeriesAreRefusedAndTheServerNamesTheSender) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    const QString account = PgServer::FreshAccount();
    QSqlDatabase db = Connect(server, PgServer::Installer);
    const QString values = QString::fromLatin1(kEntryValues);
    QString future = values;
    future.replace(QStringLiteral("'%1', 0,"),
                   QStringLiteral("'%1', (extract(epoch FROM now()) * 1000)::bigint + 3600000,"));
    QString badUuid = values;
    badUuid.replace(QStringLiteral("'%1'"), QStringLiteral("upper('%1')"));
    for (const ForgeryCase& c : kForgeries) {
        SCOPED_TRACE(c.name);
        QString sql = QString::fromUtf8(c.sql);
        sql.replace(QStringLiteral("{E}"), QString::fromLatin1(kEntryColumns))
            .replace(QStringLiteral("{V}"), values)
            .replace(QStringLiteral("{F}"), future)
            .replace(QStringLiteral("{B}"), badUuid);
        sql = sql.arg(QUuid::createUuid().toString(QUuid::WithoutBraces), account);
        QSqlQuery q(db);
        EXPECT_FALSE(q.exec(sql)) << sql.toStdString();
        EXPECT_EQ(q.lastError().nativeErrorCode(), QString::fromLatin1(c.code))
            << q.lastError().text().toStdString();
    }
    // Nothing of the above was kept; an honest entry is, under the sender's own name.
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO entries (%1) VALUES (%2)")
                           .arg(QString::fromLatin1(kEntryColumns), values)
                           .arg(QUuid::createUuid().toString(QUuid::WithoutBraces), account)))
        << q.lastError().text().toStdString();
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*), min(installer), min(received_at) > now() -"
                                      " interval '1 minute' FROM entries WHERE account = '%1'")
                           .arg(account)));
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    EXPECT_EQ(q.value(1).toString(), QStringLiteral("ivanov"));
    EXPECT_TRUE(q.value(2).toBool());
}

// A server made by the first schema.sql is brought to the current one by migrate-2.sql: its
// entries stay, and it then takes long texts and refuses what schema 2 refuses.
TEST(ServerRights, MigrationBringsAFirstSchemaServerToTheCurrentOne) {
    PgServer server;
    ASSERT_TRUE(server.Ok());
    QSqlDatabase owner = Connect(server, PgServer::Owner);
    const QString schema = QStringLiteral("m%1").arg(QUuid::createUuid().data1);
    QSqlQuery q(owner);
    ASSERT_TRUE(q.exec(QStringLiteral("CREATE SCHEMA %1").arg(schema)));
    ASSERT_TRUE(q.exec(QStringLiteral("SET search_path TO %1").arg(schema)));
    QStringList first = {QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)")};
    first << JournalMigration(1, DialectFor(QStringLiteral("QPSQL")));
    first << QStringLiteral("INSERT INTO schema_version (version) VALUES (1)");
    first << QStringLiteral("INSERT INTO entries (%1) VALUES (%2)")
                 .arg(QString::fromLatin1(kEntryColumns), QString::fromLatin1(kEntryValues))
                 .arg(QUuid::createUuid().toString(QUuid::WithoutBraces), QStringLiteral("1"));
    for (const QString& sql : first)
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
    for (const QString& sql :
         Statements(QStringLiteral(TORVIK7_PG_SOURCE "/docs/server/migrate-2.sql")))
        ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << q.lastError().text().toStdString();
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT max(version) FROM schema_version")) && q.next());
    EXPECT_EQ(q.value(0).toInt(), JournalSchemaVersion());
    // The entry from before is kept, with no sender: the server did not note one then.
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT count(*) FROM entries WHERE installer IS NULL")) &&
                q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    QString longPort = QString::fromLatin1(kEntryValues);
    longPort.replace(QStringLiteral("'COM1'"),
                     QLatin1Char('\'') + QString(430, QLatin1Char('p')) + QLatin1Char('\''));
    EXPECT_TRUE(
        q.exec(QStringLiteral("INSERT INTO entries (%1) VALUES (%2)")
                   .arg(QString::fromLatin1(kEntryColumns), longPort)
                   .arg(QUuid::createUuid().toString(QUuid::WithoutBraces), QStringLiteral("2"))))
        << q.lastError().text().toStdString();
    EXPECT_FALSE(q.exec(QStringLiteral("INSERT INTO records (sha256, record) VALUES ('00',"
                                       " decode(repeat('00', 1800), 'hex'))")));
    EXPECT_EQ(q.lastError().nativeErrorCode(), QStringLiteral("23514"));
    ASSERT_TRUE(q.exec(QStringLiteral("SET search_path TO public")));
    EXPECT_TRUE(q.exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(schema)));
}

} // namespace
