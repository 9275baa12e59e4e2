// One database of the journal, read and written the same way whichever it is: an installer's
// file (SQLite) or the team's server (PostgreSQL). The statements are written once, in SQL
// both understand; every value goes in bound.
#pragma once

#include "journal/Journal.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

class JournalStore {
public:
    // `server`: the team's server, whose entries carry who sent them.
    JournalStore(QSqlDatabase db, bool server) : m_db(std::move(db)), m_server(server) {}

    // Keeps `e` and its record, if it has one, unless an entry of its UUID is there already
    // (a push cut short sends again; a record is kept once by its SHA-256). No transaction of
    // its own: the caller's. `keepId` keeps e.id, for entries carried out of a damaged file;
    // otherwise the database numbers the entry. `added` gets the entry's number, 0 when one was
    // there already.
    bool Insert(const JournalEntry& e, bool keepId = false, qint64* added = nullptr);
    // Newest first, without records; false when the rows could not all be read.
    bool List(const JournalQuery& query, std::vector<JournalEntry>& out);
    // One entry with its record, by its number or UUID; nullopt (with Error() invalid) when
    // there is none.
    std::optional<JournalEntry> Find(const QString& idOrUuid);
    // At most `limit` UUIDs that start with `prefix` (hex digits and dashes only).
    bool UuidsStartingWith(const QString& prefix, int limit, std::vector<QString>& out);

    // The fault of the last call that failed.
    const QSqlError& Error() const { return m_error; }

    // The entry columns selected, in the order EntryFromRow reads them; a query that wants the
    // record selects it after them.
    static const char* EntryColumns();
    static JournalEntry EntryFromRow(const class QSqlQuery& q, bool withRecord);
    // The columns an entry is added with, which an installer's login may give on a server.
    static const char* InsertColumns();
    // A text bound for a column: every text column is NOT NULL, so an empty text is stored as one.
    static QVariant Text(const QString& text);

private:
    bool Failed(const class QSqlQuery& q);

    QSqlDatabase m_db;
    bool m_server;
    QSqlError m_error;
};
