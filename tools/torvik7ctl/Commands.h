// The commands of torvik7ctl. Each is declared by its CommandSpec beside the code that runs
// it; a new command is one more spec here and in kCommands.
#pragma once

#include "CommandLine.h"

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

// In the order "torvik7ctl --help" lists them.
inline const std::vector<const CommandSpec*> kCommands = {
    &kDefaultsCommand, &kEncodeCommand, &kDecodeCommand, &kShowCommand,
    &kDiffCommand,     &kReadCommand,   &kWriteCommand,  &kSimCommand,
};
