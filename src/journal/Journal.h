// The exchange journal: every record read from a device, written into one or left unsaved
// when the window closed, kept in a database with what surrounded it (port, addresses,
// result). Qt Core and Qt SQL only, so the window and torvik7ctl share it.
//
// The journal never holds up the work it records: every operation answers false or empty
// when the database cannot be used, and the first such problem of a run is handed once to
// the problem handler, in words for the operator.
#pragma once

#include "settings/SettingsRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class JournalSideLock;
struct JournalFileId;

// Replaced: a changed record that "Новые", "Открыть", "Просмотр <=" or opening a journal
// entry put out of memory before it was saved.
enum class JournalAction { Read, Write, UnsavedAtExit, Replaced };
enum class JournalSource { Window, Ctl };

// The words stored in the database and given by torvik7ctl's JSON: "read", "write",
// "unsaved-at-exit", "replaced"; "window", "torvik7ctl".
QString ActionName(JournalAction action);
std::optional<JournalAction> ActionFromName(const QString& name);
QString SourceName(JournalSource source);
// The action as the window and torvik7ctl journal list show it: "Чтение", "Запись", "Не
// сохранено при выходе", "Заменено без сохранения".
QString ActionText(JournalAction action);
// A record kept because it was never saved, not an exchange: no port, addresses or result.
bool IsUnsaved(JournalAction action);
// What a session result code means, in the operator's words.
QString ResultMeaning(int result);

struct JournalEntry {
    qint64 id = 0;  // given by the database
    QString uuid;   // given on Add when empty; the same entry on every server
    QDateTime time; // UTC; now when left invalid on Add
    JournalAction action = JournalAction::Read;
    int result = 0;
    QString resultText; // ResultMeaning(result) when left empty on Add
    QString port;       // as the operator chose it
    int lineAddress = 0;
    int unitAddress = 0;
    QString account; // of the record, taken from it by SetRecord
    QString phone1;  // of the record, taken from it by SetRecord
    JournalSource source = JournalSource::Window;
    QString title;            // the window's title at that moment
    int blocksDone = 0;       // blocks of 512 that went through
    bool halfWritten = false; // a write that ended early after touching the device
    QByteArray record;        // 1800 bytes, or empty when none was kept (or not loaded)
    QString sha256;           // of the record, hex; given on Add
    bool unsent = false;      // kept here, not yet on the team's journal server
    QString refused;          // why the team's server refused it: set aside, never sent again
    QString installer;        // who sent it, as the team's server noted (empty: not known)

    bool HasRecord() const { return !record.isEmpty(); }
    // A record was kept with the entry, loaded or not (a listed entry carries only its sum).
    bool RecordKept() const { return HasRecord() || !sha256.isEmpty(); }
    // Keeps `r` with the entry, with its account and first telephone number.
    void SetRecord(const SettingsRecord& r);
};

// A stored record checked before use: exactly 1800 bytes and the checksum it was kept with.
// `why` says, for the operator, what is wrong otherwise.
bool RecordFromEntry(const JournalEntry& entry, SettingsRecord& out, QString* why = nullptr);

// The all-zero start record and the plain factory defaults are not worth an entry.
bool WorthKeeping(const SettingsRecord& r);
QString RecordSha256(const QByteArray& bytes);

// What naming an entry found: one entry, none, several (a UUID prefix shared), or no answer
// from the team's server that a number of its own needs.
enum class JournalFound { Found, Unknown, Ambiguous, Unavailable };
struct JournalLookup {
    JournalFound status = JournalFound::Unknown;
    std::optional<JournalEntry> entry; // with its record, when found
    QString why;                       // for the operator, when not found
};

struct JournalQuery {
    QString account; // exact account number; empty for every entry
    int limit = 0;   // 0 for no limit
};

class Journal {
public:
    // `location`: a database file; empty for DefaultLocation().
    explicit Journal(const QString& location = {});
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // TORVIK7_JOURNAL when set, otherwise journal.sqlite in the user's data folder (the
    // folder where the virtual device keeps its memory).
    static QString DefaultLocation();
    const QString& Location() const { return m_location; }

    // Called once per run, with the first problem, e.g. "Журнал обменов недоступен: диск
    // заполнен. Работа продолжается без журнала."
    void SetProblemHandler(std::function<void(const QString&)> handler);
    // The first problem of this run, empty when none.
    const QString& Problem() const { return m_problem; }
    // How long a write waits for another program holding the database (milliseconds).
    void SetBusyTimeout(int ms) { m_busyTimeoutMs = ms; }

    // Opens the database now rather than at the first entry (so a session's end only
    // writes); false, with the problem reported, when it cannot be used.
    bool Ready();

    // Keeps one entry, in a transaction of its own. Fills id, uuid, time and sha256.
    bool Add(JournalEntry& entry);
    // Newest first, without the records. With a team's server (JournalServerAddress()): the
    // server's entries and this computer's entries not yet sent, those marked `unsent`; this
    // computer's alone, unsent ones marked, while the server cannot be reached.
    std::vector<JournalEntry> List(const JournalQuery& query = {});
    // One entry with its record, by id or UUID; from the team's server when not kept here.
    std::optional<JournalEntry> Find(const QString& idOrUuid);
    // One entry by a name that means the same whether the team's server answers or not: its
    // UUID, the start of it (4 characters or more, not all digits), or a number. With a server,
    // a number is the server's own, or a local one made negative for an entry not on it, never
    // the one for the other; without one, numbers are this computer's.
    JournalLookup Lookup(const QString& name);
    // The same, of the entries kept on this computer only.
    std::vector<JournalEntry> ListHere(const JournalQuery& query = {});
    std::optional<JournalEntry> FindHere(const QString& idOrUuid);
    // The team's server when one is set, created on first use; null otherwise.
    class ServerJournal* Server();
    // Takes up a server address changed in the window's settings.
    void ReloadServer();
    // Sends the entries the team's server lacks: the number sent, -1 when it cannot be reached,
    // 0 without a server.
    int Push();
    // This computer's entries not yet on the team's server, oldest first, without their
    // records; those the server refused carry the reason. Empty without a server; `readable`
    // becomes false when this computer's journal could not be read whole.
    std::vector<JournalEntry> Unsent(bool* readable = nullptr);
    // Every entry kept goes to the team's server beside the work, on a thread of the journal's
    // own, never on the caller's. Waits up to `ms` (or until `stop` says so) for that sending
    // to be idle; true when it is. The entries a push did not send stay unsent.
    bool WaitForPush(int ms, const std::function<bool()>& stop = {});
    // Ends the sending beside for good, a push under way at once (its connection is cut).
    void CancelPush();
    // Removes entries older than `before`; unsaved and half-written ones only with `all`, and
    // with a team's server set, entries not yet on it only with `unsentToo`. The number removed,
    // or -1; `kept` gets the number of unsent entries left for that reason.
    int Prune(const QDateTime& before, bool all, bool unsentToo = false, int* kept = nullptr);

    // The recovery slot: the working record after every confirmed edit, overwritten each
    // time. A normal exit clears it; one left behind by a run that did not end normally
    // becomes an unsaved-at-exit entry at the next start.
    bool KeepRecovery(const JournalEntry& slot);
    bool ClearRecovery();
    std::optional<JournalEntry> RecoverUnsaved();

    // The file a corrupt database was moved to in this run, empty when none.
    const QString& MovedAside() const { return m_movedAside; }
    // Entries read out of that file and kept in the fresh journal.
    int Carried() const { return m_carried; }
    // The data folder's journal.sqlite, whatever TORVIK7_JOURNAL says: the one place whose
    // missing folders are made rather than refused.
    static QString StandardLocation();

private:
    struct Db;
    // One public operation: the mutex, and the side lock taken shared for its duration.
    struct Op;
    enum class Recovered { Here, ByAnother, Failed };
    Db* Open();
    bool TakeShared();
    // A damaged database met through `d`, which was the file `seen`: moved aside under the
    // exclusive side lock, unless another process did that first.
    Recovered Recover(Db& d, const JournalFileId& seen);
    bool ListFrom(Db& d, const JournalQuery& query, std::vector<JournalEntry>& out,
                  class QSqlError& error);
    std::optional<JournalEntry> FindIn(Db& d, const QString& idOrUuid, class QSqlError& error);
    void Report(const QString& why);
    void ReportMovedAside(const QString& moved);
    void Tell(const QString& text);
    void TellServerProblem(const QString& text);
    void PushBeside();
    int PushTo(class ServerJournal& server, bool retryAtOnce);
    std::vector<JournalEntry> UnsentTo(const QString& server, bool* readable);
    bool Mark(const QString& server, const std::vector<QString>& sent,
              const std::vector<std::pair<QString, QString>>& refused);
    void CloseThisThread();
    bool Failed(Db& db, const QString& what, const class QSqlError& error);

    QString m_location;
    int m_busyTimeoutMs = 3000;
    QString m_problem;
    QString m_movedAside;
    int m_carried = 0;
    bool m_recovering = false;
    std::unique_ptr<JournalSideLock> m_side;
    int m_depth = 0; // nesting of Op
    std::function<void(const QString&)> m_onProblem;
    // The handler is called from the thread that sends beside too; one server problem is told
    // per run, whichever connection met it.
    std::mutex m_problemMutex;
    bool m_serverProblemTold = false;
    struct Beside;
    std::unique_ptr<Beside> m_beside;
    std::vector<std::unique_ptr<Db>> m_dbs;
    // A session may end on a thread of its own: each thread gets its own connection, and
    // one operation runs at a time.
    std::recursive_mutex m_mutex;
    std::unique_ptr<class ServerJournal> m_server;
    bool m_serverChecked = false;
};
