#include "journal/ServerJournal.h"

#include "journal/JournalSchema.h"
#include "journal/JournalStore.h"

#include <QDir>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#ifndef _WIN32
#include <dlfcn.h>
#include <sys/socket.h>
#endif

namespace {

// A server found unreachable is asked again only after this long, so a window that keeps
// journaling while the network is down does not wait on every entry.
constexpr qint64 kRetryAfterMs = 60000;
const char kSettingsKey[] = "journal/server";

// SQLSTATE codes of the faults an installer can meet.
const char kInsufficientPrivilege[] = "42501";
const char kUndefinedTable[] = "42P01";

std::atomic<unsigned> g_serverConnections{0};

// A fault of one entry's content (SQLSTATE classes 22 and 23: a value or a rule of the table),
// not of the connection or the rights: that entry is set aside and the rest go on.
bool RefusedForContent(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code.startsWith(QLatin1String("22")) || code.startsWith(QLatin1String("23"));
}

// Why the server refused an entry, for the operator; the server's own words after a Russian
// sentence where no rule of ours is named.
QString RefusalReason(const QSqlError& error) {
    const QString text = error.databaseText();
    if (text.contains(QLatin1String("entries_not_after_arrival")))
        return QStringLiteral("время записи позже, чем сервер её получил (часы этого компьютера "
                              "спешат)");
    if (text.contains(QLatin1String("records_whole")))
        return QStringLiteral("настройки записи не совпадают со своей суммой SHA-256");
    if (text.contains(QLatin1String("entries_uuid_form")))
        return QStringLiteral("у записи неверный UUID");
    if (error.nativeErrorCode() == QLatin1String("22001"))
        return QStringLiteral("текст записи длиннее, чем принимает сервер");
    return QStringLiteral("сервер не принял запись (%1)").arg(text.trimmed());
}

// Options the operator may give in the address; anything else is refused rather than passed
// to the driver unseen.
const char* const kAllowedOptions[] = {"sslmode", "sslrootcert",     "sslcert",
                                       "sslkey",  "connect_timeout", "application_name"};

// The socket under a Qt SQL connection to PostgreSQL, -1 when it cannot be told. libpq is
// already loaded by Qt's driver then; it is looked up there rather than linked, so a computer
// without a team's server needs no libpq.
int SocketOf(const QSqlDatabase& db) {
#ifdef _WIN32
    Q_UNUSED(db);
    return -1;
#else
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // PGconn is libpq's name for struct pg_conn; Qt names the type either way.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return -1;
    void* const connection = *static_cast<void* const*>(handle.constData());
    using SocketFn = int (*)(const void*);
    static std::atomic<SocketFn> socketOf{nullptr};
    if (!socketOf.load()) {
        void* const library = dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD);
        if (library) socketOf = reinterpret_cast<SocketFn>(dlsym(library, "PQsocket"));
    }
    const SocketFn fn = socketOf.load();
    return fn && connection ? fn(connection) : -1;
#endif
}

// The window and torvik7ctl read the same file, whatever the application object says.
QSettings Settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("torvik7-setup"),
                     QStringLiteral("torvik7-setup"));
}

} // namespace

bool IsServerAddress(const QString& location) {
    return location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive) ||
           location.startsWith(QLatin1String("postgres://"), Qt::CaseInsensitive);
}

QString JournalServerAddress() {
    if (!kServerJournalBuilt) return {};
    const QString env = QString::fromLocal8Bit(qgetenv("TORVIK7_JOURNAL"));
    if (!env.isEmpty()) return IsServerAddress(env) ? env : QString();
    return Settings().value(QLatin1String(kSettingsKey)).toString();
}

bool SetJournalServerAddress(const QString& address, QString* why) {
    const QString trimmed = address.trimmed();
    if (!trimmed.isEmpty() && !ParseServerAddress(trimmed, why)) return false;
    QSettings settings = Settings();
    if (trimmed.isEmpty())
        settings.remove(QLatin1String(kSettingsKey));
    else
        settings.setValue(QLatin1String(kSettingsKey), trimmed);
    settings.sync();
    return true;
}

QString ServerAddress::Key() const {
    return host + ':' + QString::number(port) + '/' + database;
}

QString ServerAddress::Shown() const {
    return (user.isEmpty() ? QString() : user + '@') + host + ':' + QString::number(port) + '/' +
           database;
}

std::optional<ServerAddress> ParseServerAddress(const QString& url, QString* why) {
    auto fail = [why](const QString& text) -> std::optional<ServerAddress> {
        if (why) *why = text;
        return std::nullopt;
    };
    const QUrl u(url, QUrl::StrictMode);
    if (!IsServerAddress(url) || !u.isValid() || u.host().isEmpty())
        return fail(QStringLiteral("адрес сервера журнала должен иметь вид "
                                   "postgresql://пользователь@сервер:порт/база"));
    if (!u.password().isEmpty())
        return fail(QStringLiteral("пароль в адресе сервера журнала не указывают: он берётся из "
                                   "~/.pgpass или переменной PGPASSWORD"));
    // Spaces and control characters, written or %-encoded, would end one option and start
    // another in what the driver hands libpq: a password or another login slipped in.
    const auto unsafe = [](const QString& text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) {
            return c.isSpace() || c.category() == QChar::Other_Control ||
                   c.category() == QChar::Other_Format || c == '\'' || c == '\\' || c == ';';
        });
    };
    if (unsafe(url) || unsafe(u.userName()) || unsafe(u.host()) || unsafe(u.path()) ||
        unsafe(QUrlQuery(u).query(QUrl::FullyDecoded)))
        return fail(QStringLiteral("в адресе сервера журнала не должно быть пробелов, "
                                   "управляющих символов, кавычек и «;»"));
    ServerAddress a;
    a.host = u.host();
    a.port = u.port(5432);
    a.user = u.userName();
    a.database = u.path().mid(1);
    QStringList options;
    bool timeoutGiven = false;
    for (const auto& item : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
        const bool allowed = std::any_of(std::begin(kAllowedOptions), std::end(kAllowedOptions),
                                         [&](const char* k) { return item.first == k; });
        if (!allowed || item.second.contains('='))
            return fail(QStringLiteral("неизвестный параметр «%1» в адресе сервера журнала")
                            .arg(item.first));
        if (item.first == QLatin1String("connect_timeout")) timeoutGiven = true;
        options << item.first + '=' + item.second;
    }
    if (!timeoutGiven) options << QStringLiteral("connect_timeout=2");
    // A server that vanishes without closing the connection (a cable pulled, a laptop's Wi-Fi
    // gone) is given up within seconds, not after the system's two hours.
    options << QStringLiteral("keepalives_idle=10") << QStringLiteral("keepalives_interval=3")
            << QStringLiteral("keepalives_count=3") << QStringLiteral("tcp_user_timeout=10000");
    a.options = options.join(';');
    return a;
}

ServerJournal::ServerJournal(const QString& url) : m_url(url) {
    m_address = ParseServerAddress(url, &m_addressProblem);
    const unsigned n = g_serverConnections.fetch_add(1);
    m_base = QStringLiteral("torvik7-journal-%1").arg(n);
}

// Cuts the connection when a call outlives its limit: libpq waits for an answer as long as the
// socket stays open, and a server (or anything between) that takes a query and says nothing
// must hold no one up.
class ServerJournal::CallLimit {
public:
    CallLimit(ServerJournal& owner, int ms) : m_owner(owner) {
        {
            const std::lock_guard<std::mutex> lock(owner.m_socketMutex);
            owner.m_timedOut = false;
            owner.m_limitMs = ms;
        }
        m_thread = std::thread([this, ms] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (!m_done.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_over; }))
                m_owner.CutConnection(true);
        });
    }
    ~CallLimit() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_over = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    CallLimit(const CallLimit&) = delete;
    CallLimit& operator=(const CallLimit&) = delete;

private:
    ServerJournal& m_owner;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_over = false;
    std::thread m_thread;
};

void ServerJournal::CutConnection(bool timedOut) {
    const std::lock_guard<std::mutex> lock(m_socketMutex);
    if (timedOut)
        m_timedOut = true;
    else
        m_cancelled = true;
#ifndef _WIN32
    // The blocked call then fails at once, on its own thread, and closes the connection there.
    if (m_socket >= 0) ::shutdown(m_socket, SHUT_RDWR);
#endif
}

void ServerJournal::Cancel() {
    CutConnection(false);
}

void ServerJournal::CloseServer() {
    {
        // Forgotten first: the descriptor may be another file's once the connection is closed.
        const std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = -1;
    }
    if (QSqlDatabase::contains(ServerName())) QSqlDatabase::database(ServerName(), false).close();
}

ServerJournal::~ServerJournal() {
    for (const QString& name : m_made) {
        if (!QSqlDatabase::contains(name)) continue;
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen()) db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
}

// Qt SQL connections belong to the thread that opened them, and a session may end on a thread
// of its own: each thread gets connections of its own.
QString ServerJournal::Named(const char* what) {
    const QString name = QStringLiteral("%1-%2-%3")
                             .arg(m_base, QLatin1String(what))
                             .arg(reinterpret_cast<quintptr>(QThread::currentThread()));
    if (std::find(m_made.begin(), m_made.end(), name) == m_made.end()) m_made.push_back(name);
    return name;
}

QString ServerJournal::ServerName() {
    return Named("server");
}

void ServerJournal::SetProblemHandler(std::function<void(const QString&)> handler) {
    m_onProblem = std::move(handler);
}

bool ServerJournal::Fail(const QString& why) {
    m_sinceFailure.start();
    if (!m_problem.isEmpty()) return false;
    m_problem = QStringLiteral("Журнал на сервере недоступен (%1): %2. Записи сохраняются на "
                               "этом компьютере и будут отправлены, когда сервер станет "
                               "доступен.")
                    .arg(m_address ? m_address->Shown() : m_url, why);
    if (m_onProblem) m_onProblem(m_problem);
    return false;
}

bool ServerJournal::FailSql(const QSqlError& error, const QString& doing) {
    const QString code = error.nativeErrorCode();
    const QString text = error.databaseText() + ' ' + error.driverText();
    QString why;
    bool timedOut = false, cancelled = false;
    int limitMs = 0;
    {
        const std::lock_guard<std::mutex> lock(m_socketMutex);
        timedOut = m_timedOut;
        cancelled = m_cancelled;
        limitMs = m_limitMs;
    }
    if (cancelled)
        why = QStringLiteral("отправка прервана");
    else if (timedOut)
        why = QStringLiteral("сервер не ответил за %1 с").arg(limitMs / 1000);
    else if (code == QLatin1String(kInsufficientPrivilege))
        why =
            QStringLiteral("у роли %1 нет прав %2 (она должна входить в роль torvik7_installer)")
                .arg(m_address->user.isEmpty() ? QStringLiteral("входа") : m_address->user, doing);
    else if (code == QLatin1String(kUndefinedTable))
        why = QStringLiteral("в базе нет таблиц журнала (их создаёт docs/server/schema.sql)");
    else if (text.contains(QLatin1String("password authentication failed")) ||
             text.contains(QLatin1String("no password supplied")))
        why = QStringLiteral("неверное имя или пароль (пароль берётся из ~/.pgpass или "
                             "переменной PGPASSWORD)");
    else if (text.contains(QLatin1String("does not exist")))
        why = QStringLiteral("нет такой базы или роли на сервере");
    else if (text.contains(QLatin1String("timeout expired")) ||
             text.contains(QLatin1String("Connection refused")) ||
             text.contains(QLatin1String("could not connect")) ||
             text.contains(QLatin1String("could not translate host name")))
        why = QStringLiteral("сервер не отвечает");
    else if (text.contains(QLatin1String("terminat")) || text.contains(QLatin1String("closed")) ||
             text.contains(QLatin1String("no connection")) ||
             code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")))
        why = QStringLiteral("связь с сервером прервалась");
    else
        why = QStringLiteral("сервер ответил ошибкой");
    // The driver's own words behind the sentence, for whoever helps the operator.
    const QString words = error.text().simplified();
    if (!cancelled && !timedOut && !words.isEmpty()) why += QStringLiteral(" (") + words + ')';
    // A connection in an unknown state is dropped; the next attempt opens a fresh one.
    CloseServer();
    return Fail(why);
}

bool ServerJournal::Connect(bool retryAtOnce) {
    if (!m_address) return Fail(m_addressProblem);
    if (QSqlDatabase::contains(ServerName()) &&
        QSqlDatabase::database(ServerName(), false).isOpen())
        return true;
    if (!retryAtOnce && m_sinceFailure.isValid() && m_sinceFailure.elapsed() < kRetryAfterMs)
        return false;
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return Fail(QStringLiteral("нет драйвера PostgreSQL для Qt (пакет libqt6sql6-psql)"));
    if (!QSqlDatabase::contains(ServerName())) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), ServerName());
        db.setHostName(m_address->host);
        db.setPort(m_address->port);
        db.setUserName(m_address->user);
        db.setDatabaseName(m_address->database);
        db.setConnectOptions(m_address->options);
        if (!m_password.isEmpty()) db.setPassword(m_password);
    }
    QSqlDatabase db = QSqlDatabase::database(ServerName(), false);
    {
        const std::lock_guard<std::mutex> lock(m_socketMutex);
        if (m_cancelled) return Fail(QStringLiteral("отправка прервана"));
    }
    if (!db.open()) return FailSql(db.lastError(), QString());
    {
        const std::lock_guard<std::mutex> lock(m_socketMutex);
        m_socket = SocketOf(db);
        if (m_cancelled || m_timedOut) {
            m_socket = -1;
            db.close();
            return Fail(m_cancelled
                            ? QStringLiteral("отправка прервана")
                            : QStringLiteral("сервер не ответил за %1 с").arg(m_limitMs / 1000));
        }
    }
    // A server that answers but works too long gives up itself; one that goes silent has its
    // connection cut by the call's limit.
    QSqlQuery(db).exec(QStringLiteral("SET statement_timeout = 10000"));
    if (!CheckSchema()) return false;
    m_sinceFailure.invalidate();
    return true;
}

// The server's tables are made and migrated by the team's administrator (docs/server/),
// with the same steps as the local journal's; an installer only checks the version.
bool ServerJournal::CheckSchema() {
    QSqlQuery q(QSqlDatabase::database(ServerName(), false));
    if (!q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !q.next())
        return FailSql(q.lastError(), QStringLiteral("читать журнал"));
    const int version = q.value(0).toInt();
    if (version > JournalSchemaVersion()) {
        CloseServer();
        return Fail(QStringLiteral("журнал на сервере создан более новой версией программы "
                                   "(схема %1, эта программа знает %2); обновите программу")
                        .arg(version)
                        .arg(JournalSchemaVersion()));
    }
    if (version < JournalSchemaVersion()) {
        CloseServer();
        return Fail(QStringLiteral("схема журнала на сервере устарела (%1 вместо %2); её "
                                   "обновляет администратор")
                        .arg(version)
                        .arg(JournalSchemaVersion()));
    }
    return true;
}

QString ServerJournal::Key() const {
    return m_address ? m_address->Key() : QString();
}

bool ServerJournal::BeginPush(bool retryAtOnce) {
    m_pushStarted.start();
    const CallLimit limit(*this, kPushLimitMs);
    return Connect(retryAtOnce);
}

std::optional<ServerJournal::Sent> ServerJournal::Send(const std::vector<JournalEntry>& batch) {
    // The whole push has one limit, however many batches it takes.
    const qint64 left = kPushLimitMs - (m_pushStarted.isValid() ? m_pushStarted.elapsed() : 0);
    if (left <= 0) {
        {
            const std::lock_guard<std::mutex> lock(m_socketMutex);
            m_timedOut = true;
            m_limitMs = kPushLimitMs;
        }
        return FailSql(QSqlError(), {}), std::nullopt;
    }
    const CallLimit limit(*this, static_cast<int>(left));
    if (!Connect(true)) return std::nullopt;
    QSqlDatabase db = QSqlDatabase::database(ServerName(), false);
    const QString adding = QStringLiteral("добавлять записи в журнал");
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN"))) return FailSql(q.lastError(), adding), std::nullopt;
    JournalStore store(db, true);
    Sent out;
    for (const JournalEntry& e : batch) {
        // Each entry behind a savepoint of its own: one the server refuses for its content is
        // taken back alone, and the rest of the batch still goes.
        if (!q.exec(QStringLiteral("SAVEPOINT entry"))) {
            const QSqlError error = q.lastError();
            db.rollback();
            return FailSql(error, adding), std::nullopt;
        }
        if (store.Insert(e)) {
            out.sent.push_back(e.uuid);
            continue;
        }
        const QSqlError error = store.Error();
        if (RefusedForContent(error) && q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT entry"))) {
            out.refused.emplace_back(e.uuid, RefusalReason(error));
            continue;
        }
        db.rollback();
        return FailSql(error, adding), std::nullopt;
    }
    if (!db.commit()) return FailSql(db.lastError(), {}), std::nullopt;
    return out;
}

std::optional<std::vector<JournalEntry>> ServerJournal::List(const JournalQuery& query,
                                                             bool retryAtOnce) {
    const CallLimit limit(*this, kCallLimitMs);
    if (!Connect(retryAtOnce)) return std::nullopt;
    JournalStore store(QSqlDatabase::database(ServerName(), false), true);
    std::vector<JournalEntry> out;
    if (!store.List(query, out))
        return FailSql(store.Error(), QStringLiteral("читать журнал")), std::nullopt;
    return out;
}

std::optional<JournalEntry> ServerJournal::Find(const QString& idOrUuid) {
    const CallLimit limit(*this, kCallLimitMs);
    if (!Connect(false)) return std::nullopt;
    JournalStore store(QSqlDatabase::database(ServerName(), false), true);
    std::optional<JournalEntry> e = store.Find(idOrUuid);
    if (store.Error().isValid()) FailSql(store.Error(), QStringLiteral("читать журнал"));
    return e;
}

std::optional<std::vector<QString>> ServerJournal::UuidsStartingWith(const QString& prefix,
                                                                     int limit) {
    const CallLimit callLimit(*this, kCallLimitMs);
    if (!Connect(true)) return std::nullopt;
    JournalStore store(QSqlDatabase::database(ServerName(), false), true);
    std::vector<QString> out;
    if (!store.UuidsStartingWith(prefix, limit, out))
        return FailSql(store.Error(), QStringLiteral("читать журнал")), std::nullopt;
    return out;
}

bool ServerJournal::CheckConnection(const QString& password, QString& what) {
    m_password = password;
    m_problem.clear();
    bool connected = false;
    {
        CallLimit limit(*this, kCallLimitMs);
        connected = Connect(true);
        if (connected) {
            QSqlQuery q(QSqlDatabase::database(ServerName(), false));
            int version = 0;
            if (q.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) && q.next())
                version = q.value(0).toInt();
            QStringList rights;
            // Column rights count: an installer may insert every column but `installer`.
            const std::pair<const char*, const char*> kinds[] = {
                {"has_any_column_privilege('entries', 'SELECT')", "читать"},
                {"has_any_column_privilege('entries', 'INSERT')", "добавлять"},
                {"has_any_column_privilege('entries', 'UPDATE')", "изменять"},
                {"has_table_privilege('entries', 'DELETE')", "удалять"}};
            for (const auto& [test, word] : kinds)
                if (q.exec(QStringLiteral("SELECT ") + QLatin1String(test)) && q.next() &&
                    q.value(0).toBool())
                    rights << QString::fromUtf8(word);
            connected = rights.contains(QStringLiteral("добавлять"));
            what = QStringLiteral("Соединение установлено: %1, схема журнала %2. Записи журнала "
                                  "эта роль может: %3.%4")
                       .arg(m_address->Shown())
                       .arg(version)
                       .arg(rights.isEmpty() ? QStringLiteral("ничего") : rights.join(", "),
                            connected ? QString()
                                      : QStringLiteral(" Добавлять записи она не может: "
                                                       "журнал туда не попадёт."));
        }
    }
    if (!m_problem.isEmpty()) what = m_problem;
    CloseServer();
    m_password.clear();
    return connected;
}
