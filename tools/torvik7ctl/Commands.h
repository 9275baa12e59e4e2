// The commands of torvik7ctl. Each takes its own arguments (without the command name),
// prints its help for "--help", and returns the process exit status.
#pragma once

#include "settings/SettingsRecord.h"

#include <string>
#include <vector>

using Args = std::vector<std::string>;

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffers = 1; // diff: the files differ
inline constexpr int kExitUsage = 64;  // bad command line
inline constexpr int kExitData = 65;   // not a settings file or image (wrong size)
inline constexpr int kExitIo = 74;     // a file could not be read or written

// Settings files and images (no device).
int CmdDefaults(const Args& args);
int CmdEncode(const Args& args);
int CmdDecode(const Args& args);
int CmdShow(const Args& args);
int CmdDiff(const Args& args);

// The device link. read and write return the session result code.
int CmdRead(const Args& args);
int CmdWrite(const Args& args);
int CmdSim(const Args& args);

// The exchange journal: list, show, export, diff, prune.
int CmdJournal(const Args& args);

// A settings file of exactly 1800 bytes in, a whole settings file out; 0 or the exit status
// after one error line.
int ReadSettingsFile(const std::string& path, SettingsRecord& record);
int WriteSettingsFile(const std::string& path, const SettingsRecord& record);

// One line "torvik7ctl: <text>" on stderr.
void PrintError(const std::string& text);
