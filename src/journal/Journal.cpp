#include "journal/Journal.h"

#include "journal/JournalFile.h"
#include "journal/JournalSchema.h"
#include "journal/JournalStore.h"
#include "journal/ServerJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// SQLite's primary result codes that tell the operator why the journal is unavailable.
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteIoError = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteCantOpen = 14;
constexpr int kSqliteNotADatabase = 26;

int NativeCode(const QSqlError& error) {
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xFF) : -1;
}

bool IsCorrupt(const QSqlError& error) {
    const int code = NativeCode(error);
    return code == kSqliteCorrupt || code == kSqliteNotADatabase;
}

// The operator's sentence first, the driver's own words behind it for whoever helps them.
QString Why(const QSqlError& error, int busyTimeoutMs) {
    QString sentence;
    switch (NativeCode(error)) {
    case kSqliteBusy:
    case kSqliteLocked:
        sentence = QStringLiteral("файл занят другой программой дольше %1 с")
                       .arg(QString::number(busyTimeoutMs / 1000.0));
        break;
    case kSqliteReadOnly:
        sentence = QStringLiteral("файл или папка доступны только для чтения");
        break;
    case kSqliteFull:
        sentence = QStringLiteral("диск заполнен");
        break;
    case kSqliteIoError:
        sentence = QStringLiteral("ошибка записи на диск (диск заполнен или недоступен)");
        break;
    case kSqliteCantOpen:
        sentence = QStringLiteral("не удаётся открыть файл (нет папки или нет прав на запись)");
        break;
    case kSqliteCorrupt:
    case kSqliteNotADatabase:
        sentence = QStringLiteral("файл повреждён");
        break;
    default:
        sentence = QStringLiteral("ошибка базы данных");
        break;
    }
    const QString text = error.text().simplified();
    return text.isEmpty() ? sentence : sentence + QStringLiteral(" (") + text + QLatin1Char(')');
}

qint64 ToStored(const QDateTime& time) {
    return time.toMSecsSinceEpoch();
}

QDateTime FromStored(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QString DigitField(const char* field, std::size_t width) {
    std::size_t n = 0;
    while (n < width && field[n] != '\0')
        ++n;
    return QString::fromLatin1(field, static_cast<qsizetype>(n));
}

std::atomic<unsigned> g_connectionCount{0};

// Entries sent in one server transaction: a failure loses at most this much work, never data.
constexpr std::size_t kPushBatch = 200;

} // namespace

QString ActionName(JournalAction action) {
    switch (action) {
    case JournalAction::Read:
        return QStringLiteral("read");
    case JournalAction::Write:
        return QStringLiteral("write");
    case JournalAction::UnsavedAtExit:
        return QStringLiteral("unsaved-at-exit");
    case JournalAction::Replaced:
        return QStringLiteral("replaced");
    }
    return {};
}

std::optional<JournalAction> ActionFromName(const QString& name) {
    for (auto a : {JournalAction::Read, JournalAction::Write, JournalAction::UnsavedAtExit,
                   JournalAction::Replaced})
        if (ActionName(a) == name) return a;
    return std::nullopt;
}

QString SourceName(JournalSource source) {
    return source == JournalSource::Ctl ? QStringLiteral("torvik7ctl") : QStringLiteral("window");
}

QString ActionText(JournalAction action) {
    switch (action) {
    case JournalAction::Read:
        return QStringLiteral("Чтение");
    case JournalAction::Write:
        return QStringLiteral("Запись");
    case JournalAction::UnsavedAtExit:
        return QStringLiteral("Не сохранено при выходе");
    case JournalAction::Replaced:
        return QStringLiteral("Заменено без сохранения");
    }
    return {};
}

bool IsUnsaved(JournalAction action) {
    return action == JournalAction::UnsavedAtExit || action == JournalAction::Replaced;
}

QString ResultMeaning(int result) {
    switch (result) {
    case 0:
        return QStringLiteral("Выполнено");
    case 1:
        return QStringLiteral("Порт не открылся");
    case 2:
        return QStringLiteral("Не удалось прочитать настройки порта");
    case 3:
        return QStringLiteral("Ошибка настройки порта");
    case 4:
        return QStringLiteral("Ошибка связи");
    case 5:
        return QStringLiteral("Остановлено оператором");
    case 10:
        return QStringLiteral("Пультовый блок вместо объектового");
    default:
        return QStringLiteral("Код %1").arg(result);
    }
}

void JournalEntry::SetRecord(const SettingsRecord& r) {
    const auto bytes = RecordBytes(r);
    record = QByteArray(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<qsizetype>(bytes.size()));
    sha256 = RecordSha256(record);
    account = DigitField(r.accountNumber, sizeof r.accountNumber);
    phone1 = DigitField(r.phoneNumbers[0], sizeof r.phoneNumbers[0]);
}

QString RecordSha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

bool RecordFromEntry(const JournalEntry& entry, SettingsRecord& out, QString* why) {
    auto fail = [why](const QString& text) {
        if (why) *why = text;
        return false;
    };
    if (entry.record.isEmpty())
        return fail(QStringLiteral("В этой записи журнала нет настроек: обмен не завершился."));
    if (entry.record.size() != static_cast<qsizetype>(kRecordSize))
        return fail(QStringLiteral("Настройки в журнале повреждены: %1 байт вместо %2.")
                        .arg(entry.record.size())
                        .arg(kRecordSize));
    if (!entry.sha256.isEmpty() && RecordSha256(entry.record) != entry.sha256)
        return fail(QStringLiteral("Настройки в журнале повреждены: контрольная сумма SHA-256 "
                                   "не совпадает."));
    std::memcpy(&out, entry.record.constData(), kRecordSize);
    return true;
}

bool WorthKeeping(const SettingsRecord& r) {
    SettingsRecord zero;
    std::memset(&zero, 0, sizeof zero);
    if (std::memcmp(&r, &zero, sizeof r) == 0) return false;
    // Plain defaults: filling them in changes nothing that the device would see.
    SettingsRecord defaults = r;
    FillDefaults(defaults);
    return std::memcmp(&r, &defaults, sizeof r) != 0;
}

// One connection per thread: Qt SQL connections belong to the thread that opened them.
struct Journal::Db {
    QString name;
    QThread* thread = nullptr;
    JournalDialect dialect;
    JournalFileId file; // the database file this connection opened
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
};

struct Journal::Op {
    explicit Op(Journal& j) : journal(j), lock(j.m_mutex) { ++journal.m_depth; }
    ~Op() {
        if (--journal.m_depth == 0) journal.m_side->Release();
    }
    Op(const Op&) = delete;
    Op& operator=(const Op&) = delete;
    Journal& journal;
    std::unique_lock<std::recursive_mutex> lock;
};

// The thread that sends kept entries to the team's server, with a server connection of its own,
// so no one who keeps an entry waits on the network.
struct Journal::Beside {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable changed;
    bool requested = false;
    bool busy = false;
    bool quit = false;
    bool cancelled = false;
    ServerJournal* server = nullptr; // the thread's own, while it runs
};

Journal::Journal(const QString& location)
    : m_location(location.isEmpty() ? DefaultLocation() : location),
      m_side(std::make_unique<JournalSideLock>(m_location)) {}

Journal::~Journal() {
    if (m_beside) {
        // A push of the last entries may finish in a moment; one on a silent server is cut.
        WaitForPush(1000);
        CancelPush();
        {
            const std::lock_guard<std::mutex> lock(m_beside->mutex);
            m_beside->quit = true;
        }
        m_beside->changed.notify_all();
        m_beside->thread.join();
    }
    for (auto& d : m_dbs) {
        {
            QSqlDatabase db = d->db();
            if (db.isOpen()) db.close();
        }
        QSqlDatabase::removeDatabase(d->name);
    }
}

QString Journal::DefaultLocation() {
    const QByteArray env = qgetenv("TORVIK7_JOURNAL");
    // A server address names the team's journal; this computer's stays in its usual place.
    if (!env.isEmpty() && !IsServerAddress(QFile::decodeName(env))) return QFile::decodeName(env);
    return StandardLocation();
}

QString Journal::StandardLocation() {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return QDir(folder).filePath(QStringLiteral("journal.sqlite"));
}

void Journal::SetProblemHandler(std::function<void(const QString&)> handler) {
    const std::lock_guard<std::mutex> lock(m_problemMutex);
    m_onProblem = std::move(handler);
}

void Journal::Tell(const QString& text) {
    const std::lock_guard<std::mutex> lock(m_problemMutex);
    if (m_onProblem) m_onProblem(text);
}

void Journal::TellServerProblem(const QString& text) {
    const std::lock_guard<std::mutex> lock(m_problemMutex);
    if (m_serverProblemTold) return;
    m_serverProblemTold = true;
    if (m_onProblem) m_onProblem(text);
}

void Journal::PushBeside() {
    if (!m_beside) {
        m_beside = std::make_unique<Beside>();
        m_beside->thread = std::thread([this, address = JournalServerAddress()] {
            Beside& b = *m_beside;
            ServerJournal server(address);
            server.SetProblemHandler([this](const QString& text) { TellServerProblem(text); });
            std::unique_lock<std::mutex> lock(b.mutex);
            b.server = &server;
            for (;;) {
                b.changed.wait(lock, [&] { return b.requested || b.quit; });
                if (b.quit) break;
                b.requested = false;
                if (b.cancelled) continue;
                b.busy = true;
                lock.unlock();
                // A server found gone in the last minute is left alone: entries kept while the
                // network is down are not each held up by it.
                PushTo(server, false);
                lock.lock();
                b.busy = false;
                b.changed.notify_all();
            }
            b.server = nullptr;
            lock.unlock();
            CloseThisThread();
        });
    }
    {
        const std::lock_guard<std::mutex> lock(m_beside->mutex);
        m_beside->requested = true;
    }
    m_beside->changed.notify_all();
}

// Qt SQL connections are closed on the thread that opened them.
void Journal::CloseThisThread() {
    const Op op(*this);
    QThread* const thread = QThread::currentThread();
    for (auto it = m_dbs.begin(); it != m_dbs.end(); ++it) {
        if ((*it)->thread != thread) continue;
        {
            QSqlDatabase db = (*it)->db();
            if (db.isOpen()) db.close();
        }
        QSqlDatabase::removeDatabase((*it)->name);
        m_dbs.erase(it);
        return;
    }
}

bool Journal::WaitForPush(int ms, const std::function<bool()>& stop) {
    if (!m_beside) return true;
    Beside& b = *m_beside;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(b.mutex);
    for (;;) {
        if (!b.busy && (!b.requested || b.cancelled)) return true;
        if (std::chrono::steady_clock::now() >= until || (stop && stop())) return false;
        // Short steps, so `stop` (an operator's Ctrl+C) is heard at once.
        b.changed.wait_for(lock, std::chrono::milliseconds(20));
    }
}

void Journal::CancelPush() {
    if (!m_beside) return;
    const std::lock_guard<std::mutex> lock(m_beside->mutex);
    m_beside->cancelled = true;
    if (m_beside->server) m_beside->server->Cancel();
}

ServerJournal* Journal::Server() {
    const Op op(*this);
    if (!m_serverChecked) {
        m_serverChecked = true;
        const QString address = JournalServerAddress();
        if (!address.isEmpty()) {
            m_server = std::make_unique<ServerJournal>(address);
            m_server->SetProblemHandler([this](const QString& text) { TellServerProblem(text); });
        }
    }
    return m_server.get();
}

int Journal::Push() {
    const Op op(*this);
    ServerJournal* server = Server();
    return server ? PushTo(*server, true) : 0;
}

std::vector<JournalEntry> Journal::Unsent(bool* readable) {
    const Op op(*this);
    if (readable) *readable = true;
    ServerJournal* server = Server();
    return server ? UnsentTo(server->Key(), readable) : std::vector<JournalEntry>{};
}

std::vector<JournalEntry> Journal::UnsentTo(const QString& server, bool* readable) {
    const Op op(*this);
    if (readable) *readable = true;
    if (server.isEmpty()) return {};
    if (Db* d = Open()) {
        QSqlQuery q(d->db());
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("SELECT ") + JournalStore::EntryColumns() +
                  QStringLiteral(", r.reason FROM entries e LEFT JOIN server_refused r"
                                 " ON r.server = ? AND r.uuid = e.uuid"
                                 " WHERE NOT EXISTS (SELECT 1 FROM server_sent s"
                                 " WHERE s.server = ? AND s.uuid = e.uuid) ORDER BY e.id"));
        q.addBindValue(server);
        q.addBindValue(server);
        std::vector<JournalEntry> out;
        if (q.exec()) {
            while (q.next()) {
                out.push_back(JournalStore::EntryFromRow(q, false));
                out.back().unsent = true;
                out.back().refused = q.value(16).toString();
                // Numbers in a team's list are the server's; an entry not yet there is named by
                // its local number made negative, so the two never meet.
                out.back().id = -out.back().id;
            }
        }
        const QSqlError error = q.lastError();
        if (!error.isValid()) return out;
        q.finish();
        // Damage is said and what still reads carried into a fresh file; what was unsent is
        // then not known whole, so nothing is given for it.
        if (!IsCorrupt(error) || Recover(*d, d->file) == Recovered::Failed) Failed(*d, {}, error);
    }
    if (readable) *readable = false;
    return {};
}

bool Journal::Mark(const QString& server, const std::vector<QString>& sent,
                   const std::vector<std::pair<QString, QString>>& refused) {
    const Op op(*this);
    Db* d = Open();
    if (!d) return false;
    QSqlDatabase db = d->db();
    QSqlQuery q(db);
    if (!q.exec(d->dialect.beginWrite)) return Failed(*d, {}, q.lastError());
    auto failed = [&] {
        const QSqlError error = q.lastError();
        q.finish();
        db.rollback();
        return Failed(*d, {}, error);
    };
    q.prepare(QStringLiteral("INSERT INTO server_sent (server, uuid) VALUES (?, ?)"
                             " ON CONFLICT (server, uuid) DO NOTHING"));
    for (const QString& uuid : sent) {
        q.addBindValue(server);
        q.addBindValue(uuid);
        if (!q.exec()) return failed();
    }
    q.prepare(QStringLiteral("INSERT INTO server_refused (server, uuid, reason) VALUES (?, ?, ?)"
                             " ON CONFLICT (server, uuid) DO UPDATE SET reason = excluded.reason"));
    for (const auto& [uuid, reason] : refused) {
        q.addBindValue(server);
        q.addBindValue(uuid);
        q.addBindValue(reason);
        if (!q.exec()) return failed();
    }
    q.finish();
    if (!db.commit()) {
        db.rollback();
        return Failed(*d, {}, db.lastError());
    }
    return true;
}

// Never under the journal's lock: a push waits on the network, and whoever keeps an entry
// meanwhile must not wait on it. Only the reads and the marks take the lock, each briefly.
int Journal::PushTo(ServerJournal& server, bool retryAtOnce) {
    const QString key = server.Key();
    bool readable = true;
    std::vector<JournalEntry> unsent = UnsentTo(key, &readable);
    // A push from a damaged journal could not know what it left behind.
    if (!readable) return -1;
    // What the server refused for its content stays aside: sent again it would be refused again.
    std::erase_if(unsent, [](const JournalEntry& e) { return !e.refused.isEmpty(); });
    // A push asked for checks the server even with nothing to send: "nothing sent" then means
    // the server holds everything, not that it was never asked.
    if (unsent.empty() && !retryAtOnce) return 0;
    if (!server.BeginPush(retryAtOnce)) return -1;
    int sent = 0;
    for (std::size_t from = 0; from < unsent.size(); from += kPushBatch) {
        const std::size_t to = std::min(unsent.size(), from + kPushBatch);
        std::vector<JournalEntry> batch;
        batch.reserve(to - from);
        for (std::size_t i = from; i < to; ++i) {
            // Records are read a batch at a time, so a long queue costs no memory.
            std::optional<JournalEntry> full = FindHere(unsent[i].uuid);
            batch.push_back(full ? std::move(*full) : unsent[i]);
            if (!batch.back().HasRecord()) batch.back().sha256.clear();
        }
        const std::optional<ServerJournal::Sent> done = server.Send(batch);
        if (!done) return -1;
        // Marked only after the server has committed: a push cut here sends these again, and
        // the server keeps each UUID once.
        Mark(key, done->sent, done->refused);
        sent += static_cast<int>(done->sent.size());
    }
    return sent;
}

std::vector<JournalEntry> Journal::List(const JournalQuery& query) {
    const Op op(*this);
    ServerJournal* server = Server();
    if (!server) return ListHere(query);
    // Whatever waits to be sent goes first, so the list shows it as the team sees it.
    PushTo(*server, false);
    std::vector<JournalEntry> unsent = UnsentTo(server->Key(), nullptr);
    if (!query.account.isEmpty())
        std::erase_if(unsent, [&](const JournalEntry& e) { return e.account != query.account; });
    std::optional<std::vector<JournalEntry>> out = server->List(query, false);
    if (!out) {
        out = ListHere(query);
        for (JournalEntry& e : *out) {
            const auto u = std::find_if(unsent.begin(), unsent.end(),
                                        [&](const JournalEntry& u) { return u.uuid == e.uuid; });
            if (u != unsent.end()) e = *u;
        }
        return *out;
    }
    out->insert(out->end(), unsent.begin(), unsent.end());
    std::stable_sort(out->begin(), out->end(),
                     [](const JournalEntry& a, const JournalEntry& b) { return a.time > b.time; });
    if (query.limit > 0 && out->size() > static_cast<std::size_t>(query.limit))
        out->resize(static_cast<std::size_t>(query.limit));
    return *out;
}

std::optional<JournalEntry> Journal::Find(const QString& idOrUuid) {
    const Op op(*this);
    ServerJournal* server = Server();
    bool numeric = false;
    const qint64 id = idOrUuid.toLongLong(&numeric);
    // With a server, the numbers a list shows are the server's, and those of entries not yet
    // sent are their local numbers made negative.
    if (server && numeric && id < 0) {
        std::optional<JournalEntry> here = FindHere(QString::number(-id));
        if (here) {
            here->unsent = true;
            here->id = id;
        }
        return here;
    }
    if (server && numeric) {
        if (std::optional<JournalEntry> there = server->Find(idOrUuid)) return there;
    }
    if (std::optional<JournalEntry> here = FindHere(idOrUuid)) return here;
    return server && !numeric ? server->Find(idOrUuid) : std::nullopt;
}

JournalLookup Journal::Lookup(const QString& name) {
    const Op op(*this);
    const QString key = name.trimmed().toLower();
    JournalLookup out;
    auto unknown = [&] {
        out.status = JournalFound::Unknown;
        out.why = QStringLiteral("нет строки журнала %1").arg(name);
        return out;
    };
    ServerJournal* server = Server();
    auto unavailable = [&] {
        out.status = JournalFound::Unavailable;
        out.why = server && !server->Problem().isEmpty() ? server->Problem() : m_problem;
        return out;
    };
    auto found = [&](std::optional<JournalEntry> e) {
        if (!e) return m_problem.isEmpty() ? unknown() : unavailable();
        out.status = JournalFound::Found;
        out.entry = std::move(e);
        return out;
    };
    // An entry found only here, with a server set: named by its local number made negative.
    auto localOnly = [&](std::optional<JournalEntry> e) {
        if (e && server) {
            e->id = -e->id;
            e->unsent = true;
        }
        return e;
    };
    static const QRegularExpression number(QStringLiteral("^-?[0-9]{1,18}$"));
    static const QRegularExpression prefix(QStringLiteral("^[0-9a-f-]{4,36}$"));
    if (number.match(key).hasMatch()) {
        const qint64 id = key.toLongLong();
        if (id < 0) return server ? found(localOnly(FindHere(QString::number(-id)))) : unknown();
        if (!server) return found(FindHere(key));
        if (std::optional<JournalEntry> there = server->Find(key)) return found(std::move(there));
        return server->Problem().isEmpty() ? unknown() : unavailable();
    }
    if (!prefix.match(key).hasMatch()) {
        out.why = QStringLiteral("«%1» не номер записи и не её UUID").arg(name);
        return out;
    }
    std::vector<QString> uuids;
    if (Db* d = Open()) JournalStore(d->db(), false).UuidsStartingWith(key, 2, uuids);
    bool serverAnswered = false;
    if (server) {
        // Every entry here is there too once sent, so the server can only add candidates: a
        // name never means another entry when it answers.
        if (const auto there = server->UuidsStartingWith(key, 2)) {
            serverAnswered = true;
            for (const QString& uuid : *there)
                if (std::find(uuids.begin(), uuids.end(), uuid) == uuids.end())
                    uuids.push_back(uuid);
        }
    }
    if (uuids.size() > 1) {
        out.status = JournalFound::Ambiguous;
        out.why =
            QStringLiteral("«%1» — начало UUID нескольких строк журнала; укажите больше знаков")
                .arg(name);
        return out;
    }
    if (uuids.empty()) return server && !serverAnswered ? unavailable() : unknown();
    if (server && serverAnswered) {
        if (std::optional<JournalEntry> there = server->Find(uuids[0])) return found(there);
    }
    return found(localOnly(FindHere(uuids[0])));
}

void Journal::ReloadServer() {
    const Op op(*this);
    m_server.reset();
    m_serverChecked = false;
}

void Journal::ReportMovedAside(const QString& moved) {
    if (!m_problem.isEmpty()) return;
    m_problem = QStringLiteral("Файл журнала обменов %1 был повреждён: он сохранён как %2, начат "
                               "новый журнал, в него перенесено записей: %3.")
                    .arg(QDir::toNativeSeparators(m_location), QDir::toNativeSeparators(moved))
                    .arg(m_carried);
    Tell(m_problem);
}

void Journal::Report(const QString& why) {
    if (!m_problem.isEmpty()) return;
    m_problem = QStringLiteral("Журнал обменов недоступен (%1): %2. Работа продолжается без "
                               "журнала.")
                    .arg(QDir::toNativeSeparators(m_location), why);
    Tell(m_problem);
}

bool Journal::Failed(Db& d, const QString& what, const QSqlError& error) {
    if (IsCorrupt(error) && Recover(d, d.file) != Recovered::Failed) return false;
    Report(what.isEmpty() ? Why(error, m_busyTimeoutMs)
                          : what + ": " + Why(error, m_busyTimeoutMs));
    return false;
}

namespace {

// Moves a corrupt database and its side files aside under a dated name; nothing is deleted.
QString MoveAside(const QString& path) {
    const QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target;
    for (int n = 0;; ++n) {
        target = info.dir().filePath(info.completeBaseName() + QStringLiteral("-corrupt-") + stamp +
                                     (n ? QStringLiteral("-%1").arg(n) : QString()) + "." +
                                     info.suffix());
        if (!QFileInfo::exists(target)) break;
    }
    if (!QFile::rename(path, target)) return {};
    for (const char* side : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + side)) QFile::rename(path + side, target + side);
    }
    return target;
}

// What could be read out of a damaged journal, to be carried into the fresh one.
struct Salvage {
    std::vector<JournalEntry> entries; // each with its record when that reads back whole
    std::vector<std::pair<QString, QString>> sent; // server, uuid
    std::vector<QStringList> refused;              // server, uuid, reason
    std::vector<QVariant> recovery;                // the slot's columns, empty when none
};

bool Plausible(const JournalEntry& e) {
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    return e.id > 0 && uuid.match(e.uuid).hasMatch();
}

// Entries in id order. A damaged page ends a scan; a search for a later id descends past it
// through the tree's upper pages, so the scan goes on from the least id whose search does not
// meet the damage: every id below that lies on the damaged page itself.
void ReadEntries(const QSqlDatabase& db, std::vector<JournalEntry>& out) {
    const QString scan = QStringLiteral("SELECT ") + JournalStore::EntryColumns() +
                         QStringLiteral(" FROM entries e WHERE e.id >= ? ORDER BY e.id");
    // Whether a search for the first id from `t` on gets past the damage.
    auto reaches = [&](qint64 t) {
        QSqlQuery probe(db);
        probe.setForwardOnly(true);
        probe.prepare(QStringLiteral("SELECT id FROM entries WHERE id >= ? ORDER BY id LIMIT 1"));
        probe.addBindValue(t);
        if (!probe.exec()) return false;
        probe.next();
        return !probe.lastError().isValid();
    };
    constexpr qint64 kFar = qint64(1) << 40;
    qint64 from = 1;
    while (from < kFar) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(scan);
        q.addBindValue(from);
        const qint64 start = from;
        bool damaged = !q.exec();
        while (!damaged && q.next()) {
            JournalEntry e = JournalStore::EntryFromRow(q, false);
            if (e.id < from) break;
            from = e.id + 1;
            if (Plausible(e)) out.push_back(std::move(e));
        }
        damaged = damaged || q.lastError().isValid();
        if (!damaged) return;
        if (from > start && reaches(from)) continue;
        qint64 failing = from, step = 1;
        while (from + step < kFar && !reaches(from + step)) {
            failing = from + step;
            step *= 2;
        }
        if (from + step >= kFar) return;
        qint64 working = from + step;
        while (working - failing > 1) {
            const qint64 mid = failing + (working - failing) / 2;
            (reaches(mid) ? working : failing) = mid;
        }
        from = working > start ? working : start + 1;
    }
}

// Reads a copy, never the file moved aside: opening a database lets SQLite fold its WAL into
// it, and the file kept as evidence stays as it was found.
Salvage ReadWhatCanBeRead(const QString& moved) {
    Salvage out;
    const QString copy = moved + QStringLiteral(".reading");
    const char* sides[] = {"", "-wal", "-shm", "-journal"};
    for (const char* side : sides)
        QFile::remove(copy + side);
    if (!QFile::copy(moved, copy)) return out;
    if (QFileInfo::exists(moved + "-wal")) QFile::copy(moved + "-wal", copy + "-wal");
    const QString name = QStringLiteral("torvik7-journal-%1").arg(g_connectionCount.fetch_add(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(copy);
        if (db.open()) {
            ReadEntries(db, out.entries);
            for (JournalEntry& e : out.entries) {
                if (e.sha256.isEmpty()) continue;
                QSqlQuery q(db);
                q.setForwardOnly(true);
                q.prepare(QStringLiteral("SELECT record FROM records WHERE sha256 = ?"));
                q.addBindValue(e.sha256);
                if (q.exec() && q.next()) {
                    const QByteArray record = q.value(0).toByteArray();
                    if (record.size() == static_cast<qsizetype>(kRecordSize) &&
                        RecordSha256(record) == e.sha256)
                        e.record = record;
                }
            }
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (q.exec(QStringLiteral("SELECT server, uuid FROM server_sent")))
                while (q.next())
                    out.sent.emplace_back(q.value(0).toString(), q.value(1).toString());
            if (q.exec(QStringLiteral("SELECT server, uuid, reason FROM server_refused")))
                while (q.next())
                    out.refused.push_back(
                        {q.value(0).toString(), q.value(1).toString(), q.value(2).toString()});
            if (q.exec(QStringLiteral("SELECT time_utc, port, line_address, unit_address, title, "
                                      "record, sha256 FROM recovery")) &&
                q.next())
                for (int i = 0; i < 7; ++i)
                    out.recovery.push_back(q.value(i));
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    for (const char* side : sides)
        QFile::remove(copy + side);
    return out;
}

// Keeps what was read in the fresh journal, entries under their old numbers; the number of
// entries kept, or -1.
int Carry(QSqlDatabase db, const Salvage& s) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) return -1;
    auto fail = [&] {
        db.rollback();
        return -1;
    };
    int carried = 0;
    JournalStore store(db, false);
    for (const JournalEntry& e : s.entries) {
        qint64 added = 0;
        if (!store.Insert(e, true, &added)) return fail();
        carried += added != 0 ? 1 : 0;
    }
    for (const auto& [server, uuid] : s.sent) {
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO server_sent (server, uuid) VALUES (?, ?)"));
        q.addBindValue(server);
        q.addBindValue(uuid);
        if (!q.exec()) return fail();
    }
    for (const QStringList& r : s.refused) {
        q.prepare(QStringLiteral(
            "INSERT OR IGNORE INTO server_refused (server, uuid, reason) VALUES (?, ?, ?)"));
        for (const QString& value : r)
            q.addBindValue(value);
        if (!q.exec()) return fail();
    }
    if (!s.recovery.empty()) {
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO recovery (slot, time_utc, port, "
                                 "line_address, unit_address, title, record, sha256) "
                                 "VALUES (1, ?, ?, ?, ?, ?, ?, ?)"));
        for (const QVariant& value : s.recovery)
            q.addBindValue(value);
        if (!q.exec()) return fail();
    }
    q.finish();
    if (!db.commit()) return fail();
    return carried;
}

enum class Prepared { Ok, Failed, Corrupt, Busy };

} // namespace

bool Journal::TakeShared() {
    if (m_side->Held() != JournalSideLock::Mode::None) return true;
    if (m_side->Take(JournalSideLock::Mode::Shared, m_busyTimeoutMs)) return true;
    Report(m_side->Error().isEmpty() ? QStringLiteral("файл занят другой программой дольше %1 с")
                                           .arg(QString::number(m_busyTimeoutMs / 1000.0))
                                     : m_side->Error());
    return false;
}

Journal::Db* Journal::Open() {
    // A mistyped TORVIK7_JOURNAL makes no folders and no empty journal somewhere unexpected.
    // Made before the side lock, which lives in the same folder.
    const QString why =
        PrepareJournalFile(m_location, QFileInfo(m_location).absoluteFilePath() ==
                                           QFileInfo(StandardLocation()).absoluteFilePath());
    if (!why.isEmpty()) {
        Report(why);
        return nullptr;
    }
    if (!TakeShared()) return nullptr;
    QThread* const thread = QThread::currentThread();
    // Held shared, the side lock keeps the file where it is until the operation ends.
    const JournalFileId seen = JournalFileIdOf(m_location);
    for (auto& d : m_dbs) {
        if (d->thread == thread && d->db().isOpen()) {
            if (d->file == seen) return d.get();
            // Another process moved a damaged file aside: this connection still reads it, and
            // whatever it wrote would be lost with it. SQLite checkpoints nothing into a moved
            // file when it closes.
            d->db().close();
        }
    }
    // The driver follows from the location; a file path is a SQLite database.
    const JournalDialect dialect = DialectFor(QStringLiteral("QSQLITE"));
    if (!QSqlDatabase::isDriverAvailable(dialect.driver)) {
        Report(QStringLiteral("нет драйвера SQLite для Qt (пакет libqt6sql6-sqlite)"));
        return nullptr;
    }

    Db* d = nullptr;
    for (auto& existing : m_dbs)
        if (existing->thread == thread) d = existing.get();
    if (!d) {
        auto made = std::make_unique<Db>();
        made->name = QStringLiteral("torvik7-journal-%1").arg(g_connectionCount.fetch_add(1));
        made->thread = thread;
        made->dialect = dialect;
        d = made.get();
        m_dbs.push_back(std::move(made));
        QSqlDatabase db = QSqlDatabase::addDatabase(dialect.driver, d->name);
        db.setDatabaseName(m_location);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    }

    // One attempt at opening and migrating. A database another program is busy with (it
    // may be creating the very same tables) is tried again until the busy time-out.
    QSqlError busy;
    auto prepare = [&]() -> Prepared {
        QSqlDatabase db = d->db();
        auto fail = [&](const QSqlError& error) {
            if (db.isOpen()) {
                db.rollback();
                db.close();
            }
            if (IsCorrupt(error)) return Prepared::Corrupt;
            const int code = NativeCode(error);
            if (code == kSqliteBusy || code == kSqliteLocked) {
                busy = error;
                return Prepared::Busy;
            }
            Failed(*d, {}, error);
            return Prepared::Failed;
        };
        if (!db.open()) return fail(db.lastError());
        QSqlQuery q(db);
        // WAL lets the window and torvik7ctl read while the other writes.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL"))) return fail(q.lastError());
        q.finish();
        // Every entry reaches the disk before the session's end is reported.
        q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
        q.finish();
        if (!q.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version "
                                   "(version INTEGER NOT NULL)")))
            return fail(q.lastError());
        QSqlError versionError;
        auto version = [&]() {
            QSqlQuery v(db);
            if (!v.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !v.next()) {
                versionError = v.lastError();
                return -1;
            }
            return v.value(0).isNull() ? 0 : v.value(0).toInt();
        };
        int current = version();
        if (current < 0) return fail(versionError);
        if (current > JournalSchemaVersion()) {
            db.close();
            Report(QStringLiteral("журнал создан более новой версией программы (схема %1)")
                       .arg(current));
            return Prepared::Failed;
        }
        while (current < JournalSchemaVersion()) {
            QSqlQuery t(db);
            if (!t.exec(d->dialect.beginWrite)) return fail(t.lastError());
            // Another program may have migrated while this one waited for the lock.
            current = version();
            if (current < 0) return fail(versionError);
            if (current >= JournalSchemaVersion()) {
                db.commit();
                break;
            }
            const int to = current + 1;
            for (const QString& statement : JournalMigration(to, d->dialect)) {
                QSqlQuery m(db);
                if (!m.exec(statement)) return fail(m.lastError());
            }
            QSqlQuery m(db);
            m.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
            m.addBindValue(to);
            if (!m.exec()) return fail(m.lastError());
            m.finish();
            if (!db.commit()) return fail(db.lastError());
            current = to;
        }
        return Prepared::Ok;
    };
    auto prepareWaiting = [&]() {
        QElapsedTimer waited;
        waited.start();
        Prepared state = prepare();
        while (state == Prepared::Busy && waited.elapsed() < m_busyTimeoutMs) {
            QThread::msleep(20);
            state = prepare();
        }
        if (state == Prepared::Busy) {
            Failed(*d, {}, busy);
            state = Prepared::Failed;
        }
        return state;
    };

    Prepared state = prepareWaiting();
    if (state == Prepared::Corrupt) {
        if (m_recovering || Recover(*d, seen) == Recovered::Failed) return nullptr;
        state = prepareWaiting();
    }
    if (state != Prepared::Ok) return nullptr;
    d->file = JournalFileIdOf(m_location);
    return d;
}

Journal::Recovered Journal::Recover(Db& d, const JournalFileId& seen) {
    // Once per run: a fresh journal that is damaged at once is not moved aside in turn.
    if (m_recovering || !m_movedAside.isEmpty()) return Recovered::Failed;
    m_recovering = true;
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{m_recovering};
    auto closeHere = [&] {
        QSqlDatabase db = d.db();
        if (db.isOpen()) db.close();
    };
    // Let go before waiting: two processes that met the damage at once must not each hold a
    // shared lock while waiting for the exclusive one.
    m_side->Release();
#ifdef _WIN32
    // Nor an open connection: Windows renames no file another process holds open.
    closeHere();
#endif
    if (!m_side->Take(JournalSideLock::Mode::Exclusive, m_busyTimeoutMs)) {
        closeHere();
        Report(QStringLiteral("файл повреждён, а другая программа работает с ним дольше %1 с; "
                              "он будет сохранён и заменён новым при следующем обращении")
                   .arg(QString::number(m_busyTimeoutMs / 1000.0)));
        return Recovered::Failed;
    }
    if (JournalFileIdOf(m_location) != seen) {
        closeHere();
        if (m_problem.isEmpty()) {
            m_problem = QStringLiteral("Файл журнала обменов %1 был повреждён: другая программа "
                                       "уже сохранила его и начала новый журнал.")
                            .arg(QDir::toNativeSeparators(m_location));
            Tell(m_problem);
        }
        return Recovered::ByAnother;
    }
    const QString moved = MoveAside(m_location);
    // Closed only now, so SQLite sees the file moved and folds nothing into it.
    closeHere();
    if (moved.isEmpty()) {
        Report(QStringLiteral("файл повреждён и не может быть переименован"));
        return Recovered::Failed;
    }
    m_movedAside = moved;
    const Salvage salvage = ReadWhatCanBeRead(moved);
    m_carried = 0;
    if (Db* fresh = Open()) m_carried = std::max(0, Carry(fresh->db(), salvage));
    ReportMovedAside(moved);
    return Recovered::Here;
}

bool Journal::Ready() {
    const Op op(*this);
    return Open() != nullptr;
}

bool Journal::Add(JournalEntry& e) {
    const Op op(*this);
    if (e.uuid.isEmpty()) e.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!e.time.isValid()) e.time = QDateTime::currentDateTimeUtc();
    if (e.resultText.isEmpty() && !IsUnsaved(e.action)) e.resultText = ResultMeaning(e.result);
    // An entry names a record only when it keeps one.
    e.sha256 = e.HasRecord() ? RecordSha256(e.record) : QString();

    for (int attempt = 0; attempt < 2; ++attempt) {
        Db* d = Open();
        if (!d) return false;
        QSqlDatabase db = d->db();
        QSqlQuery q(db);
        QSqlError error;
        bool ok = q.exec(d->dialect.beginWrite);
        if (!ok) error = q.lastError();
        if (ok) {
            JournalStore store(db, false);
            ok = store.Insert(e, false, &e.id);
            if (!ok) error = store.Error();
        }
        if (ok && !db.commit()) {
            ok = false;
            error = db.lastError();
        }
        if (!ok) db.rollback();
        if (ok) {
            // Kept here first; the team's server gets it beside the work, now or at a later push.
            if (Server()) PushBeside();
            return true;
        }
        if (IsCorrupt(error) && attempt == 0 && Recover(*d, d->file) != Recovered::Failed) continue;
        return Failed(*d, {}, error);
    }
    return false;
}

std::vector<JournalEntry> Journal::ListHere(const JournalQuery& query) {
    const Op op(*this);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<JournalEntry> out;
        Db* d = Open();
        if (!d) return out;
        QSqlError error;
        if (ListFrom(*d, query, out, error)) return out;
        // The damage is said (and the command fails), and the list shows what was carried.
        if (IsCorrupt(error) && attempt == 0 && Recover(*d, d->file) != Recovered::Failed) continue;
        Failed(*d, {}, error);
        return {};
    }
    return {};
}

bool Journal::ListFrom(Db& d, const JournalQuery& query, std::vector<JournalEntry>& out,
                       QSqlError& error) {
    JournalStore store(d.db(), false);
    const bool ok = store.List(query, out);
    error = store.Error();
    return ok;
}

std::optional<JournalEntry> Journal::FindHere(const QString& idOrUuid) {
    const Op op(*this);
    Db* d = Open();
    if (!d) return std::nullopt;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlError error;
        std::optional<JournalEntry> found = FindIn(*d, idOrUuid, error);
        if (!error.isValid()) return found;
        if (IsCorrupt(error) && attempt == 0 && Recover(*d, d->file) != Recovered::Failed &&
            (d = Open()) != nullptr)
            continue;
        if (d) Failed(*d, {}, error);
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<JournalEntry> Journal::FindIn(Db& d, const QString& idOrUuid, QSqlError& error) {
    JournalStore store(d.db(), false);
    std::optional<JournalEntry> found = store.Find(idOrUuid);
    error = store.Error();
    return found;
}

int Journal::Prune(const QDateTime& before, bool all, bool unsentToo, int* kept) {
    const Op op(*this);
    if (kept) *kept = 0;
    Db* d = Open();
    if (!d) return -1;
    // An entry the team's server lacks exists nowhere else: it goes only when asked by name.
    QString server;
    if (!unsentToo && kServerJournalBuilt) {
        if (const auto address = ParseServerAddress(JournalServerAddress()))
            server = address->Key();
    }
    const QString old =
        QStringLiteral(" FROM entries WHERE time_utc < ? AND (? <> 0 OR (action NOT IN (?, ?) AND "
                       "half_written = 0))");
    const QString unsent = QStringLiteral(" AND uuid NOT IN (SELECT uuid FROM server_sent"
                                          " WHERE server = ?)");
    auto bind = [&](QSqlQuery& q) {
        q.addBindValue(ToStored(before));
        q.addBindValue(all ? 1 : 0);
        q.addBindValue(ActionName(JournalAction::UnsavedAtExit));
        q.addBindValue(ActionName(JournalAction::Replaced));
        q.addBindValue(JournalStore::Text(server));
    };
    QSqlDatabase db = d->db();
    QSqlQuery q(db);
    if (!q.exec(d->dialect.beginWrite)) {
        Failed(*d, {}, q.lastError());
        return -1;
    }
    if (!server.isEmpty() && kept) {
        q.prepare(QStringLiteral("SELECT count(*)") + old + unsent);
        bind(q);
        if (!q.exec() || !q.next()) {
            const QSqlError error = q.lastError();
            db.rollback();
            Failed(*d, {}, error);
            return -1;
        }
        *kept = q.value(0).toInt();
        q.finish();
    }
    q.prepare(QStringLiteral("DELETE") + old +
              (server.isEmpty() ? QStringLiteral(" AND ? = ''")
                                : QStringLiteral(" AND uuid IN (SELECT uuid FROM server_sent"
                                                 " WHERE server = ?)")));
    bind(q);
    if (!q.exec()) {
        const QSqlError error = q.lastError();
        db.rollback();
        Failed(*d, {}, error);
        return -1;
    }
    const int removed = q.numRowsAffected();
    q.finish();
    // A refusal goes with its entry.
    if (!q.exec(QStringLiteral("DELETE FROM server_refused WHERE uuid NOT IN "
                               "(SELECT uuid FROM entries)"))) {
        const QSqlError error = q.lastError();
        db.rollback();
        Failed(*d, {}, error);
        return -1;
    }
    // Records no entry names any more go with their last entry.
    if (!q.exec(QStringLiteral("DELETE FROM records WHERE sha256 NOT IN "
                               "(SELECT sha256 FROM entries WHERE sha256 IS NOT NULL)"))) {
        const QSqlError error = q.lastError();
        db.rollback();
        Failed(*d, {}, error);
        return -1;
    }
    if (!db.commit()) {
        const QSqlError error = db.lastError();
        db.rollback();
        Failed(*d, {}, error);
        return -1;
    }
    return removed;
}

bool Journal::KeepRecovery(const JournalEntry& slot) {
    const Op op(*this);
    if (!slot.HasRecord()) return false;
    Db* d = Open();
    if (!d) return false;
    QSqlDatabase db = d->db();
    QSqlQuery q(db);
    if (!q.exec(d->dialect.beginWrite)) return Failed(*d, {}, q.lastError());
    bool ok = q.exec(QStringLiteral("DELETE FROM recovery"));
    if (ok) {
        q.prepare(QStringLiteral("INSERT INTO recovery (slot, time_utc, port, line_address, "
                                 "unit_address, title, record, sha256) "
                                 "VALUES (1, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(ToStored(slot.time.isValid() ? slot.time : QDateTime::currentDateTimeUtc()));
        q.addBindValue(JournalStore::Text(slot.port));
        q.addBindValue(slot.lineAddress);
        q.addBindValue(slot.unitAddress);
        q.addBindValue(JournalStore::Text(slot.title));
        q.addBindValue(slot.record);
        q.addBindValue(RecordSha256(slot.record));
        ok = q.exec();
    }
    QSqlError error = q.lastError();
    q.finish();
    if (ok && !db.commit()) {
        ok = false;
        error = db.lastError();
    }
    if (!ok) {
        db.rollback();
        return Failed(*d, {}, error);
    }
    return true;
}

bool Journal::ClearRecovery() {
    const Op op(*this);
    Db* d = Open();
    if (!d) return false;
    QSqlQuery q(d->db());
    if (!q.exec(QStringLiteral("DELETE FROM recovery"))) return Failed(*d, {}, q.lastError());
    return true;
}

std::optional<JournalEntry> Journal::RecoverUnsaved() {
    const Op op(*this);
    Db* d = Open();
    if (!d) return std::nullopt;
    JournalEntry e;
    {
        QSqlQuery q(d->db());
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT time_utc, port, line_address, unit_address, title, "
                                   "record FROM recovery"))) {
            Failed(*d, {}, q.lastError());
            return std::nullopt;
        }
        if (!q.next()) return std::nullopt;
        e.time = FromStored(q.value(0).toLongLong());
        e.port = q.value(1).toString();
        e.lineAddress = q.value(2).toInt();
        e.unitAddress = q.value(3).toInt();
        e.title = q.value(4).toString();
        e.record = q.value(5).toByteArray();
    }
    e.action = JournalAction::UnsavedAtExit;
    e.source = JournalSource::Window;
    e.resultText = QStringLiteral("Программа завершилась не штатно");
    if (e.record.size() == static_cast<qsizetype>(kRecordSize)) {
        SettingsRecord r;
        std::memcpy(&r, e.record.constData(), kRecordSize);
        e.SetRecord(r);
    }
    // The slot is emptied only once its entry is kept: a failure here leaves it for next time.
    if (!Add(e)) return std::nullopt;
    ClearRecovery();
    return e;
}
