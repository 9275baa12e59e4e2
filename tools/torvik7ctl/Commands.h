// The commands of torvik7ctl. Each is declared by its CommandSpec beside the code that runs
// it; a new command is one more spec here and in kCommands.
#pragma once

#include "CommandLine.h"

#include "settings/SettingsRecord.h"

#include <string>

#include <vector>

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

// Loads a settings file that must be exactly 1800 bytes: 0, or the exit status after
// reporting the failure.
int ReadSettingsFile(const std::string& path, SettingsRecord& record);

// In the order "torvik7ctl --help" lists them.
inline const std::vector<const CommandSpec*> kCommands = {
    &kDefaultsCommand, &kEncodeCommand, &kDecodeCommand, &kShowCommand, &kDiffCommand,
#ifdef TORVIK7_CARD
    &kCardCommand,
#endif
    &kReadCommand,     &kWriteCommand,  &kSimCommand,
};
