// The journal's file as the operating system sees it: a lock on a side file that every
// process takes before it touches the database, the file's identity (so a connection opened
// before another process moved a damaged file aside notices), and the folder and file made
// for the right owner.
#pragma once

#include <QString>

#include <cstdint>

// "<journal>.lock": shared while an operation uses the database, exclusive while a damaged
// database is moved aside and its readable part carried into a fresh one. The lock is on a
// file of its own because SQLite's locks on the database itself come and go per statement.
class JournalSideLock {
public:
    explicit JournalSideLock(const QString& database);
    ~JournalSideLock();
    JournalSideLock(const JournalSideLock&) = delete;
    JournalSideLock& operator=(const JournalSideLock&) = delete;

    enum class Mode { None, Shared, Exclusive };
    // Waits up to `ms` for the lock; false when another process held it all that time, or the
    // side file could not be made (then `Error()` says why).
    bool Take(Mode mode, int ms);
    void Release();
    Mode Held() const { return m_held; }
    const QString& Error() const { return m_error; }

private:
    bool TryOnce(Mode mode);
    QString m_path;
    QString m_error;
    Mode m_held = Mode::None;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

// Which file a path names now (device and inode; on Windows volume and file index): two
// different values mean the file was replaced. Zero when there is none.
struct JournalFileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const JournalFileId&) const = default;
};
JournalFileId JournalFileIdOf(const QString& path);

// Makes the journal's folder and an empty file before SQLite opens it, so it belongs to the
// right user: a run as root with another user's HOME (sudo -E) gives what it makes under
// that HOME to HOME's owner. Only `mayMakeFolder` lets missing folders be made (the default
// place, not a mistyped TORVIK7_JOURNAL). Empty on success, otherwise the reason in the
// operator's words.
QString PrepareJournalFile(const QString& path, bool mayMakeFolder);
