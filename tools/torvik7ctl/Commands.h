// The commands of torvik7ctl. Each is declared by its CommandSpec beside the code that runs
// it; a new command is one more spec here and in kCommands.
#pragma once

#include "CommandLine.h"
#include "settings/SettingsRecord.h"

#include <memory>
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

// The exchange journal.
extern const CommandSpec kJournalListCommand;
extern const CommandSpec kJournalShowCommand;
extern const CommandSpec kJournalExportCommand;
extern const CommandSpec kJournalDiffCommand;
extern const CommandSpec kJournalPruneCommand;
extern const CommandSpec kJournalPushCommand;

// The journal the window keeps too, in the same data folder; TORVIK7_JOURNAL names another.
std::unique_ptr<Journal> OpenCtlJournal();

// A settings file of exactly 1800 bytes in, a whole settings file out; 0, or the exit
// status after one error line.
int ReadSettingsFile(const std::string& path, SettingsRecord& record);
int WriteSettingsFile(const std::string& path, const SettingsRecord& record);

// In the order "torvik7ctl --help" lists them.
inline const std::vector<const CommandSpec*> kCommands = {
    &kDefaultsCommand,     &kEncodeCommand,      &kDecodeCommand,        &kShowCommand,
    &kDiffCommand,         &kReadCommand,        &kWriteCommand,         &kSimCommand,
    &kJournalListCommand,  &kJournalShowCommand, &kJournalExportCommand, &kJournalDiffCommand,
    &kJournalPruneCommand, &kJournalPushCommand,
};
