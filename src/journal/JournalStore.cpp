#include "journal/JournalStore.h"

#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

const char kEntryColumns[] =
    "e.id, e.uuid, e.time_utc, e.action, e.result, e.result_text, e.port, e.line_address, "
    "e.unit_address, e.account, e.phone1, e.source, e.title, e.blocks_done, e.half_written, "
    "e.sha256";
constexpr int kRecordColumn = 16;

const char kInsertColumns[] = "uuid, time_utc, action, result, result_text, port, line_address, "
                              "unit_address, account, phone1, source, title, blocks_done, "
                              "half_written, sha256";

QVariant NullText() {
    return QVariant(QMetaType(QMetaType::QString));
}

} // namespace

const char* JournalStore::EntryColumns() {
    return kEntryColumns;
}

const char* JournalStore::InsertColumns() {
    return kInsertColumns;
}

QVariant JournalStore::Text(const QString& text) {
    return text.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(text);
}

JournalEntry JournalStore::EntryFromRow(const QSqlQuery& q, bool withRecord) {
    JournalEntry e;
    e.id = q.value(0).toLongLong();
    e.uuid = q.value(1).toString();
    e.time = QDateTime::fromMSecsSinceEpoch(q.value(2).toLongLong(), Qt::UTC);
    e.action = ActionFromName(q.value(3).toString()).value_or(JournalAction::Read);
    e.result = q.value(4).toInt();
    e.resultText = q.value(5).toString();
    e.port = q.value(6).toString();
    e.lineAddress = q.value(7).toInt();
    e.unitAddress = q.value(8).toInt();
    e.account = q.value(9).toString();
    e.phone1 = q.value(10).toString();
    e.source = q.value(11).toString() == QLatin1String("torvik7ctl") ? JournalSource::Ctl
                                                                     : JournalSource::Window;
    e.title = q.value(12).toString();
    e.blocksDone = q.value(13).toInt();
    e.halfWritten = q.value(14).toInt() != 0;
    e.sha256 = q.value(15).toString();
    if (withRecord) e.record = q.value(kRecordColumn).toByteArray();
    return e;
}

bool JournalStore::Failed(const QSqlQuery& q) {
    m_error = q.lastError();
    return false;
}

bool JournalStore::Insert(const JournalEntry& e, bool keepId, qint64* added) {
    m_error = {};
    if (added) *added = 0;
    QSqlQuery q(m_db);
    if (e.HasRecord()) {
        q.prepare(QStringLiteral("INSERT INTO records (sha256, record) VALUES (?, ?) "
                                 "ON CONFLICT (sha256) DO NOTHING"));
        q.addBindValue(e.sha256);
        q.addBindValue(e.record);
        if (!q.exec()) return Failed(q);
    }
    // A carried entry may meet its number taken as well as its UUID: either way the one there
    // stays.
    q.prepare(QStringLiteral("INSERT INTO entries (") + (keepId ? "id, " : "") + kInsertColumns +
              QStringLiteral(") VALUES (") + (keepId ? "?, " : "") +
              QStringLiteral("?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ") +
              (keepId ? QStringLiteral("ON CONFLICT DO NOTHING")
                      : QStringLiteral("ON CONFLICT (uuid) DO NOTHING RETURNING id")));
    if (keepId) q.addBindValue(e.id);
    q.addBindValue(Text(e.uuid));
    q.addBindValue(e.time.toMSecsSinceEpoch());
    q.addBindValue(ActionName(e.action));
    q.addBindValue(e.result);
    q.addBindValue(Text(e.resultText));
    q.addBindValue(Text(e.port));
    q.addBindValue(e.lineAddress);
    q.addBindValue(e.unitAddress);
    q.addBindValue(Text(e.account));
    q.addBindValue(Text(e.phone1));
    q.addBindValue(SourceName(e.source));
    q.addBindValue(Text(e.title));
    q.addBindValue(e.blocksDone);
    q.addBindValue(e.halfWritten ? 1 : 0);
    q.addBindValue(e.sha256.isEmpty() ? NullText() : QVariant(e.sha256));
    if (!q.exec()) return Failed(q);
    if (keepId && added && q.numRowsAffected() > 0) *added = e.id;
    if (!keepId && q.next() && added) *added = q.value(0).toLongLong();
    if (q.lastError().isValid()) return Failed(q);
    q.finish(); // the statement done with before the caller commits
    return true;
}

bool JournalStore::List(const JournalQuery& query, std::vector<JournalEntry>& out) {
    m_error = {};
    QString sql = QStringLiteral("SELECT ") + kEntryColumns +
                  (m_server ? QStringLiteral(", e.installer") : QString()) +
                  QStringLiteral(" FROM entries e");
    if (!query.account.isEmpty()) sql += QStringLiteral(" WHERE e.account = ?");
    sql += QStringLiteral(" ORDER BY e.time_utc DESC, e.id DESC");
    if (query.limit > 0) sql += QStringLiteral(" LIMIT ?");
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(sql);
    if (!query.account.isEmpty()) q.addBindValue(query.account);
    if (query.limit > 0) q.addBindValue(query.limit);
    if (!q.exec()) return Failed(q);
    while (q.next()) {
        out.push_back(EntryFromRow(q, false));
        if (m_server) out.back().installer = q.value(kRecordColumn).toString();
    }
    // A damaged page ends the rows early: a short list is never given for the whole one.
    if (q.lastError().isValid()) return Failed(q);
    return true;
}

std::optional<JournalEntry> JournalStore::Find(const QString& idOrUuid) {
    m_error = {};
    const QString key = idOrUuid.trimmed().toLower();
    const bool isUuid = !QUuid::fromString(key).isNull();
    bool numeric = false;
    const qint64 id = key.toLongLong(&numeric);
    if (!isUuid && !numeric) return std::nullopt;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT ") + kEntryColumns + QStringLiteral(", r.record") +
              (m_server ? QStringLiteral(", e.installer") : QString()) +
              QStringLiteral(" FROM entries e LEFT JOIN records r ON r.sha256 = e.sha256 ") +
              (isUuid ? QStringLiteral("WHERE e.uuid = ?") : QStringLiteral("WHERE e.id = ?")));
    q.addBindValue(isUuid ? QVariant(key) : QVariant(id));
    if (!q.exec()) return Failed(q), std::nullopt;
    if (!q.next()) {
        if (q.lastError().isValid()) Failed(q);
        return std::nullopt;
    }
    JournalEntry e = EntryFromRow(q, true);
    if (m_server) e.installer = q.value(kRecordColumn + 1).toString();
    if (q.lastError().isValid()) return Failed(q), std::nullopt;
    return e;
}

bool JournalStore::UuidsStartingWith(const QString& prefix, int limit, std::vector<QString>& out) {
    m_error = {};
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    // Hex digits and dashes: nothing in the prefix is a pattern character.
    q.prepare(QStringLiteral("SELECT uuid FROM entries WHERE uuid LIKE ? ORDER BY uuid LIMIT ?"));
    q.addBindValue(prefix + QLatin1Char('%'));
    q.addBindValue(limit);
    if (!q.exec()) return Failed(q);
    while (q.next())
        out.push_back(q.value(0).toString());
    if (q.lastError().isValid()) return Failed(q);
    return true;
}
