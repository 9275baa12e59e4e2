// One of two processes meeting one damaged journal: reads it (which meets the damage), then
// keeps an entry of its own titled by the second argument. Exit 0 when that entry was kept.
#include "journal/Journal.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) return 64;
    Journal journal(QString::fromLocal8Bit(argv[1]));
    journal.ListHere();
    JournalEntry e;
    e.title = QString::fromLocal8Bit(argv[2]);
    const bool kept = journal.Add(e);
    // What it met, for a failing round's message.
    if (!journal.Problem().isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(journal.Problem()));
    return kept ? 0 : 1;
}
