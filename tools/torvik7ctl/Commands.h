// The commands of torvik7ctl. Each is declared by its CommandSpec beside the code that runs
// it; a new command is one more spec here and in kCommands.
#pragma once

#include "CommandLine.h"
#include "settings/SettingsRecord.h"

#include <memory>
#include <string>
#include <vector>

class Journal;

// Settings files and images (no device).
extern const CommandSpec kDefaultsCommand;
extern const CommandSpec kEncodeCommand;
extern const CommandSpec kDecodeCommand;
extern const CommandSpec kShowCommand;
extern const CommandSpec kDiffCommand;

// The device link. read and write end with the session result code.
extern const CommandSpec kReadCommand;
extern const CommandSpec kWriteCommand;
extern const CommandSpec kSimCommand;

// The printable settings card; only in a build with Qt Gui.
extern const CommandSpec kCardCommand;
extern const CommandSpec kJournalCardCommand;

// The exchange journal.
extern const CommandSpec kJournalListCommand;
extern const CommandSpec kJournalObjectsCommand;
extern const CommandSpec kJournalShowCommand;
extern const CommandSpec kJournalExportCommand;
extern const CommandSpec kJournalDiffCommand;
extern const CommandSpec kJournalPruneCommand;
extern const CommandSpec kJournalPushCommand;

// The journal the window keeps too, in the same data folder; TORVIK7_JOURNAL names another.
std::unique_ptr<Journal> OpenCtlJournal();

// Loads a settings file that must be exactly 1800 bytes: 0, or the exit status after
// reporting the failure.
int ReadSettingsFile(const std::string& path, SettingsRecord& record);
// Writes a whole settings file: 0, or the exit status after reporting the failure.
int WriteSettingsFile(const std::string& path, const SettingsRecord& record);

// In the order "torvik7ctl --help" lists them.
inline const std::vector<const CommandSpec*> kCommands = {
    &kDefaultsCommand,       &kEncodeCommand,      &kDecodeCommand,        &kShowCommand,
    &kDiffCommand,
#ifdef TORVIK7_CARD
    &kCardCommand,
#endif
    &kReadCommand,           &kWriteCommand,       &kSimCommand,           &kJournalListCommand,
    &kJournalObjectsCommand, &kJournalShowCommand, &kJournalExportCommand, &kJournalDiffCommand,
    &kJournalPruneCommand,   &kJournalPushCommand,
#ifdef TORVIK7_CARD
    &kJournalCardCommand,
#endif
};
