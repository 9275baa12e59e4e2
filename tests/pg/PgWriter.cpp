// One installer's program for the concurrency test: keeps COUNT entries of ACCOUNT in the
// local journal FILE, each sent at once to the server named by TORVIK7_JOURNAL.
//   pg_writer FILE ACCOUNT COUNT      exits 0 when every entry reached the server
#include "journal/Journal.h"
#include "journal/ServerJournal.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) return 64;
    Journal journal(args[1]);
    const int count = args[3].toInt();
    for (int i = 0; i < count; ++i) {
        JournalEntry e;
        e.action = JournalAction::Write;
        e.source = JournalSource::Ctl;
        e.port = QStringLiteral("COM1");
        e.account = args[2];
        e.phone1 = QStringLiteral("84951234567");
        e.title = QStringLiteral("запись %1").arg(i);
        e.blocksDone = 512;
        if (!journal.Add(e)) return 1;
    }
    // Whatever a busy server refused on the way goes now.
    journal.WaitForPush(60000);
    journal.Push();
    const bool allSent = journal.Server() && journal.Unsent().empty();
    if (!allSent) std::fprintf(stderr, "%s\n", qPrintable(journal.Server()->Problem()));
    return allSent ? 0 : 2;
}
