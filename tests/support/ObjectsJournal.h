// A journal of several objects' reads, writes and failures, and what "Объекты" (the window's
// and torvik7ctl journal objects) must make of it: the window and the command line are tested
// on the same entries.
#pragma once

#include "journal/Journal.h"
#include "journal/JournalObjects.h"
#include "support/Records.h"

#include <gtest/gtest.h>

#include <vector>

namespace objects_journal {

struct Seed {
    const char* account;
    JournalAction action;
    int result;
    bool halfWritten;
    char variant; // records of one account with the same variant are the same record
    int minutesAgo;
};

// Index into kSeeds of the entry an object must show; -1 for none.
struct Expected {
    const char* account;
    int write;
    int read;
    JournalObject::Agreement agree;
};

inline const std::vector<Seed> kSeeds = {
    {"0001", JournalAction::Write, 0, false, 'a', 60},        // 0
    {"0001", JournalAction::Read, 0, false, 'a', 50},         // 1
    {"0002", JournalAction::Write, 0, false, 'b', 60},        // 2
    {"0002", JournalAction::Write, 5, true, 'c', 40},         // 3: stopped part-way
    {"0002", JournalAction::Read, 4, false, 0, 30},           // 4: failed, no record
    {"0002", JournalAction::Read, 0, false, 'd', 35},         // 5
    {"0003", JournalAction::Read, 0, false, 'e', 20},         // 6
    {"0003", JournalAction::Replaced, 0, false, 'f', 15},     // 7: never went anywhere
    {"0001", JournalAction::Write, 4, false, 'g', 10},        // 8: link failed before a block
    {"0002", JournalAction::Read, 0, false, 'b', 55},         // 9: an older read
    {"0004", JournalAction::UnsavedAtExit, 0, false, 'h', 5}, // 10: never went anywhere
};

inline const std::vector<Expected> kExpected = {
    {"0001", 0, 1, JournalObject::Agreement::Same},
    {"0002", 2, 5, JournalObject::Agreement::Different},
    {"0003", -1, 6, JournalObject::Agreement::Unknown},
};

// Adds kSeeds to `journal`; the entries as kept, in kSeeds' order.
inline std::vector<JournalEntry> Fill(Journal& journal) {
    std::vector<JournalEntry> kept;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const Seed& s : kSeeds) {
        JournalEntry e;
        e.action = s.action;
        e.result = s.result;
        e.halfWritten = s.halfWritten;
        e.blocksDone = s.halfWritten ? 100 : 512;
        e.time = now.addSecs(-60 * s.minutesAgo);
        if (s.variant) {
            SettingsRecord r = EditedRecord(s.account);
            r.phoneNumbers[1][0] = s.variant;
            e.SetRecord(r);
        } else {
            e.account = QString::fromLatin1(s.account);
        }
        EXPECT_TRUE(journal.Add(e));
        kept.push_back(e);
    }
    return kept;
}

} // namespace objects_journal
