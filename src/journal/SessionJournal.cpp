#include "journal/SessionJournal.h"

JournalEntry EntryForSession(const SessionEnd& end, const JournalEntry& context) {
    JournalEntry e = context;
    e.id = 0;
    e.uuid.clear();
    e.time = {};
    e.record.clear();
    e.sha256.clear();
    e.account.clear();
    e.phone1.clear();
    e.action = end.kind == SessionKind::Read ? JournalAction::Read : JournalAction::Write;
    e.result = end.result;
    e.resultText = ResultMeaning(end.result);
    e.blocksDone = end.blocksDone;
    // A write that ended early once its block loop ran may have changed blocks up to the
    // one where it ended (that one too, when it failed rather than stopped).
    e.halfWritten = end.kind == SessionKind::Write && end.result != kSessionOk && end.blockLoop &&
                    (end.blocksDone > 0 || end.result != kSessionStopped);
    if (end.record) e.SetRecord(*end.record);
    return e;
}

void SessionJournal::SessionEnded(const SessionEnd& end) {
    m_last = EntryForSession(end, context);
    m_lastKept = m_journal && m_journal->Add(*m_last);
}
