// Keeps every transfer session in the journal: an observer of the session, never part of it.
#pragma once

#include "journal/Journal.h"
#include "link/TransferSession.h"

#include <optional>

class SessionJournal final : public SessionObserver {
public:
    // `journal` may be nullptr: the entry is then only built, for Last().
    explicit SessionJournal(Journal* journal) : m_journal(journal) {}

    // What the session itself does not know: the port as the operator chose it, the
    // addresses, who ran it and the window's title. Set before each session.
    JournalEntry context;
    // For the image sessions, which know no record: the record in memory as the session
    // starts. A write keeps it; a read that ended well keeps it with the image read decoded
    // over it, as the window then does.
    std::optional<SettingsRecord> base;

    // Set for a session on a worker thread: its end only builds the entry, and the caller
    // keeps it with KeepLast() on its own thread, where the journal lives.
    bool keepLater = false;

    void SessionEnded(const SessionEnd& end) override;
    // Keeps the last session's entry (once); false when there is none or it was not kept.
    bool KeepLast();

    // The entry of the last session, whether or not the journal could keep it.
    const std::optional<JournalEntry>& Last() const { return m_last; }
    bool LastKept() const { return m_lastKept; }

private:
    Journal* m_journal;
    std::optional<JournalEntry> m_last;
    bool m_lastKept = false;
    bool m_lastTried = false;
};

// Builds the entry a session's end gives, from `context` (and `base`, as above).
JournalEntry EntryForSession(const SessionEnd& end, const JournalEntry& context,
                             const std::optional<SettingsRecord>& base = std::nullopt);
