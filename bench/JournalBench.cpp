// What the exchange journal costs, on a journal of 10,000 entries in a real file on disk:
// the end of a session (one entry with its record, written through to the disk), the
// window's start (opening the journal and looking for a recovery slot), listing all
// entries in the journal window, a filter by account, and the size per entry.
// Usage: bench_journal [FOLDER]   (default: a new folder under the system's temp folder)
#include "BenchTiming.h"
#include "app/JournalDlg.h"
#include "app/SetupDlg.h"
#include "journal/Journal.h"
#include "sessionjournal/SessionJournal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

constexpr int kEntries = 10000;
constexpr int kAccounts = 200; // 50 entries per account

SettingsRecord RecordFor(int n) {
    SettingsRecord r{};
    FillDefaults(r);
    std::snprintf(r.accountNumber, sizeof r.accountNumber, "%04d", n % kAccounts);
    std::snprintf(r.phoneNumbers[0], sizeof r.phoneNumbers[0], "8495%07d", n);
    r.loopTypes[n % kLoopCount] = static_cast<std::int8_t>(1 + n % 16);
    return r;
}

JournalEntry EntryFor(int n) {
    JournalEntry e;
    e.action = n % 3 == 0 ? JournalAction::Write : JournalAction::Read;
    e.port = QStringLiteral("COM%1").arg(1 + n % 6);
    e.lineAddress = n % 64;
    e.title = QStringLiteral("Утилита настройки ТОРВИК-7 - [Current.stg]");
    e.blocksDone = 512;
    e.SetRecord(RecordFor(n));
    return e;
}

qint64 FilesSize(const QString& path) {
    qint64 total = 0;
    for (const char* side : {"", "-wal", "-shm"})
        total += QFileInfo(path + side).size();
    return total;
}

// Fills the journal with kEntries entries in one transaction: the bench measures using a
// long journal, not building one at one disk flush per entry.
void Fill(const QString& path) {
    {
        Journal journal(path);
        JournalEntry first = EntryFor(0);
        journal.Add(first);
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(path);
        db.open();
        db.transaction();
        QSqlQuery q(db), r(db);
        q.prepare(QStringLiteral(
            "INSERT INTO entries (uuid, time_utc, action, result, result_text, port, "
            "line_address, unit_address, account, phone1, source, title, blocks_done, "
            "half_written, sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        r.prepare(QStringLiteral("INSERT INTO records (sha256, record) VALUES (?, ?)"));
        const qint64 now = QDateTime::currentDateTimeUtc().toMSecsSinceEpoch();
        for (int n = 1; n < kEntries; ++n) {
            const JournalEntry e = EntryFor(n);
            q.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
            q.addBindValue(now - qint64(kEntries - n) * 60000);
            q.addBindValue(ActionName(e.action));
            q.addBindValue(0);
            q.addBindValue(ResultMeaning(0));
            q.addBindValue(e.port);
            q.addBindValue(e.lineAddress);
            q.addBindValue(0);
            q.addBindValue(e.account);
            q.addBindValue(e.phone1);
            q.addBindValue(QStringLiteral("window"));
            q.addBindValue(e.title);
            q.addBindValue(512);
            q.addBindValue(0);
            q.addBindValue(e.sha256);
            q.exec();
            r.addBindValue(e.sha256); // every record differs: none is shared
            r.addBindValue(e.record);
            r.exec();
        }
        db.commit();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase("fill");
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    QTemporaryDir temp;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("bench-journal.sqlite"));
    for (const char* side : {"", "-wal", "-shm"})
        QFile::remove(path + side);
    std::printf("journal: %s\n", qPrintable(path));

    {
        Journal one(path);
        JournalEntry e = EntryFor(1);
        one.Add(e);
    }
    const qint64 oneEntry = FilesSize(path);
    for (const char* side : {"", "-wal", "-shm"})
        QFile::remove(path + side);
    Fill(path);
    const qint64 full = FilesSize(path);
    std::printf("size: empty journal with one entry %lld bytes; %d entries %lld bytes "
                "(%.0f bytes per entry)\n",
                static_cast<long long>(oneEntry), kEntries, static_cast<long long>(full),
                double(full) / kEntries);

    // The window's start: open the journal and look for a recovery slot.
    Report("window start: open + recovery check", Time(20, [&] {
               Journal journal(path);
               journal.RecoverUnsaved();
           }));

    // The whole window up to shown, without and with the journal (its first run in this
    // process loaded the SQLite driver above already).
    {
        SettingsRecord record{};
        std::vector<double> without, with;
        for (int i = 0; i < 10; ++i) {
            for (bool journaled : {false, true}) {
                QElapsedTimer timer;
                timer.start();
                Journal journal(path);
                CSetupDlg dlg(nullptr, &record);
                if (journaled) {
                    dlg.SetJournal(&journal);
                    dlg.RecoverUnsaved();
                }
                dlg.show();
                QApplication::processEvents();
                (journaled ? with : without).push_back(timer.nsecsElapsed() / 1e6);
            }
        }
        Report("window start to shown, no journal", without);
        Report("window start to shown, with the journal", with);
    }

    // The end of a session, on the journal the window holds open.
    {
        Journal journal(path);
        journal.RecoverUnsaved();
        SessionJournal keeper(&journal);
        const SettingsRecord record = RecordFor(7);
        SessionEnd end;
        end.kind = SessionKind::Write;
        end.result = kSessionOk;
        end.blocksDone = 512;
        end.blockLoop = true;
        end.record = &record;
        Report("session end: one entry with its record",
               Time(50, [&] { keeper.SessionEnded(end); }));
    }
    // torvik7ctl opens the journal before its session starts.
    Report("torvik7ctl: open the journal before the session", Time(20, [&] {
               Journal journal(path);
               journal.Ready();
           }));

    // The journal window over all entries, until it is shown.
    {
        Journal journal(path);
        const int total = static_cast<int>(journal.List().size());
        std::printf("entries listed: %d\n", total);
        Report("journal: list all entries (no window)", Time(10, [&] { journal.List(); }));
        Report("journal window: list all entries and show", Time(10, [&] {
                   CJournalDlg dlg(journal, {});
                   dlg.show();
                   QApplication::processEvents();
               }));
        CJournalDlg dlg(journal, {});
        dlg.show();
        QApplication::processEvents();
        int n = 0;
        Report("journal window: filter by account", Time(20, [&] {
                   dlg.AccountFilter()->setText(QString::asprintf("%04d", (n++ * 7) % kAccounts));
                   QApplication::processEvents();
               }));
        std::printf("entries of one account: %d\n", dlg.Model().rowCount());
        Report("journal window: filter by free text", Time(20, [&] {
                   dlg.AccountFilter()->clear();
                   dlg.TextFilter()->setText(QString::asprintf("8495%07d", (n++ * 13) % kEntries));
                   QApplication::processEvents();
               }));
    }
    return 0;
}
