// The exchange journal on real SQLite files: what each session's end keeps, the recovery
// slot, pruning, and what an unusable database does (and does not) stop.
#include "journal/Journal.h"
#include "link/LinkFakes.h"
#include "link/TransferSession.h"
#include "sessionjournal/SessionJournal.h"
#include "support/Lines.h"
#include "support/ObjectsJournal.h"
#include "support/OtherUser.h"
#include "support/Records.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class JournalFiles : public ::testing::Test {
protected:
    QString Path(const char* name = "journal.sqlite") const {
        return QString::fromStdString((dir / name).string());
    }
    TempDir temp{"journal"};
    const fs::path dir = temp.path();
};

// "ok" from SQLite's own check, through a connection of its own.
std::string IntegrityCheck(const QString& path) {
    std::string answer;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "check");
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next())
                answer = q.value(0).toString().toStdString();
        }
    }
    QSqlDatabase::removeDatabase("check");
    return answer;
}

// ---- what each way a session ends keeps ----

struct EndCase {
    const char* name;
    SessionKind kind;
    std::function<void(ModelOpener&, BetweenBlocks&)> arrange;
    int result;
    bool record;
    int blocks;
    bool halfWritten;
};

class SessionEnds : public JournalFiles, public ::testing::WithParamInterface<EndCase> {};

TEST_P(SessionEnds, GiveTheirEntry) {
    const EndCase& c = GetParam();
    SimConfig config;
    config.lineAddress = 9;
    config.unitAddress = 2;
    ModelOpener opener(config);
    CountingPacer pacer;
    RecordingView view;
    view.portName = "/dev/ttyUSB0";
    BetweenBlocks operatorHand;
    c.arrange(opener, operatorHand);

    Journal journal(Path());
    SessionJournal keeper(&journal);
    keeper.context.port = QStringLiteral("USB0 (ttyUSB0)");
    keeper.context.lineAddress = 9;
    keeper.context.unitAddress = 2;
    keeper.context.title = QStringLiteral("Утилита настройки ТОРВИК-7 - [a.stg]");
    SessionOptions options;
    options.lineAddress = 9;
    options.unitAddress = 2;
    options.pacer = &pacer;
    options.opener = &opener;
    options.dumpPath = (dir / "data.txt").string();
    options.observers = {&keeper};
    operatorHand.Join(options);

    SettingsRecord record = EditedRecord("1234");
    const int result = c.kind == SessionKind::Read ? ReadDevice(view, record, options)
                                                   : WriteDevice(view, record, options);
    ASSERT_EQ(result, c.result);

    const auto list = journal.List();
    ASSERT_EQ(list.size(), 1u);
    const auto e = journal.Find(list[0].uuid);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->action, c.kind == SessionKind::Read ? JournalAction::Read : JournalAction::Write);
    EXPECT_EQ(e->result, c.result);
    // A failure carries the message the operator saw; a success or a stop only its meaning.
    const bool failed = c.result != kSessionOk && c.result != kSessionStopped;
    const QString told = view.messages.empty()
                             ? QString()
                             : QString::fromStdString(view.messages.back().text).simplified();
    EXPECT_EQ(e->resultText, failed ? ResultMeaning(c.result) + QStringLiteral(": ") + told
                                    : ResultMeaning(c.result));
    if (failed) {
        EXPECT_FALSE(told.isEmpty()) << c.name;
    }
    EXPECT_EQ(e->HasRecord(), c.record);
    EXPECT_EQ(e->blocksDone, c.blocks);
    EXPECT_EQ(e->halfWritten, c.halfWritten);
    EXPECT_EQ(e->port, "USB0 (ttyUSB0)");
    EXPECT_EQ(e->lineAddress, 9);
    EXPECT_EQ(e->unitAddress, 2);
    EXPECT_EQ(e->source, JournalSource::Window);
    EXPECT_EQ(e->title, "Утилита настройки ТОРВИК-7 - [a.stg]");
    if (c.record) {
        SettingsRecord kept;
        ASSERT_TRUE(RecordFromEntry(*e, kept));
        EXPECT_EQ(std::memcmp(&kept, &record, sizeof kept), 0);
        EXPECT_EQ(e->sha256.size(), 64);
        EXPECT_EQ(e->account, c.kind == SessionKind::Write ? "1234" : list[0].account);
    }
    EXPECT_TRUE(journal.Problem().isEmpty()) << journal.Problem().toStdString();
}

void Nothing(ModelOpener&, BetweenBlocks&) {}
void StopAtBlock100(ModelOpener&, BetweenBlocks& hand) {
    hand.StopAfter(101);
}
void StopAtOnce(ModelOpener&, BetweenBlocks& hand) {
    hand.StopAfter(0);
}
void NoPort(ModelOpener& opener, BetweenBlocks&) {
    opener.outcome = PortOpenOutcome::CannotOpen;
}
void NoUnit(ModelOpener& opener, BetweenBlocks&) {
    SimConfig c = opener.model.config();
    c.unitAddress = 5;
    opener.model.SetConfig(c);
}
void ConsoleUnit(ModelOpener& opener, BetweenBlocks&) {
    SimConfig c = opener.model.config();
    c.consoleSide = true;
    opener.model.SetConfig(c);
}
// The 200th data block (after the two identity reads) fails all five transactions.
void BlockFails(ModelOpener& opener, BetweenBlocks&) {
    SimConfig c = opener.model.config();
    c.fault(SimFault::WrongSum) = {.count = 5, .after = 2 + 200};
    opener.model.SetConfig(c);
}

INSTANTIATE_TEST_SUITE_P(
    Journal, SessionEnds,
    ::testing::Values(
        EndCase{"ReadOk", SessionKind::Read, Nothing, kSessionOk, true, 512, false},
        EndCase{"ReadStopped", SessionKind::Read, StopAtBlock100, kSessionStopped, false, 101,
                false},
        EndCase{"ReadNoPort", SessionKind::Read, NoPort, kSessionPortOpenFailed, false, 0, false},
        EndCase{"ReadNoUnit", SessionKind::Read, NoUnit, kSessionLinkFailed, false, 0, false},
        EndCase{"WriteOk", SessionKind::Write, Nothing, kSessionOk, true, 512, false},
        EndCase{"WriteStopped", SessionKind::Write, StopAtBlock100, kSessionStopped, true, 101,
                true},
        EndCase{"WriteStoppedAtOnce", SessionKind::Write, StopAtOnce, kSessionStopped, true, 0,
                false},
        EndCase{"WriteBlockFails", SessionKind::Write, BlockFails, kSessionLinkFailed, true, 200,
                true},
        EndCase{"WriteNoPort", SessionKind::Write, NoPort, kSessionPortOpenFailed, true, 0, false},
        EndCase{"WriteConsoleUnit", SessionKind::Write, ConsoleUnit, kSessionConsoleUnit, true, 0,
                false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the record ----

TEST(JournalRecord, OnlyEditedRecordsAreWorthKeeping) {
    SettingsRecord zero;
    std::memset(&zero, 0, sizeof zero);
    SettingsRecord defaults = zero;
    FillDefaults(defaults);
    SettingsRecord protocol = defaults;
    protocol.protocol = protocol.protocol == 1 ? 2 : 1;
    const struct {
        const char* name;
        SettingsRecord record;
        bool worth;
    } cases[] = {{"zero", zero, false},
                 {"defaults", defaults, false},
                 {"account", EditedRecord("0042"), true},
                 {"protocol", protocol, true}};
    for (const auto& c : cases)
        EXPECT_EQ(WorthKeeping(c.record), c.worth) << c.name;
}

// ---- the recovery slot and pruning ----

TEST_F(JournalFiles, RecoverySlotBecomesOneUnsavedEntry) {
    {
        Journal journal(Path());
        JournalEntry slot;
        slot.title = QStringLiteral("Утилита настройки ТОРВИК-7 - [New.stg]");
        slot.SetRecord(EditedRecord("0001"));
        ASSERT_TRUE(journal.KeepRecovery(slot));
        slot.SetRecord(EditedRecord("0002")); // overwritten, not a second entry
        ASSERT_TRUE(journal.KeepRecovery(slot));
    } // the run ends without clearing it
    Journal next(Path());
    const auto recovered = next.RecoverUnsaved();
    ASSERT_TRUE(recovered);
    EXPECT_EQ(recovered->action, JournalAction::UnsavedAtExit);
    EXPECT_EQ(recovered->account, "0002");
    EXPECT_FALSE(next.RecoverUnsaved());
    ASSERT_EQ(next.List().size(), 1u);
    EXPECT_EQ(next.List()[0].account, "0002");
}

TEST_F(JournalFiles, PruneKeepsUnsavedReplacedAndHalfWrittenUnlessAll) {
    Journal journal(Path());
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-30);
    for (auto [action, half] : {std::pair{JournalAction::Read, false},
                                {JournalAction::Write, true},
                                {JournalAction::UnsavedAtExit, false},
                                {JournalAction::Replaced, false},
                                {JournalAction::Write, false}}) {
        JournalEntry e;
        e.action = action;
        e.halfWritten = half;
        e.time = old;
        ASSERT_TRUE(journal.Add(e));
    }
    JournalEntry fresh;
    ASSERT_TRUE(journal.Add(fresh));
    const QDateTime cut = QDateTime::currentDateTimeUtc().addDays(-1);
    EXPECT_EQ(journal.Prune(cut, false), 2);
    EXPECT_EQ(journal.List().size(), 4u);
    EXPECT_EQ(journal.Prune(cut, true), 3);
    EXPECT_EQ(journal.List().size(), 1u);
}

// ---- faults: the work goes on, one message per run ----

TEST_F(JournalFiles, CorruptFileIsMovedAsideAndAFreshOneStarted) {
    const std::string garbage(8192, 'x');
    std::ofstream(Path().toStdString(), std::ios::binary) << garbage;
    Journal journal(Path());
    std::vector<QString> problems;
    journal.SetProblemHandler([&](const QString& p) { problems.push_back(p); });
    JournalEntry first, second;
    EXPECT_TRUE(journal.Add(first));
    EXPECT_TRUE(journal.Add(second));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].contains(QStringLiteral("был повреждён: он сохранён как")))
        << problems[0].toStdString();
    ASSERT_FALSE(journal.MovedAside().isEmpty());
    std::ifstream moved(journal.MovedAside().toStdString(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(moved), {}), garbage);
    EXPECT_EQ(journal.List().size(), 2u);
    EXPECT_EQ(IntegrityCheck(Path()), "ok");
}

TEST_F(JournalFiles, WrongSizeRecordIsRefusedOnOpen) {
    {
        Journal journal(Path());
        JournalEntry e;
        e.SetRecord(EditedRecord("0007"));
        ASSERT_TRUE(journal.Add(e));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "tamper");
        db.setDatabaseName(Path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        q.prepare(QStringLiteral("UPDATE records SET record = ?"));
        q.addBindValue(QByteArray(1700, '\1'));
        ASSERT_TRUE(q.exec());
    }
    QSqlDatabase::removeDatabase("tamper");
    Journal journal(Path());
    const auto e = journal.Find(QStringLiteral("1"));
    ASSERT_TRUE(e);
    SettingsRecord r = EditedRecord("0009");
    const SettingsRecord before = r;
    QString why;
    EXPECT_FALSE(RecordFromEntry(*e, r, &why));
    EXPECT_EQ(why, "Настройки в журнале повреждены: 1700 байт вместо 1800.");
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
}

TEST_F(JournalFiles, LockHeldPastTheTimeOut) {
    {
        Journal first(Path());
        JournalEntry e;
        ASSERT_TRUE(first.Add(e));
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "holder");
    db.setDatabaseName(Path());
    ASSERT_TRUE(db.open());
    QSqlQuery hold(db);
    ASSERT_TRUE(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    Journal journal(Path());
    journal.SetBusyTimeout(200);
    JournalEntry e;
    EXPECT_FALSE(journal.Add(e));
    EXPECT_TRUE(journal.Problem().contains(QStringLiteral("занят другой программой")))
        << journal.Problem().toStdString();
    hold.exec(QStringLiteral("ROLLBACK"));
    hold.finish();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("holder");
    EXPECT_TRUE(journal.Add(e)); // the lock gone, it works again
}

#ifndef _WIN32
// Not under Wine: these run writers in forked children, change folder modes and cap the file
// size, none of which Windows has.

// Runs `body` in a child process; its exit status.
int InChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST_F(JournalFiles, TwoProcessesWritingAtOnceBothSucceed) {
    constexpr int kEach = 150;
    auto writer = [&](const char* account) {
        return [this, account] {
            Journal journal(Path());
            for (int i = 0; i < kEach; ++i) {
                JournalEntry e;
                e.SetRecord(EditedRecord(account));
                if (!journal.Add(e)) {
                    std::fprintf(stderr, "%s\n", journal.Problem().toUtf8().constData());
                    return 1;
                }
            }
            return 0;
        };
    };
    const pid_t a = ::fork();
    if (a == 0) ::_exit(writer("0001")());
    const pid_t b = ::fork();
    if (b == 0) ::_exit(writer("0002")());
    int sa = 0, sb = 0;
    ::waitpid(a, &sa, 0);
    ::waitpid(b, &sb, 0);
    EXPECT_TRUE(WIFEXITED(sa) && WEXITSTATUS(sa) == 0);
    EXPECT_TRUE(WIFEXITED(sb) && WEXITSTATUS(sb) == 0);
    Journal journal(Path());
    EXPECT_EQ(journal.List({QStringLiteral("0001"), 0}).size(), std::size_t(kEach));
    EXPECT_EQ(journal.List({QStringLiteral("0002"), 0}).size(), std::size_t(kEach));
    EXPECT_EQ(IntegrityCheck(Path()), "ok");
}

TEST_F(JournalFiles, ReadOnlyFolderGivesOneMessage) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read |
                             fs::perms::others_exec);
    const int status = InChild([this] {
        // Root writes anywhere: drop to an ordinary user first.
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 2;
        Journal journal(Path());
        int calls = 0;
        journal.SetProblemHandler([&](const QString&) { ++calls; });
        JournalEntry e;
        e.SetRecord(EditedRecord("0003"));
        const bool first = journal.Add(e);
        const bool second = journal.Add(e);
        const bool said = journal.Problem().startsWith(QStringLiteral("Журнал обменов недоступен"));
        return !first && !second && calls == 1 && said ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST_F(JournalFiles, FullDiskGivesOneMessageAndLeavesAHealthyFile) {
    {
        Journal journal(Path());
        JournalEntry e;
        ASSERT_TRUE(journal.Add(e));
    }
    const int status = InChild([this] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Journal journal(Path());
        int calls = 0;
        journal.SetProblemHandler([&](const QString&) { ++calls; });
        int failures = 0;
        for (int i = 0; i < 400; ++i) {
            JournalEntry e;
            e.SetRecord(EditedRecord("0004"));
            if (!journal.Add(e)) ++failures;
        }
        return failures > 0 && calls == 1 ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(IntegrityCheck(Path()), "ok");
    Journal journal(Path());
    EXPECT_GT(journal.List().size(), 1u);
}

#endif // _WIN32

} // namespace

namespace {

#ifndef _WIN32
// torvik7ctl journal as a user runs it, against a journal seeded here.
class JournalCli : public JournalFiles {
protected:
    struct Run {
        int status = -1;
        std::string err;
    };
    // `env`: variables set for torvik7ctl on top of TORVIK7_JOURNAL=Path(); an empty value unsets.
    Run Ctl(std::vector<std::string> args,
            const std::vector<std::pair<std::string, std::string>>& env = {}) {
        const std::string err = (dir / "stderr").string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TORVIK7_JOURNAL", Path().toLocal8Bit().constData(), 1);
            for (const auto& [name, value] : env)
                value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
            if (!std::freopen(err.c_str(), "w", stderr) ||
                !std::freopen((dir / "stdout").c_str(), "w", stdout))
                ::_exit(126);
            std::vector<char*> argv{const_cast<char*>(TORVIK7_CTL)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(TORVIK7_CTL, argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        std::ifstream in(err);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128,
                std::string(std::istreambuf_iterator<char>(in), {})};
    }
};

// Escape sequences in a port's name or a title never reach the terminal raw.
TEST_F(JournalCli, ControlCharactersAreShownEscaped) {
    {
        Journal journal(Path());
        JournalEntry e;
        e.port = QStringLiteral("COM\x1b[2J1");
        e.title = QStringLiteral("\x1b]0;чужой заголовок\x07\x9b");
        ASSERT_TRUE(journal.Add(e));
    }
    for (const char* command : {"list", "show"}) {
        SCOPED_TRACE(command);
        std::vector<std::string> args = {"journal", command};
        if (std::string(command) == "show") args.push_back("1");
        ASSERT_EQ(Ctl(args).status, 0);
        std::ifstream out(dir / "stdout");
        const std::string shown(std::istreambuf_iterator<char>(out), {});
        EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
        EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
        EXPECT_NE(shown.find("COM\\x1b[2J1"), std::string::npos) << shown;
        if (std::string(command) == "show") {
            EXPECT_NE(shown.find("\\x1b]0;чужой заголовок\\x07\\x9b"), std::string::npos) << shown;
        }
    }
}

// Entries of 1000-character titles, some with a record: several pages of each table.
std::vector<QString> FillForDamage(const QString& path) {
    Journal journal(path);
    std::vector<QString> uuids;
    for (int i = 0; i < 40; ++i) {
        JournalEntry e;
        e.title = QString(1000, QLatin1Char('a' + i % 26));
        if (i % 4 == 0) e.SetRecord(EditedRecord(std::to_string(1000 + i).c_str()));
        EXPECT_TRUE(journal.Add(e));
        uuids.push_back(e.uuid);
    }
    return uuids;
}

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A leaf page of the entries table: where the rows themselves, and so their UUIDs, are.
bool HoldsEntries(const std::string& page, const std::vector<QString>& uuids) {
    return page[0] == '\x0d' && std::any_of(uuids.begin(), uuids.end(), [&](const QString& u) {
               return page.find(u.toStdString()) != std::string::npos;
           });
}

// One overwritten page, wherever it is: `journal list` gives every entry with 0, or says the
// journal is damaged and fails, never a short list with 0; a page of entries fails `journal
// push` too, before it could claim the server holds everything.
TEST_F(JournalCli, ADamagedPageIsNeverAShortListWithSuccess) {
    const std::vector<QString> uuids = FillForDamage(Path());
    const std::string whole = Bytes(Path().toStdString());
    const fs::path data = dir / "data", local = data / "torvik7-setup" / "journal.sqlite";
    fs::create_directories(local.parent_path());
    const std::vector<std::pair<std::string, std::string>> toServer = {
        {"TORVIK7_JOURNAL", "postgresql://127.0.0.1:9/torvik7"}, {"XDG_DATA_HOME", data.string()}};
    int failed = 0, entryPages = 0;
    for (std::size_t page = 1; page < whole.size() / 4096; ++page) { // page 0: the schema
        SCOPED_TRACE(page);
        std::string damaged = whole;
        damaged.replace(page * 4096, 4096, std::string(4096, '\xab'));
        const bool entries = HoldsEntries(whole.substr(page * 4096, 4096), uuids);
        entryPages += entries;
        for (const bool push : {false, true}) {
            SCOPED_TRACE(push ? "push" : "list");
            for (const auto& old : fs::directory_iterator(push ? local.parent_path() : dir))
                if (old.is_regular_file() &&
                    old.path().filename().string().rfind("journal", 0) == 0)
                    fs::remove(old.path());
            std::ofstream(push ? local.string() : Path().toStdString(), std::ios::binary)
                << damaged;
            const Run run = push ? Ctl({"journal", "push"}, toServer) : Ctl({"journal", "list"});
            const std::string listed = Bytes(dir / "stdout");
            if (!push && run.status == 0) {
                EXPECT_EQ(std::count(listed.begin(), listed.end(), '\n'), 40);
                EXPECT_FALSE(entries);
            } else if (!push || entries) {
                failed += !push;
                EXPECT_NE(run.status, 0);
                EXPECT_NE(run.err.find("повреждён"), std::string::npos) << run.err;
            }
        }
    }
    EXPECT_GT(entryPages, 0);
    EXPECT_GE(failed, entryPages);
}

// Two processes meet one damaged journal at once, round after round: the file is moved aside
// once and whole, and the fresh journal holds every entry the damage left readable, with its
// record, and both processes' own. TORVIK7_CONTENTION_ROUNDS changes the 100 rounds (25 in
// the sanitizer build).
TEST_F(JournalCli, TwoProcessesOnOneDamagedFileLoseNothing) {
    const std::vector<QString> uuids = FillForDamage(Path());
    const std::string whole = Bytes(Path().toStdString());
    std::size_t page = whole.size() / 4096 / 2;
    while (page < whole.size() / 4096 && !HoldsEntries(whole.substr(page * 4096, 4096), uuids))
        ++page;
    if (page == whole.size() / 4096)
        for (page = 1; !HoldsEntries(whole.substr(page * 4096, 4096), uuids);)
            ++page;
    std::string damaged = whole;
    damaged.replace(page * 4096, 4096, std::string(4096, '\xab'));
    std::set<QString> readable;
    for (const QString& uuid : uuids)
        if (whole.substr(page * 4096, 4096).find(uuid.toStdString()) == std::string::npos)
            readable.insert(uuid);
    ASSERT_LT(readable.size(), uuids.size());

    const char* asked = std::getenv("TORVIK7_CONTENTION_ROUNDS");
#ifdef TORVIK7_CONTENTION_ROUNDS_BUILT
    const int built = TORVIK7_CONTENTION_ROUNDS_BUILT;
#else
    const int built = 100;
#endif
    const int rounds = asked ? std::atoi(asked) : built;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        for (const auto& old : fs::directory_iterator(dir))
            fs::remove(old.path());
        std::ofstream(Path().toStdString(), std::ios::binary) << damaged;
        QProcess a, b;
        const QString titleA = QStringLiteral("A%1").arg(round),
                      titleB = QStringLiteral("B%1").arg(round);
        a.start(QStringLiteral(TORVIK7_CONTENDER), {Path(), titleA});
        b.start(QStringLiteral(TORVIK7_CONTENDER), {Path(), titleB});
        ASSERT_TRUE(a.waitForFinished(20000) && b.waitForFinished(20000));
        EXPECT_EQ(a.exitCode(), 0) << a.readAllStandardError().toStdString();
        EXPECT_EQ(b.exitCode(), 0) << b.readAllStandardError().toStdString();

        std::vector<fs::path> aside;
        for (const auto& f : fs::directory_iterator(dir)) {
            const std::string name = f.path().filename().string();
            if (name.find("-corrupt-") != std::string::npos && name.ends_with(".sqlite"))
                aside.push_back(f.path());
        }
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_TRUE(Bytes(aside[0]) == damaged);

        Journal fresh(Path());
        std::set<QString> kept, titles;
        for (const JournalEntry& e : fresh.ListHere()) {
            kept.insert(e.uuid);
            titles.insert(e.title);
        }
        EXPECT_TRUE(fresh.Problem().isEmpty()) << fresh.Problem().toStdString();
        EXPECT_EQ(kept.size(), readable.size() + 2);
        for (const QString& uuid : readable)
            EXPECT_TRUE(kept.count(uuid)) << uuid.toStdString();
        EXPECT_TRUE(titles.count(titleA) && titles.count(titleB));
        for (std::size_t i = 0; i < uuids.size(); i += 4) { // the entries kept with a record
            if (!readable.count(uuids[i])) continue;
            const auto e = fresh.FindHere(uuids[i]);
            ASSERT_TRUE(e);
            EXPECT_EQ(e->record.size(), static_cast<qsizetype>(kRecordSize));
        }
        if (testing::Test::HasFailure()) break;
    }
}

TEST_F(JournalCli, ExitCodes) {
    {
        Journal journal(Path());
        JournalEntry read, failed, other;
        read.SetRecord(EditedRecord("0001"));
        failed.result = kSessionLinkFailed;
        other.SetRecord(EditedRecord("0002"));
        ASSERT_TRUE(journal.Add(read));   // 1
        ASSERT_TRUE(journal.Add(failed)); // 2: no record
        ASSERT_TRUE(journal.Add(other));  // 3
    }
    const std::string out = (dir / "out.stg").string();
    const std::string same = (dir / "same.stg").string();
    {
        const SettingsRecord r = EditedRecord("0001");
        std::ofstream(same, std::ios::binary).write(reinterpret_cast<const char*>(&r), sizeof r);
    }
    const struct {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{"journal", "list"}, 0},
        {{"journal", "list", "--account", "0002", "--limit=1", "--json"}, 0},
        {{"journal", "list", "--account", "12345"}, 64},
        {{"journal", "list", "--limit", "0"}, 64},
        {{"journal", "show", "1", "--json"}, 0},
        {{"journal", "show", "99"}, 65},
        {{"journal", "show"}, 64},
        {{"journal", "export", "1", "-o", out}, 0},
        {{"journal", "export", "2", "-o", out}, 65}, // a failed read kept no record
        {{"journal", "export", "1"}, 64},
        {{"journal", "diff", "1", same}, 0},
        {{"journal", "diff", "1", "3"}, 1},
        {{"journal", "diff", "1", "no-such-entry"}, 65},
        {{"journal", "prune", "--before", "yesterday"}, 64},
        {{"journal", "prune", "--before", "2026-12-07T25:00:00"}, 64},
        {{"journal", "prune", "--before", "2026-12-07Z"}, 64},
        {{"journal", "prune", "--before", "2000-01-01"}, 0},
        {{"journal", "frobnicate"}, 64},
    };
    for (const auto& c : cases) {
        const Run run = Ctl(c.args);
        std::string line;
        for (const auto& a : c.args)
            line += a + " ";
        EXPECT_EQ(run.status, c.status) << line << "\n" << run.err;
    }
    std::ifstream exported(out, std::ios::binary);
    std::ifstream expected(same, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(exported), {}),
              std::string(std::istreambuf_iterator<char>(expected), {}));
}

// The same objects as the window's "Объекты", in text and JSON.
TEST_F(JournalCli, ObjectsGivesEachAccountsLastWriteAndRead) {
    std::vector<JournalEntry> kept;
    {
        Journal journal(Path());
        kept = objects_journal::Fill(journal);
    }
    const auto& expected = objects_journal::kExpected;
    ASSERT_EQ(Ctl({"journal", "objects"}).status, 0);
    EXPECT_EQ(Lines(dir / "stdout").size(), expected.size());
    ASSERT_EQ(Ctl({"journal", "objects", "--json"}).status, 0);
    std::ifstream in(dir / "stdout");
    const QJsonArray objects =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(in), {})))
            .array();
    ASSERT_EQ(objects.size(), static_cast<qsizetype>(expected.size()));
    for (qsizetype i = 0; i < objects.size(); ++i) {
        const auto& e = expected[static_cast<std::size_t>(i)];
        const QJsonObject o = objects[i].toObject();
        SCOPED_TRACE(e.account);
        EXPECT_EQ(o["account"].toString(), e.account);
        const auto uuid = [&](int k) { return k < 0 ? QString() : kept[k].uuid; };
        EXPECT_EQ(o["write"].toObject()["uuid"].toString(), uuid(e.write));
        EXPECT_EQ(o["read"].toObject()["uuid"].toString(), uuid(e.read));
        const QJsonValue agree = e.agree == JournalObject::Agreement::Unknown
                                     ? QJsonValue()
                                     : QJsonValue(e.agree == JournalObject::Agreement::Same);
        EXPECT_EQ(o["agree"], agree);
    }
    EXPECT_EQ(Ctl({"journal", "objects", "--account", "0002"}).status, 0);
    EXPECT_EQ(Lines(dir / "stdout").size(), 1u);
    EXPECT_EQ(Ctl({"journal", "objects", "--account", "x"}).status, 64);
}

#ifdef TORVIK7_CARD
// A stopped write's card says how many blocks went in; a whole write's does not.
TEST_F(JournalCli, CardOfAStoppedWriteSaysHowManyBlocksWentIn) {
    {
        Journal journal(Path());
        JournalEntry stopped, whole, failed;
        stopped.action = whole.action = JournalAction::Write;
        stopped.result = kSessionStopped;
        stopped.blocksDone = 257;
        stopped.halfWritten = true;
        stopped.SetRecord(EditedRecord("0001"));
        whole.blocksDone = 512;
        whole.SetRecord(EditedRecord("0001"));
        failed.result = kSessionLinkFailed;
        ASSERT_TRUE(journal.Add(stopped)); // 1
        ASSERT_TRUE(journal.Add(whole));   // 2
        ASSERT_TRUE(journal.Add(failed));  // 3: no record
    }
    const std::string html = (dir / "card.html").string();
    const std::string mark = "Прибор записан не полностью: 257 блоков из 512";
    const struct {
        std::vector<std::string> args;
        int status;
        bool marked;
    } cases[] = {
        {{"journal", "card", "1", "-o", html}, 0, true},
        {{"journal", "card", "2", "-o", html}, 0, false},
        {{"journal", "card", "1", "-o", (dir / "card.pdf").string()}, 0, false},
        {{"journal", "card", "3", "-o", html}, 65, false},
        {{"journal", "card", "99", "-o", html}, 65, false},
        {{"journal", "card", "1", "-o", (dir / "card.txt").string()}, 64, false},
        {{"journal", "card", "1"}, 64, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(html);
        const Run run = Ctl(c.args);
        EXPECT_EQ(run.status, c.status) << c.args[2] << "\n" << run.err;
        std::ifstream in(html);
        const std::string text(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(text.find(mark) != std::string::npos, c.marked) << c.args[2];
    }
    EXPECT_TRUE(std::filesystem::file_size(dir / "card.pdf") > 0);
}
#endif

// Each fault is said as a Russian sentence, with the driver's words behind it where there are
// any; a journal named in a folder that does not exist is refused, the folder never made.
TEST_F(JournalCli, FaultsAreSaidInRussianWithTheDriversWords) {
    const std::string missing = (dir / "no-such-folder" / "j.sqlite").string();
    const std::string disk = (dir / "disk").string();
    fs::create_directory(disk);
    const bool full =
        ::geteuid() == 0 &&
        std::system(("mount -t tmpfs -o size=16k tmpfs " + disk + " 2>/dev/null").c_str()) == 0;
    if (full) {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string page(4096, '\0');
        for (int i = 0; i < 16 && filler.write(page.data(), 4096).flush(); ++i) {
        }
    }
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> env;
        int status;
        std::vector<std::string> said;
    } rows[] = {
        {"a mistyped journal path",
         {"journal", "list"},
         {{"TORVIK7_JOURNAL", missing}},
         74,
         {"нет папки", "TORVIK7_JOURNAL"}},
        {"a full disk",
         {"journal", "list"},
         {{"TORVIK7_JOURNAL", disk + "/j.sqlite"}},
         74,
         {"диск заполнен (", "full"}},
        {"a server that is not there",
         {"journal", "push"},
         {{"TORVIK7_JOURNAL", "postgresql://127.0.0.1:9/torvik7"},
          {"XDG_DATA_HOME", (dir / "data").string()}},
         74,
         {"сервер не отвечает (", "refused"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (std::string(row.what) == "a full disk" && !full) continue; // a small tmpfs needs root
        const Run run = Ctl(row.args, row.env);
        EXPECT_EQ(run.status, row.status) << run.err;
        for (const std::string& words : row.said)
            EXPECT_NE(run.err.find(words), std::string::npos) << run.err;
    }
    if (full) std::system(("umount " + disk).c_str());
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
}

// A root run with a user's HOME (sudo -E) gives the journal it makes there to HOME's owner:
// the user can go on writing it. Needs root to give files away.
TEST_F(JournalCli, ARootRunMakesTheJournalForTheOwnerOfHome) {
    if (::geteuid() != 0) GTEST_SKIP() << "only a root run gives files away";
    const fs::path home = dir / "home";
    fs::create_directory(home);
    fs::permissions(dir, fs::perms::others_exec, fs::perm_options::add);
    ASSERT_EQ(::chown(home.c_str(), kNobody, kNobody), 0);
    const Run run = Ctl({"journal", "list"},
                        {{"TORVIK7_JOURNAL", ""}, {"XDG_DATA_HOME", ""}, {"HOME", home.string()}});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path journal = home / ".local" / "share" / "torvik7-setup" / "journal.sqlite";
    ASSERT_TRUE(fs::exists(journal));
    for (fs::path p = journal; p != home; p = p.parent_path()) {
        SCOPED_TRACE(p.string());
        struct stat info {};
        ASSERT_EQ(::stat(p.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, kNobody);
    }
    for (const char* side : {".lock", "-wal", "-shm"}) {
        struct stat info {};
        if (::stat((journal.string() + side).c_str(), &info) == 0) {
            EXPECT_EQ(info.st_uid, kNobody) << side;
        }
    }
    // The user then writes it.
    EXPECT_EQ(AsOtherUser([&] {
                  ::setenv("HOME", home.c_str(), 1);
                  Journal mine(QString::fromStdString(journal.string()));
                  JournalEntry e;
                  return mine.Add(e) ? 0 : 1;
              }),
              0);
}

TEST_F(JournalCli, UnavailableJournalIsOneWarningAndNeverTheExitStatus) {
    // A journal whose folder cannot be made: a file stands where the folder should be.
    std::ofstream(dir / "blocker") << "x";
    const QString blocked = QString::fromStdString((dir / "blocker" / "j.sqlite").string());
    ::setenv("TORVIK7_JOURNAL", blocked.toLocal8Bit().constData(), 1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen((dir / "stderr").c_str(), "w", stderr);
        ::execl(TORVIK7_CTL, TORVIK7_CTL, "read", "--port", "/nonexistent/port", "-o",
                (dir / "r.stg").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::unsetenv("TORVIK7_JOURNAL");
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), kSessionPortOpenFailed);
    std::ifstream in(dir / "stderr");
    std::vector<std::string> warnings;
    for (std::string line; std::getline(in, line);)
        if (line.find("Журнал обменов недоступен") != std::string::npos) warnings.push_back(line);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("torvik7ctl: предупреждение: Журнал обменов недоступен", 0), 0u)
        << warnings[0];
}

#endif // _WIN32

} // namespace
