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

    void SessionEnded(const SessionEnd& end) override;

    // The entry of the last session, whether or not the journal could keep it.
    const std::optional<JournalEntry>& Last() const { return m_last; }
    bool LastKept() const { return m_lastKept; }

private:
    Journal* m_journal;
    std::optional<JournalEntry> m_last;
    bool m_lastKept = false;
};

// Builds the entry a session's end gives, from `context`.
JournalEntry EntryForSession(const SessionEnd& end, const JournalEntry& context);
