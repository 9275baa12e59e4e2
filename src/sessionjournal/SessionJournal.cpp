#include "sessionjournal/SessionJournal.h"

namespace {
constexpr qsizetype kResultTextLimit = 200;
} // namespace

JournalEntry EntryForSession(const SessionEnd& end, const JournalEntry& context,
                             const std::optional<SettingsRecord>& base) {
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
    // A failure says what the operator was told, on one line.
    if (end.result != kSessionOk && end.result != kSessionStopped && !end.message.empty())
        e.resultText += QStringLiteral(": ") + QString::fromStdString(end.message).simplified();
    // The server keeps 200 characters: a long port name in the message must not cost the entry.
    if (e.resultText.size() > kResultTextLimit)
        e.resultText = e.resultText.left(kResultTextLimit - 1) + QChar(0x2026);
    e.blocksDone = end.blocksDone;
    // A write that ended early once its block loop ran may have changed blocks up to the
    // one where it ended (that one too, when it failed rather than stopped).
    e.halfWritten = end.kind == SessionKind::Write && end.result != kSessionOk && end.blockLoop &&
                    (end.blocksDone > 0 || end.result != kSessionStopped);
    if (end.record) {
        e.SetRecord(*end.record);
    } else if (base && end.image) {
        SettingsRecord r = *base;
        if (end.kind == SessionKind::Read) DecodeImage(*end.image, r);
        e.SetRecord(r);
    }
    return e;
}

void SessionJournal::SessionEnded(const SessionEnd& end) {
    m_last = EntryForSession(end, context, base);
    m_lastKept = false;
    m_lastTried = false;
    if (!keepLater) KeepLast();
}

bool SessionJournal::KeepLast() {
    if (!m_last || m_lastTried) return m_lastKept;
    m_lastTried = true;
    m_lastKept = m_journal && m_journal->Add(*m_last);
    return m_lastKept;
}
