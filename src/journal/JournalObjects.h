// The object at a glance: for each account, the last record that went whole into its device
// and the last one read whole from it, and whether the two are the same record. The window's
// "Объекты" and torvik7ctl journal objects both answer from here.
#pragma once

#include "journal/Journal.h"

#include <optional>
#include <vector>

struct JournalObject {
    QString account;
    std::optional<JournalEntry> write; // the newest successful, whole write
    std::optional<JournalEntry> read;  // the newest successful read

    enum class Agreement { Unknown, Same, Different };
    // Unknown until both are known: then whether they kept the same record (its SHA-256).
    Agreement Agree() const;
};

// One object per account with a successful read or write among `entries` (any order), in
// account order. Failed, stopped and unsaved entries say nothing about what a device holds.
std::vector<JournalObject> JournalObjects(const std::vector<JournalEntry>& entries);

// "да", "нет", or "-" while one of the two is not known.
QString AgreementText(JournalObject::Agreement agreement);
