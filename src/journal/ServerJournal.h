// A team's journal on a PostgreSQL server, behind an installer's local journal.
//
// Every entry is kept in the local journal first; the server gets a copy when it can be
// reached. What was sent is remembered per server in the local database (table
// server_sent), so a push sends each entry once: the server keeps an entry once by its UUID
// (INSERT ... ON CONFLICT DO NOTHING), and an entry whose sending was interrupted is simply
// sent again. Every call to the server has a time limit: connections give up after a short
// time-out, and a server that takes a query and stays silent has its connection cut, so no
// transfer or save waits on a server that is gone.
#pragma once

#include "journal/Journal.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// Whether this build can reach a team's server at all. The Windows build has no PostgreSQL
// client inside it: it keeps the journal on the computer only, and says so.
#ifdef TORVIK7_NO_SERVER_JOURNAL
inline constexpr bool kServerJournalBuilt = false;
#else
inline constexpr bool kServerJournalBuilt = true;
#endif

// True for "postgresql://..." and "postgres://...".
bool IsServerAddress(const QString& location);

// The server the journal is kept on: TORVIK7_JOURNAL when it is a server address, otherwise
// the address kept by the "Журнал" window's settings; empty for none, and always empty in a
// build without the server journal.
QString JournalServerAddress();
// Keeps `address` as the window's setting (empty: none). An address with a password is refused:
// passwords live in ~/.pgpass or PGPASSWORD, never with us.
bool SetJournalServerAddress(const QString& address, QString* why = nullptr);

// Where the address points, as the operator may be told: "host:port/database" with the login.
struct ServerAddress {
    QString host;
    int port = 5432;
    QString user;     // empty: the login name, as libpq decides
    QString database; // empty: the same as the user
    QString options;  // Qt SQL connect options: connect_timeout, sslmode, ...
    QString Shown() const;
    // The same server whoever logs in: what the local journal notes sent entries under.
    QString Key() const;
};
// Parses `url`; nullopt with `why` (Russian) when it is no usable server address.
std::optional<ServerAddress> ParseServerAddress(const QString& url, QString* why = nullptr);

// The team's server as a second store of the journal: it keeps what an installer's journal
// hands it and answers lists and lookups; what was sent where is the installer's journal's
// business.
class ServerJournal {
public:
    explicit ServerJournal(const QString& url);
    ~ServerJournal();
    ServerJournal(const ServerJournal&) = delete;
    ServerJournal& operator=(const ServerJournal&) = delete;

    // Called once per run with the first problem, e.g. "Журнал на сервере недоступен
    // (ivanov@host:5432/torvik7): неверный пароль. Записи сохраняются на этом компьютере ...".
    void SetProblemHandler(std::function<void(const QString&)> handler);
    const QString& Problem() const { return m_problem; }
    // What an installer's journal notes the entries it sent here under: the same server
    // whoever logs in; empty for an address that is no server's.
    QString Key() const;

    // Starts a push: connects, and the push's whole time limit counts from here. False when the
    // server cannot be reached; `retryAtOnce` false leaves a server found gone in the last
    // minute alone, so the work of a window without network never waits on it entry after entry.
    bool BeginPush(bool retryAtOnce);
    // Sends one batch of entries with their records in one transaction. Each the server refuses
    // for what it holds is named with the reason, and the rest are kept; nullopt when the batch
    // did not go (none of it is kept then).
    struct Sent {
        std::vector<QString> sent;
        std::vector<std::pair<QString, QString>> refused; // uuid, reason
    };
    std::optional<Sent> Send(const std::vector<JournalEntry>& batch);
    // The server's entries (newest first, without records); nullopt when unreachable.
    std::optional<std::vector<JournalEntry>> List(const JournalQuery& query,
                                                  bool retryAtOnce = true);
    // One of the server's entries with its record, by UUID or the server's id.
    std::optional<JournalEntry> Find(const QString& idOrUuid);
    // The UUIDs (at most `limit`) of the server's entries that start with `prefix`; nullopt
    // when unreachable.
    std::optional<std::vector<QString>> UuidsStartingWith(const QString& prefix, int limit);

    // "Проверить соединение": connects as the address's login within a call's limit, with
    // `password` when it is not empty (else as libpq finds one: ~/.pgpass, PGPASSWORD), and
    // says in `what` what it found: the schema version and what the login may do with the
    // entries, or why there is no journal there. True when entries can be kept there.
    bool CheckConnection(const QString& password, QString& what);
    // The last call found the server gone: what the lists show is this computer's.
    bool Unreachable() const { return m_sinceFailure.isValid(); }

    // Ends the call under way at once, from any thread (its connection is cut), and every later
    // one: what is unsent stays so, for a later run.
    void Cancel();

    // How long a whole push and any other call may take before the connection is cut.
    static constexpr int kPushLimitMs = 15000;
    static constexpr int kCallLimitMs = 10000;

private:
    class CallLimit;
    void CutConnection(bool timedOut);
    void CloseServer();
    bool Connect(bool retryAtOnce);
    bool CheckSchema();
    bool Fail(const QString& why);
    bool FailSql(const class QSqlError& error, const QString& doing);
    QString Named(const char* what);
    QString ServerName(); // this thread's connection to the server

    QString m_url;
    std::optional<ServerAddress> m_address;
    QString m_addressProblem;
    QString m_base;              // of the Qt SQL connection names
    std::vector<QString> m_made; // every connection made, on whichever thread
    QString m_problem;
    std::function<void(const QString&)> m_onProblem;
    QElapsedTimer m_sinceFailure; // a server just found gone is not asked again at once
    // The socket of the connection in use, for a limit or Cancel() to cut from another thread.
    std::mutex m_socketMutex;
    int m_socket = -1;
    bool m_timedOut = false;
    bool m_cancelled = false;
    int m_limitMs = 0;
    QElapsedTimer m_pushStarted;
    QString m_password; // only for a check with a password typed in, never kept
};
